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
#include "options.h"
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

}  // namespace cli

using namespace cli;

namespace {

int CmdInfo(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    TPlotReading reading = TPlotReading::Translate;
    if (std::string error; !ParseOptions("info", ReadingOptions(reading), args, files, error))
        return Usage(error);
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

using TSteps = std::vector<std::pair<std::string, std::function<bool(THpglSheet&)>>>;

// The transforms, each kept with its name so that a refusal can say which one it was.
Options ConvertTransforms(TSteps& steps, std::string& refusal)
{
    auto step = [&steps](std::string name, std::string help, std::function<bool(THpglSheet&)> f) {
        return Flag(name, std::move(help), [&steps, name, f] { steps.emplace_back(name, f); });
    };
    auto pair = [&steps](std::string name, std::string value, std::string help, std::string takes,
                         std::function<std::string(std::int32_t, std::int32_t)> refuse,
                         std::function<bool(THpglSheet&, std::int32_t, std::int32_t)> f) {
        return Option{name, std::move(value), std::move(help),
                      [&steps, name, refuse, f](const std::string& v, std::string& error) {
                          std::int32_t p, q;
                          if (!ParsePair(v, p, q))
                              return false;
                          error = refuse(p, q);
                          if (!error.empty()) {
                              error = name + " " + v + ": " + error;
                              return false;
                          }
                          steps.emplace_back(name + " " + v, [f, p, q](THpglSheet& s) { return f(s, p, q); });
                          return true;
                      },
                      std::move(takes)};
    };
    auto none = [](std::int32_t, std::int32_t) { return std::string(); };
    return {
        step("--unit-7475", "HP7475 units (1/40 mm) to 1/8 mm: coordinates times 8/40",
             [](THpglSheet& s) { return s.Scale(40, 8); }),
        step("--zoom-in", "coordinates times 8/7", [](THpglSheet& s) { return s.Scale(7, 8); }),
        step("--zoom-out", "coordinates times 7/8", [](THpglSheet& s) { return s.Scale(8, 7); }),
        step("--zoom-auto", "move the drawing to the origin and fit it to the 1520 x 2160 frame",
             [](THpglSheet& s) { return FitToFrame(s); }),
        step("--rotate", "a quarter turn counterclockwise within the extents",
             [](THpglSheet& s) { return s.Rotate(); }),
        step("--mirror", "left to right within the extents", [](THpglSheet& s) { return s.Mirror(); }),
        pair("--shift", "DX,DY", "move the drawing by DX, DY plotter units", "DX,DY, two integers in the 32-bit range",
             none, [](THpglSheet& s, std::int32_t p, std::int32_t q) { return s.Shift(p, q); }),
        pair(
            "--scale", "A,B", "coordinates times B/A (truncating toward zero)",
            "A,B, two integers in the 32-bit range (coordinates times B/A)",
            [](std::int32_t p, std::int32_t) {
                return p == 0 ? std::string("the divisor A must not be 0") : std::string();
            },
            [](THpglSheet& s, std::int32_t p, std::int32_t q) { return s.Scale(p, q); }),
        step("--optimise",
             "the plot order that lifts and carries the pen least: the same drawing,\n"
             "pen by pen, its strokes reordered and reversed where that helps",
             [&refusal](THpglSheet& s) {
                 TPlotOrder order = OptimisePlotOrder(s);
                 if (!order.Ok) {
                     refusal = order.Reason;
                     return false;
                 }
                 RefillSheet(s, order.Objects);
                 return true;
             }),
    };
}

int CmdConvert(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    TPlotReading reading = TPlotReading::Translate;
    TSteps steps;
    std::string refusal = "a coordinate would leave the 32-bit range";
    Options table = ConvertTransforms(steps, refusal);
    for (Option& o : ReadingOptions(reading))
        table.push_back(std::move(o));
    if (std::string error; !ParseOptions("convert", table, args, files, error))
        return Usage(error);
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
    TPlotReading unusedReading;
    TSteps unusedSteps;
    std::string unusedRefusal;
    const std::vector<Command> commands = {
        {"info", Synopsis("info FILE", ReadingOptions(unusedReading)),
         "Loads FILE (a plot file or an SVG drawing) into an empty sheet and prints the window's two status texts,\n"
         "\"Objects: N\" and \"HPGL size: min=X,Y max=X,Y\", each on its own line. When the plot file needed\n"
         "translating (HP-GL/2, scalings, fills, dashed lines, ...), a third line \"Translated: \" says what was\n"
         "translated and which commands were ignored. When the drawing holds what is not drawn (an SVG's markers,\n"
         "images, masks, ...), a line \"Not drawn: \" counts it.\n" +
             OptionsHelp(ReadingOptions(unusedReading), 18),
         CmdInfo},
        {"convert", Synopsis("convert IN OUT [TRANSFORM ...]", ReadingOptions(unusedReading)),
         "Loads IN (a plot file or an SVG drawing) into an empty sheet, applies the transforms in the order given and saves\n"
         "the sheet to OUT as HPGL (one command per line, CR LF). OUT is replaced only when\n"
         "everything succeeded.\n" +
             OptionsHelp(ConvertTransforms(unusedSteps, unusedRefusal), 18) +
             "A transform that would take a coordinate out of the 32-bit range is refused.\n" +
             OptionsHelp(ReadingOptions(unusedReading), 18),
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
