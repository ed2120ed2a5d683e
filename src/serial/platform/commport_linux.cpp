// The serial layer on Linux terminals: termios2 for any rate, exclusive access by flock plus
// TIOCEXCL, waits by poll() on the port and the component's eventfds, line states and errors
// from the driver's interrupt counters, RS-485 for RTS toggling.

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "serial/platform/commport.h"
#include "serial/platform/linecounters.h"
#include "serial/platform/linux_termios.h"
#include "serial/platform/posixio.h"
#include "serial/vaobjects.h"
#include "serial/vautils.h"

namespace commport {

namespace {

// Modem-line calls on a device without modem lines (a pseudo-terminal) fail with these;
// such a device simply has no lines to set or read.
bool NoModemLines(int e)
{
    return e == ENOTTY || e == EINVAL || e == ENOTSUP;
}

int Ioctl(int fd, unsigned long request, void* arg)
{
    return RetryEintr([&] { return ::ioctl(fd, request, arg); }) == 0 ? 0 : errno;
}

class TLinuxPort final : public TCommPort {
public:
    TLinuxPort(TFd fd, const lt::TTermios& original) : Owned(std::move(fd)), Fd(Owned.Get()), Original(original)
    {
        // The open descriptor, so a symbolic link (socat's) is already resolved.
        struct stat st {};
        Pty = ::fstat(Fd, &st) == 0 && S_ISCHR(st.st_mode) && IsPseudoTerminalDevice(::major(st.st_rdev));
    }

    bool PseudoTerminal() const override { return Pty; }

    ~TLinuxPort() override
    {
        // Give the device back as it was found: settings, RS-485 mode, and no longer
        // exclusive, or every later open by anyone but root would be refused while another
        // descriptor to it stays open.
        lt::Set(Fd, Original);
        if (Rs485)
            SetRs485(false);
        Ioctl(Fd, TIOCNXCL, nullptr);
        RetryEintr([&] { return ::flock(Fd, LOCK_UN); });
    }

    int SetState(const TDcb& dcb) override
    {
        if (int e = Lost.load())
            return e;
        // What the line cannot do is refused, not replaced by something else.
        if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
            return EINVAL;
        const std::uint32_t rts = dcb.Flags & fRtsControlMask;
        if (rts == RTS_CONTROL_TOGGLE || Rs485)
            if (int e = SetRs485(rts == RTS_CONTROL_TOGGLE))
                return e;
        lt::TTermios t;
        if (int e = lt::Get(Fd, t))
            return e;
        lt::FromDcb(dcb, t);
        if (int e = lt::Set(Fd, t))
            return e;
        {
            std::lock_guard lock(M);
            EvtChar = dcb.EvtChar;
            CtsFlow = (dcb.Flags & fOutxCtsFlow) != 0;
        }
        int bits = TIOCM_DTR;
        int e = Ioctl(Fd,
                      (dcb.Flags & fDtrControlMask) == DTR_CONTROL_ENABLE ||
                              (dcb.Flags & fDtrControlMask) == DTR_CONTROL_HANDSHAKE
                          ? TIOCMBIS
                          : TIOCMBIC,
                      &bits);
        if (e && !NoModemLines(e))
            return e;
        // RTS: held on, raised by the driver for input flow control (CRTSCTS) or while
        // sending (RS-485); off otherwise.
        bits = TIOCM_RTS;
        if (rts != RTS_CONTROL_HANDSHAKE && rts != RTS_CONTROL_TOGGLE) {
            e = Ioctl(Fd, rts == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, &bits);
            if (e && !NoModemLines(e))
                return e;
        }
        return 0;
    }

    int Setup(std::uint32_t inQueue, std::uint32_t) override
    {
        if (int e = Lost.load())
            return e;
        // The kernel's queues have fixed sizes; the input size bounds our own receive queue.
        std::lock_guard lock(M);
        InCapacity = std::max<std::uint32_t>(inQueue, 1);
        return 0;
    }

