// Files from real HP-GL and HP-GL/2 writers packaged in Debian, made here and translated: the
// drawing's points must keep the data's proportions and lie where the writer put its plot.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "import/plotfile.h"
#include "testfiles.h"

namespace {

struct TPoint {
    double X, Y;
};

bool Have(const char* program)
{
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The points of the longest pen-down run.
std::vector<TPoint> LongestStroke(const THpglSheet& sheet)
{
    std::vector<TPoint> best, run;
    std::int64_t x = 0, y = 0;
    bool down = false, relative = false;
    for (const THpglObject& o : sheet) {
        THpglSheet::IsMove(o.Kind, &relative);
        if (o.Kind == hkPU || o.Kind == hkSP)
            down = false;
        if (o.Kind == hkPD && !down) {
            down = true;
            run.assign(1, {double(x), double(y)});
        }
        if (THpglSheet::IsMove(o.Kind) && o.ParamCount == 2) {
            x = relative ? x + o.P1 : o.P1;
            y = relative ? y + o.P2 : o.P2;
            if (down && (run.empty() || run.back().X != x || run.back().Y != y))
                run.push_back({double(x), double(y)});
            if (!down)
                run.clear();
        }
        if (run.size() > best.size())
            best = run;
    }
    return best;
}

// The data (0,0) (1,1) (2,0) (3,3): equal steps in x, y back to the start, then three times up.
void ExpectDataShape(const std::vector<TPoint>& p, const std::string& what)
{
    ASSERT_EQ(p.size(), 4u) << what;
    const double step = p[1].X - p[0].X;
    EXPECT_GT(step, 100) << what;
    EXPECT_NEAR(p[2].X - p[1].X, step, 2) << what;
    EXPECT_NEAR(p[3].X - p[2].X, step, 2) << what;
    const double rise = p[1].Y - p[0].Y;
    EXPECT_GT(rise, 100) << what;
    EXPECT_NEAR(p[2].Y, p[0].Y, 2) << what;
    EXPECT_NEAR(p[3].Y - p[0].Y, 3 * rise, 3) << what;
}

TEST(TranslateWriters, GnuplotsHpglAndPcl5Terminals)
{
    if (!Have("gnuplot"))
        GTEST_SKIP() << "gnuplot is not installed";
    testfiles::TempDir dir;
    for (const char* terminal : {"hpgl", "pcl5"}) {
        const std::string out = dir.File(std::string("plot.") + terminal);
        const std::string script =
            dir.Write("plot.gp", std::string("set terminal ") + terminal + "\nset output '" + out +
                                     "'\nunset border\nunset tics\nunset key\n"
                                     "set xrange [0:3]\nset yrange [0:3]\n"
                                     "plot '-' with lines\n0 0\n1 1\n2 0\n3 3\ne\n");
        ASSERT_EQ(std::system(("gnuplot " + script).c_str()), 0);
        THpglSheet sheet;
        TTranslateReport report;
        ASSERT_TRUE(LoadPlotFile(sheet, out, TPlotReading::Translate, &report).Ok()) << terminal;
        EXPECT_TRUE(report.Translated) << terminal;
        ExpectDataShape(LongestStroke(sheet), terminal);
        // Both draw on a page of the usual size: nothing beyond 30 cm or below zero.
        EXPECT_GE(sheet.XMin, 0) << terminal;
        EXPECT_GE(sheet.YMin, 0) << terminal;
        EXPECT_LE(sheet.XMax, 12000) << terminal;
        EXPECT_LE(sheet.YMax, 12000) << terminal;
    }
    // The hpgl terminal scales 0..10000 x 0..7500 onto the 7475A's P1 and P2.
    THpglSheet sheet;
    ASSERT_TRUE(LoadPlotFile(sheet, dir.File("plot.hpgl")).Ok());
    const auto p = LongestStroke(sheet);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_NEAR(p[3].X, 603 + 9909 * (10603.0 - 603) / 10000, 2);
    EXPECT_NEAR(p[3].Y, 521 + 7439 * (7721.0 - 521) / 7500, 2);
}

TEST(TranslateWriters, PlotutilsGraphInEveryHpglVersion)
{
    if (!Have("graph"))
        GTEST_SKIP() << "GNU plotutils' graph is not installed";
    testfiles::TempDir dir;
    const std::string data = dir.Write("data.txt", "0 0\n1 1\n2 0\n3 3\n");
    for (const char* version : {"1", "1.5", "2"}) {
        const std::string out = dir.File(std::string("graph-") + version + ".hpgl");
        const std::string command =
            std::string("HPGL_VERSION=") + version + " graph -T hpgl -g 0 -x 0 3 -y 0 3 " + data + " > " + out;
        ASSERT_EQ(std::system(command.c_str()), 0);
        THpglSheet sheet;
        ASSERT_TRUE(LoadPlotFile(sheet, out).Ok()) << version;
        const auto p = LongestStroke(sheet);
        ExpectDataShape(p, version);
        // graph's square plot: 2000..8000 of 0..10000 on P1 0,0 and P2 8128,8128, the same
        // whichever version draws it (the later ones as an edged polygon that stays open).
        ASSERT_EQ(p.size(), 4u);
        EXPECT_NEAR(p[0].X, 1626, 1) << version;
        EXPECT_NEAR(p[3].Y, 6502, 1) << version;
        EXPECT_EQ(sheet.XMax, 6502) << version;
    }
}

// Each label of a writer's file lands within one character cell of the point where the writer
// put it: the label's strokes beside the pen position a lowered pen marks instead.
void ExpectLabelsWhereWritten(const std::string& file, const std::string& what)
{
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int labels = 0;
    for (std::size_t at = bytes.find("LB"); at != std::string::npos; at = bytes.find("LB", at + 2)) {
        const std::size_t end = bytes.find('\x03', at);
        if (end == std::string::npos || end - at < 3)
            continue;
        const std::string prefix = bytes.substr(0, at);
        THpglSheet marked, labelled;
        ASSERT_TRUE(LoadPlotText(marked, prefix + "PD;PU;").Ok());
        ASSERT_TRUE(LoadPlotText(labelled, bytes.substr(0, end + 1)).Ok());
        // The mark: the last pen-down point.
        std::int64_t x = 0, y = 0, ax = 0, ay = 0;
        bool relative = false;
        for (const THpglObject& o : marked) {
            THpglSheet::IsMove(o.Kind, &relative);
            if (THpglSheet::IsMove(o.Kind) && o.ParamCount == 2) {
                x = relative ? x + o.P1 : o.P1;
                y = relative ? y + o.P2 : o.P2;
            }
            if (o.Kind == hkPD)
                ax = x, ay = y;
        }
        // The label: what the labelled file draws beyond the prefix.
        THpglSheet before;
        ASSERT_TRUE(LoadPlotText(before, prefix).Ok());
        const int skip = before.Count();
        double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
        x = y = 0;
        relative = false;
        int index = 0;
        for (const THpglObject* o = labelled.First; o; o = o->Next, ++index) {
            THpglSheet::IsMove(o->Kind, &relative);
            if (THpglSheet::IsMove(o->Kind) && o->ParamCount == 2) {
                x = relative ? x + o->P1 : o->P1;
                y = relative ? y + o->P2 : o->P2;
                if (index >= skip && o->Kind == hkPD) {
                    x0 = std::min<double>(x0, x), x1 = std::max<double>(x1, x);
                    y0 = std::min<double>(y0, y), y1 = std::max<double>(y1, y);
                }
            }
        }
        if (x1 < x0)
            continue;  // a label of spaces
        // A cell is about twice a character's height either way.
        const double cell = 2 * std::max(y1 - y0, 1.0);
        EXPECT_GE(ax, x0 - cell) << what << " label at " << at;
        EXPECT_LE(ax, x1 + cell) << what << " label at " << at;
        EXPECT_GE(ay, y0 - cell) << what << " label at " << at;
        EXPECT_LE(ay, y1 + cell) << what << " label at " << at;
        ++labels;
    }
    EXPECT_GT(labels, 3) << what;
}

TEST(TranslateWriters, LabelsLandWhereTheWritersPutThem)
{
    testfiles::TempDir dir;
    if (Have("gnuplot")) {
        for (const char* terminal : {"hpgl", "pcl5"}) {
            const std::string out = dir.File(std::string("labels.") + terminal);
            const std::string script =
                dir.Write("labels.gp", std::string("set terminal ") + terminal + "\nset output '" + out +
                                           "'\nset title 'TITLE'\nset xlabel 'x axis'\nplot sin(x)\n");
            ASSERT_EQ(std::system(("gnuplot " + script).c_str()), 0);
            ExpectLabelsWhereWritten(out, terminal);
        }
    }
    if (Have("graph")) {
        const std::string data = dir.Write("data.txt", "0 0\n1 1\n2 0\n3 3\n");
        for (const char* version : {"1", "2"}) {
            const std::string out = dir.File(std::string("stick-") + version + ".hpgl");
            ASSERT_EQ(std::system((std::string("HPGL_VERSION=") + version + " graph -T hpgl -F Stick -L TITLE " + data +
                                   " > " + out)
                                      .c_str()),
                      0);
            ExpectLabelsWhereWritten(out, std::string("graph ") + version);
        }
    }
}

}  // namespace
