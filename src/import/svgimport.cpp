#include "import/svgimport.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

#include "import/strokefont.h"
#include "import/svgscan.h"
#include "sheet/hpglobject.h"

namespace {

constexpr double kUnitsPerInch = 25.4 * 8;
constexpr double kUnitsPerPx = kUnitsPerInch / 96;
// A compressed drawing may not unpack beyond this, nor beyond kMaxInflation times its packed
// size: a few kilobytes of gzip can claim gigabytes, and real drawings pack ten times at most.
constexpr std::size_t kMaxInflated = std::size_t{1} << 30;
constexpr std::size_t kMaxInflation = 100;
// Edge tests clipping may take: a few seconds' work.
constexpr double kMaxClipWork = 4e9;

TFileResult Failure(const std::string& reason)
{
    TFileResult r;
    r.ErrorCode = EINVAL;
    r.Reason = reason;
    return r;
}

bool IsGzip(const QByteArray& data)
{
    return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1f &&
           static_cast<unsigned char>(data[1]) == 0x8b;
}

bool Gunzip(const QByteArray& in, QByteArray& out, std::string& error)
{
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
        error = "cannot start decompressing";
        return false;
    }
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    zs.avail_in = static_cast<uInt>(in.size());
    out.clear();
    char chunk[1 << 16];
    int rc = Z_OK;
    const std::size_t most = std::min(kMaxInflated, static_cast<std::size_t>(in.size()) * kMaxInflation);
    while (rc != Z_STREAM_END) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            error = std::string("the compressed data is damaged (") + (zs.msg ? zs.msg : "truncated") + ")";
            break;
        }
        out.append(chunk, static_cast<qsizetype>(sizeof chunk - zs.avail_out));
        if (static_cast<std::size_t>(out.size()) > most) {
            error = most == kMaxInflated ? "the compressed drawing unpacks to more than 1 GiB"
                                         : "the compressed drawing unpacks to more than " +
                                               std::to_string(kMaxInflation) + " times its size";
            rc = Z_DATA_ERROR;
            break;
        }
        if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) {
            error = "the compressed data ends early";
            rc = Z_DATA_ERROR;
            break;
        }
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

// The root element's attributes that place the drawing on paper.
struct TRoot {
    QString Width, Height, ViewBox, Aspect;
};

bool ReadRoot(const QByteArray& data, TRoot& root, std::string& error)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() != QLatin1String("svg")) {
                error = "the document is <" + xml.name().toString().toStdString() + ">, not an SVG drawing";
                return false;
            }
            const QXmlStreamAttributes a = xml.attributes();
            root.Width = a.value(QLatin1String("width")).toString();
            root.Height = a.value(QLatin1String("height")).toString();
            root.ViewBox = a.value(QLatin1String("viewBox")).toString();
            root.Aspect = a.value(QLatin1String("preserveAspectRatio")).toString();
            return true;
        }
    }
    error = xml.hasError() ? "not an SVG drawing: line " + std::to_string(xml.lineNumber()) + ": " +
                                 xml.errorString().toStdString()
                           : "not an SVG drawing: no element in the file";
    return false;
}

// Why Qt Svg refused a document: the XML error when there is one.
std::string WhyUnreadable(const QByteArray& data)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return "not a readable SVG drawing: line " + std::to_string(xml.lineNumber()) + ": " +
               xml.errorString().toStdString();
    return "not a readable SVG drawing";
}

bool ParseViewBox(const QString& text, QRectF& box)
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return false;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].toDouble(&ok);
        if (!ok || !std::isfinite(v[i]))
            return false;
    }
    if (v[2] <= 0 || v[3] <= 0)
        return false;
    box = QRectF(v[0], v[1], v[2], v[3]);
    return true;
}

// Where the viewBox lands within a page of w x h units (preserveAspectRatio).
QRectF PlaceViewBox(const QRectF& box, double w, double h, const QString& aspect)
{
    QStringList tokens = aspect.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!tokens.isEmpty() && tokens.front() == QLatin1String("defer"))
        tokens.pop_front();
    const QString align = tokens.isEmpty() ? QStringLiteral("xMidYMid") : tokens.front();
    if (align == QLatin1String("none"))
        return QRectF(0, 0, w, h);
    const bool slice = tokens.size() > 1 && tokens[1] == QLatin1String("slice");
    const double sx = w / box.width(), sy = h / box.height();
    const double s = slice ? std::max(sx, sy) : std::min(sx, sy);
    const double bw = box.width() * s, bh = box.height() * s;
    auto offset = [](const QString& a, double room) {
        if (a == QLatin1String("Min"))
            return 0.0;
        if (a == QLatin1String("Max"))
            return room;
        return room / 2;
    };
    const double x = align.size() == 8 ? offset(align.mid(1, 3), w - bw) : (w - bw) / 2;
    const double y = align.size() == 8 ? offset(align.mid(5, 3), h - bh) : (h - bh) / 2;
    return QRectF(x, y, bw, bh);
}

