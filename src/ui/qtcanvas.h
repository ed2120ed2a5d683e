#pragma once
// The drawing surface on a QPainter (a QImage, a widget or a printer page), with the
// GDI pixel conventions that rendering expects.

#include <QPainter>
#include <cstdint>

#include "sheet/canvas.h"

class THpglSheet;

class QtCanvas final : public TCanvas {
public:
    explicit QtCanvas(QPainter& painter);
    ~QtCanvas() override;
    QtCanvas(const QtCanvas&) = delete;
    QtCanvas& operator=(const QtCanvas&) = delete;

    TColor PenColor() const override { return Pen; }
    void SetPenColor(TColor color) override;
    TColor BrushColor() const override { return Brush; }
    void SetBrushColor(TColor color) override;
    TBrushStyle BrushStyle() const override { return Style; }
    void SetBrushStyle(TBrushStyle style) override;

    void MoveTo(std::int32_t x, std::int32_t y) override;
    void LineTo(std::int32_t x, std::int32_t y) override;
    void SetPixel(std::int32_t x, std::int32_t y, TColor color) override;
    void Rectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override;
    void Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override;
    void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t x3, std::int32_t y3,
             std::int32_t x4, std::int32_t y4) override;

private:
    void ApplyPen();
    void ApplyBrush();
    void RasterLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, bool lastPixel);
    static void PlotSteps(std::uint32_t* px, std::int64_t count, qsizetype pixelMajor, qsizetype pixelMinor,
                          std::int64_t r, std::int64_t step, std::int64_t den, std::uint32_t colour);
    // Start ray (Sx, Sy) and end ray (Ex, Ey) of an arc, y up; Narrow when the sweep from
    // the one to the other is below 180 degrees.
    struct TArcRays {
        double Sx, Sy, Ex, Ey;
        bool Narrow;
    };
    void RasterEllipse(std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b, const TArcRays* arc);

    QPainter& Painter;
    TColor Pen = clBlack;
    TColor Brush = clWhite;
    TBrushStyle Style = TBrushStyle::Solid;
    // The pen's position, packed in one word: LineTo follows MoveTo at once, and a load that
    // spans two separate stores would wait for both to reach the cache.
    std::uint64_t Current = 0;
    void SetCurrent(std::int32_t x, std::int32_t y)
    {
        Current = std::uint64_t{static_cast<std::uint32_t>(x)} | std::uint64_t{static_cast<std::uint32_t>(y)} << 32;
    }
    std::int32_t CurrentX() const { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Current)); }
    std::int32_t CurrentY() const { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Current >> 32)); }
    // Lines and pixels go straight into a 32-bit image when nothing transforms or clips the
    // painter: Qt's per-call cost dominates a view of many short strokes. Its batched calls
    // are no way out, since they join lines and change which pixels are drawn.
    std::uint32_t* Bits = nullptr;
    qsizetype Stride = 0;  // in pixels
    int Width = 0;
    int Height = 0;
};

QColor ToQColor(TColor c);

// The window's view: a black frame around white, then the sheet over the whole surface; with
// `travel`, the pen-up moves beneath it in a pale colour.
void PaintView(QPainter& painter, const THpglSheet* sheet, int width, int height, bool travel = false);

class QPagedPaintDevice;
// One printed page: the frame stretched over the page's printable area, x over its width
// and y over its height, with independent scales. The painter must be active on the device.
void PaintPage(QPainter& painter, const THpglSheet& sheet, const QPagedPaintDevice& device);
