// grafonel-cli estimate: how long a plot of a file takes, before it is sent.

#include <cstdio>

#include "cli.h"
#include "plot/estimate.h"
#include "plot/plotorder.h"
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

// "pen up 1,234 mm, pen down 567 mm, 89 pen lifts"
std::string PenTravelText(const TPlotEstimate& e)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "pen up %.0f mm, pen down %.0f mm, %llu pen lifts", e.PenUpLength / 8,
                  e.PenDownLength / 8, static_cast<unsigned long long>(e.PenLifts));
    return buf;
}

int CmdEstimate(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    TPlotSettings settings;
    TPlotReading reading = TPlotReading::Translate;
    bool optimise = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (args[i] == "--speed") {
            if (!ParseSpeed(args, i, settings.Speed, error))
                return Usage(error);
        } else if (args[i] == "--constant-speed") {
            settings.Accelerate = false;
        } else if (args[i] == "--plain") {
            reading = TPlotReading::Plain;
        } else if (args[i] == "--optimise") {
            optimise = true;
        } else if (args[i] == "--baud") {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], 50, 4000000, settings.Baud))
                return Usage("--baud takes a line rate in bits per second, such as 9600");
            ++i;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return Usage("estimate: unknown option '" + args[i] + "'");
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 1)
        return Usage("estimate takes one input file; see 'grafonel-cli estimate --help'");
    THpglSheet sheet;
    if (const int status = LoadSheet(sheet, files[0], reading))
        return status;
    const TPlotEstimate plain = EstimatePlot(sheet, settings);
    std::printf("%s\n", EstimateText(plain).c_str());
    if (!optimise)
        return 0;
    std::fflush(stdout);
    const TPlotOrder order = OptimisePlotOrder(sheet);
    if (!order.Ok)
        return Fail("the plot order cannot be optimised: " + order.Reason);
    RefillSheet(sheet, order.Objects);
    const TPlotEstimate better = EstimatePlot(sheet, settings);
    std::printf("in optimised order %s\n", EstimateText(better).c_str());
    std::printf("%s\n", PenTravelText(plain).c_str());
    std::printf("in optimised order %s\n", PenTravelText(better).c_str());
    return 0;
}

}  // namespace

std::vector<Command> EstimateCommands()
{
    return {{"estimate", "estimate IN [--speed S] [--constant-speed] [--baud N] [--optimise] [--plain] [--svg-text MODE]",
             "Prints how long plotting IN takes: the pen's drawing time at the speed setting, the\n"
             "line's time for the bytes at the rate (8 data bits, no parity, one stop bit), and\n"
             "their combination, the slower of the two in each stretch of the plot.\n"
             "  --speed S          speed setting from 12 to 100 (default 20)\n"
             "  --constant-speed   no acceleration to double speed\n"
             "  --baud N           line rate (default 9600)\n"
             "  --optimise         also the time in the optimised plot order, and for both orders the\n"
             "                     pen's travel up and down and its lifts\n" +
                 PlainHelp(21),
             CmdEstimate}};
}

}  // namespace cli
