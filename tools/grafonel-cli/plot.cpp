// grafonel-cli plot / service: the plot dialog's runs from a terminal, through the same
// serial component, with a console loop standing in for the window's event loop.

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "cli.h"
#include "sheet/hpglsheet.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "plot/plotrun.h"
#include "serial/uidispatch.h"
#include "serial/vacomm.h"

namespace cli {

namespace {

std::atomic<int> Interrupts{0};

struct TAbandoned {};

struct TLineOptions {
    std::string Port;
    std::int64_t Baud = 9600;
    bool Rts = false;
    int Speed = kOstrelDefaultSpeed;
    bool Accelerate = true;
    std::int64_t From = 1;  // the first object to send, counted from 1
    std::vector<std::string> Files;
};

bool ParseLine(const std::vector<std::string>& args, TLineOptions& o, bool plot, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--port") {
            if (i + 1 >= args.size()) {
                error = "--port takes a device: COM1 to COM4 or a path such as /dev/ttyUSB0";
                return false;
            }
            o.Port = args[++i];
        } else if (a == "--baud") {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], 50, 4000000, o.Baud)) {
                error = "--baud takes a line rate in bits per second, such as 9600";
                return false;
            }
            ++i;
        } else if (a == "--handshake") {
            const std::string v = i + 1 < args.size() ? args[++i] : "";
            if (v != "xon" && v != "rts") {
                error = "--handshake takes xon or rts";
                return false;
            }
            o.Rts = v == "rts";
        } else if (plot && a == "--speed") {
            if (!ParseSpeed(args, i, o.Speed, error))
                return false;
        } else if (plot && a == "--constant-speed") {
            o.Accelerate = false;
        } else if (plot && a == "--from") {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], 1, INT32_MAX, o.From)) {
                error = "--from takes the number of the object to resume from, 1 or more";
                return false;
            }
            ++i;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "'";
            return false;
        } else {
            o.Files.push_back(a);
        }
    }
    if (o.Port.empty()) {
        error = "--port is required";
        return false;
    }
    return true;
}

// The dialog's component settings, the port and rate from the command line.
void Configure(TVaComm& c, const TLineOptions& o)
{
    c.SetMonitorEvents({});
    TVaBuffers b;
    b.SetReadSize(512);
    b.SetWriteSize(512);
    c.SetBuffers(b);
    TVaFlowControl f;
    f.SetXonXoffOut(!o.Rts);
    f.SetOutCtsFlow(o.Rts);
    f.SetXonXoffIn(true);
    c.SetFlowControl(f);
    if (o.Port.find('/') == std::string::npos) {
        c.SetDeviceName(o.Port);  // COMn: the n-th serial port
    } else {
        std::string escaped;
        for (char ch : o.Port)
            escaped += ch == '%' ? std::string("%%") : std::string(1, ch);
        c.SetDeviceName(escaped);
    }
    TVaBaudrate rate = brUser;
    for (int r = br110; r <= br256000; ++r)
        if (BaudrateValue(static_cast<TVaBaudrate>(r)) == o.Baud)
            rate = static_cast<TVaBaudrate>(r);
    if (rate == brUser)
        c.SetUserBaudrate(static_cast<std::int32_t>(o.Baud));
    else
        c.SetBaudrate(rate);
}

