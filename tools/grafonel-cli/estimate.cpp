// grafonel-cli estimate: how long a plot of a file takes, before it is sent.

#include <cstdio>

#include "cli.h"
#include "options.h"
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

struct TEstimateArgs {
    TPlotSettings Settings;
    TPlotReading Reading = TPlotReading::Translate;
    bool Optimise = false;
};

Options EstimateOptions(TEstimateArgs& a)
{
    Options table = {
        SpeedOption(a.Settings.Speed, "speed setting from 12 to 100 (default 20)"),
        Flag("--constant-speed", "no acceleration to double speed", [&a] { a.Settings.Accelerate = false; }),
        BaudOption(a.Settings.Baud, "line rate (default 9600)"),
        Flag("--optimise",
             "also the time in the optimised plot order, and for both orders the\n"
             "pen's travel up and down and its lifts",
             [&a] { a.Optimise = true; }),
    };
    for (Option& o : ReadingOptions(a.Reading))
        table.push_back(std::move(o));
    return table;
}

int CmdEstimate(const std::vector<std::string>& args)
{
    TEstimateArgs a;
    std::vector<std::string> files;
    if (std::string error; !ParseOptions("estimate", EstimateOptions(a), args, files, error))
        return Usage(error);
    const TPlotSettings& settings = a.Settings;
    const TPlotReading reading = a.Reading;
    const bool optimise = a.Optimise;
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
    TEstimateArgs unused;
    return {{"estimate", Synopsis("estimate IN", EstimateOptions(unused)),
             "Prints how long plotting IN takes: the pen's drawing time at the speed setting, the\n"
             "line's time for the bytes at the rate (8 data bits, no parity, one stop bit), and\n"
             "their combination, the slower of the two in each stretch of the plot.\n" +
                 OptionsHelp(EstimateOptions(unused), 21),
             CmdEstimate}};
}

}  // namespace cli
