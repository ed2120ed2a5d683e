#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <random>
#include <stdexcept>

#include "serialfixture.h"

using namespace commport;
using namespace std::chrono_literals;

class Events : public FakePortTest {
protected:
    std::vector<std::string> Log;

    void SetUp() override
    {
        Comm.SetDeviceName("COM%d");
        Comm.SetMonitorEvents({ceRxChar, ceCts, ceDsr, ceRing, ceRlsd, ceBreak, ceError, ceRxFlag, cePErr, ceRx80Full,
                               ceEvent1, ceEvent2});
        Comm.OnCts = [this](TVaCustomComm*) { Log.push_back("cts"); };
        Comm.OnDsr = [this](TVaCustomComm*) { Log.push_back("dsr"); };
        Comm.OnRing = [this](TVaCustomComm*) { Log.push_back("ring"); };
        Comm.OnRlsd = [this](TVaCustomComm*) { Log.push_back("rlsd"); };
        Comm.OnBreak = [this](TVaCustomComm*) { Log.push_back("break"); };
        Comm.OnRxFlag = [this](TVaCustomComm*) { Log.push_back("rxflag"); };
        Comm.OnPErr = [this](TVaCustomComm*) { Log.push_back("perr"); };
        Comm.OnRx80Full = [this](TVaCustomComm*) { Log.push_back("rx80full"); };
        Comm.OnEvent1 = [this](TVaCustomComm*) { Log.push_back("event1"); };
        Comm.OnEvent2 = [this](TVaCustomComm*) { Log.push_back("event2"); };
        Comm.OnTxEmpty = [this](TVaCustomComm*) { Log.push_back("txempty"); };
        Comm.OnError = [this](TVaCustomComm*, std::int32_t e) { Log.push_back("error " + std::to_string(e)); };
        Comm.OnRxBuf = [this](TVaCustomComm*, const std::uint8_t* d, std::int32_t n) {
            Log.push_back("rxbuf " + std::string(reinterpret_cast<const char*>(d), static_cast<std::size_t>(n)));
        };
    }
    bool WaitLog(std::size_t n)
    {
        return PumpUntil([&] { return Log.size() >= n; });
    }
};

TEST_F(Events, ReceivedDataComesBeforeLineEvents)
{
    Comm.OnRxChar = [this](TVaCustomComm* c, std::int32_t n) {
        Log.push_back("rxchar " + std::to_string(n) + " " + c->ReadText());
    };
    Comm.Open();
    Dev.Send("hello", EV_RXCHAR | EV_CTS);
    ASSERT_TRUE(WaitLog(2));
    EXPECT_EQ(Log, (std::vector<std::string>{"rxchar 5 hello", "cts"}));
    EXPECT_EQ(Comm.ReadText(), "");
}

TEST_F(Events, HandlersFireInTheirFixedOrder)
{
    Comm.Open();
    Dev.Send("", EV_EVENT2 | EV_EVENT1 | EV_RX80FULL | EV_PERR | EV_BREAK | EV_RLSD | EV_RING | EV_DSR | EV_CTS |
                     EV_RXFLAG);
    ASSERT_TRUE(WaitLog(10));
    EXPECT_EQ(Log, (std::vector<std::string>{"rxflag", "cts", "dsr", "ring", "rlsd", "break", "perr", "rx80full",
                                             "event1", "event2"}));
}

TEST_F(Events, OneClientGetsTheDataThenOnRxBufAndOnRxCharStaysQuiet)
{
    Comm.OnRxChar = [this](TVaCustomComm*, std::int32_t) { Log.push_back("rxchar"); };
    TLogClient client;
    client.Log = &Log;
    client.SetComm(&Comm);
    Comm.Open();
    Dev.Send("abc", EV_RXCHAR | EV_DSR);
    ASSERT_TRUE(WaitLog(4));
    EXPECT_EQ(Log, (std::vector<std::string>{"client data abc", "rxbuf abc", "client line 16", "dsr"}));
}

TEST_F(Events, DisabledControlsAndInactiveClientsAreSkipped)
{
    TLogClient a, b;
    a.Log = b.Log = &Log;
    a.Name = "a";
    b.Name = "b";
    a.SetComm(&Comm);
    b.SetComm(&Comm);
    b.SetActive(false);
    Comm.Open();
    Dev.Send("1", EV_RXCHAR);
    ASSERT_TRUE(WaitLog(2));
    EXPECT_EQ(Log, (std::vector<std::string>{"a data 1", "rxbuf 1"}));
    Log.clear();
    Comm.DisableControls();
    Dev.Send("2", EV_RXCHAR | EV_CTS);
    ASSERT_TRUE(WaitLog(2));
    EXPECT_EQ(Log, (std::vector<std::string>{"rxbuf 2", "cts"}));
    Comm.EnableControls();
}

TEST_F(Events, LineErrorsFireOnErrorOnlyWithErrorBits)
{
    Comm.Open();
    Dev.Send("", EV_ERR | EV_CTS);
    ASSERT_TRUE(WaitLog(1));
    EXPECT_EQ(Log, std::vector<std::string>{"cts"});
    {
        std::lock_guard lock(Dev.M);
        Dev.LineErrors = CE_FRAME | CE_OVERRUN;
    }
    Dev.Send("", EV_ERR);
    ASSERT_TRUE(WaitLog(2));
    EXPECT_EQ(Log[1], "error " + std::to_string(CE_FRAME | CE_OVERRUN));
}

