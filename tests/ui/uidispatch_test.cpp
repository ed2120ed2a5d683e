#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "formfixture.h"
#include "serial/uidispatch.h"

// A worker's call runs on the user-interface thread inside its event loop, and the worker
// waits for it; a stop request releases a worker whose call has not run, which then never runs.
TEST(QtHandOver, RunsOnTheUiThreadAndStopReleasesTheWaiter)
{
    auto state = std::make_shared<THandOverState>();
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    bool result = false;
    std::thread worker([&] {
        result = HandOver(UiDispatcher(), state, [&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    QElapsedTimer t;
    t.start();
    while (!returned && t.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    bool ran = false;
    returned = false;
    std::thread blocked([&] {
        result = HandOver(UiDispatcher(), state, [&] { ran = true; });
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned);  // waits: nobody processes events
    {
        std::lock_guard lock(state->M);
        state->Stop = true;
    }
    state->Cv.notify_all();
    blocked.join();
    EXPECT_FALSE(result);
    QApplication::processEvents();
    EXPECT_FALSE(ran);
}

TEST_F(FormTest, ExceptionsFromHandedOverCallsReachTheErrorBox)
{
    auto state = std::make_shared<THandOverState>();
    std::thread worker([&] { HandOver(UiDispatcher(), state, [] { throw std::runtime_error("Line error"); }); });
    QElapsedTimer t;
    t.start();
    while (Boxes.empty() && t.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    worker.join();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Line error.");
}
