#pragma once
// The extents CalcExtents finds, gathered object by object in list order and resumable at any
// point: the reader takes each stretch of a load while it is still in the cache, instead of
// walking tens of megabytes of objects again from memory at the end.

#include <algorithm>
#include <cstdint>

#include "sheet/hpglsheet.h"

class TExtentsWalk {
public:
    // Takes every object linked in after the last one taken (from First on the first call).
    void TakeUpTo(const THpglSheet& sheet);
    // Sets the sheet's extents to those of the objects taken.
    void Store(THpglSheet& sheet) const
    {
        sheet.XMin = XMin;
        sheet.XMax = XMax;
        sheet.YMin = YMin;
        sheet.YMax = YMax;
    }

private:
    void Take(const THpglObject& o);
    void Start(std::int32_t x, std::int32_t y)
    {
        if (!Started) {
            XMin = XMax = x;
            YMin = YMax = y;
            Started = true;
        }
    }
    void Include(std::int32_t x, std::int32_t y)
    {
        XMin = std::min(XMin, x);
        XMax = std::max(XMax, x);
        YMin = std::min(YMin, y);
        YMax = std::max(YMax, y);
    }
    void IncludeSquare(std::int32_t cx, std::int32_t cy, std::int64_t r);

    const THpglObject* Taken = nullptr;
    bool Relative = false;
    bool Started = false;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    // The pen as Draw moves it, which an arc leaves at its end: the centre of a circle.
    std::int32_t PenX = 0;
    std::int32_t PenY = 0;
    std::int32_t XMin = 0;
    std::int32_t XMax = 0;
    std::int32_t YMin = 0;
    std::int32_t YMax = 0;
};
