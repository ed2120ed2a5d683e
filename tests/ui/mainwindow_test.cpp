#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <stdexcept>

#include "formfixture.h"
#include "sheet/frame.h"
#include "sheettext.h"

namespace {

bool EnabledEverywhere(QAction* a, bool enabled)
{
    bool ok = a->isEnabled() == enabled;
    if (QWidget* button = frmMain->ActionToolBar1->widgetForAction(a))
        ok = ok && button->isEnabled() == enabled;
    return ok;
}

QStringList Texts(const QList<QAction*>& actions)
{
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return out;
}

void SetSheet(const std::string& hpgl)
{
    frmMain->Sheet->Clear();
    LoadText(*frmMain->Sheet, hpgl);
    frmMain->Redraw();
}

}  // namespace

TEST_F(FormTest, StartsFreshWithFourActionsAndEmptyStatus)
{
    EXPECT_EQ(frmMain->windowTitle(), "Grafonel");
    EXPECT_EQ(Panel(0), "Objects: 0");
    EXPECT_EQ(Panel(1), "HPGL size: min=0,0 max=0,0");
    EXPECT_FALSE(frmMain->Dragging);
    for (QAction* a : frmMain->Actions()) {
        const bool on = a == frmMain->actOpen || a == frmMain->actOpenPlain || a == frmMain->actAbout ||
                        a == frmMain->actExit;
        EXPECT_TRUE(EnabledEverywhere(a, on)) << a->text().toStdString();
    }
}

