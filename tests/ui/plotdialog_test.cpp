#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "formfixture.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "sheettext.h"
#include "streamtext.h"
#include "simprocess.h"
#include "testfiles.h"

namespace {

// Points the dialog's port list at a simulator's line.
void UseLine(const std::string& path)
{
    frmOstrel->cbPort->addItem(QString::fromStdString(path));
    frmOstrel->cbPort->setCurrentIndex(frmOstrel->cbPort->count() - 1);
}

}  // namespace

TEST_F(FormTest, PlotDialogStartsWithItsDesignAndSpeedText)
{
    auto* d = frmOstrel;
    EXPECT_TRUE(d->windowTitle().startsWith("Ostrel ("));
    EXPECT_EQ(d->cbPort->itemText(0), "COM1 (/dev/ttyS0)");
    EXPECT_EQ(d->cbPort->itemText(3), "COM4 (/dev/ttyS3)");
    EXPECT_EQ(d->PortName(), "COM1");
    EXPECT_EQ(d->cbPort->currentIndex(), 0);
    EXPECT_EQ(d->cbBaud->count(), 13);
    EXPECT_EQ(d->cbBaud->currentText(), "9600");
    EXPECT_TRUE(d->rbXon->isChecked());
    EXPECT_TRUE(d->cbZrychlovat->isChecked());
    EXPECT_EQ(d->tbSpeed->value(), 20);
    EXPECT_EQ(d->tbSpeed->minimum(), 12);
    EXPECT_EQ(d->tbSpeed->maximum(), 100);
    EXPECT_EQ(d->lblSpeed->text(), "speed = 31mm/s, accelerate during 20 points (2mm)");
    EXPECT_EQ(d->btnPlot->toolTip(), "HPGL sheet plot");
    EXPECT_EQ(d->VaComm1.PortNum(), 1);
    EXPECT_EQ(d->VaComm1.DeviceName(), "COM%d");
    EXPECT_EQ(d->VaComm1.Baudrate(), br9600);
    EXPECT_EQ(d->VaComm1.Buffers().WriteSize(), 512);
    EXPECT_TRUE(d->VaComm1.FlowControl().XonXoffOut());
    EXPECT_TRUE(d->VaComm1.FlowControl().XonXoffIn());
    EXPECT_FALSE(d->VaComm1.FlowControl().OutCtsFlow());
    EXPECT_TRUE(d->VaComm1.MonitorEvents() == TVaCommEvents{});

    d->cbZrychlovat->click();
    EXPECT_EQ(d->lblSpeed->text(), "speed = 31mm/s");
    d->cbZrychlovat->click();
    d->tbSpeed->setValue(12);
    EXPECT_EQ(d->lblSpeed->text(), "speed = 52mm/s, accelerate during 12 points (1mm)");
    d->tbSpeed->setValue(100);
    EXPECT_EQ(d->lblSpeed->text(), "speed = 6mm/s, accelerate during 100 points (12mm)");
}

TEST_F(FormTest, PlotDialogControlsSetTheComponent)
{
    auto* d = frmOstrel;
    d->cbBaud->setCurrentIndex(12);
    EXPECT_EQ(d->VaComm1.Baudrate(), br115200);
    d->cbPort->setCurrentIndex(2);
    EXPECT_EQ(d->VaComm1.PortNum(), 3);
    EXPECT_EQ(d->VaComm1.GetDeviceNameEx(), "/dev/ttyS2");
    d->rbRTS->click();
    EXPECT_FALSE(d->VaComm1.FlowControl().XonXoffOut());
    EXPECT_TRUE(d->VaComm1.FlowControl().OutCtsFlow());
    EXPECT_TRUE(d->VaComm1.FlowControl().XonXoffIn());
    d->rbXon->click();
    EXPECT_TRUE(d->VaComm1.FlowControl().XonXoffOut());
    EXPECT_FALSE(d->VaComm1.FlowControl().OutCtsFlow());
    // A device found on the machine is reached by its path.
    UseLine("/dev/ttyUSB7");
    EXPECT_EQ(d->VaComm1.GetDeviceNameEx(), "/dev/ttyUSB7");
}

