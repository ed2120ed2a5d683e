#pragma once
// The HPGL character stream and token syntax: carriage returns dropped, Ctrl-Z as the end,
// mnemonics as two letters, numbers with 32-bit wrap-around and fractions dropped. The plain
// reader and the HP-GL/2 translator both read with these, so a file that uses only the plain
// commands reads the same through either.

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "base/posixio.h"
#include "sheet/wrap.h"

namespace hpgltok {

constexpr int kEnd = -1;
constexpr int kCtrlZ = 26;

// Text-mode reading as plot files expect it: carriage returns vanish, Ctrl-Z ends the file,
// and the end flag stays set once a read has found nothing (a read error counts as the end).
// One character of push-back.
class TCharStream {
public:
    // Owns fd from here on, even if the buffer cannot be had.
    explicit TCharStream(posixio::TFd fd) : Fd(std::move(fd)), Buffer(new unsigned char[kBufferSize]) {}
    // Reads the bytes of text, which must outlive the stream.
    explicit TCharStream(std::string_view text)
        : Pos(reinterpret_cast<const unsigned char*>(text.data())), Limit(Pos + text.size()), Start(Pos),
          Offset(text.size())
    {}
    TCharStream(const TCharStream&) = delete;
    TCharStream& operator=(const TCharStream&) = delete;

    bool AtEnd() const { return End; }
    std::uint64_t Consumed() const { return Offset - static_cast<std::uint64_t>(Limit - Pos); }
    int ReadError() const { return Error; }

    // Everything above Ctrl-Z comes straight from the buffer; the rest takes the slow path.
    int Get()
    {
        if (Pos != Limit && *Pos > kCtrlZ)
            return *Pos++;
        return GetSlow();
    }

    // Only ever called with the character just read, which is still in the buffer.
    void Unget(int) { --Pos; }

    // The buffered bytes not yet read, for scanners that take the common case in one go and
    // leave anything unusual (a carriage return, Ctrl-Z, the buffer's end) to Get.
    const unsigned char* Cursor() const { return Pos; }
    const unsigned char* BufferEnd() const { return Limit; }
    void Skip(const unsigned char* to) { Pos = to; }

    // The byte read last, straight from the buffer, or kEnd at the buffer's start (after a
    // refill, or before anything was read).
    int Last() const { return Pos != Start ? Pos[-1] : kEnd; }

