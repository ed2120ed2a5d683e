#include "serial/vacomm.h"

#include "serial/vacomm_p.h"

using namespace commport;

std::uint32_t BaudrateValue(TVaBaudrate b)
{
    static constexpr std::uint32_t rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return b <= br256000 ? rates[b] : 0;
}

namespace {

// The record's single-bit flags and the settings they carry.
struct TFlagBit {
    std::uint32_t Bit;
    bool TLineSettings::*Field;
};
constexpr TFlagBit kFlagBits[] = {
    {fOutxCtsFlow, &TLineSettings::OutCtsFlow},
    {fOutxDsrFlow, &TLineSettings::OutDsrFlow},
    {fDsrSensitivity, &TLineSettings::DsrSensitivity},
    {fTXContinueOnXoff, &TLineSettings::TxContinueOnXoff},
    {fOutX, &TLineSettings::XonXoffOut},
    {fInX, &TLineSettings::XonXoffIn},
};
struct TOptionBit {
    std::uint32_t Bit;
    TVaCommOption Option;
};
constexpr TOptionBit kOptionBits[] = {{fErrorChar, coErrorChar}, {fNull, coNullStrip}, {fParity, coParityCheck}};
// The two-bit fields, indexed by the enumeration.
constexpr std::uint32_t kDtrModes[] = {0, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE};
constexpr std::uint32_t kRtsModes[] = {0, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE};

}  // namespace

commport::TDcb DcbOf(const TLineSettings& s)
{
    TDcb d;
    d.BaudRate = s.Baudrate == brUser ? static_cast<std::uint32_t>(s.UserBaudrate) : BaudrateValue(s.Baudrate);
    d.ByteSize = static_cast<std::uint8_t>(4 + s.Databits);
    d.Parity = s.Parity;
    d.StopBits = s.Stopbits;
    d.XonChar = s.XonChar;
    d.XoffChar = s.XoffChar;
    d.ErrorChar = s.ErrorChar;
    d.EvtChar = s.EventChar;
    d.EofChar = s.EofChar;
    d.XonLim = static_cast<std::uint16_t>(s.XonLimit);
    d.XoffLim = static_cast<std::uint16_t>(s.XoffLimit);
    std::uint32_t f = fBinary | kDtrModes[s.ControlDtr] | kRtsModes[s.ControlRts];
    for (const TFlagBit& b : kFlagBits)
        if (s.*b.Field)
            f |= b.Bit;
    for (const TOptionBit& b : kOptionBits)
        if (s.Options.Contains(b.Option))
            f |= b.Bit;
    d.Flags = f;
    return d;
}

TLineSettings LineSettingsOf(const commport::TDcb& d)
{
    TLineSettings s;
    s.Baudrate = brUser;
    s.UserBaudrate = static_cast<std::int32_t>(d.BaudRate);
    for (int b = br110; b <= br256000; ++b)
        if (BaudrateValue(static_cast<TVaBaudrate>(b)) == d.BaudRate) {
            s.Baudrate = static_cast<TVaBaudrate>(b);
            s.UserBaudrate = 0;
        }
    s.Parity = d.Parity <= paSpace ? static_cast<TVaParity>(d.Parity) : paNone;
    s.Databits = d.ByteSize >= 4 && d.ByteSize <= 8 ? static_cast<TVaDatabits>(d.ByteSize - 4) : db8;
    s.Stopbits = d.StopBits <= sb2 ? static_cast<TVaStopbits>(d.StopBits) : sb1;
    const std::uint32_t dtr = d.Flags & fDtrControlMask, rts = d.Flags & fRtsControlMask;
    for (int m = dtrDisabled; m <= dtrHandshake; ++m)
        if (kDtrModes[m] == dtr)
            s.ControlDtr = static_cast<TVaControlDtr>(m);
    for (int m = rtsDisabled; m <= rtsToggle; ++m)
        if (kRtsModes[m] == rts)
            s.ControlRts = static_cast<TVaControlRts>(m);
    for (const TFlagBit& b : kFlagBits)
        s.*b.Field = (d.Flags & b.Bit) != 0;
    for (const TOptionBit& b : kOptionBits)
        if (d.Flags & b.Bit)
            s.Options.Include(b.Option);
    s.XonChar = d.XonChar;
    s.XoffChar = d.XoffChar;
    s.ErrorChar = d.ErrorChar;
    s.EventChar = d.EvtChar;
    s.EofChar = d.EofChar;
    s.XonLimit = d.XonLim;
    s.XoffLimit = d.XoffLim;
    return s;
}

