#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "childprocess.h"
#include "import/plotfile.h"
#include "sheet/hpglsheet.h"
#include "plot/ostrel.h"
#include "plot/plotrun.h"
#include "runcommand.h"
#include "simprocess.h"
#include "streamtext.h"
#include "testfiles.h"

using namespace std::chrono_literals;

namespace {

const std::string kCli = GRAFONEL_CLI_PATH;

// The stream of the file as the command line loads it: translated.
std::string StreamOf(const std::string& file, int speed = 20, bool accelerate = true)
{
    THpglSheet s;
    EXPECT_TRUE(LoadPlotFile(s, file).Ok());
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
        // Bytes only: the line unpaced, so the samples take no longer than the simulator does.
        const auto r = RunCommand(kCli + " plot " + Quote(f) + " --port " + sim.Path + " --pace-line off 2>&1");
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
        THpglSheet s;
        ASSERT_TRUE(LoadPlotFile(s, small).Ok());
        const std::string all = std::to_string(s.Count());
        EXPECT_NE(r.Out.find("objects " + all + "/" + all), std::string::npos) << r.Out;
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

TEST(PlotCli, PlainSendsTheFileAsThePlainReaderReadsIt)
{
    testfiles::TempDir dir;
    const auto in = dir.Write("s.plt", "IN;SC0,10,0,10;PU0,0;PD10,10;");
    TSimProcess sim("--rate 0 --xoff --raw " + Quote(dir.File("raw")));
    ASSERT_FALSE(sim.Path.empty());
    const auto r = RunCommand(kCli + " plot " + Quote(in) + " --plain --port " + sim.Path + " --pace-line off 2>&1");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(testfiles::ReadAll(dir.File("raw")), " SD20 BP IN PU0 0PD10 10 BP ");
}

TEST(PlotCli, MissingPortAndBadOptionsSayWhy)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PD1,1;");
    auto r = RunCommand(kCli + " plot " + Quote(in) + " --port /dev/grafonel-none 2>&1");
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("Specified device not found (/dev/grafonel-none)."), std::string::npos) << r.Out;
    for (const std::string args :
         {" --port", " --port X --baud fast", " --port X --handshake dtr", " --port X --speed 5", ""}) {
        r = RunCommand(kCli + " plot " + Quote(in) + args + " 2>&1");
        EXPECT_NE(r.Status, 0) << args;
        EXPECT_NE(r.Out.find("grafonel-cli:"), std::string::npos) << args;
    }
}

namespace {

void BigSheet(THpglSheet& s, const testfiles::TempDir& dir, std::string& file, int objects = 6000)
{
    std::string text;
    for (int i = 0; i < objects; ++i)
        text += "PD" + std::to_string(i * 7 % 1500) + "," + std::to_string(i * 13 % 2100) + ";";
    file = dir.Write("big.plt", text);
    EXPECT_TRUE(s.LoadFromFile(file).Ok());
}

// The object count in "... after object N of M": how far the run got by its own account.
int AfterObject(const std::string& out)
{
    const auto at = out.find("after object ");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 13);
}

TChildProcess Plot(const std::string& file, const TSimProcess& sim, const testfiles::TempDir& dir,
                   const std::string& baud = "115200")
{
    return TChildProcess({kCli, "plot", file, "--port", sim.Path, "--baud", baud}, dir.File("cli.out"));
}

using Clock = std::chrono::steady_clock;
// An abandon or a finished drop ends the run within this time of its request.
const auto kAbortTime = std::chrono::milliseconds(TPlotRunner::kAbortMilliseconds);

// Waits for the command line's output to say `text`: a state, not a time.
bool Says(TChildProcess& cli, const std::string& text)
{
    const auto until = Clock::now() + 60s;
    while (cli.Output().find(text) == std::string::npos) {
        if (Clock::now() > until || cli.Done())
            return cli.Output().find(text) != std::string::npos;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// "resume with --from K": the object to resume from, counted from 1; 0 if none is offered.
int ResumeFrom(const std::string& out)
{
    const auto at = out.find("resume with --from ");
    return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + 19);
}

}  // namespace

