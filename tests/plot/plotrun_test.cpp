#include <gtest/gtest.h>

#include "../serial/serialfixture.h"
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
    TPlotRunner Runner{Comm, 9600};

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
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotRunner::TEnd::Finished);
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
    EXPECT_EQ(Runner.Plot(s, 33, false), TPlotRunner::TEnd::Stopped);
    EXPECT_EQ(Dev.Taken(), StreamText(s, 3, 33, false));
    EXPECT_EQ(Positions.back(), 0);
}

TEST_F(PlotRun, EmptySheetSendsPrologueAndEpilogue)
{
    THpglSheet s;
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotRunner::TEnd::Finished);
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
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotRunner::TEnd::Finished);
    done = true;
    slow.join();
    EXPECT_TRUE(Dev.Taken() == StreamText(s));
}

TEST_F(PlotRun, MotorServiceSendsItsFixedBytes)
{
    EXPECT_EQ(Runner.Service(), TPlotRunner::TEnd::Finished);
    std::string expected = " SD20  BP IN PR-10,0";
    for (int k = 10; k >= 1; --k)
        expected += " SD" + std::to_string(k + 16) + " PR1550,0  PR-1550,0 ";
    expected += " SD20 IN ";
    EXPECT_EQ(expected.size(), 289u);
    EXPECT_EQ(Dev.Taken(), expected);
    EXPECT_EQ(Max, 10);
    EXPECT_EQ(Positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
}

TEST_F(PlotRun, AStalledDeviceIsAbandonedTwoSecondsAfterClose)
{
    THpglSheet s;
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "PD1000,1000;";
    LoadText(s, text);
    Dev.SetHold(true);  // a device that takes nothing at all
    // Close is pressed while the run waits for room that never comes.
    Runner.Pump = [this](bool wait) {
        Ui.Pump(wait ? 5ms : 0ms);
        if (Comm.WriteBufFree() < TPlotRunner::kThrottle)
            Running = false;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Runner.Plot(s, 20, true), TPlotRunner::TEnd::Stalled);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(Comm.Active());
    EXPECT_EQ(Positions.back(), 0);
    EXPECT_EQ(Dev.PurgeFlags, commport::PURGE_TXABORT | commport::PURGE_TXCLEAR);
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

TEST_F(PlotRun, AThrowRightAfterTheOpenStillClosesThePort)
{
    THpglSheet s;
    LoadText(s, "PD1,1;");
    Runner.OnOpened = [] { throw EVaCommError("opened hook failed"); };
    EXPECT_EQ(Message([&] { Runner.Plot(s, 20, true); }), "opened hook failed");
    EXPECT_FALSE(Comm.Active());
}
