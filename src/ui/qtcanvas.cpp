#include "ui/qtcanvas.h"

#include <QPagedPaintDevice>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "sheet/hpglsheet.h"

QColor ToQColor(TColor c)
{
    return QColor((c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff);
}

namespace {

// Qt's raster engine works in fixed point; coordinates far beyond any surface are held
// where they cannot overflow it. Lines are clipped first so that their direction survives.
constexpr double kReach = 1 << 22;

bool ClipToReach(double& x1, double& y1, double& x2, double& y2)
{
    // Liang-Barsky against the square of +-kReach.
    double t0 = 0, t1 = 1;
    const double dx = x2 - x1, dy = y2 - y1;
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {x1 + kReach, kReach - x1, y1 + kReach, kReach - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return false;
    const double ox = x1, oy = y1;
    x1 = ox + t0 * dx, y1 = oy + t0 * dy;
    x2 = ox + t1 * dx, y2 = oy + t1 * dy;
    return true;
}

// std::llround without the library call, for the rows of an ellipse (well below 2^53):
// the fraction v - trunc(v) is exact, so ties go away from zero as llround sends them.
std::int64_t RoundHalfAway(double v)
{
    const auto t = static_cast<std::int64_t>(v);
    const double f = v - static_cast<double>(t);
    return t + (f >= 0.5) - (f <= -0.5);
}

bool Near(std::int32_t v)
{
    return v > -kReach && v < kReach;
}

QRect Box(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    // GDI boxes leave out the right and bottom edges; QRect's outline is inclusive.
    const std::int64_t l = std::min(x1, x2), r = std::max(x1, x2), t = std::min(y1, y2), b = std::max(y1, y2);
    auto c = [](std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, -(1 << 24), 1 << 24)); };
    return QRect(QPoint(c(l), c(t)), QPoint(c(r - 2), c(b - 2)));
}

}  // namespace

QtCanvas::QtCanvas(QPainter& painter) : Painter(painter)
{
    Painter.setRenderHint(QPainter::Antialiasing, false);
    ApplyPen();
    ApplyBrush();
    QPaintDevice* device = Painter.device();
    if (device && device->devType() == QInternal::Image && Painter.transform().isIdentity() && !Painter.hasClipping()) {
        auto* image = static_cast<QImage*>(device);
        const auto f = image->format();
        if ((f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied) &&
            image->devicePixelRatio() == 1.0) {
            Bits = reinterpret_cast<std::uint32_t*>(image->bits());
            Stride = image->bytesPerLine() / 4;
            Width = image->width();
            Height = image->height();
        }
    }
}

QtCanvas::~QtCanvas() = default;

