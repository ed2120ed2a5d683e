#include "serial/vacomm.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "serial/vacomm_p.h"

using namespace commport;

// ---------------------------------------------------------------- TVaCommBuffer

TVaCommBuffer::TVaCommBuffer(std::int32_t capacity)
    : Data(new std::uint8_t[static_cast<std::size_t>(std::max(capacity, 1))]), FCapacity(capacity)
{}

void TVaCommBuffer::Write(const std::uint8_t* source, std::int32_t count)
{
    if (count > 0)
        std::memcpy(Data.get() + FSize, source, static_cast<std::size_t>(count));
    FSize += count;
}

void TVaCommBuffer::Peek(std::uint8_t* dest, std::int32_t count) const
{
    if (count > 0)
        std::memcpy(dest, Data.get(), static_cast<std::size_t>(count));
}

void TVaCommBuffer::Read(std::uint8_t* dest, std::int32_t count)
{
    Peek(dest, count);
    Remove(count);
}

void TVaCommBuffer::Remove(std::int32_t count)
{
    if (count <= 0)
        return;
    std::memmove(Data.get(), Data.get() + count, static_cast<std::size_t>(FSize - count));
    FSize -= count;
}

// ---------------------------------------------------------------- threads

TVaCommThread::~TVaCommThread()
{
    Join();
}

void TVaCommThread::Start()
{
    Thread = std::thread([this] {
        Tid = CurrentThreadId();
        ApplyPriority();
        Execute();
    });
}

void TVaCommThread::Terminate()
{
    FTerminated = true;
    {
        std::lock_guard lock(FState->M);
        FState->Stop = true;
    }
    FState->Cv.notify_all();
}

void TVaCommThread::Join()
{
    // A handler that closes the port while running on this very thread (no dispatcher)
    // cannot wait for it; the thread ends by itself once the handler returns.
    if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id())
        Thread.join();
    else if (Thread.joinable())
        Thread.detach();
}

void TVaCommThread::SetPriority(TThreadPriority priority)
{
    Priority = priority;
    ApplyPriority();
}

void TVaCommThread::ApplyPriority()
{
    if (const long tid = Tid.load())
        SetThreadPriority(tid, Priority.load());
}

bool TVaCommThread::HandOverCall(std::function<void()> call)
{
    return HandOver(Comm.Dispatcher(), State(), [self = shared_from_this(), call = std::move(call)] { call(); });
}

void TVaCommThread::ReportLineLost(int error, std::uint32_t errors)
{
    if (Machinery.NoteLineLost(error))
        HandOverCall([this, errors] { Machinery.DoLineLost(errors); });
}

TVaCommWriteThread::TVaCommWriteThread(TVaCommMachinery& machinery)
    : TVaCommThread(machinery), Buffer(machinery.Comm.Buffers().WriteSize())
{}

TVaCommWriteThread::~TVaCommWriteThread()
{
    StopThread();
    Join();
}

void TVaCommWriteThread::StopThread()
{
    Terminate();
    StopSignal.SetEvent();
    RoomChanged();
}

void TVaCommWriteThread::Execute()
{
    TVaEvent* const events[] = {&StopSignal, &PurgeSignal, &DataReady};
    TVaEvent* const wake[] = {&StopSignal, &PurgeSignal};
    while (!Terminated()) {
        const int which = WaitForEvents(events, 3, -1);
        if (which == 0 || which < 0)
            break;
        if (which == 1) {
            AcknowledgePurge();
            continue;
        }
        std::uint8_t* block;
        std::uint32_t n;
        {
            std::lock_guard lock(Machinery.WriteLock());
            block = Buffer.DataPtr();
            n = static_cast<std::uint32_t>(Buffer.Size());
        }
        // Written straight from the block: the caller appends behind these bytes and
        // nothing moves them until this write has completed.
        const TWriteResult r = Machinery.HandToPort(block, n, wake, 2, -1, true);
        if (r.Woken == 0)
            break;
        if (r.Woken == 1) {
            AcknowledgePurge();  // the write in flight is abandoned: it removes nothing
            continue;
        }
        if (r.Woken == 2)
            continue;  // a paced line's wait, with nothing handed
        if (r.Error) {
            std::uint32_t errors = 0;
            if (const int lost = Machinery.Port().LineLost(errors)) {
                // Nothing more can be written: report it once, then only answer purges
                // until the port is closed. The bytes stay staged, unsent.
                ReportLineLost(lost, errors);
                while (WaitForEvents(wake, 2, -1) == 1)
                    AcknowledgePurge();
                break;
            }
            HandOverCall([this] { DoWriteError(); });
            // The bytes stay staged and are tried again; a device that keeps refusing is
            // retried every 50 ms rather than as fast as the processor allows.
            WaitForEvents(wake, 2, 50);
            continue;
        }
        Complete(r.Written);
    }
}

void TVaCommWriteThread::AcknowledgePurge()
{
    // The writer drops the staged bytes itself, so a purge can never race a write in flight.
    // The drop and the acknowledgement are one step under both locks, and only a request
    // still waited for drops anything: a purge that gave up waiting must not later take
    // bytes staged after it returned.
    PurgeSignal.ResetEvent();
    {
        std::lock_guard w(Machinery.WriteLock());
        std::lock_guard lock(State()->M);
        if (State()->PurgeRequested > std::max(State()->PurgeAcknowledged, State()->PurgeWithdrawn)) {
            Buffer.Clear();
            DataReady.ResetEvent();
        }
        State()->PurgeAcknowledged = State()->PurgeRequested;
    }
    State()->Cv.notify_all();
    PurgeDone.SetEvent();
    RoomChanged();
}

