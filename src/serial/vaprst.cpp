#include "serial/vaprst.h"

void TVaFlowControl::Assign(const TVaFlowControl& s)
{
    BeginUpdate();
    SetOutCtsFlow(s.FOutCtsFlow);
    SetOutDsrFlow(s.FOutDsrFlow);
    SetControlDtr(s.FControlDtr);
    SetControlRts(s.FControlRts);
    SetXonXoffOut(s.FXonXoffOut);
    SetXonXoffIn(s.FXonXoffIn);
    SetDsrSensitivity(s.FDsrSensitivity);
    SetTxContinueOnXoff(s.FTxContinueOnXoff);
    EndUpdate();
}

void TVaEventChars::SetEventChar(int index, char value)
{
    switch (index) {
    case 1: FXonChar = value; break;
    case 2: FXoffChar = value; break;
    case 3: FErrorChar = value; break;
    case 4: FEventChar = value; break;
    case 5: FEofChar = value; break;
    default: break;
    }
    Changed();
}

void TVaEventChars::Assign(const TVaEventChars& s)
{
    BeginUpdate();
    SetXonChar(s.FXonChar);
    SetXoffChar(s.FXoffChar);
    SetErrorChar(s.FErrorChar);
    SetEventChar(s.FEventChar);
    SetEofChar(s.FEofChar);
    EndUpdate();
}

void TVaBuffers::Assign(const TVaBuffers& s)
{
    BeginUpdate();
    FReadSize = s.FReadSize;
    FWriteSize = s.FWriteSize;
    ReadTimeout = s.ReadTimeout;
    WriteTimeout = s.WriteTimeout;
    FXonLimit = s.FXonLimit;
    FXoffLimit = s.FXoffLimit;
    EndUpdate();
}
