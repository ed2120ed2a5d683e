#include <gtest/gtest.h>

#include <climits>

#include "plot/ostrel.h"
#include "sheettext.h"

namespace {

std::vector<std::string> Texts(const std::vector<TOstrelText>& v)
{
    std::vector<std::string> out;
    for (const auto& t : v)
        out.push_back(t.Text);
    return out;
}

// Texts of one arc from a pen position.
std::vector<std::string> ArcTexts(std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy, std::int32_t sweep,
                                  TOstrelStream* stream = nullptr)
{
    TOstrelStream local;
    TOstrelStream& s = stream ? *stream : local;
    s.ObjectTexts(THpglObject(hkPA, x, y));
    return Texts(s.ObjectTexts(THpglObject(hkAA, cx, cy, sweep)));
}

std::string Bytes(const THpglSheet& sheet, int speed = 20, bool accelerate = true)
{
    std::string out;
    OstrelSheetStream(sheet, speed, accelerate, [&](std::string_view t, TThrottle) { out += t; });
    return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(OstrelStream, WorkedExampleByteForByte)
{
    THpglSheet s;
    s.Add(hkPU);
    s.Add(hkPA, 100, 0);
    s.Add(hkPD);
    s.Add(hkAA, 0, 0, 9);
    s.Add(hkSP, 1);
    s.Add(hkCI, 50);
    s.Add(hkER, 10, 20);
    std::vector<TOstrelText> all;
    TOstrelStream stream;
    auto collect = [&](std::string_view t, TThrottle k) { all.push_back({std::string(t), k}); };
    stream.Prologue(20, true, collect);
    for (const THpglObject& o : s)
        stream.ObjectTexts(o, collect);
    stream.Epilogue(collect);
    EXPECT_EQ(Texts(all), (V{" SD", "20", " BP IN ", "PU", "PA", "100 0", "PD", "PA99 0", "PA99 5", "PA99 10", "CI50",
                             "ER10 20", " BP "}));
    EXPECT_EQ(Bytes(s), " SD20 BP IN PUPA100 0PDPA99 0PA99 5PA99 10CI50ER10 20 BP ");
    EXPECT_EQ(stream.PenX, 99);
    EXPECT_EQ(stream.PenY, 10);
    EXPECT_FALSE(stream.Relative);
}

TEST(OstrelStream, ThrottleUnitsAreWholeObjectsOrSingleArcPoints)
{
    TOstrelStream s;
    auto kinds = [](const std::vector<TOstrelText>& v) {
        std::vector<TThrottle> k;
        for (const auto& t : v)
            k.push_back(t.Throttle);
        return k;
    };
    using K = std::vector<TThrottle>;
    EXPECT_EQ(kinds(s.Prologue(20, false)), (K{TThrottle::None, TThrottle::None, TThrottle::None, TThrottle::None}));
    EXPECT_EQ(kinds(s.ObjectTexts(THpglObject(hkPA, 100, 0))), (K{TThrottle::UnitStart, TThrottle::SameUnit}));
    EXPECT_EQ(kinds(s.ObjectTexts(THpglObject(hkAA, 0, 0, 9))),
              (K{TThrottle::UnitStart, TThrottle::UnitStart, TThrottle::UnitStart}));
    EXPECT_EQ(kinds(s.ObjectTexts(THpglObject(hkCI, 5))), (K{TThrottle::UnitStart}));
    EXPECT_EQ(kinds(s.Epilogue()), (K{TThrottle::None}));
}

TEST(OstrelStream, PrologueCarriesSpeedAndAccelerationSign)
{
    TOstrelStream s;
    EXPECT_EQ(Texts(s.Prologue(20, true)), (V{" SD", "20", " BP IN "}));
    EXPECT_EQ(Texts(s.Prologue(100, false)), (V{" SD", "-", "100", " BP IN "}));
    THpglSheet empty;
    EXPECT_EQ(Bytes(empty), " SD20 BP IN  BP ");
    EXPECT_EQ(Bytes(empty, 12, false), " SD-12 BP IN  BP ");
}

TEST(OstrelStream, PenCommandsAndTracker)
{
    TOstrelStream s;
    EXPECT_EQ(Texts(s.ObjectTexts(THpglObject(hkPU))), V{"PU"});
    EXPECT_EQ(s.PenX, 0);
    s.ObjectTexts(THpglObject(hkPA, 100, 0));
    EXPECT_EQ(Texts(s.ObjectTexts(THpglObject(hkPR, -10, 5))), (V{"PR", "-10 5"}));
    s.ObjectTexts(THpglObject(hkPR, -10, 5));
    EXPECT_EQ(s.PenX, 80);
    EXPECT_EQ(s.PenY, 10);
    EXPECT_TRUE(s.Relative);
    // A bare PA switches back; PU and PD follow the mode.
    EXPECT_EQ(Texts(s.ObjectTexts(THpglObject(hkPA))), V{"PA"});
    s.ObjectTexts(THpglObject(hkPD, 7, 7));
    EXPECT_EQ(s.PenX, 7);
    s.ObjectTexts(THpglObject(hkPR));
    EXPECT_TRUE(s.Relative);
    s.ObjectTexts(THpglObject(hkPU, 3, -3));
    EXPECT_EQ(s.PenX, 10);
    EXPECT_EQ(s.PenY, 4);
    // Relative moves wrap at 32 bits without undefined behaviour.
    s.ObjectTexts(THpglObject(hkPD, INT_MAX, 0));
    EXPECT_EQ(s.PenX, INT_MIN + 9);
}

TEST(OstrelStream, SilentAndUnconditionalKinds)
{
    TOstrelStream s;
    s.ObjectTexts(THpglObject(hkPA, 5, 6));
    EXPECT_TRUE(s.ObjectTexts(THpglObject(hkSP, 3)).empty());
    EXPECT_TRUE(s.ObjectTexts(THpglObject(8, 1, 2)).empty());
    EXPECT_TRUE(s.ObjectTexts(THpglObject(-1, 1, 2)).empty());
    // CI and ER are sent whatever ParamCount says; they do not move the tracker.
    EXPECT_EQ(Texts(s.ObjectTexts(THpglObject(hkCI))), V{"CI0"});
    EXPECT_EQ(Texts(s.ObjectTexts(THpglObject(hkER, -3))), V{"ER-3 0"});
    EXPECT_EQ(Texts(s.ObjectTexts(THpglObject(hkER, INT_MIN, INT_MAX))), V{"ER-2147483648 2147483647"});
    EXPECT_EQ(s.PenX, 5);
    EXPECT_EQ(s.PenY, 6);
}

TEST(OstrelArc, PointsTruncateTowardZero)
{
    EXPECT_EQ(ArcTexts(100, 0, 0, 0, 9), (V{"PA99 0", "PA99 5", "PA99 10"}));
    EXPECT_EQ(ArcTexts(100, 0, 0, 0, -3), (V{"PA99 0", "PA99 -1", "PA99 -3"}));
    // A quarter turn in single precision has a sine just below 1.
    EXPECT_EQ(ArcTexts(0, 100, 0, 0, 9), (V{"PA0 99", "PA-5 99", "PA-10 99"}));
    EXPECT_EQ(ArcTexts(-100, 0, 0, 0, 9), (V{"PA-100 0", "PA-99 -5", "PA-99 -10"}));
}

TEST(OstrelArc, PointCountsAndTheEndNeverSent)
{
    auto quarter = ArcTexts(100, 0, 0, 0, 90);
    EXPECT_EQ(quarter.size(), 30u);
    EXPECT_EQ(quarter.back(), "PA5 99");
    EXPECT_EQ(ArcTexts(100, 0, 0, 0, 360).size(), 120u);
    EXPECT_EQ(ArcTexts(100, 0, 0, 0, -360).size(), 360u);
    EXPECT_EQ(ArcTexts(100, 0, 0, 0, 2).size(), 1u);
    EXPECT_EQ(ArcTexts(100, 0, 0, 0, 4).size(), 2u);
    EXPECT_TRUE(ArcTexts(100, 0, 0, 0, 0).empty());
}

TEST(OstrelArc, ZeroRadiusRepeatsTheCentre)
{
    EXPECT_EQ(ArcTexts(50, 50, 50, 50, 5), (V{"PA50 50", "PA50 50"}));
}

TEST(OstrelArc, TrackerFollowsEveryPointAndKeepsRelativeMode)
{
    TOstrelStream s;
    s.ObjectTexts(THpglObject(hkPA, 100, 0));
    s.ObjectTexts(THpglObject(hkPR));
    auto t = Texts(s.ObjectTexts(THpglObject(hkAA, 0, 0, 9)));
    EXPECT_EQ(t, (V{"PA99 0", "PA99 5", "PA99 10"}));  // absolute moves even while relative
    EXPECT_TRUE(s.Relative);
    EXPECT_EQ(s.PenX, 99);
    EXPECT_EQ(s.PenY, 10);
    // The next relative move starts from the arc's last point.
    s.ObjectTexts(THpglObject(hkPD, 1, 1));
    EXPECT_EQ(s.PenX, 100);
    EXPECT_EQ(s.PenY, 11);
}

TEST(OstrelArc, FarArcGetsItsTrueRadius)
{
    // 100000 units from the centre: d2 = 1e10 does not fit 32 bits.
    auto t = ArcTexts(100000, 0, 0, 0, 3);
    // 3.1428 for pi turns the start by 0.0012 radians: 120 units at this radius.
    EXPECT_EQ(t, V{"PA99999 120"});
}

TEST(OstrelStream, UnitsStayWithinTwentyFiveBytes)
{
    TOstrelStream s;
    auto unit = [&](const THpglObject& o) {
        std::size_t n = 0;
        for (const auto& t : s.ObjectTexts(o))
            n += t.Text.size();
        return n;
    };
    EXPECT_EQ(unit(THpglObject(hkPA, INT_MIN, INT_MIN)), 25u);
    EXPECT_LE(unit(THpglObject(hkER, INT_MIN, INT_MIN)), 25u);
    EXPECT_LE(unit(THpglObject(hkCI, INT_MIN)), 25u);
    s.ObjectTexts(THpglObject(hkPA, INT_MIN, INT_MIN));
    for (const auto& t : s.ObjectTexts(THpglObject(hkAA, INT_MAX, INT_MAX, 30)))
        EXPECT_LE(t.Text.size(), 25u);
}

TEST(OstrelStreamSize, CountsEveryByteWhileArcsStayWithinTheBudget)
{
    THpglSheet s;
    LoadText(s, "PU;PA100,0;PD;AA0,0,9;SP1;CI50;ER10,20;PR5,5;AA7,7,-400;PD-3,4;AA0,0,720;");
    for (bool accelerate : {true, false}) {
        const TStreamSize size = OstrelStreamSize(s, 37, accelerate);
        EXPECT_TRUE(size.Exact);
        EXPECT_EQ(size.Bytes, Bytes(s, 37, accelerate).size());
    }
    // Past the budget each arc is sized from samples; the pen still ends where the arc's last
    // point puts it, so what follows is counted exactly.
    const TStreamSize rough = OstrelStreamSize(s, 37, true, 0, 10);
    EXPECT_FALSE(rough.Exact);
    const double exact = static_cast<double>(Bytes(s, 37, true).size());
    EXPECT_NEAR(static_cast<double>(rough.Bytes), exact, exact * 0.05);
}

TEST(OstrelStreamSize, AHugeSweepIsSizedAtOnceAndTheNextArcStartsRight)
{
    THpglSheet s;
    LoadText(s, "PA100,0;AA0,0,-2147483648;");
    const TStreamSize huge = OstrelStreamSize(s, 20, true);
    EXPECT_FALSE(huge.Exact);
    // 2^31 points of "PAx y", each 7 to 13 bytes for a radius of 100.
    EXPECT_GT(huge.Bytes, 2147483648ull * 7);
    EXPECT_LT(huge.Bytes, 2147483648ull * 13);

    // A sweep just over the budget: the object after it is sized from the right pen.
    THpglSheet t;
    LoadText(t, "PA1000,0;AA0,0,-3000;AA50,50,30;");
    TOstrelStream sampled, sent;
    bool exact = true;
    for (const THpglObject& o : t) {
        sampled.ObjectSize(o, 100, 64, exact);
        sent.ObjectTexts(o);
        EXPECT_EQ(sampled.PenX, sent.PenX);
        EXPECT_EQ(sampled.PenY, sent.PenY);
        EXPECT_EQ(sampled.DeviceX, sent.DeviceX);
        EXPECT_EQ(sampled.DeviceY, sent.DeviceY);
        EXPECT_EQ(sampled.DeviceRelative, sent.DeviceRelative);
    }
    EXPECT_FALSE(exact);
    EXPECT_EQ(ArcPointCount(9), 3u);
    EXPECT_EQ(ArcPointCount(10), 4u);
    EXPECT_EQ(ArcPointCount(-5), 5u);
    EXPECT_EQ(ArcPointCount(INT_MIN), 2147483648u);
}

TEST(OstrelStreamSize, ArcsPastTheBudgetOfOnePointAreCountedExactly)
{
    // Once the budget is spent, an arc of a single point is no sample: it is counted.
    THpglSheet s;
    LoadText(s, "PA100,0;AA0,0,-2000;AA0,0,2;AA0,0,-1;PD5,5;");
    const TStreamSize size = OstrelStreamSize(s, 20, true, 0, 256);
    EXPECT_FALSE(size.Exact);
    const double exact = static_cast<double>(Bytes(s).size());
    EXPECT_NEAR(static_cast<double>(size.Bytes), exact, exact * 0.05);
}

TEST(OstrelStreamSize, AResumedRunIsSizedAsItsStream)
{
    // Restoring after a relative arc and a pen-down move adds bytes of its own.
    THpglSheet s;
    LoadText(s, "PU;PA100,0;PD;AA0,0,9;PR5,5;AA7,7,-40;PD-3,4;CI50;ER10,20;");
    for (std::int32_t first = 0; first <= s.Count(); ++first) {
        std::uint64_t bytes = 0;
        OstrelResumeStream(s, first, 37, true, [&](std::string_view t, TThrottle) { bytes += t.size(); });
        const TStreamSize size = OstrelStreamSize(s, 37, true, first);
        EXPECT_TRUE(size.Exact);
        EXPECT_EQ(size.Bytes, bytes) << "from object " << first;
    }
}
