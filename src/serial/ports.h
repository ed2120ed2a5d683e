#pragma once
// The serial ports a user may choose from.

#include <string>
#include <vector>

namespace commport {

// COM1 to COM4 first, then the adapters found on this machine by their device paths
// (USB serial and modem-class adapters, then their stable by-id names), each group sorted.
std::vector<std::string> ListPorts();

}  // namespace commport
