#include "ui/frmostrel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStyle>
#include <QAbstractItemView>
#include <algorithm>
#include <chrono>

#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "plot/plotline.h"
#include "plot/plotorder.h"
#include "plot/preflight.h"
#include "serial/ports.h"
#include "ui/app.h"
#include "ui/fonts.h"

TfrmOstrel* frmOstrel = nullptr;

namespace {

QString Clock(double seconds)
{
    return QString::fromStdString(ClockText(seconds));
}

}  // namespace

TfrmOstrel::TfrmOstrel(QWidget* parent, const THpglSheet& sheet)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Sheet(sheet)
{
    setWindowTitle(tr("Ostrel (the device's command set: see README, \"Dry-running a plot\")"));
    setFixedSize(434, 163);  // grown below by LayOutBelow
    setFont(DesignFont());

    cbPort = new QComboBox(this);
    cbPort->setGeometry(16, 16, 81, 21);
    cbPort->setEditable(true);
    cbPort->setInsertPolicy(QComboBox::NoInsert);
    cbPort->setMinimumContentsLength(4);
    cbPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    PortList = [] { return commport::ListPorts(); };
    ListPortsInBox();
    cbPort->setCurrentIndex(0);
    btnPorts = new QToolButton(this);
    btnPorts->setGeometry(100, 16, 21, 21);
    btnPorts->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    btnPorts->setToolTip(tr("list the ports again (an adapter plugged in since)"));
    btnPorts->setAutoRaise(true);

    cbBaud = new QComboBox(this);
    cbBaud->setGeometry(16, 48, 81, 21);
    cbBaud->addItems(
        {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"});
    cbBaud->setCurrentIndex(6);

    gbHandshack = new QGroupBox(tr("Handshack"), this);
    gbHandshack->setGeometry(16, 80, 113, 65);
    rbXon = new QRadioButton(tr("Xon / Xoff"), gbHandshack);
    rbXon->setGeometry(8, 18, 73, 17);
    rbXon->setChecked(true);
    rbRTS = new QRadioButton(tr("hardware (RTS)"), gbHandshack);
    rbRTS->setGeometry(8, 38, 97, 17);

    Label1 = new QLabel(tr("speed:"), this);
    // A label is as wide as its text: the design's width is that of its own font.
    Label1->setGeometry(144, 16, std::max(32, Label1->sizeHint().width()), 13);
    cbZrychlovat = new QCheckBox(tr("accelerate to double speed"), this);
    cbZrychlovat->setGeometry(274, 14, 153, 17);
    cbZrychlovat->setChecked(true);
    tbSpeed = new QSlider(Qt::Horizontal, this);
    tbSpeed->setGeometry(136, 32, 294, 29);
    tbSpeed->setRange(kOstrelMinSpeed, kOstrelMaxSpeed);
    tbSpeed->setValue(kOstrelDefaultSpeed);
    tbSpeed->setTickInterval(1);
    tbSpeed->setTickPosition(QSlider::TicksBelow);
    tbSpeed->setSingleStep(1);
    lblSpeed = new QLabel(this);
    lblSpeed->setGeometry(152, 64, 280, 13);

    lblStats = new QLabel(this);
    lblStats->setGeometry(144, 80, 281, 14);
    pbPlot = new QProgressBar(this);
    pbPlot->setGeometry(144, 96, 281, 20);
    pbPlot->setTextVisible(false);
    pbPlot->setRange(0, 0);
    pbPlot->setMaximum(100);
    pbPlot->setValue(0);
    QPalette pal = pbPlot->palette();
    pal.setColor(QPalette::Highlight, QColor(0, 0, 128));
    pbPlot->setPalette(pal);

    btnPlot = new QPushButton(tr("&Plot"), this);
    btnPlot->setGeometry(144, 128, 75, 25);
    btnPlot->setToolTip(tr("HPGL sheet plot"));
    btnServiceX = new QPushButton(tr("&Motor service"), this);
    btnServiceX->setGeometry(232, 128, 97, 25);
    btnServiceX->setToolTip(tr("motor X lubricate"));
    btnClose = new QPushButton(tr("&Close"), this);
    btnClose->setGeometry(344, 128, 75, 25);
    for (QPushButton* b : {btnPlot, btnServiceX, btnClose}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    setTabOrder(cbPort, btnPorts);
    setTabOrder(btnPorts, cbBaud);
    setTabOrder(cbBaud, rbXon);
    setTabOrder(rbXon, rbRTS);
    setTabOrder(rbRTS, cbZrychlovat);
    setTabOrder(cbZrychlovat, tbSpeed);
    setTabOrder(tbSpeed, btnPlot);
    setTabOrder(btnPlot, btnServiceX);
    setTabOrder(btnServiceX, btnClose);

    lblEstimate = new QLabel(this);
    lblEstimate->setGeometry(16, 163, 402, 14);
    lblWarnings = new QLabel(this);
    lblWarnings->setWordWrap(true);
    lblWarnings->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblResume = new QLabel(this);
    sbFrom = new QSpinBox(this);
    sbFrom->setPrefix(tr("from object "));
    sbFrom->setRange(1, 1);
    sbFrom->setEnabled(false);
    btnResume = new QPushButton(tr("&Resume"), this);
    btnResume->setToolTip(tr("plot from the chosen object on, the device set as the whole plot would have it"));
    btnResume->setAutoDefault(false);
    btnResume->setEnabled(false);
    cbOptimise = new QCheckBox(tr("optimise order"), this);
    cbOptimise->setToolTip(tr("plot the same drawing, pen by pen, in the order that lifts and carries the pen least"));
    cbPenPauses = new QCheckBox(tr("pause for pen changes"), this);
    cbPenPauses->setToolTip(tr("at each change of pen, park the pen and wait until Continue"));
    connect(cbOptimise, &QCheckBox::clicked, this, [this] { UpdateEstimate(); });
    connect(cbPenPauses, &QCheckBox::clicked, this, [this] { UpdateEstimate(); });
    setTabOrder(btnClose, cbOptimise);
    setTabOrder(cbOptimise, cbPenPauses);
    setTabOrder(cbPenPauses, sbFrom);
    setTabOrder(sbFrom, btnResume);
    connect(btnResume, &QPushButton::clicked, this, [this] { btnResumeClick(); });
    connect(sbFrom, &QSpinBox::valueChanged, this, [this] { UpdateEstimate(); });
    EstimateTimer = new QTimer(this);
    EstimateTimer->setSingleShot(true);
    EstimateTimer->setInterval(250);
    connect(EstimateTimer, &QTimer::timeout, this, [this] { ShowEstimate(); });

    connect(cbPort, &QComboBox::currentIndexChanged, this, [this] {
        ShowPortFromStart();
        cbPortChange();
    });
    connect(cbPort, &QComboBox::editTextChanged, this, [this] { cbPortChange(); });
    connect(btnPorts, &QToolButton::clicked, this, [this] { ListPortsInBox(); });
    connect(cbBaud, &QComboBox::currentIndexChanged, this, [this] { cbBaudChange(); });
    connect(rbXon, &QRadioButton::clicked, this, [this] { rbXonClick(); });
    connect(rbRTS, &QRadioButton::clicked, this, [this] { rbRTSClick(); });
    connect(tbSpeed, &QSlider::valueChanged, this, [this] { tbSpeedChange(); });
    connect(cbZrychlovat, &QCheckBox::clicked, this, [this] { tbSpeedChange(); });
    connect(btnPlot, &QPushButton::clicked, this, [this] { btnPlotClick(); });
    connect(btnServiceX, &QPushButton::clicked, this, [this] { btnServiceXClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });

    Backstop = new QTimer(this);
    Backstop->setInterval(20);

    // The component as the dialog's design sets it: COM1 by its number, XON/XOFF.
    ConfigurePlotLine(VaComm1, TPlotLine{});
    FormCreate();
    UpdateWarnings();
}

TfrmOstrel::~TfrmOstrel()
{
    Running = false;
}

void TfrmOstrel::FormCreate()
{
    tbSpeedChange();
    cbBaudChange();
    cbPortChange();
}

QString TfrmOstrel::PortName() const
{
    const int index = cbPort->currentIndex();
    if (index >= 0 && cbPort->itemText(index) == cbPort->currentText()) {
        const QVariant name = cbPort->itemData(index);
        return name.isValid() ? name.toString() : cbPort->itemText(index);
    }
    return cbPort->currentText().trimmed();
}

void TfrmOstrel::cbPortChange()
{
    const int index = cbPort->currentIndex();
    const QString name = PortName();
    // A COM name by its number; anything else, found on the machine or typed, by its name.
    const auto [pattern, number] = PortPattern(name.toStdString());
    VaComm1.SetDeviceName(pattern);
    VaComm1.SetPortNum(number > 0 ? number : index + 1);
    // The box is narrow: the whole name, and the device file behind it, show on hovering.
    cbPort->setToolTip(QString::fromStdString(commport::PortLabel(name.toStdString())));
}

// The box is narrower than most names: a chosen one shows from its start, where the port's
// own name is, rather than scrolled to the cursor at its end.
void TfrmOstrel::ShowPortFromStart()
{
    cbPort->lineEdit()->setCursorPosition(0);
}

void TfrmOstrel::ListPortsInBox()
{
    const QString current = cbPort->count() || !cbPort->currentText().isEmpty() ? PortName() : QString();
    {
        const QSignalBlocker quiet(cbPort);
        cbPort->clear();
        for (const std::string& port : PortList())
            cbPort->addItem(QString::fromStdString(commport::PortLabel(port)), QString::fromStdString(port));
        if (const int at = cbPort->findData(current); at >= 0) {
            cbPort->setCurrentIndex(at);
        } else if (!current.isEmpty()) {
            // A typed port, or one that went away, stays named: its open says what is wrong.
            cbPort->setCurrentIndex(-1);
            cbPort->setEditText(current);
        }
    }
    // The list drops down as wide as its longest entry; the box keeps its width.
    QAbstractItemView* list = cbPort->view();
    int widest = 0;
    for (int i = 0; i < cbPort->count(); ++i)
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(cbPort->itemText(i)));
    list->setMinimumWidth(widest + 2 * list->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
    ShowPortFromStart();
    cbPortChange();
}

void TfrmOstrel::cbBaudChange()
{
    VaComm1.SetBaudrate(static_cast<TVaBaudrate>(cbBaud->currentIndex() + 1));
    UpdateEstimate();
}

void TfrmOstrel::rbXonClick()
{
    VaComm1.FlowControl().SetXonXoffOut(true);
    VaComm1.FlowControl().SetOutCtsFlow(false);
}

void TfrmOstrel::rbRTSClick()
{
    VaComm1.FlowControl().SetXonXoffOut(false);
    VaComm1.FlowControl().SetOutCtsFlow(true);
}

void TfrmOstrel::tbSpeedChange()
{
    const int s = tbSpeed->value();
    QString text = QStringLiteral("speed = %1mm/s").arg(625 / s);
    if (cbZrychlovat->isChecked())
        text += QStringLiteral(", accelerate during %1 points (%2mm)").arg(s).arg(s / 8);
    lblSpeed->setText(text);
    UpdateEstimate();
}

void TfrmOstrel::UpdateEstimate()
{
    if (!lblEstimate)
        return;  // FormCreate runs before the labels below the design exist
    if (HugeSheet)
        EstimateTimer->start();
    else
        ShowEstimate();
}

TPlotSettings TfrmOstrel::CurrentSettings() const
{
    TPlotSettings settings;
    settings.Speed = tbSpeed->value();
    settings.Accelerate = cbZrychlovat->isChecked();
    const TLineRate line = LineOf(VaComm1);  // a user rate too
    settings.Baud = line.Baud;
    settings.FrameBits = line.FrameBits;
    settings.PenPauses = cbPenPauses->isChecked();
    return settings;
}

TPlotEstimate TfrmOstrel::Estimate(const THpglSheet& sheet, const TPlotSettings& settings)
{
    std::shared_ptr<const TTiming>& slot = Timings[&sheet == &Sheet ? 0 : 1];
    if (!slot || slot->Sheet != &sheet || !(slot->Settings == settings)) {
        auto timing = std::make_shared<TTiming>();
        timing->Sheet = &sheet;
        timing->Settings = settings;
        timing->Estimate = EstimatePlot(sheet, settings, 0, &timing->Ends);
        slot = std::move(timing);
    }
    return slot->Estimate;
}

std::shared_ptr<const TfrmOstrel::TTiming> TfrmOstrel::TimingFor(const THpglSheet& sheet)
{
    Estimate(sheet, CurrentSettings());
    return Timings[&sheet == &Sheet ? 0 : 1];
}

void TfrmOstrel::ShowEstimate()
{
    const TPlotSettings settings = CurrentSettings();
    QString text = QString::fromStdString(EstimateText(Estimate(Sheet, settings)));
    if (cbOptimise->isChecked()) {
        if (const THpglSheet* ordered = OrderedSheet()) {
            const TPlotEstimate e = Estimate(*ordered, settings);
            text += tr("; %1 in optimised order").arg(QString::fromStdString(DurationText(e.Seconds)));
            if (e.PenPauses > 0)
                text += e.PenPauses == 1 ? tr(", 1 pause for a pen") : tr(", %1 pauses for pens").arg(e.PenPauses);
        } else
            text += tr("; order not optimised: %1").arg(OrderRefusal);
    }
    // A resume continues the run's own order.
    const THpglSheet& resumed = ResumeOptimised && OrderedSheet() ? *OrderedSheet() : Sheet;
    if (ResumeCount >= 0 && sbFrom->value() > 1)
        text += tr("; from object %1: %2")
                    .arg(sbFrom->value())
                    .arg(QString::fromStdString(
                        DurationText(EstimatePlot(resumed, settings, sbFrom->value() - 1).Seconds)));
    lblEstimate->setText(text);
    lblEstimate->setToolTip(text);
}

const THpglSheet* TfrmOstrel::OrderedSheet()
{
    if (OrderedValid)
        return Ordered ? Ordered.get() : nullptr;
    OrderedValid = true;
    Ordered.reset();
    // The order is the optimiser's own for this sheet every time, so a resume's object
    // numbers mean the same objects after the dialog was closed and opened again.
    TPlotOrderOptions options;
    options.Progress =
        WindowProgress([this](int percent) { lblEstimate->setText(tr("optimising the order: %1%").arg(percent)); }, {},
                       QEventLoop::ExcludeUserInputEvents);
    const TPlotOrder order = OptimisePlotOrder(Sheet, options);
    if (!order.Ok) {
        OrderRefusal = QString::fromStdString(order.Reason);
        return nullptr;
    }
    Ordered = std::make_unique<THpglSheet>();
    RefillSheet(*Ordered, order.Objects);
    return Ordered.get();
}

void TfrmOstrel::UpdateWarnings()
{
    QStringList lines;
    for (const auto& w : Preflight(Sheet))
        lines << QString::fromStdString(w.Text);
    lblWarnings->setText(lines.join(QLatin1Char('\n')));
    LayOutBelow();
}

void TfrmOstrel::LayOutBelow()
{
    // The design's 434 x 163, grown downward only as far as the rows below it need.
    cbOptimise->setGeometry(16, 181, std::max(120, cbOptimise->sizeHint().width()), 17);
    cbPenPauses->setGeometry(176, 181, std::max(160, cbPenPauses->sizeHint().width()), 17);
    const int warnings = lblWarnings->text().isEmpty() ? 0 : lblWarnings->heightForWidth(402);
    lblWarnings->setGeometry(16, 204, 402, warnings);
    const int row = 204 + warnings + (warnings ? 6 : 0);
    lblResume->setGeometry(16, row + 4, 190, 14);
    sbFrom->setGeometry(210, row + 2, 126, 21);
    btnResume->setGeometry(344, row, 75, 25);
    setFixedSize(434, row + 25 + 8);
}

void TfrmOstrel::SetBusy(bool busy)
{
    for (QWidget* w : std::initializer_list<QWidget*>{btnPlot, btnServiceX, cbZrychlovat, tbSpeed, cbPort, cbBaud,
                                                      btnPorts, cbOptimise, cbPenPauses})
        w->setEnabled(!busy);
    btnResume->setEnabled(!busy && ResumeCount >= 0);
    sbFrom->setEnabled(!busy && ResumeCount >= 0);
}

void TfrmOstrel::ShowProgress(const TPlotProgress& p)
{
    // A pause for a pen: the Plot button answers it as Continue.
    if (p.PenPause != PausedFor) {
        PausedFor = p.PenPause;
        ContinuePressed = false;
        btnPlot->setText(PausedFor ? tr("&Continue") : tr("&Plot"));
        btnPlot->setEnabled(PausedFor != 0);
        if (PausedFor)
            btnPlot->setFocus();
    }
    if (p.Finishing) {
        lblStats->setText(tr("finishing a cut command; Close again abandons it"));
        return;
    }
    if (p.HeldSeconds > 0) {
        lblStats->setText(tr("waiting for the plotter, held %1 s; Close again drops the rest")
                              .arg(static_cast<long long>(p.HeldSeconds)));
        return;
    }
    // A stop or drop under way keeps saying so: the numbers of a run that ends are no news.
    if (InRun && !Running)
        return;
    if (PausedFor) {
        lblStats->setText(tr("Put in %1, then press Continue").arg(QString::fromStdString(PenName(PausedFor))));
        return;
    }
    // Objects of the whole sheet, as the gauge counts them, also in a resumed run.
    const QString done = p.Service ? tr("%1 of %2 passes").arg(p.Objects).arg(p.MaxObjects)
                                   : tr("%1 of %2 objects").arg(p.Objects).arg(p.MaxObjects);
    lblStats->setText(tr("%1 sent, line %2%, %3 left")
                          .arg(done)
                          .arg(static_cast<int>(p.LineUse * 100 + 0.5))
                          .arg(Clock(p.SecondsLeft)));
}

QString TfrmOstrel::StoppingText(std::int32_t object, bool service)
{
    return service ? tr("stopping after pass %1\u2026").arg(object) : tr("stopping after object %1\u2026").arg(object);
}

QString TfrmOstrel::OutcomeText(TPlotEnd end, const TPlotResult& result, std::int32_t handed, bool service,
                                double seconds)
{
    // A plot counts what surely reached the line, as the resume offer does: a drop may cut
    // what was queued.
    switch (end) {
    case TPlotEnd::Finished:
        return service ? tr("Motor service finished in %1.").arg(Clock(seconds))
                       : tr("Plot finished: %1 objects in %2.").arg(result.MaxObjects).arg(Clock(seconds));
    case TPlotEnd::Stopped:
        return service ? tr("Motor service stopped after pass %1 of %2.").arg(result.LastObject).arg(result.MaxObjects)
                       : tr("Stopped after object %1 of %2.").arg(handed).arg(result.MaxObjects);
    case TPlotEnd::Aborted:
        // Abandoned with a command cut: the plotter may complete it with any bytes.
        if (result.CutLeft)
            return service ? tr("Motor service dropped; may draw a stray line.")
                           : tr("Plot dropped after object %1 of %2 (stray line?).").arg(handed).arg(result.MaxObjects);
        return service ? tr("Motor service dropped after pass %1 of %2.").arg(result.LastObject).arg(result.MaxObjects)
                       : tr("Plot dropped after object %1 of %2.").arg(handed).arg(result.MaxObjects);
    case TPlotEnd::Failed: break;
    }
    return service ? tr("Motor service failed after pass %1 of %2.").arg(result.LastObject).arg(result.MaxObjects)
                   : tr("Plot failed after object %1 of %2.").arg(handed).arg(result.MaxObjects);
}

void TfrmOstrel::ShowOutcome(const QString& text, const QString& tip)
{
    Outcome = text;
    OutcomeTip = tip;
    lblStats->setText(text);
    lblStats->setToolTip(tip);
}

void TfrmOstrel::Ended(const TPlotRunner& runner, bool service)
{
    const TPlotResult& result = runner.Result();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - RunStart).count();
    ShowOutcome(OutcomeText(result.End, result, runner.Handed(), service, seconds),
                result.CutLeft ? tr("The plotter was given up on in the middle of a command: it may draw one "
                                    "stray line with whatever comes next.")
                               : QString());
    // A drop leaves the dialog saying how far the drawing got, until Close.
    if (result.End == TPlotEnd::Aborted)
        return;
    if (CloseWhenDone) {
        CloseWhenDone = false;
        reject();
    }
}

void TfrmOstrel::Run(const std::function<TPlotEnd(TPlotRunner&)>& run, bool service)
{
    if (InRun)
        return;
    TPlotRunner runner(VaComm1);
    runner.Pump = [](bool wait) {
        // Sleeps in the event loop; the writer wakes it after every completed write and the
        // backstop timer every 20 ms.
        QCoreApplication::processEvents(wait ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
    };
    runner.Running = [this] { return Running; };
    runner.Aborting = [this] { return Dropping; };
    runner.Abandoning = [this] { return Abandoning; };
    runner.SetMaxValue = [this](std::int32_t max) { pbPlot->setMaximum(std::max(max, 1)); };
    runner.SetProgress = [this](std::int32_t position) { pbPlot->setValue(position); };
    runner.OnProgress = [this](const TPlotProgress& p) { ShowProgress(p); };
    runner.PenPauses = !service && cbPenPauses->isChecked();
    runner.Continuing = [this] { return ContinuePressed; };
    bool opened = false;
    InService = service;
    RunOpened = false;
    // A failed Open raises before this: the controls, the gauge and Running stay as they are.
    runner.OnOpened = [&] {
        opened = RunOpened = InRun = true;
        Dropping = Abandoning = CloseWhenDone = false;
        SetBusy(true);
        Running = true;
        RunStart = std::chrono::steady_clock::now();
        ShowOutcome({});
        Backstop->start();
    };
    // Whatever way the run ends (an error included, after the runner closed the port), the
    // dialog is usable again and nothing of this run carries over into the next.
    const auto restore = qScopeGuard([this, &opened, &runner, service] {
        if (!opened)
            return;
        Backstop->stop();
        pbPlot->setValue(0);
        PausedFor = 0;
        btnPlot->setText(tr("&Plot"));
        SetBusy(false);
        InRun = Dropping = Abandoning = false;
        if (std::uncaught_exceptions() > 0) {
            CloseWhenDone = false;  // the error box shows; the dialog stays
            ShowOutcome(OutcomeText(TPlotEnd::Failed, runner.Result(), runner.Handed(), service, 0));
        }
    });
    try {
        run(runner);
    } catch (const EVaCommError& e) {
        // A port that would not open: COM names hide the device file they stand for.
        const std::string name = VaComm1.GetDeviceName(), file = commport::PortDeviceFile(name);
        if (opened || file == name)
            throw;
        throw EVaCommError(std::string(e.what()) + " " + name + " is " + file + ".");
    }
    Ended(runner, service);
}

void TfrmOstrel::PlotFrom(std::int32_t first, bool optimised)
{
    const THpglSheet* ordered = optimised ? OrderedSheet() : nullptr;
    if (optimised && !ordered) {
        lblStats->setText(tr("Order not optimised: %1").arg(OrderRefusal));
        return;
    }
    const THpglSheet& sheet = ordered ? *ordered : Sheet;
    const std::int32_t count = sheet.Count();
    ResumeOptimised = optimised;
    // Time left from the estimate's model; the timing stays alive for the run whatever the
    // estimate shown meanwhile.
    const std::shared_ptr<const TTiming> timing = TimingFor(sheet);
    Run(
        [&](TPlotRunner& r) {
            r.TimeLeft = [timing](std::int32_t done) { return SecondsLeft(timing->Estimate, timing->Ends, done); };
            // Every ending that sent something offers the rest: a stop, a drop and a failure
            // alike. A port that did not open sent nothing: an earlier offer stands.
            try {
                const TPlotEnd end = r.Plot(sheet, tbSpeed->value(), cbZrychlovat->isChecked(), first);
                Offer(r.Handed(), count);
                return end;
            } catch (...) {
                if (RunOpened)
                    Offer(r.Handed(), count);
                throw;
            }
        },
        false);
}

void TfrmOstrel::Offer(std::int32_t handed, std::int32_t count)
{
    // Nothing of the sheet handed on: Plot does what a resume would.
    if (handed <= 0 || handed >= count) {
        ResumeCount = -1;
        lblResume->clear();
        sbFrom->setRange(1, 1);
        sbFrom->setEnabled(false);
        btnResume->setEnabled(false);
    } else {
        // The user may move the point back: after a failure the device may not have drawn
        // everything that was handed over.
        ResumeCount = count;
        lblResume->setText(tr("Stopped after object %1 of %2.").arg(handed).arg(count));
        sbFrom->setRange(1, count);
        sbFrom->setValue(handed + 1);
        sbFrom->setEnabled(true);
        btnResume->setEnabled(true);
    }
    UpdateEstimate();
}

void TfrmOstrel::btnPlotClick()
{
    if (InRun) {
        ContinuePressed = PausedFor != 0;
        return;
    }
    PlotFrom(0, cbOptimise->isChecked());
}

void TfrmOstrel::btnResumeClick()
{
    if (ResumeCount >= 0)
        PlotFrom(sbFrom->value() - 1, ResumeOptimised);
}

void TfrmOstrel::showEvent(QShowEvent* event)
{
    // The sheet may have changed since the last showing: an offer for another sheet goes.
    const std::int32_t count = Sheet.Count();
    if (ResumeCount >= 0 && ResumeCount != count)
        Offer(0, 0);
    HugeSheet = count > 200000;
    // The sheet may have changed: its optimised order is made again when next needed, and
    // both are timed again.
    OrderedValid = false;
    Ordered.reset();
    Timings[0].reset();
    Timings[1].reset();
    // An adapter plugged in since the last showing is there to choose.
    ListPortsInBox();
    // Only how the last run ended, never its progress numbers.
    lblStats->setText(Outcome);
    lblStats->setToolTip(OutcomeTip);
    UpdateWarnings();
    ShowEstimate();
    QDialog::showEvent(event);
}

void TfrmOstrel::btnServiceXClick()
{
    Run([](TPlotRunner& r) { return r.Service(); }, true);
}

void TfrmOstrel::btnCloseClick()
{
    if (!InRun) {
        Running = false;
        reject();
        return;
    }
    if (Running) {
        // The first Close stops after the object in hand; the dialog goes once the run ends.
        // Said at once: a click that seems lost gets pressed again, and that drops the rest.
        Running = false;
        CloseWhenDone = true;
        lblStats->setText(StoppingText(std::min(pbPlot->value() + 1, pbPlot->maximum()), InService));
    } else if (!Dropping) {
        // Pressed again while the stop waits: drop the rest; the dialog stays to say so.
        Dropping = true;
        CloseWhenDone = false;
        lblStats->setText(tr("dropping the rest\u2026"));
    } else {
        // A third time, while the drop waits for the device to finish a cut command.
        Abandoning = true;
    }
}

void TfrmOstrel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        btnClose->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmOstrel::closeEvent(QCloseEvent* event)
{
    // The title bar's close box lets a run finish; the dialog goes afterwards.
    if (InRun) {
        CloseWhenDone = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
