#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QSignalSpy>
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
        const bool on =
            a == frmMain->actOpen || a == frmMain->actOpenPlain || a == frmMain->actAbout || a == frmMain->actExit;
        EXPECT_TRUE(EnabledEverywhere(a, on)) << a->text().toStdString();
    }
}

TEST_F(FormTest, MenusToolbarAndContextMenuInDesignOrder)
{
    EXPECT_EQ(Texts(frmMain->MainMenu1->actions()), (QStringList{"&File", "&Edit", "&Output", "&Help"}));
    EXPECT_EQ(Texts(frmMain->File1->actions()), (QStringList{"&Open...", "Open as plain HPGL\u2026", "&Save",
                                                             "Save &As...", "&Export as SVG...", "E&xit"}));
    const QStringList edit{"1/40 to 1/8", "Zoom &In", "Zoom &Out", "Zoom &Auto", "&Rotate", "&Mirror"};
    // Beyond the design, after a separator: the plot order, its travel, and how SVG text is read.
    EXPECT_EQ(Texts(frmMain->Edit1->actions()),
              edit + (QStringList{"|", "O&ptimise plot order", "Show pen-&up travel", "SVG text as single &strokes"}));
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
        const QSize fit =
            TfrmMain::FitView(frmMain->centralWidget()->width() - 95 - 8, frmMain->centralWidget()->height() - 32 - 4);
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

namespace {

// A sheet of `count` objects: a pen-up move, then pen-down moves along a zigzag in the frame.
void SetBigSheet(int count)
{
    frmMain->Sheet->Clear();
    frmMain->Sheet->Add(hkPU, 100, 100);
    for (int i = 1; i < count; ++i)
        frmMain->Sheet->Add(hkPD, 100 + (i % 2) * 1000, 100 + (i / 1000) % 1900);
    frmMain->Sheet->CalcExtents();
    frmMain->SetBusy(false);  // as after a load: the sheet's actions run
    frmMain->Redraw();
}

// The column's black pixels strictly inside the frame.
int InkInColumn(const QImage& image, int x, int height)
{
    int ink = 0;
    for (int y = 1; y < height - 1; ++y)
        ink += image.pixel(x, y) == qRgb(0, 0, 0);
    return ink;
}

// The view as the screen gets it at `ratio`: painted on a device of that ratio.
QImage ShownAt(QWidget* w, qreal ratio)
{
    QImage shown(QSize(qRound(w->width() * ratio), qRound(w->height() * ratio)), QImage::Format_RGB32);
    shown.setDevicePixelRatio(ratio);
    shown.fill(Qt::green);
    w->render(&shown);
    shown.setDevicePixelRatio(1);
    return shown;
}

}  // namespace

TEST_F(FormTest, ViewIsDrawnInDevicePixelsWithOnePixelLines)
{
    for (const qreal ratio : {1.0, 2.0, 3.0}) {
        SCOPED_TRACE(ratio);
        frmMain->imgView->resize(352, 501);
        frmMain->imgView->ForcedRatio = ratio;
        frmMain->imgPreview->ForcedRatio = ratio;
        SetSheet("PA0,1080;PD1520,1080;");  // across the frame, half way up
        const QSize device = frmMain->imgView->DeviceSize();
        EXPECT_EQ(device, QSize(qRound(352 * ratio), qRound(501 * ratio)));
        const QImage& surface = frmMain->imgView->Surface();
        ASSERT_GE(surface.width(), device.width());
        ASSERT_GE(surface.height(), device.height());
        // The frame and the line are one device pixel wide, whatever the ratio.
        EXPECT_EQ(surface.pixel(0, device.height() / 3), qRgb(0, 0, 0));
        EXPECT_EQ(surface.pixel(1, device.height() / 3), qRgb(255, 255, 255));
        EXPECT_EQ(surface.pixel(device.width() - 1, device.height() - 1), qRgb(0, 0, 0));
        EXPECT_EQ(InkInColumn(surface, device.width() / 3, device.height()), 1);
        // The screen gets those pixels one to one, not the picture of a smaller surface.
        const QImage shown = ShownAt(frmMain->imgView, ratio);
        EXPECT_EQ(shown, surface.copy(QRect(QPoint(0, 0), device)));
        // The preview likewise: the paper's right edge lies at the same place in logical pixels.
        const QImage& preview = frmMain->imgPreview->Picture;
        EXPECT_EQ(frmMain->imgPreview->DeviceSize(), QSize(qRound(81 * ratio), qRound(113 * ratio)));
        EXPECT_EQ(preview.pixel(qRound(40 * ratio), qRound(50 * ratio)), qRgb(255, 255, 255));
        EXPECT_NE(preview.pixel(qRound(80 * ratio), qRound(50 * ratio)), qRgb(255, 255, 255));
    }
}

TEST_F(FormTest, DragMapsTheMouseInLogicalPixelsAtAnyRatio)
{
    for (const qreal ratio : {1.0, 2.0}) {
        SetSheet("PA0,0;PD100,100;");
        frmMain->imgView->resize(352, 501);
        frmMain->imgView->ForcedRatio = ratio;
        QTest::mousePress(frmMain->imgView, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
        QTest::mouseMove(frmMain->imgView, QPoint(110, 195));
        QTest::mouseRelease(frmMain->imgView, Qt::LeftButton, Qt::NoModifier, QPoint(110, 195));
        EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 43 21|PD 143 121") << ratio;
    }
}

TEST_F(FormTest, AViewDrawnForAnotherRatioIsDrawnAgain)
{
    SetSheet("PA0,1080;PD1520,1080;");
    const QSize before = frmMain->imgView->DeviceSize();
    frmMain->imgView->ForcedRatio = 2;
    frmMain->imgView->grab();  // a paint notices the picture is for another ratio
    const QImage& p = frmMain->imgView->Picture;
    const QPoint corner(before.width() * 2 - 1, before.height() * 2 - 1);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return p.rect().contains(corner) && p.pixel(corner) == qRgb(0, 0, 0) &&
               p.pixel(corner - QPoint(1, 1)) == qRgb(255, 255, 255);
    }));
    EXPECT_EQ(InkInColumn(p, before.width(), before.height() * 2), 1);
}

