#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <functional>
#include <cstdlib>
#include <random>

#include "sheet/hpglsheet.h"
#include "ui/qtcanvas.h"
#include "sheettext.h"

namespace {

QImage Paint(int w, int h, const std::function<void(QtCanvas&)>& f)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    {
        QtCanvas c(p);
        f(c);
    }
    p.end();
    return img;
}

bool Ink(const QImage& img, int x, int y)
{
    return img.pixel(x, y) != qRgb(255, 255, 255);
}

int InkCount(const QImage& img, QRect area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += Ink(img, x, y);
    return n;
}

}  // namespace

TEST(QtCanvas, LineLeavesOutItsEndPixel)
{
    auto img = Paint(20, 20, [](QtCanvas& c) {
        c.MoveTo(2, 5);
        c.LineTo(10, 5);
    });
    for (int x = 2; x < 10; ++x)
        EXPECT_TRUE(Ink(img, x, 5)) << x;
    EXPECT_FALSE(Ink(img, 10, 5));
    EXPECT_EQ(InkCount(img, img.rect()), 8);
}

// Lines go straight into 32-bit images. Each must be a proper line: one pixel per step of
// its longer axis, within half a pixel of the true line, the start drawn and the end not,
// and a line cut by the image's edge must draw exactly the part that lies on the image.
TEST(QtCanvas, DirectLinesAreExactAndClipWithoutShifting)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        const int x0 = static_cast<int>(rng() % 300) - 50, y0 = static_cast<int>(rng() % 300) - 50;
        const int x1 = static_cast<int>(rng() % 300) - 50, y1 = static_cast<int>(rng() % 300) - 50;
        // The whole line on a large image, moved by (100, 100) ...
        auto big = Paint(400, 400, [&](QtCanvas& c) {
            c.MoveTo(x0 + 100, y0 + 100);
            c.LineTo(x1 + 100, y1 + 100);
        });
        // ... and cut by the edges of a 200 x 200 image.
        auto small = Paint(200, 200, [&](QtCanvas& c) {
            c.MoveTo(x0, y0);
            c.LineTo(x1, y1);
        });
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        ASSERT_EQ(InkCount(big, big.rect()), steps) << x0 << "," << y0 << " " << x1 << "," << y1;
        if (steps > 0) {
            EXPECT_TRUE(Ink(big, x0 + 100, y0 + 100));
            EXPECT_FALSE(Ink(big, x1 + 100, y1 + 100));
        }
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x) {
                ASSERT_EQ(Ink(small, x, y), Ink(big, x + 100, y + 100)) << x << "," << y;
                if (Ink(small, x, y) && steps > 0) {
                    // Distance from the true line, along the minor axis, at most half a pixel.
                    const double dx = x1 - x0, dy = y1 - y0;
                    const double off = std::abs(dx) >= std::abs(dy) ? std::abs(y0 + dy * (x - x0) / dx - y)
                                                                    : std::abs(x0 + dx * (y - y0) / dy - x);
                    ASSERT_LE(off, 0.5 + 1e-9);
                }
            }
    }
}

TEST(QtCanvas, PainterPathAgreesWithDirectPathOnEndPixels)
{
    // A clipped painter cannot take the direct path; its lines still leave out the end.
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.setClipRect(img.rect());
        QtCanvas c(p);
        c.MoveTo(2, 5);
        c.LineTo(10, 5);
        c.SetPixel(15, 15, clRed);
    }
    EXPECT_EQ(InkCount(img, img.rect()), 9);
    EXPECT_FALSE(Ink(img, 10, 5));
    EXPECT_EQ(img.pixel(15, 15), qRgb(255, 0, 0));
}

// Pixels at the ends of the 32-bit range are off any surface; on the painter path they once
// built a rectangle whose right edge overflowed.
TEST(QtCanvas, FarPixelsOnThePainterPathAreSkipped)
{
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.setClipRect(img.rect());
        QtCanvas c(p);
        for (std::int32_t v : {INT32_MAX, INT32_MIN, INT32_MAX - 1, 1 << 30})
            for (std::int32_t w : {INT32_MAX, INT32_MIN, 5}) {
                c.SetPixel(v, w, clRed);
                c.SetPixel(w, v, clRed);
            }
        c.SetPixel(5, 5, clRed);
    }
    EXPECT_EQ(InkCount(img, img.rect()), 1);
    EXPECT_EQ(img.pixel(5, 5), qRgb(255, 0, 0));
}

