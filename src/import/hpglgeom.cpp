#include "import/hpglgeom.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace hpgl2 {

namespace {

bool Finite(TPt p)
{
    return std::isfinite(p.X) && std::isfinite(p.Y);
}

// Where a clipped end lies: its parameter on the segment and the window edge that cut it.
struct TCut {
    double T;
    int Edge = -1;  // 0..3: x = xMin, x = xMax, y = yMin, y = yMax
};

// Liang-Barsky step for the constraint p t <= q; false when it leaves nothing of [t0, t1].
bool ClipTo(double p, double q, int edge, TCut& t0, TCut& t1)
{
    if (p == 0)
        return q >= 0;
    const double r = q / p;
    if (p < 0) {
        if (r > t1.T)
            return false;
        if (r > t0.T)
            t0 = {r, edge};
    } else {
        if (r < t0.T)
            return false;
        if (r < t1.T)
            t1 = {r, edge};
    }
    return true;
}

// Coordinates beyond this are refused, so that differences of rotated points stay finite.
constexpr double kMaxCoord = 1e300;
// Line numbers up to this are exact doubles, with room for the few extra lines at the ends.
constexpr double kMaxLineNumber = 4503599627370496.0;  // 2^52
// Crossings looked at per allowed stroke or edge before the fill is called too costly: rings
// that cancel out (a ring traced twice under even-odd) would otherwise cost edges x lines.
constexpr double kCrossingsPerStroke = 4;

// An edge in the rotated frame, from its lower end up, covering lines at VLo <= v < VHi.
struct TEdge {
    double VLo, VHi, ULo, UHi;
    int Dir;  // +1 when the ring runs up the edge
};

struct TCrossing {
    double U;
    std::size_t Edge;
};

// The sweep over the rotated frame: strokes run along u, lines are at v = k Spacing.
class THatcher {
public:
    THatcher(std::vector<TEdge> edges, TFillRule rule, double spacing, double cosA, double sinA, TPt anchor,
             double firstLine, std::int64_t lines)
        : Edges(std::move(edges)), Rule(rule), Spacing(spacing), Cos(cosA), Sin(sinA), Anchor(anchor),
          FirstLine(firstLine), Lines(lines)
    {
        std::sort(Edges.begin(), Edges.end(), [](const TEdge& l, const TEdge& r) { return l.VLo < r.VLo; });
    }

    // The strokes, counted, or -1 past limit (or past the work the limit allows).
    std::int64_t Count(std::int64_t limit)
    {
        std::int64_t count = 0;
        CrossingBudget = kCrossingsPerStroke * (static_cast<double>(limit) + static_cast<double>(Edges.size()));
        const bool done = Sweep([&](std::size_t n) {
            if (static_cast<std::int64_t>(n) > limit - count)
                return false;
            count += static_cast<std::int64_t>(n);
            return true;
        });
        return done ? count : -1;
    }

    std::int64_t Emit(const std::function<void(TPt, TPt)>& emit)
    {
        std::int64_t count = 0;
        bool backwards = false;
        CrossingBudget = HUGE_VAL;  // counting has been within it
        Sweep([&](std::size_t n) {
            if (n == 0)
                return true;
            if (backwards) {
                for (std::size_t i = Strokes.size(); i-- > 0;)
                    if (Strokes[i].first.X != Strokes[i].second.X || Strokes[i].first.Y != Strokes[i].second.Y)
                        emit(Strokes[i].second, Strokes[i].first);
            } else {
                for (const auto& [a, b] : Strokes)
                    if (a.X != b.X || a.Y != b.Y)
                        emit(a, b);
            }
            count += static_cast<std::int64_t>(n);
            backwards = !backwards;
            return true;
        });
        return count;
    }

private:
    std::vector<TEdge> Edges;
    TFillRule Rule;
    double Spacing, Cos, Sin;
    TPt Anchor;
    double FirstLine;
    std::int64_t Lines;
    double CrossingBudget = HUGE_VAL;
    std::vector<std::size_t> Active;
    std::vector<TCrossing> Crossings;
    std::vector<std::pair<TPt, TPt>> Strokes;

    TPt Unrotate(double u, double v) const { return {Anchor.X + (u * Cos - v * Sin), Anchor.Y + (u * Sin + v * Cos)}; }

    static double CrossAt(const TEdge& e, double v)
    {
        if (v == e.VLo)
            return e.ULo;
        const double u = e.ULo + (v - e.VLo) / (e.VHi - e.VLo) * (e.UHi - e.ULo);
        return std::clamp(u, std::min(e.ULo, e.UHi), std::max(e.ULo, e.UHi));
    }

