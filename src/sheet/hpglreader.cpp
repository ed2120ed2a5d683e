// The HPGL reader: a character stream with one character of push-back, and the command and
// number syntax that every plot file of this program is read with.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "base/posixio.h"
#include "sheet/extentswalk.h"
#include "sheet/hpglsheet.h"
#include "sheet/hpgltokens.h"
#include "sheet/wrap.h"

namespace {

using namespace hpgltok;

constexpr int kEtx = 3;
constexpr int kEsc = 27;

// Appends every command of the stream to the sheet; the progress hook learns how far it got.
// The extents are gathered as the objects come, while they are still in the cache.
void ReadCommands(THpglSheet& sheet, TCharStream& s, std::uint64_t total, TExtentsWalk& extents)
{
    std::uint8_t counter = 0;
    int terminator = kEtx;
    for (int m = ReadMnemonic(s); m != 0; m = ReadMnemonic(s)) {
        if (counter % 32 == 0)
            extents.TakeUpTo(sheet);
        if (counter++ % 100 == 0 && sheet.OnProgress)
            sheet.OnProgress(s.Consumed(), total);
        std::int8_t kind;
        switch (m) {
        case Code("PU"): kind = hkPU; break;
        case Code("PD"): kind = hkPD; break;
        case Code("PA"): kind = hkPA; break;
        case Code("PR"): kind = hkPR; break;
        case Code("SP"): kind = hkSP; break;
        case Code("CI"): kind = hkCI; break;
        case Code("AA"): kind = hkAA; break;
        case Code("ER"): kind = hkER; break;
        case Code("LB"): {
            int c;
            do
                c = s.Get();
            while (c != '\n' && c != terminator && c != kEnd);
            continue;
        }
        case Code("DT"): {
            // The terminator is the character that follows; ';', a line feed, NUL or ESC
            // (or nothing) restore ETX.
            const int c = s.Get();
            terminator = c == ';' || c == '\n' || c == 0 || c == kEsc || c == kEnd ? kEtx : c;
            continue;
        }
        default: continue;
        }
        std::int32_t a, b, c;
        switch (kind) {
        case hkSP:
        case hkCI:
            if (ReadNumber(s, a))
                sheet.Add(kind, a);
            break;
        case hkAA:
            if (ReadNumber(s, a) && ReadNumber(s, b) && ReadNumber(s, c))
                sheet.Add(kind, a, b, c);
            break;
        case hkER:
            if (ReadNumber(s, a) && ReadNumber(s, b))
                sheet.Add(kind, a, b);
            break;
        default:  // pen commands: one object per complete pair
            if (ReadNumber(s, a) && ReadNumber(s, b)) {
                sheet.Add(kind, a, b);
                while (ReadNumber(s, a) && ReadNumber(s, b))
                    sheet.Add(kind, a, b);
            } else {
                sheet.Add(kind);
            }
            break;
        }
    }
}

}  // namespace

TFileResult THpglSheet::LoadFromFile(const std::string& fileName)
{
    posixio::TFd fd(posixio::RetryEintr([&] { return ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (!fd.Valid())
        return TFileResult::FromErrno(errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && S_ISDIR(st.st_mode))
        return TFileResult::FromErrno(EISDIR);
    const std::uint64_t total = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;

    TCharStream s(std::move(fd));
    TExtentsWalk extents;
    ReadCommands(*this, s, total, extents);
    int readError = s.ReadError();
    extents.TakeUpTo(*this);
    extents.Store(*this);
    // Objects read before a read error stay in the sheet, but the caller learns of it.
    return readError ? TFileResult::FromErrno(readError) : TFileResult{};
}

void THpglSheet::LoadFromText(std::string_view text)
{
    TCharStream s(text);
    TExtentsWalk extents;
    ReadCommands(*this, s, text.size(), extents);
    extents.TakeUpTo(*this);
    extents.Store(*this);
}