// One subpath as drawn: a run of points in device units (plotter units, y down).
struct TPiece {
    QRgb Color;
    std::size_t Start;
    std::size_t Count;
};

// A clip outline's inside, by the nonzero or the even-odd rule, and segments cut to it.
class TClipRegion {
public:
    TClipRegion(const std::vector<std::vector<QPointF>>& rings, bool evenOdd) : EvenOdd(evenOdd)
    {
        for (const auto& ring : rings)
            for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
                EdgeList.push_back({ring[i], ring[i + 1]});
                Bounds |= QRectF(ring[i], ring[i + 1]).normalized().adjusted(-1e-9, -1e-9, 1e-9, 1e-9);
            }
    }

    // Edge tests made so far: each point tested and each segment cut costs one per edge.
    double Work = 0;

    bool Inside(QPointF p)
    {
        if (!Bounds.contains(p))
            return false;
        Work += static_cast<double>(EdgeList.size());
        int winding = 0, crossings = 0;
        for (const auto& [a, b] : EdgeList) {
            if ((a.y() <= p.y()) != (b.y() <= p.y())) {
                const double x = a.x() + (p.y() - a.y()) / (b.y() - a.y()) * (b.x() - a.x());
                if (x > p.x()) {
                    ++crossings;
                    winding += b.y() > a.y() ? 1 : -1;
                }
            }
        }
        return EvenOdd ? (crossings & 1) != 0 : winding != 0;
    }

    // Calls keep(a, b, joined) for each part of the segment p..q inside, in order; joined
    // says the part starts where the last kept part ended (with `open`, the segment before
    // ended inside). True when the segment ends inside.
    template <class F>
    bool Cut(QPointF p, QPointF q, F&& keep, bool open)
    {
        if (std::max(p.x(), q.x()) < Bounds.left() || std::min(p.x(), q.x()) > Bounds.right() ||
            std::max(p.y(), q.y()) < Bounds.top() || std::min(p.y(), q.y()) > Bounds.bottom())
            return false;
        std::vector<double> ts{0, 1};
        const QPointF d = q - p;
        Work += static_cast<double>(EdgeList.size());
        for (const auto& [a, b] : EdgeList) {
            const QPointF e = b - a;
            const double den = d.x() * e.y() - d.y() * e.x();
            if (den == 0)
                continue;
            const QPointF w = a - p;
            const double t = (w.x() * e.y() - w.y() * e.x()) / den, u = (w.x() * d.y() - w.y() * d.x()) / den;
            if (t > 0 && t < 1 && u >= 0 && u <= 1)
                ts.push_back(t);
        }
        std::sort(ts.begin(), ts.end());
        bool joined = open;
        for (std::size_t i = 0; i + 1 < ts.size() && Work <= kMaxClipWork; ++i) {
            if (ts[i + 1] - ts[i] <= 1e-12 && !(p == q))
                continue;
            if (Inside(p + d * ((ts[i] + ts[i + 1]) / 2))) {
                keep(p + d * ts[i], p + d * ts[i + 1], joined);
                joined = true;
            } else {
                joined = false;
            }
        }
        return joined;
    }

private:
    bool EvenOdd;
    std::vector<std::pair<QPointF, QPointF>> EdgeList;
    QRectF Bounds;
};

// Collects every path the renderer draws, transformed to the device and flattened.
class TCollectEngine final : public QPaintEngine {
public:
    TCollectEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    std::vector<QPointF> Points;
    std::vector<TPiece> Pieces;
    std::function<void()> OnProgress;
    std::size_t MaxPoints = 0;
    std::string Failed;      // why the drawing cannot be taken; nothing more is collected
    bool ClipMarks = false;  // the document was rewritten with clip marks: paths like them are marks
    const std::vector<TSvgTextRun>* TextRuns = nullptr;  // the runs text marks index
    std::int64_t Boxes = 0;                              // characters the stroke font has no glyph for

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    Type type() const override { return QPaintEngine::User; }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {}