commport::TDcb TVaCustomComm::BuildDcb() const
{
    const TVaFlowControl& fc = FFlowControl;
    const TVaEventChars& ec = FEventChars;
    TLineSettings s;
    s.Baudrate = FBaudrate;
    s.UserBaudrate = FUserBaudrate;
    s.Parity = FParity;
    s.Databits = FDatabits;
    s.Stopbits = FStopbits;
    s.ControlDtr = fc.ControlDtr();
    s.ControlRts = fc.ControlRts();
    s.OutCtsFlow = fc.OutCtsFlow();
    s.OutDsrFlow = fc.OutDsrFlow();
    s.DsrSensitivity = fc.DsrSensitivity();
    s.TxContinueOnXoff = fc.TxContinueOnXoff();
    s.XonXoffOut = fc.XonXoffOut();
    s.XonXoffIn = fc.XonXoffIn();
    s.Options = FOptions;
    s.XonChar = ec.XonChar();
    s.XoffChar = ec.XoffChar();
    s.ErrorChar = ec.ErrorChar();
    s.EventChar = ec.EventChar();
    s.EofChar = ec.EofChar();
    s.XonLimit = FBuffers.XonLimit();
    s.XoffLimit = FBuffers.XoffLimit();
    return DcbOf(s);
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
    if (int e = Port->Setup(static_cast<std::uint32_t>(FBuffers.ReadSize()),
                            static_cast<std::uint32_t>(FBuffers.WriteSize())))
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
    static constexpr std::uint32_t bits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                             EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
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

void TVaCustomComm::ResetPortParameters()
{
    TDcb d;
    if (DefaultConfig(GetDeviceNameEx(), d) != 0)
        throw EVaCommError("Error reading default port parameters.");
    const TLineSettings s = LineSettingsOf(d);
    FBaudrate = s.Baudrate;
    FUserBaudrate = s.UserBaudrate;
    FParity = s.Parity;
    FDatabits = s.Databits;
    FStopbits = s.Stopbits;
    FFlowControl.SetControlDtr(s.ControlDtr);
    FFlowControl.SetControlRts(s.ControlRts);
    FFlowControl.SetOutCtsFlow(s.OutCtsFlow);
    FFlowControl.SetOutDsrFlow(s.OutDsrFlow);
    FFlowControl.SetDsrSensitivity(s.DsrSensitivity);
    FFlowControl.SetTxContinueOnXoff(s.TxContinueOnXoff);
    FFlowControl.SetXonXoffOut(s.XonXoffOut);
    FFlowControl.SetXonXoffIn(s.XonXoffIn);
    FEventChars.SetXonChar(s.XonChar);
    FEventChars.SetXoffChar(s.XoffChar);
    FEventChars.SetErrorChar(s.ErrorChar);
    FEventChars.SetEventChar(s.EventChar);
    FEventChars.SetEofChar(s.EofChar);
    FBuffers.SetXonLimit(s.XonLimit);
    FBuffers.SetXoffLimit(s.XoffLimit);
    FOptions = s.Options;
}

double TVaCustomComm::LineBytesPerSecond() const
{
    const double baud = FBaudrate == brUser ? FUserBaudrate : BaudrateValue(FBaudrate);
    const double data = 4 + static_cast<int>(FDatabits);
    const double parity = FParity == paNone ? 0 : 1;
    const double stop = FStopbits == sb1 ? 1 : FStopbits == sb15 ? 1.5 : 2;
    return baud / (1 + data + parity + stop);
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
    if (FMachinery->EventThread)
        FMachinery->EventThread->SetPriority(value);
}

void TVaCustomComm::SetWritePriority(TThreadPriority value)
{
    if (value == FWritePriority)
        return;
    FWritePriority = value;
    if (FMachinery->WriteThread)
        FMachinery->WriteThread->SetPriority(value);
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