TEST_F(FormTest, MenusToolbarAndContextMenuInDesignOrder)
{
    EXPECT_EQ(Texts(frmMain->MainMenu1->actions()), (QStringList{"&File", "&Edit", "&Output", "&Help"}));
    EXPECT_EQ(Texts(frmMain->File1->actions()), (QStringList{"&Open...", "Open as plain HPGL\u2026", "Save &As...",
                                                             "&Export as SVG...", "E&xit"}));
    const QStringList edit{"1/40 to 1/8", "Zoom &In", "Zoom &Out", "Zoom &Auto", "&Rotate", "&Mirror"};
    // Beyond the design, after a separator: the plot order and its travel.
    EXPECT_EQ(Texts(frmMain->Edit1->actions()),
              edit + (QStringList{"|", "O&ptimise plot order", "Show pen-&up travel"}));
    EXPECT_EQ(Texts(frmMain->PopupMenuImg->actions()), edit);
    EXPECT_EQ(Texts(frmMain->Output1->actions()), (QStringList{"Ostr&el ...", "&Print ..."}));
    EXPECT_EQ(Texts(frmMain->Help1->actions()), (QStringList{"&About"}));
    EXPECT_EQ(Texts(frmMain->ActionToolBar1->actions()),
              (QStringList{"&Open...", "Save &As...", "|", "Zoom &In", "Zoom &Out", "Zoom &Auto", "&Rotate", "&Mirror",
                           "|", "Ostr&el ...", "&Print ..."}));
    EXPECT_EQ(frmMain->actOpen->toolTip(), "Open");
    EXPECT_EQ(frmMain->actExit->toolTip(), "Exit");
    EXPECT_EQ(frmMain->act7475->toolTip(), "size modify: from plotter HP7475 to Minigraf format");
    EXPECT_EQ(frmMain->actOpen->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    // Glyphs on the toolbar only.
    EXPECT_FALSE(frmMain->actZoomIn->icon().isNull());
    EXPECT_FALSE(frmMain->actZoomIn->isIconVisibleInMenu());
    EXPECT_TRUE(frmMain->act7475->icon().isNull());
}

TEST_F(FormTest, SizePanelShowsSignedExtents)
{
    frmMain->Sheet->XMin = -500;
    frmMain->Sheet->YMin = 100;
    frmMain->Sheet->XMax = 3000;
    frmMain->Sheet->YMax = 1000;
    frmMain->ShowSize();
    EXPECT_EQ(Panel(1), "HPGL size: min=-500,100 max=3000,1000");
}

TEST_F(FormTest, ViewKeepsFrameProportionWithTheBindingSideFull)
{
    EXPECT_EQ(TfrmMain::FitView(395, 501), QSize(352, 501));  // height binds
    EXPECT_EQ(TfrmMain::FitView(295, 701), QSize(295, 419));  // width binds
    EXPECT_EQ(TfrmMain::FitView(1520, 2160), QSize(1520, 2160));
    for (QSize outer : {QSize(500, 600), QSize(400, 800), QSize(1200, 500), QSize(267, 330)}) {
        frmMain->resize(outer);
        QApplication::processEvents();
        const QRect v = frmMain->imgView->geometry();
        EXPECT_EQ(v.topLeft(), QPoint(95, 32));
        // Clear of the right edge and of the status bar.
        EXPECT_LE(v.right(), frmMain->centralWidget()->width() - 1);
        EXPECT_LE(v.bottom(), frmMain->centralWidget()->height() - 1);
        const QSize fit = TfrmMain::FitView(frmMain->centralWidget()->width() - 95 - 8,
                                            frmMain->centralWidget()->height() - 32 - 4);
        EXPECT_EQ(v.size(), fit);
        EXPECT_EQ(frmMain->imgView->Surface().pixel(0, 0), qRgb(0, 0, 0));
        EXPECT_EQ(frmMain->imgView->Surface().pixel(v.width() - 1, v.height() - 1), qRgb(0, 0, 0));
    }
}

TEST_F(FormTest, PreviewShowsPaperAndExtents)
{
    const QImage& p = frmMain->imgPreview->Picture;
    const QRgb face = frmMain->palette().color(QPalette::Button).rgb();
    // Empty sheet: the window is 0..1548 x 0..2160, the paper (0,113)-(79,0).
    EXPECT_EQ(p.pixel(40, 50), qRgb(255, 255, 255));
    EXPECT_EQ(p.pixel(77, 2), qRgb(255, 255, 255));
    EXPECT_EQ(p.pixel(78, 2), face);  // the right edge is the last column, 79 left out
    EXPECT_EQ(p.pixel(80, 50), face);
    EXPECT_EQ(p.pixel(0, 0), face);  // the paper's outline is button face

    frmMain->Sheet->XMin = -500;
    frmMain->Sheet->XMax = 3000;
    frmMain->Sheet->YMin = 100;
    frmMain->Sheet->YMax = 1000;
    frmMain->DrawPreview();
    // Paper (11,113)-(46,64); extents (0,111)-(81,90), an outline only.
    EXPECT_EQ(p.pixel(30, 80), qRgb(255, 255, 255));
    EXPECT_EQ(p.pixel(60, 70), face);
    EXPECT_EQ(p.pixel(0, 100), qRgb(255, 0, 0));
    EXPECT_EQ(p.pixel(40, 90), qRgb(255, 0, 0));
    EXPECT_EQ(p.pixel(40, 110), qRgb(255, 0, 0));
    EXPECT_EQ(p.pixel(40, 100), qRgb(255, 255, 255));  // inside: the paper shows through
    EXPECT_EQ(p.pixel(60, 100), face);
    EXPECT_EQ(p.pixel(60, 110), qRgb(255, 0, 0));
    EXPECT_EQ(p.pixel(60, 111), face);  // bottom edge left out
}

TEST_F(FormTest, DragShiftsByTruncatedFrameUnitsWithoutCarry)
{
    SetSheet("PA0,0;PD100,100;");
    frmMain->imgView->resize(352, 501);
    QWidget* v = frmMain->imgView;
    QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
    EXPECT_TRUE(frmMain->Dragging);
    QTest::mouseMove(v, QPoint(110, 195));
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 43 21|PD 143 121");
    EXPECT_EQ(Panel(1), "HPGL size: min=43,21 max=143,121");
    EXPECT_EQ(Panel(0), "Objects: 2");
    QTest::mouseMove(v, QPoint(109, 195));  // one pixel left: -4, not -5
    EXPECT_EQ(frmMain->Sheet->First->P1, 39);
    // Outside the view the drag goes on, in view coordinates.
    QTest::mouseMove(v, QPoint(-100, 195));
    EXPECT_EQ(frmMain->Sheet->First->P1, 39 + (-209 * 1520) / 352);
    QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(-100, 195));
    EXPECT_FALSE(frmMain->Dragging);
    const std::string after = SheetText(*frmMain->Sheet);
    QTest::mouseMove(v, QPoint(10, 10));
    EXPECT_EQ(SheetText(*frmMain->Sheet), after);
}

