#include "serial/vacomm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "serial/vacomm_p.h"

using namespace commport;

std::uint32_t BaudrateValue(TVaBaudrate b)
{
    static constexpr std::uint32_t rates[] = {0,     110,   300,   600,   1200,   2400,   4800,   9600,
                                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return b <= br256000 ? rates[b] : 0;
}

namespace {

// Replaces the first "%d" with code and the first "%s" with text; a message without them is
// returned unchanged.
std::string FillCode(const std::string& message, int code, const std::string& text)
{
    std::string out = message;
    if (auto d = out.find("%d"); d != std::string::npos)
        out.replace(d, 2, std::to_string(code));
    if (auto s = out.find("%s"); s != std::string::npos)
        out.replace(s, 2, text);
    return out;
}

// The system's text for an error code, without trailing blanks, control characters and full
// stops.
std::string SystemText(int code)
{
    std::string t = std::strerror(code);
    while (!t.empty() && (static_cast<unsigned char>(t.back()) <= ' ' || t.back() == '.'))
        t.pop_back();
    return t;
}

}  // namespace

// ---------------------------------------------------------------- TVaCommBuffer

TVaCommBuffer::TVaCommBuffer(std::int32_t capacity)
    : Data(new std::uint8_t[static_cast<std::size_t>(std::max(capacity, 1))]), FCapacity(capacity)
{
}

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
    if (Comm.NoteLineLost(error))
        HandOverCall([this, errors] { Comm.DoLineLost(errors); });
}

