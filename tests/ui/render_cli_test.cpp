#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "runcommand.h"
#include "testfiles.h"

namespace {
const std::string kCli = GRAFONEL_CLI_PATH;
}

TEST(CliRender, PngIsTheViewPicture)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "SP2;PU0,0;PD1520,0;");
    auto out = dir.File("v.png");
    auto r = RunCommand(kCli + " render " + Quote(in) + " " + Quote(out) + " --size 403x563 2>&1");
    ASSERT_EQ(r.Status, 0) << r.Out;
    QImage img(QString::fromStdString(out));
    ASSERT_EQ(img.size(), QSize(403, 563));
    EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));  // frame
    EXPECT_EQ(img.pixel(402, 562), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(200, 561), qRgb(255, 0, 0));  // y = 0 maps to the row above the frame
    EXPECT_EQ(img.pixel(200, 300), qRgb(255, 255, 255));
}

TEST(CliRender, TravelShowsThePenUpMovesBeneathTheDrawing)
{
    testfiles::TempDir dir;
    // A pen-up move up the middle of the frame, then a stroke across it.
    auto in = dir.Write("in.plt", "PU760,100;PU760,2000;PD1000,2000;");
    for (const bool travel : {false, true}) {
        auto out = dir.File(travel ? "t.png" : "n.png");
        auto r = RunCommand(kCli + " render " + Quote(in) + " " + Quote(out) + (travel ? " --travel" : "") + " 2>&1");
        ASSERT_EQ(r.Status, 0) << r.Out;
        QImage img(QString::fromStdString(out));
        EXPECT_EQ(img.pixel(380, 540), travel ? qRgb(150, 190, 235) : qRgb(255, 255, 255)) << travel;
        EXPECT_EQ(img.pixel(440, 80), qRgb(0, 0, 0)) << travel;  // the drawing, on top
    }
}

TEST(CliRender, PdfIsOnePageWithTheFrameStretchedOverIt)
{
    if (RunCommand("command -v pdftoppm").Status != 0)
        GTEST_SKIP() << "pdftoppm not installed";
    testfiles::TempDir dir;
    // A line along the frame's bottom edge and one up its left edge.
    auto in = dir.Write("in.plt", "PU0,0;PD1520,0;PU0,0;PD0,2160;");
    auto out = dir.File("p.pdf");
    auto r = RunCommand(kCli + " render " + Quote(in) + " " + Quote(out) + " 2>&1");
    ASSERT_EQ(r.Status, 0) << r.Out;
    r = RunCommand("pdfinfo " + Quote(out) + " | grep Pages");
    EXPECT_NE(r.Out.find("1"), std::string::npos);
    ASSERT_EQ(RunCommand("pdftoppm -r 50 -gray -png " + Quote(out) + " " + Quote(dir.File("page"))).Status, 0);
    QImage page(QString::fromStdString(dir.File("page-1.png")));
    ASSERT_FALSE(page.isNull());
    // Ink along the bottom and the left of the printable area, spanning nearly the page.
    auto darkRow = [&](int y) {
        int n = 0;
        for (int x = 0; x < page.width(); ++x)
            n += qGray(page.pixel(x, y)) < 128;
        return n;
    };
    int best = 0;
    for (int y = page.height() * 3 / 4; y < page.height(); ++y)
        best = std::max(best, darkRow(y));
    EXPECT_GT(best, page.width() * 3 / 4);
}

TEST(CliRender, BadArgumentsAndFilesFailClearly)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PD1,1;");
    for (const std::string& args : {Quote(in) + " " + Quote(dir.File("x.gif")), Quote(in) + " o.png --size 2x9",
                                    Quote(dir.File("none.plt")) + " " + Quote(dir.File("o.png")),
                                    Quote(in) + " " + Quote(dir.File("no/dir/o.png"))}) {
        auto r = RunCommand(kCli + " render " + args + " 2>&1");
        EXPECT_NE(r.Status, 0) << args;
        EXPECT_NE(r.Out.find("grafonel-cli:"), std::string::npos) << args;
    }
}

// A pen that stays put far off the page once overflowed Qt's rectangle on the printer path
// (caught by the sanitizer build); the page must come out, with the near line on it.
TEST(CliRender, FarPointsAtTheEdgesOfTheRangeStillGiveAPage)
{
    testfiles::TempDir dir;
    auto in =
        dir.Write("far.plt", "PU2147483647,2147483647;PD;PU;PA-2147483648,-2147483648;PD;PU;PA2147483647,-2147483648;"
                             "PD;PU;CI2147483647;AA-2147483648,2147483647,355;PU0,0;PD1520,2160;");
    for (const char* name : {"far.pdf", "far.png"}) {
        auto out = dir.File(name);
        auto r = RunCommand(kCli + " render " + Quote(in) + " " + Quote(out) + " 2>&1");
        ASSERT_EQ(r.Status, 0) << name << ": " << r.Out;
        std::ifstream f(out, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_GT(bytes.size(), 500u) << name;
    }
    QImage png(QString::fromStdString(dir.File("far.png")));
    ASSERT_FALSE(png.isNull());
    int diagonal = 0;  // the frame's diagonal crosses the middle row near its middle
    for (int x = png.width() / 2 - 3; x <= png.width() / 2 + 3; ++x)
        diagonal += png.pixel(x, png.height() / 2) == qRgb(0, 0, 0);
    EXPECT_GT(diagonal, 0);
}

// render runs in the Qt build, which gets the command line as given: --plain included.
TEST(CliRender, PlainReachesTheQtBuildAndRefusesDrawings)
{
    testfiles::TempDir dir;
    const auto scaled = dir.Write("s.plt", "IN;SC0,100,0,100;SP1;PU0,0;PD1000,1000;");
    const auto raw = dir.Write("r.plt", "SP1;PU0,0;PD1000,1000;");
    auto render = [&](const std::string& in, const std::string& options) {
        const auto out = dir.File("o.png");
        std::remove(out.c_str());
        const auto r =
            RunCommand(kCli + " render " + Quote(in) + " " + Quote(out) + " --size 200x280" + options + " 2>&1");
        EXPECT_EQ(r.Status, 0) << r.Out;
        return QImage(QString::fromStdString(out));
    };
    const QImage plain = render(raw, "");
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(render(scaled, " --plain"), plain);
    EXPECT_NE(render(scaled, ""), plain);

    const auto svg = dir.Write("d.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1mm\" height=\"1mm\"/>");
    const auto r = RunCommand(kCli + " render " + Quote(svg) + " " + Quote(dir.File("d.png")) + " --plain 2>&1");
    EXPECT_EQ(r.Status, 2) << r.Out;
    EXPECT_NE(r.Out.find("--plain"), std::string::npos) << r.Out;
}
