// Writes the large plot files that bench/compare.sh measures, the same bytes on every run:
//   genplot random OUT     a typical exporter's 20 MB (short strokes, circles, arcs)
//   genplot drawing OUT    a detailed drawing as a vector editor exports it (closed curves as
//                          single-point PD commands in fine units), one tile repeated 8 x 8
//   genplot scribble OUT   20 MB of long pen-down lines between random points of the frame

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "benchdata.h"

namespace {

std::string Drawing()
{
    // One tile: closed wavy curves of many short steps, as curves flattened by an exporter.
    constexpr int kTile = 6000, kTileObjects = 17200;
    std::mt19937 rng(3);
    struct TPoint {
        int X, Y;
        bool Down;
    };
    std::vector<TPoint> tile;
    while (tile.size() < kTileObjects) {
        const double cx = rng() % kTile, cy = rng() % kTile;
        const double r = 40 + rng() % 1400;
        const double w1 = (rng() % 100) / 400.0, w2 = (rng() % 100) / 600.0;
        const int k1 = 2 + rng() % 5, k2 = 5 + rng() % 9;
        const int points = 20 + static_cast<int>(rng() % 100);
        for (int i = 0; i <= points; ++i) {
            const double t = 2 * M_PI * i / points;
            const double rr = r * (1 + w1 * std::sin(k1 * t) + w2 * std::cos(k2 * t));
            const int x = static_cast<int>(std::lround(std::clamp(cx + rr * std::cos(t), 0.0, double(kTile))));
            const int y = static_cast<int>(std::lround(std::clamp(cy + rr * std::sin(t), 0.0, double(kTile))));
            tile.push_back({x, y, i > 0});
        }
    }
    std::string s = "IN;SP1;";
    char buf[48];
    for (int ty = 0; ty < 8; ++ty)
        for (int tx = 0; tx < 8; ++tx)
            for (const TPoint& p : tile) {
                const int n = std::snprintf(buf, sizeof buf, "%s%d,%d;", p.Down ? "PD" : "PU", p.X + tx * kTile,
                                            p.Y + ty * kTile);
                s.append(buf, static_cast<std::size_t>(n));
            }
    return s;
}

std::string Scribble(std::size_t minBytes)
{
    std::mt19937 rng(11);
    std::string s = "IN;SP1;PU0,0;";
    char buf[32];
    while (s.size() < minBytes) {
        s += "PD";
        for (int i = 0; i < 64; ++i) {
            const int n = std::snprintf(buf, sizeof buf, i ? ",%d,%d" : "%d,%d", static_cast<int>(rng() % 1521),
                                        static_cast<int>(rng() % 2161));
            s.append(buf, static_cast<std::size_t>(n));
        }
        s += ";\n";
    }
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: genplot random|drawing|scribble OUT\n");
        return 2;
    }
    std::string text;
    if (std::strcmp(argv[1], "random") == 0)
        text = benchdata::PlotText(20u << 20);
    else if (std::strcmp(argv[1], "drawing") == 0)
        text = Drawing();
    else if (std::strcmp(argv[1], "scribble") == 0)
        text = Scribble(20u << 20);
    else {
        std::fprintf(stderr, "genplot: unknown kind '%s'\n", argv[1]);
        return 2;
    }
    std::FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
