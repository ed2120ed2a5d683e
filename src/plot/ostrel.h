#pragma once
// The command stream of the Ostrel plotting device: a sheet and the speed settings turned into
// the exact texts the plot dialog writes, one WriteText call per text. No port is involved.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheet/hpglobject.h"
#include "sheet/hpglsheet.h"
#include "sheet/wrap.h"

// How a text relates to the dialog's throttling: the prologue and epilogue are written
// without waiting; before the first text of a unit the dialog waits for buffer room. Each
// arc point is a unit of its own; all texts of any other object form one unit.
enum class TThrottle { None, UnitStart, SameUnit };

struct TOstrelText {
    std::string Text;
    TThrottle Throttle;
    bool operator==(const TOstrelText&) const = default;
};

inline constexpr int kOstrelMinSpeed = 12;
inline constexpr int kOstrelMaxSpeed = 100;
inline constexpr int kOstrelDefaultSpeed = 20;

class TOstrelStream {
public:
    // The pen as the device will have it: where arcs start.
    std::int32_t PenX = 0;
    std::int32_t PenY = 0;
    bool Relative = false;
    // The device's own state, which differs from the tracker after an arc in relative mode:
    // the arc's points are PA commands, so the device is then absolute and later relative
    // moves start from the arc's last point as the device, not the tracker, counts them.
    std::int32_t DeviceX = 0;
    std::int32_t DeviceY = 0;
    bool DeviceRelative = false;
    bool Down = false;  // the last pen command was PD

    // Sink: any callable taking (std::string_view text, TThrottle throttle). The views are
    // valid only during the call.
    template <class Sink>
    void Prologue(int speed, bool accelerate, Sink&& sink);
    template <class Sink>
    void ObjectTexts(const THpglObject& object, Sink&& sink);
    template <class Sink>
    void Epilogue(Sink&& sink);

    // The same texts collected, for callers that want them all at once.
    std::vector<TOstrelText> Prologue(int speed, bool accelerate);
    std::vector<TOstrelText> ObjectTexts(const THpglObject& object);
    std::vector<TOstrelText> Epilogue();

    // The bytes the object adds to the stream, moving the pen as ObjectTexts does. An arc of
    // more than maxPoints points is sized from `samples` evenly spread points (at least its
    // first and last; exact becomes false), so a sweep of billions of points costs no more
    // than a small one.
    std::uint64_t ObjectSize(const THpglObject& object, std::uint64_t maxPoints, std::uint64_t samples, bool& exact);
    // Follows an object as ObjectTexts does, sending nothing; an arc of any sweep costs the
    // same as one of its points.
    void Skip(const THpglObject& object);
    // After the prologue of a run that starts in the middle of a sheet: brings the device to
    // the state it has here (pen up, an absolute move to its pen, PR again, PD again unless
    // `lower` is false).
    template <class Sink>
    void Restore(Sink&& sink, bool lower = true);

private:
    // Mode and pen position as a pen command changes them; true for the four pen commands.
    bool Follow(const THpglObject& o);
    template <class Sink>
    void Arc(const THpglObject& o, Sink& sink);
};

// The number of points an arc of this sweep sends.
inline std::uint64_t ArcPointCount(std::int32_t sweep)
{
    if (sweep > 0)
        return (static_cast<std::uint64_t>(sweep) + 2) / 3;
    return static_cast<std::uint64_t>(-static_cast<std::int64_t>(sweep));
}

struct TStreamSize {
    std::uint64_t Bytes = 0;
    bool Exact = true;  // false: huge arcs were sized from samples
};

// The size of the stream of a run from object `first` (OstrelResumeStream) without generating
// more than about maxPoints arc points.
TStreamSize OstrelStreamSize(const THpglSheet& sheet, int speed, bool accelerate, std::int32_t first = 0,
                             std::uint64_t maxPoints = 1u << 18);

// An arc as the device stream walks it: from the pen position about a centre, points at
// 3-degree steps forward (positive sweep) or 1-degree steps backward, the end itself never sent.
struct TOstrelArc {
    std::int32_t Cx, Cy;
    long double R;
    float A;
    std::int64_t Step, Sweep;

    TOstrelArc(std::int32_t penX, std::int32_t penY, const THpglObject& o)
        : TOstrelArc(penX, penY, o, ArcRadius(penX, penY, o.P1, o.P2))
    {}
    // How many points the arc sends.
    std::int64_t Points() const { return static_cast<std::int64_t>(ArcPointCount(static_cast<std::int32_t>(Sweep))); }
    // The point at offset i degrees from the start (i a multiple of Step).
    void Point(std::int64_t i, std::int32_t& x, std::int32_t& y) const
    {
        const long double theta = A - static_cast<long double>(i) * kArcPi / 180;
        const double t = static_cast<double>(theta);
        x = range::Clamp32(static_cast<std::int64_t>(Cx - R * std::cos(t)));
        y = range::Clamp32(static_cast<std::int64_t>(Cy + R * std::sin(t)));
    }
    // The offset of the n-th point (0-based).
    std::int64_t Offset(std::int64_t n) const { return n * Step; }

private:
    TOstrelArc(std::int32_t penX, std::int32_t penY, const THpglObject& o, std::int64_t r)
        : Cx(o.P1), Cy(o.P2), R(static_cast<long double>(r)), A(ArcStartAngle(penX, penY, o.P1, o.P2, r)),
          Step(o.P3 > 0 ? 3 : -1), Sweep(o.P3)
    {}
};

