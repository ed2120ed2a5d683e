#include <gtest/gtest.h>

#include <climits>

#include "plot/ostrel.h"
#include "sheettext.h"
#include "streamtext.h"

namespace {

std::string Resumed(const THpglSheet& sheet, std::int32_t first, int speed = 20, bool accelerate = true)
{
    std::string out;
    OstrelResumeStream(sheet, first, speed, accelerate, [&](std::string_view t, TThrottle) { out += t; });
    return out;
}

struct TPen {
    std::int32_t X, Y, DeviceX, DeviceY;
    bool Relative, DeviceRelative, Down;
    bool operator==(const TPen&) const = default;
};

TPen PenOf(const TOstrelStream& s)
{
    return {s.PenX, s.PenY, s.DeviceX, s.DeviceY, s.Relative, s.DeviceRelative, s.Down};
}

}  // namespace

TEST(OstrelResume, FromTheFirstObjectItIsThePlainStream)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const std::string name : {"/hp2xx-arcs.hp", "/hp2xx-ci.hp", "/inkcut-export.hpgl", "/hp2xx-dt.plt"}) {
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(GRAFONEL_SAMPLES_DIR + name).Ok());
        EXPECT_EQ(Resumed(s, 0), StreamText(s)) << name;
        EXPECT_EQ(Resumed(s, 0, 50, false), StreamText(s, INT_MAX, 50, false)) << name;
    }
    THpglSheet empty;
    EXPECT_EQ(Resumed(empty, 0), " SD20 BP IN  BP ");
}

TEST(OstrelResume, RestoresPositionModeAndPenBeforeTheCut)
{
    THpglSheet s;
    s.Add(hkPA, 100, 0);
    s.Add(hkPD);
    s.Add(hkPR, 10, 10);  // relative, pen down: (110, 10)
    s.Add(hkSP, 2);
    s.Add(hkPR, 5, 0);
    s.Add(hkPU);
    s.Add(hkPA, 7, 8);
    // Cut after the relative move: up, absolute move, relative again, down again.
    EXPECT_EQ(Resumed(s, 3), " SD20 BP IN PUPA110 10PRPDPR5 0PUPA7 8 BP ");
    EXPECT_EQ(Resumed(s, 4), " SD20 BP IN PUPA110 10PRPDPR5 0PUPA7 8 BP ");
    // After PU and the switch back to absolute mode nothing is restored but the position.
    EXPECT_EQ(Resumed(s, 6), " SD20 BP IN PUPA115 10PRPA7 8 BP ");
    EXPECT_EQ(Resumed(s, 1), " SD20 BP IN PUPA100 0PDPR10 10PR5 0PUPA7 8 BP ");
    // The texts that restore the device keep the throttle units within 25 bytes.
    TOstrelStream t;
    t.DeviceX = INT_MIN;
    t.DeviceY = INT_MIN;
    t.DeviceRelative = t.Down = true;
    std::vector<TOstrelText> texts;
    t.Restore([&](std::string_view x, TThrottle k) { texts.push_back({std::string(x), k}); });
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[2].Text, "-2147483648 -2147483648");
    EXPECT_EQ(texts[2].Throttle, TThrottle::SameUnit);
    for (std::size_t i : {0u, 1u, 3u, 4u})
        EXPECT_EQ(texts[i].Throttle, TThrottle::UnitStart) << i;
}

TEST(OstrelResume, AfterAnArcInRelativeModeTheDeviceIsAbsolute)
{
    // The arc's points are PA commands: the device leaves relative mode, and the next PD
    // moves it to (1, 1) while the tracker counts (100, 11). The resumed device must be
    // where the uninterrupted one is.
    THpglSheet s;
    s.Add(hkPA, 100, 0);
    s.Add(hkPR);
    s.Add(hkAA, 0, 0, 9);
    s.Add(hkPD, 1, 1);
    s.Add(hkPU);
    EXPECT_EQ(StreamText(s), " SD20 BP IN PA100 0PRPA99 0PA99 5PA99 10PD1 1PU BP ");
    EXPECT_EQ(Resumed(s, 4), " SD20 BP IN PUPA1 1PDPU BP ");
    EXPECT_EQ(Resumed(s, 3), " SD20 BP IN PUPA99 10PD1 1PU BP ");
    // A bare PR after the arc makes the device relative again.
    s.Add(hkPR);
    s.Add(hkPD, 2, 2);
    EXPECT_EQ(Resumed(s, 6), " SD20 BP IN PUPA1 1PRPD2 2 BP ");
}

TEST(OstrelResume, SkipLandsWhereTheTextsLeaveThePen)
{
    // Arcs of every direction and size, relative moves that wrap, and the kinds that do not move.
    const THpglObject objects[] = {
        THpglObject(hkPA, 300, 40),        THpglObject(hkAA, 100, 100, 9),
        THpglObject(hkAA, -20, 7, -1),     THpglObject(hkPD),
        THpglObject(hkAA, 0, 0, 2),        THpglObject(hkAA, 5, 5, 360),
        THpglObject(hkAA, 1000, -3, -361), THpglObject(hkPR, INT_MAX, 1),
        THpglObject(hkAA, 0, 0, 100000),   THpglObject(hkCI, 40),
        THpglObject(hkER, 5, 6),           THpglObject(hkSP, 3),
        THpglObject(hkAA, 2, 2, 0),        THpglObject(hkPU, -5, -5),
        THpglObject(hkAA, 70000, 0, -7),   THpglObject(hkPA),
        THpglObject(hkAA, 10, 10, 1),      THpglObject(hkPD, 1, 2),
    };
    TOstrelStream sent, skipped;
    for (const auto& o : objects) {
        sent.ObjectTexts(o, [](std::string_view, TThrottle) {});
        skipped.Skip(o);
        ASSERT_EQ(PenOf(skipped), PenOf(sent)) << HpglMnemonic(o.Kind) << " " << o.P1 << " " << o.P2 << " " << o.P3;
    }
    EXPECT_TRUE(sent.Down);
    EXPECT_FALSE(sent.Relative);
}

TEST(OstrelResume, SkippingAHugeArcFindsItsLastPoint)
{
    // 2^31 points: only the last one is computed.
    TOstrelStream s;
    s.ObjectTexts(THpglObject(hkPA, 100, 0));
    const THpglObject arc(hkAA, 0, 0, INT_MIN);
    const TOstrelArc a(s.PenX, s.PenY, arc);
    EXPECT_EQ(a.Points(), std::int64_t{1} << 31);
    s.Skip(arc);
    std::int32_t x, y;
    a.Point(std::int64_t{INT_MIN} + 1, x, y);
    EXPECT_EQ(s.PenX, x);
    EXPECT_EQ(s.PenY, y);
    EXPECT_LE(std::abs(x), 100);
    EXPECT_LE(std::abs(y), 100);
    // Forward: the last point is the last multiple of 3 below the sweep.
    EXPECT_EQ(TOstrelArc(100, 0, THpglObject(hkAA, 0, 0, 10)).Points(), 4);
    EXPECT_EQ(TOstrelArc(100, 0, THpglObject(hkAA, 0, 0, 9)).Points(), 3);
    EXPECT_EQ(TOstrelArc(100, 0, THpglObject(hkAA, 0, 0, INT_MAX)).Points(), 715827883);
}