void QtCanvas::ApplyPen()
{
    // A cosmetic one-pixel pen with flat caps leaves out the end pixel of a line, as LineTo.
    QPen pen(ToQColor(Pen), 0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setCosmetic(true);
    Painter.setPen(pen);
}

void QtCanvas::ApplyBrush()
{
    Painter.setBrush(Style == TBrushStyle::Clear ? QBrush(Qt::NoBrush) : QBrush(ToQColor(Brush)));
}

void QtCanvas::SetPenColor(TColor color)
{
    if (color == Pen)
        return;
    Pen = color;
    ApplyPen();
}

void QtCanvas::SetBrushColor(TColor color)
{
    Brush = color;
    Style = TBrushStyle::Solid;
    ApplyBrush();
}

void QtCanvas::SetBrushStyle(TBrushStyle style)
{
    Style = style;
    if (style == TBrushStyle::Clear)
        Brush = clWhite;
    ApplyBrush();
}

void QtCanvas::MoveTo(std::int32_t x, std::int32_t y)
{
    SetCurrent(x, y);
}

// Bresenham with midpoint rounding, from (x0, y0) toward (x1, y1), leaving out the end pixel
// unless lastPixel; only pixels on the image are visited, so a long line costs no more than
// the image's size. The minor coordinate at step i is minor0 + floor((2 i dMinor + dMajor) /
// (2 dMajor)), kept as a quotient and a remainder so that no step divides.
void QtCanvas::RasterLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, bool lastPixel)
{
    const std::uint32_t colour = 0xff000000u | Pen;
    const std::int64_t adx = x1 >= x0 ? x1 - x0 : x0 - x1, ady = y1 >= y0 ? y1 - y0 : y0 - y1;
    const bool xMajor = adx >= ady;
    const std::int64_t n = xMajor ? adx : ady;  // steps; the pixel at step n is the end
    if (n == 0) {
        if (lastPixel && x0 >= 0 && x0 < Width && y0 >= 0 && y0 < Height)
            Bits[y0 * Stride + x0] = colour;
        return;
    }
    // Walk along the major axis in (major, minor) terms; the pixel pointer steps by these.
    const std::int64_t major0 = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
    const int smajor = (xMajor ? x1 >= x0 : y1 >= y0) ? 1 : -1;
    const int sminor = (xMajor ? y1 >= y0 : x1 >= x0) ? 1 : -1;
    const std::int64_t majorLimit = xMajor ? Width : Height, minorLimit = xMajor ? Height : Width;
    const std::int64_t dMinor = xMajor ? ady : adx;
    const qsizetype majorStride = xMajor ? 1 : Stride, minorStride = xMajor ? Stride : 1;

    std::int64_t first = 0, last = lastPixel ? n : n - 1;
    if (smajor > 0) {
        first = std::max(first, -major0);
        last = std::min(last, majorLimit - 1 - major0);
    } else {
        first = std::max(first, major0 - (majorLimit - 1));
        last = std::min(last, major0);
    }
    if (first > last)
        return;
    const std::int64_t den = 2 * n;
    std::int64_t q = 0, r = n;
    if (first > 0) {
        const std::int64_t num = 2 * first * dMinor + n;
        q = num / den;
        r = num % den;
    }
    std::int64_t major = major0 + smajor * first;
    std::int64_t minor = minor0 + sminor * q;
    const std::int64_t step = 2 * dMinor;
    const qsizetype pixelMajor = smajor * majorStride, pixelMinor = sminor * minorStride;
    const std::int64_t x = xMajor ? major : minor, y = xMajor ? minor : major;
    std::uint32_t* px = Bits + y * Stride + x;  // may point off the image; written only on it
    const bool minorInside = minor0 >= 0 && minor0 < minorLimit &&
                             minor0 + sminor * (2 * last * dMinor + n) / den >= 0 &&
                             minor0 + sminor * (2 * last * dMinor + n) / den < minorLimit;
    if (minorInside) {
        PlotSteps(px, last - first + 1, pixelMajor, pixelMinor, r, step, den, colour);
        return;
    }
    for (std::int64_t i = first; i <= last; ++i) {
        if (minor >= 0 && minor < minorLimit)
            *px = colour;
        px += pixelMajor;
        r += step;
        if (r >= den) {
            r -= den;
            minor += sminor;
            px += pixelMinor;
        }
    }
    (void)major;
}

// The steps of a line known to stay on the image. The minor step is taken without a branch:
// for a steep or slanted line it comes at no pattern the processor could predict. A shallow
// line is drawn as runs along its major axis, one run per minor step.
void QtCanvas::PlotSteps(std::uint32_t* px, std::int64_t count, qsizetype pixelMajor, qsizetype pixelMinor,
                         std::int64_t r, std::int64_t step, std::int64_t den, std::uint32_t colour)
{
    if (count >= 16 && step * 8 <= den) {
        // Runs of eight pixels or more: the remainder says how many steps remain before the
        // next minor step, r + k * step >= den first at k = ceil((den - r) / step).
        while (count > 0) {
            std::int64_t run = step ? (den - r + step - 1) / step : count;  // up to and including the carry
            if (run > count)
                run = count;
            if (pixelMajor == 1) {
                std::fill_n(px, run, colour);
                px += run;
            } else {
                for (std::int64_t k = 0; k < run; ++k, px += pixelMajor)
                    *px = colour;
            }
            count -= run;
            r += run * step;
            if (r >= den) {
                r -= den;
                px += pixelMinor;
            }
        }
        return;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        *px = colour;
        r += step;
        const std::int64_t carry = (den - 1 - r) >> 63;  // all ones when r >= den
        r -= den & carry;
        px += pixelMajor + (pixelMinor & carry);
    }
}

