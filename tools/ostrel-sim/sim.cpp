// ostrel-sim: an emulated plotting device on a pseudo-terminal. It prints the line's path,
// takes bytes at the chosen line rate into a small input buffer (never more than the buffer
// holds, so a sender that outruns it is held back by the line), optionally sends XOFF/XON
// around that buffer, interprets what it takes and reports what it drew.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/posixio.h"
#include "interp.h"
#include "ui/qtcanvas.h"

namespace {

const char* const kUsage =
    "usage: ostrel-sim [--rate BAUD] [--buffer N] [--xoff] [--raw FILE] [--png FILE] [--svg FILE] [--seconds N]\n"
    "Opens a pseudo-terminal, prints its path on the first line and plays the plotting device on it.\n"
    "  --rate BAUD   take BAUD/10 bytes a second (default 9600; 0: as fast as they come)\n"
    "  --buffer N    the device's input buffer in bytes (default 256)\n"
    "  --xoff        send XOFF when the buffer is within 64 bytes of full, XON when half empty\n"
    "  --raw FILE    write every byte received\n"
    "  --png FILE    write the drawing on the 1520 x 2160 frame (760 x 1080 pixels)\n"
    "  --svg FILE    write the drawing as SVG in plotter units\n"
    "  --seconds N   stop after N seconds (default: at the end of input)\n"
    "The end of input is the sender closing the line after it has written.\n";

volatile std::sig_atomic_t Interrupted = 0;

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
    long rate = 9600, buffer = static_cast<long>(kOstrelInputBuffer);
    double seconds = 0;
    bool xoff = false;
    std::string raw, png, svg;
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
        } else if (a == "--raw" || a == "--png" || a == "--svg") {
            const char* v = value();
            if (!v)
                return Fail(a + " takes a file name");
            (a == "--raw" ? raw : a == "--png" ? png : svg) = v;
        } else if (a == "--seconds") {
            long s;
            if (!number(s, 1, 1000000))
                return Fail("--seconds takes a whole number of seconds");
            seconds = static_cast<double>(s);
        } else {
            return Fail("unknown option '" + a + "'\n" + kUsage);
        }
    }

    const posixio::TFd line(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    const int master = line.Get();
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
    device.Clock = TOstrelClock(static_cast<double>(rate) / 10.0, static_cast<std::uint64_t>(buffer));
    std::string held;      // the device's input buffer
    std::string received;  // for --raw
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    Clock::time_point first{}, last{};
    bool any = false, ended = false, xoffSent = false;
    std::uint64_t taken = 0, xoffs = 0;
    double longestHold = 0;
    Clock::time_point holdStart{};
    std::string readBuf(static_cast<std::size_t>(buffer), '\0');

    for (;;) {
        const auto now = Clock::now();
        if (Interrupted || (seconds > 0 && std::chrono::duration<double>(now - started).count() >= seconds))
            break;
        // Interpret what the line rate allows since the first byte.
        std::size_t allowed = held.size();
        if (rate > 0 && any) {
            const double elapsed = std::chrono::duration<double>(now - first).count();
            const auto budget = static_cast<std::uint64_t>(elapsed * static_cast<double>(rate) / 10.0);
            allowed = budget > taken ? static_cast<std::size_t>(std::min<std::uint64_t>(budget - taken, held.size())) : 0;
        }
        if (allowed > 0) {
            device.Feed(std::string_view(held).substr(0, allowed));
            held.erase(0, allowed);
            taken += allowed;
            last = now;
        }
        if (xoff && xoffSent && held.size() <= static_cast<std::size_t>(buffer / 2)) {
            const char c = 0x11;
            if (::write(master, &c, 1) == 1) {
                xoffSent = false;
                longestHold = std::max(longestHold, std::chrono::duration<double>(now - holdStart).count());
            }
        }
        if (ended && held.empty())
            break;
        // Take from the line no more than the buffer has room for.
        const std::size_t room = static_cast<std::size_t>(buffer) - held.size();
        pollfd p{master, static_cast<short>(room > 0 && !ended ? POLLIN : 0), 0};
        const int timeout = rate > 0 || room == 0 ? 1 : 50;
        // Not retried: a signal must reach the loop's Interrupted check at once.
        if (::poll(&p, 1, timeout) < 0 && errno != EINTR)
            return Fail(std::string("poll: ") + std::strerror(errno));
        if (room > 0 && !ended && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(master, readBuf.data(), room);
            if (n > 0) {
                if (!any) {
                    any = true;
                    first = Clock::now();
                    slave.Reset();
                }
                held.append(readBuf.data(), static_cast<std::size_t>(n));
                if (!raw.empty())
                    received.append(readBuf.data(), static_cast<std::size_t>(n));
                if (xoff && !xoffSent && held.size() + 64 >= static_cast<std::size_t>(buffer)) {
                    const char c = 0x13;
                    if (::write(master, &c, 1) == 1) {
                        xoffSent = true;
                        ++xoffs;
                        holdStart = Clock::now();
                    }
                }
            } else if (n == 0 || (n < 0 && errno == EIO)) {
                if (any)
                    ended = true;  // every sender has closed the line
                else
                    ::usleep(1000);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return Fail(std::string("read: ") + std::strerror(errno));
            }
        }
    }
    if (!held.empty() && rate == 0) {
        device.Feed(held);
        taken += held.size();
    }
    device.Finish();
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

    const double span = any ? std::chrono::duration<double>((last > first ? last : first) - first).count() : 0.0;
    std::string unknown;
    for (const auto& [what, count] : device.UnknownNames)
        unknown += (unknown.empty() ? " (" : ", ") + what + " x" + std::to_string(count);
    if (!unknown.empty())
        unknown += ")";
    std::printf("ostrel-sim: %llu bytes received, %llu commands, pen-down %.0f units, %llu XOFF (longest hold %.3f s), "
                "%llu unknown%s, %.3f s; estimated plot time %.1f s\n",
                static_cast<unsigned long long>(device.Bytes), static_cast<unsigned long long>(device.Commands),
                device.PenDownLength, static_cast<unsigned long long>(xoffs), longestHold,
                static_cast<unsigned long long>(device.Unknown), unknown.c_str(), span, device.Clock.Seconds());
    return 0;
}
