#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "import/hpglgeom.h"

using namespace hpgl2;

namespace {

using TRings = std::vector<std::vector<TPt>>;
using TPieces = std::vector<std::pair<TPt, TPt>>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = std::acos(-1.0);

bool Same(TPt p, TPt q, double eps = 1e-9)
{
    return std::abs(p.X - q.X) <= eps && std::abs(p.Y - q.Y) <= eps;
}
double Dist(TPt p, TPt q)
{
    return std::hypot(q.X - p.X, q.Y - p.Y);
}
TPt Lerp(TPt p, TPt q, double t)
{
    return {p.X + (q.X - p.X) * t, p.Y + (q.Y - p.Y) * t};
}

std::vector<TPt> Rect(double x0, double y0, double x1, double y1)
{
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}
std::vector<TPt> Reversed(std::vector<TPt> r)
{
    return {r.rbegin(), r.rend()};
}
// A square with a notch from the top down to y = 4, its floor level.
const std::vector<TPt> kNotched = {{0, 0}, {10, 0}, {10, 10}, {7, 10}, {7, 4}, {3, 4}, {3, 10}, {0, 10}};

std::vector<TPt> RegularPolygon(std::size_t n, double r, std::size_t step = 1)
{
    std::vector<TPt> ring;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 2 * kPi * double(i * step % n) / double(n) + kPi / 2;
        ring.push_back({r * std::cos(a), r * std::sin(a)});
    }
    return ring;
}

// Crossing-number winding of p, independent of the sweep.
int Winding(const TRings& rings, TPt p)
{
    int w = 0;
    for (const auto& r : rings)
        for (std::size_t i = 0; i < r.size(); ++i) {
            const TPt a = r[i], b = r[(i + 1) % r.size()];
            const double side = (b.X - a.X) * (p.Y - a.Y) - (p.X - a.X) * (b.Y - a.Y);
            if (a.Y <= p.Y && b.Y > p.Y && side > 0)
                ++w;
            else if (a.Y > p.Y && b.Y <= p.Y && side < 0)
                --w;
        }
    return w;
}

double BoundaryDistance(const TRings& rings, TPt p)
{
    double best = HUGE_VAL;
    for (const auto& r : rings)
        for (std::size_t i = 0; i < r.size(); ++i) {
            const TPt a = r[i], b = r[(i + 1) % r.size()];
            const double len2 = (b.X - a.X) * (b.X - a.X) + (b.Y - a.Y) * (b.Y - a.Y);
            const double t = std::clamp(((p.X - a.X) * (b.X - a.X) + (p.Y - a.Y) * (b.Y - a.Y)) / len2, 0.0, 1.0);
            best = std::min(best, Dist(p, Lerp(a, b, t)));
        }
    return best;
}

struct THatch {
    std::int64_t Count;
    TPieces Strokes;
};

THatch Hatch(const TRings& rings, TFillRule rule, double angle, double spacing, TPt anchor = {},
             std::int64_t limit = 10'000'000)
{
    THatch h{0, {}};
    h.Count =
        HatchRings(rings, rule, angle, spacing, anchor, limit, [&](TPt a, TPt b) { h.Strokes.emplace_back(a, b); });
    EXPECT_EQ(h.Count, h.Count < 0 && h.Strokes.empty() ? -1 : std::int64_t(h.Strokes.size())) << "count or refusal";
    return h;
}

// Every stroke runs along the hatch direction on a line of the lattice, ends on the outline
// and stays inside by the rule; gives the total stroke length.
double CheckedLength(const TRings& rings, TFillRule rule, double angle, double spacing, TPt anchor, const THatch& h)
{
    const double c = std::cos(angle * kPi / 180), s = std::sin(angle * kPi / 180);
    double total = 0;
    for (const auto& [a, b] : h.Strokes) {
        const double len = Dist(a, b);
        total += len;
        EXPECT_GT(len, 0);
        EXPECT_NEAR(((b.X - a.X) * s - (b.Y - a.Y) * c) / len, 0, 1e-9);
        const double k = ((a.Y - anchor.Y) * c - (a.X - anchor.X) * s) / spacing;
        EXPECT_NEAR(k, std::round(k), 1e-6);
        EXPECT_LT(BoundaryDistance(rings, a), 1e-6);
        EXPECT_LT(BoundaryDistance(rings, b), 1e-6);
        for (double t : {0.25, 0.5, 0.75}) {
            const TPt p = Lerp(a, b, t);
            const int w = Winding(rings, p);
            EXPECT_TRUE((rule == TFillRule::EvenOdd ? w % 2 != 0 : w != 0) || BoundaryDistance(rings, p) < 1e-6)
                << "stroke leaves the shape at " << p.X << "," << p.Y;
        }
    }
    return total;
}

