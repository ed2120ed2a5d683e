#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <random>

#include "serialfixture.h"

using namespace commport;
using namespace std::chrono_literals;

namespace {
std::string Bytes(std::size_t n, char c)
{
    return std::string(n, c);
}
}  // namespace

class WritePath : public FakePortTest {
protected:
    void SetUp() override
    {
        PlotSettings(Comm);
        Comm.Buffers().WriteTimeout = 200;
    }
    std::string Received() { return Dev.Taken(); }
};

TEST_F(WritePath, CountsOnOpenAndClosedPorts)
{
    EXPECT_EQ(Comm.WriteBufFree(), 0);
    EXPECT_EQ(Comm.WriteBufUsed(), 0);
    Comm.Open();
    EXPECT_EQ(Comm.WriteBufFree(), 512);
    EXPECT_EQ(Comm.WriteBufUsed(), 0);
    Comm.Close();
    EXPECT_EQ(Comm.WriteBufFree(), 0);
    EXPECT_FALSE(Comm.WriteText("abc"));  // closed: nothing written
    EXPECT_TRUE(Comm.WriteText(""));
    EXPECT_EQ(Received(), "");
}

TEST_F(WritePath, StagedBytesDrainAndTxEmptyFiresOnTheUiThread)
{
    Comm.Open();
    std::thread::id firedOn;
    int fired = 0;
    Comm.OnTxEmpty = [&](TVaCustomComm*) {
        firedOn = std::this_thread::get_id();
        ++fired;
    };
    Dev.SetHold(true);
    EXPECT_TRUE(Comm.WriteText(Bytes(40, 'a')));
    EXPECT_EQ(Comm.WriteBufUsed(), 40);
    EXPECT_EQ(Comm.WriteBufFree(), 472);
    Dev.SetHold(false);
    ASSERT_TRUE(PumpUntil([&] { return fired == 1; }));
    EXPECT_EQ(firedOn, std::this_thread::get_id());
    EXPECT_EQ(Comm.WriteBufUsed(), 0);
    EXPECT_EQ(Received(), Bytes(40, 'a'));
}

TEST_F(WritePath, LaterWritesFollowTheOneInFlight)
{
    Comm.Open();
    Dev.SetHold(true);
    Comm.WriteText("first ");
    // Wait until the writer is holding the first bytes in its write.
    ASSERT_TRUE(PumpUntil([&] { return Dev.Count("Write") > 0; }));
    Comm.WriteText("second ");
    Comm.WriteText("third");
    Dev.SetHold(false);
    ASSERT_TRUE(PumpUntil([&] { return Comm.WriteBufUsed() == 0; }));
    EXPECT_EQ(Received(), "first second third");
}

TEST_F(WritePath, ExactFitIsTakenAndOneByteMoreTimesOut)
{
    Comm.Open();
    Dev.SetHold(true);
    Comm.WriteText(Bytes(100, 'x'));
    EXPECT_TRUE(Comm.WriteText(Bytes(412, 'y')));
    EXPECT_EQ(Comm.WriteBufFree(), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Message([&] { Comm.WriteText("z"); }), "Output buffer is full. Please check comm status.");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(Comm.WriteBufUsed(), 512);  // nothing of the refused call was staged
    // A text longer than the whole buffer can never fit.
    EXPECT_EQ(Message([&] { Comm.WriteText(Bytes(513, 'q')); }), "Output buffer is full. Please check comm status.");
    Dev.SetHold(false);
    ASSERT_TRUE(PumpUntil([&] { return Comm.WriteBufUsed() == 0; }));
    EXPECT_EQ(Received(), Bytes(100, 'x') + Bytes(412, 'y'));
}

TEST_F(WritePath, EmptyTextIsAZeroLengthWriteWithTxEmpty)
{
    Comm.Open();
    int fired = 0;
    Comm.OnTxEmpty = [&](TVaCustomComm*) { ++fired; };
    EXPECT_TRUE(Comm.WriteText(""));
    ASSERT_TRUE(PumpUntil([&] { return fired == 1; }));
    EXPECT_EQ(Received(), "");
}

TEST_F(WritePath, PurgeDropsStagedBytesAndTheWriteInFlight)
{
    Comm.Open();
    Dev.SetHold(true);
    Comm.WriteText(Bytes(100, 'p'));
    ASSERT_TRUE(PumpUntil([&] { return Dev.Count("Write") > 0; }));
    Comm.PurgeWrite();
    EXPECT_EQ(Comm.WriteBufUsed(), 0);
    EXPECT_EQ(Dev.PurgeFlags, PURGE_TXABORT | PURGE_TXCLEAR);
    Dev.SetHold(false);
    // Each purge is acknowledged on its own: a second one works as the first did.
    Dev.SetHold(true);
    Comm.WriteText(Bytes(50, 'q'));
    ASSERT_TRUE(PumpUntil([&] { return Dev.Count("Write") > 1; }));
    Comm.PurgeWrite();
    EXPECT_EQ(Comm.WriteBufUsed(), 0);
    Dev.SetHold(false);
    Comm.WriteText("after");
    // The abandoned writes never complete later: bytes written next follow at once.
    Comm.WriteText("!");
    ASSERT_TRUE(PumpUntil([&] { return Received().size() >= 6; }));
    EXPECT_EQ(Received(), "after!");
    // A read purge leaves the writer alone.
    Dev.SetHold(true);
    Comm.WriteText("kept");
    Comm.PurgeRead();
    EXPECT_EQ(Comm.WriteBufUsed(), 4);
    Dev.SetHold(false);
    ASSERT_TRUE(PumpUntil([&] { return Received() == "after!kept"; }));
}

