#include <benchmark/benchmark.h>

#include "benchdata.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "plot/preflight.h"

// The whole device stream of a million-object sheet, a tenth of it arcs.
static void BM_OstrelStream(benchmark::State& state)
{
    THpglSheet sheet;
    benchdata::FillSheet(sheet, 1000000, true);
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        OstrelSheetStream(sheet, 20, true, [&](std::string_view t, TThrottle) {
            bytes += t.size();
            benchmark::DoNotOptimize(t.data());
        });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["stream_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_OstrelStream)->Unit(benchmark::kMillisecond);

// The estimate the plot dialog recomputes when the speed or baud rate changes, on the same
// sheet: its peer is the stream itself, which the estimate walks once.
static void BM_EstimatePlot(benchmark::State& state)
{
    THpglSheet sheet;
    benchdata::FillSheet(sheet, 1000000, true);
    TPlotSettings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(EstimatePlot(sheet, settings).Seconds);
}
BENCHMARK(BM_EstimatePlot)->Unit(benchmark::kMillisecond);

// The same with each object's end timed, as the dialog times it for a run's time left: its
// peer is the estimate above.
static void BM_EstimatePlotObjectEnds(benchmark::State& state)
{
    THpglSheet sheet;
    benchdata::FillSheet(sheet, 1000000, true);
    TPlotSettings settings;
    std::vector<float> ends;
    for (auto _ : state)
        benchmark::DoNotOptimize(EstimatePlot(sheet, settings, 0, &ends).Seconds);
}
BENCHMARK(BM_EstimatePlotObjectEnds)->Unit(benchmark::kMillisecond);

// Warnings before a plot, on the same sheet.
static void BM_Preflight(benchmark::State& state)
{
    THpglSheet sheet;
    benchdata::FillSheet(sheet, 1000000, true);
    for (auto _ : state)
        benchmark::DoNotOptimize(Preflight(sheet).size());
}
BENCHMARK(BM_Preflight)->Unit(benchmark::kMillisecond);
