#pragma once
// A plot run and the motor service run on the device, step by step as the plot dialog does
// them, for the dialog and for the command line alike. No Qt: the caller supplies how to
// process pending events, the user's requests and how to show progress.
//
// A run ends in one of four ways. Finished: everything was handed on, the line carried it,
// and the line was still up after the device had had time to take it. Stopped: the user
// asked to stop; the object in hand was finished, " BP " sent and drained, however long the
// device held the line. Aborted: the user asked again; what was staged was dropped, a command
// cut by the drop completed and " BP " sent, waiting for the device as long as it takes
// anything within the jam time; a third request abandons that at once. Failed: the component
// reported an error (the device vanished, the line hung up, also while the last bytes
// drained); the port was closed and the error is raised once.

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "plot/sentbytes.h"
#include "sheet/hpglsheet.h"
#include "serial/vacomm.h"

struct TPlotProgress {
    std::int32_t Objects = 0;  // objects (motor service: passes) wholly handed on, from the sheet's first
    std::int32_t MaxObjects = 0;
    bool Service = false;
    std::uint64_t BytesSent = 0;   // bytes that have left the program's and the system's queues
    std::uint64_t BytesTotal = 0;  // the whole run's bytes
    bool TotalExact = true;        // false: huge arcs were sized from samples
    double LineUse = 0;            // over the last seconds, against the line's capacity; 0 to 1
    double SecondsLeft = -1;       // negative while unknown
    double HeldSeconds = 0;        // a stop waiting on a held line: how long nothing has left
    bool Finishing = false;        // a drop waits for the device to take the end of a cut command
    std::int32_t PenPause = 0;     // the pen the run waits for the user to put in; 0 when not paused
};

enum class TPlotEnd { Finished, Stopped, Aborted, Failed };

// "pen 2 (red)": a pen as the user meets it, with the colour the view draws it in.
std::string PenName(std::int32_t pen);

struct TPlotResult {
    TPlotEnd End = TPlotEnd::Finished;
    std::int32_t LastObject = 0;  // objects (passes) wholly handed on; the last of them
    std::int32_t MaxObjects = 0;
    std::string Error;  // Failed: the component's message
    // Aborted: the drop was abandoned (a third request) or the device took nothing for the
    // jam time, with a command possibly cut: the plotter may draw one stray line.
    bool CutLeft = false;
};

class TPlotRunner {
public:
    // Room in the write buffer before each object and each arc point: no unit is larger
    // than 25 bytes.
    static constexpr std::int32_t kThrottle = 100;
    // An abort closes the port within this time of the request, or of the device taking the
    // end of a cut command; an abandon closes it within this time of its request. The
    // component's writer acknowledges a purge within it.
    static constexpr std::uint32_t kAbortMilliseconds = 2000;
    // A long arc that never waits for room still looks at the user this often.
    static constexpr std::uint32_t kLookMilliseconds = 100;
    // Progress goes to the caller this often.
    static constexpr std::uint32_t kReportMilliseconds = 250;
    // Line use is measured over this much of the recent past.
    static constexpr std::uint32_t kLineUseWindowMilliseconds = 3000;
    // A drop says it waits on the device once the device has taken nothing for this long.
    static constexpr std::uint32_t kFinishingNoticeMilliseconds = 250;
    // What the line may hold beyond the count of bytes that left the system's queue, and may
    // lose when it fails: a UART's FIFO (16 to 128 bytes), a USB adapter's buffers (up to
    // about 1 kB), a pseudo-terminal's unread bytes (within the device's buffer and 50 ms of
    // line when paced). A resume after a failure starts before them; plus this much line.
    static constexpr std::uint64_t kLineSlackBytes = 1024;
    static constexpr double kLineSlackSeconds = 0.1;
    // A stop says that it waits on a held line once it has waited this long.
    static constexpr std::uint32_t kHeldNoticeMilliseconds = 2000;
    // The motor service's bytes: " SD20 " (6) and " BP IN PR-10,0" (14), ten passes of
    // " SDnn" (5), " PR1550,0 " (10) and " PR-1550,0 " (11), then " SD20 IN " (9):
    // 20 + 10 * 26 + 9.
    static constexpr std::uint64_t kServiceBytes = 289;

    explicit TPlotRunner(TVaCustomComm& comm) : Comm(comm) {}

