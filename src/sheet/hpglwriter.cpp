// The HPGL writer: one command per line, CR LF, saved atomically.

#include <charconv>
#include <string>

#include "sheet/atomicfile.h"
#include "sheet/hpglsheet.h"

namespace {

// Text kept in memory, with the file output's Put.
struct TStringOut {
    std::string& Text;
    void Put(const char* s, std::size_t n) { Text.append(s, n); }
};

template <class TOut>
void Number(TOut& out, std::int32_t v)
{
    char digits[16];
    digits[0] = ' ';
    auto end = std::to_chars(digits + 1, digits + sizeof digits, v).ptr;
    out.Put(digits, static_cast<std::size_t>(end - digits));
}

template <class TOut>
void WriteObjects(const THpglObject* first, TOut& out)
{
    for (const THpglObject* o = first; o; o = o->Next) {
        const char* m = HpglMnemonic(o->Kind);
        if (!m)
            continue;
        out.Put(m, 2);
        switch (o->Kind) {
        case hkSP:
        case hkCI: Number(out, o->P1); break;
        case hkAA:
            Number(out, o->P1);
            Number(out, o->P2);
            Number(out, o->P3);
            break;
        case hkER:
            Number(out, o->P1);
            Number(out, o->P2);
            break;
        default:
            if (o->ParamCount == 2) {
                Number(out, o->P1);
                Number(out, o->P2);
            }
            break;
        }
        out.Put("\r\n", 2);
    }
}

}  // namespace

TFileResult THpglSheet::SaveToFile(const std::string& fileName) const
{
    return WriteFileAtomically(fileName, [this](TBufferedOut& out) { WriteObjects(First, out); });
}

std::string THpglSheet::SaveToText() const
{
    std::string text;
    TStringOut out{text};
    WriteObjects(First, out);
    return text;
}
