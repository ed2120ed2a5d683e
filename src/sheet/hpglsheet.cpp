#include "sheet/hpglsheet.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "sheet/wrap.h"

const char* HpglMnemonic(std::int8_t kind)
{
    static const char* const names[] = {"PU", "PD", "PA", "PR", "SP", "CI", "AA", "ER"};
    return kind >= 0 && kind <= 7 ? names[kind] : nullptr;
}

TFileResult TFileResult::FromErrno(int code)
{
    TFileResult r;
    r.ErrorCode = code != 0 ? code : EIO;
    r.Reason = std::strerror(r.ErrorCode);
    return r;
}

// Objects come from blocks the sheet owns: still one object per Add, but without a malloc
// header and call per object. Blocks grow geometrically up to a fixed size.
struct THpglSheet::TBlock {
    TBlock* Previous;
    std::size_t Capacity;
    alignas(THpglObject) unsigned char Storage[1];
};

namespace {
constexpr std::size_t kFirstBlockObjects = 64;
constexpr std::size_t kMaxBlockObjects = 16384;
}  // namespace

THpglSheet::THpglSheet()
{
    CalcExtents();
}

THpglSheet::~THpglSheet()
{
    FreeObjects();
}

THpglObject* THpglSheet::Allocate()
{
    if (BlockUsed == BlockCapacity) {
        std::size_t capacity = Blocks ? std::min(Blocks->Capacity * 2, kMaxBlockObjects) : kFirstBlockObjects;
        std::size_t bytes = offsetof(TBlock, Storage) + capacity * sizeof(THpglObject);
        auto* block = static_cast<TBlock*>(::operator new(bytes));
        block->Previous = Blocks;
        block->Capacity = capacity;
        Blocks = block;
        BlockUsed = 0;
        BlockCapacity = capacity;
        PoolBytes += bytes;
    }
    return reinterpret_cast<THpglObject*>(Blocks->Storage) + BlockUsed++;
}

void THpglSheet::Append(THpglObject* object)
{
    // Linked only once complete: a progress hook may walk the list during a load.
    if (Last)
        Last->Next = object;
    else
        First = object;
    Last = object;
}

void THpglSheet::Add(std::int8_t kind)
{
    Append(new (Allocate()) THpglObject(kind));
}

void THpglSheet::Add(std::int8_t kind, std::int32_t p1)
{
    Append(new (Allocate()) THpglObject(kind, p1));
}

void THpglSheet::Add(std::int8_t kind, std::int32_t p1, std::int32_t p2)
{
    Append(new (Allocate()) THpglObject(kind, p1, p2));
}

void THpglSheet::Add(std::int8_t kind, std::int32_t p1, std::int32_t p2, std::int32_t p3)
{
    Append(new (Allocate()) THpglObject(kind, p1, p2, p3));
}

int THpglSheet::Count() const
{
    int n = 0;
    for (const THpglObject* o = First; o; o = o->Next)
        ++n;
    return n;
}

void THpglSheet::FreeObjects()
{
    // THpglObject is trivially destructible: releasing the blocks frees every object.
    while (Blocks) {
        TBlock* previous = Blocks->Previous;
        ::operator delete(Blocks);
        Blocks = previous;
    }
    BlockUsed = BlockCapacity = 0;
    PoolBytes = 0;
    First = Last = nullptr;
}

void THpglSheet::Clear()
{
    FreeObjects();
    CalcExtents();
}

bool THpglSheet::IsMove(std::int8_t kind, bool* relative)
{
    if (relative) {
        if (kind == hkPA)
            *relative = false;
        else if (kind == hkPR)
            *relative = true;
    }
    return kind >= hkPU && kind <= hkPR;
}

void THpglSheet::IncludePoint(std::int32_t x, std::int32_t y)
{
    if (x < XMin) XMin = x;
    if (x > XMax) XMax = x;
    if (y < YMin) YMin = y;
    if (y > YMax) YMax = y;
}

std::int64_t ArcRadius(std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy)
{
    // Each difference fits in 33 bits, each square in an unsigned 64-bit value; long double
    // holds both squares exactly, so the sum is exact for every radius the frame can show.
    std::int64_t dx = std::int64_t{x} - cx;
    std::int64_t dy = std::int64_t{y} - cy;
    auto sx = static_cast<std::uint64_t>(dx < 0 ? -dx : dx);
    auto sy = static_cast<std::uint64_t>(dy < 0 ? -dy : dy);
    long double d2 = static_cast<long double>(sx * sx) + static_cast<long double>(sy * sy);
    return static_cast<std::int64_t>(std::sqrt(d2));
}

float ArcStartAngle(std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy, std::int64_t r)
{
    float a = 0.0f;
    if (r != 0) {
        long double q = static_cast<long double>(std::int64_t{y} - cy) / static_cast<long double>(r);
        // The truncated radius can be a hair shorter than |y - cy|; asin must stay defined.
        if (q > 1.0L) q = 1.0L;
        if (q < -1.0L) q = -1.0L;
        a = static_cast<float>(std::asin(static_cast<double>(q)));
    }
    if (x > cx)
        a = static_cast<float>(a > 0.0f ? kArcPi - a : -kArcPi - a);
    return a;
}

void THpglSheet::CalcExtents()
{
    XMin = XMax = YMin = YMax = 0;
    bool relative = false;
    bool started = false;
    std::int32_t x = 0;
    std::int32_t y = 0;
    // The pen as Draw moves it, which an arc leaves at its end: the centre of a circle.
    std::int32_t penX = 0;
    std::int32_t penY = 0;
    auto start = [&](std::int32_t sx, std::int32_t sy) {
        if (!started) {
            XMin = XMax = sx;
            YMin = YMax = sy;
            started = true;
        }
    };
    // Points of the square around a circle can lie beyond the 32-bit range; they are held
    // at its edge rather than wrapped into the opposite side.
    auto includeSquare = [&](std::int32_t cx, std::int32_t cy, std::int64_t r) {
        IncludePoint(range::Clamp32(std::int64_t{cx} + r), range::Clamp32(std::int64_t{cy} + r));
        IncludePoint(range::Clamp32(std::int64_t{cx} - r), range::Clamp32(std::int64_t{cy} - r));
    };

    for (const THpglObject* o = First; o; o = o->Next) {
        bool move = IsMove(o->Kind, &relative);
        if (o->Kind == hkCI && o->ParamCount >= 1) {
            // A circle widens the extents by its square, so fitting never cuts it off.
            start(x, y);
            std::int64_t r = o->P1;
            includeSquare(penX, penY, r < 0 ? -r : r);
            continue;
        }
        if (move && o->ParamCount > 0) {
            penX = relative ? wrap::Add(penX, o->P1) : o->P1;
            penY = relative ? wrap::Add(penY, o->P2) : o->P2;
        } else if (o->Kind == hkAA) {
            ArcPenAfter(penX, penY, o->P1, o->P2, o->P3);
        }
        if (o->ParamCount < 2)
            continue;
        start(o->P1, o->P2);
        if (move && relative) {
            x = wrap::Add(x, o->P1);
            y = wrap::Add(y, o->P2);
        } else if (o->Kind != hkER && o->Kind != hkAA) {
            x = o->P1;
            y = o->P2;
        }
        IncludePoint(x, y);
        if (o->Kind == hkER) {
            IncludePoint(range::Clamp32(std::int64_t{x} + o->P1), range::Clamp32(std::int64_t{y} + o->P2));
        } else if (o->Kind == hkAA) {
            includeSquare(o->P1, o->P2, ArcRadius(x, y, o->P1, o->P2));
        }
    }
}
