// grafonel-cli: the window's sheet work without a window, for scripts and batch use.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli.h"
#include "plot/plotorder.h"
#include "sheet/frame.h"
#include "sheet/hpglsheet.h"
#include "import/drawing.h"

namespace cli {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "grafonel-cli: %s\n", message.c_str());
    return 1;
}

int Usage(const std::string& message)
{
    Fail(message);
    return 2;
}

bool ParseInt(const std::string& text, long long lo, long long hi, std::int64_t& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParsePair(const std::string& text, std::int32_t& a, std::int32_t& b)
{
    auto comma = text.find(',');
    std::int64_t x, y;
    if (comma == std::string::npos || !ParseInt(text.substr(0, comma), INT_MIN, INT_MAX, x) ||
        !ParseInt(text.substr(comma + 1), INT_MIN, INT_MAX, y))
        return false;
    a = static_cast<std::int32_t>(x);
    b = static_cast<std::int32_t>(y);
    return true;
}

int LoadSheet(THpglSheet& sheet, const std::string& file, TPlotReading reading, TTranslateReport* report)
{
    const bool svg = IsSvgDrawing(file);
    // Refused before any hand-off, so the Qt build is never started for it.
    if (svg && reading == TPlotReading::Plain)
        return Usage("--plain reads plot files only; '" + file + "' is an SVG drawing");
#ifdef GRAFONEL_WITH_QT
    if (svg)
        EnsureGuiApp();
    TFileResult r = LoadDrawing(sheet, file, reading, report, SvgTextStrokes ? TSvgText::Strokes : TSvgText::Outlines);
#else
#ifdef GRAFONEL_QT_HANDOFF
    if (svg)
        return Fail("cannot read '" + file + "': " + RunQtBuild());
#endif
    TFileResult r = LoadPlotFile(sheet, file, reading, report);
#endif
    if (!r.Ok())
        return Fail("cannot read '" + file + "': " + r.Reason);
    return 0;
}

bool SvgTextStrokes = false;

bool TakeSvgTextOption(std::vector<std::string>& args, std::string& error)
{
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] != "--svg-text") {
            ++i;
            continue;
        }
        if (i + 1 >= args.size() || (args[i + 1] != "stroke" && args[i + 1] != "outline")) {
            error = "--svg-text takes 'stroke' or 'outline'";
            return false;
        }
        SvgTextStrokes = args[i + 1] == "stroke";
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    return true;
}

std::string PlainHelp(std::size_t column)
{
    std::string plain = "  --plain", text = "  --svg-text MODE";
    plain.resize(column, ' ');
    text.resize(column, ' ');
    const std::string indent(column, ' ');
    return plain + "read a plot file with the plain reader: PA, PR, PU, PD, CI, ER, SP and AA\n" + indent +
           "as they are, everything else stepped over (not for SVG drawings)\n" + text +
           "an SVG drawing's text: 'outline' (the default) draws the outlines of its\n" + indent +
           "glyphs, 'stroke' lays it in the single-stroke face nearest its font family\n";
}

}  // namespace cli

using namespace cli;

namespace {

int CmdInfo(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    TPlotReading reading = TPlotReading::Translate;
    for (const auto& a : args) {
        if (a == "--plain")
            reading = TPlotReading::Plain;
        else if (a.size() > 1 && a[0] == '-')
            return Usage("info: unknown option '" + a + "'");
        else
            files.push_back(a);
    }
    if (files.size() != 1)
        return Usage("info takes one file; see 'grafonel-cli info --help'");
    THpglSheet sheet;
    TTranslateReport report;
    if (const int status = LoadSheet(sheet, files[0], reading, &report))
        return status;
    std::printf("Objects: %d\n", sheet.Count());
    std::printf("HPGL size: min=%d,%d max=%d,%d\n", sheet.XMin, sheet.YMin, sheet.XMax, sheet.YMax);
    if (report.Translated)
        std::printf("Translated: %s\n", report.Details().c_str());
    if (!report.NotDrawn.empty())
        std::printf("Not drawn: %s\n", report.NotDrawnText().c_str());
    return 0;
}

int CmdConvert(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    TPlotReading reading = TPlotReading::Translate;
    // Each transform is kept with its name so a refusal can say which one it was.
    std::vector<std::pair<std::string, std::function<bool(THpglSheet&)>>> steps;
    std::string refusal = "a coordinate would leave the 32-bit range";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        std::string v;
        std::int32_t p, q;
        if (a == "--unit-7475")
            steps.emplace_back(a, [](THpglSheet& s) { return s.Scale(40, 8); });
        else if (a == "--zoom-in")
            steps.emplace_back(a, [](THpglSheet& s) { return s.Scale(7, 8); });
        else if (a == "--zoom-out")
            steps.emplace_back(a, [](THpglSheet& s) { return s.Scale(8, 7); });
        else if (a == "--zoom-auto")
            steps.emplace_back(a, [](THpglSheet& s) { return FitToFrame(s); });
        else if (a == "--rotate")
            steps.emplace_back(a, [](THpglSheet& s) { return s.Rotate(); });
        else if (a == "--mirror")
            steps.emplace_back(a, [](THpglSheet& s) { return s.Mirror(); });
        else if (a == "--optimise")
            steps.emplace_back(a, [&refusal](THpglSheet& s) {
                TPlotOrder order = OptimisePlotOrder(s);
                if (!order.Ok) {
                    refusal = order.Reason;
                    return false;
                }
                RefillSheet(s, order.Objects);
                return true;
            });
        else if (a == "--plain")
            reading = TPlotReading::Plain;
        else if (a == "--shift") {
            if (!value(v) || !ParsePair(v, p, q))
                return Usage("--shift takes DX,DY, two integers in the 32-bit range");
            steps.emplace_back(a + " " + v, [p, q](THpglSheet& s) { return s.Shift(p, q); });
        } else if (a == "--scale") {
            if (!value(v) || !ParsePair(v, p, q))
                return Usage("--scale takes A,B, two integers in the 32-bit range (coordinates times B/A)");
            if (p == 0)
                return Usage("--scale " + v + ": the divisor A must not be 0");
            steps.emplace_back(a + " " + v, [p, q](THpglSheet& s) { return s.Scale(p, q); });
        } else if (a.size() > 1 && a[0] == '-')
            return Usage("convert: unknown option '" + a + "'");
        else
            files.push_back(a);
    }
    if (files.size() != 2)
        return Usage("convert takes an input and an output file; see 'grafonel-cli convert --help'");
    THpglSheet sheet;
    if (const int status = LoadSheet(sheet, files[0], reading))
        return status;
    for (auto& [name, step] : steps)
        if (!step(sheet))
            return Fail(name + " refused: " + refusal + "; '" + files[1] + "' was not written");
    TFileResult r = sheet.SaveToFile(files[1]);
    if (!r.Ok())
        return Fail("cannot write '" + files[1] + "': " + r.Reason);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && (std::strcmp(argv[1], "plot") == 0 || std::strcmp(argv[1], "service") == 0))
        cli::InstallRunSignals();
