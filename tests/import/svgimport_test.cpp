#include <gtest/gtest.h>

#include <QByteArray>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "drawingtest.h"
#include "sheettext.h"

namespace {

// Rounding to whole plotter units moves a point by up to half a unit in x and in y.
const double kRound = std::sqrt(0.5);

std::string Line(const std::string& colour, const std::string& d = "M10 10 L20 10")
{
    return "<path fill=\"none\" stroke=\"" + colour + "\" d=\"" + d + "\"/>";
}

std::string Prefix(const std::string& text, std::size_t objects)
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < objects && at != std::string::npos; ++i)
        at = text.find('|', at + 1);
    return text.substr(0, at);
}

QByteArray Gzip(const std::string& text)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(static_cast<qsizetype>(deflateBound(&zs, text.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(static_cast<qsizetype>(zs.total_out));
    deflateEnd(&zs);
    return out;
}

struct TBox {
    std::int32_t X0 = INT32_MAX, Y0 = INT32_MAX, X1 = INT32_MIN, Y1 = INT32_MIN;
    void Add(TPt p) { X0 = std::min(X0, p.X), X1 = std::max(X1, p.X), Y0 = std::min(Y0, p.Y), Y1 = std::max(Y1, p.Y); }
};

}  // namespace

TEST(SvgImport, RectangleAndCircleInMillimetresWithAViewBox)
{
    // 100 mm across 200 user units: 4 plotter units each; the page is 400 units high.
    THpglSheet sheet;
    ASSERT_TRUE(ImportText(sheet, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"50mm\" "
                                  "viewBox=\"0 0 200 100\">"
                                  "<rect x=\"10\" y=\"10\" width=\"50\" height=\"20\" stroke=\"black\" fill=\"none\"/>"
                                  "<circle cx=\"100\" cy=\"50\" r=\"25\" stroke=\"red\" fill=\"none\"/></svg>")
                    .Ok());
    EXPECT_EQ(Prefix(SheetText(sheet), 8), "PA|SP 1|PU 40 360|PD 240 360|PD 240 280|PD 40 280|PD 40 360|SP 2");
    const auto lines = Polylines(sheet);
    ASSERT_EQ(lines.size(), 2u);
    const TPolyline& circle = lines[1];
    EXPECT_EQ(circle.Pen, 2);
    ASSERT_GT(circle.Points.size(), 16u);
    EXPECT_EQ(circle.Points.front(), circle.Points.back());
    // Centre (400, 200), radius 100: every vertex on it, every point of it near the polyline.
    for (TPt p : circle.Points)
        EXPECT_NEAR(Distance(p.X, p.Y, 400, 200), 100, kRound + 0.05) << p.X << "," << p.Y;
    for (int i = 0; i < 720; ++i) {
        const double a = i * M_PI / 360;
        EXPECT_LE(PolylineDistance(400 + 100 * std::cos(a), 200 + 100 * std::sin(a), circle.Points),
                  kFlatness + kRound + 0.05);
    }
    EXPECT_EQ(Extents(sheet), "40,100 500,360");
}

TEST(SvgImport, RootSizeUnitsGivePlotterUnits)
{
    const std::pair<std::string, std::int32_t> sizes[] = {
        {"80mm", 640}, {"8cm", 640}, {"1in", 203},       {"72pt", 203},  {"6pc", 203},
        {"96px", 203}, {"96", 203},  {" 2.5e1mm ", 200}, {"0.5in", 102},
    };
    for (const auto& [size, units] : sizes) {
        const auto lines =
            ImportedPolylines("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size + "\" height=\"" + size +
                              "\" viewBox=\"0 0 10 10\">" + Line("black", "M0 10 L10 0") + "</svg>");
        ASSERT_EQ(lines.size(), 1u) << size;
        EXPECT_EQ(lines[0].Points, (std::vector<TPt>{{0, 0}, {units, units}})) << size;
    }
}

TEST(SvgImport, LengthsWithoutAPhysicalSize)
{
    double units = 0;
    for (const char* text : {"", "50%", "2em", "3ex", "-5mm", "0", "mm", "5 m", "1e999", "nan"})
        EXPECT_FALSE(SvgLengthToUnits(QString::fromLatin1(text), units)) << text;
    ASSERT_TRUE(SvgLengthToUnits(QStringLiteral("1e1mm"), units));
    EXPECT_DOUBLE_EQ(units, 80);
    ASSERT_TRUE(SvgLengthToUnits(QStringLiteral("+.5cm"), units));
    EXPECT_DOUBLE_EQ(units, 40);
}

TEST(SvgImport, WithoutAUsableSizePixelsAre96PerInch)
{
    const std::vector<TPt> expected{{0, 102}, {203, 0}};  // 48 px is 101.6 units, 96 px 203.2
    EXPECT_EQ(ImportedPolylines("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100%\" viewBox=\"0 0 96 48\">" +
                                Line("black", "M0 0 L96 48") + "</svg>")[0]
                  .Points,
              expected);
    // No size and no viewBox: the page ends at the lowest point drawn.
    EXPECT_EQ(
        ImportedPolylines("<svg xmlns=\"http://www.w3.org/2000/svg\">" + Line("black", "M0 0 L96 48") + "</svg>")[0]
            .Points,
        expected);
    // One side given: the other follows the viewBox's proportion.
    EXPECT_EQ(ImportedPolylines("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40mm\" viewBox=\"0 0 100 50\">" +
                                Line("black", "M0 0 L100 50") + "</svg>")[0]
                  .Points,
              (std::vector<TPt>{{0, 160}, {320, 0}}));
}

TEST(SvgImport, ViewBoxKeepsItsProportionUnlessToldNot)
{
    // A 200 x 100 viewBox on a 100 x 100 mm page (800 x 800 units).
    auto place = [](const std::string& aspect) {
        return ImportedPolylines("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"100mm\" "
                                 "viewBox=\"0 0 200 100\"" +
                                 (aspect.empty() ? "" : " preserveAspectRatio=\"" + aspect + "\"") + ">" +
                                 Line("black", "M0 0 L200 100") + "</svg>")[0]
            .Points;
    };
    EXPECT_EQ(place(""), (std::vector<TPt>{{0, 600}, {800, 200}}));  // centred, 4 units each
    EXPECT_EQ(place("xMinYMax meet"), (std::vector<TPt>{{0, 400}, {800, 0}}));
    EXPECT_EQ(place("xMidYMin"), (std::vector<TPt>{{0, 800}, {800, 400}}));
    EXPECT_EQ(place("none"), (std::vector<TPt>{{0, 800}, {800, 0}}));
    EXPECT_EQ(place("xMidYMid slice"), (std::vector<TPt>{{-400, 800}, {1200, 0}}));
}

TEST(SvgImport, NestedTransformsCompose)
{
    const auto lines = ImportedPolylines(
        Page("<g transform=\"translate(100,200)\"><g transform=\"rotate(90)\"><g transform=\"scale(2)\">" +
             Line("black", "M0 0 L100 0") + "</g></g></g>" + "<g transform=\"matrix(0 1 -1 0 500 500)\">" +
             Line("black", "M0 0 L100 0") + "</g>" +
             "<g transform=\"translate(10 20)\"><path transform=\"scale(3 1)\" "
             "stroke=\"black\" d=\"M10 10 L20 10\"/></g>" +
             "<g transform=\"rotate(45 1000 1000)\">" + Line("black", "M1000 1000 L1100 1000") + "</g>"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].Points, (std::vector<TPt>{{100, 1960}, {100, 1760}}));
    EXPECT_EQ(lines[1].Points, (std::vector<TPt>{{500, 1660}, {500, 1560}}));
    EXPECT_EQ(lines[2].Points, (std::vector<TPt>{{40, 2130}, {70, 2130}}));
    EXPECT_EQ(lines[3].Points, (std::vector<TPt>{{1000, 1160}, {1071, 1089}}));
}

TEST(SvgImport, FlatteningKeepsChordsWithinHalfAUnit)
{
    struct TCase {
        QPointF P0, P1, P2, P3;
    };
    const TCase cases[] = {
        {{0, 0}, {0, 800}, {1300, 800}, {1300, 0}},        // a wide arch
        {{0, 0}, {1000, 1000}, {0, 1000}, {1000, 0}},      // a loop
        {{0, 0}, {3, 5}, {-2, 4}, {1, 0}},                 // smaller than the tolerance bound
        {{5, 5}, {5, 5}, {5, 5}, {5, 5}},                  // a point
        {{-7e6, 3e6}, {2e6, -1e6}, {9e6, 8e6}, {1e6, 0}},  // far from the origin
    };
    for (const TCase& c : cases) {
        std::vector<QPointF> out;
        FlattenCubic(c.P0, c.P1, c.P2, c.P3, out);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), c.P3);
        std::vector<QPointF> line{c.P0};
        line.insert(line.end(), out.begin(), out.end());
        // The true curve at fine steps, against the chords it fell into.
        const int n = static_cast<int>(out.size());
        for (int k = 0; k <= 64 * n; ++k) {
            const double t = static_cast<double>(k) / (64 * n), u = 1 - t;
            const QPointF b = u * u * u * c.P0 + 3 * u * u * t * c.P1 + 3 * u * t * t * c.P2 + t * t * t * c.P3;
            const std::size_t seg = std::min<std::size_t>(static_cast<std::size_t>(k / 64), line.size() - 2);
            const QPointF a = line[seg], z = line[seg + 1];
            EXPECT_LE(SegmentDistance(b.x(), b.y(), a.x(), a.y(), z.x(), z.y()), kFlatness) << k;
        }
    }
    // A straight cubic needs a single chord.
    std::vector<QPointF> straight;
    FlattenCubic({0, 0}, {100, 100}, {200, 200}, {300, 300}, straight);
    EXPECT_EQ(straight.size(), 1u);
}

