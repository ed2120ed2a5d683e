// The simulated device against the program's own model of it: the time it reckons for what
// it received, and what it draws when a plot is cut and resumed.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "interp.h"
#include "plot/estimate.h"
#include "sheet/frame.h"
#include "sheettext.h"
#include "streamtext.h"

namespace {

std::string Resumed(const THpglSheet& sheet, std::int32_t first)
{
    std::string out;
    OstrelResumeStream(sheet, first, 20, true, [&](std::string_view t, TThrottle) { out += t; });
    return out;
}

// What the device draws for the whole plot, and for the plot stopped before object k and
// then resumed from k, in the same order.
void ExpectCutAndResumeDrawsTheSame(const THpglSheet& sheet, std::int32_t k, const std::string& what)
{
    TOstrelInterpreter w;
    w.Feed(StreamText(sheet));
    w.Finish();
    TOstrelInterpreter a, b;
    a.Feed(StreamText(sheet, k));
    a.Finish();
    b.Feed(Resumed(sheet, k));
    b.Finish();
    ASSERT_EQ(w.Lines.size(), a.Lines.size() + b.Lines.size()) << what << " cut at " << k;
    for (std::size_t i = 0; i < w.Lines.size(); ++i) {
        const TSimLine& got = i < a.Lines.size() ? a.Lines[i] : b.Lines[i - a.Lines.size()];
        const TSimLine& want = w.Lines[i];
        ASSERT_TRUE(got.X1 == want.X1 && got.Y1 == want.Y1 && got.X2 == want.X2 && got.Y2 == want.Y2)
            << what << " cut at " << k << ": segment " << i;
    }
    ASSERT_EQ(w.Circles.size(), a.Circles.size() + b.Circles.size()) << what << " cut at " << k;
    for (std::size_t i = 0; i < b.Circles.size(); ++i) {
        const TSimCircle& c = w.Circles[a.Circles.size() + i];
        EXPECT_TRUE(c.X == b.Circles[i].X && c.Y == b.Circles[i].Y && c.R == b.Circles[i].R) << what << " " << k;
    }
    ASSERT_EQ(w.Rects.size(), a.Rects.size() + b.Rects.size()) << what << " cut at " << k;
    for (std::size_t i = 0; i < b.Rects.size(); ++i) {
        const TSimRect& r = w.Rects[a.Rects.size() + i];
        EXPECT_TRUE(r.X == b.Rects[i].X && r.Y == b.Rects[i].Y && r.W == b.Rects[i].W && r.H == b.Rects[i].H)
            << what << " " << k;
    }
    EXPECT_EQ(b.X, w.X) << what << " " << k;
    EXPECT_EQ(b.Y, w.Y) << what << " " << k;
}

}  // namespace

TEST(DeviceResume, EveryCutOfSheetsSwitchingModesWithThePenDown)
{
    // PA and PR alternate with the pen down across every cut; arcs in both modes, circles,
    // rectangles, pen selections and bare mode switches between them.
    THpglSheet s;
    LoadText(s, "PA100,100;PD;PR50,0,0,50;PA300,300;PR;PD-20,-20;AA250,250,45;PD10,0;PD30,0;PU;PA400,100;PD;"
                "CI30;PR0,40;ER15,-15;SP2;PA;PD500,500;AA450,450,-120;PR;PU5,5;PD5,5,-10,0;PA600,50;");
    ASSERT_GT(s.Count(), 20);
    for (std::int32_t k = 1; k <= s.Count(); ++k)
        ExpectCutAndResumeDrawsTheSame(s, k, "mixed sheet");

    // Only relative moves, the pen down from the start.
    THpglSheet r;
    LoadText(r, "PD;PR10,0;PR0,10;PR-10,0;PR0,-10;PR20,20;PA;PR;PR5,5;");
    for (std::int32_t k = 1; k <= r.Count(); ++k)
        ExpectCutAndResumeDrawsTheSame(r, k, "relative sheet");
}

TEST(DeviceResume, SamplesCutAtSeveralPlaces)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    int tried = 0;
    for (const auto& f : files) {
        // The large samples make the same point more slowly.
        if (std::filesystem::file_size(f) > 150000)
            continue;
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        const std::int32_t n = s.Count();
        for (const std::int32_t k : {1, n / 3, n / 2, n - 1})
            if (k >= 1 && k < n)
                ExpectCutAndResumeDrawsTheSame(s, k, f);
        ++tried;
    }
    EXPECT_GT(tried, 20);
}