// SIGTERM stops as the first Ctrl-C does: the object in hand goes, the hold is waited out
// and said so, and the device ends on an object boundary with the closing text.
TEST(PlotCliFaults, AStopDuringAHoldWaitsItOutAndEndsOnAnObject)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file);
    TSimProcess sim("--rate 115200 --xoff --hold-at 2000 --hold-ms 3000 --raw " + Quote(dir.File("raw")));
    ASSERT_FALSE(sim.Path.empty());
    TChildProcess cli = Plot(file, sim, dir);
    ASSERT_TRUE(sim.WaitFor("playing hold"));
    const auto asked = Clock::now();
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(), 130) << cli.Output();
    EXPECT_GT(cli.Ended - asked, 2s);  // never abandoned while the device held the line
    EXPECT_EQ(sim.Wait(), 0);
    const std::string out = cli.Output();
    EXPECT_NE(out.find("waiting for the plotter, line held 2 s; Ctrl-C again to drop the rest"), std::string::npos)
        << out;
    const int n = AfterObject(out);
    ASSERT_GT(n, 0) << out;
    EXPECT_LT(n, 6000);
    EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamText(s, n)) << out;
    EXPECT_NE(sim.Output.find("fault: hold at byte 2000 for 3000 ms"), std::string::npos) << sim.Output;
}

// A drop on a jammed line waits for the device to take the end of a cut command; the third
// Ctrl-C abandons that within two seconds, and the device keeps what it had taken.
TEST(PlotCliFaults, AThirdCtrlCAbandonsADropOnAJammedLine)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file);
    TSimProcess sim("--rate 115200 --xoff --jam-at 2000 --raw " + Quote(dir.File("raw")));
    TChildProcess cli = Plot(file, sim, dir);
    ASSERT_TRUE(sim.WaitFor("playing jam"));
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    ASSERT_TRUE(Says(cli, "finishing a cut command; Ctrl-C again abandons it")) << cli.Output();
    const auto asked = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130) << cli.Output();
    EXPECT_LT(cli.Ended - asked, kAbortTime);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(cli.Output().find("plot dropped after object "), std::string::npos) << cli.Output();
    EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamText(s).substr(0, 2000));
    EXPECT_NE(sim.Output.find("fault: jam at byte 2000"), std::string::npos) << sim.Output;
}

// Without a third Ctrl-C, a device that takes nothing for the jam time is given up on, and
// the closing message says the plotter may draw a stray line.
TEST(PlotCliFaults, ADropOnAJammedLineEndsAfterTheJamTime)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file);
    TSimProcess sim("--rate 115200 --xoff --jam-at 2003 --raw " + Quote(dir.File("raw")));
    TChildProcess cli({kCli, "plot", file, "--port", sim.Path, "--baud", "115200", "--jam-seconds", "1"},
                      dir.File("cli.out"));
    ASSERT_TRUE(sim.WaitFor("playing jam"));
    const auto asked = Clock::now();
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130) << cli.Output();
    EXPECT_GE(cli.Ended - asked, 1s);
    EXPECT_LT(cli.Ended - asked, 4s);
    EXPECT_EQ(sim.Wait(), 0);
    const std::string out = cli.Output();
    const std::string before = StreamText(s, AfterObject(out));
    const std::string raw = testfiles::ReadAll(dir.File("raw"));
    EXPECT_EQ(raw.rfind(before.substr(0, before.size() - 4), 0), 0u) << out;
    // What the line carried past the jam waits unread in the pseudo-terminal: whether the
    // closing line warns of a cut depends on that count, not on what the device read.
    EXPECT_TRUE(StreamText(s).rfind(raw, 0) == 0);
}

// The device holds the line for seconds when the drop comes: the completion of the cut
// command and " BP " wait for it, and the device ends on a whole command.
TEST(PlotCliFaults, ADropDuringALongHoldFinishesTheCutCommand)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file);
    TSimProcess sim("--rate 9600 --xoff --hold-at 1500 --hold-ms 2500 --raw " + Quote(dir.File("raw")));
    TChildProcess cli = Plot(file, sim, dir, "9600");
    ASSERT_TRUE(sim.WaitFor("playing hold"));
    const auto asked = Clock::now();
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    ASSERT_TRUE(Says(cli, "finishing a cut command; Ctrl-C again abandons it")) << cli.Output();
    EXPECT_EQ(cli.Wait(), 130) << cli.Output();
    EXPECT_GT(cli.Ended - asked, 2s);  // never abandoned while the device held the line
    EXPECT_EQ(sim.Wait(), 0);
    const std::string out = cli.Output();
    EXPECT_EQ(out.find("stray line"), std::string::npos) << out;
    const int n = AfterObject(out);
    ASSERT_GT(n, 0) << out;
    EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamText(s, n)) << out;
}

