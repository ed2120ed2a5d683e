// The HP-GL/2 translator: files of the plain commands read exactly as the plain reader reads
// them; everything else draws what HP's reference says it draws, in plotter units.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "import/hpgltranslate.h"
#include "import/plotfile.h"
#include "sheet/hpgltokens.h"
#include "sheettext.h"
#include "testfiles.h"

namespace {

struct TResult {
    std::string Text;
    TTranslateReport Report;
    TFileResult Load;
};

TResult Translate(const std::string& hpgl)
{
    THpglSheet sheet;
    TResult r;
    r.Load = LoadPlotText(sheet, hpgl, TPlotReading::Translate, &r.Report);
    r.Text = SheetText(sheet);
    return r;
}

std::string Plain(const std::string& hpgl)
{
    THpglSheet sheet;
    sheet.LoadFromText(hpgl);
    return SheetText(sheet);
}

// The pen-down segments a sheet draws with pen moves, as the device draws them.
struct TSeg {
    double X0, Y0, X1, Y1;
};

std::vector<TSeg> DownSegments(const std::string& hpgl)
{
    THpglSheet sheet;
    EXPECT_TRUE(LoadPlotText(sheet, hpgl).Ok());
    std::vector<TSeg> out;
    std::int32_t x = 0, y = 0;
    bool down = false, relative = false;
    for (const THpglObject& o : sheet) {
        THpglSheet::IsMove(o.Kind, &relative);
        if (o.Kind == hkPU)
            down = false;
        if (o.Kind == hkPD)
            down = true;
        if (THpglSheet::IsMove(o.Kind) && o.ParamCount == 2) {
            const std::int32_t nx = relative ? x + o.P1 : o.P1, ny = relative ? y + o.P2 : o.P2;
            if (down)
                out.push_back({double(x), double(y), double(nx), double(ny)});
            x = nx;
            y = ny;
        }
    }
    return out;
}

// PE's number encoding, written out from the reference's description: the sign in the
// lowest bit, then base 64 (or 32) digits least significant first, the last one a terminator.
std::string PeNumber(long long v, bool sevenBit)
{
    unsigned long long u =
        v < 0 ? (static_cast<unsigned long long>(-v) << 1) | 1 : static_cast<unsigned long long>(v) << 1;
    const unsigned base = sevenBit ? 32 : 64;
    std::string s;
    for (;;) {
        const unsigned digit = static_cast<unsigned>(u % base);
        u /= base;
        if (u == 0) {
            s += static_cast<char>(static_cast<unsigned char>(sevenBit ? 95 + digit : 191 + digit));
            return s;
        }
        s += static_cast<char>(63 + digit);
    }
}

// --- Identity -------------------------------------------------------------------------------

TEST(TranslateIdentity, PlainCommandFilesReadObjectForObject)
{
    const char* cases[] = {
        "IN;SP1;PU0,0;PD100,0,100,100;PU;",
        "PA10,20;PR5,5,-5,-5;PD;PU;PA;",
        "pu 1 2 pd 3 4 ; sp 2 ci 50 ; aa 10,10,45,5 ; er 20,30",
        "PD99999999999,12.75,-3,+4,.5;PU1,2,3;",
        "PU10,20\r\nPD30,\r40\x1aPD99,99",
        "IN;DF;VS10;BP;SP;CI;AA1,2;ER5;PD",
        "PR;PD10,10;IN;PD5,5;PA;PD1,1",
        "P1U2PD3,4,5X6",
        "SP 3 PU , 7 8 PD 9;;PU",
        "CI100,5;AA0,0,90,10;",
    };
    for (const char* text : cases) {
        const TResult r = Translate(text);
        EXPECT_EQ(r.Text, Plain(text)) << text;
        EXPECT_FALSE(r.Report.Translated) << text;
    }
}

TEST(TranslateIdentity, GeneratedPlainFilesReadObjectForObject)
{
    const char* words[] = {"PU", "PD", "PA", "PR", "SP", "CI", "AA", "ER", "pu", "Pd", "IN", "DF", "VS", "BP"};
    const char* numbers[] = {"0",           "1",    "-7",         "+12",        "3.99",
                             ".5",          "-.5",  "2147483647", "2147483648", "99999999999999",
                             "-2147483648", "0007", "12."};
    const char* separators[] = {",", " ", ";", ",,", "\r", "\n", " , ", "", ";;", "\r\n", "#"};
    std::mt19937 random(20261208);
    auto pick = [&](auto& list) { return list[random() % std::size(list)]; };
    for (int file = 0; file < 3000; ++file) {
        std::string text;
        const int commands = 1 + static_cast<int>(random() % 12);
        for (int c = 0; c < commands; ++c) {
            text += pick(words);
            const int params = static_cast<int>(random() % 5);
            for (int p = 0; p < params; ++p) {
                text += pick(numbers);
                text += pick(separators);
            }
            text += pick(separators);
        }
        if (random() % 20 == 0)
            text += "\x1aPD5,5";
        const TResult r = Translate(text);
        ASSERT_EQ(r.Text, Plain(text)) << text;
        ASSERT_FALSE(r.Report.Translated) << text;
    }
}

TEST(TranslateIdentity, SamplesOfThePlainCommandsReadAsThePlainReaderReadsThem)
{
    const std::filesystem::path dir(GRAFONEL_SAMPLES_DIR);
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "no samples at " << dir;
    const std::vector<std::string> plainFiles = {"inkcut-export.hpgl",
                                                 "hpglviewer-mutoh-xp500.hpgl",
                                                 "signcut-DISNEY27.PLT",
                                                 "bblanchon-GL-C-F.plt",
                                                 "chiplotle-foal.hpgl",
                                                 "fabric-nesting-B.plt",
                                                 "pcb-randomLEDController_Pen3.plt",
                                                 "aristo-cutter.PLT"};
    int identical = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string path = entry.path().string();
        if (entry.path().extension() == ".md" || entry.path().filename().string()[0] == '.')
            continue;
        THpglSheet plain, translated;
        TTranslateReport report;
        ASSERT_TRUE(plain.LoadFromFile(path).Ok());
        ASSERT_TRUE(LoadPlotFile(translated, path, TPlotReading::Translate, &report).Ok()) << path;
        const std::string name = entry.path().filename().string();
        const bool expectPlain = std::find(plainFiles.begin(), plainFiles.end(), name) != plainFiles.end();
        EXPECT_EQ(report.Translated, !expectPlain) << name << ": " << report.Summary();
        if (!report.Translated) {
            EXPECT_EQ(translated.SaveToText(), plain.SaveToText()) << name;
            EXPECT_EQ(Extents(translated), Extents(plain)) << name;
            ++identical;
        }
        EXPECT_GT(translated.Count(), 0) << name;
    }
    EXPECT_EQ(identical, static_cast<int>(plainFiles.size()));
}