TEST_F(FormTest, FailedOpenLeavesTheDialogAsItWas)
{
    auto* d = frmOstrel;
    UseLine("/dev/grafonel-no-such-port");
    d->pbPlot->setMaximum(7);
    d->pbPlot->setValue(3);
    EXPECT_THROW(d->btnPlotClick(), EVaCommError);
    EXPECT_TRUE(d->btnPlot->isEnabled());
    EXPECT_TRUE(d->btnServiceX->isEnabled());
    EXPECT_TRUE(d->cbPort->isEnabled());
    EXPECT_EQ(d->pbPlot->value(), 3);
    EXPECT_EQ(d->pbPlot->maximum(), 7);
    EXPECT_FALSE(d->Running);
}

TEST_F(FormTest, PlotFromTheDialogReachesTheDeviceExactly)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    testfiles::TempDir dir;
    Open(std::string(GRAFONEL_SAMPLES_DIR) + "/hp2xx-arcs.hp");
    frmMain->actZoomAuto->trigger();
    TSimProcess sim("--rate 19200 --xoff --raw " + Quote(dir.File("raw")));
    ASSERT_FALSE(sim.Path.empty());
    UseLine(sim.Path);
    frmOstrel->cbBaud->setCurrentIndex(8);  // 19200
    std::vector<int> positions;
    QObject::connect(frmOstrel->pbPlot, &QProgressBar::valueChanged, [&](int v) {
        positions.push_back(v);
        EXPECT_FALSE(frmOstrel->btnPlot->isEnabled());
        EXPECT_TRUE(frmOstrel->btnClose->isEnabled());
    });
    frmOstrel->btnPlot->click();
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamText(*frmMain->Sheet));
    // One gauge step per object of the sheet as loaded (translated: arcs may come out as lines).
    EXPECT_EQ(frmOstrel->pbPlot->maximum(), frmMain->Sheet->Count());
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.back(), 0);
    EXPECT_EQ(positions[positions.size() - 2], frmMain->Sheet->Count() - 1);
    EXPECT_TRUE(frmOstrel->btnPlot->isEnabled());
    EXPECT_FALSE(frmOstrel->VaComm1.Active());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, CloseAndEscapeStopAfterTheObjectInHand)
{
    testfiles::TempDir dir;
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "PD" + std::to_string(i * 7) + "," + std::to_string(i * 3) + ";";
    Open(dir.Write("many.plt", text));
    for (int way = 0; way < 2; ++way) {
        TSimProcess sim("--rate 9600 --raw " + Quote(dir.File("raw")));
        UseLine(sim.Path);
        frmOstrel->cbZrychlovat->setChecked(false);
        frmOstrel->tbSpeedChange();
        auto stop = QObject::connect(frmOstrel->pbPlot, &QProgressBar::valueChanged, [&](int v) {
            if (v != 2)
                return;
            // Pressed while the third object waits its turn.
            QTimer::singleShot(0, [way] {
                if (way == 0)
                    frmOstrel->btnClose->click();
                else
                    QTest::keyClick(frmOstrel, Qt::Key_Escape);
            });
        });
        frmOstrel->btnPlot->click();
        QObject::disconnect(stop);
        sim.Wait();
        EXPECT_EQ(testfiles::ReadAll(dir.File("raw")), StreamText(*frmMain->Sheet, 3, 20, false)) << way;
        EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")).rfind(" SD-20 BP IN ", 0) == 0);
        EXPECT_TRUE(frmOstrel->btnPlot->isEnabled());
        EXPECT_EQ(frmOstrel->pbPlot->value(), 0);
    }
}

TEST_F(FormTest, MotorServiceSendsItsBytesAndCountsPasses)
{
    testfiles::TempDir dir;
    TSimProcess sim("--rate 19200 --raw " + Quote(dir.File("raw")));
    UseLine(sim.Path);
    std::vector<int> positions;
    QObject::connect(frmOstrel->pbPlot, &QProgressBar::valueChanged, [&](int v) { positions.push_back(v); });
    frmOstrel->btnServiceX->click();
    sim.Wait();
    const std::string got = testfiles::ReadAll(dir.File("raw"));
    EXPECT_EQ(got.size(), 289u);
    EXPECT_EQ(got.substr(got.size() - 9), " SD20 IN ");
    EXPECT_EQ(frmOstrel->pbPlot->maximum(), 10);
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));  // 0 was already shown
}

namespace {

void Strokes(const testfiles::TempDir& dir, int n, std::string& file)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "PD" + std::to_string(i * 7 % 1500) + "," + std::to_string(i * 13 % 2100) + ";";
    file = dir.Write("strokes.plt", text);
}

