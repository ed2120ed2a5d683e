#pragma once
// What will go wrong before a plot starts: found from the sheet as the device will get it,
// shown beside the Plot button and on the command line's first lines, never blocking.

#include <cstdint>
#include <string>
#include <vector>

#include "sheet/hpglsheet.h"

enum class TPreflightKind { BeyondFrame, EmptySheet, PenChanges, LongArcs };

struct TPreflightWarning {
    TPreflightKind Kind;
    std::string Text;
};

// How far the pen travels beyond the paper on each side, in plotter units (0: not beyond).
struct TFrameOverrun {
    std::int64_t Left = 0, Right = 0, Bottom = 0, Top = 0;
    bool Any() const { return Left > 0 || Right > 0 || Bottom > 0 || Top > 0; }
};

// Where the device's pen goes: every point the stream moves it to (arc points as sent, the
// square about a full circle), the corners of rectangles, the squares about circles.
TFrameOverrun FrameOverrun(const THpglSheet& sheet);

std::vector<TPreflightWarning> Preflight(const THpglSheet& sheet);
