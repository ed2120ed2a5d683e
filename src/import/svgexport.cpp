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

// A drawing surface that writes what lands on it as SVG: lines grouped into one path per
// run of a colour, circles and arcs as such. Fills are never drawn.
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
        // Qt Svg truncates very long paths, so long runs are split.
        if (InPath && Commands >= kMaxCommands)
            EndPath();
        if (!InPath) {
            Out += "<path stroke=\"" + Color() + "\" d=\"";
            InPath = true;
            PathX = PathY = INT64_MIN;
            Commands = 0;
        }
        if (PathX != CurX || PathY != CurY) {
            Append("M%" PRId64 " %" PRId64, std::int64_t{CurX} - 1, std::int64_t{CurY} - 1);
            ++Commands;
        }
        Append("L%" PRId64 " %" PRId64, std::int64_t{x} - 1, std::int64_t{y} - 1);
        ++Commands;
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
            Append("<ellipse stroke=\"%s\" cx=\"%.15g\" cy=\"%.15g\" rx=\"%.15g\" ry=\"%.15g\"/>\n", Color().c_str(), cx,
                   cy, rx, ry);
    }
    void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3, std::int32_t y3,
             std::int32_t x4, std::int32_t y4) override
    {
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
        EndPath();
        const double sx = cx + rx * std::cos(a) - 1, sy = cy - ry * std::sin(a) - 1;
        const double ex = cx + rx * std::cos(b) - 1, ey = cy - ry * std::sin(b) - 1;
        Append("<path stroke=\"%s\" d=\"M%.15g %.15gA%.15g %.15g 0 %d 0 %.15g %.15g\"/>\n", Color().c_str(), sx, sy, rx,
               ry, sweep > M_PI ? 1 : 0, ex, ey);
    }

private:
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
    std::int64_t PathX = 0, PathY = 0;
    std::int64_t DotX = INT64_MIN, DotY = INT64_MIN;
    int Commands = 0;
    bool InPath = false;
};

}  // namespace

std::string SheetToSvg(const THpglSheet& sheet)
{
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
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
