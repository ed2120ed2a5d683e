#include <gtest/gtest.h>

#include <climits>

#include "plot/estimate.h"
#include "sheettext.h"
#include "streamtext.h"

namespace {

TPlotSettings Settings(int speed, bool accelerate, std::int64_t baud)
{
    TPlotSettings s;
    s.Speed = speed;
    s.Accelerate = accelerate;
    s.Baud = baud;
    return s;
}

std::string ResumedText(const THpglSheet& sheet, std::int32_t first)
{
    std::string out;
    OstrelResumeStream(sheet, first, 20, true, [&](std::string_view t, TThrottle) { out += t; });
    return out;
}

}  // namespace

TEST(OstrelTime, PenSpeedAndAcceleration)
{
    // 625/20 mm/s is 250 units a second.
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(1000, -20), 4.0);
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(1000, -100), 20.0);
    // Accelerated: 40 units of ramps at 1.5 times the speed, the rest at twice the speed.
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(1000, 20), 40 / 375.0 + 960 / 500.0);
    // A move shorter than both ramps never reaches full speed.
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(30, 20), 30 / 375.0);
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(40, 20), 40 / 375.0);
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(0, 20), 0.0);
    // A zero speed is taken as the fastest rather than dividing by zero.
    EXPECT_DOUBLE_EQ(OstrelMoveSeconds(625 * 8, 0), 1.0);
}

TEST(OstrelTime, LineCarriesBytesAtTheFrameRate)
{
    EXPECT_DOUBLE_EQ(LineFrameBits(8, false, 1), 10);
    EXPECT_DOUBLE_EQ(LineFrameBits(8, true, 1), 11);
    EXPECT_DOUBLE_EQ(LineFrameBits(7, true, 2), 11);
    EXPECT_DOUBLE_EQ(LineFrameBits(8, false, 1.5), 10.5);

    THpglSheet s;
    for (int i = 0; i < 200; ++i)
        s.Add(hkPA, 1000 + i % 2, 1000);
    const double bytes = static_cast<double>(StreamText(s).size());
    TPlotSettings eight = Settings(20, true, 9600);
    const TPlotEstimate e = EstimatePlot(s, eight);
    EXPECT_EQ(e.Bytes, StreamText(s).size());
    EXPECT_DOUBLE_EQ(e.LineSeconds, bytes / 960);
    TPlotSettings parity = eight;
    parity.FrameBits = LineFrameBits(8, true, 1);
    EXPECT_DOUBLE_EQ(EstimatePlot(s, parity).LineSeconds, bytes * 11 / 9600);
    // No line limit: the pen alone.
    const TPlotEstimate free = EstimatePlot(s, Settings(20, true, 0));
    EXPECT_EQ(free.LineSeconds, 0);
    EXPECT_NEAR(free.Seconds, free.DrawSeconds, free.DrawSeconds * 1e-12);
    EXPECT_EQ(free.Baud, 0);
}

TEST(OstrelTime, PenUpAndPenDownPaths)
{
    THpglSheet s;
    s.Add(hkPA, 1000, 0);  // up: the prologue's IN lifts the pen
    s.Add(hkPD);
    s.Add(hkPR, 0, 1000);   // down
    s.Add(hkPU, -1000, 0);  // up
    s.Add(hkPD, 0, -500);   // down
    s.Add(hkCI, 100);       // down, all round
    s.Add(hkER, 30, -40);   // down, four sides
    s.Add(hkSP, 2);
    const TPlotEstimate e = EstimatePlot(s, Settings(20, false, 9600));
    const double circle = 2 * 3.14159265358979 * 100;
    EXPECT_NEAR(e.PenUpLength, 2000, 1e-9);
    EXPECT_NEAR(e.PenDownLength, 1500 + circle + 140, 1e-6);
    EXPECT_NEAR(e.DrawSeconds, (3500 + circle + 140) / 250, 1e-9);
    // Acceleration speeds up long moves.
    const TPlotEstimate fast = EstimatePlot(s, Settings(20, true, 9600));
    EXPECT_LT(fast.DrawSeconds, e.DrawSeconds * 0.6);
    EXPECT_EQ(fast.Bytes, StreamText(s).size());
}

