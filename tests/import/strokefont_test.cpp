#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fontgen/jhf.h"
#include "import/strokefont.h"

using namespace hpgl2;

namespace {

using TStrokes = std::vector<std::vector<TPt>>;

constexpr TStrokeFace kFaces[] = {TStrokeFace::SimplexRoman,  TStrokeFace::DuplexRoman,   TStrokeFace::TriplexRoman,
                                  TStrokeFace::SimplexScript, TStrokeFace::ComplexItalic, TStrokeFace::SimplexGreek,
                                  TStrokeFace::FuturaLight};
constexpr const char* kFaceFiles[] = {"rowmans", "rowmand", "rowmant", "scripts", "timesi", "greeks", "futural"};

struct TBounds {
    double X0 = HUGE_VAL, Y0 = HUGE_VAL, X1 = -HUGE_VAL, Y1 = -HUGE_VAL;
    double MidX() const { return (X0 + X1) / 2; }
};

TBounds Bounds(TStrokes::const_iterator first, TStrokes::const_iterator last)
{
    TBounds b;
    for (; first != last; ++first)
        for (const TPt p : *first) {
            b.X0 = std::min(b.X0, p.X);
            b.X1 = std::max(b.X1, p.X);
            b.Y0 = std::min(b.Y0, p.Y);
            b.Y1 = std::max(b.Y1, p.Y);
        }
    return b;
}
TBounds Bounds(const TStrokes& s)
{
    return Bounds(s.begin(), s.end());
}

bool Same(const TStrokes& a, const TStrokes& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!std::equal(a[i].begin(), a[i].end(), b[i].begin(), b[i].end(),
                        [](TPt p, TPt q) { return p.X == q.X && p.Y == q.Y; }))
            return false;
    return true;
}

std::string Hex(int code)
{
    std::ostringstream s;
    s << "0x" << std::hex << code;
    return s.str();
}

std::string ReadFont(const char* name)
{
    std::ifstream in(std::string(GRAFONEL_HERSHEY_DIR) + "/" + name + ".jhf", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TGlyph G(TStrokeFace face, int code, TCharSet set = TCharSet::Latin1)
{
    return Glyph(face, static_cast<unsigned char>(code), set);
}

}  // namespace

TEST(StrokeFontJhf, ReadsRecordsAcrossLineBreaksAndLiftsThePenAtSpaceR)
{
    // The second record breaks inside a pair and after a pen-up, one line ending in CR LF;
    // the third lifts the pen twice in a row.
    const std::string text = "   32  1JZ\n"
                             "\n"
                             "  714  9MWRFRT R\r\nRYQ\nZR[SZRY\n"
                             "99999  5AbRR R RSS  \n";
    const auto glyphs = fontgen::ParseJhf(text);
    ASSERT_EQ(glyphs.size(), 3u);
    EXPECT_EQ(glyphs[0].Number, 32);
    EXPECT_EQ(glyphs[0].Left, -8);
    EXPECT_EQ(glyphs[0].Right, 8);
    EXPECT_TRUE(glyphs[0].Strokes.empty());

    EXPECT_EQ(glyphs[1].Number, 714);
    EXPECT_EQ(glyphs[1].Left, -5);
    EXPECT_EQ(glyphs[1].Right, 5);
    ASSERT_EQ(glyphs[1].Strokes.size(), 2u);
    const std::vector<std::pair<int, int>> bar = {{0, -12}, {0, 2}}, dot = {{0, 7}, {-1, 8}, {0, 9}, {1, 8}, {0, 7}};
    for (const auto& [got, want] : {std::pair{glyphs[1].Strokes[0], bar}, std::pair{glyphs[1].Strokes[1], dot}}) {
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i].X == want[i].first && got[i].Y == want[i].second) << i;
    }

    EXPECT_EQ(glyphs[2].Left, 'A' - 'R');
    EXPECT_EQ(glyphs[2].Right, 'b' - 'R');
    ASSERT_EQ(glyphs[2].Strokes.size(), 2u);
    EXPECT_EQ(glyphs[2].Strokes[0].size(), 1u);
    EXPECT_EQ(glyphs[2].Strokes[1].size(), 1u);
    EXPECT_EQ(glyphs[2].Strokes[1][0].X, 1);
}