TPieces Dash(TDasher& d, const std::vector<TPt>& path)
{
    TPieces out;
    for (std::size_t i = 1; i < path.size(); ++i)
        d.Segment(path[i - 1], path[i], [&](TPt a, TPt b) { out.emplace_back(a, b); });
    return out;
}

void ExpectPieces(const TPieces& got, const TPieces& want, const char* what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(Same(got[i].first, want[i].first) && Same(got[i].second, want[i].second)) << what << " " << i;
}

}  // namespace

TEST(HpglGeomClip, CutsToTheWindowEdgesIncluded)
{
    // Window 0..10 square unless the case gives its own; nothing kept when WantA is NaN.
    struct TCase {
        const char* Name;
        TPt A, B, WantA, WantB;
        double X0 = 0, Y0 = 0, X1 = 10, Y1 = 10;
    } cases[] = {
        {"inside", {1, 2}, {9, 8}, {1, 2}, {9, 8}},
        {"left", {-5, 1}, {-1, 9}, {kNaN}, {}},
        {"right", {11, 1}, {15, 9}, {kNaN}, {}},
        {"below", {1, -1}, {9, -5}, {kNaN}, {}},
        {"above", {1, 11}, {9, 10.5}, {kNaN}, {}},
        {"backwards", {15, 5}, {-5, 5}, {10, 5}, {0, 5}},
        {"two corners", {-5, -5}, {15, 15}, {0, 0}, {10, 10}},
        {"one corner", {-5, 5}, {5, -5}, {0, 0}, {0, 0}},
        {"near a corner", {-5, 4.9}, {4.9, -5}, {kNaN}, {}},
        {"on an edge", {-5, 10}, {15, 10}, {0, 10}, {10, 10}},
        {"one end out", {5, 5}, {5, 20}, {5, 5}, {5, 10}},
        {"point inside", {3, 3}, {3, 3}, {3, 3}, {3, 3}},
        {"point on edge", {0, 3}, {0, 3}, {0, 3}, {0, 3}},
        {"point outside", {-1, 3}, {-1, 3}, {kNaN}, {}},
        {"inverted x", {1, 1}, {2, 2}, {kNaN}, {}, 10, 0, 0, 10},
        {"inverted y", {1, 1}, {2, 2}, {kNaN}, {}, 0, 10, 10, 0},
        {"NaN end", {kNaN, 1}, {2, 2}, {kNaN}, {}},
        {"NaN window", {1, 1}, {2, 2}, {kNaN}, {}, 0, kNaN},
        {"far ends", {-1e308, 5}, {1e308, 5}, {0, 5}, {10, 5}},
    };
    for (const auto& c : cases) {
        TPt a = c.A, b = c.B;
        ASSERT_EQ(ClipSegment(a, b, c.X0, c.Y0, c.X1, c.Y1), !std::isnan(c.WantA.X)) << c.Name;
        EXPECT_TRUE(std::isnan(c.WantA.X) || (Same(a, c.WantA) && Same(b, c.WantB))) << c.Name;
    }

    // Random segments: the kept part lies in the window, in the original direction, and
    // holds every point of the segment that is inside.
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> coord(-20, 30);
    const auto in = [](TPt p) { return p.X >= 0 && p.X <= 10 && p.Y >= 0 && p.Y <= 10; };
    for (int i = 0; i < 2000; ++i) {
        const TPt a0{coord(gen), coord(gen)}, b0{coord(gen), coord(gen)};
        TPt a = a0, b = b0;
        const bool kept = ClipSegment(a, b, 0, 0, 10, 10);
        EXPECT_TRUE(!kept || (in(a) && in(b) && Dist(a0, a) <= Dist(a0, b)));
        for (double t = 0; t <= 1; t += 1.0 / 64) {
            const TPt p = Lerp(a0, b0, t);
            EXPECT_TRUE(!in(p) || (kept && BoundaryDistance({{a, b}}, p) < 1e-9));
        }
    }
}