// How many whole objects the device's bytes hold, when they are the stream stopped after
// them (whole objects, then " BP "); -1 otherwise.
int WholeObjects(const THpglSheet& s, const std::string& raw)
{
    for (int n = 0; n <= s.Count(); ++n) {
        const std::string expected = StreamText(s, n);
        if (expected.size() > raw.size())
            return -1;
        if (expected == raw)
            return n;
    }
    return -1;
}

// Runs f from the event loop every 10 ms while a run is in progress.
QTimer* Every10ms(const std::function<void()>& f)
{
    auto* t = new QTimer(frmOstrel);
    t->setInterval(10);
    QObject::connect(t, &QTimer::timeout, f);
    t->start();
    return t;
}

TPlotSettings DialogSettings(int speed, bool accelerate, std::int64_t baud)
{
    TPlotSettings s;
    s.Speed = speed;
    s.Accelerate = accelerate;
    s.Baud = baud;
    return s;
}

}  // namespace

TEST_F(FormTest, ClosePressedDuringAHoldWaitsItOutAndSaysSo)
{
    testfiles::TempDir dir;
    std::string file;
    Strokes(dir, 6000, file);
    Open(file);
    TSimProcess sim("--rate 115200 --xoff --hold-at 2000 --hold-ms 3000 --raw " + Quote(dir.File("raw")));
    UseLine(sim.Path);
    frmOstrel->cbBaud->setCurrentIndex(12);  // 115200
    QStringList texts;
    bool pressed = false;
    int closed = 0;
    QString answer;
    auto c = QObject::connect(frmOstrel, &QDialog::rejected, [&] { ++closed; });
    QTimer* t = Every10ms([&] {
        texts << frmOstrel->lblStats->text();
        if (!pressed && sim.Saw("playing hold")) {
            pressed = true;
            frmOstrel->btnClose->click();
            answer = frmOstrel->lblStats->text();  // at once, not when the stop is done
        }
    });
    frmOstrel->btnPlot->click();
    delete t;
    QObject::disconnect(c);
    EXPECT_TRUE(pressed);
    sim.Wait();
    const int n = WholeObjects(*frmMain->Sheet, testfiles::ReadAll(dir.File("raw")));
    EXPECT_GT(n, 0);
    EXPECT_LT(n, 6000);
    EXPECT_TRUE(texts.contains("waiting for the plotter, held 2 s; Close again drops the rest"))
        << texts.join("\n").toStdString();
    EXPECT_TRUE(answer.startsWith("stopping after object ")) << answer.toStdString();
    // No progress numbers come back once the stop was asked for.
    const QRegularExpression progress(
        QStringLiteral("^(\\d+) of 6000 objects sent, line \\d+%, \\d+:\\d\\d:\\d\\d left$"));
    const qsizetype asked = texts.indexOf(answer);
    for (qsizetype i = asked; i < texts.size(); ++i)
        EXPECT_FALSE(progress.match(texts[i]).hasMatch()) << texts[i].toStdString();
    EXPECT_EQ(closed, 1);  // a stopped plot closes the dialog, as Close asked
    // Shown again, it says how the run ended and nothing of its progress.
    frmOstrel->show();
    EXPECT_EQ(frmOstrel->lblStats->text(), QStringLiteral("Stopped after object %1 of 6000.").arg(n));
    frmOstrel->hide();
    EXPECT_TRUE(frmOstrel->btnPlot->isEnabled());
    EXPECT_FALSE(frmOstrel->VaComm1.Active());
    EXPECT_TRUE(Boxes.empty());
}

