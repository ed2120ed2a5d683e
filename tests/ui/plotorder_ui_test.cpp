#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <array>
#include <random>
#include <set>

#include "formfixture.h"
#include "interp.h"
#include "plot/plotorder.h"
#include "sheettext.h"
#include "simprocess.h"
#include "streamtext.h"
#include "testfiles.h"

namespace {

// The device's segments, without their direction.
std::multiset<std::array<std::int32_t, 4>> Segments(const std::string& stream)
{
    TOstrelInterpreter device;
    device.Feed(stream);
    device.Finish();
    std::multiset<std::array<std::int32_t, 4>> d;
    for (const TSimLine& l : device.Lines)
        d.insert(std::make_pair(l.X1, l.Y1) <= std::make_pair(l.X2, l.Y2) ? std::array{l.X1, l.Y1, l.X2, l.Y2}
                                                                          : std::array{l.X2, l.Y2, l.X1, l.Y1});
    return d;
}

int PalePixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == qRgb(150, 190, 235);
    return n;
}

}  // namespace

// Edit > Optimise plot order rewrites the sheet as the optimiser orders it and says what it
// saved; Esc during a long one leaves the sheet as it was. The travel toggle shows the moves.
TEST_F(FormTest, OptimisePlotOrderRewritesTheSheetAndEscCancelsIt)
{
    testfiles::TempDir dir;
    Open(dir.Write("far.plt", "PU1000,0;PD1400,0;PU900,0;PD0,0;PU0,1000;PD0,1400;"));
    THpglSheet expected;
    RefillSheet(expected, OptimisePlotOrder(*frmMain->Sheet).Objects);
    frmMain->actShowTravel->setChecked(true);
    const int travelBefore = PalePixels(frmMain->imgView->Surface());
    EXPECT_GT(travelBefore, 0);
    frmMain->actOptimise->trigger();
    EXPECT_EQ(SheetText(*frmMain->Sheet), SheetText(expected));
    EXPECT_EQ(Panel(1).rfind("Plot order optimised: pen-up travel ", 0), 0u) << Panel(1);
    EXPECT_GT(PalePixels(frmMain->imgView->Surface()), 0);
    frmMain->actShowTravel->setChecked(false);
    EXPECT_EQ(PalePixels(frmMain->imgView->Surface()), 0);

    // Large enough to report progress: Esc cancels it.
    std::string many;
    std::mt19937 rng(1);
    for (int i = 0; i < 150000; ++i)
        many += "PU" + std::to_string(rng() % 20000) + "," + std::to_string(rng() % 20000) + ";PD" +
                std::to_string(rng() % 20000) + "," + std::to_string(rng() % 20000) + ";";
    Open(dir.Write("many.plt", many));
    const std::string before = SheetText(*frmMain->Sheet);
    QTimer::singleShot(0, [] { QTest::keyClick(frmMain, Qt::Key_Escape); });
    frmMain->actOptimise->trigger();
    EXPECT_EQ(Panel(1), "Optimising the plot order cancelled; the sheet is as it was");
    EXPECT_TRUE(SheetText(*frmMain->Sheet) == before);
    EXPECT_TRUE(frmMain->actOptimise->isEnabled());
    EXPECT_TRUE(Boxes.empty());
}