TEST(SvgImport, CurvesAndArcsStayOnTheTrueCurve)
{
    // One user unit is one plotter unit; y = 2160 - y'.
    const auto lines = ImportedPolylines(Page(Line("black", "M100 100 C 100 900 1400 900 1400 100") +
                                              Line("black", "M100 1000 Q 760 1800 1400 1000") +
                                              Line("black", "M200 1500 A 500 250 0 0 0 1200 1500")));
    ASSERT_EQ(lines.size(), 3u);
    auto cubic = [](double t) {
        const double u = 1 - t;
        return QPointF(u * u * u * 100 + 3 * u * u * t * 100 + 3 * u * t * t * 1400 + t * t * t * 1400,
                       2160 - (u * u * u * 100 + 3 * u * u * t * 900 + 3 * u * t * t * 900 + t * t * t * 100));
    };
    auto quad = [](double t) {
        const double u = 1 - t;
        return QPointF(u * u * 100 + 2 * u * t * 760 + t * t * 1400,
                       2160 - (u * u * 1000 + 2 * u * t * 1800 + t * t * 1000));
    };
    // The arc is half of the ellipse about (700, 1500) with radii 500 and 250, drawn toward
    // decreasing angles in SVG's frame: through the bottom of the page (y' = 1750).
    auto arc = [](double t) {
        const double a = M_PI - t * M_PI;
        return QPointF(700 + 500 * std::cos(a), 2160 - (1500 + 250 * std::sin(a)));
    };
    const std::function<QPointF(double)> curves[] = {cubic, quad, arc};
    for (int c = 0; c < 3; ++c) {
        const auto& pts = lines[static_cast<std::size_t>(c)].Points;
        ASSERT_GT(pts.size(), 8u) << c;
        std::vector<QPointF> truth;
        for (int k = 0; k <= 4000; ++k)
            truth.push_back(curves[c](k / 4000.0));
        EXPECT_LE(Distance(pts.front().X, pts.front().Y, truth.front().x(), truth.front().y()), kRound) << c;
        EXPECT_LE(Distance(pts.back().X, pts.back().Y, truth.back().x(), truth.back().y()), kRound) << c;
        // Qt's cubic stand-in for an elliptical arc adds a few hundredths of a unit here.
        for (TPt p : pts) {
            double best = INFINITY;
            for (const QPointF& q : truth)
                best = std::min(best, Distance(p.X, p.Y, q.x(), q.y()));
            EXPECT_LE(best, kRound + 0.15) << c << ": " << p.X << "," << p.Y;
        }
        for (const QPointF& q : truth)
            EXPECT_LE(PolylineDistance(q.x(), q.y(), pts), kFlatness + kRound + 0.15) << c;
    }
}

TEST(SvgImport, TextBecomesTheOutlinesOfItsGlyphs)
{
    THpglSheet sheet;
    ASSERT_TRUE(ImportText(sheet, Page("<text x=\"100\" y=\"500\" font-family=\"DejaVu Sans\" font-size=\"100\" "
                                       "fill=\"#0000ff\">HI</text>"))
                    .Ok());
    const auto lines = Polylines(sheet);
    ASSERT_GE(lines.size(), 2u);  // an outline per glyph at least
    TBox box;
    for (const auto& l : lines) {
        EXPECT_EQ(l.Pen, 1);
        EXPECT_EQ(l.Points.front(), l.Points.back());  // outlines are closed
        for (TPt p : l.Points)
            box.Add(p);
    }
    // Capitals stand on the baseline (y' = 500, so 1660) about 0.73 of the size tall.
    EXPECT_NEAR(box.Y0, 1660, 1);
    EXPECT_GE(box.Y1 - box.Y0, 65);
    EXPECT_LE(box.Y1 - box.Y0, 80);
    EXPECT_GE(box.X0, 100);
    EXPECT_LT(box.X0, 115);
    EXPECT_GT(box.X1, 150);
    EXPECT_LT(box.X1, 210);
}

TEST(SvgImport, InvisibleElementsAreSkipped)
{
    THpglSheet sheet;
    ASSERT_TRUE(ImportText(sheet, Page("<path stroke=\"red\" d=\"M0 0 L50 50\" style=\"display:none\"/>"
                                       "<g display=\"none\"><path stroke=\"red\" d=\"M0 0 L60 60\"/></g>"
                                       "<path stroke=\"red\" d=\"M0 0 L70 70\" visibility=\"hidden\"/>"
                                       "<g opacity=\"0\"><path stroke=\"red\" d=\"M0 0 L80 80\"/></g>"
                                       "<rect x=\"5\" y=\"5\" width=\"9\" height=\"9\" stroke=\"none\" fill=\"none\"/>"
                                       "<path stroke=\"red\" stroke-opacity=\"0\" fill=\"none\" d=\"M0 0 L90 90\"/>"
                                       "<rect x=\"5\" y=\"5\" width=\"9\" height=\"9\" stroke=\"none\" fill=\"blue\" "
                                       "fill-opacity=\"0\"/>" +
                                       Line("green")))
                    .Ok());
    EXPECT_EQ(SheetText(sheet), "PA|SP 1|PU 10 2150|PD 20 2150");
}

