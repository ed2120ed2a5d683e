// Plots cut short and resumed from the command line, through the simulated device: what it
// draws, and what the command line says before and after.

#include <gtest/gtest.h>

#include <filesystem>

#include "import/plotfile.h"
#include "plot/estimate.h"
#include "runcommand.h"
#include "sheettext.h"
#include "simprocess.h"
#include "testfiles.h"

namespace {

const std::string kCli = GRAFONEL_CLI_PATH;

// The drawing's elements as the simulator records them, in the order drawn.
std::vector<std::string> Drawn(const std::string& svg)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = svg.find('<', at)) != std::string::npos) {
        const std::size_t end = svg.find('>', at);
        const std::string e = svg.substr(at, end - at + 1);
        if (e.rfind("<line", 0) == 0 || e.rfind("<circle", 0) == 0 || e.rfind("<path", 0) == 0)
            out.push_back(e);
        at = end;
    }
    return out;
}

// Plots `file` (with `args`) on a fresh simulated device; returns what it drew.
std::vector<std::string> PlotOnDevice(const std::string& file, const std::string& args, std::string* out = nullptr)
{
    testfiles::TempDir dir;
    TSimProcess sim("--rate 0 --svg " + Quote(dir.File("d.svg")));
    EXPECT_FALSE(sim.Path.empty());
    const auto r =
        RunCommand(kCli + " plot " + Quote(file) + " --port " + sim.Path + " --pace-line off" + args + " 2>&1");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Summary(" unknown"), 0) << sim.Output;
    if (out)
        *out = r.Out;
    return Drawn(testfiles::ReadAll(dir.File("d.svg")));
}

// A run stopped before object k (0-based) sends the objects before it and the epilogue:
// exactly the run of a sheet of those objects alone.
std::string Prefix(const THpglSheet& sheet, int k, const testfiles::TempDir& dir)
{
    THpglSheet part;
    int i = 0;
    for (const THpglObject* o = sheet.First; o && i < k; o = o->Next, ++i) {
        if (o->ParamCount >= 3)
            part.Add(o->Kind, o->P1, o->P2, o->P3);
        else if (o->ParamCount == 2)
            part.Add(o->Kind, o->P1, o->P2);
        else if (o->ParamCount == 1)
            part.Add(o->Kind, o->P1);
        else
            part.Add(o->Kind);
    }
    const std::string path = dir.File("part" + std::to_string(k) + ".plt");
    EXPECT_TRUE(part.SaveToFile(path).Ok());
    return path;
}

void ExpectResumeDrawsTheWhole(const std::string& file, int k)
{
    THpglSheet s;
    ASSERT_TRUE(LoadPlotFile(s, file).Ok());
    testfiles::TempDir dir;
    const auto whole = PlotOnDevice(file, "");
    auto parts = PlotOnDevice(Prefix(s, k, dir), "");
    const auto rest = PlotOnDevice(file, " --from " + std::to_string(k + 1));
    parts.insert(parts.end(), rest.begin(), rest.end());
    EXPECT_GT(whole.size(), 0u) << file;
    EXPECT_TRUE(parts == whole) << file << " cut before object " << k + 1 << ": " << parts.size() << " drawn, "
                                << whole.size() << " whole";
}

// Plots a sample whole on the simulator at the given baud rate and waits for its summary.
void PlotSample(const std::string& name, TSimProcess& sim, const std::string& baud)
{
    const auto r = RunCommand(kCli + " plot " + Quote(GRAFONEL_SAMPLES_DIR + name) + " --port " + sim.Path +
                              " --baud " + baud + " 2>&1");
    EXPECT_EQ(r.Status, 0) << r.Out;
    sim.Wait();
}

}  // namespace

TEST(ResumeCli, CutAndResumedPlotsDrawTheWholeDrawing)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const std::string name : {"/hp2xx-arcs.hp", "/hp2xx-ci.hp", "/vk2bea-HP8595E-FM.hpgl", "/hp2xx-win_1.hp"}) {
        THpglSheet s;
        ASSERT_TRUE(LoadPlotFile(s, GRAFONEL_SAMPLES_DIR + name).Ok());
        ExpectResumeDrawsTheWhole(GRAFONEL_SAMPLES_DIR + name, s.Count() / 2);
    }
    // PA and PR switching with the pen down across each cut, an arc in relative mode.
    testfiles::TempDir dir;
    const std::string mixed = dir.Write("mixed.plt", "PA100,100;PD;PR50,0,0,50;PA300,300;PR;PD-20,-20;AA250,250,45;"
                                                     "PD10,0;PD30,0;PU;PA400,100;PD;CI30;PR0,40;ER15,-15;PA500,500;");
    for (const int k : {3, 5, 7, 8, 9, 13})
        ExpectResumeDrawsTheWhole(mixed, k);
}

