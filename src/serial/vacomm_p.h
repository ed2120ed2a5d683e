#pragma once
// The serial component's own machinery: its worker threads and the staging buffer. Included
// by the component and its tests only.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/platform/commport.h"
#include "serial/vacomm.h"

// The settings the line record carries, as the component stores them.
struct TLineSettings {
    TVaBaudrate Baudrate = br1200;
    std::int32_t UserBaudrate = 0;  // the rate when Baudrate is brUser
    TVaParity Parity = paNone;
    TVaDatabits Databits = db8;
    TVaStopbits Stopbits = sb1;
    TVaControlDtr ControlDtr = dtrDisabled;
    TVaControlRts ControlRts = rtsDisabled;
    bool OutCtsFlow = false;
    bool OutDsrFlow = false;
    bool DsrSensitivity = false;
    bool TxContinueOnXoff = false;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    TVaCommOptions Options;
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EventChar = 0;
    char EofChar = 0;
    TVaIntW XonLimit = 1024;
    TVaIntW XoffLimit = 1024;
    bool operator==(const TLineSettings&) const = default;
};

// The line record for the settings, and back. LineSettingsOf(DcbOf(s)) == s for settings with
// rates the line record can carry; a record's values the component has no setting for read
// as its defaults (no parity, 8 data bits, one stop bit), a standard rate as its enumeration.
commport::TDcb DcbOf(const TLineSettings& s);
TLineSettings LineSettingsOf(const commport::TDcb& d);

// A flat staging block, not a ring: bytes held are the first Size bytes, oldest first. No
// operation checks bounds; callers keep within Size and Capacity.
class TVaCommBuffer {
public:
    explicit TVaCommBuffer(std::int32_t capacity);
    std::uint8_t* DataPtr() { return Data.get(); }
    std::int32_t Size() const { return FSize; }
    std::int32_t Capacity() const { return FCapacity; }
    void Clear() { FSize = 0; }
    void Write(const std::uint8_t* source, std::int32_t count);
    void Peek(std::uint8_t* dest, std::int32_t count) const;
    void Read(std::uint8_t* dest, std::int32_t count);
    void Remove(std::int32_t count);

private:
    std::unique_ptr<std::uint8_t[]> Data;
    std::int32_t FCapacity;
    std::int32_t FSize = 0;
};

class TVaCommEventThread;
class TVaCommWriteThread;

// What the component's worker threads need of it: the threads themselves, held for it, and
// the component's own parts they reach (it has no other friend).
struct TVaCommMachinery {
    explicit TVaCommMachinery(TVaCustomComm& comm) : Comm(comm) {}
    TVaCustomComm& Comm;
    // Shared with the calls they hand over, which may outlive a Close made inside them.
    // Replaced under the global lock, the writer under the write lock as well.
    std::shared_ptr<TVaCommEventThread> EventThread;
    std::shared_ptr<TVaCommWriteThread> WriteThread;

    commport::TCommPort& Port() const { return *Comm.Port; }
    std::recursive_mutex& WriteLock() const { return Comm.FWriteLock.Native(); }
    std::uint64_t Session() const { return Comm.Session(); }
    bool NoteLineLost(int error) const { return Comm.NoteLineLost(error); }
    void DoLineLost(std::uint32_t errors) const { Comm.DoLineLost(errors); }
    commport::TWriteResult HandToPort(const std::uint8_t* data, std::uint32_t count, TVaEvent* const* wake,
                                      int wakeCount, std::int32_t timeoutMs, bool oneQuantum) const
    {
        return Comm.HandToPort(data, count, wake, wakeCount, timeoutMs, oneQuantum);
    }
};

// A worker thread of the component: joined on destruction, never detached.
class TVaCommThread : public std::enable_shared_from_this<TVaCommThread> {
public:
    virtual ~TVaCommThread();
    void Start();
    // Waits for the thread's end; the stop request must have been made.
    void Join();
    void SetPriority(TThreadPriority priority);
    bool Terminated() const { return FTerminated.load(); }
    const std::shared_ptr<THandOverState>& State() const { return FState; }

protected:
    explicit TVaCommThread(TVaCommMachinery& machinery) : Comm(machinery.Comm), Machinery(machinery) {}
    virtual void Execute() = 0;
    void Terminate();
    // Hands call to the user-interface thread (see HandOver); this object lives on while the
    // call is queued or runs, so a handler may close the port under it.
    bool HandOverCall(std::function<void()> call);
    // Hands over the report of a lost line, unless the other thread has done so.
    void ReportLineLost(int error, std::uint32_t errors);
    TVaCustomComm& Comm;
    TVaCommMachinery& Machinery;

private:
    void ApplyPriority();
    std::thread Thread;
    std::atomic<bool> FTerminated{false};
    std::atomic<long> Tid{0};
    std::atomic<int> Priority{tpNormal};
    std::shared_ptr<THandOverState> FState = std::make_shared<THandOverState>();
};

class TVaCommWriteThread final : public TVaCommThread {
public:
    explicit TVaCommWriteThread(TVaCommMachinery& machinery);
    ~TVaCommWriteThread() override;

    void StopThread();
    // Asks the writer to drop what is staged; true when it acknowledged within this time.
    static constexpr int kPurgeWaitMilliseconds = 2000;
    bool PurgeWrite();
    // Stages the bytes, waiting up to WriteTimeout for the writer to make room; false when
    // there was none.
    bool WriteData(const std::uint8_t* data, std::int32_t count);

    TVaCommBuffer Buffer;
    TVaWaitEvent DataReady;
    TVaWaitEvent StopSignal;
    TVaWaitEvent PurgeSignal;
    TVaWaitEvent PurgeDone;
    TVaWaitEvent WriteDone;

protected:
    void Execute() override;

private:
    void AcknowledgePurge();
    void Complete(std::uint32_t written);
    void RoomChanged();
    void DoTxEmpty();
    void DoWriteError();
    // Room in the buffer: a count that the writer moves on after every change.
    std::mutex RoomM;
    std::condition_variable RoomCv;
    std::uint64_t RoomSeq = 0;
};

class TVaCommEventThread final : public TVaCommThread {
public:
    explicit TVaCommEventThread(TVaCommMachinery& machinery) : TVaCommThread(machinery) {}
    ~TVaCommEventThread() override;
    void StopThread();

    TVaWaitEvent CompletionSignal;

protected:
    void Execute() override;

private:
    void DoEvent(std::uint32_t mask);
};
