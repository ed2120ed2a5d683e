// Helpers shared by grafonel-cli and its render helper.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli.h"
#include "sheet/hpglsheet.h"

namespace cli {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "grafonel-cli: %s\n", message.c_str());
    return 1;
}

bool ParseInt(const std::string& text, long long lo, long long hi, std::int64_t& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParsePair(const std::string& text, std::int32_t& a, std::int32_t& b)
{
    auto comma = text.find(',');
    std::int64_t x, y;
    if (comma == std::string::npos || !ParseInt(text.substr(0, comma), INT_MIN, INT_MAX, x) ||
        !ParseInt(text.substr(comma + 1), INT_MIN, INT_MAX, y))
        return false;
    a = static_cast<std::int32_t>(x);
    b = static_cast<std::int32_t>(y);
    return true;
}

bool LoadSheet(THpglSheet& sheet, const std::string& file, std::string& error)
{
    TFileResult r = sheet.LoadFromFile(file);
    if (!r.Ok()) {
        error = "cannot read '" + file + "': " + r.Reason;
        return false;
    }
    return true;
}

}  // namespace cli