TEST(StrokeFontJhf, RefusesMalformedRecordsNamingTheirLine)
{
    const struct {
        const char* Text;
        const char* Line;
    } cases[] = {
        {"    1  1JZ\n    2  3JZRF\n", "line 2:"},      // ends before its pairs
        {"    1  2JZRFRT\n", "line 1:"},                // more pairs than counted
        {"    1  0JZ\n", "line 1:"},                    // not even the extents
        {"   x1  1JZ\n", "line 1:"},                    // no number
        {"    1 1xJZ\n", "line 1:"},                    // no count
        {"    1  1J", "line 1:"},                       // header cut short
        {"    1  2JZ\n\n    2  2JZR\tF\n", "line 3:"},  // a tab inside a pair
    };
    for (const auto& c : cases) {
        try {
            fontgen::ParseJhf(c.Text);
            ADD_FAILURE() << "accepted: " << c.Text;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.Line, 0), 0u) << e.what();
        }
    }
}

// The built-in tables are the fonts as read from the files, moved to the glyph's left extent
// and the baseline (y = 9 in the files, which count y downwards).
TEST(StrokeFontData, TablesHoldTheFontFilesGlyphForGlyph)
{
    for (std::size_t f = 0; f < std::size(kFaces); ++f) {
        const auto parsed = fontgen::ParseJhf(ReadFont(kFaceFiles[f]));
        ASSERT_GE(parsed.size(), 95u) << kFaceFiles[f];
        for (int code = 32; code <= 126; ++code) {
            const fontgen::TJhfGlyph& want = parsed[std::size_t(code - 32)];
            TStrokes strokes;
            for (const auto& s : want.Strokes) {
                strokes.emplace_back();
                for (const auto& p : s)
                    strokes.back().push_back({double(p.X - want.Left), double(9 - p.Y)});
            }
            const TGlyph g = G(kFaces[f], code);
            // A blank record stands for a letter the face lacks.
            EXPECT_EQ(g.Known, code == ' ' || !want.Strokes.empty()) << kFaceFiles[f] << " " << char(code);
            if (!g.Known)
                continue;
            if (want.Right > want.Left) {
                EXPECT_EQ(g.Left, want.Left);
                EXPECT_EQ(g.Right, want.Right);
            }
            EXPECT_TRUE(Same(g.Strokes, strokes)) << kFaceFiles[f] << " " << char(code);
        }
    }
}

TEST(StrokeFontData, SimplexRomanLettersHaveTheirShapes)
{
    const TStrokeFace face = TStrokeFace::SimplexRoman;
    const TGlyph h = G(face, 'H'), o = G(face, 'O'), i = G(face, 'I');
    EXPECT_EQ(h.Strokes.size(), 3u);
    const TBounds hb = Bounds(h.Strokes);
    EXPECT_EQ(hb.Y0, 0);
    EXPECT_EQ(hb.Y1, CapHeight(face));
    ASSERT_EQ(o.Strokes.size(), 1u);
    EXPECT_TRUE(o.Strokes[0].front().X == o.Strokes[0].back().X && o.Strokes[0].front().Y == o.Strokes[0].back().Y);
    ASSERT_EQ(i.Strokes.size(), 1u);
    for (const TPt p : i.Strokes[0])
        EXPECT_EQ(p.X, i.Strokes[0][0].X);
    for (const TGlyph* g : {&h, &o, &i}) {
        EXPECT_LT(g->Left, 0);
        EXPECT_GT(g->Right, 0);
    }
    for (const TStrokeFace f : kFaces)
        EXPECT_EQ(CapHeight(f), 21);
}

TEST(StrokeFontAscii, EveryPrintableIsKnownAndWithinItsCell)
{
    for (const TStrokeFace face : kFaces) {
        const double cap = CapHeight(face);
        for (int code = 32; code <= 126; ++code) {
            const TGlyph g = G(face, code);
            const bool lacking = face == TStrokeFace::SimplexGreek && std::strchr("YZyz", code);
            ASSERT_EQ(g.Known, !lacking) << char(code);
            EXPECT_GT(g.Advance(), 0) << code;
            EXPECT_EQ(g.Strokes.empty(), code == ' ') << char(code);
            if (g.Strokes.empty())
                continue;
            const TBounds b = Bounds(g.Strokes);
            EXPECT_GE(b.Y0, -0.6 * cap) << char(code);
            EXPECT_LE(b.Y1, 1.25 * cap) << char(code);
            if (face == TStrokeFace::SimplexRoman) {
                EXPECT_GE(b.X0, 0) << char(code);
                EXPECT_LE(b.X1, g.Advance()) << char(code);
            }
        }
    }
}