    int SetTimeouts() override { return Lost.load(); }  // reads never block here; writes wait in Write

    int SetMask(std::uint32_t mask) override
    {
        if (int e = Lost.load())
            return e;
        std::lock_guard lock(M);
        Mask = mask;
        return 0;
    }

    TWriteResult Write(const std::uint8_t* data, std::uint32_t count, TVaEvent* const* wake, int wakeCount,
                       std::int32_t timeoutMs) override
    {
        TWriteResult r;
        if ((r.Error = Lost.load()))
            return r;
        TVaTimeEvent timer;
        InitTimer(timer, timeoutMs);
        std::vector<pollfd> fds(static_cast<std::size_t>(wakeCount) + 1);
        for (;;) {
            while (r.Written < count) {
                const ssize_t n = RetryEintr([&] { return ::write(Fd, data + r.Written, count - r.Written); });
                if (n > 0) {
                    r.Written += static_cast<std::uint32_t>(n);
                    continue;
                }
                if (n < 0 && errno != EAGAIN) {
                    r.Error = errno;
                    CheckHangUp();
                    return r;
                }
                break;
            }
            if (r.Written > 0) {
                std::lock_guard lock(M);
                SentSinceEmpty = true;
            }
            if (r.Written == count)
                return r;
            // The line holds the bytes back (flow control, a slow device): wait for room or
            // for one of the wake events.
            fds[0] = pollfd{Fd, POLLOUT, 0};
            for (int i = 0; i < wakeCount; ++i)
                fds[static_cast<std::size_t>(i) + 1] = pollfd{wake[i]->Handle, POLLIN, 0};
            int timeout = -1;
            if (timeoutMs >= 0) {
                const std::int64_t left = timeoutMs - static_cast<std::int64_t>(GetTickCount32() - timer.StartTick);
                timeout = static_cast<int>(std::max<std::int64_t>(left, 0));
            }
            const int n = ::poll(fds.data(), fds.size(), timeout);
            if (n < 0 && errno == EINTR)
                continue;  // not retried in place: the time left is worked out again
            if (n < 0) {
                r.Error = errno;
                return r;
            }
            for (int i = 0; i < wakeCount; ++i)
                if (fds[static_cast<std::size_t>(i) + 1].revents & POLLIN) {
                    r.Woken = i;
                    return r;
                }
            if (n == 0) {
                r.TimedOut = true;
                return r;
            }
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                r.Error = EIO;
                if (int e = CheckHangUp())
                    r.Error = e;
                return r;
            }
        }
    }

    int Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& read) override
    {
        read = 0;
        if (int e = Lost.load())
            return e;
        std::lock_guard lock(M);
        while (read < count && !Queue.empty()) {
            data[read++] = Queue.front();
            Queue.pop_front();
        }
        while (read < count) {
            const ssize_t n = RetryEintr([&] { return ::read(Fd, data + read, count - read); });
            if (n > 0) {
                read += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EIO)
                return errno;
            break;  // nothing more now (EIO: the far end of a pseudo-terminal is closed)
        }
        return 0;
    }

