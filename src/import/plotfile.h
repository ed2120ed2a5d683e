#pragma once
// Plot files as the sheet's own commands, without Qt: the one load of plot files that the
// window and every command of grafonel-cli share.

#include <cstdint>
#include <map>
#include <string>

#include "sheet/hpglsheet.h"

// How a plot file is read: translated from the whole HP-GL and HP-GL/2 language into the
// sheet's eight commands, or by the plain reader, which keeps those eight and steps over the rest.
enum class TPlotReading : std::uint8_t { Translate, Plain };

// What a translation did. Translated is false exactly when the file used nothing beyond the
// eight commands and the commands that neither draw nor change scale, window or state; such
// a file reads object for object as the plain reader reads it.
struct TTranslateReport {
    bool Translated = false;
    int Pages = 1;
    // What was translated, by what a user calls it ("encoded polylines", "fills", ...).
    std::map<std::string, std::int64_t> Done;
    // Commands stepped over, by mnemonic.
    std::map<std::string, std::int64_t> Ignored;
    // What a drawing holds that was left out of the sheet ("markers", "images", ...).
    std::map<std::string, std::int64_t> NotDrawn;

    // "HP-GL/2: 4 encoded polylines, 3 fills, 120 dashed lines; ignored: 12 commands (XY, ZZ)",
    // then "Not drawn: 9,763 use copies, 4 markers" when something was left out, joined by
    // "; "; "" when there is nothing to say.
    std::string Summary() const;
    // "9,763 use copies, 4 markers", most first; "" when nothing was left out.
    std::string NotDrawnText() const;
    // The same without the leading "HP-GL/2: ", for grafonel-cli's "Translated: " line.
    std::string Details() const;
};

// 9763 as "9,763".
std::string GroupedNumber(std::int64_t n);

// Appends the file's drawing to the sheet. Fails for a file that cannot be read and, when
// translating, for a drawing the sheet cannot hold (a computed point beyond 32 bits, too many
// objects): then nothing is appended and Reason says why.
TFileResult LoadPlotFile(THpglSheet& sheet, const std::string& fileName, TPlotReading reading = TPlotReading::Translate,
                         TTranslateReport* report = nullptr);
// The same for bytes in memory (tests, the fuzz target).
TFileResult LoadPlotText(THpglSheet& sheet, std::string_view text, TPlotReading reading = TPlotReading::Translate,
                         TTranslateReport* report = nullptr);