std::string Clock(double s)
{
    if (s < 0)
        return "-";
    const int t = static_cast<int>(s + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d", t / 60, t % 60);
    return buf;
}

// earlyEnd: told how far a run that did not finish got, whatever ended it.
int RunOnLine(const TLineOptions& o, const std::function<TPlotRunner::TEnd(TPlotRunner&)>& run, const char* what,
              const std::function<void(const TPlotRunner&)>& earlyEnd = {})
{
    TQueueDispatcher console;
    SetUiDispatcher(&console);
    struct TReset {
        ~TReset() { SetUiDispatcher(nullptr); }
    } reset;
    console.OnException = [](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            std::fprintf(stderr, "\ngrafonel-cli: %s\n", x.what());
        } catch (...) {
        }
    };
    Interrupts = 0;
    struct sigaction sa {};
    sa.sa_handler = [](int) { ++Interrupts; };
    sigemptyset(&sa.sa_mask);
    struct sigaction old {};
    ::sigaction(SIGINT, &sa, &old);
    struct TRestoreSignal {
        struct sigaction Old;
        ~TRestoreSignal() { ::sigaction(SIGINT, &Old, nullptr); }
    } restoreSignal{old};

    TVaComm comm;
    Configure(comm, o);
    TPlotRunner runner(comm, static_cast<std::int32_t>(o.Baud));
    const bool tty = ::isatty(STDERR_FILENO);
    runner.Pump = [&](bool wait) {
        console.Pump(std::chrono::milliseconds(wait ? 20 : 0));
        if (Interrupts >= 2) {
            // A second Ctrl-C: drop what has not left yet, and stop at once.
            comm.PurgeWrite();
            throw TAbandoned{};
        }
    };
    runner.Running = [] { return Interrupts == 0; };
    runner.OnProgress = [&](const TPlotProgress& p) {
        std::fprintf(stderr, "%sobjects %d/%d, %llu/%llu bytes, line %d%%, %s left%s", tty ? "\r" : "", p.Objects,
                     p.MaxObjects, static_cast<unsigned long long>(p.BytesSent),
                     static_cast<unsigned long long>(p.BytesTotal), static_cast<int>(p.LineUse * 100 + 0.5),
                     Clock(p.SecondsLeft).c_str(), tty ? "   " : "\n");
    };
    bool opened = false;
    runner.OnOpened = [&] { opened = true; };
    auto early = [&] {
        if (opened && earlyEnd)
            earlyEnd(runner);
    };
    try {
        const TPlotRunner::TEnd end = run(runner);
        if (tty)
            std::fputc('\n', stderr);
        switch (end) {
        case TPlotRunner::TEnd::Finished:
            return 0;
        case TPlotRunner::TEnd::Stopped:
            std::fprintf(stderr, "grafonel-cli: %s stopped; the device got the closing commands\n", what);
            early();
            return 0;
        case TPlotRunner::TEnd::Stalled: {
            const int r = Fail("the device stopped taking data; the rest of the " + std::string(what) + " was dropped");
            early();
            return r;
        }
        }
    } catch (const TAbandoned&) {
        const int r = Fail(std::string(what) + " abandoned");
        early();
        return r;
    } catch (const EVaCommError& e) {
        const int r = Fail(e.what());
        early();
        return r;
    }
    return 0;
}

int CmdPlot(const std::vector<std::string>& args)
{
    TLineOptions o;
    std::string error;
    if (!ParseLine(args, o, true, error))
        return Fail(error + "; see 'grafonel-cli plot --help'");
    if (o.Files.size() != 1)
        return Fail("plot takes one file; see 'grafonel-cli plot --help'");
    THpglSheet sheet;
    if (!LoadSheet(sheet, o.Files[0], error))
        return Fail(error);
    const std::int32_t count = sheet.Count();
    if (o.From > 1 && o.From > count)
        return Fail("--from " + std::to_string(o.From) + ": the sheet has " + std::to_string(count) + " objects");
    const auto first = static_cast<std::int32_t>(o.From - 1);
    TPlotSettings settings;
    settings.Speed = o.Speed;
    settings.Accelerate = o.Accelerate;
    settings.Baud = o.Baud;
    PrintPlotForecast(stderr, sheet, settings, first);
    return RunOnLine(
        o, [&](TPlotRunner& r) { return r.Plot(sheet, o.Speed, o.Accelerate, first); }, "plot",
        [&](const TPlotRunner& r) {
            if (r.Handed() >= count)
                return;
            std::fprintf(stderr, "grafonel-cli: stopped after object %d of %d; resume with --from %d\n", r.Handed(),
                         count, r.Handed() + 1);
        });
}

int CmdService(const std::vector<std::string>& args)
{
    TLineOptions o;
    std::string error;
    if (!ParseLine(args, o, false, error))
        return Fail(error + "; see 'grafonel-cli service --help'");
    if (!o.Files.empty())
        return Fail("service takes no file");
    return RunOnLine(o, [](TPlotRunner& r) { return r.Service(); }, "motor service");
}

}  // namespace

std::vector<Command> PlotCommands()
{
    const std::string line =
        "  --port DEV          COM1 to COM4, or a device path such as /dev/ttyUSB0 (required)\n"
        "  --baud N            line rate (default 9600)\n"
        "  --handshake xon|rts XON/XOFF (default) or the device's CTS line\n";
    return {
        {"plot", "plot IN --port DEV [--baud N] [--handshake xon|rts] [--speed S] [--constant-speed] [--from N]",
         "Plots IN on the device as the plot dialog does, with a progress line. The first lines\n"
         "give the estimated time and what will go wrong (a drawing beyond the paper, pen\n"
         "changes, arcs drawn more than once). A plot that ends early says where to resume.\n" + line +
             "  --speed S           speed setting from 12 to 100 (default 20)\n"
             "  --constant-speed    no acceleration to double speed\n"
             "  --from N            resume at object N (counted from 1): the device is first brought\n"
             "                      to the pen position, mode and pen it had before that object\n"
             "Ctrl-C stops after the object in hand and still sends the closing commands; a second\n"
             "Ctrl-C drops what has not been sent and stops at once.\n",
         CmdPlot},
        {"service", "service --port DEV [--baud N] [--handshake xon|rts]",
         "Runs the X motor back and forth at rising speed (289 bytes), as the dialog's Motor\n"
         "service button does.\n" + line + "Ctrl-C ends it after the pass in hand.\n",
         CmdService},
    };
}

}  // namespace cli
