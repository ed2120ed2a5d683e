#include "import/svgscan.h"

#include <QStringView>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace {

// Beyond this no coordinate, however scaled, comes back into a plotter's 32-bit range; Qt
// Svg's own number reading gives up somewhere above it and draws whatever it read instead.
constexpr double kMaxNumber = 1e30;

bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The next number of a list, path data or transform at or after i, as written: its text
// [start, i) with i left past it, its digits and whether it has an exponent. False at the end.
bool NextNumber(QStringView text, qsizetype& i, qsizetype& start, qsizetype& digits, bool& exponent)
{
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text[i];
        const bool sign = c == QLatin1Char('+') || c == QLatin1Char('-');
        if (!IsDigit(c) && c != QLatin1Char('.') && !sign) {
            ++i;
            continue;
        }
        start = i;
        if (sign)
            ++i;
        digits = 0;
        while (i < n && IsDigit(text[i]))
            ++i, ++digits;
        if (i < n && text[i] == QLatin1Char('.')) {  // one point: "1.5.9" is 1.5 and .9
            ++i;
            while (i < n && IsDigit(text[i]))
                ++i, ++digits;
        }
        if (digits == 0) {
            i = start + 1;
            continue;
        }
        exponent = false;
        if (i + 1 < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
            qsizetype j = i + 1;
            if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
                ++j;
            if (j < n && IsDigit(text[j])) {
                while (j < n && IsDigit(text[j]))
                    ++j;
                i = j;
                exponent = true;
            }
        }
        return true;
    }
    return false;
}

// A number's value whatever the locale; beyond a double's range, infinite (or 0 below it).
double NumberValue(QStringView token)
{
    std::string t = token.toString().toStdString();
    if (!t.empty() && t[0] == '+')
        t.erase(0, 1);
    double v = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        const bool tiny = t.find("e-") != std::string::npos || t.find("E-") != std::string::npos;
        v = tiny ? 0.0 : (t[0] == '-' ? -HUGE_VAL : HUGE_VAL);
    }
    return v;
}

// Calls f with each number of a list, path data or transform, as written, while f says go on.
template <class F>
bool EachNumber(QStringView text, F&& f)
{
    qsizetype i = 0, start = 0, digits = 0;
    bool exponent = false;
    while (NextNumber(text, i, start, digits, exponent))
        if (!f(NumberValue(text.mid(start, i - start))))
            return false;
    return true;
}

// Every number of the text within kMaxNumber. Path data is most of a document's bytes, so
// only numbers that may be large are converted: those with an exponent or many digits.
bool InRange(QStringView text)
{
    qsizetype i = 0, start = 0, digits = 0;
    bool exponent = false;
    while (NextNumber(text, i, start, digits, exponent)) {
        if (!exponent && digits <= 24)
            continue;
        const double v = NumberValue(text.mid(start, i - start));
        if (!std::isfinite(v) || std::abs(v) > kMaxNumber)
            return false;
    }
    return true;
}

// Attributes that place or size what is drawn.
bool IsGeometry(QStringView name)
{
    static const std::array<const char*, 18> names{"d",  "points", "x",      "y",       "x1", "y1",
                                                   "x2", "y2",     "cx",     "cy",      "r",  "rx",
                                                   "ry", "width",  "height", "viewBox", "dx", "dy"};
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

// A style property set to a reference, in an attribute of its own or in style="...".
bool Refers(const QXmlStreamAttributes& a, QStringView style, const char* property)
{
    const QLatin1String name(property);
    if (const QStringView v = a.value(name); !v.isEmpty() && v.trimmed() != QLatin1String("none"))
        return true;
    for (qsizetype at = style.indexOf(name); at >= 0; at = style.indexOf(name, at + 1)) {
        const QStringView rest = style.mid(at + name.size()).trimmed();
        if (rest.startsWith(QLatin1Char(':')) && rest.mid(1).trimmed().startsWith(QLatin1String("url(")))
            return true;
    }
    return false;
}

// The id a <use> refers to in this document ("#id"); empty for another document's.
QString UseTarget(const QXmlStreamAttributes& a)
{
    QStringView href = a.value(QLatin1String("href"));
    if (href.isEmpty())
        href = a.value(QLatin1String("http://www.w3.org/1999/xlink"), QLatin1String("href"));
    if (href.isEmpty())
        for (const QXmlStreamAttribute& attribute : a)
            if (attribute.name() == QLatin1String("href"))
                href = attribute.value();
    href = href.trimmed();
    return href.startsWith(QLatin1Char('#')) ? href.mid(1).toString() : QString();
}

}  // namespace

bool IsDegenerateTransform(const QString& transform)
{
    // The matrix [a c e; b d f], composed left to right as the list is written.
    double m[6] = {1, 0, 0, 1, 0, 0};
    const QStringView text(transform);
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i].isSpace() || text[i] == QLatin1Char(',')))
            ++i;
        if (i >= text.size())
            break;
        const qsizetype open = text.indexOf(QLatin1Char('('), i), close = text.indexOf(QLatin1Char(')'), i);
        if (open < 0 || close < open)
            return false;
        const QStringView name = text.mid(i, open - i).trimmed();
        std::vector<double> v;
        EachNumber(text.mid(open + 1, close - open - 1), [&](double x) {
            v.push_back(x);
            return true;
        });
        i = close + 1;
        double t[6] = {1, 0, 0, 1, 0, 0};
        const double pi = 3.14159265358979323846;
        if (name == QLatin1String("matrix") && v.size() == 6) {
            std::copy(v.begin(), v.end(), t);
        } else if (name == QLatin1String("translate") && (v.size() == 1 || v.size() == 2)) {
            t[4] = v[0];
            t[5] = v.size() == 2 ? v[1] : 0;
        } else if (name == QLatin1String("scale") && (v.size() == 1 || v.size() == 2)) {
            t[0] = v[0];
            t[3] = v.size() == 2 ? v[1] : v[0];
        } else if (name == QLatin1String("rotate") && (v.size() == 1 || v.size() == 3)) {
            const double a = v[0] * pi / 180, cx = v.size() == 3 ? v[1] : 0, cy = v.size() == 3 ? v[2] : 0;
            t[0] = std::cos(a);
            t[1] = std::sin(a);
            t[2] = -t[1];
            t[3] = t[0];
            t[4] = cx - t[0] * cx - t[2] * cy;
            t[5] = cy - t[1] * cx - t[3] * cy;
        } else if (name == QLatin1String("skewX") && v.size() == 1) {
            t[2] = std::tan(v[0] * pi / 180);
        } else if (name == QLatin1String("skewY") && v.size() == 1) {
            t[1] = std::tan(v[0] * pi / 180);
        } else {
            return false;
        }
        const double r[6] = {m[0] * t[0] + m[2] * t[1],        m[1] * t[0] + m[3] * t[1],
                             m[0] * t[2] + m[2] * t[3],        m[1] * t[2] + m[3] * t[3],
                             m[0] * t[4] + m[2] * t[5] + m[4], m[1] * t[4] + m[3] * t[5] + m[5]};
        std::copy(r, r + 6, m);
    }
    for (const double x : m)
        if (!std::isfinite(x) || std::abs(x) > kMaxNumber)
            return true;
    const double det = std::abs(m[0] * m[3] - m[1] * m[2]);
    return !std::isfinite(det) || det < 1e-60 || det > 1e60;
}