// --- Scaling, rotation, window --------------------------------------------------------------

TEST(TranslateScaling, UserUnitsLandWhereTheReferenceSays)
{
    struct Case {
        const char* Hpgl;
        const char* Expected;
    } cases[] = {
        // Default P1/P2 of the 7475A on A4.
        {"IN;SC0,100,0,100;PU0,0;PD100,100;", "PU 603 521|PD 10603 7721"},
        {"IP0,0,1000,1000;SC0,10,0,10;PU0,0;PD10,10,5.5,0;", "PD 1000 1000|PD 550 0"},
        // Isotropic: the slack split by the left and bottom percentages.
        {"IP0,0,2000,1000;SC0,10,0,10,1;PU0,0;PD10,10;", "PU 500 0|PD 1500 1000"},
        {"IP0,0,2000,1000;SC0,10,0,10,1,0,0;PU0,0;PD10,10;", "PD 1000 1000"},
        // Point factor: user units per plotter unit from P1.
        {"IP100,100,2000,2000;SC0,2,0,3,2;PU0,0;PD10,10;", "PU 100 100|PD 120 130"},
        // Mirrored by the range.
        {"IP0,0,1000,1000;SC10,0,0,10;PU0,0;PD10,10;", "PU 1000 0|PD 0 1000"},
        // IP with one point moves P2 along; IR in percent of the frame.
        {"IP0,0,1000,1000;IP100,100;SC0,10,0,10;PU0,0;PD10,10;", "PU 100 100|PD 1100 1100"},
        {"IR0,0,50,50;SC0,10,0,10;PU0,0;PD10,10;", "PD 5520 3861"},
        // Relative moves in user units.
        {"IP0,0,1000,1000;SC0,10,0,10;PU1,1;PR;PD1,0,0,1;", "PU 100 100|PD 200 100|PD 200 200"},
        // SC alone ends scaling.
        {"IP0,0,1000,1000;SC0,10,0,10;SC;PU1,1;PD2,2;", "PU 1 1|PD 2 2"},
    };
    for (const Case& c : cases) {
        const TResult r = Translate(c.Hpgl);
        EXPECT_NE(r.Text.find(c.Expected), std::string::npos) << c.Hpgl << " gave " << r.Text;
        EXPECT_TRUE(r.Report.Translated) << c.Hpgl;
    }
}

TEST(TranslateScaling, AnEmptyRangeKeepsThePreviousScalingAndSaysSo)
{
    const TResult r = Translate("IP0,0,1000,1000;SC5,5,0,10;PU1,2;PD3,4;SC0,0,0,0,2;PD5,6;");
    EXPECT_EQ(r.Text, "PU 1 2|PD 3 4|PD 5 6");
    EXPECT_EQ(r.Report.Ignored.at("SC"), 2);
}

TEST(TranslateScaling, RotationTurnsThePageAboutTheFrame)
{
    EXPECT_EQ(Translate("RO90;PU0,0;PD100,0;").Text, "PU 11040 0|PD 11040 100");
    EXPECT_EQ(Translate("RO180;PU0,0;PD100,0;").Text, "PU 11040 7721|PD 10940 7721");
    EXPECT_EQ(Translate("RO270;PU0,0;PD100,0;").Text, "PU 0 7721|PD 0 7621");
    EXPECT_EQ(Translate("RO45;PU0,0;PD100,0;").Report.Ignored.at("RO"), 1);
}

