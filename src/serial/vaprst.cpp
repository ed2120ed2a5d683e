#include "serial/vaprst.h"

void TVaFlowControl::Assign(const TVaFlowControl& s)
{
    // A group the line refuses leaves every member as it was.
    const TVaFlowControl before = *this;
    const auto restore = [&] {
        FOutCtsFlow = before.FOutCtsFlow, FOutDsrFlow = before.FOutDsrFlow, FControlDtr = before.FControlDtr;
        FControlRts = before.FControlRts, FXonXoffOut = before.FXonXoffOut, FXonXoffIn = before.FXonXoffIn;
        FDsrSensitivity = before.FDsrSensitivity, FTxContinueOnXoff = before.FTxContinueOnXoff;
    };
    BeginUpdate();
    SetOutCtsFlow(s.FOutCtsFlow);
    SetOutDsrFlow(s.FOutDsrFlow);
    SetControlDtr(s.FControlDtr);
    SetControlRts(s.FControlRts);
    SetXonXoffOut(s.FXonXoffOut);
    SetXonXoffIn(s.FXonXoffIn);
    SetDsrSensitivity(s.FDsrSensitivity);
    SetTxContinueOnXoff(s.FTxContinueOnXoff);
    try {
        EndUpdate();
    } catch (...) {
        restore();
        throw;
    }
}

void TVaEventChars::SetEventChar(int index, char value)
{
    char* field = index == 1   ? &FXonChar
                  : index == 2 ? &FXoffChar
                  : index == 3 ? &FErrorChar
                  : index == 4 ? &FEventChar
                  : index == 5 ? &FEofChar
                               : nullptr;
    const char before = field ? *field : 0;
    if (field)
        *field = value;
    try {
        Changed();
    } catch (...) {
        if (field)
            *field = before;
        throw;
    }
}

void TVaEventChars::Assign(const TVaEventChars& s)
{
    const TVaEventChars before = *this;
    BeginUpdate();
    SetXonChar(s.FXonChar);
    SetXoffChar(s.FXoffChar);
    SetErrorChar(s.FErrorChar);
    SetEventChar(s.FEventChar);
    SetEofChar(s.FEofChar);
    try {
        EndUpdate();
    } catch (...) {
        FXonChar = before.FXonChar, FXoffChar = before.FXoffChar, FErrorChar = before.FErrorChar;
        FEventChar = before.FEventChar, FEofChar = before.FEofChar;
        throw;
    }
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
