#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "serial/linepacer.h"
#include "serialfixture.h"

using namespace std::chrono_literals;

namespace {

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + i * 7 % 26);
    return s;
}

// Everything the far end can read now, without waiting.
std::string ReadAvailable(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        int pending = 0;
        if (::ioctl(fd, FIONREAD, &pending) != 0 || pending <= 0)
            return out;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

// Everything the far end will ever read, once every slave descriptor is closed: the kernel
// hands a pseudo-terminal's bytes to its master later than the write returns, so a count of
// what is readable now can miss the last few. The read ends with EIO when the line is down.
std::string ReadToHangUp(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return out;  // a line that never hangs up fails the caller's comparison
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace

TEST(LinePacer, HandsOnAtTheLineRateAQuantumAtATime)
{
    struct Case {
        double Rate;
        std::uint32_t Quantum;
    };
    for (const Case c : {Case{960, 8}, Case{11520, 57}, Case{100, 8}, Case{400000, 2000}}) {
        TLinePacer p(c.Rate);
        EXPECT_EQ(p.QuantumBytes(), c.Quantum) << c.Rate;
        // An idle line takes a quantum at once, then nothing until it has carried some.
        EXPECT_EQ(p.Room(10), c.Quantum);
        p.Hand(c.Quantum, 10);
        EXPECT_EQ(p.Queued(10), c.Quantum);
        EXPECT_EQ(p.Room(10), 0u);
        const double carry = c.Quantum / c.Rate;
        EXPECT_NEAR(p.Wait(10), carry / 2, 1e-9);
        EXPECT_EQ(p.Queued(10 + carry / 2), (c.Quantum + 1) / 2);
        EXPECT_EQ(p.Queued(10 + carry), 0u);
        // A line idle for a while saves nothing up.
        EXPECT_EQ(p.Room(20), c.Quantum);
        p.Hand(c.Quantum, 20);
        EXPECT_EQ(p.Room(20), 0u);
        // Bytes handed back to back queue behind each other.
        p.Hand(c.Quantum, 20);
        EXPECT_EQ(p.Queued(20), 2 * c.Quantum);
        EXPECT_NEAR(p.Wait(20), 1.5 * carry, 1e-9);
    }
}

class Pacing : public FakePortTest {};

TEST_F(Pacing, PseudoTerminalsArePacedUnlessTheSettingSaysOtherwise)
{
    struct Case {
        bool Pty;
        TVaPaceLine Setting;
        bool Paced;
    };
    for (const Case c :
         {Case{false, plAuto, false}, Case{true, plAuto, true}, Case{false, plOn, true}, Case{true, plOff, false}}) {
        Dev.PseudoTerminal = c.Pty;
        PlotSettings(Comm);
        Comm.SetPaceLine(c.Setting);
        Comm.Open();
        EXPECT_EQ(Comm.Paced(), c.Paced) << c.Pty << " " << int(c.Setting);
        Comm.Close();
    }
    // A line of unknown rate is never paced.
    Dev.PseudoTerminal = true;
    Comm.SetPaceLine(plAuto);
    Comm.SetBaudrate(brUser);
    Comm.SetUserBaudrate(0);
    Comm.Open();
    EXPECT_FALSE(Comm.Paced());
}

TEST(PtyPacing, APseudoTerminalIsFoundThroughASymbolicLink)
{
    TPty pty;
    const std::string link = ::testing::TempDir() + "/grafonel-pty-link-" + std::to_string(::getpid());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.Path, link);
    TQueueDispatcher ui;
    TVaComm c;
    c.SetDispatcher(&ui);
    PlotSettings(c);
    c.SetPaceLine(plAuto);
    c.SetDeviceName(link);
    c.Open();
    EXPECT_TRUE(c.Paced());
    c.Close();
    std::filesystem::remove(link);
}

// The writer never runs ahead of the line: at any moment what the far end could have was
// handed no faster than the rate allows, plus one quantum. A busy machine only makes it
// slower, so the bound holds under load.
TEST(PtyPacing, WritesKeepToTheLineRateAndCountAsQueuedMeanwhile)
{
    TPtyLine line;
    line.Comm.SetPaceLine(plAuto);
    line.Comm.SetBaudrate(br115200);
    line.Comm.Buffers().WriteTimeout = 5000;
    line.Comm.Open();
    ASSERT_TRUE(line.Comm.Paced());
    const std::string sent = Pattern(4000);
    const double rate = line.Comm.LineBytesPerSecond();
    const double t0 = Seconds();
    std::string got;
    std::size_t staged = 0;
    bool queued = false;
    while (got.size() < sent.size()) {
        // Staged as room comes, the way a run writes: the writer hands over its events meanwhile.
        if (staged < sent.size() && line.Comm.WriteBufFree() >= 500) {
            ASSERT_EQ(line.Comm.WriteBuf(reinterpret_cast<const std::uint8_t*>(sent.data() + staged), 500), 500);
            staged += 500;
        }
        const std::uint64_t handed = line.Comm.BytesHanded();
        ASSERT_LE(static_cast<double>(handed), (Seconds() - t0) * rate + 2 * 57);
        const std::int64_t left = line.Comm.WriteBufUsed() + line.Comm.OutputQueueCount();
        queued = queued || (left > 0 && handed > 0);
        got += ReadAvailable(line.Pty.Master);
        line.Ui.Pump(1ms);
    }
    EXPECT_TRUE(queued);
    EXPECT_TRUE(got == sent);
    // Drained like a UART: nothing staged or queued once the line has carried it all.
    while (line.Comm.WriteBufUsed() + line.Comm.OutputQueueCount() > 0)
        line.Ui.Pump(1ms);
    EXPECT_EQ(line.Comm.BytesHanded(), 4000u);
}

// A drop leaves the far end exactly the count it returns: a write abandoned part way is
// counted to the byte.
TEST(PtyPacing, DroppingTheStagedBytesSaysExactlyWhatTheLineCarries)
{
    for (int round = 0; round < 5; ++round) {
        TPtyLine line;
        line.Comm.SetPaceLine(plOn);
        line.Comm.SetBaudrate(br9600);
        line.Comm.Buffers().WriteTimeout = 5000;
        line.Comm.Open();
        const std::string sent = Pattern(400);
        ASSERT_EQ(line.Comm.WriteBuf(reinterpret_cast<const std::uint8_t*>(sent.data()), 400), 400);
        std::string got;
        while (line.Comm.BytesHanded() < static_cast<std::uint64_t>(20 + round * 13)) {
            got += ReadAvailable(line.Pty.Master);
            line.Ui.Pump(1ms);
        }
        const std::uint64_t carried = line.Comm.DropStaged();
        EXPECT_EQ(line.Comm.WriteBufUsed(), 0);
        line.Comm.Close();
        line.Pty.DropSlave();
        got += ReadToHangUp(line.Pty.Master);
        EXPECT_EQ(got.size(), carried) << round;
        EXPECT_EQ(got, sent.substr(0, got.size()));
    }
}

TEST(PtyPacing, AHungUpLineShowsInTheStatusAtOnce)
{
    TPtyLine line;
    line.Comm.Open();
    EXPECT_EQ(line.Comm.OutputQueueCount(), 0);
    line.Pty.DropSlave();
    ::close(line.Pty.Master);
    line.Pty.Master = -1;
    EXPECT_THROW(line.Comm.OutputQueueCount(), EVaCommError);
}
