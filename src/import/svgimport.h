#pragma once
// SVG documents as plotter moves: every stroke, every fill's outline and every glyph's
// outline becomes PU/PD polylines in plotter units (1/8 mm), y up, the page's lower-left
// corner at the origin, one pen per colour.

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "import/plotfile.h"
#include "import/svgscan.h"
#include "sheet/hpglsheet.h"

// Largest curve-to-chord distance when curves are flattened, in plotter units.
inline constexpr double kFlatness = 0.5;

// Appends the points after p0 of a polyline that follows the cubic Bezier p0..p3 within
// kFlatness, ending exactly at p3.
void FlattenCubic(QPointF p0, QPointF p1, QPointF p2, QPointF p3, std::vector<QPointF>& out);

struct TSvgImportOptions {
    // Called now and then while a large document is drawn, to keep a window alive.
    std::function<void()> OnProgress;
    // What a document may cost; beyond it the import fails with a reason, before memory runs away.
    TSvgLimits Limits;
    // When given, receives what was left out of the drawing (NotDrawn), by what a user calls it.
    TTranslateReport* Report = nullptr;
    // Text in the stroke font nearest its font family, one line a stroke, rather than as the
    // outlines of its glyphs, which a plotter traces twice.
    bool StrokeText = false;
};

// Appends the drawing of an SVG or gzip-compressed SVG document (its bytes) to the sheet:
// PA, then SP before each change of colour, then per subpath PU to its first point and PD
// to each further one. Nothing is appended when it fails; Reason says why. A compressed
// document is refused once it unpacks beyond 1 GiB or 100 times its packed size.
TFileResult ImportSvgData(THpglSheet& sheet, const QByteArray& data, const TSvgImportOptions& options = {});
TFileResult ImportSvg(THpglSheet& sheet, const std::string& fileName, const TSvgImportOptions& options = {});

// The physical size of an SVG root's width or height in plotter units: a number with mm,
// cm, in, pt, pc, px or no unit (px, 96 per inch). False for a percentage, em, ex, a
// missing or non-positive value.
bool SvgLengthToUnits(const QString& text, double& units);
