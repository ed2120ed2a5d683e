#include "import/strokefont.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <span>
#include <string_view>

namespace hpgl2 {

namespace {

// One face's glyphs for ASCII 32 to 126, as tools/fontgen writes them.
struct TFaceData {
    std::string_view File;
    const std::int8_t* Points;          // x, y from the left extent and the baseline
    const std::uint16_t* StrokeStarts;  // first point of each stroke, then the end
    const std::uint16_t* GlyphStarts;   // first stroke of each glyph, then the end
    const std::int8_t* Extents;         // left, right of each glyph
    int CapHeight;
    int XHeight;
};

#include "strokefont_data.inc"

constexpr std::string_view kFaceFiles[] = {"rowmans", "rowmand", "rowmant", "scripts", "timesi", "greeks", "futural"};

constexpr bool FacesInEnumOrder()
{
    if (std::size(kFaceData) != std::size(kFaceFiles))
        return false;
    for (std::size_t i = 0; i < std::size(kFaceFiles); ++i)
        if (kFaceData[i].File != kFaceFiles[i])
            return false;
    return true;
}
static_assert(FacesInEnumOrder(), "the faces listed in src/import/CMakeLists.txt differ from TStrokeFace");

constexpr int kFirstCode = 32, kLastCode = 126;
constexpr int kUpperHalf = 0xA0;
// The marks below are drawn for this cap height and scaled to the face's.
constexpr double kMarkCapHeight = 21;
// Between a letter's top and the foot of its accent.
constexpr double kMarkGap = 2;

enum class TMark : std::uint8_t {
    None,
    Acute,
    Grave,
    Circumflex,
    Caron,
    Diaeresis,
    Tilde,
    Ring,
    Macron,
    Cedilla,   // below
    Slash,     // through the letter
    Inverted,  // the base turned half round: ¡ ¿
    Greek,     // the base from the Greek face
};

struct TCompose {
    char Base = 0;  // 0: not drawn
    TMark Mark = TMark::None;
};

using enum TMark;

// Codes 0xA0 to 0xFF, two characters each: the base and its mark, one of ' acute, ` grave,
// ^ circumflex, v caron, : diaeresis, ~ tilde, o ring, _ macron, , cedilla, / slash,
// ! inverted, g Greek, blank none. ".." is a character not drawn.
constexpr std::string_view kLatin1Pairs = "  !!............ :........- .. _"
                                          " o...... 'lg.... ,............?!"
                                          "A`A'A^A~A:Ao..C,E`E'E^E:I`I'I^I:"
                                          "..N~O`O'O^O~O:..O/U`U'U^U:Y'...."
                                          "a`a'a^a~a:ao..c,e`e'e^e:i`i'i^i:"
                                          "..n~o`o'o^o~o:..o/u`u'u^u:y'..y:";
constexpr std::string_view kRoman8Pairs = "  A`A^E`E^E:I^I: ' ` ^ : ~U`U^.."
                                          " _Y'y' oC,c,N~n~!!?!............"
                                          "a^e^o^u^a'e'o'u'a`e`o`u`a:e:o:u:"
                                          "Aoi^O/..aoi'o/..A:i`O:U:E'i:..O^"
                                          "A'A~a~....I'I`O'O`O~o~SvsvU'Y:y:"
                                          "......lg........................";

constexpr TMark MarkOf(char c)
{
    switch (c) {
    case '\'': return Acute;
    case '`': return Grave;
    case '^': return Circumflex;
    case 'v': return Caron;
    case ':': return Diaeresis;
    case '~': return Tilde;
    case 'o': return Ring;
    case '_': return Macron;
    case ',': return Cedilla;
    case '/': return Slash;
    case '!': return Inverted;
    case 'g': return Greek;
    default: return None;
    }
}

constexpr std::array<TCompose, 96> UpperHalf(std::string_view pairs)
{
    std::array<TCompose, 96> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        if (pairs[2 * i + 1] != '.')
            table[i] = {pairs[2 * i], MarkOf(pairs[2 * i + 1])};
    return table;
}

static_assert(kLatin1Pairs.size() == 192 && kRoman8Pairs.size() == 192);
constexpr auto kLatin1 = UpperHalf(kLatin1Pairs);
constexpr auto kRoman8 = UpperHalf(kRoman8Pairs);

// Marks in font units for kMarkCapHeight, around the middle of the mark's foot.
constexpr TPt kAcute[] = {{-1.5, 0}, {1.5, 4}};
constexpr TPt kGrave[] = {{-1.5, 4}, {1.5, 0}};
constexpr TPt kCircumflex[] = {{-3, 0}, {0, 3}, {3, 0}};
constexpr TPt kCaron[] = {{-3, 3}, {0, 0}, {3, 3}};
// Dots as the faces' own full stop draws them: a diamond of radius 1.
constexpr TPt kLeftDot[] = {{-2.5, 2}, {-3.5, 1}, {-2.5, 0}, {-1.5, 1}, {-2.5, 2}};
constexpr TPt kRightDot[] = {{2.5, 2}, {1.5, 1}, {2.5, 0}, {3.5, 1}, {2.5, 2}};
constexpr TPt kTilde[] = {{-4, 0}, {-3, 1.5}, {-1.5, 2}, {1.5, 0}, {3, 0.5}, {4, 2}};
constexpr TPt kRing[] = {{0, 0},          {1.414, 0.586}, {2, 2},          {1.414, 3.414}, {0, 4},
                         {-1.414, 3.414}, {-2, 2},        {-1.414, 0.586}, {0, 0}};  // radius 2
constexpr TPt kMacron[] = {{-3, 1}, {3, 1}};
// From the letter's foot down.
constexpr TPt kCedilla[] = {{0, 0}, {0, -2}, {1.5, -2.5}, {2, -3.5}, {1.5, -4.5}, {-1, -5}};

struct TShape {
    std::span<const TPt> First;
    std::span<const TPt> Second;
    int Count() const { return int(!First.empty()) + int(!Second.empty()); }
};

constexpr TShape Shape(TMark m)
{
    switch (m) {
    case Acute: return {kAcute, {}};
    case Grave: return {kGrave, {}};
    case Circumflex: return {kCircumflex, {}};
    case Caron: return {kCaron, {}};
    case Diaeresis: return {kLeftDot, kRightDot};
    case Tilde: return {kTilde, {}};
    case Ring: return {kRing, {}};
    case Macron: return {kMacron, {}};
    case Cedilla: return {kCedilla, {}};
    default: return {};
    }
}

constexpr bool Above(TMark m)
{
    return m != None && m != Cedilla && m != Slash && m != Inverted && m != Greek;
}

const TFaceData& Data(TStrokeFace face)
{
    return kFaceData[std::size_t(face)];
}

TPt Point(const TFaceData& f, int i)
{
    return {double(f.Points[2 * i]), double(f.Points[2 * i + 1])};
}

// The dot of an i, which an accent replaces: a stroke wholly above the x-height.
bool IsDot(const TFaceData& f, int stroke)
{
    for (int i = f.StrokeStarts[stroke]; i < f.StrokeStarts[stroke + 1]; ++i)
        if (Point(f, i).Y <= f.XHeight + 1)
            return false;
    return true;
}

struct TBox {
    double X0 = HUGE_VAL, Y0 = HUGE_VAL, X1 = -HUGE_VAL, Y1 = -HUGE_VAL;
    bool Empty() const { return X0 > X1; }
    void Add(TPt p)
    {
        X0 = std::min(X0, p.X);
        X1 = std::max(X1, p.X);
        Y0 = std::min(Y0, p.Y);
        Y1 = std::max(Y1, p.Y);
    }
};

// Stands for a character not drawn: a box as high as a small letter in the cell of a space,
// which is the same in every face.
TGlyph Box()
{
    constexpr double kLeft = -8, kRight = 8, kInset = 2, kTop = 14;
    constexpr double x0 = kInset, x1 = kRight - kLeft - kInset;
    TGlyph g;
    g.Left = kLeft;
    g.Right = kRight;
    g.Strokes.push_back({{x0, 0}, {x1, 0}, {x1, kTop}, {x0, kTop}, {x0, 0}});
    return g;
}

}  // namespace

TStrokeFace FaceFor(int typeface, int posture, int weight, int spacing)
{
    enum class TKind { Stick, Sans, Serif, Script };
    TKind kind = spacing == 1 ? TKind::Sans : TKind::Stick;
    // clang-format off
    switch (typeface >= 0 ? typeface % 4096 : -1) {
    case 0: case 1: case 2: case 3: case 6: case 8: case 48: case 50: kind = TKind::Stick; break;
    case 4: case 52: case 218: kind = TKind::Sans; break;
    case 5: case 517: kind = TKind::Serif; break;
    case 7: case 20: case 201: kind = TKind::Script; break;
    default: break;
    }
    // clang-format on
    if (kind == TKind::Script)
        return TStrokeFace::SimplexScript;
    if (posture == 1 || posture == 2)
        return TStrokeFace::ComplexItalic;
    const bool bold = weight >= 3 && weight <= 7;
    switch (kind) {
    case TKind::Sans: return bold ? TStrokeFace::DuplexRoman : TStrokeFace::FuturaLight;
    case TKind::Serif: return bold ? TStrokeFace::TriplexRoman : TStrokeFace::DuplexRoman;
    default: return bold ? TStrokeFace::DuplexRoman : TStrokeFace::SimplexRoman;
    }
}

double CapHeight(TStrokeFace face)
{
    return Data(face).CapHeight;
}

TGlyph Glyph(TStrokeFace face, unsigned char code, TCharSet set)
{
    TCompose c;
    if (code >= kFirstCode && code <= kLastCode)
        c = {char(code), None};
    else if (code >= kUpperHalf)
        c = (set == TCharSet::Roman8 ? kRoman8 : kLatin1)[code - kUpperHalf];
    if (c.Base == 0)
        return Box();

    const TFaceData& f = Data(c.Mark == Greek ? TStrokeFace::SimplexGreek : face);
    const int index = c.Base - kFirstCode;
    const int first = f.GlyphStarts[index], last = f.GlyphStarts[index + 1];
    if (first == last && c.Base != ' ')
        return Box();  // the Greek face has no Y or Z
    const bool dotless = c.Base == 'i' && Above(c.Mark);
    const TShape shape = Shape(c.Mark);

    TGlyph g;
    g.Known = true;
    g.Left = f.Extents[2 * index];
    g.Right = f.Extents[2 * index + 1];
    const double width = g.Right - g.Left;
    int count = shape.Count() + (c.Mark == Slash);
    for (int s = first; s < last; ++s)
        count += !(dotless && IsDot(f, s));
    g.Strokes.reserve(std::size_t(count));

    TBox box;
    for (int s = first; s < last; ++s) {
        if (dotless && IsDot(f, s))
            continue;
        auto& out = g.Strokes.emplace_back();
        out.reserve(std::size_t(f.StrokeStarts[s + 1] - f.StrokeStarts[s]));
        for (int i = f.StrokeStarts[s]; i < f.StrokeStarts[s + 1]; ++i) {
            TPt p = Point(f, i);
            if (c.Mark == Inverted)  // about the middle of the x-height: the body hangs below the line
                p = {width - p.X, f.XHeight - p.Y};
            box.Add(p);
            out.push_back(p);
        }
    }

    const double scale = f.CapHeight / kMarkCapHeight;
    if (c.Mark == Slash && !box.Empty()) {
        g.Strokes.push_back({{box.X0 - scale, box.Y0 - scale}, {box.X1 + scale, box.Y1 + scale}});
        return g;
    }
    if (shape.Count() == 0)
        return g;

    // The mark centres on the piece of the letter nearest to it (the apex of an A, the bowl
    // of a c), which follows an italic's slant.
    TPt foot{width / 2, c.Mark == Cedilla ? 0.0 : double(f.XHeight) + kMarkGap * scale};
    if (!box.Empty()) {
        const double band = (box.Y1 - box.Y0) / 4;
        TBox near;
        for (const auto& stroke : g.Strokes)
            for (const TPt p : stroke)
                if (c.Mark == Cedilla ? p.Y <= box.Y0 + band : p.Y >= box.Y1 - band)
                    near.Add(p);
        foot = {(near.X0 + near.X1) / 2, c.Mark == Cedilla ? box.Y0 : box.Y1 + kMarkGap * scale};
    }
    for (const std::span<const TPt> piece : {shape.First, shape.Second}) {
        if (piece.empty())
            continue;
        auto& out = g.Strokes.emplace_back();
        out.reserve(piece.size());
        for (const TPt p : piece)
            out.push_back({foot.X + p.X * scale, foot.Y + p.Y * scale});
    }
    return g;
}

}  // namespace hpgl2
