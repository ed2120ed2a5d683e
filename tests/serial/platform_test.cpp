// The operating-system layer's small parts: descriptor ownership, the EINTR retry and the
// list of ports, on a directory tree made for the test.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "serial/platform/commport.h"
#include "serial/platform/posixio.h"

using namespace commport;
namespace fs = std::filesystem;

namespace {

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

}  // namespace

TEST(Descriptors, OneOwnerClosesOnceWhereverItGoes)
{
    int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        TFd a(raw);
        TFd b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(b.Get(), raw);
        TFd c;
        c = std::move(b);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    TFd kept(raw);
    const int released = kept.Release();
    kept.Reset();
    EXPECT_TRUE(IsOpen(released));
    TFd again(released);
    again = TFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));  // the old one goes
    EXPECT_FALSE(IsOpen(released) && again.Get() != released);
}

TEST(Descriptors, RetryEintrRepeatsOnlyInterruptedCalls)
{
    int calls = 0;
    EXPECT_EQ(RetryEintr([&] {
                  errno = ++calls < 3 ? EINTR : 0;
                  return calls < 3 ? -1 : 7;
              }),
              7);
    EXPECT_EQ(calls, 3);
    calls = 0;
    EXPECT_EQ(RetryEintr([&] {
                  ++calls;
                  errno = EAGAIN;
                  return -1;
              }),
              -1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(errno, EAGAIN);
}

TEST(Ports, ComPortsThenAdaptersThenTheirStableNames)
{
    const fs::path root = fs::temp_directory_path() / ("grafonel-ports-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path dev = root / "dev", byId = root / "by-id";
    fs::create_directories(dev / "ttyUSBdir");
    fs::create_directories(byId / "sub");
    for (const char* name : {"ttyUSB10", "ttyUSB1", "ttyACM0", "ttyusb2", "ttyS0", ".ttyUSB3"})
        ASSERT_EQ(::mkfifo((dev / name).c_str(), 0600), 0) << name;  // stands for a device node
    std::ofstream(dev / "ttyUSB9") << "a plain file is no port";
    fs::create_symlink(dev / "ttyACM0", dev / "ttyACM1");  // a link to a device
    fs::create_symlink(dev / "gone", dev / "ttyACM2");     // a dangling link still shows
    fs::create_symlink(dev / "ttyUSB1", byId / "usb-Maker_Serial-if00");
    fs::create_symlink(dev / "nothing", byId / "usb-Old-if00");
    std::ofstream(byId / "notes") << "x";

    EXPECT_EQ(
        ListPortsIn(dev.string(), byId.string()),
        (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", (dev / "ttyUSB1").string(),
                                  (dev / "ttyUSB10").string(), (dev / "ttyusb2").string(), (dev / "ttyACM0").string(),
                                  (dev / "ttyACM1").string(), (dev / "ttyACM2").string(), (byId / "notes").string(),
                                  (byId / "usb-Maker_Serial-if00").string(), (byId / "usb-Old-if00").string()}));
    EXPECT_EQ(ListPortsIn((root / "none").string(), (root / "none").string()),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
    fs::remove_all(root);
}
