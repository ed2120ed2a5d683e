#include <gtest/gtest.h>

#include <QImage>
#include <zlib.h>

#include "drawingtest.h"
#include "import/drawing.h"
#include "runcommand.h"
#include "sheettext.h"
#include "testfiles.h"

namespace {

const std::string kCli = GRAFONEL_CLI_PATH;
const std::string kSquare = Page("<path stroke=\"#ff0000\" fill=\"none\" d=\"M100 100 H300 V300 H100 Z\"/>");
const std::string kSquareHpgl = "PA|SP 1|PU 100 2060|PD 300 2060|PD 300 1860|PD 100 1860|PD 100 2060";

std::string GzipFile(const testfiles::TempDir& dir, const std::string& name, const std::string& text)
{
    const std::string path = dir.File(name);
    gzFile f = gzopen(path.c_str(), "wb");
    gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
    gzclose(f);
    return path;
}

}  // namespace

TEST(LoadDrawing, TellsDrawingsFromPlotFilesByNameOrContent)
{
    testfiles::TempDir dir;
    const std::pair<std::string, std::string> files[] = {
        {dir.Write("a.svg", kSquare), kSquareHpgl},
        {dir.Write("drawing.txt", "\xef\xbb\xbf\n  " + kSquare), kSquareHpgl},  // markup after a BOM
        {GzipFile(dir, "b.SVGZ", kSquare), kSquareHpgl},
        {GzipFile(dir, "c.dat", kSquare), kSquareHpgl},
        {dir.Write("d.plt", "PA10,10;PD20,20;"), "PA 10 10|PD 20 20"},
    };
    for (const auto& [file, text] : files) {
        THpglSheet sheet;
        const TFileResult r = LoadDrawing(sheet, file);
        ASSERT_TRUE(r.Ok()) << file << ": " << r.Reason;
        EXPECT_EQ(SheetText(sheet), text) << file;
    }
    EXPECT_FALSE(IsSvgDrawing(dir.File("d.plt")));
    EXPECT_FALSE(IsSvgDrawing(dir.File("gone.plt")));
}

TEST(LoadDrawing, MissingAndBrokenFilesSayWhy)
{
    testfiles::TempDir dir;
    THpglSheet sheet;
    TFileResult r = LoadDrawing(sheet, dir.File("gone.svg"));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Reason, "No such file or directory");
    r = LoadDrawing(sheet, dir.Write("broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><path d=\"M0 0\">"));
    EXPECT_FALSE(r.Ok());
    EXPECT_NE(r.Reason.find("line 1"), std::string::npos) << r.Reason;
    r = LoadDrawing(sheet, dir.Path);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(sheet.Count(), 0);
}

TEST(CliDrawing, InfoAndConvertReadSvg)
{
    testfiles::TempDir dir;
    const std::string in = dir.Write("square.svg", kSquare);
    auto r = RunCommand(kCli + " info " + Quote(in) + " 2>/dev/null");
    ASSERT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "Objects: 7\nHPGL size: min=100,1860 max=300,2060\n");
    const std::string out = dir.File("square.plt");
    r = RunCommand(kCli + " convert " + Quote(in) + " " + Quote(out) + " --shift 10,0 2>&1");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(out),
              "PA\r\nSP 1\r\nPU 110 2060\r\nPD 310 2060\r\nPD 310 1860\r\nPD 110 1860\r\nPD 110 2060\r\n");
}

TEST(CliDrawing, RenderWritesSvgThatReadsBack)
{
    testfiles::TempDir dir;
    const std::string in = dir.Write("in.plt", "SP3;PU0,0;PD1520,2160;PU100,50;PD400,50;");
    const std::string svg = dir.File("out.svg"), png = dir.File("out.png");
    auto r = RunCommand(kCli + " render " + Quote(in) + " " + Quote(svg) + " 2>&1");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_NE(testfiles::ReadAll(svg).find("viewBox=\"0 0 1520 2160\""), std::string::npos);
    THpglSheet back;
    ASSERT_TRUE(LoadDrawing(back, svg).Ok());
    EXPECT_EQ(SheetText(back), "PA|SP 1|PU 0 0|PD 1520 2160|PU 100 50|PD 400 50");
    // And a drawing renders as a picture: blue, the colour of pen 3, came back as pen 1.
    r = RunCommand(kCli + " render " + Quote(svg) + " " + Quote(png) + " --size 763x1083 2>&1");
    ASSERT_EQ(r.Status, 0) << r.Out;
    QImage img(QString::fromStdString(png));
    ASSERT_EQ(img.size(), QSize(763, 1083));
    EXPECT_EQ(img.pixel(150, 1081 - 25), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(150, 1081 - 60), qRgb(255, 255, 255));
}

TEST(CliDrawing, UnreadableDrawingIsAnErrorWithTheReason)
{
    testfiles::TempDir dir;
    const std::string in = dir.Write("bad.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><g></svg>");
    const std::string out = dir.Write("out.plt", "keep");
    auto r = RunCommand(kCli + " convert " + Quote(in) + " " + Quote(out) + " 2>&1");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("cannot read '" + in + "': not a readable SVG drawing: line 1"), std::string::npos) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(out), "keep");
}

TEST(CliDrawing, QtIsLoadedOnlyForDrawingsAndRendering)
{
    testfiles::TempDir dir;
    const std::string plot = dir.Write("a.plt", "PA;PD100,100;");
    const std::string svg = dir.Write("a.svg", kSquare);
    // The dynamic loader lists every library it loads.
    auto loads = [&](const std::string& args) {
        auto r = RunCommand("LD_DEBUG=libs " + kCli + " " + args + " 2>&1");
        EXPECT_EQ(r.Status, 0) << args << r.Out;
        return r.Out.find("libQt6") != std::string::npos;
    };
    EXPECT_FALSE(loads("info " + Quote(plot)));
    EXPECT_FALSE(loads("convert " + Quote(plot) + " " + Quote(dir.File("b.plt")) + " --zoom-auto"));
    EXPECT_FALSE(loads("stream " + Quote(plot) + " -o " + Quote(dir.File("b.bin"))));
    EXPECT_FALSE(loads("render --help"));
    EXPECT_TRUE(loads("info " + Quote(svg)));
    EXPECT_TRUE(loads("render " + Quote(plot) + " " + Quote(dir.File("a.png"))));
}

TEST(CliDrawing, WithoutItsQtHalfPlotFilesStillWorkAndDrawingsSayWhatIsMissing)
{
    testfiles::TempDir dir;
    const std::string alone = dir.File("grafonel-cli");
    std::filesystem::copy_file(kCli, alone);
    const std::string plot = dir.Write("a.plt", "PA;PD100,100;");
    auto r = RunCommand(Quote(alone) + " info " + Quote(plot) + " 2>&1");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "Objects: 2\nHPGL size: min=100,100 max=100,100\n");
    r = RunCommand(Quote(alone) + " info " + Quote(dir.Write("a.svg", kSquare)) + " 2>&1");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("grafonel-cli-qt': No such file or directory"), std::string::npos) << r.Out;
    r = RunCommand(Quote(alone) + " render " + Quote(plot) + " " + Quote(dir.File("a.png")) + " 2>&1");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("render: this needs '"), std::string::npos) << r.Out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.png")));
}
