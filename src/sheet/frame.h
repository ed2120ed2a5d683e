#pragma once
// The paper: the fixed frame that the view, the preview, printing and fitting relate to.

#include <cstdint>

class THpglSheet;

inline constexpr std::int32_t kFrameWidth = 1520;   // plotter units of 1/8 mm: 190 mm
inline constexpr std::int32_t kFrameHeight = 2160;  // 270 mm

// Zoom to fit: moves the extents' lower-left corner to the origin, then scales the drawing to
// the frame's height (tall drawings) or width (all others). A drawing without width and
// height stays unscaled. Returns false, with the sheet as it was, when a coordinate would
// leave the 32-bit range.
[[nodiscard]] bool FitToFrame(THpglSheet& sheet);