TEST(StrokeFontAscii, SameInBothSetsAndNothingForControlsOrDelete)
{
    for (int code = 32; code <= 126; ++code)
        EXPECT_TRUE(Same(G(TStrokeFace::SimplexRoman, code, TCharSet::Roman8).Strokes,
                         G(TStrokeFace::SimplexRoman, code).Strokes));
    for (const int code : {0, 10, 27, 31, 127, 128, 159})
        for (const TCharSet set : {TCharSet::Roman8, TCharSet::Latin1})
            EXPECT_FALSE(G(TStrokeFace::SimplexRoman, code, set).Known) << code;
}

TEST(StrokeFontAccents, BaseLetterKeptAndMarkAboveOrBelowIt)
{
    enum TWhere { Above, Below };
    const struct {
        unsigned char Code;
        TCharSet Set;
        char Base;
        std::size_t MarkStrokes;
        TWhere Where;
    } cases[] = {
        {0xE9, TCharSet::Latin1, 'e', 1, Above},  // é
        {0xDC, TCharSet::Latin1, 'U', 2, Above},  // Ü
        {0xF1, TCharSet::Latin1, 'n', 1, Above},  // ñ
        {0xE7, TCharSet::Latin1, 'c', 1, Below},  // ç
        {0xE5, TCharSet::Latin1, 'a', 1, Above},  // å
        {0xC2, TCharSet::Latin1, 'A', 1, Above},  // Â
        {0xC8, TCharSet::Latin1, 'E', 1, Above},  // È
        {0xC7, TCharSet::Latin1, 'C', 1, Below},  // Ç
        {0xFF, TCharSet::Latin1, 'y', 2, Above},  // ÿ
        {0xEB, TCharSet::Roman8, 'S', 1, Above},  // Š
        {0xE2, TCharSet::Roman8, 'a', 1, Above},  // ã
        {0xD0, TCharSet::Roman8, 'A', 1, Above},  // Å
    };
    for (const TStrokeFace face : kFaces) {
        if (face == TStrokeFace::SimplexGreek)
            continue;
        for (const auto& c : cases) {
            SCOPED_TRACE(Hex(c.Code) + " over " + c.Base + " in face " + std::to_string(int(face)));
            const TGlyph base = G(face, c.Base);
            const TGlyph g = Glyph(face, c.Code, c.Set);
            ASSERT_TRUE(g.Known);
            EXPECT_EQ(g.Advance(), base.Advance());
            ASSERT_EQ(g.Strokes.size(), base.Strokes.size() + c.MarkStrokes);
            const auto markStart = g.Strokes.begin() + std::ptrdiff_t(base.Strokes.size());
            EXPECT_TRUE(Same(TStrokes(g.Strokes.begin(), markStart), base.Strokes));
            const TBounds letter = Bounds(base.Strokes), mark = Bounds(markStart, g.Strokes.end());
            if (c.Where == Above) {
                EXPECT_GT(mark.Y0, letter.Y1);
                EXPECT_LT(mark.Y1, letter.Y1 + 0.5 * CapHeight(face));
            } else {
                EXPECT_LE(mark.Y1, letter.Y0);
                EXPECT_LT(mark.Y0, -0.1 * CapHeight(face));
            }
            EXPECT_GT(mark.MidX(), letter.X0);
            EXPECT_LT(mark.MidX(), letter.X1);
        }
    }
}

TEST(StrokeFontAccents, AccentReplacesTheDotOfAnI)
{
    for (const TStrokeFace face : {TStrokeFace::SimplexRoman, TStrokeFace::TriplexRoman, TStrokeFace::SimplexScript}) {
        const TGlyph i = G(face, 'i'), acute = G(face, 0xED);  // í
        const double dotTop = Bounds(i.Strokes).Y1;
        ASSERT_GE(acute.Strokes.size(), 2u);
        const TBounds stem(Bounds(acute.Strokes.begin(), acute.Strokes.end() - 1));
        const TBounds mark(Bounds(acute.Strokes.end() - 1, acute.Strokes.end()));
        EXPECT_LT(stem.Y1, dotTop - 2) << int(face);
        EXPECT_GT(mark.Y0, stem.Y1) << int(face);
        EXPECT_LE(acute.Strokes.size(), i.Strokes.size()) << int(face);
    }
}

