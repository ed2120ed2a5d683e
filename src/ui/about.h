#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QPushButton* btnOk = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;

    void btnOkClick();

protected:
    // Escape does not close the box; Enter presses Ok and the close box closes it.
    void keyPressEvent(QKeyEvent* event) override;
};

extern TfrmAbout* frmAbout;