    // Processes pending events; with wait set, sleeps until something happens (the writer
    // wakes it after every completed write; callers add a short backstop).
    std::function<void(bool wait)> Pump;
    // The dialog's Running flag: cleared by the first Close (stop).
    std::function<bool()> Running;
    // True once the user asked again: drop the rest.
    std::function<bool()> Aborting;
    // True once the user asked a third time: abandon a drop that waits on the device.
    std::function<bool()> Abandoning;
    // Milliseconds on a steady clock; GetTickCount32 unless a test hands its own.
    std::function<std::uint32_t()> Clock;
    // How long a drop waits on a device that takes nothing: longer than any hold a healthy
    // device makes.
    std::uint32_t JamMilliseconds = 30000;
    // Pauses for pen changes: the device cannot change pens, so at each change of pen (and
    // before a resumed run's first object) the run finishes the object in hand, parks the pen
    // at the frame's origin, waits for the line to carry that, and then for Continuing() to
    // be true. A stop or drop during the wait ends the run as during a hold.
    bool PenPauses = false;
    std::function<bool()> Continuing;

    // Called once the port is open, before anything is sent.
    std::function<void()> OnOpened;
    std::function<void(std::int32_t max)> SetMaxValue;
    std::function<void(std::int32_t position)> SetProgress;
    // Called a few times a second while the run goes on.
    std::function<void(const TPlotProgress&)> OnProgress;
    // A plot's time left once that many objects of the sheet are handed on, from a model of
    // pen and line (SecondsLeft over EstimatePlot's object ends); negative when it has none.
    // Unset, or negative: the bytes left at the line's recent pace.
    std::function<double(std::int32_t objects)> TimeLeft;

    // Opens the port (its error propagates before anything is sent), runs, and closes the
    // port on every path. A failure raises the component's error once, after the port is
    // closed; Result() says how far the run got in every case.
    // From object `first` (0-based): the device is brought to the state the whole run would
    // have left it in before that object (OstrelResumeStream).
    TPlotEnd Plot(const THpglSheet& sheet, int speed, bool accelerate, std::int32_t first = 0);
    TPlotEnd Service();
    const TPlotResult& Result() const { return R; }

    // Where a plot that ended early resumes: objects counted from the sheet's first that
    // reached the system whole. After an abort or a failure, what was dropped or never left
    // does not count, even if it had been handed on.
    std::int32_t Handed() const { return S.HandedObjects; }

    // The motor service's fixed texts: pass 0 the opening, 1 to 10 the passes, 11 the closing.
    static std::vector<std::string> ServiceTexts(int pass);
    // The line's bytes a second: the rate over the bits of a frame (start, data, parity, stop).
    static double LineBytesPerSecond(const TVaCustomComm& comm);
    // How long after the drain the line must stay up for a run to count as delivered: the
    // time the device's buffer and 50 ms of line take to go.
    std::uint32_t SettleMilliseconds() const;

private:
    class TRunDispatcher;
    struct TAbortRequest {};
    struct TAbandonRequest {};

    // A run from object `first` (0-based): everything it knows starts afresh.
    TPlotEnd Run(std::int32_t first, const std::function<bool()>& body);
    // Parks the pen and waits for the user to put in `pen`; false when the run was stopped.
    bool PausePen(std::int32_t pen);
    void Write(std::string_view text, bool unitStart);
    void WaitForRoom();
    void Drain();
    void Abort();
    // Waits while the device takes what is queued; false when it took nothing for the jam time.
    bool WaitTaken();
    // Ends a drop that waits on the device: drops everything, noting what may be cut.
    void Abandon();
    // After the drain: the line must still be up once the device has had time to take it all.
    void Settle();
    // What the line may hold beyond the count, in bytes (kLineSlackBytes and kLineSlackSeconds).
    std::uint64_t Slack() const;
    std::uint32_t Now() const { return Clock ? Clock() : GetTickCount32(); }
    bool WaitUntil(std::uint32_t deadline, const std::function<bool()>& done);
    void Step(bool wait);
    void CheckFault();
    void Report(bool force);
    std::int64_t Left();
    // What is still staged and queued, noting what has surely left.
    std::int64_t Noted(std::int64_t staged, std::int64_t queued);
    std::int64_t QueueCap() const;

    TVaCustomComm& Comm;
    TPlotResult R;
    TPlotProgress P;
    // What one run knows, reset as a whole when a run starts.
    struct TRunState {
        double LineBytes = 960;  // the line's bytes a second
        TSentBytes Sent;
        // Where a plot that ended early resumes (see Handed).
        std::int32_t HandedObjects = 0;
        std::uint32_t LastReport = 0;
        bool Stopping = false;
        bool InAbort = false;
        bool Abandoned = false;
        bool Settling = false;
        std::uint32_t StopTick = 0;
        // The queues' last count and when it last changed: how long the line has been held.
        std::int64_t LastLeft = -1;
        std::uint32_t LastMove = 0;
        // Bytes sent over the last seconds, for the line use: (tick, bytes sent).
        std::deque<std::pair<std::uint32_t, std::uint64_t>> Window;
        bool LineErrorSeen = false;
    } S;
    // Errors the component reported from its threads during the run, raised here once.
    std::mutex FaultLock;
    std::exception_ptr Fault;
};
