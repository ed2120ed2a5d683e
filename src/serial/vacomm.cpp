#include "serial/vacomm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "serial/vacomm_p.h"

using namespace commport;

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

// ---------------------------------------------------------------- TVaCustomComm

TVaCustomComm::TVaCustomComm() : FMachinery(std::make_unique<TVaCommMachinery>(*this))
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
