#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "benchdata.h"
#include "sheet/hpglsheet.h"
#include "ui/qtcanvas.h"

// Draw through QtCanvas into the view's full-size bitmap, as every repaint while dragging.
static void BM_DrawQtCanvas(benchmark::State& state)
{
    THpglSheet sheet;
    benchdata::FillStrokes(sheet, static_cast<int>(state.range(0)));
    QImage img(1520, 2160, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&img);
        PaintView(p, &sheet, img.width(), img.height());
        p.end();
        benchmark::DoNotOptimize(img.constBits());
    }
    state.counters["objects"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_DrawQtCanvas)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