    void drawPath(const QPainterPath& path) override
    {
        if (int k, mark; Failed.empty() && IsClipMark(path, k, mark)) {
            ClipMark(k, static_cast<TClipMark>(mark));
            Filled = {};
            return;
        }
        if (TextRuns && Failed.empty() && TextMark(path)) {
            Filled = {};
            return;
        }
        QRgb color;
        bool stroked = false;
        if (!Failed.empty() || !Visible(color, stroked)) {
            Filled = {};
            return;
        }
        if ((++Calls & 1023) == 0 && OnProgress)
            OnProgress();
        const std::size_t firstPiece = Pieces.size();
        const QTransform t = state->transform();
        // A fill's outline is closed, as SVG fills it, whether the path says Z or not.
        Closing = !stroked;
        const int n = path.elementCount();
        for (int i = 0; i < n && Failed.empty(); ++i) {
            const QPainterPath::Element& e = path.elementAt(i);
            switch (e.type) {
            case QPainterPath::MoveToElement:
                Close();
                Open(color, Map(t, e));
                break;
            case QPainterPath::LineToElement:
                if (!InPiece)
                    Open(color, Map(t, e));
                else
                    Points.push_back(Map(t, e));
                break;
            case QPainterPath::CurveToElement:
                if (InPiece && i + 2 < n) {  // a path always starts with a move
                    // Checked before flattening: a huge curve is refused, not flattened first.
                    const QPointF c1 = Map(t, e), c2 = Map(t, path.elementAt(i + 1)), p = Map(t, path.elementAt(i + 2));
                    if (Failed.empty())
                        Cubic(Points.back(), c1, c2, p);
                }
                i += 2;
                break;
            case QPainterPath::CurveToDataElement: break;
            }
            if (Points.size() > MaxPoints && Failed.empty())
                Failed =
                    "drawing too large: more than " + GroupedNumber(static_cast<std::int64_t>(MaxPoints)) + " points";
        }
        Close();
        Closing = false;
        if (!Failed.empty()) {
            Points.clear();
            Pieces.clear();
            return;
        }
        // Qt Svg fills a shape and then strokes it in a second call: the pen goes round once,
        // on the fill's closed outline, in the stroke's colour.
        if (stroked && Filled.Valid && Filled.Start < Filled.End && Filled.End == firstPiece &&
            SameOutline(Filled.Start, firstPiece)) {
            DropStroke(firstPiece, color);
            Filled = {};
            return;
        }
        Filled = {!stroked, firstPiece, Pieces.size()};
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        if (count < 1)
            return;
        QPainterPath path(points[0]);
        for (int i = 1; i < count; ++i)
            path.lineTo(points[i]);
        if (mode != PolylineMode)
            path.closeSubpath();
        drawPath(path);
    }

    void drawPolygon(const QPoint* points, int count, PolygonDrawMode mode) override
    {
        std::vector<QPointF> f(points, points + count);
        drawPolygon(f.data(), count, mode);
    }

private:
    std::uint64_t Calls = 0;
    bool InPiece = false;
    bool Closing = false;  // the piece in hand outlines a fill

    // Clip paths: each clip's outline (closed rings on the device) as it is collected, and
    // where the pieces it clips begin.
    struct TClip {
        std::vector<std::vector<QPointF>> Rings;
        bool EvenOdd = false;
        bool Box = false;  // in fractions of the clipped content's bounding box
        QTransform Space;  // the clipped element's user space
    };
    std::unordered_map<int, TClip> Clips;
    int Outlining = -1;                                 // the clip whose outline is being drawn
    std::size_t OutlineFirst = 0;                       // its first piece
    std::vector<std::pair<int, std::size_t>> Clipping;  // clip, first piece of its content

    // The paint of a text laid in the stroke font: its fill, drawn just before its mark, or
    // the stroke of the probe just after it.
    std::optional<QRgb> TextFill;
    int AwaitingStroke = -1;

    static bool IsLine(const QPainterPath& path, int length)
    {
        if (path.elementCount() != 2)
            return false;
        const QPainterPath::Element a = path.elementAt(0), b = path.elementAt(1);
        return a.isMoveTo() && b.isLineTo() && a.x == 0 && a.y == 0 && b.y == 0 && b.x == length;
    }

    bool TextMark(const QPainterPath& path)
    {
        const QPen pen = state->pen();
        QRgb color;
        if (IsLine(path, kTextMark)) {
            if (pen.style() == Qt::NoPen) {  // the text's fill
                TextFill.reset();
                if (Paints(state->brush(), color))
                    TextFill = color;
                return true;
            }
            const QColor c = pen.color();
            if (c.red() != kTextMarkRed)
                return false;
            const std::size_t k = static_cast<std::size_t>(c.green() * 256 + c.blue());
            AwaitingStroke = -1;
            if (k < TextRuns->size()) {
                if (TextFill)
                    Lay((*TextRuns)[k], *TextFill);
                else
                    AwaitingStroke = static_cast<int>(k);
            }
            TextFill.reset();
            return true;
        }
        if (IsLine(path, kTextProbe) && AwaitingStroke >= 0) {
            // Qt Svg fills, then strokes: the fill's call (of nothing) comes first.
            if (pen.style() == Qt::NoPen)
                return true;
            if (state->opacity() > 0 && pen.widthF() > 0 && Paints(pen.brush(), color))
                Lay((*TextRuns)[static_cast<std::size_t>(AwaitingStroke)], color);
            AwaitingStroke = -1;
            return true;
        }
        return false;
    }

