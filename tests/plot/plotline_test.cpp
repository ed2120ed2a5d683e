#include <gtest/gtest.h>

#include "plot/estimate.h"
#include "plot/plotline.h"

// A port as the user names it, as the component's pattern and number.
TEST(PlotLine, PortNamesBecomeThePatternAndNumberTheComponentOpens)
{
    const struct {
        const char* Port;
        const char* Pattern;
        TVaPortInt Number;
    } rows[] = {
        {"COM1", "COM%d", 1},
        {"COM256", "COM%d", 256},
        {"COM257", "COM257", 0},
        {"COM0", "COM0", 0},
        {"COM", "COM", 0},
        {"com2", "com2", 0},
        {"/dev/ttyUSB0", "/dev/ttyUSB0", 0},
        {"/tmp/bridge%1", "/tmp/bridge%%1", 0},
        {"COM1a", "COM1a", 0},
    };
    for (const auto& r : rows) {
        const auto [pattern, number] = PortPattern(r.Port);
        EXPECT_EQ(pattern, r.Pattern) << r.Port;
        EXPECT_EQ(number, r.Number) << r.Port;
        // What the component opens is the name as the user gave it.
        TVaComm c;
        c.SetDeviceName(pattern);
        if (number > 0)
            c.SetPortNum(number);
        EXPECT_EQ(c.GetDeviceName(), r.Port) << r.Port;
    }
}

// The component set for a plot, from the dialog, the command line and the tests alike; the
// line's rate and frame read back for the estimate, a user rate included.
TEST(PlotLine, OneLineDefinitionSetsAndReadsTheComponent)
{
    const struct {
        TPlotLine Line;
        TVaBaudrate Rate;
        std::int32_t User;
    } rows[] = {
        {{"COM1", 9600, false}, br9600, 0},
        {{"COM3", 115200, true}, br115200, 0},
        {{"/dev/pts/4", 31250, false}, brUser, 31250},
        {{"/dev/pts/4", 250000, false}, brUser, 250000},
    };
    for (const auto& r : rows) {
        TVaComm c;
        ConfigurePlotLine(c, r.Line);
        EXPECT_EQ(c.Baudrate(), r.Rate) << r.Line.Baud;
        EXPECT_EQ(c.UserBaudrate(), r.User) << r.Line.Baud;
        EXPECT_EQ(c.GetDeviceName(), r.Line.Port);
        EXPECT_EQ(c.FlowControl().XonXoffOut(), !r.Line.Rts);
        EXPECT_EQ(c.FlowControl().OutCtsFlow(), r.Line.Rts);
        EXPECT_TRUE(c.FlowControl().XonXoffIn());
        EXPECT_EQ(c.Buffers().ReadSize(), 512);
        EXPECT_EQ(c.Buffers().WriteSize(), 512);
        EXPECT_TRUE(c.MonitorEvents() == TVaCommEvents{});
        const TLineRate line = LineOf(c);
        EXPECT_EQ(line.Baud, r.Line.Baud);  // the user rate too, where the estimate saw 0
        EXPECT_DOUBLE_EQ(line.FrameBits, 10);
    }
    // The frame follows the component's data bits, parity and stop bits.
    TVaComm c;
    ConfigurePlotLine(c, TPlotLine{});
    c.SetDatabits(db7);
    c.SetParity(paEven);
    c.SetStopbits(sb2);
    EXPECT_DOUBLE_EQ(LineOf(c).FrameBits, LineFrameBits(7, true, 2));
    EXPECT_EQ(BaudrateOf(110), br110);
    EXPECT_EQ(BaudrateOf(256000), br256000);
    EXPECT_EQ(BaudrateOf(0), brUser);
}
