#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "../serial/serialfixture.h"
#include "plot/estimate.h"
#include "plot/ostrel.h"
#include "plot/plotrun.h"
#include "sheettext.h"
#include "streamtext.h"

using namespace std::chrono_literals;

class PlotRun : public FakePortTest {
protected:
    bool Running = true;
    std::vector<int> Positions;
    int Max = -1;
    TPlotRunner Runner{Comm};

    void SetUp() override
    {
        PlotSettings(Comm);
        Runner.Pump = [this](bool wait) { Ui.Pump(wait ? 5ms : 0ms); };
        Runner.Running = [this] { return Running; };
        Runner.SetMaxValue = [this](int m) { Max = m; };
        Runner.SetProgress = [this](int p) { Positions.push_back(p); };
    }
};

TEST_F(PlotRun, SendsTheWholeStreamAndClosesWithTheGaugeAtZero)
{
    THpglSheet s;
    LoadText(s, "PU;PA100,0;PD;AA0,0,9;SP1;CI50;ER10,20;");
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    EXPECT_EQ(Dev.Taken(), " SD20 BP IN PUPA100 0PDPA99 0PA99 5PA99 10CI50ER10 20 BP ");
    EXPECT_EQ(Max, 7);
    EXPECT_EQ(Positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 0}));
    EXPECT_FALSE(Comm.Active());
}

TEST_F(PlotRun, StoppingAfterTheThirdObjectSendsItAndTheEpilogue)
{
    THpglSheet s;
    LoadText(s, "PA10,10;PD20,20;PD30,30;PD40,40;PD50,50;");
    Runner.SetProgress = [this](int p) {
        Positions.push_back(p);
        if (p == 2)
            Running = false;  // Close pressed while the third object waits its turn
    };
    EXPECT_EQ(Runner.Plot(s, 33, false), TPlotEnd::Stopped);
    EXPECT_EQ(Dev.Taken(), StreamText(s, 3, 33, false));
    EXPECT_EQ(Positions.back(), 0);
}

TEST_F(PlotRun, EmptySheetSendsPrologueAndEpilogue)
{
    THpglSheet s;
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    EXPECT_EQ(Dev.Taken(), " SD20 BP IN  BP ");
    EXPECT_EQ(Max, 0);
}

TEST_F(PlotRun, ThrottlesOnTheWriteBufferWithoutLosingBytes)
{
    THpglSheet s;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "PD" + std::to_string(i) + "," + std::to_string(-i) + ";";
    text += "PA0,0;AA100,100,-360;";
    LoadText(s, text);
    // The device takes bytes slowly: the run must wait for room, never overfill.
    std::atomic<bool> done{false};
    std::thread slow([&] {
        while (!done) {
            Dev.SetHold(true);
            std::this_thread::sleep_for(1ms);
            Dev.SetHold(false);
            std::this_thread::sleep_for(200us);
        }
    });
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    done = true;
    slow.join();
    EXPECT_TRUE(Dev.Taken() == StreamText(s));
}

