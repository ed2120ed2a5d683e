#pragma once
// The drawing surface that rendering needs, with the conventions of the Win32 GDI that the
// drawing code was written against: x to the right and y downward from the top-left corner,
// LineTo leaves out its end pixel, Rectangle and Ellipse leave out their right and bottom
// edges, Arc runs counterclockwise (as seen on the surface) from the ray through its start
// point to the ray through its end point and is a whole ellipse when the two rays coincide.

#include <cstdint>

using TColor = std::uint32_t;  // 0xRRGGBB

inline constexpr TColor RGBColor(int r, int g, int b)
{
    return static_cast<TColor>((r & 0xff) << 16 | (g & 0xff) << 8 | (b & 0xff));
}

inline constexpr TColor clBlack = RGBColor(0, 0, 0);
inline constexpr TColor clWhite = RGBColor(255, 255, 255);
inline constexpr TColor clRed = RGBColor(255, 0, 0);

enum class TBrushStyle { Solid, Clear };

class TCanvas {
public:
    virtual ~TCanvas() = default;

    virtual TColor PenColor() const = 0;
    virtual void SetPenColor(TColor color) = 0;
    virtual TColor BrushColor() const = 0;
    // Setting a brush colour makes a clear brush solid; a clear brush has the colour white.
    virtual void SetBrushColor(TColor color) = 0;
    virtual TBrushStyle BrushStyle() const = 0;
    virtual void SetBrushStyle(TBrushStyle style) = 0;

    virtual void MoveTo(std::int32_t x, std::int32_t y) = 0;
    virtual void LineTo(std::int32_t x, std::int32_t y) = 0;
    virtual void SetPixel(std::int32_t x, std::int32_t y, TColor color) = 0;
    virtual void Rectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) = 0;
    virtual void Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) = 0;
    virtual void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3,
                     std::int32_t y3, std::int32_t x4, std::int32_t y4) = 0;
};

// The colour that SP selects for a pen number; numbers outside the table draw black.
TColor PenColorOf(std::int32_t pen);