// Dropping the rest while the device takes bytes leaves it no cut command: it gets whole
// objects, then the closing text. No progress report ever shows the line over full.
TEST(PlotCliFaults, AnAbortWhileTheDeviceTakesBytesLeavesNoCutCommand)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file, 20000);
    // The device holds the line for a moment mid-plot, so the stop is still draining when
    // the drop comes; it takes bytes again well within the drop's second. The line is fast:
    // a pseudo-terminal takes up to 64 kB before an XOFF lands when the simulator wakes late
    // on a busy machine, and the device must work that off within the second as well.
    TSimProcess sim("--rate 1000000 --xoff --hold-at 100000 --hold-ms 500 --raw " + Quote(dir.File("raw")));
    TChildProcess cli = Plot(file, sim, dir, "1000000");
    ASSERT_TRUE(sim.WaitFor("playing hold"));
    cli.Signal(SIGINT);
    const auto asked = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130) << cli.Output();
    EXPECT_LT(cli.Ended - asked, kAbortTime);
    sim.Wait();
    const std::string out = cli.Output();
    const int n = AfterObject(out);
    ASSERT_GT(n, 0) << out;
    EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamText(s, n)) << out;
    int reports = 0;
    for (std::size_t at = out.find("line "); at != std::string::npos; at = out.find("line ", at + 1)) {
        if (!std::isdigit(static_cast<unsigned char>(out[at + 5])))
            continue;
        ++reports;
        EXPECT_LE(std::atoi(out.c_str() + at + 5), 100) << out.substr(at, 20);
    }
    EXPECT_GT(reports, 2);
}

// The device hangs up after 3000 bytes of a 60 kB plot at 9600 baud: one error, exit 1, and a
// resume point the device got everything before.
TEST(PlotCliFaults, AHangUpEndsTheRunWithinASecondWithOneError)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file);
    TSimProcess sim("--rate 9600 --hangup-at 3000 --raw " + Quote(dir.File("raw")));
    TChildProcess cli = Plot(file, sim, dir, "9600");
    ASSERT_TRUE(sim.WaitFor("playing hang-up"));
    const auto hungUp = Clock::now();
    EXPECT_EQ(cli.Wait(), 1) << cli.Output();
    EXPECT_LT(cli.Ended - hungUp, 1s);
    const std::string out = cli.Output();
    std::size_t errors = 0;
    for (std::size_t at = out.find("grafonel-cli:"); at != std::string::npos; at = out.find("grafonel-cli:", at + 1))
        ++errors;
    EXPECT_EQ(errors, 1u) << out;
    EXPECT_NE(out.find("Input/output error"), std::string::npos) << out;
    EXPECT_NE(out.find("plot failed after object "), std::string::npos) << out;
    sim.Wait();
    EXPECT_NE(sim.Output.find("fault: hang-up at byte 3000"), std::string::npos) << sim.Output;
    const int from = ResumeFrom(out);
    ASSERT_GT(from, 0) << out;
    const std::string before = StreamText(s, from - 1);
    const std::string raw = testfiles::ReadAll(dir.File("raw"));
    EXPECT_EQ(raw.size(), 3000u);
    EXPECT_EQ(raw.rfind(before.substr(0, before.size() - 4), 0), 0u) << out;
}

// A signal in the first moments, while the file is still being read, ends the run with the
// stop status and says so.
TEST(PlotCliFaults, ASignalBeforeTheRunEndsItWithTheStopStatus)
{
    testfiles::TempDir dir;
    const std::string fifo = dir.File("slow.plt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int sig : {SIGTERM, SIGINT}) {
        TChildProcess cli({kCli, "plot", fifo, "--port", "/dev/grafonel-none"}, dir.File("cli.out"));
        // The reading blocks on the pipe: signal once the handler is in place.
        const auto until = Clock::now() + 20s;
        while (!cli.Catches(sig) && Clock::now() < until)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(cli.Catches(sig));
        cli.Signal(sig);
        EXPECT_EQ(cli.Wait(), 130) << cli.Output();
        EXPECT_NE(cli.Output().find("stopped before anything was sent"), std::string::npos) << cli.Output();
    }
}