std::string ScanSvg(const QByteArray& document, const TSvgLimits& limits, TSvgScan& scan)
{
    scan = TSvgScan{};
    QXmlStreamReader xml(document);
    int skipDepth = 0;  // inside an element of a degenerate transform
    int depth = 0;
    int textDepth = 0;  // the depth of the text element we are in; 0 outside texts
    bool textCounted = false;
    // The ids of the open elements, the ids whose element holds a use, and what uses refer to.
    std::vector<std::pair<int, QString>> open;
    std::set<QString> holdUses, used, symbols;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && skipDepth > 0) {
            --skipDepth;
            continue;
        }
        if (xml.isEndElement()) {
            if (!open.empty() && open.back().first == depth)
                open.pop_back();
            if (depth-- == textDepth)
                textDepth = 0;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (skipDepth > 0) {
            ++skipDepth;
            continue;
        }
        ++depth;
        if (++scan.Elements > limits.Elements)
            return "drawing too large: more than " + GroupedNumber(limits.Elements) + " elements";
        // Qt Svg, and the rewrites, go down a nesting level by a call.
        if (depth > limits.Depth)
            return "drawing too deep: more than " + GroupedNumber(limits.Depth) + " nested elements";
        const QXmlStreamAttributes a = xml.attributes();
        const QStringView name = xml.name();
        if (const QStringView t = a.value(QLatin1String("transform"));
            !t.isEmpty() && IsDegenerateTransform(t.toString())) {
            ++scan.Degenerate;
            ++scan.NotDrawn["shapes under a degenerate transform"];
            skipDepth = 1;
            --depth;
            continue;
        }
        if (name == QLatin1String("flowRoot")) {
            ++scan.FlowRoots;
            ++scan.NotDrawn["flowed texts (SVG 1.2)"];
            skipDepth = 1;
            --depth;
            continue;
        }
        if (name == QLatin1String("svg") && depth > 1)
            ++scan.NestedSvgs;
        if (name == QLatin1String("use")) {
            if (const QString target = UseTarget(a); !target.isEmpty())
                used.insert(target);
            // Every open element holds this use; the outer ones were marked with the inner.
            for (auto it = open.rbegin(); it != open.rend() && holdUses.insert(it->second).second; ++it) {
            }
        }
        if (const QStringView id = a.value(QLatin1String("id")); !id.isEmpty()) {
            open.emplace_back(depth, id.toString());
#if QT_VERSION < QT_VERSION_CHECK(6, 7, 0)
            if (name == QLatin1String("symbol"))
                symbols.insert(id.toString());
#endif
        }
        if (name == QLatin1String("text") && textDepth == 0) {
            // SVG 2 wraps such a text in a shape; Qt Svg lays it on one line.
            if (Refers(a, a.value(QLatin1String("style")), "shape-inside"))
                ++scan.NotDrawn["texts flowed into a shape (on one line)"];
            ++scan.Texts;
            textDepth = depth;
            textCounted = false;
        } else if (textDepth > 0 && !textCounted && name == QLatin1String("tspan") &&
                   (a.hasAttribute(QLatin1String("x")) || a.hasAttribute(QLatin1String("y")) ||
                    a.hasAttribute(QLatin1String("dx")) || a.hasAttribute(QLatin1String("dy")))) {
            ++scan.PositionedTexts;
            textCounted = true;
        }
        for (const QXmlStreamAttribute& attribute : a) {
            const QStringView n = attribute.name();
            if (!IsGeometry(n))
                continue;
            const QStringView v = attribute.value();
            if (n == QLatin1String("d") || n == QLatin1String("points")) {
                scan.PathBytes += v.size();
                if (scan.PathBytes > limits.PathBytes)
                    return "drawing too large: more than " + GroupedNumber(limits.PathBytes >> 20) + " MB of path data";
            }
            if (!InRange(v))
                return kSvgOutOfRange;
        }
        const QStringView style = a.value(QLatin1String("style"));
        if (name == QLatin1String("image"))
            ++scan.NotDrawn["images"];
        else if (name == QLatin1String("textPath"))
            ++scan.NotDrawn["texts on a path"];
        else if (name == QLatin1String("font"))
            ++scan.NotDrawn["SVG fonts"];
        if (Refers(a, style, "clip-path"))
            ++scan.Clipped;
#if QT_VERSION < QT_VERSION_CHECK(6, 7, 0)
        // This Qt Svg draws the shape and leaves out what these add to it.
        if (Refers(a, style, "marker-start") || Refers(a, style, "marker-mid") || Refers(a, style, "marker-end") ||
            Refers(a, style, "marker"))
            ++scan.NotDrawn["markers"];
        if (Refers(a, style, "mask"))
            ++scan.NotDrawn["masks"];
        if (Refers(a, style, "filter"))
            ++scan.NotDrawn["filters"];
#endif
    }
    for (const QString& id : used)
        scan.NestedUses = scan.NestedUses || holdUses.count(id) > 0 || symbols.count(id) > 0;
    return {};
}

