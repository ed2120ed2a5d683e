#include "import/plotfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>
#include <utility>

#include "base/posixio.h"
#include "import/hpgltranslate.h"
#include "sheet/hpgltokens.h"

std::string TTranslateReport::Summary() const
{
    std::string text = Translated ? "HP-GL/2: " + Details() : std::string();
    if (!NotDrawn.empty())
        text += (text.empty() ? "Not drawn: " : "; not drawn: ") + NotDrawnText();
    return text;
}

std::string TTranslateReport::NotDrawnText() const
{
    std::vector<std::pair<std::int64_t, std::string>> rows;
    for (const auto& [what, count] : NotDrawn)
        rows.emplace_back(-count, what);
    std::sort(rows.begin(), rows.end());
    std::string text;
    for (const auto& [count, what] : rows)
        text += (text.empty() ? "" : ", ") + GroupedNumber(-count) + " " + what;
    return text;
}

std::string GroupedNumber(std::int64_t n)
{
    const std::string digits = std::to_string(n < 0 ? -static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n));
    std::string out = n < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string TTranslateReport::Details() const
{
    if (!Translated)
        return std::string();
    std::string text;
    bool first = true;
    for (const auto& [what, count] : Done) {
        text += first ? "" : ", ";
        text += std::to_string(count) + " " + what;
        first = false;
    }
    if (Pages > 1) {
        text += first ? "" : ", ";
        text += std::to_string(Pages) + " pages side by side";
        first = false;
    }
    if (!Ignored.empty()) {
        std::int64_t n = 0;
        std::string names;
        for (const auto& [mnemonic, count] : Ignored) {
            n += count;
            names += (names.empty() ? "" : ", ") + mnemonic;
        }
        text += first ? "ignored: " : "; ignored: ";
        text += std::to_string(n) + (n == 1 ? " command (" : " commands (") + names + ")";
        first = false;
    }
    if (first)
        text += "translated";
    return text;
}

namespace {

TFileResult Translate(THpglSheet& sheet, hpgltok::TCharStream& s, std::uint64_t total, TTranslateReport* report)
{
    TTranslateReport local;
    TTranslateReport& r = report ? *report : local;
    r = TTranslateReport{};
    THpglObject* const before = sheet.Last;
    std::string reason = TranslateHpgl(sheet, s, total, r);
    if (const int error = s.ReadError(); error != 0 && reason.empty())
        return TFileResult::FromErrno(error);
    if (!reason.empty()) {
        sheet.TruncateAfter(before);
        TFileResult result;
        result.ErrorCode = EINVAL;
        result.Reason = reason;
        return result;
    }
    return TFileResult{};
}

}  // namespace

TFileResult LoadPlotFile(THpglSheet& sheet, const std::string& fileName, TPlotReading reading, TTranslateReport* report)
{
    if (reading == TPlotReading::Plain) {
        if (report)
            *report = TTranslateReport{};
        return sheet.LoadFromFile(fileName);
    }
    posixio::TFd fd(posixio::RetryEintr([&] { return ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (!fd.Valid())
        return TFileResult::FromErrno(errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && S_ISDIR(st.st_mode))
        return TFileResult::FromErrno(EISDIR);
    const std::uint64_t total = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    hpgltok::TCharStream s(std::move(fd));
    return Translate(sheet, s, total, report);
}

TFileResult LoadPlotText(THpglSheet& sheet, std::string_view text, TPlotReading reading, TTranslateReport* report)
{
    if (reading == TPlotReading::Plain) {
        if (report)
            *report = TTranslateReport{};
        sheet.LoadFromText(text);
        return TFileResult{};
    }
    hpgltok::TCharStream s(text);
    return Translate(sheet, s, text.size(), report);
}
