#pragma once
// How long a plot takes: the pen's travel at the device's speed setting, the line's bytes at
// its rate, and the two together, the slower of them limiting each stretch of the plot. The
// simulator times what it draws with the same clock, so the program and the simulated device
// share one model.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "plot/ostrel.h"
#include "sheet/hpglsheet.h"

// The device's input buffer: while it draws, the line fills this much ahead of the pen.
inline constexpr std::uint64_t kOstrelInputBuffer = 256;

// Seconds for one straight move of `length` plotter units at the speed value SD carries: the
// pen runs at 625 / |S| mm/s (8 units a mm); with acceleration (S positive) it speeds up to
// twice that over S units and slows down again over as many before it stops.
double OstrelMoveSeconds(double length, std::int32_t speed);

// Bits a character takes on the line: start bit, data bits, parity bit, stop bits.
double LineFrameBits(int dataBits, bool parity, double stopBits);

// Times a plot command by command as the device carries it out: the line delivers each
// command's bytes while the buffer has room for them, the pen starts a command once its bytes
// are in and the commands before it are drawn. Each stretch of the plot thus takes as long
// as the slower of the two.
class TOstrelClock {
public:
    // lineBytesPerSecond 0: the line sets no limit. `buffer`: how far the line can run
    // ahead of the pen.
    explicit TOstrelClock(double lineBytesPerSecond = 0, std::uint64_t buffer = kOstrelInputBuffer);

    std::int32_t Speed = kOstrelDefaultSpeed;  // as SD sent it: negative is constant speed

    // The start of a command: what came since the last one is complete.
    void Boundary();
    void Move(double length, bool down);
    // CI and ER: the device draws them with the pen down from where it stands.
    void Circle(double radius);
    void Rectangle(double width, double height);
    void Bytes(std::uint64_t count);
    // `count` moves alike of `length` each carried by `bytes` each, added without walking
    // them (the points of an arc of millions of degrees).
    void Repeat(double count, double length, double bytes, bool down);

    double Seconds() const;      // the plot, line and pen together
    double LineSeconds() const;  // the line alone
    double DrawSeconds = 0;      // the pen alone
    double PenDownLength = 0;
    double PenUpLength = 0;
    std::uint64_t ByteCount = 0;

private:
    struct TStarted {
        std::uint64_t EndByte;  // one past the command's last byte
        double Start;           // when the pen took it
    };
    double LineTime(std::uint64_t bytes) const;
    // When the line has delivered the command in hand and when the pen starts it.
    void Schedule(double& delivered, double& start) const;

    double LineRate;
    std::uint64_t Buffer;
    double LineFree = 0;
    double PenFree = 0;
    std::uint64_t CommandBytes = 0;
    double CommandDraw = 0;
    std::deque<TStarted> Started;  // commands whose bytes may still hold the buffer
};

struct TPlotSettings {
    int Speed = kOstrelDefaultSpeed;
    bool Accelerate = true;
    std::int64_t Baud = 9600;  // 0: the line sets no limit
    double FrameBits = 10;     // 8 data bits, no parity, one stop bit
    bool PenPauses = false;    // the run parks the pen and waits at each change of pen

    bool operator==(const TPlotSettings&) const = default;
};

struct TPlotEstimate {
    double Seconds = 0;
    double DrawSeconds = 0;
    double LineSeconds = 0;
    std::uint64_t Bytes = 0;
    double PenDownLength = 0;  // plotter units
    double PenUpLength = 0;
    std::uint64_t PenLifts = 0;   // times the pen goes up after drawing
    std::uint64_t PenPauses = 0;  // waits for the user to change pens, not counted in the times
    std::int64_t Baud = 0;
};

// The run of the sheet from object `first` (0-based) on, as OstrelResumeStream sends it.
// Arcs of more than a few thousand points are timed from a sample of their points.
// `objectEnds`, when given, receives for each object from `first` on the seconds into the run
// at which the device has carried it out: what a running plot has left is the estimate less
// the end of the last object done.
TPlotEstimate EstimatePlot(const THpglSheet& sheet, const TPlotSettings& settings, std::int32_t first = 0,
                           std::vector<float>* objectEnds = nullptr);

// Seconds left of a run timed by EstimatePlot (from the sheet's first object) once `done`
// objects of the sheet are carried out; negative when the times are for another sheet.
double SecondsLeft(const TPlotEstimate& estimate, const std::vector<float>& objectEnds, std::int32_t done);

// "about 14 min: drawing 12 min, line 9 min at 9600", then ", 2 pauses for pens" if any
std::string EstimateText(const TPlotEstimate& estimate);
// "40 s", "14 min", "2 h 5 min"
std::string DurationText(double seconds);
// A running clock's "h:mm:ss", hours as many as it takes ("0:01:39", "1038:00:00"); "-" when
// negative (unknown).
std::string ClockText(double seconds);