namespace {

// A buffered element: a text with its tspans, small enough to hold and rearrange.
struct TNode {
    QString Name;  // qualified, as written
    QXmlStreamAttributes Attributes;
    QXmlStreamNamespaceDeclarations Namespaces;
    QString Text;  // a character node when Name is empty
    std::vector<TNode> Children;
};

TNode ReadElement(QXmlStreamReader& xml)
{
    TNode node;
    node.Name = xml.qualifiedName().toString();
    node.Attributes = xml.attributes();
    node.Namespaces = xml.namespaceDeclarations();
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement())
            node.Children.push_back(ReadElement(xml));
        else if (xml.isEndElement())
            break;
        else if (xml.isCharacters())
            node.Children.push_back({QString(), {}, {}, xml.text().toString(), {}});
    }
    return node;
}

// An element's own namespace declarations, written as the attributes they are: the writer
// of a buffered element does not know them.
void WriteNamespaces(QXmlStreamWriter& w, const QXmlStreamNamespaceDeclarations& namespaces)
{
    for (const QXmlStreamNamespaceDeclaration& ns : namespaces)
        w.writeAttribute(ns.prefix().isEmpty() ? QStringLiteral("xmlns")
                                               : QStringLiteral("xmlns:") + ns.prefix().toString(),
                         ns.namespaceUri().toString());
}

// The reader's start tag as it was written: its prefixes and namespace declarations
// literally. Left to itself the writer names namespaces anew (n1, n2...) and, fed its own
// output, declares them twice.
void WriteStartTag(QXmlStreamWriter& w, const QXmlStreamReader& xml, const QXmlStreamAttributes& attributes)
{
    w.writeStartElement(xml.qualifiedName().toString());
    WriteNamespaces(w, xml.namespaceDeclarations());
    for (const QXmlStreamAttribute& a : attributes)
        w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
}

void CopyToken(QXmlStreamWriter& w, const QXmlStreamReader& xml)
{
    if (xml.isStartElement())
        WriteStartTag(w, xml, xml.attributes());
    else
        w.writeCurrentToken(xml);
}

void WriteNode(QXmlStreamWriter& w, const TNode& node)
{
    if (node.Name.isEmpty()) {
        w.writeCharacters(node.Text);
        return;
    }
    w.writeStartElement(node.Name);
    WriteNamespaces(w, node.Namespaces);
    for (const QXmlStreamAttribute& a : node.Attributes)
        w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
    for (const TNode& child : node.Children)
        WriteNode(w, child);
    w.writeEndElement();
}

QXmlStreamAttributes Without(const QXmlStreamAttributes& attributes, std::initializer_list<const char*> names)
{
    QXmlStreamAttributes out;
    for (const QXmlStreamAttribute& a : attributes) {
        bool drop = false;
        for (const char* n : names)
            drop = drop || a.qualifiedName() == QLatin1String(n);
        if (!drop)
            out.append(a);
    }
    return out;
}

// The first number of a length or a list of them; false when there is none.
bool FirstNumber(QStringView text, double& v)
{
    bool found = false;
    EachNumber(text, [&](double x) {
        v = x;
        found = true;
        return false;
    });
    return found;
}

// A font size in user units from a font-size attribute or style property; 0 when not given.
double FontSize(const QXmlStreamAttributes& a)
{
    QStringView size = a.value(QLatin1String("font-size"));
    const QStringView style = a.value(QLatin1String("style"));
    if (const qsizetype at = style.indexOf(QLatin1String("font-size")); at >= 0) {
        QStringView rest = style.mid(at + 9).trimmed();
        if (rest.startsWith(QLatin1Char(':')))
            size = rest.mid(1).trimmed();
    }
    double v = 0;
    if (!FirstNumber(size, v) || v <= 0)
        return 0;
    if (size.contains(QLatin1String("pt")))
        v *= 96.0 / 72;
    return v;
}

// A relative shift, in user units; em and ex by the font size.
double Shift(QStringView text, double fontSize)
{
    double v = 0;
    if (!FirstNumber(text, v))
        return 0;
    if (text.contains(QLatin1String("em")))
        v *= fontSize;
    else if (text.contains(QLatin1String("ex")))
        v *= fontSize / 2;
    return v;
}

QString Number(double v)
{
    return QString::number(v, 'g', 12);
}

// A run of a text from one position on: what precedes the first positioned tspan, and each
// positioned tspan with what follows it.
struct TChunk {
    double X, Y;
    std::vector<const TNode*> Nodes;
};

bool IsPositioned(const TNode& node)
{
    const QXmlStreamAttributes& a = node.Attributes;
    return node.Name == QLatin1String("tspan") &&
           (a.hasAttribute(QLatin1String("x")) || a.hasAttribute(QLatin1String("y")) ||
            a.hasAttribute(QLatin1String("dx")) || a.hasAttribute(QLatin1String("dy")));
}

std::vector<TChunk> Chunks(const TNode& text, double inheritedSize)
{
    const double textSize = FontSize(text.Attributes) > 0 ? FontSize(text.Attributes) : inheritedSize;
    double x = 0, y = 0;
    FirstNumber(text.Attributes.value(QLatin1String("x")), x);
    FirstNumber(text.Attributes.value(QLatin1String("y")), y);
    x += Shift(text.Attributes.value(QLatin1String("dx")), textSize);
    y += Shift(text.Attributes.value(QLatin1String("dy")), textSize);
    std::vector<TChunk> chunks{{x, y, {}}};
    for (const TNode& child : text.Children) {
        const QXmlStreamAttributes& a = child.Attributes;
        if (IsPositioned(child)) {
            const double size = FontSize(a) > 0 ? FontSize(a) : textSize;
            // Without x the line starts where the last one did: the width of what came
            // between is not known before the glyphs are laid.
            FirstNumber(a.value(QLatin1String("x")), x);
            FirstNumber(a.value(QLatin1String("y")), y);
            x += Shift(a.value(QLatin1String("dx")), size);
            y += Shift(a.value(QLatin1String("dy")), size);
            chunks.push_back({x, y, {}});
        }
        chunks.back().Nodes.push_back(&child);
    }
    return chunks;
}