TEST(QtCanvas, RectangleLeavesOutRightAndBottomEdgesAndFillsWithBrush)
{
    auto img = Paint(20, 20, [](QtCanvas& c) {
        c.SetPenColor(clRed);
        c.SetBrushColor(RGBColor(0, 0, 255));
        c.Rectangle(12, 14, 2, 4);  // corners in any order
    });
    EXPECT_EQ(img.pixel(2, 4), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(11, 13), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(5, 8), qRgb(0, 0, 255));
    EXPECT_FALSE(Ink(img, 12, 8));
    EXPECT_FALSE(Ink(img, 5, 14));
    EXPECT_EQ(InkCount(img, img.rect()), 100);

    auto clear = Paint(20, 20, [](QtCanvas& c) {
        c.SetBrushStyle(TBrushStyle::Clear);
        c.Rectangle(2, 4, 12, 14);
    });
    EXPECT_FALSE(Ink(clear, 5, 8));
    EXPECT_EQ(InkCount(clear, clear.rect()), 36);
}

TEST(QtCanvas, ArcRunsCounterclockwiseFromRayToRay)
{
    // Box 0..100 (centre 50,50): from the ray to the right to the ray upward is the upper
    // right quarter on the screen.
    auto img = Paint(101, 101, [](QtCanvas& c) { c.Arc(0, 0, 100, 100, 100, 50, 50, 0); });
    EXPECT_GT(InkCount(img, QRect(51, 0, 50, 48)), 50);
    EXPECT_EQ(InkCount(img, QRect(0, 0, 45, 45)), 0);
    EXPECT_EQ(InkCount(img, QRect(0, 55, 101, 46)), 0);
    // Swapping the rays takes the other three quarters.
    auto rest = Paint(101, 101, [](QtCanvas& c) { c.Arc(0, 0, 100, 100, 50, 0, 100, 50); });
    EXPECT_EQ(InkCount(rest, QRect(55, 0, 46, 45)), 0);
    EXPECT_GT(InkCount(rest, QRect(0, 55, 101, 46)), 100);
}

TEST(QtCanvas, CoincidingRaysDrawTheWholeEllipse)
{
    auto arc = Paint(101, 101, [](QtCanvas& c) { c.Arc(0, 0, 100, 100, 90, 10, 99, 1); });
    auto whole = Paint(101, 101, [](QtCanvas& c) {
        c.SetBrushStyle(TBrushStyle::Clear);
        c.Ellipse(0, 0, 100, 100);
    });
    EXPECT_GT(InkCount(arc, QRect(0, 55, 101, 46)), 100);
    EXPECT_GT(InkCount(whole, whole.rect()), 250);
    EXPECT_FALSE(Ink(whole, 50, 50));
    EXPECT_FALSE(Ink(whole, 100, 50));  // the right edge is left out
    EXPECT_TRUE(Ink(whole, 99, 50));
    EXPECT_TRUE(Ink(whole, 0, 50));
}

// Ellipse outlines drawn straight into the image must be closed (a flood fill from the
// centre never reaches the corner) and keep within the box, its right and bottom edges
// left out, whatever the box's proportions and however far it reaches past the image.
TEST(QtCanvas, DirectEllipsesAreClosedAndKeepToTheirBox)
{
    std::mt19937 rng(9);
    for (int round = 0; round < 60; ++round) {
        const int w = 3 + static_cast<int>(rng() % 150), h = 3 + static_cast<int>(rng() % 150);
        const int l = 20 + static_cast<int>(rng() % 20), t = 20 + static_cast<int>(rng() % 20);
        auto img = Paint(220, 220, [&](QtCanvas& c) {
            c.SetBrushStyle(TBrushStyle::Clear);
            c.Ellipse(l, t, l + w, t + h);
        });
        EXPECT_EQ(InkCount(img, QRect(0, 0, 220, t)), 0);
        EXPECT_EQ(InkCount(img, QRect(0, 0, l, 220)), 0);
        EXPECT_EQ(InkCount(img, QRect(l + w, 0, 220 - l - w, 220)), 0) << w << "x" << h;
        EXPECT_EQ(InkCount(img, QRect(0, t + h, 220, 220 - t - h)), 0) << w << "x" << h;
        EXPECT_GT(InkCount(img, QRect(l, t, 1, h)), 0);
        EXPECT_GT(InkCount(img, QRect(l + w - 1, t, 1, h)), 0);
        // Flood fill (4-connected) from the centre.
        std::vector<QPoint> todo{QPoint(l + w / 2, t + h / 2)};
        std::vector<bool> seen(220 * 220);
        bool escaped = false;
        while (!todo.empty() && !escaped) {
            QPoint p = todo.back();
            todo.pop_back();
            if (p.x() < 0 || p.y() < 0 || p.x() >= 220 || p.y() >= 220) {
                escaped = true;
                break;
            }
            if (seen[p.y() * 220 + p.x()] || Ink(img, p.x(), p.y()))
                continue;
            seen[p.y() * 220 + p.x()] = true;
            todo.insert(todo.end(), {p + QPoint(1, 0), p - QPoint(1, 0), p + QPoint(0, 1), p - QPoint(0, 1)});
        }
        EXPECT_FALSE(escaped) << w << "x" << h;
    }
    // A circle far larger than the image still crosses it where it should: the left edge of
    // a circle centred 10000 pixels to the right runs down the image's middle column.
    auto big = Paint(100, 100, [](QtCanvas& c) {
        c.SetBrushStyle(TBrushStyle::Clear);
        c.Ellipse(50, 50 - 10000, 50 + 20001, 50 + 10001);
    });
    EXPECT_TRUE(Ink(big, 50, 50));
    EXPECT_LT(InkCount(big, big.rect()), 110);
}

