// Random lines, circles and arcs with coordinates anywhere in the 32-bit range, drawn the two
// ways the canvas knows: straight into image memory and through Qt's painter. The direct way
// must never write outside the image, and must agree with the painter where the painter is
// itself exact.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>

#include "ui/qtcanvas.h"

namespace {

constexpr int kSide = 64;
constexpr int kGuard = 48;  // canary pixels around the image, in the same allocation
constexpr QRgb kCanary = 0xff5a17c3u;
constexpr QRgb kPaper = 0xffffffffu;

struct TShape {
    enum { Line, Pixel, Ellipse, Arc } Kind;
    std::int32_t V[8];

    void Draw(QtCanvas& c) const
    {
        c.SetBrushStyle(TBrushStyle::Clear);
        switch (Kind) {
        case Line:
            c.MoveTo(V[0], V[1]);
            c.LineTo(V[2], V[3]);
            break;
        case Pixel: c.SetPixel(V[0], V[1], clRed); break;
        case Ellipse: c.Ellipse(V[0], V[1], V[2], V[3]); break;
        case Arc: c.Arc(V[0], V[1], V[2], V[3], V[4], V[5], V[6], V[7]); break;
        }
    }
    std::string Text() const
    {
        std::ostringstream s;
        s << "kind " << Kind << ":";
        for (auto v : V)
            s << ' ' << v;
        return s.str();
    }
    std::int64_t Span(int a, int b) const { return std::abs(std::int64_t{V[a]} - V[b]); }
};

// Coordinates near the image most of the time (so that shapes cross it), otherwise anywhere,
// the two ends of the range included.
std::int32_t Coordinate(std::mt19937& rng)
{
    // clang-format off
    switch (rng() % 8) {
    case 0: return INT32_MAX - static_cast<std::int32_t>(rng() % 3);
    case 1: return INT32_MIN + static_cast<std::int32_t>(rng() % 3);
    case 2: case 3: return static_cast<std::int32_t>(rng());
    case 4: return static_cast<std::int32_t>(rng() % 200000) - 100000;
    default: return static_cast<std::int32_t>(rng() % 240) - 90;
    }
    // clang-format on
}

TShape RandomShape(std::mt19937& rng)
{
    TShape s{static_cast<decltype(TShape::Line)>(rng() % 4), {}};
    for (auto& v : s.V)
        v = Coordinate(rng);
    return s;
}

// A box near the image, for the curves the painter draws exactly: a few hundred pixels at
// most, and not so flat that its stroker cuts the tips short.
TShape SmallCurve(std::mt19937& rng, bool arc)
{
    TShape s{arc ? TShape::Arc : TShape::Ellipse, {}};
    const int side = 8 + static_cast<int>(rng() % 200);
    const int high = std::clamp(side / 4 + static_cast<int>(rng() % side), 8, 4 * side);
    s.V[0] = static_cast<int>(rng() % 200) - side / 2 - 40;
    s.V[1] = static_cast<int>(rng() % 200) - high / 2 - 40;
    s.V[2] = s.V[0] + side;
    s.V[3] = s.V[1] + high;
    if (rng() % 2)
        std::swap(s.V[0], s.V[2]);
    for (int i = 4; i < 8; ++i)
        s.V[i] = Coordinate(rng);
    return s;
}

// The image lies inside a larger one whose rows it shares, so a stray write lands on canary
// pixels that belong to the same allocation instead of on someone else's memory.
QImage DirectWithGuard(const TShape& shape, QImage& outer)
{
    outer = QImage(kSide + 2 * kGuard, kSide + 2 * kGuard, QImage::Format_RGB32);
    outer.fill(kCanary);
    uchar* origin = outer.bits() + kGuard * outer.bytesPerLine() + kGuard * 4;
    QImage image(origin, kSide, kSide, outer.bytesPerLine(), QImage::Format_RGB32);
    image.fill(kPaper);
    {
        QPainter p(&image);
        QtCanvas c(p);
        shape.Draw(c);
    }
    return image.copy();
}

QImage ThroughPainter(const TShape& shape)
{
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(kPaper);
    QPainter p(&image);
    p.setClipRect(image.rect());  // a clipped painter never takes the direct way
    QtCanvas c(p);
    shape.Draw(c);
    return image;
}

bool Ink(const QImage& m, int x, int y)
{
    return x >= 0 && y >= 0 && x < m.width() && y < m.height() && m.pixel(x, y) != kPaper;
}

// Ink at least margin pixels inside the image's edge.
int InkCount(const QImage& m, int margin = 0)
{
    int n = 0;
    for (int y = margin; y < m.height() - margin; ++y)
        for (int x = margin; x < m.width() - margin; ++x)
            n += Ink(m, x, y);
    return n;
}

// Pixels of a that have no pixel of b within reach steps, counted away from the image's edge,
// where the two rasterisers' half-pixel conventions may put a pixel just on or just off it.
int Strays(const QImage& a, const QImage& b, int reach = 1)
{
    int n = 0;
    for (int y = 1; y < kSide - 1; ++y)
        for (int x = 1; x < kSide - 1; ++x) {
            if (!Ink(a, x, y))
                continue;
            bool near = false;
            for (int dy = -reach; dy <= reach && !near; ++dy)
                for (int dx = -reach; dx <= reach && !near; ++dx)
                    near = Ink(b, x + dx, y + dy);
            n += !near;
        }
    return n;
}

}  // namespace

