// Kept apart from every file that includes <termios.h>: the kernel's <asm/termbits.h> defines
// struct termios2 and the same macro names with its own values.

#include "serial/platform/linux_termios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "serial/platform/posixio.h"

namespace lt {

const std::uint32_t IXON_ = IXON, IXOFF_ = IXOFF, IXANY_ = IXANY, CRTSCTS_ = CRTSCTS, CMSPAR_ = CMSPAR,
                    PARENB_ = PARENB, PARODD_ = PARODD, CSTOPB_ = CSTOPB, CSIZE_ = CSIZE, CS5_ = CS5, CS6_ = CS6,
                    CS7_ = CS7, CS8_ = CS8, CLOCAL_ = CLOCAL, CREAD_ = CREAD, INPCK_ = INPCK, IGNPAR_ = IGNPAR,
                    PARMRK_ = PARMRK, ISTRIP_ = ISTRIP, ICANON_ = ICANON, ECHO_ = ECHO, OPOST_ = OPOST, CBAUD_ = CBAUD,
                    BOTHER_ = BOTHER;
const int VSTART_ = VSTART, VSTOP_ = VSTOP, VMIN_ = VMIN, VTIME_ = VTIME;

static_assert(sizeof(TTermios) == sizeof(termios2), "TTermios mirrors termios2");

void FromDcb(const commport::TDcb& dcb, TTermios& t)
{
    using namespace commport;
    // Raw: no line editing, no echo, no signals, no output processing, no character mapping.
    t.c_iflag &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                             IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<std::uint32_t>(OPOST);
    t.c_lflag &= ~static_cast<std::uint32_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<std::uint32_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD);
    t.c_cflag |= CLOCAL | CREAD;

    switch (dcb.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;  // 8, and 4, which no UART here offers
    }
    switch (dcb.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;  // mark
    case 4: t.c_cflag |= PARENB | CMSPAR; break;           // space
    default: break;
    }
    if (dcb.Flags & fParity)
        t.c_iflag |= INPCK;
    else
        t.c_iflag |= IGNPAR;
    // One and a half stop bits exist only for 5-bit characters; the system offers two.
    if (dcb.StopBits != 0)
        t.c_cflag |= CSTOPB;
    // Output flow control by XON/XOFF; IXANY stays off, so no other byte restarts output.
    if (dcb.Flags & fOutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & fInX)
        t.c_iflag |= IXOFF;
    if ((dcb.Flags & fOutxCtsFlow) || (dcb.Flags & fRtsControlMask) == RTS_CONTROL_HANDSHAKE)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    // Classic rates by their codes, so that every tool reads them back; any other by BOTHER.
    static constexpr struct {
        std::uint32_t Rate;
        std::uint32_t Code;
    } codes[] = {{50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
                 {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
                 {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                 {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    std::uint32_t code = BOTHER;
    for (const auto& c : codes)
        if (c.Rate == dcb.BaudRate)
            code = c.Code;
    t.c_cflag |= code;
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;
    // The input rate follows the output rate.
    t.c_cflag &= ~static_cast<std::uint32_t>(CIBAUD);
}

void ToDcb(const TTermios& t, commport::TDcb& dcb)
{
    using namespace commport;
    dcb = TDcb{};
    dcb.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (t.c_cflag & PARENB) {
        if (t.c_cflag & CMSPAR)
            dcb.Parity = (t.c_cflag & PARODD) ? 3 : 4;
        else
            dcb.Parity = (t.c_cflag & PARODD) ? 1 : 2;
    }
    dcb.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    dcb.Flags = fBinary;
    if (t.c_iflag & INPCK)
        dcb.Flags |= fParity;
    if (t.c_iflag & IXON)
        dcb.Flags |= fOutX;
    if (t.c_iflag & IXOFF)
        dcb.Flags |= fInX;
    if (t.c_cflag & CRTSCTS)
        dcb.Flags |= fOutxCtsFlow | RTS_CONTROL_HANDSHAKE;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    dcb.XonLim = 1024;
    dcb.XoffLim = 1024;
}

int Get(int fd, TTermios& t)
{
    termios2 k{};
    if (commport::RetryEintr([&] { return ::ioctl(fd, TCGETS2, &k); }) != 0)
        return errno;
    std::memcpy(static_cast<void*>(&t), &k, sizeof k);
    return 0;
}

int Set(int fd, const TTermios& t)
{
    termios2 k{};
    std::memcpy(&k, &t, sizeof k);
    if (commport::RetryEintr([&] { return ::ioctl(fd, TCSETS2, &k); }) != 0)
        return errno;
    return 0;
}

}  // namespace lt