TEST_F(PlotRun, MotorServiceSendsItsFixedBytes)
{
    TPlotProgress last;
    Runner.OnProgress = [&](const TPlotProgress& p) { last = p; };
    EXPECT_EQ(Runner.Service(), TPlotEnd::Finished);
    // Its progress counts passes and every byte of the service.
    EXPECT_TRUE(last.Service);
    EXPECT_EQ(last.Objects, 10);
    EXPECT_EQ(last.BytesSent, TPlotRunner::kServiceBytes);
    EXPECT_EQ(last.BytesTotal, TPlotRunner::kServiceBytes);
    EXPECT_EQ(Runner.Result().LastObject, 10);
    // Written out, not computed the way the runner computes it.
    const std::string expected = " SD20  BP IN PR-10,0"
                                 " SD26 PR1550,0  PR-1550,0  SD25 PR1550,0  PR-1550,0  SD24 PR1550,0  PR-1550,0 "
                                 " SD23 PR1550,0  PR-1550,0  SD22 PR1550,0  PR-1550,0  SD21 PR1550,0  PR-1550,0 "
                                 " SD20 PR1550,0  PR-1550,0  SD19 PR1550,0  PR-1550,0  SD18 PR1550,0  PR-1550,0 "
                                 " SD17 PR1550,0  PR-1550,0 "
                                 " SD20 IN ";
    EXPECT_EQ(expected.size(), 289u);
    EXPECT_EQ(Dev.Taken(), expected);
    EXPECT_EQ(Max, 10);
    EXPECT_EQ(Positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
}

TEST_F(PlotRun, FailedOpenSendsNothingAndAnErrorDuringTheRunClosesThePort)
{
    THpglSheet s;
    LoadText(s, "PD1,1;PD2,2;");
    Dev.Missing = true;
    bool opened = false;
    Runner.OnOpened = [&] { opened = true; };
    EXPECT_EQ(Message([&] { Runner.Plot(s, 20, true); }), "Specified device not found (COM1).");
    EXPECT_FALSE(opened);
    EXPECT_EQ(Max, -1);
    EXPECT_TRUE(Positions.empty());
    Dev.Missing = false;
    Dev.Fail = {{"ClearError", EIO}};
    EXPECT_EQ(Message([&] { Runner.Plot(s, 20, true); }), "Error retrieving statistics (5), Input/output error");
    EXPECT_TRUE(opened);
    EXPECT_FALSE(Comm.Active());
    EXPECT_EQ(Positions.back(), 0);
}

namespace {

THpglSheet& Strokes(THpglSheet& s, int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "PD" + std::to_string(i * 7 % 1500) + "," + std::to_string(i * 13 % 2100) + ";";
    LoadText(s, text);
    return s;
}

// Lets a held device take bytes again a while later, from a thread of its own.
struct TLaterRelease {
    explicit TLaterRelease(commport::TFakeDevice& dev) : Dev(dev) {}
    commport::TFakeDevice& Dev;
    std::thread T;
    void After(std::chrono::milliseconds wait)
    {
        T = std::thread([this, wait] {
            std::this_thread::sleep_for(wait);
            Dev.SetHold(false);
        });
    }
    void Join()
    {
        if (T.joinable())
            T.join();
    }
    ~TLaterRelease() { Join(); }
};

// A device that takes bytes slowly, by holding the line most of the time.
struct TSlowDevice {
    commport::TFakeDevice& Dev;
    std::atomic<bool> Done{false};
    std::thread T;
    explicit TSlowDevice(commport::TFakeDevice& d, std::chrono::microseconds hold = 2ms) : Dev(d)
    {
        T = std::thread([this, hold] {
            while (!Done) {
                Dev.SetHold(true);
                std::this_thread::sleep_for(hold);
                Dev.SetHold(false);
                std::this_thread::sleep_for(100us);
            }
        });
    }
    ~TSlowDevice()
    {
        Done = true;
        T.join();
        Dev.SetHold(false);
    }
};

}  // namespace

TEST_F(PlotRun, AStopWaitsOutAHeldLineHoweverLongAndSaysSo)
{
    THpglSheet s;
    Strokes(s, 200);
    Dev.SetHold(true);  // the plotter draws a long vector: nothing leaves
    std::vector<double> held;
    Runner.SetProgress = [this](int p) {
        if (p == 3)
            Running = false;  // Close while the fourth object is in hand: it still goes
    };
    Runner.OnProgress = [&](const TPlotProgress& p) {
        if (p.HeldSeconds > 0) {
            held.push_back(p.HeldSeconds);
            Dev.SetHold(false);  // the vector is drawn; the line moves again
        }
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Stopped);
    // Never abandoned: the device got the objects handed on, whole, then the closing text.
    EXPECT_EQ(Dev.Taken(), StreamText(s, 4));
    ASSERT_FALSE(held.empty());
    EXPECT_GT(held.front(), 2.0);
    EXPECT_EQ(Runner.Result().End, TPlotEnd::Stopped);
    EXPECT_EQ(Runner.Result().LastObject, 4);
    EXPECT_EQ(Runner.Result().MaxObjects, 200);
    EXPECT_EQ(Dev.PurgeFlags, 0u);
    EXPECT_FALSE(Comm.Active());
}

// A clock the test moves: every wait of the runner advances it, so its timing is tested
// in milliseconds.
struct THandedClock {
    std::uint32_t Now = 1000;
    std::uint32_t Step = 50;
};

// A drop on a jammed line waits for the device the jam time, by the runner's clock, then
// drops everything and says that a cut command may be left.
TEST_F(PlotRun, ADropOnAJammedLineGivesUpAfterTheJamTime)
{
    Dev.PseudoTerminal = true;  // paced: a few bytes at a time, so the drop cuts a command
    THpglSheet s;
    Strokes(s, 200);
    THandedClock clock;
    bool dropping = false;
    std::uint32_t asked = 0;
    Runner.Clock = [&] { return clock.Now; };
    Runner.Aborting = [&] { return dropping; };
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 1ms : 0ms);
        if (wait)
            clock.Now += clock.Step;
        // Close, then Close again, once the device has taken a little and jammed.
        if (Dev.Taken().size() > 100 && !dropping) {
            Dev.SetHold(true);
            Running = false;
            dropping = true;
            asked = clock.Now;
        }
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Aborted);
    EXPECT_GE(clock.Now - asked, Runner.JamMilliseconds);
    EXPECT_LT(clock.Now - asked, Runner.JamMilliseconds + 1000);
    EXPECT_FALSE(Comm.Active());
    EXPECT_EQ(Dev.PurgeFlags, commport::PURGE_TXABORT | commport::PURGE_TXCLEAR);
    // The completion never went: a device left inside a command keeps it cut, and is told so.
    const std::string got = Dev.Taken();
    EXPECT_EQ(Runner.Result().CutLeft, StreamText(s).compare(got.size(), 2, "PD") != 0) << got;
    EXPECT_EQ(StreamText(s).rfind(got, 0), 0u);  // nothing was forced through
    EXPECT_LE(StreamText(s, Runner.Handed()).size() - 4, got.size());
    EXPECT_EQ(Positions.back(), 0);

    // The next run starts cleanly and goes whole.
    Dev.SetHold(false);
    {
        std::lock_guard lock(Dev.M);
        Dev.Received.clear();
        Dev.PseudoTerminal = false;
    }
    dropping = false;
    Running = true;
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 1ms : 0ms);
        clock.Now += wait ? clock.Step : 0;
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    EXPECT_FALSE(Runner.Result().CutLeft);
    EXPECT_TRUE(Dev.Taken() == StreamText(s));
}

