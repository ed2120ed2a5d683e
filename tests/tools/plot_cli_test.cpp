#include <gtest/gtest.h>

#include "sheet/hpglsheet.h"
#include "plot/ostrel.h"
#include "runcommand.h"
#include "simprocess.h"
#include "streamtext.h"
#include "testfiles.h"

namespace {

const std::string kCli = GRAFONEL_CLI_PATH;

std::string StreamOf(const std::string& file, int speed = 20, bool accelerate = true)
{
    THpglSheet s;
    EXPECT_TRUE(s.LoadFromFile(file).Ok());
    return StreamText(s, INT_MAX, speed, accelerate);
}

}  // namespace

// Every sample plotted from the command line reaches the device byte for byte, the device
// holding the line with XOFF whenever its buffer fills.
TEST(PlotCli, EverySampleArrivesExactlyAsTheStreamSays)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    testfiles::TempDir dir;
    for (const auto& f : files) {
        TSimProcess sim("--rate 0 --xoff --raw " + Quote(dir.File("raw")));
        ASSERT_FALSE(sim.Path.empty());
        const auto r = RunCommand(kCli + " plot " + Quote(f) + " --port " + sim.Path + " --baud 115200 2>&1");
        EXPECT_EQ(r.Status, 0) << f << "\n" << r.Out;
        EXPECT_EQ(sim.Wait(), 0);
        EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamOf(f)) << f;
        EXPECT_EQ(sim.Summary(" unknown"), 0) << f << sim.Output;
    }
}

TEST(PlotCli, SlowLineWithSettingsAndTheMotorService)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    const std::string small = std::string(GRAFONEL_SAMPLES_DIR) + "/hp2xx-arcs.hp";
    testfiles::TempDir dir;
    {
        TSimProcess sim("--rate 19200 --xoff --buffer 128 --raw " + Quote(dir.File("raw")));
        const auto r = RunCommand(kCli + " plot " + Quote(small) + " --port " + sim.Path +
                                  " --baud 19200 --speed 50 --constant-speed 2>&1");
        EXPECT_EQ(r.Status, 0) << r.Out;
        EXPECT_NE(r.Out.find("objects 13/13"), std::string::npos) << r.Out;
        sim.Wait();
        EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamOf(small, 50, false));
    }
    {
        TSimProcess sim("--rate 9600 --raw " + Quote(dir.File("service")));
        const auto r = RunCommand(kCli + " service --port " + sim.Path + " --handshake rts 2>&1");
        EXPECT_EQ(r.Status, 0) << r.Out;
        sim.Wait();
        const std::string got = testfiles::ReadAll(dir.File("service"));
        EXPECT_EQ(got.size(), 289u);
        EXPECT_EQ(got.substr(0, 20), " SD20  BP IN PR-10,0");
    }
}

TEST(PlotCli, MissingPortAndBadOptionsSayWhy)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PD1,1;");
    auto r = RunCommand(kCli + " plot " + Quote(in) + " --port /dev/grafonel-none 2>&1");
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("Specified device not found (/dev/grafonel-none)."), std::string::npos) << r.Out;
    for (const std::string args : {" --port", " --port X --baud fast", " --port X --handshake dtr", " --port X --speed 5", ""}) {
        r = RunCommand(kCli + " plot " + Quote(in) + args + " 2>&1");
        EXPECT_NE(r.Status, 0) << args;
        EXPECT_NE(r.Out.find("grafonel-cli:"), std::string::npos) << args;
    }
}
