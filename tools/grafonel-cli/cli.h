#pragma once
// Shared pieces of grafonel-cli's commands.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "import/plotfile.h"
#include "options.h"

struct TPlotSettings;

namespace cli {

struct Command {
    std::string Name;
    std::string Synopsis;
    std::string Help;
    std::function<int(const std::vector<std::string>&)> Run;
};

// Ctrl-C and SIGTERM for plot and service, installed first thing: until the run starts they
// end the process with the stop status; then the run counts them.
void InstallRunSignals();

// Commands defined in the other source files of the tool (rendering, streaming, plotting).
std::vector<Command> ExtraCommands();

int Fail(const std::string& message);
// A usage error: the message and exit status 2.
int Usage(const std::string& message);
bool ParseInt(const std::string& text, long long lo, long long hi, std::int64_t& out);
bool ParsePair(const std::string& text, std::int32_t& a, std::int32_t& b);
// Loads a plot file, read as asked, or (in the Qt build) an SVG drawing. Returns 0, or the
// exit status after saying why not: 2 when --plain names an SVG drawing, which has no plain
// reading, 1 when the file cannot be read or translated.
int LoadSheet(THpglSheet& sheet, const std::string& file, TPlotReading reading, TTranslateReport* report = nullptr);
// How SVG text is read, for every command: "--svg-text stroke" anywhere on the command line
// (taken out of the command's own arguments before it sees them).
extern bool SvgTextStrokes;
// Takes "--svg-text MODE" out of args; false with the usage error's text when MODE is missing
// or not "stroke" or "outline".
bool TakeSvgTextOption(std::vector<std::string>& args, std::string& error);
// What render's options set.
struct TRenderArgs {
    int Width = 760;
    int Height = 1080;
    bool Travel = false;
    TPlotReading Reading = TPlotReading::Translate;
};
Options RenderOptions(TRenderArgs& a);
// The render command, its texts and the given way of running it.
Command RenderCommand(std::function<int(const std::vector<std::string>&)> run);
#ifdef GRAFONEL_QT_HANDOFF
// Qt's libraries cost every process that loads them megabytes and milliseconds, so this
// build links none: a run that needs Qt (render, an SVG drawing) is carried out by
// grafonel-cli-qt, the same commands built with Qt, on the same command line.
void RememberCommandLine(int argc, char** argv);
// Replaces this process with grafonel-cli-qt; returns only when that failed, with why.
std::string RunQtBuild();
#endif
// The estimate of a run from object `first` (0-based) and the sheet's warnings, a line each.
void PrintPlotForecast(std::FILE* out, const THpglSheet& sheet, const TPlotSettings& settings, std::int32_t first);
#ifdef GRAFONEL_WITH_QT
// The one QGuiApplication of the run (offscreen), made on first use: SVG text and rendering need it.
void EnsureGuiApp();
// Ends it; Qt must not outlive main().
void ReleaseGuiApp();
#endif

}  // namespace cli
