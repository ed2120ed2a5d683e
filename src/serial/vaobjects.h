#pragma once
// Event and lock objects. An event is a manual-reset flag on an eventfd, so that one poll()
// can wait for a port and for any number of events at once.

#include <cstdint>
#include <mutex>
#include <string>

#include "serial/vatypes.h"

class TVaHandleObject {
public:
    TVaHandleObject() = default;
    virtual ~TVaHandleObject();
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;

    int Handle = -1;
    std::int32_t LastError = 0;
};

class TVaEvent : public TVaHandleObject {
public:
    // attributes and name have no meaning on this platform; only manual reset is offered.
    TVaEvent(bool manualReset, bool initialState);
    TVaEventWaitResult WaitFor(std::int32_t milliseconds);  // negative: no limit
    void SetEvent();
    void ResetEvent();
    bool IsSet() const;
};

// Manual reset, created clear.
class TVaWaitEvent : public TVaEvent {
public:
    TVaWaitEvent() : TVaEvent(true, false) {}
};

// A lock that its owning thread may take again.
class TVaCriticalSection {
public:
    void Acquire() { Mutex.lock(); }
    void Release() { Mutex.unlock(); }
    void Enter() { Acquire(); }
    void Leave() { Release(); }
    std::recursive_mutex& Native() { return Mutex; }

private:
    std::recursive_mutex Mutex;
};

// Waits until one of the events is set or the time is up; returns the index of the first set
// event in the order given (precedence), -1 on timeout, -2 on error. milliseconds < 0: no limit.
int WaitForEvents(TVaEvent* const* events, int count, std::int32_t milliseconds);
