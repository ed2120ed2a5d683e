#include <gtest/gtest.h>

#include "serial/platform/linux_termios.h"
#include "serialfixture.h"

namespace {

TVaComm* MakeOn(const TPty& pty, TVaComm& c)
{
    PlotSettings(c);
    c.SetDeviceName(pty.Path);
    return &c;
}

}  // namespace

TEST(PtyConfig, OpenAppliesTheRecordToTheTerminal)
{
    TPty pty;
    TQueueDispatcher ui;
    TVaComm c;
    c.SetDispatcher(&ui);
    MakeOn(pty, c);
    c.Open();
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.Slave, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_FALSE(t.c_iflag & IXANY);  // no stray byte may restart output during XOFF
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_lflag & ICANON);
    EXPECT_FALSE(t.c_lflag & ECHO);
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);

    // "hardware (RTS)" while open.
    c.FlowControl().SetXonXoffOut(false);
    c.FlowControl().SetOutCtsFlow(true);
    ASSERT_EQ(::tcgetattr(pty.Slave, &t), 0);
    EXPECT_FALSE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);

    // Rates beyond the classic table, and mark parity with two stop bits (a pseudo-terminal
    // keeps 8 data bits whatever it is told, so the bits are checked on the plain mapping).
    c.SetBaudrate(br14400);
    c.SetParity(paMark);
    c.SetStopbits(sb2);
    lt::TTermios t2;
    ASSERT_EQ(lt::Get(pty.Slave, t2), 0);
    EXPECT_EQ(t2.c_ospeed, 14400u);
    EXPECT_TRUE(t2.c_cflag & lt::CMSPAR_);
    EXPECT_TRUE(t2.c_cflag & lt::PARODD_);
    EXPECT_TRUE(t2.c_cflag & lt::CSTOPB_);
    c.SetBaudrate(br256000);
    ASSERT_EQ(lt::Get(pty.Slave, t2), 0);
    EXPECT_EQ(t2.c_ospeed, 256000u);
    c.Close();
}

TEST(PtyConfig, SecondOpenIsBusyUntilTheFirstCloses)
{
    TPty pty;
    TQueueDispatcher ui;
    TVaComm a, b;
    a.SetDispatcher(&ui);
    b.SetDispatcher(&ui);
    MakeOn(pty, a);
    MakeOn(pty, b);
    a.Open();
    EXPECT_EQ(Message([&] { b.Open(); }),
              "Can't open specified device " + pty.Path + " (Error 16, Device or resource busy)");
    EXPECT_FALSE(b.Active());
    a.Close();
    b.Open();
    EXPECT_TRUE(b.Active());
}

TEST(PtyConfig, CloseGivesTheTerminalBackAsItWas)
{
    TPty pty;
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.Slave, &before), 0);
    TQueueDispatcher ui;
    TVaComm c;
    c.SetDispatcher(&ui);
    MakeOn(pty, c);
    c.SetBaudrate(br115200);
    c.Open();
    c.Close();
    termios after{};
    ASSERT_EQ(::tcgetattr(pty.Slave, &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST(PtyConfig, MissingDeviceAndNonTerminalsAreRefused)
{
    TQueueDispatcher ui;
    TVaComm c;
    c.SetDispatcher(&ui);
    c.SetDeviceName("/dev/grafonel-no-such-port");
    EXPECT_EQ(Message([&] { c.Open(); }), "Specified device not found (/dev/grafonel-no-such-port).");
    c.SetDeviceName("/dev/null");
    EXPECT_EQ(Message([&] { c.Open(); }),
              "Can't open specified device /dev/null (Error 25, Inappropriate ioctl for device)");
    EXPECT_FALSE(c.Active());
}

TEST(TermiosMap, RecordMapsOntoFlagsOnAPlainStruct)
{
    using namespace commport;
    lt::TTermios t;
    t.c_iflag = lt::IXANY_ | lt::ISTRIP_;
    t.c_lflag = lt::ICANON_ | lt::ECHO_;
    TDcb d;
    d.BaudRate = 128000;
    d.ByteSize = 5;
    d.Parity = 1;
    d.Flags = fBinary | fInX | RTS_CONTROL_HANDSHAKE;
    d.XonChar = 1;
    d.XoffChar = 2;
    lt::FromDcb(d, t);
    EXPECT_EQ(t.c_ospeed, 128000u);
    EXPECT_EQ(t.c_cflag & lt::CBAUD_, lt::BOTHER_);
    EXPECT_EQ(t.c_cflag & lt::CSIZE_, lt::CS5_);
    EXPECT_EQ(t.c_cflag & (lt::PARENB_ | lt::PARODD_ | lt::CMSPAR_), lt::PARENB_ | lt::PARODD_);
    EXPECT_TRUE(t.c_cflag & lt::CRTSCTS_);  // RTS handshake needs the hardware flow control
    EXPECT_TRUE(t.c_iflag & lt::IXOFF_);
    EXPECT_FALSE(t.c_iflag & lt::IXON_);
    EXPECT_FALSE(t.c_iflag & (lt::IXANY_ | lt::ISTRIP_));
    EXPECT_FALSE(t.c_lflag & (lt::ICANON_ | lt::ECHO_));
    EXPECT_TRUE(t.c_cflag & (lt::CLOCAL_ | lt::CREAD_));
    EXPECT_EQ(t.c_cc[lt::VSTART_], 1);
    EXPECT_EQ(t.c_cc[lt::VSTOP_], 2);
    EXPECT_EQ(t.c_cc[lt::VMIN_], 0);
    TDcb back;
    lt::ToDcb(t, back);
    EXPECT_EQ(back.BaudRate, 128000u);
    EXPECT_EQ(back.ByteSize, 5);
    EXPECT_EQ(back.Parity, 1);
    EXPECT_TRUE(back.Flags & fInX);
}
