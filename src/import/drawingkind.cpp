// Telling SVG drawings from plot files needs no Qt: the command-line tool decides with it
// whether a run needs Qt at all.

#include <cctype>
#include <cstdio>

#include "import/drawing.h"

namespace {

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const std::string t(suffix);
    if (s.size() < t.size())
        return false;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) != t[i])
            return false;
    return true;
}

}  // namespace

bool IsSvgDrawing(const std::string& fileName)
{
    if (EndsWithNoCase(fileName, ".svg") || EndsWithNoCase(fileName, ".svgz"))
        return true;
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f)
        return false;
    unsigned char head[512];
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n >= 2 && head[0] == 0x1f && head[1] == 0x8b)
        return true;
    std::size_t i = 0;
    if (n >= 3 && head[0] == 0xef && head[1] == 0xbb && head[2] == 0xbf)  // UTF-8 byte order mark
        i = 3;
    while (i < n && std::isspace(head[i]))
        ++i;
    return i < n && head[i] == '<';
}
