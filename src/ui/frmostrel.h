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
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plot/estimate.h"
#include "plot/plotrun.h"
#include "serial/vacomm.h"

class TfrmOstrel : public QDialog {
    Q_OBJECT
public:
    // The dialog plots the sheet it is given, which outlives it (the main window owns it).
    TfrmOstrel(QWidget* parent, const THpglSheet& sheet);
    ~TfrmOstrel() override;

    QComboBox* cbPort = nullptr;      // editable: a path typed in is used as it stands
    QToolButton* btnPorts = nullptr;  // lists the ports again
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
    // Below the design's controls: the estimate, the sheet's warnings, and resuming a run
    // that ended early from an object of the user's choice.
    QLabel* lblEstimate = nullptr;
    QLabel* lblWarnings = nullptr;
    QLabel* lblResume = nullptr;
    QSpinBox* sbFrom = nullptr;
    QPushButton* btnResume = nullptr;
    // Plot in the optimised order (the estimate then gives both times); park the pen and wait
    // at each change of pen, the Plot button then reading Continue.
    QCheckBox* cbOptimise = nullptr;
    QCheckBox* cbPenPauses = nullptr;
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
    void btnResumeClick();
    // The estimate for the sheet at the controls' settings, and the sheet's warnings.
    void UpdateEstimate();
    void UpdateWarnings();
    void SetBusy(bool busy);

    // The ports the box offers, listed again each time the dialog shows and on btnPorts.
    std::function<std::vector<std::string>()> PortList;
    void ListPortsInBox();
    void ShowPortFromStart();
    // The port the box names: an entry of the list by its name, or what was typed.
    QString PortName() const;

    // The texts the stats label shows, measured whole by the tests at their widest.
    void ShowProgress(const TPlotProgress& p);
    static QString StoppingText(std::int32_t object, bool service);
    static QString OutcomeText(TPlotEnd end, const TPlotResult& result, std::int32_t handed, bool service,
                               double seconds);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Run(const std::function<TPlotEnd(TPlotRunner&)>& run, bool service);
    void Ended(const TPlotRunner& runner, bool service);
    void ShowOutcome(const QString& text, const QString& tip = {});
    void PlotFrom(std::int32_t first, bool optimised);
    // After a plot: offers to resume when it ended before the last object.
    void Offer(std::int32_t handed, std::int32_t count);
    void LayOutBelow();

    QTimer* Backstop = nullptr;  // wakes the run's waits now and then, whatever else happens
    bool InRun = false;
    bool Dropping = false;    // Close pressed again during a stop: drop the rest
    bool Abandoning = false;  // and a third time: abandon the drop's wait for the device
    const THpglSheet& Sheet;
    bool CloseWhenDone = false;
    std::int32_t ResumeCount = -1;  // the sheet's objects when the offer was made; -1: none
    // A huge sheet's estimate takes a good part of a second: it waits until the slider rests.
    QTimer* EstimateTimer = nullptr;
    bool HugeSheet = false;
    void ShowEstimate();
    // The sheet in the optimised order, made when first needed after each showing; null when
    // the order could not be optimised or the user cancelled.
    const THpglSheet* OrderedSheet();
    std::unique_ptr<THpglSheet> Ordered;
    bool OrderedValid = false;
    QString OrderRefusal;
    bool ResumeOptimised = false;  // the run the offer continues was in the optimised order
    std::int32_t PausedFor = 0;    // the pen a run waits for
    bool ContinuePressed = false;
    bool InService = false;  // the run in progress is the motor service
    bool RunOpened = false;  // the run in progress got its port open
    std::chrono::steady_clock::time_point RunStart;
    QString Outcome, OutcomeTip;  // the last run's, shown again when the dialog reopens

    // The estimate's object ends for the sheet and settings it was made with, made while the
    // dialog shows the estimate, so a run's time left costs nothing at its start.
    struct TTiming {
        const THpglSheet* Sheet = nullptr;
        TPlotSettings Settings;
        TPlotEstimate Estimate;
        std::vector<float> Ends;
    };
    std::shared_ptr<const TTiming> Timings[2];  // the sheet, its optimised order
    TPlotSettings CurrentSettings() const;
    TPlotEstimate Estimate(const THpglSheet& sheet, const TPlotSettings& settings);
    std::shared_ptr<const TTiming> TimingFor(const THpglSheet& sheet);
};

extern TfrmOstrel* frmOstrel;