    // The next byte as it is, carriage return and Ctrl-Z included: data that counts its own
    // bytes (a printer language's binary blocks) must not lose or end at either.
    int GetRaw()
    {
        if (Pos == Limit && !Fill())
            return kEnd;
        return *Pos++;
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 16;

    int GetSlow()
    {
        for (;;) {
            if (Pos == Limit && !Fill())
                return kEnd;
            int c = *Pos++;
            if (c == '\r')
                continue;
            if (c == kCtrlZ) {
                End = true;
                Pos = Limit;
                return kEnd;
            }
            return c;
        }
    }

    bool Fill()
    {
        if (End || !Fd.Valid()) {
            End = true;
            return false;
        }
        const ssize_t n = posixio::RetryEintr([&] { return ::read(Fd.Get(), Buffer.get(), kBufferSize); });
        if (n > 0) {
            Pos = Start = Buffer.get();
            Limit = Pos + n;
            Offset += static_cast<std::uint64_t>(n);
            return true;
        }
        if (n < 0)
            Error = errno;
        End = true;
        return false;
    }

    posixio::TFd Fd;
    std::unique_ptr<unsigned char[]> Buffer;
    const unsigned char* Pos = nullptr;
    const unsigned char* Limit = nullptr;
    const unsigned char* Start = nullptr;  // the buffer's first byte
    std::uint64_t Offset = 0;
    int Error = 0;
    bool End = false;
};

inline bool IsLetter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline bool IsDigit(int c)
{
    return c >= '0' && c <= '9';
}

inline int Upper(int c)
{
    return c >= 'a' ? c - ('a' - 'A') : c;
}

// The first two consecutive letters, upper-cased, packed as c1 << 8 | c2; 0 at the end.
inline int ReadMnemonic(TCharStream& s)
{
    if (const unsigned char* p = s.Cursor(); s.BufferEnd() - p >= 2 && IsLetter(p[0]) && IsLetter(p[1])) {
        s.Skip(p + 2);
        return Upper(p[0]) << 8 | Upper(p[1]);
    }
    for (;;) {
        int c1 = kEnd;
        while (!s.AtEnd()) {
            c1 = s.Get();
            if (IsLetter(c1))
                break;
        }
        if (s.AtEnd())
            return 0;
        int c2 = s.Get();
        if (!IsLetter(c2))
            continue;
        return Upper(c1) << 8 | Upper(c2);
    }
}

// The number of leading decimal digits in the eight bytes of w (first byte lowest), and
// their value.
inline int DigitRun(std::uint64_t w, std::uint32_t& value)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t x = w ^ (kOnes * '0');  // a digit becomes 0..9
    const std::uint64_t other = (((x & (kOnes * 0x7f)) + kOnes * 0x76) | x) & (kOnes * 0x80);
    const int n = other ? std::countr_zero(other) / 8 : 8;
    if (n == 0) {
        value = 0;
        return 0;
    }
    // The digits moved to the high bytes, zeros before them; then pairs, fours, eights.
    std::uint64_t v = x << (8 * (8 - n));
    v = (v * 10 + (v >> 8)) & 0x00ff00ff00ff00ffu;
    v = (v * 100 + (v >> 16)) & 0x0000ffff0000ffffu;
    v = (v * 10000 + (v >> 32)) & 0xffffffffu;
    value = static_cast<std::uint32_t>(v);
    return n;
}

// ReadNumber's common case, read straight from the buffer: blanks, a lead character, digits
// and points, then the ending character (consumed unless a letter). Returns 0 when it cannot
// decide without Get (Ctrl-Z, a carriage return inside the digits, the buffer's end), having
// consumed nothing; otherwise 1 for a number and -1 for a lead letter.
inline int ScanNumber(TCharStream& s, std::int32_t& out)
{
    static constexpr std::uint32_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    const unsigned char* p = s.Cursor();
    const unsigned char* const end = s.BufferEnd();
    while (p != end && (*p == ' ' || *p == '\n' || *p == '\r'))
        ++p;
    if (p == end || *p == kCtrlZ)
        return 0;
    int c = *p;
    if (IsLetter(c)) {
        s.Skip(p);
        return -1;
    }
    std::uint32_t value = 0;
    bool fraction = c == '.';
    const bool negative = c == '-';
    if (IsDigit(c))
        value = static_cast<std::uint32_t>(c - '0');
    ++p;
    if (!fraction && end - p >= 8) {
        // Up to seven digits at once; wrap-around is the same as digit by digit (mod 2^32).
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if constexpr (std::endian::native == std::endian::big)
            w = __builtin_bswap64(w);
        std::uint32_t run;
        const int n = DigitRun(w, run);
        if (n < 8) {
            value = value * kPowers[n] + run;
            p += n;
        }
    }
    for (;; ++p) {
        if (p == end)
            return 0;
        c = *p;
        if (IsDigit(c)) {
            if (!fraction)
                value = value * 10u + static_cast<std::uint32_t>(c - '0');
        } else if (c == '.') {
            fraction = true;
        } else {
            break;
        }
    }
    // Carriage returns vanish: the character after them decides.
    while (c == '\r') {
        if (++p == end)
            return 0;
        c = *p;
    }
    if (IsDigit(c) || c == '.' || c == kCtrlZ)
        return 0;
    s.Skip(IsLetter(c) ? p : p + 1);
    auto v = static_cast<std::int32_t>(value);
    out = negative ? wrap::Neg(v) : v;
    return 1;
}

// One signed integer: fractions dropped, digits accumulated with 32-bit wrap-around as the
// files' producers expect, a lead letter pushed back as "no number".
inline bool ReadNumber(TCharStream& s, std::int32_t& out)
{
    if (const int scanned = ScanNumber(s, out); scanned != 0)
        return scanned > 0;
    std::uint32_t value = 0;
    bool fraction = false;
    bool negative = false;
    int c = kEnd;
    while (!s.AtEnd()) {
        c = s.Get();
        if (c != ' ' && c != '\n' && c != '\r')
            break;
    }
    for (;;) {
        if (s.AtEnd())
            return false;
        if (c == '.')
            fraction = true;
        else if (c == '-')
            negative = true;
        else if (IsLetter(c)) {
            s.Unget(c);
            return false;
        } else if (IsDigit(c) && !fraction)
            value = value * 10u + static_cast<std::uint32_t>(c - '0');
        c = s.Get();
        if (!IsDigit(c) && c != '.')
            break;
    }
    if (IsLetter(c))
        s.Unget(c);
    auto v = static_cast<std::int32_t>(value);
    out = negative ? wrap::Neg(v) : v;
    return true;
}

constexpr int Code(const char (&m)[3])
{
    return m[0] << 8 | m[1];
}

}  // namespace hpgltok