    // A run of text in the stroke face nearest its family, its cap height seven tenths of
    // its font size, as in common faces, placed by its anchor.
    void Lay(const TSvgTextRun& run, QRgb color)
    {
        using namespace hpgl2;
        const QString family = QString::fromStdString(run.Family).toLower();
        auto any = [&](std::initializer_list<const char*> words) {
            for (const char* w : words)
                if (family.contains(QLatin1String(w)))
                    return true;
            return false;
        };
        int typeface = 4, spacing = 1;  // sans serif
        if (any({"script", "cursive", "brush", "hand", "comic"}))
            typeface = 7;
        else if (any({"mono", "courier", "consol", "typewriter", "code", "fixed"}))
            typeface = 3, spacing = 0;
        else if ((any({"serif"}) && !any({"sans"})) ||
                 any({"times", "georgia", "garamond", "roman", "palatino", "cambria", "book"}))
            typeface = 5;
        const TStrokeFace face = FaceFor(typeface, run.Italic ? 1 : 0, run.Bold ? 3 : 0, spacing);
        const double scale = run.Size * 0.7 / CapHeight(face);
        auto glyph = [&](char32_t c) {
            return Glyph(face, c <= 0xff ? static_cast<unsigned char>(c) : static_cast<unsigned char>('?'),
                         TCharSet::Latin1);
        };
        double width = 0;  // the anchor needs it first
        for (const char32_t c : run.Characters)
            width += glyph(c).Advance() * scale;
        const QTransform t = state->transform();
        double x = run.X - width * run.Anchor / 2;
        for (const char32_t c : run.Characters) {
            const TGlyph g = glyph(c);
            if (c > 0xff || !g.Known)
                ++Boxes;
            // A run drawn over and over by uses counts against the points like any path.
            if (Points.size() > MaxPoints) {
                if (Failed.empty())
                    Failed = "drawing too large: more than " + GroupedNumber(static_cast<std::int64_t>(MaxPoints)) +
                             " points";
                return;
            }
            for (const auto& stroke : g.Strokes) {
                if (stroke.empty())
                    continue;
                auto at = [&](const TPt& p) { return Map(t, QPointF(x + p.X * scale, run.Y - p.Y * scale)); };
                Open(color, at(stroke.front()));
                for (std::size_t i = 1; i < stroke.size(); ++i)
                    Points.push_back(at(stroke[i]));
                if (stroke.size() == 1)
                    Points.push_back(Points.back());
                Close();
            }
            x += g.Advance() * scale;
        }
    }

    bool IsClipMark(const QPainterPath& path, int& k, int& mark) const
    {
        const QPen pen = state->pen();
        if (pen.style() == Qt::NoPen || path.elementCount() != 2)
            return false;
        const QColor c = pen.color();
        const QPainterPath::Element a = path.elementAt(0), b = path.elementAt(1);
        if (!ClipMarks || c.red() != kClipMarkRed || !a.isMoveTo() || !b.isLineTo() || a.x != 0 || a.y != 0 ||
            b.y != 0 || !(b.x >= 1 && b.x <= 9))
            return false;
        mark = static_cast<int>(b.x);
        k = c.green() * 256 + c.blue();
        return mark == b.x && mark != 6 && mark != 8;
    }

