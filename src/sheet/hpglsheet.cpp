#include "sheet/hpglsheet.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "sheet/extentswalk.h"
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
// header and call per object. Small sheets stay in small heap blocks; past those, blocks of
// 4 MiB are mapped directly and marked for huge pages, so a load of millions of objects takes
// a handful of page faults instead of one per 4 KiB. Clear keeps the blocks, and the next load
// refills them in order without faulting again.
struct THpglSheet::TBlock {
    TBlock* Next;
    THpglObject* Begin;
    THpglObject* End;
    std::size_t Bytes;
    bool Mapped;
};

namespace {
constexpr std::size_t kFirstBlockObjects = 64;
constexpr std::size_t kMaxHeapBlockObjects = 8192;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMappedBlockBytes = 2 * kHugePage;

// A mapping of bytes aligned to a huge page, or nullptr.
void* MapAligned(std::size_t bytes)
{
    const std::size_t span = bytes + kHugePage;
    void* p = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start)
        ::munmap(p, aligned - start);
    if (const std::uintptr_t tail = start + span - (aligned + bytes); tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}
}  // namespace

THpglSheet::THpglSheet()
{
    CalcExtents();
}

THpglSheet::~THpglSheet()
{
    FreeObjects();
    while (Blocks) {
        TBlock* next = Blocks->Next;
        if (Blocks->Mapped)
            ::munmap(Blocks, Blocks->Bytes);
        else
            ::operator delete(Blocks);
        Blocks = next;
    }
}

THpglObject* THpglSheet::NextBlock()
{
    TBlock* block = Current ? Current->Next : Blocks;
    if (!block) {
        const std::size_t header =
            (sizeof(TBlock) + alignof(THpglObject) - 1) / alignof(THpglObject) * alignof(THpglObject);
        const std::size_t previous = Current ? static_cast<std::size_t>(Current->End - Current->Begin) : 0;
        std::size_t capacity = previous ? previous * 2 : kFirstBlockObjects;
        std::size_t bytes = header + capacity * sizeof(THpglObject);
        void* memory = nullptr;
        bool mapped = false;
        if (capacity > kMaxHeapBlockObjects) {
            bytes = kMappedBlockBytes;
            capacity = (bytes - header) / sizeof(THpglObject);
            memory = MapAligned(bytes);
            mapped = memory != nullptr;
        }
        if (!memory) {
            capacity = std::min(capacity, kMaxHeapBlockObjects);
            bytes = header + capacity * sizeof(THpglObject);
            memory = ::operator new(bytes);
        }
        block = static_cast<TBlock*>(memory);
        block->Next = nullptr;
        block->Begin = reinterpret_cast<THpglObject*>(static_cast<unsigned char*>(memory) + header);
        block->End = block->Begin + capacity;
        block->Bytes = bytes;
        block->Mapped = mapped;
        (Current ? Current->Next : Blocks) = block;
        PoolBytes += bytes;
    }
    Current = block;
    Free = block->Begin + 1;
    FreeEnd = block->End;
    return block->Begin;
}

int THpglSheet::Count() const
{
    // Every object handed out is linked, in the order handed out: block by block up to Free.
    if (!First)
        return 0;
    std::size_t n = static_cast<std::size_t>(Free - Current->Begin);
    for (const TBlock* b = Blocks; b != Current; b = b->Next)
        n += static_cast<std::size_t>(b->End - b->Begin);
    return static_cast<int>(n);
}

void THpglSheet::FreeObjects()
{
    // THpglObject is trivially destructible: the blocks are simply filled again from the start.
    Current = nullptr;
    Free = FreeEnd = nullptr;
    First = Last = nullptr;
}

void THpglSheet::Clear()
{
    FreeObjects();
    CalcExtents();
}

void THpglSheet::TruncateAfter(THpglObject* last)
{
    if (!last) {
        Clear();
        return;
    }
    // Objects are handed out in list order, so the block that holds last ends the list.
    TBlock* block = Blocks;
    while (block && !(last >= block->Begin && last < block->End))
        block = block->Next;
    if (!block)
        return;
    Current = block;
    Free = last + 1;
    FreeEnd = block->End;
    last->Next = nullptr;
    Last = last;
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
    XMin = std::min(XMin, x);
    XMax = std::max(XMax, x);
    YMin = std::min(YMin, y);
    YMax = std::max(YMax, y);
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
        if (q > 1.0L)
            q = 1.0L;
        if (q < -1.0L)
            q = -1.0L;
        a = static_cast<float>(std::asin(static_cast<double>(q)));
    }
    if (x > cx)
        a = static_cast<float>(a > 0.0f ? kArcPi - a : -kArcPi - a);
    return a;
}

void THpglSheet::CalcExtents()
{
    TExtentsWalk walk;
    walk.TakeUpTo(*this);
    walk.Store(*this);
}

// Points of the square around a circle can lie beyond the 32-bit range; they are held at its
// edge rather than wrapped into the opposite side.
void TExtentsWalk::IncludeSquare(std::int32_t cx, std::int32_t cy, std::int64_t r)
{
    Include(range::Clamp32(std::int64_t{cx} + r), range::Clamp32(std::int64_t{cy} + r));
    Include(range::Clamp32(std::int64_t{cx} - r), range::Clamp32(std::int64_t{cy} - r));
}

inline void TExtentsWalk::Take(const THpglObject& o)
{
    // Most objects by far: an absolute pen move after the first point.
    if ((o.Kind == hkPU || o.Kind == hkPD) && o.ParamCount >= 2 && !Relative && Started) {
        PenX = X = o.P1;
        PenY = Y = o.P2;
        Include(X, Y);
        return;
    }
    const bool move = THpglSheet::IsMove(o.Kind, &Relative);
    if (o.Kind == hkCI && o.ParamCount >= 1) {
        // A circle widens the extents by its square, so fitting never cuts it off.
        Start(X, Y);
        const std::int64_t r = o.P1;
        IncludeSquare(PenX, PenY, r < 0 ? -r : r);
        return;
    }
    if (move && o.ParamCount > 0) {
        PenX = Relative ? wrap::Add(PenX, o.P1) : o.P1;
        PenY = Relative ? wrap::Add(PenY, o.P2) : o.P2;
    } else if (o.Kind == hkAA) {
        ArcPenAfter(PenX, PenY, o.P1, o.P2, o.P3);
    }
    if (o.ParamCount < 2)
        return;
    Start(o.P1, o.P2);
    if (move && Relative) {
        X = wrap::Add(X, o.P1);
        Y = wrap::Add(Y, o.P2);
    } else if (o.Kind != hkER && o.Kind != hkAA) {
        X = o.P1;
        Y = o.P2;
    }
    Include(X, Y);
    if (o.Kind == hkER) {
        Include(range::Clamp32(std::int64_t{X} + o.P1), range::Clamp32(std::int64_t{Y} + o.P2));
    } else if (o.Kind == hkAA) {
        IncludeSquare(o.P1, o.P2, ArcRadius(X, Y, o.P1, o.P2));
    }
}

void TExtentsWalk::TakeUpTo(const THpglSheet& sheet)
{
    for (const THpglObject* o = Taken ? Taken->Next : sheet.First; o; o = o->Next) {
        Take(*o);
        Taken = o;
    }
}
