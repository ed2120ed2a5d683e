// ostrel-sim: an emulated plotting device on a pseudo-terminal. It prints the line's path,
// takes bytes at the chosen line rate into a small input buffer (never more than the buffer
// holds), optionally sends XOFF/XON around that buffer counting what still waits in the
// pseudo-terminal as the device's input (a real line holds nothing back for it), can play a
// fault (a long hold, a jam, a hang-up), interprets what it takes and reports what it drew.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include "base/posixio.h"
#include "interp.h"
#include "ui/qtcanvas.h"

namespace {

const char* const kUsage =
    "usage: ostrel-sim [--rate BAUD] [--buffer N] [--xoff] [--raw FILE] [--png FILE] [--svg FILE] [--seconds N]\n"
    "                  [--hold-at N --hold-ms MS | --jam-at N | --hangup-at N] [--pace F]\n"
    "Opens a pseudo-terminal, prints its path on the first line and plays the plotting device on it.\n"
    "  --rate BAUD   the line delivers BAUD/10 bytes a second (default 9600; 0: as fast as they come)\n"
    "  --buffer N    the device's input buffer in bytes (default 256)\n"
    "  --xoff        send XOFF when the buffer and what waits on the line come within 64 bytes\n"
    "                of the buffer's size, XON when they are down to half of it\n"
    "  --hold-at N --hold-ms MS\n"
    "                after N bytes, hold the line with XOFF for MS milliseconds, as a plotter\n"
    "                drawing a long vector does\n"
    "  --jam-at N    after N bytes, hold the line with XOFF for good\n"
    "  --hangup-at N after N bytes, hang the line up, as an unplugged adapter does\n"
    "  --raw FILE    write every byte received\n"
    "  --png FILE    write the drawing on the 1520 x 2160 frame (760 x 1080 pixels)\n"
    "  --svg FILE    write the drawing as SVG in plotter units\n"
    "  --seconds N   stop after N seconds (default: at the end of input)\n"
    "  --pace F      the device takes a command only when its pen has drawn the one before,\n"
    "                the pen and the line both F times faster than the real device's (1: real\n"
    "                time); the summary's time is then the device's (the time taken times F)\n"
    "The end of input is the sender closing the line after it has written (or hanging up).\n"
    "A fault is announced as 'ostrel-sim: playing FAULT at byte N' when it begins; the summary\n"
    "line gives the largest lead (the most bytes the sender was ahead of what the device had\n"
    "taken off the line) and ends with the fault played.\n";

volatile std::sig_atomic_t Interrupted = 0;

enum class TFault { None, Hold, Jam, Hangup };

bool WriteWhole(const std::string& path, const QByteArray& data, std::string& error)
{
    QSaveFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        error = f.errorString().toStdString();
        return false;
    }
    return true;
}