TEST(DeviceClock, SimulatorReckonsWhatTheEstimateSays)
{
    // The simulator times the bytes it parses; the estimate times the sheet it walks. Both
    // must come to the same pen paths and drawing time.
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const auto& f : files) {
        if (std::filesystem::file_size(f) > 150000)
            continue;
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        for (const bool accelerate : {true, false}) {
            const std::string stream = StreamText(s, INT_MAX, 30, accelerate);
            TOstrelInterpreter d;
            d.Clock = TOstrelClock(960);
            d.Feed(stream);
            d.Finish();
            TPlotSettings settings;
            settings.Speed = 30;
            settings.Accelerate = accelerate;
            const TPlotEstimate e = EstimatePlot(s, settings);
            EXPECT_EQ(d.Clock.ByteCount, stream.size()) << f;
            EXPECT_NEAR(d.Clock.PenDownLength, e.PenDownLength, 1e-6 * (1 + e.PenDownLength)) << f;
            EXPECT_NEAR(d.Clock.PenUpLength, e.PenUpLength, 1e-6 * (1 + e.PenUpLength)) << f;
            EXPECT_NEAR(d.Clock.DrawSeconds, e.DrawSeconds, 1e-6 * (1 + e.DrawSeconds)) << f;
            EXPECT_DOUBLE_EQ(d.Clock.LineSeconds(), e.LineSeconds) << f;
            // Commands start at the same bytes but for the prologue's three.
            EXPECT_NEAR(d.Clock.Seconds(), e.Seconds, 0.01 * e.Seconds + 0.1) << f;
        }
    }
}

TEST(DeviceClock, SpeedCommandsChangeThePenMidway)
{
    TOstrelInterpreter d;
    d.Feed(" SD-20 BP IN PA1000 0 SD-100 PA0 0");
    d.Finish();
    EXPECT_DOUBLE_EQ(d.Clock.DrawSeconds, 1000 / 250.0 + 1000 / 50.0);
    EXPECT_DOUBLE_EQ(d.Clock.PenUpLength, 2000);
    // Circles and rectangles take the time of their outlines.
    TOstrelInterpreter c;
    c.Feed(" SD-20 PD CI100 ER30,40");
    c.Finish();
    EXPECT_NEAR(c.Clock.PenDownLength, 2 * 3.14159265358979 * 100 + 140, 1e-9);
}

namespace {

// The plot's duration as a device with a `buffer`-byte input buffer on a line of `rate`
// bytes a second takes it, byte by byte in virtual time: the line sends while the buffer has
// room, the device takes a byte once it has arrived and the pen has finished the commands
// before it.
double PacedSeconds(const std::string& stream, double rate, std::size_t buffer)
{
    TOstrelInterpreter d;
    std::vector<double> taken(stream.size());
    double lineFree = 0, penFree = 0, last = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        double start = lineFree;
        if (i >= buffer)
            start = std::max(start, taken[i - buffer]);
        const double arrived = start + 1 / rate;
        lineFree = arrived;
        last = std::max({arrived, penFree, last});
        taken[i] = last;
        const double before = d.Clock.DrawSeconds;
        d.Feed(std::string_view(stream).substr(i, 1));
        if (d.Clock.DrawSeconds > before)
            penFree = last + (d.Clock.DrawSeconds - before);
    }
    const double before = d.Clock.DrawSeconds;
    d.Finish();
    penFree = std::max(penFree, last) + (d.Clock.DrawSeconds - before);
    return std::max(last, penFree);
}

}  // namespace

TEST(DeviceClock, EstimateAgreesWithADeviceThatDrawsWhileTheLineWaits)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    int compared = 0;
    for (const auto& f : files) {
        if (std::filesystem::file_size(f) > 150000)
            continue;
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        if (!FitToFrame(s))
            continue;
        for (const std::int64_t baud : {300, 1200, 9600}) {
            for (const int speed : {12, 40}) {
                const std::string stream = StreamText(s, INT_MAX, speed, true);
                TPlotSettings settings;
                settings.Speed = speed;
                settings.Baud = baud;
                const TPlotEstimate e = EstimatePlot(s, settings);
                const double paced = PacedSeconds(stream, static_cast<double>(baud) / 10, kOstrelInputBuffer);
                EXPECT_NEAR(e.Seconds, paced, 0.1 * paced + 0.05) << f << " at " << baud << " speed " << speed;
            }
        }
        ++compared;
    }
    EXPECT_GT(compared, 20);
}
