#include <gtest/gtest.h>

#include <QPrinter>
#include <QRegularExpression>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "formfixture.h"
#include "import/drawing.h"
#include "runcommand.h"
#include "sheettext.h"
#include "testfiles.h"

TEST_F(FormTest, OpeningBReplacesA)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;PD2,2;PD3,3;"));
    EXPECT_EQ(Panel(0), "Objects: 3");
    Open(dir.Write("b.plt", "PA-500,100;PD3000,1000;"));
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA -500 100|PD 3000 1000");
    EXPECT_EQ(Panel(0), "Objects: 2");
    EXPECT_EQ(Panel(1), "HPGL size: min=-500,100 max=3000,1000");
    for (QAction* a : frmMain->Actions())
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, CancellingTheOpenDialogChangesNothing)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    frmMain->actOpen->trigger();
    ASSERT_TRUE(frmMain->OpenDialog->isVisible());
    // The dialog offers the last accepted name again.
    EXPECT_EQ(frmMain->OpenDialog->selectedFiles().value(0).toStdString(), dir.File("a.plt"));
    frmMain->OpenDialog->reject();
    QApplication::processEvents();
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 1 1");
    EXPECT_EQ(frmMain->OpenFileName.toStdString(), dir.File("a.plt"));
}

TEST_F(FormTest, OpenFilterOffersDrawingsAfterPlotFiles)
{
    const QStringList filters = frmMain->OpenDialog->nameFilters();
    ASSERT_EQ(filters.size(), 5);
    EXPECT_TRUE(filters[0].startsWith("All drawings (")) << filters[0].toStdString();
    EXPECT_EQ(filters.mid(1), (QStringList{"plot files (*.plt *.hpgl *.gfn)", "drawings (*.svg *.svgz)",
                                           "text files (*.txt)", "all files (*)"}));
    EXPECT_EQ(frmMain->SaveDialog->nameFilters(), QStringList{"plot file (*.plt)"});
    EXPECT_EQ(frmMain->SaveDialog->defaultSuffix(), "plt");
}

TEST_F(FormTest, MissingFileLeavesEmptySheetAllActionsAndAnErrorBox)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    Open(dir.File("gone.plt"));
    EXPECT_EQ(Panel(0), "Objects: 0");
    EXPECT_EQ(Panel(1), "HPGL size: min=0,0 max=0,0");
    for (QAction* a : frmMain->Actions())
        EXPECT_TRUE(a->isEnabled());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.indexOf(QString::fromStdString(dir.File("gone.plt"))), -1);
    EXPECT_NE(Boxes[0].Text.indexOf("No such file or directory"), -1);
}

TEST_F(FormTest, SaveAsWritesTheChangedCoordinatesAndAddsPlt)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA100,0;PD0,10;"));
    frmMain->actZoomIn->trigger();
    frmMain->imgViewMouseDown(Qt::LeftButton, 0, 0);
    frmMain->imgViewMouseMove(frmMain->imgView->width(), 0);  // one frame width to the right
    frmMain->imgViewMouseUp(Qt::LeftButton, 0, 0);
    frmMain->actRotate->trigger();
    SaveAs(dir.File("out"));
    EXPECT_EQ(testfiles::ReadAll(dir.File("out.plt")), "PA 1531 114\r\nPD 1520 0\r\n");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, FailedSaveShowsTheReasonAndKeepsTheOldFile)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    SaveAs(dir.File("missing/out.plt"));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.indexOf("out.plt"), -1);
    EXPECT_NE(Boxes[0].Text.indexOf("No such file or directory"), -1);
    // Replacing a file through a folder the save cannot write into leaves it intact.
    if (::geteuid() != 0) {
        auto keep = dir.Write("keep.plt", "precious");
        ::chmod(dir.Path.c_str(), 0555);
        SaveAs(keep);
        ::chmod(dir.Path.c_str(), 0755);
        EXPECT_EQ(testfiles::ReadAll(keep), "precious");
        EXPECT_EQ(Boxes.size(), 2u);
    }
}

