#include "cli.h"

namespace cli {

Command RenderCommand(std::function<int(const std::vector<std::string>&)> run)
{
    return {"render", "render IN OUT.png|OUT.pdf|OUT.svg [--size WxH] [--travel] [--plain] [--svg-text MODE]",
            "Draws IN as the window's view does: a white image of W x H pixels (default\n"
            "760x1080) with a black frame, the 1520 x 2160 frame mapped onto it, written as\n"
            "PNG. With a .pdf name, one A4 page with the frame stretched over its printable\n"
            "area, as printing does. With a .svg name, a 190 x 270 mm drawing with the view\n"
            "box 0 0 1520 2160: every pen-down line, circle and arc in the view's colours.\n"
            "With --travel, a PNG also shows the pen-up moves as pale lines beneath the drawing,\n"
            "as Edit > Show pen-up travel does.\n"
            "OUT is replaced only when it was written whole.\n" +
                PlainHelp(18),
            std::move(run)};
}

}  // namespace cli
