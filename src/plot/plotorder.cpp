#include "plot/plotorder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "base/hugepages.h"
#include "plot/ostrel.h"
#include "plot/tourorder.h"

namespace {

struct TXY {
    std::int32_t X, Y;
    bool operator==(const TXY&) const = default;
};

// A circle, rectangle or arc, drawn from where it starts.
struct TUnit {
    THpglObject Object{hkPU};
    TXY Start{}, End{};
    bool Down = false;  // drawn with the pen down
};

// A piece of one pen's drawing: a stroke (points drawn pen down from the first) or a unit.
struct TItem {
    std::uint32_t Begin = 0, End = 0;  // the stroke's points
    std::int32_t Unit = -1;
};

struct TGroup {
    bool Selected = false;
    THpglObject Select{hkSP};
    std::vector<TItem> Items;
};

bool Fits(std::int64_t v)
{
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// Splits the sheet's drawing into pieces per pen as the device draws it, following the
// device's own pen (after an arc the device is absolute and at the arc's last point).
class TSplitter {
public:
    std::vector<TXY> Points;
    std::vector<TUnit> Units;
    std::vector<TGroup> Groups;                                      // in first-use order
    std::vector<std::pair<std::uint32_t, std::uint32_t>> FileOrder;  // (group, item)
    std::string Reason;

    // The last object that draws (or lowers the pen); null when nothing does.
    static const THpglObject* LastDrawing(const THpglSheet& sheet, std::size_t& objects)
    {
        TOstrelStream st;
        const THpglObject* last = nullptr;
        objects = 0;
        for (const THpglObject& o : sheet) {
            ++objects;
            const bool movesDown = (o.Kind == hkPA || o.Kind == hkPR) && o.ParamCount >= 2 && st.Down;
            if (o.Kind == hkPD || movesDown || o.Kind == hkCI || o.Kind == hkER || o.Kind == hkAA)
                last = &o;
            st.Skip(o);
        }
        return last;
    }

    bool Split(const THpglSheet& sheet, const THpglObject* last, std::size_t objects)
    {
        base::ReserveHuge(Points, objects + 1);
        base::ReserveHuge(FileOrder, objects / 2 + 1);
        for (const THpglObject& o : sheet) {
            if (!Step(o))
                return false;
            if (&o == last)
                break;
        }
        Close();
        return true;
    }

    TOstrelStream St;

private:
    bool Step(const THpglObject& o)
    {
        const TXY at{St.DeviceX, St.DeviceY};
        switch (o.Kind) {
        case hkSP:
            Close();
            Pen = o.ParamCount >= 1 ? o.P1 : 0;
            Selection = o;
            Selected = true;
            return true;
        case hkPU:
        case hkPD:
        case hkPA:
        case hkPR: {
            if (o.ParamCount == 1) {
                // Sent as a move to (P1, 0) that the program's own pen never makes.
                Reason = "a pen command carries one number";
                return false;
            }
            if (o.ParamCount >= 2 && !MoveFits(o))
                return false;
            St.Skip(o);
            const TXY to{St.DeviceX, St.DeviceY};
            if (o.Kind == hkPU) {
                Close();
            } else if (o.Kind == hkPD || (o.ParamCount >= 2 && St.Down)) {
                Open(at);
                if (o.ParamCount >= 2)
                    Points.push_back(to);
            }
            return true;
        }
        case hkCI:
        case hkER:
        case hkAA: {
            // A lone pen-down point where the unit starts is the unit's own lowered pen.
            const TXY start = o.Kind == hkAA ? TXY{St.PenX, St.PenY} : at;
            if (Stroke && Points.size() - StrokeBegin == 1 && Points.back() == start) {
                Stroke = false;
                Points.pop_back();
            }
            Close();
            TUnit unit;
            unit.Object = o;
            unit.Object.Next = nullptr;
            unit.Down = St.Down;
            if (o.Kind == hkAA) {
                // The arc's points are reckoned from the pen as the program tracks it; once a
                // relative move after an arc in relative mode has parted that from the device's
                // pen, no absolute start reproduces both.
                if (St.PenX != St.DeviceX || St.PenY != St.DeviceY) {
                    Reason = "an arc follows relative moves that the device and the view place differently";
                    return false;
                }
                St.Skip(o);
                unit.End = {St.PenX, St.PenY};
            } else {
                unit.End = at;
            }
            unit.Start = start;
            TItem item;
            item.Unit = static_cast<std::int32_t>(Units.size());
            Units.push_back(unit);
            Add(item);
            return true;
        }
        default: return true;
        }
    }

    bool MoveFits(const THpglObject& o)
    {
        const bool relative = o.Kind == hkPR || (o.Kind != hkPA && St.DeviceRelative);
        const bool trackerRelative = o.Kind == hkPR || (o.Kind != hkPA && St.Relative);
        if ((relative && (!Fits(std::int64_t{St.DeviceX} + o.P1) || !Fits(std::int64_t{St.DeviceY} + o.P2))) ||
            (trackerRelative && (!Fits(std::int64_t{St.PenX} + o.P1) || !Fits(std::int64_t{St.PenY} + o.P2)))) {
            Reason = "a relative move leaves the 32-bit range";
            return false;
        }
        return true;
    }

    void Open(TXY at)
    {
        if (Stroke)
            return;
        Stroke = true;
        StrokeBegin = static_cast<std::uint32_t>(Points.size());
        Points.push_back(at);
    }

    void Close()
    {
        if (!Stroke)
            return;
        Stroke = false;
        TItem item;
        item.Begin = StrokeBegin;
        item.End = static_cast<std::uint32_t>(Points.size());
        Add(item);
    }

    void Add(const TItem& item)
    {
        const std::int64_t key = Selected ? Pen : std::numeric_limits<std::int64_t>::min();
        auto [it, added] = GroupOf.try_emplace(key, static_cast<std::uint32_t>(Groups.size()));
        if (added) {
            Groups.emplace_back();
            Groups.back().Selected = Selected;
            Groups.back().Select = Selection;
            Groups.back().Select.Next = nullptr;
        }
        TGroup& g = Groups[it->second];
        FileOrder.emplace_back(it->second, static_cast<std::uint32_t>(g.Items.size()));
        g.Items.push_back(item);
    }

    std::int64_t Pen = 0;
    bool Selected = false;
    THpglObject Selection{hkSP};
    std::map<std::int64_t, std::uint32_t> GroupOf;
    bool Stroke = false;
    std::uint32_t StrokeBegin = 0;
};

TTourPiece PieceOf(const TItem& item, const TSplitter& split)
{
    TTourPiece p;
    const bool unit = item.Unit >= 0;
    const TXY s = unit ? split.Units[static_cast<std::size_t>(item.Unit)].Start : split.Points[item.Begin];
    const TXY e = unit ? split.Units[static_cast<std::size_t>(item.Unit)].End : split.Points[item.End - 1];
    p.Sx = s.X;
    p.Sy = s.Y;
    p.Ex = e.X;
    p.Ey = e.Y;
    p.Reversible = !unit;
    return p;
}

// Writes pieces as objects: a stroke as a pen-up move to its start and pen-down moves, joined
// to the stroke before when that one ended where it starts; a unit after a pen-up move to its
// start, the pen lowered again when it was drawn so.
class TEmitter {
public:
    std::vector<THpglObject>& Out;
    const std::vector<TXY>& Points;
    const std::vector<TUnit>& Units;
    TXY At{0, 0};
    bool Down = false;
    bool AfterStroke = false;

    void Emit(const TItem& item, bool reversed)
    {
        if (item.Unit >= 0) {
            const TUnit& u = Units[static_cast<std::size_t>(item.Unit)];
            Out.emplace_back(hkPU, u.Start.X, u.Start.Y);
            Down = u.Down;
            if (Down)
                Out.emplace_back(hkPD);
            Out.push_back(u.Object);
            At = u.End;
            AfterStroke = false;
            return;
        }
        const auto n = static_cast<std::int64_t>(item.End - item.Begin);
        auto point = [&](std::int64_t k) { return Points[item.Begin + (reversed ? n - 1 - k : k)]; };
        const TXY first = point(0);
        if (!(AfterStroke && Down && At == first)) {
            Out.emplace_back(hkPU, first.X, first.Y);
            if (n == 1)
                Out.emplace_back(hkPD);
        }
        for (std::int64_t k = 1; k < n; ++k) {
            const TXY p = point(k);
            Out.emplace_back(hkPD, p.X, p.Y);
        }
        Down = true;
        At = point(n - 1);
        AfterStroke = true;
    }
};

}  // namespace

TPlotOrder OptimisePlotOrder(const THpglSheet& sheet, const TPlotOrderOptions& options)
{
    TPlotOrder result;
    std::size_t objects = 0;
    const THpglObject* last = TSplitter::LastDrawing(sheet, objects);
    TSplitter split;
    if (last && !split.Split(sheet, last, objects)) {
        result.Reason = split.Reason;
        return result;
    }

    // Each pen's pieces in turn, the travel of each pen never longer than in the file's order.
    std::vector<std::vector<TTourStep>> orders(split.Groups.size());
    std::uint64_t total = 0;
    for (const TGroup& g : split.Groups)
        total += g.Items.size();
    std::uint64_t done = 0;
    TXY at{0, 0};
    for (std::size_t gi = 0; gi < split.Groups.size(); ++gi) {
        const TGroup& g = split.Groups[gi];
        std::vector<TTourPiece> pieces;
        pieces.reserve(g.Items.size());
        for (const TItem& item : g.Items)
            pieces.push_back(PieceOf(item, split));
        TTourOptions tour;
        tour.Improve = options.Improve;
        if (options.Progress) {
            const double base = static_cast<double>(done) / static_cast<double>(total);
            const double share = static_cast<double>(g.Items.size()) / static_cast<double>(total);
            tour.Progress = [&, base, share](double f) { return options.Progress(base + share * f); };
        }
        bool cancelled = false;
        std::vector<TTourStep> steps = OrderTour(pieces, at.X, at.Y, tour, &cancelled);
        if (cancelled) {
            result.Cancelled = true;
            result.Reason = "cancelled";
            return result;
        }
        std::vector<TTourStep> file(pieces.size());
        for (std::uint32_t i = 0; i < file.size(); ++i)
            file[i] = {i, false};
        if (TourTravel(pieces, steps, at.X, at.Y) > TourTravel(pieces, file, at.X, at.Y))
            steps = file;
        if (!steps.empty()) {
            const TTourPiece& p = pieces[steps.back().Piece];
            at = steps.back().Reversed ? TXY{p.Sx, p.Sy} : TXY{p.Ex, p.Ey};
        }
        orders[gi] = std::move(steps);
        done += g.Items.size();
    }

    auto travel = [&](TXY& at, const TItem& item, bool reversed) {
        const TTourPiece p = PieceOf(item, split);
        const double dx = static_cast<double>(reversed ? p.Ex : p.Sx) - at.X;
        const double dy = static_cast<double>(reversed ? p.Ey : p.Sy) - at.Y;
        at = reversed ? TXY{p.Sx, p.Sy} : TXY{p.Ex, p.Ey};
        return std::sqrt(dx * dx + dy * dy);
    };
    TXY pen{0, 0};
    for (const auto& [gi, ii] : split.FileOrder)
        result.TravelBefore += travel(pen, split.Groups[gi].Items[ii], false);

    std::size_t size = 2;  // the closing lifts
    for (const TGroup& g : split.Groups) {
        size += g.Selected ? 1 : 0;
        for (const TItem& item : g.Items)
            size += item.Unit >= 0 ? 3 : std::max<std::size_t>(item.End - item.Begin, 2);
    }
    for (const THpglObject* o = last ? last->Next : sheet.First; o; o = o->Next)
        ++size;
    base::ReserveHuge(result.Objects, size);
    TEmitter emit{result.Objects, split.Points, split.Units};
    pen = {0, 0};
    for (std::size_t gi = 0; gi < split.Groups.size(); ++gi) {
        const TGroup& g = split.Groups[gi];
        if (g.Selected)
            result.Objects.push_back(g.Select);
        emit.AfterStroke = false;
        for (const TTourStep& s : orders[gi]) {
            emit.Emit(g.Items[s.Piece], s.Reversed);
            result.TravelAfter += travel(pen, g.Items[s.Piece], s.Reversed);
        }
    }

    // What follows the last drawing moves the pen up, to where it went in the file, absolutely.
    bool down = emit.Down;
    auto lift = [&] {
        result.Objects.emplace_back(hkPU);
        down = false;
    };
    const THpglObject* o = last ? last->Next : sheet.First;
    if (o && down && !split.St.Down)
        lift();
    for (; o; o = o->Next) {
        split.St.Skip(*o);
        const bool move = o->Kind == hkPU || o->Kind == hkPA || o->Kind == hkPR;
        if (move && o->ParamCount >= 2)
            result.Objects.emplace_back(o->Kind == hkPU ? hkPU : hkPA, split.St.DeviceX, split.St.DeviceY);
        else if (o->Kind != hkPR) {
            result.Objects.push_back(*o);
            result.Objects.back().Next = nullptr;
        }
        if (o->Kind == hkPU)
            down = false;
    }
    // A drawing that ended with the pen up ends so again.
    if (down && !split.St.Down)
        lift();

    result.Pieces = total;
    result.Pens = static_cast<int>(split.Groups.size());
    result.Ok = true;
    return result;
}

void RefillSheet(THpglSheet& sheet, const std::vector<THpglObject>& objects)
{
    sheet.Clear();
    for (const THpglObject& o : objects) {
        switch (o.ParamCount) {
        case 0: sheet.Add(o.Kind); break;
        case 1: sheet.Add(o.Kind, o.P1); break;
        case 2: sheet.Add(o.Kind, o.P1, o.P2); break;
        default: sheet.Add(o.Kind, o.P1, o.P2, o.P3); break;
        }
    }
    sheet.CalcExtents();
}