    int WaitEvent(std::uint32_t& events, TVaEvent& wake, bool& woken) override
    {
        events = 0;
        woken = false;
        for (;;) {
            if (int e = Lost.load())
                return e;
            std::uint32_t mask;
            bool roomInQueue;
            {
                std::lock_guard lock(M);
                mask = Mask;
                roomInQueue = Queue.size() < InCapacity;
            }
            const bool wantData = (mask & (EV_RXCHAR | EV_RXFLAG | EV_RX80FULL)) && roomInQueue;
            // Line states and errors have no descriptor to poll: their counters are read
            // every 50 ms.
            const bool counters = mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR | EV_TXEMPTY);
            pollfd fds[2] = {{wake.Handle, POLLIN, 0}, {Fd, static_cast<short>(wantData ? POLLIN : 0), 0}};
            const int n = ::poll(fds, 2, counters || !roomInQueue ? 50 : -1);
            if (n < 0 && errno != EINTR)
                return errno;
            if (fds[0].revents & POLLIN) {
                woken = true;
                return 0;
            }
            // What arrived before a hang-up is delivered first; the hang-up itself shows on
            // every later poll, and from then on the port is not polled again.
            if (fds[1].revents & POLLIN)
                events |= Receive();
            if (counters)
                events |= Counters(mask);
            events &= mask;
            if (events)
                return 0;
            if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                return HungUp();
        }
    }

    int Purge(std::uint32_t flags) override
    {
        if (int e = Lost.load())
            return e;
        // A pseudo-terminal's output flush drops an unknown part of what its reader has not
        // read yet; those bytes count as sent, so they are left to arrive.
        if ((flags & (PURGE_TXABORT | PURGE_TXCLEAR)) && !Pty)
            if (RetryEintr([&] { return ::tcflush(Fd, TCOFLUSH); }) != 0)
                return errno;
        if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
            if (RetryEintr([&] { return ::tcflush(Fd, TCIFLUSH); }) != 0)
                return errno;
            std::lock_guard lock(M);
            Queue.clear();
        }
        return 0;
    }

    int ClearError(std::uint32_t& errors, TComStat& stat) override
    {
        errors = 0;
        stat = TComStat{};
        // The status is what a run looks at last: a line hung up since shows here, not only
        // on the next write.
        if (int e = CheckHangUp())
            return e;
        TLineCounts c;
        const bool haveCounts = ReadCounters(c);
        std::lock_guard lock(M);
        errors = haveCounts ? Lines.TakeErrors(c) : Lines.TakePending();
        int queued = 0;
        if (Ioctl(Fd, FIONREAD, &queued) == 0)
            stat.cbInQue = static_cast<std::uint32_t>(queued) + static_cast<std::uint32_t>(Queue.size());
        else
            stat.cbInQue = static_cast<std::uint32_t>(Queue.size());
        int out = 0;
        if (int e = Ioctl(Fd, TIOCOUTQ, &out))
            return e;
        stat.cbOutQue = static_cast<std::uint32_t>(out);
        int lines = 0;
        if (CtsFlow && Ioctl(Fd, TIOCMGET, &lines) == 0 && !(lines & TIOCM_CTS))
            stat.Flags |= fCtsHold;
        return 0;
    }

    int LineLost(std::uint32_t& errors) override
    {
        errors = 0;
        const int e = Lost.load();
        if (e) {
            std::lock_guard lock(M);
            errors = Lines.TakePending() | CE_IOE;
        }
        return e;
    }

    int Escape(std::uint32_t function) override
    {
        if (int e = Lost.load())
            return e;
        int bits = 0;
        switch (function) {
        case SETDTR: bits = TIOCM_DTR; return Ioctl(Fd, TIOCMBIS, &bits);
        case CLRDTR: bits = TIOCM_DTR; return Ioctl(Fd, TIOCMBIC, &bits);
        case SETRTS: bits = TIOCM_RTS; return Ioctl(Fd, TIOCMBIS, &bits);
        case CLRRTS: bits = TIOCM_RTS; return Ioctl(Fd, TIOCMBIC, &bits);
        case SETBREAK: return Ioctl(Fd, TIOCSBRK, nullptr);
        case CLRBREAK: return Ioctl(Fd, TIOCCBRK, nullptr);
        case SETXON: return RetryEintr([&] { return ::tcflow(Fd, TCOON); }) == 0 ? 0 : errno;
        case SETXOFF: return RetryEintr([&] { return ::tcflow(Fd, TCOOFF); }) == 0 ? 0 : errno;
        case RESETDEV: return 0;  // nothing to reset on a terminal
        default: return EINVAL;
        }
    }

    int ModemStatus(std::uint32_t& status) override
    {
        status = 0;
        if (int e = Lost.load())
            return e;
        int lines = 0;
        int e = Ioctl(Fd, TIOCMGET, &lines);
        if (e)
            return NoModemLines(e) ? 0 : e;
        status = ModemBits(lines);
        return 0;
    }

    int Properties(TCommProp& p) override
    {
        p = TCommProp{};
        if (int e = Lost.load())
            return e;
        p.wPacketLength = sizeof(TCommProp);
        p.wPacketVersion = 2;
        p.dwServiceMask = 1;       // serial communications
        p.dwMaxBaud = 0x10000000;  // any rate the driver accepts
        p.dwProvSubType = 1;       // RS-232
        p.dwProvCapabilities =
            0xff;  // DTR/DSR, RTS/CTS, RLSD, parity check, XON/XOFF, settable XON/XOFF, total and interval timeouts
        p.dwSettableParams = 0x7f;
        p.dwSettableBaud = 0x10000000 | 0x3ffff;
        p.wSettableData = 0x000f;        // 5 to 8 bits
        p.wSettableStopParity = 0x1f05;  // one and two stop bits, all five parities
        std::lock_guard lock(M);
        p.dwCurrentRxQueue = InCapacity;
        p.dwMaxRxQueue = InCapacity;
        p.dwCurrentTxQueue = 4096;
        p.dwMaxTxQueue = 4096;
        return 0;
    }

