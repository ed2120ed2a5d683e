#pragma once
// A drawing surface that logs every call as text, for exact checks of what Draw asks for.

#include <string>
#include <vector>

#include "sheet/canvas.h"

class TRecordingCanvas : public TCanvas {
public:
    std::vector<std::string> Calls;
    TColor Pen = 0x123456;  // deliberately not black: Draw must set it
    TColor Brush = clWhite;
    TBrushStyle Style = TBrushStyle::Solid;

    TColor PenColor() const override { return Pen; }
    void SetPenColor(TColor c) override
    {
        Pen = c;
        Log("pen " + Hex(c));
    }
    TColor BrushColor() const override { return Brush; }
    void SetBrushColor(TColor c) override
    {
        Brush = c;
        Style = TBrushStyle::Solid;
    }
    TBrushStyle BrushStyle() const override { return Style; }
    void SetBrushStyle(TBrushStyle s) override
    {
        Style = s;
        if (s == TBrushStyle::Clear)
            Brush = clWhite;
        Log(s == TBrushStyle::Clear ? "brush clear" : "brush solid");
    }
    void MoveTo(std::int32_t x, std::int32_t y) override { Log("move " + P(x, y)); }
    void LineTo(std::int32_t x, std::int32_t y) override { Log("line " + P(x, y)); }
    void SetPixel(std::int32_t x, std::int32_t y, TColor c) override { Log("pixel " + P(x, y) + " " + Hex(c)); }
    void Rectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override
    {
        Log("rect " + P(x1, y1) + " " + P(x2, y2));
    }
    void Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override
    {
        Log("ellipse " + P(x1, y1) + " " + P(x2, y2) + (Style == TBrushStyle::Clear ? " clear" : " filled"));
    }
    void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3, std::int32_t y3,
             std::int32_t x4, std::int32_t y4) override
    {
        Log("arc " + P(x1, y1) + " " + P(x2, y2) + " " + P(x3, y3) + " " + P(x4, y4));
    }

    // The log without colour and brush bookkeeping.
    std::vector<std::string> Shapes() const
    {
        std::vector<std::string> out;
        for (const auto& c : Calls)
            if (c.rfind("pen", 0) != 0 && c.rfind("brush", 0) != 0)
                out.push_back(c);
        return out;
    }

private:
    void Log(const std::string& s) { Calls.push_back(s); }
    static std::string P(std::int32_t x, std::int32_t y) { return std::to_string(x) + "," + std::to_string(y); }
    static std::string Hex(TColor c)
    {
        char b[8];
        std::snprintf(b, sizeof b, "%06x", c);
        return b;
    }
};