int Fail(const std::string& m)
{
    std::fprintf(stderr, "ostrel-sim: %s\n", m.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    long rate = 9600, buffer = static_cast<long>(kOstrelInputBuffer), pace = 0;
    double seconds = 0;
    bool xoff = false;
    std::string raw, png, svg;
    TFault fault = TFault::None;
    long faultAtArg = 0, holdMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto number = [&](long& out, long lo, long hi) {
            const char* v = value();
            char* end = nullptr;
            if (!v)
                return false;
            out = std::strtol(v, &end, 10);
            return *end == '\0' && out >= lo && out <= hi;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--rate") {
            if (!number(rate, 0, 4000000))
                return Fail("--rate takes a line rate in baud (0 for no limit)");
        } else if (a == "--buffer") {
            if (!number(buffer, 65, 1 << 20))
                return Fail("--buffer takes a size from 65 to 1048576 bytes");
        } else if (a == "--xoff") {
            xoff = true;
        } else if (a == "--hold-at" || a == "--jam-at" || a == "--hangup-at") {
            if (fault != TFault::None)
                return Fail("play one fault at a time: --hold-at, --jam-at or --hangup-at");
            if (!number(faultAtArg, 0, 2000000000))
                return Fail(a + " takes a count of bytes");
            fault = a == "--hold-at" ? TFault::Hold : a == "--jam-at" ? TFault::Jam : TFault::Hangup;
        } else if (a == "--hold-ms") {
            if (!number(holdMs, 1, 3600000))
                return Fail("--hold-ms takes milliseconds from 1 to 3600000");
        } else if (a == "--raw" || a == "--png" || a == "--svg") {
            const char* v = value();
            if (!v)
                return Fail(a + " takes a file name");
            (a == "--raw" ? raw : a == "--png" ? png : svg) = v;
        } else if (a == "--pace") {
            if (!number(pace, 1, 1000))
                return Fail("--pace takes a whole factor from 1 to 1000");
        } else if (a == "--seconds") {
            long s;
            if (!number(s, 1, 1000000))
                return Fail("--seconds takes a whole number of seconds");
            seconds = static_cast<double>(s);
        } else {
            return Fail("unknown option '" + a + "'\n" + kUsage);
        }
    }

    if (fault == TFault::Hold && holdMs == 0)
        return Fail("--hold-at needs --hold-ms, how long the line is held");
    if (fault != TFault::Hold && holdMs != 0)
        return Fail("--hold-ms goes with --hold-at");
    const std::uint64_t faultAt = static_cast<std::uint64_t>(faultAtArg);
    if (pace > 0 && rate == 0)
        return Fail("--pace needs a line rate");
    // The device's clock, before any pacing: the summary's estimate is the real device's.
    const double deviceRate = static_cast<double>(rate) / 10.0;
    if (pace > 0)
        rate *= pace;

    posixio::TFd line(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    int master = line.Get();
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return Fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    const char* name = ::ptsname(master);
    if (!name)
        return Fail(std::string("cannot name the pseudo-terminal: ") + std::strerror(errno));
    const std::string path = name;
    // Our own slave descriptor keeps the line up until the sender's first byte, so a sender
    // that has not opened the line yet does not read as the end of input.
    posixio::TFd slave(posixio::RetryEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); }));
    if (!slave.Valid())
        return Fail("cannot open " + path + ": " + std::strerror(errno));
    termios t{};
    if (::tcgetattr(slave.Get(), &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slave.Get(), TCSANOW, &t);
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    std::signal(SIGINT, [](int) { Interrupted = 1; });
    std::signal(SIGTERM, [](int) { Interrupted = 1; });
    std::signal(SIGPIPE, SIG_IGN);

    TOstrelInterpreter device;
    device.Clock = TOstrelClock(deviceRate, static_cast<std::uint64_t>(buffer));
    std::string held;      // the device's input buffer: bytes off the line not yet interpreted
    std::string received;  // for --raw
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    Clock::time_point first{}, last{}, lastTick = started, holdStart{}, holdEnd{};
    // With --pace: when the pen has drawn what it was given; when each read's bytes came in
    // (one past the last byte's count, the time); how many bytes the pen has been given.
    Clock::time_point penFree{};
    std::deque<std::pair<std::uint64_t, Clock::time_point>> arrivals;
    std::uint64_t fed = 0;
    bool any = false, ended = false, xoffSent = false, holding = false, jammed = false, hungUp = false;
    bool faultPlayed = false;
    std::uint64_t taken = 0, xoffs = 0;
    // The most bytes the sender was ahead of what the device had taken off the line: what
    // waited in the pseudo-terminal.
    std::uint64_t lead = 0;
    double longestHold = 0, credit = 0;
    // What the line carries in 50 ms: the most it saves up, so it makes no bursts of its own.
    const double creditCap = std::max(1.0, static_cast<double>(rate) / 10.0 * 0.05);
    // What was on the line at the last look with room for it in the device: a late wake-up
    // (a busy machine) delivers that much too, since a real line carried it meanwhile. A line
    // that lost that time would fall behind its rate and show the sender a lead it never took.
    double carrying = 0;
    std::string readBuf(static_cast<std::size_t>(buffer), '\0');

    auto sendFlow = [&](bool stop) {
        const char c = stop ? 0x13 : 0x11;
        if (::write(master, &c, 1) != 1)
            return;
        const auto now = Clock::now();
        if (stop) {
            xoffSent = true;
            ++xoffs;
            holdStart = now;
        } else {
            xoffSent = false;
            longestHold = std::max(longestHold, std::chrono::duration<double>(now - holdStart).count());
        }
    };
    auto announce = [&](const char* what) {
        faultPlayed = true;
        std::printf("ostrel-sim: playing %s at byte %llu\n", what, static_cast<unsigned long long>(taken));
        std::fflush(stdout);
    };

    bool lineHup = false;
    while (!hungUp) {
        const auto now = Clock::now();
        if (Interrupted || (seconds > 0 && std::chrono::duration<double>(now - started).count() >= seconds))
            break;
        // A fault begins once its byte has come in.
        if (!faultPlayed && fault != TFault::None && taken >= faultAt) {
            if (fault == TFault::Hangup) {
                announce("hang-up");
                // Closing the master hangs the line up, as unplugging an adapter does.
                line.Reset();
                master = -1;
                hungUp = true;
                break;
            }
            if (fault == TFault::Jam) {
                announce("jam");
                jammed = true;
            } else {
                announce("hold");
                holding = true;
                holdEnd = now + std::chrono::milliseconds(holdMs);
            }
        }
        if (holding && now >= holdEnd)
            holding = false;
        // The device interprets what its buffer holds unless it is busy (a hold) or stuck.
        if (!holding && !jammed && !held.empty()) {
            if (pace > 0) {
                // A command goes to the pen once the one before is drawn. The pen's times add
                // up from when it could start, not from when this loop woke, so a late wake-up
                // does not slow the pen down.
                std::size_t k = 0;
                for (; k < held.size() && penFree <= now; ++k, ++fed) {
                    while (arrivals.size() > 1 && arrivals.front().first <= fed)
                        arrivals.pop_front();
                    const double before = device.Clock.DrawSeconds;
                    device.Feed(std::string_view(held).substr(k, 1));
                    const double draw = device.Clock.DrawSeconds - before;
                    // The command this byte completes starts when the pen is free and the
                    // byte has come.
                    if (draw > 0)
                        penFree = std::max(penFree, arrivals.front().second) +
                                  std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(draw / static_cast<double>(pace)));
                }
                held.erase(0, k);
            } else {
                device.Feed(held);
                held.clear();
            }
            last = now;
        }
        // What waits for the device: its buffer and what is still on the line (in the
        // pseudo-terminal), so the sender is held within a few hundred bytes.
        int pending = 0;
        if (::ioctl(master, FIONREAD, &pending) != 0 || pending < 0)
            pending = 0;
        const std::size_t input = held.size() + static_cast<std::size_t>(pending);
        lead = std::max(lead, static_cast<std::uint64_t>(pending));
        const bool full = xoff && input + 64 >= static_cast<std::size_t>(buffer);
        if (!xoffSent && (holding || jammed || full))
            sendFlow(true);
        else if (xoffSent && !holding && !jammed && input <= static_cast<std::size_t>(buffer / 2))
            sendFlow(false);
        if (ended && held.empty() && (pace == 0 || penFree <= now))
            break;
        if (jammed && any && lineHup) {
            ended = true;  // the sender has gone; the jammed device keeps what it had
            held.clear();
            break;
        }

        // The line delivers at its rate, into the room the device's buffer has.
        const double dt = std::chrono::duration<double>(now - lastTick).count();
        lastTick = now;
        credit =
            rate > 0 ? std::min(std::max(creditCap, carrying), credit + dt * static_cast<double>(rate) / 10.0) : 1e18;
        std::size_t room = jammed ? 0 : static_cast<std::size_t>(buffer) - held.size();
        carrying = static_cast<double>(std::min(room, static_cast<std::size_t>(pending)));
        // A line stopped by a full buffer or with nothing to carry saves nothing up.
        if (pace > 0 && (room == 0 || pending == 0))
            credit = std::min(credit, 1.0);
        room = static_cast<std::size_t>(std::min<double>(static_cast<double>(room), std::floor(credit)));
        if (fault != TFault::None && !faultPlayed)
            room = static_cast<std::size_t>(std::min<std::uint64_t>(room, faultAt - taken));
        if (room > 0 && !ended && (pending > 0 || lineHup)) {
            const ssize_t n = ::read(master, readBuf.data(), room);
            if (n > 0) {
                if (!any) {
                    any = true;
                    first = Clock::now();
                    slave.Reset();
                }
                credit -= static_cast<double>(n);
                taken += static_cast<std::uint64_t>(n);
                if (pace > 0)
                    arrivals.emplace_back(taken, Clock::now());
                held.append(readBuf.data(), static_cast<std::size_t>(n));
                if (!raw.empty())
                    received.append(readBuf.data(), static_cast<std::size_t>(n));
                continue;  // look at the flow again at once
            }
            if (n == 0 || (n < 0 && errno == EIO)) {
                if (any)
                    ended = true;  // every sender has closed the line
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return Fail(std::string("read: ") + std::strerror(errno));
            }
        }
        // Sleep: on an empty line until bytes come (so a burst is answered with XOFF at
        // once); otherwise until the line has delivered a little more.
        const bool idle = pending == 0 && !xoffSent && !jammed && !ended;
        pollfd p{master, static_cast<short>(idle ? POLLIN : 0), 0};
        timespec wait{0, 1000000};
        if (jammed || (idle && !holding))
            wait = {0, 50000000};
        else if (!xoffSent && rate > 0)
            wait = {0, 250000};
        else if (rate == 0 && !holding)
            wait = {0, 0};
        if (::ppoll(&p, 1, &wait, nullptr) < 0 && errno != EINTR)
            return Fail(std::string("poll: ") + std::strerror(errno));
        lineHup = (p.revents & (POLLHUP | POLLERR)) != 0 && !slave.Valid();
    }
    if (xoffSent)
        longestHold = std::max(longestHold, std::chrono::duration<double>(Clock::now() - holdStart).count());
    if (!held.empty() && !jammed) {
        device.Feed(held);
        last = Clock::now();
    }
    const double drawnBefore = device.Clock.DrawSeconds;
    device.Finish();
    if (pace > 0 && any) {
        // The last command is complete only now; the pen's time ends the plot.
        const double draw = device.Clock.DrawSeconds - drawnBefore;
        const Clock::time_point from = arrivals.empty() ? penFree : std::max(penFree, arrivals.back().second);
        last = std::max(last, from + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(draw / static_cast<double>(pace))));
    }
    slave.Reset();

    std::string error;
    if (!raw.empty() && !WriteWhole(raw, QByteArray(received.data(), static_cast<qsizetype>(received.size())), error))
        return Fail("cannot write '" + raw + "': " + error);
    if (!svg.empty()) {
        const std::string s = device.Svg();
        if (!WriteWhole(svg, QByteArray(s.data(), static_cast<qsizetype>(s.size())), error))
            return Fail("cannot write '" + svg + "': " + error);
    }
    if (!png.empty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        int qargc = 1;
        char qname[] = "ostrel-sim";
        char* qargv[] = {qname, nullptr};
        QGuiApplication app(qargc, qargv);
        QImage image(760, 1080, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            PaintView(painter, nullptr, image.width(), image.height());
            QtCanvas canvas(painter);
            device.DrawOn(canvas, image.width(), image.height());
        }
        QSaveFile f(QString::fromStdString(png));
        if (!f.open(QIODevice::WriteOnly) || !image.save(&f, "PNG") || !f.commit())
            return Fail("cannot write '" + png + "': " + f.errorString().toStdString());
    }

    // In the device's seconds: paced, the simulator ran `pace` times faster.
    const double span = (any ? std::chrono::duration<double>((last > first ? last : first) - first).count() : 0.0) *
                        static_cast<double>(std::max(pace, 1L));
    std::string unknown;
    for (const auto& [what, count] : device.UnknownNames)
        unknown += (unknown.empty() ? " (" : ", ") + what + " x" + std::to_string(count);
    if (!unknown.empty())
        unknown += ")";
    std::string played = "none";
    if (fault != TFault::None) {
        const char* names[] = {"", "hold", "jam", "hang-up"};
        played = std::string(names[static_cast<int>(fault)]) + " at byte " + std::to_string(faultAt);
        if (fault == TFault::Hold)
            played += " for " + std::to_string(holdMs) + " ms";
        if (!faultPlayed)
            played += " (never reached)";
    }
    std::printf("ostrel-sim: %llu bytes received, %llu commands, pen-down %.0f units, %llu XOFF (longest hold %.3f s), "
                "%llu unknown%s, %llu bytes largest lead, %.3f s; estimated plot time %.1f s; fault: %s\n",
                static_cast<unsigned long long>(taken), static_cast<unsigned long long>(device.Commands),
                device.PenDownLength, static_cast<unsigned long long>(xoffs), longestHold,
                static_cast<unsigned long long>(device.Unknown), unknown.c_str(), static_cast<unsigned long long>(lead),
                span, device.Clock.Seconds(), played.c_str());
    return 0;
}
