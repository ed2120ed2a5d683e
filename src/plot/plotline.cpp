#include "plot/plotline.h"

#include <cctype>

void ConfigurePlotLine(TVaCustomComm& comm, const TPlotLine& line)
{
    comm.SetMonitorEvents({});
    TVaBuffers buffers;
    buffers.SetReadSize(512);
    buffers.SetWriteSize(512);
    comm.SetBuffers(buffers);
    TVaFlowControl flow;
    flow.SetXonXoffOut(!line.Rts);
    flow.SetOutCtsFlow(line.Rts);
    flow.SetXonXoffIn(true);
    comm.SetFlowControl(flow);
    const auto [pattern, number] = PortPattern(line.Port);
    comm.SetDeviceName(pattern);
    if (number > 0)
        comm.SetPortNum(number);
    if (const TVaBaudrate rate = BaudrateOf(line.Baud); rate == brUser)
        comm.SetUserBaudrate(static_cast<std::int32_t>(line.Baud));
    else
        comm.SetBaudrate(rate);
}

std::pair<std::string, TVaPortInt> PortPattern(const std::string& port)
{
    if (port.size() > 3 && port.size() <= 6 && port.compare(0, 3, "COM") == 0) {
        bool digits = true;
        for (std::size_t i = 3; i < port.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(port[i]));
        if (digits && port[3] != '0') {
            const long n = std::stol(port.substr(3));
            if (n <= 256)
                return {"COM%d", static_cast<TVaPortInt>(n)};
        }
    }
    std::string escaped;
    for (const char c : port)
        escaped += c == '%' ? std::string("%%") : std::string(1, c);
    return {escaped, 0};
}

TVaBaudrate BaudrateOf(std::int64_t baud)
{
    for (int r = br110; r <= br256000; ++r)
        if (BaudrateValue(static_cast<TVaBaudrate>(r)) == baud)
            return static_cast<TVaBaudrate>(r);
    return brUser;
}

TLineRate LineOf(const TVaCustomComm& comm)
{
    TLineRate line;
    line.Baud = comm.Baudrate() == brUser ? comm.UserBaudrate() : BaudrateValue(comm.Baudrate());
    // The component's own bytes a second over its rate: one definition of a character's bits.
    if (const double bytes = comm.LineBytesPerSecond(); bytes > 0 && line.Baud > 0)
        line.FrameBits = static_cast<double>(line.Baud) / bytes;
    return line;
}
