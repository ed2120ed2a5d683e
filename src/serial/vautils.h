#pragma once
// The millisecond tick and the timer that spans its 32-bit wrap.

#include <cstdint>

// Milliseconds of a monotonic clock, truncated to 32 bits: it wraps after about 49.7 days.
std::uint32_t GetTickCount32();

struct TVaTimeEvent {
    std::uint32_t StartTick = 0;
    std::int32_t Duration = 0;
};

void InitTimer(TVaTimeEvent& timer, std::int32_t milliseconds);
// True when more than Duration milliseconds have passed since StartTick, across the wrap.
bool TimerExpired(const TVaTimeEvent& timer);
bool TimerExpiredAt(const TVaTimeEvent& timer, std::uint32_t now);