    void ClipMark(int k, TClipMark mark)
    {
        switch (mark) {
        case TClipMark::OutlineBegin:
        case TClipMark::OutlineBeginEvenOdd:
        case TClipMark::OutlineBeginBox:
        case TClipMark::OutlineBeginBoxEvenOdd: {
            TClip& clip = Clips[k];
            clip = {};
            clip.EvenOdd = mark == TClipMark::OutlineBeginEvenOdd || mark == TClipMark::OutlineBeginBoxEvenOdd;
            clip.Box = mark == TClipMark::OutlineBeginBox || mark == TClipMark::OutlineBeginBoxEvenOdd;
            clip.Space = state->transform();
            Outlining = k;
            OutlineFirst = Pieces.size();
            break;
        }
        case TClipMark::OutlineEnd:
            if (Outlining != k)
                break;
            // The outline is no drawing: it leaves the pieces for the clip.
            for (std::size_t i = OutlineFirst; i < Pieces.size(); ++i)
                Clips[k].Rings.emplace_back(Points.begin() + static_cast<std::ptrdiff_t>(Pieces[i].Start),
                                            Points.begin() +
                                                static_cast<std::ptrdiff_t>(Pieces[i].Start + Pieces[i].Count));
            if (OutlineFirst < Pieces.size()) {
                Points.resize(Pieces[OutlineFirst].Start);
                Pieces.resize(OutlineFirst);
            }
            Outlining = -1;
            break;
        case TClipMark::ContentBegin: Clipping.emplace_back(k, Pieces.size()); break;
        case TClipMark::ContentEnd:
            if (Clipping.empty() || Clipping.back().first != k)
                break;
            ClipTail(Clipping.back().second, Clips[k]);
            Clipping.pop_back();
            Clips.erase(k);
            break;
        }
    }

    // The pieces from `first` on, cut to what lies inside the clip: a plotter draws only
    // what shows.
    void ClipTail(std::size_t first, TClip& clip)
    {
        if (first >= Pieces.size())
            return;
        if (clip.Box)
            ToBoundingBox(first, clip);
        TClipRegion region(clip.Rings, clip.EvenOdd);
        std::vector<QPointF> points;
        std::vector<TPiece> pieces;
        // A comb of a clip across many strokes cuts them into a great many pieces, each cut
        // costing a test against every edge: both are bounded, as the points drawn are.
        for (std::size_t i = first; i < Pieces.size() && Failed.empty(); ++i) {
            const TPiece& p = Pieces[i];
            bool open = false;  // the segment before ended inside: a kept run continues
            for (std::size_t j = p.Start; j + 1 < p.Start + p.Count && Failed.empty() && region.Work <= kMaxClipWork;
                 ++j)
                open = region.Cut(
                    Points[j], Points[j + 1],
                    [&](QPointF a, QPointF b, bool joined) {
                        if (!joined) {
                            pieces.push_back({p.Color, points.size(), 0});
                            points.push_back(a);
                        }
                        points.push_back(b);
                        pieces.back().Count = points.size() - pieces.back().Start;
                        if (Pieces[first].Start + points.size() > MaxPoints && Failed.empty())
                            Failed = "drawing too large: more than " +
                                     GroupedNumber(static_cast<std::int64_t>(MaxPoints)) + " points";
                    },
                    open);
            if (region.Work > kMaxClipWork && Failed.empty())
                Failed = "drawing too large: its clip paths need more than " +
                         GroupedNumber(static_cast<std::int64_t>(kMaxClipWork)) + " edge tests";
        }
        if (!Failed.empty())
            return;
        const std::size_t base = Pieces[first].Start;
        Points.resize(base);
        Pieces.resize(first);
        for (TPiece p : pieces) {
            p.Start += base;
            Pieces.push_back(p);
        }
        Points.insert(Points.end(), points.begin(), points.end());
    }

    // An outline in fractions of a bounding box, put on the content's box in the clipped
    // element's user space.
    void ToBoundingBox(std::size_t first, TClip& clip)
    {
        bool invertible = false;
        const QTransform back = clip.Space.inverted(&invertible);
        if (!invertible) {
            clip.Rings.clear();
            return;
        }
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (std::size_t i = Pieces[first].Start; i < Points.size(); ++i) {
            const QPointF u = back.map(Points[i]);
            x0 = std::min(x0, u.x()), x1 = std::max(x1, u.x()), y0 = std::min(y0, u.y()), y1 = std::max(y1, u.y());
        }
        for (auto& ring : clip.Rings)
            for (QPointF& p : ring) {
                const QPointF u = back.map(p);
                p = clip.Space.map(QPointF(x0 + u.x() * (x1 - x0), y0 + u.y() * (y1 - y0)));
            }
    }

    // A point on the device, or a failure for one no plotter can reach: checked on every
    // point and control point, before anything is flattened from it.
    QPointF Map(const QTransform& t, const QPointF& p)
    {
        const QPointF d = t.map(p);
        constexpr double most = 4.5e9;  // beyond 32 bits whatever the page's height
        if (!(std::abs(d.x()) <= most && std::abs(d.y()) <= most) && Failed.empty())
            Failed = kSvgOutOfRange;
        return d;
    }

    // A colour that shows on paper: not transparent, and not the paper's own white. A
    // gradient counts by its first stop.
    static bool Paints(const QBrush& b, QRgb& color)
    {
        if (b.style() == Qt::NoBrush)
            return false;
        QColor c = b.color();
        if (const QGradient* g = b.gradient(); g && !g->stops().isEmpty())
            c = g->stops().front().second;
        if (c.alpha() == 0 || (c.rgb() & 0xffffff) == 0xffffff)
            return false;
        color = c.rgb() & 0xffffff;
        return true;
    }

