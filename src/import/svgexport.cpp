#include "import/svgexport.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "sheet/atomicfile.h"
#include "sheet/canvas.h"
#include "sheet/frame.h"

namespace {

// The frame maps onto a surface of (1520 + 3) x (2160 + 3) as x + 1 and 2161 - y exactly
// (see TFrameMap), so one unit less gives SVG user units with y pointing down.
constexpr std::int32_t kSurfaceWidth = kFrameWidth + 3;
constexpr std::int32_t kSurfaceHeight = kFrameHeight + 3;
constexpr int kMaxCommands = 2000;

// A drawing surface that writes what lands on it as SVG: lines and arcs that the pen draws
// one after another in a colour as one path, circles as such. Fills are never drawn.
class TSvgCanvas final : public TCanvas {
public:
    explicit TSvgCanvas(std::string& out) : Out(out) {}
    ~TSvgCanvas() override { EndPath(); }
    TSvgCanvas(const TSvgCanvas&) = delete;
    TSvgCanvas& operator=(const TSvgCanvas&) = delete;

    TColor PenColor() const override { return Pen; }
    void SetPenColor(TColor color) override
    {
        if (color != Pen)
            EndPath();
        Pen = color;
    }
    TColor BrushColor() const override { return Brush; }
    void SetBrushColor(TColor color) override
    {
        Brush = color;
        Style = TBrushStyle::Solid;
    }
    TBrushStyle BrushStyle() const override { return Style; }
    void SetBrushStyle(TBrushStyle style) override { Style = style; }

