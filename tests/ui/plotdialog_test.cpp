#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "formfixture.h"
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
    EXPECT_EQ(d->cbPort->itemText(0), "COM1");
    EXPECT_EQ(d->cbPort->itemText(3), "COM4");
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
    EXPECT_EQ(frmOstrel->pbPlot->maximum(), 13);
    EXPECT_EQ(positions.back(), 0);
    EXPECT_EQ(positions[positions.size() - 2], 12);
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
