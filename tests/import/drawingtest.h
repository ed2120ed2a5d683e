#pragma once
// Helpers for the drawing tests: SVG text into a sheet, and a sheet's pen moves as polylines.

#include <gtest/gtest.h>

#include <QByteArray>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "import/svgimport.h"
#include "sheet/hpglsheet.h"

struct TPt {
    std::int32_t X, Y;
    bool operator==(const TPt&) const = default;
};

// One run of PD moves after a PU, with the pen it was drawn with.
struct TPolyline {
    std::int32_t Pen;
    std::vector<TPt> Points;
};

inline std::vector<TPolyline> Polylines(const THpglSheet& sheet)
{
    std::vector<TPolyline> out;
    std::int32_t pen = 0;
    for (const THpglObject& o : sheet) {
        if (o.Kind == hkSP)
            pen = o.P1;
        else if (o.Kind == hkPU)
            out.push_back({pen, {{o.P1, o.P2}}});
        else if (o.Kind == hkPD && !out.empty())
            out.back().Points.push_back({o.P1, o.P2});
    }
    return out;
}

// A page of 1520 x 2160 units where one user unit is one plotter unit (y flipped).
inline std::string Page(const std::string& body)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"190mm\" height=\"270mm\" viewBox=\"0 0 1520 2160\">" +
           body + "</svg>";
}

inline TFileResult ImportText(THpglSheet& sheet, const std::string& svg)
{
    return ImportSvgData(sheet, QByteArray::fromStdString(svg));
}

inline std::vector<TPolyline> ImportedPolylines(const std::string& svg)
{
    THpglSheet sheet;
    const TFileResult r = ImportText(sheet, svg);
    EXPECT_TRUE(r.Ok()) << r.Reason;
    return Polylines(sheet);
}

inline double Distance(double ax, double ay, double bx, double by)
{
    return std::hypot(ax - bx, ay - by);
}

// Distance from p to the segment a-b.
inline double SegmentDistance(double px, double py, double ax, double ay, double bx, double by)
{
    const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return Distance(px, py, ax + t * dx, ay + t * dy);
}

inline double PolylineDistance(double px, double py, const std::vector<TPt>& line)
{
    double best = INFINITY;
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        best = std::min(best, SegmentDistance(px, py, line[i].X, line[i].Y, line[i + 1].X, line[i + 1].Y));
    if (line.size() == 1)
        best = Distance(px, py, line[0].X, line[0].Y);
    return best;
}
