#pragma once
// The plotting device's command interpreter, as the simulator runs it: the dialect the
// program sends (SD, BP, IN, PU, PD, PA, PR, CI, ER; numbers separated by a blank or a comma;
// commands following each other with no terminator). It tracks the pen, records what it
// draws and counts what it does not understand.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "plot/estimate.h"

class TCanvas;

struct TSimLine {
    std::int32_t X1, Y1, X2, Y2;
};
struct TSimCircle {
    std::int32_t X, Y;
    std::int64_t R;
};
struct TSimRect {
    std::int32_t X, Y, W, H;
};

class TOstrelInterpreter {
public:
    // Takes bytes as they arrive; a command split across calls is fine.
    void Feed(std::string_view bytes);
    // The end of input: a command still being read is carried out.
    void Finish();

    std::vector<TSimLine> Lines;
    std::vector<TSimCircle> Circles;
    std::vector<TSimRect> Rects;

    std::uint64_t Bytes = 0;
    std::uint64_t Commands = 0;
    std::uint64_t Unknown = 0;
    std::map<std::string, std::uint64_t> UnknownNames;
    std::uint64_t Beeps = 0;
    double PenDownLength = 0;  // plotter units
    double PenUpLength = 0;
    // Times what the device does at the speeds sent, with the line's rate and the input
    // buffer as the simulator plays them (the program's own estimator).
    TOstrelClock Clock;
    std::int32_t Speed = 20;  // the last SD value (negative: constant speed)
    std::int32_t X = 0, Y = 0;
    bool Down = false;
    bool Relative = false;

    // What was drawn, mapped onto a surface as the program's view maps the frame.
    void DrawOn(TCanvas& canvas, std::int32_t width, std::int32_t height) const;
    // The drawing as SVG in plotter units (y up), over the 1520 x 2160 frame.
    std::string Svg() const;

private:
    void Char(char c);
    void EndNumber();
    void Execute();
    void MoveTo(std::int64_t x, std::int64_t y);
    void Unrecognised(const std::string& what);

    enum class TState { Idle, Mnemonic, Params } State = TState::Idle;
    char M[2] = {0, 0};
    std::vector<std::int64_t> Nums;
    bool InNumber = false;
    std::uint64_t Pending = 0;  // bytes of the command being read
    bool Negative = false;
    std::int64_t Value = 0;
};