TEST(TranslateWindow, LinesAreCutToTheWindowWhicheverWayItIsGiven)
{
    for (const char* window : {"IW0,0,100,100;", "IW100,100,0,0;"}) {
        const std::string hpgl = std::string(window) + "PU50,50;PD200,50,200,80,50,80;PU;PD;";
        EXPECT_EQ(Translate(hpgl).Text, "PU 50 50|PD 100 50|PU 100 80|PD 50 80") << window;
    }
    // The window keeps its place when the scaling changes; IW alone removes it.
    EXPECT_EQ(Translate("IP0,0,1000,1000;IW0,0,100,100;SC0,1,0,1,2;PU0,0;PD1000,0;IW;PD2000,0;").Text,
              "PD 100 0|PU 1000 0|PD 2000 0");
}

// --- Encoded polylines ----------------------------------------------------------------------

TEST(TranslateEncoded, EveryFormDecodes)
{
    auto pair = [](long long x, long long y, bool seven = false) { return PeNumber(x, seven) + PeNumber(y, seven); };
    struct Case {
        std::string Hpgl;
        const char* Expected;
    } cases[] = {
        // Relative pen-down moves from the pen, a pen-up flag, an absolute flag.
        {"PU100,100;PE" + pair(10, 0) + pair(0, -20) + ";", "PU 100 100|PD 110 100|PD 110 80"},
        {"PE<" + pair(50, 50) + pair(5, 5) + ";", "PU 50 50|PD 55 55"},
        {"PE<=" + pair(1000, 2000) + "=" + pair(3000, 4000) + ";", "PU 1000 2000|PD 3000 4000"},
        // 7-bit mode, large values, a pen select.
        {"PE7<=" + pair(100000, 5, true) + pair(-100000, 0, true) + ";", "PU 100000 5|PD 0 5"},
        {"PE:" + PeNumber(3, false) + "<=" + pair(1, 1) + pair(1, 1) + ";", "SP 3|PU 1 1|PD 2 2"},
        // Fractional bits under scaling.
        {"IP0,0,1000,1000;SC0,1,0,1,2;PE>" + PeNumber(2, false) + "<=" + pair(6, 10) + pair(1, 1) + ";",
         "PU 2 3|PD 2 3"},
        // Line breaks inside the data are no data.
        {"PE<=" + PeNumber(7, false) + "\r\n" + PeNumber(9, false) + pair(1, 0) + ";", "PU 7 9|PD 8 9"},
    };
    for (const Case& c : cases) {
        const TResult r = Translate(c.Hpgl);
        EXPECT_NE(r.Text.find(c.Expected), std::string::npos) << c.Expected << " not in " << r.Text;
        EXPECT_EQ(r.Report.Done.at("encoded polylines"), 1);
    }
}

TEST(TranslateEncoded, ALongRunStaysExactAndEndsWhereTheDataEnds)
{
    std::string hpgl = "PE<=" + PeNumber(0, false) + PeNumber(0, false);
    for (int i = 0; i < 200000; ++i)
        hpgl += PeNumber(i % 2 ? 3 : -3, false) + PeNumber(1, false);
    hpgl += ";PU;PA7,7;";
    THpglSheet sheet;
    ASSERT_TRUE(LoadPlotText(sheet, hpgl).Ok());
    // The pen-up start writes nothing: the device's pen is there already.
    EXPECT_EQ(sheet.Count(), 200000 + 2);
    EXPECT_EQ(sheet.YMax, 200000);
    EXPECT_EQ(SheetText(sheet).substr(SheetText(sheet).size() - 10), "|PU|PA 7 7");
}

// --- Arcs and circles -----------------------------------------------------------------------

TEST(TranslateCurves, CirclesAndWholeDegreeArcsStayTheDevicesOwn)
{
    struct Case {
        const char* Hpgl;
        const char* Expected;
    } cases[] = {
        {"IP0,0,1000,1000;SC0,10,0,10;PU5,5;CI2;", "PU 500 500|CI 200"},
        {"IP0,0,1000,1000;SC0,10,0,10;PU5,0;PD;AA5,5,90;", "PU 500 0|PD 500 0|AA 500 500 90"},
        {"IP0,0,1000,1000;SC0,10,0,10;PU5,0;PD;AR0,5,-45;", "AA 500 500 -45"},
        // Mirrored scaling turns the sweep round.
        {"IP0,0,1000,1000;SC10,0,0,10;PU5,0;PD;AA5,5,90;", "AA 500 500 -90"},
        // Three points: through the top of a half circle, clockwise; and the other way.
        {"PU0,0;PD;AT100,100,200,0;", "PD|AA 100 0 -180"},
        {"PU0,0;PD;AT100,-100,200,0;", "PD|AA 100 0 180"},
        {"PU0,0;PD;RT100,100,200,0;", "PD|AA 100 0 -180"},
        // Collinear points draw a line.
        {"PU0,0;PD;AT100,0,200,0;", "PD 200 0"},
        // Rotated, still a circle.
        {"RO90;PU100,0;CI50;", "PU 11040 100|CI 50"},
    };
    for (const Case& c : cases) {
        const TResult r = Translate(c.Hpgl);
        EXPECT_NE(r.Text.find(c.Expected), std::string::npos) << c.Hpgl << " gave " << r.Text;
    }
}

