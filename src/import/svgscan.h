#pragma once
// A look at an SVG document before Qt Svg builds its tree of it: what it would cost, numbers
// no plotter can reach, and what Qt Svg would leave out. Qt Svg keeps about a hundred bytes
// and more for every element, so a small file of many empty groups, or a gzip bomb, takes
// gigabytes before any check after the load could stop it.

#include <QByteArray>
#include <cstdint>
#include <map>
#include <string>

#include "import/plotfile.h"

// The one reason for every number no plotter can reach, read or computed.
inline constexpr const char* kSvgOutOfRange = "the drawing reaches beyond the plotter's coordinate range";

struct TSvgLimits {
    std::int64_t Elements = 600000;
    std::int64_t PathBytes = std::int64_t{64} << 20;  // path data and point lists together
    std::int64_t Points = 12000000;                   // drawn, after curves are flattened
    std::int64_t Depth = 1000;                        // elements nested in one another
};

// What the scan found: the costs, and by what a user calls it what will not be drawn.
struct TSvgScan {
    std::int64_t Elements = 0;
    std::int64_t PathBytes = 0;
    std::map<std::string, std::int64_t> NotDrawn;
    // Elements whose transform no plotter can follow (singular, or beyond any range); the
    // document must be rewritten without them before Qt Svg draws it.
    std::int64_t Degenerate = 0;
    // Texts whose tspans carry their own positions (each line of a multi-line text), and
    // <svg> elements inside the drawing: Qt Svg places both wrongly.
    std::int64_t PositionedTexts = 0;
    std::int64_t NestedSvgs = 0;
    // Elements clipped by a clip path, which Qt Svg draws unclipped.
    std::int64_t Clipped = 0;
    // A <use> refers to something that holds a <use> (Qt Svg draws only some of such copies),
    // or to a <symbol> (which this Qt Svg does not draw at all): uses are made copies first.
    bool NestedUses = false;
    std::int64_t Texts = 0;
    // SVG 1.2 flowed texts (<flowRoot>): Qt Svg draws the region they flow into as a shape and
    // not their text, so they are left out.
    std::int64_t FlowRoots = 0;
};

// A run of text to lay in the stroke font: where it starts in its text's user space, and the
// font the document asks for.
struct TSvgTextRun {
    std::u32string Characters;
    double X = 0, Y = 0;
    double Size = 16;
    std::string Family;
    bool Bold = false, Italic = false;
    int Anchor = 0;  // start, middle, end
};

// Texts laid in the stroke font go to the collector as a mark per run, stroked in
// rgb(253, k / 256, k % 256) for run k, with the text's fill; a probe path with the text's
// stroke follows it.
inline constexpr int kTextMarkRed = 253;
inline constexpr int kTextMark = 11;
inline constexpr int kTextProbe = 12;

// Clipping goes to the collector as marks drawn around what it concerns: a path "M0 0 L<n> 0"
// stroked in rgb(254, k / 256, k % 256) for clip k, n saying what the mark means. Qt Svg
// draws them in document order with the transform in place, like any other path.
enum class TClipMark : int {
    ContentBegin = 1,  // what clip k clips follows
    ContentEnd = 2,
    OutlineBegin = 3,  // clip k's outline follows: nonzero, user space
    OutlineEnd = 4,
    OutlineBeginEvenOdd = 5,
    OutlineBeginBox = 7,  // in fractions of the clipped content's bounding box
    OutlineBeginBoxEvenOdd = 9,
};
inline constexpr int kClipMarkRed = 254;
inline constexpr int kMaxClips = 65536;

// An empty string when the document may be drawn, else why not. Reads the XML once, as a
// stream, keeping nothing of it.
std::string ScanSvg(const QByteArray& document, const TSvgLimits& limits, TSvgScan& scan);

// What the rewrite changes before Qt Svg draws the document.
struct TSvgRewrite {
    bool DropDegenerate = true;
    bool DropFlowRoots = true;
    // Each positioned tspan becomes a text of its own at its position (x, y, dx, dy).
    bool PlaceTspans = true;
    // A nested <svg> becomes a group placed and scaled by its x, y, width, height, viewBox
    // and preserveAspectRatio.
    bool PlaceNestedSvgs = true;
    // An element with a clip path goes between clip marks, its clip path's outline before it.
    bool MarkClips = true;
    // When given, each text becomes marks for the stroke font, its runs appended here.
    std::vector<TSvgTextRun>* TextRuns = nullptr;
    // What the copies of clip outlines may cost; beyond it the rest is drawn unclipped.
    TSvgLimits Limits;
};

// The document with every <use> of the drawing replaced by a copy of what it refers to
// (placed, and a symbol scaled, as the use asks), so that copies of copies are all drawn.
// Fails with a reason when the copies would exceed the limits' elements or path data;
// circular references are left out and counted in notDrawn.
bool ExpandUses(const QByteArray& document, const TSvgLimits& limits, QByteArray& out,
                std::map<std::string, std::int64_t>* notDrawn, std::string& error);

// Only called when the scan found something to rewrite; elsewhere the document goes to Qt
// Svg byte for byte as it is. Clip paths that cannot be marked (inside definitions, or
// beyond kMaxClips) are counted in notDrawn.
QByteArray RewriteSvg(const QByteArray& document, const TSvgRewrite& rewrite,
                      std::map<std::string, std::int64_t>* notDrawn = nullptr);

// The transform attribute's matrix is beyond what can be drawn: not finite, singular, or
// scaling by more than 1e30 or less than 1e-30. False for a list that does not parse (Qt
// Svg then ignores it as well).
bool IsDegenerateTransform(const QString& transform);