TEST_F(FormTest, SheetActionsOnAHugeSheetShowTheWaitCursor)
{
    QAction* const actions[] = {frmMain->act7475,     frmMain->actZoomIn, frmMain->actZoomOut,
                                frmMain->actZoomAuto, frmMain->actRotate, frmMain->actMirror};
    for (const int count : {TfrmMain::HugeSheetObjects, TfrmMain::HugeSheetObjects + 1}) {
        SetBigSheet(count);
        for (QAction* a : actions) {
            // The drawing that follows the transform reports progress: the cursor then is
            // what the person sees while the window cannot answer.
            std::vector<int> shapes;
            frmMain->Sheet->OnDrawProgress = [&] {
                const QCursor* c = QApplication::overrideCursor();
                shapes.push_back(c ? c->shape() : -1);
            };
            a->trigger();
            frmMain->Sheet->OnDrawProgress = nullptr;
            ASSERT_FALSE(shapes.empty()) << a->text().toStdString();
            const int expected = count > TfrmMain::HugeSheetObjects ? Qt::WaitCursor : -1;
            EXPECT_EQ(shapes, std::vector<int>(shapes.size(), expected)) << a->text().toStdString() << " " << count;
            EXPECT_EQ(QApplication::overrideCursor(), nullptr) << a->text().toStdString();
        }
    }
}

