#include "interp.h"

#include <cmath>
#include <cstdio>

#include "sheet/canvas.h"
#include "sheet/frame.h"

namespace {

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c)
{
    return c == ' ' || c == ',' || c == '\r' || c == '\n' || c == '\t';
}

std::int32_t Clamp32(std::int64_t v)
{
    return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v);
}

}  // namespace

void TOstrelInterpreter::Feed(std::string_view bytes)
{
    Bytes += bytes.size();
    for (char c : bytes) {
        ++Pending;
        Char(c);
    }
}

void TOstrelInterpreter::Finish()
{
    if (State == TState::Params) {
        EndNumber();
        Execute();
    } else if (State == TState::Mnemonic) {
        Unrecognised(std::string(1, M[0]));
    }
    State = TState::Idle;
    Clock.Bytes(Pending);
    Pending = 0;
}

void TOstrelInterpreter::Unrecognised(const std::string& what)
{
    ++Unknown;
    ++UnknownNames[what];
}

void TOstrelInterpreter::Char(char c)
{
    switch (State) {
    case TState::Idle:
        if (IsLetter(c)) {
            M[0] = static_cast<char>(c & ~0x20);
            State = TState::Mnemonic;
        } else if (!IsSeparator(c) && c != ';') {
            Unrecognised(c >= 32 && c < 127 ? std::string("stray '") + c + "'" : "stray byte");
        }
        return;
    case TState::Mnemonic:
        if (IsLetter(c)) {
            M[1] = static_cast<char>(c & ~0x20);
            Nums.clear();
            InNumber = false;
            State = TState::Params;
        } else {
            Unrecognised(std::string(1, M[0]));
            State = TState::Idle;
            Char(c);
        }
        return;
    case TState::Params:
        if (c >= '0' && c <= '9') {
            if (!InNumber) {
                InNumber = true;
                Negative = false;
                Value = 0;
            }
            // Numbers of the dialect come from 32-bit values; longer runs saturate.
            if (Value < (std::int64_t{1} << 40))
                Value = Value * 10 + (c - '0');
        } else if (c == '-' && !InNumber) {
            InNumber = true;
            Negative = true;
            Value = 0;
        } else if (IsSeparator(c)) {
            EndNumber();
        } else if (IsLetter(c)) {
            EndNumber();
            Execute();
            M[0] = static_cast<char>(c & ~0x20);
            State = TState::Mnemonic;
        } else if (c == ';') {
            EndNumber();
            Execute();
            State = TState::Idle;
        } else {
            EndNumber();
            Execute();
            State = TState::Idle;
            Char(c);
        }
        return;
    }
}

void TOstrelInterpreter::EndNumber()
{
    if (!InNumber)
        return;
    Nums.push_back(Negative ? -Value : Value);
    InNumber = false;
}

void TOstrelInterpreter::MoveTo(std::int64_t x, std::int64_t y)
{
    const std::int32_t nx = Clamp32(x), ny = Clamp32(y);
    const double length = std::hypot(static_cast<double>(nx) - X, static_cast<double>(ny) - Y);
    Clock.Move(length, Down);
    if (Down) {
        PenDownLength += length;
        Lines.push_back({X, Y, nx, ny});
    } else {
        PenUpLength += length;
    }
    X = nx;
    Y = ny;
}

void TOstrelInterpreter::Execute()
{
    ++Commands;
    // The bytes since the last command go with this one.
    Clock.Boundary();
    Clock.Bytes(Pending);
    Pending = 0;
    const std::string m{M[0], M[1]};
    const std::size_t n = Nums.size();
    auto pairs = [&] {
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            if (Relative)
                MoveTo(std::int64_t{X} + Nums[i], std::int64_t{Y} + Nums[i + 1]);
            else
                MoveTo(Nums[i], Nums[i + 1]);
        }
        if (n % 2)
            Unrecognised(m + " with an odd count of numbers");
    };
    if (m == "SD") {
        if (n >= 1)
            Clock.Speed = Speed = Clamp32(Nums[0]);
    } else if (m == "BP") {
        ++Beeps;
    } else if (m == "IN") {
        Down = false;
        Relative = false;
    } else if (m == "PU" || m == "PD") {
        Down = m == "PD";
        pairs();
    } else if (m == "PA" || m == "PR") {
        Relative = m == "PR";
        pairs();
    } else if (m == "CI") {
        if (n >= 1) {
            Circles.push_back({X, Y, std::llabs(Nums[0])});
            Clock.Circle(static_cast<double>(Circles.back().R));
        } else
            Unrecognised("CI without a radius");
    } else if (m == "ER") {
        if (n >= 2) {
            Rects.push_back({X, Y, Clamp32(Nums[0]), Clamp32(Nums[1])});
            Clock.Rectangle(Rects.back().W, Rects.back().H);
        } else
            Unrecognised("ER without its size");
    } else {
        --Commands;
        Unrecognised(m);
    }
}

void TOstrelInterpreter::DrawOn(TCanvas& canvas, std::int32_t width, std::int32_t height) const
{
    const TFrameMap m{width, height};
    canvas.SetPenColor(clBlack);
    for (const auto& l : Lines) {
        canvas.MoveTo(m.X(l.X1), m.Y(l.Y1));
        canvas.LineTo(m.X(l.X2), m.Y(l.Y2));
    }
    const TBrushStyle saved = canvas.BrushStyle();
    canvas.SetBrushStyle(TBrushStyle::Clear);
    for (const auto& c : Circles)
        canvas.Ellipse(m.X(Clamp32(c.X - c.R)), m.Y(Clamp32(c.Y - c.R)), m.X(Clamp32(c.X + c.R)),
                       m.Y(Clamp32(c.Y + c.R)));
    canvas.SetBrushStyle(saved);
    for (const auto& r : Rects) {
        const std::int64_t x2 = std::int64_t{r.X} + r.W, y2 = std::int64_t{r.Y} + r.H;
        canvas.MoveTo(m.X(r.X), m.Y(r.Y));
        canvas.LineTo(m.X(x2), m.Y(r.Y));
        canvas.LineTo(m.X(x2), m.Y(y2));
        canvas.LineTo(m.X(r.X), m.Y(y2));
        canvas.LineTo(m.X(r.X), m.Y(r.Y));
    }
}

std::string TOstrelInterpreter::Svg() const
{
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"190mm\" height=\"270mm\" viewBox=\"0 0 1520 2160\">\n"
        "<rect x=\"0\" y=\"0\" width=\"1520\" height=\"2160\" fill=\"white\" stroke=\"black\"/>\n"
        "<g transform=\"matrix(1 0 0 -1 0 2160)\" fill=\"none\" stroke=\"black\" stroke-width=\"1\">\n";
    char buf[160];
    for (const auto& l : Lines) {
        std::snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", l.X1, l.Y1, l.X2, l.Y2);
        s += buf;
    }
    for (const auto& c : Circles) {
        std::snprintf(buf, sizeof buf, "<circle cx=\"%d\" cy=\"%d\" r=\"%lld\"/>\n", c.X, c.Y,
                      static_cast<long long>(c.R));
        s += buf;
    }
    for (const auto& r : Rects) {
        std::snprintf(buf, sizeof buf, "<path d=\"M%d %d h%d v%d h%d z\"/>\n", r.X, r.Y, r.W, r.H, -r.W);
        s += buf;
    }
    s += "</g>\n</svg>\n";
    return s;
}