TEST(ResumeCli, FirstLinesGiveTheEstimateAndTheWarnings)
{
    testfiles::TempDir dir;
    const std::string file = dir.Write("w.plt", "SP1;PA-80,0;PD;PA100,100;SP2;PA100,200;AA100,150,720;");
    std::string out;
    PlotOnDevice(file, " --baud 2400", &out);
    EXPECT_EQ(out.rfind("about ", 0), 0u) << out;
    const auto line = [&](int n) {
        std::size_t at = 0;
        for (int i = 0; i < n; ++i)
            at = out.find('\n', at) + 1;
        return out.substr(at, out.find('\n', at) - at);
    };
    EXPECT_NE(line(0).find(" at 2400"), std::string::npos) << out;
    EXPECT_EQ(line(1), "warning: The drawing goes beyond the paper: 10 mm on the left.") << out;
    EXPECT_EQ(line(2).rfind("warning: The sheet changes pens (SP 1, 2)", 0), 0u) << out;
    EXPECT_EQ(line(3), "warning: 1 arc sweeps more than 360 degrees and is drawn more than once (720 degrees).") << out;
    EXPECT_EQ(out.find("resume with"), std::string::npos) << out;
    // The resumed run's estimate is of what is left.
    std::string rest;
    PlotOnDevice(file, " --from 7", &rest);
    THpglSheet s;
    ASSERT_TRUE(s.LoadFromFile(file).Ok());
    EXPECT_EQ(rest.substr(0, rest.find('\n')), EstimateText(EstimatePlot(s, TPlotSettings{}, 6))) << rest;
}

TEST(ResumeCli, ARunThatEndsEarlySaysWhereToResume)
{
    testfiles::TempDir dir;
    std::string text = "IN;";
    for (int i = 0; i < 6000; ++i)
        text += (i % 3 ? "PD" : "PU") + std::to_string(i * 7 % 1500) + "," + std::to_string(i * 13 % 2100) + ";";
    const std::string file = dir.Write("big.plt", text);
    // The device goes away after a second: the run fails part way. The line is fast enough
    // that more went than the resume point keeps back for what a line may hold (about 1 kB).
    TSimProcess sim("--rate 38400 --seconds 1");
    const auto r = RunCommand(kCli + " plot " + Quote(file) + " --port " + sim.Path + " --baud 38400 2>&1");
    sim.Wait();
    EXPECT_NE(r.Status, 0) << r.Out;
    const auto at = r.Out.find("; resume with --from ");
    ASSERT_NE(at, std::string::npos) << r.Out;
    const int from = std::atoi(r.Out.c_str() + at + 21);
    EXPECT_GT(from, 1);
    EXPECT_LE(from, 6000);
    EXPECT_NE(r.Out.find("plot failed after object " + std::to_string(from - 1) + " of 6000; resume with"),
              std::string::npos)
        << r.Out;
    // From there the rest plots to its end.
    std::string out;
    PlotOnDevice(file, " --from " + std::to_string(from), &out);
    EXPECT_EQ(out.find("resume with"), std::string::npos) << out;
}

TEST(ResumeCli, FromOutsideTheSheetIsRefused)
{
    testfiles::TempDir dir;
    const std::string file = dir.Write("in.plt", "PD1,1;PU;");
    for (const std::string from : {"0", "-1", "x", "", "3"}) {
        const auto r =
            RunCommand(kCli + " plot " + Quote(file) + " --port /dev/grafonel-none --from " + from + " 2>&1");
        EXPECT_NE(r.Status, 0) << from;
        EXPECT_NE(r.Out.find("--from"), std::string::npos) << from << ": " << r.Out;
        EXPECT_EQ(r.Out.find("not found"), std::string::npos) << "checked before the port is opened: " << r.Out;
    }
}

// Played at the pace of the device's pen, and of its line, the simulator takes what the
// estimate says, whether the line or the pen sets the pace. Both run 48 times faster than
// the real device, so a plot of minutes takes seconds.
TEST(ResumeCli, EstimateMatchesTheSimulatorPlayingThePensPace)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const std::string name : {"/signcut-cup-corrupt.plt", "/hp2xx-acad.hp", "/hp2xx-arcs.hp"}) {
        THpglSheet s;
        ASSERT_TRUE(LoadPlotFile(s, GRAFONEL_SAMPLES_DIR + name).Ok());
        TPlotSettings settings;
        settings.Baud = 2400;
        const TPlotEstimate e = EstimatePlot(s, settings);
        TSimProcess sim("--rate 2400 --pace 48 --xoff");
        PlotSample(name, sim, "115200");
        EXPECT_NEAR(sim.Summary(" s; estimated"), e.Seconds, 0.1 * e.Seconds) << name << sim.Output;
    }
}

TEST(ResumeCli, EstimateMatchesTheSimulatorsLineTime)
{
    // The simulator plays the line (not the pen): at a slow rate its elapsed time is the
    // line's share of the estimate.
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const std::string name : {"/vk2bea-HP8595E-FM.hpgl"}) {
        THpglSheet s;
        ASSERT_TRUE(LoadPlotFile(s, GRAFONEL_SAMPLES_DIR + name).Ok());
        TPlotSettings settings;
        settings.Baud = 4800;
        const TPlotEstimate e = EstimatePlot(s, settings);
        TSimProcess sim("--rate 4800");
        PlotSample(name, sim, "4800");
        const double took = sim.Summary(" s; estimated");
        EXPECT_NEAR(took, e.LineSeconds, 0.1 * e.LineSeconds) << name << sim.Output;
        // And its own reckoning of the whole plot is the program's estimate.
        EXPECT_NEAR(sim.Summary(" s; fault: none"), e.Seconds, 0.01 * e.Seconds + 0.1) << name << sim.Output;
    }
}
