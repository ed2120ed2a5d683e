// The message bar after a load says what translating the plot file did; it sits above the
// preview and the view, which move down by its height while it shows and back when it goes.
#include <gtest/gtest.h>

#include <QTest>

#include "formfixture.h"
#include "import/plotfile.h"
#include "sheettext.h"
#include "testfiles.h"

namespace {

// User units scaled onto the plotter's default window, which lies beyond the paper.
const char* const kScaled = "IN;SC0,100,0,100;PU0,0;PD100,100;";
// The same with the window put on the paper.
const char* const kScaledOnPaper = "IN;IP0,0,1000,1000;SC0,100,0,100;PU0,0;PD100,100;";

// What the load reports for the file, as the bar must show it.
QString Summary(const std::string& file)
{
    THpglSheet sheet;
    TTranslateReport report;
    LoadPlotFile(sheet, file, TPlotReading::Translate, &report);
    return QString::fromStdString(report.Summary());
}

bool BarShown()
{
    return frmMain->MessageBar1->isVisible();
}

QString BarText()
{
    return frmMain->MessageBar1->lblText->text();
}

// Where the controls below the toolbar are.
struct TPlaces {
    QRect Label, Preview, View, ToolBar, StatusBar;
    bool operator==(const TPlaces&) const = default;
};

TPlaces Places()
{
    return {frmMain->Label1->geometry(), frmMain->imgPreview->geometry(), frmMain->imgView->geometry(),
            frmMain->ActionToolBar1->geometry(), frmMain->StatusBar1->geometry()};
}

void DesignSize()
{
    frmMain->resize(331, 386 + frmMain->MainMenu1->height());
    QApplication::processEvents();
}

}  // namespace

TEST_F(FormTest, ATranslatedFileShowsItsSummaryUntilTheBarIsClosed)
{
    testfiles::TempDir dir;
    EXPECT_FALSE(BarShown());
    const auto on = dir.Write("on.plt", kScaledOnPaper);
    Open(on);
    ASSERT_TRUE(Summary(on).startsWith("HP-GL/2: ")) << "the file was not translated";
    ASSERT_TRUE(BarShown());
    EXPECT_EQ(BarText(), Summary(on));
    // The status panels keep the count and the size.
    EXPECT_EQ(Panel(0), "Objects: " + std::to_string(frmMain->Sheet->Count()));
    const THpglSheet& s = *frmMain->Sheet;
    EXPECT_EQ(Panel(1), "HPGL size: min=" + std::to_string(s.XMin) + "," + std::to_string(s.YMin) +
                            " max=" + std::to_string(s.XMax) + "," + std::to_string(s.YMax));

    // Beyond the paper it names the two actions, as the Edit menu shows them.
    const auto off = dir.Write("off.plt", kScaled);
    Open(off);
    ASSERT_TRUE(BarShown());
    EXPECT_EQ(BarText(), Summary(off) + QString::fromUtf8("; \u201c1/40 to 1/8\u201d or Zoom Auto brings it in"));

    QTest::mouseClick(frmMain->MessageBar1->btnClose, Qt::LeftButton);
    EXPECT_FALSE(BarShown());
    // Starting afresh with the same file shows it again; the start file and drops translate too.
    frmMain->OpenFile(QString::fromStdString(off));
    EXPECT_TRUE(BarShown());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, NoBarAfterALoadThatTranslatedNothingOrFailed)
{
    testfiles::TempDir dir;
    const auto scaled = dir.Write("s.plt", kScaled);
    const struct {
        const char* Name;
        std::string File;
        QAction* Via;
        std::size_t Boxes;
    } cases[] = {
        {"the eight commands", dir.Write("p.plt", "IN;SP1;PU0,0;PD10,10;"), frmMain->actOpen, 0},
        {"read plain", scaled, frmMain->actOpenPlain, 0},
        {"an SVG drawing",
         dir.Write("d.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10mm\" height=\"10mm\">"
                            "<path stroke=\"blue\" d=\"M0 0 L37.795 37.795\"/></svg>"),
         frmMain->actOpen, 0},
        {"a missing file", dir.File("gone.plt"), frmMain->actOpen, 1},
        // One user unit across the whole window: 2e9 of them leave the 32-bit range.
        {"a refused translation", dir.Write("far.plt", "IN;SC0,1,0,1;PA2000000000,0;PD;"), frmMain->actOpen, 1},
    };
    DesignSize();
    const TPlaces before = Places();
    for (const auto& c : cases) {
        Boxes.clear();
        Open(scaled);
        ASSERT_TRUE(BarShown()) << c.Name;
        OpenWith(c.Via, c.File);
        EXPECT_FALSE(BarShown()) << c.Name;
        EXPECT_EQ(Boxes.size(), c.Boxes) << c.Name;
        EXPECT_TRUE(Places() == before) << c.Name;
    }
    ASSERT_FALSE(Boxes.empty());
    EXPECT_NE(Boxes[0].Text.indexOf("far.plt"), -1);
}