TEST(TranslateCurves, WhatIsNoLongerACircleBecomesLinesOnTheCurve)
{
    struct Case {
        const char* Hpgl;
        double Cx, Cy, Rx, Ry;
    } cases[] = {
        // An anisotropic scale makes an ellipse.
        {"IP0,0,2000,1000;SC0,10,0,10;PU5,5;CI2;", 1000, 500, 400, 200},
        // A fractional sweep, a dashed circle, a circle cut by the window.
        {"IP0,0,1000,1000;SC0,1000,0,1000;PU0,0;PD;AA0,1000,90.5;", 0, 1000, 1000, 1000},
        {"LT2,1,1;PU500,500;CI300;", 500, 500, 300, 300},
        {"IW0,0,600,2000;PU500,500;CI300;", 500, 500, 300, 300},
    };
    for (const Case& c : cases) {
        const auto segments = DownSegments(c.Hpgl);
        ASSERT_GT(segments.size(), 10u) << c.Hpgl;
        for (const TSeg& s : segments) {
            const double e = std::hypot((s.X1 - c.Cx) / c.Rx, (s.Y1 - c.Cy) / c.Ry);
            EXPECT_NEAR(e, 1.0, 0.01) << c.Hpgl << " at " << s.X1 << "," << s.Y1;
            EXPECT_LE(s.X1, c.Hpgl[1] == 'W' ? 600 : 1e9);
        }
    }
}

TEST(TranslateCurves, BeziersFollowTheCurveWithinHalfAUnit)
{
    const auto segments = DownSegments("PU0,0;PD;BZ0,1000,1000,1000,1000,0;");
    ASSERT_GT(segments.size(), 10u);
    std::vector<std::pair<double, double>> curve;
    for (int i = 0; i <= 20000; ++i) {
        const double t = i / 20000.0;
        curve.emplace_back(1000 * (3 * t * t - 2 * t * t * t), 3000 * t * (1 - t));
    }
    for (const TSeg& s : segments) {
        double best = 1e9;
        for (const auto& [x, y] : curve)
            best = std::min(best, std::hypot(s.X1 - x, s.Y1 - y));
        // Half a unit of chord error, and the rounding to whole units.
        EXPECT_LE(best, 0.5 + 0.75) << s.X1 << "," << s.Y1;
    }
    EXPECT_EQ(segments.back().X1, 1000);
    EXPECT_EQ(segments.back().Y1, 0);
}

// --- Line types -----------------------------------------------------------------------------

TEST(TranslateLineTypes, PatternsBecomePenUpAndDownPieces)
{
    // 50/50 over a 10 mm (400 unit) pattern.
    EXPECT_EQ(Translate("LT2,10,1;PU0,0;PD1000,0;").Text, "PD 200 0|PU 400 0|PD 600 0|PU 800 0|PD 1000 0");
    // LT alone is solid again; LT99 brings the pattern back.
    EXPECT_EQ(Translate("LT2,10,1;LT;PU0,0;PD1000,0;").Text, "PU 0 0|PD 1000 0");
    EXPECT_EQ(Translate("LT2,10,1;LT;LT99;PU0,0;PD1000,0;").Text, "PD 200 0|PU 400 0|PD 600 0|PU 800 0|PD 1000 0");
    // A user pattern.
    EXPECT_EQ(Translate("UL1,25,75;LT1,10,1;PU0,0;PD800,0;").Text, "PD 100 0|PU 400 0|PD 500 0");
    // Adaptive: whole patterns in each segment, so both ends are drawn.
    const auto adaptive = DownSegments("LT-2,10,1;PU0,0;PD900,0;");
    ASSERT_FALSE(adaptive.empty());
    EXPECT_EQ(adaptive.front().X0, 0);
    double down = 0;
    for (const TSeg& s : adaptive)
        down += s.X1 - s.X0;
    EXPECT_NEAR(down, 450, 2);
    EXPECT_EQ(Translate("LT2,10,1;PU0,0;PD1000,0;").Report.Done.at("dashed lines"), 1);
}

// --- Fills and edges ------------------------------------------------------------------------

TEST(TranslateFills, HatchesStayInsideTheirShapes)
{
    struct Case {
        const char* Hpgl;
        double X0, Y0, X1, Y1;
        std::size_t MinStrokes, MaxStrokes;
    } cases[] = {
        {"PU0,0;FT3,100,0;RA1000,500;", 0, 0, 1000, 500, 4, 6},
        {"PU100,100;FT3,100,90;RR500,500;", 100, 100, 600, 600, 4, 6},
        {"PU0,0;FT4,100,0;RA1000,500;", 0, 0, 1000, 500, 13, 17},
        // Solid: strokes a pen width (1 mm, 40 units) apart.
        {"PW1;PU0,0;FT1;RA1000,400;", 0, 0, 1000, 400, 9, 11},
        {"PU0,0;PM0;PD1000,0,1000,1000,0,1000,0,0;PM2;FT3,100;FP;", 0, 0, 1000, 1000, 9, 11},
        {"PU500,500;FT3,50;WG400,0,90;", 500, 500, 900, 900, 6, 9},
    };
    for (const Case& c : cases) {
        const auto strokes = DownSegments(c.Hpgl);
        EXPECT_GE(strokes.size(), c.MinStrokes) << c.Hpgl;
        EXPECT_LE(strokes.size(), c.MaxStrokes) << c.Hpgl;
        for (const TSeg& s : strokes) {
            for (double x : {s.X0, s.X1})
                EXPECT_TRUE(x >= c.X0 - 1 && x <= c.X1 + 1) << c.Hpgl << " x " << x;
            for (double y : {s.Y0, s.Y1})
                EXPECT_TRUE(y >= c.Y0 - 1 && y <= c.Y1 + 1) << c.Hpgl << " y " << y;
        }
    }
}

