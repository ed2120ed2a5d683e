#include <benchmark/benchmark.h>

#include "about.h"
#include "app.h"
#include "benchdata.h"
#include "frmostrel.h"
#include "main.h"

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

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TGrafonelApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