TEST(RasterProperty, DirectDrawingWritesOnlyInsideTheImage)
{
    std::mt19937 rng(19);
    for (int round = 0; round < 3000; ++round) {
        const TShape shape = RandomShape(rng);
        QImage outer;
        DirectWithGuard(shape, outer);
        for (int y = 0; y < outer.height(); ++y)
            for (int x = 0; x < outer.width(); ++x) {
                const bool inside = x >= kGuard && x < kGuard + kSide && y >= kGuard && y < kGuard + kSide;
                if (!inside) {
                    ASSERT_EQ(outer.pixel(x, y), kCanary) << shape.Text() << " at " << x - kGuard << "," << y - kGuard;
                }
            }
    }
}

// Lines are cut to the painter's reach before either way draws them, so both are defined
// over the whole range; single pixels agree exactly.
TEST(RasterProperty, LinesAndPixelsMatchThePainterAcrossTheWholeRange)
{
    std::mt19937 rng(7);
    int crossing = 0;
    for (int round = 0; round < 1500; ++round) {
        TShape shape = RandomShape(rng);
        if (shape.Kind != TShape::Pixel)
            shape.Kind = TShape::Line;
        QImage outer;
        const QImage direct = DirectWithGuard(shape, outer), painted = ThroughPainter(shape);
        if (shape.Kind == TShape::Pixel) {
            ASSERT_EQ(direct, painted) << shape.Text();
            continue;
        }
        crossing += InkCount(direct) > 0;
        ASSERT_EQ(Strays(direct, painted), 0) << shape.Text();
        ASSERT_EQ(Strays(painted, direct), 0) << shape.Text();
    }
    EXPECT_GT(crossing, 60);  // the comparison saw real lines, not empty images
}

// Qt flattens curves into chords whose error grows with the radius and cuts the tips of
// very flat ellipses, and holds boxes within +-2^24: see SmallCurve for where it is exact.
// Its outline also sits half a pixel up and left of the box (pixel edges, not centres), so
// curves may part by up to two pixels where they run steeply.
TEST(RasterProperty, EllipsesMatchThePainterWhereItIsExact)
{
    std::mt19937 rng(11);
    int drawn = 0;
    for (int round = 0; round < 600; ++round) {
        const TShape shape = SmallCurve(rng, false);
        QImage outer;
        const QImage direct = DirectWithGuard(shape, outer), painted = ThroughPainter(shape);
        drawn += InkCount(direct) > 0;
        ASSERT_EQ(Strays(direct, painted, 2), 0) << shape.Text();
        ASSERT_EQ(Strays(painted, direct, 2), 0) << shape.Text();
    }
    EXPECT_GT(drawn, 200);
}

// The two ways decide the pixels at an arc's ends differently (rays through pixel centres
// against Qt's sixteenths of a degree on the ellipse's parameter), so an arc is held to lie
// on the other way's ellipse and to cover roughly as much of it (a steep end may run several
// pixels further in one than in the other); far rays are fine here.
TEST(RasterProperty, ArcsLieOnThePaintersEllipseAndCoverAsMuch)
{
    std::mt19937 rng(5);
    int drawn = 0;
    for (int round = 0; round < 600; ++round) {
        const TShape arc = SmallCurve(rng, true);
        TShape whole = arc;
        whole.Kind = TShape::Ellipse;
        QImage outer;
        const QImage direct = DirectWithGuard(arc, outer), painted = ThroughPainter(arc);
        const QImage directWhole = DirectWithGuard(whole, outer), paintedWhole = ThroughPainter(whole);
        ASSERT_EQ(Strays(direct, paintedWhole, 2), 0) << arc.Text();
        ASSERT_EQ(Strays(painted, directWhole, 2), 0) << arc.Text();
        const int a = InkCount(direct, 2), b = InkCount(painted, 2);
        drawn += a > 0;
        ASSERT_NEAR(a, b, 10 + std::max(a, b) / 2) << arc.Text();
    }
    EXPECT_GT(drawn, 120);
}

// Nearly coinciding rays sweep next to nothing; the painter once rounded that sweep to
// zero sixteenths of a degree and drew the whole ellipse instead.
TEST(RasterProperty, TinySweepIsNotAWholeEllipse)
{
    const TShape tiny{TShape::Arc, {-67, 110, 59, 61, 65, -159467202, -44, -226708448}};
    const TShape whole{TShape::Arc, {-67, 110, 59, 61, 65, -159467202, 65, -159467202}};
    QImage outer;
    EXPECT_LE(InkCount(ThroughPainter(tiny)), 2);
    EXPECT_LE(InkCount(DirectWithGuard(tiny, outer)), 2);
    EXPECT_GT(InkCount(ThroughPainter(whole)), 15);
    EXPECT_GT(InkCount(DirectWithGuard(whole, outer)), 15);
}