TEST(TranslateFills, TheFillRuleDecidesAboutHoles)
{
    // Two squares in the same direction: even-odd leaves the inner one empty.
    const char* shape =
        "PU0,0;PM0;PD1000,0,1000,1000,0,1000,0,0;PM1;PU250,250;PD750,250,750,750,250,750,250,250;PM2;FT3,100;";
    auto length = [](const std::string& hpgl) {
        double total = 0;
        for (const TSeg& s : DownSegments(hpgl))
            total += std::hypot(s.X1 - s.X0, s.Y1 - s.Y0);
        return total;
    };
    EXPECT_NEAR(length(std::string(shape) + "FP0;"), 10 * 1000 - 5 * 500, 600);
    EXPECT_NEAR(length(std::string(shape) + "FP1;"), 10 * 1000, 600);
    // EP draws the outlines, closing edges included, and not the pen-up moves between them.
    EXPECT_NEAR(length(std::string(shape) + "EP;"), 4000 + 2000, 1);
    EXPECT_EQ(Translate(std::string(shape) + "EP;").Report.Done.at("edged shapes"), 1);
}

TEST(TranslateFills, EdgedRectanglesAndWedges)
{
    EXPECT_EQ(Translate("PU10,10;EA110,60;").Text, "PU 10 10|PD 110 10|PD 110 60|PD 10 60|PD 10 10");
    EXPECT_EQ(Translate("LT;IP0,0,1000,1000;SC0,10,0,10;PU1,1;ER1,2;").Text,
              "PU 100 100|PD 200 100|PD 200 300|PD 100 300|PD 100 100");
    const auto wedge = DownSegments("PU0,0;EW100,0,90;");
    ASSERT_GT(wedge.size(), 3u);
    EXPECT_EQ(wedge.front().X1, 100);
    EXPECT_EQ(wedge.back().X1, 0);
    EXPECT_EQ(wedge.back().Y1, 0);
}

// --- Ticks, pages, wrappers -----------------------------------------------------------------

TEST(TranslateMarks, TicksAreSizedFromTheScalingPoints)
{
    EXPECT_EQ(Translate("IP0,0,1000,1000;TL10,5;PU500,500;XT;").Text, "PU 500 500|PU 500 450|PD 500 600|PU 500 500");
    EXPECT_EQ(Translate("IP0,0,1000,1000;TL10,5;PU500,500;YT;").Text, "PU 500 500|PU 450 500|PD 600 500|PU 500 500");
}

TEST(TranslatePages, LaterPagesStandToTheRight)
{
    const TResult r = Translate("PU0,0;PD100,0;PG;PU0,0;PD100,0;FR;PU0,0;PD100,0;PG;");
    // The first page is written as it stands; the pen-up move before a page's first line too.
    EXPECT_EQ(r.Text, "PU 0 0|PD 100 0|PU 0 0|PU 500 0|PD 600 0|PU 1000 0|PD 1100 0");
    EXPECT_EQ(r.Report.Pages, 3);
    EXPECT_TRUE(r.Report.Translated);
    // A page break that ends the file, or follows an empty page, changes nothing.
    const TResult last = Translate("PG;PU0,0;PD100,0;PG;PU5,5;PG;");
    EXPECT_EQ(last.Report.Pages, 1);
    EXPECT_FALSE(last.Report.Translated);
}

TEST(TranslateWrappers, PrinterLanguagesAroundTheDrawingAreSteppedThrough)
{
    struct Case {
        std::string Bytes;
        const char* Expected;
    } cases[] = {
        // PCL reset, into HP-GL/2 and out, raster data holding every awkward byte.
        {"\x1b"
         "E\x1b%1BIN;PU0,0;PD10,10;\x1b%0A\x1b*b9WPD9\x1a\r\n\x1b"
         "E;\x1b%1BPD20,20;",
         "PU 0 0|PD 10 10|PD 20 20"},
        // Text on the PCL page is no drawing.
        {"\x1b"
         "EHello PD world PA 5,5\x1b(s1p10h0s3b4099T\x1b%0BPU0,0;PD1,1;",
         "PU 0 0|PD 1 1"},
        // PJL: its PAPER is no PA.
        {"\x1b%-12345X@PJL JOB\r\n@PJL SET PAPER=A4\r\n@PJL ENTER LANGUAGE=HPGL2\r\nIN;PU0,0;PD5,5;"
         "\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X",
         "PU 0 0|PD 5 5"},
        {"\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n\x1b"
         "E\x1b%1BPU0,0;PD7,7;",
         "PU 0 0|PD 7 7"},
        // The serial device-control sequences.
        {"\x1b.(\x1b.I81;;17:\x1b.N;19:\x1b.@;1:IN;PU0,0;PD1,1;\x1b.)", "PU 0 0|PD 1 1"},
    };
    for (const Case& c : cases) {
        const TResult r = Translate(c.Bytes);
        EXPECT_EQ(r.Text, c.Expected);
        EXPECT_TRUE(r.Report.Translated);
    }
}

