#include "serial/vacomm.h"

#include "serial/vacomm_p.h"

using namespace commport;

std::uint32_t BaudrateValue(TVaBaudrate b)
{
    static constexpr std::uint32_t rates[] = {0,     110,   300,   600,   1200,   2400,   4800,   9600,
                                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return b <= br256000 ? rates[b] : 0;
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