// A text whose tspans carry positions, as one text per position: each line of a multi-line
// text where Qt Svg would run them all into one.
void WriteSplitText(QXmlStreamWriter& w, const TNode& text)
{
    const std::vector<TChunk> chunks = Chunks(text, 16);
    const QXmlStreamAttributes shared = Without(text.Attributes, {"x", "y", "dx", "dy", "id"});
    // One group stands for the text, with its id: a use of it, or a switch, takes every line.
    w.writeStartElement(QStringLiteral("g"));
    if (const QStringView id = text.Attributes.value(QLatin1String("id")); !id.isEmpty())
        w.writeAttribute(QStringLiteral("id"), id.toString());
    for (const TChunk& c : chunks) {
        bool shows = false;
        for (const TNode* n : c.Nodes)
            shows = shows || !n->Name.isEmpty() || !n->Text.trimmed().isEmpty();
        if (!shows)
            continue;
        w.writeStartElement(text.Name);
        WriteNamespaces(w, text.Namespaces);
        for (const QXmlStreamAttribute& a : shared)
            w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
        w.writeAttribute(QStringLiteral("x"), Number(c.X));
        w.writeAttribute(QStringLiteral("y"), Number(c.Y));
        for (const TNode* n : c.Nodes) {
            if (n->Name == QLatin1String("tspan")) {
                TNode plain = *n;
                plain.Attributes = Without(n->Attributes, {"x", "y", "dx", "dy"});
                WriteNode(w, plain);
            } else {
                WriteNode(w, *n);
            }
        }
        w.writeEndElement();
    }
    w.writeEndElement();
}

// The characters of a run, as SVG lays them out of the box: runs of white space as one blank.
QString Characters(const TNode& node)
{
    if (node.Name.isEmpty())
        return node.Text;
    QString text;
    for (const TNode& child : node.Children)
        text += Characters(child);
    return text;
}

// The font a text is laid in, as the elements around it set it.
struct TFontProps {
    QString Family = QStringLiteral("sans-serif");
    double Size = 16;
    bool Bold = false, Italic = false;
    int Anchor = 0;  // start, middle, end
};

TFontProps FontOf(const QXmlStreamAttributes& a, TFontProps font)
{
    auto property = [&](const char* name) {
        QStringView v = a.value(QLatin1String(name));
        const QStringView style = a.value(QLatin1String("style"));
        for (qsizetype at = style.indexOf(QLatin1String(name)); at >= 0;
             at = style.indexOf(QLatin1String(name), at + 1)) {
            const QStringView rest = style.mid(at + qsizetype(std::strlen(name))).trimmed();
            if (rest.startsWith(QLatin1Char(':'))) {
                const qsizetype end = rest.indexOf(QLatin1Char(';'));
                v = rest.mid(1, end < 0 ? -1 : end - 1).trimmed();
            }
        }
        return v.toString().trimmed();
    };
    if (const QString f = property("font-family"); !f.isEmpty())
        font.Family = f;
    if (const double size = FontSize(a); size > 0)
        font.Size = size;
    if (const QString w = property("font-weight"); !w.isEmpty())
        font.Bold = w == QLatin1String("bold") || w == QLatin1String("bolder") || w.toInt() >= 600;
    if (const QString st = property("font-style"); !st.isEmpty())
        font.Italic = st == QLatin1String("italic") || st == QLatin1String("oblique");
    if (const QString an = property("text-anchor"); !an.isEmpty())
        font.Anchor = an == QLatin1String("middle") ? 1 : an == QLatin1String("end") ? 2 : 0;
    return font;
}

// A text for the stroke font: each run a mark the collector lays the run's strokes at, in
// the text's user space and paint; the runs go in a table the marks index.
void WriteTextMarks(QXmlStreamWriter& w, const TNode& text, const TFontProps& inherited, std::vector<TSvgTextRun>& runs)
{
    const TFontProps font = FontOf(text.Attributes, inherited);
    const bool preserve = text.Attributes.value(QLatin1String("xml:space")) == QLatin1String("preserve");
    w.writeStartElement(QStringLiteral("g"));
    for (const QXmlStreamAttribute& a : Without(text.Attributes, {"x", "y", "dx", "dy", "xml:space"}))
        w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
    for (const TChunk& c : Chunks(text, font.Size)) {
        TFontProps own = font;
        QString characters;
        for (const TNode* n : c.Nodes)
            characters += Characters(*n);
        if (!c.Nodes.empty() && IsPositioned(*c.Nodes.front()))
            own = FontOf(c.Nodes.front()->Attributes, font);
        characters.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' '));
        if (!preserve)
            characters = characters.simplified();
        if (characters.trimmed().isEmpty() || static_cast<std::int64_t>(runs.size()) >= kMaxClips)
            continue;
        const int k = static_cast<int>(runs.size());
        runs.push_back({characters.toStdU32String(), c.X, c.Y, own.Size, own.Family.toStdString(), own.Bold, own.Italic,
                        own.Anchor});
        // The fill is the text's own (inherited); a probe after the mark carries its stroke.
        w.writeEmptyElement(QStringLiteral("path"));
        w.writeAttribute(QStringLiteral("d"), QStringLiteral("M0 0 L%1 0").arg(kTextMark));
        w.writeAttribute(QStringLiteral("stroke"),
                         QStringLiteral("rgb(%1,%2,%3)").arg(kTextMarkRed).arg(k / 256).arg(k % 256));
        w.writeAttribute(
            QStringLiteral("style"),
            QStringLiteral("stroke-width:1;stroke-opacity:1;visibility:visible;display:inline;marker:none"));
        w.writeEmptyElement(QStringLiteral("path"));
        w.writeAttribute(QStringLiteral("d"), QStringLiteral("M0 0 L%1 0").arg(kTextProbe));
        w.writeAttribute(QStringLiteral("fill"), QStringLiteral("none"));
    }
    w.writeEndElement();
}

// A length in user units: px or no unit as they are, physical units at 96 px an inch, a
// percentage of the viewport's side.
bool Length(QStringView text, double side, double& v)
{
    if (!FirstNumber(text, v))
        return false;
    const QStringView t = text.trimmed();
    if (t.endsWith(QLatin1Char('%')))
        v = v / 100 * side;
    else if (t.endsWith(QLatin1String("mm")))
        v *= 96 / 25.4;
    else if (t.endsWith(QLatin1String("cm")))
        v *= 96 / 2.54;
    else if (t.endsWith(QLatin1String("in")))
        v *= 96;
    else if (t.endsWith(QLatin1String("pt")))
        v *= 96.0 / 72;
    else if (t.endsWith(QLatin1String("pc")))
        v *= 16;
    return std::isfinite(v);
}

