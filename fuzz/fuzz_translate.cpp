// Feeds arbitrary bytes through the HP-GL/2 translator and checks what it leaves: a sheet of
// the eight commands whose list and extents hold together, or a refusal. The limits are a
// hundredth of the program's, so that no input of a few kilobytes runs for seconds.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/hpgltranslate.h"
#include "sheet/hpgltokens.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    THpglSheet sheet;
    TTranslateReport report;
    TTranslateLimits limits;
    limits.MaxObjects = 1'000'000;
    limits.MaxHatchStrokes = 100'000;
    hpgltok::TCharStream s(text);
    const std::string reason = TranslateHpgl(sheet, s, size, report, limits);
    int n = 0;
    const THpglObject* last = nullptr;
    for (const THpglObject& o : sheet) {
        if (o.Kind < hkPU || o.Kind > hkER || o.ParamCount < 0 || o.ParamCount > 3)
            std::abort();
        last = &o;
        ++n;
    }
    if (last != sheet.Last || n != sheet.Count() || (reason.empty() && n > limits.MaxObjects))
        std::abort();
    if (reason.empty() && n > 0 && (sheet.XMin > sheet.XMax || sheet.YMin > sheet.YMax))
        std::abort();
    if (report.Translated != !report.Summary().empty())
        std::abort();
    if (!reason.empty()) {
        sheet.TruncateAfter(nullptr);
        if (sheet.Count() != 0 || sheet.First)
            std::abort();
    }
    return 0;
}
