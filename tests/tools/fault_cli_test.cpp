// Seeded random faults on the line (holds, jams, hang-ups at random bytes) and one to three
// signals at random times: whatever happens, the device is left as the run's closing line
// says. GRAFONEL_FAULT_RUNS sets the number of runs (a few dozen by default; `make test-faults`
// runs 300), GRAFONEL_FAULT_SEED the first seed.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "childprocess.h"
#include "sheet/hpglsheet.h"
#include "simprocess.h"
#include "streamtext.h"
#include "testfiles.h"

using namespace std::chrono_literals;

namespace {

const std::string kCli = GRAFONEL_CLI_PATH;
using Clock = std::chrono::steady_clock;

long EnvNumber(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

int NumberAfter(const std::string& out, const std::string& words)
{
    const auto at = out.find(words);
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + words.size());
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string WithoutClosing(const std::string& stream)
{
    return stream.substr(0, stream.size() - 4);
}

// What the device holds is one of the outcomes the run may report; empty when it is.
std::string Check(const THpglSheet& s, const std::string& raw, int status, const std::string& out)
{
    const std::string all = StreamText(s);
    const int count = s.Count();
    if (status == 0)
        return raw == all ? "" : "finished, but the device lacks bytes";
    if (status == 130 && out.find("stopped before anything was sent") != std::string::npos)
        return raw.empty() ? "" : "stopped before the run, but bytes went";
    if (status == 130 && out.find("plot stopped after object ") != std::string::npos) {
        // A prefix ending on an object boundary, then the closing text.
        const int n = NumberAfter(out, "plot stopped after object ");
        return raw == StreamText(s, n) ? "" : "stopped, but not on object " + std::to_string(n);
    }
    if (status == 130 && out.find("plot dropped after object ") != std::string::npos) {
        const int n = NumberAfter(out, "plot dropped after object ");
        if (out.find("stray line") == std::string::npos) {
            // A prefix ending in a whole command, then the closing text; or, given up on a
            // jammed device, a prefix ending in a whole command that holds the objects counted.
            if (raw == StreamText(s, n))
                return "";
            const bool whole = StartsWith(all, raw) && all.compare(raw.size(), 2, "PD") == 0;
            return whole && StartsWith(raw, WithoutClosing(StreamText(s, n)))
                       ? ""
                       : "dropped, but not whole to object " + std::to_string(n);
        }
        // Abandoned: a prefix of the stream, perhaps cut, perhaps with part of the closing text.
        for (std::size_t k = 0; k <= 4 && k <= raw.size(); ++k)
            if (StartsWith(" BP ", raw.substr(raw.size() - k)) && StartsWith(all, raw.substr(0, raw.size() - k)) &&
                StartsWith(raw, WithoutClosing(StreamText(s, n))))
                return "";
        return "abandoned, but the device holds more than a cut prefix";
    }
    if (status == 1 && out.find("plot failed after object ") != std::string::npos) {
        // Resumed from the offered object, the device would draw the whole plot.
        const int from = NumberAfter(out, "resume with --from ");
        const int have = from > 0 ? from - 1 : count;
        return StartsWith(raw, WithoutClosing(StreamText(s, have))) ? "" : "failed, and the resume point passes a gap";
    }
    return "an outcome the run never reports";
}

}  // namespace

TEST(PlotCliFaults, RandomFaultsAndSignalsLeaveTheDeviceAsReported)
{
    const long runs = EnvNumber("GRAFONEL_FAULT_RUNS", 24);
    const long seed = EnvNumber("GRAFONEL_FAULT_SEED", 20261208);
    testfiles::TempDir dir;
    std::string text;
    for (int i = 0; i < 1500; ++i)
        text += "PD" + std::to_string(i * 7 % 1500) + "," + std::to_string(i * 13 % 2100) + ";";
    const std::string file = dir.Write("faults.plt", text);
    THpglSheet s;
    ASSERT_TRUE(s.LoadFromFile(file).Ok());
    const std::size_t size = StreamText(s).size();
    for (long run = 0; run < runs; ++run) {
        std::mt19937 rng(static_cast<std::uint32_t>(seed + run));
        const std::string baud = rng() % 2 ? "115200" : "57600";
        const std::size_t at = 1 + rng() % (size - 1);
        std::string fault;
        switch (rng() % 4) {
        case 0: break;
        case 1: fault = " --hold-at " + std::to_string(at) + " --hold-ms " + std::to_string(200 + rng() % 1500); break;
        case 2: fault = " --jam-at " + std::to_string(at); break;
        default: fault = " --hangup-at " + std::to_string(at); break;
        }
        std::vector<int> signalsAt;  // milliseconds after the handlers are in place
        for (unsigned k = rng() % 4; k > 0; --k)
            signalsAt.push_back(static_cast<int>(rng() % 1500));
        std::sort(signalsAt.begin(), signalsAt.end());
        const std::string name = "run " + std::to_string(run) + " (seed " + std::to_string(seed + run) + "):" + fault +
                                 ", " + std::to_string(signalsAt.size()) + " signals at " + baud;

        TSimProcess sim("--rate " + baud + " --xoff" + fault + " --raw " + Quote(dir.File("raw")));
        ASSERT_FALSE(sim.Path.empty());
        TChildProcess cli({kCli, "plot", file, "--port", sim.Path, "--baud", baud, "--jam-seconds", "1"},
                          dir.File("cli.out"));
        while (!cli.Catches(SIGINT) && !cli.Done())
            std::this_thread::sleep_for(1ms);
        const auto start = Clock::now();
        auto last = start;
        for (const int ms : signalsAt) {
            while (Clock::now() - start < std::chrono::milliseconds(ms) && !cli.Done())
                std::this_thread::sleep_for(1ms);
            if (cli.Done())
                break;
            cli.Signal(rng() % 2 ? SIGINT : SIGTERM);
            last = Clock::now();
        }
        // A stop on a jammed line waits for good: the user presses again.
        while (!cli.Done()) {
            if (Clock::now() - last > 5s) {
                cli.Signal(SIGINT);
                last = Clock::now();
            }
            std::this_thread::sleep_for(5ms);
        }
        const int status = cli.Wait();
        const std::string out = cli.Output();
        // Nothing sent: the simulator would wait for a first byte for good.
        if (out.find("stopped before anything was sent") != std::string::npos)
            sim.Terminate();
        sim.Wait();
        const std::string raw = testfiles::ReadAll(dir.File("raw"));
        EXPECT_EQ(Check(s, raw, status, out), "") << name << "\n" << out << "device has " << raw.size() << " bytes";
    }
}