// A third request abandons a drop that waits on a held line, at once.
TEST_F(PlotRun, AThirdRequestAbandonsADropThatWaits)
{
    THpglSheet s;
    Strokes(s, 200);
    Dev.SetHold(true);  // jammed for good
    int asked = 0;
    std::chrono::steady_clock::time_point third{};
    Runner.Aborting = [&] { return asked >= 2; };
    Runner.Abandoning = [&] { return asked >= 3; };
    Runner.OnProgress = [&](const TPlotProgress& p) {
        if (p.Finishing && asked == 2) {
            asked = 3;
            third = std::chrono::steady_clock::now();
        }
    };
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 5ms : 0ms);
        if (Comm.WriteBufFree() < TPlotRunner::kThrottle && asked == 0) {
            Running = false;
            asked = 2;
        }
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Aborted);
    EXPECT_EQ(asked, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - third, std::chrono::milliseconds(TPlotRunner::kAbortMilliseconds));
    EXPECT_FALSE(Comm.Active());
    EXPECT_EQ(Dev.Taken(), "");
    EXPECT_EQ(Runner.Handed(), 0);
    EXPECT_FALSE(Runner.Result().CutLeft);  // nothing went, so nothing is cut
}

// The device holds the line when the drop comes, on a paced line that cut a command: the
// completion waits for it, however long past a second, and nothing else is sent but " BP ".
TEST_F(PlotRun, ADropDuringALongHoldCompletesTheCutCommand)
{
    Dev.PseudoTerminal = true;  // paced: the line is handed a few bytes at a time
    THpglSheet s;
    Strokes(s, 400);
    const std::string all = StreamText(s);
    bool dropping = false, finishing = false;
    Runner.Aborting = [&] { return dropping; };
    Runner.OnProgress = [&](const TPlotProgress& p) {
        if (p.Finishing && !finishing) {
            finishing = true;
            Dev.SetHold(false);  // the long vector is drawn
        }
    };
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 2ms : 0ms);
        if (!dropping && Dev.Taken().size() > 300) {
            Dev.SetHold(true);
            Running = false;
            dropping = true;
        }
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Aborted);
    EXPECT_TRUE(finishing);
    EXPECT_FALSE(Runner.Result().CutLeft);
    const std::string got = Dev.Taken();
    ASSERT_GT(got.size(), 304u);
    ASSERT_EQ(got.substr(got.size() - 4), " BP ");
    const std::string body = got.substr(0, got.size() - 4);
    // A prefix of the stream that ends where a command ends.
    EXPECT_EQ(all.rfind(body, 0), 0u);
    EXPECT_EQ(all.substr(body.size(), 2), "PD") << body.substr(body.size() - 20);
    EXPECT_EQ(StreamText(s, Runner.Handed()), got);
}

