#pragma once
// A component on the scripted device, with calls handed to this thread when the test pumps.

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "plot/plotline.h"
#include "serial/platform/commport_fake.h"
#include "serial/uidispatch.h"
#include "serial/vacomm.h"

// The plot's settings, as the dialog and grafonel-cli make them.
inline void PlotSettings(TVaCustomComm& c)
{
    ConfigurePlotLine(c, TPlotLine{});
    // Tests that only compare bytes run a pseudo-terminal unpaced; the pacing tests ask for it.
    c.SetPaceLine(plOff);
}

inline std::string Message(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EVaCommError& e) {
        return e.what();
    }
    return "(no error)";
}

class FakePortTest : public testing::Test {
protected:
    commport::TFakePorts Fake;
    commport::TFakeDevice& Dev = *Fake.Device;
    TQueueDispatcher Ui;
    TVaComm Comm;

    FakePortTest() { Comm.SetDispatcher(&Ui); }

    // Pumps the hand-over queue until cond holds or the time is up.
    bool PumpUntil(const std::function<bool()>& cond, int ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            Ui.Pump(std::chrono::milliseconds(2));
        }
        return true;
    }
};

// A pseudo-terminal pair standing in for a serial line: the component opens the slave by
// its path, the test plays the device on the master.
struct TPty {
    int Master = -1;
    int Slave = -1;
    std::string Path;
    TPty()
    {
        char name[256] = {};
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&Master, &Slave, name, &raw, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        Path = name;
    }
    ~TPty()
    {
        if (Slave >= 0)
            ::close(Slave);
        if (Master >= 0)
            ::close(Master);
    }
    // The test's own slave descriptor keeps the line up; the component opens another.
    void DropSlave()
    {
        ::close(Slave);
        Slave = -1;
    }
};

// The plot dialog's settings on a pseudo-terminal, with calls handed to a queue the test
// pumps. The component goes first, the line last.
struct TPtyLine {
    TPty Pty;
    TQueueDispatcher Ui;
    TVaComm Comm;
    TPtyLine()
    {
        Comm.SetDispatcher(&Ui);
        PlotSettings(Comm);
        Comm.SetDeviceName(Pty.Path);
    }
};

// A client that logs what reaches it, and may act on data.
class TLogClient : public TVaCommComponent {
public:
    std::vector<std::string>* Log = nullptr;
    std::string Name = "client";
    std::function<void()> OnData;
    void DataChanged(const std::uint8_t* data, std::int32_t count) override
    {
        Log->push_back(Name + " data " +
                       std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)));
        if (OnData)
            OnData();
    }
    void LineChanged(std::uint32_t mask) override { Log->push_back(Name + " line " + std::to_string(mask)); }
};
