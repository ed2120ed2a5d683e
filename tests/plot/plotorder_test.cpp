#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "interp.h"
#include "import/plotfile.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "plot/plotorder.h"
#include "plot/tourorder.h"
#include "sheettext.h"

namespace {

using TSegment = std::array<std::int32_t, 4>;
// A circle, rectangle or arc: pen, kind, where it starts, its numbers, the pen down or not.
using TUnit = std::tuple<std::int64_t, int, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, bool>;

// What the device draws, pen by pen: pen-down segments without their direction, and the units
// with where they start.
struct TDrawn {
    std::map<std::int64_t, std::multiset<TSegment>> Lines;
    std::multiset<TUnit> Units;
    bool operator==(const TDrawn&) const = default;
};

TDrawn Drawn(const THpglSheet& sheet)
{
    TDrawn d;
    TOstrelInterpreter device;
    TOstrelStream stream;
    std::int64_t pen = LLONG_MIN;
    auto feed = [&](std::string_view t, TThrottle) { device.Feed(t); };
    stream.Prologue(20, true, feed);
    for (const THpglObject& o : sheet) {
        if (o.Kind == hkSP)
            pen = o.ParamCount ? o.P1 : 0;
        if (o.Kind == hkCI || o.Kind == hkER || o.Kind == hkAA) {
            const bool arc = o.Kind == hkAA;
            d.Units.insert({pen, o.Kind, arc ? stream.PenX : stream.DeviceX, arc ? stream.PenY : stream.DeviceY, o.P1,
                            o.P2, o.P3, stream.Down && arc});
        }
        const std::size_t before = device.Lines.size();
        stream.ObjectTexts(o, feed);
        device.Feed(";");  // carried out now, so its lines go with this object's pen
        for (std::size_t i = before; i < device.Lines.size(); ++i) {
            const TSimLine& l = device.Lines[i];
            TSegment s{l.X1, l.Y1, l.X2, l.Y2};
            if (std::tie(s[2], s[3]) < std::tie(s[0], s[1]))
                s = {l.X2, l.Y2, l.X1, l.Y1};
            d.Lines[pen].insert(s);
        }
    }
    return d;
}

std::string Optimised(const std::string& text)
{
    THpglSheet s;
    s.LoadFromText(text);
    const TPlotOrder order = OptimisePlotOrder(s);
    if (!order.Ok)
        return "refused: " + order.Reason;
    THpglSheet out;
    RefillSheet(out, order.Objects);
    return SheetText(out);
}

// A drawing of every kind of object, small enough that ends often meet.
void RandomSheet(THpglSheet& s, std::mt19937& rng, bool pens, bool relative)
{
    std::uniform_int_distribution<int> coord(-40, 40), kind(0, 15), count(1, 60);
    const int n = count(rng) * 4;
    for (int i = 0; i < n; ++i) {
        const int x = coord(rng), y = coord(rng);
        // clang-format off
        switch (kind(rng)) {
        case 0: case 1: case 2: s.Add(hkPU, x, y); break;
        case 3: case 4: case 5: case 6: s.Add(hkPD, x, y); break;
        case 7: s.Add(rng() % 2 ? hkPU : hkPD); break;
        case 8: s.Add(hkPA, x, y); break;
        case 9: relative ? s.Add(hkPR, x / 4, y / 4) : s.Add(hkPA); break;
        case 10: s.Add(relative && rng() % 2 ? hkPR : hkPA); break;
        case 11: if (pens) s.Add(hkSP, static_cast<std::int32_t>(rng() % 4)); break;
        case 12: s.Add(hkCI, x); break;
        case 13: s.Add(hkER, x, y); break;
        default:
            // Arcs in relative mode part the device's pen from the view's, which is refused.
            if (!relative || rng() % 8 == 0)
                s.Add(hkAA, x, y, static_cast<std::int32_t>(rng() % 200) - 100);
            break;
        }
        // clang-format on
    }
    s.CalcExtents();
}

}  // namespace

