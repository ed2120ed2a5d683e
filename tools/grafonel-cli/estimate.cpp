// grafonel-cli estimate: how long a plot of a file takes, before it is sent.

#include <cstdio>

#include "cli.h"
#include "plot/estimate.h"
#include "plot/preflight.h"
#include "sheet/hpglsheet.h"

namespace cli {

void PrintPlotForecast(std::FILE* out, const THpglSheet& sheet, const TPlotSettings& settings, std::int32_t first)
{
    std::fprintf(out, "%s\n", EstimateText(EstimatePlot(sheet, settings, first)).c_str());
    for (const auto& w : Preflight(sheet))
        std::fprintf(out, "warning: %s\n", w.Text.c_str());
    std::fflush(out);
}

namespace {

int CmdEstimate(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    TPlotSettings settings;
    TPlotReading reading = TPlotReading::Translate;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (args[i] == "--speed") {
            if (!ParseSpeed(args, i, settings.Speed, error))
                return Fail(error);
        } else if (args[i] == "--constant-speed") {
            settings.Accelerate = false;
        } else if (args[i] == "--plain") {
            reading = TPlotReading::Plain;
        } else if (args[i] == "--baud") {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], 50, 4000000, settings.Baud))
                return Fail("--baud takes a line rate in bits per second, such as 9600");
            ++i;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return Fail("estimate: unknown option '" + args[i] + "'");
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 1)
        return Fail("estimate takes one input file; see 'grafonel-cli estimate --help'");
    THpglSheet sheet;
    if (const int status = LoadSheet(sheet, files[0], reading))
        return status;
    std::printf("%s\n", EstimateText(EstimatePlot(sheet, settings)).c_str());
    return 0;
}

}  // namespace

std::vector<Command> EstimateCommands()
{
    return {{"estimate", "estimate IN [--speed S] [--constant-speed] [--baud N] [--plain]",
             "Prints how long plotting IN takes: the pen's drawing time at the speed setting, the\n"
             "line's time for the bytes at the rate (8 data bits, no parity, one stop bit), and\n"
             "their combination, the slower of the two in each stretch of the plot.\n"
             "  --speed S          speed setting from 12 to 100 (default 20)\n"
             "  --constant-speed   no acceleration to double speed\n"
             "  --baud N           line rate (default 9600)\n" +
                 PlainHelp(21),
             CmdEstimate}};
}

}  // namespace cli
