// Rendering: the frame of 1520 x 2160 plotter units mapped onto a whole surface, the
// objects interpreted as a pen plotter would.

#include <cmath>
#include <cstdint>

#include "sheet/canvas.h"
#include "sheet/frame.h"
#include "sheet/hpglsheet.h"
#include "sheet/wrap.h"

TColor PenColorOf(std::int32_t pen)
{
    static constexpr TColor table[10] = {
        RGBColor(0, 0, 0),     RGBColor(0, 0, 0),   RGBColor(255, 0, 0),   RGBColor(0, 0, 255),   RGBColor(0, 128, 0),
        RGBColor(128, 0, 128), RGBColor(128, 0, 0), RGBColor(0, 255, 255), RGBColor(255, 255, 0), RGBColor(0, 0, 0),
    };
    return pen >= 0 && pen <= 9 ? table[pen] : clBlack;
}

namespace {

using TMap = TFrameMap;

std::int64_t Edge(std::int64_t c, std::int64_t r)
{
    return range::Clamp32(c + r);
}

void CircleBox(TCanvas& canvas, const TMap& m, std::int32_t cx, std::int32_t cy, std::int64_t r)
{
    TBrushStyle saved = canvas.BrushStyle();
    canvas.SetBrushStyle(TBrushStyle::Clear);
    canvas.Ellipse(m.X(Edge(cx, -r)), m.Y(Edge(cy, -r)), m.X(Edge(cx, r)), m.Y(Edge(cy, r)));
    canvas.SetBrushStyle(saved);
}

}  // namespace

void ArcPenAfter(std::int32_t& x, std::int32_t& y, std::int32_t cx, std::int32_t cy, std::int32_t sweep)
{
    if (sweep > 355)
        return;
    const std::int64_t r = ArcRadius(x, y, cx, cy);
    const float a = ArcStartAngle(x, y, cx, cy, r);
    const auto e = static_cast<float>(a - static_cast<long double>(sweep) * (1.0L / 180) * kArcPi);
    const long double rl = static_cast<long double>(r);
    x = range::Clamp32(static_cast<std::int64_t>(cx - std::cos(static_cast<double>(e)) * rl));
    y = range::Clamp32(static_cast<std::int64_t>(std::sin(static_cast<double>(e)) * rl + cy));
}

void THpglSheet::Draw(TCanvas& canvas, std::int32_t width, std::int32_t height) const
{
    const TMap m{width, height};
    std::int32_t x = 0, y = 0;
    bool down = false;
    bool relative = false;
    canvas.SetPenColor(PenColorOf(1));
    std::uint32_t counter = 0;

    for (const THpglObject& o : *this) {
        if ((++counter & 16383) == 0 && OnDrawProgress)
            OnDrawProgress();
        IsMove(o.Kind, &relative);
        switch (o.Kind) {
        case hkPU:
        case hkPD:
        case hkPA:
        case hkPR:
            if (o.Kind == hkPD)
                down = true;
            else if (o.Kind == hkPU)
                down = false;
            canvas.MoveTo(m.X(x), m.Y(y));
            if (o.ParamCount == 0) {
                canvas.SetPixel(m.X(x), m.Y(y), canvas.PenColor());
                break;
            }
            if (relative) {
                x = wrap::Add(x, o.P1);
                y = wrap::Add(y, o.P2);
            } else {
                x = o.P1;
                y = o.P2;
            }
            if (down)
                canvas.LineTo(m.X(x), m.Y(y));
            break;
        case hkSP: canvas.SetPenColor(PenColorOf(o.P1)); break;
        case hkCI: CircleBox(canvas, m, x, y, o.P1); break;
        case hkER: {
            const std::int64_t x2 = std::int64_t{x} + o.P1, y2 = std::int64_t{y} + o.P2;
            canvas.MoveTo(m.X(x), m.Y(y));
            canvas.LineTo(m.X(x2), m.Y(y));
            canvas.LineTo(m.X(x2), m.Y(y2));
            canvas.LineTo(m.X(x), m.Y(y2));
            canvas.LineTo(m.X(x), m.Y(y));
            break;
        }
        case hkAA: {
            const std::int32_t cx = o.P1, cy = o.P2, sweep = o.P3;
            const std::int64_t r = ArcRadius(x, y, cx, cy);
            if (sweep > 355) {
                CircleBox(canvas, m, cx, cy, r);
                break;
            }
            std::int32_t ex = x, ey = y;
            ArcPenAfter(ex, ey, cx, cy, sweep);
            std::int32_t sx = x, sy = y, tx = ex, ty = ey;
            if (sweep <= 0) {
                sx = ex, sy = ey, tx = x, ty = y;
            }
            canvas.Arc(m.X(Edge(cx, -r)), m.Y(Edge(cy, -r)), m.X(Edge(cx, r)), m.Y(Edge(cy, r)), m.X(sx), m.Y(sy),
                       m.X(tx), m.Y(ty));
            x = ex;
            y = ey;
            break;
        }
        default: break;
        }
    }
}

void THpglSheet::DrawTravel(TCanvas& canvas, std::int32_t width, std::int32_t height) const
{
    const TMap m{width, height};
    std::int32_t x = 0, y = 0;
    bool down = false;
    bool relative = false;
    std::uint32_t counter = 0;
    for (const THpglObject& o : *this) {
        if ((++counter & 16383) == 0 && OnDrawProgress)
            OnDrawProgress();
        IsMove(o.Kind, &relative);
        if (o.Kind == hkPD)
            down = true;
        else if (o.Kind == hkPU)
            down = false;
        if (o.Kind == hkAA) {
            ArcPenAfter(x, y, o.P1, o.P2, o.P3);
            continue;
        }
        if (!IsMove(o.Kind) || o.ParamCount < 2)
            continue;
        const std::int32_t nx = relative ? wrap::Add(x, o.P1) : o.P1;
        const std::int32_t ny = relative ? wrap::Add(y, o.P2) : o.P2;
        if (!down && (nx != x || ny != y)) {
            canvas.MoveTo(m.X(x), m.Y(y));
            canvas.LineTo(m.X(nx), m.Y(ny));
        }
        x = nx;
        y = ny;
    }
}
