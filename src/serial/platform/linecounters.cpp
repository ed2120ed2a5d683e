#include "serial/platform/linecounters.h"

#include "serial/vacommrec.h"

namespace commport {

void TLineCounters::NoteErrors(const TLineCounts& c)
{
    if (HaveErrors) {
        std::uint32_t e = 0;
        if (c.Break != Errors.Break)
            e |= CE_BREAK;
        if (c.Frame != Errors.Frame)
            e |= CE_FRAME;
        if (c.Overrun != Errors.Overrun)
            e |= CE_OVERRUN;
        if (c.Parity != Errors.Parity)
            e |= CE_RXPARITY;
        if (c.BufOverrun != Errors.BufOverrun)
            e |= CE_RXOVER;
        Pending |= e;
        // A break is an event of its own; the other errors make the error event.
        if (e & ~CE_BREAK)
            ErrorEvent = true;
    }
    Errors = c;
    HaveErrors = true;
}

std::uint32_t TLineCounters::Events(const TLineCounts& c)
{
    std::uint32_t events = 0;
    if (HaveLines) {
        if (c.Cts != Lines.Cts)
            events |= EV_CTS;
        if (c.Dsr != Lines.Dsr)
            events |= EV_DSR;
        if (c.Ring != Lines.Ring)
            events |= EV_RING;
        if (c.Rlsd != Lines.Rlsd)
            events |= EV_RLSD;
        if (c.Break != Lines.Break)
            events |= EV_BREAK;
    }
    Lines = c;
    HaveLines = true;
    NoteErrors(c);
    if (ErrorEvent) {
        events |= EV_ERR;
        ErrorEvent = false;
    }
    return events;
}

std::uint32_t TLineCounters::TakeErrors(const TLineCounts& c)
{
    NoteErrors(c);
    return TakePending();
}

std::uint32_t TLineCounters::TakePending()
{
    const std::uint32_t e = Pending;
    Pending = 0;
    return e;
}

}  // namespace commport
