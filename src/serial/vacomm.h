#pragma once
// The serial port component: settings, open and close, the staged write path with its
// writer thread, the event thread with the receive path, and the client links.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/linepacer.h"
#include "serial/uidispatch.h"
#include "serial/vacommrec.h"
#include "serial/vaclasses.h"
#include "serial/vaobjects.h"
#include "serial/vaprst.h"
#include "serial/vatypes.h"
#include "serial/vautils.h"

class TVaCustomComm;
class TVaDispatcher;
struct TVaCommMachinery;
namespace commport {
class TCommPort;
struct TWriteResult;
}  // namespace commport

using TVaNotifyEvent = std::function<void(TVaCustomComm* sender)>;
using TVaCommErrorEvent = std::function<void(TVaCustomComm* sender, std::int32_t errors)>;
using TVaCommRxCharEvent = std::function<void(TVaCustomComm* sender, std::int32_t count)>;
using TVaCommRxBufEvent = std::function<void(TVaCustomComm* sender, const std::uint8_t* data, std::int32_t count)>;

// Line errors followed by the hold flags and queue counts: 16 bytes.
struct TVaCommStatus {
    std::uint32_t Errors = 0;
    commport::TComStat Stat;
};

// A component that shows the port's state; the component asks it to refresh per event batch.
// The link goes both ways: whichever of the two goes first unlinks the other.
class TVaCommDisplay : public TVaComponent {
public:
    ~TVaCommDisplay() override;
    virtual void UpdateFrom(TVaCustomComm& comm) = 0;
    // The component this display shows, if any.
    TVaCustomComm* Comm() const { return FComm; }

private:
    friend class TVaCustomComm;
    TVaCustomComm* FComm = nullptr;
};

class TVaCustomComm : public TVaComponent {
public:
    TVaCustomComm();
    ~TVaCustomComm() override;
    TVaCustomComm(const TVaCustomComm&) = delete;
    TVaCustomComm& operator=(const TVaCustomComm&) = delete;

    // --- open and close
    void Open();
    void Close();
    bool Active() const { return Port != nullptr; }
    void CheckOpen() const;
    void Loaded();
    std::string GetDeviceName() const;
    std::string GetDeviceNameEx() const;
    virtual void CreateHandle();
    void DestroyHandle();
    void SetDCB();
    void UpdateBuffers();
    void UpdateTimeouts();
    void UpdateEventMask();
    virtual void CreateThreads();
    void DestroyThreads();
    std::uint32_t EventMask() const { return FEventMask; }

    // --- line control and status
    void ToggleCommState(std::uint32_t function);
    void SetDTR(bool on);
    void SetRTS(bool on);
    void SetBreak(bool on);
    void SetXon(bool on);
    void ResetDev();
    void GetCommStatus(TVaCommStatus& status);
    bool ClearLineErrors();
    bool GetComStat(std::int32_t index);
    bool GetModemStatus(std::int32_t index);
    void GetProperties();
    const commport::TCommProp& CommProperties() const { return FCommProperties; }
    void ResetPortParameters();
    [[noreturn]] void Error(const std::string& message, int code = 0) const;
    void Watch(bool ok, const std::string& message, int code = 0) const;

    // --- write path
    std::int32_t WriteBuf(const std::uint8_t* data, std::int32_t count);
    bool WriteText(const std::string& text);
    bool WriteChar(char c);
    std::int32_t WriteBufUsed();
    std::int32_t WriteBufFree();
    void PurgeWrite();
    void PurgeRead();
    void PurgeReadWrite();
    void PurgeBuffers(std::uint32_t flags);
    void EnableControls() { ControlsEnabled = true; }
    void DisableControls() { ControlsEnabled = false; }
    bool GetControlsEnabled() const { return ControlsEnabled; }
    void WriteLock() { FWriteLock.Acquire(); }
    void WriteUnlock() { FWriteLock.Release(); }
    void GlobalLock() { FGlobalLock.Acquire(); }
    void GlobalUnlock() { FGlobalLock.Release(); }
    // The system's output queue: bytes handed on but not yet on the line. On a paced port
    // this includes what was handed but is not yet due on the line.
    std::int32_t OutputQueueCount();
    // Bytes handed to the system since Open.
    std::uint64_t BytesHanded() const { return FHanded.load(); }
    // Drops the staged bytes, leaving the system's queue to go, and returns BytesHanded():
    // the line then carries exactly the first that many bytes written since Open.
    std::uint64_t DropStaged();

