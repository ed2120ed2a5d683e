#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <string_view>

#include "sheet/hpglobject.h"

class TCanvas;

// Outcome of a file operation: the errno value and its system text when it failed.
struct TFileResult {
    int ErrorCode = 0;
    std::string Reason;

    bool Ok() const { return ErrorCode == 0; }
    static TFileResult FromErrno(int code);
};

// The in-memory drawing: HPGL objects in file order plus the extents of what they draw.
// Used from one thread only; the reader's progress hook may run read-only code on the sheet
// in the middle of a load, which sees the objects linked in so far.
class THpglSheet {
public:
    THpglObject* First = nullptr;
    THpglObject* Last = nullptr;

    // The objects in file order: for (const THpglObject& o : sheet).
    template <class T>
    class TObjects {
    public:
        explicit TObjects(T* o) : O(o) {}
        T& operator*() const { return *O; }
        T* operator->() const { return O; }
        TObjects& operator++()
        {
            O = O->Next;
            return *this;
        }
        bool operator==(const TObjects&) const = default;

    private:
        T* O;
    };
    TObjects<THpglObject> begin() { return TObjects<THpglObject>(First); }
    TObjects<THpglObject> end() { return TObjects<THpglObject>(nullptr); }
    TObjects<const THpglObject> begin() const { return TObjects<const THpglObject>(First); }
    TObjects<const THpglObject> end() const { return TObjects<const THpglObject>(nullptr); }

    std::int32_t XMin = 0;
    std::int32_t XMax = 0;
    std::int32_t YMin = 0;
    std::int32_t YMax = 0;

    // Called by LoadFromFile before commands 1, 101, 201, 257, ... (an 8-bit counter),
    // with the bytes consumed so far and the file's size (0 when unknown).
    std::function<void(std::uint64_t done, std::uint64_t total)> OnProgress;
    // Called by Draw every 16384 objects, so that an owner can keep its window alive while
    // a huge sheet is drawn. It must not change the sheet.
    std::function<void()> OnDrawProgress;

    THpglSheet();
    ~THpglSheet();
    THpglSheet(const THpglSheet&) = delete;
    THpglSheet& operator=(const THpglSheet&) = delete;

    void Add(std::int8_t kind);
    void Add(std::int8_t kind, std::int32_t p1);
    void Add(std::int8_t kind, std::int32_t p1, std::int32_t p2);
    void Add(std::int8_t kind, std::int32_t p1, std::int32_t p2, std::int32_t p3);
    int Count() const;
    void Clear();
    // Drops every object after last (all of them for nullptr), as if they had never been
    // added, and recomputes the extents: a load that refuses a file takes back what it added.
    void TruncateAfter(THpglObject* last);

    // True for the four pen commands; PA makes *relative false and PR makes it true.
    static bool IsMove(std::int8_t kind, bool* relative = nullptr);
    void IncludePoint(std::int32_t x, std::int32_t y);
    void CalcExtents();

    // Appends the file's commands. Reports only whether the file could be opened and read;
    // malformed HPGL is never an error.
    TFileResult LoadFromFile(const std::string& fileName);
    // Writes one command per line; the previous file survives any failure intact.
    TFileResult SaveToFile(const std::string& fileName) const;
    // The same two in memory: text read as LoadFromFile reads a file's bytes (appending),
    // and the exact text SaveToFile writes.
    void LoadFromText(std::string_view text);
    std::string SaveToText() const;

    // Transforms return false, leaving the sheet exactly as it was, when a coordinate
    // would leave the 32-bit range (or Scale's divisor is 0).
    [[nodiscard]] bool Rotate();
    [[nodiscard]] bool Mirror();
    [[nodiscard]] bool Shift(std::int32_t dx, std::int32_t dy);
    [[nodiscard]] bool Scale(std::int32_t a, std::int32_t b);

    void Draw(TCanvas& canvas, std::int32_t width, std::int32_t height) const;
    // The pen's moves with the pen up, as lines in the canvas's pen colour: where the plot
    // travels without drawing.
    void DrawTravel(TCanvas& canvas, std::int32_t width, std::int32_t height) const;

    // Bytes held for objects (pool blocks, kept by Clear for the next load), for the memory
    // benchmark.
    std::size_t ObjectBytes() const { return PoolBytes; }

private:
    struct TBlock;
    THpglObject* Allocate() { return Free != FreeEnd ? Free++ : NextBlock(); }
    THpglObject* NextBlock();
    void Append(THpglObject* object)
    {
        // Linked only once complete: a progress hook may walk the list during a load.
        if (Last)
            Last->Next = object;
        else
            First = object;
        Last = object;
    }
    void FreeObjects();

    TBlock* Blocks = nullptr;   // oldest first; the objects fill them in list order
    TBlock* Current = nullptr;  // the block Free points into
    THpglObject* Free = nullptr;
    THpglObject* FreeEnd = nullptr;
    std::size_t PoolBytes = 0;
};

// Defined here so that a reader's loop inlines them.
inline void THpglSheet::Add(std::int8_t kind)
{
    Append(new (Allocate()) THpglObject(kind));
}

inline void THpglSheet::Add(std::int8_t kind, std::int32_t p1)
{
    Append(new (Allocate()) THpglObject(kind, p1));
}

inline void THpglSheet::Add(std::int8_t kind, std::int32_t p1, std::int32_t p2)
{
    Append(new (Allocate()) THpglObject(kind, p1, p2));
}

inline void THpglSheet::Add(std::int8_t kind, std::int32_t p1, std::int32_t p2, std::int32_t p3)
{
    Append(new (Allocate()) THpglObject(kind, p1, p2, p3));
}

// Radius of an arc whose start lies at (x, y) about the centre (cx, cy): the square of the
// distance in full width, its square root in extended precision, truncated toward zero.
std::int64_t ArcRadius(std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy);

// Start angle of an arc: the angle t of (x, y) in the convention (cx - r cos t, cy + r sin t),
// single precision, with 3.1428 standing for pi as the device firmware does.
float ArcStartAngle(std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy, std::int64_t r);

inline constexpr long double kArcPi = 3.1428L;

// Where Draw leaves the pen after an arc started at (x, y) about (cx, cy) with the sweep in
// degrees: the arc's end, or (x, y) itself for a sweep above 355, which draws a full circle.
void ArcPenAfter(std::int32_t& x, std::int32_t& y, std::int32_t cx, std::int32_t cy, std::int32_t sweep);
