// The HP-GL/2 translator. It reads the whole vector language (and steps through the PCL, PJL
// and device-control wrappers around it) and writes what the file draws as the sheet's eight
// commands, in plotter units.
//
// Where nothing needs translating (no scaling, rotation, window, line type, polygon or later
// page) the eight commands are read with the plain reader's own token rules and passed on
// verbatim, so a file of those commands reads object for object as the plain reader reads it.
// Everything else is drawn through one pipeline: user units -> page (scaling, rotation) ->
// line type -> window -> the page's place -> rounded plotter units. The sheet's objects are
// written against the pen the device will have, tracked as "Out".
//
// HP-GL/1 and HP-GL/2 differ in places (line types' patterns, IN's effect on the pen); where
// they do, HP-GL/2 is followed and the code says so.

#include "import/hpgltranslate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

#include "import/hpglgeom.h"
#include "import/strokefont.h"
#include "sheet/extentswalk.h"
#include "sheet/hpgltokens.h"
#include "sheet/wrap.h"

namespace {

using namespace hpgltok;
using hpgl2::TPt;

constexpr int kEsc = 27;
constexpr int kEtx = 3;

// An HP 7475A with A4 paper, as HP documents it: the hard-clip limits and the default
// scaling points, in plotter units (1/40 mm).
constexpr double kDefaultFrameWidth = 11040;
constexpr double kDefaultFrameHeight = 7721;
constexpr TPt kDefaultP1{603, 521};
constexpr TPt kDefaultP2{10603, 7721};
constexpr double kUnitsPerMm = 40;
constexpr double kDefaultPenWidthMm = 0.35;
// Later pages start this far to the right of everything drawn before them.
constexpr double kPageGap = 400;
// Béziers are flattened to within half a plotter unit, as SVG curves are.
constexpr double kCurveTolerance = 0.5;
// A flattened arc or curve never takes more points than this; beyond, the object limit
// would refuse the file long before the drawing is of any use.
constexpr double kMaxCurvePoints = 1 << 20;

// HP-GL/2's line-type patterns (HP-GL/1's differ), in percent of the pattern length, pen down
// first. Index 0 is LT1.
const std::array<std::vector<double>, 8> kDefaultPatterns = {{
    {0, 100},
    {50, 50},
    {70, 30},
    {80, 10, 0, 10},
    {70, 10, 10, 10},
    {50, 10, 10, 10, 10, 10},
    {70, 10, 0, 10, 0, 10},
    {50, 10, 0, 10, 10, 10, 0, 10},
}};

// PE's digits by byte: the value, 0x40 on a terminating digit, 0xff for no digit.
constexpr std::array<std::uint8_t, 256> PeDigits(bool sevenBit)
{
    std::array<std::uint8_t, 256> t{};
    for (auto& d : t)
        d = 0xff;
    for (int c = 63; c <= 126; ++c)
        t[static_cast<std::size_t>(c)] =
            static_cast<std::uint8_t>(sevenBit ? (c < 95 ? c - 63 : (c - 95) | 0x40) : c - 63);
    if (!sevenBit)
        for (int c = 191; c <= 254; ++c)
            t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>((c - 191) | 0x40);
    return t;
}
constexpr auto kPeDigits8 = PeDigits(false);
constexpr auto kPeDigits7 = PeDigits(true);

// One PE number read straight from bytes known to hold enough of them, moving p past it.
// False, with p where it was, for anything unusual (a byte that is no digit, a long number);
// the careful reader takes those.
inline bool PeNumberFast(const unsigned char*& p, const std::array<std::uint8_t, 256>& table, int bits,
                         std::int64_t& out)
{
    std::uint64_t v = 0;
    int shift = 0;
    for (const unsigned char* q = p; shift < 60; shift += bits) {
        const std::uint8_t d = table[*q++];
        if (d == 0xff)
            return false;
        v |= static_cast<std::uint64_t>(d & 0x3f) << shift;
        if (d & 0x40) {
            p = q;
            const auto magnitude = static_cast<std::int64_t>(v >> 1);
            out = (v & 1) ? -magnitude : magnitude;
            return true;
        }
    }
    return false;
}

// A map from user units to the page: x' = A x + B y + E, y' = C x + D y + F.
struct TAffine {
    double A = 1, B = 0, C = 0, D = 1, E = 0, F = 0;

    TPt operator()(TPt p) const { return {A * p.X + B * p.Y + E, C * p.X + D * p.Y + F}; }
    TPt Linear(TPt v) const { return {A * v.X + B * v.Y, C * v.X + D * v.Y}; }
    bool Identity() const { return A == 1 && B == 0 && C == 0 && D == 1 && E == 0 && F == 0; }
    // Circles stay circles: a rotation and a uniform scale, mirrored or not.
    bool Conformal() const
    {
        const double sx = A * A + C * C, sy = B * B + D * D;
        return std::fabs(sx - sy) <= 1e-12 * std::max(sx, sy) && std::fabs(A * B + C * D) <= 1e-12 * std::max(sx, sy);
    }
    double Scale() const { return std::sqrt(A * A + C * C); }
    bool Mirrored() const { return A * D - B * C < 0; }
};

// Commands that neither draw nor change scale, window or the pen's state: stepping over them
// changes nothing the sheet holds, so a file may use them and still read as the plain reader
// reads it.
bool IsInert(int m)
{
    // clang-format off
    switch (m) {
    case Code("IN"): case Code("DF"): case Code("VS"): case Code("BP"): case Code("NR"): case Code("PT"):
    case Code("PW"): case Code("WU"): case Code("PC"): case Code("NP"): case Code("MC"): case Code("QL"):
    case Code("FS"): case Code("AS"): case Code("VA"): case Code("VN"): case Code("EC"): case Code("OA"):
    case Code("OC"): case Code("OD"): case Code("OE"): case Code("OF"): case Code("OH"): case Code("OI"):
    case Code("OK"): case Code("OL"): case Code("OO"): case Code("OP"): case Code("OS"): case Code("OT"):
    case Code("OW"): case Code("OG"): case Code("PS"): case Code("CS"): case Code("CA"): case Code("LM"):
    case Code("SB"): case Code("CF"): case Code("MG"): case Code("LA"):
        return true;
    default:
        return false;
    }
    // clang-format on
}

// A parameter that selects something (a type, a mode), as an int; anything beyond reason,
// NaN included, as a value no command accepts.
int Whole(double v)
{
    return v >= -1e9 && v <= 1e9 ? static_cast<int>(v) : -1'000'000'000;
}

std::string MnemonicText(int m)
{
    return std::string{static_cast<char>(m >> 8), static_cast<char>(m & 0xff)};
}

class TTranslator {
public:
    TTranslator(THpglSheet& sheet, TCharStream& s, std::uint64_t total, TTranslateReport& report,
                const TTranslateLimits& limits)
        : Sheet(sheet), Stream(&s), Total(total), Report(report), Limits(limits)
    {
        ResetState(true);
    }

    std::string Run();

private:
    // --- input -----------------------------------------------------------------------------
    int ReadMnemonicOrEscape();
    bool ReadReal(double& out);
    // A coordinate of the eight commands: the plain rules without scaling, decimals with it.
    bool ReadCoord(double& out)
    {
        if (!Scaled)
            return ReadPlainNumber(out);
        return ReadReal(out);
    }
    bool ReadPlainNumber(double& out)
    {
        std::int32_t v;
        if (!ReadPlain(v))
            return false;
        out = v;
        return true;
    }
    // The plain reader's number, except that an escape sequence is never taken for one (the
    // plain reader sees no escapes: a file with one is translated anyway).
    bool ReadPlain(std::int32_t& v)
    {
        const unsigned char* p = S().Cursor();
        const unsigned char* const end = S().BufferEnd();
        while (p != end && (*p == ' ' || *p == '\n' || *p == '\r'))
            ++p;
        if (p != end && *p == kEsc)
            return false;
        if (!ReadNumber(S(), v))
            return false;
        // A number may end at the escape itself.
        if (S().Last() == kEsc)
            S().Unget(kEsc);
        return true;
    }
    std::vector<double> ReadParams(std::size_t most);
    void SkipTo(int terminator);
    void Escape();
    void SkipPjl();

    // --- commands --------------------------------------------------------------------------
    void Command(int m);
    bool Verbatim() const
    {
        return !Scaled && Rotation == 0 && PageOffset == 0 && !Window && !Dasher && !Dots && !Poly && !Symbol;
    }
    void PlainPen(std::int8_t kind);
    void PlainOther(std::int8_t kind);
    void PenCommand(std::int8_t kind);
    void Encoded();
    void Circle();
    void Arc(bool relative);
    void ThreePointArc(bool relative);
    void DrawArc(TPt centre, double r, double start, double sweep, double chord, TPt end);
    void Bezier(bool relative);
    void Rectangle(bool relative, bool fill);
    void Wedge(bool fill);
    void Shape(const std::vector<TPt>& outline, bool fill);
    void Tick(bool x);
    void LineType();
    void UserLine();
    void FillType();
    void PenWidth();
    void Scale();
    void InputP(bool relative);
    void InputWindow();
    void Rotate();
    void NextPage();
    void ApplyBreak();
    void Label();
    void DrawSymbol();
    std::string LabelText(bool& terminated);
    void DrawLabel(const std::string& text);
    void DrawGlyph(const hpgl2::TGlyph& glyph, TPt at, double sx, double sy, TPt u, TPt v);
    void LabelFrame(TPt& u, TPt& v) const;
    double CharWidth() const;
    double CharHeight() const;
    void FontDefinition(bool alternate);
    void PolygonMode();
    void FillPolygon();
    void EdgePolygon();

    // --- state -----------------------------------------------------------------------------
    void ResetState(bool all);
    void UpdateMap();
    double Diagonal() const { return std::hypot(P2.X - P1.X, P2.Y - P1.Y); }
    TPt RotatedToPage(TPt p) const;
    void SetPattern();

    // --- drawing ---------------------------------------------------------------------------
    TPt Page(TPt user) const { return Map(user); }
    void MoveTo(TPt user);
    void CloseRing(bool drawn);
    void FlushDot();
    void TakeDotAt(TPt p);
    void LineTo(TPt user);
    void DrawSegment(TPt a, TPt b);
    void Clipped(TPt a, TPt b);
    void Emit(TPt a, TPt b);
    void Dot(TPt page);
    void ArcPoints(TPt centre, double radius, double start, double sweep, double chord, std::vector<TPt>& points) const;
    void DrawUserPolyline(const std::vector<TPt>& userPoints);
    void Hatch(const std::vector<std::vector<TPt>>& rings, hpgl2::TFillRule rule);
    bool WholeInWindow(TPt centre, double r) const;