TEST(PlotOrder, ReordersReversesJoinsAndKeepsUnitsWhole)
{
    const struct {
        const char* Name;
        const char* In;
        const char* Out;
    } cases[] = {
        {"the nearer stroke first, drawn from its nearer end", "PU100,0;PD200,0;PU90,0;PD0,0;",
         "PU 0 0|PD 90 0|PU 100 0|PD 200 0"},
        {"strokes that meet are drawn without lifting the pen", "PU0,0;PD10,0;PU20,0;PD10,0;",
         "PU 0 0|PD 10 0|PD 20 0"},
        {"pens keep their first-use order; the closing moves stay last",
         "SP2;PU0,0;PD0,10;SP1;PU5,5;PD5,6;SP2;PU0,20;PD0,30;PU0,0;SP0;",
         "SP 2|PU 0 0|PD 0 10|PU 0 20|PD 0 30|SP 1|PU 5 6|PD 5 5|PU 0 0|SP 0"},
        {"relative moves become absolute", "PR;PU10,10;PD5,0,0,5;PU-15,-15;", "PU 10 10|PD 15 10|PD 15 15|PU 0 0"},
        {"a circle drawn pen down moves with its start and lowered pen", "PU100,100;PD;CI50;PU0,0;PD10,0;",
         "PU 0 0|PD 10 0|PU 100 100|PD|CI 50"},
        {"an arc keeps its start and direction", "PU0,0;PD100,0;PU200,0;PD;AA100,0,-90;",
         "PU 0 0|PD 100 0|PU 200 0|PD|AA 100 0 -90"},
        {"an arc drawn pen up stays pen up", "PU50,0;AA0,0,45;PU0,0;PD5,5;", "PU 0 0|PD 5 5|PU 50 0|AA 0 0 45"},
        {"a rectangle at its corner", "PU10,10;ER5,5;", "PU 10 10|ER 5 5"},
        {"a dot is a stroke of one point", "PU30,0;PD;PU;PU10,0;PD;PU;", "PU 10 0|PD|PU 30 0|PD|PU"},
        {"nothing drawn: the objects stay", "PU10,10;SP2;", "PU 10 10|SP 2"},
        {"a drawing that ended pen up ends so", "PU5,0;PD6,0;PU;PU0,0;PD1,0;PU;", "PU 0 0|PD 1 0|PU 5 0|PD 6 0|PU"},
        {"a relative move past the 32-bit range", "PR;PU2147483000,0;PD1000,0;",
         "refused: a relative move leaves the 32-bit range"},
        {"an arc whose start the device and the view disagree on", "PR;PU100,0;PD;AA0,0,90;PD10,0;AA0,0,90;",
         "refused: an arc follows relative moves that the device and the view place differently"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Optimised(c.In), c.Out) << c.Name;

    THpglSheet odd;
    odd.Add(hkPD, 5);
    EXPECT_EQ(OptimisePlotOrder(odd).Reason, "a pen command carries one number");
}

TEST(PlotOrder, RandomDrawingsDrawTheSameAndNeverTravelFurther)
{
    std::mt19937 rng(20261209);
    int refused = 0;
    for (int run = 0; run < 400; ++run) {
        const bool pens = run % 2 == 0, relative = run % 3 == 0;
        THpglSheet s;
        RandomSheet(s, rng, pens, relative);
        const TPlotOrder order = OptimisePlotOrder(s);
        if (!order.Ok) {
            // Only relative drawings can part the device's pen from the view's.
            EXPECT_TRUE(relative) << SheetText(s);
            ++refused;
            continue;
        }
        THpglSheet out;
        RefillSheet(out, order.Objects);
        ASSERT_TRUE(Drawn(out) == Drawn(s)) << "run " << run << ": " << SheetText(s);
        // Ordering the order again finds nothing to undo and the same picture.
        const TPlotOrder again = OptimisePlotOrder(out);
        ASSERT_TRUE(again.Ok);
        THpglSheet twice;
        RefillSheet(twice, again.Objects);
        ASSERT_TRUE(Drawn(twice) == Drawn(s)) << "run " << run;
        if (order.Pens <= 1) {
            // With several pens each pen's travel is never longer, but pens are no longer
            // interleaved, so the sum may be.
            EXPECT_LE(order.TravelAfter, order.TravelBefore + 1e-6) << SheetText(s);
            EXPECT_LE(again.TravelAfter, order.TravelAfter + 1e-6) << SheetText(s);
        }
        EXPECT_EQ(OptimisePlotOrder(s).Objects.size(), order.Objects.size());
    }
    EXPECT_LT(refused, 40);
}

TEST(PlotOrder, EverySampleDrawsTheSameInTheSameOrderEveryTime)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const auto& f : files) {
        THpglSheet s;
        ASSERT_TRUE(LoadPlotFile(s, f).Ok()) << f;
        const TPlotOrder order = OptimisePlotOrder(s);
        ASSERT_TRUE(order.Ok) << f << ": " << order.Reason;
        THpglSheet out;
        RefillSheet(out, order.Objects);
        EXPECT_TRUE(Drawn(out) == Drawn(s)) << f;
        if (order.Pens <= 1) {
            EXPECT_LE(order.TravelAfter, order.TravelBefore + 1e-6) << f;
        }
        TPlotOrderOptions greedy;
        greedy.Improve = false;
        EXPECT_LE(order.TravelAfter, OptimisePlotOrder(s, greedy).TravelAfter + 1e-6) << f;
        THpglSheet again;
        RefillSheet(again, OptimisePlotOrder(s).Objects);
        EXPECT_EQ(SheetText(again), SheetText(out)) << f;
    }
}

