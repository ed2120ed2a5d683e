// Thread ids and priorities, and the serial ports found on the machine, on Linux.

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "serial/platform/commport.h"
#include "serial/ports.h"

namespace commport {

long CurrentThreadId()
{
    return static_cast<long>(::syscall(SYS_gettid));
}

void SetThreadPriority(long threadId, int level)
{
    // Nice values for the seven levels.
    static constexpr int nice[] = {19, 10, 5, 0, -5, -10, -19};
    if (threadId != 0 && level >= 0 && level <= 6)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), nice[level]);
}

namespace {

bool StartsWithNoCase(const std::string& name, const std::string& prefix)
{
    return name.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), name.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// The entries of dir that are not hidden and not directories (links followed), sorted by
// name; regular files only when files is set. Devices, pipes, sockets and dangling links
// count as system entries and are always taken.
std::vector<std::string> Entries(const std::string& dir, bool files, const std::string& prefix)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || !StartsWithNoCase(name, prefix))
            continue;
        std::error_code sec;
        const fs::file_status st = fs::status(it->path(), sec);
        if (fs::is_directory(st) || (fs::is_regular_file(st) && !files))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (std::string& n : names)
        n = dir + "/" + n;
    return names;
}

}  // namespace

std::vector<std::string> ListPortsIn(const std::string& devDir, const std::string& byIdDir)
{
    std::vector<std::string> out{"COM1", "COM2", "COM3", "COM4"};
    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (std::string& p : Entries(devDir, false, prefix))
            out.push_back(std::move(p));
    for (std::string& p : Entries(byIdDir, true, ""))
        out.push_back(std::move(p));
    return out;
}

std::vector<std::string> ListPorts()
{
    return ListPortsIn("/dev", "/dev/serial/by-id");
}

std::string PortDeviceFile(const std::string& name)
{
    return SystemDeviceName(name);
}

std::string PortLabel(const std::string& name)
{
    const std::string file = PortDeviceFile(name);
    return file == name ? name : name + " (" + file + ")";
}

}  // namespace commport
