#include "fontgen/jhf.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace fontgen {

namespace {

[[noreturn]] void Fail(int line, const std::string& what)
{
    throw std::runtime_error("line " + std::to_string(line) + ": " + what);
}

// A number right-aligned in a fixed field.
int Field(std::string_view field, int line, const char* name)
{
    int value = 0;
    bool digits = false;
    for (const char c : field) {
        if (c == ' ' && !digits)
            continue;
        if (c < '0' || c > '9')
            Fail(line, std::string("no ") + name + " in columns of '" + std::string(field) + "'");
        value = value * 10 + (c - '0');
        digits = true;
    }
    if (!digits)
        Fail(line, std::string("no ") + name);
    return value;
}

bool Blank(std::string_view row)
{
    return row.find_first_not_of(" \t\r") == std::string_view::npos;
}

}  // namespace

std::vector<TJhfGlyph> ParseJhf(std::string_view text)
{
    std::vector<TJhfGlyph> glyphs;
    std::size_t pos = 0;
    int line = 1;
    while (pos < text.size()) {
        const std::size_t eol = std::min(text.find('\n', pos), text.size());
        const std::string_view row = text.substr(pos, eol - pos);
        if (Blank(row)) {
            pos = eol + 1;
            ++line;
            continue;
        }
        const int first = line;
        if (row.size() < 8)
            Fail(first, "record shorter than its header");
        TJhfGlyph glyph;
        glyph.Number = Field(row.substr(0, 5), first, "glyph number");
        const int count = Field(row.substr(5, 3), first, "vertex count");
        if (count < 1)
            Fail(first, "vertex count below one");
        pos += 8;
        // The record's characters, wherever its lines break.
        auto next = [&]() -> int {
            while (pos < text.size() && (text[pos] == '\n' || text[pos] == '\r')) {
                if (text[pos] == '\n')
                    ++line;
                ++pos;
            }
            if (pos >= text.size())
                Fail(first, "record ends before its " + std::to_string(count) + " pairs");
            const char c = text[pos++];
            if (c < ' ' || c > '~')
                Fail(line, "control character in a record");
            return c;
        };
        glyph.Left = next() - 'R';
        glyph.Right = next() - 'R';
        std::vector<TJhfPoint> stroke;
        for (int i = 1; i < count; ++i) {
            const int x = next(), y = next();
            if (x == ' ' && y == 'R') {
                if (!stroke.empty())
                    glyph.Strokes.push_back(std::move(stroke));
                stroke.clear();
            } else {
                stroke.push_back({x - 'R', y - 'R'});
            }
        }
        if (!stroke.empty())
            glyph.Strokes.push_back(std::move(stroke));
        for (; pos < text.size() && text[pos] != '\n'; ++pos)
            if (text[pos] != ' ' && text[pos] != '\r')
                Fail(line, "more pairs than the vertex count of the record");
        if (pos < text.size()) {
            ++pos;
            ++line;
        }
        glyphs.push_back(std::move(glyph));
    }
    return glyphs;
}

}  // namespace fontgen
