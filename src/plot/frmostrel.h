#pragma once
// The plot dialog: sends the main window's sheet to the plotting device over a serial port.

#include <QDialog>

class TfrmOstrel : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOstrel(QWidget* parent = nullptr);
};

extern TfrmOstrel* frmOstrel;
