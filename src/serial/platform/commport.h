#pragma once
// The operating-system layer of the serial component: a thin interface shaped like the calls
// the component makes (line-settings record, queues, event mask, writes that wait for the
// line but can be woken, reads that return at once, purge, status, line functions, modem
// lines, properties). Error results are errno values; 0 is success.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TVaEvent;

namespace commport {

// Line-settings record: the fields and flag bits of the classic DCB.
inline constexpr std::uint32_t fBinary = 0x0001;
inline constexpr std::uint32_t fParity = 0x0002;
inline constexpr std::uint32_t fOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t fOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t fDtrControlMask = 0x0030;
inline constexpr std::uint32_t DTR_CONTROL_ENABLE = 0x0010;
inline constexpr std::uint32_t DTR_CONTROL_HANDSHAKE = 0x0020;
inline constexpr std::uint32_t fDsrSensitivity = 0x0040;
inline constexpr std::uint32_t fTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t fOutX = 0x0100;
inline constexpr std::uint32_t fInX = 0x0200;
inline constexpr std::uint32_t fErrorChar = 0x0400;
inline constexpr std::uint32_t fNull = 0x0800;
inline constexpr std::uint32_t fRtsControlMask = 0x3000;
inline constexpr std::uint32_t RTS_CONTROL_ENABLE = 0x1000;
inline constexpr std::uint32_t RTS_CONTROL_HANDSHAKE = 0x2000;
inline constexpr std::uint32_t RTS_CONTROL_TOGGLE = 0x3000;

struct TDcb {
    std::uint32_t DCBlength = 0;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    bool operator==(const TDcb&) const = default;
};

// Hold flags of the status, as bits 0..7.
inline constexpr std::uint32_t fCtsHold = 0x01, fDsrHold = 0x02, fRlsdHold = 0x04, fXoffHold = 0x08,
                               fXoffSent = 0x10, fEof = 0x20, fTxim = 0x40;
struct TComStat {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// Line-error bits.
inline constexpr std::uint32_t CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004, CE_FRAME = 0x0008,
                               CE_BREAK = 0x0010;

// Event bits.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008,
                               EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040, EV_ERR = 0x0080,
                               EV_RING = 0x0100, EV_PERR = 0x0200, EV_RX80FULL = 0x0400, EV_EVENT1 = 0x0800,
                               EV_EVENT2 = 0x1000;

// Purge flags.
inline constexpr std::uint32_t PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4, PURGE_RXCLEAR = 0x8;

// Line functions.
inline constexpr std::uint32_t SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                               RESETDEV = 7, SETBREAK = 8, CLRBREAK = 9;

// Modem status bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;

struct TCommProp {
    std::uint16_t wPacketLength = 0;
    std::uint16_t wPacketVersion = 0;
    std::uint32_t dwServiceMask = 0;
    std::uint32_t dwReserved1 = 0;
    std::uint32_t dwMaxTxQueue = 0;
    std::uint32_t dwMaxRxQueue = 0;
    std::uint32_t dwMaxBaud = 0;
    std::uint32_t dwProvSubType = 0;
    std::uint32_t dwProvCapabilities = 0;
    std::uint32_t dwSettableParams = 0;
    std::uint32_t dwSettableBaud = 0;
    std::uint16_t wSettableData = 0;
    std::uint16_t wSettableStopParity = 0;
    std::uint32_t dwCurrentTxQueue = 0;
    std::uint32_t dwCurrentRxQueue = 0;
    std::uint32_t dwProvSpec1 = 0;
    std::uint32_t dwProvSpec2 = 0;
    char wcProvChar[2] = {};
};

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
};

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

}  // namespace commport