bool ViewBox(QStringView text, double box[4])
{
    int n = 0;
    EachNumber(text, [&](double v) {
        if (n < 4)
            box[n] = v;
        return ++n <= 4;
    });
    return n == 4 && box[2] > 0 && box[3] > 0;
}

// The transform that places a nested <svg>'s content in its parent, as preserveAspectRatio
// asks; its viewport's size for the percentages inside it.
QString NestedTransform(const QXmlStreamAttributes& a, const double parent[2], double viewport[2])
{
    double x = 0, y = 0, w = parent[0], h = parent[1];
    Length(a.value(QLatin1String("x")), parent[0], x);
    Length(a.value(QLatin1String("y")), parent[1], y);
    Length(a.value(QLatin1String("width")), parent[0], w);
    Length(a.value(QLatin1String("height")), parent[1], h);
    viewport[0] = w;
    viewport[1] = h;
    double box[4];
    if (!ViewBox(a.value(QLatin1String("viewBox")), box) || w <= 0 || h <= 0)
        return QStringLiteral("translate(%1 %2)").arg(Number(x), Number(y));
    viewport[0] = box[2];
    viewport[1] = box[3];
    QStringList tokens = a.value(QLatin1String("preserveAspectRatio"))
                             .toString()
                             .simplified()
                             .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!tokens.isEmpty() && tokens.front() == QLatin1String("defer"))
        tokens.pop_front();
    const QString align = tokens.isEmpty() ? QStringLiteral("xMidYMid") : tokens.front();
    double sx = w / box[2], sy = h / box[3], ox = 0, oy = 0;
    if (align != QLatin1String("none")) {
        const bool slice = tokens.size() > 1 && tokens[1] == QLatin1String("slice");
        sx = sy = slice ? std::max(sx, sy) : std::min(sx, sy);
        auto offset = [](QStringView how, double room) {
            return how == QLatin1String("Min") ? 0.0 : how == QLatin1String("Max") ? room : room / 2;
        };
        if (align.size() == 8) {
            ox = offset(QStringView(align).mid(1, 3), w - box[2] * sx);
            oy = offset(QStringView(align).mid(5, 3), h - box[3] * sy);
        }
    }
    return QStringLiteral("translate(%1 %2) scale(%3 %4) translate(%5 %6)")
        .arg(Number(x + ox), Number(y + oy), Number(sx), Number(sy), Number(-box[0]), Number(-box[1]));
}

// The id a clip-path attribute or style property refers to: url(#id); empty otherwise.
QString ClipReference(const QXmlStreamAttributes& a)
{
    QStringView v = a.value(QLatin1String("clip-path"));
    const QStringView style = a.value(QLatin1String("style"));
    if (const qsizetype at = style.indexOf(QLatin1String("clip-path")); at >= 0) {
        const QStringView rest = style.mid(at + 9).trimmed();
        if (rest.startsWith(QLatin1Char(':')))
            v = rest.mid(1);
    }
    v = v.trimmed();
    if (!v.startsWith(QLatin1String("url(")))
        return {};
    const qsizetype close = v.indexOf(QLatin1Char(')'));
    if (close < 0)
        return {};
    QStringView id = v.mid(4, close - 4).trimmed();
    if (id.size() >= 2 && (id.front() == QLatin1Char('\'') || id.front() == QLatin1Char('"')))
        id = id.mid(1, id.size() - 2);
    return id.startsWith(QLatin1Char('#')) ? id.mid(1).toString() : QString();
}

// The attributes without the clip path, in an attribute of its own or in the style.
QXmlStreamAttributes WithoutClip(const QXmlStreamAttributes& a)
{
    QXmlStreamAttributes out;
    for (const QXmlStreamAttribute& attribute : a) {
        if (attribute.qualifiedName() == QLatin1String("clip-path"))
            continue;
        if (attribute.qualifiedName() == QLatin1String("style")) {
            QStringList kept;
            for (const QString& declaration : attribute.value().toString().split(QLatin1Char(';')))
                if (!declaration.trimmed().startsWith(QLatin1String("clip-path")))
                    kept << declaration;
            out.append(QStringLiteral("style"), kept.join(QLatin1Char(';')));
            continue;
        }
        out.append(attribute);
    }
    return out;
}

bool Hidden(const QXmlStreamAttributes& a)
{
    const QString style = a.value(QLatin1String("style")).toString().remove(QLatin1Char(' '));
    return a.value(QLatin1String("display")) == QLatin1String("none") || style.contains(QLatin1String("display:none"));
}

// A clip path's shape as a plain black fill, whatever paint it was given: its outline is
// what matters, not how it would look.
void WriteOutline(QXmlStreamWriter& w, const TNode& node)
{
    if (node.Name.isEmpty() || Hidden(node.Attributes))
        return;
    w.writeStartElement(node.Name);
    WriteNamespaces(w, node.Namespaces);
    for (const QXmlStreamAttribute& a : node.Attributes) {
        const QStringView n = a.qualifiedName();
        if (n == QLatin1String("id") || n == QLatin1String("style") || n == QLatin1String("clip-path") ||
            n == QLatin1String("mask") || n == QLatin1String("filter"))
            continue;
        w.writeAttribute(n.toString(), a.value().toString());
    }
    w.writeAttribute(QStringLiteral("style"),
                     node.Attributes.value(QLatin1String("style")).toString() +
                         QStringLiteral(";fill:#000;fill-opacity:1;stroke:none;opacity:1;visibility:visible"));
    for (const TNode& child : node.Children)
        if (!child.Name.isEmpty())
            WriteOutline(w, child);
        else if (node.Name == QLatin1String("text") || node.Name == QLatin1String("tspan"))
            w.writeCharacters(child.Text);
    w.writeEndElement();
}

// What a copy of a subtree costs: its elements and its path data.
struct TCost {
    std::int64_t Elements = 0, PathBytes = 0;
};

TCost Cost(const TNode& node)
{
    TCost c;
    if (node.Name.isEmpty())
        return c;
    c.Elements = 1;
    c.PathBytes =
        node.Attributes.value(QLatin1String("d")).size() + node.Attributes.value(QLatin1String("points")).size();
    for (const TNode& child : node.Children) {
        const TCost cc = Cost(child);
        c.Elements += cc.Elements;
        c.PathBytes += cc.PathBytes;
    }
    return c;
}

