#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "sheet/wrap.h"

#include "sheet/frame.h"
#include "sheet/hpglsheet.h"
#include "sheettext.h"

namespace {
THpglSheet* Make(THpglSheet& s, const std::string& hpgl)
{
    LoadText(s, hpgl);
    return &s;
}
}  // namespace

TEST(Rotate, QuarterTurnLeftKeepsLowerLeftCorner)
{
    THpglSheet s;
    Make(s, "PA0,0;PD100,50;PR10,0;PA0,0;SP2;CI5;");
    ASSERT_EQ(Extents(s), "-5,-5 110,50");  // the circle at the origin counts
    ASSERT_TRUE(s.Rotate());
    // x' = XMin + YMax - y, y' = x - XMin + YMin
    EXPECT_EQ(SheetText(s), "PA 45 0|PD -5 100|PR 0 10|PA 45 0|SP 2|CI 5");
}

TEST(Rotate, TracksModeThroughPaAndPrAndTurnsOffsets)
{
    THpglSheet s;
    Make(s, "PA0,0;PA100,50;PR;PD10,0;ER3,4;PA;PD0,0;AA50,25,90;");
    ASSERT_EQ(Extents(s), "-5,-30 113,80");  // the arc's square: radius 55 about (50, 25)
    ASSERT_TRUE(s.Rotate());
    EXPECT_EQ(SheetText(s), "PA 75 -25|PA 25 75|PR|PD 0 10|ER -4 3|PA|PD 75 -25|AA 50 25 90");
}

TEST(Mirror, ReflectsAbsolutesNegatesOffsetsAndArcSweeps)
{
    THpglSheet s;
    Make(s, "PA10,5;PA110,5;PR20,3;ER30,40;CI25;PA;PU60,1;AA20,5,-90;SP3;");
    ASSERT_EQ(s.XMin, -20);  // the arc's square, radius 40 about (20, 5)
    ASSERT_EQ(s.XMax, 160);
    ASSERT_TRUE(s.Mirror());
    EXPECT_EQ(SheetText(s), "PA 130 5|PA 30 5|PR -20 3|ER -30 40|CI 25|PA|PU 80 1|AA 120 5 90|SP 3");
}

TEST(Shift, MovesAbsolutesAndExtentsOnly)
{
    THpglSheet s;
    Make(s, "PA10,10;AA0,0,45;PR1,1;PD2,2;ER3,3;CI4;PA;PU7,7;SP1;");
    const std::string before = Extents(s);
    ASSERT_TRUE(s.Shift(5, -5));
    EXPECT_EQ(SheetText(s), "PA 15 5|AA 5 -5 45|PR 1 1|PD 2 2|ER 3 3|CI 4|PA|PU 12 2|SP 1");
    EXPECT_EQ(s.XMin, -9);  // shifted from -14, not recomputed
    EXPECT_NE(Extents(s), before);
}

TEST(Shift, SheetOfRelativeMovesStaysPutWhileExtentsMove)
{
    THpglSheet s;
    Make(s, "PR10,10;PD5,5;");
    ASSERT_TRUE(s.Shift(100, 200));
    EXPECT_EQ(SheetText(s), "PR 10 10|PD 5 5");
    EXPECT_EQ(Extents(s), "110,210 115,215");
}

TEST(Scale, MultipliesFirstAndTruncatesTowardZero)
{
    THpglSheet s;
    Make(s, "PA10,-10;SP3;CI-10;ER10,-10;AA10,-10,90;PU;");
    ASSERT_TRUE(s.Scale(7, 8));
    EXPECT_EQ(SheetText(s), "PA 11 -11|SP 3|CI -11|ER 11 -11|AA 11 -11 90|PU");
    ASSERT_TRUE(s.Scale(8, 7));
    EXPECT_EQ(SheetText(s), "PA 9 -9|SP 3|CI -9|ER 9 -9|AA 9 -9 90|PU");

    THpglSheet u;
    Make(u, "PA1000,-1003;SP3;PD-7,1003;");
    ASSERT_TRUE(u.Scale(40, 8));
    EXPECT_EQ(SheetText(u), "PA 200 -200|SP 3|PD -1 200");
}

TEST(Scale, ProductBeyond32BitsIsExactWhenTheResultFits)
{
    THpglSheet s;
    s.Add(hkPA, 300000000, -300000000);
    ASSERT_TRUE(s.Scale(8, 7));
    EXPECT_EQ(SheetText(s), "PA 262500000 -262500000");
}