TEST(StrokeFontAccents, SpacingMarksTurnedPunctuationAndSlashedO)
{
    const TStrokeFace face = TStrokeFace::SimplexRoman;
    const double cap = CapHeight(face);
    // A mark without a letter sits where it would over a small letter; the cedilla under.
    for (const auto& [code, set] : {std::pair{0xB4, TCharSet::Latin1}, std::pair{0xA8, TCharSet::Roman8},
                                    std::pair{0xB0, TCharSet::Latin1}, std::pair{0xB3, TCharSet::Roman8}}) {
        const TGlyph g = G(face, code, set);
        ASSERT_TRUE(g.Known) << Hex(code);
        const TBounds b = Bounds(g.Strokes);
        EXPECT_GT(b.Y0, cap / 2) << Hex(code);
        EXPECT_LT(b.Y1, 1.5 * cap) << Hex(code);
        EXPECT_TRUE(b.X0 > 0 && b.X1 < g.Advance()) << Hex(code);
    }
    EXPECT_LT(Bounds(G(face, 0xB8).Strokes).Y1, 0.1);  // ¸

    // ¡ and ¿: the point on top, the body down below the baseline.
    for (const auto& [code, base] : {std::pair{0xA1, '!'}, std::pair{0xBF, '?'}}) {
        const TGlyph turned = G(face, code), upright = G(face, base);
        ASSERT_EQ(turned.Strokes.size(), upright.Strokes.size());
        const TBounds t = Bounds(turned.Strokes), u = Bounds(upright.Strokes);
        EXPECT_NEAR(t.Y1 - t.Y0, u.Y1 - u.Y0, 1e-9);
        EXPECT_LT(t.Y0, -0.2 * cap);
        const TBounds point = Bounds(turned.Strokes.end() - 1, turned.Strokes.end());
        EXPECT_GT(point.Y0, Bounds(turned.Strokes.begin(), turned.Strokes.end() - 1).Y1);
    }

    // Ø: the O and a stroke across it from below left to above right.
    const TGlyph o = G(face, 'O'), slashed = G(face, 0xD8);
    ASSERT_EQ(slashed.Strokes.size(), o.Strokes.size() + 1);
    const TBounds ob = Bounds(o.Strokes);
    const std::vector<TPt>& slash = slashed.Strokes.back();
    ASSERT_EQ(slash.size(), 2u);
    EXPECT_TRUE(slash[0].X < ob.X0 && slash[0].Y < ob.Y0 && slash[1].X > ob.X1 && slash[1].Y > ob.Y1);
}

TEST(StrokeFontSets, MuFromTheGreekFaceInBothSets)
{
    const TGlyph mu = G(TStrokeFace::SimplexGreek, 'l');
    for (const TStrokeFace face : kFaces)
        for (const TGlyph& g : {G(face, 0xB5), G(face, 0xF3, TCharSet::Roman8)}) {
            EXPECT_TRUE(g.Known);
            EXPECT_TRUE(Same(g.Strokes, mu.Strokes)) << int(face);
            EXPECT_EQ(g.Advance(), mu.Advance());
        }
    // The Greek face's own letters: its a is alpha, not the Latin a.
    EXPECT_FALSE(Same(G(TStrokeFace::SimplexGreek, 'a').Strokes, G(TStrokeFace::SimplexRoman, 'a').Strokes));
}

TEST(StrokeFontSets, Roman8AndLatin1PlaceLettersApart)
{
    // Each row: a Roman-8 code and the Latin-1 code of the same character.
    const std::pair<int, int> same[] = {
        {0xC5, 0xE9},  // é
        {0xD0, 0xC5},  // Å
        {0xA1, 0xC0},  // À
        {0xB4, 0xC7},  // Ç
        {0xCF, 0xFC},  // ü
        {0xD2, 0xD8},  // Ø
        {0xB8, 0xA1},  // ¡
        {0xA8, 0xB4},  // ´
    };
    const TStrokeFace face = TStrokeFace::SimplexRoman;
    for (const auto& [r8, l1] : same)
        EXPECT_TRUE(Same(G(face, r8, TCharSet::Roman8).Strokes, G(face, l1).Strokes)) << Hex(r8) << " " << Hex(l1);
    EXPECT_FALSE(Same(G(face, 0xC5, TCharSet::Roman8).Strokes, G(face, 0xC5).Strokes));
    // Characters one set has and the other lacks.
    EXPECT_TRUE(G(face, 0xEE, TCharSet::Roman8).Known);   // Ÿ
    EXPECT_FALSE(G(face, 0xD7).Known);                    // ×, where Roman-8 has æ
    EXPECT_FALSE(G(face, 0xFF, TCharSet::Roman8).Known);  // nothing
    EXPECT_TRUE(G(face, 0xFF).Known);                     // ÿ
}

