#pragma once
// A scripted device for unit tests: it can be missing or busy, hold the line (as XOFF does),
// refuse writes, fail any call, report line errors and events, send bytes and hang up.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/commport.h"

namespace commport {

struct TFakeDevice {
    std::mutex M;
    std::condition_variable Cv;  // notified whenever the device takes bytes or changes

    // Set by the test.
    bool Missing = false;
    bool Busy = false;
    std::map<std::string, int> Fail;  // call name -> errno it fails with ("SetState", "Write", ...)
    bool Hold = false;                // takes nothing while set
    int FailWrites = 0;               // this many writes fail with WriteError
    int WriteError = EIO;
    std::uint32_t LineErrors = 0;  // reported once by ClearError
    std::uint32_t ModemLines = 0;
    std::string Incoming;         // bytes for the component to read
    std::uint32_t Events = 0;     // reported by the next event wait (within the mask)
    std::uint32_t OutQueue = 0;   // the output queue count the status reports
    int Lost = 0;                 // the line is gone for this reason: every call fails with it
    bool Deaf = false;            // a held write ignores its wake events
    bool PseudoTerminal = false;  // the port says it is a pseudo-terminal

    // Seen by the test.
    std::string OpenedName;
    bool Open = false;
    int Opens = 0;
    std::string Received;
    std::vector<std::string> Calls;
    TDcb State;
    std::uint32_t Mask = 0;
    std::uint32_t SetupIn = 0, SetupOut = 0;
    std::uint32_t PurgeFlags = 0;
    int Writes = 0;
    bool WakeIgnored = false;  // a deaf write was woken and went on holding

    int Count(const std::string& call)
    {
        std::lock_guard lock(M);
        int n = 0;
        for (const auto& c : Calls)
            n += c == call;
        return n;
    }
    std::string Taken()
    {
        std::lock_guard lock(M);
        return Received;
    }
    void SetHold(bool hold)
    {
        {
            std::lock_guard lock(M);
            Hold = hold;
        }
        Cv.notify_all();
    }
    // Fail as the test sets it while the component's threads may be looking.
    void SetFail(std::map<std::string, int> fail)
    {
        std::lock_guard lock(M);
        Fail = std::move(fail);
    }
    void HangUp(int reason)
    {
        {
            std::lock_guard lock(M);
            Lost = reason;
        }
        Cv.notify_all();
    }
    void Send(const std::string& bytes, std::uint32_t events)
    {
        {
            std::lock_guard lock(M);
            Incoming += bytes;
            Events |= events;
        }
        Cv.notify_all();
    }
};

// From now on every port opens this device (and the default configuration is its State);
// the returned guard puts the system's ports back.
class TFakePorts {
public:
    TFakePorts();
    ~TFakePorts();
    TFakePorts(const TFakePorts&) = delete;
    TFakePorts& operator=(const TFakePorts&) = delete;
    std::shared_ptr<TFakeDevice> Device = std::make_shared<TFakeDevice>();
};

}  // namespace commport