TEST_F(FormTest, DragNeedsLeftButtonAndWidth)
{
    SetSheet("PA10,0;PD10,500;");  // XMin == XMax: a vertical line cannot be dragged
    QTest::mousePress(frmMain->imgView, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_FALSE(frmMain->Dragging);
    QTest::mouseRelease(frmMain->imgView, Qt::LeftButton);
    SetSheet("PA10,0;PD20,500;");
    frmMain->imgViewMouseDown(Qt::MiddleButton, 5, 5);
    EXPECT_FALSE(frmMain->Dragging);
    frmMain->imgViewMouseDown(Qt::LeftButton, 5, 5);
    EXPECT_TRUE(frmMain->Dragging);
    frmMain->imgViewMouseUp(Qt::RightButton, 5, 5);  // any button ends it
    EXPECT_FALSE(frmMain->Dragging);
}

TEST_F(FormTest, EditActionsChangeTheSheetAndRedrawBothPanels)
{
    struct Case {
        QAction* action;
        const char* before;
        const char* after;
        const char* size;
    };
    const Case cases[] = {
        {frmMain->act7475, "PA1000,-7;PD1003,0;", "PA 200 -1|PD 200 0", "HPGL size: min=200,-1 max=200,0"},
        {frmMain->actZoomIn, "PA100,0;PD0,10;", "PA 114 0|PD 0 11", "HPGL size: min=0,0 max=114,11"},
        {frmMain->actZoomOut, "PA114,0;PD0,10;", "PA 99 0|PD 0 8", "HPGL size: min=0,0 max=99,8"},
        {frmMain->actZoomAuto, "PA500,0;PD3500,1000;", "PA 0 0|PD 1520 506", "HPGL size: min=0,0 max=1520,506"},
        {frmMain->actRotate, "PA0,0;PD100,50;", "PA 50 0|PD 0 100", "HPGL size: min=0,0 max=50,100"},
        {frmMain->actMirror, "PA10,5;PD110,5;", "PA 110 5|PD 10 5", "HPGL size: min=10,5 max=110,5"},
    };
    for (const auto& c : cases) {
        SetSheet(c.before);
        frmMain->SetBusy(false);
        c.action->trigger();
        EXPECT_EQ(SheetText(*frmMain->Sheet), c.after) << c.action->text().toStdString();
        EXPECT_EQ(Panel(1), c.size);
        EXPECT_EQ(Panel(0), "Objects: 2");
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, ZoomAutoOnAPointLeavesItUnscaled)
{
    SetSheet("PA300,400;PD300,400;");
    frmMain->actZoomAutoExecute();
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 0 0|PD 0 0");
}

TEST_F(FormTest, RefusedTransformSaysSoInSizePanelWithoutErrorBox)
{
    SetSheet("PA2147483000,0;PD0,0;");
    const std::string before = SheetText(*frmMain->Sheet);
    frmMain->actZoomInExecute();
    EXPECT_EQ(SheetText(*frmMain->Sheet), before);
    EXPECT_NE(Panel(1).find("Zoom In refused"), std::string::npos);
    EXPECT_TRUE(Boxes.empty());
    frmMain->Redraw();
    EXPECT_EQ(Panel(1), "HPGL size: min=0,0 max=2147483000,0");
}

TEST_F(FormTest, ErrorBoxTitleAndTextRule)
{
    EXPECT_EQ(ErrorBoxText("Disk full"), "Disk full.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Really!"), "Really!");  // '!' sorts before '.'
    EXPECT_EQ(ErrorBoxText("code 7"), "code 7.");
    EXPECT_EQ(ErrorBoxText("(x)"), "(x)");
    EXPECT_EQ(ErrorBoxText(""), "");
    EXPECT_EQ(ErrorBoxTitle(), "ui_tests");  // the first letter keeps its case
}

TEST_F(FormTest, ExceptionInAHandlerShowsTheBoxAndTheProgramCarriesOn)
{
    QTimer::singleShot(0, [] { throw std::runtime_error("Port busy"); });
    QTimer::singleShot(0, [] { throw 42; });
    QApplication::processEvents();
    QApplication::processEvents();
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, "Port busy.");
    EXPECT_EQ(Boxes[0].Title, ErrorBoxTitle());
    EXPECT_EQ(Boxes[1].Text, "");
    // Still working afterwards.
    frmMain->actZoomInExecute();
    EXPECT_EQ(Panel(0), "Objects: 0");
}

TEST_F(FormTest, AboutBoxIgnoresEscapeAndClosesOnEnter)
{
    frmAbout->show();
    QApplication::processEvents();
    EXPECT_EQ(frmAbout->windowTitle(), "About");
    EXPECT_EQ(frmAbout->Label1->text(), "Grafonel for print and edit HPGL sheet");
    EXPECT_EQ(frmAbout->Label3->text(), "PA, PR, PU, PD, CI, ER, SP, AA");
    EXPECT_TRUE(frmAbout->btnOk->isDefault());
    QTest::keyClick(frmAbout, Qt::Key_Escape);
    EXPECT_TRUE(frmAbout->isVisible());
    QTest::keyClick(frmAbout, Qt::Key_Return);
    EXPECT_FALSE(frmAbout->isVisible());
}
