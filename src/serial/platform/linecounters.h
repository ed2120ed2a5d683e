#pragma once
// Line-state changes and line errors from a driver's interrupt counters. Kept apart from the
// system calls that read the counters, so that tests can feed it counts. Not locked: its
// owner guards it.

#include <cstdint>

namespace commport {

struct TLineCounts {
    std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Rlsd = 0, Break = 0;
    std::uint32_t Frame = 0, Overrun = 0, Parity = 0, BufOverrun = 0;
};

class TLineCounters {
public:
    // The event thread's look: EV_ bits for the line states that changed since its last look,
    // and EV_ERR once for errors it has not reported yet.
    std::uint32_t Events(const TLineCounts& c);
    // A status query's look: takes the CE_ bits of the errors seen so far. Line states are
    // left to the event thread, which alone consumes their changes.
    std::uint32_t TakeErrors(const TLineCounts& c);
    // Takes the CE_ bits seen so far without a new look.
    std::uint32_t TakePending();

private:
    void NoteErrors(const TLineCounts& c);
    bool HaveLines = false, HaveErrors = false;
    TLineCounts Lines, Errors;
    std::uint32_t Pending = 0;
    bool ErrorEvent = false;
};

}  // namespace commport