// Close stops, Close again drops and waits for the jammed device to finish the cut command,
// saying so; a third Close abandons that at once.
TEST_F(FormTest, CloseThreeTimesDuringAJamAbandonsTheDropAndTheDialogSaysHowFarItGot)
{
    testfiles::TempDir dir;
    std::string file;
    Strokes(dir, 6000, file);
    Open(file);
    TSimProcess sim("--rate 115200 --xoff --jam-at 2000 --raw " + Quote(dir.File("raw")));
    UseLine(sim.Path);
    frmOstrel->cbBaud->setCurrentIndex(12);
    int presses = 0, closed = 0;
    std::chrono::steady_clock::time_point third{};
    auto c = QObject::connect(frmOstrel, &QDialog::rejected, [&] { ++closed; });
    QTimer* t = Every10ms([&] {
        if (presses == 0 && sim.Saw("playing jam")) {
            ++presses;
            frmOstrel->btnClose->click();
        } else if (presses == 1 && frmOstrel->lblStats->text().startsWith("waiting for the plotter")) {
            ++presses;
            QTest::keyClick(frmOstrel, Qt::Key_Escape);  // Esc is Close
        } else if (presses == 2 && frmOstrel->lblStats->text() == "finishing a cut command; Close again abandons it") {
            ++presses;
            EXPECT_LE(frmOstrel->lblStats->fontMetrics().horizontalAdvance(frmOstrel->lblStats->text()),
                      frmOstrel->lblStats->width());
            third = std::chrono::steady_clock::now();
            frmOstrel->btnClose->click();
        }
    });
    frmOstrel->btnPlot->click();
    delete t;
    EXPECT_EQ(presses, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - third, std::chrono::seconds(2));
    sim.Wait();
    const QString message = frmOstrel->lblStats->text();
    EXPECT_TRUE(message.startsWith("Plot dropped after object ")) << message.toStdString();
    EXPECT_TRUE(message.contains(" of 6000")) << message.toStdString();
    EXPECT_LE(frmOstrel->lblStats->fontMetrics().horizontalAdvance(message), frmOstrel->lblStats->width())
        << message.toStdString();
    EXPECT_EQ(closed, 0);  // the dialog stays to say so
    EXPECT_TRUE(frmOstrel->btnPlot->isEnabled());
    EXPECT_FALSE(frmOstrel->VaComm1.Active());
    EXPECT_EQ(testfiles::ReadAll(dir.File("raw")).size(), 2000u);
    frmOstrel->btnClose->click();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(frmOstrel->lblStats->text(), message);         // the outcome, for the next showing
    EXPECT_FALSE(frmOstrel->lblStats->toolTip().isEmpty());  // what the stray line is
    QObject::disconnect(c);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, AVanishedDeviceGivesOneErrorAndNothingCarriesOverToTheNextPlot)
{
    testfiles::TempDir dir;
    std::string file;
    Strokes(dir, 6000, file);
    Open(file);
    int closed = 0;
    auto c = QObject::connect(frmOstrel, &QDialog::rejected, [&] { ++closed; });
    {
        TSimProcess sim("--rate 9600 --xoff --hangup-at 300");
        UseLine(sim.Path);
        // The title bar's close box (the run goes on, the dialog to go at its end), then the
        // device goes away.
        auto stop = QObject::connect(frmOstrel->pbPlot, &QProgressBar::valueChanged, [&](int v) {
            if (v == 2)
                QTimer::singleShot(0, [] { frmOstrel->close(); });
        });
        const auto start = std::chrono::steady_clock::now();
        std::string message;
        try {
            frmOstrel->btnPlotClick();
        } catch (const EVaCommError& e) {
            message = e.what();
        }
        QObject::disconnect(stop);
        EXPECT_NE(message.find("Input/output error"), std::string::npos) << message;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        QCoreApplication::processEvents();
        EXPECT_TRUE(Boxes.empty());  // the one error is the one the handler raises
        EXPECT_TRUE(frmOstrel->btnPlot->isEnabled());
        EXPECT_TRUE(frmOstrel->cbPort->isEnabled());
        EXPECT_EQ(frmOstrel->pbPlot->value(), 0);
        EXPECT_FALSE(frmOstrel->VaComm1.Active());
        sim.Wait();
    }
    EXPECT_EQ(closed, 0);
    // The next plot runs to its end and leaves the dialog open: the earlier Close is gone.
    THpglSheet small;
    TSimProcess sim("--rate 0 --xoff --raw " + Quote(dir.File("raw")));
    UseLine(sim.Path);
    frmOstrel->cbBaud->setCurrentIndex(12);
    Open(dir.Write("small.plt", "PD1,1;PD2,2;PD3,3;"));
    frmOstrel->btnPlot->click();
    sim.Wait();
    EXPECT_EQ(testfiles::ReadAll(dir.File("raw")), StreamText(*frmMain->Sheet));
    EXPECT_EQ(closed, 0);
    QObject::disconnect(c);
}