private:
    static std::uint32_t ModemBits(int lines)
    {
        std::uint32_t s = 0;
        if (lines & TIOCM_CTS)
            s |= MS_CTS_ON;
        if (lines & TIOCM_DSR)
            s |= MS_DSR_ON;
        if (lines & TIOCM_RNG)
            s |= MS_RING_ON;
        if (lines & TIOCM_CAR)
            s |= MS_RLSD_ON;
        return s;
    }

    // Moves what has arrived into the receive queue; the events it stands for.
    std::uint32_t Receive()
    {
        std::uint8_t buf[4096];
        std::uint32_t events = 0;
        std::lock_guard lock(M);
        while (Queue.size() < InCapacity) {
            const std::size_t room = std::min<std::size_t>(sizeof buf, InCapacity - Queue.size());
            const ssize_t n = RetryEintr([&] { return ::read(Fd, buf, room); });
            if (n <= 0)
                break;
            events |= EV_RXCHAR;
            for (ssize_t i = 0; i < n; ++i) {
                Queue.push_back(buf[i]);
                if (static_cast<char>(buf[i]) == EvtChar)
                    events |= EV_RXFLAG;
            }
        }
        if (Queue.size() * 5 >= static_cast<std::size_t>(InCapacity) * 4)
            events |= EV_RX80FULL;
        return events;
    }

    // The driver's interrupt counters (real UARTs; a pseudo-terminal has none).
    bool ReadCounters(TLineCounts& out)
    {
        if (NoCounters.load())
            return false;
        serial_icounter_struct c{};
        if (Ioctl(Fd, TIOCGICOUNT, &c) != 0) {
            NoCounters = true;
            return false;
        }
        auto u = [](int v) { return static_cast<std::uint32_t>(v); };
        out = TLineCounts{u(c.cts),   u(c.dsr),     u(c.rng),    u(c.dcd),        u(c.brk),
                          u(c.frame), u(c.overrun), u(c.parity), u(c.buf_overrun)};
        return true;
    }

    // The event thread's look at the line: state changes, new errors, transmit-empty.
    std::uint32_t Counters(std::uint32_t mask)
    {
        std::uint32_t events = 0;
        TLineCounts c;
        if (ReadCounters(c)) {
            std::lock_guard lock(M);
            events |= Lines.Events(c);
        }
        if (mask & EV_TXEMPTY) {
            int out = 0;
            if (Ioctl(Fd, TIOCOUTQ, &out) == 0 && out == 0) {
                std::lock_guard lock(M);
                if (SentSinceEmpty) {
                    SentSinceEmpty = false;
                    events |= EV_TXEMPTY;
                }
            }
        }
        return events;
    }

    // Whether the line has been hung up (the far end closed, the adapter unplugged); if so
    // the port is lost from now on, for the system's reason.
    int CheckHangUp()
    {
        pollfd p{Fd, 0, 0};
        if (RetryEintr([&] { return ::poll(&p, 1, 0); }) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return HungUp();
        return Lost.load();
    }

    int HungUp()
    {
        // A hung-up terminal refuses its calls; that refusal is the reason given.
        int out = 0;
        int reason = Ioctl(Fd, TIOCOUTQ, &out);
        if (reason == 0)
            reason = EIO;
        int expected = 0;
        Lost.compare_exchange_strong(expected, reason);
        return Lost.load();
    }

    int SetRs485(bool on)
    {
        serial_rs485 r{};
        if (int e = Ioctl(Fd, TIOCGRS485, &r))
            return e;
        if (on) {
            r.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            r.flags &= ~static_cast<std::uint32_t>(SER_RS485_RTS_AFTER_SEND);
        } else {
            r.flags &= ~static_cast<std::uint32_t>(SER_RS485_ENABLED);
        }
        if (int e = Ioctl(Fd, TIOCSRS485, &r))
            return e;
        Rs485 = on;
        return 0;
    }

    TFd Owned;
    const int Fd;
    const lt::TTermios Original;
    std::mutex M;  // the receive queue and the state the event wait shares with the callers
    std::deque<std::uint8_t> Queue;
    std::uint32_t InCapacity = 4096;
    std::uint32_t Mask = 0;
    char EvtChar = 0;
    bool CtsFlow = false;
    bool SentSinceEmpty = false;
    bool Rs485 = false;  // set only by SetState and the destructor, on the caller's thread
    bool Pty = false;
    std::atomic<bool> NoCounters{false};
    std::atomic<int> Lost{0};
    TLineCounters Lines;
};

}  // namespace

