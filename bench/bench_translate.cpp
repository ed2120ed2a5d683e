// The HP-GL/2 translator beside the plain reader on the same file of plain commands, and its
// encoded-polyline decoding, on inputs made here.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <random>
#include <string>

#include "benchdata.h"
#include "import/plotfile.h"

namespace {

// About 20 MB of absolute pen moves: strokes of PD with coordinate lists between PU moves.
std::string PaPdText()
{
    std::mt19937 rng(7);
    std::string s = "IN;SP1;PA;";
    char buf[64];
    while (s.size() < (20u << 20)) {
        int n = std::snprintf(buf, sizeof buf, "PU%u,%u;PD", static_cast<unsigned>(rng() % 10000),
                              static_cast<unsigned>(rng() % 7000));
        s.append(buf, static_cast<std::size_t>(n));
        for (int i = 0; i < 16; ++i) {
            n = std::snprintf(buf, sizeof buf, i ? ",%u,%u" : "%u,%u", static_cast<unsigned>(rng() % 10000),
                              static_cast<unsigned>(rng() % 7000));
            s.append(buf, static_cast<std::size_t>(n));
        }
        s += ";\n";
    }
    return s;
}

// About 20 MB of PE: short relative steps, as drivers write curves, a pen-up every 64 points.
std::string EncodedText()
{
    std::mt19937 rng(9);
    std::string s = "IN;SP1;";
    auto number = [&](long v) {
        unsigned long u = v < 0 ? (static_cast<unsigned long>(-v) << 1) | 1 : static_cast<unsigned long>(v) << 1;
        while (u >= 64) {
            s += static_cast<char>(63 + u % 64);
            u /= 64;
        }
        s += static_cast<char>(191 + u);
    };
    while (s.size() < (20u << 20)) {
        s += "PE<";
        number(static_cast<long>(rng() % 200) - 100);
        number(static_cast<long>(rng() % 200) - 100);
        for (int i = 0; i < 64; ++i) {
            number(static_cast<long>(rng() % 600) - 300);
            number(static_cast<long>(rng() % 600) - 300);
        }
        s += ";\n";
    }
    return s;
}

// 100,000 labels of ten characters, as an instrument's or a CAD program's text.
std::string LabelText()
{
    std::mt19937 rng(11);
    std::string s = "IN;SP1;SI0.2,0.3;";
    char buf[96];
    for (int i = 0; i < 100000; ++i) {
        const int n = std::snprintf(buf, sizeof buf, "PU%u,%u;LBValue %04u\x03", static_cast<unsigned>(rng() % 10000),
                                    static_cast<unsigned>(rng() % 7000), static_cast<unsigned>(rng() % 10000));
        s.append(buf, static_cast<std::size_t>(n));
    }
    return s;
}

void Load(benchmark::State& state, const std::string& text, TPlotReading reading)
{
    const std::string path = benchdata::WriteTemp(text);
    std::size_t objects = 0;
    for (auto _ : state) {
        THpglSheet sheet;
        benchmark::DoNotOptimize(LoadPlotFile(sheet, path, reading));
        objects = static_cast<std::size_t>(sheet.Count());
    }
    ::unlink(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["objects"] = static_cast<double>(objects);
}

void BM_PlainReaderPaPd(benchmark::State& state)
{
    static const std::string text = PaPdText();
    Load(state, text, TPlotReading::Plain);
}

void BM_TranslatePaPd(benchmark::State& state)
{
    static const std::string text = PaPdText();
    Load(state, text, TPlotReading::Translate);
}

void BM_TranslateEncoded(benchmark::State& state)
{
    static const std::string text = EncodedText();
    Load(state, text, TPlotReading::Translate);
}

void BM_TranslateLabels(benchmark::State& state)
{
    static const std::string text = LabelText();
    Load(state, text, TPlotReading::Translate);
}

}  // namespace

BENCHMARK(BM_PlainReaderPaPd)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TranslatePaPd)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TranslateEncoded)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TranslateLabels)->Unit(benchmark::kMillisecond)->MinTime(2.0);