void TVaCommWriteThread::Complete(std::uint32_t written)
{
    bool empty;
    {
        std::lock_guard lock(Machinery.WriteLock());
        Buffer.Remove(std::min(static_cast<std::int32_t>(written), Buffer.Size()));
        empty = Buffer.Size() == 0;
        if (empty)
            DataReady.ResetEvent();
        else
            DataReady.SetEvent();
    }
    RoomChanged();
    if (TUiDispatcher* d = Comm.Dispatcher())
        d->Wake();  // a caller waiting for room or for the drain looks again
    if (empty)
        HandOverCall([this] { DoTxEmpty(); });
}

void TVaCommWriteThread::RoomChanged()
{
    {
        std::lock_guard lock(RoomM);
        ++RoomSeq;
    }
    RoomCv.notify_all();
}

void TVaCommWriteThread::DoTxEmpty()
{
    Comm.HandleLineEvent(EV_TXEMPTY);
}

void TVaCommWriteThread::DoWriteError()
{
    Comm.HandleLineEvent(EV_ERR);
}

bool TVaCommWriteThread::PurgeWrite()
{
    std::uint64_t id;
    {
        std::lock_guard lock(State()->M);
        id = ++State()->PurgeRequested;
    }
    PurgeDone.ResetEvent();
    PurgeSignal.SetEvent();
    State()->Cv.notify_all();  // a writer waiting on a hand-over gives up the wait
    std::unique_lock lock(State()->M);
    const bool acknowledged = State()->Cv.wait_for(lock, std::chrono::milliseconds(kPurgeWaitMilliseconds),
                                                   [&] { return State()->PurgeAcknowledged >= id || State()->Stop; });
    if (acknowledged && State()->PurgeAcknowledged >= id)
        return true;
    State()->PurgeWithdrawn = id;  // a late acknowledgement leaves the buffer alone
    return false;
}

bool TVaCommWriteThread::WriteData(const std::uint8_t* data, std::int32_t count)
{
    // The room test uses the capacity the buffer was made with at Open, whatever
    // Buffers.WriteSize says now.
    if (count < 0)
        return false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(Comm.Buffers().WriteTimeout, 0));
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(RoomM);
            seen = RoomSeq;
        }
        {
            std::lock_guard lock(Machinery.WriteLock());
            if (static_cast<std::int64_t>(Buffer.Size()) + count <= Buffer.Capacity()) {
                Buffer.Write(data, count);
                DataReady.SetEvent();
                return true;
            }
        }
        // No lock of the component is held while waiting for the writer to make room.
        std::unique_lock lock(RoomM);
        if (!RoomCv.wait_until(lock, deadline, [&] { return RoomSeq != seen || Terminated(); }) || Terminated())
            return false;
    }
}

TVaCommEventThread::~TVaCommEventThread()
{
    StopThread();
    Join();
}

void TVaCommEventThread::StopThread()
{
    Terminate();
    CompletionSignal.SetEvent();
}

void TVaCommEventThread::Execute()
{
    while (!Terminated()) {
        std::uint32_t mask = 0;
        bool woken = false;
        const int e = Machinery.Port().WaitEvent(mask, CompletionSignal, woken);
        if (Terminated())
            break;
        if (woken) {
            CompletionSignal.ResetEvent();
            continue;
        }
        if (e) {
            std::uint32_t errors = 0;
            if (const int lost = Machinery.Port().LineLost(errors)) {
                // The port is not polled again: it would report the hang-up at once, forever.
                ReportLineLost(lost, errors);
                while (!Terminated())
                    CompletionSignal.WaitFor(-1);
                break;
            }
            // A refused wait is started again; not faster than every 50 ms.
            CompletionSignal.WaitFor(50);
            continue;
        }
        HandOverCall([this, mask] { DoEvent(mask); });
        if (!Terminated())
            CompletionSignal.ResetEvent();
    }
}

void TVaCommEventThread::DoEvent(std::uint32_t mask)
{
    const std::uint64_t session = Machinery.Session();
    Comm.UpdateDisplay();
    if (Machinery.Session() != session)
        return;
    if (mask & EV_RXCHAR) {
        Comm.HandleDataEvent();
        mask &= ~EV_RXCHAR;
        if (Machinery.Session() != session)
            return;
    }
    if (mask != 0)
        Comm.HandleLineEvent(mask);
}

void TVaCustomComm::CreateThreads()
{
    if (FEventMask != 0) {
        FMachinery->EventThread = std::make_shared<TVaCommEventThread>(*FMachinery);
        FMachinery->EventThread->SetPriority(FEventPriority);
        FMachinery->EventThread->Start();
    }
    if (!FDirectWrite) {
        FMachinery->WriteThread = std::make_shared<TVaCommWriteThread>(*FMachinery);
        FMachinery->WriteThread->SetPriority(FWritePriority);
        FMachinery->WriteThread->Start();
    }
}

void TVaCustomComm::DestroyThreads()
{
    // Stop requests under the global lock; the joins outside it, so that no lock is held
    // across a wait. A thread blocked on a hand-over is released by its stop request. When
    // this runs inside a handed-over call, that call still holds its thread object, which
    // goes when the call returns.
    std::shared_ptr<TVaCommEventThread> events;
    std::shared_ptr<TVaCommWriteThread> writer;
    {
        std::lock_guard lock(FGlobalLock.Native());
        if (FMachinery->EventThread)
            FMachinery->EventThread->StopThread();
        if (FMachinery->WriteThread)
            FMachinery->WriteThread->StopThread();
        events = std::move(FMachinery->EventThread);
        std::lock_guard w(FWriteLock.Native());
        writer = std::move(FMachinery->WriteThread);
    }
    if (events)
        events->Join();
    if (writer)
        writer->Join();
}
