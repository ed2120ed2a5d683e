#pragma once
// A sheet as a compact text ("PA 10 20|PD|SP 1") so tests compare whole object lists.

#include <string>

#include "sheet/hpglsheet.h"
#include "testfiles.h"

inline std::string SheetText(const THpglSheet& sheet)
{
    std::string out;
    for (const THpglObject& o : sheet) {
        if (!out.empty())
            out += '|';
        const char* m = HpglMnemonic(o.Kind);
        out += m ? m : "K" + std::to_string(o.Kind);
        const std::int32_t p[] = {o.P1, o.P2, o.P3};
        for (int i = 0; i < o.ParamCount && i < 3; ++i)
            out += ' ' + std::to_string(p[i]);
    }
    return out;
}

inline std::string Extents(const THpglSheet& sheet)
{
    return std::to_string(sheet.XMin) + "," + std::to_string(sheet.YMin) + " " + std::to_string(sheet.XMax) + "," +
           std::to_string(sheet.YMax);
}

// Loads HPGL text; the reader tests check that a file with the same bytes reads the same.
inline void LoadText(THpglSheet& sheet, const std::string& text)
{
    sheet.LoadFromText(text);
}

inline std::string Read(const std::string& text)
{
    THpglSheet sheet;
    LoadText(sheet, text);
    return SheetText(sheet);
}
