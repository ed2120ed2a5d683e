#pragma once
// A plot run and the motor service run on the device, step by step as the plot dialog does
// them, for the dialog and for the command line alike. No Qt: the caller supplies how to
// process pending events and how to show progress.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sheet/hpglsheet.h"
#include "serial/vacomm.h"

struct TPlotProgress {
    std::int32_t Objects = 0;      // objects handed over, counted from the sheet's first
    std::int32_t MaxObjects = 0;
    std::uint64_t BytesSent = 0;   // bytes that have left the program
    std::uint64_t BytesTotal = 0;  // the whole run's bytes
    double LineUse = 0;            // bytes a second over the line's bytes a second
    double SecondsLeft = -1;       // estimate; negative while unknown
};

class TPlotRunner {
public:
    enum class TEnd { Finished, Stopped, Stalled };

    // Room in the write buffer before each object and each arc point: no unit is larger
    // than 25 bytes.
    static constexpr std::int32_t kThrottle = 100;
    // A device that takes nothing for this long after Close was pressed is abandoned.
    static constexpr int kStallMilliseconds = 2000;

    TPlotRunner(TVaCustomComm& comm, std::int32_t lineRate) : Comm(comm), LineRate(lineRate) {}

    // Processes pending events; with wait set, sleeps until something happens (the writer
    // wakes it after every completed write; callers add a short backstop).
    std::function<void(bool wait)> Pump;
    // The dialog's Running flag: cleared by Close.
    std::function<bool()> Running;
    // Called once the port is open, before anything is sent.
    std::function<void()> OnOpened;
    std::function<void(std::int32_t max)> SetMaxValue;
    std::function<void(std::int32_t position)> SetProgress;
    // Called a few times a second while data flows.
    std::function<void(const TPlotProgress&)> OnProgress;

    // Opens the port (its error propagates before anything is sent), sends the prologue,
    // the objects while Running holds, the epilogue, waits for the line to drain and
    // closes. An error during the run closes the port before it propagates.
    // From object `first` (0-based): the device is brought to the state the whole run would
    // have left it in before that object (OstrelResumeStream).
    TEnd Plot(const THpglSheet& sheet, int speed, bool accelerate, std::int32_t first = 0);
    TEnd Service();

    // Objects of the last plot handed over whole, counted from the sheet's first: where a
    // run that ended early resumes.
    std::int32_t Handed() const { return P.Objects; }

    // The motor service's fixed texts.
    static std::vector<std::string> ServiceTexts(int pass);

private:
    // Opens, runs body (true: it ran to its end), drains and closes; a stall or an error
    // closes the port too.
    TEnd Run(const std::function<bool()>& body);
    void Write(const std::string& text);
    void Write(std::string_view text);
    void WaitForRoom();
    void Drain();
    void Watch(std::int64_t& lastLeft, std::uint32_t& lastChange);
    void Report(bool force);
    void Finish();
    std::int64_t Left();

    TVaCustomComm& Comm;
    std::int32_t LineRate;
    TPlotProgress P;
    std::uint64_t Written = 0;
    std::uint32_t Started = 0;
    std::uint32_t LastReport = 0;
};
