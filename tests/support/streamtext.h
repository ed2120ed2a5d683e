#pragma once
// The device bytes of a sheet: the whole stream, or a run stopped after some objects.

#include <climits>
#include <string>

#include "sheet/hpglsheet.h"
#include "plot/ostrel.h"

inline std::string StreamText(const THpglSheet& sheet, int objects = INT_MAX, int speed = 20, bool accelerate = true)
{
    std::string out;
    TOstrelStream s;
    auto add = [&](std::string_view t, TThrottle) { out += t; };
    s.Prologue(speed, accelerate, add);
    const THpglObject* o = sheet.First;
    for (int i = 0; i < objects && o; ++i, o = o->Next)
        s.ObjectTexts(*o, add);
    s.Epilogue(add);
    return out;
}
