#pragma once
// The HP-GL and HP-GL/2 vector language, with its printer-language wrappers, translated into
// the sheet's eight commands (PU PD PA PR SP CI AA ER) in the file's plotter units.

#include <cstdint>
#include <string>

#include "import/plotfile.h"
#include "sheet/hpglsheet.h"

namespace hpgltok {
class TCharStream;
}

struct TTranslateLimits {
    std::int64_t MaxObjects = 100'000'000;
    std::int64_t MaxHatchStrokes = 10'000'000;
};

// Appends the stream's drawing to the sheet and fills the report. Returns "" or, when the
// drawing cannot be held (a point beyond 32 bits, a limit passed), the reason; the caller
// then takes back what was appended.
std::string TranslateHpgl(THpglSheet& sheet, hpgltok::TCharStream& s, std::uint64_t total, TTranslateReport& report,
                          const TTranslateLimits& limits = {});
