#include "serial/vacomm.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "serial/vacomm_p.h"

using namespace commport;

// ---------------------------------------------------------------- write path

std::int32_t TVaCustomComm::WriteBuf(const std::uint8_t* data, std::int32_t count)
{
    if (!Active())
        return 0;
    if (const int lost = FLineLost.load())
        Error("Write error (%d), %s", lost);
    if (!FDirectWrite) {
        if (!FMachinery->WriteThread || !FMachinery->WriteThread->WriteData(data, count))
            throw EVaCommError("Output buffer is full. Please check comm status.");
        return count;
    }
    std::lock_guard lock(FWriteLock.Native());
    TVaEvent* const none[] = {nullptr};
    // A write still under way when the time is up is not left behind: what was handed to
    // the system by then is what the caller is told.
    const TWriteResult r =
        HandToPort(data, static_cast<std::uint32_t>(std::max(count, 0)), none, 0, FBuffers.ReadTimeout, false);
    if (r.Error)
        Error("Write error (%d), %s", r.Error);
    return static_cast<std::int32_t>(r.Written);
}

bool TVaCustomComm::WriteText(const std::string& text)
{
    const auto n = static_cast<std::int32_t>(text.size());
    return WriteBuf(reinterpret_cast<const std::uint8_t*>(text.data()), n) == n;
}

bool TVaCustomComm::WriteChar(char c)
{
    const auto b = static_cast<std::uint8_t>(c);
    return WriteBuf(&b, 1) == 1;
}

TWriteResult TVaCustomComm::HandToPort(const std::uint8_t* data, std::uint32_t count, TVaEvent* const* wake,
                                       int wakeCount, std::int32_t timeoutMs, bool oneQuantum)
{
    using SteadyClock = std::chrono::steady_clock;
    auto now = [] { return std::chrono::duration<double>(SteadyClock::now().time_since_epoch()).count(); };
    if (!FPaced) {
        TWriteResult r = Port->Write(data, count, wake, wakeCount, timeoutMs);
        FHanded += r.Written;
        return r;
    }
    const double deadline = timeoutMs < 0 ? -1 : now() + timeoutMs / 1000.0;
    TWriteResult total;
    while (total.Written < count) {
        std::uint32_t room, quantum;
        double wait;
        {
            std::lock_guard lock(FPacerLock);
            room = FPacer.Room(now());
            wait = FPacer.Wait(now());
            quantum = FPacer.QuantumBytes();
        }
        const std::uint32_t want = count - total.Written;
        if (room < std::min(want, std::max<std::uint32_t>(quantum / 2, 1))) {
            std::int32_t ms = static_cast<std::int32_t>(std::ceil(wait * 1000));
            if (deadline >= 0) {
                const double left = deadline - now();
                if (left <= 0) {
                    total.TimedOut = true;
                    return total;
                }
                ms = std::min(ms, static_cast<std::int32_t>(std::ceil(left * 1000)));
            }
            const int w = WaitForEvents(wake, wakeCount, std::max(ms, 1));
            if (w >= 0) {
                total.Woken = w;
                return total;
            }
            if (oneQuantum && wakeCount > 0) {
                total.Woken = wakeCount;  // room now: the caller looks at its buffer again
                return total;
            }
            continue;
        }
        const std::int32_t left =
            deadline < 0 ? -1 : static_cast<std::int32_t>(std::max(0.0, (deadline - now()) * 1000));
        const TWriteResult r = Port->Write(data + total.Written, std::min(want, room), wake, wakeCount, left);
        total.Written += r.Written;
        FHanded += r.Written;
        {
            std::lock_guard lock(FPacerLock);
            FPacer.Hand(r.Written, now());
        }
        if (r.Error || r.Woken >= 0 || r.TimedOut) {
            total.Error = r.Error;
            total.Woken = r.Woken;
            total.TimedOut = r.TimedOut;
            return total;
        }
        if (oneQuantum)
            return total;
    }
    return total;
}