TEST(PlotOrder, TheBusySamplesTravelAsLittleAsTheFiguresWePromise)
{
    REQUIRE_SAMPLES(testfiles::Samples());
    const struct {
        const char* File;
        double Saved;        // pen-up travel saved against the file's order, at least
        double BelowGreedy;  // and below the nearest-neighbour pass alone
    } cases[] = {
        {"hpglviewer-mutoh-xp500.hpgl", 0.77, 0.07},
        {"aristo-cutter.PLT", 0.80, 0.0},
        {"fabric-nesting-B.plt", 0.64, 0.07},
        {"chiplotle-foal.hpgl", 0.78, 0.0},
    };
    for (const auto& c : cases) {
        THpglSheet s, better, greedy;
        ASSERT_TRUE(LoadPlotFile(s, std::string(GRAFONEL_SAMPLES_DIR) + "/" + c.File).Ok()) << c.File;
        RefillSheet(better, OptimisePlotOrder(s).Objects);
        TPlotOrderOptions options;
        options.Improve = false;
        RefillSheet(greedy, OptimisePlotOrder(s, options).Objects);
        const TPlotSettings settings;
        const double before = EstimatePlot(s, settings).PenUpLength;
        const double after = EstimatePlot(better, settings).PenUpLength;
        const double nearest = EstimatePlot(greedy, settings).PenUpLength;
        EXPECT_LE(after, before * (1 - c.Saved)) << c.File;
        EXPECT_LE(after, nearest * (1 - c.BelowGreedy)) << c.File;
    }
}

TEST(PlotOrder, ProgressRisesAndACancelLeavesNothing)
{
    THpglSheet s;
    std::mt19937 rng(5);
    for (int i = 0; i < 30000; ++i) {
        const auto x = static_cast<std::int32_t>(rng() % 10000), y = static_cast<std::int32_t>(rng() % 10000);
        s.Add(hkPU, x, y);
        s.Add(hkPD, x + static_cast<std::int32_t>(rng() % 20), y + static_cast<std::int32_t>(rng() % 20));
    }
    std::vector<double> seen;
    TPlotOrderOptions options;
    options.Progress = [&](double f) {
        seen.push_back(f);
        return true;
    };
    ASSERT_TRUE(OptimisePlotOrder(s, options).Ok);
    ASSERT_GT(seen.size(), 3u);
    EXPECT_GT(seen.back(), 0.9);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0);
    EXPECT_LE(seen.back(), 1);

    for (const double at : {0.0, 0.3, 0.6, 0.9}) {
        options.Progress = [at](double f) { return f < at; };
        const TPlotOrder cancelled = OptimisePlotOrder(s, options);
        EXPECT_TRUE(cancelled.Cancelled) << at;
        EXPECT_FALSE(cancelled.Ok) << at;
        EXPECT_TRUE(cancelled.Objects.empty()) << at;
    }
}

TEST(TourOrder, PiecesThatMayNotTurnAreNeverReversedAndEveryPieceComesOnce)
{
    std::mt19937 rng(3);
    for (int run = 0; run < 200; ++run) {
        std::vector<TTourPiece> pieces(1 + rng() % 300);
        for (auto& p : pieces) {
            p.Sx = static_cast<std::int32_t>(rng() % 1000);
            p.Sy = static_cast<std::int32_t>(rng() % 1000);
            p.Ex = p.Sx + static_cast<std::int32_t>(rng() % 41) - 20;
            p.Ey = p.Sy + static_cast<std::int32_t>(rng() % 41) - 20;
            p.Reversible = rng() % 4 != 0;
        }
        const std::vector<TTourStep> steps = OrderTour(pieces, 0, 0, {});
        ASSERT_EQ(steps.size(), pieces.size());
        std::vector<int> seen(pieces.size());
        for (const TTourStep& s : steps) {
            ++seen[s.Piece];
            const TTourPiece& p = pieces[s.Piece];
            EXPECT_FALSE(s.Reversed && !p.Reversible && (p.Sx != p.Ex || p.Sy != p.Ey)) << run;
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(pieces.size()));
        EXPECT_LE(TourTravel(pieces, steps, 0, 0), TourTravel(pieces, NearestNeighbourTour(pieces, 0, 0), 0, 0) + 1e-6);
    }
}

TEST(TourOrder, TheNearestNeighbourPassTakesTheNearestEndNext)
{
    // From the origin: piece 2 by its end (2, 0), then piece 0 from (10, 0), then piece 1,
    // which may not be reversed, from its start.
    const std::vector<TTourPiece> pieces = {{10, 0, 20, 0, true}, {50, 0, 21, 0, false}, {5, 5, 2, 0, true}};
    const std::vector<TTourStep> steps = NearestNeighbourTour(pieces, 0, 0);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].Piece, 2u);
    EXPECT_TRUE(steps[0].Reversed);
    EXPECT_EQ(steps[1].Piece, 0u);
    EXPECT_FALSE(steps[1].Reversed);
    EXPECT_EQ(steps[2].Piece, 1u);
    EXPECT_FALSE(steps[2].Reversed);
    EXPECT_DOUBLE_EQ(TourTravel(pieces, steps, 0, 0), 2 + std::hypot(5.0, 5.0) + 30);
}