void WriteClipMark(QXmlStreamWriter& w, int k, TClipMark mark)
{
    w.writeEmptyElement(QStringLiteral("path"));
    w.writeAttribute(QStringLiteral("d"), QStringLiteral("M0 0 L%1 0").arg(static_cast<int>(mark)));
    w.writeAttribute(QStringLiteral("fill"), QStringLiteral("none"));
    w.writeAttribute(QStringLiteral("stroke"),
                     QStringLiteral("rgb(%1,%2,%3)").arg(kClipMarkRed).arg(k / 256).arg(k % 256));
    // Nothing inherited may hide a mark: a hidden mark would leave its clip open.
    w.writeAttribute(QStringLiteral("style"),
                     QStringLiteral("stroke-width:1;stroke-opacity:1;opacity:1;visibility:visible;"
                                    "display:inline;stroke-dasharray:none;marker:none"));
}

// Clip k's outline, drawn where the clipped element is, in its user space.
void WriteClipOutline(QXmlStreamWriter& w, int k, const TNode& clip, const QXmlStreamAttributes& clipped)
{
    w.writeStartElement(QStringLiteral("g"));
    if (const QStringView t = clipped.value(QLatin1String("transform")); !t.isEmpty())
        w.writeAttribute(QStringLiteral("transform"), t.toString());
    // One rule for the whole outline: even-odd when the clip path or a shape of it asks.
    auto evenOddIn = [](const TNode& n) {
        const QString style = n.Attributes.value(QLatin1String("style")).toString().remove(QLatin1Char(' '));
        return n.Attributes.value(QLatin1String("clip-rule")) == QLatin1String("evenodd") ||
               style.contains(QLatin1String("clip-rule:evenodd"));
    };
    bool evenOdd = evenOddIn(clip);
    for (const TNode& child : clip.Children)
        evenOdd = evenOdd || evenOddIn(child);
    const bool box = clip.Attributes.value(QLatin1String("clipPathUnits")) == QLatin1String("objectBoundingBox");
    WriteClipMark(w, k,
                  box ? (evenOdd ? TClipMark::OutlineBeginBoxEvenOdd : TClipMark::OutlineBeginBox)
                      : (evenOdd ? TClipMark::OutlineBeginEvenOdd : TClipMark::OutlineBegin));
    w.writeStartElement(QStringLiteral("g"));
    if (const QStringView t = clip.Attributes.value(QLatin1String("transform")); !t.isEmpty())
        w.writeAttribute(QStringLiteral("transform"), t.toString());
    for (const TNode& child : clip.Children)
        WriteOutline(w, child);
    w.writeEndElement();
    WriteClipMark(w, k, TClipMark::OutlineEnd);
    w.writeEndElement();
}

// Elements whose content is drawn only where something refers to it.
bool IsDefinition(QStringView name)
{
    for (const char* n : {"defs", "clipPath", "symbol", "marker", "mask", "pattern"})
        if (name == QLatin1String(n))
            return true;
    return false;
}

// Definitions whose content is no drawing of its own: a clip there cannot be cut.
bool IsShapeDefinition(QStringView name)
{
    return name != QLatin1String("defs") && name != QLatin1String("symbol") && IsDefinition(name);
}

}  // namespace