TVaCommWriteThread::TVaCommWriteThread(TVaCustomComm& comm)
    : TVaCommThread(comm), Buffer(comm.Buffers().WriteSize())
{
}

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
            std::lock_guard lock(Comm.FWriteLock.Native());
            block = Buffer.DataPtr();
            n = static_cast<std::uint32_t>(Buffer.Size());
        }
        // Written straight from the block: the caller appends behind these bytes and
        // nothing moves them until this write has completed.
        const TWriteResult r = Comm.HandToPort(block, n, wake, 2, -1, true);
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
            if (const int lost = Comm.Port->LineLost(errors)) {
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
        std::lock_guard w(Comm.FWriteLock.Native());
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
        std::lock_guard lock(Comm.FWriteLock.Native());
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
    const bool acknowledged = State()->Cv.wait_for(lock, std::chrono::milliseconds(2000), [&] {
        return State()->PurgeAcknowledged >= id || State()->Stop;
    });
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
            std::lock_guard lock(Comm.FWriteLock.Native());
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
        const int e = Comm.Port->WaitEvent(mask, CompletionSignal, woken);
        if (Terminated())
            break;
        if (woken) {
            CompletionSignal.ResetEvent();
            continue;
        }
        if (e) {
            std::uint32_t errors = 0;
            if (const int lost = Comm.Port->LineLost(errors)) {
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
    const std::uint64_t session = Comm.Session();
    Comm.UpdateDisplay();
    if (Comm.Session() != session)
        return;
    if (mask & EV_RXCHAR) {
        Comm.HandleDataEvent();
        mask &= ~EV_RXCHAR;
        if (Comm.Session() != session)
            return;
    }
    if (mask != 0)
        Comm.HandleLineEvent(mask);
}

// ---------------------------------------------------------------- TVaCustomComm

TVaCustomComm::TVaCustomComm()
{
    FBuffers.OnChange = [this] { BuffersChanged(); };
    FEventChars.OnChange = [this] { EventCharsChanged(); };
    FFlowControl.OnChange = [this] { FlowControlChanged(); };
}

TVaCustomComm::~TVaCustomComm()
{
    Destroying = true;
    try {
        Close();
    } catch (...) {
        VaHandleException(std::current_exception());
    }
    DestroyClients();
    SetDisplay(nullptr);
}

void TVaCustomComm::Error(const std::string& message, int code) const
{
    throw EVaCommError(FillCode(message, code, SystemText(code)));
}

void TVaCustomComm::Watch(bool ok, const std::string& message, int code) const
{
    if (!ok)
        Error(message, code);
}

void TVaCustomComm::CheckOpen() const
{
    if (Active())
        throw EVaCommError("Can't perform this operation while port is open");
}

std::string TVaCustomComm::GetDeviceName() const
{
    // The pattern takes the port number as its one "%d"; "%%" stands for "%".
    std::string out;
    bool used = false;
    for (std::size_t i = 0; i < FDeviceName.size(); ++i) {
        if (FDeviceName[i] == '%' && i + 1 < FDeviceName.size()) {
            if (FDeviceName[i + 1] == 'd' && !used) {
                out += std::to_string(FPortNum);
                used = true;
                ++i;
                continue;
            }
            if (FDeviceName[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += FDeviceName[i];
    }
    // Messages show the name without the device-namespace prefix of the default pattern.
    if (out.rfind("\\\\.\\", 0) == 0)
        out.erase(0, 4);
    return out;
}

std::string TVaCustomComm::GetDeviceNameEx() const
{
    return SystemDeviceName(GetDeviceName());
}

void TVaCustomComm::Loaded()
{
    if (AutoOpen)
        Open();
}

void TVaCustomComm::Open()
{
    CheckOpen();
    CreateHandle();
    if (!Active())
        return;
    ++FSession;
    FLineLost = 0;
    FHanded = 0;
    // A line of unknown rate is not paced.
    FPaced = LineBytesPerSecond() > 0 && (FPaceLine == plOn || (FPaceLine == plAuto && Port->PseudoTerminal()));
    {
        std::lock_guard lock(FPacerLock);
        FPacer = TLinePacer(LineBytesPerSecond());
    }
    try {
        SetDCB();
        UpdateBuffers();
        UpdateTimeouts();
        UpdateEventMask();
        CreateThreads();
    } catch (...) {
        // A failed step leaves neither a thread nor a handle behind.
        DestroyThreads();
        DestroyHandle();
        throw;
    }
    DoOpen();
}

void TVaCustomComm::CreateHandle()
{
    int error = 0;
    Port = OpenPort(GetDeviceNameEx(), error);
    if (Port)
        return;
    if (error == ENOENT)
        Error("Specified device not found (" + GetDeviceName() + ").");
    Error("Can't open specified device " + GetDeviceName() + " (Error %d, %s)", error);
}

void TVaCustomComm::DestroyHandle()
{
    Port.reset();
}

commport::TDcb TVaCustomComm::BuildDcb() const
{
    TDcb d;
    d.BaudRate = FBaudrate == brUser ? static_cast<std::uint32_t>(FUserBaudrate) : BaudrateValue(FBaudrate);
    d.ByteSize = static_cast<std::uint8_t>(4 + FDatabits);
    d.Parity = FParity;
    d.StopBits = FStopbits;
    d.XonChar = FEventChars.XonChar();
    d.XoffChar = FEventChars.XoffChar();
    d.ErrorChar = FEventChars.ErrorChar();
    d.EvtChar = FEventChars.EventChar();
    d.EofChar = FEventChars.EofChar();
    d.XonLim = static_cast<std::uint16_t>(FBuffers.XonLimit());
    d.XoffLim = static_cast<std::uint16_t>(FBuffers.XoffLimit());
    std::uint32_t f = fBinary;
    const TVaFlowControl& fc = FFlowControl;
    if (fc.OutCtsFlow()) f |= fOutxCtsFlow;
    if (fc.OutDsrFlow()) f |= fOutxDsrFlow;
    if (fc.ControlDtr() == dtrEnabled) f |= DTR_CONTROL_ENABLE;
    if (fc.ControlDtr() == dtrHandshake) f |= DTR_CONTROL_HANDSHAKE;
    if (fc.DsrSensitivity()) f |= fDsrSensitivity;
    if (fc.TxContinueOnXoff()) f |= fTXContinueOnXoff;
    if (fc.XonXoffOut()) f |= fOutX;
    if (fc.XonXoffIn()) f |= fInX;
    if (FOptions.Contains(coErrorChar)) f |= fErrorChar;
    if (FOptions.Contains(coNullStrip)) f |= fNull;
    if (FOptions.Contains(coParityCheck)) f |= fParity;
    if (fc.ControlRts() == rtsEnabled) f |= RTS_CONTROL_ENABLE;
    if (fc.ControlRts() == rtsHandshake) f |= RTS_CONTROL_HANDSHAKE;
    if (fc.ControlRts() == rtsToggle) f |= RTS_CONTROL_TOGGLE;
    d.Flags = f;
    return d;
}

void TVaCustomComm::SetDCB()
{
    if (!Active() || !FUpdateDCB)
        return;
    if (int e = Port->SetState(BuildDcb()))
        Error("Error writing dcb (%d), %s", e);
    if (const double rate = LineBytesPerSecond(); rate > 0) {
        std::lock_guard lock(FPacerLock);
        FPacer.SetRate(rate);
    }
}

void TVaCustomComm::UpdateBuffers()
{
    if (!Active())
        return;
    if (int e = Port->Setup(static_cast<std::uint32_t>(FBuffers.ReadSize()), static_cast<std::uint32_t>(FBuffers.WriteSize())))
        Error("Error initializing buffers (%d), %s", e);
}

void TVaCustomComm::UpdateTimeouts()
{
    if (!Active())
        return;
    if (int e = Port->SetTimeouts())
        Error("Error setting timeouts (%d), %s", e);
}

void TVaCustomComm::UpdateEventMask()
{
    static constexpr std::uint32_t bits[] = {EV_BREAK, EV_CTS,     EV_DSR,      EV_ERR,    EV_RING,
                                             EV_RLSD,  EV_RXCHAR,  EV_TXEMPTY,  EV_RXFLAG, EV_PERR,
                                             EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    FEventMask = 0;
    for (int m = ceBreak; m <= ceEvent2; ++m)
        if (FMonitorEvents.Contains(static_cast<TVaCommEvent>(m)))
            FEventMask |= bits[m];
    // In staged mode the writer reports transmit-empty itself.
    if (!FDirectWrite)
        FEventMask &= ~EV_TXEMPTY;
    if (Active())
        if (int e = Port->SetMask(FEventMask))
            Error(" Error setting EventMask (%d), %s", e);
}

void TVaCustomComm::CreateThreads()
{
    if (FEventMask != 0) {
        EventThread = std::make_unique<TVaCommEventThread>(*this);
        EventThread->SetPriority(FEventPriority);
        EventThread->Start();
    }
    if (!FDirectWrite) {
        WriteThread = std::make_unique<TVaCommWriteThread>(*this);
        WriteThread->SetPriority(FWritePriority);
        WriteThread->Start();
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
        if (EventThread)
            EventThread->StopThread();
        if (WriteThread)
            WriteThread->StopThread();
        events = std::move(EventThread);
        std::lock_guard w(FWriteLock.Native());
        writer = std::move(WriteThread);
    }
    if (events)
        events->Join();
    if (writer)
        writer->Join();
}

void TVaCustomComm::Close()
{
    if (!Active())
        return;
    DestroyThreads();  // staged bytes are dropped with the writer
    DestroyHandle();
    ++FSession;
    DoClose();
}

void TVaCustomComm::DoOpen()
{
    if (!OnOpen)
        return;
    try {
        OnOpen(this);
    } catch (...) {
        VaHandleException(std::current_exception());
    }
}

void TVaCustomComm::DoClose()
{
    if (!Destroying && OnClose)
        OnClose(this);
}

void TVaCustomComm::ToggleCommState(std::uint32_t function)
{
    if (!Active())
        return;
    if (int e = Port->Escape(function))
        Error("Error calling comm function (%d), %s", e);
}

void TVaCustomComm::SetDTR(bool on)
{
    if (FFlowControl.ControlDtr() == dtrHandshake)
        throw EVaCommError("DTR line updates not allowed when flowcontrol is set to Handshake.");
    ToggleCommState(on ? SETDTR : CLRDTR);
}

void TVaCustomComm::SetRTS(bool on)
{
    if (FFlowControl.ControlRts() == rtsHandshake || FFlowControl.ControlRts() == rtsToggle)
        throw EVaCommError("RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    ToggleCommState(on ? SETRTS : CLRRTS);
}

void TVaCustomComm::SetBreak(bool on)
{
    ToggleCommState(on ? SETBREAK : CLRBREAK);
}

void TVaCustomComm::SetXon(bool on)
{
    ToggleCommState(on ? SETXON : SETXOFF);
}

void TVaCustomComm::ResetDev()
{
    ToggleCommState(RESETDEV);
}

void TVaCustomComm::GetCommStatus(TVaCommStatus& status)
{
    std::lock_guard lock(FGlobalLock.Native());
    status = TVaCommStatus{};
    if (!Active())
        return;
    if (int e = Port->ClearError(status.Errors, status.Stat)) {
        status = TVaCommStatus{};
        Error("Error retrieving statistics (%d), %s", e);
    }
    status.Stat.cbOutQue += PacedQueue();
}

bool TVaCustomComm::ClearLineErrors()
{
    TVaCommStatus s;
    GetCommStatus(s);
    if (s.Errors != 0 && OnError) {
        try {
            OnError(this, static_cast<std::int32_t>(s.Errors));
        } catch (...) {
            VaHandleException(std::current_exception());
        }
    }
    return s.Errors != 0;
}

bool TVaCustomComm::GetComStat(std::int32_t index)
{
    TVaCommStatus s;
    GetCommStatus(s);
    if (index < 1 || index > 8)
        return false;
    return (s.Stat.Flags >> (index - 1)) & 1u;
}

bool TVaCustomComm::GetModemStatus(std::int32_t index)
{
    std::uint32_t status = 0;
    if (Active())
        if (int e = Port->ModemStatus(status))
            Error("Error reading modem state (%d), %s", e);
    switch (index) {
    case 1: return status & MS_CTS_ON;
    case 2: return status & MS_DSR_ON;
    case 3: return status & MS_RING_ON;
    case 4: return status & MS_RLSD_ON;
    default: return false;
    }
}

void TVaCustomComm::GetProperties()
{
    FCommProperties = TCommProp{};
    if (!Active())
        throw EVaCommError("Can't perform this operation while port is closed");
    if (int e = Port->Properties(FCommProperties))
        Error("Error reading port properties (%d), %s", e);
}

void TVaCustomComm::ResetPortParameters()
{
    TDcb d;
    if (DefaultConfig(GetDeviceNameEx(), d) != 0)
        throw EVaCommError("Error reading default port parameters.");
    FBaudrate = brUser;
    FUserBaudrate = static_cast<std::int32_t>(d.BaudRate);
    for (int b = br110; b <= br256000; ++b)
        if (BaudrateValue(static_cast<TVaBaudrate>(b)) == d.BaudRate) {
            FBaudrate = static_cast<TVaBaudrate>(b);
            FUserBaudrate = 0;
        }
    FParity = d.Parity <= paSpace ? static_cast<TVaParity>(d.Parity) : paNone;
    FDatabits = d.ByteSize >= 4 && d.ByteSize <= 8 ? static_cast<TVaDatabits>(d.ByteSize - 4) : db8;
    FStopbits = d.StopBits <= sb2 ? static_cast<TVaStopbits>(d.StopBits) : sb1;
    const std::uint32_t dtr = d.Flags & fDtrControlMask, rts = d.Flags & fRtsControlMask;
    FFlowControl.SetControlDtr(dtr == DTR_CONTROL_ENABLE ? dtrEnabled : dtr == DTR_CONTROL_HANDSHAKE ? dtrHandshake : dtrDisabled);
    FFlowControl.SetControlRts(rts == RTS_CONTROL_ENABLE      ? rtsEnabled
                               : rts == RTS_CONTROL_HANDSHAKE ? rtsHandshake
                               : rts == RTS_CONTROL_TOGGLE    ? rtsToggle
                                                              : rtsDisabled);
    FFlowControl.SetOutCtsFlow(d.Flags & fOutxCtsFlow);
    FFlowControl.SetOutDsrFlow(d.Flags & fOutxDsrFlow);
    FFlowControl.SetDsrSensitivity(d.Flags & fDsrSensitivity);
    FFlowControl.SetTxContinueOnXoff(d.Flags & fTXContinueOnXoff);
    FFlowControl.SetXonXoffOut(d.Flags & fOutX);
    FFlowControl.SetXonXoffIn(d.Flags & fInX);
    FEventChars.SetXonChar(d.XonChar);
    FEventChars.SetXoffChar(d.XoffChar);
    FEventChars.SetErrorChar(d.ErrorChar);
    FEventChars.SetEventChar(d.EvtChar);
    FEventChars.SetEofChar(d.EofChar);
    FBuffers.SetXonLimit(d.XonLim);
    FBuffers.SetXoffLimit(d.XoffLim);
    TVaCommOptions o;
    if (d.Flags & fErrorChar) o.Include(coErrorChar);
    if (d.Flags & fNull) o.Include(coNullStrip);
    if (d.Flags & fParity) o.Include(coParityCheck);
    FOptions = o;
}

// ---------------------------------------------------------------- write path

std::int32_t TVaCustomComm::WriteBuf(const std::uint8_t* data, std::int32_t count)
{
    if (!Active())
        return 0;
    if (const int lost = FLineLost.load())
        Error("Write error (%d), %s", lost);
    if (!FDirectWrite) {
        if (!WriteThread || !WriteThread->WriteData(data, count))
            throw EVaCommError("Output buffer is full. Please check comm status.");
        return count;
    }
    std::lock_guard lock(FWriteLock.Native());
    TVaEvent* const none[] = {nullptr};
    // A write still under way when the time is up is not left behind: what was handed to
    // the system by then is what the caller is told.
    const TWriteResult r = HandToPort(data, static_cast<std::uint32_t>(std::max(count, 0)), none, 0,
                                      FBuffers.ReadTimeout, false);
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
        const std::int32_t left = deadline < 0 ? -1 : static_cast<std::int32_t>(std::max(0.0, (deadline - now()) * 1000));
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
        writer = WriteThread;
    }
    // The writer drops what is staged and abandons a write in flight; what that write had
    // handed by then is counted before it acknowledges.
    if (writer)
        writer->PurgeWrite();
    return FHanded.load();
}

double TVaCustomComm::LineBytesPerSecond() const
{
    const double baud = FBaudrate == brUser ? FUserBaudrate : BaudrateValue(FBaudrate);
    const double data = 4 + static_cast<int>(FDatabits);
    const double parity = FParity == paNone ? 0 : 1;
    const double stop = FStopbits == sb1 ? 1 : FStopbits == sb15 ? 1.5 : 2;
    return baud / (1 + data + parity + stop);
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
    return WriteThread ? WriteThread->Buffer.Size() : 0;
}

std::int32_t TVaCustomComm::WriteBufFree()
{
    if (!Active())
        return 0;
    if (FDirectWrite)
        return FBuffers.WriteSize() - OutputQueueCount();
    std::lock_guard lock(FWriteLock.Native());
    return WriteThread ? WriteThread->Buffer.Capacity() - WriteThread->Buffer.Size() : 0;
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
        writer = WriteThread;
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
        {EV_RXFLAG, &OnRxFlag}, {EV_CTS, &OnCts},       {EV_DSR, &OnDsr},           {EV_RING, &OnRing},
        {EV_RLSD, &OnRlsd},     {EV_TXEMPTY, &OnTxEmpty}, {EV_BREAK, &OnBreak},     {EV_PERR, &OnPErr},
        {EV_RX80FULL, &OnRx80Full}, {EV_EVENT1, &OnEvent1}, {EV_EVENT2, &OnEvent2},
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

void TVaCustomComm::InsertClient(TVaDispatcher* client)
{
    client->Comm = this;
    FClients.push_back(client);
}

void TVaCustomComm::RemoveClient(TVaDispatcher* client)
{
    auto it = std::find(FClients.begin(), FClients.end(), client);
    if (it == FClients.end())
        return;
    client->Comm = nullptr;
    FClients.erase(it);
}

void TVaCustomComm::DestroyClients()
{
    // Each client's link is cleared, and a client that is a component is told, as it would
    // be of any component it links to going away.
    while (!FClients.empty()) {
        TVaDispatcher* client = FClients.back();
        RemoveClient(client);
        if (auto* component = dynamic_cast<TVaComponent*>(client->User))
            component->Notification(this, true);
    }
}

void TVaCustomComm::SetDisplay(TVaCommDisplay* value)
{
    if (value == FDisplay)
        return;
    if (FDisplay)
        FDisplay->FComm = nullptr;
    if (value) {
        if (value->FComm)
            value->FComm->SetDisplay(nullptr);
        value->FComm = this;
    }
    FDisplay = value;
}

TVaCommDisplay::~TVaCommDisplay()
{
    if (FComm)
        FComm->Notification(this, true);
}

void TVaCustomComm::UpdateDisplay()
{
    if (FDisplay)
        FDisplay->UpdateFrom(*this);
}

void TVaCustomComm::Notification(TVaComponent* component, bool removing)
{
    if (removing && component == FDisplay)
        SetDisplay(nullptr);
    TVaComponent::Notification(component, removing);
}

// ---------------------------------------------------------------- property setters

void TVaCustomComm::SetBaudrate(TVaBaudrate value)
{
    if (value != FBaudrate)
        SetRate(value, value == brUser ? FUserBaudrate : 0);
}

void TVaCustomComm::SetRate(TVaBaudrate rate, std::int32_t user)
{
    // A rate the line refuses is not kept, as with every line setting.
    const TVaBaudrate before = FBaudrate;
    const std::int32_t userBefore = FUserBaudrate;
    FBaudrate = rate;
    FUserBaudrate = user;
    try {
        SetDCB();
    } catch (...) {
        FBaudrate = before;
        FUserBaudrate = userBefore;
        throw;
    }
}

void TVaCustomComm::SetParity(TVaParity value)
{
    SetLineSetting(FParity, value);
}

void TVaCustomComm::SetDatabits(TVaDatabits value)
{
    SetLineSetting(FDatabits, value);
}

void TVaCustomComm::SetStopbits(TVaStopbits value)
{
    SetLineSetting(FStopbits, value);
}

void TVaCustomComm::SetOptions(TVaCommOptions value)
{
    SetLineSetting(FOptions, value);
}

void TVaCustomComm::SetPortNum(TVaPortInt value)
{
    CheckOpen();
    FPortNum = value;
}

void TVaCustomComm::SetDeviceName(const std::string& value)
{
    CheckOpen();
    FDeviceName = value;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents value)
{
    CheckOpen();
    FMonitorEvents = value;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& value)
{
    CheckOpen();
    FBuffers.Assign(value);
}

void TVaCustomComm::BuffersChanged()
{
    CheckOpen();
    UpdateBuffers();
    SetDCB();
}

void TVaCustomComm::SetEventPriority(TThreadPriority value)
{
    if (value == FEventPriority)
        return;
    FEventPriority = value;
    if (EventThread)
        EventThread->SetPriority(value);
}

void TVaCustomComm::SetWritePriority(TThreadPriority value)
{
    if (value == FWritePriority)
        return;
    FWritePriority = value;
    if (WriteThread)
        WriteThread->SetPriority(value);
}

void TVaCustomComm::SetDirectWrite(bool value)
{
    CheckOpen();
    FDirectWrite = value;
}

void TVaCustomComm::SetUpdateDCB(bool value)
{
    CheckOpen();
    FUpdateDCB = value;
}

void TVaCustomComm::SetUserBaudrate(std::int32_t value)
{
    if (value != FUserBaudrate)
        SetRate(brUser, value);
}

// ---------------------------------------------------------------- clients

TVaDispatcher::~TVaDispatcher()
{
    if (Comm)
        Comm->RemoveClient(this);
}

void TVaDispatcher::SetDTRState(bool on)
{
    if (Comm)
        Comm->SetDTR(on);
}

void TVaDispatcher::PurgeRead()
{
    if (Comm)
        Comm->PurgeRead();
}

void TVaDispatcher::PurgeWrite()
{
    if (Comm)
        Comm->PurgeWrite();
}

void TVaDispatcher::PurgeReadWrite()
{
    if (Comm)
        Comm->PurgeReadWrite();
}

std::int32_t TVaDispatcher::WriteBuf(const std::uint8_t* data, std::int32_t count)
{
    return Comm ? Comm->WriteBuf(data, count) : 0;
}

bool TVaDispatcher::WriteText(const std::string& text)
{
    return Comm ? Comm->WriteText(text) : false;
}

bool TVaDispatcher::WriteChar(char c)
{
    return Comm ? Comm->WriteChar(c) : false;
}

void TVaDispatcher::DataEvent(const std::uint8_t* data, std::int32_t count)
{
    if (Active)
        User->DataChanged(data, count);
}

void TVaDispatcher::LineEvent(std::uint32_t evtMask)
{
    if (Active)
        User->LineChanged(evtMask);
}

TVaCommComponent::TVaCommComponent() : FDispatcher(std::make_unique<TVaDispatcher>(this)) {}

TVaCommComponent::~TVaCommComponent()
{
    FDispatcher.reset();
}

void TVaCommComponent::SetComm(TVaCustomComm* comm)
{
    if (TVaCustomComm* old = FDispatcher->Comm)
        old->RemoveClient(FDispatcher.get());
    if (comm)
        comm->InsertClient(FDispatcher.get());
}

void TVaCommComponent::Notification(TVaComponent* component, bool removing)
{
    TVaComponent::Notification(component, removing);
    if (removing && component == Comm())
        SetComm(nullptr);
}