TEST(TranslateWrappers, CommentsAreSteppedOverWhateverTheyHold)
{
    EXPECT_EQ(Translate("CO\"PD 99,99\";PU0,0;PD1,1;").Text, "PU 0 0|PD 1 1");
}

// --- Labels ---------------------------------------------------------------------------------

struct TBox {
    double X0 = 1e18, Y0 = 1e18, X1 = -1e18, Y1 = -1e18;
};

TBox DownBox(const std::string& hpgl)
{
    TBox b;
    for (const TSeg& s : DownSegments(hpgl)) {
        b.X0 = std::min({b.X0, s.X0, s.X1});
        b.X1 = std::max({b.X1, s.X0, s.X1});
        b.Y0 = std::min({b.Y0, s.Y0, s.Y1});
        b.Y1 = std::max({b.Y1, s.Y0, s.Y1});
    }
    return b;
}

TEST(TranslateLabels, StrokesFillTheCellTheReferenceGives)
{
    // The default size is 0.19 x 0.27 cm: a character 76 units wide, a cap 108 tall, in a cell
    // 1.5 widths wide. Each case: the label and the box its strokes must fill (within 2 units).
    struct Case {
        const char* Hpgl;
        double X0, Y0, X1, Y1;
    } cases[] = {
        {"PU0,0;LBH\x03", 0, 0, 76, 108},
        {"PU0,0;LBHH\x03", 0, 0, 114 + 76, 108},
        // SI in cm; SR in percent of P1-P2.
        {"SI1,2;PU0,0;LBH\x03", 0, 0, 400, 800},
        {"IP0,0,10000,10000;SR1,2;PU0,0;LBH\x03", 0, 0, 100, 200},
        // LO: centred on the pen, then right and top; 11-19 half a character away.
        {"LO5;PU1000,1000;LBH\x03", 962, 946, 1038, 1054},
        {"LO9;PU1000,1000;LBH\x03", 924, 892, 1000, 1000},
        {"LO11;PU1000,1000;LBH\x03", 1038, 1054, 1114, 1162},
        // DI turns the text; RO turns the frame and the text with it.
        {"DI0,1;PU1000,1000;LBH\x03", 892, 1000, 1000, 1076},
        {"DI-1,0;PU1000,1000;LBH\x03", 924, 892, 1000, 1000},
        {"RO90;PU0,0;LBH\x03", 11040 - 108, 0, 11040, 76},
        // Slant leans the top of the characters forward by the tangent.
        {"SL1;PU0,0;LBH\x03", 0, 0, 76 + 108, 108},
        // A line feed starts a line two character heights lower; CR goes back to its start.
        {"PU0,0;LBH\r\nH\x03", 0, -216, 76, 108},
        // Buffered labels print as labels do.
        {"BLHH\x03PU0,0;PB;", 0, 0, 114 + 76, 108},
    };
    for (const Case& c : cases) {
        const TBox b = DownBox(c.Hpgl);
        EXPECT_NEAR(b.X0, c.X0, 2) << c.Hpgl;
        EXPECT_NEAR(b.Y0, c.Y0, 2) << c.Hpgl;
        EXPECT_NEAR(b.X1, c.X1, 2) << c.Hpgl;
        EXPECT_NEAR(b.Y1, c.Y1, 2) << c.Hpgl;
    }
}

TEST(TranslateLabels, EveryLabelOriginPlacesTheLabelAroundThePen)
{
    // An H fills 76 x 108 units; LO 1-9 put the pen at its left, centre or right (1-3, 4-6,
    // 7-9) and bottom, middle or top; 11-19 the same, half a character further in.
    for (int lo : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19}) {
        const int o = lo > 10 ? lo - 10 : lo;
        const int column = (o - 1) / 3, row = (o - 1) % 3;
        double du = column == 0 ? 0 : column == 1 ? -38 : -76;
        double dv = row == 0 ? 0 : row == 1 ? -54 : -108;
        if (lo > 10) {
            du += column == 0 ? 38 : column == 2 ? -38 : 0;
            dv += row == 0 ? 54 : row == 2 ? -54 : 0;
        }
        const TBox b = DownBox("LO" + std::to_string(lo) + ";PU1000,1000;LBH\x03");
        EXPECT_NEAR(b.X0, 1000 + du, 2) << "LO" << lo;
        EXPECT_NEAR(b.X1, 1000 + du + 76, 2) << "LO" << lo;
        EXPECT_NEAR(b.Y0, 1000 + dv, 2) << "LO" << lo;
        EXPECT_NEAR(b.Y1, 1000 + dv + 108, 2) << "LO" << lo;
    }
}

