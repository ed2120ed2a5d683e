#include <gtest/gtest.h>

#include <climits>

#include "plot/preflight.h"
#include "sheet/frame.h"
#include "sheettext.h"

namespace {

std::vector<std::string> Warnings(const THpglSheet& sheet, TPreflightKind kind)
{
    std::vector<std::string> out;
    for (const auto& w : Preflight(sheet))
        if (w.Kind == kind)
            out.push_back(w.Text);
    return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(Preflight, EmptySheetSaysSoAndNothingElse)
{
    THpglSheet s;
    const auto all = Preflight(s);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Kind, TPreflightKind::EmptySheet);
    EXPECT_EQ(all[0].Text, "The sheet is empty: only the opening and closing commands would be sent.");
    // A sheet with only a pen selection is not empty, and a drawing on the paper warns of nothing.
    s.Add(hkSP, 1);
    EXPECT_TRUE(Preflight(s).empty());
    s.Add(hkPA, 1520, 2160);
    s.Add(hkPD, 0, 0);
    EXPECT_TRUE(Preflight(s).empty());
}

TEST(Preflight, BeyondThePaperByHowMuchOnWhichSides)
{
    THpglSheet s;
    s.Add(hkPA, -80, 100);    // 10 mm left
    s.Add(hkPD, 1600, 2200);  // 10 mm right, 5 mm at the top
    EXPECT_EQ(Warnings(s, TPreflightKind::BeyondFrame),
              V{"The drawing goes beyond the paper: 10 mm on the left, 10 mm on the right, 5 mm at the top."});
    // Relative moves count from where the pen is; fractions of a millimetre show one decimal.
    THpglSheet r;
    r.Add(hkPA, 10, 10);
    r.Add(hkPR, 0, -14);  // 4 units below: 0.5 mm
    r.Add(hkPR, -11, 0);  // 1 unit left: 0.125 mm shown as 0.1 mm
    EXPECT_EQ(Warnings(r, TPreflightKind::BeyondFrame),
              V{"The drawing goes beyond the paper: 0.1 mm on the left, 0.5 mm at the bottom."});
}

TEST(Preflight, CirclesRectanglesAndArcsReachBeyondTheirPoints)
{
    const struct {
        const char* What;
        std::vector<THpglObject> Objects;
        const char* Text;  // nullptr: within the paper
    } rows[] = {
        {"circle over the bottom",
         {THpglObject(hkPA, 100, 10), THpglObject(hkCI, -50)},
         "The drawing goes beyond the paper: 5 mm at the bottom."},
        {"circle inside", {THpglObject(hkPA, 100, 100), THpglObject(hkCI, 50)}, nullptr},
        {"rectangle over the right",
         {THpglObject(hkPA, 1500, 100), THpglObject(hkER, 100, 10)},
         "The drawing goes beyond the paper: 10 mm on the right."},
        {"rectangle drawn leftward",
         {THpglObject(hkPA, 10, 100), THpglObject(hkER, -90, 10)},
         "The drawing goes beyond the paper: 10 mm on the left."},
        // A quarter turn from the right of the centre up over the top of the paper: its last
        // point, at 87 degrees, is 39 units above it.
        {"quarter arc over the top",
         {THpglObject(hkPA, 800, 2100), THpglObject(hkAA, 700, 2100, 90)},
         "The drawing goes beyond the paper: 4.9 mm at the top."},
        // The same arc turning the other way stays below the centre's height.
        {"quarter arc downward", {THpglObject(hkPA, 800, 2100), THpglObject(hkAA, 700, 2100, -90)}, nullptr},
        // A whole turn or more: the circle's square, without walking 2^31 points.
        {"endless arc",
         {THpglObject(hkPA, 100, 100), THpglObject(hkAA, 0, 100, INT_MIN)},
         "The drawing goes beyond the paper: 12.5 mm on the left."},
        {"pen-up move off the paper",
         {THpglObject(hkPU, 0, -800), THpglObject(hkPU, 0, 0)},
         "The drawing goes beyond the paper: 100 mm at the bottom."},
    };
    for (const auto& row : rows) {
        THpglSheet s;
        for (const auto& o : row.Objects) {
            if (o.ParamCount == 1)
                s.Add(o.Kind, o.P1);
            else if (o.ParamCount == 2)
                s.Add(o.Kind, o.P1, o.P2);
            else
                s.Add(o.Kind, o.P1, o.P2, o.P3);
        }
        EXPECT_EQ(Warnings(s, TPreflightKind::BeyondFrame), row.Text ? V{row.Text} : V{}) << row.What;
    }
    // Coordinates at the ends of the 32-bit range give plain numbers, not wrapped ones.
    THpglSheet far;
    far.Add(hkPA, INT_MIN, INT_MAX);
    far.Add(hkCI, INT_MIN);
    const TFrameOverrun o = FrameOverrun(far);
    EXPECT_EQ(o.Left, -(std::int64_t{INT_MIN} + INT_MIN));
    EXPECT_EQ(o.Top, std::int64_t{INT_MAX} + 2147483648LL - 2160);
}

TEST(Preflight, PenChangesTheDeviceNeverGets)
{
    THpglSheet one;
    one.Add(hkSP, 1);
    one.Add(hkPD, 10, 10);
    one.Add(hkSP, 0);
    one.Add(hkSP);
    EXPECT_TRUE(Warnings(one, TPreflightKind::PenChanges).empty());
    one.Add(hkSP, 2);
    one.Add(hkSP, 1);
    EXPECT_EQ(Warnings(one, TPreflightKind::PenChanges),
              V{"The sheet changes pens (SP 1, 2); this device does not receive pen changes, so everything plots "
                "with the pen in the holder."});
    THpglSheet many;
    for (int p = 12; p >= 1; --p)
        many.Add(hkSP, p);
    const auto w = Warnings(many, TPreflightKind::PenChanges);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_NE(w[0].find("(SP 12, 11, 10, 9, 8, 7, 6, 5, ...)"), std::string::npos) << w[0];
}

TEST(Preflight, ArcsSweepingMoreThanOneTurn)
{
    THpglSheet s;
    s.Add(hkPA, 100, 100);
    s.Add(hkAA, 100, 150, 360);
    s.Add(hkAA, 100, 150, -360);
    EXPECT_TRUE(Warnings(s, TPreflightKind::LongArcs).empty());
    s.Add(hkAA, 100, 150, -361);
    EXPECT_EQ(Warnings(s, TPreflightKind::LongArcs),
              V{"1 arc sweeps more than 360 degrees and is drawn more than once (361 degrees)."});
    s.Add(hkAA, 100, 150, 1080);
    s.Add(hkAA, 100, 150, INT_MIN);
    EXPECT_EQ(Warnings(s, TPreflightKind::LongArcs),
              V{"3 arcs sweep more than 360 degrees and are drawn more than once (the longest 2147483648 degrees)."});
}

TEST(Preflight, SamplesFittedToThePaperStayOnIt)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    int fitted = 0;
    for (const auto& f : files) {
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        if (!FitToFrame(s))
            continue;
        // Zoom to fit puts the extents on the paper; only arcs (whose points the device
        // computes with its own pi) may stray by a few units.
        const TFrameOverrun o = FrameOverrun(s);
        EXPECT_LE(std::max({o.Left, o.Right, o.Bottom, o.Top}), 8) << f;
        ++fitted;
    }
    EXPECT_GT(fitted, 20);
}