// Close, then Close again while the stop waits for a held line to take the closing text:
// what was staged is dropped and the device gets the closing text once.
TEST_F(PlotRun, ADropDuringAStopsDrainSendsTheClosingTextOnce)
{
    THpglSheet s;
    Strokes(s, 200);
    bool dropping = false;
    TLaterRelease release{Dev};
    Runner.Aborting = [&] { return dropping; };
    Runner.SetProgress = [this](int p) {
        if (p == 3) {
            // The device has the first three objects, then holds the line.
            ASSERT_TRUE(PumpUntil([&] { return Comm.WriteBufUsed() == 0; }));
            Dev.SetHold(true);
            Running = false;
        }
    };
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 5ms : 0ms);
        // Only the drain waits here: four small objects never fill the buffer.
        if (wait && !Running && !dropping) {
            dropping = true;
            release.After(100ms);
        }
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Aborted);
    release.Join();
    const std::string got = Dev.Taken();
    EXPECT_TRUE(got == StreamText(s, 3)) << got;
    EXPECT_EQ(Runner.Handed(), 3);
    EXPECT_EQ(got.find(" BP ", 6), got.size() - 4);
}

TEST_F(PlotRun, AnAbortWhileTheDeviceTakesBytesEndsOnACommandAndSendsTheClosingText)
{
    THpglSheet s;
    Strokes(s, 3000);
    TSlowDevice slow(Dev);
    bool dropping = false;
    Runner.Aborting = [&] { return dropping; };
    Runner.SetProgress = [&](int p) {
        if (p == 400)
            Running = false, dropping = true;
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Aborted);
    const std::string got = Dev.Taken();
    // What went is the stream up to an object boundary, then " BP ": no cut command.
    const int n = Runner.Handed();
    EXPECT_GE(n, 300);
    EXPECT_LE(n, Runner.Result().LastObject);
    EXPECT_TRUE(got == StreamText(s, n)) << got.substr(got.size() > 60 ? got.size() - 60 : 0);
}

// Finished means delivered: a line that hangs up after the last byte left, before the device
// had time to take it, fails the run.
TEST_F(PlotRun, AHangUpWhileTheLastBytesDrainIsAFailure)
{
    THpglSheet s;
    Strokes(s, 100);
    THandedClock clock;
    Runner.Clock = [&] { return clock.Now; };
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 1ms : 0ms);
        clock.Now += wait ? clock.Step : 0;
        const std::string got = Dev.Taken();
        if (got.size() > 4 && got.substr(got.size() - 4) == " BP ")
            Dev.HangUp(EIO);
    };
    const std::string message = Message([&] { Runner.Plot(s, 20, true); });
    EXPECT_NE(message.find("Input/output error"), std::string::npos) << message;
    EXPECT_EQ(Runner.Result().End, TPlotEnd::Failed);
    EXPECT_LT(Runner.Handed(), 100);
    EXPECT_FALSE(Comm.Active());
}

TEST_F(PlotRun, AVanishedDeviceEndsTheRunWithOneErrorAndTheNextRunIsClean)
{
    THpglSheet s;
    Strokes(s, 500);
    int shown = 0;
    Ui.OnException = [&](std::exception_ptr) { ++shown; };
    Runner.SetProgress = [&](int p) {
        Positions.push_back(p);
        if (p == 15) {
            // Everything so far has left the program: the device has the first 15 objects.
            for (int i = 0; i < 5000 && Comm.WriteBufUsed() > 0; ++i)
                Ui.Pump(1ms);
        }
        if (p == 20)
            Dev.SetFail({{"Write", EIO}, {"ClearError", EIO}});  // unplugged
    };
    const std::string message = Message([&] { Runner.Plot(s, 20, true); });
    EXPECT_NE(message.find("Input/output error"), std::string::npos) << message;
    EXPECT_EQ(shown, 0);  // the run's own error is the only report
    EXPECT_EQ(Runner.Result().End, TPlotEnd::Failed);
    EXPECT_EQ(Runner.Result().Error, message);
    EXPECT_FALSE(Comm.Active());
    EXPECT_EQ(Positions.back(), 0);
    // The resume point: objects the device got whole, never one it lacks, less what the
    // line may have held beyond the count (about 1 kB: the first 15 objects are 160 bytes).
    const std::string before = StreamText(s, Runner.Handed());
    EXPECT_GE(Runner.Handed(), 0);
    EXPECT_LE(Runner.Handed(), 21);
    EXPECT_EQ(Dev.Taken().rfind(before.substr(0, before.size() - 4), 0), 0u);

    {
        std::lock_guard lock(Dev.M);
        Dev.Fail.clear();
        Dev.Received.clear();
    }
    Runner.SetProgress = [this](int p) { Positions.push_back(p); };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    EXPECT_TRUE(Dev.Taken() == StreamText(s));
    EXPECT_EQ(shown, 0);
}