TEST_F(FormTest, OpenAsPlainHpglReadsTheRawCoordinatesThroughTheOpenDialog)
{
    testfiles::TempDir dir;
    const auto f = dir.Write("s.plt", "IN;SC0,10,0,10;PU0,0;PD10,10;");
    OpenWith(frmMain->actOpenPlain, f);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PU 0 0|PD 10 10");
    EXPECT_EQ(Panel(0), "Objects: 2");
    EXPECT_EQ(Panel(1), "HPGL size: min=0,0 max=10,10");
    EXPECT_EQ(frmMain->OpenFileName.toStdString(), f);
    for (QAction* a : frmMain->Actions())
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

    // Open translates again, also after a plain open was cancelled.
    Open(f);
    const std::string translated = SheetText(*frmMain->Sheet);
    EXPECT_NE(translated, "PU 0 0|PD 10 10");
    frmMain->actOpenPlain->trigger();
    ASSERT_TRUE(frmMain->OpenDialog->isVisible());
    EXPECT_EQ(frmMain->OpenDialog->selectedFiles().value(0).toStdString(), f);
    frmMain->OpenDialog->reject();
    QApplication::processEvents();
    EXPECT_EQ(SheetText(*frmMain->Sheet), translated);
    Open(f);
    EXPECT_EQ(SheetText(*frmMain->Sheet), translated);

    // A file it cannot read shows Open's error box.
    OpenWith(frmMain->actOpenPlain, dir.File("gone.plt"));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text.toStdString(), "Cannot open \"" + dir.File("gone.plt") + "\": No such file or directory.");
    EXPECT_EQ(Panel(0), "Objects: 0");
}

TEST_F(FormTest, TheBarMovesThePreviewAndTheViewDownByItsHeightAndBack)
{
    testfiles::TempDir dir;
    DesignSize();
    const TPlaces before = Places();
    Open(dir.Write("s.plt", kScaled));
    ASSERT_TRUE(BarShown());
    const QWidget* client = frmMain->centralWidget();
    // At every width the bar spans the preview's and the view's columns, and its text wraps
    // to that width: narrower, it grows.
    int last = 0;
    for (int width : {900, 331, frmMain->minimumWidth()}) {
        frmMain->resize(width, frmMain->height());
        QApplication::processEvents();
        const QRect bar = frmMain->MessageBar1->geometry();
        const int h = bar.height();
        EXPECT_EQ(bar, QRect(8, 32, client->width() - 16, h)) << width;
        EXPECT_GE(h, last) << width;
        last = h;
        EXPECT_EQ(frmMain->Label1->geometry(), before.Label.translated(0, h)) << width;
        EXPECT_EQ(frmMain->imgPreview->geometry(), before.Preview.translated(0, h)) << width;
        const QRect view = frmMain->imgView->geometry();
        EXPECT_EQ(view.topLeft(), QPoint(95, 32 + h)) << width;
        EXPECT_EQ(view.size(), TfrmMain::FitView(client->width() - 95 - 8, client->height() - 32 - h - 4)) << width;
        EXPECT_LE(view.bottom(), client->height() - 1) << width;
        // Drawn at that size: the frame's corners are black.
        EXPECT_EQ(frmMain->imgView->Surface().pixel(view.width() - 1, view.height() - 1), qRgb(0, 0, 0)) << width;
    }
    EXPECT_GT(last, frmMain->MessageBar1->HeightFor(900));

    DesignSize();
    EXPECT_EQ(frmMain->ActionToolBar1->geometry(), before.ToolBar);
    EXPECT_EQ(frmMain->StatusBar1->geometry(), before.StatusBar);
    QTest::mouseClick(frmMain->MessageBar1->btnClose, Qt::LeftButton);
    EXPECT_TRUE(Places() == before);
    EXPECT_EQ(frmMain->imgView->Surface().pixel(before.View.width() - 1, before.View.height() - 1), qRgb(0, 0, 0));
}
