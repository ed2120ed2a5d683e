#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "runcommand.h"
#include "simprocess.h"
#include "testfiles.h"

namespace {

const std::string kCli = GRAFONEL_CLI_PATH;

// What the simulated device drew, from its SVG: segments without their direction, circles and
// rectangles.
std::multiset<std::string> Drawing(const std::string& svg)
{
    std::multiset<std::string> d;
    std::istringstream lines(svg);
    for (std::string line; std::getline(lines, line);) {
        long v[4];
        if (std::sscanf(line.c_str(), "<line x1=\"%ld\" y1=\"%ld\" x2=\"%ld\" y2=\"%ld\"/>", &v[0], &v[1], &v[2],
                        &v[3]) == 4) {
            if (std::make_pair(v[2], v[3]) < std::make_pair(v[0], v[1])) {
                std::swap(v[0], v[2]);
                std::swap(v[1], v[3]);
            }
            d.insert(std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]) + " " +
                     std::to_string(v[3]));
        } else if (line.rfind("<circle ", 0) == 0 || line.rfind("<path ", 0) == 0) {
            d.insert(line);
        }
    }
    return d;
}

struct TPlotted {
    int Status;
    std::string Out;
    std::multiset<std::string> Drawn;
};

TPlotted Plot(const std::string& file, const std::string& options, const std::string& input = "")
{
    testfiles::TempDir dir;
    TSimProcess sim("--rate 0 --svg " + Quote(dir.File("d.svg")));
    const auto r =
        RunCommand((input.empty() ? "" : "printf '" + input + "' | ") + kCli + " plot " + Quote(file) + " --port " +
                   sim.Path + " --pace-line off " + options + (input.empty() ? " < /dev/null" : "") + " 2>&1");
    sim.Wait();
    return {r.Status, r.Out, Drawing(testfiles::ReadAll(dir.File("d.svg")))};
}

}  // namespace

// An optimised plot draws what the plain plot draws.
TEST(OrderCli, OptimisedPlotsDrawWhatPlainPlotsDraw)
{
    REQUIRE_SAMPLES(testfiles::Samples());
    for (const char* name : {"chiplotle-foal.hpgl", "hp2xx-arcs.hp", "hp2xx-acad.hp", "signcut-DISNEY27.PLT",
                             "pcb-randomLEDController_Pen3.plt", "eagle-cam-test.hpgl"}) {
        const std::string f = std::string(GRAFONEL_SAMPLES_DIR) + "/" + name;
        const TPlotted plain = Plot(f, "");
        const TPlotted optimised = Plot(f, "--optimise");
        ASSERT_EQ(plain.Status, 0) << name << plain.Out;
        ASSERT_EQ(optimised.Status, 0) << name << optimised.Out;
        EXPECT_FALSE(plain.Drawn.empty()) << name;
        EXPECT_TRUE(optimised.Drawn == plain.Drawn) << name;
    }
}

// A plot with pauses waits for a line at each change of pen and loses nothing; at the end of
// input it stops at the pause and says how to resume, and the resumed plot completes it.
TEST(OrderCli, PenPausesWaitForALineAndAResumeCompletesAStoppedPlot)
{
    testfiles::TempDir dir;
    const std::string f = dir.Write("pens.plt", "IN;SP1;PU0,0;PD100,0,100,100;SP2;PU200,0;PD300,0;SP3;PU0,200;"
                                                "PD0,300;SP2;PU400,0;PD500,0;PU0,0;SP0;");
    const TPlotted plain = Plot(f, "");
    ASSERT_EQ(plain.Status, 0) << plain.Out;

    const TPlotted answered = Plot(f, "--pen-pauses --optimise", "\\n\\n");
    EXPECT_EQ(answered.Status, 0) << answered.Out;
    EXPECT_NE(answered.Out.find("put in pen 2 (red), then press Enter"), std::string::npos) << answered.Out;
    EXPECT_NE(answered.Out.find("put in pen 3 (blue), then press Enter"), std::string::npos) << answered.Out;
    EXPECT_NE(answered.Out.find("2 pauses for pens"), std::string::npos) << answered.Out;
    EXPECT_TRUE(answered.Drawn == plain.Drawn) << answered.Out;

    // No answer: the plot stops at the first pause, pen 1's strokes drawn.
    const TPlotted stopped = Plot(f, "--pen-pauses --optimise");
    EXPECT_EQ(stopped.Status, 130) << stopped.Out;
    const std::string resume = "resume with --optimise --pen-pauses --from ";
    const auto at = stopped.Out.find(resume);
    ASSERT_NE(at, std::string::npos) << stopped.Out;
    const std::string from = stopped.Out.substr(at + resume.size(), stopped.Out.find('\n', at) - at - resume.size());
    const TPlotted rest = Plot(f, "--pen-pauses --optimise --from " + from, "\\n\\n");
    EXPECT_EQ(rest.Status, 0) << rest.Out;
    EXPECT_NE(rest.Out.find("put in pen 2 (red), then press Enter"), std::string::npos) << rest.Out;
    std::multiset<std::string> both = stopped.Drawn;
    both.insert(rest.Drawn.begin(), rest.Drawn.end());
    EXPECT_TRUE(both == plain.Drawn) << stopped.Out << rest.Out;
    EXPECT_FALSE(stopped.Drawn.empty());
    EXPECT_FALSE(rest.Drawn.empty());
}
