#include <gtest/gtest.h>

#include <climits>

#include "sheet/hpglsheet.h"
#include "sheettext.h"

TEST(Sheet, AddLinksInOrderAndCountWalks)
{
    THpglSheet s;
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.First, nullptr);
    EXPECT_EQ(s.Last, nullptr);
    s.Add(hkPA, 1, 2);
    s.Add(hkSP, 3);
    s.Add(hkAA, 4, 5, 6);
    EXPECT_EQ(s.Count(), 3);
    EXPECT_EQ(s.First->Kind, hkPA);
    EXPECT_EQ(s.First->Next->Kind, hkSP);
    EXPECT_EQ(s.First->Next->Next, s.Last);
    EXPECT_EQ(s.Last->Next, nullptr);
    EXPECT_EQ(SheetText(s), "PA 1 2|SP 3|AA 4 5 6");
    // Parameters the command did not carry are zero.
    s.Add(hkPU);
    EXPECT_EQ(s.Last->ParamCount, 0);
    EXPECT_EQ(s.Last->P1 | s.Last->P2 | s.Last->P3, 0);
}

TEST(Sheet, ClearEmptiesAndZeroesExtentsAndSheetIsReusable)
{
    THpglSheet s;
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
    for (int i = 0; i < 100000; ++i)  // several pool blocks
        s.Add(hkPA, i, -i);
    s.CalcExtents();
    EXPECT_EQ(Extents(s), "0,-99999 99999,0");
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.First, nullptr);
    EXPECT_EQ(s.Last, nullptr);
    EXPECT_EQ(Extents(s), "0,0 0,0");
    s.Add(hkPD, 7, 8);
    EXPECT_EQ(SheetText(s), "PD 7 8");
}

TEST(Sheet, IsMoveTracksModeOnlyOnPaAndPr)
{
    bool rel = true;
    EXPECT_FALSE(THpglSheet::IsMove(hkSP, &rel));
    EXPECT_TRUE(rel);
    EXPECT_TRUE(THpglSheet::IsMove(hkPD, &rel));
    EXPECT_TRUE(rel);
    EXPECT_TRUE(THpglSheet::IsMove(hkPA, &rel));
    EXPECT_FALSE(rel);
    EXPECT_TRUE(THpglSheet::IsMove(hkPU, &rel));
    EXPECT_FALSE(rel);
    EXPECT_TRUE(THpglSheet::IsMove(hkPR, &rel));
    EXPECT_TRUE(rel);
    for (int k : {int{hkCI}, int{hkAA}, int{hkER}, 8, -1})
        EXPECT_FALSE(THpglSheet::IsMove(static_cast<std::int8_t>(k), &rel));
    EXPECT_TRUE(rel);
    EXPECT_TRUE(THpglSheet::IsMove(hkPR));
}

struct ExtentsCase {
    const char* hpgl;
    const char* extents;  // "xmin,ymin xmax,ymax"
};

class ExtentsTest : public testing::TestWithParam<ExtentsCase> {};

TEST_P(ExtentsTest, MatchesWalk)
{
    THpglSheet s;
    LoadText(s, GetParam().hpgl);
    EXPECT_EQ(Extents(s), GetParam().extents) << GetParam().hpgl;
}

INSTANTIATE_TEST_SUITE_P(
    Walk, ExtentsTest,
    testing::Values(
        ExtentsCase{"", "0,0 0,0"}, ExtentsCase{"SP1;PU;PD;", "0,0 0,0"}, ExtentsCase{"PA100,50;", "100,50 100,50"},
        // Relative moves accumulate; a PA switches back to absolute for later PU/PD.
        ExtentsCase{"PR10,10;PD5,0;PA100,100;PD20,20;", "10,10 100,100"}, ExtentsCase{"PR10,10;PD5,0;", "10,10 15,10"},
        // A bare PR still switches the mode.
        ExtentsCase{"PA50,50;PR;PD-100,-100;", "-50,-50 50,50"},
        // ER is an offset from the pen and does not move it; the pen at the start counts.
        ExtentsCase{"ER30,-20;", "0,-20 30,0"}, ExtentsCase{"PA10,10;ER5,5;PD0,0;", "0,0 15,15"},
        // AA takes the whole circle's square and leaves the pen at the arc's start.
        ExtentsCase{"PA0,0;AA100,0,90;", "0,-100 200,100"}, ExtentsCase{"PA0,0;AA100,0,10;PD1,1;", "0,-100 200,100"},
        // A circle widens the extents by its square, also as the first thing drawn, and a
        // negative radius is the same circle.
        ExtentsCase{"PA100,100;CI50;", "50,50 150,150"}, ExtentsCase{"CI-20;", "-20,-20 20,20"},
        ExtentsCase{"PA1000,1000;PA0,0;CI10;", "-10,-10 1000,1000"},
        // A circle after an arc is centred where the arc ended, as it is drawn; the arc
        // itself still counts from its start.
        ExtentsCase{"PA200,100;AA100,100,90;CI150;", "-51,0 249,349"},
        ExtentsCase{"PA200,100;AA100,100,90;PR;PD10,10;CI0;", "0,0 210,209"}));

