#include "plot/estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Arcs with more points than this are timed from a sample: a sweep of 2^31 degrees would take
// minutes to walk, and every turn of a circle takes the same time as the one before.
constexpr std::int64_t kWalkedArcPoints = 4096;
constexpr std::int64_t kArcSample = 1080;  // three turns backward, nine forward

constexpr double kPi = 3.14159265358979323846;

int Digits(std::int32_t v)
{
    char buf[12];
    return static_cast<int>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf);
}

double Distance(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    return std::hypot(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
}

// Feeds the clock with the texts of a run and the pen's moves between them.
struct TWalker {
    TOstrelClock& Clock;
    const TOstrelStream& Stream;
    std::int32_t X = 0, Y = 0;
    bool Lifted = false;  // the restoring move runs with the pen up whatever follows

    void operator()(std::string_view text, TThrottle throttle)
    {
        if (throttle == TThrottle::UnitStart)
            Clock.Boundary();
        Clock.Bytes(text.size());
        if (Stream.DeviceX != X || Stream.DeviceY != Y) {
            Clock.Move(Distance(X, Y, Stream.DeviceX, Stream.DeviceY), Stream.Down && !Lifted);
            X = Stream.DeviceX;
            Y = Stream.DeviceY;
        }
    }
};

}  // namespace

double OstrelMoveSeconds(double length, std::int32_t speed)
{
    const double s = std::max(1.0, std::abs(static_cast<double>(speed)));
    const double unitsPerSecond = 625.0 / s * 8;
    if (speed <= 0)
        return length / unitsPerSecond;
    const double ramp = s;
    if (length <= 2 * ramp)
        return length / (1.5 * unitsPerSecond);
    return 2 * ramp / (1.5 * unitsPerSecond) + (length - 2 * ramp) / (2 * unitsPerSecond);
}

