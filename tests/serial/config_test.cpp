#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <vector>

#include "serial/ports.h"
#include "serial/vacomm_p.h"
#include "serialfixture.h"

using namespace commport;

TEST_F(FakePortTest, DefaultsAreTheComponentsOwn)
{
    EXPECT_EQ(Comm.Baudrate(), br1200);
    EXPECT_EQ(Comm.Databits(), db8);
    EXPECT_EQ(Comm.DeviceName(), "\\\\.\\COM%d");
    EXPECT_TRUE(Comm.MonitorEvents() == (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(Comm.Buffers().ReadSize(), 4096);
    EXPECT_EQ(Comm.Buffers().WriteSize(), 2048);
    EXPECT_EQ(Comm.Buffers().WriteTimeout, 1000);
    EXPECT_EQ(Comm.WritePriority(), tpHighest);
    EXPECT_EQ(Comm.EventChars().XonChar(), 17);
    EXPECT_EQ(Comm.EventChars().XoffChar(), 19);
    EXPECT_FALSE(Comm.FlowControl().XonXoffOut());
    EXPECT_TRUE(Comm.UpdateDCB());
    // The default pattern names COM0 without its namespace prefix in messages.
    EXPECT_EQ(Comm.GetDeviceName(), "COM0");
}

TEST_F(FakePortTest, PlotDialogSettingsGiveTheirLineRecord)
{
    PlotSettings(Comm);
    Comm.Open();
    ASSERT_TRUE(Comm.Active());
    EXPECT_EQ(Dev.OpenedName, "/dev/ttyS0");
    TDcb d = Dev.State;
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, 0);
    EXPECT_EQ(d.StopBits, 0);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(d.XonLim, 1024);
    EXPECT_EQ(d.XoffLim, 1024);
    EXPECT_EQ(d.DCBlength, 0u);
    EXPECT_EQ(d.Flags, fBinary | fOutX | fInX);  // DTR and RTS held off
    EXPECT_EQ(Dev.SetupIn, 512u);
    EXPECT_EQ(Dev.SetupOut, 512u);
    EXPECT_EQ(Dev.Mask, 0u);
    EXPECT_EQ(Comm.EventMask(), 0u);

    // "hardware (RTS)" while open: applied at once through the change handler.
    Comm.FlowControl().SetXonXoffOut(false);
    Comm.FlowControl().SetOutCtsFlow(true);
    EXPECT_EQ(Dev.State.Flags, fBinary | fOutxCtsFlow | fInX);
}

TEST_F(FakePortTest, OpenRunsItsStepsInOrder)
{
    PlotSettings(Comm);
    Comm.Open();
    Comm.Close();
    std::vector<std::string> calls = Dev.Calls;
    EXPECT_EQ(calls,
              (std::vector<std::string>{"Open /dev/ttyS0", "SetState", "Setup", "SetTimeouts", "SetMask", "Close"}));
}

TEST_F(FakePortTest, EveryOpenStepReportsItsOwnMessageAndLeavesThePortClosed)
{
    struct Case {
        const char* call;
        const char* message;
    } cases[] = {
        {"SetState", "Error writing dcb (5), Input/output error"},
        {"Setup", "Error initializing buffers (5), Input/output error"},
        {"SetTimeouts", "Error setting timeouts (5), Input/output error"},
        {"SetMask", " Error setting EventMask (5), Input/output error"},
    };
    PlotSettings(Comm);
    int opened = false;
    Comm.OnOpen = [&](TVaCustomComm*) { ++opened; };
    for (const auto& c : cases) {
        Dev.SetFail({{c.call, EIO}});
        EXPECT_EQ(Message([&] { Comm.Open(); }), c.message);
        EXPECT_FALSE(Comm.Active());
        EXPECT_FALSE(Dev.Open) << c.call;
    }
    EXPECT_EQ(opened, 0);
    Dev.SetFail({});
    Comm.Open();
    EXPECT_EQ(opened, 1);
}

TEST_F(FakePortTest, MissingAndBusyDevicesName)
{
    Comm.SetDeviceName("COM%d");
    Comm.SetPortNum(7);
    Dev.Missing = true;
    EXPECT_EQ(Message([&] { Comm.Open(); }), "Specified device not found (COM7).");
    Dev.Missing = false;
    Dev.Busy = true;
    Comm.SetPortNum(1);
    EXPECT_EQ(Message([&] { Comm.Open(); }), "Can't open specified device COM1 (Error 16, Device or resource busy)");
    EXPECT_FALSE(Comm.Active());
}

TEST_F(FakePortTest, OpenTwiceRefusesAndCloseTwiceIsQuiet)
{
    PlotSettings(Comm);
    int closes = 0;
    Comm.OnClose = [&](TVaCustomComm*) { ++closes; };
    Comm.Open();
    EXPECT_EQ(Message([&] { Comm.Open(); }), "Can't perform this operation while port is open");
    EXPECT_TRUE(Comm.Active());
    EXPECT_EQ(Dev.Opens, 1);
    Comm.Close();
    Comm.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(Dev.Open);
}

TEST_F(FakePortTest, OpenPortRefusalsThatStoreAndThatDoNot)
{
    PlotSettings(Comm);
    Comm.Open();
    const std::string open = "Can't perform this operation while port is open";
    EXPECT_EQ(Message([&] { Comm.SetPortNum(3); }), open);
    EXPECT_EQ(Comm.PortNum(), 1);
    EXPECT_EQ(Message([&] { Comm.SetDeviceName("/dev/x"); }), open);
    EXPECT_EQ(Message([&] { Comm.SetMonitorEvents({ceCts}); }), open);
    EXPECT_EQ(Message([&] { Comm.SetDirectWrite(true); }), open);
    EXPECT_EQ(Message([&] { Comm.SetUpdateDCB(false); }), open);
    EXPECT_EQ(Message([&] { Comm.SetBuffers(TVaBuffers{}); }), open);
    EXPECT_EQ(Comm.Buffers().ReadSize(), 512);
    // A single buffer size is stored, then refused; it takes effect at the next Open.
    EXPECT_EQ(Message([&] { Comm.Buffers().SetWriteSize(1024); }), open);
    EXPECT_EQ(Comm.Buffers().WriteSize(), 1024);
    // Line settings are applied at once.
    const int before = Dev.Count("SetState");
    Comm.SetBaudrate(br115200);
    EXPECT_EQ(Dev.Count("SetState"), before + 1);
    EXPECT_EQ(Dev.State.BaudRate, 115200u);
    Comm.Close();
    Comm.Open();
    EXPECT_EQ(Dev.SetupOut, 1024u);
    EXPECT_EQ(Comm.WriteBufFree(), 1024);
}

TEST_F(FakePortTest, ChangeNotificationsFollowEachGroupsRule)
{
    PlotSettings(Comm);
    Comm.Open();
    int n = Dev.Count("SetState");
    Comm.FlowControl().SetXonXoffOut(true);  // unchanged: no call
    Comm.FlowControl().SetControlDtr(dtrDisabled);
    EXPECT_EQ(Dev.Count("SetState"), n);
    Comm.EventChars().SetXonChar(17);  // unchanged, yet applied
    EXPECT_EQ(Dev.Count("SetState"), n + 1);
    Comm.EventChars().SetEventChar(9, 'x');  // no such field: nothing stored, still applied
    EXPECT_EQ(Dev.Count("SetState"), n + 2);
    // A whole group copied is one notification.
    TVaFlowControl f;
    f.SetOutCtsFlow(true);
    f.SetControlRts(rtsEnabled);
    f.SetXonXoffIn(true);
    Comm.SetFlowControl(f);
    EXPECT_EQ(Dev.Count("SetState"), n + 3);
    EXPECT_EQ(Dev.State.Flags, fBinary | fOutxCtsFlow | fInX | RTS_CONTROL_ENABLE);
    // Plain fields notify nobody.
    Comm.Buffers().WriteTimeout = 5;
    EXPECT_EQ(Dev.Count("SetState"), n + 3);
    Comm.Close();
    Comm.FlowControl().SetOutCtsFlow(false);  // closed: stored, nothing applied
    EXPECT_EQ(Dev.Count("SetState"), n + 3);
}

TEST(VaPersistent, AssignNotifiesOnceAndUpdatesNest)
{
    TVaBuffers b;
    int calls = 0;
    b.OnChange = [&] { ++calls; };
    TVaBuffers other;
    other.SetReadSize(1);
    other.SetWriteSize(2);
    b.Assign(other);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(b.WriteSize(), 2);
    b.BeginUpdate();
    b.BeginUpdate();
    b.SetXonLimit(7);
    b.EndUpdate();
    EXPECT_EQ(calls, 1);
    b.EndUpdate();
    EXPECT_EQ(calls, 2);
    b.EndUpdate();  // below zero stays zero and still notifies
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(b.UpdateCounter(), 0);
}

TEST_F(FakePortTest, BaudrateAndUserBaudrateRules)
{
    Comm.SetUserBaudrate(31250);
    EXPECT_EQ(Comm.Baudrate(), brUser);
    Comm.SetBaudrate(brUser);
    EXPECT_EQ(Comm.UserBaudrate(), 31250);
    Comm.SetBaudrate(br9600);
    EXPECT_EQ(Comm.UserBaudrate(), 0);
    Comm.SetUserBaudrate(31250);
    Comm.SetDeviceName("COM%d");
    Comm.Open();
    EXPECT_EQ(Dev.State.BaudRate, 31250u);
}

TEST_F(FakePortTest, LineControlRefusalsHoldEvenWhenClosed)
{
    Comm.FlowControl().SetControlDtr(dtrHandshake);
    EXPECT_EQ(Message([&] { Comm.SetDTR(true); }),
              "DTR line updates not allowed when flowcontrol is set to Handshake.");
    Comm.FlowControl().SetControlRts(rtsToggle);
    EXPECT_EQ(Message([&] { Comm.SetRTS(false); }),
              "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    Comm.FlowControl().SetControlDtr(dtrDisabled);
    Comm.SetDTR(true);  // closed and allowed: nothing happens
    EXPECT_EQ(Dev.Calls.size(), 0u);
    Comm.SetDeviceName("COM%d");
    Comm.Open();
    Comm.SetDTR(true);
    Comm.SetBreak(true);
    Comm.SetXon(false);
    Comm.ResetDev();
    EXPECT_EQ(Dev.Count("Escape 5") + Dev.Count("Escape 8") + Dev.Count("Escape 1") + Dev.Count("Escape 7"), 4);
    Dev.SetFail({{"Escape", EPERM}});
    EXPECT_EQ(Message([&] { Comm.SetDTR(false); }), "Error calling comm function (1), Operation not permitted");
}

TEST_F(FakePortTest, StatusQueriesAndTheirMessages)
{
    EXPECT_FALSE(Comm.GetModemStatus(1));
    EXPECT_FALSE(Comm.GetComStat(4));
    TVaCommStatus s;
    s.Errors = 99;
    Comm.GetCommStatus(s);
    EXPECT_EQ(s.Errors, 0u);
    EXPECT_EQ(sizeof(TVaCommStatus), 16u);
    EXPECT_EQ(Message([&] { Comm.GetProperties(); }), "Can't perform this operation while port is closed");

    Comm.SetDeviceName("COM%d");
    Comm.Open();
    Dev.ModemLines = MS_CTS_ON | MS_RLSD_ON;
    EXPECT_TRUE(Comm.GetModemStatus(1));
    EXPECT_FALSE(Comm.GetModemStatus(2));
    EXPECT_TRUE(Comm.GetModemStatus(4));
    EXPECT_FALSE(Comm.GetModemStatus(5));
    Dev.Hold = true;
    EXPECT_TRUE(Comm.GetComStat(4));  // XOFF hold
    EXPECT_FALSE(Comm.GetComStat(9));
    Dev.Hold = false;
    Comm.GetProperties();
    EXPECT_EQ(Comm.CommProperties().dwMaxBaud, 0x10000000u);

    int reported = 0;
    Comm.OnError = [&](TVaCustomComm*, std::int32_t e) { reported = e; };
    EXPECT_FALSE(Comm.ClearLineErrors());
    Dev.LineErrors = CE_FRAME;
    EXPECT_TRUE(Comm.ClearLineErrors());
    EXPECT_EQ(reported, static_cast<int>(CE_FRAME));

    Dev.SetFail({{"ClearError", EIO}, {"ModemStatus", EIO}, {"Properties", EIO}});
    EXPECT_EQ(Message([&] { Comm.GetCommStatus(s); }), "Error retrieving statistics (5), Input/output error");
    EXPECT_EQ(Message([&] { Comm.GetModemStatus(1); }), "Error reading modem state (5), Input/output error");
    EXPECT_EQ(Message([&] { Comm.GetProperties(); }), "Error reading port properties (5), Input/output error");
}

TEST_F(FakePortTest, ResetPortParametersReadsTheSystemDefaults)
{
    Dev.State.BaudRate = 57600;
    Dev.State.ByteSize = 7;
    Dev.State.Parity = 2;
    Dev.State.StopBits = 2;
    Dev.State.Flags = fBinary | fOutX | RTS_CONTROL_HANDSHAKE | fParity;
    Dev.State.XonChar = 1;
    Comm.ResetPortParameters();
    EXPECT_EQ(Comm.Baudrate(), br57600);
    EXPECT_EQ(Comm.Databits(), db7);
    EXPECT_EQ(Comm.Parity(), paEven);
    EXPECT_EQ(Comm.Stopbits(), sb2);
    EXPECT_TRUE(Comm.FlowControl().XonXoffOut());
    EXPECT_EQ(Comm.FlowControl().ControlRts(), rtsHandshake);
    EXPECT_EQ(Comm.EventChars().XonChar(), 1);
    EXPECT_TRUE(Comm.Options().Contains(coParityCheck));
    Dev.State.BaudRate = 31250;
    Comm.ResetPortParameters();
    EXPECT_EQ(Comm.Baudrate(), brUser);
    EXPECT_EQ(Comm.UserBaudrate(), 31250);
    Dev.Missing = true;
    EXPECT_EQ(Message([&] { Comm.ResetPortParameters(); }), "Error reading default port parameters.");
}

// Settings to line record and back keep every setting, and a record the component wrote
// reads back as written: the open path and ResetPortParameters cannot drift apart.
TEST(LineRecord, SettingsAndRecordRoundTrip)
{
    std::vector<TLineSettings> cases(1);
    auto with = [&](auto change) {
        TLineSettings s;
        change(s);
        cases.push_back(s);
    };
    with([](TLineSettings& s) { s.Baudrate = brUser, s.UserBaudrate = 31250; });
    with([](TLineSettings& s) { s.Baudrate = br256000, s.Parity = paSpace, s.Databits = db5, s.Stopbits = sb15; });
    for (int m = dtrDisabled; m <= dtrHandshake; ++m)
        for (int r = rtsDisabled; r <= rtsToggle; ++r)
            with([&](TLineSettings& s) { s.ControlDtr = TVaControlDtr(m), s.ControlRts = TVaControlRts(r); });
    for (bool TLineSettings::*flag :
         {&TLineSettings::OutCtsFlow, &TLineSettings::OutDsrFlow, &TLineSettings::DsrSensitivity,
          &TLineSettings::TxContinueOnXoff, &TLineSettings::XonXoffOut, &TLineSettings::XonXoffIn})
        with([&](TLineSettings& s) { s.*flag = true; });
    for (TVaCommOption o : {coErrorChar, coNullStrip, coParityCheck})
        with([&](TLineSettings& s) { s.Options.Include(o); });
    with([](TLineSettings& s) {
        s.XonChar = 'a', s.XoffChar = 'b', s.ErrorChar = '?', s.EventChar = '\n', s.EofChar = 26;
        s.XonLimit = 10, s.XoffLimit = 65535;
    });
    std::size_t i = 0;
    for (const TLineSettings& s : cases) {
        const TDcb d = DcbOf(s);
        EXPECT_EQ(d.Flags & fBinary, fBinary) << i;
        EXPECT_TRUE(LineSettingsOf(d) == s) << i;
        EXPECT_TRUE(DcbOf(LineSettingsOf(d)) == d) << i;
        ++i;
    }
    // Each flag lands on its own bit: no two settings share one.
    std::uint32_t seen = 0;
    for (std::size_t c = 1; c < cases.size(); ++c) {
        const std::uint32_t bits = DcbOf(cases[c]).Flags & ~fBinary;
        if (std::popcount(bits) == 1) {
            EXPECT_EQ(seen & bits, 0u) << c;
            seen |= bits;
        }
    }
    // What the line record can hold but the settings cannot reads as the defaults.
    TDcb odd = DcbOf(TLineSettings{});
    odd.Parity = 9, odd.ByteSize = 9, odd.StopBits = 7, odd.Flags |= fDtrControlMask;
    const TLineSettings read = LineSettingsOf(odd);
    EXPECT_EQ(read.Parity, paNone);
    EXPECT_EQ(read.Databits, db8);
    EXPECT_EQ(read.Stopbits, sb1);
    EXPECT_EQ(read.ControlDtr, dtrDisabled);
}

TEST_F(FakePortTest, EventMaskLeavesTxEmptyToTheWriter)
{
    Comm.SetDeviceName("COM%d");
    Comm.SetMonitorEvents({ceTxEmpty});
    Comm.Open();
    EXPECT_EQ(Comm.EventMask(), 0u);
    Comm.Close();
    Comm.SetMonitorEvents({ceBreak, ceCts, ceRxChar, ceEvent2, ceTxEmpty});
    Comm.SetDirectWrite(true);
    Comm.Open();
    EXPECT_EQ(Comm.EventMask(), EV_BREAK | EV_CTS | EV_RXCHAR | EV_EVENT2 | EV_TXEMPTY);
    EXPECT_EQ(Dev.Mask, Comm.EventMask());
}

TEST(VaTimer, ExpiresStrictlyAfterItsDurationAcrossTheWrap)
{
    TVaTimeEvent t{0xFFFFFF00u, 1000};
    EXPECT_FALSE(TimerExpiredAt(t, 0xFFFFFF00u + 1000u));  // 0x2E8 after the wrap
    EXPECT_TRUE(TimerExpiredAt(t, 0xFFFFFF00u + 1001u));
    EXPECT_FALSE(TimerExpiredAt(t, 0xFFFFFFFFu));
    TVaTimeEvent zero{5, 0};
    EXPECT_FALSE(TimerExpiredAt(zero, 5));
    EXPECT_TRUE(TimerExpiredAt(zero, 6));
}

TEST(DeviceNames, SystemNamesForPatternsAndPaths)
{
    EXPECT_EQ(SystemDeviceName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SystemDeviceName("com4"), "/dev/ttyS3");
    EXPECT_EQ(SystemDeviceName("\\\\.\\COM2"), "/dev/ttyS1");
    EXPECT_EQ(SystemDeviceName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SystemDeviceName("/dev/serial/by-id/usb-FTDI-if00"), "/dev/serial/by-id/usb-FTDI-if00");
    EXPECT_EQ(SystemDeviceName("ttyACM0"), "/dev/ttyACM0");
    TVaComm c;
    c.SetDeviceName("/dev/ttyUSB%d");
    c.SetPortNum(2);
    EXPECT_EQ(c.GetDeviceName(), "/dev/ttyUSB2");
    EXPECT_EQ(c.GetDeviceNameEx(), "/dev/ttyUSB2");
    // What a port list shows: the device file beside a COM name, a path alone.
    const std::pair<const char*, const char*> labels[] = {
        {"COM1", "COM1 (/dev/ttyS0)"}, {"COM4", "COM4 (/dev/ttyS3)"},         {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/pts/7", "/dev/pts/7"},  {"ttyACM0", "ttyACM0 (/dev/ttyACM0)"},
    };
    for (const auto& [name, label] : labels)
        EXPECT_EQ(commport::PortLabel(name), label) << name;
    EXPECT_EQ(commport::PortDeviceFile("COM2"), "/dev/ttyS1");
}

// A setting the line refuses is not kept, whichever setter carries it: the component then
// describes the line as it is.
TEST_F(FakePortTest, EverySettingTheLineRefusesKeepsItsOldValue)
{
    PlotSettings(Comm);
    Comm.Open();
    // What each setter changes, and how to read it back; all read as text to compare.
    const struct {
        const char* Name;
        std::function<void()> Change;
        std::function<std::string()> Read;
    } rows[] = {
        {"Baudrate", [&] { Comm.SetBaudrate(br115200); },
         [&] { return std::to_string(Comm.Baudrate()) + "/" + std::to_string(Comm.UserBaudrate()); }},
        {"UserBaudrate", [&] { Comm.SetUserBaudrate(31250); },
         [&] { return std::to_string(Comm.Baudrate()) + "/" + std::to_string(Comm.UserBaudrate()); }},
        {"Parity", [&] { Comm.SetParity(paEven); }, [&] { return std::to_string(Comm.Parity()); }},
        {"Databits", [&] { Comm.SetDatabits(db7); }, [&] { return std::to_string(Comm.Databits()); }},
        {"Stopbits", [&] { Comm.SetStopbits(sb2); }, [&] { return std::to_string(Comm.Stopbits()); }},
        {"Options", [&] { Comm.SetOptions({coParityCheck}); },
         [&] { return std::to_string(Comm.Options() == TVaCommOptions{coParityCheck}); }},
        {"OutCtsFlow", [&] { Comm.FlowControl().SetOutCtsFlow(true); },
         [&] { return std::to_string(Comm.FlowControl().OutCtsFlow()); }},
        {"OutDsrFlow", [&] { Comm.FlowControl().SetOutDsrFlow(true); },
         [&] { return std::to_string(Comm.FlowControl().OutDsrFlow()); }},
        {"ControlDtr", [&] { Comm.FlowControl().SetControlDtr(dtrEnabled); },
         [&] { return std::to_string(Comm.FlowControl().ControlDtr()); }},
        {"ControlRts", [&] { Comm.FlowControl().SetControlRts(rtsEnabled); },
         [&] { return std::to_string(Comm.FlowControl().ControlRts()); }},
        {"XonXoffOut", [&] { Comm.FlowControl().SetXonXoffOut(false); },
         [&] { return std::to_string(Comm.FlowControl().XonXoffOut()); }},
        {"XonXoffIn", [&] { Comm.FlowControl().SetXonXoffIn(false); },
         [&] { return std::to_string(Comm.FlowControl().XonXoffIn()); }},
        {"DsrSensitivity", [&] { Comm.FlowControl().SetDsrSensitivity(true); },
         [&] { return std::to_string(Comm.FlowControl().DsrSensitivity()); }},
        {"TxContinueOnXoff", [&] { Comm.FlowControl().SetTxContinueOnXoff(true); },
         [&] { return std::to_string(Comm.FlowControl().TxContinueOnXoff()); }},
        {"FlowControl",
         [&] {
             TVaFlowControl f;
             f.SetOutCtsFlow(true);
             f.SetControlRts(rtsHandshake);
             Comm.SetFlowControl(f);
         },
         [&] {
             return std::to_string(Comm.FlowControl().OutCtsFlow()) + std::to_string(Comm.FlowControl().ControlRts()) +
                    std::to_string(Comm.FlowControl().XonXoffOut());
         }},
        {"XonChar", [&] { Comm.EventChars().SetXonChar(1); },
         [&] { return std::to_string(Comm.EventChars().XonChar()); }},
        {"XoffChar", [&] { Comm.EventChars().SetXoffChar(2); },
         [&] { return std::to_string(Comm.EventChars().XoffChar()); }},
        {"ErrorChar", [&] { Comm.EventChars().SetErrorChar('?'); },
         [&] { return std::to_string(Comm.EventChars().ErrorChar()); }},
        {"EventChar", [&] { Comm.EventChars().SetEventChar('!'); },
         [&] { return std::to_string(Comm.EventChars().EventChar()); }},
        {"EofChar", [&] { Comm.EventChars().SetEofChar(26); },
         [&] { return std::to_string(Comm.EventChars().EofChar()); }},
        {"EventChars",
         [&] {
             TVaEventChars e;
             e.SetXonChar(5);
             e.SetEofChar(6);
             Comm.SetEventChars(e);
         },
         [&] {
             return std::to_string(Comm.EventChars().XonChar()) + "/" + std::to_string(Comm.EventChars().EofChar());
         }},
    };
    for (const auto& r : rows) {
        const std::string before = r.Read();
        Dev.SetFail({{"SetState", EINVAL}});
        EXPECT_NE(Message(r.Change), "(no error)") << r.Name;
        EXPECT_EQ(r.Read(), before) << r.Name;
        // Taken once the line takes it.
        Dev.SetFail({});
        r.Change();
        EXPECT_NE(r.Read(), before) << r.Name;
    }
}