// Every transform that would take a value out of range refuses and changes nothing.
TEST(Transforms, RefuseOverflowAndLeaveSheetUntouched)
{
    struct Case {
        const char* name;
        std::function<bool(THpglSheet&)> op;
        std::vector<THpglObject> objects;
    };
    std::vector<Case> cases = {
        {"scale",
         [](THpglSheet& s) { return s.Scale(7, 8); },
         {THpglObject(hkPA, 1, 2), THpglObject(hkPA, INT_MAX - 5, 0)}},
        {"scale by zero", [](THpglSheet& s) { return s.Scale(0, 8); }, {THpglObject(hkPA, 1, 2)}},
        {"scale of empty by zero", [](THpglSheet& s) { return s.Scale(0, 1); }, {}},
        {"scale -1",
         [](THpglSheet& s) { return s.Scale(-1, 1); },
         {THpglObject(hkPA, 1, 2), THpglObject(hkER, INT_MIN, 0)}},
        {"shift", [](THpglSheet& s) { return s.Shift(10, 0); }, {THpglObject(hkPA, INT_MAX - 5, 0)}},
        {"shift extents", [](THpglSheet& s) { return s.Shift(0, -10); }, {THpglObject(hkPR, 0, INT_MIN + 5)}},
        {"mirror offset",
         [](THpglSheet& s) { return s.Mirror(); },
         {THpglObject(hkPA, 1, 1), THpglObject(hkER, INT_MIN, 1)}},
        {"mirror sweep", [](THpglSheet& s) { return s.Mirror(); }, {THpglObject(hkAA, 0, 0, INT_MIN)}},
        {"rotate",
         [](THpglSheet& s) { return s.Rotate(); },
         {THpglObject(hkPA, 0, INT_MIN), THpglObject(hkPA, INT_MAX, 0)}},
    };
    for (auto& c : cases) {
        THpglSheet s;
        for (auto& o : c.objects) {
            if (o.ParamCount == 3)
                s.Add(o.Kind, o.P1, o.P2, o.P3);
            else
                s.Add(o.Kind, o.P1, o.P2);
        }
        s.CalcExtents();
        const std::string objects = SheetText(s), extents = Extents(s);
        EXPECT_FALSE(c.op(s)) << c.name;
        EXPECT_EQ(SheetText(s), objects) << c.name;
        EXPECT_EQ(Extents(s), extents) << c.name;
    }
}

TEST(Transforms, MeaninglessParametersNeverCauseRefusal)
{
    THpglSheet s;
    s.Add(hkPA, 0, INT_MIN);
    s.Add(hkPD, 5, 5);
    s.Last->ParamCount = 0;  // a bare PD whose stale fields must not matter
    s.Last->P1 = INT_MIN;
    s.CalcExtents();
    EXPECT_TRUE(s.Mirror());
}

TEST(FitToFrame, ShiftsToOriginThenFillsBindingSide)
{
    THpglSheet wide;
    Make(wide, "PA500,0;PD3500,1000;");
    ASSERT_TRUE(FitToFrame(wide));
    EXPECT_EQ(SheetText(wide), "PA 0 0|PD 1520 506");

    THpglSheet tall;
    Make(tall, "PA-100,-100;PD100,900;");
    ASSERT_TRUE(FitToFrame(tall));
    EXPECT_EQ(SheetText(tall), "PA 0 0|PD 432 2160");
    EXPECT_EQ(Extents(tall), "0,0 432,2160");
}

TEST(FitToFrame, PointDrawingIsShiftedButNotScaled)
{
    THpglSheet s;
    Make(s, "PA300,400;PD300,400;");
    ASSERT_TRUE(FitToFrame(s));
    EXPECT_EQ(SheetText(s), "PA 0 0|PD 0 0");
    THpglSheet empty;
    ASSERT_TRUE(FitToFrame(empty));
    EXPECT_EQ(Extents(empty), "0,0 0,0");
}

TEST(FitToFrame, RefusedScaleUndoesTheShift)
{
    THpglSheet s;
    s.Add(hkPA, 0, 0);
    s.Add(hkPD, 1, 0);
    s.Add(hkPR);
    s.Add(hkPD, INT_MAX, 0);  // an offset that Scale(1, 1520) cannot hold
    s.CalcExtents();
    const std::string before = SheetText(s);
    EXPECT_FALSE(FitToFrame(s));
    EXPECT_EQ(SheetText(s), before);
}

// Scale takes a faster route for moderate products; both routes must truncate exactly as
// c * b / a in integers, also for quotients a hair below a whole number.
TEST(Scale, MatchesIntegerArithmeticForRandomOperands)
{
    std::mt19937_64 rng(11);
    for (int round = 0; round < 2000; ++round) {
        const bool wide = round % 2;
        const std::int32_t a = static_cast<std::int32_t>(rng() % (wide ? 2000000000u : 50u)) - (wide ? 1000000000 : 25);
        const std::int32_t b = static_cast<std::int32_t>(rng() % 2000001u) - 1000000;
        if (a == 0)
            continue;
        THpglSheet s;
        std::vector<std::int32_t> values;
        for (int i = 0; i < 8; ++i) {
            const auto v = static_cast<std::int32_t>(static_cast<std::int64_t>(rng() % (wide ? 4000000001u : 2001u)) -
                                                     (wide ? 2000000000 : 1000));
            values.push_back(v);
            s.Add(hkPA, v, -v / 2);
        }
        bool fits = true;
        for (auto v : values)
            fits = fits && range::FitsInt32(std::int64_t{v} * b / a);
        ASSERT_EQ(s.Scale(a, b), fits) << a << " " << b;
        if (!fits)
            continue;
        const THpglObject* o = s.First;
        for (auto v : values) {
            ASSERT_EQ(o->P1, std::int64_t{v} * b / a) << v << " * " << b << " / " << a;
            ASSERT_EQ(o->P2, std::int64_t{-v / 2} * b / a);
            o = o->Next;
        }
    }
}
