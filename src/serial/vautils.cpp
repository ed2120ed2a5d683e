#include "serial/vautils.h"

#include <chrono>

std::uint32_t GetTickCount32()
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

void InitTimer(TVaTimeEvent& timer, std::int32_t milliseconds)
{
    timer.StartTick = GetTickCount32();
    timer.Duration = milliseconds;
}

bool TimerExpiredAt(const TVaTimeEvent& timer, std::uint32_t now)
{
    // Unsigned subtraction spans the wrap of the tick counter.
    const std::uint32_t elapsed = now - timer.StartTick;
    return static_cast<std::int64_t>(elapsed) > timer.Duration;
}

bool TimerExpired(const TVaTimeEvent& timer)
{
    return TimerExpiredAt(timer, GetTickCount32());
}