    // Goes over the lines bottom up, filling Strokes for each line that meets an edge and
    // handing line(strokes of nonzero length) over; false when line says so or the
    // crossings run past the budget.
    template <class TLine>
    bool Sweep(TLine&& line)
    {
        Active.clear();
        std::size_t next = 0;
        for (std::int64_t j = 0; j < Lines; ++j) {
            if (Active.empty()) {
                if (next == Edges.size())
                    break;
                // Nothing between here and the next edge; one line early in case of rounding.
                const double to = std::ceil(Edges[next].VLo / Spacing) - 1 - FirstLine;
                if (to > static_cast<double>(j))
                    j = std::min(static_cast<std::int64_t>(to), Lines - 1);
            }
            const double v = (FirstLine + static_cast<double>(j)) * Spacing;
            for (; next < Edges.size() && Edges[next].VLo <= v; ++next)
                if (Edges[next].VHi > v)
                    Active.push_back(next);
            std::erase_if(Active, [&](std::size_t e) { return Edges[e].VHi <= v; });
            if (Active.empty())
                continue;
            CrossingBudget -= static_cast<double>(Active.size());
            if (CrossingBudget < 0)
                return false;

            // Active stays in the order of the last line, so the crossings mostly come sorted.
            Crossings.clear();
            for (std::size_t e : Active)
                Crossings.push_back({CrossAt(Edges[e], v), e});
            const auto byU = [](const TCrossing& l, const TCrossing& r) { return l.U < r.U; };
            if (!std::is_sorted(Crossings.begin(), Crossings.end(), byU)) {
                std::sort(Crossings.begin(), Crossings.end(), byU);
                for (std::size_t i = 0; i < Crossings.size(); ++i)
                    Active[i] = Crossings[i].Edge;
            }

            // Crossings at one u are taken together, so touching spans join into one stroke.
            Strokes.clear();
            std::size_t n = 0;
            std::int64_t winding = 0;
            bool inside = false;
            double start = 0;
            for (std::size_t i = 0; i < Crossings.size();) {
                const double u = Crossings[i].U;
                for (; i < Crossings.size() && Crossings[i].U == u; ++i)
                    winding += Edges[Crossings[i].Edge].Dir;
                const bool in = Rule == TFillRule::EvenOdd ? (winding & 1) != 0 : winding != 0;
                if (in && !inside) {
                    start = u;
                } else if (!in && inside) {
                    const TPt a = Unrotate(start, v), b = Unrotate(u, v);
                    Strokes.emplace_back(a, b);
                    if (a.X != b.X || a.Y != b.Y)
                        ++n;
                }
                inside = in;
            }
            if (!line(n))
                return false;
        }
        return true;
    }
};

}  // namespace

bool ClipSegment(TPt& a, TPt& b, double xMin, double yMin, double xMax, double yMax)
{
    if (!(xMin <= xMax && yMin <= yMax) || !Finite(a) || !Finite(b))
        return false;
    // At half scale so that far apart ends cannot overflow; the ratios are the same.
    const double dx = 0.5 * b.X - 0.5 * a.X, dy = 0.5 * b.Y - 0.5 * a.Y;
    TCut t0{0}, t1{1};
    if (!ClipTo(-dx, 0.5 * a.X - 0.5 * xMin, 0, t0, t1) || !ClipTo(dx, 0.5 * xMax - 0.5 * a.X, 1, t0, t1) ||
        !ClipTo(-dy, 0.5 * a.Y - 0.5 * yMin, 2, t0, t1) || !ClipTo(dy, 0.5 * yMax - 0.5 * a.Y, 3, t0, t1))
        return false;
    const TPt from = a, to = b;
    // The cut coordinate is the window edge itself, which the parameter may not resolve on a
    // long segment; the other one is clamped, as rounding may put it a hair outside.
    const auto at = [&](const TCut& cut) {
        TPt p{std::clamp(std::lerp(from.X, to.X, cut.T), xMin, xMax),
              std::clamp(std::lerp(from.Y, to.Y, cut.T), yMin, yMax)};
        const double edges[] = {xMin, xMax, yMin, yMax};
        (cut.Edge < 2 ? p.X : p.Y) = edges[cut.Edge];
        return p;
    };
    if (t0.Edge >= 0)
        a = at(t0);
    if (t1.Edge >= 0)
        b = at(t1);
    return true;
}

