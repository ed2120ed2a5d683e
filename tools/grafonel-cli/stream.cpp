// grafonel-cli stream: the exact bytes the plotting device receives for a file.

#include <unistd.h>

#include <memory>

#include "sheet/atomicfile.h"
#include "cli.h"
#include "options.h"
#include "sheet/hpglsheet.h"
#include "plot/ostrel.h"

namespace cli {

namespace {

struct TStreamArgs {
    std::string Out;
    int Speed = kOstrelDefaultSpeed;
    bool Accelerate = true;
    TPlotReading Reading = TPlotReading::Translate;
};

Options StreamOptions(TStreamArgs& a)
{
    Options table = {
        {"-o", "OUT", "write to OUT instead of standard output",
         [&a](const std::string& v, std::string&) {
             a.Out = v;
             return true;
         },
         "an output file"},
        SpeedOption(a.Speed, "speed setting from 12 to 100 (default 20): 625/S mm/s"),
        Flag("--constant-speed", "no acceleration to double speed (sent as a negative speed)",
             [&a] { a.Accelerate = false; }),
    };
    for (Option& o : ReadingOptions(a.Reading))
        table.push_back(std::move(o));
    return table;
}

int CmdStream(const std::vector<std::string>& args)
{
    TStreamArgs a;
    std::vector<std::string> files;
    if (std::string error; !ParseOptions("stream", StreamOptions(a), args, files, error))
        return Usage(error);
    const std::string& out = a.Out;
    const int speed = a.Speed;
    const bool accelerate = a.Accelerate;
    const TPlotReading reading = a.Reading;
    if (files.size() != 1)
        return Usage("stream takes one input file; see 'grafonel-cli stream --help'");
    THpglSheet sheet;
    if (const int status = LoadSheet(sheet, files[0], reading))
        return status;
    auto body = [&](TBufferedOut& o) {
        OstrelSheetStream(sheet, speed, accelerate, [&](std::string_view t, TThrottle) { o.Put(t.data(), t.size()); });
    };
    if (out.empty()) {
        auto o = std::make_unique<TBufferedOut>(STDOUT_FILENO);
        body(*o);
        o->Flush();
        if (o->Error)
            return Fail("cannot write the stream: " + TFileResult::FromErrno(o->Error).Reason);
        return 0;
    }
    TFileResult r = WriteFileAtomically(out, body);
    if (!r.Ok())
        return Fail("cannot write '" + out + "': " + r.Reason);
    return 0;
}

}  // namespace

std::vector<Command> StreamCommands()
{
    TStreamArgs unused;
    return {{"stream", Synopsis("stream IN", StreamOptions(unused)),
             "Writes the exact bytes the plotting device receives when IN is plotted: the\n"
             "prologue with the speed, every object's texts, the epilogue. To standard output,\n"
             "or to OUT (replaced only when written whole).\n" +
                 OptionsHelp(StreamOptions(unused), 21),
             CmdStream}};
}

}  // namespace cli
