#pragma once
// Descriptor ownership and the retry of calls a signal interrupts: the one pair of helpers
// every layer that asks the system for files, terminals or events uses.

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace posixio {

// Runs call until a signal no longer interrupts it; returns its last result (errno holds
// the reason of a failure).
template <class F>
auto RetryEintr(F&& call)
{
    for (;;) {
        auto r = call();
        if (!(r < 0 && errno == EINTR))
            return r;
    }
}

// The one owner of a descriptor: closes it when it goes, so that no path can leak it.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : Fd(std::exchange(other.Fd, -1)) {}
    TFd& operator=(TFd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            Fd = std::exchange(other.Fd, -1);
        }
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }
    // Hands the descriptor to a new owner.
    int Release() { return std::exchange(Fd, -1); }
    // Closes now and reports what close says (0, or its errno): a write's last chance to fail.
    int Close()
    {
        const int fd = std::exchange(Fd, -1);
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }
    void Reset()
    {
        // close is not retried: after EINTR the descriptor is already gone on Linux.
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
    }

private:
    int Fd = -1;
};

}  // namespace posixio
