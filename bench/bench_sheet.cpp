#include <benchmark/benchmark.h>
#include <unistd.h>

#include "benchdata.h"
#include "hpglsheet.h"

static void BM_LoadFromFile(benchmark::State& state)
{
    const std::string text = benchdata::PlotText(24u << 20);
    const std::string path = benchdata::WriteTemp(text);
    std::size_t objects = 0, heap = 0;
    for (auto _ : state) {
        THpglSheet sheet;
        benchmark::DoNotOptimize(sheet.LoadFromFile(path));
        objects = static_cast<std::size_t>(sheet.Count());
        heap = sheet.ObjectBytes();
    }
    ::unlink(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["objects"] = static_cast<double>(objects);
    state.counters["heap_bytes_per_object"] = static_cast<double>(heap) / static_cast<double>(objects);
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
