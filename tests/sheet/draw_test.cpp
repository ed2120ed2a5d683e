#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "sheet/canvas.h"
#include "sheet/hpglsheet.h"
#include "recordingcanvas.h"
#include "sheettext.h"
#include "sheet/wrap.h"

using Calls = std::vector<std::string>;

namespace {
// Draws HPGL text on a 403 x 563 recording surface (the mapping examples' size).
TRecordingCanvas DrawText(const std::string& hpgl, int w = 403, int h = 563)
{
    THpglSheet s;
    LoadText(s, hpgl);
    TRecordingCanvas c;
    s.Draw(c, w, h);
    return c;
}

std::string Mapped(std::int64_t x, std::int64_t y, std::int64_t w = 403, std::int64_t h = 563)
{
    return std::to_string(range::Clamp32((w - 2) - ((w - 3) * (1520 - x)) / 1520)) + "," +
           std::to_string(range::Clamp32(((h - 3) * (2160 - y)) / 2160 + 1));
}
}  // namespace

TEST(Draw, MapsFrameCornersOntoSurfaceWithOnePixelBorder)
{
    EXPECT_EQ(Mapped(0, 0), "1,561");
    EXPECT_EQ(Mapped(1520, 2160), "401,1");
    EXPECT_EQ(Mapped(760, 1080), "201,281");
    auto c = DrawText("PD0,0;PD1520,2160;PD760,1080;PD-1520,-2160;");
    EXPECT_EQ(c.Shapes(), (Calls{"move 1,561", "line 1,561", "move 1,561", "line 401,1", "move 401,1", "line 201,281",
                                 "move 201,281", "line -399,1121"}));
}

TEST(Draw, FarCoordinatesMapWithoutWrapping)
{
    auto c = DrawText("PA2000000000,-2000000000;PD-2000000000,2000000000;", 1520, 2160);
    // 64-bit products; the surface's own range holds what lies beyond it.
    const std::string a = Mapped(2000000000, -2000000000, 1520, 2160);
    EXPECT_EQ(a, "1996052632,1997224380");
    EXPECT_EQ(c.Shapes(), (Calls{"move 1,2158", "move " + a, "line " + Mapped(-2000000000, 2000000000, 1520, 2160)}));
}

TEST(Draw, PenUpMovesDownDrawsAndBareCommandsSetAPixel)
{
    auto c = DrawText("SP3;PU100,100;PD200,100;PA300,300;PD;PU;PD;");
    const std::string a = Mapped(100, 100), b = Mapped(200, 100), p = Mapped(300, 300);
    EXPECT_EQ(c.Shapes(), (Calls{"move 1,561", "move " + a, "line " + b, "move " + b, "line " + p, "move " + p,
                                 "pixel " + p + " 0000ff", "move " + p, "pixel " + p + " 0000ff", "move " + p,
                                 "pixel " + p + " 0000ff"}));
}

TEST(Draw, RelativeModeFollowsPaAndPr)
{
    auto c = DrawText("PR10,10;PD10,0;PA0,0;PD5,5;");
    EXPECT_EQ(c.Shapes(), (Calls{"move " + Mapped(0, 0), "move " + Mapped(10, 10), "line " + Mapped(20, 10),
                                 "move " + Mapped(20, 10), "line " + Mapped(0, 0), "move " + Mapped(0, 0),
                                 "line " + Mapped(5, 5)}));
}

TEST(Draw, PenColoursFromTheTableAndBlackOutsideIt)
{
    struct {
        int pen;
        TColor colour;
    } rows[] = {{0, 0x000000}, {1, 0x000000}, {2, 0xff0000}, {3, 0x0000ff}, {4, 0x008000},  {5, 0x800080},
                {6, 0x800000}, {7, 0x00ffff}, {8, 0xffff00}, {9, 0x000000}, {10, 0x000000}, {-1, 0x000000}};
    for (auto r : rows)
        EXPECT_EQ(PenColorOf(r.pen), r.colour) << r.pen;
    // Every Draw starts black, whatever the previous call left.
    THpglSheet s;
    LoadText(s, "SP2;PD10,10;");
    TRecordingCanvas c;
    s.Draw(c, 100, 100);
    EXPECT_EQ(c.Pen, 0xff0000u);
    s.Draw(c, 100, 100);
    EXPECT_EQ(c.Calls[c.Calls.size() - 4], "pen 000000");
}

TEST(Draw, CircleIsUnfilledAndBrushStyleRestored)
{
    THpglSheet s;
    LoadText(s, "PA500,500;CI50;CI-50;");
    TRecordingCanvas c;
    c.Style = TBrushStyle::Solid;
    s.Draw(c, 403, 563);
    auto shapes = c.Shapes();
    EXPECT_EQ(shapes[1], "ellipse " + Mapped(450, 450) + " " + Mapped(550, 550) + " clear");
    EXPECT_EQ(shapes[2], "ellipse " + Mapped(550, 550) + " " + Mapped(450, 450) + " clear");
    EXPECT_EQ(c.Style, TBrushStyle::Solid);
    EXPECT_EQ(c.Calls.back(), "brush solid");
}

TEST(Draw, RectangleIsFourSidesFromThePenAndKeepsPen)
{
    auto c = DrawText("PA10,10;ER100,-50;PD20,20;");
    EXPECT_EQ(c.Shapes(), (Calls{"move " + Mapped(0, 0), "move " + Mapped(10, 10), "line " + Mapped(110, 10),
                                 "line " + Mapped(110, -40), "line " + Mapped(10, -40), "line " + Mapped(10, 10),
                                 "move " + Mapped(10, 10), "line " + Mapped(20, 20)}));
}