    // --- output ----------------------------------------------------------------------------
    // The page point in whole plotter units, or false (and the file refused) beyond 32 bits.
    bool ToOut(TPt page, std::int32_t& x, std::int32_t& y)
    {
        // To the nearest unit, halves away from zero; the test also refuses NaN.
        const double px = page.X + PageOffset, py = page.Y;
        constexpr double kMax = 2147483647.5, kMin = -2147483648.5;
        if (!(px > kMin && px < kMax && py > kMin && py < kMax)) [[unlikely]] {
            Fail("drawing too large: a translated point lies beyond the 32-bit range of plotter units");
            return false;
        }
        x = static_cast<std::int32_t>(static_cast<std::int64_t>(px < 0 ? px - 0.5 : px + 0.5));
        y = static_cast<std::int32_t>(static_cast<std::int64_t>(py < 0 ? py - 0.5 : py + 0.5));
        return true;
    }
    void AddPen(std::int8_t kind, std::int32_t x, std::int32_t y);
    void Add(std::int8_t kind, std::int32_t p1);
    void Add(std::int8_t kind, std::int32_t p1, std::int32_t p2, std::int32_t p3);
    void Counted();
    void SyncForVerbatim(bool penState);
    void Fail(std::string reason)
    {
        if (Failure.empty())
            Failure = std::move(reason);
    }
    void Did(const char* what, std::int64_t n = 1)
    {
        Report.Translated = true;
        Report.Done[what] += n;
    }
    void Ignore(int m)
    {
        Report.Translated = true;
        ++Report.Ignored[MnemonicText(m)];
    }

    THpglSheet& Sheet;
    TCharStream* Stream;
    TCharStream& S() { return *Stream; }
    // The rest of the file after a label that found no terminator, read again from here.
    std::string Rest;
    std::unique_ptr<TCharStream> RestStream;
    std::uint64_t Total;
    TTranslateReport& Report;
    TTranslateLimits Limits;
    std::string Failure;
    std::int64_t Objects = 0;
    std::int64_t HatchStrokes = 0;
    std::int64_t Pieces = 0;
    TExtentsWalk Extents;

    // The device's pen after the objects written so far.
    std::int32_t OutX = 0, OutY = 0;
    bool OutDown = false;
    bool OutRelative = false;

    // The file's pen, in user units.
    TPt Pen;
    bool Down = false;
    bool Relative = false;

    // Scaling and placement.
    double FrameWidth = kDefaultFrameWidth, FrameHeight = kDefaultFrameHeight;
    int Rotation = 0;
    TPt P1 = kDefaultP1, P2 = kDefaultP2;  // in the rotated plotter frame
    bool Scaled = false;
    std::array<double, 6> ScaleArgs{};
    int ScaleType = 0;
    TAffine Map;
    double PageOffset = 0;
    double PageMinX = 0;
    double DrawnMaxX = -1e300;
    bool PageDrew = false;
    bool BreakPending = false;
    int Pages = 1;

    // Window, in page coordinates.
    bool Window = false;
    double WinX0 = 0, WinY0 = 0, WinX1 = 0, WinY1 = 0;

    // Line type.
    int LtType = 0;  // 0: solid; else the type as given (negative: adaptive)
    bool LtSet = false;
    double LtLength = 4;
    int LtMode = 0;
    int PrevLtType = 0;
    bool PrevLtSet = false;
    double PrevLtLength = 4;
    int PrevLtMode = 0;
    std::array<std::vector<double>, 8> UserPatterns = kDefaultPatterns;
    std::unique_ptr<hpgl2::TDasher> Dasher;
    bool Dots = false;  // LT0: a dot at each point

    // Fills.
    int FillKind = 1;
    double FillSpacing = 0, FillAngle = 0, FillLevel = 50;
    double PenWidthMm = kDefaultPenWidthMm;
    bool WidthRelative = false;
    double PenWidthRel = 0.1;
    TPt Anchor;
    bool ChordDeviation = false;
    double TickPlus = 0.5, TickMinus = 0.5;

    // Polygon mode: rings in page coordinates; whether each ring's edges were drawn.
    bool Poly = false;
    std::int64_t PolyPoints = 0;
    std::vector<std::vector<TPt>> Rings;
    std::vector<std::vector<bool>> RingDown;
    TPt PolyStart;
    std::vector<std::vector<TPt>> LastRings;
    std::vector<std::vector<bool>> LastRingDown;

    int Terminator = kEtx;
    bool TerminatorPrinted = false;
    // Set once a label has read to the end without meeting the terminator: none follows.
    bool TerminatorAbsent = false;
    bool PclMode = false;