bool IsPseudoTerminalDevice(unsigned major)
{
    return major >= 136 && major <= 143;
}

std::string SystemDeviceName(const std::string& name)
{
    std::string n = name;
    if (n.rfind("\\\\.\\", 0) == 0)
        n = n.substr(4);
    if (n.find('/') != std::string::npos)
        return n;
    if (n.size() > 3 && std::toupper(static_cast<unsigned char>(n[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(n[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(n[2])) == 'M' &&
        std::all_of(n.begin() + 3, n.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        const long number = std::strtol(n.c_str() + 3, nullptr, 10);
        if (number >= 1 && number <= 256)
            return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + n;
}

std::unique_ptr<TCommPort> OpenSystemPort(const std::string& name, int& error)
{
    error = 0;
    TFd fd(RetryEintr([&] { return ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd.Valid()) {
        error = errno;
        return nullptr;
    }
    if (!::isatty(fd.Get())) {
        error = ENOTTY;
        return nullptr;
    }
    // flock keeps out every other program that locks (root included, whom TIOCEXCL lets
    // through); TIOCEXCL keeps out those that do not. Another holder shows as "busy".
    if (RetryEintr([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        return nullptr;
    }
    lt::TTermios original;
    if (int e = lt::Get(fd.Get(), original)) {
        error = e;
        return nullptr;
    }
    // Exclusive last: the flag belongs to the terminal, not to this descriptor, so a failed
    // open must not leave it set.
    if (int e = Ioctl(fd.Get(), TIOCEXCL, nullptr); e && !NoModemLines(e)) {
        error = e;
        return nullptr;
    }
    const int raw = fd.Get();
    try {
        return std::make_unique<TLinuxPort>(std::move(fd), original);
    } catch (...) {
        Ioctl(raw, TIOCNXCL, nullptr);
        throw;
    }
}

int SystemDefaultConfig(const std::string& name, TDcb& dcb)
{
    const TFd fd(RetryEintr([&] { return ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd.Valid())
        return errno;
    lt::TTermios t;
    if (int e = lt::Get(fd.Get(), t))
        return e;
    lt::ToDcb(t, dcb);
    return 0;
}

}  // namespace commport