TEST_F(FormTest, OpensAnSvgDrawingAsPenMoves)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    Open(dir.Write("d.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10mm\" height=\"10mm\">"
                            "<path stroke=\"blue\" fill=\"none\" d=\"M0 0 L37.795 37.795\"/></svg>"));
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA|SP 1|PU 0 80|PD 80 0");
    EXPECT_EQ(Panel(0), "Objects: 4");
    EXPECT_EQ(Panel(1), "HPGL size: min=0,0 max=80,80");
    EXPECT_TRUE(frmMain->actExportSvg->isEnabled());
}

TEST_F(FormTest, UnreadableDrawingShowsTheReasonAndLeavesAnEmptySheet)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    Open(dir.Write("bad.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><g>"));
    EXPECT_EQ(Panel(0), "Objects: 0");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.indexOf("bad.svg"), -1);
    EXPECT_NE(Boxes[0].Text.indexOf("not a readable SVG drawing: line 1"), -1) << Boxes[0].Text.toStdString();
    for (QAction* a : frmMain->Actions())
        EXPECT_TRUE(a->isEnabled());
}

TEST_F(FormTest, ExportAsSvgWritesTheSheetThatOpensAgain)
{
    testfiles::TempDir dir;
    EXPECT_FALSE(frmMain->actExportSvg->isEnabled());  // nothing to export before a file is open
    Open(dir.Write("a.plt", "SP2;PU100,200;PD300,400;PD300,200;"));
    ExportSvg(dir.File("out"));
    EXPECT_TRUE(Boxes.empty());
    const std::string svg = testfiles::ReadAll(dir.File("out.svg"));
    EXPECT_NE(svg.find("<path stroke=\"#ff0000\" d=\"M100 1960L300 1760L300 1960\"/>"), std::string::npos) << svg;
    Open(dir.File("out.svg"));
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA|SP 1|PU 100 200|PD 300 400|PD 300 200");
    ExportSvg(dir.File("missing/out.svg"));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.indexOf("No such file or directory"), -1);
}

TEST_F(FormTest, PrintJobIsNamedAfterTheOpenedFileNotTheSavedOne)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA0,0;PD1520,2160;"));
    SaveAs(dir.File("b.plt"));
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.File("job.pdf")));
    frmMain->PrintSheet(printer);
    EXPECT_EQ(printer.docName().toStdString(), "Grafonel sheet " + dir.File("a.plt"));
}

