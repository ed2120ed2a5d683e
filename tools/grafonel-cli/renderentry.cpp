#include "cli.h"

namespace cli {

namespace {

bool ParseSize(const std::string& text, int& w, int& h)
{
    auto x = text.find('x');
    std::int64_t a, b;
    if (x == std::string::npos || !ParseInt(text.substr(0, x), 3, 16384, a) ||
        !ParseInt(text.substr(x + 1), 3, 16384, b))
        return false;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

}  // namespace

Options RenderOptions(TRenderArgs& a)
{
    Options table = {
        {"--size", "WxH", "the image's size in pixels (default 760x1080)",
         [&a](const std::string& v, std::string&) { return ParseSize(v, a.Width, a.Height); },
         "WxH, each from 3 to 16384 pixels"},
        Flag("--travel", "a PNG also shows the pen-up moves", [&a] { a.Travel = true; }),
    };
    for (Option& o : ReadingOptions(a.Reading))
        table.push_back(std::move(o));
    return table;
}

Command RenderCommand(std::function<int(const std::vector<std::string>&)> run)
{
    TRenderArgs unused;
    return {"render", Synopsis("render IN OUT.png|OUT.pdf|OUT.svg", RenderOptions(unused)),
            "Draws IN as the window's view does: a white image of W x H pixels (default\n"
            "760x1080) with a black frame, the 1520 x 2160 frame mapped onto it, written as\n"
            "PNG. With a .pdf name, one A4 page with the frame stretched over its printable\n"
            "area, as printing does. With a .svg name, a 190 x 270 mm drawing with the view\n"
            "box 0 0 1520 2160: every pen-down line, circle and arc in the view's colours.\n"
            "With --travel, a PNG also shows the pen-up moves as pale lines beneath the drawing,\n"
            "as Edit > Show pen-up travel does.\n"
            "OUT is replaced only when it was written whole.\n" +
                OptionsHelp(RenderOptions(unused), 18),
            std::move(run)};
}

}  // namespace cli
