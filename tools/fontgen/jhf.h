#pragma once
// Reader of the Hershey fonts' .jhf text: one glyph per record, a record being the glyph
// number (columns 1-5), the count of coordinate pairs including the extents (6-8), then the
// left and right extents and the outline as pairs of characters, each less 'R'; " R" lifts
// the pen. A long record goes on over the following lines.

#include <string_view>
#include <vector>

namespace fontgen {

struct TJhfPoint {
    int X = 0;
    int Y = 0;  // grows downwards, as in the file
};

struct TJhfGlyph {
    int Number = 0;
    int Left = 0;
    int Right = 0;
    std::vector<std::vector<TJhfPoint>> Strokes;  // no empty stroke
};

// The records in file order. Throws std::runtime_error naming the line of a malformed or
// truncated record.
std::vector<TJhfGlyph> ParseJhf(std::string_view text);

}  // namespace fontgen