TEST(TranslateLabels, ControlCharactersActAsOnAPlotter)
{
    struct Case {
        const char* Hpgl;
        double X0, Y0, X1, Y1;
    } cases[] = {
        // Backspace writes over the last character; a tab moves a cell on.
        {"PU0,0;LBH\bH\x03", 0, 0, 76, 108},
        {"PU0,0;LBH\tH\x03", 0, 0, 228 + 76, 108},
        // A line feed alone goes down and keeps the column; CR LF starts the line again.
        {"PU0,0;LBH\nH\x03", 0, -216, 114 + 76, 108},
        // Vertical labels stack their characters.
        {"DV1;PU0,0;LBHH\x03", 0, -216, 76, 108},
        // Transparent data draws control characters as characters (boxes) instead.
        {"TD1;PU0,0;LBH\nH\x03", 0, 0, 228 + 76, 108},
    };
    for (const Case& c : cases) {
        const TBox b = DownBox(c.Hpgl);
        EXPECT_NEAR(b.X0, c.X0, 2) << c.Hpgl;
        EXPECT_NEAR(b.Y0, c.Y0, 2) << c.Hpgl;
        EXPECT_NEAR(b.X1, c.X1, 2) << c.Hpgl;
        EXPECT_NEAR(b.Y1, c.Y1, 40) << c.Hpgl;
    }
    // SO and SI switch to the alternate font and back: AD chose a doubled face.
    const std::string plain = Translate("PU0,0;LBH\x03").Text;
    EXPECT_NE(Translate("AD7,5;PU0,0;LB\x0eH\x03").Text, plain);
    EXPECT_EQ(Translate("AD7,5;PU0,0;LB\x0e\x0fH\x03").Text, plain);
}

TEST(TranslateLabels, ALabelEndsAtItsTerminatorAndThePenAfterIt)
{
    struct Case {
        const char* Hpgl;
        const char* Tail;
    } cases[] = {
        // The pen ends a cell past the last character: a lowered pen starts there.
        {"PU0,0;LBAB\x03PD;PU;", "|PU 228 0|PD|PU"},
        {"PU0,0;LBA\x03PU500,500;PD600,500;", "|PU 500 500|PD 600 500"},
        {"DT*;PU0,0;LBA*PU500,500;PD600,600;", "|PU 500 500|PD 600 600"},
        // DT's mode 0 prints the terminator: the pen ends a cell later.
        {"DT*,0;PU0,0;LBA*PD;PU;", "|PU 228 0|PD|PU"},
        // CP moves by cells and lines (up, or down when negative).
        {"PU0,0;CP2,-1;PD;PU;", "|PU 228 -216|PD|PU"},
        {"PU0,0;CP-1,1;PD;PU;", "|PU -114 216|PD|PU"},
        // Without a terminator anywhere, the label ends at its line feed and the rest is read.
        {"PU0,0;LBAB\nPU500,500;PD600,600;", "|PU 500 500|PD 600 600"},
    };
    for (const Case& c : cases) {
        const std::string text = Translate(c.Hpgl).Text;
        ASSERT_GE(text.size(), std::strlen(c.Tail)) << c.Hpgl;
        EXPECT_EQ(text.substr(text.size() - std::strlen(c.Tail)), c.Tail) << c.Hpgl << " gave " << text;
    }
    const TResult unterminated = Translate("LBA\nPD1,1;LBB\nPD2,2;");
    EXPECT_EQ(unterminated.Report.Done.at("labels"), 2);
    EXPECT_EQ(unterminated.Report.Done.at("labels without a terminator, ended at a line feed"), 1);
}

TEST(TranslateLabels, UnknownCharactersAreBoxesAndSymbolsMarkEachPoint)
{
    EXPECT_EQ(Translate("PU0,0;LBA\x7f\x03").Report.Done.at("characters drawn as boxes"), 1);
    // SM: the symbol centred on each point the pen reaches.
    const TBox b = DownBox("SMX;PU1000,1000;PU2000,1000;SM;PU3000,1000;");
    EXPECT_NEAR(b.X0, 1000 - 38, 20);
    EXPECT_NEAR(b.X1, 2000 + 38, 20);
    EXPECT_NEAR(b.Y0, 1000 - 54, 20);
    EXPECT_NEAR(b.Y1, 1000 + 54, 20);
    // The window clips labels as it clips lines.
    EXPECT_LE(DownBox("IW0,0,50,1000;PU0,0;LBH\x03").X1, 50);
}

// --- Bad input ------------------------------------------------------------------------------

TEST(TranslateLimits, PointsBeyondThirtyTwoBitsRefuseTheFileAndLeaveTheSheet)
{
    THpglSheet sheet;
    sheet.LoadFromText("PU1,1;PD2,2;");
    const std::string before = SheetText(sheet);
    for (const char* hpgl :
         {"SC0,1,0,1,2;PU0,0;PD3000000000,0;", "RO90;PU0,-2147483000;PD0,0;", "SC0,1,0,1,2;PU0,0;CI3000000000;"}) {
        const TFileResult r = LoadPlotText(sheet, hpgl);
        EXPECT_FALSE(r.Ok()) << hpgl;
        EXPECT_NE(r.Reason.find("drawing too large"), std::string::npos) << r.Reason;
        EXPECT_EQ(SheetText(sheet), before) << hpgl;
        EXPECT_EQ(sheet.Count(), 2);
    }
    // The plain commands' own numbers wrap as the plain reader's do.
    EXPECT_TRUE(LoadPlotText(sheet, "PA4294967306,0;").Ok());
    EXPECT_EQ(sheet.Last->P1, 10);
}