TEST_F(FormTest, PlotDialogShowsTheEstimateAndWarningsBelowItsDesign)
{
    testfiles::TempDir dir;
    Open(dir.Write("w.plt", "SP1;PA-80,0;PD;PA1000,2000;SP2;PA100,200;"));
    auto* d = frmOstrel;
    d->show();
    const THpglSheet& sheet = *frmMain->Sheet;
    EXPECT_EQ(d->lblEstimate->text().toStdString(), EstimateText(EstimatePlot(sheet, DialogSettings(20, true, 9600))));
    d->tbSpeed->setValue(60);
    EXPECT_EQ(d->lblEstimate->text().toStdString(), EstimateText(EstimatePlot(sheet, DialogSettings(60, true, 9600))));
    d->cbZrychlovat->click();
    EXPECT_EQ(d->lblEstimate->text().toStdString(), EstimateText(EstimatePlot(sheet, DialogSettings(60, false, 9600))));
    d->cbBaud->setCurrentIndex(0);  // 110
    EXPECT_TRUE(d->lblEstimate->text().endsWith(" at 110")) << d->lblEstimate->text().toStdString();
    EXPECT_EQ(d->lblEstimate->text().toStdString(), EstimateText(EstimatePlot(sheet, DialogSettings(60, false, 110))));
    EXPECT_TRUE(d->lblEstimate->text().startsWith("about "));

    EXPECT_TRUE(d->lblWarnings->text().contains("10 mm on the left")) << d->lblWarnings->text().toStdString();
    EXPECT_TRUE(d->lblWarnings->text().contains("(SP 1, 2)"));
    // The design's controls stay where they were; the dialog only grows downward.
    EXPECT_EQ(d->btnPlot->geometry(), QRect(144, 128, 75, 25));
    EXPECT_EQ(d->btnClose->geometry(), QRect(344, 128, 75, 25));
    EXPECT_EQ(d->pbPlot->geometry(), QRect(144, 96, 281, 20));
    EXPECT_EQ(d->width(), 434);
    EXPECT_GE(d->lblWarnings->geometry().top(), 163);
    EXPECT_LE(d->lblWarnings->geometry().bottom(), d->btnResume->geometry().top());
    EXPECT_LE(d->btnResume->geometry().bottom(), d->height());
    const int withWarnings = d->height();
    d->hide();

    // A sheet without warnings takes less room; the warnings go with it.
    Open(dir.Write("ok.plt", "PA10,10;PD;PA100,100;"));
    d->show();
    EXPECT_TRUE(d->lblWarnings->text().isEmpty());
    EXPECT_LT(d->height(), withWarnings);
    EXPECT_FALSE(d->btnResume->isEnabled());
    d->hide();
    d->cbBaud->setCurrentIndex(6);
    d->tbSpeed->setValue(20);
    d->cbZrychlovat->setChecked(true);
}

TEST_F(FormTest, AStoppedPlotOffersToResumeWhereItStopped)
{
    testfiles::TempDir dir;
    std::string text = "PA10,10;PD;PR5,0;";
    for (int i = 0; i < 50; ++i)
        text += (i % 2 ? "PA" : "PR") + std::to_string(i * 7) + "," + std::to_string(i * 3) + ";";
    Open(dir.Write("many.plt", text));
    const THpglSheet& sheet = *frmMain->Sheet;
    {
        TSimProcess sim("--rate 9600");
        UseLine(sim.Path);
        auto stop = QObject::connect(frmOstrel->pbPlot, &QProgressBar::valueChanged, [&](int v) {
            if (v == 4)
                QTimer::singleShot(0, [] { frmOstrel->btnClose->click(); });
        });
        frmOstrel->btnPlot->click();
        QObject::disconnect(stop);
        sim.Wait();
    }
    EXPECT_EQ(frmOstrel->lblResume->text(), "Stopped after object 5 of 53.");
    EXPECT_EQ(frmOstrel->sbFrom->value(), 6);
    EXPECT_TRUE(frmOstrel->btnResume->isEnabled());
    // A resume whose port does not open sent nothing: the offer stands as it was.
    frmOstrel->cbPort->setEditText(QStringLiteral("/dev/grafonel-none"));
    EXPECT_THROW(frmOstrel->btnResumeClick(), EVaCommError);
    EXPECT_EQ(frmOstrel->lblResume->text(), "Stopped after object 5 of 53.");
    EXPECT_TRUE(frmOstrel->btnResume->isEnabled());
    EXPECT_TRUE(frmOstrel->lblEstimate->text().contains("; from object 6: "))
        << frmOstrel->lblEstimate->text().toStdString();

    // The user moves the point back one object and resumes.
    frmOstrel->sbFrom->setValue(5);
    {
        TSimProcess sim("--rate 19200 --raw " + Quote(dir.File("raw")));
        UseLine(sim.Path);
        frmOstrel->btnResume->click();
        sim.Wait();
    }
    std::string expected;
    OstrelResumeStream(sheet, 4, 20, true, [&](std::string_view t, TThrottle) { expected += t; });
    EXPECT_EQ(testfiles::ReadAll(dir.File("raw")), expected);
    // Finished: nothing left to resume.
    EXPECT_TRUE(frmOstrel->lblResume->text().isEmpty());
    EXPECT_FALSE(frmOstrel->btnResume->isEnabled());
    EXPECT_FALSE(frmOstrel->sbFrom->isEnabled());
    EXPECT_TRUE(frmOstrel->lblStats->text().startsWith(QStringLiteral("Plot finished: 53 objects in 0:00:")))
        << frmOstrel->lblStats->text().toStdString();
    EXPECT_TRUE(Boxes.empty());
}

