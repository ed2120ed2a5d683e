// The component stays sound when handlers close the port, when purges meet the writer's
// hand-over, when the device vanishes, and when its partners go away first.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <atomic>
#include <ctime>

#include "serial/platform/linecounters.h"
#include "serialfixture.h"

using namespace commport;
using namespace std::chrono_literals;

namespace {

class TCountingDisplay : public TVaCommDisplay {
public:
    int Updates = 0;
    void UpdateFrom(TVaCustomComm&) override { ++Updates; }
};

long VoluntarySwitches()
{
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

double ProcessCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

// --- a handler closes the port

class HandlerClose : public FakePortTest {
protected:
    std::vector<std::string> Log;
    void SetUp() override
    {
        Comm.SetDeviceName("COM%d");
        Comm.SetMonitorEvents({ceRxChar, ceCts, ceDsr, ceRing});
        Comm.OnCts = [this](TVaCustomComm*) { Log.push_back("cts"); };
        Comm.OnDsr = [this](TVaCustomComm*) { Log.push_back("dsr"); };
        Comm.OnRing = [this](TVaCustomComm*) { Log.push_back("ring"); };
        Comm.OnRxBuf = [this](TVaCustomComm*, const std::uint8_t*, std::int32_t) { Log.push_back("rxbuf"); };
    }
    // Sends one batch and pumps until the port has been closed from inside it.
    void BatchThatCloses(const std::string& bytes, std::uint32_t events)
    {
        Comm.Open();
        Dev.Send(bytes, events);
        ASSERT_TRUE(PumpUntil([&] { return !Comm.Active(); }));
        Ui.Pump(5ms);
        EXPECT_FALSE(Dev.Open);
    }
};

TEST_F(HandlerClose, InOnRxCharEndsTheBatch)
{
    Comm.OnRxChar = [this](TVaCustomComm* c, std::int32_t) {
        Log.push_back("rxchar " + c->ReadText());
        c->Close();
    };
    BatchThatCloses("ab", EV_RXCHAR | EV_CTS | EV_DSR);
    EXPECT_EQ(Log, std::vector<std::string>{"rxchar ab"});
}

TEST_F(HandlerClose, InAClientOrOnRxBufEndsTheBatch)
{
    TLogClient first, second;
    first.Log = second.Log = &Log;
    first.SetComm(&Comm);
    second.SetComm(&Comm);
    first.OnData = [this] { Comm.Close(); };
    BatchThatCloses("x", EV_RXCHAR | EV_CTS);
    EXPECT_EQ(Log, std::vector<std::string>{"client data x"});

    Log.clear();
    first.OnData = nullptr;
    Comm.OnRxBuf = [this](TVaCustomComm* c, const std::uint8_t*, std::int32_t) {
        Log.push_back("rxbuf");
        c->Close();
    };
    BatchThatCloses("y", EV_RXCHAR | EV_CTS);
    EXPECT_EQ(Log, (std::vector<std::string>{"client data y", "client data y", "rxbuf"}));
}

TEST_F(HandlerClose, InALineHandlerSkipsTheLaterOnes)
{
    Comm.OnCts = [this](TVaCustomComm* c) {
        Log.push_back("cts");
        c->Close();
    };
    BatchThatCloses("", EV_CTS | EV_DSR | EV_RING);
    EXPECT_EQ(Log, std::vector<std::string>{"cts"});
}

TEST_F(HandlerClose, InOnTxEmptyAndReopenedLater)
{
    Comm.OnTxEmpty = [this](TVaCustomComm* c) {
        Log.push_back("txempty");
        c->Close();
    };
    Comm.Open();
    Comm.WriteText("bye");
    ASSERT_TRUE(PumpUntil([&] { return !Comm.Active(); }));
    EXPECT_EQ(Dev.Taken(), "bye");
    Comm.OnTxEmpty = nullptr;
    Comm.Open();
    Comm.WriteText(" again");
    ASSERT_TRUE(PumpUntil([&] { return Dev.Taken() == "bye again"; }));
    EXPECT_EQ(Log, std::vector<std::string>{"txempty"});
}

TEST_F(HandlerClose, CloseAndReopenInsideAHandlerStartsAFreshSession)
{
    int reopened = 0;
    Comm.OnRxChar = [&](TVaCustomComm* c, std::int32_t) {
        Log.push_back("rxchar " + c->ReadText());
        if (reopened++ == 0) {
            c->Close();
            c->Open();
        }
    };
    Comm.Open();
    Dev.Send("1", EV_RXCHAR | EV_CTS);
    ASSERT_TRUE(PumpUntil([&] { return reopened == 1; }));
    Ui.Pump(5ms);
    EXPECT_EQ(Log, std::vector<std::string>{"rxchar 1"});  // the old batch's CTS went with it
    EXPECT_EQ(Dev.Opens, 2);
    Dev.Send("2", EV_RXCHAR | EV_DSR);
    ASSERT_TRUE(PumpUntil([&] { return Log.size() == 3; }));
    EXPECT_EQ(Log, (std::vector<std::string>{"rxchar 1", "rxchar 2", "dsr"}));
}

// --- purges and the writer's hand-over

namespace {

// Holds the writer for a moment as it starts its next hand-over, so that a purge can be
// raised just before it.
class TGateUi : public TQueueDispatcher {
public:
    mutable std::atomic<bool> Armed{false};
    mutable std::atomic<bool> Entered{false};
    bool IsUiThread() const override
    {
        const bool ui = TQueueDispatcher::IsUiThread();
        if (!ui && Armed.exchange(false)) {
            Entered = true;
            std::this_thread::sleep_for(100ms);
        }
        return ui;
    }
};

}  // namespace

TEST(PurgeRace, APurgeJustBeforeTheTxEmptyHandOverKeepsLaterBytes)
{
    TFakePorts fake;
    TGateUi ui;
    TVaComm c;
    c.SetDispatcher(&ui);
    PlotSettings(c);
    c.Open();
    ui.Armed = true;
    c.WriteText("old");
    while (!ui.Entered)
        std::this_thread::sleep_for(1ms);
    c.PurgeWrite();
    c.WriteText("NEW");
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (fake.Device->Taken().find("NEW") == std::string::npos && std::chrono::steady_clock::now() < until)
        ui.Pump(2ms);
    EXPECT_EQ(fake.Device->Taken(), "oldNEW");
    c.Close();
}

TEST_F(FakePortTest, APurgeWaitsForTheWriterWithoutHoldingTheGlobalLock)
{
    PlotSettings(Comm);
    Comm.Open();
    {
        std::lock_guard lock(Dev.M);
        Dev.Deaf = true;  // the write in flight does not give way to the purge
        Dev.Hold = true;
    }
    Comm.WriteText("held");
    ASSERT_TRUE(PumpUntil([&] { return Dev.Count("Write") > 0; }));
    std::atomic<bool> purged{false};
    std::thread purger([&] {
        Comm.PurgeWrite();
        purged = true;
    });
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(Dev.M);
        return Dev.WakeIgnored;
    }));
    // The purge is waiting for the writer; a status query must not wait behind it.
    EXPECT_EQ(Comm.ReadBufUsed(), 0);
    EXPECT_FALSE(purged);
    Dev.SetHold(false);
    purger.join();
    EXPECT_TRUE(purged);
}

