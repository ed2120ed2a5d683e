#include "plot/plotrun.h"

#include "base/scopeexit.h"
#include "plot/ostrel.h"

namespace {

// Thrown inside a run when the device has taken nothing for too long after Close.
struct TStalled {};

}  // namespace

std::vector<std::string> TPlotRunner::ServiceTexts(int pass)
{
    // pass 0: the opening texts; 1..10: the passes, k = 10 down to 1; 11: the closing text.
    if (pass == 0)
        return {" SD20 ", " BP IN PR-10,0"};
    if (pass == 11)
        return {" SD20 IN "};
    const int k = 11 - pass;
    return {" SD" + std::to_string(k + 16), " PR1550,0 ", " PR-1550,0 "};
}

std::int64_t TPlotRunner::Left()
{
    return static_cast<std::int64_t>(Comm.WriteBufUsed()) + Comm.OutputQueueCount();
}

void TPlotRunner::Write(std::string_view text)
{
    Comm.WriteBuf(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::int32_t>(text.size()));
    Written += text.size();
}

void TPlotRunner::Write(const std::string& text)
{
    Write(std::string_view(text));
}

void TPlotRunner::Report(bool force)
{
    const std::uint32_t now = GetTickCount32();
    if (!OnProgress || (!force && now - LastReport < 250))
        return;
    LastReport = now;
    const std::int64_t left = Left();
    P.BytesSent = Written > static_cast<std::uint64_t>(left) ? Written - static_cast<std::uint64_t>(left) : 0;
    const double seconds = (now - Started) / 1000.0;
    const double lineBytes = LineRate / 10.0;
    if (seconds > 0.05 && lineBytes > 0) {
        const double rate = static_cast<double>(P.BytesSent) / seconds;
        P.LineUse = rate / lineBytes;
        P.SecondsLeft = rate > 0 ? static_cast<double>(P.BytesTotal - std::min(P.BytesTotal, P.BytesSent)) / rate : -1;
    }
    OnProgress(P);
}

void TPlotRunner::Watch(std::int64_t& lastLeft, std::uint32_t& lastChange)
{
    const std::int64_t left = Left();
    const std::uint32_t now = GetTickCount32();
    if (left != lastLeft) {
        lastLeft = left;
        lastChange = now;
    } else if (!Running() && now - lastChange > static_cast<std::uint32_t>(kStallMilliseconds)) {
        throw TStalled{};
    }
    Report(false);
}

void TPlotRunner::WaitForRoom()
{
    std::int64_t lastLeft = -1;
    std::uint32_t lastChange = GetTickCount32();
    while (Comm.WriteBufFree() < kThrottle) {
        Pump(true);
        Watch(lastLeft, lastChange);
    }
}

void TPlotRunner::Drain()
{
    // Everything staged handed on, then everything handed on sent: the epilogue must reach
    // the device before the port closes.
    std::int64_t lastLeft = -1;
    std::uint32_t lastChange = GetTickCount32();
    while (Comm.WriteBufUsed() > 0 || Comm.OutputQueueCount() > 0) {
        Pump(true);
        Watch(lastLeft, lastChange);
    }
}

void TPlotRunner::Finish()
{
    Comm.Close();
    if (SetProgress)
        SetProgress(0);
}

TPlotRunner::TEnd TPlotRunner::Run(const std::function<bool()>& body)
{
    Comm.Open();
    // From here the port is closed on every path, a throw from any step included.
    const base::TScopeExit finish([this] { Finish(); });
    if (OnOpened)
        OnOpened();
    P = TPlotProgress{};
    Written = 0;
    Started = LastReport = GetTickCount32();
    try {
        const bool finished = body();
        Drain();
        Report(true);
        return finished ? TEnd::Finished : TEnd::Stopped;
    } catch (const TStalled&) {
        Comm.PurgeWrite();
        return TEnd::Stalled;
    }
}

TPlotRunner::TEnd TPlotRunner::Plot(const THpglSheet& sheet, int speed, bool accelerate, std::int32_t first)
{
    return Run([&] {
        P.MaxObjects = sheet.Count();
        if (SetMaxValue)
            SetMaxValue(P.MaxObjects);
        OstrelResumeStream(sheet, first, speed, accelerate,
                           [&](std::string_view t, TThrottle) { P.BytesTotal += t.size(); });

        TOstrelStream stream;
        stream.Prologue(speed, accelerate, [&](std::string_view t, TThrottle) { Write(t); });
        const THpglObject* o = sheet.First;
        std::int32_t n = 0;
        for (; o && n < first; ++n, o = o->Next)
            stream.Skip(*o);
        if (first > 0)
            stream.Restore([&](std::string_view t, TThrottle) { Write(t); });
        while (o && Running()) {
            if (SetProgress)
                SetProgress(n);
            P.Objects = n;
            ++n;
            Pump(false);
            WaitForRoom();
            const bool arc = o->Kind == hkAA;
            stream.ObjectTexts(*o, [&](std::string_view t, TThrottle) {
                // An arc is sent whole, with room made before each of its points.
                if (arc)
                    WaitForRoom();
                Write(t);
            });
            o = o->Next;
        }
        P.Objects = n;
        // The epilogue goes also when the run was stopped.
        stream.Epilogue([&](std::string_view t, TThrottle) { Write(t); });
        return o == nullptr;
    });
}

TPlotRunner::TEnd TPlotRunner::Service()
{
    return Run([&] {
        P.MaxObjects = 10;
        // The texts of ServiceTexts: opening " SD20 " (6) + " BP IN PR-10,0" (14) = 20; ten
        // passes of " SDnn" (5, nn = 26 down to 17) + " PR1550,0 " (10) + " PR-1550,0 " (11)
        // = 260; closing " SD20 IN " (9). 20 + 260 + 9 = 289.
        P.BytesTotal = 289;
        if (SetMaxValue)
            SetMaxValue(10);
        for (const auto& t : ServiceTexts(0))
            Write(t);
        bool finished = true;
        for (int k = 10; k >= 1; --k) {
            if (SetProgress)
                SetProgress(10 - k);
            for (const auto& t : ServiceTexts(11 - k))
                Write(t);
            if (!Running()) {
                finished = k == 1;
                break;
            }
        }
        for (const auto& t : ServiceTexts(11))
            Write(t);
        return finished;
    });
}
