#pragma once
// The settings groups of the serial component.

#include <cstdint>

#include "serial/vaclasses.h"
#include "serial/vatypes.h"

class TVaFlowControl : public TVaPersistent {
public:
    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return FControlDtr; }
    TVaControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }

    // Each stores and notifies only when the value changes; a value the notified line refuses
    // (the notification raises) is not kept.
    void SetOutCtsFlow(bool v) { Set(FOutCtsFlow, v); }
    void SetOutDsrFlow(bool v) { Set(FOutDsrFlow, v); }
    void SetControlDtr(TVaControlDtr v) { Set(FControlDtr, v); }
    void SetControlRts(TVaControlRts v) { Set(FControlRts, v); }
    void SetXonXoffOut(bool v) { Set(FXonXoffOut, v); }
    void SetXonXoffIn(bool v) { Set(FXonXoffIn, v); }
    void SetDsrSensitivity(bool v) { Set(FDsrSensitivity, v); }
    void SetTxContinueOnXoff(bool v) { Set(FTxContinueOnXoff, v); }

    void Assign(const TVaFlowControl& source);

private:
    template <class T>
    void Set(T& field, T value)
    {
        if (field == value)
            return;
        const T before = field;
        field = value;
        try {
            Changed();
        } catch (...) {
            field = before;
            throw;
        }
    }
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TVaControlDtr FControlDtr = dtrDisabled;
    TVaControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

class TVaEventChars : public TVaPersistent {
public:
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    char ErrorChar() const { return FErrorChar; }
    char EventChar() const { return FEventChar; }
    char EofChar() const { return FEofChar; }

    void SetXonChar(char c) { SetEventChar(1, c); }
    void SetXoffChar(char c) { SetEventChar(2, c); }
    void SetErrorChar(char c) { SetEventChar(3, c); }
    void SetEventChar(char c) { SetEventChar(4, c); }
    void SetEofChar(char c) { SetEventChar(5, c); }
    // Stores into the field the index names (1..5) and notifies, changed or not; a value the
    // notified line refuses is not kept.
    void SetEventChar(int index, char value);

    void Assign(const TVaEventChars& source);

private:
    char FXonChar = 17;
    char FXoffChar = 19;
    char FErrorChar = 0;
    char FEventChar = 0;
    char FEofChar = 0;
};

class TVaBuffers : public TVaPersistent {
public:
    TVaIntW ReadSize() const { return FReadSize; }
    TVaIntW WriteSize() const { return FWriteSize; }
    TVaIntW XonLimit() const { return FXonLimit; }
    TVaIntW XoffLimit() const { return FXoffLimit; }
    void SetReadSize(TVaIntW v) { Set(FReadSize, v); }
    void SetWriteSize(TVaIntW v) { Set(FWriteSize, v); }
    void SetXonLimit(TVaIntW v) { Set(FXonLimit, v); }
    void SetXoffLimit(TVaIntW v) { Set(FXoffLimit, v); }

    // Plain fields: used from the next read or write, no notification.
    TVaIntW ReadTimeout = 1000;
    TVaIntW WriteTimeout = 1000;

    void Assign(const TVaBuffers& source);

private:
    void Set(TVaIntW& field, TVaIntW value)
    {
        if (field == value)
            return;
        field = value;
        Changed();
    }
    TVaIntW FReadSize = 4096;
    TVaIntW FWriteSize = 2048;
    TVaIntW FXonLimit = 1024;
    TVaIntW FXoffLimit = 1024;
};