namespace {

double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

TEST(PlotCliFaults, AJamWithoutAStopWaitsWithoutSpinning)
{
    testfiles::TempDir dir;
    std::string file;
    THpglSheet s;
    BigSheet(s, dir, file);
    TSimProcess sim("--rate 115200 --xoff --jam-at 2000");
    TChildProcess cli = Plot(file, sim, dir);
    ASSERT_TRUE(sim.WaitFor("playing jam"));
    std::this_thread::sleep_for(300ms);  // the pseudo-terminal fills, the run waits
    const double before = ProcessCpuSeconds(cli.Pid);
    std::this_thread::sleep_for(3s);
    const double used = ProcessCpuSeconds(cli.Pid) - before;
    EXPECT_FALSE(cli.Done());  // still waiting: a jam alone never abandons the run
    // Spinning would take most of a core; a few clock ticks of wake-ups are no fault.
    EXPECT_LT(used, 0.1);
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130);
}

// A 26-byte file whose arc has 2^31 points: the first byte goes at once, and the second
// Ctrl-C ends it between two points.
TEST(PlotCliFaults, AHugeArcSendsAtOnceAndAnAbortEndsIt)
{
    testfiles::TempDir dir;
    const std::string file = dir.Write("arc.plt", "PA100,0;AA0,0,-2147483648;");
    // The device announces its first byte by a one-byte hold. The line is fast, so that what
    // a pseudo-terminal may have taken ahead is worked off well within the drop's second.
    TSimProcess sim("--rate 1000000 --xoff --hold-at 1 --hold-ms 1 --raw " + Quote(dir.File("raw")));
    const auto start = Clock::now();
    TChildProcess cli = Plot(file, sim, dir, "1000000");
    ASSERT_TRUE(sim.WaitFor("playing hold"));
    EXPECT_LT(Clock::now() - start, 500ms);
    std::this_thread::sleep_for(500ms);
    cli.Signal(SIGINT);
    std::this_thread::sleep_for(50ms);
    const auto asked = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130) << cli.Output();
    EXPECT_LT(cli.Ended - asked, kAbortTime);
    sim.Wait();
    EXPECT_NE(cli.Output().find("plot dropped after object 1 of 2"), std::string::npos) << cli.Output();
    const std::string raw = testfiles::ReadAll(dir.File("raw"));
    ASSERT_GT(raw.size(), 1000u);
    EXPECT_EQ(raw.substr(raw.size() - 4), " BP ");
    EXPECT_EQ(raw.rfind(" SD20 BP IN PA100 0PA", 0), 0u);
}

// A pseudo-terminal takes tens of kilobytes at once; the plot keeps to the line instead, so the
// device never has more waiting for it than its buffer and 50 ms of line, and the run ends
// when the device has taken the last byte, not when the pseudo-terminal has.
TEST(PlotCli, APlotOnAPseudoTerminalNeverRunsAheadOfTheLine)
{
    testfiles::TempDir dir;
    for (const int rate : {9600, 115200}) {
        std::string file;
        THpglSheet s;
        BigSheet(s, dir, file, rate / 40);
        TSimProcess sim("--rate " + std::to_string(rate) + " --raw " + Quote(dir.File("raw")));
        const auto r = RunCommand(kCli + " plot " + Quote(file) + " --port " + sim.Path + " --baud " +
                                  std::to_string(rate) + " 2>&1");
        EXPECT_EQ(r.Status, 0) << r.Out;
        EXPECT_EQ(sim.Wait(), 0);
        EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == StreamText(s));
        const double lead = sim.Summary(" bytes largest lead");
        EXPECT_GE(lead, 0) << sim.Output;
        EXPECT_LE(lead, 256 + 0.05 * rate / 10) << rate << ": " << sim.Output;
    }
}

TEST(PlotCli, HelpStatesTheExitStatuses)
{
    for (const std::string cmd : {"plot", "service"}) {
        const auto r = RunCommand(kCli + " " + cmd + " --help");
        EXPECT_EQ(r.Status, 0);
        EXPECT_NE(r.Out.find("Exit status: 0 when everything was sent, 1 on an error"), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("130 when stopped or dropped"), std::string::npos) << r.Out;
    }
    EXPECT_EQ(RunCommand(kCli + " plot --port X 2>&1").Status, 2);
    EXPECT_EQ(RunCommand(kCli + " service --port X extra 2>&1").Status, 2);
}
