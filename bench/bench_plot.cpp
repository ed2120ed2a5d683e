// A plot through ostrel-sim on a pseudo-terminal, as the dialog runs it (paced, as every
// pseudo-terminal is): how much of the line the program keeps busy, how much processor time
// it takes meanwhile, and how far it ran ahead of what the device took.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "benchdata.h"
#include "plot/ostrel.h"
#include "plot/plotrun.h"
#include "serial/uidispatch.h"

namespace {

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void PlotThroughSimulator(benchmark::State& state, int rate, std::size_t bytes, TVaPaceLine pace = plAuto)
{
    THpglSheet sheet;
    benchdata::FillStrokes(sheet, static_cast<int>(bytes / 10));
    std::size_t streamBytes = 0;
    OstrelSheetStream(sheet, 20, true, [&](std::string_view t, TThrottle) { streamBytes += t.size(); });
    double lineUse = 0, cpuShare = 0, lead = 0;
    for (auto _ : state) {
        const std::string cmd =
            std::string(OSTREL_SIM_PATH) + " --xoff --rate " + std::to_string(rate) + " 2>/dev/null";
        FILE* sim = ::popen(cmd.c_str(), "r");
        char line[512] = {};
        if (!sim || !std::fgets(line, sizeof line, sim)) {
            state.SkipWithError("ostrel-sim did not start");
            return;
        }
        std::string path = line;
        path.erase(path.find_last_not_of("\r\n") + 1);

        TQueueDispatcher ui;
        SetUiDispatcher(&ui);
        TVaComm comm;
        comm.SetDeviceName(path);
        comm.SetMonitorEvents({});
        TVaBuffers b;
        b.SetReadSize(512);
        b.SetWriteSize(512);
        comm.SetBuffers(b);
        comm.FlowControl().SetXonXoffOut(true);
        comm.FlowControl().SetXonXoffIn(true);
        comm.SetUserBaudrate(rate);
        comm.SetPaceLine(pace);
        TPlotRunner runner(comm);
        runner.Pump = [&](bool wait) { ui.Pump(std::chrono::milliseconds(wait ? 20 : 0)); };
        runner.Running = [] { return true; };
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        runner.Plot(sheet, 20, true);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpuShare = (CpuSeconds() - cpu0) / wall;
        SetUiDispatcher(nullptr);

        std::string out;
        while (std::fgets(line, sizeof line, sim))
            out += line;
        ::pclose(sim);
        // The device's own account: seconds from its first byte to its last.
        const auto at = out.find(" s; estimated");
        auto start = out.rfind(' ', at - 1);
        const double seconds = std::atof(out.substr(start + 1, at - start - 1).c_str());
        lineUse = seconds > 0 ? static_cast<double>(streamBytes) / seconds / (rate / 10.0) : 0;
        const auto leadAt = out.find(" bytes largest lead");
        const auto leadStart = out.rfind(' ', leadAt - 1);
        lead = leadAt == std::string::npos ? -1 : std::atof(out.substr(leadStart + 1, leadAt - leadStart - 1).c_str());
    }
    state.counters["stream_bytes"] = static_cast<double>(streamBytes);
    state.counters["line_use_pct"] = lineUse * 100;
    state.counters["cpu_pct_of_wall"] = cpuShare * 100;
    state.counters["largest_lead_bytes"] = lead;
}

}  // namespace

static void BM_PlotAt115200(benchmark::State& s)
{
    PlotThroughSimulator(s, 115200, 30000);
}
static void BM_PlotAt9600(benchmark::State& s)
{
    PlotThroughSimulator(s, 9600, 5000);
}
// The same plot handed to the pseudo-terminal as fast as it takes it: the baseline pacing
// replaces.
static void BM_PlotAt115200Unpaced(benchmark::State& s)
{
    PlotThroughSimulator(s, 115200, 30000, plOff);
}
BENCHMARK(BM_PlotAt115200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlotAt115200Unpaced)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlotAt9600)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