TEST_F(PlotRun, AHugeArcStartsAtOnceAndAnAbortCutsItBetweenPoints)
{
    THpglSheet s;
    LoadText(s, "PA100,0;AA0,0,-2147483648;");
    TSlowDevice slow(Dev);
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration firstByte{};
    bool dropping = false;
    TPlotProgress last;
    Runner.Aborting = [&] { return dropping; };
    Runner.OnProgress = [&](const TPlotProgress& p) { last = p; };
    Runner.Pump = [&](bool wait) {
        Ui.Pump(wait ? 5ms : 0ms);
        const std::size_t taken = Dev.Taken().size();
        if (taken > 0 && firstByte == std::chrono::steady_clock::duration{})
            firstByte = std::chrono::steady_clock::now() - start;
        if (taken > 4000)
            Running = false, dropping = true;  // a stop alone would send the whole arc
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Aborted);
    EXPECT_LT(firstByte, 500ms);
    EXPECT_FALSE(last.TotalExact);
    EXPECT_GT(last.BytesTotal, 1ull << 33);
    EXPECT_EQ(Runner.Result().LastObject, 1);  // the arc was not handed on whole
    const std::string got = Dev.Taken();
    ASSERT_GT(got.size(), 4u);
    EXPECT_EQ(got.substr(got.size() - 4), " BP ");
    // Every point before the closing text is whole: "PAx y" followed by the next "PA".
    const std::string points = got.substr(0, got.size() - 4);
    const std::size_t lastPa = points.rfind("PA");
    ASSERT_NE(lastPa, std::string::npos);
    const std::string tail = points.substr(lastPa);
    EXPECT_EQ(std::count(tail.begin(), tail.end(), ' '), 1) << tail;
    EXPECT_EQ(points.rfind(" SD20 BP IN PA100 0PA", 0), 0u);
}

TEST_F(PlotRun, ProgressNeverShowsTheLineOverFullOrNoTimeLeftTooSoon)
{
    THpglSheet s;
    Strokes(s, 3000);
    TSlowDevice slow(Dev, 20ms);  // about 25 kB a second: far over the line's 960
    std::vector<TPlotProgress> reports;
    Runner.OnProgress = [&](const TPlotProgress& p) { reports.push_back(p); };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    ASSERT_GT(reports.size(), 2u);
    const double lineBytes = TPlotRunner::LineBytesPerSecond(Comm);
    EXPECT_DOUBLE_EQ(lineBytes, 960.0);  // 9600 baud, 8 data bits, no parity, 1 stop bit
    for (const auto& p : reports) {
        EXPECT_LE(p.LineUse, 1.0);
        EXPECT_GE(p.LineUse, 0.0);
        EXPECT_LE(p.BytesSent, p.BytesTotal);
        // More than a second of bytes at the line's rate never shows as under a second.
        if (static_cast<double>(p.BytesTotal - p.BytesSent) > lineBytes) {
            EXPECT_GE(p.SecondsLeft, 1.0);
        }
    }
    EXPECT_EQ(reports.back().BytesSent, StreamText(s).size());
}

// With a model of the plot the time left is the model's for the objects handed on; where the
// model has no answer the line's pace gives it.
TEST_F(PlotRun, TimeLeftComesFromTheModelWhenThereIsOne)
{
    THpglSheet s;
    Strokes(s, 3000);
    TSlowDevice slow(Dev, 20ms);
    std::vector<TPlotProgress> reports;
    Runner.OnProgress = [&](const TPlotProgress& p) { reports.push_back(p); };
    Runner.TimeLeft = [](std::int32_t objects) { return objects < 1500 ? 10000.0 - objects : -1.0; };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    ASSERT_GT(reports.size(), 2u);
    int modelled = 0, paced = 0;
    for (const auto& p : reports) {
        if (p.Objects < 1500) {
            ++modelled;
            EXPECT_EQ(p.SecondsLeft, 10000.0 - p.Objects);
        } else {
            ++paced;
            EXPECT_LT(p.SecondsLeft, 1000.0);
        }
    }
    EXPECT_GT(modelled, 0);
    EXPECT_GT(paced, 0);
}