TEST(SvgImport, ColoursBecomePensInOrderOfFirstUseBlackFirst)
{
    THpglSheet sheet;
    ASSERT_TRUE(
        ImportText(sheet, Page(Line("red") + Line("#00ff00") + Line("black") + Line("rgb(0,0,255)") + Line("#f00") +
                               "<rect x=\"10\" y=\"10\" width=\"5\" height=\"5\" stroke=\"none\" fill=\"purple\"/>" +
                               "<rect x=\"10\" y=\"10\" width=\"5\" height=\"5\" stroke=\"blue\" fill=\"purple\"/>" +
                               "<polyline stroke=\"red\" fill=\"purple\" points=\"10 10 20 10 20 20\"/>"))
            .Ok());
    std::vector<std::int32_t> pens;
    for (const auto& l : Polylines(sheet))
        pens.push_back(l.Pen);
    // A shape both filled and stroked is drawn once, in its stroke's colour.
    EXPECT_EQ(pens, (std::vector<std::int32_t>{2, 3, 1, 4, 2, 5, 4, 2}));
    // Consecutive pieces of one colour share a single SP.
    EXPECT_EQ(Prefix(SheetText(sheet), 4), "PA|SP 2|PU 10 2150|PD 20 2150");
}

TEST(SvgImport, ColoursBeyondEightSharePenEight)
{
    std::string body;
    const char* colours[] = {"#010000", "#020000", "#030000", "#040000", "#050000", "#060000",
                             "#070000", "#080000", "#090000", "#0a0000", "#010000"};
    for (const char* c : colours)
        body += Line(c);
    std::vector<std::int32_t> pens;
    for (const auto& l : ImportedPolylines(Page(body)))
        pens.push_back(l.Pen);
    EXPECT_EQ(pens, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 8, 8, 1}));
}

TEST(SvgImport, ASpeckBecomesADotAndALoneMoveNothing)
{
    THpglSheet sheet;
    // A lone move draws nothing, filled and stroked or not.
    ASSERT_TRUE(ImportText(sheet, Page("<path d=\"M50 50\" stroke=\"red\" fill=\"red\"/>"
                                       "<path d=\"M50 50 M60 60\" stroke=\"red\" fill=\"red\"/>"
                                       "<circle cx=\"100\" cy=\"100\" r=\"0.25\" fill=\"black\"/>"
                                       "<circle cx=\"200.4\" cy=\"100\" r=\"0.45\" stroke=\"black\" fill=\"none\"/>"))
                    .Ok());
    EXPECT_EQ(SheetText(sheet), "PA|SP 1|PU 100 2060|PD 100 2060|PU 200 2060|PD 200 2060");
}

TEST(SvgImport, UnreadableDocumentsFailWithAReasonAndAppendNothing)
{
    THpglSheet sheet;
    sheet.Add(hkPU, 5, 5);
    const std::pair<QByteArray, std::string> bad[] = {
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"><path d=\"M0 0 L1 1\"", "line"},
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"><path d=\"M0 0 L1 1\"/></g></svg>", "line"},
        {"<html><body/></html>", "not an SVG"},
        {"", "not an SVG drawing: line 1"},
        {"<?xml version=\"1.0\"?>", "not an SVG drawing"},
        {"PA0,0;PD10,10;", "line 1"},
        {QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03garbage", 18), "compressed"},
        {Gzip(Page(Line("black"))).left(20), "compressed"},
    };
    for (const auto& [data, reason] : bad) {
        const TFileResult r = ImportSvgData(sheet, data);
        EXPECT_FALSE(r.Ok()) << data.toStdString();
        EXPECT_NE(r.Reason.find(reason), std::string::npos) << r.Reason;
        EXPECT_EQ(SheetText(sheet), "PU 5 5");
    }
}

TEST(SvgImport, CompressedDrawingReadsLikeThePlainOne)
{
    const std::string svg = Page(Line("red") + "<circle cx=\"300\" cy=\"300\" r=\"40\" stroke=\"blue\"/>");
    THpglSheet plain, packed;
    ASSERT_TRUE(ImportText(plain, svg).Ok());
    ASSERT_TRUE(ImportSvgData(packed, Gzip(svg)).Ok());
    EXPECT_GT(packed.Count(), 10);
    EXPECT_EQ(SheetText(packed), SheetText(plain));
}

TEST(SvgImport, CoordinatesBeyondThePlotterRangeAreRefused)
{
    THpglSheet sheet;
    const TFileResult r =
        ImportText(sheet, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1e9mm\" height=\"1e9mm\" "
                          "viewBox=\"0 0 10 10\">" +
                              Line("black", "M0 0 L10 10") + "</svg>");
    EXPECT_FALSE(r.Ok());
    EXPECT_NE(r.Reason.find("range"), std::string::npos) << r.Reason;
    EXPECT_EQ(sheet.Count(), 0);
}

TEST(SvgImport, AppendsAfterWhatTheSheetHolds)
{
    THpglSheet sheet;
    sheet.Add(hkPR);
    sheet.Add(hkPD, 3000, 3000);
    ASSERT_TRUE(ImportText(sheet, Page(Line("black"))).Ok());
    // The import's PA ends the relative mode before its absolute moves.
    EXPECT_EQ(SheetText(sheet), "PR|PD 3000 3000|PA|SP 1|PU 10 2150|PD 20 2150");
    EXPECT_EQ(Extents(sheet), "10,2150 3000,3000");
}

// SVG fills every subpath as if closed; the plotter outlines it whole, once.
TEST(SvgImport, FilledShapesCloseAsSvgFillsThem)
{
    const struct {
        const char* Element;
        const char* Expected;
    } rows[] = {
        // A fill without Z.
        {"<path fill=\"black\" stroke=\"none\" d=\"M10 10 L50 10 L50 50\"/>",
         "PA|SP 1|PU 10 2150|PD 50 2150|PD 50 2110|PD 10 2150"},
        // Filled and stroked without Z: the closing edge too, once, in the stroke's colour.
        {"<path fill=\"black\" stroke=\"red\" d=\"M10 10 L50 10 L50 50\"/>",
         "PA|SP 1|PU 10 2150|PD 50 2150|PD 50 2110|PD 10 2150"},
        // Two subpaths of one fill, each closed.
        {"<path fill=\"blue\" d=\"M10 10 L50 10 L50 50 M100 100 L140 100 L140 140\"/>",
         "PA|SP 1|PU 10 2150|PD 50 2150|PD 50 2110|PD 10 2150|PU 100 2060|PD 140 2060|PD 140 2020|PD 100 2060"},
        // A stroke alone stays open.
        {"<path fill=\"none\" stroke=\"red\" d=\"M10 10 L50 10 L50 50\"/>", "PA|SP 1|PU 10 2150|PD 50 2150|PD 50 2110"},
    };
    for (const auto& r : rows) {
        THpglSheet sheet;
        ASSERT_TRUE(ImportText(sheet, Page(r.Element)).Ok()) << r.Element;
        EXPECT_EQ(SheetText(sheet), r.Expected) << r.Element;
    }
}

// What the paper would not show is not plotted: white, transparent, no width.
TEST(SvgImport, WhatThePaperHidesDrawsNothing)
{
    const char* hidden[] = {
        "<polygon fill=\"white\" stroke=\"transparent\" points=\"0,0 1520,0 1520,2160 0,2160\"/>",  // a background
        "<rect x=\"5\" y=\"5\" width=\"90\" height=\"90\" fill=\"#ffffff\"/>",
        "<rect x=\"5\" y=\"5\" width=\"90\" height=\"90\" fill=\"red\" fill-opacity=\"0\"/>",
        "<path fill=\"none\" stroke=\"white\" d=\"M0 0 L90 90\"/>",
        "<path fill=\"none\" stroke=\"red\" stroke-width=\"0\" d=\"M0 0 L90 90\"/>",
        "<path fill=\"none\" stroke=\"transparent\" d=\"M0 0 L90 90\"/>",
        "<path fill=\"none\" stroke=\"red\" stroke-opacity=\"0\" d=\"M0 0 L90 90\"/>",
        "<path fill=\"none\" style=\"stroke:#fff\" d=\"M0 0 L90 90\"/>",
    };
    for (const char* h : hidden) {
        THpglSheet sheet;
        ASSERT_TRUE(ImportText(sheet, Page(std::string(h) + Line("green"))).Ok()) << h;
        EXPECT_EQ(SheetText(sheet), "PA|SP 1|PU 10 2150|PD 20 2150") << h;
    }
    // A white stroke round a black fill: the fill's outline, in black.
    THpglSheet sheet;
    ASSERT_TRUE(
        ImportText(sheet, Page("<rect x=\"10\" y=\"10\" width=\"40\" height=\"40\" fill=\"black\" stroke=\"white\"/>"))
            .Ok());
    ASSERT_EQ(Polylines(sheet).size(), 1u);
    EXPECT_EQ(Polylines(sheet)[0].Points.size(), 5u);
}