TEST_F(FormTest, PrintedPageHasTheFrameStretchedOverIt)
{
    if (RunCommand("command -v pdftoppm").Status != 0)
        GTEST_SKIP() << "pdftoppm not installed";
    testfiles::TempDir dir;
    // A box along the frame's edges, just inside, and nothing else.
    Open(dir.Write("box.plt", "PU5,5;PD1515,5;PD1515,2155;PD5,2155;PD5,5;"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);  // not the frame's proportion
    printer.setOutputFileName(QString::fromStdString(dir.File("p.pdf")));
    frmMain->PrintSheet(printer);
    const QRectF paint = printer.pageLayout().paintRect(QPageLayout::Inch);
    ASSERT_EQ(RunCommand("pdfinfo " + Quote(dir.File("p.pdf")) + " | grep -q 'Pages: *1$'").Status, 0);
    ASSERT_EQ(RunCommand("pdftoppm -r 40 -gray -png " + Quote(dir.File("p.pdf")) + " " + Quote(dir.File("pg"))).Status,
              0);
    QImage page(QString::fromStdString(dir.File("pg-1.png")));
    ASSERT_FALSE(page.isNull());
    auto dark = [&](double xin, double yin) {
        // Any ink within two pixels of the given point, in inches from the page's corner.
        const int cx = static_cast<int>(xin * 40), cy = static_cast<int>(yin * 40);
        for (int y = cy - 2; y <= cy + 2; ++y)
            for (int x = cx - 2; x <= cx + 2; ++x)
                if (page.rect().contains(x, y) && qGray(page.pixel(x, y)) < 160)
                    return true;
        return false;
    };
    // The four corners of the box sit at the corners of the printable area, stretched
    // independently in x and y.
    EXPECT_TRUE(dark(paint.left(), paint.top()));
    EXPECT_TRUE(dark(paint.right(), paint.top()));
    EXPECT_TRUE(dark(paint.left(), paint.bottom()));
    EXPECT_TRUE(dark(paint.right(), paint.bottom()));
    EXPECT_FALSE(dark(paint.center().x(), paint.center().y()));
}

TEST_F(FormTest, LoadKeepsTheWindowResponsiveAndShowsProgress)
{
    testfiles::TempDir dir;
    std::string big;
    for (int i = 0; big.size() < (40u << 20); ++i)
        big += "PU" + std::to_string(i % 1500) + "," + std::to_string(i % 2000) + ";PD10,10,20,20,30,30;\n";
    auto f = dir.Write("big.plt", big);
    big.clear();
    int ticksDuringLoad = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!frmMain->StatusPanel1->text().startsWith("Loading"))
            return;
        ++ticksDuringLoad;
        // Sheet actions stay disabled while a load runs; About and Exit stay available.
        EXPECT_FALSE(frmMain->actZoomIn->isEnabled());
        EXPECT_FALSE(frmMain->actOpen->isEnabled());
        EXPECT_FALSE(frmMain->actOpenPlain->isEnabled());
        EXPECT_TRUE(frmMain->actAbout->isEnabled());
        EXPECT_TRUE(frmMain->actExit->isEnabled());
    });
    timer.start();
    const auto start = std::chrono::steady_clock::now();
    Open(f);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timer.stop();
    EXPECT_TRUE(frmMain->actZoomIn->isEnabled());
    EXPECT_GT(frmMain->Sheet->Count(), 1000000);
    // Events are processed at least every 50 ms while a load lasts.
    if (seconds > 0.2) {
        EXPECT_GE(ticksDuringLoad, 1);
    }
    EXPECT_EQ(Panel(0).rfind("Objects: ", 0), 0u);
}

namespace {

// Whether a name filter ("label (*.a *.b)") lets the name through, matching by case as the
// desktop's dialogs do.
bool FilterPasses(const QString& filter, const QString& name)
{
    const qsizetype open = filter.lastIndexOf('('), close = filter.lastIndexOf(')');
    for (const QString& pattern : filter.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts))
        if (QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(name).hasMatch())
            return true;
    return false;
}

// A drawing of one stroke, 10 mm by 10 mm.
constexpr const char* kLineSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10mm\" height=\"10mm\">"
                                 "<path stroke=\"blue\" fill=\"none\" d=\"M0 0 L37.795 37.795\"/></svg>";

std::string Title()
{
    return frmMain->windowTitle().toStdString();
}

}  // namespace

TEST_F(FormTest, AllDrawingsComesFirstAndTakesEitherCase)
{
    const QString all = frmMain->OpenDialog->nameFilters().value(0);
    EXPECT_EQ(frmMain->OpenDialog->selectedNameFilter(), all);
    for (const char* name : {"a.plt", "A.PLT", "b.hpgl", "B.HPGL", "c.hpg", "C.HPG", "d.hp", "D.HP", "e.gfn", "E.GFN",
                             "f.spl", "F.SPL", "g.svg", "G.SVG", "h.svgz", "H.SVGZ", "two.dots.plt"})
        EXPECT_TRUE(FilterPasses(all, name)) << name;
    for (const char* name : {"a.txt", "a.pltx", "plt", "a.png", "a.svg.bak"})
        EXPECT_FALSE(FilterPasses(all, name)) << name;
}

