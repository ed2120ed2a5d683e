#include <benchmark/benchmark.h>
#include <unistd.h>

#include "benchdata.h"
#include "sheet/hpglsheet.h"

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

// Each transform on a sheet of one million objects (lines, with every tenth an arc).
template <class F>
static void TransformBench(benchmark::State& state, F f)
{
    THpglSheet sheet;
    benchdata::FillSheet(sheet, 1000000, true);
    for (auto _ : state) {
        bool ok = f(sheet);
        benchmark::DoNotOptimize(ok);
        if (!ok)
            state.SkipWithError("transform refused");
    }
}

static void BM_Rotate(benchmark::State& s)
{
    TransformBench(s, [](THpglSheet& h) { return h.Rotate(); });
}
static void BM_Mirror(benchmark::State& s)
{
    TransformBench(s, [](THpglSheet& h) { return h.Mirror(); });
}
// Back and forth so the drawing stays in range however many iterations run.
static void BM_Shift(benchmark::State& s)
{
    int sign = 1;
    TransformBench(s, [&](THpglSheet& h) { return h.Shift(sign *= -1, 1); });
}
static void BM_Scale(benchmark::State& s)
{
    int i = 0;
    TransformBench(s, [&](THpglSheet& h) { return ++i % 2 ? h.Scale(7, 8) : h.Scale(8, 7); });
}
BENCHMARK(BM_Rotate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mirror)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Shift)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale)->Unit(benchmark::kMillisecond);