TEST_F(FormTest, DragOnAHugeSheetMovesThePictureAndDrawsWhenTheMouseRests)
{
    frmMain->imgView->resize(352, 501);
    SetBigSheet(TfrmMain::HugeSheetObjects + 1);
    int draws = 0;
    std::vector<int> shapes;
    frmMain->Sheet->OnDrawProgress = [&] {
        ++draws;
        const QCursor* c = QApplication::overrideCursor();
        shapes.push_back(c ? c->shape() : -1);
    };
    QWidget* v = frmMain->imgView;
    QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
    QTest::mouseMove(v, QPoint(110, 195));
    QTest::mouseMove(v, QPoint(120, 190));
    // The sheet follows every step, as on a small sheet; the view only moves its picture.
    EXPECT_EQ(frmMain->Sheet->First->P1, 100 + 2 * 43);
    EXPECT_EQ(frmMain->Sheet->First->P2, 100 + 2 * 21);
    EXPECT_EQ(Panel(1).rfind("HPGL size: min=186,142", 0), 0u) << Panel(1);
    EXPECT_EQ(frmMain->imgView->Offset(), QPoint(20, -10));
    EXPECT_EQ(draws, 0);
    // The mouse rests: the view is drawn, under the wait cursor, and stands still again.
    EXPECT_TRUE(QTest::qWaitFor([&] { return frmMain->imgView->Offset().isNull(); }));
    EXPECT_GT(draws, 0);
    EXPECT_EQ(shapes, std::vector<int>(shapes.size(), int(Qt::WaitCursor)));
    // A release draws at once.
    draws = 0;
    QTest::mouseMove(v, QPoint(130, 190));
    EXPECT_EQ(frmMain->imgView->Offset(), QPoint(10, 0));
    QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(130, 190));
    EXPECT_TRUE(frmMain->imgView->Offset().isNull());
    EXPECT_GT(draws, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    frmMain->Sheet->OnDrawProgress = nullptr;
}

TEST_F(FormTest, DragOnASmallSheetDrawsEveryStep)
{
    SetSheet("PA0,1080;PD1520,1080;");
    frmMain->imgView->resize(352, 501);
    frmMain->Redraw();
    const int row = [] {
        for (int y = 1; y < 500; ++y)
            if (frmMain->imgView->Picture.pixel(100, y) == qRgb(0, 0, 0))
                return y;
        return -1;
    }();
    ASSERT_GT(row, 0);
    QTest::mousePress(frmMain->imgView, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
    QTest::mouseMove(frmMain->imgView, QPoint(100, 190));
    EXPECT_TRUE(frmMain->imgView->Offset().isNull());
    EXPECT_EQ(frmMain->imgView->Picture.pixel(100, row - 10), qRgb(0, 0, 0));
    QTest::mouseRelease(frmMain->imgView, Qt::LeftButton, Qt::NoModifier, QPoint(100, 190));
}

TEST_F(FormTest, ShortcutsTriggerTheirActions)
{
    struct Row {
        QKeySequence keys;
        QAction* action;
    };
    const Row rows[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), frmMain->actZoomIn},
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), frmMain->actZoomIn},
        {QKeySequence(Qt::CTRL | Qt::Key_Minus), frmMain->actZoomOut},
        {QKeySequence(Qt::CTRL | Qt::Key_S), frmMain->actSave},
        {QKeySequence(Qt::CTRL | Qt::Key_O), frmMain->actOpen},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), frmMain->actExit},  // last: it closes the window
    };
    SetSheet("PA0,0;PD100,100;");
    frmMain->SetBusy(false);
    for (const Row& r : rows) {
        QApplication::setActiveWindow(frmMain);
        ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
        QSignalSpy spy(r.action, &QAction::triggered);
        QTest::keySequence(frmMain, r.keys);
        EXPECT_EQ(spy.count(), 1) << r.keys.toString().toStdString();
        frmMain->OpenDialog->reject();
        frmMain->SaveDialog->reject();
    }
    EXPECT_FALSE(frmMain->isVisible());
}

TEST_F(FormTest, AboutBoxAndVersionOptionShowTheProjectVersion)
{
    EXPECT_EQ(VersionNumber(), GRAFONEL_VERSION);
    EXPECT_EQ(frmAbout->Label2->text(), "v " + VersionNumber());
    EXPECT_EQ(VersionText(), "grafonel " + VersionNumber() + "\n");
}