TEST(HpglGeomHatch, SquareGivesSerpentineStrokesOnTheLattice)
{
    const THatch h = Hatch({Rect(0, 0, 10, 10)}, TFillRule::EvenOdd, 0, 1);
    TPieces want;
    for (int y = 0; y < 10; ++y)
        want.emplace_back(TPt{y % 2 == 0 ? 0.0 : 10.0, double(y)}, TPt{y % 2 == 0 ? 10.0 : 0.0, double(y)});
    ExpectPieces(h.Strokes, want, "serpentine");

    const struct {
        double Angle, Spacing;
        TPt Anchor;
        std::int64_t Count;  // -1: no simple count, check the cover instead
    } cases[] = {
        {0, 3, {}, 4},   {0, 1, {0, 0.5}, 10}, {0, 20, {0, 5}, 1}, {0, 20, {0, 10.5}, 0}, {90, 1, {}, 10},
        {180, 2, {}, 5}, {-270, 1, {}, 10},    {45, 1, {}, 15},    {45, 1, {0.5, 0}, 14}, {720 + 30, 0.7, {3, 4}, -1},
    };
    for (const auto& c : cases) {
        const THatch g = Hatch({Rect(0, 0, 10, 10)}, TFillRule::NonZero, c.Angle, c.Spacing, c.Anchor);
        const double total = CheckedLength({Rect(0, 0, 10, 10)}, TFillRule::NonZero, c.Angle, c.Spacing, c.Anchor, g);
        if (c.Count >= 0)
            EXPECT_EQ(g.Count, c.Count) << c.Angle << " " << c.Spacing;
        else
            EXPECT_NEAR(total * c.Spacing, 100, 5) << c.Angle << " " << c.Spacing;
    }
}

TEST(HpglGeomHatch, LengthMatchesAreaUnderEitherRule)
{
    const auto outer = Rect(0, 0, 10, 10), hole = Rect(3, 3, 7, 7);
    const std::vector<TPt> star = RegularPolygon(5, 10, 2);
    // The star's outline, and the pentagon inside where it winds twice.
    const double starArea = 112.256994, pentagonArea = 34.689319;
    const auto eo = TFillRule::EvenOdd, nz = TFillRule::NonZero;
    const struct {
        const char* Name;
        TRings Rings;
        TFillRule Rule;
        double Area;
    } cases[] = {
        {"hole, even-odd", {outer, hole}, eo, 84},
        {"hole along, non-zero", {outer, hole}, nz, 100},
        {"hole against, non-zero", {outer, Reversed(hole)}, nz, 84},
        {"clockwise", {Reversed(outer), hole}, eo, 84},
        {"triangle", {{{0, 0}, {10, 0}, {3, 8}}}, nz, 40},
        {"notch on a line", {kNotched}, eo, 76},
        {"bow tie", {{{0, 0}, {10, 10}, {10, 0}, {0, 10}}}, eo, 50},
        {"bow tie, non-zero", {{{0, 0}, {10, 10}, {10, 0}, {0, 10}}}, nz, 50},
        {"star, even-odd", {star}, eo, starArea - pentagonArea},
        {"star, non-zero", {star}, nz, starArea},
        {"ring twice, even-odd", {outer, outer}, eo, 0},
        {"ring twice, non-zero", {outer, outer}, nz, 100},
    };
    for (const auto& c : cases)
        for (double angle : {0.0, 30.0, 45.0, 90.0, -117.0}) {
            const double spacing = 0.05;
            const THatch h = Hatch(c.Rings, c.Rule, angle, spacing);
            const double area = CheckedLength(c.Rings, c.Rule, angle, spacing, {}, h) * spacing;
            EXPECT_NEAR(area, c.Area, 0.01 * c.Area + 1e-9) << c.Name << " at " << angle;
        }
}

TEST(HpglGeomHatch, LinesThroughVerticesNeitherLeakNorDoubleUp)
{
    // The diamond's bottom and top corners fall on lines, as do its side corners.
    const TRings diamond = {{{5, 0}, {10, 5}, {5, 10}, {0, 5}}};
    const THatch d = Hatch(diamond, TFillRule::EvenOdd, 0, 1);
    ASSERT_EQ(d.Count, 9);
    EXPECT_TRUE(Same(d.Strokes[4].first, {0, 5}) && Same(d.Strokes[4].second, {10, 5}));
    CheckedLength(diamond, TFillRule::EvenOdd, 0, 1, {}, d);

    // Apex on a line, and a level edge on a line that starts a notch.
    EXPECT_EQ(Hatch({{{0, 0}, {10, 0}, {5, 5}}}, TFillRule::NonZero, 0, 1).Count, 5);
    // 3 x 0.1 divided by 0.1 is more than 3, yet line 3 lies on the bottom edge.
    EXPECT_EQ(Hatch({Rect(0, 3 * 0.1, 1, 1)}, TFillRule::NonZero, 0, 0.1).Count, 7);
    const THatch n = Hatch({kNotched}, TFillRule::NonZero, 0, 1);
    ASSERT_EQ(n.Count, 4 + 2 * 6);
    // The notch's floor splits line 4; line 5 then runs back, right part first.
    ExpectPieces({n.Strokes.begin() + 4, n.Strokes.begin() + 8},
                 {{{0, 4}, {3, 4}}, {{7, 4}, {10, 4}}, {{10, 5}, {7, 5}}, {{3, 5}, {0, 5}}}, "notch");
}

