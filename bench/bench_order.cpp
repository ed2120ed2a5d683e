// The plot order: a million separate strokes ordered by the nearest-neighbour pass alone and
// with the improvement after it, the whole sheet in and out.

#include <benchmark/benchmark.h>

#include <random>

#include "plot/estimate.h"
#include "plot/plotorder.h"
#include "sheet/hpglsheet.h"

namespace {

// Short strokes of two to four points in random places, as a hatching or a text-heavy drawing
// gives them.
void Strokes(THpglSheet& sheet, int count)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> at(0, 40000), step(-40, 40), points(1, 3);
    sheet.Add(hkSP, 1);
    for (int i = 0; i < count; ++i) {
        int x = at(rng), y = at(rng);
        sheet.Add(hkPU, x, y);
        for (int k = points(rng); k > 0; --k) {
            x += step(rng);
            y += step(rng);
            sheet.Add(hkPD, x, y);
        }
    }
    sheet.Add(hkPU, 0, 0);
    sheet.CalcExtents();
}

void BM_OrderMillionStrokes(benchmark::State& state)
{
    THpglSheet sheet;
    Strokes(sheet, static_cast<int>(state.range(0)));
    TPlotOrderOptions options;
    options.Improve = state.range(1) != 0;
    TPlotOrder order;
    for (auto _ : state) {
        order = OptimisePlotOrder(sheet, options);
        benchmark::DoNotOptimize(order.Objects.data());
    }
    state.counters["pieces"] = static_cast<double>(order.Pieces);
    state.counters["travel_left"] = order.TravelAfter / order.TravelBefore;
}
BENCHMARK(BM_OrderMillionStrokes)
    ->ArgNames({"strokes", "improve"})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
