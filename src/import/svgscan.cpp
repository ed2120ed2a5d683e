#include "import/svgscan.h"

#include <QStringView>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>

#include <array>
#include <cmath>
#include <cstdlib>
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

// Calls f with each number of a list, path data or transform, as written. Only numbers with
// an exponent or many digits are converted: the rest are plainly small.
template <class F>
bool EachNumber(QStringView text, F&& f)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        const bool sign = c == QLatin1Char('+') || c == QLatin1Char('-');
        if (!IsDigit(c) && c != QLatin1Char('.') && !sign) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        if (sign)
            ++i;
        qsizetype digits = 0;
        while (i < n && IsDigit(text[i]))
            ++i, ++digits;
        if (i < n && text[i] == QLatin1Char('.')) {
            ++i;
            while (i < n && IsDigit(text[i]))
                ++i, ++digits;
        }
        if (digits == 0) {
            i = start + 1;
            continue;
        }
        bool exponent = false;
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
        double v = 0;
        if (exponent || digits > 24) {
            const std::string token = text.mid(start, i - start).toString().toStdString();
            v = std::strtod(token.c_str(), nullptr);
        } else {
            v = text.mid(start, i - start).toDouble();
        }
        if (!f(v))
            return false;
    }
    return true;
}

bool InRange(QStringView text)
{
    return EachNumber(text, [](double v) { return std::isfinite(v) && std::abs(v) <= kMaxNumber; });
}

// Attributes that place or size what is drawn.
bool IsGeometry(QStringView name)
{
    static const std::array<const char*, 18> names{"d",  "points", "x",  "y",  "x1",    "y1",     "x2",
                                                   "y2", "cx",     "cy", "r",  "rx",    "ry",     "width",
                                                   "height", "viewBox", "dx", "dy"};
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
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && skipDepth > 0) {
            --skipDepth;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (skipDepth > 0) {
            ++skipDepth;
            continue;
        }
        if (++scan.Elements > limits.Elements)
            return "drawing too large: more than " + GroupedNumber(limits.Elements) + " elements";
        const QXmlStreamAttributes a = xml.attributes();
        const QStringView name = xml.name();
        if (const QStringView t = a.value(QLatin1String("transform")); !t.isEmpty() && IsDegenerateTransform(t.toString())) {
            ++scan.Degenerate;
            ++scan.NotDrawn["shapes under a degenerate transform"];
            skipDepth = 1;
            continue;
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
            ++scan.NotDrawn["clip paths (drawn unclipped)"];
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
    return {};
}

QByteArray DropDegenerate(const QByteArray& document)
{
    QByteArray out;
    out.reserve(document.size());
    QXmlStreamReader xml(document);
    QXmlStreamWriter writer(&out);
    int skipDepth = 0;
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
        if (xml.isStartElement()) {
            const QStringView t = xml.attributes().value(QLatin1String("transform"));
            if (!t.isEmpty() && IsDegenerateTransform(t.toString())) {
                skipDepth = 1;
                continue;
            }
        }
        writer.writeCurrentToken(xml);
    }
    return out;
}