    // The stroke's colour, or the fill's where nothing is stroked; false for what cannot be
    // seen. A stroke of width 0 draws nothing in SVG (Qt would take it for a hairline).
    bool Visible(QRgb& color, bool& stroked) const
    {
        if (state->opacity() <= 0)
            return false;
        const QPen pen = state->pen();
        stroked = pen.style() != Qt::NoPen && pen.widthF() > 0 && Paints(pen.brush(), color);
        return stroked || Paints(state->brush(), color);
    }

    // Qt Svg fills a shape and then strokes it in a second call; the pen must go round once.
    // The fill's outline may carry one more point, closing what the stroke leaves open.
    bool SameOutline(std::size_t fill, std::size_t stroke) const
    {
        if (stroke - fill != Pieces.size() - stroke)
            return false;
        for (std::size_t i = 0; fill + i < stroke; ++i) {
            const TPiece& f = Pieces[fill + i];
            const TPiece& s = Pieces[stroke + i];
            if (f.Count != s.Count && !(f.Count == s.Count + 1 && Points[f.Start] == Points[f.Start + f.Count - 1]))
                return false;
            if (!std::equal(Points.begin() + static_cast<std::ptrdiff_t>(s.Start),
                            Points.begin() + static_cast<std::ptrdiff_t>(s.Start + s.Count),
                            Points.begin() + static_cast<std::ptrdiff_t>(f.Start)))
                return false;
        }
        return true;
    }

    // The stroke's pieces, the last ones, go; the fill's closed outline takes their colour.
    void DropStroke(std::size_t stroke, QRgb color)
    {
        Points.resize(Pieces[stroke].Start);
        Pieces.resize(stroke);
        for (std::size_t i = Filled.Start; i < stroke; ++i)
            Pieces[i].Color = color;
    }

    // The pieces of the last draw when it was a fill alone.
    struct TFilled {
        bool Valid = false;
        std::size_t Start = 0, End = 0;
    } Filled;

    void Open(QRgb color, QPointF p)
    {
        Pieces.push_back({color, Points.size(), 0});
        Points.push_back(p);
        InPiece = true;
    }

    void Close()
    {
        if (!InPiece)
            return;
        InPiece = false;
        TPiece& last = Pieces.back();
        if (Closing && Points.size() - last.Start > 2 && Points.back() != Points[last.Start])
            Points.push_back(Points[last.Start]);
        last.Count = Points.size() - last.Start;
        if (last.Count < 2) {  // a lone move draws nothing
            Points.resize(last.Start);
            Pieces.pop_back();
        }
    }

    void Cubic(QPointF p0, QPointF p1, QPointF p2, QPointF p3) { FlattenCubic(p0, p1, p2, p3, Points); }
};

