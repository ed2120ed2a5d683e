#include "plot/plotrun.h"

#include <algorithm>

#include "base/scopeexit.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"

namespace {

std::string MessageOf(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

// The component's hand-over during a run: calls go to the caller's loop as before, but an
// error raised in a handed-over call is kept for the run to raise once, instead of being
// shown on its own (an error box, a console line) beside the run's own report.
class TPlotRunner::TRunDispatcher final : public TUiDispatcher {
public:
    TRunDispatcher(TUiDispatcher* inner, TPlotRunner& runner) : Inner(inner), Runner(runner) {}
    bool IsUiThread() const override { return !Inner || Inner->IsUiThread(); }
    void Post(std::function<void()> call) override { Inner->Post(std::move(call)); }
    void Wake() override
    {
        if (Inner)
            Inner->Wake();
    }
    void HandleException(std::exception_ptr error) override
    {
        std::lock_guard lock(Runner.FaultLock);
        if (!Runner.Fault)
            Runner.Fault = error;
    }

private:
    TUiDispatcher* Inner;
    TPlotRunner& Runner;
};

std::vector<std::string> TPlotRunner::ServiceTexts(int pass)
{
    if (pass == 0)
        return {" SD20 ", " BP IN PR-10,0"};
    if (pass == 11)
        return {" SD20 IN "};
    const int k = 11 - pass;
    return {" SD" + std::to_string(k + 16), " PR1550,0 ", " PR-1550,0 "};
}

double TPlotRunner::LineBytesPerSecond(const TVaCustomComm& comm)
{
    return comm.LineBytesPerSecond();
}

std::int64_t TPlotRunner::Noted(std::int64_t staged, std::int64_t queued)
{
    const std::int64_t left = staged + queued;
    // Kept for a failure, when the port may no longer say.
    S.Sent.NoteLeft(left);
    return left;
}

std::int64_t TPlotRunner::Left()
{
    return Noted(Comm.WriteBufUsed(), Comm.OutputQueueCount());
}

std::int64_t TPlotRunner::QueueCap() const
{
    // The system's queue is kept to about a quarter second of the line, so an abort can let
    // what is queued go instead of cutting it.
    return std::max<std::int64_t>(64, static_cast<std::int64_t>(S.LineBytes / 4));
}

void TPlotRunner::Write(std::string_view text, bool unitStart)
{
    // A long arc never waits while the device keeps up: look at the user now and then
    // anyway, between two commands.
    if (unitStart && Now() - S.LastReport >= kLookMilliseconds)
        Step(false);
    S.Sent.Append(text, unitStart);
    Comm.WriteBuf(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::int32_t>(text.size()));
}

void TPlotRunner::CheckFault()
{
    std::exception_ptr fault;
    {
        std::lock_guard lock(FaultLock);
        fault = Fault;
    }
    if (fault)
        std::rethrow_exception(fault);
    if (S.LineErrorSeen) {
        // A line error may be the device going away: a port that is gone raises here.
        S.LineErrorSeen = false;
        Comm.OutputQueueCount();
    }
}

void TPlotRunner::Step(bool wait)
{
    Pump(wait);
    CheckFault();
    if (!S.Stopping && !Running()) {
        S.Stopping = true;
        S.StopTick = Now();
    }
    if (!S.InAbort && !S.Settling && Aborting && Aborting())
        throw TAbortRequest{};
    if (S.InAbort && !S.Abandoned && Abandoning && Abandoning())
        throw TAbandonRequest{};
    Report(false);
}

void TPlotRunner::WaitForRoom()
{
    for (;;) {
        // Each look also notes what surely left, for a resume should the device go next.
        const std::int64_t queued = Comm.OutputQueueCount();
        Noted(Comm.WriteBufUsed(), queued);
        if (Comm.WriteBufFree() >= kThrottle && queued <= QueueCap())
            return;
        Step(true);
    }
}

void TPlotRunner::Drain()
{
    // Everything staged handed on, then everything handed on sent: the epilogue must reach
    // the device before the port closes, however long the device holds the line.
    while (Left() > 0)
        Step(true);
}

void TPlotRunner::Report(bool force)
{
    const std::uint32_t now = Now();
    if (!force && now - S.LastReport < kReportMilliseconds)
        return;
    S.LastReport = now;
    const std::int64_t left = Left();
    if (left != S.LastLeft) {
        S.LastLeft = left;
        S.LastMove = now;
    }
    P.BytesSent = S.Sent.Gone(left);
    S.Window.emplace_back(now, P.BytesSent);
    while (S.Window.size() > 2 && now - S.Window[1].first >= kLineUseWindowMilliseconds)
        S.Window.pop_front();
    double rate = -1;
    if (S.Window.size() >= 2 && now != S.Window.front().first)
        rate = static_cast<double>(P.BytesSent - S.Window.front().second) * 1000.0 / (now - S.Window.front().first);
    // Bytes that left into a buffer beyond the line (a pseudo-terminal, a device's FIFO)
    // briefly outrun it; the line itself never carries more than its capacity.
    P.LineUse = rate < 0 ? 0 : std::min(rate / S.LineBytes, 1.0);
    const std::uint64_t remaining = P.BytesTotal > P.BytesSent ? P.BytesTotal - P.BytesSent : 0;
    const double pace = rate > 0 ? std::min(rate, S.LineBytes) : S.LineBytes;
    P.SecondsLeft = static_cast<double>(remaining) / pace;
    if (!P.Service && TimeLeft)
        if (const double modelled = TimeLeft(P.Objects); modelled >= 0)
            P.SecondsLeft = modelled;
    P.HeldSeconds = 0;
    if (S.Stopping && !S.InAbort && now - S.StopTick > kHeldNoticeMilliseconds &&
        now - S.LastMove > kHeldNoticeMilliseconds)
        P.HeldSeconds = (now - S.LastMove) / 1000.0;
    if (OnProgress)
        OnProgress(P);
}

bool TPlotRunner::WaitUntil(std::uint32_t deadline, const std::function<bool()>& done)
{
    while (!done()) {
        if (static_cast<std::int32_t>(Now() - deadline) >= 0)
            return false;
        Step(true);
    }
    return true;
}

std::uint64_t TPlotRunner::Slack() const
{
    return kLineSlackBytes + static_cast<std::uint64_t>(S.LineBytes * kLineSlackSeconds);
}

std::uint32_t TPlotRunner::SettleMilliseconds() const
{
    return static_cast<std::uint32_t>((static_cast<double>(kOstrelInputBuffer) / S.LineBytes + 0.05) * 1000 + 0.5);
}

void TPlotRunner::Settle()
{
    S.Settling = true;
    const base::TScopeExit done([&] { S.Settling = false; });
    WaitUntil(Now() + SettleMilliseconds(), [] { return false; });
    // A line hung up meanwhile raises here.
    Left();
    CheckFault();
}

bool TPlotRunner::WaitTaken()
{
    std::int64_t last = -1;
    std::uint32_t lastMove = Now();
    for (;;) {
        const std::int64_t left = Left();
        if (left == 0)
            return true;
        if (left != last) {
            last = left;
            lastMove = Now();
        } else if (Now() - lastMove >= JamMilliseconds) {
            return false;
        }
        // Said once the device has not taken anything for a moment: it holds the line.
        P.Finishing = Now() - lastMove >= kFinishingNoticeMilliseconds;
        Step(true);
    }
}

void TPlotRunner::Abort()
{
    S.InAbort = true;
    try {
        // What the system took goes on; what is staged is dropped. The line then carries
        // exactly the stream's first `delivered` bytes, and a command they cut is completed
        // from the stream itself, then the closing text follows unless it was under way.
        const std::uint64_t delivered = Comm.DropStaged();
        bool closing = false;
        const std::string rest = S.Sent.DropRest(delivered, closing);
        S.Sent.Truncate(delivered, delivered + rest.size());
        S.HandedObjects = S.Sent.DeliveredObjects(delivered);
        if (!rest.empty())
            Write(rest, false);
        if (!closing) {
            S.Sent.MarkClosing();
            TOstrelStream().Epilogue([&](std::string_view t, TThrottle) { Write(t, true); });
        }
        if (WaitTaken()) {
            S.HandedObjects = S.Sent.DeliveredObjects(S.Sent.Written());  // a completed command may end an object
            P.Finishing = false;
            Report(true);
            Comm.Close();
            return;
        }
    } catch (const TAbandonRequest&) {
    }
    Abandon();
}

void TPlotRunner::Abandon()
{
    S.Abandoned = true;
    P.Finishing = false;
    // What was queued may be flushed part way: the device surely has the handed bytes less
    // the queue, and may keep a cut command.
    const std::int64_t queued = Comm.OutputQueueCount();
    const std::uint64_t handed = Comm.DropStaged();
    Comm.PurgeWrite();
    // A device that stopped taking bytes may never take what the line still holds either.
    const std::uint64_t unsure = static_cast<std::uint64_t>(std::max<std::int64_t>(queued, 0)) + Slack();
    S.HandedObjects = std::min(S.HandedObjects, S.Sent.DeliveredObjects(handed - std::min(handed, unsure)));
    // A paced line hides what the device took (a pseudo-terminal's buffer reads empty), so a
    // device given up on may hold any prefix of what was handed.
    R.CutLeft = handed > 0 && (Comm.Paced() || queued > 0 || !S.Sent.CutRest(handed).empty());
    Report(true);
    Comm.Close();
}

TPlotEnd TPlotRunner::Run(std::int32_t first, const std::function<bool()>& body)
{
    R = {};
    P = {};
    S = {};
    S.Sent = TSentBytes(first);
    S.HandedObjects = first;
    S.LineBytes = std::max(LineBytesPerSecond(Comm), 1.0);
    {
        std::lock_guard lock(FaultLock);
        Fault = nullptr;
    }

    // Errors the component's threads report during the run come here, raised once.
    TUiDispatcher* const before = Comm.Dispatcher();
    TRunDispatcher dispatcher(before, *this);
    const TVaCommErrorEvent userOnError = Comm.OnError;
    Comm.SetDispatcher(&dispatcher);
    Comm.OnError = [this, userOnError](TVaCustomComm* c, std::int32_t errors) {
        S.LineErrorSeen = true;
        if (userOnError)
            userOnError(c, errors);
    };
    const base::TScopeExit restore([&] {
        Comm.SetDispatcher(before == UiDispatcher() ? nullptr : before);
        Comm.OnError = userOnError;
    });

    Comm.Open();
    // The port is closed on every way out, a throw included.
    const base::TScopeExit release([&] {
        try {
            Comm.Close();
        } catch (...) {
            // Already failing: the first error is the one reported.
        }
        if (SetProgress)
            SetProgress(0);
    });
    if (OnOpened)
        OnOpened();
    S.LastReport = S.LastMove = Now();

    auto fail = [&](std::exception_ptr e) {
        {
            std::lock_guard lock(FaultLock);
            if (Fault)
                e = Fault;  // what the component reported first is the cause
        }
        R.End = TPlotEnd::Failed;
        R.Error = MessageOf(e);
        // Only what surely left counts; a vanished device may not say how much that was, so
        // the last count it gave stands.
        try {
            Left();
        } catch (...) {
        }
        // What left the system's queue may still be lost with the line.
        const std::int32_t delivered =
            S.Sent.DeliveredObjects(S.Sent.SurelyLeft() - std::min(S.Sent.SurelyLeft(), Slack()));
        // A failure during a drop keeps the drop's count if that is lower.
        S.HandedObjects = S.InAbort ? std::min(S.HandedObjects, delivered) : delivered;
        std::rethrow_exception(e);
    };
    bool abort = false;
    try {
        const bool whole = body();
        Drain();
        Settle();
        Report(true);
        Comm.Close();
        R.End = whole ? TPlotEnd::Finished : TPlotEnd::Stopped;
        S.HandedObjects = R.LastObject;
    } catch (const TAbortRequest&) {
        abort = true;
    } catch (...) {
        fail(std::current_exception());
    }
    if (abort) {
        try {
            Abort();
            R.End = TPlotEnd::Aborted;
        } catch (...) {
            fail(std::current_exception());
        }
    }
    return R.End;
}

std::string PenName(std::int32_t pen)
{
    static const char* const kColours[] = {"black",  "black",    "red",  "blue",   "green",
                                           "purple", "dark red", "cyan", "yellow", "black"};
    std::string name = "pen " + std::to_string(pen);
    if (pen >= 0 && pen <= 9)
        name += std::string(" (") + kColours[pen] + ")";
    return name;
}

bool TPlotRunner::PausePen(std::int32_t pen)
{
    WaitForRoom();
    OstrelPark([&](std::string_view t, TThrottle throttle) { Write(t, throttle == TThrottle::UnitStart); });
    // The question comes once the pen is parked, so the user can reach it.
    while (Left() > 0 && Running())
        Step(true);
    if (!Running())
        return false;
    P.PenPause = pen;
    Report(true);
    const base::TScopeExit resumed([&] { P.PenPause = 0; });
    while (Running() && !(Continuing && Continuing()))
        Step(true);
    P.PenPause = 0;
    Report(true);
    return Running();
}

TPlotEnd TPlotRunner::Plot(const THpglSheet& sheet, int speed, bool accelerate, std::int32_t first)
{
    return Run(first, [&] {
        R.MaxObjects = P.MaxObjects = sheet.Count();
        if (SetMaxValue)
            SetMaxValue(P.MaxObjects);
        // Sized without generating huge arcs: the first byte goes at once whatever the sheet.
        const TStreamSize size = OstrelStreamSize(sheet, speed, accelerate, first);
        P.BytesTotal = size.Bytes;
        P.TotalExact = size.Exact;

        TOstrelStream stream;
        bool lead = true;
        stream.Prologue(speed, accelerate, [&](std::string_view t, TThrottle) {
            Write(t, lead);
            lead = false;
        });
        const THpglObject* o = sheet.First;
        std::int32_t n = 0;
        std::int32_t pen = 0;  // the pen selected before the first object sent
        for (; o && n < first; ++n, o = o->Next) {
            if (o->Kind == hkSP)
                pen = o->ParamCount ? o->P1 : 0;
            stream.Skip(*o);
        }
        auto sink = [&](std::string_view t, TThrottle throttle) { Write(t, throttle == TThrottle::UnitStart); };
        // A pause's own bytes join the run's total as they come.
        TPenChanges changes;
        bool owedDown = false;  // the pen comes back up from a pause
        auto pause = [&](std::int32_t ask) {
            const std::uint64_t before = S.Sent.Written();
            const bool going = PausePen(ask);
            if (going) {
                stream.Restore(sink, false);
                owedDown = stream.Down;
            }
            P.BytesTotal += S.Sent.Written() - before;
            return going;
        };
        bool going = true;
        if (first > 0 && PenPauses && o) {
            if (const std::int32_t ask = changes.Resume(o, pen, stream.Down); ask > 0)
                going = pause(ask);
            else
                stream.Restore(sink);
        } else if (first > 0) {
            stream.Restore(sink);
        }
        R.LastObject = P.Objects = n;
        while (o && going && Running()) {
            if (const std::int32_t ask = changes.Before(*o, stream.Down); PenPauses && ask > 0 && !pause(ask))
                break;
            if (owedDown && (o->Kind == hkPU || o->Kind == hkPD || TPenChanges::NeedsPenDown(*o))) {
                if (o->Kind != hkPU && o->Kind != hkPD) {
                    Write("PD", true);
                    P.BytesTotal += 2;
                }
                owedDown = false;
            }
            if (SetProgress)
                SetProgress(n);
            ++n;
            Step(false);
            WaitForRoom();
            const bool arc = o->Kind == hkAA;
            stream.ObjectTexts(*o, [&](std::string_view t, TThrottle throttle) {
                // An arc is sent whole on a stop, with room made before each of its points;
                // only an abort cuts it, between two points.
                if (arc)
                    WaitForRoom();
                Write(t, throttle == TThrottle::UnitStart);
            });
            R.LastObject = P.Objects = n;
            S.Sent.EndObject(n);
            o = o->Next;
        }
        if (o && !S.Stopping) {
            S.Stopping = true;
            S.StopTick = Now();
        }
        // The epilogue goes also when the run was stopped.
        S.Sent.MarkClosing();
        stream.Epilogue([&](std::string_view t, TThrottle) { Write(t, true); });
        return o == nullptr;
    });
}

TPlotEnd TPlotRunner::Service()
{
    return Run(0, [&] {
        R.MaxObjects = P.MaxObjects = 10;
        P.Service = true;
        P.BytesTotal = kServiceBytes;
        if (SetMaxValue)
            SetMaxValue(10);
        for (const auto& t : ServiceTexts(0))
            Write(t, true);
        bool whole = true;
        for (int k = 10; k >= 1; --k) {
            if (SetProgress)
                SetProgress(10 - k);
            for (const auto& t : ServiceTexts(11 - k))
                Write(t, true);
            R.LastObject = P.Objects = 11 - k;
            if (!Running()) {
                whole = k == 1;
                break;
            }
        }
        S.Sent.MarkClosing();
        for (const auto& t : ServiceTexts(11))
            Write(t, true);
        return whole;
    });
}
