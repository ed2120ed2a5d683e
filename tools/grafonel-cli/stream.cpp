// grafonel-cli stream: the exact bytes the plotting device receives for a file.

#include <unistd.h>

#include <memory>

#include "sheet/atomicfile.h"
#include "cli.h"
#include "sheet/hpglsheet.h"
#include "plot/ostrel.h"

namespace cli {

bool ParseSpeed(const std::vector<std::string>& args, std::size_t& i, int& speed, std::string& error)
{
    std::int64_t v;
    if (i + 1 >= args.size() || !ParseInt(args[i + 1], kOstrelMinSpeed, kOstrelMaxSpeed, v)) {
        error = "--speed takes a whole number from " + std::to_string(kOstrelMinSpeed) + " to " +
                std::to_string(kOstrelMaxSpeed) + (i + 1 < args.size() ? ", not '" + args[i + 1] + "'" : "");
        return false;
    }
    speed = static_cast<int>(v);
    ++i;
    return true;
}

namespace {

int CmdStream(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    std::string out;
    int speed = kOstrelDefaultSpeed;
    bool accelerate = true;
    TPlotReading reading = TPlotReading::Translate;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (args[i] == "-o") {
            if (i + 1 >= args.size())
                return Usage("-o takes an output file");
            out = args[++i];
        } else if (args[i] == "--speed") {
            if (!ParseSpeed(args, i, speed, error))
                return Usage(error);
        } else if (args[i] == "--constant-speed") {
            accelerate = false;
        } else if (args[i] == "--plain") {
            reading = TPlotReading::Plain;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return Usage("stream: unknown option '" + args[i] + "'");
        } else {
            files.push_back(args[i]);
        }
    }
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
    return {{"stream", "stream IN [-o OUT] [--speed S] [--constant-speed] [--plain] [--svg-text MODE]",
             "Writes the exact bytes the plotting device receives when IN is plotted: the\n"
             "prologue with the speed, every object's texts, the epilogue. To standard output,\n"
             "or to OUT (replaced only when written whole).\n"
             "  --speed S          speed setting from 12 to 100 (default 20): 625/S mm/s\n"
             "  --constant-speed   no acceleration to double speed (sent as a negative speed)\n" +
                 PlainHelp(21),
             CmdStream}};
}

}  // namespace cli
