// Rotate, Mirror, Shift, Scale: rewrite the coordinates in place. Each runs twice over the
// list: once to prove that every meaningful result fits in 32 bits, once to store, so that a
// refused transform leaves the sheet exactly as it was.

#include <algorithm>
#include <cstdint>

#include "sheet/frame.h"
#include "sheet/hpglsheet.h"
#include "sheet/wrap.h"

namespace {

struct TNew {
    std::int64_t P1, P2, P3;
};

// F(object, relativeOffset, TNew&) fills the new parameters and returns false for objects
// it leaves alone. Parameters beyond ParamCount carry no meaning: they are stored wrapped
// and never cause a refusal.
template <class F>
bool Apply(THpglObject* first, F f)
{
    for (int pass = 0; pass < 2; ++pass) {
        bool relative = false;
        for (THpglObject* o = first; o; o = o->Next) {
            bool move = THpglSheet::IsMove(o->Kind, &relative);
            TNew n{o->P1, o->P2, o->P3};
            if (!f(*o, move && relative, n))
                continue;
            if (pass == 0) {
                const std::int64_t v[] = {n.P1, n.P2, n.P3};
                for (int i = 0; i < o->ParamCount && i < 3; ++i)
                    if (!range::FitsInt32(v[i]))
                        return false;
            } else {
                o->P1 = wrap::Low32(n.P1);
                o->P2 = wrap::Low32(n.P2);
                o->P3 = wrap::Low32(n.P3);
            }
        }
    }
    return true;
}

bool IsOffset(const THpglObject& o, bool relativeMove)
{
    return relativeMove || o.Kind == hkER;
}

}  // namespace

bool THpglSheet::Rotate()
{
    const std::int64_t xMin = XMin, yMin = YMin, yMax = YMax;
    bool ok = Apply(First, [&](const THpglObject& o, bool rel, TNew& n) {
        if (o.Kind == hkSP || o.Kind == hkCI)
            return false;
        if (IsOffset(o, rel)) {
            n.P1 = -std::int64_t{o.P2};
            n.P2 = o.P1;
        } else {
            n.P1 = xMin + yMax - o.P2;
            n.P2 = o.P1 - xMin + yMin;
        }
        return true;
    });
    if (ok)
        CalcExtents();
    return ok;
}

bool THpglSheet::Mirror()
{
    const std::int64_t xMin = XMin, xMax = XMax;
    bool ok = Apply(First, [&](const THpglObject& o, bool rel, TNew& n) {
        if (o.Kind == hkSP || o.Kind == hkCI)
            return false;
        n.P1 = IsOffset(o, rel) ? -std::int64_t{o.P1} : xMin + xMax - o.P1;
        // The mirror image of an arc turns the other way.
        if (o.Kind == hkAA)
            n.P3 = -std::int64_t{o.P3};
        return true;
    });
    if (ok)
        CalcExtents();
    return ok;
}

bool THpglSheet::Shift(std::int32_t dx, std::int32_t dy)
{
    const std::int64_t xMin = std::int64_t{XMin} + dx, xMax = std::int64_t{XMax} + dx;
    const std::int64_t yMin = std::int64_t{YMin} + dy, yMax = std::int64_t{YMax} + dy;
    if (!range::FitsInt32(xMin) || !range::FitsInt32(xMax) || !range::FitsInt32(yMin) || !range::FitsInt32(yMax))
        return false;
    bool ok = Apply(First, [&](const THpglObject& o, bool rel, TNew& n) {
        if (!(IsMove(o.Kind) && !rel) && o.Kind != hkAA)
            return false;
        n.P1 = std::int64_t{o.P1} + dx;
        n.P2 = std::int64_t{o.P2} + dy;
        return true;
    });
    if (ok) {
        XMin = static_cast<std::int32_t>(xMin);
        XMax = static_cast<std::int32_t>(xMax);
        YMin = static_cast<std::int32_t>(yMin);
        YMax = static_cast<std::int32_t>(yMax);
    }
    return ok;
}

bool THpglSheet::Scale(std::int32_t a, std::int32_t b)
{
    if (a == 0)
        return false;
    // c * b / a is monotonic in c, so the smallest and largest meaningful values decide
    // whether every result fits; that check needs no division.
    std::int64_t lo = 0, hi = 0;
    for (const THpglObject& o : *this) {
        if (o.Kind == hkSP)
            continue;
        if (o.ParamCount >= 1) {
            lo = std::min<std::int64_t>(lo, o.P1);
            hi = std::max<std::int64_t>(hi, o.P1);
        }
        if (o.ParamCount >= 2) {
            lo = std::min<std::int64_t>(lo, o.P2);
            hi = std::max<std::int64_t>(hi, o.P2);
        }
    }
    if (!range::FitsInt32(lo * b / a) || !range::FitsInt32(hi * b / a))
        return false;
    // Below 2^53 a double quotient truncates to exactly the integer quotient (an inexact
    // quotient lies at least 1/|a| from any integer, far beyond the rounding error), and it
    // is several times faster than a 64-bit integer division.
    const std::int64_t reach = std::max(-lo, hi) * (b < 0 ? -std::int64_t{b} : b);
    const bool viaDouble = reach < (std::int64_t{1} << 53);
    const double ad = a;
    for (THpglObject& o : *this) {
        if (o.Kind == hkSP)
            continue;
        const std::int64_t p1 = std::int64_t{o.P1} * b, p2 = std::int64_t{o.P2} * b;
        // Fields beyond ParamCount carry no meaning and may hold anything: wrapped, and
        // through the integer path whenever they could be out of the double path's reach.
        if (viaDouble && o.ParamCount >= 2) {
            o.P1 = static_cast<std::int32_t>(static_cast<double>(p1) / ad);
            o.P2 = static_cast<std::int32_t>(static_cast<double>(p2) / ad);
        } else {
            o.P1 = wrap::Low32(p1 / a);
            o.P2 = wrap::Low32(p2 / a);
        }
    }
    CalcExtents();
    return true;
}

bool FitToFrame(THpglSheet& sheet)
{
    const std::int64_t dx = -std::int64_t{sheet.XMin}, dy = -std::int64_t{sheet.YMin};
    if (!range::FitsInt32(dx) || !range::FitsInt32(dy))
        return false;
    if (!sheet.Shift(static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy)))
        return false;
    const std::int64_t w = sheet.XMax, h = sheet.YMax;
    if (w == 0 && h == 0)
        return true;
    bool ok = w * kFrameHeight < h * kFrameWidth ? sheet.Scale(sheet.YMax, kFrameHeight)
                                                 : sheet.Scale(sheet.XMax, kFrameWidth);
    if (!ok) {
        // Undo the shift; moving back by the same amounts always fits.
        bool back = sheet.Shift(static_cast<std::int32_t>(-dx), static_cast<std::int32_t>(-dy));
        (void)back;
    }
    return ok;
}
