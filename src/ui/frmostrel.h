#pragma once
// The plot dialog: sends the main window's sheet to the plotting device over a serial port,
// and runs the device's motor service routine.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <functional>

#include "plot/plotrun.h"
#include "serial/vacomm.h"

class TfrmOstrel : public QDialog {
    Q_OBJECT
public:
    // The dialog plots the sheet it is given, which outlives it (the main window owns it).
    TfrmOstrel(QWidget* parent, const THpglSheet& sheet);
    ~TfrmOstrel() override;

    QComboBox* cbPort = nullptr;
    QComboBox* cbBaud = nullptr;
    QGroupBox* gbHandshack = nullptr;
    QRadioButton* rbXon = nullptr;
    QRadioButton* rbRTS = nullptr;
    QLabel* Label1 = nullptr;
    QCheckBox* cbZrychlovat = nullptr;
    QSlider* tbSpeed = nullptr;
    QLabel* lblSpeed = nullptr;
    QProgressBar* pbPlot = nullptr;
    QLabel* lblStats = nullptr;  // bytes sent, line use, time left during a run
    QPushButton* btnPlot = nullptr;
    QPushButton* btnServiceX = nullptr;
    QPushButton* btnClose = nullptr;
    TVaComm VaComm1;

    bool Running = false;

    void FormCreate();
    void cbPortChange();
    void cbBaudChange();
    void rbXonClick();
    void rbRTSClick();
    void tbSpeedChange();
    void btnPlotClick();
    void btnServiceXClick();
    void btnCloseClick();
    void SetBusy(bool busy);
    bool Busy() const { return InRun; }

    // The serial devices present besides COM1 to COM4: USB adapters and their stable names.

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TPlotRunner MakeRunner();
    void Run(const std::function<TPlotRunner::TEnd(TPlotRunner&)>& run);
    void Ended(TPlotRunner::TEnd end);
    void ShowProgress(const TPlotProgress& p);

    QTimer* Backstop = nullptr;  // wakes the run's waits now and then, whatever else happens
    bool InRun = false;
    const THpglSheet& Sheet;
    bool CloseWhenDone = false;
};

extern TfrmOstrel* frmOstrel;