// Every number no plotter can reach is refused with one reason, however it is written;
// Qt Svg would otherwise read some of them as small numbers and draw the wrong thing.
TEST(SvgImport, NumbersNoPlotterCanReachAreRefused)
{
    const char* bodies[] = {
        "<path stroke=\"black\" d=\"M1e128 0 L10 10\"/>",
        "<path stroke=\"black\" d=\"M1e30 0 L10 10\"/>",
        "<path stroke=\"black\" d=\"M0,0 10,10 -1E+40,5\"/>",
        "<polyline stroke=\"black\" fill=\"none\" points=\"0,0 1e39,5\"/>",
        "<rect stroke=\"black\" x=\"0\" y=\"0\" width=\"1e200\" height=\"5\"/>",
        "<circle stroke=\"black\" cx=\"5\" cy=\"5\" r=\"1e308\"/>",
        "<line stroke=\"black\" x1=\"0\" y1=\"0\" x2=\"99999999999999999999999999999999999\" y2=\"5\"/>",
        // A control point far away: refused before the curve is flattened.
        "<path stroke=\"black\" fill=\"none\" d=\"M0 0 C 1e12 0 0 1e12 10 10\"/>",
    };
    for (const char* body : bodies) {
        THpglSheet sheet;
        sheet.Add(hkPU, 5, 5);
        const TFileResult r = ImportText(sheet, Page(body));
        EXPECT_FALSE(r.Ok()) << body;
        EXPECT_EQ(r.Reason, kSvgOutOfRange) << body;
        EXPECT_EQ(SheetText(sheet), "PU 5 5") << body;
    }
    // Large but reachable numbers are drawn.
    EXPECT_FALSE(ImportedPolylines(Page("<path stroke=\"black\" d=\"M1e5 0 L1.5e5 10\"/>")).empty());
}

// A transform no plotter can follow draws nothing of what it holds, and says so; the rest
// of the drawing is drawn.
TEST(SvgImport, DegenerateTransformsDrawNothingAndAreReported)
{
    THpglSheet sheet;
    TTranslateReport report;
    TSvgImportOptions options;
    options.Report = &report;
    const std::string body =
        "<g transform=\"matrix(0 0 0 0 0 0)\">" + Line("black") + "</g>" + "<g transform=\"scale(1e200)\"><g>" +
        Line("black") + Line("red") + "</g></g>" + "<path transform=\"scale(0 1)\" stroke=\"black\" d=\"M0 0 L5 5\"/>" +
        "<path transform=\"translate(10) rotate(30) scale(2)\" stroke=\"black\" d=\"M0 0 L5 0\"/>" + Line("green");
    ASSERT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(body)), options).Ok());
    EXPECT_EQ(Polylines(sheet).size(), 2u);
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"shapes under a degenerate transform", 3}}));
    const std::pair<const char*, bool> transforms[] = {
        {"matrix(0 0 0 0 0 0)", true},  {"scale(1e200)", true},         {"scale(0)", true},
        {"skewX(90)", false},           {"rotate(45 10 10)", false},    {"translate(1e40)", true},
        {"scale(1e-40)", true},         {"matrix(1,0,0,1,5,5)", false}, {"bogus(1)", false},
        {"scale(2) scale(0.5)", false},
    };
    for (const auto& [t, degenerate] : transforms)
        EXPECT_EQ(IsDegenerateTransform(QString::fromLatin1(t)), degenerate) << t;
}

// A small document may ask for gigabytes: it is refused with a reason before memory runs
// away, and nothing is appended.
TEST(SvgImport, BudgetsRefuseDrawingsTooLargeBeforeMemoryRunsAway)
{
    TSvgImportOptions options;
    options.Limits.Elements = 1000;
    options.Limits.PathBytes = 1 << 20;
    options.Limits.Points = 100000;
    std::string groups, longPath = "M0 0", curves;
    for (int i = 0; i < 1001; ++i)
        groups += "<g/>";
    while (longPath.size() <= (1u << 20))
        longPath += " L10 10 L20 20";
    // Curves a chord of half a unit flattens into tens of thousands of points each.
    for (int i = 0; i < 20; ++i)
        curves += "<path stroke=\"black\" fill=\"none\" d=\"M0 0 C 1e8 1e8 -1e8 1e8 0 0\"/>";
    const std::pair<std::string, std::string> rows[] = {
        {Page(groups), "drawing too large: more than 1,000 elements"},
        {Page("<path stroke=\"black\" d=\"" + longPath + "\"/>"), "drawing too large: more than 1 MB of path data"},
        {Page(curves), "drawing too large: more than 100,000 points"},
    };
    for (const auto& [svg, reason] : rows) {
        THpglSheet sheet;
        const TFileResult r = ImportSvgData(sheet, QByteArray::fromStdString(svg), options);
        EXPECT_EQ(r.Reason, reason);
        EXPECT_EQ(sheet.Count(), 0);
        // Compressed, the same budget holds for what it unpacks to.
        if (svg.size() < 100000) {
            THpglSheet packed;
            EXPECT_EQ(ImportSvgData(packed, Gzip(svg), options).Reason, reason);
        }
    }
    // A compressed document that unpacks far beyond any drawing's ratio is a bomb.
    const std::string padded = Page("<!--" + std::string(4 << 20, ' ') + "-->" + Line("black"));
    THpglSheet sheet;
    const TFileResult r = ImportSvgData(sheet, Gzip(padded));
    EXPECT_EQ(r.Reason, "the compressed drawing unpacks to more than 100 times its size");
    // Within the budgets the same drawings are drawn.
    options.Limits = TSvgLimits{};
    EXPECT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(groups + Line("black"))), options).Ok());
}

// What Qt Svg leaves out is named, with counts, most first.
TEST(SvgImport, TheReportCountsWhatWasNotDrawn)
{
    const std::string body =
        "<defs><marker id=\"m\"><path d=\"M0 0 L1 1\"/></marker><mask id=\"k\"/><clipPath id=\"c\"><rect width=\"5\" "
        "height=\"5\"/></clipPath><path id=\"p\" d=\"M0 0 L100 0\"/></defs>"
        "<path stroke=\"black\" marker-end=\"url(#m)\" d=\"M0 0 L10 0\"/>"
        "<path stroke=\"black\" style=\"marker-start: url(#m)\" d=\"M0 0 L10 0\"/>"
        "<path stroke=\"black\" clip-path=\"url(#c)\" d=\"M0 0 L10 0\"/>"
        "<image x=\"0\" y=\"0\" width=\"5\" height=\"5\" href=\"a.png\"/>"
        "<text><textPath href=\"#p\">along</textPath></text>"
        "<path stroke=\"black\" marker-end=\"none\" d=\"M0 0 L10 0\"/>" +
        Line("black");
    THpglSheet sheet;
    TTranslateReport report;
    TSvgImportOptions options;
    options.Report = &report;
    ASSERT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(body)), options).Ok());
    EXPECT_EQ(report.NotDrawn.at("images"), 1);
    EXPECT_EQ(report.NotDrawn.at("texts on a path"), 1);
    EXPECT_EQ(report.NotDrawn.count("clip paths (drawn unclipped)"), 0u);  // cut, not reported