// The pen after an arc is where the device's 3.1428 puts it, found by drawing a line from it.
struct ArcCase {
    const char* hpgl;
    std::int32_t endX, endY;
    friend std::ostream& operator<<(std::ostream& os, const ArcCase& c) { return os << c.hpgl; }
};

class DrawArc : public testing::TestWithParam<ArcCase> {};

TEST_P(DrawArc, EndsWhereTheDeviceConstantPutsIt)
{
    const auto& p = GetParam();
    auto c = DrawText(std::string(p.hpgl) + "PD;", 1520, 2160);
    auto shapes = c.Shapes();
    ASSERT_GE(shapes.size(), 3u);
    // A bare PD after the arc marks the pen position with a pixel.
    EXPECT_EQ(shapes.back(), "pixel " + Mapped(p.endX, p.endY, 1520, 2160) + " 000000") << p.hpgl;
}

INSTANTIATE_TEST_SUITE_P(Arcs, DrawArc,
                         testing::Values(ArcCase{"PA200,100;AA100,100,90;", 99, 199},
                                         ArcCase{"PA0,100;AA100,100,90;", 100, 0},
                                         ArcCase{"PA200,100;AA100,100,355;", 199, 91},  // not a whole circle
                                         ArcCase{"PA200,100;AA100,100,-360;", 199, 99},
                                         ArcCase{"PA100,100;AA100,100,45;", 100, 100}));  // zero radius

TEST(Draw, ArcDirectionDecidesWhichPointStartsTheSurfaceArc)
{
    auto ccw = DrawText("PA200,100;AA100,100,90;", 1520, 2160).Shapes();
    ASSERT_EQ(ccw.size(), 2u);
    EXPECT_EQ(ccw[1], "arc " + Mapped(0, 0, 1520, 2160) + " " + Mapped(200, 200, 1520, 2160) + " " +
                          Mapped(200, 100, 1520, 2160) + " " + Mapped(99, 199, 1520, 2160));
    auto cw = DrawText("PA200,100;AA100,100,-90;", 1520, 2160).Shapes();
    ASSERT_EQ(cw.size(), 2u);
    EXPECT_EQ(cw[1], "arc " + Mapped(0, 0, 1520, 2160) + " " + Mapped(200, 200, 1520, 2160) + " " +
                         Mapped(100, 0, 1520, 2160) + " " + Mapped(200, 100, 1520, 2160));
}

TEST(Draw, SweepAbove355IsAWholeCircleAndLeavesThePen)
{
    auto c = DrawText("PA200,100;AA100,100,356;PD;", 1520, 2160);
    auto shapes = c.Shapes();
    EXPECT_EQ(shapes[1], "ellipse " + Mapped(0, 0, 1520, 2160) + " " + Mapped(200, 200, 1520, 2160) + " clear");
    EXPECT_EQ(shapes.back(), "pixel " + Mapped(200, 100, 1520, 2160) + " 000000");
}

TEST(Draw, FarArcUsesItsTrueRadius)
{
    auto c = DrawText("PA100000,0;AA0,0,400;", 1520, 2160);
    EXPECT_EQ(c.Shapes()[1],
              "ellipse " + Mapped(-100000, -100000, 1520, 2160) + " " + Mapped(100000, 100000, 1520, 2160) + " clear");
    // Boxes beyond the 32-bit range are held at its edge, never wrapped.
    THpglSheet s;
    s.Add(hkPA, INT_MAX, INT_MAX);
    s.Add(hkAA, INT_MIN, INT_MIN, 360);
    s.Add(hkCI, INT_MIN);
    TRecordingCanvas r;
    s.Draw(r, 1520, 2160);
    EXPECT_EQ(r.Shapes(), (Calls{"move 1,2158", "ellipse -2143245192,2144503189 2143245193,-2144498872 clear",
                                 "ellipse 2143245193,-2144498872 1,2158 clear"}));
}

// Zoom Auto and the preview trust the extents to hold every circle Draw makes. At 1523 x 2163
// the surface maps x to x + 1 and y to 2161 - y, so each box drawn reads back as plotter units.
class CircleInExtentsTest : public testing::TestWithParam<std::string> {};

TEST_P(CircleInExtentsTest, DrawnCircleBoxLiesWithinTheExtents)
{
    THpglSheet s;
    LoadText(s, GetParam());
    TRecordingCanvas c;
    s.Draw(c, 1523, 2163);
    int circles = 0;
    for (const std::string& call : c.Calls) {
        int x1, y1, x2, y2;
        if (std::sscanf(call.c_str(), "ellipse %d,%d %d,%d", &x1, &y1, &x2, &y2) != 4)
            continue;
        ++circles;
        EXPECT_GE(std::min(x1, x2) - 1, s.XMin) << call;
        EXPECT_LE(std::max(x1, x2) - 1, s.XMax) << call;
        EXPECT_GE(2161 - std::max(y1, y2), s.YMin) << call;
        EXPECT_LE(2161 - std::min(y1, y2), s.YMax) << call;
    }
    EXPECT_GE(circles, 1) << "no circle drawn";
}

INSTANTIATE_TEST_SUITE_P(AfterArcs, CircleInExtentsTest,
                         testing::Values(
                             // The arc leaves Draw's pen at its end, a quarter turn from its start.
                             "PA200,100;AA100,100,90;CI150;",
                             // A clockwise arc, then a relative move from the arc's end.
                             "PA200,100;AA100,100,-45;PR;PU10,0;CI20;",
                             // Two arcs in a row: the second starts where the first ended.
                             "PA200,100;AA100,100,90;AA0,100,180;CI40;",
                             // A sweep beyond 355 draws a whole circle and leaves the pen where it was.
                             "PA500,500;AA400,500,360;CI30;",
                             // An absolute move after an arc puts both pens back together.
                             "PA200,100;AA100,100,90;PA800,900;CI50;"));
