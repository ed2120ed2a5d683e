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

private:
    template <class Sink>
    void Arc(const THpglObject& o, Sink& sink);

    struct TArcGeometry {
        std::int32_t Cx, Cy;
        long double R;
        float A;
    };
    TArcGeometry ArcGeometry(const THpglObject& o) const;
    // The i-th offset of an arc's point series: 3-degree steps forward, 1-degree steps back.
    static void ArcPoint(const TArcGeometry& g, std::int64_t i, std::int32_t& x, std::int32_t& y);
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

// The size of the whole stream without generating more than about maxPoints arc points.
TStreamSize OstrelStreamSize(const THpglSheet& sheet, int speed, bool accelerate, std::uint64_t maxPoints = 1u << 18);

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

template <class Sink>
void TOstrelStream::ObjectTexts(const THpglObject& o, Sink&& sink)
{
    if (o.Kind == hkPA)
        Relative = false;
    else if (o.Kind == hkPR)
        Relative = true;
    const bool move = o.Kind >= hkPU && o.Kind <= hkPR;
    if (move && o.ParamCount >= 2) {
        if (Relative) {
            PenX = wrap::Add(PenX, o.P1);
            PenY = wrap::Add(PenY, o.P2);
        } else {
            PenX = o.P1;
            PenY = o.P2;
        }
    }

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
    case hkAA:
        Arc(o, sink);
        break;
    default:  // SP and unknown kinds: pen selection is not sent
        break;
    }
}

inline TOstrelStream::TArcGeometry TOstrelStream::ArcGeometry(const THpglObject& o) const
{
    const std::int64_t r = ArcRadius(PenX, PenY, o.P1, o.P2);
    return {o.P1, o.P2, static_cast<long double>(r), ArcStartAngle(PenX, PenY, o.P1, o.P2, r)};
}

inline void TOstrelStream::ArcPoint(const TArcGeometry& g, std::int64_t i, std::int32_t& x, std::int32_t& y)
{
    const long double theta = g.A - static_cast<long double>(i) * kArcPi / 180;
    const double t = static_cast<double>(theta);
    x = range::Clamp32(static_cast<std::int64_t>(g.Cx - g.R * std::cos(t)));
    y = range::Clamp32(static_cast<std::int64_t>(g.Cy + g.R * std::sin(t)));
}

template <class Sink>
void TOstrelStream::Arc(const THpglObject& o, Sink& sink)
{
    const std::int32_t sweep = o.P3;
    if (sweep == 0)
        return;
    const TArcGeometry g = ArcGeometry(o);
    // Offsets strictly inside the sweep: 3-degree steps forward, 1-degree steps backward.
    const std::int64_t step = sweep > 0 ? 3 : -1;
    char buf[32];
    buf[0] = 'P';
    buf[1] = 'A';
    for (std::int64_t i = 0; sweep > 0 ? i < sweep : i > sweep; i += step) {
        std::int32_t x, y;
        ArcPoint(g, i, x, y);
        char* end = ostrel_detail::Number(buf + 2, x);
        *end++ = ' ';
        end = ostrel_detail::Number(end, y);
        PenX = x;
        PenY = y;
        sink(std::string_view(buf, static_cast<std::size_t>(end - buf)), TThrottle::UnitStart);
    }
}

// The whole stream of a sheet, as a plot that is never stopped sends it.
template <class Sink>
void OstrelSheetStream(const THpglSheet& sheet, int speed, bool accelerate, Sink&& sink)
{
    TOstrelStream stream;
    stream.Prologue(speed, accelerate, sink);
    for (const THpglObject* o = sheet.First; o; o = o->Next)
        stream.ObjectTexts(*o, sink);
    stream.Epilogue(sink);
}