TEST(OstrelTime, SlowerOfPenAndLineStretchByStretch)
{
    // A long move that only the pen limits, then a long run of tiny moves that only the line
    // limits: neither total alone, nor their sum, is how long the plot takes.
    THpglSheet s;
    s.Add(hkPA, 2500, 0);  // 10 s at constant speed 20
    for (int i = 0; i < 1200; ++i)
        s.Add(hkPA, 2500, i % 2);
    const TPlotEstimate e = EstimatePlot(s, Settings(20, false, 9600));
    EXPECT_NEAR(e.DrawSeconds, 10 + 1199 / 250.0, 1e-6);
    EXPECT_DOUBLE_EQ(e.LineSeconds, static_cast<double>(StreamText(s, INT_MAX, 20, false).size()) / 960);
    EXPECT_GT(e.LineSeconds, 9.5);
    // The buffer lets the line run ahead of the long move only by its size.
    EXPECT_GT(e.Seconds, 19.5);
    EXPECT_LT(e.Seconds, e.DrawSeconds + e.LineSeconds - 4);
    // Where the pen is the limit throughout, the line adds nothing.
    THpglSheet slow;
    for (int i = 0; i < 50; ++i)
        slow.Add(hkPA, i % 2 ? 2000 : 0, 0);
    const TPlotEstimate p = EstimatePlot(slow, Settings(20, true, 9600));
    // (but for the bytes up to the first move: 25 at 960 a second)
    EXPECT_NEAR(p.Seconds, p.DrawSeconds + 25 / 960.0, 1e-9);
    // And the other way round.
    THpglSheet tiny;
    for (int i = 0; i < 50; ++i)
        tiny.Add(hkPA, i % 2 ? 10 : 0, 0);
    const TPlotEstimate l = EstimatePlot(tiny, Settings(20, true, 110));
    EXPECT_GT(l.LineSeconds, 10 * l.DrawSeconds);
    // (and the last move after its bytes are in)
    EXPECT_NEAR(l.Seconds, l.LineSeconds + OstrelMoveSeconds(10, 20), 1e-9);
}

TEST(OstrelTime, ResumedRunsCountTheirOwnBytes)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    THpglSheet s;
    ASSERT_TRUE(s.LoadFromFile(std::string(GRAFONEL_SAMPLES_DIR) + "/hp2xx-arcs.hp").Ok());
    const TPlotSettings settings = Settings(20, true, 9600);
    for (std::int32_t first = 0; first <= s.Count(); ++first)
        EXPECT_EQ(EstimatePlot(s, settings, first).Bytes, ResumedText(s, first).size()) << first;
    // From beyond the last object only the restoring move is left, with the pen up.
    TOstrelStream pen;
    for (const THpglObject& o : s)
        pen.Skip(o);
    const TPlotEstimate rest = EstimatePlot(s, settings, s.Count());
    const double distance = std::hypot(static_cast<double>(pen.PenX), static_cast<double>(pen.PenY));
    EXPECT_GT(distance, 0);
    EXPECT_DOUBLE_EQ(rest.PenUpLength, distance);
    EXPECT_EQ(rest.PenDownLength, 0);
    EXPECT_DOUBLE_EQ(rest.DrawSeconds, OstrelMoveSeconds(distance, 20));
}

TEST(OstrelTime, EverySampleCountsItsStreamExactly)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const auto& f : files) {
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        const TPlotEstimate e = EstimatePlot(s, Settings(20, true, 9600));
        std::uint64_t bytes = 0;
        OstrelSheetStream(s, 20, true, [&](std::string_view t, TThrottle) { bytes += t.size(); });
        EXPECT_EQ(e.Bytes, bytes) << f;
        EXPECT_GE(e.Seconds, std::max(e.DrawSeconds, e.LineSeconds) - 1e-6) << f;
        EXPECT_LE(e.Seconds, e.DrawSeconds + e.LineSeconds + 1e-6) << f;
    }
}