#if QT_VERSION < QT_VERSION_CHECK(6, 7, 0)
    EXPECT_EQ(report.NotDrawn.at("markers"), 2);
    EXPECT_EQ(report.Summary(), "Not drawn: 2 markers, 1 images, 1 texts on a path");
#endif
    EXPECT_FALSE(report.Translated);
    // Large counts are grouped by thousands, as people read them.
    TTranslateReport counted;
    counted.NotDrawn = {{"use copies", 9763}, {"markers", 4}};
    EXPECT_EQ(counted.NotDrawnText(), "9,763 use copies, 4 markers");
    EXPECT_EQ(GroupedNumber(1000000), "1,000,000");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(-1234), "-1,234");
}

// Flowed texts: an SVG 1.2 flowRoot is left out whole (Qt Svg would plot the region it flows
// into and not its words); an SVG 2 text in a shape is drawn on one line. Both are reported.
TEST(SvgImport, FlowedTextsAreReportedAndTheirRegionsNotDrawn)
{
    const std::string body = "<defs><rect id=\"r\" width=\"50\" height=\"50\"/></defs>"
                             "<flowRoot><flowRegion><rect x=\"500\" y=\"500\" width=\"300\" height=\"300\" "
                             "stroke=\"black\"/></flowRegion><flowPara>Flowed words</flowPara></flowRoot>"
                             "<text style=\"shape-inside:url(#r)\" y=\"20\">In a shape</text>" +
                             Line("black", "M0 0 L10 10");
    THpglSheet sheet;
    TTranslateReport report;
    TSvgImportOptions options;
    options.Report = &report;
    ASSERT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(body)), options).Ok());
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"flowed texts (SVG 1.2)", 1},
                                                                    {"texts flowed into a shape (on one line)", 1}}));
    for (const auto& l : Polylines(sheet))
        for (const TPt& p : l.Points)
            EXPECT_LT(p.X, 500) << "the flow region was drawn";
}

namespace {

// The sheet's lowest and highest y among the points drawn, in SVG user units (y down).
std::pair<double, double> Rows(const THpglSheet& sheet)
{
    double lo = 1e9, hi = -1e9;
    for (const auto& l : Polylines(sheet))
        for (const TPt& p : l.Points) {
            lo = std::min(lo, 2160.0 - p.Y);
            hi = std::max(hi, 2160.0 - p.Y);
        }
    return {lo, hi};
}

// How many points drawn lie in SVG rows y0..y1.
int PointsInRows(const THpglSheet& sheet, double y0, double y1)
{
    int n = 0;
    for (const auto& l : Polylines(sheet))
        for (const TPt& p : l.Points)
            n += 2160.0 - p.Y >= y0 && 2160.0 - p.Y <= y1;
    return n;
}

}  // namespace

// Each line of a multi-line text lands where its tspan puts it, as editors write them.
TEST(SvgImport, TheLinesOfATextLandWhereTheirTspansPutThem)
{
    const struct {
        const char* Text;
        double Line1, Line2;  // baselines
    } rows[] = {
        // Inkscape: every line a tspan with x and y.
        {"<text x=\"10\" y=\"100\" style=\"font-size:40px\" xml:space=\"preserve\"><tspan x=\"10\" y=\"100\">Ab</tspan>"
         "<tspan x=\"10\" y=\"500\">Ab</tspan></text>",
         100, 500},
        // Lines by dy in em, x repeated.
        {"<text x=\"10\" y=\"100\" font-size=\"40\"><tspan x=\"10\" dy=\"0\">Ab</tspan><tspan x=\"10\" dy=\"5em\">Ab</tspan></text>",
         100, 300},
        // The text's own position for what precedes the first tspan.
        {"<text x=\"10\" y=\"1000\" font-size=\"40\">Ab<tspan x=\"10\" y=\"1400\">Ab</tspan></text>", 1000, 1400},
    };
    for (const auto& r : rows) {
        THpglSheet sheet;
        ASSERT_TRUE(ImportText(sheet, Page(r.Text)).Ok()) << r.Text;
        // Glyphs of 40 units rise above their baseline; nothing lies between the lines.
        EXPECT_GT(PointsInRows(sheet, r.Line1 - 45, r.Line1 + 5), 4) << r.Text;
        EXPECT_GT(PointsInRows(sheet, r.Line2 - 45, r.Line2 + 5), 4) << r.Text;
        EXPECT_EQ(PointsInRows(sheet, r.Line1 + 6, r.Line2 - 46), 0) << r.Text;
        const auto [lo, hi] = Rows(sheet);
        EXPECT_GT(lo, r.Line1 - 45) << r.Text;
        EXPECT_LT(hi, r.Line2 + 12) << r.Text;
    }
}

// A nested <svg> places and scales its content by its own viewport and viewBox.
TEST(SvgImport, ANestedSvgPlacesItsContentInItsViewport)
{
    const struct {
        const char* Viewport;
        TPt From, To;  // the line M0 0 L40 20 of the nested user space, on the sheet
    } rows[] = {
        {"x=\"100\" y=\"200\" width=\"400\" height=\"200\" viewBox=\"0 0 40 20\"", {100, 1960}, {500, 1760}},
        // meet: centred in a taller viewport.
        {"x=\"100\" y=\"200\" width=\"400\" height=\"400\" viewBox=\"0 0 40 20\"", {100, 1860}, {500, 1660}},
        {"x=\"100\" y=\"200\" width=\"400\" height=\"400\" viewBox=\"0 0 40 20\" preserveAspectRatio=\"xMinYMin\"",
         {100, 1960},
         {500, 1760}},
        {"x=\"100\" y=\"200\" width=\"400\" height=\"400\" viewBox=\"0 0 40 20\" preserveAspectRatio=\"none\"",
         {100, 1960},
         {500, 1560}},
        // No viewBox: only moved; a percentage of the root's viewport.
        {"x=\"10%\" y=\"100\"", {152, 2060}, {192, 2040}},
        // Half the root: 760 x 1080, the 40 x 20 box met at 19 a unit and centred.
        {"x=\"0\" y=\"0\" width=\"50%\" height=\"50%\" viewBox=\"0 0 40 20\"", {0, 1810}, {760, 1430}},
    };
    for (const auto& r : rows) {
        const auto lines = ImportedPolylines(Page(std::string("<svg ") + r.Viewport +
                                                  "><path stroke=\"black\" d=\"M0 0 L40 20\"/></svg>" + Line("red")));
        ASSERT_EQ(lines.size(), 2u) << r.Viewport;
        ASSERT_EQ(lines[0].Points.size(), 2u) << r.Viewport;
        EXPECT_EQ(lines[0].Points[0], r.From) << r.Viewport;
        EXPECT_EQ(lines[0].Points[1], r.To) << r.Viewport;
        // What follows is placed by the root again.
        EXPECT_EQ(lines[1].Points[0], (TPt{10, 2150})) << r.Viewport;
    }
}