TEST_F(Events, AHandlerThatThrowsIsReportedAndDeliveryGoesOn)
{
    std::vector<std::string> reported;
    Ui.OnException = [&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reported.push_back(x.what());
        }
    };
    Comm.OnRing = [](TVaCustomComm*) { throw std::runtime_error("handler failed"); };
    Comm.Open();
    Dev.Send("", EV_RING);
    ASSERT_TRUE(PumpUntil([&] { return !reported.empty(); }));
    Dev.Send("", EV_CTS);
    ASSERT_TRUE(WaitLog(1));
    EXPECT_EQ(reported, std::vector<std::string>{"handler failed"});
    EXPECT_EQ(Log, std::vector<std::string>{"cts"});
}

TEST_F(Events, ReadsOnEmptyAndClosedPorts)
{
    std::uint8_t b[4];
    char c;
    EXPECT_EQ(Comm.ReadBuf(b, 4), 0);
    EXPECT_FALSE(Comm.ReadChar(c));
    EXPECT_EQ(Comm.ReadBufUsed(), 0);
    EXPECT_EQ(Comm.ReadBufFree(), 0);
    Comm.SetMonitorEvents({});
    Comm.Open();
    EXPECT_EQ(Comm.ReadText(), "");
    EXPECT_EQ(Comm.ReadBufFree(), 4096);
    Dev.Send("xy", 0);
    EXPECT_EQ(Comm.ReadBufUsed(), 2);
    EXPECT_TRUE(Comm.ReadChar(c));
    EXPECT_EQ(c, 'x');
    Dev.SetFail({{"Read", EIO}});
    EXPECT_EQ(Message([&] { Comm.ReadText(); }), "Read error (5), Input/output error");
    Dev.SetFail({});
    Comm.PurgeRead();
    EXPECT_EQ(Comm.ReadText(), "");
}

TEST_F(Events, NoEventThreadWithoutMonitoredEventsYetTxEmptyStillFires)
{
    Comm.SetMonitorEvents({});
    Comm.Open();
    Comm.WriteText("z");
    ASSERT_TRUE(WaitLog(1));
    EXPECT_EQ(Log, std::vector<std::string>{"txempty"});
    EXPECT_EQ(Dev.Mask, 0u);
}

TEST_F(Events, ClientLinksFollowTheirComponents)
{
    auto client = std::make_unique<TLogClient>();
    client->SetComm(&Comm);
    EXPECT_EQ(Comm.Clients().size(), 1u);
    TVaComm other;
    client->SetComm(&other);
    EXPECT_TRUE(Comm.Clients().empty());
    EXPECT_EQ(other.Clients().size(), 1u);
    client->Notification(&other, true);  // the component it links to goes away
    EXPECT_EQ(client->Comm(), nullptr);
    EXPECT_TRUE(other.Clients().empty());
    client->SetComm(&Comm);
    client.reset();  // a destroyed client leaves the list
    EXPECT_TRUE(Comm.Clients().empty());

    TLogClient kept;
    {
        TVaComm shortLived;
        kept.SetComm(&shortLived);
    }  // the component's destruction removes its clients without freeing them
    TVaDispatcher loose(&kept);
    EXPECT_EQ(loose.WriteBuf(reinterpret_cast<const std::uint8_t*>("a"), 1), 0);
    EXPECT_FALSE(loose.WriteText("a"));
    EXPECT_FALSE(loose.WriteChar('a'));
}

// --- the real line

TEST(PtyEvents, AMegabyteInBurstsArrivesWholeThroughEventsAndAClient)
{
    for (int viaClient = 0; viaClient < 2; ++viaClient) {
        TPty pty;
        TQueueDispatcher ui;
        TVaComm c;
        c.SetDispatcher(&ui);
        c.SetDeviceName(pty.Path);
        c.SetMonitorEvents({ceRxChar});
        std::string got;
        class TCollect : public TVaCommComponent {
        public:
            std::string* Got = nullptr;
            void DataChanged(const std::uint8_t* d, std::int32_t n) override
            {
                Got->append(reinterpret_cast<const char*>(d), static_cast<std::size_t>(n));
            }
        } client;
        client.Got = &got;
        if (viaClient)
            client.SetComm(&c);
        else
            c.OnRxChar = [&](TVaCustomComm* s, std::int32_t) { got += s->ReadText(); };
        c.Open();
        std::mt19937 rng(5 + viaClient);
        std::string sent;
        while (sent.size() < (1u << 20)) {
            std::string burst(1 + rng() % 3000, '\0');
            for (char& ch : burst)
                ch = static_cast<char>(rng());
            sent += burst;
        }
        std::thread far([&] {
            std::size_t off = 0;
            while (off < sent.size()) {
                const std::size_t n = std::min<std::size_t>(1 + rng() % 3000, sent.size() - off);
                const ssize_t w = ::write(pty.Master, sent.data() + off, n);
                if (w > 0)
                    off += static_cast<std::size_t>(w);
                else
                    std::this_thread::sleep_for(1ms);
            }
        });
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (got.size() < sent.size() && std::chrono::steady_clock::now() < until)
            ui.Pump(5ms);
        far.join();
        EXPECT_EQ(got.size(), sent.size()) << viaClient;
        EXPECT_TRUE(got == sent) << viaClient;
        c.Close();
    }
}