class TCollectDevice final : public QPaintDevice {
public:
    TCollectDevice(TCollectEngine& engine, int width, int height) : Engine(engine), Width(width), Height(height) {}
    ~TCollectDevice() override = default;
    QPaintEngine* paintEngine() const override { return &Engine; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return Width;
        case PdmHeight: return Height;
        case PdmWidthMM: return Width / 8;
        case PdmHeightMM: return Height / 8;
        case PdmNumColors: return std::numeric_limits<int>::max();
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return 72;  // font sizes in points are then sizes in units
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    TCollectEngine& Engine;
    int Width, Height;
};

// Whether the running Qt Svg places a tspan at its own x and y: probed once, on a text of
// two lines far apart, rather than trusted to a version number.
bool QtPlacesTspans()
{
    static const bool places = [] {
        const QByteArray probe = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100\" height=\"2000\" "
                                 "viewBox=\"0 0 100 2000\"><text font-size=\"20\"><tspan x=\"0\" y=\"20\">I</tspan>"
                                 "<tspan x=\"0\" y=\"1900\">I</tspan></text></svg>";
        QSvgRenderer renderer;
        if (!renderer.load(probe))
            return false;
        TCollectEngine engine;
        engine.MaxPoints = 100000;
        TCollectDevice device(engine, 100, 2000);
        QPainter painter;
        if (!painter.begin(&device))
            return false;
        renderer.render(&painter, QRectF(0, 0, 100, 2000));
        painter.end();
        double lo = 1e9, hi = -1e9;
        for (const QPointF& p : engine.Points) {
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
        return hi - lo > 1000;
    }();
    return places;
}

// A subpath smaller than a unit either way is a dot for the plotter, at its centre.
bool IsSpeck(const std::vector<QPointF>& points, const TPiece& piece, QPointF& centre)
{
    double x0 = points[piece.Start].x(), x1 = x0, y0 = points[piece.Start].y(), y1 = y0;
    for (std::size_t i = piece.Start + 1; i < piece.Start + piece.Count; ++i) {
        x0 = std::min(x0, points[i].x());
        x1 = std::max(x1, points[i].x());
        y0 = std::min(y0, points[i].y());
        y1 = std::max(y1, points[i].y());
    }
    centre = QPointF((x0 + x1) / 2, (y0 + y1) / 2);
    return x1 - x0 < 1 && y1 - y0 < 1;
}

std::int32_t PenFor(std::unordered_map<QRgb, std::int32_t>& pens, std::int32_t& next, QRgb color)
{
    auto [it, added] = pens.try_emplace(color, next);
    if (added && next < 8)
        ++next;
    return it->second;
}

}  // namespace

// Uniform steps whose count bounds the chord error by the curve's second derivative:
// |B''| <= 6 max(|P0 - 2P1 + P2|, |P1 - 2P2 + P3|), and a chord over a parameter step h
// strays at most |B''|max h^2 / 8 from the curve.
void FlattenCubic(QPointF p0, QPointF p1, QPointF p2, QPointF p3, std::vector<QPointF>& out)
{
    const QPointF d1 = p0 - 2 * p1 + p2, d2 = p1 - 2 * p2 + p3;
    const double m = std::max(std::hypot(d1.x(), d1.y()), std::hypot(d2.x(), d2.y()));
    double steps = std::ceil(std::sqrt(0.75 * m / kFlatness));
    if (!std::isfinite(steps) || steps < 1)
        steps = 1;
    const int n = static_cast<int>(std::min(steps, 65536.0));
    for (int k = 1; k < n; ++k) {
        const double t = static_cast<double>(k) / n, u = 1 - t;
        out.push_back(u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3);
    }
    out.push_back(p3);
}

bool SvgLengthToUnits(const QString& text, double& units)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)\\s*(mm|cm|in|pt|pc|px)?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    const double v = m.captured(1).toDouble();
    const QString unit = m.captured(2);
    double scale = kUnitsPerPx;
    if (unit == QLatin1String("mm"))
        scale = 8;
    else if (unit == QLatin1String("cm"))
        scale = 80;
    else if (unit == QLatin1String("in"))
        scale = kUnitsPerInch;
    else if (unit == QLatin1String("pt"))
        scale = kUnitsPerInch / 72;
    else if (unit == QLatin1String("pc"))
        scale = kUnitsPerInch / 6;
    units = v * scale;
    return std::isfinite(units) && units > 0;
}