void QtCanvas::LineTo(std::int32_t x, std::int32_t y)
{
    // Most lines of a drawing lie on the image: RasterLine's steps without its clipping.
    if (Bits) {
        const std::int32_t x0 = CurrentX(), y0 = CurrentY();
        auto on = [](std::int32_t v, int limit) {
            return static_cast<std::uint32_t>(v) < static_cast<std::uint32_t>(limit);
        };
        if (on(x0, Width) && on(x, Width) && on(y0, Height) && on(y, Height)) {
            const std::int64_t adx = std::abs(x - x0), ady = std::abs(y - y0);
            const bool xMajor = adx >= ady;
            const std::int64_t n = xMajor ? adx : ady;
            if (n > 0) {
                const qsizetype sx = x >= x0 ? 1 : -1, sy = y >= y0 ? Stride : -Stride;
                PlotSteps(Bits + qsizetype{y0} * Stride + x0, n, xMajor ? sx : sy, xMajor ? sy : sx, n,
                          2 * (xMajor ? ady : adx), 2 * n, 0xff000000u | Pen);
            }
            SetCurrent(x, y);
            return;
        }
    }
    double x1 = CurrentX(), y1 = CurrentY(), x2 = x, y2 = y;
    const bool near = Near(CurrentX()) && Near(CurrentY()) && Near(x) && Near(y);
    // A far line is cut to a square the rasterisers can handle; a cut end is not the line's
    // real end, so it keeps its pixel.
    if (near || ClipToReach(x1, y1, x2, y2)) {
        const bool endCut = !near && (x2 != x || y2 != y);
        if (Bits && near) {
            RasterLine(CurrentX(), CurrentY(), x, y, false);
        } else if (Bits) {
            RasterLine(std::llround(x1), std::llround(y1), std::llround(x2), std::llround(y2), endCut);
        } else if (near) {
            Painter.drawLine(QPoint(CurrentX(), CurrentY()), QPoint(x, y));
        } else {
            Painter.drawLine(QLineF(x1, y1, x2, y2));
        }
    }
    SetCurrent(x, y);
}

void QtCanvas::SetPixel(std::int32_t x, std::int32_t y, TColor color)
{
    if (Bits) {
        if (x >= 0 && x < Width && y >= 0 && y < Height)
            Bits[std::int64_t{y} * Stride + x] = 0xff000000u | color;
        return;
    }
    // No surface reaches that far, and QRect's right edge would overflow at the 32-bit limit.
    if (!Near(x) || !Near(y))
        return;
    Painter.fillRect(QRect(x, y, 1, 1), ToQColor(color));
}

void QtCanvas::Rectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    QRect r = Box(x1, y1, x2, y2);
    if (r.width() < 0 || r.height() < 0)
        return;  // GDI draws nothing for a box narrower than two pixels
    if (Style == TBrushStyle::Solid)
        Painter.fillRect(r.adjusted(0, 0, 1, 1), ToQColor(Brush));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRect(r);
    ApplyBrush();
}

// The outline of the ellipse inscribed in the pixels l..r-1, t..b-1, one column at a time:
// each column's run reaches its neighbours' rows, so the outline is closed without gaps.
// Only columns on the image are visited. With arc set, a pixel is kept only when its
// direction from the box's centre lies counterclockwise from the start ray to the end ray.
void QtCanvas::RasterEllipse(std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b, const TArcRays* arc)
{
    const std::uint32_t colour = 0xff000000u | Pen;
    const double cx = (l + r - 1) / 2.0, cy = (t + b - 1) / 2.0;
    const double ra = (r - 1 - l) / 2.0, rb = (b - 1 - t) / 2.0;
    auto rows = [&](std::int64_t x, std::int64_t& top, std::int64_t& bottom) {
        double h = rb;
        if (ra > 0) {
            const double u = std::clamp((static_cast<double>(x) - cx) / ra, -1.0, 1.0);
            h = rb * std::sqrt(1.0 - u * u);
        }
        top = RoundHalfAway(cy - h);
        bottom = RoundHalfAway(cy + h);
    };
    // GDI's rays start at the centre of the box as given, in y-up orientation.
    const double gx = (l + r) / 2.0, gy = (t + b) / 2.0;
    auto onArc = [&](std::int64_t x, std::int64_t y) {
        if (!arc)
            return true;
        const double dx = static_cast<double>(x) - gx, dy = gy - static_cast<double>(y);
        const double sd = arc->Sx * dy - arc->Sy * dx, de = dx * arc->Ey - dy * arc->Ex;
        return arc->Narrow ? sd >= 0 && de >= 0 : sd >= 0 || de >= 0;
    };
    auto plot = [&](std::int64_t x, std::int64_t y0, std::int64_t y1) {
        y0 = std::max<std::int64_t>(y0, 0);
        y1 = std::min<std::int64_t>(y1, Height - 1);
        for (std::int64_t y = y0; y <= y1; ++y)
            if (onArc(x, y))
                Bits[y * Stride + x] = colour;
    };
    const std::int64_t x0 = std::max<std::int64_t>(l, 0), x1 = std::min<std::int64_t>(r - 1, Width - 1);
    if (x0 > x1)
        return;
    std::int64_t topL, botL, top, bot, topR, botR;
    rows(x0 > l ? x0 - 1 : x0, topL, botL);
    rows(x0, top, bot);
    for (std::int64_t x = x0; x <= x1; ++x) {
        if (x < r - 1)
            rows(x + 1, topR, botR);
        else
            topR = top, botR = bot;
        if (x == l)
            topL = top, botL = bot;
        if (ra <= 0 || rb <= 0) {
            plot(x, top, bot);  // a box one pixel wide or high: a straight line
        } else {
            plot(x, top, std::max(top, std::max(topL, topR) - 1));
            plot(x, std::min(bot, std::min(botL, botR) + 1), bot);
        }
        topL = top, botL = bot, top = topR, bot = botR;
    }
}