TEST_F(FakePortTest, AWriteWaitingForRoomSleepsUntilTheWriterMakesIt)
{
    PlotSettings(Comm);
    Comm.Buffers().WriteTimeout = 300;
    Comm.Open();
    Dev.SetHold(true);
    ASSERT_TRUE(Comm.WriteText(std::string(512, 'f')));
    const long before = VoluntarySwitches();
    EXPECT_EQ(Message([&] { Comm.WriteText("z"); }), "Output buffer is full. Please check comm status.");
    // A wait that looks for room every few hundred microseconds switches away hundreds of
    // times in 300 ms; one woken by the writer sleeps through.
    EXPECT_LT(VoluntarySwitches() - before, 20);

    Comm.Buffers().WriteTimeout = 10000;
    std::thread release([&] {
        std::this_thread::sleep_for(20ms);
        Dev.SetHold(false);
    });
    EXPECT_TRUE(Comm.WriteText("z"));  // taken as soon as the held bytes went
    release.join();
    ASSERT_TRUE(PumpUntil([&] { return Dev.Taken().size() == 513; }));
    EXPECT_EQ(Dev.Taken(), std::string(512, 'f') + "z");
}

// --- the device goes away

class LostLine : public FakePortTest {
protected:
    std::vector<std::int32_t> Errors;
    void SetUp() override
    {
        PlotSettings(Comm);
        Comm.OnError = [this](TVaCustomComm*, std::int32_t e) { Errors.push_back(e); };
    }
};