// What a running plot has left comes from the estimate's own clock, object by object.
TEST(OstrelTime, ObjectEndsCountDownTheEstimate)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const auto& f : files) {
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        for (const std::int64_t baud : {110, 9600, 0}) {
            const TPlotSettings settings = Settings(20, true, baud);
            std::vector<float> ends;
            const TPlotEstimate e = EstimatePlot(s, settings, 0, &ends);
            const TPlotEstimate plain = EstimatePlot(s, settings);
            EXPECT_EQ(e.Seconds, plain.Seconds) << f;  // timing the objects changes nothing
            ASSERT_EQ(ends.size(), static_cast<std::size_t>(s.Count())) << f;
            EXPECT_DOUBLE_EQ(SecondsLeft(e, ends, 0), e.Seconds) << f;
            double last = e.Seconds;
            for (std::int32_t done = 1; done <= s.Count(); ++done) {
                const double left = SecondsLeft(e, ends, done);
                ASSERT_LE(left, last + 1e-3 * e.Seconds) << f << " " << done;
                ASSERT_GE(left, 0) << f << " " << done;
                last = left;
            }
            // Only the closing text is left after the last object.
            EXPECT_LT(last, 0.01 * e.Seconds + 1) << f;
            EXPECT_LT(SecondsLeft(e, ends, s.Count() + 1), 0) << f;
            EXPECT_LT(SecondsLeft(e, ends, -1), 0) << f;
        }
    }
    // On a line-bound run the time left after half the objects is about what a resumed run
    // of the other half is estimated to take.
    THpglSheet s;
    for (int i = 0; i < 400; ++i)
        s.Add(hkPD, i * 3 % 1500, i * 7 % 2100);
    const TPlotSettings slow = Settings(20, true, 300);
    std::vector<float> ends;
    const TPlotEstimate e = EstimatePlot(s, slow, 0, &ends);
    const double resumed = EstimatePlot(s, slow, 200).Seconds;
    EXPECT_NEAR(SecondsLeft(e, ends, 200), resumed, resumed * 0.05);
}

TEST(OstrelTime, HugeArcsAreSampledCloseToTheirWalk)
{
    // Just above the walking limit: the sample must agree with the walked points.
    for (const std::int32_t sweep : {-5000, 15000, -40000}) {
        THpglSheet s;
        s.Add(hkPA, 733, 0);
        s.Add(hkPD);
        s.Add(hkAA, 0, 0, sweep);
        s.Add(hkPU, 0, 0);
        const TPlotEstimate e = EstimatePlot(s, Settings(20, true, 9600));
        const double bytes = static_cast<double>(StreamText(s).size());
        EXPECT_NEAR(static_cast<double>(e.Bytes), bytes, bytes * 0.01) << sweep;
        // Every point steps about 12.8 (1 degree) or 38.4 (3 degrees) units round the circle.
        const double points = sweep > 0 ? (sweep + 2) / 3 : -sweep;
        const double chord = 2 * 733 * std::sin((sweep > 0 ? 3 : 1) * 3.1428 / 360);
        EXPECT_NEAR(e.PenDownLength, points * chord, points * chord * 0.02) << sweep;
    }
    // 2^31 points are timed at once, not walked for minutes.
    THpglSheet huge;
    huge.Add(hkPA, 100, 0);
    huge.Add(hkAA, 0, 0, INT_MIN);
    huge.Add(hkPR, 10, 10);
    const TPlotEstimate e = EstimatePlot(huge, Settings(20, true, 9600));
    // "PA", a blank and two numbers of one to four characters a point.
    EXPECT_GT(e.Bytes, 7ull << 31);
    EXPECT_LT(e.Bytes, 11ull << 31);
    EXPECT_GT(e.LineSeconds, 1e7);
}

