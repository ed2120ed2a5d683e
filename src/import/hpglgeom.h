#pragma once
// Plane geometry for the HP-GL/2 translator, in plotter units as doubles: clipping lines to
// a window, hatching polygons as a pen plotter fills them, and dashing lines by a line type.

#include <cstdint>
#include <functional>
#include <vector>

namespace hpgl2 {

struct TPt {
    double X = 0;
    double Y = 0;
};

// Cuts the segment a-b to the rectangle (edges included). False when nothing is left.
bool ClipSegment(TPt& a, TPt& b, double xMin, double yMin, double xMax, double yMax);

enum class TFillRule : std::uint8_t { EvenOdd, NonZero };

// Fills the closed rings (each implicitly closed; any orientation) with parallel strokes at
// angle degrees (counterclockwise from +x), spacing apart, on lines through anchor + k
// spacing across them. Strokes come line by line, alternating direction so the pen travels
// little. Returns the number of strokes emitted, or -1 when more than limit would be needed,
// in which case nothing at all has been emitted. Costs O((edges + lines) log edges) time.
std::int64_t HatchRings(const std::vector<std::vector<TPt>>& rings, TFillRule rule, double angle, double spacing,
                        TPt anchor, std::int64_t limit, const std::function<void(TPt, TPt)>& emit);

// A line type: alternating pen-down and pen-up lengths in plotter units, pen down first.
// A fixed pattern runs on across the vertices of a line and from one line to the next until
// Reset; an adaptive one is stretched or shrunk so that every segment holds whole patterns
// (at least one), each segment starting the pattern anew.
class TDasher {
public:
    TDasher(std::vector<double> lengths, bool adaptive);
    // Pen-down pieces of the segment a-b, in order from a.
    void Segment(TPt a, TPt b, const std::function<void(TPt, TPt)>& down);
    // The pattern starts anew (a pen-up move, a new line type).
    void Reset();

private:
    std::vector<double> Lengths;
    double Period = 0;
    bool Adaptive = false;
    double Phase = 0;  // how far into the period the next segment starts
};

}  // namespace hpgl2
