// A thousand sessions of everything at once on a real line: quick opens and closes, writes,
// purges, closes from inside handlers and reopens, with events monitored and data flowing
// both ways. Run under
// ThreadSanitizer too; a lost, duplicated or reordered byte fails it.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "serialfixture.h"

using namespace std::chrono_literals;

namespace {

// The far end: reads all it is sent, and sends the alphabet over and over, each byte once.
struct TTalkingFarEnd {
    TPty& Pty;
    std::mutex M;
    std::string Got;
    std::atomic<bool> Done{false};
    std::thread Thread;
    explicit TTalkingFarEnd(TPty& pty) : Pty(pty)
    {
        ::fcntl(Pty.Master, F_SETFL, ::fcntl(Pty.Master, F_GETFL) | O_NONBLOCK);
        Thread = std::thread([this] { Run(); });
    }
    ~TTalkingFarEnd()
    {
        Done = true;
        Thread.join();
    }
    // What arrived, without the purged filler and the line's own XON/XOFF.
    std::string Payload()
    {
        std::lock_guard lock(M);
        std::string out;
        std::copy_if(Got.begin(), Got.end(), std::back_inserter(out),
                     [](char ch) { return ch != '#' && ch != 0x11 && ch != 0x13; });
        return out;
    }
    void Run()
    {
        std::size_t next = 0;
        char buf[4096];
        while (!Done) {
            pollfd p{Pty.Master, POLLIN, 0};
            ::poll(&p, 1, 1);
            const ssize_t n = ::read(Pty.Master, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard lock(M);
                Got.append(buf, static_cast<std::size_t>(n));
            }
            char out[16];
            for (std::size_t i = 0; i < sizeof out; ++i)
                out[i] = static_cast<char>('A' + (next + i) % 26);
            const ssize_t w = ::write(Pty.Master, out, sizeof out);
            if (w > 0)
                next += static_cast<std::size_t>(w);
        }
    }
};

}  // namespace

TEST(PtyStress, ThousandSessionsOfOpenWritePurgeAndHandlerCloses)
{
    TPtyLine line;
    auto& [pty, ui, c] = line;
    TTalkingFarEnd far(pty);
    c.SetMonitorEvents({ceRxChar, ceCts, ceError});

    enum { kNone, kCloseInRx, kReopenInRx, kCloseInTx } inHandler = kNone;
    std::size_t received = 0;
    int outOfOrder = 0;
    int previous = -1;  // the last byte of this session, -1 at its start
    auto endSession = [&] { previous = -1; };
    c.OnRxChar = [&](TVaCustomComm* s, std::int32_t) {
        for (char ch : s->ReadText()) {
            if (previous >= 0 && ch != static_cast<char>('A' + (previous - 'A' + 1) % 26))
                ++outOfOrder;
            previous = static_cast<unsigned char>(ch);
            ++received;
        }
        if (inHandler == kCloseInRx || inHandler == kReopenInRx) {
            s->Close();
            endSession();
            if (inHandler == kReopenInRx)
                s->Open();
            inHandler = kNone;
        }
    };
    c.OnTxEmpty = [&](TVaCustomComm* s) {
        if (inHandler == kCloseInTx) {
            s->Close();
            endSession();
            inHandler = kNone;
        }
    };
    auto pumpUntil = [&](const std::function<bool()>& cond) {
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (!cond() && std::chrono::steady_clock::now() < until)
            ui.Pump(1ms);
        return cond();
    };

    std::string expected;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        // Quick sessions, 800 in all: bytes a close may cut short are filler; every other
        // session waits for its text to arrive.
        for (int q = 0; q < 4; ++q) {
            if (!c.Active())
                c.Open();
            if (q % 2) {
                const std::string text = "(" + std::to_string(round * 4 + q) + ")";
                ASSERT_TRUE(c.WriteText(text));
                expected += text;
                ASSERT_TRUE(pumpUntil([&] { return far.Payload().size() >= expected.size(); }));
            } else {
                c.WriteText("####");
                ui.Pump(q == 0 ? 1ms : 0ms);
            }
            c.Close();
            endSession();
        }
        if (!c.Active())
            c.Open();
        const std::string payload =
            "<" + std::to_string(round) + ":" +
            std::string(static_cast<std::size_t>(round % 50), static_cast<char>('a' + round % 26)) + ">";
        ASSERT_TRUE(c.WriteText(payload));
        expected += payload;
        ASSERT_TRUE(pumpUntil([&] { return far.Payload().size() >= expected.size(); }));
        if (round % 4 == 1) {
            // Filler that may or may not get out before the purge drops it.
            c.WriteText(std::string(200, '#'));
            c.PurgeWrite();
        }
        switch (round % 4) {
        case 0:
            c.Close();
            endSession();
            break;
        case 1:
            inHandler = kCloseInRx;
            ASSERT_TRUE(pumpUntil([&] { return !c.Active(); }));
            break;
        case 2:
            inHandler = kReopenInRx;
            ASSERT_TRUE(pumpUntil([&] { return inHandler == kNone; }));
            EXPECT_TRUE(c.Active());
            break;
        default:
            inHandler = kCloseInTx;
            c.WriteText("");
            ASSERT_TRUE(pumpUntil([&] { return !c.Active(); }));
            break;
        }
    }
    c.Close();
    ui.Pump();
    EXPECT_EQ(far.Payload(), expected);
    EXPECT_GT(received, 0u);
    EXPECT_EQ(outOfOrder, 0);
}