QByteArray RewriteSvg(const QByteArray& document, const TSvgRewrite& rewrite,
                      std::map<std::string, std::int64_t>* notDrawn)
{
    // The clip paths by id, wherever they are defined: a reference may come before them.
    std::map<QString, TNode> clips;
    if (rewrite.MarkClips) {
        QXmlStreamReader defs(document);
        while (!defs.atEnd()) {
            defs.readNext();
            if (defs.isStartElement() && defs.name() == QLatin1String("clipPath")) {
                const QString id = defs.attributes().value(QLatin1String("id")).toString();
                TNode node = ReadElement(defs);
                if (!id.isEmpty())
                    clips.emplace(id, std::move(node));
            }
        }
    }
    int nextClip = 0;
    TCost outlines;                              // of the clip outlines written so far
    std::vector<std::pair<int, int>> clippedAt;  // (depth, clip) of the elements being clipped
    int definitionDepth = 0;                     // inside a clip path, mask, marker or pattern
    auto unclipped = [&] {
        if (notDrawn)
            ++(*notDrawn)["clip paths (drawn unclipped)"];
    };

    QByteArray out;
    out.reserve(document.size());
    QXmlStreamReader xml(document);
    QXmlStreamWriter writer(&out);
    int skipDepth = 0;
    int depth = 0;
    // The viewports' sizes, root first, for the percentages of nested <svg> elements.
    std::vector<std::array<double, 2>> viewports;
    std::vector<int> viewportDepths;
    // The fonts the open elements set, for texts laid in the stroke font.
    std::vector<TFontProps> fonts{TFontProps{}};
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.hasError())
            break;
        if (skipDepth > 0) {
            if (xml.isStartElement())
                ++skipDepth;
            else if (xml.isEndElement())
                --skipDepth;
            continue;
        }
        if (xml.isEndElement()) {
            if (!viewportDepths.empty() && viewportDepths.back() == depth) {
                viewportDepths.pop_back();
                viewports.pop_back();
            }
            if (definitionDepth == depth)
                definitionDepth = 0;
            if (fonts.size() > 1)
                fonts.pop_back();
            CopyToken(writer, xml);
            if (!clippedAt.empty() && clippedAt.back().first == depth) {
                WriteClipMark(writer, clippedAt.back().second, TClipMark::ContentEnd);
                writer.writeEndElement();  // the group that stands for the clipped element
                clippedAt.pop_back();
            }
            --depth;
            continue;
        }
        if (!xml.isStartElement()) {
            CopyToken(writer, xml);
            continue;
        }
        const QXmlStreamAttributes a = xml.attributes();
        if (const QStringView t = a.value(QLatin1String("transform"));
            rewrite.DropDegenerate && !t.isEmpty() && IsDegenerateTransform(t.toString())) {
            skipDepth = 1;
            continue;
        }
        if (rewrite.DropFlowRoots && xml.name() == QLatin1String("flowRoot")) {
            skipDepth = 1;
            continue;
        }
        ++depth;
        const QStringView name = xml.name();
        if (definitionDepth == 0 && IsShapeDefinition(name))
            definitionDepth = depth;
        if (rewrite.TextRuns)
            fonts.push_back(FontOf(a, fonts.back()));
        // A clipped element: its clip's outline, then the element between marks, unclipped.
        QXmlStreamAttributes attributes = a;
        int clip = -1;
        if (const QString ref = rewrite.MarkClips ? ClipReference(a) : QString(); !ref.isEmpty()) {
            const auto found = clips.find(ref);
            // Each clipped element gets its own copy of the outline: the copies count against
            // the budgets, and beyond them the rest is drawn unclipped.
            const TCost cost = found != clips.end() ? Cost(found->second) : TCost{};
            if (definitionDepth != 0 || depth == 1 || nextClip >= kMaxClips ||
                outlines.Elements + cost.Elements > rewrite.Limits.Elements ||
                outlines.PathBytes + cost.PathBytes > rewrite.Limits.PathBytes) {
                unclipped();
            } else if (found != clips.end()) {
                clip = nextClip++;
                outlines.Elements += cost.Elements;
                outlines.PathBytes += cost.PathBytes;
                // One group stands where the element stood, with its id, so a use of it or a
                // switch over it takes the outline and the marks along.
                writer.writeStartElement(QStringLiteral("g"));
                if (const QStringView id = a.value(QLatin1String("id")); !id.isEmpty())
                    writer.writeAttribute(QStringLiteral("id"), id.toString());
                WriteClipOutline(writer, clip, found->second, a);
                WriteClipMark(writer, clip, TClipMark::ContentBegin);
                attributes = Without(WithoutClip(a), {"id"});
            }
        }
        if (name == QLatin1String("svg") && depth == 1) {
            double box[4], side[2] = {100, 100};
            if (ViewBox(a.value(QLatin1String("viewBox")), box)) {
                side[0] = box[2];
                side[1] = box[3];
            } else {
                Length(a.value(QLatin1String("width")), 100, side[0]);
                Length(a.value(QLatin1String("height")), 100, side[1]);
            }
            viewports.push_back({side[0], side[1]});
            viewportDepths.push_back(depth);
        } else if (name == QLatin1String("svg") && rewrite.PlaceNestedSvgs && !viewports.empty()) {
            double viewport[2];
            const double parent[2] = {viewports.back()[0], viewports.back()[1]};
            const QString transform = NestedTransform(a, parent, viewport);
            writer.writeStartElement(QStringLiteral("g"));
            writer.writeAttribute(QStringLiteral("transform"), transform);
            for (const QXmlStreamAttribute& attribute :
                 Without(attributes,
                         {"x", "y", "width", "height", "viewBox", "preserveAspectRatio", "version", "baseProfile"}))
                if (!attribute.qualifiedName().startsWith(QLatin1String("xmlns")))
                    writer.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
            viewports.push_back({viewport[0], viewport[1]});
            viewportDepths.push_back(depth);
            if (clip >= 0)
                clippedAt.emplace_back(depth, clip);
            continue;
        } else if (name == QLatin1String("text") && rewrite.TextRuns) {
            TNode text = ReadElement(xml);
            text.Attributes = attributes;
            --depth;
            fonts.pop_back();
            WriteTextMarks(writer, text, fonts.back(), *rewrite.TextRuns);
            if (clip >= 0) {
                WriteClipMark(writer, clip, TClipMark::ContentEnd);
                writer.writeEndElement();
            }
            continue;
        } else if (name == QLatin1String("text") && rewrite.PlaceTspans) {
            TNode text = ReadElement(xml);
            text.Attributes = attributes;
            --depth;
            bool positioned = false;
            for (const TNode& child : text.Children)
                positioned = positioned || (child.Name == QLatin1String("tspan") &&
                                            (child.Attributes.hasAttribute(QLatin1String("x")) ||
                                             child.Attributes.hasAttribute(QLatin1String("y")) ||
                                             child.Attributes.hasAttribute(QLatin1String("dx")) ||
                                             child.Attributes.hasAttribute(QLatin1String("dy"))));
            if (positioned)
                WriteSplitText(writer, text);
            else
                WriteNode(writer, text);
            if (clip >= 0) {
                WriteClipMark(writer, clip, TClipMark::ContentEnd);
                writer.writeEndElement();
            }
            continue;
        }
        if (clip >= 0) {
            // The element as it was, less its clip path.
            WriteStartTag(writer, xml, attributes);
            clippedAt.emplace_back(depth, clip);
            continue;
        }
        CopyToken(writer, xml);
    }
    return out;
}

namespace {

// Writes copies for uses, counting what they cost against the limits.
class TUseExpander {
public:
    TUseExpander(const std::map<QString, const TNode*>& targets, const TSvgLimits& limits,
                 std::map<std::string, std::int64_t>* notDrawn, const QByteArray& out, std::int64_t maxBytes)
        : Targets(targets), Limits(limits), NotDrawn(notDrawn), Out(out), MaxBytes(maxBytes)
    {}

    std::string Error;
    std::int64_t Elements = 0, PathBytes = 0;

    bool Count(const TNode& node)
    {
        if (!Error.empty())
            return false;
        if (++Elements > Limits.Elements)
            Error = "drawing too large: more than " + GroupedNumber(Limits.Elements) +
                    " elements with the copies of its uses";
        // Copies carry text and attributes besides path data: the document itself is bounded.
        if (Out.size() > MaxBytes && Error.empty())
            Error = "drawing too large: more than " + GroupedNumber(MaxBytes >> 20) + " MB with the copies of its uses";
        for (const char* n : {"d", "points"})
            PathBytes += node.Attributes.value(QLatin1String(n)).size();
        if (PathBytes > Limits.PathBytes && Error.empty())
            Error = "drawing too large: more than " + GroupedNumber(Limits.PathBytes >> 20) +
                    " MB of path data with the copies of its uses";
        return Error.empty();
    }