    // Labels. Sizes in plotter units; the direction in the rotated plotter frame.
    bool SizeRelative = false;
    double SizeW = 0.19 * 400, SizeH = 0.27 * 400;  // SI's default, in cm
    double RelW = 0.75, RelH = 1.5;                 // SR's default, in percent of P1-P2
    TPt Direction{1, 0};
    bool DirectionRelative = false;
    double Slant = 0;
    double ExtraSpace = 0, ExtraLines = 0;
    int Origin = 1;
    bool Vertical = false;
    bool Transparent = false;
    hpgl2::TStrokeFace Faces[2] = {hpgl2::TStrokeFace::SimplexRoman, hpgl2::TStrokeFace::SimplexRoman};
    bool Proportional[2] = {false, false};
    hpgl2::TCharSet Sets[2] = {hpgl2::TCharSet::Roman8, hpgl2::TCharSet::Roman8};
    int FontKinds[2][8] = {};
    bool Alternate = false;
    std::string Buffered;
    int Symbol = 0;
    TPt LineStart;  // page point where the label's current line began, for CR and CP
    bool DotPending = false;
    TPt DotAt;
    // Where the last line drawn ended, on the page and on the device.
    TPt EmitEnd{std::nan(""), 0};
    std::int32_t EmitOutX = 0, EmitOutY = 0;
};

// ---------------------------------------------------------------------------------------------
// Input

// The next mnemonic as the plain reader finds it (two letters, anything else skipped), with
// escape sequences taken on the way; 0 at the end.
int TTranslator::ReadMnemonicOrEscape()
{
    if (!PclMode) {
        if (const unsigned char* p = S().Cursor(); S().BufferEnd() - p >= 2 && IsLetter(p[0]) && IsLetter(p[1])) {
            S().Skip(p + 2);
            return Upper(p[0]) << 8 | Upper(p[1]);
        }
    }
    for (;;) {
        if (PclMode) {
            // Printer text and data between escape sequences are no drawing.
            int c;
            do
                c = S().GetRaw();
            while (c != kEsc && c != kEnd);
            if (c == kEnd)
                return 0;
            Escape();
            if (!Failure.empty())
                return 0;
            continue;
        }
        int c1 = kEnd;
        while (!S().AtEnd()) {
            c1 = S().Get();
            if (IsLetter(c1) || c1 == kEsc)
                break;
        }
        if (S().AtEnd())
            return 0;
        if (c1 == kEsc) {
            Escape();
            continue;
        }
        const int c2 = S().Get();
        if (c2 == kEsc) {
            Escape();
            continue;
        }
        if (!IsLetter(c2))
            continue;
        return Upper(c1) << 8 | Upper(c2);
    }
}

// One HP-GL/2 number: separators skipped, a sign, digits, a point and digits. False, having
// consumed only separators, where no number follows (a letter, ';', an escape, the end).
bool TTranslator::ReadReal(double& out)
{
    int c;
    do
        c = S().Get();
    while (c == ' ' || c == ',' || c == '\n' || c == '\t');
    if (c == kEnd)
        return false;
    double sign = 1;
    if (c == '+' || c == '-') {
        sign = c == '-' ? -1 : 1;
        c = S().Get();
    }
    if (!IsDigit(c) && c != '.') {
        if (c != kEnd && c != ';' && c != ',' && c != ' ')
            S().Unget(c);
        return false;
    }
    double v = 0;
    while (IsDigit(c)) {
        v = v * 10 + (c - '0');
        c = S().Get();
    }
    if (c == '.') {
        double scale = 0.1;
        c = S().Get();
        while (IsDigit(c)) {
            v += (c - '0') * scale;
            scale *= 0.1;
            c = S().Get();
        }
    }
    if (c != kEnd && c != ',' && c != ' ' && c != '\n' && c != ';')
        S().Unget(c);
    out = sign * v;
    return true;
}

std::vector<double> TTranslator::ReadParams(std::size_t most)
{
    std::vector<double> v;
    double x;
    while (v.size() < most && ReadReal(x))
        v.push_back(x);
    return v;
}

void TTranslator::SkipTo(int terminator)
{
    for (int c = S().Get(); c != kEnd && c != terminator; c = S().Get()) {
    }
}

// PCL and the device-control sequences, entered at an ESC. Binary data that a sequence counts
// is skipped by its count, whatever bytes it holds.
void TTranslator::Escape()
{
    Did("printer-language sequences");
    const int c = S().GetRaw();
    if (c == kEnd)
        return;
    if (c == '.') {
        // ESC . letter, then parameters up to ':' for the sequences that take them.
        if (S().GetRaw() == kEnd)
            return;
        for (;;) {
            const int d = S().GetRaw();
            if (d == kEnd || d == ':')
                return;
            if (!IsDigit(d) && d != ';') {
                S().Unget(d);
                return;
            }
        }
    }
    if (c == 'E') {
        // A printer reset ends any HP-GL/2 picture: PCL text follows until ESC % B.
        ResetState(true);
        PclMode = true;
        return;
    }
    if (c < 33 || c > 47) {
        // Two-character sequences (ESC 9, ESC =, ...): nothing to draw.
        return;
    }
    // Parameterised: ESC, a parameter character, a group character, then value and
    // parameter pairs; a lower-case parameter combines with the next, an upper-case one ends.
    const int parameter = c;
    int group = S().GetRaw();
    if (group == kEnd)
        return;
    if (group < 96 || group > 126) {
        // No group character (ESC % # B enters HP-GL/2, ESC % -12345 X the PJL, ESC ( 8 U).
        S().Unget(group);
        group = 0;
    }
    for (int guard = 0; guard < 64; ++guard) {
        std::int64_t value = 0;
        bool negative = false;
        int d = S().GetRaw();
        if (d == '+' || d == '-') {
            negative = d == '-';
            d = S().GetRaw();
        }
        while (IsDigit(d)) {
            if (value < 1'000'000'000'000)
                value = value * 10 + (d - '0');
            d = S().GetRaw();
        }
        if (d == '.') {
            do
                d = S().GetRaw();
            while (IsDigit(d));
        }
        if (d == kEnd)
            return;
        const int lower = d | 0x20;
        if (parameter == '%') {
            if (d == 'B') {
                PclMode = false;
            } else if (d == 'A') {
                PclMode = true;
            } else if (d == 'X' && negative) {
                SkipPjl();
            }
            return;
        }
        if (d < 64 || d > 126) {
            S().Unget(d);
            return;
        }
        // Sequences that carry binary data of the value's length.
        const bool data = lower == 'w' || (parameter == '*' && group == 'b' && lower == 'v') ||
                          (parameter == '&' && group == 'p' && lower == 'x');
        if (data && !negative) {
            for (std::int64_t i = 0; i < value; ++i)
                if (S().GetRaw() == kEnd)
                    return;
        }
        if (d >= 64 && d <= 94)
            return;
    }
}

// After the universal exit: @PJL lines, then the language they enter.
void TTranslator::SkipPjl()
{
    PclMode = false;
    for (;;) {
        int c = S().GetRaw();
        while (c == '\n' || c == '\r' || c == ' ')
            c = S().GetRaw();
        if (c == kEnd)
            return;
        if (c != '@') {
            S().Unget(c);
            return;
        }
        std::string line;
        for (c = S().GetRaw(); c != kEnd && c != '\n'; c = S().GetRaw())
            if (line.size() < 200)
                line.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
        if (const auto at = line.find("LANGUAGE"); line.find("ENTER") != std::string::npos && at != std::string::npos)
            PclMode = line.find("PCL", at) != std::string::npos || line.find("POSTSCRIPT", at) != std::string::npos;
    }
}

// ---------------------------------------------------------------------------------------------
// State

void TTranslator::ResetState(bool all)
{
    if (all) {
        FrameWidth = kDefaultFrameWidth;
        FrameHeight = kDefaultFrameHeight;
        Rotation = 0;
        P1 = kDefaultP1;
        P2 = kDefaultP2;
    }
    Scaled = false;
    Window = false;
    LtType = 0;
    LtSet = false;
    LtLength = 4;
    LtMode = 0;
    PrevLtType = 0;
    PrevLtSet = false;
    UserPatterns = kDefaultPatterns;
    Dasher.reset();
    Dots = false;
    FillKind = 1;
    FillSpacing = 0;
    FillAngle = 0;
    FillLevel = 50;
    PenWidthMm = kDefaultPenWidthMm;
    WidthRelative = false;
    Anchor = {};
    ChordDeviation = false;
    TickPlus = TickMinus = 0.5;
    Poly = false;
    Rings.clear();
    RingDown.clear();
    Terminator = kEtx;
    TerminatorPrinted = false;
    TerminatorAbsent = false;
    SizeRelative = false;
    SizeW = 0.19 * 400;
    SizeH = 0.27 * 400;
    Direction = {1, 0};
    DirectionRelative = false;
    Slant = 0;
    ExtraSpace = ExtraLines = 0;
    Origin = 1;
    Vertical = false;
    Transparent = false;
    for (int i = 0; i < 2; ++i) {
        Faces[i] = hpgl2::TStrokeFace::SimplexRoman;
        Proportional[i] = false;
        Sets[i] = hpgl2::TCharSet::Roman8;
        for (int& k : FontKinds[i])
            k = 0;
    }
    Alternate = false;
    Symbol = 0;
    UpdateMap();
}

TPt TTranslator::RotatedToPage(TPt p) const
{
    switch (Rotation) {
    case 90: return {FrameWidth - p.Y, p.X};
    case 180: return {FrameWidth - p.X, FrameHeight - p.Y};
    case 270: return {p.Y, FrameHeight - p.X};
    default: return p;
    }
}

void TTranslator::UpdateMap()
{
    // User units to the rotated plotter frame.
    double sx = 1, sy = 1, tx = 0, ty = 0;
    if (Scaled) {
        const auto& a = ScaleArgs;
        if (ScaleType == 2) {
            sx = a[1];
            sy = a[3];
            tx = P1.X - a[0] * sx;
            ty = P1.Y - a[2] * sy;
        } else {
            sx = (P2.X - P1.X) / (a[1] - a[0]);
            sy = (P2.Y - P1.Y) / (a[3] - a[2]);
            tx = P1.X - a[0] * sx;
            ty = P1.Y - a[2] * sy;
            if (ScaleType == 1) {
                // Equal units on both axes, the slack placed by the left and bottom percentages.
                const double s = std::min(std::fabs(sx), std::fabs(sy));
                const double ux = std::copysign(s, sx), uy = std::copysign(s, sy);
                const double slackX = (P2.X - P1.X) - (a[1] - a[0]) * ux;
                const double slackY = (P2.Y - P1.Y) - (a[3] - a[2]) * uy;
                sx = ux;
                sy = uy;
                tx = P1.X + slackX * a[4] / 100 - a[0] * sx;
                ty = P1.Y + slackY * a[5] / 100 - a[2] * sy;
            }
        }
    }
    // Then the rotated frame onto the page.
    const TPt o = RotatedToPage({tx, ty});
    const TPt ex = RotatedToPage({tx + sx, ty});
    const TPt ey = RotatedToPage({tx, ty + sy});
    Map.A = ex.X - o.X;
    Map.C = ex.Y - o.Y;
    Map.B = ey.X - o.X;
    Map.D = ey.Y - o.Y;
    Map.E = o.X;
    Map.F = o.Y;
}

// ---------------------------------------------------------------------------------------------
// Output

void TTranslator::Counted()
{
    if (++Objects > Limits.MaxObjects)
        Fail("drawing too large: more than " + std::to_string(Limits.MaxObjects) + " objects");
}

void TTranslator::AddPen(std::int8_t kind, std::int32_t x, std::int32_t y)
{
    if (!Failure.empty())
        return;
    if (OutRelative)
        Sheet.Add(kind, wrap::Sub(x, OutX), wrap::Sub(y, OutY));
    else
        Sheet.Add(kind, x, y);
    OutX = x;
    OutY = y;
    if (kind == hkPD)
        OutDown = true;
    else if (kind == hkPU)
        OutDown = false;
    if (kind == hkPD)
        PageDrew = true;
    Counted();
}

void TTranslator::Add(std::int8_t kind, std::int32_t p1)
{
    if (!Failure.empty())
        return;
    Sheet.Add(kind, p1);
    Counted();
}

void TTranslator::Add(std::int8_t kind, std::int32_t p1, std::int32_t p2, std::int32_t p3)
{
    if (!Failure.empty())
        return;
    Sheet.Add(kind, p1, p2, p3);
    Counted();
}

// A line about to start at p covers the pending dot there; one elsewhere leaves it drawn.
void TTranslator::TakeDotAt(TPt p)
{
    if (DotPending && p.X == DotAt.X && p.Y == DotAt.Y)
        DotPending = false;
    FlushDot();
}

void TTranslator::FlushDot()
{
    if (DotPending) {
        DotPending = false;
        Dot(DotAt);
    }
}

void TTranslator::Emit(TPt a, TPt b)
{
    TakeDotAt(a);
    std::int32_t ax = 0, ay = 0, bx = 0, by = 0;
    // A polyline's next segment starts where the last one ended: no need to round that again.
    if (OutDown && a.X == EmitEnd.X && a.Y == EmitEnd.Y && OutX == EmitOutX && OutY == EmitOutY) {
        ax = OutX;
        ay = OutY;
    } else if (!ToOut(a, ax, ay)) {
        return;
    }
    if (!ToOut(b, bx, by))
        return;
    for (const TPt& p : {a, b}) {
        if (p.X + PageOffset > DrawnMaxX)
            DrawnMaxX = p.X + PageOffset;
        if (p.X < PageMinX)
            PageMinX = p.X;
    }
    // An arc leaves the device's pen within a unit of the true end (its own sine tables):
    // carry on from there rather than lift the pen for so little.
    const bool continues = OutDown && std::abs(std::int64_t{OutX} - ax) <= 1 && std::abs(std::int64_t{OutY} - ay) <= 1;
    if (!continues && (OutDown || OutX != ax || OutY != ay))
        AddPen(hkPU, ax, ay);
    if (!OutDown || bx != OutX || by != OutY)
        AddPen(hkPD, bx, by);
    EmitEnd = b;
    EmitOutX = OutX;
    EmitOutY = OutY;
}

void TTranslator::Dot(TPt page)
{
    TakeDotAt(page);
    if (Window && !(page.X >= WinX0 && page.X <= WinX1 && page.Y >= WinY0 && page.Y <= WinY1))
        return;
    std::int32_t x = 0, y = 0;
    if (!ToOut(page, x, y))
        return;
    if (OutDown && OutX == x && OutY == y)
        return;
    if (OutDown || OutX != x || OutY != y)
        AddPen(hkPU, x, y);
    AddPen(hkPD, x, y);
    DrawnMaxX = std::max(DrawnMaxX, page.X + PageOffset);
    PageMinX = std::min(PageMinX, page.X);
}

void TTranslator::Clipped(TPt a, TPt b)
{
    // Pieces the window cuts away make no objects, so they are bounded on their own: dashes
    // of a hair's length along lines far outside it would otherwise run for minutes.
    if (!Failure.empty())
        return;
    if (++Pieces > 2 * Limits.MaxObjects) {
        Fail("drawing too large: more than " + std::to_string(2 * Limits.MaxObjects) + " line pieces");
        return;
    }
    if (Window && !hpgl2::ClipSegment(a, b, WinX0, WinY0, WinX1, WinY1))
        return;
    if (a.X == b.X && a.Y == b.Y) {
        Dot(a);
        return;
    }
    Emit(a, b);
}

void TTranslator::DrawSegment(TPt a, TPt b)
{
    if (Dots) {
        Dot(a);
        Dot(b);
        return;
    }
    if (Dasher) {
        Dasher->Segment(a, b, [this](TPt p, TPt q) { Clipped(p, q); });
        return;
    }
    Clipped(a, b);
}

// Before a verbatim command: the device's pen where the file's is, and in its state.
void TTranslator::SyncForVerbatim(bool penState)
{
    std::int32_t x = 0, y = 0;
    if (!ToOut(Page(Pen), x, y))
        return;
    if (std::abs(std::int64_t{OutX} - x) > 1 || std::abs(std::int64_t{OutY} - y) > 1)
        AddPen(hkPU, x, y);
    Pen = {static_cast<double>(OutX), static_cast<double>(OutY)};
    if (penState && Down != OutDown)
        AddPen(Down ? hkPD : hkPU, OutX, OutY);
}

void TTranslator::CloseRing(bool drawn)
{
    if (!Rings.empty() && RingDown.back().size() + 1 == Rings.back().size())
        RingDown.back().push_back(drawn);
}

void TTranslator::MoveTo(TPt user)
{
    FlushDot();
    if (Poly) {
        // A pen-up move ends the subpolygon without an edge back to its start.
        CloseRing(false);
        Rings.push_back({Page(user)});
        RingDown.push_back({});
    } else if (Dasher) {
        Dasher->Reset();
    }
    Pen = user;
}

void TTranslator::LineTo(TPt user)
{
    if (Poly) {
        if (Rings.empty()) {
            Rings.push_back({Page(Pen)});
            RingDown.push_back({});
        }
        Rings.back().push_back(Page(user));
        RingDown.back().push_back(true);
        if (++PolyPoints > Limits.MaxObjects)
            Fail("polygon too large: more than " + std::to_string(Limits.MaxObjects) + " points");
    } else {
        DrawSegment(Page(Pen), Page(user));
    }
    Pen = user;
}

void TTranslator::DrawUserPolyline(const std::vector<TPt>& points)
{
    for (std::size_t i = 1; i < points.size() && Failure.empty(); ++i)
        DrawSegment(Page(points[i - 1]), Page(points[i]));
}

bool TTranslator::WholeInWindow(TPt centre, double r) const
{
    return !Window ||
           (centre.X - r >= WinX0 && centre.X + r <= WinX1 && centre.Y - r >= WinY0 && centre.Y + r <= WinY1);
}

// Points of an arc about centre (user units) from angle start (degrees, counterclockwise from
// +x) through sweep, chords chosen by the chord angle or, after CT1, the chord deviation.
void TTranslator::ArcPoints(TPt centre, double radius, double start, double sweep, double chord,
                            std::vector<TPt>& points) const
{
    if (!std::isfinite(centre.X) || !std::isfinite(centre.Y) || !std::isfinite(radius) || !std::isfinite(start) ||
        !std::isfinite(sweep))
        return;
    double step;
    if (ChordDeviation) {
        const double r = std::fabs(radius);
        const double d = std::clamp(std::fabs(chord), 1e-9, r > 0 ? r : 1.0);
        step = r > 0 ? 2 * std::acos(1 - d / r) * 180 / std::numbers::pi : 180;
    } else {
        step = chord;
    }
    // HP-GL/2 holds the chord angle between 0.5 and 180 degrees.
    step = std::clamp(std::isfinite(step) ? std::fabs(step) : 5.0, 0.5, 180.0);
    const double n = std::min(std::ceil(std::fabs(sweep) / step), kMaxCurvePoints);
    const int count = std::max(1, static_cast<int>(n));
    for (int i = 0; i <= count; ++i) {
        const double t = (start + sweep * i / count) * std::numbers::pi / 180;
        points.push_back({centre.X + radius * std::cos(t), centre.Y + radius * std::sin(t)});
    }
}

void TTranslator::Hatch(const std::vector<std::vector<TPt>>& rings, hpgl2::TFillRule rule)
{
    if (FillKind == 10 && FillLevel <= 0)
        return;
    const double penWidth = std::max(1.0, WidthRelative ? PenWidthRel / 100 * Diagonal() : PenWidthMm * kUnitsPerMm);
    double spacing = penWidth;
    std::vector<double> angles{0};
    const double scaleX = std::max(std::hypot(Map.A, Map.C), 1e-300);
    const double defaultSpacing = Diagonal() / 100;
    switch (FillKind) {
    case 3:
    case 4:
        spacing = FillSpacing > 0 ? FillSpacing * (Scaled ? scaleX : 1) : defaultSpacing;
        angles = {FillAngle};
        if (FillKind == 4)
            angles.push_back(FillAngle + 90);
        break;
    case 10: spacing = FillLevel >= 100 ? penWidth : penWidth * 100 / FillLevel; break;
    case 11:
    case 21:
    case 22:
        // Patterns a pen cannot draw: a half-tone shading stands in for them.
        spacing = penWidth * 2;
        break;
    default: break;
    }
    const double rotation = std::atan2(Map.C, Map.A) * 180 / std::numbers::pi;
    const TPt anchor = Page(Anchor);
    for (double angle : angles) {
        const std::int64_t n =
            hpgl2::HatchRings(rings, rule, angle + rotation, spacing, anchor, Limits.MaxHatchStrokes - HatchStrokes,
                              [this](TPt a, TPt b) { Clipped(a, b); });
        if (n < 0) {
            Fail("fill too large: more than " + std::to_string(Limits.MaxHatchStrokes) + " hatch strokes");
            return;
        }
        HatchStrokes += n;
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void TTranslator::PlainPen(std::int8_t kind)
{
    // The plain reader's pen command, object for object.
    std::int32_t a, b;
    const bool penState = kind == hkPA || kind == hkPR;
    SyncForVerbatim(penState);
    if (kind == hkPA || kind == hkPR) {
        Relative = kind == hkPR;
        if (ReadPlain(a) && ReadPlain(b)) {
            do {
                Sheet.Add(kind, a, b);
                Counted();
                OutRelative = Relative;
                OutX = Relative ? wrap::Add(OutX, a) : a;
                OutY = Relative ? wrap::Add(OutY, b) : b;
                if (OutDown)
                    PageDrew = true;
            } while (ReadPlain(a) && ReadPlain(b));
        } else {
            Sheet.Add(kind);
            Counted();
            OutRelative = Relative;
        }
    } else if (OutRelative != Relative) {
        // Objects written since the file last chose its mode left the device in the other.
        Down = kind == hkPD;
        bool any = false;
        while (ReadPlain(a) && ReadPlain(b)) {
            any = true;
            AddPen(kind, Relative ? wrap::Add(OutX, a) : a, Relative ? wrap::Add(OutY, b) : b);
        }
        if (!any) {
            Sheet.Add(kind);
            Counted();
            OutDown = Down;
        }
    } else {
        Down = OutDown = kind == hkPD;
        if (ReadPlain(a) && ReadPlain(b)) {
            do {
                Sheet.Add(kind, a, b);
                Counted();
                OutX = OutRelative ? wrap::Add(OutX, a) : a;
                OutY = OutRelative ? wrap::Add(OutY, b) : b;
                if (OutDown)
                    PageDrew = true;
            } while (ReadPlain(a) && ReadPlain(b));
        } else {
            Sheet.Add(kind);
            Counted();
        }
    }
    Pen = {static_cast<double>(OutX), static_cast<double>(OutY)};
}

void TTranslator::PlainOther(std::int8_t kind)
{
    std::int32_t a, b, c;
    switch (kind) {
    case hkCI:
        if (ReadPlain(a)) {
            SyncForVerbatim(false);
            Add(kind, a);
            PageDrew = true;
        }
        break;
    case hkAA:
        if (ReadPlain(a) && ReadPlain(b) && ReadPlain(c)) {
            SyncForVerbatim(true);
            Add(kind, a, b, c);
            ArcPenAfter(OutX, OutY, a, b, c);
            Pen = {static_cast<double>(OutX), static_cast<double>(OutY)};
            PageDrew = true;
        }
        break;
    case hkER:
        if (ReadPlain(a) && ReadPlain(b)) {
            SyncForVerbatim(false);
            if (Failure.empty()) {
                Sheet.Add(kind, a, b);
                Counted();
            }
            PageDrew = true;
        }
        break;
    default: break;
    }
}

void TTranslator::PenCommand(std::int8_t kind)
{
    if (kind == hkPA || kind == hkPR)
        Relative = kind == hkPR;
    double x, y;
    bool any = false;
    while (Failure.empty() && ReadCoord(x) && ReadCoord(y)) {
        any = true;
        if (kind == hkPU)
            Down = false;
        else if (kind == hkPD)
            Down = true;
        const TPt target = Relative ? TPt{Pen.X + x, Pen.Y + y} : TPt{x, y};
        if (Down)
            LineTo(target);
        else
            MoveTo(target);
        if (Symbol && !Poly)
            DrawSymbol();
    }
    if (any) {
        if (Down && (Dasher || Dots) && !Poly)
            Did("dashed lines");
        return;
    }
    if (kind == hkPU) {
        Down = false;
    } else if (kind == hkPD) {
        // Lowering the pen marks the paper, unless a line starts there next.
        if (!Down && !Poly) {
            DotPending = true;
            DotAt = Page(Pen);
        }
        Down = true;
    }
}

// PE: coordinates packed in base 64 (or 32 after '7'), flags for pen up, absolute, pen
// select and fractional bits.
void TTranslator::Encoded()
{
    Did("encoded polylines");
    bool sevenBit = false;
    bool penUp = false, absolute = false;
    double coords[2];
    int have = 0;
    double unit = 1;
    bool chained = false;
    // Digits come least significant first; a terminating digit ends the number. The common
    // case is read straight from the buffer; anything else (a line break, the buffer's end)
    // goes through Get.
    auto value = [&](int c, std::int64_t& out) -> bool {
        const auto& table = sevenBit ? kPeDigits7 : kPeDigits8;
        const int bits = sevenBit ? 5 : 6;
        std::uint64_t v = 0;
        int shift = 0;
        auto take = [&](std::uint8_t d) {
            if (shift < 60)
                v |= static_cast<std::uint64_t>(d & 0x3f) << shift;
            shift += bits;
            if (!(d & 0x40))
                return false;
            const auto magnitude = static_cast<std::int64_t>(v >> 1);
            out = (v & 1) ? -magnitude : magnitude;
            return true;
        };
        for (;;) {
            if (c != kEnd && table[static_cast<unsigned char>(c)] != 0xff) {
                if (take(table[static_cast<unsigned char>(c)]))
                    return true;
            } else if (c == ';' || c == kEnd || c == kEsc) {
                if (c == kEsc)
                    S().Unget(c);
                return false;
            }
            const unsigned char* p = S().Cursor();
            const unsigned char* const end = S().BufferEnd();
            while (p != end && table[*p] != 0xff) {
                const std::uint8_t d = table[*p++];
                if (take(d)) {
                    S().Skip(p);
                    return true;
                }
            }
            S().Skip(p);
            c = S().Get();
        }
    };
    auto line = [&](TPt target) {
        const TPt b = Page(target);
        std::int32_t bx = 0, by = 0;
        if (!ToOut(b, bx, by))
            return;
        if (b.X + PageOffset > DrawnMaxX)
            DrawnMaxX = b.X + PageOffset;
        if (b.X < PageMinX)
            PageMinX = b.X;
        if (bx != OutX || by != OutY)
            AddPen(hkPD, bx, by);
        Pen = target;
    };
    for (;;) {
        if (!Failure.empty())
            return;
        if (chained && have == 0 && !penUp && !absolute) {
            // Relative pen-down pairs, as drivers write curves, straight from the buffer.
            const unsigned char* p = S().Cursor();
            const auto& table = sevenBit ? kPeDigits7 : kPeDigits8;
            const int bits = sevenBit ? 5 : 6;
            std::int64_t dx, dy;
            if (S().BufferEnd() - p >= 24 && PeNumberFast(p, table, bits, dx) && PeNumberFast(p, table, bits, dy)) {
                S().Skip(p);
                line({Pen.X + static_cast<double>(dx) * unit, Pen.Y + static_cast<double>(dy) * unit});
                continue;
            }
        }
        const int c = S().Get();
        if (c == kEnd || c == ';')
            break;
        if (c == kEsc) {
            S().Unget(c);
            break;
        }
        std::int64_t v;
        switch (c) {
        case ':': {
            int d = S().Get();
            if (!value(d, v))
                goto done;
            if (v >= -2147483647 && v <= 2147483647)
                Add(hkSP, static_cast<std::int32_t>(v));
            continue;
        }
        case '<': penUp = true; continue;
        case '=': absolute = true; continue;
        case '7': sevenBit = true; continue;
        case '>': {
            if (!value(S().Get(), v))
                goto done;
            const int fractionBits = static_cast<int>(std::clamp<std::int64_t>(v, -26, 26));
            unit = std::ldexp(1.0, -fractionBits);
            continue;
        }
        default: break;
        }
        if (!(c >= 63 && c <= 126) && !(!sevenBit && c >= 191 && c <= 254))
            continue;
        if (!value(c, v))
            break;
        coords[have++] = static_cast<double>(v) * unit;
        if (have < 2)
            continue;
        have = 0;
        const TPt target = absolute ? TPt{coords[0], coords[1]} : TPt{Pen.X + coords[0], Pen.Y + coords[1]};
        if (penUp) {
            Down = false;
            MoveTo(target);
            chained = false;
        } else if (chained) {
            // The common case, a run of plain lines: straight to the device's pen.
            line(target);
        } else {
            Down = true;
            LineTo(target);
            // Without a line type, window or polygon the device's pen now ends the line.
            chained = !Poly && !Dasher && !Dots && !Window && !DotPending && OutDown;
        }
        penUp = absolute = false;
    }
done:
    return;
}

void TTranslator::Circle()
{
    const auto p = ReadParams(2);
    if (p.empty())
        return;
    Did("circles");
    const double r = p[0];
    const double chord = p.size() > 1 ? p[1] : 5;
    const TPt centre = Page(Pen);
    const double rp = std::fabs(r) * Map.Scale();
    if (Poly) {
        std::vector<TPt> pts;
        ArcPoints(Pen, r, 0, 360, chord, pts);
        Rings.emplace_back();
        RingDown.emplace_back();
        for (const TPt& q : pts) {
            Rings.back().push_back(Page(q));
            RingDown.back().push_back(true);
        }
        CloseRing(false);
        Rings.push_back({centre});
        RingDown.push_back({});
        return;
    }
    if (Map.Conformal() && !Dasher && !Dots && WholeInWindow(centre, rp) && rp <= 2147483647.0) {
        std::int32_t x = 0, y = 0;
        if (!ToOut(centre, x, y))
            return;
        if (OutX != x || OutY != y)
            AddPen(hkPU, x, y);
        Add(hkCI, static_cast<std::int32_t>(std::round(rp)));
        PageDrew = true;
        DrawnMaxX = std::max(DrawnMaxX, centre.X + PageOffset + rp);
        PageMinX = std::min(PageMinX, centre.X - rp);
        return;
    }
    Did("arcs and circles as lines");
    std::vector<TPt> pts;
    ArcPoints(Pen, r, 0, 360, chord, pts);
    if (Dasher)
        Dasher->Reset();
    DrawUserPolyline(pts);
    // The pen goes back to the centre, as it was.
    std::int32_t x = 0, y = 0;
    if (ToOut(centre, x, y) && (OutX != x || OutY != y || OutDown != Down))
        AddPen(hkPU, x, y);
}

void TTranslator::Arc(bool relative)
{
    const auto p = ReadParams(4);
    if (p.size() < 3)
        return;
    Did("arcs");
    const TPt centre = relative ? TPt{Pen.X + p[0], Pen.Y + p[1]} : TPt{p[0], p[1]};
    const double sweep = p[2];
    const double r = std::hypot(Pen.X - centre.X, Pen.Y - centre.Y);
    const double start = std::atan2(Pen.Y - centre.Y, Pen.X - centre.X) * 180 / std::numbers::pi;
    const double endAngle = (start + sweep) * std::numbers::pi / 180;
    const TPt end =
        sweep == 360 || sweep == -360 ? Pen : TPt{centre.X + r * std::cos(endAngle), centre.Y + r * std::sin(endAngle)};
    DrawArc(centre, r, start, sweep, p.size() > 3 ? p[3] : 5, end);
}

// AT/RT: the arc from the pen through an intermediate point to an end point.
void TTranslator::ThreePointArc(bool relative)
{
    const auto p = ReadParams(5);
    if (p.size() < 4)
        return;
    const TPt a = Pen;
    const TPt m = relative ? TPt{Pen.X + p[0], Pen.Y + p[1]} : TPt{p[0], p[1]};
    const TPt e = relative ? TPt{Pen.X + p[2], Pen.Y + p[3]} : TPt{p[2], p[3]};
    const double d = 2 * (a.X * (m.Y - e.Y) + m.X * (e.Y - a.Y) + e.X * (a.Y - m.Y));
    Did("arcs");
    if (std::fabs(d) < 1e-12 || !std::isfinite(d)) {
        // Collinear points draw a line to the end.
        if (Down)
            LineTo(e);
        else
            MoveTo(e);
        return;
    }
    const double a2 = a.X * a.X + a.Y * a.Y, m2 = m.X * m.X + m.Y * m.Y, e2 = e.X * e.X + e.Y * e.Y;
    const TPt c{(a2 * (m.Y - e.Y) + m2 * (e.Y - a.Y) + e2 * (a.Y - m.Y)) / d,
                (a2 * (e.X - m.X) + m2 * (a.X - e.X) + e2 * (m.X - a.X)) / d};
    auto angle = [&](TPt q) { return std::atan2(q.Y - c.Y, q.X - c.X) * 180 / std::numbers::pi; };
    const double sa = angle(a);
    auto ccw = [](double from, double to) {
        double v = std::fmod(to - from, 360.0);
        return v < 0 ? v + 360 : v;
    };
    double sweep = ccw(sa, angle(e));
    if (ccw(sa, angle(m)) > sweep)
        sweep -= 360;  // the intermediate point lies the other way round
    if (a.X == e.X && a.Y == e.Y)
        sweep = ccw(sa, angle(m)) <= 180 ? 360 : -360;
    DrawArc(c, std::hypot(a.X - c.X, a.Y - c.Y), sa, sweep, p.size() > 4 ? p[4] : 5, e);
}

// An arc from the pen about centre (user units) through sweep degrees to end: the device's
// own AA while it stays a circle with a whole-degree sweep the device draws as given, lines
// along it otherwise. A lifted pen only moves to the end.
void TTranslator::DrawArc(TPt centre, double r, double start, double sweep, double chord, TPt end)
{
    if (!Down && !Poly) {
        MoveTo(end);
        return;
    }
    const TPt pc = Page(centre);
    const double rp = r * Map.Scale();
    // The device draws any sweep above 355 as a whole circle.
    const bool whole = std::fabs(sweep - std::nearbyint(sweep)) < 1e-6 && (std::fabs(sweep) <= 355 || sweep == 360);
    if (!Poly && Map.Conformal() && whole && !Dasher && !Dots && WholeInWindow(pc, rp)) {
        const TPt ps = Page(Pen);
        TakeDotAt(ps);
        std::int32_t sx = 0, sy = 0, cx = 0, cy = 0;
        if (!ToOut(ps, sx, sy) || !ToOut(pc, cx, cy))
            return;
        // The device draws an arc with the pen as it is: down, at the start.
        if (!(OutDown && std::abs(std::int64_t{OutX} - sx) <= 1 && std::abs(std::int64_t{OutY} - sy) <= 1)) {
            if (OutDown || OutX != sx || OutY != sy)
                AddPen(hkPU, sx, sy);
            AddPen(hkPD, sx, sy);
        }
        auto s = static_cast<std::int32_t>(std::nearbyint(sweep));
        if (Map.Mirrored())
            s = -s;
        Add(hkAA, cx, cy, s);
        ArcPenAfter(OutX, OutY, cx, cy, s);
        DrawnMaxX = std::max(DrawnMaxX, pc.X + PageOffset + rp);
        PageMinX = std::min(PageMinX, pc.X - rp);
        PageDrew = true;
        Pen = end;
        return;
    }
    if (!Poly)
        Did("arcs and circles as lines");
    std::vector<TPt> pts;
    ArcPoints(centre, r, start, sweep, chord, pts);
    if (!pts.empty()) {
        pts.back() = end;
        for (std::size_t i = 1; i < pts.size() && Failure.empty(); ++i)
            LineTo(pts[i]);
    }
    Pen = end;
}

void TTranslator::Bezier(bool relative)
{
    const auto p = ReadParams(6 * 4096);
    for (std::size_t i = 0; i + 6 <= p.size() && Failure.empty(); i += 6) {
        Did("Bézier curves");
        const TPt p0 = Pen;
        const TPt base = relative ? Pen : TPt{};
        const TPt p1{base.X + p[i], base.Y + p[i + 1]}, p2{base.X + p[i + 2], base.Y + p[i + 3]},
            p3{base.X + p[i + 4], base.Y + p[i + 5]};
        if (!Down && !Poly) {
            MoveTo(p3);
            continue;
        }
        // Uniform steps from the bound on the second derivative, measured on the page.
        const TPt q0 = Page(p0), q1 = Page(p1), q2 = Page(p2), q3 = Page(p3);
        const double dd = std::max(std::hypot(q0.X - 2 * q1.X + q2.X, q0.Y - 2 * q1.Y + q2.Y),
                                   std::hypot(q1.X - 2 * q2.X + q3.X, q1.Y - 2 * q2.Y + q3.Y));
        const double steps = std::clamp(std::ceil(std::sqrt(6 * dd / (8 * kCurveTolerance))), 1.0, kMaxCurvePoints);
        const int n = std::isfinite(steps) ? static_cast<int>(steps) : 1;
        for (int k = 1; k <= n && Failure.empty(); ++k) {
            const double t = static_cast<double>(k) / n, u = 1 - t;
            const double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
            const TPt q = k == n ? p3
                                 : TPt{b0 * p0.X + b1 * p1.X + b2 * p2.X + b3 * p3.X,
                                       b0 * p0.Y + b1 * p1.Y + b2 * p2.Y + b3 * p3.Y};
            LineTo(q);
        }
    }
}

void TTranslator::Rectangle(bool relative, bool fill)
{
    const auto p = ReadParams(2);
    if (p.size() < 2)
        return;
    const TPt c = relative ? TPt{Pen.X + p[0], Pen.Y + p[1]} : TPt{p[0], p[1]};
    Shape({Pen, {c.X, Pen.Y}, c, {Pen.X, c.Y}, Pen}, fill);
}

// A closed outline in user units, filled by FT or edged with the line type.
void TTranslator::Shape(const std::vector<TPt>& outline, bool fill)
{
    if (fill) {
        Did("fills");
        std::vector<std::vector<TPt>> ring(1);
        for (const TPt& q : outline)
            ring[0].push_back(Page(q));
        Hatch(ring, hpgl2::TFillRule::EvenOdd);
    } else {
        Did("edged shapes");
        if (Dasher)
            Dasher->Reset();
        DrawUserPolyline(outline);
    }
}

// EW/WG: a pie slice about the pen.
void TTranslator::Wedge(bool fill)
{
    const auto p = ReadParams(4);
    if (p.size() < 3)
        return;
    const double chord = p.size() > 3 ? p[3] : 5;
    std::vector<TPt> pts{Pen};
    ArcPoints(Pen, p[0], p[1], p[2], chord, pts);
    if (std::fabs(p[2]) < 360)
        pts.push_back(Pen);
    Shape(pts, fill);
}

void TTranslator::Tick(bool x)
{
    Did("tick marks");
    // XT ticks run along the frame's y axis, YT ticks along its x axis, sized from P1-P2.
    const double span = x ? std::fabs(P2.Y - P1.Y) : std::fabs(P2.X - P1.X);
    const TPt axis = x ? TPt{0, 1} : TPt{1, 0};
    const TPt o = RotatedToPage({0, 0});
    const TPt d = RotatedToPage(axis);
    const TPt dir{d.X - o.X, d.Y - o.Y};
    const TPt at = Page(Pen);
    const double plus = span * TickPlus / 100, minus = span * TickMinus / 100;
    const TPt a{at.X - dir.X * minus, at.Y - dir.Y * minus}, b{at.X + dir.X * plus, at.Y + dir.Y * plus};
    Clipped(a, b);
    std::int32_t px = 0, py = 0;
    if (ToOut(at, px, py) && (OutX != px || OutY != py || OutDown != Down))
        AddPen(hkPU, px, py);
}

void TTranslator::SetPattern()
{
    Dasher.reset();
    Dots = false;
    if (!LtSet)
        return;
    if (LtType == 0) {
        Dots = true;
        return;
    }
    const int index = std::abs(LtType) - 1;
    if (index < 0 || index >= 8)
        return;
    const double length = LtMode == 1 ? LtLength * kUnitsPerMm : LtLength / 100 * Diagonal();
    if (!(length > 0) || !std::isfinite(length))
        return;
    std::vector<double> pieces;
    for (double percent : UserPatterns[static_cast<std::size_t>(index)])
        pieces.push_back(percent / 100 * length);
    Dasher = std::make_unique<hpgl2::TDasher>(pieces, LtType < 0);
}

void TTranslator::LineType()
{
    const auto p = ReadParams(3);
    if (p.empty()) {
        PrevLtType = LtType, PrevLtSet = LtSet, PrevLtLength = LtLength, PrevLtMode = LtMode;
        LtSet = false;
    } else if (p[0] == 99) {
        std::swap(LtType, PrevLtType);
        std::swap(LtSet, PrevLtSet);
        std::swap(LtLength, PrevLtLength);
        std::swap(LtMode, PrevLtMode);
    } else {
        if (!(p[0] >= -8 && p[0] <= 8)) {
            ++Report.Ignored["LT"];
            Report.Translated = true;
            return;
        }
        PrevLtType = LtType, PrevLtSet = LtSet, PrevLtLength = LtLength, PrevLtMode = LtMode;
        LtType = Whole(p[0]);
        LtSet = true;
        if (p.size() > 1 && p[1] > 0)
            LtLength = p[1];
        if (p.size() > 2)
            LtMode = p[2] == 1 ? 1 : 0;
    }
    Did("line types");
    SetPattern();
}

void TTranslator::UserLine()
{
    const auto p = ReadParams(21);
    Report.Translated = true;
    if (p.empty() || !(std::fabs(p[0]) >= 1 && std::fabs(p[0]) <= 8))
        return;
    const auto index = static_cast<std::size_t>(std::fabs(p[0])) - 1;
    if (p.size() == 1) {
        UserPatterns[index] = kDefaultPatterns[index];
    } else {
        std::vector<double> gaps(p.begin() + 1, p.end());
        double sum = 0;
        for (double& g : gaps)
            sum += g = std::max(0.0, g);
        if (sum <= 0)
            return;
        for (double& g : gaps)
            g = g * 100 / sum;
        UserPatterns[index] = gaps;
    }
    SetPattern();
}

void TTranslator::FillType()
{
    const auto p = ReadParams(3);
    Report.Translated = true;
    if (p.empty()) {
        FillKind = 1;
        return;
    }
    const int kind = Whole(p[0]);
    // clang-format off
    switch (kind) {
    case 1: case 2: FillKind = kind; break;
    case 3: case 4:
        FillKind = kind;
        if (p.size() > 1) FillSpacing = p[1];
        if (p.size() > 2) FillAngle = p[2];
        break;
    case 10:
        FillKind = kind;
        if (p.size() > 1) FillLevel = std::clamp(p[1], 0.0, 100.0);
        break;
    case 11: case 21: case 22: FillKind = kind; break;
    default: ++Report.Ignored["FT"]; break;
    }
    // clang-format on
}

void TTranslator::PenWidth()
{
    const auto p = ReadParams(2);
    if (p.empty())
        PenWidthMm = kDefaultPenWidthMm, PenWidthRel = 0.1;
    else if (WidthRelative)
        PenWidthRel = std::max(0.0, p[0]);
    else
        PenWidthMm = std::max(0.0, p[0]);
}

void TTranslator::Scale()
{
    const auto p = ReadParams(7);
    Report.Translated = true;
    if (p.empty()) {
        Scaled = false;
        UpdateMap();
        return;
    }
    if (p.size() < 4) {
        ++Report.Ignored["SC"];
        return;
    }
    const int type = p.size() > 4 ? Whole(p[4]) : 0;
    const bool empty = type == 2 ? (p[1] == 0 || p[3] == 0) : (p[0] == p[1] || p[2] == p[3]);
    bool finite = true;
    for (double v : p)
        finite = finite && std::isfinite(v);
    if (empty || !finite || type < 0 || type > 2) {
        // A range of no width scales nothing: the previous scaling stays.
        ++Report.Ignored["SC"];
        return;
    }
    ScaleArgs = {p[0], p[1], p[2], p[3], p.size() > 5 ? p[5] : 50, p.size() > 6 ? p[6] : 50};
    ScaleType = type;
    Scaled = true;
    Did("scalings");
    UpdateMap();
}

void TTranslator::InputP(bool relative)
{
    const auto p = ReadParams(4);
    Report.Translated = true;
    const double w = Rotation % 180 ? FrameHeight : FrameWidth;
    const double h = Rotation % 180 ? FrameWidth : FrameHeight;
    if (p.empty()) {
        P1 = kDefaultP1;
        P2 = kDefaultP2;
        if (Rotation % 180) {
            P1 = {kDefaultP1.Y, kDefaultP1.X};
            P2 = {kDefaultP2.Y, kDefaultP2.X};
        }
    } else if (p.size() >= 2) {
        const TPt oldP1 = P1;
        P1 = relative ? TPt{p[0] / 100 * w, p[1] / 100 * h} : TPt{p[0], p[1]};
        if (p.size() >= 4)
            P2 = relative ? TPt{p[2] / 100 * w, p[3] / 100 * h} : TPt{p[2], p[3]};
        else
            P2 = {P2.X + P1.X - oldP1.X, P2.Y + P1.Y - oldP1.Y};
    }
    UpdateMap();
}

void TTranslator::InputWindow()
{
    const auto p = ReadParams(4);
    Report.Translated = true;
    if (p.size() < 4) {
        Window = false;
        return;
    }
    // The window stays where it was put on the page, whatever scaling comes later.
    const TPt a = Page({p[0], p[1]}), b = Page({p[2], p[3]});
    WinX0 = std::min(a.X, b.X);
    WinX1 = std::max(a.X, b.X);
    WinY0 = std::min(a.Y, b.Y);
    WinY1 = std::max(a.Y, b.Y);
    Window = std::isfinite(WinX0) && std::isfinite(WinX1) && std::isfinite(WinY0) && std::isfinite(WinY1);
    if (Window)
        Did("windows");
}

void TTranslator::Rotate()
{
    const auto p = ReadParams(1);
    Report.Translated = true;
    const int angle = p.empty() ? 0 : Whole(std::fmod(std::fmod(p[0], 360) + 360, 360));
    if (angle % 90 != 0) {
        ++Report.Ignored["RO"];
        return;
    }
    if (angle == Rotation)
        return;
    // P1 and P2 keep their place on the paper, as seen in the new frame.
    const TPt a = RotatedToPage(P1), b = RotatedToPage(P2);
    Rotation = angle;
    auto pageToRotated = [&](TPt q) -> TPt {
        switch (Rotation) {
        case 90: return {q.Y, FrameWidth - q.X};
        case 180: return {FrameWidth - q.X, FrameHeight - q.Y};
        case 270: return {FrameHeight - q.Y, q.X};
        default: return q;
        }
    };
    const TPt ra = pageToRotated(a), rb = pageToRotated(b);
    P1 = {std::min(ra.X, rb.X), std::min(ra.Y, rb.Y)};
    P2 = {std::max(ra.X, rb.X), std::max(ra.Y, rb.Y)};
    if (Rotation != 0)
        Did("rotations");
    UpdateMap();
}

void TTranslator::NextPage()
{
    ReadParams(1);
    // A page that ends a file, or follows an empty one, changes nothing.
    if (PageDrew)
        BreakPending = true;
}

// The first drawing on a new page: it starts to the right of everything drawn so far.
void TTranslator::ApplyBreak()
{
    BreakPending = false;
    // The first page was written verbatim, so its extents come from the objects themselves.
    Extents.TakeUpTo(Sheet);
    Extents.Store(Sheet);
    const double minX = PageOffset == 0 ? std::min<double>(PageMinX, Sheet.XMin) : PageMinX;
    const double maxX = std::max({DrawnMaxX, PageOffset, static_cast<double>(Sheet.XMax)});
    PageOffset = std::ceil(maxX + kPageGap - std::min(0.0, minX));
    PageMinX = 0;
    PageDrew = false;
    ++Pages;
    Report.Translated = true;
}

// The label's text up to its terminator. A label that meets no terminator before the end of
// the file would swallow the rest: it ends at its first line feed, and what follows is read
// again as commands.
std::string TTranslator::LabelText(bool& terminated)
{
    std::string text;
    terminated = true;
    for (;;) {
        const int c = S().GetRaw();
        if (c == kEnd || c == kCtrlZ) {
            if (c == kCtrlZ)
                S().Unget(c);
            break;
        }
        if (c == Terminator) {
            if (TerminatorPrinted)
                text.push_back(static_cast<char>(c));
            return text;
        }
        if (TerminatorAbsent && c == '\n')
            return text;
        text.push_back(static_cast<char>(c));
    }
    terminated = false;
    TerminatorAbsent = true;
    const std::size_t lf = text.find('\n');
    if (lf != std::string::npos) {
        Rest = text.substr(lf + 1);
        text.resize(lf);
        RestStream = std::make_unique<TCharStream>(Rest);
        Stream = RestStream.get();
    }
    return text;
}

double TTranslator::CharWidth() const
{
    return SizeRelative ? RelW / 100 * std::fabs(P2.X - P1.X) : SizeW;
}

double TTranslator::CharHeight() const
{
    return SizeRelative ? RelH / 100 * std::fabs(P2.Y - P1.Y) : SizeH;
}

// The label's axes on the page: u along the text, v up the characters, both unit vectors.
void TTranslator::LabelFrame(TPt& u, TPt& v) const
{
    TPt d = Direction;
    if (DirectionRelative)
        d = {Direction.X * (P2.X - P1.X), Direction.Y * (P2.Y - P1.Y)};
    double len = std::hypot(d.X, d.Y);
    if (!(len > 0) || !std::isfinite(len))
        d = {1, 0}, len = 1;
    d = {d.X / len, d.Y / len};
    // The plotter frame turns with RO; the text turns with it.
    const TPt o = RotatedToPage({0, 0});
    const TPt du = RotatedToPage(d);
    u = {du.X - o.X, du.Y - o.Y};
    v = {-u.Y, u.X};
}

void TTranslator::DrawGlyph(const hpgl2::TGlyph& glyph, TPt at, double sx, double sy, TPt u, TPt v)
{
    for (const auto& stroke : glyph.Strokes) {
        TPt prev{};
        for (std::size_t i = 0; i < stroke.size() && Failure.empty(); ++i) {
            const double x = stroke[i].X * sx + Slant * stroke[i].Y * sy, y = stroke[i].Y * sy;
            const TPt p{at.X + u.X * x + v.X * y, at.Y + u.Y * x + v.Y * y};
            if (i > 0)
                Clipped(prev, p);
            prev = p;
        }
    }
}

// A label laid out as HP-GL/2 lays it out: fixed-pitch cells of 1.5 character widths and
// lines of 2 character heights (proportional faces keep their own advances), placed by LO,
// turned by DI/DR and RO, slanted by SL; CR, LF, BS, HT, SO and SI act as on a plotter.
void TTranslator::DrawLabel(const std::string& text)
{
    FlushDot();
    if (Dasher)
        Dasher->Reset();
    TPt u, v;
    LabelFrame(u, v);
    const double w = CharWidth(), h = CharHeight();
    const double cell = 1.5 * w * (1 + ExtraSpace), line = 2 * h * (1 + ExtraLines);
    auto face = [&] { return Faces[Alternate ? 1 : 0]; };
    auto advance = [&](unsigned char c) {
        if (!Proportional[Alternate ? 1 : 0])
            return cell;
        const auto g = hpgl2::Glyph(face(), c, Sets[Alternate ? 1 : 0]);
        return g.Advance() * h / hpgl2::CapHeight(face()) + 1.5 * w * ExtraSpace;
    };
    // LO: where the pen stands on the first line's box; 11 to 19 keep half a character away.
    int origin = Origin;
    const bool away = origin > 10;
    if (away)
        origin -= 10;
    const int column = (origin - 1) / 3, row = (origin - 1) % 3;  // column: left, centre, right
    double firstWidth = 0;
    for (unsigned char c : text) {
        if (!Transparent && (c == '\r' || c == '\n'))
            break;
        if (Transparent || c >= 32)
            firstWidth += Vertical ? 0 : advance(c);
    }
    if (!Proportional[Alternate ? 1 : 0] && firstWidth > 0)
        firstWidth -= 0.5 * w;  // the last cell's space is no part of the label
    double du = column == 0 ? 0 : column == 1 ? -firstWidth / 2 : -firstWidth;
    double dv = row == 0 ? 0 : row == 1 ? -h / 2 : -h;
    if (away) {
        du += column == 0 ? 0.5 * w : column == 2 ? -0.5 * w : 0;
        dv += row == 0 ? 0.5 * h : row == 2 ? -0.5 * h : 0;
    }
    const TPt start = Page(Pen);
    TPt at{start.X + u.X * du + v.X * dv, start.Y + u.Y * du + v.Y * dv};
    LineStart = at;
    std::int64_t boxes = 0;
    for (unsigned char c : text) {
        if (!Failure.empty())
            return;
        if (!Transparent && c < 32) {
            switch (c) {
            case '\r': at = LineStart; break;
            case '\n':
                LineStart = {LineStart.X - v.X * line, LineStart.Y - v.Y * line};
                at = {at.X - v.X * line, at.Y - v.Y * line};
                break;
            case 8: at = {at.X - u.X * cell, at.Y - u.Y * cell}; break;
            case 9: at = {at.X + u.X * cell, at.Y + u.Y * cell}; break;
            case 14: Alternate = true; break;
            case 15: Alternate = false; break;
            default: break;
            }
            continue;
        }
        const hpgl2::TGlyph g = hpgl2::Glyph(face(), c, Sets[Alternate ? 1 : 0]);
        if (!g.Known)
            ++boxes;
        const double sy = h / hpgl2::CapHeight(face());
        const double step = advance(c);
        if (Proportional[Alternate ? 1 : 0]) {
            DrawGlyph(g, at, sy, sy, u, v);
        } else {
            // Into the cell: the character is w wide and stands at the cell's left.
            const double sx = 1.5 * w / hpgl2::CapHeight(face());
            const TPt left{at.X + u.X * (0.5 * w - g.Advance() / 2 * sx),
                           at.Y + u.Y * (0.5 * w - g.Advance() / 2 * sx)};
            DrawGlyph(g, left, sx, sy, u, v);
        }
        if (Vertical)
            at = {at.X - v.X * line, at.Y - v.Y * line};
        else
            at = {at.X + u.X * step, at.Y + u.Y * step};
    }
    if (boxes > 0)
        Did("characters drawn as boxes", boxes);
    // The pen ends where the next character would start.
    const double det = Map.A * Map.D - Map.B * Map.C;
    if (det != 0 && std::isfinite(det)) {
        const double x = at.X - Map.E, y = at.Y - Map.F;
        Pen = {(Map.D * x - Map.B * y) / det, (Map.A * y - Map.C * x) / det};
    }
}

// SM: the symbol centred on the point the pen just reached; the next line starts there again.
void TTranslator::DrawSymbol()
{
    TPt u, v;
    LabelFrame(u, v);
    const double w = CharWidth(), h = CharHeight();
    const auto face = Faces[Alternate ? 1 : 0];
    const hpgl2::TGlyph g = hpgl2::Glyph(face, static_cast<unsigned char>(Symbol), Sets[Alternate ? 1 : 0]);
    const double sx = 1.5 * w / hpgl2::CapHeight(face), sy = h / hpgl2::CapHeight(face);
    const TPt at = Page(Pen);
    const double du = -g.Advance() / 2 * sx, dv = -h / 2;
    DrawGlyph(g, {at.X + u.X * du + v.X * dv, at.Y + u.Y * du + v.Y * dv}, sx, sy, u, v);
    if (Dasher)
        Dasher->Reset();
}

void TTranslator::Label()
{
    bool terminated = true;
    const std::string text = LabelText(terminated);
    Did("labels");
    if (!terminated)
        Did("labels without a terminator, ended at a line feed");
    DrawLabel(text);
}

// SD/AD: kind and value pairs; the face follows spacing, posture, weight and typeface.
void TTranslator::FontDefinition(bool alternate)
{
    const auto p = ReadParams(16);
    Report.Translated = true;
    const int i = alternate ? 1 : 0;
    if (p.empty()) {
        for (int& k : FontKinds[i])
            k = 0;
    }
    for (std::size_t k = 0; k + 1 < p.size(); k += 2) {
        const int kind = Whole(p[k]);
        if (kind >= 1 && kind <= 7)
            FontKinds[i][kind] = Whole(p[k + 1]);
    }
    Sets[i] = FontKinds[i][1] == 14 ? hpgl2::TCharSet::Latin1 : hpgl2::TCharSet::Roman8;
    Proportional[i] = FontKinds[i][2] == 1;
    Faces[i] = hpgl2::FaceFor(FontKinds[i][7], FontKinds[i][5], FontKinds[i][6], FontKinds[i][2]);
}

void TTranslator::PolygonMode()
{
    const auto p = ReadParams(1);
    Report.Translated = true;
    const int mode = p.empty() ? 0 : Whole(p[0]);
    if (mode == 0) {
        Poly = true;
        PolyPoints = 0;
        Rings.clear();
        RingDown.clear();
        PolyStart = Pen;
        Rings.push_back({Page(Pen)});
        RingDown.push_back({});
    } else if (mode == 1 && Poly) {
        // Closing edges are drawn by EP only where the pen was down when they were made.
        CloseRing(Down);
        Rings.push_back({Page(Pen)});
        RingDown.push_back({});
    } else if (mode == 2 && Poly) {
        CloseRing(Down);
        Poly = false;
        LastRings.clear();
        LastRingDown.clear();
        for (std::size_t i = 0; i < Rings.size(); ++i) {
            if (Rings[i].size() >= 2) {
                LastRings.push_back(std::move(Rings[i]));
                LastRingDown.push_back(std::move(RingDown[i]));
            }
        }
        Rings.clear();
        RingDown.clear();
        Pen = PolyStart;
        Down = false;
    }
}

void TTranslator::FillPolygon()
{
    const auto p = ReadParams(1);
    Did("fills");
    const auto rule = !p.empty() && p[0] == 1 ? hpgl2::TFillRule::NonZero : hpgl2::TFillRule::EvenOdd;
    Hatch(LastRings, rule);
}

void TTranslator::EdgePolygon()
{
    Did("edged shapes");
    for (std::size_t i = 0; i < LastRings.size() && Failure.empty(); ++i) {
        const auto& ring = LastRings[i];
        if (Dasher)
            Dasher->Reset();
        const auto& drawn = LastRingDown[i];
        for (std::size_t k = 1; k <= ring.size(); ++k) {
            if (k - 1 >= drawn.size() || !drawn[k - 1])
                continue;
            DrawSegment(ring[k - 1], ring[k == ring.size() ? 0 : k]);
        }
    }
}

void TTranslator::Command(int m)
{
    // A lowered pen's dot waits for the next command: a line from that point covers it.
    if (DotPending && m != Code("PD") && m != Code("PA") && m != Code("PR") && m != Code("PE") && m != Code("AA") &&
        m != Code("AR") && m != Code("AT") && m != Code("RT") && m != Code("BZ") && m != Code("BR"))
        FlushDot();
    if (BreakPending) {
        // clang-format off
        switch (m) {
        case Code("PA"): case Code("PR"):
            if (!Down)
                break;
            [[fallthrough]];
        case Code("PD"): case Code("CI"): case Code("AA"): case Code("AR"): case Code("AT"): case Code("RT"):
        case Code("ER"): case Code("EA"): case Code("RA"): case Code("RR"): case Code("EW"): case Code("WG"):
        case Code("EP"): case Code("FP"): case Code("PE"): case Code("BZ"): case Code("BR"): case Code("XT"):
        case Code("YT"):
            ApplyBreak();
            break;
        default:
            break;
        }
        // clang-format on
    }
    switch (m) {
    // clang-format off
    case Code("PU"): case Code("PD"): case Code("PA"): case Code("PR"): {
        // clang-format on
        const std::int8_t kind = m == Code("PU") ? hkPU : m == Code("PD") ? hkPD : m == Code("PA") ? hkPA : hkPR;
        if (Verbatim())
            PlainPen(kind);
        else
            PenCommand(kind);
        return;
    }
    case Code("SP"): {
        std::int32_t a;
        if (ReadPlain(a))
            Add(hkSP, a);
        return;
    }
    case Code("CI"):
        if (Verbatim())
            PlainOther(hkCI);
        else
            Circle();
        return;
    case Code("AA"):
        if (Verbatim())
            PlainOther(hkAA);
        else
            Arc(false);
        return;
    case Code("ER"):
        if (Verbatim())
            PlainOther(hkER);
        else
            Rectangle(true, false);
        return;
    case Code("AR"): Arc(true); return;
    case Code("AT"): ThreePointArc(false); return;
    case Code("RT"): ThreePointArc(true); return;
    case Code("BZ"): Bezier(false); return;
    case Code("BR"): Bezier(true); return;
    case Code("PE"): Encoded(); return;
    case Code("EA"): Rectangle(false, false); return;
    case Code("RA"): Rectangle(false, true); return;
    case Code("RR"): Rectangle(true, true); return;
    case Code("EW"): Wedge(false); return;
    case Code("WG"): Wedge(true); return;
    case Code("PM"): PolygonMode(); return;
    case Code("FP"): FillPolygon(); return;
    case Code("EP"): EdgePolygon(); return;
    case Code("FT"): FillType(); return;
    case Code("LT"): LineType(); return;
    case Code("UL"): UserLine(); return;
    case Code("SC"): Scale(); return;
    case Code("IP"): InputP(false); return;
    case Code("IR"): InputP(true); return;
    case Code("IW"): InputWindow(); return;
    case Code("RO"): Rotate(); return;
    // clang-format off
    case Code("PG"): case Code("FR"): NextPage(); return;
    // clang-format on
    case Code("LB"): Label(); return;
    case Code("BL"): {
        bool terminated = true;
        Buffered = LabelText(terminated);
        Report.Translated = true;
        return;
    }
    case Code("PB"):
        Did("labels");
        DrawLabel(Buffered);
        return;
    // clang-format off
    case Code("SI"): case Code("SR"): {
        // clang-format on
        const auto p = ReadParams(2);
        Report.Translated = true;
        SizeRelative = m == Code("SR");
        const bool ok = p.size() >= 2 && std::isfinite(p[0]) && std::isfinite(p[1]);
        if (SizeRelative) {
            RelW = ok ? p[0] : 0.75;
            RelH = ok ? p[1] : 1.5;
        } else {
            SizeW = ok ? p[0] * 400 : 0.19 * 400;
            SizeH = ok ? p[1] * 400 : 0.27 * 400;
        }
        return;
    }
    // clang-format off
    case Code("DI"): case Code("DR"): {
        // clang-format on
        const auto p = ReadParams(2);
        Report.Translated = true;
        DirectionRelative = m == Code("DR");
        Direction = p.size() >= 2 && (p[0] != 0 || p[1] != 0) ? TPt{p[0], p[1]} : TPt{1, 0};
        return;
    }
    case Code("SL"): {
        const auto p = ReadParams(1);
        Report.Translated = true;
        Slant = !p.empty() && std::isfinite(p[0]) ? std::clamp(p[0], -100.0, 100.0) : 0;
        return;
    }
    case Code("ES"): {
        const auto p = ReadParams(2);
        Report.Translated = true;
        ExtraSpace = !p.empty() && std::isfinite(p[0]) ? std::clamp(p[0], -10.0, 100.0) : 0;
        ExtraLines = p.size() > 1 && std::isfinite(p[1]) ? std::clamp(p[1], -10.0, 100.0) : 0;
        return;
    }
    case Code("LO"): {
        const auto p = ReadParams(1);
        Report.Translated = true;
        const int o = p.empty() ? 1 : Whole(p[0]);
        Origin = (o >= 1 && o <= 9) || (o >= 11 && o <= 19) ? o : 1;
        return;
    }
    case Code("DV"): {
        const auto p = ReadParams(2);
        Report.Translated = true;
        Vertical = !p.empty() && p[0] == 1;
        return;
    }
    case Code("TD"): {
        const auto p = ReadParams(1);
        Report.Translated = true;
        Transparent = !p.empty() && p[0] == 1;
        return;
    }
    case Code("SD"): FontDefinition(false); return;
    case Code("AD"): FontDefinition(true); return;
    case Code("SS"):
        Alternate = false;
        Report.Translated = true;
        return;
    case Code("SA"):
        Alternate = true;
        Report.Translated = true;
        return;
    case Code("CP"): {
        const auto p = ReadParams(2);
        Did("character moves");
        TPt u, v;
        LabelFrame(u, v);
        const double cell = 1.5 * CharWidth() * (1 + ExtraSpace), line = 2 * CharHeight() * (1 + ExtraLines);
        TPt at = Page(Pen);
        if (p.size() >= 2)
            // Spaces to the right, lines up (negative ones down), in the label's frame.
            at = {at.X + u.X * p[0] * cell + v.X * p[1] * line, at.Y + u.Y * p[0] * cell + v.Y * p[1] * line};
        else
            at = {LineStart.X - v.X * line, LineStart.Y - v.Y * line};
        LineStart = p.size() >= 2 ? LineStart : at;
        const double det = Map.A * Map.D - Map.B * Map.C;
        if (det != 0 && std::isfinite(det)) {
            const double x = at.X - Map.E, y = at.Y - Map.F;
            MoveTo({(Map.D * x - Map.B * y) / det, (Map.A * y - Map.C * x) / det});
        }
        return;
    }
    case Code("XT"): Tick(true); return;
    case Code("YT"): Tick(false); return;
    case Code("TL"): {
        const auto p = ReadParams(2);
        Report.Translated = true;
        TickPlus = p.empty() ? 0.5 : p[0];
        TickMinus = p.size() > 1 ? p[1] : (p.empty() ? 0.5 : 0);
        return;
    }
    case Code("AC"): {
        const auto p = ReadParams(2);
        Report.Translated = true;
        Anchor = p.size() >= 2 ? TPt{p[0], p[1]} : TPt{};
        return;
    }
    case Code("CT"): {
        const auto p = ReadParams(1);
        Report.Translated = true;
        ChordDeviation = !p.empty() && p[0] == 1;
        return;
    }
    case Code("WU"): {
        const auto p = ReadParams(1);
        WidthRelative = !p.empty() && p[0] == 1;
        return;
    }
    case Code("PW"): PenWidth(); return;
    case Code("PT"): {
        // HP-GL's pen thickness, in millimetres: the spacing of solid fills, as PW's.
        const auto p = ReadParams(1);
        PenWidthMm = p.empty() ? 0.3 : std::clamp(p[0], 0.1, 5.0);
        return;
    }
    case Code("DT"): {
        // The terminator is the next character; ';', a line feed, NUL or ESC restore ETX.
        const int c = S().GetRaw();
        Report.Translated = true;
        if (c == kEnd || c == ';' || c == '\n' || c == 0 || c == kEsc) {
            if (c == kEsc)
                S().Unget(c);
            Terminator = kEtx;
            TerminatorPrinted = false;
        } else {
            Terminator = c;
            const auto p = ReadParams(1);
            // Mode 0 prints the terminator as a character; 1, the default, does not.
            TerminatorPrinted = !p.empty() && p[0] == 0;
        }
        TerminatorAbsent = false;
        return;
    }
    case Code("IN"):
        // HP-GL/2's IN also lifts the pen and sets absolute moves; the pen is left as it is,
        // as the plain reader leaves it, so files of the plain commands read the same.
        ResetState(true);
        return;
    case Code("DF"): ResetState(false); return;
    case Code("PS"): {
        const auto p = ReadParams(2);
        if (p.size() >= 1 && p[0] > 0 && std::isfinite(p[0])) {
            FrameWidth = p[0];
            FrameHeight = p.size() > 1 && p[1] > 0 && std::isfinite(p[1]) ? p[1] : FrameHeight;
        }
        UpdateMap();
        return;
    }
    case Code("CO"): {
        // A comment: its quoted text may hold anything.
        int c;
        do
            c = S().Get();
        while (c == ' ');
        if (c == '"')
            SkipTo('"');
        else if (c != kEnd)
            S().Unget(c);
        // The plain reader reads a comment's letters as commands: no longer the same file.
        Ignore(m);
        return;
    }
    case Code("WD"):
        Ignore(m);
        for (int c = S().Get(); c != kEnd && c != Terminator; c = S().Get()) {
        }
        return;
    case Code("SM"): {
        // The symbol is the next character; ';' (or nothing printable) ends symbol mode.
        const int c = S().GetRaw();
        Report.Translated = true;
        Symbol = c > 32 && c != ';' && c != 127 ? c : 0;
        if (c == kEsc || c == kEnd)
            S().Unget(c);
        return;
    }
    default:
        if (!IsInert(m))
            Ignore(m);
        return;
    }
}

std::string TTranslator::Run()
{
    std::uint8_t counter = 0;
    for (int m = ReadMnemonicOrEscape(); m != 0 && Failure.empty(); m = ReadMnemonicOrEscape()) {
        if (counter % 32 == 0)
            Extents.TakeUpTo(Sheet);
        if (counter++ % 100 == 0 && Sheet.OnProgress)
            Sheet.OnProgress(S().Consumed(), Total);
        Command(m);
    }
    FlushDot();
    if (Pages > 1)
        Report.Translated = true;
    Report.Pages = Pages;
    if (!Failure.empty())
        return Failure;
    Extents.TakeUpTo(Sheet);
    Extents.Store(Sheet);
    return std::string();
}

}  // namespace

std::string TranslateHpgl(THpglSheet& sheet, TCharStream& s, std::uint64_t total, TTranslateReport& report,
                          const TTranslateLimits& limits)
{
    TTranslator t(sheet, s, total, report, limits);
    return t.Run();
}
