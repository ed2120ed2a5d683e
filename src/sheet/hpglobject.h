#pragma once
#include <cstdint>

// Object kinds; the numbers are stored in THpglObject::Kind and are part of the stream format.
enum : std::int8_t {
    hkPU = 0,  // pen up
    hkPD = 1,  // pen down
    hkPA = 2,  // plot absolute
    hkPR = 3,  // plot relative
    hkSP = 4,  // select pen
    hkCI = 5,  // circle
    hkAA = 6,  // arc absolute
    hkER = 7,  // edge rectangle relative
};

// One HPGL command of a sheet. A plain record: the sheet allocates, links and frees it.
// Kind and ParamCount fit in bytes, so a record takes 24 bytes (the pointer's alignment).
struct THpglObject {
    std::int32_t P1 = 0;
    std::int32_t P2 = 0;
    std::int32_t P3 = 0;
    std::int8_t Kind = hkPU;
    std::int8_t ParamCount = 0;
    THpglObject* Next = nullptr;

    explicit THpglObject(std::int8_t kind) : Kind(kind) {}
    THpglObject(std::int8_t kind, std::int32_t p1) : P1(p1), Kind(kind), ParamCount(1) {}
    THpglObject(std::int8_t kind, std::int32_t p1, std::int32_t p2) : P1(p1), P2(p2), Kind(kind), ParamCount(2) {}
    THpglObject(std::int8_t kind, std::int32_t p1, std::int32_t p2, std::int32_t p3)
        : P1(p1), P2(p2), P3(p3), Kind(kind), ParamCount(3)
    {}
};

// Mnemonic of a kind, or nullptr for a value outside 0..7.
const char* HpglMnemonic(std::int8_t kind);