TEST(QtCanvas, FarLineStillCrossesTheImageOnItsTrueCourse)
{
    auto img = Paint(100, 100, [](QtCanvas& c) {
        c.MoveTo(-2000000000, -2000000000);
        c.LineTo(2000000000, 2000000000);
    });
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(Ink(img, i, i)) << i;
    EXPECT_EQ(InkCount(img, img.rect()), 100);
}

TEST(QtCanvasDraw, SheetLandsWhereTheMappingSays)
{
    THpglSheet s;
    LoadText(s, "SP2;PU100,100;PD1420,100;SP3;PA760,1080;AA760,580,-180;");
    QImage img(1520, 2160, QImage::Format_RGB32);
    {
        QPainter p(&img);
        PaintView(p, &s, img.width(), img.height());
    }
    // The frame: black border, white inside.
    EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(1519, 2159), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(700, 700), qRgb(255, 255, 255));
    // The red line at y = 100: sy = (2157 * 2060) / 2160 + 1 = 2058.
    EXPECT_EQ(img.pixel(500, 2058), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(500, 2057), qRgb(255, 255, 255));
    // A clockwise half circle from the top, about (760, 580) with radius 500: it passes
    // the right side at x = 1260 (sx 1258), not the left.
    const int sy = (2157 * (2160 - 580)) / 2160 + 1;
    EXPECT_GT(InkCount(img, QRect(1250, sy - 3, 15, 7)), 0);
    EXPECT_EQ(InkCount(img, QRect(250, sy - 3, 15, 7)), 0);
}

namespace {

// The surface's pixel rules written out plainly, one pixel at a time, with no running state:
// a line's pixel at step i is minor0 + floor((2 i dMinor + n) / 2n) along the minor axis;
// an ellipse's column x reaches from its own row toward its neighbours' rows.
class TReferenceCanvas final : public TCanvas {
public:
    explicit TReferenceCanvas(QImage& image) : Image(image) {}