TEST(TranslateLimits, FillsAndObjectsStopWithAReason)
{
    auto run = [](const std::string& hpgl, const TTranslateLimits& limits) {
        THpglSheet sheet;
        TTranslateReport report;
        hpgltok::TCharStream s(hpgl);
        return TranslateHpgl(sheet, s, hpgl.size(), report, limits);
    };
    TTranslateLimits small;
    small.MaxHatchStrokes = 1000;
    small.MaxObjects = 500;
    EXPECT_EQ(run("PU0,0;FT3,1;RA100000,100000;", small), "fill too large: more than 1000 hatch strokes");
    std::string many = "PU0,0;";
    for (int i = 0; i < 600; ++i)
        many += "PD" + std::to_string(i) + ",0;";
    EXPECT_EQ(run(many, small), "drawing too large: more than 500 objects");
    // Dashes all outside the window: no objects, but bounded work.
    EXPECT_EQ(run("IW0,0,10,10;LT2,1,1;PU0,100;PD1000000,100;", small),
              "drawing too large: more than 1000 line pieces");
    small.MaxObjects = 1000;
    EXPECT_EQ(run(many, small), "");
}

TEST(TranslateLimits, AFillOfAMillionEdgesGivesASoundResult)
{
    std::string hpgl = "PU0,0;PM0;PE";
    const int n = 1000000;
    double px = 0, py = 0;
    for (int i = 1; i <= n; ++i) {
        const double t = 2 * M_PI * i / n;
        const double x = std::round(100000 * std::cos(t)) - 100000, y = std::round(100000 * std::sin(t));
        hpgl += PeNumber(static_cast<long long>(x - px), false) + PeNumber(static_cast<long long>(y - py), false);
        px = x;
        py = y;
    }
    hpgl += ";PM2;FT3,1000;FP;";
    THpglSheet sheet;
    ASSERT_TRUE(LoadPlotText(sheet, hpgl).Ok());
    EXPECT_GE(sheet.Count(), 2 * 190);
    EXPECT_LE(sheet.Count(), 2 * 210);
}

TEST(TranslateLimits, AnyBytesAreReadWithoutHarm)
{
    std::mt19937 random(8);
    const std::string alphabet = "PUDARSCIEMFTLBWGOXYZNVH0123456789.,;- \r\n\x1b\x1a\x03%*&()@:<>=7?_~\xbf\xfe";
    for (int file = 0; file < 3000; ++file) {
        std::string text;
        const std::size_t length = random() % 200;
        for (std::size_t i = 0; i < length; ++i)
            text += random() % 8 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
        THpglSheet sheet;
        TTranslateReport report;
        const TFileResult r = LoadPlotText(sheet, text, TPlotReading::Translate, &report);
        if (!r.Ok()) {
            EXPECT_EQ(sheet.Count(), 0) << r.Reason;
        }
    }
}

TEST(TranslateFile, ANumberEndingAtTheReadBuffersEdgeReadsAsInMemory)
{
    // The file is read 64 KiB at a time: a number whose last digit ends one read and whose
    // terminating letter starts the next must not look before the new buffer.
    testfiles::TempDir dir;
    const std::string tail = "PD1,22";
    std::string text = "PU0,0;" + std::string(65536 - 6 - tail.size(), ' ') + tail + "PU3,4;\x1b%0BPD5,5";
    ASSERT_EQ(text.find("PU3,4"), 65536u);
    const std::string file = dir.Write("edge.plt", text);
    THpglSheet fromFile, fromText;
    ASSERT_TRUE(LoadPlotFile(fromFile, file).Ok());
    ASSERT_TRUE(LoadPlotText(fromText, text).Ok());
    EXPECT_EQ(SheetText(fromFile), SheetText(fromText));
    EXPECT_EQ(SheetText(fromFile), "PU 0 0|PD 1 22|PU 3 4|PD 5 5");
}

TEST(TranslateFile, UnreadableFilesSayWhy)
{
    testfiles::TempDir dir;
    THpglSheet sheet;
    EXPECT_EQ(LoadPlotFile(sheet, dir.File("missing.plt")).ErrorCode, ENOENT);
    EXPECT_EQ(LoadPlotFile(sheet, dir.Path).ErrorCode, EISDIR);
    const std::string file = dir.Write("a.plt", "IN;SC0,10,0,10;PU0,0;PD10,10;");
    TTranslateReport report;
    ASSERT_TRUE(LoadPlotFile(sheet, file, TPlotReading::Translate, &report).Ok());
    EXPECT_EQ(report.Summary(), "HP-GL/2: 1 scalings");
    THpglSheet plain;
    ASSERT_TRUE(LoadPlotFile(plain, file, TPlotReading::Plain, &report).Ok());
    EXPECT_EQ(SheetText(plain), "PU 0 0|PD 10 10");
    EXPECT_FALSE(report.Translated);
}

TEST(TranslateReport, TheSummaryNamesWhatWasDoneAndIgnored)
{
    TTranslateReport r;
    EXPECT_EQ(r.Summary(), "");
    r.Translated = true;
    r.Done["encoded polylines"] = 4;
    r.Done["fills"] = 3;
    r.Ignored["XY"] = 10;
    r.Ignored["ZZ"] = 2;
    EXPECT_EQ(r.Summary(), "HP-GL/2: 4 encoded polylines, 3 fills; ignored: 12 commands (XY, ZZ)");
    EXPECT_EQ(r.Details(), "4 encoded polylines, 3 fills; ignored: 12 commands (XY, ZZ)");
    r.Done.clear();
    r.Pages = 2;
    r.Ignored = {{"LB", 1}};
    EXPECT_EQ(r.Summary(), "HP-GL/2: 2 pages side by side; ignored: 1 command (LB)");
}

}  // namespace