// The dialog plots in the optimised order and pauses for pens: the Plot button reads
// Continue while the pen waits, and the device draws what the plain plot draws.
TEST_F(FormTest, PlotDialogOptimisesAndPausesForPens)
{
    testfiles::TempDir dir;
    Open(dir.Write("pens.plt", "SP1;PU0,0;PD100,0;SP2;PU300,0;PD200,0;SP1;PU0,10;PD100,10;PU0,0;"));
    const std::string plain = StreamText(*frmMain->Sheet);
    frmOstrel->cbOptimise->setChecked(true);
    frmOstrel->cbPenPauses->setChecked(true);
    frmOstrel->UpdateEstimate();
    const QString estimate = frmOstrel->lblEstimate->text();
    EXPECT_TRUE(estimate.contains(" in optimised order")) << estimate.toStdString();
    EXPECT_TRUE(estimate.contains(", 2 pauses for pens; ")) << estimate.toStdString();
    EXPECT_TRUE(estimate.endsWith(" in optimised order, 1 pause for a pen")) << estimate.toStdString();
    EXPECT_GE(frmOstrel->cbOptimise->geometry().top(), 163);
    EXPECT_LE(frmOstrel->cbPenPauses->geometry().right(), frmOstrel->width());

    TSimProcess sim("--rate 19200 --raw " + Quote(dir.File("raw")));
    frmOstrel->cbPort->addItem(QString::fromStdString(sim.Path));
    frmOstrel->cbPort->setCurrentIndex(frmOstrel->cbPort->count() - 1);
    frmOstrel->cbBaud->setCurrentIndex(8);
    QString asked;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (frmOstrel->btnPlot->text() == "&Continue" && frmOstrel->btnPlot->isEnabled()) {
            asked = frmOstrel->lblStats->text();
            frmOstrel->btnPlot->click();
        }
    });
    poll.start(10);
    frmOstrel->btnPlot->click();
    poll.stop();
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(asked, "Put in pen 2 (red), then press Continue");
    const std::string raw = testfiles::ReadAll(dir.File("raw"));
    EXPECT_NE(raw.find("PUPA0 0"), std::string::npos) << raw;
    EXPECT_TRUE(Segments(raw) == Segments(plain)) << raw;
    EXPECT_EQ(frmOstrel->btnPlot->text(), "&Plot");
    EXPECT_TRUE(frmOstrel->btnPlot->isEnabled());
    frmOstrel->cbOptimise->setChecked(false);
    frmOstrel->cbPenPauses->setChecked(false);
    EXPECT_TRUE(Boxes.empty());
}

// A resume continues the order of the run it resumes, whatever the box says now.
TEST_F(FormTest, AResumeContinuesTheOrderOfTheRunItResumes)
{
    testfiles::TempDir dir;
    std::string text;
    for (int i = 0; i < 40; ++i)  // far strokes first: the optimised order differs from the file's
        text +=
            "PU" + std::to_string((i % 2 ? 1400 : 0) + i) + ",0;PD" + std::to_string((i % 2 ? 1400 : 0) + i) + ",10;";
    Open(dir.Write("zigzag.plt", text));
    THpglSheet ordered;
    RefillSheet(ordered, OptimisePlotOrder(*frmMain->Sheet).Objects);
    ASSERT_NE(SheetText(ordered), SheetText(*frmMain->Sheet));
    frmOstrel->cbOptimise->setChecked(true);
    {
        TSimProcess sim("--rate 9600");
        frmOstrel->cbPort->addItem(QString::fromStdString(sim.Path));
        frmOstrel->cbPort->setCurrentIndex(frmOstrel->cbPort->count() - 1);
        auto stop = QObject::connect(frmOstrel->pbPlot, &QProgressBar::valueChanged, [](int v) {
            if (v == 4)
                QTimer::singleShot(0, [] { frmOstrel->btnClose->click(); });
        });
        frmOstrel->btnPlot->click();
        QObject::disconnect(stop);
        sim.Wait();
    }
    EXPECT_EQ(frmOstrel->lblResume->text(), "Stopped after object 5 of " + QString::number(ordered.Count()) + ".");
    frmOstrel->cbOptimise->setChecked(false);
    {
        TSimProcess sim("--rate 19200 --raw " + Quote(dir.File("raw")));
        frmOstrel->cbPort->addItem(QString::fromStdString(sim.Path));
        frmOstrel->cbPort->setCurrentIndex(frmOstrel->cbPort->count() - 1);
        frmOstrel->btnResume->click();
        sim.Wait();
    }
    std::string expected;
    OstrelResumeStream(ordered, 5, 20, true, [&](std::string_view t, TThrottle) { expected += t; });
    EXPECT_EQ(testfiles::ReadAll(dir.File("raw")), expected);
    EXPECT_TRUE(Boxes.empty());
}