TEST(StrokeFontSets, UnknownCodesDrawAClosedBox)
{
    for (const TStrokeFace face : kFaces)
        for (const auto& [code, set] : {std::pair{0x00, TCharSet::Latin1}, std::pair{0x7F, TCharSet::Roman8},
                                        std::pair{0xA4, TCharSet::Latin1}, std::pair{0xDE, TCharSet::Roman8}}) {
            const TGlyph g = G(face, code, set);
            EXPECT_FALSE(g.Known);
            ASSERT_EQ(g.Strokes.size(), 1u);
            const auto& ring = g.Strokes[0];
            ASSERT_EQ(ring.size(), 5u);
            EXPECT_TRUE(ring.front().X == ring.back().X && ring.front().Y == ring.back().Y);
            const TBounds b = Bounds(g.Strokes);
            EXPECT_TRUE(b.X0 > 0 && b.X1 < g.Advance() && b.Y0 >= 0 && b.Y1 <= CapHeight(face)) << Hex(code);
            EXPECT_GT(b.Y1 - b.Y0, 0);
        }
}

// Glyph runs once per character of every label: it must size its vectors once.
TEST(StrokeFontSets, GlyphsAllocateExactly)
{
    for (const TStrokeFace face : kFaces)
        for (const TCharSet set : {TCharSet::Roman8, TCharSet::Latin1})
            for (int code = 0; code < 256; ++code) {
                const TGlyph g = G(face, code, set);
                EXPECT_EQ(g.Strokes.capacity(), g.Strokes.size()) << Hex(code);
                for (const auto& s : g.Strokes)
                    EXPECT_EQ(s.capacity(), s.size()) << Hex(code);
            }
}

TEST(StrokeFontFaces, HpglFontChoicesPickFaces)
{
    const struct {
        int Typeface, Posture, Weight, Spacing;
        TStrokeFace Want;
    } cases[] = {
        {48, 0, 0, 0, TStrokeFace::SimplexRoman},     // stick, the default
        {50, 0, 0, 1, TStrokeFace::SimplexRoman},     // arc
        {0, 0, 0, 0, TStrokeFace::SimplexRoman},      // line printer
        {4099, 0, 0, 0, TStrokeFace::SimplexRoman},   // CG Courier
        {48, 0, 3, 0, TStrokeFace::DuplexRoman},      // bold stick
        {48, 0, 9999, 0, TStrokeFace::SimplexRoman},  // the pen's weight is not bold
        {48, 0, -3, 0, TStrokeFace::SimplexRoman},    // light
        {4, 0, 0, 1, TStrokeFace::FuturaLight},       // Helvetica
        {4148, 0, 0, 1, TStrokeFace::FuturaLight},    // Univers
        {16602, 0, 0, 1, TStrokeFace::FuturaLight},   // Arial
        {4148, 0, 5, 1, TStrokeFace::DuplexRoman},    // Univers black
        {5, 0, 0, 1, TStrokeFace::DuplexRoman},       // Times
        {4101, 0, 0, 1, TStrokeFace::DuplexRoman},    // CG Times
        {4101, 0, 3, 1, TStrokeFace::TriplexRoman},   // CG Times bold
        {16901, 0, 3, 1, TStrokeFace::TriplexRoman},  // Times New Roman bold
        {4101, 1, 0, 1, TStrokeFace::ComplexItalic},  // CG Times italic
        {48, 2, 3, 0, TStrokeFace::ComplexItalic},    // alternate italic wins over bold
        {7, 0, 0, 1, TStrokeFace::SimplexScript},     // script
        {4116, 1, 3, 1, TStrokeFace::SimplexScript},  // Coronet stays script, slanted or bold
        {4297, 0, 0, 1, TStrokeFace::SimplexScript},  // Marigold
        {999, 0, 0, 1, TStrokeFace::FuturaLight},     // unknown, proportional
        {999, 0, 4, 0, TStrokeFace::DuplexRoman},     // unknown, fixed, bold
        {-5, 0, 0, 0, TStrokeFace::SimplexRoman},     // nonsense
    };
    for (const auto& c : cases)
        EXPECT_EQ(FaceFor(c.Typeface, c.Posture, c.Weight, c.Spacing), c.Want)
            << c.Typeface << " " << c.Posture << " " << c.Weight << " " << c.Spacing;
}