TEST(Sheet, FarArcGetsTrueRadiusNotWrapped)
{
    THpglSheet s;
    s.Add(hkPA, 0, 0);
    s.Add(hkAA, 100000, 0, 90);  // d2 = 1e10, beyond 32 bits
    s.CalcExtents();
    EXPECT_EQ(Extents(s), "0,-100000 200000,100000");
    EXPECT_EQ(ArcRadius(INT_MIN, INT_MIN, INT_MAX, INT_MAX), 6074000998);
}

TEST(Sheet, ExtremeCoordinatesNeitherOverflowNorWrapExtents)
{
    THpglSheet s;
    s.Add(hkPA, INT_MAX, INT_MAX);
    s.Add(hkCI, INT_MIN);  // |INT_MIN| as a radius
    s.Add(hkER, INT_MAX, INT_MAX);
    s.Add(hkPR);
    s.Add(hkPD, INT_MAX, INT_MAX);  // relative moves wrap as on the device
    s.Add(hkPA, INT_MIN, INT_MIN);
    s.Add(hkAA, INT_MAX, INT_MAX, 10);
    s.CalcExtents();
    EXPECT_EQ(s.XMin, INT_MIN);
    EXPECT_EQ(s.XMax, INT_MAX);
    EXPECT_EQ(s.YMin, INT_MIN);
    EXPECT_EQ(s.YMax, INT_MAX);
}

TEST(Sheet, CountIsTheListLengthAcrossBlocksLoadsAndClears)
{
    auto walked = [](const THpglSheet& s) {
        int n = 0;
        for ([[maybe_unused]] const THpglObject& o : s)
            ++n;
        return n;
    };
    THpglSheet s;
    // Block edges (64, 192, ...), a mapped block and beyond, then fewer after a Clear
    // (reused blocks), then loads appended to objects already there.
    for (int target : {1, 63, 64, 65, 191, 192, 193, 20000, 300000, 10, 0, 250000}) {
        s.Clear();
        for (int i = 0; i < target; ++i)
            s.Add(hkPD, i, i);
        EXPECT_EQ(s.Count(), target);
        EXPECT_EQ(walked(s), target);
    }
    LoadText(s, "PA;PD1,2,3,4;SP2;CI5;");
    EXPECT_EQ(s.Count(), 250005);
    EXPECT_EQ(s.Count(), walked(s));
}

TEST(Sheet, ExtentsGatheredDuringALoadEqualAFreshWalk)
{
    // Long enough that the reader gathers the extents in many stretches; every kind of
    // object, relative stretches, arcs moving the pen, and a load appended to a sheet.
    std::string text = "PA;SP1;PU10,10;";
    std::uint32_t seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(range)) - range / 2;
    };
    for (int i = 0; i < 5000; ++i) {
        switch ((next(1000) + 500) % 7) {
        case 0: text += "PR;PD" + std::to_string(next(200)) + "," + std::to_string(next(200)) + ";PA;"; break;
        case 1: text += "AA" + std::to_string(next(4000)) + "," + std::to_string(next(4000)) + ",45;"; break;
        case 2: text += "CI" + std::to_string(next(300)) + ";"; break;
        case 3: text += "ER" + std::to_string(next(500)) + "," + std::to_string(next(500)) + ";"; break;
        default: text += "PD" + std::to_string(next(6000)) + "," + std::to_string(next(6000)) + ";"; break;
        }
    }
    THpglSheet s;
    LoadText(s, text);
    std::string loaded = Extents(s);
    s.CalcExtents();
    EXPECT_EQ(loaded, Extents(s));
    LoadText(s, "PR;" + text);  // appended: the walk goes on from the objects already there
    loaded = Extents(s);
    s.CalcExtents();
    EXPECT_EQ(loaded, Extents(s));
    EXPECT_NE(loaded, "0,0 0,0");
}

TEST(Sheet, TruncateAfterTakesBackWhatWasAppendedAcrossBlocks)
{
    for (int kept : {0, 1, 63, 64, 65, 9000}) {
        THpglSheet sheet;
        for (int i = 0; i < kept; ++i)
            sheet.Add(hkPD, i, 1);
        THpglObject* const last = sheet.Last;
        const std::string before = SheetText(sheet);
        for (int i = 0; i < 20000; ++i)
            sheet.Add(hkPD, -i, 50000);
        sheet.TruncateAfter(last);
        EXPECT_EQ(sheet.Count(), kept);
        EXPECT_EQ(SheetText(sheet), before);
        EXPECT_EQ(sheet.YMax, kept ? 1 : 0) << kept;
        // The pool hands out the freed places again, in order.
        sheet.Add(hkPU, 7, 7);
        EXPECT_EQ(sheet.Count(), kept + 1);
        EXPECT_EQ(sheet.Last->P1, 7);
    }
}