TFileResult ImportSvgData(THpglSheet& sheet, const QByteArray& raw, const TSvgImportOptions& options)
{
    QByteArray data = raw;
    std::string error;
    if (IsGzip(raw) && !Gunzip(raw, data, error))
        return Failure(error);
    TRoot root;
    if (!ReadRoot(data, root, error))
        return Failure(error);
    // Before Qt Svg builds its tree: that costs memory by the element.
    TSvgScan scan;
    if (std::string reason = ScanSvg(data, options.Limits, scan); !reason.empty())
        return Failure(reason);
    // Qt Svg draws only some copies of copies: they are made before it sees the document.
    if (scan.NestedUses) {
        QByteArray expanded;
        if (!ExpandUses(data, options.Limits, expanded, &scan.NotDrawn, error))
            return Failure(error);
        data = std::move(expanded);
    }
    // Qt Svg runs the lines of a multi-line text into one where it does not place tspans
    // itself, places a nested <svg> wrongly, and draws clipped elements whole.
    TSvgRewrite rewrite;
    rewrite.Limits = options.Limits;
    rewrite.PlaceTspans = !QtPlacesTspans();
    std::vector<TSvgTextRun> runs;
    if (options.StrokeText && scan.Texts > 0)
        rewrite.TextRuns = &runs;
    const bool rewritten = scan.Degenerate > 0 || scan.FlowRoots > 0 || scan.NestedSvgs > 0 || scan.Clipped > 0 ||
                           rewrite.TextRuns || (rewrite.PlaceTspans && scan.PositionedTexts > 0);
    if (rewritten)
        data = RewriteSvg(data, rewrite, &scan.NotDrawn);

    QSvgRenderer renderer;
    if (!renderer.load(data) || !renderer.isValid())
        return Failure(WhyUnreadable(data));

    // The page in plotter units and where the viewBox lands on it. A page of unknown height
    // ends at the lowest point drawn.
    double w = 0, h = 0;
    bool hasW = SvgLengthToUnits(root.Width, w), hasH = SvgLengthToUnits(root.Height, h);
    QRectF box;
    const bool hasBox = ParseViewBox(root.ViewBox, box);
    if (hasBox && hasW != hasH) {
        if (hasW)
            h = w * box.height() / box.width();
        else
            w = h * box.width() / box.height();
        hasW = hasH = true;
    }
    bool knownHeight = true;
    QRectF bounds;
    if (hasW && hasH) {
        if (!hasBox)
            box = QRectF(0, 0, w / kUnitsPerPx, h / kUnitsPerPx);
        bounds = PlaceViewBox(box, w, h, root.Aspect);
    } else {
        if (!hasBox) {
            box = QRectF(0, 0, 1000, 1000);
            knownHeight = false;
        }
        w = box.width() * kUnitsPerPx;
        h = box.height() * kUnitsPerPx;
        bounds = QRectF(0, 0, w, h);
    }
    renderer.setViewBox(box);

    TCollectEngine engine;
    engine.OnProgress = options.OnProgress;
    if (rewrite.TextRuns)
        engine.TextRuns = &runs;
    engine.ClipMarks = rewritten && scan.Clipped > 0;
    engine.MaxPoints = static_cast<std::size_t>(std::max<std::int64_t>(options.Limits.Points, 0));
    {
        const auto side = [](double v) { return static_cast<int>(std::clamp(std::ceil(v), 1.0, 1e9)); };
        TCollectDevice device(engine, side(w), side(h));
        QPainter painter;
        if (!painter.begin(&device))
            return Failure("cannot draw the document");
        renderer.render(&painter, bounds);
        painter.end();
    }
    if (!engine.Failed.empty())
        return Failure(engine.Failed);
    if (engine.Boxes > 0)
        scan.NotDrawn["characters without a stroke glyph (boxes)"] += engine.Boxes;

    if (!knownHeight) {
        h = 0;
        for (const QPointF& p : engine.Points)
            h = std::max(h, p.y());
    }
    constexpr double lo = std::numeric_limits<std::int32_t>::min(), hi = std::numeric_limits<std::int32_t>::max();
    std::vector<std::int32_t> xy;
    xy.reserve(engine.Points.size() * 2);
    for (const QPointF& p : engine.Points) {
        const double x = std::round(p.x()), y = std::round(h - p.y());
        if (!(x >= lo && x <= hi && y >= lo && y <= hi))
            return Failure(kSvgOutOfRange);
        xy.push_back(static_cast<std::int32_t>(x));
        xy.push_back(static_cast<std::int32_t>(y));
    }

    // Black is pen 1 wherever it appears; other colours take pens in order of first use.
    std::unordered_map<QRgb, std::int32_t> pens;
    std::int32_t next = 1;
    for (const TPiece& p : engine.Pieces)
        if (p.Color == 0) {
            pens[0] = next++;
            break;
        }
    sheet.Add(hkPA);
    std::int32_t pen = -1;
    for (const TPiece& p : engine.Pieces) {
        const std::int32_t sp = PenFor(pens, next, p.Color);
        if (sp != pen)
            sheet.Add(hkSP, pen = sp);
        const std::int32_t* v = &xy[2 * p.Start];
        if (QPointF c; IsSpeck(engine.Points, p, c)) {
            const auto x = static_cast<std::int32_t>(std::round(c.x())),
                       y = static_cast<std::int32_t>(std::round(h - c.y()));
            sheet.Add(hkPU, x, y);
            sheet.Add(hkPD, x, y);
            continue;
        }
        sheet.Add(hkPU, v[0], v[1]);
        std::int32_t lx = v[0], ly = v[1];
        bool drawn = false;
        for (std::size_t i = 1; i < p.Count; ++i) {
            const std::int32_t x = v[2 * i], y = v[2 * i + 1];
            if (x == lx && y == ly)
                continue;
            sheet.Add(hkPD, lx = x, ly = y);
            drawn = true;
        }
        if (!drawn)  // shorter than a unit: a dot
            sheet.Add(hkPD, lx, ly);
    }
    sheet.CalcExtents();
    if (options.Report)
        options.Report->NotDrawn = scan.NotDrawn;
    return {};
}

TFileResult ImportSvg(THpglSheet& sheet, const std::string& fileName, const TSvgImportOptions& options)
{
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f)
        return TFileResult::FromErrno(errno);
    QByteArray data;
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, static_cast<qsizetype>(n));
    const int readError = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (readError != 0)
        return TFileResult::FromErrno(readError);
    return ImportSvgData(sheet, data, options);
}