TEST_F(LostLine, IsReportedOnceAndEveryLaterCallRaisesTheReason)
{
    for (const bool events : {false, true}) {
        SCOPED_TRACE(events ? "event thread" : "writer only");
        Errors.clear();
        Comm.SetMonitorEvents(events ? TVaCommEvents{ceRxChar, ceCts, ceError} : TVaCommEvents{});
        Comm.Open();
        Dev.SetHold(true);
        Comm.WriteText("mid-write");
        ASSERT_TRUE(PumpUntil([&] { return Dev.Count("Write") > 0; }));
        {
            std::lock_guard lock(Dev.M);
            Dev.LineErrors = CE_FRAME;
        }
        Dev.HangUp(ENXIO);
        ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }));
        Ui.Pump(20ms);
        EXPECT_EQ(Errors, std::vector<std::int32_t>{static_cast<std::int32_t>(CE_IOE | CE_FRAME)});
        EXPECT_EQ(Comm.LineLost(), ENXIO);
        EXPECT_EQ(Message([&] { Comm.WriteText("more"); }), "Write error (6), No such device or address");
        EXPECT_EQ(Message([&] { Comm.ReadBufUsed(); }), "Error retrieving statistics (6), No such device or address");
        EXPECT_EQ(Comm.WriteBufUsed(), 9);  // never sent, never reported as sent
        EXPECT_EQ(Message([&] { Comm.PurgeWrite(); }), "Error clearing buffers (6), No such device or address");
        EXPECT_EQ(Comm.WriteBufUsed(), 0);
        Comm.Close();
        Dev.HangUp(0);
        Dev.SetHold(false);
        Comm.Open();
        EXPECT_EQ(Comm.LineLost(), 0);
        EXPECT_TRUE(Comm.WriteText("back"));
        ASSERT_TRUE(PumpUntil([&] { return Dev.Taken() == "back"; }));
        Comm.Close();
        std::lock_guard lock(Dev.M);
        Dev.Received.clear();
    }
}

TEST(PtyLostLine, AHangUpMidWriteIsReportedAndCostsNoProcessorUntilClose)
{
    for (const bool hangUp : {true, false}) {
        SCOPED_TRACE(hangUp ? "TIOCVHANGUP" : "far end closed");
        TPtyLine line;
        auto& [pty, ui, c] = line;
        c.SetMonitorEvents({ceRxChar, ceCts, ceError});
        std::vector<std::int32_t> errors;
        c.OnError = [&](TVaCustomComm*, std::int32_t e) { errors.push_back(e); };
        c.Open();
        const char xoff = 0x13;  // the line holds the writer in its write
        ASSERT_EQ(::write(pty.Master, &xoff, 1), 1);
        ASSERT_TRUE(c.WriteText(std::string(300, 'w')));
        ui.Pump(10ms);
        const auto start = std::chrono::steady_clock::now();
        if (hangUp) {
            ASSERT_EQ(::ioctl(pty.Slave, TIOCVHANGUP), 0);
        } else {
            ::close(pty.Master);
            pty.Master = -1;
        }
        while (errors.empty() && std::chrono::steady_clock::now() - start < 5s)
            ui.Pump(1ms);
        ASSERT_EQ(errors.size(), 1u);
        const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        RecordProperty(hangUp ? "vhangup_reported_after_ms" : "close_reported_after_ms", std::to_string(ms));
        EXPECT_TRUE(errors[0] & CE_IOE);
        EXPECT_EQ(c.LineLost(), EIO);
        // Both threads saw the hang-up; neither polls the port any more.
        const double cpu = ProcessCpuMs();
        std::this_thread::sleep_for(500ms);
        EXPECT_LT(ProcessCpuMs() - cpu, 5.0);  // under 1% of a core
        ui.Pump();
        EXPECT_EQ(errors.size(), 1u);
        EXPECT_EQ(Message([&] { c.WriteText("x"); }), "Write error (5), Input/output error");
        EXPECT_EQ(Message([&] { c.ReadBufUsed(); }), "Error retrieving statistics (5), Input/output error");
        c.Close();
        EXPECT_FALSE(c.Active());
    }
}

// --- links to and from other components