// The box lists the ports each time the dialog shows and on its refresh button; what it
// names, chosen or typed, is the port the run opens.
TEST_F(FormTest, PortsAreListedAgainAndATypedPathIsUsedAsItStands)
{
    auto* d = frmOstrel;
    std::vector<std::string> ports{"COM1", "COM2", "COM3", "COM4"};
    d->PortList = [&] { return ports; };
    d->btnPorts->click();
    ASSERT_EQ(d->cbPort->count(), 4);
    // Adapters plugged in while the program runs.
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9M4LJ7Q-if00-port0";
    ports.push_back("/dev/ttyUSB0");
    ports.push_back(byId);
    d->show();
    ASSERT_EQ(d->cbPort->count(), 6);
    const struct {
        int Index;
        const char* Label;
        const char* File;
    } rows[] = {
        {0, "COM1 (/dev/ttyS0)", "/dev/ttyS0"},
        {3, "COM4 (/dev/ttyS3)", "/dev/ttyS3"},
        {4, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {5, byId.c_str(), byId.c_str()},
    };
    for (const auto& r : rows) {
        d->cbPort->setCurrentIndex(r.Index);
        EXPECT_EQ(d->cbPort->itemText(r.Index), r.Label);
        EXPECT_EQ(d->VaComm1.GetDeviceNameEx(), r.File) << r.Label;
        EXPECT_EQ(d->VaComm1.PortNum(), r.Index + 1) << r.Label;
        EXPECT_EQ(d->cbPort->toolTip(), r.Label);  // the narrow box's whole text
        // The box shows a chosen name from its start ("COM4 (/dev/t"), not its tail.
        EXPECT_EQ(d->cbPort->lineEdit()->cursorPosition(), 0) << r.Label;
    }
    // The box keeps its design; its list drops down as wide as the longest entry.
    EXPECT_EQ(d->cbPort->geometry(), QRect(16, 16, 81, 21));
    d->cbPort->showPopup();
    QApplication::processEvents();
    EXPECT_GE(d->cbPort->view()->viewport()->width(),
              d->cbPort->view()->fontMetrics().horizontalAdvance(QString::fromStdString(byId)));
    d->cbPort->hidePopup();

    // Typed, as a pseudo-terminal or a network bridge's link is: used as it stands.
    const std::pair<const char*, const char*> typed[] = {
        {"/dev/pts/9", "/dev/pts/9"},
        {"/tmp/bridge%1", "/tmp/bridge%1"},  // a percent sign is no port number
        {"ttyGrafonel0", "/dev/ttyGrafonel0"},
    };
    for (const auto& [text, file] : typed) {
        d->cbPort->lineEdit()->selectAll();
        QTest::keyClicks(d->cbPort->lineEdit(), QString::fromUtf8(text));
        EXPECT_EQ(d->PortName(), text);
        EXPECT_EQ(d->VaComm1.GetDeviceNameEx(), file) << text;
        EXPECT_EQ(d->cbPort->count(), 6);  // typing adds nothing to the list
    }
    // A typed port, and a chosen one that went away, stay named across a refresh.
    d->btnPorts->click();
    EXPECT_EQ(d->cbPort->currentText(), "ttyGrafonel0");
    EXPECT_EQ(d->VaComm1.GetDeviceNameEx(), "/dev/ttyGrafonel0");
    d->cbPort->setCurrentIndex(4);
    ports.erase(ports.begin() + 4);
    d->btnPorts->click();
    EXPECT_EQ(d->cbPort->count(), 5);
    EXPECT_EQ(d->VaComm1.GetDeviceNameEx(), "/dev/ttyUSB0");
    d->cbPort->setCurrentIndex(1);
    EXPECT_EQ(d->VaComm1.DeviceName(), "COM%d");
    EXPECT_EQ(d->VaComm1.PortNum(), 2);
    d->hide();
}

// A port that does not open sent nothing: no resume is offered, an earlier offer stands,
// and a COM-style name says which device file it stands for.
TEST_F(FormTest, APortThatDoesNotOpenNamesItsDeviceFileAndOffersNoResume)
{
    auto* d = frmOstrel;
    const std::pair<const char*, const char*> rows[] = {
        {"ttyGrafonelNone", "Specified device not found (ttyGrafonelNone). ttyGrafonelNone is /dev/ttyGrafonelNone."},
        {"/dev/grafonel-none", "Specified device not found (/dev/grafonel-none)."},
    };
    for (const auto& [port, expected] : rows) {
        d->cbPort->setEditText(QString::fromUtf8(port));
        std::string message;
        try {
            d->btnPlotClick();
        } catch (const EVaCommError& e) {
            message = e.what();
        }
        EXPECT_EQ(message, expected);
        EXPECT_FALSE(d->btnResume->isEnabled());
        EXPECT_TRUE(d->lblResume->text().isEmpty());
        EXPECT_TRUE(d->lblStats->text().isEmpty());
    }
}

// During a plot the label counts objects of the sheet, as the gauge does, and gives the time
// left by the estimate's model of pen and line for the objects still to come.
TEST_F(FormTest, ProgressCountsObjectsWithTheEstimatesTimeLeft)
{
    testfiles::TempDir dir;
    std::string file;
    Strokes(dir, 3000, file);
    Open(file);
    auto* d = frmOstrel;
    d->show();
    TSimProcess sim("--rate 9600 --xoff --raw " + Quote(dir.File("raw")));
    UseLine(sim.Path);
    const QRegularExpression progress(
        QStringLiteral("^(\\d+) of 3000 objects sent, line \\d+%, (\\d+:\\d\\d:\\d\\d) left$"));
    QString seen;
    int position = -1;
    QTimer* t = Every10ms([&] {
        if (seen.isEmpty() && progress.match(d->lblStats->text()).hasMatch() &&
            progress.match(d->lblStats->text()).captured(1).toInt() > 0) {
            seen = d->lblStats->text();
            position = d->pbPlot->value();
            d->btnClose->click();
        }
    });
    d->btnPlot->click();
    delete t;
    sim.Wait();
    ASSERT_FALSE(seen.isEmpty());
    const QRegularExpressionMatch m = progress.match(seen);
    const int done = m.captured(1).toInt();
    EXPECT_LE(done, position);  // the gauge shows the object in hand
    std::vector<float> ends;
    const TPlotEstimate e = EstimatePlot(*frmMain->Sheet, DialogSettings(20, true, 9600), 0, &ends);
    EXPECT_EQ(m.captured(2).toStdString(), ClockText(SecondsLeft(e, ends, done))) << seen.toStdString();
    d->hide();
}

// The estimate and the run's time left take the component's line as it is, a user rate too.
TEST_F(FormTest, TheEstimateTakesAUserRateOfTheLine)
{
    testfiles::TempDir dir;
    Open(dir.Write("w.plt", "PA10,10;PD;PA1000,2000;"));
    auto* d = frmOstrel;
    d->show();
    d->VaComm1.SetUserBaudrate(31250);
    d->UpdateEstimate();
    EXPECT_TRUE(d->lblEstimate->text().endsWith(" at 31250")) << d->lblEstimate->text().toStdString();
    EXPECT_EQ(d->lblEstimate->text().toStdString(),
              EstimateText(EstimatePlot(*frmMain->Sheet, DialogSettings(20, true, 31250))));
    d->cbBaud->setCurrentIndex(5);
    d->cbBaud->setCurrentIndex(6);
    EXPECT_TRUE(d->lblEstimate->text().endsWith(" at 9600")) << d->lblEstimate->text().toStdString();
    d->hide();
}
