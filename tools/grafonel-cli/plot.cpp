// grafonel-cli plot / service: the plot dialog's runs from a terminal, through the same
// serial component, with a console loop standing in for the window's event loop.

#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "cli.h"
#include "sheet/hpglsheet.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "plot/plotorder.h"
#include "plot/plotline.h"
#include "plot/plotrun.h"
#include "serial/uidispatch.h"
#include "serial/vacomm.h"

namespace cli {

namespace {

// Exit codes of a run on the line (2 is a usage error, before any run).
constexpr int kExitWhole = 0;
constexpr int kExitError = 1;
constexpr int kExitStopped = 130;  // as a shell reports a command ended by Ctrl-C

// Ctrl-C and SIGTERM, counted from the first moment: before the run the process ends at once
// with the stop status; during it the first stops, the second drops, the third abandons.
std::atomic<int> Interrupts{0};
std::atomic<bool> RunStarted{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int)
{
    if (!RunStarted.load()) {
        static const char kText[] = "grafonel-cli: stopped before anything was sent\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kText, sizeof kText - 1);
        ::_exit(kExitStopped);
    }
    ++Interrupts;
}

struct TLineOptions {
    std::string Port;
    std::int64_t Baud = 9600;
    bool Rts = false;
    TVaPaceLine Pace = plAuto;
    std::int64_t JamSeconds = 30;
    int Speed = kOstrelDefaultSpeed;
    bool Accelerate = true;
    std::int64_t From = 1;  // the first object to send, counted from 1
    bool Optimise = false;
    bool PenPauses = false;
    TPlotReading Reading = TPlotReading::Translate;
    std::vector<std::string> Files;
};

// The line's options, and with `plot` the plot's own.
Options LineOptions(TLineOptions& o, bool plot)
{
    auto choice = [](std::string name, std::string values, std::string help,
                     std::function<void(const std::string&)> set) {
        const std::string first = values.substr(0, values.find('|')), second = values.substr(values.find('|') + 1);
        return Option{name, values, std::move(help),
                      [first, second, set](const std::string& v, std::string&) {
                          if (v != first && v != second)
                              return false;
                          set(v);
                          return true;
                      },
                      first + " or " + second};
    };
    Options table = {
        {"--port", "DEV", "COM1 to COM4, or a device path such as /dev/ttyUSB0 (required)",
         [&o](const std::string& v, std::string&) {
             o.Port = v;
             return true;
         },
         "a device: COM1 to COM4 or a path such as /dev/ttyUSB0", true},
        BaudOption(o.Baud, "line rate (default 9600)"),
        choice("--handshake", "xon|rts", "XON/XOFF (default) or the device's CTS line",
               [&o](const std::string& v) { o.Rts = v == "rts"; }),
        choice("--pace-line", "on|off",
               "hand bytes on no faster than the line rate: on by default for a\n"
               "pseudo-terminal (a simulator, a network bridge), off for a serial port",
               [&o](const std::string& v) { o.Pace = v == "on" ? plOn : plOff; }),
        Number("--jam-seconds", "N",
               "after a drop, how long the device may take nothing before the\n"
               "rest is abandoned (default 30)",
               1, 86400, o.JamSeconds, "a number of seconds from 1 to 86400"),
    };
    if (!plot)
        return table;
    Options own = {
        SpeedOption(o.Speed, "speed setting from 12 to 100 (default 20)"),
        Flag("--constant-speed", "no acceleration to double speed", [&o] { o.Accelerate = false; }),
        Flag("--optimise",
             "plot in the order that lifts and carries the pen least (the same\n"
             "drawing, pen by pen); --from then counts objects of that order",
             [&o] { o.Optimise = true; }),
        Flag("--pen-pauses",
             "at each change of pen, park the pen at the origin and wait for a\n"
             "line on standard input (the end of input stops the plot); a\n"
             "resumed plot first asks for the pen it draws with",
             [&o] { o.PenPauses = true; }),
        Number("--from", "N",
               "resume at object N (counted from 1): the device is first brought\n"
               "to the pen position, mode and pen it had before that object",
               1, INT32_MAX, o.From, "the number of the object to resume from, 1 or more"),
    };
    for (Option& x : own)
        table.push_back(std::move(x));
    for (Option& x : ReadingOptions(o.Reading))
        table.push_back(std::move(x));
    return table;
}

// The dialog's component settings, the port and rate from the command line.
void Configure(TVaComm& c, const TLineOptions& o)
{
    ConfigurePlotLine(c, TPlotLine{o.Port, o.Baud, o.Rts});
    c.SetPaceLine(o.Pace);
}

// A line of standard input answers a pause for a pen; typed ahead (or piped) lines answer the
// pauses to come. At the end of input the run stops, as after Ctrl-C.
class TAnswers {
public:
    bool Next()
    {
        for (;;) {
            if (const auto eol = Buffer.find('\n'); eol != std::string::npos) {
                Buffer.erase(0, eol + 1);
                return true;
            }
            if (Ended) {
                int none = 0;
                Interrupts.compare_exchange_strong(none, 1);
                return false;
            }
            pollfd p{STDIN_FILENO, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0)
                return false;
            char chunk[256];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n > 0)
                Buffer.append(chunk, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                Ended = true;
        }
    }

private:
    std::string Buffer;
    bool Ended = false;
};

// resume: what to add to the one line that ends a run cut short, given how far it got.
int RunOnLine(const TLineOptions& o, const std::function<TPlotEnd(TPlotRunner&)>& run, const char* what,
              const char* unit, const std::function<std::string(const TPlotRunner&)>& resume = {})
{
    TQueueDispatcher console;
    SetUiDispatcher(&console);
    struct TReset {
        ~TReset() { SetUiDispatcher(nullptr); }
    } reset;
    // From here a signal is the run's to handle.
    RunStarted = true;
    TVaComm comm;
    Configure(comm, o);
    TPlotRunner runner(comm);
    const bool tty = ::isatty(STDERR_FILENO);
    runner.Pump = [&](bool wait) { console.Pump(std::chrono::milliseconds(wait ? 20 : 0)); };
    runner.Running = [] { return Interrupts == 0; };
    runner.Aborting = [] { return Interrupts >= 2; };
    runner.Abandoning = [] { return Interrupts >= 3; };
    runner.JamMilliseconds = static_cast<std::uint32_t>(o.JamSeconds * 1000);
    TAnswers answers;
    runner.PenPauses = o.PenPauses;
    runner.Continuing = [&] { return answers.Next(); };
    bool shown = false;
    std::int32_t asked = 0;
    runner.OnProgress = [&](const TPlotProgress& p) {
        if (p.PenPause != asked) {
            asked = p.PenPause;
            if (asked > 0) {
                std::fprintf(stderr, "%sgrafonel-cli: put in %s, then press Enter\n", tty && shown ? "\n" : "",
                             PenName(asked).c_str());
                shown = false;
            }
        }
        if (asked > 0)
            return;
        shown = true;
        if (p.Finishing) {
            std::fprintf(stderr, "%sfinishing a cut command; Ctrl-C again abandons it%s", tty ? "\r" : "",
                         tty ? "                 " : "\n");
            return;
        }
        if (p.HeldSeconds > 0) {
            std::fprintf(stderr, "%swaiting for the plotter, line held %d s; Ctrl-C again to drop the rest%s",
                         tty ? "\r" : "", static_cast<int>(p.HeldSeconds), tty ? "   " : "\n");
            return;
        }
        std::fprintf(stderr, "%s%s %d/%d, %llu/%s%llu bytes, line %d%%, %s left%s", tty ? "\r" : "",
                     p.Service ? "pass" : "objects", p.Objects, p.MaxObjects,
                     static_cast<unsigned long long>(p.BytesSent), p.TotalExact ? "" : "~",
                     static_cast<unsigned long long>(p.BytesTotal), static_cast<int>(p.LineUse * 100 + 0.5),
                     ClockText(p.SecondsLeft).c_str(), tty ? "   " : "\n");
    };
    bool opened = false;
    runner.OnOpened = [&] { opened = true; };
    auto rest = [&] { return opened && resume ? resume(runner) : std::string(); };
    auto endLine = [&] {
        if (tty && shown)
            std::fputc('\n', stderr);
    };
    try {
        const TPlotEnd end = run(runner);
        endLine();
        const TPlotResult& r = runner.Result();
        switch (end) {
        case TPlotEnd::Finished: return kExitWhole;
        case TPlotEnd::Failed:  // raised, never returned
            return kExitError;
        case TPlotEnd::Stopped:
            std::fprintf(stderr, "grafonel-cli: %s stopped after %s %d of %d; the device got the closing commands%s\n",
                         what, unit, r.LastObject, r.MaxObjects, rest().c_str());
            return kExitStopped;
        case TPlotEnd::Aborted:
            // Counted by what surely reached the line: a drop may cut what was queued.
            std::fprintf(stderr, "grafonel-cli: %s dropped after %s %d of %d%s%s\n", what, unit, runner.Handed(),
                         r.MaxObjects, r.CutLeft ? "; a command was cut, so the plotter may draw one stray line" : "",
                         rest().c_str());
            return kExitStopped;
        }
    } catch (const std::exception& e) {
        endLine();
        // The run's one report of what went wrong.
        if (opened)
            Fail(std::string(e.what()) + "; " + what + " failed after " + unit + " " + std::to_string(runner.Handed()) +
                 " of " + std::to_string(runner.Result().MaxObjects) + rest());
        else
            Fail(e.what());
        return kExitError;
    }
    return kExitWhole;
}

}  // namespace

void InstallRunSignals()
{
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

namespace {

int CmdPlot(const std::vector<std::string>& args)
{
    TLineOptions o;
    if (std::string error; !ParseOptions("plot", LineOptions(o, true), args, o.Files, error))
        return Usage(error + "; see 'grafonel-cli plot --help'");
    if (o.Files.size() != 1)
        return Usage("plot takes one file; see 'grafonel-cli plot --help'");
    THpglSheet sheet;
    if (const int status = LoadSheet(sheet, o.Files[0], o.Reading))
        return status;
    const std::int32_t count = sheet.Count();
    if (o.From > 1 && o.From > count)
        return Fail("--from " + std::to_string(o.From) + ": the sheet has " + std::to_string(count) + " objects");
    const auto first = static_cast<std::int32_t>(o.From - 1);
    // The order is the optimiser's own for this sheet every time, so --from counts its objects.
    if (o.Optimise) {
        const TPlotOrder order = OptimisePlotOrder(sheet);
        if (!order.Ok)
            return Fail("the plot order cannot be optimised: " + order.Reason);
        RefillSheet(sheet, order.Objects);
    }
    TPlotSettings settings;
    settings.Speed = o.Speed;
    settings.Accelerate = o.Accelerate;
    settings.Baud = o.Baud;
    settings.PenPauses = o.PenPauses;
    PrintPlotForecast(stderr, sheet, settings, first);
    // A resume must read the drawing as this run did: the object numbers depend on it.
    const std::string again = std::string(o.Optimise ? " --optimise" : "") + (o.PenPauses ? " --pen-pauses" : "") +
                              (SvgTextStrokes ? " --svg-text stroke" : "");
    return RunOnLine(
        o, [&](TPlotRunner& r) { return r.Plot(sheet, o.Speed, o.Accelerate, first); }, "plot", "object",
        [&](const TPlotRunner& r) {
            return r.Handed() < count ? "; resume with" + again + " --from " + std::to_string(r.Handed() + 1)
                                      : std::string();
        });
}

int CmdService(const std::vector<std::string>& args)
{
    TLineOptions o;
    if (std::string error; !ParseOptions("service", LineOptions(o, false), args, o.Files, error))
        return Usage(error + "; see 'grafonel-cli service --help'");
    if (!o.Files.empty())
        return Usage("service takes no file; see 'grafonel-cli service --help'");
    return RunOnLine(
        o, [](TPlotRunner& r) { return r.Service(); }, "motor service", "pass");
}

}  // namespace

std::vector<Command> PlotCommands()
{
    TLineOptions unused;
    const std::string exits =
        "Exit status: 0 when everything was sent, 1 on an error (the port or the device failed),\n"
        "2 on a usage error, 130 when stopped or dropped by Ctrl-C or SIGTERM.\n";
    return {
        {"plot", Synopsis("plot IN", LineOptions(unused, true)),
         "Plots IN on the device as the plot dialog does, with a progress line. The first lines\n"
         "give the estimated time and what will go wrong (a drawing beyond the paper, pen\n"
         "changes, arcs drawn more than once). A plot that ends early says where to resume.\n" +
             OptionsHelp(LineOptions(unused, true), 22) +
             "Ctrl-C (or SIGTERM) stops after the object in hand, sends the closing commands and\n"
             "waits for the device however long it holds the line. A second Ctrl-C drops what is\n"
             "not yet on the line, completes a command the drop cut and sends the closing commands,\n"
             "waiting for a device that holds the line (up to --jam-seconds of taking nothing); it\n"
             "ends within 2 s of the device taking them. A third Ctrl-C abandons that at once.\n" +
             exits,
         CmdPlot},
        {"service", Synopsis("service", LineOptions(unused, false)),
         "Runs the X motor back and forth at rising speed (289 bytes), as the dialog's Motor\n"
         "service button does.\n" +
             OptionsHelp(LineOptions(unused, false), 22) +
             "Ctrl-C (or SIGTERM) ends it after the pass in hand; a second drops the rest; a third\n"
             "abandons waiting for the device.\n" +
             exits,
         CmdService},
    };
}

}  // namespace cli