TEST(Links, DestroyingTheComponentUnlinksItsClientsAndItsDisplay)
{
    std::vector<std::string> log;
    TLogClient client;
    client.Log = &log;
    TCountingDisplay display;
    auto comm = std::make_unique<TVaComm>();
    client.SetComm(comm.get());
    comm->SetDisplay(&display);
    EXPECT_EQ(display.Comm(), comm.get());
    comm.reset();
    EXPECT_EQ(client.Comm(), nullptr);
    EXPECT_EQ(display.Comm(), nullptr);
    TVaComm other;
    client.SetComm(&other);  // must not reach back into the destroyed component
    EXPECT_EQ(other.Clients().size(), 1u);
    EXPECT_EQ(client.Comm(), &other);

    // The other way round: a display that goes first leaves no link behind.
    {
        TCountingDisplay shortLived;
        other.SetDisplay(&shortLived);
        other.SetDisplay(&display);
        EXPECT_EQ(shortLived.Comm(), nullptr);
        other.SetDisplay(&shortLived);
    }
    EXPECT_EQ(other.Display(), nullptr);
    EXPECT_EQ(display.Comm(), nullptr);
}

// --- the line after Close, and settings it cannot take

TEST(PtyExclusive, CloseGivesUpExclusiveUseAndTheLock)
{
    TPtyLine line;
    auto& [pty, ui, c] = line;
    for (int round = 0; round < 2; ++round) {
        c.Open();
        int exclusive = 0;
        ASSERT_EQ(::ioctl(pty.Slave, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        EXPECT_NE(::flock(pty.Slave, LOCK_EX | LOCK_NB), 0);
        c.Close();
        ASSERT_EQ(::ioctl(pty.Slave, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);  // anyone may open it again
        EXPECT_EQ(::flock(pty.Slave, LOCK_EX | LOCK_NB), 0);
        ::flock(pty.Slave, LOCK_UN);
    }
}

TEST(PtySettings, WhatTheLineCannotDoIsRefusedNotReplaced)
{
    TPtyLine line;
    auto& [pty, ui, c] = line;
    c.SetDatabits(db4);
    EXPECT_EQ(Message([&] { c.Open(); }), "Error writing dcb (22), Invalid argument");
    EXPECT_FALSE(c.Active());
    c.SetDatabits(db8);
    c.FlowControl().SetControlRts(rtsToggle);  // a pseudo-terminal has no RS-485 mode
    EXPECT_EQ(Message([&] { c.Open(); }), "Error writing dcb (25), Inappropriate ioctl for device");
    EXPECT_FALSE(c.Active());
    c.FlowControl().SetControlRts(rtsDisabled);
    c.Open();
    EXPECT_EQ(Message([&] { c.SetDatabits(db4); }), "Error writing dcb (22), Invalid argument");
    EXPECT_EQ(c.Databits(), db8);  // the refused value is not kept
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.Slave, &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    c.SetDatabits(db7);
    EXPECT_EQ(c.Databits(), db7);
    c.Close();
}

// --- line states belong to the event thread

TEST(LineCounters, StatusQueriesTakeErrorsButNeverLineStateChanges)
{
    TLineCounters lines;
    TLineCounts c;
    EXPECT_EQ(lines.Events(c), 0u);  // the first look sets the baseline
    c.Cts = 1;
    c.Ring = 2;
    c.Frame = 1;
    EXPECT_EQ(lines.TakeErrors(c), CE_FRAME);  // the status query came first
    EXPECT_EQ(lines.Events(c), EV_CTS | EV_RING | EV_ERR);
    EXPECT_EQ(lines.Events(c), 0u);
    EXPECT_EQ(lines.TakeErrors(c), 0u);

    c.Break = 1;
    c.Overrun = 3;
    c.Dsr = 1;
    EXPECT_EQ(lines.Events(c), EV_BREAK | EV_DSR | EV_ERR);
    EXPECT_EQ(lines.TakeErrors(c), CE_BREAK | CE_OVERRUN);
    c.Rlsd = 5;
    c.Parity = 1;
    c.BufOverrun = 1;
    EXPECT_EQ(lines.TakeErrors(c), CE_RXPARITY | CE_RXOVER);
    EXPECT_EQ(lines.TakeErrors(c), 0u);
    EXPECT_EQ(lines.Events(c), EV_RLSD | EV_ERR);
    EXPECT_EQ(lines.TakePending(), 0u);
}
