// Event objects on Linux: each event is an eventfd, so that one poll() can wait for a port
// and any number of events at once.

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "serial/platform/posixio.h"
#include "serial/vaobjects.h"
#include "serial/vautils.h"

using commport::RetryEintr;
using commport::TFd;

TVaHandleObject::~TVaHandleObject()
{
    TFd owned(Handle);
}

TVaEvent::TVaEvent(bool, bool initialState)
{
    TFd fd(::eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd.Valid())
        throw EVaCommError("Cannot create an event object");
    Handle = fd.Release();  // the destructor takes it back
}

void TVaEvent::SetEvent()
{
    const std::uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 sets; a failed write means it is set already.
    RetryEintr([&] { return ::write(Handle, &one, sizeof one); });
}

void TVaEvent::ResetEvent()
{
    std::uint64_t value;
    RetryEintr([&] { return ::read(Handle, &value, sizeof value); });
}

bool TVaEvent::IsSet() const
{
    pollfd p{Handle, POLLIN, 0};
    return RetryEintr([&] { return ::poll(&p, 1, 0); }) == 1 && (p.revents & POLLIN);
}

TVaEventWaitResult TVaEvent::WaitFor(std::int32_t milliseconds)
{
    TVaEvent* self = this;
    const int r = WaitForEvents(&self, 1, milliseconds);
    if (r == 0)
        return wrSignaled;
    if (r == -1)
        return wrTimeout;
    LastError = errno;
    return wrError;
}

int WaitForEvents(TVaEvent* const* events, int count, std::int32_t milliseconds)
{
    std::vector<pollfd> fds(static_cast<std::size_t>(count));
    TVaTimeEvent timer;
    InitTimer(timer, milliseconds);
    for (;;) {
        for (int i = 0; i < count; ++i)
            fds[static_cast<std::size_t>(i)] = pollfd{events[i]->Handle, POLLIN, 0};
        int timeout = -1;
        if (milliseconds >= 0) {
            const std::int64_t left = milliseconds - static_cast<std::int64_t>(GetTickCount32() - timer.StartTick);
            timeout = left > 0 ? static_cast<int>(left) : 0;
        }
        // Not retried in place: the time left is worked out again after an interruption.
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -2;
        }
        for (int i = 0; i < count; ++i)
            if (fds[static_cast<std::size_t>(i)].revents & POLLIN)
                return i;
        if (n == 0)
            return -1;
    }
}
