#pragma once
// The operating-system layer of the serial component: a thin interface shaped like the calls
// the component makes (line-settings record, queues, event mask, writes that wait for the
// line but can be woken, reads that return at once, purge, status, line functions, modem
// lines, properties). Error results are errno values; 0 is success.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/vacommrec.h"

class TVaEvent;

namespace commport {

struct TWriteResult {
    int Error = 0;              // errno of a failed write, else 0
    std::uint32_t Written = 0;  // bytes handed to the system
    int Woken = -1;             // index of the wake event that ended the wait, -1 if none
    bool TimedOut = false;
};

class TCommPort {
public:
    virtual ~TCommPort() = default;

    virtual int SetState(const TDcb& dcb) = 0;
    virtual int Setup(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    // Reads return at once with what has arrived; writes have no time limit.
    virtual int SetTimeouts() = 0;
    virtual int SetMask(std::uint32_t mask) = 0;
    // Hands all count bytes to the system, waiting while the line holds them back. Returns
    // early, with what was written so far, when one of the wake events is set (checked in
    // the order given) or after timeoutMs (negative: no limit).
    virtual TWriteResult Write(const std::uint8_t* data, std::uint32_t count, TVaEvent* const* wake, int wakeCount,
                               std::int32_t timeoutMs) = 0;
    // What has arrived, up to count bytes, at once.
    virtual int Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& read) = 0;
    // Waits for one of the events of the mask; woken is set when the wake event ended the wait.
    virtual int WaitEvent(std::uint32_t& events, TVaEvent& wake, bool& woken) = 0;
    virtual int Purge(std::uint32_t flags) = 0;
    // The line errors since the last call (clearing them) and the status.
    virtual int ClearError(std::uint32_t& errors, TComStat& stat) = 0;
    virtual int Escape(std::uint32_t function) = 0;
    virtual int ModemStatus(std::uint32_t& status) = 0;
    virtual int Properties(TCommProp& prop) = 0;
    // The system's reason once the line is gone for good (hung up, unplugged), else 0; then
    // every other call fails with that reason. errors takes the line errors not yet reported,
    // with CE_IOE.
    virtual int LineLost(std::uint32_t& errors) = 0;
    // A pseudo-terminal (a simulator, a network bridge): no line rate of its own, and what it
    // took has gone to the far end's reader, beyond any purge.
    virtual bool PseudoTerminal() const { return false; }
};

// Unix98 pseudo-terminal slaves: character devices of majors 136 to 143.
bool IsPseudoTerminalDevice(unsigned major);

// Opens a device by its system name, exclusively. On failure returns null with error set
// (ENOENT: no such device).
using TPortOpener = std::function<std::unique_ptr<TCommPort>(const std::string& name, int& error)>;
// The device's configuration as the system has it, for a port that need not be open.
using TConfigReader = std::function<int(const std::string& name, TDcb& dcb)>;

std::unique_ptr<TCommPort> OpenPort(const std::string& name, int& error);
int DefaultConfig(const std::string& name, TDcb& dcb);

// The system's implementation, and a way for tests to put another in its place.
std::unique_ptr<TCommPort> OpenSystemPort(const std::string& name, int& error);
int SystemDefaultConfig(const std::string& name, TDcb& dcb);
void SetPortOpener(TPortOpener opener, TConfigReader config = nullptr);

// The system name of a device: a name holding '/' stays as it is, "COMn" names the n-th
// serial port.
std::string SystemDeviceName(const std::string& name);

// The ports offered for choice (see serial/ports.h), with the device directories given.
std::vector<std::string> ListPortsIn(const std::string& devDir, const std::string& byIdDir);

// The calling thread's system id, and the scheduling level (0 idle .. 6 time-critical) of a
// thread by that id. Raising above normal needs the privilege to do so; without it the
// thread keeps the normal level.
long CurrentThreadId();
void SetThreadPriority(long threadId, int level);

}  // namespace commport