namespace ostrel_detail {

// Appends a decimal number; returns the new end.
inline char* Number(char* at, std::int32_t v)
{
    return std::to_chars(at, at + 12, v).ptr;
}

}  // namespace ostrel_detail

template <class Sink>
void TOstrelStream::Prologue(int speed, bool accelerate, Sink&& sink)
{
    sink(std::string_view(" SD"), TThrottle::None);
    // The sign of the speed carries the acceleration choice: negative is constant speed.
    if (!accelerate)
        sink(std::string_view("-"), TThrottle::None);
    char buf[16];
    char* end = ostrel_detail::Number(buf, speed);
    sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::None);
    sink(std::string_view(" BP IN "), TThrottle::None);
}

template <class Sink>
void TOstrelStream::Epilogue(Sink&& sink)
{
    sink(std::string_view(" BP "), TThrottle::None);
}

inline bool TOstrelStream::Follow(const THpglObject& o)
{
    if (o.Kind == hkPA)
        Relative = DeviceRelative = false;
    else if (o.Kind == hkPR)
        Relative = DeviceRelative = true;
    else if (o.Kind == hkPU || o.Kind == hkPD)
        Down = o.Kind == hkPD;
    const bool move = o.Kind >= hkPU && o.Kind <= hkPR;
    if (move && o.ParamCount >= 2) {
        if (Relative) {
            PenX = wrap::Add(PenX, o.P1);
            PenY = wrap::Add(PenY, o.P2);
        } else {
            PenX = o.P1;
            PenY = o.P2;
        }
        if (DeviceRelative) {
            DeviceX = wrap::Add(DeviceX, o.P1);
            DeviceY = wrap::Add(DeviceY, o.P2);
        } else {
            DeviceX = o.P1;
            DeviceY = o.P2;
        }
    }
    return move;
}

inline void TOstrelStream::Skip(const THpglObject& o)
{
    if (Follow(o) || o.Kind != hkAA || o.P3 == 0)
        return;
    const TOstrelArc arc(PenX, PenY, o);
    arc.Point(arc.Offset(arc.Points() - 1), PenX, PenY);
    DeviceX = PenX;
    DeviceY = PenY;
    DeviceRelative = false;
}

template <class Sink>
void TOstrelStream::Restore(Sink&& sink, bool lower)
{
    char buf[32];
    sink(std::string_view("PU"), TThrottle::UnitStart);
    sink(std::string_view("PA"), TThrottle::UnitStart);
    char* end = ostrel_detail::Number(buf, DeviceX);
    *end++ = ' ';
    end = ostrel_detail::Number(end, DeviceY);
    sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::SameUnit);
    if (DeviceRelative)
        sink(std::string_view("PR"), TThrottle::UnitStart);
    if (Down && lower)
        sink(std::string_view("PD"), TThrottle::UnitStart);
}

template <class Sink>
void TOstrelStream::ObjectTexts(const THpglObject& o, Sink&& sink)
{
    Follow(o);

    char buf[32];
    switch (o.Kind) {
    case hkPU:
    case hkPD:
    case hkPA:
    case hkPR: {
        sink(std::string_view(HpglMnemonic(o.Kind), 2), TThrottle::UnitStart);
        if (o.ParamCount > 0) {
            char* end = ostrel_detail::Number(buf, o.P1);
            *end++ = ' ';
            end = ostrel_detail::Number(end, o.P2);
            sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::SameUnit);
        }
        break;
    }
    case hkCI: {
        buf[0] = 'C';
        buf[1] = 'I';
        char* end = ostrel_detail::Number(buf + 2, o.P1);
        sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::UnitStart);
        break;
    }
    case hkER: {
        buf[0] = 'E';
        buf[1] = 'R';
        char* end = ostrel_detail::Number(buf + 2, o.P1);
        *end++ = ' ';
        end = ostrel_detail::Number(end, o.P2);
        sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::UnitStart);
        break;
    }
    case hkAA: Arc(o, sink); break;
    default:  // SP and unknown kinds: pen selection is not sent
        break;
    }
}

