#pragma once
// The line's own clock for a port that has none: a pseudo-terminal, or a network bridge
// behind one, takes tens of kilobytes at once and never says what it still holds. Bytes are
// handed to such a port no faster than the configured line would carry them, a quantum at a
// time, and what was handed but is not yet due on the line counts as queued, as in a UART's
// transmit queue. Times are seconds on a steady clock, passed in so the clock can be a test's.

#include <algorithm>
#include <cmath>
#include <cstdint>

class TLinePacer {
public:
    // The quantum: the most the queue holds, a few milliseconds of line but never less than
    // a few bytes, so a slow line is not written a byte at a time.
    static constexpr double kQuantumSeconds = 0.005;
    static constexpr std::uint32_t kMinQuantumBytes = 8;

    explicit TLinePacer(double bytesPerSecond = 960) { SetRate(bytesPerSecond); }

    void SetRate(double bytesPerSecond)
    {
        Rate = std::max(bytesPerSecond, 1.0);
        Quantum = std::max(kMinQuantumBytes, static_cast<std::uint32_t>(Rate * kQuantumSeconds));
    }
    double BytesPerSecond() const { return Rate; }
    std::uint32_t QuantumBytes() const { return Quantum; }

    // Bytes handed and not yet due on the line.
    std::uint32_t Queued(double now) const
    {
        if (Due <= now)
            return 0;
        // The epsilon keeps a rounding error from counting a byte that is not there.
        return static_cast<std::uint32_t>(std::min(std::ceil((Due - now) * Rate - 1e-6), 4294967295.0));
    }
    // Bytes that may be handed now.
    std::uint32_t Room(double now) const
    {
        const std::uint32_t q = Queued(now);
        return q >= Quantum ? 0 : Quantum - q;
    }
    // Seconds until the queue is down to half a quantum, when the next hand-over is worth it.
    double Wait(double now) const
    {
        const double half = static_cast<double>(Quantum) / 2 / Rate;
        return std::max(0.0, Due - half - now);
    }
    void Hand(std::uint32_t bytes, double now)
    {
        // An idle line saves nothing up: the bytes start when they are handed.
        Due = std::max(Due, now) + static_cast<double>(bytes) / Rate;
    }

private:
    double Rate = 960;
    std::uint32_t Quantum = kMinQuantumBytes;
    double Due = 0;  // when the last byte handed has left the line
};
