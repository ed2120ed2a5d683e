#pragma once
// The serial line a plot runs on, defined once for the plot dialog, grafonel-cli and the
// tests: how the component is set, how a port name becomes its device pattern, and the rate
// and frame the estimate times the line by.

#include <cstdint>
#include <string>
#include <utility>

#include "serial/vacomm.h"

struct TPlotLine {
    std::string Port = "COM1";  // "COM1" to "COM256", or a device path, as the user names it
    std::int64_t Baud = 9600;   // any rate: one of the component's choices, or a user rate
    bool Rts = false;           // CTS pauses the output instead of XON/XOFF
};

// The component as a plot needs it: no monitored events, read and write buffers of 512
// bytes, XON/XOFF taken in, XON/XOFF or CTS for the output, the port and the rate.
void ConfigurePlotLine(TVaCustomComm& comm, const TPlotLine& line);

// The component's device pattern and port number for a port name: "COM2" is "COM%d" and 2,
// anything else itself with '%' doubled and 0 (no number).
std::pair<std::string, TVaPortInt> PortPattern(const std::string& port);

// The component's choice for a rate: its own member, or brUser for any other rate.
TVaBaudrate BaudrateOf(std::int64_t baud);

// The component's line as the estimate takes it: the rate, a user rate included, and the
// bits a character takes (start, data, parity, stop).
struct TLineRate {
    std::int64_t Baud = 0;
    double FrameBits = 10;
};
TLineRate LineOf(const TVaCustomComm& comm);