    // --- receive path and events
    virtual void HandleDataEvent();
    virtual void HandleLineEvent(std::uint32_t evtMask);
    virtual void WriteEvents(std::uint32_t evtMask);
    virtual void WriteBuffer(const std::uint8_t* data, std::int32_t count);
    std::int32_t ReadBuf(std::uint8_t* data, std::int32_t count);
    std::string ReadText();
    bool ReadChar(char& c);
    std::int32_t ReadBufUsed();
    std::int32_t ReadBufFree();
    void InsertClient(TVaDispatcher* client);
    void RemoveClient(TVaDispatcher* client);
    void DestroyClients();
    const std::vector<TVaDispatcher*>& Clients() const { return FClients; }
    void UpdateDisplay();
    void Notification(TVaComponent* component, bool removing) override;

    // --- properties
    bool AutoOpen = false;
    TVaBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TVaBaudrate value);
    TVaParity Parity() const { return FParity; }
    void SetParity(TVaParity value);
    TVaDatabits Databits() const { return FDatabits; }
    void SetDatabits(TVaDatabits value);
    TVaStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TVaStopbits value);
    TVaEventChars& EventChars() { return FEventChars; }
    void SetEventChars(const TVaEventChars& value) { FEventChars.Assign(value); }
    TVaFlowControl& FlowControl() { return FFlowControl; }
    void SetFlowControl(const TVaFlowControl& value) { FFlowControl.Assign(value); }
    TVaCommOptions Options() const { return FOptions; }
    void SetOptions(TVaCommOptions value);
    TVaPortInt PortNum() const { return FPortNum; }
    void SetPortNum(TVaPortInt value);
    const std::string& DeviceName() const { return FDeviceName; }
    void SetDeviceName(const std::string& value);
    TVaCommEvents MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(TVaCommEvents value);
    TVaBuffers& Buffers() { return FBuffers; }
    void SetBuffers(const TVaBuffers& value);
    TThreadPriority EventPriority() const { return FEventPriority; }
    void SetEventPriority(TThreadPriority value);
    TThreadPriority WritePriority() const { return FWritePriority; }
    void SetWritePriority(TThreadPriority value);
    bool DirectWrite() const { return FDirectWrite; }
    void SetDirectWrite(bool value);
    bool UpdateDCB() const { return FUpdateDCB; }
    void SetUpdateDCB(bool value);
    std::int32_t UserBaudrate() const { return FUserBaudrate; }
    void SetUserBaudrate(std::int32_t value);
    TVaCommDisplay* Display() const { return FDisplay; }
    void SetDisplay(TVaCommDisplay* value);
    // Applies from the next Open.
    TVaPaceLine PaceLine() const { return FPaceLine; }
    void SetPaceLine(TVaPaceLine value) { FPaceLine = value; }
    // Whether the open port's writes keep to the line's rate.
    bool Paced() const { return FPaced; }
    // The line's bytes a second: the rate over the bits of a frame (start, data, parity, stop).
    double LineBytesPerSecond() const;

    TVaNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaNotifyEvent OnRxFlag;
    TVaCommRxBufEvent OnRxBuf;
    TVaNotifyEvent OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

    // The hand-over to the user-interface thread; the global one unless set.
    TUiDispatcher* Dispatcher() const { return FDispatcher ? FDispatcher : UiDispatcher(); }
    void SetDispatcher(TUiDispatcher* dispatcher) { FDispatcher = dispatcher; }

    // The record SetDCB applies, from the current settings.
    commport::TDcb BuildDcb() const;

    // The system's reason once the open line has been lost for good (hung up, unplugged),
    // else 0. The loss is reported once, by OnError with CE_IOE and the clients' EV_ERR;
    // from then on every call that needs the port raises EVaCommError until Close.
    int LineLost() const { return FLineLost.load(); }