// A clip path cuts what it clips: the plotter draws only what shows.
TEST(SvgImport, ClipPathsCutWhatTheyClip)
{
    const std::string defs =
        "<defs><clipPath id=\"r\"><rect x=\"0\" y=\"0\" width=\"100\" height=\"100\"/></clipPath>"
        "<clipPath id=\"s\"><rect x=\"50\" y=\"0\" width=\"200\" height=\"100\"/></clipPath>"
        "<clipPath id=\"o\"><circle cx=\"500\" cy=\"50\" r=\"40\" style=\"fill:none\"/></clipPath>"
        "<clipPath id=\"h\" clip-rule=\"evenodd\"><path d=\"M0 0 H300 V100 H0 Z M100 0 H200 V100 H100 Z\"/></clipPath>"
        "<clipPath id=\"b\" clipPathUnits=\"objectBoundingBox\"><rect x=\"0\" y=\"0\" width=\"0.5\" height=\"1\"/></clipPath>"
        "<clipPath id=\"t\" transform=\"translate(0 10)\"><rect x=\"0\" y=\"0\" width=\"100\" height=\"100\"/></clipPath>"
        "</defs>";
    const struct {
        const char* Body;
        std::vector<std::vector<TPt>> Expected;  // the polylines drawn
    } rows[] = {
        {"<path clip-path=\"url(#r)\" stroke=\"black\" fill=\"none\" d=\"M-50 50 L150 50\"/>",
         {{{0, 2110}, {100, 2110}}}},
        {"<path style=\"stroke:black;clip-path:url(#r)\" fill=\"none\" d=\"M-50 50 L150 50\"/>",
         {{{0, 2110}, {100, 2110}}}},
        // A circle: cut at its outline, within the chord error.
        {"<path clip-path=\"url(#o)\" stroke=\"black\" fill=\"none\" d=\"M400 50 L600 50\"/>",
         {{{460, 2110}, {540, 2110}}}},
        // Nested clips are intersected.
        {"<g clip-path=\"url(#r)\"><path clip-path=\"url(#s)\" stroke=\"black\" fill=\"none\" d=\"M-50 50 L250 50\"/></g>",
         {{{50, 2110}, {100, 2110}}}},
        // Even-odd: the inner square is a hole; one line becomes two.
        {"<path clip-path=\"url(#h)\" stroke=\"black\" fill=\"none\" d=\"M-50 50 L350 50\"/>",
         {{{0, 2110}, {100, 2110}}, {{200, 2110}, {300, 2110}}}},
        // In the clipped element's user space, its transform included.
        {"<path transform=\"translate(100 0)\" clip-path=\"url(#r)\" stroke=\"black\" fill=\"none\" d=\"M-50 50 L150 50\"/>",
         {{{100, 2110}, {200, 2110}}}},
        // The clip path's own transform.
        {"<path clip-path=\"url(#t)\" stroke=\"black\" fill=\"none\" d=\"M50 0 L50 200\"/>",
         {{{50, 2150}, {50, 2050}}}},
        // In fractions of the content's box: its left half.
        {"<path clip-path=\"url(#b)\" stroke=\"black\" fill=\"none\" d=\"M0 0 L200 100\"/>",
         {{{0, 2160}, {100, 2110}}}},
        // A run that leaves and comes back is two strokes; one inside stays whole.
        {"<path clip-path=\"url(#r)\" stroke=\"black\" fill=\"none\" d=\"M10 10 L90 10 L150 50 L90 90 L10 90\"/>",
         {{{10, 2150}, {90, 2150}, {100, 2143}}, {{100, 2077}, {90, 2070}, {10, 2070}}}},
        // What follows the clipped element is not clipped.
        {"<path clip-path=\"url(#r)\" stroke=\"black\" fill=\"none\" d=\"M-50 50 L150 50\"/>"
         "<path stroke=\"black\" fill=\"none\" d=\"M-50 60 L150 60\"/>",
         {{{0, 2110}, {100, 2110}}, {{-50, 2100}, {150, 2100}}}},
    };
    for (const auto& r : rows) {
        THpglSheet sheet;
        TTranslateReport report;
        TSvgImportOptions options;
        options.Report = &report;
        ASSERT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(defs + r.Body)), options).Ok()) << r.Body;
        const auto lines = Polylines(sheet);
        ASSERT_EQ(lines.size(), r.Expected.size()) << r.Body << "\n" << SheetText(sheet);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            ASSERT_EQ(lines[i].Points.size(), r.Expected[i].size()) << r.Body << "\n" << SheetText(sheet);
            for (std::size_t j = 0; j < lines[i].Points.size(); ++j) {
                EXPECT_NEAR(lines[i].Points[j].X, r.Expected[i][j].X, 1) << r.Body << "\n" << SheetText(sheet);
                EXPECT_NEAR(lines[i].Points[j].Y, r.Expected[i][j].Y, 1) << r.Body << "\n" << SheetText(sheet);
            }
        }
        EXPECT_TRUE(report.NotDrawn.empty()) << r.Body << " " << report.Summary();
    }
}

// A clip within a clip path's own shapes is not cut, and the report says so.
TEST(SvgImport, ClipsThatCannotBeCutAreReported)
{
    THpglSheet sheet;
    TTranslateReport report;
    TSvgImportOptions options;
    options.Report = &report;
    const std::string body =
        "<defs><clipPath id=\"r\"><rect width=\"100\" height=\"100\"/></clipPath>"
        "<clipPath id=\"q\"><rect clip-path=\"url(#r)\" width=\"50\" height=\"50\"/></clipPath></defs>"
        "<path clip-path=\"url(#q)\" stroke=\"black\" d=\"M-50 25 L150 25\"/>";
    ASSERT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(body)), options).Ok());
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"clip paths (drawn unclipped)", 1}}));
    ASSERT_EQ(Polylines(sheet).size(), 1u);
    EXPECT_EQ(Polylines(sheet)[0].Points, (std::vector<TPt>{{0, 2135}, {50, 2135}}));
}

// Copies of copies are all drawn: Qt Svg alone draws only some of them.
TEST(SvgImport, UsesOfUsesDrawEveryCopy)
{
    // Each level draws the one below twice: 2^10 copies of one stroke, side by side.
    std::string levels = "<defs><path id=\"u0\" stroke=\"black\" d=\"M0 0 L0 5\"/>";
    for (int k = 1; k <= 10; ++k)
        levels += "<g id=\"u" + std::to_string(k) + "\"><use href=\"#u" + std::to_string(k - 1) + "\"/><use href=\"#u" +
                  std::to_string(k - 1) + "\" x=\"" + std::to_string(1 << (k - 1)) + "\"/></g>";
    levels += "</defs><use href=\"#u10\" y=\"100\"/>";
    const auto lines = ImportedPolylines(Page(levels));
    ASSERT_EQ(lines.size(), 1024u);
    std::set<std::int32_t> xs;
    for (const auto& l : lines)
        xs.insert(l.Points[0].X);
    EXPECT_EQ(xs.size(), 1024u);
    EXPECT_EQ(*xs.rbegin(), 1023);
    EXPECT_EQ(lines[0].Points[0].Y, 2060);

    // A symbol drawn at the use's size; the use's paint inherited.
    const auto symbol =
        ImportedPolylines(Page("<defs><symbol id=\"s\" viewBox=\"0 0 10 10\"><path d=\"M0 0 L10 10\"/></symbol>"
                               "<g id=\"g\"><use href=\"#s\" width=\"100\" height=\"100\"/></g></defs>"
                               "<use href=\"#g\" x=\"200\" y=\"300\" stroke=\"black\"/>"));
    ASSERT_EQ(symbol.size(), 1u);
    EXPECT_EQ(symbol[0].Points, (std::vector<TPt>{{200, 1860}, {300, 1760}}));

    // Copies beyond the budget are refused with a reason, not left out in silence.
    std::string bomb = "<defs><path id=\"b0\" stroke=\"black\" d=\"M0 0 L1 1\"/>";
    for (int k = 1; k <= 9; ++k) {
        bomb += "<g id=\"b" + std::to_string(k) + "\">";
        for (int i = 0; i < 10; ++i)
            bomb += "<use href=\"#b" + std::to_string(k - 1) + "\"/>";
        bomb += "</g>";
    }
    bomb += "</defs><use href=\"#b9\"/>";
    THpglSheet sheet;
    const TFileResult r = ImportText(sheet, Page(bomb));
    EXPECT_EQ(r.Reason, "drawing too large: more than 600,000 elements with the copies of its uses");
    EXPECT_EQ(sheet.Count(), 0);

    // A circular reference draws what is not circular and is counted.
    TTranslateReport report;
    TSvgImportOptions options;
    options.Report = &report;
    ASSERT_TRUE(ImportSvgData(
                    sheet,
                    QByteArray::fromStdString(Page("<defs><g id=\"a\"><use href=\"#b\"/>" + Line("black") +
                                                   "</g><g id=\"b\"><use href=\"#a\"/></g></defs><use href=\"#a\"/>")),
                    options)
                    .Ok());
    EXPECT_EQ(Polylines(sheet).size(), 1u);
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"use copies (circular)", 1}}));
}