std::int64_t HatchRings(const std::vector<std::vector<TPt>>& rings, TFillRule rule, double angle, double spacing,
                        TPt anchor, std::int64_t limit, const std::function<void(TPt, TPt)>& emit)
{
    if (!std::isfinite(angle) || !std::isfinite(spacing) || spacing <= 0 || !Finite(anchor))
        return 0;
    limit = std::max<std::int64_t>(limit, 0);

    // Right angles exactly, so that level and upright fills keep their coordinates.
    double turn = std::fmod(angle, 360.0);
    if (turn < 0)
        turn += 360;
    if (turn >= 360)  // a tiny negative angle
        turn = 0;
    double cosA, sinA;
    if (turn == 0 || turn == 90 || turn == 180 || turn == 270) {
        const int quarter = static_cast<int>(turn / 90);
        constexpr double kCos[] = {1, 0, -1, 0};
        cosA = kCos[quarter];
        sinA = kCos[(quarter + 3) % 4];
    } else {
        const double rad = turn * (3.14159265358979323846 / 180);
        cosA = std::cos(rad);
        sinA = std::sin(rad);
    }

    std::vector<TEdge> edges;
    std::vector<TPt> turned;
    double vMin = HUGE_VAL, vMax = -HUGE_VAL;
    for (const auto& ring : rings) {
        if (ring.size() < 3)
            continue;
        turned.clear();
        for (TPt p : ring) {
            const double dx = p.X - anchor.X, dy = p.Y - anchor.Y;
            const TPt q{dx * cosA + dy * sinA, dy * cosA - dx * sinA};
            if (!(std::abs(q.X) <= kMaxCoord && std::abs(q.Y) <= kMaxCoord))
                return 0;
            turned.push_back(q);
        }
        for (std::size_t i = 0; i < turned.size(); ++i) {
            const TPt p = turned[i], q = turned[(i + 1) % turned.size()];
            // Level edges add nothing: the edges either side of them decide the line.
            if (p.Y == q.Y)
                continue;
            edges.push_back(p.Y < q.Y ? TEdge{p.Y, q.Y, p.X, q.X, 1} : TEdge{q.Y, p.Y, q.X, p.X, -1});
            vMin = std::min(vMin, std::min(p.Y, q.Y));
            vMax = std::max(vMax, std::max(p.Y, q.Y));
        }
    }
    if (edges.empty())
        return 0;

    // A line more at either end than needed, so that rounding never loses one; the line
    // test against the edges decides.
    const double first = std::ceil(vMin / spacing) - 1, last = std::floor(vMax / spacing) + 1;
    const double lines = last - first + 1;
    if (!(lines - 3 <= static_cast<double>(limit)))
        return -1;
    if (!(std::abs(first) <= kMaxLineNumber && std::abs(last) <= kMaxLineNumber))
        return -1;

    THatcher hatcher(std::move(edges), rule, spacing, cosA, sinA, anchor, first, static_cast<std::int64_t>(lines));
    const std::int64_t count = hatcher.Count(limit);
    if (count <= 0)
        return count;
    return hatcher.Emit(emit);
}

namespace {

// Beyond this a segment is drawn solid: the caller's own budget then decides.
constexpr double kMaxPieces = 1e7;

}  // namespace

TDasher::TDasher(std::vector<double> lengths, bool adaptive) : Lengths(std::move(lengths)), Adaptive(adaptive)
{
    for (double d : Lengths) {
        if (!(d >= 0 && std::isfinite(d))) {
            Period = 0;
            break;
        }
        Period += d;
    }
    if (!(Period > 0 && std::isfinite(Period)))
        Period = 0;
}

void TDasher::Reset()
{
    Phase = 0;
}

void TDasher::Segment(TPt a, TPt b, const std::function<void(TPt, TPt)>& down)
{
    if (!Finite(a) || !Finite(b) || (a.X == b.X && a.Y == b.Y))
        return;
    const double len = std::hypot(b.X - a.X, b.Y - a.Y);
    if (Period <= 0 || !std::isfinite(len)) {
        down(a, b);
        return;
    }
    const double downs = static_cast<double>((Lengths.size() + 1) / 2);

    // Pattern positions run from phase; segment position s is (position - phase) scale.
    double phase = 0, scale = 1, cycles = HUGE_VAL, slack = 0;
    if (Adaptive) {
        cycles = std::max(1.0, std::round(len / Period));
        scale = len / (cycles * Period);
    } else {
        phase = Phase;
        Phase = std::fmod(Phase + len, Period);
        // Where the segments meet, rounding may leave a sliver of a piece the previous
        // segment drew, or lose a dot on the vertex; slack hands such a piece to one side.
        slack = Period * 1e-9;
    }
    if ((std::min(cycles, len / Period) + 2) * downs > kMaxPieces) {
        down(a, b);
        return;
    }

    const auto at = [&](double s) {
        if (s <= 0)
            return a;
        if (s >= len)
            return b;
        return TPt{std::lerp(a.X, b.X, s / len), std::lerp(a.Y, b.Y, s / len)};
    };
    const std::size_t m = Lengths.size();
    for (double c = 0; c < cycles; ++c) {
        double into = 0;
        for (std::size_t i = 0; i < m; into += Lengths[i++]) {
            // Trailing zero lengths sit where the next period starts, with a pen-down piece.
            if (into >= Period)
                break;
            const double pos = c * Period + into;
            const double s0 = (pos - phase) * scale;
            if (s0 >= len - slack)
                return;
            if (i % 2 != 0)
                continue;
            if (Lengths[i] == 0) {
                if (s0 >= -slack)
                    down(at(s0), at(s0));
                continue;
            }
            const bool ends = Adaptive && c + 1 >= cycles && i + 1 == m;
            const double s1 = ends ? len : (pos + Lengths[i] - phase) * scale;
            if (s1 > slack)
                down(at(s0), at(s1));
        }
    }
}

}  // namespace hpgl2
