// Feeds arbitrary bytes through the reader, then walks the result the way the window does
// (count, extents) so that the sheet's invariants are checked on every input.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sheet/hpglsheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    THpglSheet sheet;
    sheet.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    int n = 0;
    const THpglObject* last = nullptr;
    for (const THpglObject& o : sheet) {
        if (o.Kind < hkPU || o.Kind > hkER || o.ParamCount < 0 || o.ParamCount > 3)
            std::abort();
        last = &o;
        ++n;
    }
    if (last != sheet.Last || n != sheet.Count() || static_cast<std::size_t>(n) > size / 2 + 1)
        std::abort();
    if (sheet.XMin > sheet.XMax || sheet.YMin > sheet.YMax)
        std::abort();
    return 0;
}
