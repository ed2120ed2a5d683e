// Feeds arbitrary bytes through the HP-GL/2 translator and checks what it leaves: a sheet of
// the eight commands whose list and extents hold together, or a refusal that added nothing.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/plotfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    THpglSheet sheet;
    TTranslateReport report;
    const TFileResult r = LoadPlotText(sheet, std::string_view(reinterpret_cast<const char*>(data), size),
                                       TPlotReading::Translate, &report);
    int n = 0;
    const THpglObject* last = nullptr;
    for (const THpglObject* o = sheet.First; o; o = o->Next) {
        if (o->Kind < hkPU || o->Kind > hkER || o->ParamCount < 0 || o->ParamCount > 3)
            std::abort();
        last = o;
        ++n;
    }
    if (last != sheet.Last || n != sheet.Count())
        std::abort();
    if (!r.Ok() && (n != 0 || r.Reason.empty()))
        std::abort();
    if (n > 0 && (sheet.XMin > sheet.XMax || sheet.YMin > sheet.YMax))
        std::abort();
    if (report.Translated != !report.Summary().empty())
        std::abort();
    return 0;
}
