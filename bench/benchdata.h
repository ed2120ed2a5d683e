#pragma once
// Large plot files and sheets made on the spot, so the benchmarks need no sample files.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "sheet/hpglsheet.h"

namespace benchdata {

// A typical exporter's output: strokes of short pen-down steps on the frame (curves as
// polylines), with pen changes, circles and arcs now and then.
inline std::string PlotText(std::size_t minBytes)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> step(-15, 15);
    std::string s = "IN;SP1;";
    s.reserve(minBytes + 64);
    char line[96];
    int x = 760, y = 1080;
    auto walk = [&] {
        x = std::clamp(x + step(rng), 0, 1520);
        y = std::clamp(y + step(rng), 0, 2160);
    };
    while (s.size() < minBytes) {
        x = static_cast<int>(rng() % 1521);
        y = static_cast<int>(rng() % 2161);
        int n = std::snprintf(line, sizeof line, "PU%d,%d;PD", x, y);
        s.append(line, static_cast<std::size_t>(n));
        for (int i = 0; i < 12; ++i) {
            walk();
            n = std::snprintf(line, sizeof line, i ? ",%d,%d" : "%d,%d", x, y);
            s.append(line, static_cast<std::size_t>(n));
        }
        s += ";\n";
        if (rng() % 16 == 0) {
            n = std::snprintf(line, sizeof line, "CI%d;AA%d,%d,%d;SP%d;\n", static_cast<int>(rng() % 200), x + 30, y,
                              static_cast<int>(rng() % 720) - 360, static_cast<int>(rng() % 8));
            s.append(line, static_cast<std::size_t>(n));
        }
    }
    return s;
}

inline std::string WriteTemp(const std::string& content)
{
    char path[] = "/tmp/grafonel-bench-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0)
        return {};
    std::size_t off = 0;
    while (off < content.size()) {
        ssize_t n = ::write(fd, content.data() + off, content.size() - off);
        if (n <= 0)
            break;
        off += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return path;
}

// Line objects (and every tenth an arc when arcs is set) spread over the frame.
inline void FillSheet(THpglSheet& sheet, int objects, bool arcs = false)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> x(0, 1520), y(0, 2160);
    sheet.Add(hkSP, 1);
    for (int i = 1; i < objects; ++i) {
        if (arcs && i % 10 == 0)
            sheet.Add(hkAA, x(rng), y(rng), static_cast<int>(rng() % 720) - 360);
        else
            sheet.Add(i % 8 == 1 ? hkPU : hkPD, x(rng), y(rng));
    }
    sheet.CalcExtents();
}

}  // namespace benchdata

namespace benchdata {

// A drawing as exporters write curves: pen-down strokes of short steps (a random walk within
// the frame), with a pen change now and then.
inline void FillStrokes(THpglSheet& sheet, int objects)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> step(-12, 12);
    int x = 760, y = 1080;
    sheet.Add(hkSP, 1);
    for (int i = 1; i < objects; ++i) {
        if (i % 64 == 1) {
            x = static_cast<int>(rng() % 1520);
            y = static_cast<int>(rng() % 2160);
            sheet.Add(hkPU, x, y);
            continue;
        }
        if (i % 4096 == 2) {
            sheet.Add(hkSP, static_cast<int>(rng() % 8) + 1);
            continue;
        }
        x = std::clamp(x + step(rng), 0, 1520);
        y = std::clamp(y + step(rng), 0, 2160);
        sheet.Add(hkPD, x, y);
    }
    sheet.CalcExtents();
}

}  // namespace benchdata
