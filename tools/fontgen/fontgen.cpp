// Turns Hershey .jhf fonts into constant tables for src/import/strokefont.cpp, which includes
// the output: fontgen OUTPUT FACE.jhf... with the faces in the order of TStrokeFace.
// Points are stored from the glyph's left extent and up from the baseline, so that drawing a
// glyph is only a copy.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fontgen/jhf.h"

namespace {

using fontgen::TJhfGlyph;

// ASCII 32 to 126, the records' order in the Roman, script and Greek files.
constexpr int kFirstCode = 32;
constexpr int kGlyphCount = 95;
// Between a glyph's strokes and its extents, where the file gives it none.
constexpr int kSideMargin = 2;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Stem(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Top and bottom of a glyph in file units (y down).
std::pair<int, int> VerticalRange(const TJhfGlyph& g, const std::string& what)
{
    int top = std::numeric_limits<int>::max(), bottom = std::numeric_limits<int>::min();
    for (const auto& stroke : g.Strokes)
        for (const auto& p : stroke) {
            top = std::min(top, p.Y);
            bottom = std::max(bottom, p.Y);
        }
    if (g.Strokes.empty())
        throw std::runtime_error(what + " has no strokes");
    return {top, bottom};
}

void WriteFace(std::ostringstream& out, std::size_t index, const std::string& path, std::string& summary)
{
    const std::vector<TJhfGlyph> all = fontgen::ParseJhf(ReadFile(path));
    if (all.size() < std::size_t(kGlyphCount))
        throw std::runtime_error(path + ": " + std::to_string(all.size()) + " glyphs, expected at least " +
                                 std::to_string(kGlyphCount) + " from ASCII 32 on");
    std::vector<TJhfGlyph> glyphs(all.begin(), all.begin() + kGlyphCount);
    // rowmant's J comes with no width: give such a glyph the margins its neighbours have.
    for (TJhfGlyph& g : glyphs)
        if (g.Right <= g.Left && !g.Strokes.empty()) {
            g.Left = std::numeric_limits<int>::max();
            g.Right = std::numeric_limits<int>::min();
            for (const auto& stroke : g.Strokes)
                for (const auto& p : stroke) {
                    g.Left = std::min(g.Left, p.X - kSideMargin);
                    g.Right = std::max(g.Right, p.X + kSideMargin);
                }
        }
    const auto [capTop, baseline] = VerticalRange(glyphs['H' - kFirstCode], path + ": 'H'");
    const int xTop = VerticalRange(glyphs['x' - kFirstCode], path + ": 'x'").first;

    std::vector<int> points, strokeStarts, glyphStarts, extents;
    for (const TJhfGlyph& g : glyphs) {
        glyphStarts.push_back(int(strokeStarts.size()));
        extents.push_back(g.Left);
        extents.push_back(g.Right);
        for (const auto& stroke : g.Strokes) {
            strokeStarts.push_back(int(points.size() / 2));
            for (const auto& p : stroke) {
                points.push_back(p.X - g.Left);
                points.push_back(baseline - p.Y);
            }
        }
    }
    glyphStarts.push_back(int(strokeStarts.size()));
    strokeStarts.push_back(int(points.size() / 2));
    for (const auto* bytes : {&points, &extents})
        for (const int v : *bytes)
            if (v < std::numeric_limits<std::int8_t>::min() || v > std::numeric_limits<std::int8_t>::max())
                throw std::runtime_error(path + ": a coordinate beyond an int8");
    if (strokeStarts.back() > std::numeric_limits<std::uint16_t>::max() ||
        glyphStarts.back() > std::numeric_limits<std::uint16_t>::max())
        throw std::runtime_error(path + ": too many points for 16-bit offsets");

    const std::string n = std::to_string(index);
    auto table = [&](const char* type, const std::string& name, const std::vector<int>& values) {
        out << "constexpr " << type << ' ' << name << n << "[] = {";
        for (std::size_t i = 0; i < values.size(); ++i)
            out << (i % 20 == 0 ? "\n    " : " ") << values[i] << ',';
        out << "\n};\n";
    };
    out << "\n// " << Stem(path) << '\n';
    table("std::int8_t", "kPoints", points);
    table("std::uint16_t", "kStrokeStarts", strokeStarts);
    table("std::uint16_t", "kGlyphStarts", glyphStarts);
    table("std::int8_t", "kExtents", extents);
    summary += "    {\"" + Stem(path) + "\", kPoints" + n + ", kStrokeStarts" + n + ", kGlyphStarts" + n +
               ", kExtents" + n + ", " + std::to_string(baseline - capTop) + ", " + std::to_string(baseline - xTop) +
               "},\n";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT FACE.jhf...\n", argv[0]);
        return 2;
    }
    try {
        std::ostringstream out;
        out << "// Generated by grafonel-fontgen from the Hershey fonts: edit tools/fontgen, not this file.\n"
               "// The Hershey Fonts were originally created by Dr. A. V. Hershey while working at the\n"
               "// U. S. National Bureau of Standards. The format of the Font data in this distribution\n"
               "// was originally created by James Hurt, Cognition, Inc.\n";
        std::string summary;
        for (int i = 2; i < argc; ++i)
            WriteFace(out, std::size_t(i - 2), argv[i], summary);
        out << "\nconstexpr TFaceData kFaceData[] = {\n" << summary << "};\n";
        std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
        file << out.str();
        if (!file.flush())
            throw std::runtime_error(std::string("cannot write ") + argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "grafonel-fontgen: %s\n", e.what());
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
