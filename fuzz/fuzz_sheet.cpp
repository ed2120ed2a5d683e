// The whole way a plot file takes: read, extents, a few transforms, perhaps the plot order
// optimised, drawn onto the window's raster image and onto a printed PDF page, and turned
// into the device's command stream.
// The first bytes of the input choose the transforms and the image's size; the rest is the
// plot file. Any sanitizer report, crash or hang is a fault.

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "plot/ostrel.h"
#include "plot/plotorder.h"
#include "sheet/frame.h"
#include "sheet/hpglsheet.h"
#include "ui/qtcanvas.h"

namespace {

constexpr std::size_t kHeader = 16;
// Huge arcs expand into millions of points; a plot of this much text is proof enough.
constexpr std::size_t kStreamCap = 1 << 20;

struct TStreamCapped {};

std::int32_t Int32At(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<std::int32_t>(v);
}

// Saving and reading back must give the same commands.
void RoundTrip(const THpglSheet& sheet)
{
    THpglSheet again;
    again.LoadFromText(sheet.SaveToText());
    const THpglObject* a = sheet.First;
    const THpglObject* b = again.First;
    for (; a && b; a = a->Next, b = b->Next)
        if (a->Kind != b->Kind || a->ParamCount != b->ParamCount || a->P1 != b->P1 || a->P2 != b->P2 || a->P3 != b->P3)
            std::abort();
    if (a || b)
        std::abort();
}

void Transform(THpglSheet& sheet, const std::uint8_t* h)
{
    const std::int32_t p = Int32At(h + 4), q = Int32At(h + 8);
    for (int i = 0; i < (h[0] & 3); ++i) {
        bool done = true;
        switch (h[1 + i] % 5) {
        case 0: done = sheet.Rotate(); break;
        case 1: done = sheet.Mirror(); break;
        case 2: done = sheet.Shift(p, q); break;
        case 3: done = sheet.Scale(p, q); break;
        default: done = FitToFrame(sheet); break;
        }
        (void)done;  // a refused transform leaves the sheet as it was; drawing checks the rest
        sheet.CalcExtents();
        if (sheet.XMin > sheet.XMax || sheet.YMin > sheet.YMax)
            std::abort();
    }
}

// The same sheet always gives the same order; the sheet is refilled from it.
void Optimise(THpglSheet& sheet, const std::uint8_t* h)
{
    if (!(h[0] & 4))
        return;
    const TPlotOrder a = OptimisePlotOrder(sheet), b = OptimisePlotOrder(sheet);
    if (a.Ok != b.Ok || a.Objects.size() != b.Objects.size() || (!a.Ok && a.Reason.empty()))
        std::abort();
    for (std::size_t i = 0; i < a.Objects.size(); ++i) {
        const THpglObject &x = a.Objects[i], &y = b.Objects[i];
        if (x.Kind != y.Kind || x.ParamCount != y.ParamCount || x.P1 != y.P1 || x.P2 != y.P2 || x.P3 != y.P3)
            std::abort();
    }
    if (a.Ok)
        RefillSheet(sheet, a.Objects);
}

void DrawRaster(const THpglSheet& sheet, const std::uint8_t* h)
{
    const int w = 1 + (h[12] | h[13] << 8) % 4000, ht = 1 + (h[14] | h[15] << 8) % 4000;
    QImage image(w, ht, QImage::Format_RGB32);
    if (image.isNull())
        std::abort();
    QPainter painter(&image);
    PaintView(painter, &sheet, w, ht);
}

void DrawPdf(const THpglSheet& sheet)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter;
    if (!painter.begin(&writer))
        std::abort();
    PaintPage(painter, sheet, writer);
    painter.end();
}

void Stream(const THpglSheet& sheet)
{
    std::size_t bytes = 0;
    try {
        OstrelSheetStream(sheet, kOstrelDefaultSpeed, true, [&](std::string_view text, TThrottle) {
            if (text.empty() && bytes > 0)
                std::abort();
            bytes += text.size();
            if (bytes > kStreamCap)
                throw TStreamCapped{};
        });
    } catch (const TStreamCapped&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t header[kHeader] = {};
    std::memcpy(header, data, std::min(size, kHeader));
    const std::size_t skip = std::min(size, kHeader);

    THpglSheet sheet;
    sheet.LoadFromText(std::string_view(reinterpret_cast<const char*>(data) + skip, size - skip));
    RoundTrip(sheet);
    sheet.CalcExtents();
    Transform(sheet, header);
    Optimise(sheet, header);
    DrawRaster(sheet, header);
    DrawPdf(sheet);
    Stream(sheet);
    return 0;
}
