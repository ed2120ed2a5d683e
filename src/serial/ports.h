#pragma once
// The serial ports a user may choose from.

#include <string>
#include <vector>

namespace commport {

// COM1 to COM4 first, then the adapters found on this machine by their device paths
// (USB serial and modem-class adapters, then their stable by-id names), each group sorted.
std::vector<std::string> ListPorts();

// The device file a port name opens: "COM2" is "/dev/ttyS1", a path is itself.
std::string PortDeviceFile(const std::string& name);

// A port as a list shows it: "COM1 (/dev/ttyS0)", a path as it is.
std::string PortLabel(const std::string& name);

}  // namespace commport