template <class Sink>
void TOstrelStream::Arc(const THpglObject& o, Sink& sink)
{
    if (o.P3 == 0)
        return;
    const TOstrelArc arc(PenX, PenY, o);
    char buf[32];
    buf[0] = 'P';
    buf[1] = 'A';
    // Offsets strictly inside the sweep.
    for (std::int64_t i = 0; arc.Sweep > 0 ? i < arc.Sweep : i > arc.Sweep; i += arc.Step) {
        std::int32_t x, y;
        arc.Point(i, x, y);
        char* end = ostrel_detail::Number(buf + 2, x);
        *end++ = ' ';
        end = ostrel_detail::Number(end, y);
        DeviceX = PenX = x;
        DeviceY = PenY = y;
        DeviceRelative = false;
        sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::UnitStart);
    }
}

// Where a plot with pauses for pen changes waits for the user: the device cannot change pens.
// Before the first object that draws with another pen than the one in the plotter (pens above
// 0; pen 0 puts the pen away). The first pen of a run goes in before it starts; a resumed run
// asks for it first of all.
class TPenChanges {
public:
    static bool Draws(const THpglObject& o, bool down)
    {
        return o.Kind == hkPD || o.Kind == hkCI || o.Kind == hkER || (down && NeedsPenDown(o));
    }
    // The device comes back from a pause with its pen up: before the first object that draws
    // with the pen as it is (a move with PA or PR, an arc's points), the pen goes down again
    // if it was down. Lowered at once, it would mark the paper with the new pen.
    static bool NeedsPenDown(const THpglObject& o)
    {
        return ((o.Kind == hkPA || o.Kind == hkPR) && o.ParamCount >= 2) || (o.Kind == hkAA && o.P3 != 0);
    }
    // A run resumed at `first` after `pen` was selected (0: none), the pen down or not: the pen
    // it first draws with, to ask for before anything is sent; 0 when it draws nothing.
    std::int32_t Resume(const THpglObject* first, std::int32_t pen, bool down)
    {
        for (; first; first = first->Next) {
            if (first->Kind == hkSP && first->ParamCount > 0 && first->P1 > 0)
                pen = first->P1;
            if (Draws(*first, down))
                return InPlotter = Wanted = pen > 0 ? pen : 1;
            if (first->Kind == hkPU || first->Kind == hkPD)
                down = first->Kind == hkPD;
        }
        return 0;
    }
    // Before the object is sent, with the pen down or not: the pen to ask for, or 0.
    std::int32_t Before(const THpglObject& o, bool down)
    {
        if (o.Kind == hkSP) {
            if (o.ParamCount > 0 && o.P1 > 0)
                Wanted = o.P1;
            return 0;
        }
        if (!Draws(o, down))
            return 0;
        const std::int32_t want = Wanted > 0 ? Wanted : 1;
        const std::int32_t ask = InPlotter != 0 && want != InPlotter ? want : 0;
        InPlotter = want;
        return ask;
    }

private:
    std::int32_t InPlotter = 0;  // 0: the run has not drawn yet
    std::int32_t Wanted = 0;
};

// What parks the pen at the frame's origin for a pen change; the device's state is brought
// back with TOstrelStream::Restore afterwards.
template <class Sink>
void OstrelPark(Sink&& sink)
{
    sink(std::string_view("PU"), TThrottle::UnitStart);
    sink(std::string_view("PA"), TThrottle::UnitStart);
    sink(std::string_view("0 0"), TThrottle::SameUnit);
}

// The whole stream of a sheet, as a plot that is never stopped sends it.
template <class Sink>
void OstrelSheetStream(const THpglSheet& sheet, int speed, bool accelerate, Sink&& sink)
{
    TOstrelStream stream;
    stream.Prologue(speed, accelerate, sink);
    for (const THpglObject& o : sheet)
        stream.ObjectTexts(o, sink);
    stream.Epilogue(sink);
}

// What a run from object `first` (0-based) sends before that object: the prologue, then the
// device brought to the state the whole run would have left it in. Returns that object.
template <class Sink>
const THpglObject* OstrelLeadIn(TOstrelStream& stream, const THpglSheet& sheet, std::int32_t first, int speed,
                                bool accelerate, Sink&& sink)
{
    stream.Prologue(speed, accelerate, sink);
    const THpglObject* o = sheet.First;
    for (std::int32_t i = 0; o && i < first; ++i, o = o->Next)
        stream.Skip(*o);
    if (first > 0)
        stream.Restore(sink);
    return o;
}

// The stream of a run that starts at object `first` (0-based) of the sheet: the prologue, the
// device brought to the state the whole run would have left it in before that object, the
// objects from there on and the epilogue. From object 0 it is the plain stream.
template <class Sink>
void OstrelResumeStream(const THpglSheet& sheet, std::int32_t first, int speed, bool accelerate, Sink&& sink)
{
    TOstrelStream stream;
    const THpglObject* o = OstrelLeadIn(stream, sheet, first, speed, accelerate, sink);
    for (; o; o = o->Next)
        stream.ObjectTexts(*o, sink);
    stream.Epilogue(sink);
}