    // A use: a group placed where it asks, holding a copy of what it refers to.
    void Use(QXmlStreamWriter& w, const TNode& use)
    {
        const QString id = UseTarget(use.Attributes);
        const auto target = Targets.find(id);
        if (target == Targets.end()) {
            WriteNode(w, use);  // another document's, or nothing: as it was
            return;
        }
        if (std::find(Stack.begin(), Stack.end(), id) != Stack.end()) {
            if (NotDrawn)
                ++(*NotDrawn)["use copies (circular)"];
            return;
        }
        if (!Count(use))
            return;
        double x = 0, y = 0;
        FirstNumber(use.Attributes.value(QLatin1String("x")), x);
        FirstNumber(use.Attributes.value(QLatin1String("y")), y);
        QString transform = use.Attributes.value(QLatin1String("transform")).toString();
        if (x != 0 || y != 0)
            transform += QStringLiteral(" translate(%1 %2)").arg(Number(x), Number(y));
        w.writeStartElement(QStringLiteral("g"));
        if (!transform.trimmed().isEmpty())
            w.writeAttribute(QStringLiteral("transform"), transform.trimmed());
        // What the use sets, the copy inherits.
        for (const QXmlStreamAttribute& a : use.Attributes) {
            const QStringView n = a.qualifiedName();
            if (a.name() != QLatin1String("href") && n != QLatin1String("x") && n != QLatin1String("y") &&
                n != QLatin1String("width") && n != QLatin1String("height") && n != QLatin1String("id") &&
                n != QLatin1String("transform"))
                w.writeAttribute(n.toString(), a.value().toString());
        }
        Stack.push_back(id);
        const TNode& t = *target->second;
        if (t.Name == QLatin1String("symbol")) {
            // A symbol is drawn as a viewport of the use's size.
            QXmlStreamAttributes place;
            for (const char* n : {"viewBox", "preserveAspectRatio"})
                if (t.Attributes.hasAttribute(QLatin1String(n)))
                    place.append(QString::fromLatin1(n), t.Attributes.value(QLatin1String(n)).toString());
            for (const char* n : {"width", "height"})
                if (use.Attributes.hasAttribute(QLatin1String(n)))
                    place.append(QString::fromLatin1(n), use.Attributes.value(QLatin1String(n)).toString());
            w.writeStartElement(QStringLiteral("g"));
            if (place.hasAttribute(QLatin1String("width")) && place.hasAttribute(QLatin1String("height"))) {
                double viewport[2];
                const double parent[2] = {0, 0};
                w.writeAttribute(QStringLiteral("transform"), NestedTransform(place, parent, viewport));
            }
            for (const QXmlStreamAttribute& a :
                 Without(t.Attributes, {"id", "viewBox", "preserveAspectRatio", "x", "y", "width", "height"}))
                w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
            for (const TNode& child : t.Children)
                Copy(w, child);
            w.writeEndElement();
        } else {
            Copy(w, t);
        }
        Stack.pop_back();
        w.writeEndElement();
    }

    // A copy without ids (they would be doubled), its uses expanded in turn.
    void Copy(QXmlStreamWriter& w, const TNode& node)
    {
        if (!Error.empty())
            return;
        if (node.Name.isEmpty()) {
            w.writeCharacters(node.Text);
            return;
        }
        if (node.Name == QLatin1String("use") || node.Name.endsWith(QLatin1String(":use"))) {
            Use(w, node);
            return;
        }
        if (!Count(node))
            return;
        w.writeStartElement(node.Name);
        WriteNamespaces(w, node.Namespaces);
        for (const QXmlStreamAttribute& a : node.Attributes)
            if (a.qualifiedName() != QLatin1String("id"))
                w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
        for (const TNode& child : node.Children)
            Copy(w, child);
        w.writeEndElement();
    }

private:
    const std::map<QString, const TNode*>& Targets;
    const TSvgLimits& Limits;
    std::map<std::string, std::int64_t>* NotDrawn;
    const QByteArray& Out;
    std::int64_t MaxBytes;
    std::vector<QString> Stack;  // the ids being copied: a use of one of them is circular
};

// The elements uses refer to, found in the subtrees read, nested ones included: pointers into
// those subtrees, which are read once.
void Register(const TNode& node, const std::set<QString>& wanted, std::map<QString, const TNode*>& targets)
{
    if (const QString id = node.Attributes.value(QLatin1String("id")).toString(); !id.isEmpty() && wanted.count(id))
        targets.emplace(id, &node);
    for (const TNode& child : node.Children)
        if (!child.Name.isEmpty())
            Register(child, wanted, targets);
}

}  // namespace

bool ExpandUses(const QByteArray& document, const TSvgLimits& limits, QByteArray& out,
                std::map<std::string, std::int64_t>* notDrawn, std::string& error)
{
    std::set<QString> wanted;
    {
        QXmlStreamReader xml(document);
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("use"))
                if (const QString id = UseTarget(xml.attributes()); !id.isEmpty())
                    wanted.insert(id);
    }
    std::deque<TNode> subtrees;  // stays where it is while pointers into it are taken
    std::map<QString, const TNode*> targets;
    {
        QXmlStreamReader xml(document);
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement &&
                wanted.count(xml.attributes().value(QLatin1String("id")).toString()))
                Register(subtrees.emplace_back(ReadElement(xml)), wanted, targets);
    }
    out.clear();
    out.reserve(document.size());
    // As much as the budgets' elements could hold of ordinary markup, and at least the
    // document twice over.
    const std::int64_t maxBytes = std::max<std::int64_t>(2 * document.size(), limits.PathBytes + limits.Elements * 256);
    TUseExpander expander(targets, limits, notDrawn, out, maxBytes);
    QXmlStreamReader xml(document);
    QXmlStreamWriter writer(&out);
    int depth = 0, definitionDepth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.hasError())
            break;
        if (xml.isStartElement()) {
            ++depth;
            if (definitionDepth == 0 && IsDefinition(xml.name()))
                definitionDepth = depth;
            // A use in the drawing itself; within definitions it is copied where referred to.
            if (xml.name() == QLatin1String("use") && definitionDepth == 0) {
                const TNode use = ReadElement(xml);
                --depth;
                expander.Use(writer, use);
                if (!expander.Error.empty()) {
                    error = expander.Error;
                    return false;
                }
                continue;
            }
            if (++expander.Elements > limits.Elements) {
                error = "drawing too large: more than " + GroupedNumber(limits.Elements) +
                        " elements with the copies of its uses";
                return false;
            }
        } else if (xml.isEndElement()) {
            if (definitionDepth == depth)
                definitionDepth = 0;
            --depth;
        }
        CopyToken(writer, xml);
    }
    return true;
}