TEST_F(PlotRun, AThrowRightAfterTheOpenStillClosesThePort)
{
    THpglSheet s;
    LoadText(s, "PD1,1;");
    Runner.OnOpened = [] { throw EVaCommError("opened hook failed"); };
    EXPECT_EQ(Message([&] { Runner.Plot(s, 20, true); }), "opened hook failed");
    EXPECT_FALSE(Comm.Active());
}

// Pauses for pen changes: the pen parks at the origin, the run waits for Continue, then the
// device comes back to where it was, its pen lowered only where a move draws with it.
TEST_F(PlotRun, PenPausesParkWaitAndComeBackWithoutMarkingThePaper)
{
    THpglSheet s;
    LoadText(s, "SP1;PU0,0;PD10,0;SP2;PA20,0;PU30,0;PD40,0;SP2;SP4;SP3;PU;PU50,0;PD60,0;");
    const std::string expected = " SD20 BP IN PU0 0PD10 0"
                                 "PUPA0 0PUPA10 0PDPA20 0PU30 0PD40 0"  // pen 2: down again before the PA
                                 "PUPU50 0PUPA0 0PUPA50 0PD60 0 BP ";   // pen 3 when it draws; pen 4 never
    std::vector<int> asked;
    std::size_t answered = 0;
    Runner.PenPauses = true;
    Runner.OnProgress = [&](const TPlotProgress& p) {
        if (p.PenPause && (asked.empty() || asked.size() == answered))
            asked.push_back(p.PenPause);
    };
    Runner.Continuing = [&] {
        // The question comes with the pen parked: everything before it reached the device.
        EXPECT_EQ(Dev.Taken().substr(Dev.Taken().size() - 7), "PUPA0 0");
        if (answered == asked.size())
            return false;
        ++answered;
        return true;
    };
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotEnd::Finished);
    EXPECT_EQ(Dev.Taken(), expected);
    EXPECT_EQ(asked, (std::vector<int>{2, 3}));

    // The estimate counts the pauses and the bytes they add.
    TPlotSettings settings;
    settings.PenPauses = true;
    const TPlotEstimate e = EstimatePlot(s, settings);
    EXPECT_EQ(e.PenPauses, 2u);
    EXPECT_EQ(e.Bytes, expected.size());
    EXPECT_EQ(EstimatePlot(s, {}).PenPauses, 0u);
}

// A stop or a drop during a pause ends the run as during a hold; a resume asks for the pen of
// the objects it starts with.
TEST_F(PlotRun, AStopOrDropDuringAPauseEndsCleanlyAndAResumeAsksForItsPen)
{
    THpglSheet s;
    LoadText(s, "SP1;PU0,0;PD10,0;SP2;PU20,0;PD30,0;");
    Runner.PenPauses = true;
    bool dropping = false;
    Runner.Aborting = [&] { return dropping; };
    for (const bool drop : {false, true}) {
        {
            std::lock_guard lock(Dev.M);
            Dev.Received.clear();
        }
        Running = true;
        dropping = false;
        Runner.Continuing = [&] {
            Running = false;
            dropping = drop;
            return false;
        };
        EXPECT_EQ(Runner.Plot(s, 20, true), drop ? TPlotEnd::Aborted : TPlotEnd::Stopped) << drop;
        EXPECT_EQ(Dev.Taken(), " SD20 BP IN PU0 0PD10 0PU20 0PUPA0 0 BP ") << drop;
        EXPECT_EQ(Runner.Handed(), 5) << drop;
        EXPECT_FALSE(Runner.Result().CutLeft) << drop;
    }

    {
        std::lock_guard lock(Dev.M);
        Dev.Received.clear();
    }
    Running = true;
    dropping = false;
    int asked = 0;
    Runner.OnProgress = [&](const TPlotProgress& p) { asked = p.PenPause ? p.PenPause : asked; };
    Runner.Continuing = [&] { return asked != 0; };
    EXPECT_EQ(Runner.Plot(s, 20, true, 3), TPlotEnd::Finished);
    EXPECT_EQ(asked, 2);  // the run starts with SP2: no second pause for it
    EXPECT_EQ(Dev.Taken(), " SD20 BP IN PUPA0 0PUPA10 0PU20 0PD30 0 BP ");
}
