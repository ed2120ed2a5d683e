#pragma once
// The paper: the fixed frame that the view, the preview, printing and fitting relate to.

#include <cstdint>

class THpglSheet;

inline constexpr std::int32_t kFrameWidth = 1520;   // plotter units of 1/8 mm: 190 mm
inline constexpr std::int32_t kFrameHeight = 2160;  // 270 mm

// The frame mapped onto a whole surface of W x H pixels (y turned upward, a one-pixel border),
// with 64-bit products so that points far off the frame land far off the surface instead of
// wrapping. Arguments stay within the 32-bit range (callers clamp circle boxes), which keeps
// every product below 2^63 for any 32-bit surface size.
struct TFrameMap {
    std::int64_t W, H;
    std::int32_t X(std::int64_t x) const { return Clamp((W - 2) - ((W - 3) * (kFrameWidth - x)) / kFrameWidth); }
    std::int32_t Y(std::int64_t y) const { return Clamp(((H - 3) * (kFrameHeight - y)) / kFrameHeight + 1); }

private:
    static std::int32_t Clamp(std::int64_t v)
    {
        return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v);
    }
};

// Zoom to fit: moves the extents' lower-left corner to the origin, then scales the drawing to
// the frame's height (tall drawings) or width (all others). A drawing without width and
// height stays unscaled. Returns false, with the sheet as it was, when a coordinate would
// leave the 32-bit range.
[[nodiscard]] bool FitToFrame(THpglSheet& sheet);