#ifdef GRAFONEL_QT_HANDOFF
    RememberCommandLine(argc, argv);
#endif
    const std::vector<Command> commands = {
        {"info", "info FILE [--plain] [--svg-text MODE]",
         "Loads FILE (a plot file or an SVG drawing) into an empty sheet and prints the window's two status texts,\n"
         "\"Objects: N\" and \"HPGL size: min=X,Y max=X,Y\", each on its own line. When the plot file needed\n"
         "translating (HP-GL/2, scalings, fills, dashed lines, ...), a third line \"Translated: \" says what was\n"
         "translated and which commands were ignored. When the drawing holds what is not drawn (an SVG's markers,\n"
         "images, masks, ...), a line \"Not drawn: \" counts it.\n" +
             PlainHelp(18),
         CmdInfo},
        {"convert", "convert IN OUT [TRANSFORM ...] [--plain] [--svg-text MODE]",
         "Loads IN (a plot file or an SVG drawing) into an empty sheet, applies the transforms in the order given and saves\n"
         "the sheet to OUT as HPGL (one command per line, CR LF). OUT is replaced only when\n"
         "everything succeeded.\n"
         "  --unit-7475     HP7475 units (1/40 mm) to 1/8 mm: coordinates times 8/40\n"
         "  --zoom-in       coordinates times 8/7\n"
         "  --zoom-out      coordinates times 7/8\n"
         "  --zoom-auto     move the drawing to the origin and fit it to the 1520 x 2160 frame\n"
         "  --rotate        a quarter turn counterclockwise within the extents\n"
         "  --mirror        left to right within the extents\n"
         "  --shift DX,DY   move the drawing by DX, DY plotter units\n"
         "  --scale A,B     coordinates times B/A (truncating toward zero)\n"
         "  --optimise      the plot order that lifts and carries the pen least: the same drawing,\n"
         "                  pen by pen, its strokes reordered and reversed where that helps\n"
         "A transform that would take a coordinate out of the 32-bit range is refused.\n" +
             PlainHelp(18),
         CmdConvert},
    };
    auto extra = ExtraCommands();
    std::vector<Command> all = commands;
    all.insert(all.end(), extra.begin(), extra.end());

    auto usage = [&] {
        std::string u = "usage: grafonel-cli COMMAND [ARGS]\n\ncommands:\n";
        for (const auto& c : all)
            u += "  " + c.Synopsis + "\n";
        u += "\n'grafonel-cli COMMAND --help' describes a command and its options.\n";
        return u;
    };
    if (argc < 2)
        return Usage("no command given\n" + usage());
    std::string name = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
#ifdef GRAFONEL_WITH_QT
    struct TGuiAppEnd {
        ~TGuiAppEnd() { ReleaseGuiApp(); }
    } guiAppEnd;
#endif
    // Read the same way by every command that loads a drawing.
    if (std::string error; !TakeSvgTextOption(args, error))
        return Usage(error);
    for (const auto& c : all) {
        if (c.Name != name)
            continue;
        for (const auto& a : args)
            if (a == "--help" || a == "-h") {
                std::printf("usage: grafonel-cli %s\n%s", c.Synopsis.c_str(), c.Help.c_str());
                return 0;
            }
        return c.Run(args);
    }
    return Usage("unknown command '" + name + "'\n" + usage());
}