double LineFrameBits(int dataBits, bool parity, double stopBits)
{
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

TOstrelClock::TOstrelClock(double lineBytesPerSecond, std::uint64_t buffer)
    : LineRate(lineBytesPerSecond), Buffer(std::max<std::uint64_t>(buffer, 1))
{}

double TOstrelClock::LineTime(std::uint64_t bytes) const
{
    return LineRate > 0 ? static_cast<double>(bytes) / LineRate : 0.0;
}

void TOstrelClock::Move(double length, bool down)
{
    const double t = OstrelMoveSeconds(length, Speed);
    DrawSeconds += t;
    CommandDraw += t;
    (down ? PenDownLength : PenUpLength) += length;
}

void TOstrelClock::Circle(double radius)
{
    // Drawn as one stroke, one acceleration for the whole round.
    Move(2 * kPi * std::abs(radius), true);
}

void TOstrelClock::Rectangle(double width, double height)
{
    for (int side = 0; side < 4; ++side)
        Move(std::abs(side % 2 ? height : width), true);
}

void TOstrelClock::Bytes(std::uint64_t count)
{
    ByteCount += count;
    CommandBytes += count;
}

void TOstrelClock::Schedule(double& delivered, double& start) const
{
    // The command's last byte fits in the buffer once the byte `Buffer` before it has been
    // taken, that is, once the pen has started the command holding it.
    double room = 0;
    if (ByteCount > Buffer) {
        const std::uint64_t needed = ByteCount - Buffer;
        for (const TStarted& c : Started)
            if (c.EndByte > needed) {
                room = c.Start;
                break;
            }
    }
    delivered = std::max(LineFree, room) + LineTime(CommandBytes);
    start = std::max(PenFree, delivered);
}

void TOstrelClock::Boundary()
{
    if (CommandBytes == 0 && CommandDraw == 0)
        return;
    double delivered, start;
    Schedule(delivered, start);
    LineFree = delivered;
    PenFree = start + CommandDraw;
    Started.push_back({ByteCount, start});
    // Commands wholly more than a buffer behind the newest can no longer hold the line.
    while (Started.size() > 1 && Started.front().EndByte + Buffer <= ByteCount)
        Started.pop_front();
    CommandBytes = 0;
    CommandDraw = 0;
}

void TOstrelClock::Repeat(double count, double length, double bytes, bool down)
{
    Boundary();
    const double draw = count * OstrelMoveSeconds(length, Speed);
    const auto total = static_cast<std::uint64_t>(count * bytes + 0.5);
    // A long uniform run: the line and the pen work side by side throughout.
    const double start = std::max(LineFree, PenFree);
    LineFree = start + LineTime(total);
    PenFree = start + std::max(draw, LineTime(total));
    DrawSeconds += draw;
    (down ? PenDownLength : PenUpLength) += count * length;
    ByteCount += total;
    Started.clear();
    Started.push_back({ByteCount, PenFree});
}

double TOstrelClock::Seconds() const
{
    double delivered, start;
    Schedule(delivered, start);
    return std::max(start + CommandDraw, LineFree);
}

double TOstrelClock::LineSeconds() const
{
    return LineTime(ByteCount);
}

TPlotEstimate EstimatePlot(const THpglSheet& sheet, const TPlotSettings& settings, std::int32_t first,
                           std::vector<float>* objectEnds)
{
    if (objectEnds) {
        objectEnds->clear();
        objectEnds->reserve(static_cast<std::size_t>(std::max(sheet.Count() - first, 0)));
    }
    auto ended = [&](const TOstrelClock& clock) {
        if (objectEnds)
            objectEnds->push_back(static_cast<float>(clock.Seconds()));
    };
    const double lineRate =
        settings.Baud > 0 && settings.FrameBits > 0 ? static_cast<double>(settings.Baud) / settings.FrameBits : 0.0;
    TOstrelClock clock(lineRate);
    clock.Speed = settings.Accelerate ? settings.Speed : -settings.Speed;
    TOstrelStream stream;
    TWalker walk{clock, stream};

    stream.Prologue(settings.Speed, settings.Accelerate, walk);
    const THpglObject* o = sheet.First;
    std::int32_t pen = 0;
    for (std::int32_t i = 0; o && i < first; ++i, o = o->Next) {
        if (o->Kind == hkSP)
            pen = o->ParamCount ? o->P1 : 0;
        stream.Skip(*o);
    }
    // A pause parks the pen at the origin and brings it back with the pen up, lowered again
    // before the first object that draws with the pen as it is.
    std::uint64_t pauses = 0;
    bool owedDown = false;
    auto restore = [&](bool park) {
        owedDown = park && stream.Down;
        walk.Lifted = true;
        if (park) {
            ++pauses;
            OstrelPark([&](std::string_view t, TThrottle throttle) {
                if (throttle == TThrottle::UnitStart)
                    clock.Boundary();
                clock.Bytes(t.size());
            });
            clock.Move(Distance(walk.X, walk.Y, 0, 0), false);
            walk.X = walk.Y = 0;
        }
        stream.Restore(walk, !park);
        walk.Lifted = false;
    };
    TPenChanges changes;
    if (first > 0)
        restore(settings.PenPauses && o && changes.Resume(o, pen, stream.Down) > 0);
    std::uint64_t lifts = 0;
    for (; o; o = o->Next) {
        if (changes.Before(*o, stream.Down) > 0 && settings.PenPauses)
            restore(true);
        if (owedDown && (o->Kind == hkPU || o->Kind == hkPD || TPenChanges::NeedsPenDown(*o))) {
            if (o->Kind != hkPU && o->Kind != hkPD) {
                clock.Boundary();
                clock.Bytes(2);
            }
            owedDown = false;
        }
        if (o->Kind == hkPU && stream.Down)
            ++lifts;
        if (o->Kind == hkAA && o->P3 != 0) {
            const TOstrelArc arc(stream.PenX, stream.PenY, *o);
            const std::int64_t points = arc.Points();
            if (points > kWalkedArcPoints) {
                double length = 0, bytes = 0;
                std::int32_t px = stream.DeviceX, py = stream.DeviceY;
                for (std::int64_t n = 0; n < kArcSample; ++n) {
                    std::int32_t x, y;
                    arc.Point(arc.Offset(n), x, y);
                    length += Distance(px, py, x, y);
                    bytes += 3 + Digits(x) + Digits(y);  // "PA", the blank, the numbers
                    px = x;
                    py = y;
                }
                clock.Repeat(static_cast<double>(points), length / kArcSample, bytes / kArcSample, stream.Down);
                stream.Skip(*o);
                walk.X = stream.DeviceX;
                walk.Y = stream.DeviceY;
                ended(clock);
                continue;
            }
        }
        stream.ObjectTexts(*o, walk);
        if (o->Kind == hkCI)
            clock.Circle(o->P1);
        else if (o->Kind == hkER)
            clock.Rectangle(o->P1, o->P2);
        ended(clock);
    }
    stream.Epilogue(walk);

    TPlotEstimate e;
    e.Seconds = clock.Seconds();
    e.DrawSeconds = clock.DrawSeconds;
    e.LineSeconds = clock.LineSeconds();
    e.Bytes = clock.ByteCount;
    e.PenDownLength = clock.PenDownLength;
    e.PenUpLength = clock.PenUpLength;
    e.PenLifts = lifts;
    e.PenPauses = pauses;
    e.Baud = lineRate > 0 ? settings.Baud : 0;
    return e;
}

std::string DurationText(double seconds)
{
    char buf[48];
    if (!(seconds < 59.5)) {
        const double minutes = std::round(seconds / 60);
        if (minutes < 60) {
            std::snprintf(buf, sizeof buf, "%.0f min", minutes);
        } else {
            const double hours = std::floor(minutes / 60);
            const double rest = minutes - hours * 60;
            if (rest > 0)
                std::snprintf(buf, sizeof buf, "%.0f h %.0f min", hours, rest);
            else
                std::snprintf(buf, sizeof buf, "%.0f h", hours);
        }
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.0f s", std::max(0.0, std::round(seconds)));
    return buf;
}

double SecondsLeft(const TPlotEstimate& estimate, const std::vector<float>& objectEnds, std::int32_t done)
{
    if (done < 0 || static_cast<std::size_t>(done) > objectEnds.size())
        return -1;
    return std::max(0.0, estimate.Seconds - (done > 0 ? objectEnds[static_cast<std::size_t>(done) - 1] : 0.0));
}

std::string ClockText(double seconds)
{
    if (!(seconds >= 0))
        return "-";
    // Beyond a few thousand years a clock means nothing; it still must not overflow.
    const double whole = std::min(std::round(seconds), 9.0e15);
    const auto t = static_cast<long long>(whole);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", t / 3600, t / 60 % 60, t % 60);
    return buf;
}

std::string EstimateText(const TPlotEstimate& e)
{
    std::string s = e.Seconds < 0.5 ? "under a second" : "about " + DurationText(e.Seconds);
    s += ": drawing " + DurationText(e.DrawSeconds);
    if (e.Baud > 0)
        s += ", line " + DurationText(e.LineSeconds) + " at " + std::to_string(e.Baud);
    if (e.PenPauses > 0)
        s += ", " + std::to_string(e.PenPauses) + (e.PenPauses == 1 ? " pause for a pen" : " pauses for pens");
    return s;
}