TEST(HpglGeomHatch, RefusesPastTheLimitAndBadInput)
{
    const TRings square = {Rect(0, 0, 10, 10)};
    EXPECT_EQ(Hatch(square, TFillRule::EvenOdd, 0, 1, {}, 10).Count, 10);
    for (std::int64_t limit : {9, 0, -5})
        EXPECT_EQ(Hatch(square, TFillRule::EvenOdd, 0, 1, {}, limit).Count, -1);
    // Few lines, but two strokes on some of them.
    const TRings holed = {Rect(0, 0, 10, 10), Rect(3, 3, 7, 7)};
    EXPECT_EQ(Hatch(holed, TFillRule::EvenOdd, 0, 1, {}, 14).Count, 14);
    EXPECT_EQ(Hatch(holed, TFillRule::EvenOdd, 0, 1, {}, 13).Count, -1);
    EXPECT_EQ(Hatch(square, TFillRule::EvenOdd, 30, 1e-9).Count, -1);
    EXPECT_EQ(Hatch(square, TFillRule::EvenOdd, 0, 1e-300).Count, -1);
    EXPECT_EQ(Hatch(square, TFillRule::EvenOdd, 0, 1, {0, 1e17}).Count, -1);

    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        TRings Rings;
        double Angle, Spacing;
        TPt Anchor;
    } cases[] = {
        {{}, 0, 1, {}},
        {{{}, {{0, 0}, {5, 5}}}, 0, 1, {}},
        {{{{0, 0}, {10, 0}, {kNaN, 10}}}, 0, 1, {}},
        {square, 0, 0, {}},
        {{{{0, 0}, {10, 0}, {inf, 10}}}, 0, 1, {}},
        {{{{0, 0}, {10, 0}, {1e305, 10}}}, 0, 1, {}},
        {square, 0, -1, {}},
        {{{{0, 0}, {10, 0}, {20, 0}}}, 0, 1, {}},
        {square, 0, kNaN, {}},
        {square, 0, inf, {}},
        {square, kNaN, 1, {}},
        {square, inf, 1, {}},
        {square, 0, 1, {kNaN, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hatch(c.Rings, TFillRule::NonZero, c.Angle, c.Spacing, c.Anchor).Count, 0);
}

TEST(HpglGeomHatch, HandlesAMillionEdgesOrAMillionLines)
{
    const TRings circle = {RegularPolygon(1'000'000, 1000)};
    for (TFillRule rule : {TFillRule::EvenOdd, TFillRule::NonZero}) {
        double total = 0;
        const std::int64_t n =
            HatchRings(circle, rule, 30, 1, {}, 10'000'000, [&](TPt a, TPt b) { total += Dist(a, b); });
        EXPECT_NEAR(double(n), 2000, 1);
        EXPECT_NEAR(total, kPi * 1e6, 100);
    }
    std::int64_t emitted = 0;
    EXPECT_EQ(HatchRings({Rect(0, 0, 1, 1e6)}, TFillRule::EvenOdd, 0, 1, {}, 1'000'000, [&](TPt, TPt) { ++emitted; }),
              1'000'000);
    EXPECT_EQ(emitted, 1'000'000);
}

TEST(HpglGeomDash, SolidWithoutAUsablePattern)
{
    for (const std::vector<double>& pattern :
         {std::vector<double>{}, {0, 0}, {5, -1}, {5, kNaN}, {1e308, 1e308}, {1e-6, 1e-6}})
        for (bool adaptive : {false, true}) {
            TDasher d(pattern, adaptive);
            ExpectPieces(Dash(d, {{0, 0}, {1000, 0}}), {{{0, 0}, {1000, 0}}}, "solid");
            EXPECT_TRUE(Dash(d, {{3, 3}, {3, 3}}).empty());
        }
}

TEST(HpglGeomDash, FixedPatternRunsOnUntilReset)
{
    TDasher d({5, 5}, false);
    ExpectPieces(Dash(d, {{0, 0}, {8, 0}, {8, 6}}), {{{0, 0}, {5, 0}}, {{8, 2}, {8, 6}}}, "across a vertex");
    ExpectPieces(Dash(d, {{8, 6}, {0, 6}}), {{{8, 6}, {7, 6}}, {{2, 6}, {0, 6}}}, "across calls");
    EXPECT_TRUE(Dash(d, {{0, 6}, {0, 6}}).empty());
    d.Reset();
    ExpectPieces(Dash(d, {{0, 0}, {8, 0}}), {{{0, 0}, {5, 0}}}, "after reset");
    // A trailing zero length is where the next period starts; no extra dot there.
    TDasher trailing({2, 1, 0}, false);
    ExpectPieces(Dash(trailing, {{0, 0}, {7, 0}}), {{{0, 0}, {2, 0}}, {{3, 0}, {5, 0}}, {{6, 0}, {7, 0}}}, "trailing");

    // Where the pattern meets a vertex, rounding neither loses nor repeats a dot, nor
    // leaves a sliver of a dash the previous segment drew.
    for (auto [step, period] : {std::pair{0.3, 0.3}, {1.1, 0.1}, {0.9, 0.3}, {0.2, 0.1}}) {
        std::vector<TPt> path;
        for (int i = 0; i <= 40; ++i)
            path.push_back({step * i, 0});
        TDasher dots({0, period}, false);
        const TPieces p = Dash(dots, path);
        ASSERT_EQ(double(p.size()), std::round(40 * step / period)) << step << " " << period;
        for (std::size_t i = 0; i < p.size(); ++i)
            EXPECT_NEAR(p[i].first.X, period * double(i), 1e-9);
        TDasher dashes({period / 2, period / 2}, false);
        for (const auto& [a, b] : Dash(dashes, path))
            EXPECT_GT(Dist(a, b), 1e-6) << step << " " << period;
    }
}

TEST(HpglGeomDash, AdaptivePatternFitsWholePeriodsPerSegment)
{
    TDasher d({5, 5}, true);
    ExpectPieces(Dash(d, {{0, 0}, {27, 0}, {27, 4}}),
                 {{{0, 0}, {4.5, 0}}, {{9, 0}, {13.5, 0}}, {{18, 0}, {22.5, 0}}, {{27, 0}, {27, 2}}}, "even pattern");
    TDasher odd({4, 2, 4}, true);
    const TPieces p = Dash(odd, {{0, 0}, {0, 21.3}});
    ExpectPieces(p, {{{0, 0}, {0, 4.26}}, {{0, 6.39}, {0, 10.65}}, {{0, 10.65}, {0, 14.91}}, {{0, 17.04}, {0, 21.3}}},
                 "odd pattern");
    EXPECT_EQ(p.back().second.Y, 21.3);  // exactly on the vertex
    TDasher dots({0, 3}, true);
    const double third = 10.0 / 3;
    ExpectPieces(Dash(dots, {{0, 0}, {10, 0}}),
                 {{{0, 0}, {0, 0}}, {{third, 0}, {third, 0}}, {{2 * third, 0}, {2 * third, 0}}}, "dots");
}

TEST(HpglGeomDash, PenIsDownForItsShareOfTheLine)
{
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> step(-40, 40);
    std::vector<TPt> path = {{0, 0}};
    for (int i = 0; i < 500; ++i)
        path.push_back({path.back().X + step(gen), path.back().Y + step(gen)});
    for (bool adaptive : {false, true}) {
        TDasher d({3, 1, 0.5, 0.5}, adaptive);
        double down = 0, length = 0;
        for (std::size_t i = 1; i < path.size(); ++i) {
            const TRings segment = {{path[i - 1], path[i]}};
            length += Dist(path[i - 1], path[i]);
            d.Segment(path[i - 1], path[i], [&](TPt a, TPt b) {
                EXPECT_LT(BoundaryDistance(segment, a) + BoundaryDistance(segment, b), 1e-9) << "off its segment";
                down += Dist(a, b);
            });
        }
        EXPECT_NEAR(down / length, 0.7, adaptive ? 1e-9 : 0.01) << adaptive;
    }
}