namespace {

std::vector<TPolyline> StrokeText(const std::string& svg, TTranslateReport* report = nullptr)
{
    THpglSheet sheet;
    TSvgImportOptions options;
    options.StrokeText = true;
    options.Report = report;
    const TFileResult r = ImportSvgData(sheet, QByteArray::fromStdString(svg), options);
    EXPECT_TRUE(r.Ok()) << r.Reason;
    return Polylines(sheet);
}

TBox BoxOf(const std::vector<TPolyline>& lines)
{
    TBox box;
    for (const auto& l : lines)
        for (const TPt& p : l.Points)
            box.Add(p);
    return box;
}

}  // namespace

// Text laid in the stroke font: single strokes where the text is, as large, in its paint.
TEST(SvgImport, TextInTheStrokeFontLiesWhereTheTextIs)
{
    const std::string text =
        "<text x=\"100\" y=\"200\" font-family=\"Arial\" font-size=\"100\" fill=\"black\">HI</text>";
    const auto strokes = StrokeText(Page(text));
    const auto outlines = ImportedPolylines(Page(text));
    // H and I in a stick face: four strokes, none of them closed outlines.
    EXPECT_EQ(strokes.size(), 4u);
    for (const auto& l : strokes)
        EXPECT_FALSE(l.Points.size() > 2 && l.Points.front() == l.Points.back());
    // Capitals from the baseline up by about seven tenths of the size, from x on.
    const TBox s = BoxOf(strokes), o = BoxOf(outlines);
    EXPECT_NEAR(s.Y0, 2160 - 200, 2);
    EXPECT_NEAR(s.Y1 - s.Y0, 70, 3);
    EXPECT_NEAR(s.Y1, o.Y1, 6);
    EXPECT_GE(s.X0, 100);
    EXPECT_LT(s.X0, 115);

    const struct {
        const char* Text;
        int Lines;
        TBox Near;  // what the strokes must lie within
    } rows[] = {
        // Anchored at the middle and at the end.
        {"<text x=\"500\" y=\"200\" font-size=\"100\" text-anchor=\"middle\">HI</text>", 4, {440, 1955, 560, 2035}},
        {"<text x=\"500\" y=\"200\" font-size=\"100\" style=\"text-anchor:end\">HI</text>", 4, {380, 1955, 502, 2035}},
        // The text's transform: turned a quarter, it runs down the page, its tops to the right.
        {"<text x=\"0\" y=\"0\" font-size=\"100\" transform=\"translate(300 300) rotate(90)\">HI</text>",
         4,
         {295, 1765, 375, 1865}},
        // Lines by their tspans, in an inherited size and paint.
        {"<g font-size=\"100\" fill=\"red\"><text><tspan x=\"100\" y=\"200\">I</tspan><tspan x=\"100\" y=\"400\">I</tspan></text></g>",
         2,
         {95, 1755, 125, 2035}},
        // Stroked, not filled.
        {"<text x=\"100\" y=\"200\" font-size=\"100\" fill=\"none\" stroke=\"blue\">I</text>",
         1,
         {95, 1955, 125, 2035}},
        // Paper-white, or no paint: nothing.
        {"<text x=\"100\" y=\"200\" font-size=\"100\" fill=\"white\">I</text>", 0, {}},
        {"<text x=\"100\" y=\"200\" font-size=\"100\" fill=\"none\">I</text>", 0, {}},
    };
    for (const auto& r : rows) {
        const auto lines = StrokeText(Page(r.Text));
        EXPECT_EQ(lines.size(), static_cast<std::size_t>(r.Lines)) << r.Text;
        if (lines.empty())
            continue;
        const TBox b = BoxOf(lines);
        EXPECT_GE(b.X0, r.Near.X0) << r.Text;
        EXPECT_LE(b.X1, r.Near.X1) << r.Text;
        EXPECT_GE(b.Y0, r.Near.Y0) << r.Text;
        EXPECT_LE(b.Y1, r.Near.Y1) << r.Text;
    }
    // The face follows the family: a script, a serif and a sans serif draw differently.
    const auto face = [](const char* family) {
        return StrokeText(
            Page(std::string("<text x=\"10\" y=\"200\" font-size=\"100\" font-family=\"") + family + "\">Ag</text>"));
    };
    const std::size_t script = face("Brush Script").size(), serif = face("Times New Roman").size(),
                      sans = face("Helvetica").size();
    EXPECT_NE(script, sans);
    EXPECT_NE(serif, sans);
    // A character the stroke font lacks is a box, and counted.
    TTranslateReport report;
    EXPECT_FALSE(StrokeText(Page("<text x=\"10\" y=\"200\" font-size=\"50\">\xe2\x82\xac</text>"), &report).empty());
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"characters without a stroke glyph (boxes)", 1}}));
}

