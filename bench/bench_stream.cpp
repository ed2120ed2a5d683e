#include <benchmark/benchmark.h>

#include "benchdata.h"
#include "plot/ostrel.h"

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
