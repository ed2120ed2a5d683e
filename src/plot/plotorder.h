#pragma once
// A sheet's drawing in an order that lifts and carries the pen less: the pen-down strokes of
// each pen, and its circles, rectangles and arcs as whole units, ordered to shorten the travel
// between them. The device draws exactly what it drew before, pen by pen.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sheet/hpglobject.h"
#include "sheet/hpglsheet.h"

struct TPlotOrderOptions {
    bool Improve = true;  // false: the nearest-neighbour pass alone
    // The share of the work done (0 to 1); returning false cancels.
    std::function<bool(double)> Progress;
};

struct TPlotOrder {
    bool Ok = false;
    bool Cancelled = false;
    std::string Reason;                // why the order could not be changed
    std::vector<THpglObject> Objects;  // the reordered sheet's objects (Next unused)
    double TravelBefore = 0;           // pen-up travel between the pieces, plotter units
    double TravelAfter = 0;
    std::uint64_t Pieces = 0;       // strokes and units ordered
    std::uint64_t LiftsBefore = 0;  // times the pen goes up between pieces
    std::uint64_t LiftsAfter = 0;
    int Pens = 0;  // pen groups
};

// The objects of a sheet that draws the same as `sheet` in a better order. Never worse than the
// file's order for any pen; the same sheet always gives the same order.
TPlotOrder OptimisePlotOrder(const THpglSheet& sheet, const TPlotOrderOptions& options = {});

// Replaces the sheet's objects (as a load does) and recomputes its extents.
void RefillSheet(THpglSheet& sheet, const std::vector<THpglObject>& objects);