// What the rewrites add is bounded too, and what they cannot do is reported, not broken.
TEST(SvgImport, RewritesStayWithinTheBudgetsAndKeepTheDocumentWhole)
{
    // A comb of a clip across many strokes: more pieces than the points allow.
    std::string comb = "M0 0";
    for (int i = 0; i < 400; ++i)
        comb += " L" + std::to_string(i * 3) + " 1000 L" + std::to_string(i * 3 + 1) + " 1000 L" +
                std::to_string(i * 3 + 1) + " 0 L" + std::to_string(i * 3 + 2) + " 0";
    std::string lines;
    for (int i = 0; i < 100; ++i)
        lines += "M0 " + std::to_string(i * 10 + 5) + " L1200 " + std::to_string(i * 10 + 5) + " ";
    TSvgImportOptions small;
    small.Limits.Points = 20000;
    THpglSheet sheet;
    TFileResult r = ImportSvgData(sheet,
                                  QByteArray::fromStdString(Page("<clipPath id=\"c\"><path d=\"" + comb +
                                                                 " Z\"/></clipPath>"
                                                                 "<path clip-path=\"url(#c)\" stroke=\"black\" d=\"" +
                                                                 lines + "\"/>")),
                                  small);
    EXPECT_EQ(r.Reason, "drawing too large: more than 20,000 points");
    EXPECT_EQ(sheet.Count(), 0);

    // Text laid again and again by uses counts its points.
    std::string uses = "<defs><text id=\"t\" x=\"10\" y=\"100\" font-size=\"20\">Many words of text</text></defs>";
    for (int i = 0; i < 200; ++i)
        uses += "<use href=\"#t\" y=\"" + std::to_string(i) + "\"/>";
    small.StrokeText = true;
    r = ImportSvgData(sheet, QByteArray::fromStdString(Page(uses)), small);
    EXPECT_EQ(r.Reason, "drawing too large: more than 20,000 points");

    // Too deep for anything that goes down a level by a call.
    std::string deep;
    for (int i = 0; i < 1001; ++i)
        deep += "<g>";
    deep += Line("black");
    for (int i = 0; i < 1001; ++i)
        deep += "</g>";
    EXPECT_EQ(ImportText(sheet, Page(deep)).Reason, "drawing too deep: more than 1,000 nested elements");

    // The scan alone sees numbers in what is never drawn, and a second point starts a number.
    TSvgScan scan;
    EXPECT_EQ(
        ScanSvg(QByteArray::fromStdString(Page("<defs><path d=\"M0 0L1.5.9e300 0\"/></defs>")), TSvgLimits{}, scan),
        kSvgOutOfRange);
    EXPECT_EQ(ScanSvg(QByteArray::fromStdString(Page("<path d=\"M0 0L1.5.9e3 0 1e-400 2\"/>")), TSvgLimits{}, scan),
              "");

    // Copies of a clip outline beyond the budget: the rest is drawn unclipped, and said so.
    std::string clipped = "<clipPath id=\"k\">";
    for (int i = 0; i < 10; ++i)
        clipped += "<rect x=\"" + std::to_string(i * 10) + "\" width=\"5\" height=\"100\"/>";
    clipped += "</clipPath>";
    for (int i = 0; i < 15; ++i)
        clipped += "<path clip-path=\"url(#k)\" stroke=\"black\" d=\"M0 " + std::to_string(i * 5) + " L100 " +
                   std::to_string(i * 5) + "\"/>";
    TTranslateReport report;
    TSvgImportOptions budget;
    budget.Limits.Elements = 100;
    budget.Report = &report;
    ASSERT_TRUE(ImportSvgData(sheet, QByteArray::fromStdString(Page(clipped)), budget).Ok());
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"clip paths (drawn unclipped)", 6}}));
}

// A clipped element, a split text or a text in strokes keeps its place in the document: the
// root, a switch and a use of it by id all see it whole.
TEST(SvgImport, RewrittenElementsKeepTheirPlaceAndTheirId)
{
    const std::string clip = "<defs><clipPath id=\"r\"><rect x=\"0\" y=\"0\" width=\"100\" height=\"100\"/></clipPath>"
                             "<path id=\"x\" clip-path=\"url(#r)\" stroke=\"black\" d=\"M-50 50 L150 50\"/></defs>";
    // A use of a clipped element is clipped.
    auto lines = ImportedPolylines(Page(clip + "<use href=\"#x\" y=\"10\"/>"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Points, (std::vector<TPt>{{0, 2100}, {100, 2100}}));
    // A switch over a clipped element draws it, clipped.
    lines = ImportedPolylines(
        Page("<defs><clipPath id=\"r\"><rect width=\"100\" height=\"100\"/></clipPath></defs>"
             "<switch><path clip-path=\"url(#r)\" stroke=\"black\" d=\"M-50 50 L150 50\"/></switch>"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Points, (std::vector<TPt>{{0, 2110}, {100, 2110}}));
    // A clip on the root itself is not drawn, and the drawing still is.
    THpglSheet sheet;
    TTranslateReport report;
    TSvgImportOptions options;
    options.Report = &report;
    ASSERT_TRUE(
        ImportSvgData(
            sheet,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"190mm\" height=\"270mm\" viewBox=\"0 0 1520 "
            "2160\" clip-path=\"url(#r)\"><defs><clipPath id=\"r\"><rect width=\"10\" height=\"10\"/></clipPath>"
            "</defs><path stroke=\"black\" d=\"M10 10 L20 10\"/></svg>",
            options)
            .Ok());
    EXPECT_EQ(Polylines(sheet).size(), 1u);
    EXPECT_EQ(report.NotDrawn, (std::map<std::string, std::int64_t>{{"clip paths (drawn unclipped)", 1}}));
    // A multi-line text used by id draws every line; so does one in strokes.
    const std::string text = "<defs><text id=\"t\" font-size=\"40\"><tspan x=\"10\" y=\"100\">I</tspan>"
                             "<tspan x=\"10\" y=\"300\">I</tspan></text></defs><use href=\"#t\"/>";
    THpglSheet outlines;
    ASSERT_TRUE(ImportText(outlines, Page(text)).Ok());
    EXPECT_GT(PointsInRows(outlines, 55, 105), 0);
    EXPECT_GT(PointsInRows(outlines, 255, 305), 0);
    TSvgImportOptions strokes;
    strokes.StrokeText = true;
    THpglSheet stroked;
    ASSERT_TRUE(ImportSvgData(stroked, QByteArray::fromStdString(Page(text)), strokes).Ok());
    EXPECT_EQ(Polylines(stroked).size(), 2u);
    // A path that looks like a mark is drawn when nothing was rewritten.
    lines = ImportedPolylines(Page("<path stroke=\"#fe0001\" fill=\"none\" d=\"M0 0 L5 0\"/>"));
    EXPECT_EQ(lines.size(), 1u);
    // A namespace declared inside a copied element comes along with the copy.
    lines = ImportedPolylines(Page("<defs><path id=\"p\" stroke=\"black\" d=\"M0 0 L5 5\"/><g id=\"a\" "
                                   "xmlns:xl=\"http://www.w3.org/1999/xlink\"><use xl:href=\"#p\"/></g></defs>"
                                   "<use href=\"#a\"/><use href=\"#a\" x=\"10\"/>"));
    EXPECT_EQ(lines.size(), 2u);
}

// Uses Qt Svg would leave out, and documents that go through both rewrites, draw every copy.
TEST(SvgImport, UsesOfSymbolsAndUsesInNestedSvgsDraw)
{
    const std::string defs = "<defs><g id=\"u\"><use href=\"#p\"/><use href=\"#p\" x=\"5\"/></g>"
                             "<path id=\"p\" d=\"M0 0 L5 5\" stroke=\"black\"/>"
                             "<symbol id=\"s\" viewBox=\"0 0 10 10\"><path d=\"M0 0 L10 10\"/></symbol></defs>";
    const std::vector<std::vector<TPt>> pair = {{{60, 2100}, {75, 2085}}, {{75, 2100}, {90, 2085}}};
    const struct {
        std::string Svg;
        std::vector<std::vector<TPt>> Expected;
    } rows[] = {
        // A symbol used directly, at the use's size, with the use's paint.
        {Page(defs + "<use href=\"#s\" x=\"200\" y=\"300\" width=\"100\" height=\"100\" stroke=\"black\"/>"),
         {{{200, 1860}, {300, 1760}}}},
        // Copies made first, then the nested svg placed: the second pass reads the first's output.
        {Page(defs +
              "<svg x=\"60\" y=\"60\" width=\"30\" height=\"30\" viewBox=\"0 0 10 10\"><use href=\"#u\"/></svg>"),
         pair},
        // A document whose own prefix is the one a writer would make up.
        {"<n1:svg xmlns:n1=\"http://www.w3.org/2000/svg\" width=\"190mm\" height=\"270mm\" "
         "viewBox=\"0 0 1520 2160\"><n1:svg x=\"60\" y=\"60\" width=\"30\" height=\"30\" viewBox=\"0 0 10 10\">"
         "<n1:path d=\"M0 0 L5 5\" stroke=\"black\"/><n1:path d=\"M5 0 L10 5\" stroke=\"black\"/></n1:svg></n1:svg>",
         pair},
    };
    for (const auto& r : rows) {
        std::vector<std::vector<TPt>> got;
        for (const auto& l : ImportedPolylines(r.Svg))
            got.push_back(l.Points);
        EXPECT_EQ(got, r.Expected) << r.Svg;
    }
}