private:
    // The worker threads reach the component's own parts through this, in vacomm_p.h.
    friend struct TVaCommMachinery;

    // Stores a line setting and applies the record when it changed.
    // A setting the line refuses is not kept.
    // The rate and the user rate together, both kept as they were when the line refuses them.
    void SetRate(TVaBaudrate rate, std::int32_t user);
    template <class T>
    void SetLineSetting(T& field, T value)
    {
        if (value == field)
            return;
        const T before = field;
        field = value;
        try {
            SetDCB();
        } catch (...) {
            field = before;
            throw;
        }
    }
    void BuffersChanged();
    void EventCharsChanged() { SetDCB(); }
    void FlowControlChanged() { SetDCB(); }
    void DoOpen();
    void DoClose();
    // A batch of handlers stops when one of them closed (or closed and reopened) the port.
    std::uint64_t Session() const { return FSession; }
    bool NoteLineLost(int error);
    void DoLineLost(std::uint32_t errors);
    // Hands bytes to the port, at the line's rate when paced: with oneQuantum set, at most
    // what may go now (the writer thread comes back for the rest).
    commport::TWriteResult HandToPort(const std::uint8_t* data, std::uint32_t count, TVaEvent* const* wake,
                                      int wakeCount, std::int32_t timeoutMs, bool oneQuantum);
    std::uint32_t PacedQueue();

    std::unique_ptr<commport::TCommPort> Port;
    // Lock order, where more than one is held: FGlobalLock, then FWriteLock, then a hand-over's
    // own mutex (THandOverState::M); FPacerLock is a leaf. No lock is held across a wait.
    TVaCriticalSection FWriteLock;
    TVaCriticalSection FGlobalLock;
    commport::TCommProp FCommProperties;
    // The worker threads, while open.
    const std::unique_ptr<TVaCommMachinery> FMachinery;
    std::uint64_t FSession = 0;
    std::atomic<int> FLineLost{0};
    std::uint32_t FEventMask = 0;
    TVaPortInt FPortNum = 0;
    std::string FDeviceName = "\\\\.\\COM%d";
    TVaCommEvents FMonitorEvents{ceError, ceRxChar, ceTxEmpty};
    TVaBuffers FBuffers;
    TThreadPriority FEventPriority = tpNormal;
    TThreadPriority FWritePriority = tpHighest;
    bool FDirectWrite = false;
    std::atomic<bool> ControlsEnabled{true};
    std::vector<TVaDispatcher*> FClients;
    TVaBaudrate FBaudrate = br1200;
    TVaParity FParity = paNone;
    TVaDatabits FDatabits = db8;
    TVaStopbits FStopbits = sb1;
    TVaCommOptions FOptions;
    TVaFlowControl FFlowControl;
    TVaEventChars FEventChars;
    bool FUpdateDCB = true;
    std::int32_t FUserBaudrate = 0;
    TVaCommDisplay* FDisplay = nullptr;
    TUiDispatcher* FDispatcher = nullptr;
    bool Destroying = false;
    TVaPaceLine FPaceLine = plAuto;
    bool FPaced = false;  // set at Open
    std::atomic<std::uint64_t> FHanded{0};
    // A leaf lock: nothing else is taken while it is held.
    std::mutex FPacerLock;
    TLinePacer FPacer;
};

class TVaComm : public TVaCustomComm {};

// The link of a client to a component.
class IVaCommUser {
public:
    virtual ~IVaCommUser() = default;
    virtual void LineChanged(std::uint32_t evtMask) = 0;
    virtual void DataChanged(const std::uint8_t* data, std::int32_t count) = 0;
};

class TVaDispatcher {
public:
    explicit TVaDispatcher(IVaCommUser* user) : User(user) {}
    ~TVaDispatcher();
    TVaDispatcher(const TVaDispatcher&) = delete;
    TVaDispatcher& operator=(const TVaDispatcher&) = delete;

    bool Active = true;
    TVaCustomComm* Comm = nullptr;
    IVaCommUser* User;

    void SetDTRState(bool on);
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();
    std::int32_t WriteBuf(const std::uint8_t* data, std::int32_t count);
    bool WriteText(const std::string& text);
    bool WriteChar(char c);
    void DataEvent(const std::uint8_t* data, std::int32_t count);
    void LineEvent(std::uint32_t evtMask);
};

class TVaCommComponent : public TVaComponent, public IVaCommUser {
public:
    TVaCommComponent();
    ~TVaCommComponent() override;

    TVaCustomComm* Comm() const { return FDispatcher->Comm; }
    void SetComm(TVaCustomComm* comm);
    bool Active() const { return FDispatcher->Active; }
    void SetActive(bool active) { FDispatcher->Active = active; }
    void Notification(TVaComponent* component, bool removing) override;

    // Derived clients override these; they do nothing here.
    virtual void DataChanged(const std::uint8_t* data, std::int32_t count) override { (void)data, (void)count; }
    virtual void LineChanged(std::uint32_t evtMask) override { (void)evtMask; }

private:
    // Its Comm is the one link: the component clears it when it goes.
    std::unique_ptr<TVaDispatcher> FDispatcher;
};
