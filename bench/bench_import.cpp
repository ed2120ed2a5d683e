#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QGuiApplication>
#include <random>
#include <string>

#include "benchdata.h"
#include "import/svgexport.h"
#include "import/svgimport.h"
#include "sheet/hpglsheet.h"

namespace {

// A generative-art style drawing: many open paths of cubic Beziers in a few colours,
// on an A4 page in millimetres.
std::string CurvySvg(int paths)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> pos(5, 205), step(-12, 12);
    const char* colours[] = {"#000000", "#c0392b", "#2980b9", "#27ae60"};
    std::string s =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\">\n";
    char buf[160];
    for (int i = 0; i < paths; ++i) {
        double x = pos(rng), y = pos(rng) * 1.4;
        std::snprintf(buf, sizeof buf, "<path fill=\"none\" stroke=\"%s\" stroke-width=\"0.3\" d=\"M%.3f %.3f",
                      colours[i % 4], x, y);
        s += buf;
        for (int k = 0; k < 8; ++k) {
            const double x1 = x + step(rng), y1 = y + step(rng), x2 = x + step(rng), y2 = y + step(rng);
            x += step(rng), y += step(rng);
            std::snprintf(buf, sizeof buf, " C%.3f %.3f %.3f %.3f %.3f %.3f", x1, y1, x2, y2, x, y);
            s += buf;
        }
        s += "\"/>\n";
    }
    return s + "</svg>\n";
}

}  // namespace

// Import of a large drawing: parsing, rendering through the collecting engine, flattening.
static void BM_ImportSvg(benchmark::State& state)
{
    const QByteArray svg = QByteArray::fromStdString(CurvySvg(static_cast<int>(state.range(0))));
    std::size_t objects = 0;
    for (auto _ : state) {
        THpglSheet sheet;
        if (!ImportSvgData(sheet, svg).Ok())
            state.SkipWithError("import failed");
        objects = static_cast<std::size_t>(sheet.Count());
    }
    state.counters["MB"] = static_cast<double>(svg.size()) / 1e6;
    state.counters["objects"] = static_cast<double>(objects);
}
BENCHMARK(BM_ImportSvg)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// The scan every import makes before Qt Svg sees the document: its peer is the import above.
static void BM_ScanSvg(benchmark::State& state)
{
    const QByteArray svg = QByteArray::fromStdString(CurvySvg(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        TSvgScan scan;
        if (!ScanSvg(svg, TSvgLimits{}, scan).empty())
            state.SkipWithError("scan refused");
        benchmark::DoNotOptimize(scan.Elements);
    }
}
BENCHMARK(BM_ScanSvg)->Arg(20000)->Unit(benchmark::kMillisecond);

// The peer of the import: the same drawing, once converted, read back as a plot file.
static void BM_LoadHpglOfTheSameDrawing(benchmark::State& state)
{
    THpglSheet imported;
    (void)ImportSvgData(imported, QByteArray::fromStdString(CurvySvg(static_cast<int>(state.range(0)))));
    const std::string path = benchdata::WriteTemp("");
    (void)imported.SaveToFile(path);
    for (auto _ : state) {
        THpglSheet sheet;
        (void)sheet.LoadFromFile(path);
        benchmark::DoNotOptimize(sheet.Count());
    }
    ::unlink(path.c_str());
    state.counters["objects"] = static_cast<double>(imported.Count());
}
BENCHMARK(BM_LoadHpglOfTheSameDrawing)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

static void BM_ExportSvg(benchmark::State& state)
{
    THpglSheet sheet;
    benchdata::FillStrokes(sheet, static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(SheetToSvg(sheet).size());
    state.counters["objects"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ExportSvg)->Arg(1000000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