TEST_F(WritePath, PurgeFailureIsReported)
{
    Comm.Open();
    Dev.SetFail({{"Purge", EIO}});
    EXPECT_EQ(Message([&] { Comm.PurgeReadWrite(); }), "Error clearing buffers (5), Input/output error");
}

TEST_F(WritePath, CloseDiscardsStagedBytesAndNeverWaitsOnTheUiThread)
{
    Comm.Open();
    Dev.SetHold(true);
    Comm.WriteText("never sent");
    Comm.Close();
    Dev.SetHold(false);
    EXPECT_EQ(Received(), "");
    // The writer blocked handing TxEmpty over to this thread, which is busy closing: Close
    // must still return, and the call it abandoned must never run.
    int fired = 0;
    Comm.OnTxEmpty = [&](TVaCustomComm*) { ++fired; };
    Comm.Open();
    Comm.WriteText("x");
    // Not pumped: the writer's TxEmpty waits in the queue, the writer in the hand-over.
    const auto until = std::chrono::steady_clock::now() + 5s;
    while ((Received() != "x" || Ui.Queued() == 0) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(Received(), "x");
    ASSERT_GT(Ui.Queued(), 0);
    Comm.Close();
    Ui.Pump();
    EXPECT_EQ(fired, 0);
}

TEST_F(WritePath, WriteErrorsReportLineErrorsAndRetry)
{
    Comm.Open();
    std::vector<int> errors;
    Comm.OnError = [&](TVaCustomComm*, std::int32_t e) { errors.push_back(e); };
    {
        std::lock_guard lock(Dev.M);
        Dev.FailWrites = 2;
        Dev.LineErrors = CE_FRAME;
    }
    Comm.WriteText("abc");
    ASSERT_TRUE(PumpUntil([&] { return Received() == "abc"; }));
    EXPECT_EQ(errors, std::vector<int>{static_cast<int>(CE_FRAME)});
}

TEST_F(WritePath, RoomTestsKeepTheCapacityOfOpen)
{
    Comm.Open();
    EXPECT_THROW(Comm.Buffers().SetWriteSize(64), EVaCommError);
    EXPECT_EQ(Comm.WriteBufFree(), 512);
    Dev.SetHold(true);
    EXPECT_TRUE(Comm.WriteText(Bytes(300, 'c')));  // beyond the new size, within the old
    Dev.SetHold(false);
}

TEST_F(WritePath, DirectModeWritesAtOnceAndCountsTheSystemQueue)
{
    Comm.SetDirectWrite(true);
    Comm.Open();
    EXPECT_EQ(Comm.WriteBuf(reinterpret_cast<const std::uint8_t*>("direct"), 6), 6);
    EXPECT_EQ(Received(), "direct");
    Dev.OutQueue = 30;
    EXPECT_EQ(Comm.WriteBufUsed(), 30);
    EXPECT_EQ(Comm.WriteBufFree(), 512 - 30);
    // A device that takes nothing within the read timeout: the call says how much it took.
    Comm.Buffers().ReadTimeout = 50;
    Dev.SetHold(true);
    EXPECT_EQ(Comm.WriteBuf(reinterpret_cast<const std::uint8_t*>("held"), 4), 0);
    Dev.SetHold(false);
    Dev.SetFail({{"Write", EIO}});
    EXPECT_EQ(Message([&] { Comm.WriteText("x"); }), "Write error (5), Input/output error");
}

// A close drops what is still staged, never part of a write, and never reorders: what
// arrives is whole texts in the order written, every drained one among them.
TEST_F(WritePath, OpenWriteCloseAThousandTimes)
{
    std::vector<int> drained;
    for (int i = 0; i < 1000; ++i) {
        Comm.Open();
        Comm.WriteText("<" + std::to_string(i) + ">");
        if (i % 2) {
            ASSERT_TRUE(PumpUntil([&] { return Comm.WriteBufUsed() == 0; }));
            drained.push_back(i);
        }
        Comm.Close();
    }
    EXPECT_FALSE(Dev.Open);
    std::vector<int> arrived;
    const std::string got = Received();
    for (std::size_t at = 0; at < got.size();) {
        const std::size_t end = got.find('>', at);
        ASSERT_TRUE(got[at] == '<' && end != std::string::npos) << got.substr(at, 20);
        arrived.push_back(std::stoi(got.substr(at + 1, end - at - 1)));
        at = end + 1;
    }
    EXPECT_TRUE(std::is_sorted(arrived.begin(), arrived.end()));
    EXPECT_EQ(std::adjacent_find(arrived.begin(), arrived.end()), arrived.end());
    EXPECT_TRUE(std::includes(arrived.begin(), arrived.end(), drained.begin(), drained.end()));
}

// --- the real line

namespace {

// Plays the far end: reads everything, and (when asked) sends XOFF/XON bursts at random,
// the first at once. The master runs in packet mode, so the terminal itself says when its
// output was stopped and started again.
struct TFarEnd {
    TPty& Pty;
    std::string Got;  // read only after Stop
    std::atomic<std::size_t> Size{0};
    std::atomic<bool> Done{false};
    int Stops = 0;  // read only after Stop
    bool Flow;
    std::thread Thread;
    TFarEnd(TPty& pty, bool flow) : Pty(pty), Flow(flow)
    {
        int on = 1;
        ::ioctl(Pty.Master, TIOCPKT, &on);
        Thread = std::thread([this] { Run(); });
    }
    ~TFarEnd() { Stop(); }
    void Stop()
    {
        Done = true;
        if (Thread.joinable())
            Thread.join();
    }
    void Run()
    {
        std::mt19937 rng(1);
        char buf[4097];
        auto resumeAt = std::chrono::steady_clock::time_point{};
        bool stopped = false;
        while (!Done) {
            pollfd p{Pty.Master, POLLIN, 0};
            ::poll(&p, 1, 5);
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(Pty.Master, buf, sizeof buf);
                if (n > 1 && buf[0] == TIOCPKT_DATA) {
                    Got.append(buf + 1, static_cast<std::size_t>(n - 1));
                    Size += static_cast<std::size_t>(n - 1);
                } else if (n == 1 && (buf[0] & TIOCPKT_STOP)) {
                    ++Stops;
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (Flow && !stopped && (Stops == 0 || rng() % 20 == 0)) {
                const char xoff = 0x13;
                if (::write(Pty.Master, &xoff, 1) == 1) {
                    stopped = true;
                    resumeAt = now + std::chrono::milliseconds(rng() % 30);
                }
            } else if (stopped && now >= resumeAt) {
                const char xon = 0x11;
                if (::write(Pty.Master, &xon, 1) == 1)
                    stopped = false;
            }
        }
        if (stopped) {
            const char xon = 0x11;
            [[maybe_unused]] auto r = ::write(Pty.Master, &xon, 1);
        }
    }
};

// Writes size bytes in random texts, waiting for room as the plot dialog does.
std::string WriteRandomTexts(TVaComm& comm, TQueueDispatcher& ui, std::size_t size)
{
    std::mt19937 rng(7);
    std::string sent;
    while (sent.size() < size) {
        std::string text(1 + rng() % 60, '\0');
        for (char& ch : text)
            ch = static_cast<char>(rng());
        while (comm.WriteBufFree() < static_cast<std::int32_t>(text.size()))
            ui.Pump(std::chrono::milliseconds(1));
        comm.WriteText(text);
        sent += text;
    }
    while (comm.WriteBufUsed() > 0 || comm.OutputQueueCount() > 0)
        ui.Pump(std::chrono::milliseconds(1));
    return sent;
}

}  // namespace

namespace {

// Sends size bytes in random texts through the component to a far end that reads them (and,
// with flow, holds the line with XOFF bursts); returns what was sent and what arrived.
struct TTransfer {
    std::string Sent, Got;
    int Stops = 0;  // times the terminal stopped its output for an XOFF
};

TTransfer Transfer(std::size_t size, bool flow)
{
    TPty pty;
    TQueueDispatcher ui;
    TVaComm c;
    c.SetDispatcher(&ui);
    PlotSettings(c);
    c.Buffers().WriteTimeout = 5000;
    c.SetDeviceName(pty.Path);
    c.Open();
    TTransfer t;
    TFarEnd far(pty, flow);
    t.Sent = WriteRandomTexts(c, ui, size);
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (far.Size < t.Sent.size() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    far.Stop();
    t.Got = far.Got;
    t.Stops = far.Stops;
    c.Close();
    return t;
}

}  // namespace

TEST(PtyWritePath, AMegabyteArrivesWholeAndInOrder)
{
    const TTransfer t = Transfer(1 << 20, false);
    EXPECT_EQ(t.Got.size(), t.Sent.size());
    EXPECT_TRUE(t.Got == t.Sent);
}

TEST(PtyWritePath, XoffHoldsTheLineAndNothingIsLost)
{
    const TTransfer t = Transfer(256 << 10, true);
    EXPECT_GT(t.Stops, 0);  // the line really was held
    EXPECT_EQ(t.Got.size(), t.Sent.size());
    EXPECT_TRUE(t.Got == t.Sent);
}