void QtCanvas::Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    QRect r = Box(x1, y1, x2, y2);
    if (r.width() < 0 || r.height() < 0)
        return;
    if (Bits && Style == TBrushStyle::Clear) {
        RasterEllipse(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2), nullptr);
        return;
    }
    Painter.drawEllipse(r);
}

void QtCanvas::Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3, std::int32_t y3,
                   std::int32_t x4, std::int32_t y4)
{
    QRect r = Box(x1, y1, x2, y2);
    if (r.width() < 0 || r.height() < 0)
        return;
    const double cx = (std::int64_t{x1} + x2) / 2.0, cy = (std::int64_t{y1} + y2) / 2.0;
    // Rays in y-up orientation; coinciding rays give the whole ellipse.
    TArcRays rays{x3 - cx, cy - y3, x4 - cx, cy - y4, true};
    const double cross = rays.Sx * rays.Ey - rays.Sy * rays.Ex;
    const double dot = rays.Sx * rays.Ex + rays.Sy * rays.Ey;
    const bool whole = cross == 0 && dot >= 0;
    if (Bits) {
        rays.Narrow = cross > 0;
        RasterEllipse(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2), whole ? nullptr : &rays);
        return;
    }
    // GDI takes rays from the box's centre through the two points; Qt takes angles on the
    // ellipse's parameter, counterclockwise on the screen. The ray through (x, y) meets the
    // ellipse at parameter atan2(-dy / ry, dx / rx).
    const double rx = std::max(1.0, std::abs(double(x2) - x1) / 2), ry = std::max(1.0, std::abs(double(y2) - y1) / 2);
    auto angle = [&](double x, double y) { return std::atan2(-(y - cy) / ry, (x - cx) / rx) * 180.0 / M_PI; };
    const double a3 = angle(x3, y3), a4 = angle(x4, y4);
    double span = a4 - a3;
    while (span <= 0)
        span += 360;
    // Only rays that truly coincide close the ellipse; a sweep too small for Qt's sixteenths
    // of a degree draws next to nothing, as the raster path does.
    if (whole)
        span = 360;
    else if (span >= 360)
        span = cross > 0 ? 0 : 360;
    Painter.drawArc(r, static_cast<int>(std::lround(a3 * 16)), static_cast<int>(std::lround(span * 16)));
}

void PaintView(QPainter& painter, const THpglSheet* sheet, int width, int height, bool travel)
{
    QtCanvas canvas(painter);
    canvas.SetPenColor(clBlack);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, width, height);
    if (sheet && travel) {
        canvas.SetPenColor(RGBColor(150, 190, 235));
        sheet->DrawTravel(canvas, width, height);
    }
    if (sheet)
        sheet->Draw(canvas, width, height);
}

void PaintPage(QPainter& painter, const THpglSheet& sheet, const QPagedPaintDevice& device)
{
    const QRect page = device.pageLayout().paintRectPixels(device.logicalDpiX());
    QtCanvas canvas(painter);
    sheet.Draw(canvas, page.width(), page.height());
}