TEST(OstrelTime, TextsSayMinutesHoursAndTheLine)
{
    // clang-format off
    const std::pair<double, const char*> rows[] = {
        {0, "0 s"},          {0.4, "0 s"},          {40, "40 s"},          {59.4, "59 s"},
        {59.6, "1 min"},     {89, "1 min"},         {14 * 60 + 20, "14 min"}, {3569, "59 min"},
        {3599, "1 h"},       {7500, "2 h 5 min"},   {40 * 3600 + 24 * 60, "40 h 24 min"},
    };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(DurationText(seconds), text) << seconds;
    // A running clock counts hours past a day, never minutes past an hour.
    const std::pair<double, const char*> clocks[] = {
        {0, "0:00:00"},          {14.4, "0:00:14"},      {99, "0:01:39"},         {3599.6, "1:00:00"},
        {1038 * 3600.0, "1038:00:00"}, {-1, "-"},        {std::nan(""), "-"},     {1e300, "2500000000000:00:00"},
    };
    // clang-format on
    for (const auto& [seconds, text] : clocks)
        EXPECT_EQ(ClockText(seconds), text) << seconds;

    TPlotEstimate e;
    e.Seconds = 14 * 60;
    e.DrawSeconds = 12 * 60;
    e.LineSeconds = 9 * 60;
    e.Baud = 9600;
    EXPECT_EQ(EstimateText(e), "about 14 min: drawing 12 min, line 9 min at 9600");
    e.Baud = 0;
    EXPECT_EQ(EstimateText(e), "about 14 min: drawing 12 min");
    e.Seconds = e.DrawSeconds = 0.3;
    EXPECT_EQ(EstimateText(e), "under a second: drawing 0 s");
    e.PenPauses = 1;
    EXPECT_EQ(EstimateText(e), "under a second: drawing 0 s, 1 pause for a pen");
    e.PenPauses = 3;
    EXPECT_EQ(EstimateText(e), "under a second: drawing 0 s, 3 pauses for pens");
}

// Where a plot with pen pauses waits, and how often the pen goes up after drawing.
TEST(OstrelTime, PenChangesAndLiftsAreCountedWhereTheDeviceMakesThem)
{
    const struct {
        const char* Sheet;
        std::uint64_t Pauses;  // from the first object
        std::uint64_t Lifts;
    } rows[] = {
        {"SP1;PD10,0;PU;", 0, 1},                                   // the first pen goes in before the run
        {"PD10,0;SP2;PU;PD20,0;", 1, 1},                            // drawn before any selection: pen 2 is a change
        {"SP1;PD1,1;SP1;PD2,2;SP2;PU;SP3;PD3,3;SP3;PD4,4;", 1, 1},  // pen 2 draws nothing: no pause
        {"SP1;PD1,1;SP0;PU;SP1;PD3,3;", 0, 1},                      // pen 0 puts the pen away: nothing to put in
        {"SP2;SP3;PU5,5;PD6,6;PU;PU;", 0, 1},                       // nothing drawn before pen 3 goes in
        {"PU1,1;PD;PU;PD;PU;", 0, 2},
    };
    for (const auto& r : rows) {
        THpglSheet s;
        LoadText(s, r.Sheet);
        TPlotSettings settings;
        settings.PenPauses = true;
        const TPlotEstimate e = EstimatePlot(s, settings);
        EXPECT_EQ(e.PenPauses, r.Pauses) << r.Sheet;
        EXPECT_EQ(e.PenLifts, r.Lifts) << r.Sheet;
        EXPECT_EQ(EstimatePlot(s, {}).PenPauses, 0u) << r.Sheet;
    }
    // A resumed run asks first for the pen it draws with: the last it starts by selecting.
    THpglSheet s;
    LoadText(s, "SP1;PD1,1;SP2;SP3;PD2,2;");
    TPlotSettings settings;
    settings.PenPauses = true;
    EXPECT_EQ(EstimatePlot(s, settings, 2).PenPauses, 1u);  // asks for pen 3 once
    EXPECT_EQ(EstimatePlot(s, settings, 1).PenPauses, 2u);  // pen 1, then the change to 3
}
