#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QTimer>
#include <chrono>

#include "ui/about.h"
#include "ui/app.h"
#include "benchdata.h"
#include "ui/frmostrel.h"
#include "ui/main.h"

// One step of a mouse drag on the view at its design size (1520 x 2160): shift the sheet,
// redraw the view, the size text and the preview.
static void BM_DragStep(benchmark::State& state)
{
    frmMain = new TfrmMain;
    frmMain->Sheet->Clear();
    benchdata::FillStrokes(*frmMain->Sheet, static_cast<int>(state.range(0)));
    frmMain->imgView->resize(1520, 2160);
    frmMain->Redraw();
    int step = 0;
    for (auto _ : state) {
        const int x = 100 + (step++ % 2 ? 7 : -7);
        frmMain->imgViewMouseDown(Qt::LeftButton, 100, 100);
        frmMain->imgViewMouseMove(x, 103);
        frmMain->imgViewMouseUp(Qt::LeftButton, x, 103);
    }
    delete frmMain;
    frmMain = nullptr;
}
BENCHMARK(BM_DragStep)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Opening a 20 MB plot file through the window, from acceptance to the redrawn view; the
// counter max_event_gap_ms is the longest time the event loop went without a turn.
static void BM_OpenThroughWindow(benchmark::State& state)
{
    const std::string text = benchdata::PlotText(20u << 20);
    const std::string path = benchdata::WriteTemp(text);
    frmMain = new TfrmMain;
    double maxGap = 0;
    for (auto _ : state) {
        auto last = std::chrono::steady_clock::now();
        QTimer ticker;
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const auto now = std::chrono::steady_clock::now();
            maxGap = std::max(maxGap, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        ticker.start();
        last = std::chrono::steady_clock::now();
        frmMain->LoadFile(QString::fromStdString(path));
        const auto now = std::chrono::steady_clock::now();
        maxGap = std::max(maxGap, std::chrono::duration<double, std::milli>(now - last).count());
    }
    state.counters["max_event_gap_ms"] = maxGap;
    state.counters["objects"] = frmMain->Sheet->Count();
    delete frmMain;
    frmMain = nullptr;
    ::unlink(path.c_str());
}
BENCHMARK(BM_OpenThroughWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TGrafonelApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
