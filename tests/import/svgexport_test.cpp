#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "drawingtest.h"
#include "import/svgexport.h"
#include "sheet/canvas.h"
#include "sheet/frame.h"
#include "sheettext.h"
#include "testfiles.h"

namespace {

// What Draw puts on a surface where every frame unit is one pixel (x + 1, 2161 - y): the
// lines drawn with the pen down, and the circles and arcs.
class TShapes final : public TCanvas {
public:
    using TSegment = std::tuple<TColor, std::int32_t, std::int32_t, std::int32_t, std::int32_t>;
    std::vector<TSegment> Segments;
    struct TRound {
        double Cx, Cy, R;
    };
    std::vector<TRound> Rounds;

    TColor PenColor() const override { return Pen; }
    void SetPenColor(TColor c) override { Pen = c; }
    TColor BrushColor() const override { return clWhite; }
    void SetBrushColor(TColor) override {}
    TBrushStyle BrushStyle() const override { return TBrushStyle::Clear; }
    void SetBrushStyle(TBrushStyle) override {}
    void MoveTo(std::int32_t x, std::int32_t y) override { X = x, Y = y; }
    void LineTo(std::int32_t x, std::int32_t y) override
    {
        if (x != X || y != Y)
            Segments.emplace_back(Pen, X, Y, x, y);
        X = x, Y = y;
    }
    void SetPixel(std::int32_t, std::int32_t, TColor) override {}
    void Rectangle(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {}
    void Ellipse(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override
    {
        Rounds.push_back({(double(x1) + x2) / 2, (double(y1) + y2) / 2, std::abs(double(x2) - x1) / 2});
    }
    void Arc(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t, std::int32_t,
             std::int32_t, std::int32_t) override
    {
        Ellipse(x1, y1, x2, y2);
    }

private:
    TColor Pen = clBlack;
    std::int32_t X = 0, Y = 0;
};

TShapes ShapesOf(const THpglSheet& sheet)
{
    TShapes s;
    sheet.Draw(s, kFrameWidth + 3, kFrameHeight + 3);
    return s;
}

std::string ExportAndImport(const THpglSheet& sheet, THpglSheet& back)
{
    const std::string svg = SheetToSvg(sheet);
    const TFileResult r = ImportSvgData(back, QByteArray::fromStdString(svg));
    EXPECT_TRUE(r.Ok()) << r.Reason;
    return svg;
}

// The d attribute of every path, in order.
std::vector<std::string> PathData(const std::string& svg)
{
    std::vector<std::string> out;
    const std::string key = "<path stroke=\"";
    for (std::size_t at = svg.find(key); at != std::string::npos; at = svg.find(key, at + 1)) {
        const std::size_t from = svg.find(" d=\"", at) + 4;
        out.push_back(svg.substr(from, svg.find('"', from) - from));
    }
    return out;
}

}  // namespace

TEST(SvgExport, TheFrameIsTheDocumentAndYPointsDown)
{
    THpglSheet sheet;
    LoadText(sheet, "SP2;PU0,0;PD1520,2160;PD1520,0;SP3;PU100,100;PD200,100;");
    const std::string svg = SheetToSvg(sheet);
    EXPECT_NE(svg.find("width=\"190mm\" height=\"270mm\" viewBox=\"0 0 1520 2160\""), std::string::npos) << svg;
    EXPECT_NE(svg.find("<path stroke=\"#ff0000\" d=\"M0 2160L1520 0L1520 2160\"/>"), std::string::npos) << svg;
    EXPECT_NE(svg.find("<path stroke=\"#0000ff\" d=\"M100 2060L200 2060\"/>"), std::string::npos) << svg;
    EXPECT_NE(svg.find("fill=\"none\""), std::string::npos);
    EXPECT_NE(svg.find("non-scaling-stroke"), std::string::npos);  // hairlines at any zoom
}

TEST(SvgExport, LinesComeBackExactlyWithThePenOfTheirColour)
{
    THpglSheet sheet, back;
    LoadText(sheet, "SP2;PU10,20;PD300,40;PD-50,-60;PR;PD10,0;PA;SP1;PU700,700;PD800,900;");
    ExportAndImport(sheet, back);
    // Red first (pen 2 in the view, so pen 2 again since black takes pen 1).
    EXPECT_EQ(SheetText(back), "PA|SP 2|PU 10 20|PD 300 40|PD -50 -60|PD -40 -60|SP 1|PU 700 700|PD 800 900");
}

TEST(SvgExport, CirclesAndArcsAsTheViewDrawsThem)
{
    THpglSheet sheet, back;
    LoadText(sheet, "PA760,1080;CI100;PU860,500;AA760,500,90;");
    const std::string svg = ExportAndImport(sheet, back);
    EXPECT_NE(svg.find("<circle stroke=\"#000000\" cx=\"760\" cy=\"1080\" r=\"100\"/>"), std::string::npos) << svg;
    EXPECT_NE(svg.find(" 0 0 0 "), std::string::npos) << svg;  // a short arc, counterclockwise on paper
    const auto lines = Polylines(back);
    ASSERT_EQ(lines.size(), 2u);
    for (TPt p : lines[0].Points)
        EXPECT_NEAR(Distance(p.X, p.Y, 760, 1080), 100, 0.8);
    // The quarter from (860, 500) counterclockwise to (760, 600), y up.
    const auto& arc = lines[1].Points;
    EXPECT_LE(Distance(arc.front().X, arc.front().Y, 860, 500), 1.5);
    EXPECT_LE(Distance(arc.back().X, arc.back().Y, 760, 600), 1.5);
    for (TPt p : arc) {
        EXPECT_NEAR(Distance(p.X, p.Y, 760, 500), 100, 0.8);
        EXPECT_GE(p.X, 759);
        EXPECT_GE(p.Y, 499);
    }
}

// The view's arcs are as wide as the sheet's: the box's right and bottom edges that GDI
// leaves out as pixels do not shorten the radius.
TEST(SvgExport, ArcsAndCirclesKeepTheSheetsRadius)
{
    const struct {
        const char* Hpgl;
        const char* Radius;
    } cases[] = {
        {"PU960,1080;PD;AA760,1080,90;", "A200 200 0 0 0 "},   // a quarter, counterclockwise
        {"PU960,1080;PD;AA760,1080,-90;", "A200 200 0 0 1 "},  // clockwise, ends given first
        {"PU760,1280;PD;AA760,1080,270;", "A200 200 0 1 0 "},  // the long way round
        {"PU800,1080;PD;AA760,1080,90;", "A40 40 "},           // small, but never a unit less
        {"PU960,1080;PD;AA760,1080,360;", "r=\"200\""},        // a whole turn is a circle
        {"PA760,1080;CI200;", "cx=\"760\" cy=\"1080\" r=\"200\""},
        {"PA760,1080;CI1;", "cx=\"760\" cy=\"1080\" r=\"1\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Hpgl);
        THpglSheet sheet;
        LoadText(sheet, c.Hpgl);
        const std::string svg = SheetToSvg(sheet);
        EXPECT_NE(svg.find(c.Radius), std::string::npos) << svg;
    }
}

// A plotter draws an arc between lines without lifting the pen, so the SVG carries on too:
// one subpath, through the pen's point at each join, the lines exact and the arc on its side.
TEST(SvgExport, ArcsBetweenLinesStayOneStroke)
{
    const struct {
        const char* Hpgl;
        std::size_t Paths;
        TPt First, Last, OnArc;
    } cases[] = {
        // line, quarter counterclockwise, line
        {"PU1160,1080;PD960,1080;AA760,1080,90;PD760,1500;", 1, {1160, 1080}, {760, 1500}, {901, 1221}},
        // line, quarter clockwise, line
        {"PU1160,1080;PD960,1080;AA760,1080,-90;PD560,800;", 1, {1160, 1080}, {560, 800}, {901, 939}},
        // a clockwise arc straight after the pen goes down
        {"PU960,1080;PD;AA760,1080,-90;PD560,800;", 1, {960, 1080}, {560, 800}, {901, 939}},
        // arcs that turn back and forth, the second from a start off its circle
        {"PU960,1080;PD;AA760,1080,45;AA760,1080,-90;AA760,1080,60;PD0,0;", 1, {960, 1080}, {0, 0}, {901, 939}},
        // the pen lifted between the line and the arc: two strokes
        {"PU1160,1080;PD960,1080;PU960,1000;PD;AA760,1000,90;", 2, {1160, 1080}, {760, 1200}, {901, 1141}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Hpgl);
        THpglSheet sheet, back;
        LoadText(sheet, c.Hpgl);
        const std::string svg = ExportAndImport(sheet, back);
        const auto data = PathData(svg);
        ASSERT_EQ(data.size(), c.Paths) << svg;
        for (const std::string& d : data)
            EXPECT_EQ(std::count(d.begin(), d.end(), 'M'), 1) << d;
        const auto lines = Polylines(back);
        ASSERT_EQ(lines.size(), c.Paths);
        EXPECT_EQ(lines.front().Points.front(), c.First);
        EXPECT_LE(Distance(lines.back().Points.back().X, lines.back().Points.back().Y, c.Last.X, c.Last.Y), 1.5);
        double nearest = 1e9;
        for (const auto& l : lines)
            for (TPt p : l.Points)
                nearest = std::min(nearest, Distance(p.X, p.Y, c.OnArc.X, c.OnArc.Y));
        EXPECT_LE(nearest, 2) << "the arc went round the other way";
    }
}

TEST(SvgExport, DotsSurvive)
{
    THpglSheet sheet, back;
    LoadText(sheet, "PU10,10;PD10,10;PU20,20;PD30,30;PD30,30;PD40,30;");
    ExportAndImport(sheet, back);
    EXPECT_EQ(SheetText(back), "PA|SP 1|PU 10 10|PD 10 10|PU 20 20|PD 30 30|PD 40 30");
}

TEST(SvgExport, LongRunsAreNotCutShort)
{
    // Qt Svg drops the rest of a path beyond some 32000 elements.
    THpglSheet sheet, back;
    sheet.Add(hkPA);
    sheet.Add(hkPU, 0, 0);
    for (int i = 1; i <= 40000; ++i)
        sheet.Add(hkPD, i % 2 == 0 ? 0 : 1000, i / 20);
    ExportAndImport(sheet, back);
    const auto lines = Polylines(back);
    std::size_t points = 0;
    for (const auto& l : lines)
        points += l.Points.size() - 1;
    EXPECT_EQ(points, 40000u);
    EXPECT_EQ(lines.back().Points.back(), (TPt{0, 2000}));
}

TEST(SvgExport, FailedWriteKeepsTheOldFileAndSaysWhy)
{
    testfiles::TempDir dir;
    THpglSheet sheet;
    LoadText(sheet, "PU0,0;PD5,5;");
    TFileResult r = ExportSvg(sheet, dir.File("missing/out.svg"));
    EXPECT_FALSE(r.Ok());
    EXPECT_NE(r.Reason.find("No such file"), std::string::npos) << r.Reason;
    ASSERT_TRUE(ExportSvg(sheet, dir.File("out.svg")).Ok());
    EXPECT_EQ(testfiles::ReadAll(dir.File("out.svg")), SheetToSvg(sheet));
    if (::geteuid() != 0) {
        const std::string keep = dir.Write("keep.svg", "precious");
        ::chmod(dir.Path.c_str(), 0555);
        r = ExportSvg(sheet, keep);
        ::chmod(dir.Path.c_str(), 0755);
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(testfiles::ReadAll(keep), "precious");
    }
}

// Every sample: the pen-down lines of the view come back from the exported SVG exactly, in
// their colours; what else comes back lies on the circles and arcs of the original.
TEST(SvgExport, SamplesComeBackThroughSvg)
{
    const auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        THpglSheet sheet, back;
        ASSERT_TRUE(sheet.LoadFromFile(file).Ok());
        ExportAndImport(sheet, back);
        TShapes before = ShapesOf(sheet), after = ShapesOf(back);
        std::multimap<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>, TColor> want;
        for (const auto& [pen, x0, y0, x1, y1] : before.Segments)
            want.emplace(std::make_tuple(x0, y0, x1, y1), pen);
        // The view's colours come back as other pens, but one for one.
        std::map<TColor, TColor> colours;
        std::size_t matched = 0, onRounds = 0, round = 0;
        for (const auto& [pen, x0, y0, x1, y1] : after.Segments) {
            if (auto it = want.find(std::make_tuple(x0, y0, x1, y1)); it != want.end()) {
                EXPECT_EQ(colours.try_emplace(it->second, pen).first->second, pen);
                want.erase(it);
                ++matched;
                continue;
            }
            // A chord of a circle or an arc: both ends on one of them. They come back in the
            // order they were drawn, so the search starts at the last one found.
            auto on = [&](std::size_t i) {
                const TShapes::TRound& c = before.Rounds[i];
                return std::abs(Distance(x0, y0, c.Cx, c.Cy) - c.R) <= 1.5 &&
                       std::abs(Distance(x1, y1, c.Cx, c.Cy) - c.R) <= 1.5;
            };
            bool found = false;
            for (std::size_t k = 0; k < before.Rounds.size() && !found; ++k)
                if (on((round + k) % before.Rounds.size()))
                    round = (round + k) % before.Rounds.size(), found = true;
            EXPECT_TRUE(found) << x0 << "," << y0 << " " << x1 << "," << y1;
            ++onRounds;
        }
        std::set<TColor> distinct;
        for (const auto& [from, to] : colours)
            EXPECT_TRUE(distinct.insert(to).second) << "two colours became one pen";
        EXPECT_TRUE(want.empty()) << want.size() << " of " << before.Segments.size() << " lines lost";
        EXPECT_EQ(matched, before.Segments.size());
        EXPECT_EQ(onRounds > 0, !before.Rounds.empty());
    }
}