    void MoveTo(std::int32_t x, std::int32_t y) override
    {
        CurX = x;
        CurY = y;
    }
    void LineTo(std::int32_t x, std::int32_t y) override
    {
        if (x == CurX && y == CurY) {
            // The pen put down in place is a dot; within a line it adds nothing.
            if (!InPath || PathX != CurX || PathY != CurY)
                Dot(x, y);
            return;
        }
        ContinueFrom(CurX, CurY);
        LineOn(double(x) - 1, double(y) - 1);
        CurX = PathX = x;
        CurY = PathY = y;
    }
    // A pixel is how the view marks a move without coordinates, which draws nothing.
    void SetPixel(std::int32_t, std::int32_t, TColor) override {}
    void Rectangle(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {}
    void Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override
    {
        const double rx = std::abs(double(x2) - x1) / 2, ry = std::abs(double(y2) - y1) / 2;
        if (rx <= 0 || ry <= 0)
            return;
        EndPath();
        const double cx = (double(x1) + x2) / 2 - 1, cy = (double(y1) + y2) / 2 - 1;
        if (rx == ry)
            Append("<circle stroke=\"%s\" cx=\"%.15g\" cy=\"%.15g\" r=\"%.15g\"/>\n", Color().c_str(), cx, cy, rx);
        else
            Append("<ellipse stroke=\"%s\" cx=\"%.15g\" cy=\"%.15g\" rx=\"%.15g\" ry=\"%.15g\"/>\n", Color().c_str(),
                   cx, cy, rx, ry);
    }
    void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3, std::int32_t y3,
             std::int32_t x4, std::int32_t y4) override
    {
        // Half the box is the sheet's radius; that the view leaves out the box's right and
        // bottom pixels makes it no shorter.
        const double rx = std::abs(double(x2) - x1) / 2, ry = std::abs(double(y2) - y1) / 2;
        if (rx <= 0 || ry <= 0)
            return;
        const double cx = (double(x1) + x2) / 2, cy = (double(y1) + y2) / 2;
        // Angles with y up; the arc runs counterclockwise from the first ray to the second.
        const double a = std::atan2(cy - y3, x3 - cx), b = std::atan2(cy - y4, x4 - cx);
        double sweep = std::remainder(b - a, 2 * M_PI);
        if (sweep < 0)
            sweep += 2 * M_PI;
        if (sweep == 0 || (x3 == x4 && y3 == y4)) {
            Ellipse(x1, y1, x2, y2);
            return;
        }
        // The rays pass through where the pen starts and ends, in either order: a clockwise
        // arc comes with its end first. Written from the pen's side, it joins what the pen
        // drew before it and what it draws next.
        const bool backward = x4 == CurX && y4 == CurY && !(x3 == CurX && y3 == CurY);
        const double from = backward ? b : a, to = backward ? a : b;
        const std::int32_t fromX = backward ? x4 : x3, fromY = backward ? y4 : y3;
        const std::int32_t toX = backward ? x3 : x4, toY = backward ? y3 : y4;
        // The pen's points are whole units; the arc's ends lie on the ellipse along the rays.
        const double sx = cx + rx * std::cos(from) - 1, sy = cy - ry * std::sin(from) - 1;
        const double ex = cx + rx * std::cos(to) - 1, ey = cy - ry * std::sin(to) - 1;
        ContinueFrom(fromX, fromY, sx, sy);
        Append("A%.15g %.15g 0 %d %d %.15g %.15g", rx, ry, sweep > M_PI ? 1 : 0, backward ? 1 : 0, ex, ey);
        ++Commands;
        EndX = ex;
        EndY = ey;
        PathX = toX;
        PathY = toY;
        // Draw moves to the pen's point before its next line anyway; an arc that follows at
        // once needs it to tell its start from its end.
        CurX = toX;
        CurY = toY;
    }

private:
    // Carries on the path when it was drawn as far as the pen point (x, y), through that
    // point, or starts a new one; then brings it to (atX, atY), where the next stroke
    // begins: the pen point itself for a line, the ellipse a unit or two away for an arc.
    void ContinueFrom(std::int32_t x, std::int32_t y) { ContinueFrom(x, y, double(x) - 1, double(y) - 1); }
    void ContinueFrom(std::int32_t x, std::int32_t y, double atX, double atY)
    {
        const bool joins = InPath && PathX == x && PathY == y;
        // Qt Svg truncates very long paths, so long runs are split.
        if (InPath && (!joins || Commands >= kMaxCommands))
            EndPath();
        if (!InPath) {
            Out += "<path stroke=\"" + Color() + "\" d=\"";
            InPath = true;
            Commands = 0;
            if (!joins)
                EndX = atX, EndY = atY;
            Append("M%.15g %.15g", EndX, EndY);
            ++Commands;
        }
        // The plotter's pen passes through its point between strokes; the view's arcs stop
        // short of it or beyond, where their rays meet the ellipse.
        if (joins)
            LineOn(double(x) - 1, double(y) - 1);
        LineOn(atX, atY);
    }
    void LineOn(double x, double y)
    {
        if (x == EndX && y == EndY)
            return;
        Append("L%.15g %.15g", x, y);
        ++Commands;
        EndX = x;
        EndY = y;
    }
    template <typename... A>
    void Append(const char* format, A... args)
    {
        char buf[512];
        const int n = std::snprintf(buf, sizeof buf, format, args...);
        Out.append(buf, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
    }
    std::string Color() const
    {
        char buf[8];
        std::snprintf(buf, sizeof buf, "#%06x", static_cast<unsigned>(Pen & 0xffffff));
        return buf;
    }
    // Zero-length strokes are dropped by SVG readers; a quarter-unit disc survives and reads
    // back as a dot at its centre.
    void Dot(std::int32_t x, std::int32_t y)
    {
        if (x == DotX && y == DotY && !InPath)
            return;
        EndPath();
        Append("<circle fill=\"%s\" stroke=\"none\" cx=\"%" PRId64 "\" cy=\"%" PRId64 "\" r=\"0.25\"/>\n",
               Color().c_str(), std::int64_t{x} - 1, std::int64_t{y} - 1);
        DotX = x;
        DotY = y;
    }
    void EndPath()
    {
        if (InPath)
            Out += "\"/>\n";
        InPath = false;
        DotX = DotY = INT64_MIN;
    }

    std::string& Out;
    TColor Pen = clBlack;
    TColor Brush = clWhite;
    TBrushStyle Style = TBrushStyle::Solid;
    std::int32_t CurX = 0, CurY = 0;
    std::int64_t PathX = 0, PathY = 0;  // the pen's point that the path has reached
    double EndX = 0, EndY = 0;          // where the path's last stroke ends
    std::int64_t DotX = INT64_MIN, DotY = INT64_MIN;
    int Commands = 0;
    bool InPath = false;
};

}  // namespace

std::string SheetToSvg(const THpglSheet& sheet)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"190mm\" height=\"270mm\" "
                      "viewBox=\"0 0 1520 2160\">\n"
                      "<style>path,circle,ellipse{vector-effect:non-scaling-stroke}</style>\n"
                      "<g fill=\"none\" stroke-width=\"1\" stroke-linecap=\"round\" stroke-linejoin=\"round\">\n";
    {
        TSvgCanvas canvas(out);
        sheet.Draw(canvas, kSurfaceWidth, kSurfaceHeight);
    }
    out += "</g>\n</svg>\n";
    return out;
}

TFileResult ExportSvg(const THpglSheet& sheet, const std::string& fileName)
{
    const std::string svg = SheetToSvg(sheet);
    return WriteFileAtomically(fileName, [&](TBufferedOut& o) { o.Put(svg); });
}