std::uint32_t TVaCustomComm::PacedQueue()
{
    if (!FPaced)
        return 0;
    std::lock_guard lock(FPacerLock);
    return FPacer.Queued(std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

std::uint64_t TVaCustomComm::DropStaged()
{
    std::shared_ptr<TVaCommWriteThread> writer;
    {
        std::lock_guard lock(FGlobalLock.Native());
        writer = FMachinery->WriteThread;
    }
    // The writer drops what is staged and abandons a write in flight; what that write had
    // handed by then is counted before it acknowledges.
    if (writer)
        writer->PurgeWrite();
    return FHanded.load();
}

std::int32_t TVaCustomComm::OutputQueueCount()
{
    TVaCommStatus s;
    GetCommStatus(s);
    return static_cast<std::int32_t>(s.Stat.cbOutQue);
}

std::int32_t TVaCustomComm::WriteBufUsed()
{
    if (!Active())
        return 0;
    if (FDirectWrite)
        return OutputQueueCount();
    std::lock_guard lock(FWriteLock.Native());
    const auto& writer = FMachinery->WriteThread;
    return writer ? writer->Buffer.Size() : 0;
}

std::int32_t TVaCustomComm::WriteBufFree()
{
    if (!Active())
        return 0;
    if (FDirectWrite)
        return FBuffers.WriteSize() - OutputQueueCount();
    std::lock_guard lock(FWriteLock.Native());
    const auto& writer = FMachinery->WriteThread;
    return writer ? writer->Buffer.Capacity() - writer->Buffer.Size() : 0;
}

void TVaCustomComm::PurgeWrite()
{
    PurgeBuffers(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TVaCustomComm::PurgeRead()
{
    PurgeBuffers(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TVaCustomComm::PurgeReadWrite()
{
    PurgeBuffers(PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
}

void TVaCustomComm::PurgeBuffers(std::uint32_t flags)
{
    if (!Active())
        return;
    // The writer drops its staged bytes itself; its acknowledgement is waited for without
    // holding a lock.
    std::shared_ptr<TVaCommWriteThread> writer;
    {
        std::lock_guard lock(FGlobalLock.Native());
        writer = FMachinery->WriteThread;
    }
    if (flags != (PURGE_RXABORT | PURGE_RXCLEAR) && writer)
        writer->PurgeWrite();
    std::lock_guard lock(FGlobalLock.Native());
    if (!Active())
        return;
    if (int e = Port->Purge(flags))
        Error("Error clearing buffers (%d), %s", e);
}

// ---------------------------------------------------------------- receive path and events

void TVaCustomComm::HandleDataEvent()
{
    const std::int32_t n = ReadBufUsed();
    if (n <= 0)
        return;
    if (!FClients.empty()) {
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<std::size_t>(n)]);
        const std::int32_t got = ReadBuf(block.get(), n);
        WriteBuffer(block.get(), got);
    } else if (OnRxChar) {
        OnRxChar(this, n);
    }
}

void TVaCustomComm::WriteBuffer(const std::uint8_t* data, std::int32_t count)
{
    const std::uint64_t session = FSession;
    if (ControlsEnabled) {
        // A handler may detach or destroy a client, or close the port: each client is
        // looked up again before it is called.
        const auto clients = FClients;
        for (TVaDispatcher* c : clients) {
            if (FSession != session)
                return;
            if (std::find(FClients.begin(), FClients.end(), c) != FClients.end())
                c->DataEvent(data, count);
        }
    }
    if (FSession == session && OnRxBuf)
        OnRxBuf(this, data, count);
}

void TVaCustomComm::WriteEvents(std::uint32_t evtMask)
{
    if (!ControlsEnabled)
        return;
    const std::uint64_t session = FSession;
    const auto clients = FClients;
    for (TVaDispatcher* c : clients) {
        if (FSession != session)
            return;
        if (std::find(FClients.begin(), FClients.end(), c) != FClients.end())
            c->LineEvent(evtMask);
    }
}

void TVaCustomComm::HandleLineEvent(std::uint32_t evtMask)
{
    // A handler that closes the port ends the batch: the handlers after it are not called.
    const std::uint64_t session = FSession;
    if (evtMask & EV_ERR)
        ClearLineErrors();
    if (FSession != session)
        return;
    if (!FClients.empty())
        WriteEvents(evtMask);
    const std::pair<std::uint32_t, TVaNotifyEvent*> handlers[] = {
        {EV_RXFLAG, &OnRxFlag},     {EV_CTS, &OnCts},         {EV_DSR, &OnDsr},       {EV_RING, &OnRing},
        {EV_RLSD, &OnRlsd},         {EV_TXEMPTY, &OnTxEmpty}, {EV_BREAK, &OnBreak},   {EV_PERR, &OnPErr},
        {EV_RX80FULL, &OnRx80Full}, {EV_EVENT1, &OnEvent1},   {EV_EVENT2, &OnEvent2},
    };
    for (const auto& [bit, handler] : handlers) {
        if (FSession != session)
            return;
        if ((evtMask & bit) && *handler)
            (*handler)(this);
    }
}

bool TVaCustomComm::NoteLineLost(int error)
{
    int none = 0;
    return FLineLost.compare_exchange_strong(none, error);
}

void TVaCustomComm::DoLineLost(std::uint32_t errors)
{
    const std::uint64_t session = FSession;
    if (OnError) {
        try {
            OnError(this, static_cast<std::int32_t>(errors));
        } catch (...) {
            VaHandleException(std::current_exception());
        }
    }
    if (FSession == session && !FClients.empty())
        WriteEvents(EV_ERR);
}

std::int32_t TVaCustomComm::ReadBuf(std::uint8_t* data, std::int32_t count)
{
    if (!Active() || count <= 0)
        return 0;
    std::lock_guard lock(FGlobalLock.Native());
    // The read returns at once with what has arrived, so nothing is left pending when it
    // returns.
    std::uint32_t read = 0;
    if (int e = Port->Read(data, static_cast<std::uint32_t>(count), read))
        Error("Read error (%d), %s", e);
    return static_cast<std::int32_t>(read);
}

std::string TVaCustomComm::ReadText()
{
    const std::int32_t n = ReadBufUsed();
    if (n <= 0)
        return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    text.resize(static_cast<std::size_t>(ReadBuf(reinterpret_cast<std::uint8_t*>(text.data()), n)));
    return text;
}

bool TVaCustomComm::ReadChar(char& c)
{
    std::uint8_t b = 0;
    const bool ok = ReadBuf(&b, 1) == 1;
    if (ok)
        c = static_cast<char>(b);
    return ok;
}

std::int32_t TVaCustomComm::ReadBufUsed()
{
    if (!Active())
        return 0;
    TVaCommStatus s;
    GetCommStatus(s);
    return static_cast<std::int32_t>(s.Stat.cbInQue);
}

std::int32_t TVaCustomComm::ReadBufFree()
{
    if (!Active())
        return 0;
    return FBuffers.ReadSize() - ReadBufUsed();
}