    TColor PenColor() const override { return Pen; }
    void SetPenColor(TColor color) override { Pen = color; }
    TColor BrushColor() const override { return Brush; }
    void SetBrushColor(TColor color) override { Brush = color, Style = TBrushStyle::Solid; }
    TBrushStyle BrushStyle() const override { return Style; }
    void SetBrushStyle(TBrushStyle style) override { Style = style; }
    void MoveTo(std::int32_t x, std::int32_t y) override { X = x, Y = y; }
    void LineTo(std::int32_t x, std::int32_t y) override
    {
        const std::int64_t dx = std::int64_t{x} - X, dy = std::int64_t{y} - Y;
        const std::int64_t n = std::max(std::abs(dx), std::abs(dy));
        for (std::int64_t i = 0; i < n; ++i) {
            auto along = [&](std::int64_t d) {
                const std::int64_t q = (2 * i * std::abs(d) + n) / (2 * n) * (d < 0 ? -1 : 1);
                return std::abs(d) == n ? i * (d < 0 ? -1 : 1) : q;
            };
            Put(X + along(dx), Y + along(dy), Pen);
        }
        X = x, Y = y;
    }
    void SetPixel(std::int32_t x, std::int32_t y, TColor color) override { Put(x, y, color); }
    void Rectangle(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { ADD_FAILURE(); }
    void Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override
    {
        ASSERT_EQ(Style, TBrushStyle::Clear);
        Outline(x1, y1, x2, y2, [](double, double) { return true; });
    }
    void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3, std::int32_t y3,
             std::int32_t x4, std::int32_t y4) override
    {
        const double cx = (double(x1) + x2) / 2, cy = (double(y1) + y2) / 2;
        const double sx = x3 - cx, sy = cy - y3, ex = x4 - cx, ey = cy - y4;
        const double cross = sx * ey - sy * ex, dot = sx * ex + sy * ey;
        if (cross == 0 && dot >= 0) {
            Outline(x1, y1, x2, y2, [](double, double) { return true; });
            return;
        }
        Outline(x1, y1, x2, y2, [&](double dx, double dy) {
            const bool fromStart = sx * dy - sy * dx >= 0, toEnd = dx * ey - dy * ex >= 0;
            return cross > 0 ? fromStart && toEnd : fromStart || toEnd;
        });
    }

private:
    void Put(std::int64_t x, std::int64_t y, TColor c)
    {
        if (x >= 0 && y >= 0 && x < Image.width() && y < Image.height())
            Image.setPixel(static_cast<int>(x), static_cast<int>(y), 0xff000000u | c);
    }
    void Outline(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2,
                 const std::function<bool(double, double)>& keep)
    {
        const std::int64_t l = std::min(x1, x2), r = std::max(x1, x2), t = std::min(y1, y2), b = std::max(y1, y2);
        if (r - l < 1 || b - t < 1)
            return;
        const double cx = (l + r - 1) / 2.0, cy = (t + b - 1) / 2.0, ra = (r - 1 - l) / 2.0, rb = (b - 1 - t) / 2.0;
        auto half = [&](std::int64_t x) {
            x = std::clamp(x, l, r - 1);
            return ra > 0 ? rb * std::sqrt(1.0 - std::pow(std::clamp((x - cx) / ra, -1.0, 1.0), 2)) : rb;
        };
        const double gx = (l + r) / 2.0, gy = (t + b) / 2.0;
        for (std::int64_t x = l; x < r; ++x) {
            const std::int64_t top = std::llround(cy - half(x)), bottom = std::llround(cy + half(x));
            const std::int64_t nearTop = std::max(std::llround(cy - half(x - 1)), std::llround(cy - half(x + 1)));
            const std::int64_t nearBottom = std::min(std::llround(cy + half(x - 1)), std::llround(cy + half(x + 1)));
            for (std::int64_t y = top; y <= bottom; ++y) {
                const bool edge =
                    ra <= 0 || rb <= 0 || y <= std::max(top, nearTop - 1) || y >= std::min(bottom, nearBottom + 1);
                if (edge && keep(double(x) - gx, gy - double(y)))
                    Put(x, y, Pen);
            }
        }
    }

    QImage& Image;
    TColor Pen = clBlack, Brush = clWhite;
    TBrushStyle Style = TBrushStyle::Solid;
    std::int64_t X = 0, Y = 0;
};

}  // namespace

// Random sheets of lines (short strokes and long ones, partly off the image), circles and
// arcs in several pens, drawn by the direct raster and by the plain reference.
TEST(QtCanvasDraw, DirectRasterMatchesThePlainReferencePixelForPixel)
{
    std::mt19937 rng(21);
    for (int round = 0; round < 12; ++round) {
        THpglSheet sheet;
        int x = 760, y = 1080;
        for (int i = 0; i < 3000; ++i) {
            const unsigned pick = rng() % 100;
            if (pick < 2)
                sheet.Add(hkSP, static_cast<std::int32_t>(rng() % 9));
            else if (pick < 4)
                sheet.Add(hkCI, static_cast<std::int32_t>(rng() % 400));
            else if (pick < 6)
                sheet.Add(hkAA, x + static_cast<int>(rng() % 301) - 150, y + static_cast<int>(rng() % 301) - 150,
                          static_cast<int>(rng() % 721) - 360);
            else if (pick < 30) {  // long lines across and beyond the frame
                x = static_cast<int>(rng() % 2400) - 400, y = static_cast<int>(rng() % 3200) - 500;
                sheet.Add(pick < 10 ? hkPU : hkPD, x, y);
            } else {  // short strokes, as curves are exported
                x += static_cast<int>(rng() % 41) - 20, y += static_cast<int>(rng() % 41) - 20;
                sheet.Add(pick < 33 ? hkPU : hkPD, x, y);
            }
        }
        const int w = 200 + static_cast<int>(rng() % 700), h = 200 + static_cast<int>(rng() % 900);
        QImage direct(w, h, QImage::Format_RGB32), plain(w, h, QImage::Format_RGB32);
        direct.fill(Qt::white);
        plain.fill(Qt::white);
        {
            QPainter p(&direct);
            QtCanvas c(p);
            sheet.Draw(c, w, h);
        }
        TReferenceCanvas reference(plain);
        sheet.Draw(reference, w, h);
        int differ = 0;
        for (int py = 0; py < h; ++py)
            for (int px = 0; px < w; ++px)
                differ += direct.pixel(px, py) != plain.pixel(px, py);
        EXPECT_EQ(differ, 0) << "round " << round << ", " << w << " x " << h;
    }
}