TEST_F(FormTest, TitleNamesTheFileTheSheetCameFrom)
{
    testfiles::TempDir dir;
    EXPECT_EQ(Title(), "Grafonel");
    Open(dir.Write("a.plt", "PA1,1;PD2,2;"));
    EXPECT_EQ(Title(), "a.plt \u2014 Grafonel");
    Open(dir.Write("d.svg", kLineSvg));
    EXPECT_EQ(Title(), "d.svg \u2014 Grafonel");
    SaveAs(dir.File("saved"));
    EXPECT_EQ(Title(), "saved.plt \u2014 Grafonel");
    frmMain->OpenFile(QString::fromStdString(dir.File("gone.plt")));  // nothing read: no file behind the sheet
    EXPECT_EQ(Title(), "Grafonel");
}

// Save writes over the file only when it holds what the sheet holds; otherwise it offers
// Save As with the .plt of the same name, and the original stays as it was.
TEST_F(FormTest, SaveWritesOverOnlyAPlainHpglFile)
{
    struct Row {
        const char* name;
        const char* text;
        bool plain;  // Open as plain HPGL
        bool overwrites;
        const char* suggested;  // the Save As dialog's name, when it opens
    };
    const Row rows[] = {
        {"a.plt", "PA100,0;PD0,10;", false, true, nullptr},
        {"b.hpgl", "IN;SP1;PA100,0;PD0,10;", false, true, nullptr},
        {"c.plt", "PA100,0;EA200,200;", false, false, "c.plt"},  // translated
        {"d.plt", "PA100,0;PD0,10;", true, false, "d.plt"},      // steps over what it cannot read
        {"e.svg", kLineSvg, false, false, "e.plt"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testfiles::TempDir dir;
        const std::string file = dir.Write(r.name, r.text);
        // As the open dialog's two actions load: each row's dialog would start in the folder
        // of the last row, which is gone.
        frmMain->LoadFile(QString::fromStdString(file), r.plain ? TPlotReading::Plain : TPlotReading::Translate);
        frmMain->actZoomIn->trigger();
        const std::string sheet = SheetText(*frmMain->Sheet);
        frmMain->actSave->trigger();
        QApplication::processEvents();
        EXPECT_EQ(frmMain->SaveDialog->isVisible(), !r.overwrites);
        if (r.overwrites) {
            frmMain->Sheet->Clear();
            LoadPlotFile(*frmMain->Sheet, file);
            EXPECT_EQ(SheetText(*frmMain->Sheet), sheet);
        } else {
            EXPECT_EQ(testfiles::ReadAll(file), r.text);
            EXPECT_EQ(frmMain->SaveDialog->selectedFiles().value(0).toStdString(), dir.File(r.suggested));
            // Offered its own name, a translated file is replaced only after a question.
            EXPECT_EQ(frmMain->SaveDialog->testOption(QFileDialog::DontConfirmOverwrite),
                      dir.File(r.suggested) != file);
            frmMain->SaveDialog->reject();
        }
        EXPECT_TRUE(Boxes.empty()) << Boxes.front().Text.toStdString();
    }
}

TEST_F(FormTest, SaveAfterSaveAsWritesTheSavedFile)
{
    testfiles::TempDir dir;
    const std::string svg = dir.Write("d.svg", kLineSvg);
    Open(svg);
    const std::string original = testfiles::ReadAll(svg);
    SaveAs(dir.File("out"));
    frmMain->actMirror->trigger();
    frmMain->actSave->trigger();
    EXPECT_FALSE(frmMain->SaveDialog->isVisible());
    EXPECT_EQ(testfiles::ReadAll(dir.File("out.plt")), "PA\r\nSP 1\r\nPU 80 80\r\nPD 0 0\r\n");
    EXPECT_EQ(testfiles::ReadAll(svg), original);
    // With no file behind the sheet, Save asks for a name.
    frmMain->OpenFile(QString::fromStdString(dir.File("gone.plt")));
    Boxes.clear();
    frmMain->actSave->trigger();
    EXPECT_TRUE(frmMain->SaveDialog->isVisible());
    frmMain->SaveDialog->reject();
}

TEST_F(FormTest, AFileWithoutDrawingCommandsSaysSoAndLeavesTheSheetEmpty)
{
    const std::string binary("\x7f"
                             "ELF\x02\x01\x01\x00\x00\x00\xff\xfe\x10\x80PZ\x01",
                             18);
    const std::string texts[] = {binary, "Dear plotter,\nplease draw nothing.\n", "IN;SP1;", ""};
    for (const std::string& text : texts) {
        for (const bool started : {false, true}) {  // the dialog; a drop or the command line
            testfiles::TempDir dir;
            Open(dir.Write("a.plt", "PA1,1;PD2,2;"));
            const std::string file = dir.Write("nothing.plt", text);
            if (started)
                frmMain->OpenFile(QString::fromStdString(file));
            else
                Open(file);
            EXPECT_EQ(Panel(0), "Objects: 0") << text;
            EXPECT_FALSE(frmMain->MessageBar1->isHidden()) << text;
            EXPECT_EQ(frmMain->MessageBar1->lblText->text(), "no drawing commands found in nothing.plt");
            EXPECT_EQ(Title(), "Grafonel");
            EXPECT_TRUE(Boxes.empty());
            // The next file that draws takes the message away.
            Open(dir.File("a.plt"));
            EXPECT_TRUE(frmMain->MessageBar1->isHidden());
        }
    }
}

// A drawing that holds what is not drawn says so in the message bar, with counts.
TEST_F(FormTest, AnSvgWithWhatIsNotDrawnSaysSoInTheMessageBar)
{
    testfiles::TempDir dir;
    const std::string svg =
        dir.Write("m.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"100mm\" "
                           "viewBox=\"0 0 100 100\"><image width=\"5\" height=\"5\" href=\"a.png\"/>"
                           "<image width=\"5\" height=\"5\" href=\"b.png\"/>"
                           "<path stroke=\"black\" d=\"M10 10 L20 20\"/></svg>");
    Open(svg);
    EXPECT_FALSE(frmMain->MessageBar1->isHidden());
    EXPECT_TRUE(frmMain->MessageBar1->lblText->text().startsWith("Not drawn: 2 images"))
        << frmMain->MessageBar1->lblText->text().toStdString();
    EXPECT_EQ(Panel(0), "Objects: 4");
    EXPECT_TRUE(Boxes.empty());
}

// Edit > "SVG text as single strokes" lays the text of the drawings opened from then on in
// the stroke font.
TEST_F(FormTest, SvgTextAsSingleStrokesAppliesToTheNextOpen)
{
    testfiles::TempDir dir;
    const std::string svg =
        dir.Write("t.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"100mm\" "
                           "viewBox=\"0 0 100 100\"><text x=\"10\" y=\"50\" font-size=\"20\">Ag</text></svg>");
    QAction* a = frmMain->actSvgStrokeText;
    ASSERT_TRUE(frmMain->Edit1->actions().contains(a));
    EXPECT_TRUE(a->isCheckable());
    EXPECT_FALSE(a->isChecked());  // outlines unless asked
    Open(svg);
    const int outlines = frmMain->Sheet->Count();
    a->setChecked(true);
    EXPECT_EQ(frmMain->Sheet->Count(), outlines);  // the sheet in hand stays as it is
    Open(svg);
    THpglSheet strokes;
    ASSERT_TRUE(LoadDrawing(strokes, svg, TPlotReading::Translate, nullptr, TSvgText::Strokes).Ok());
    EXPECT_EQ(frmMain->Sheet->Count(), strokes.Count());
    EXPECT_LT(strokes.Count(), outlines);
    a->setChecked(false);
}
