#include "plot/preflight.h"

#include <algorithm>
#include <cstdio>

#include "plot/ostrel.h"
#include "sheet/frame.h"

namespace {

struct TReach {
    std::int64_t XMin = 0, XMax = 0, YMin = 0, YMax = 0;  // the pen starts at the origin
    void Include(std::int64_t x, std::int64_t y)
    {
        XMin = std::min(XMin, x);
        XMax = std::max(XMax, x);
        YMin = std::min(YMin, y);
        YMax = std::max(YMax, y);
    }
    void Square(std::int64_t cx, std::int64_t cy, std::int64_t r)
    {
        Include(cx - r, cy - r);
        Include(cx + r, cy + r);
    }
};

std::int64_t Abs(std::int64_t v)
{
    return v < 0 ? -v : v;
}

std::string Millimetres(std::int64_t units)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(units) / 8);
    std::string s = buf;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0)
        s.resize(s.size() - 2);
    return s + " mm";
}

}  // namespace

TFrameOverrun FrameOverrun(const THpglSheet& sheet)
{
    TReach reach;
    TOstrelStream pen;
    for (const THpglObject& o : sheet) {
        switch (o.Kind) {
        case hkAA:
            if (o.P3 != 0) {
                const TOstrelArc arc(pen.PenX, pen.PenY, o);
                if (Abs(arc.Sweep) >= 360) {
                    // A whole turn or more: the points lie all round the circle.
                    reach.Square(arc.Cx, arc.Cy, static_cast<std::int64_t>(arc.R));
                } else {
                    for (std::int64_t n = 0; n < arc.Points(); ++n) {
                        std::int32_t x, y;
                        arc.Point(arc.Offset(n), x, y);
                        reach.Include(x, y);
                    }
                }
            }
            break;
        case hkCI: reach.Square(pen.DeviceX, pen.DeviceY, Abs(o.P1)); break;
        case hkER: reach.Include(std::int64_t{pen.DeviceX} + o.P1, std::int64_t{pen.DeviceY} + o.P2); break;
        default: break;
        }
        pen.Skip(o);
        reach.Include(pen.DeviceX, pen.DeviceY);
    }
    TFrameOverrun r;
    r.Left = std::max<std::int64_t>(0, -reach.XMin);
    r.Right = std::max<std::int64_t>(0, reach.XMax - kFrameWidth);
    r.Bottom = std::max<std::int64_t>(0, -reach.YMin);
    r.Top = std::max<std::int64_t>(0, reach.YMax - kFrameHeight);
    return r;
}

std::vector<TPreflightWarning> Preflight(const THpglSheet& sheet)
{
    std::vector<TPreflightWarning> out;
    if (!sheet.First) {
        out.push_back(
            {TPreflightKind::EmptySheet, "The sheet is empty: only the opening and closing commands would be sent."});
        return out;
    }

    const TFrameOverrun over = FrameOverrun(sheet);
    if (over.Any()) {
        std::string sides;
        auto side = [&](std::int64_t units, const char* where) {
            if (units <= 0)
                return;
            sides += (sides.empty() ? "" : ", ") + Millimetres(units) + " " + where;
        };
        side(over.Left, "on the left");
        side(over.Right, "on the right");
        side(over.Bottom, "at the bottom");
        side(over.Top, "at the top");
        out.push_back({TPreflightKind::BeyondFrame, "The drawing goes beyond the paper: " + sides + "."});
    }

    // Pen 0 (and a bare SP) puts the pen away; a warning is due once two pens would draw.
    std::vector<std::int32_t> pens;
    std::int64_t longArcs = 0, longest = 0;
    for (const THpglObject& o : sheet) {
        if (o.Kind == hkSP && o.ParamCount >= 1 && o.P1 != 0 && std::find(pens.begin(), pens.end(), o.P1) == pens.end())
            pens.push_back(o.P1);
        if (o.Kind == hkAA && Abs(o.P3) > 360) {
            ++longArcs;
            longest = std::max(longest, Abs(o.P3));
        }
    }
    if (pens.size() >= 2) {
        std::string list;
        const std::size_t shown = std::min<std::size_t>(pens.size(), 8);
        for (std::size_t i = 0; i < shown; ++i)
            list += (i ? ", " : "") + std::to_string(pens[i]);
        if (shown < pens.size())
            list += ", ...";
        out.push_back({TPreflightKind::PenChanges, "The sheet changes pens (SP " + list +
                                                       "); this device does not receive pen changes, so "
                                                       "everything plots with the pen in the holder."});
    }
    if (longArcs > 0) {
        const std::string degrees = std::to_string(longest) + " degrees";
        out.push_back({TPreflightKind::LongArcs,
                       longArcs == 1
                           ? "1 arc sweeps more than 360 degrees and is drawn more than once (" + degrees + ")."
                           : std::to_string(longArcs) +
                                 " arcs sweep more than 360 degrees and are drawn more than once (the "
                                 "longest " +
                                 degrees + ")."});
    }
    return out;
}
