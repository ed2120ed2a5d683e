#pragma once
// The line-settings record mapped onto the kernel's termios2 (arbitrary rates with BOTHER).
// The kernel's termios headers clash with the C library's, so this header includes neither;
// its constants come from linux_termios.cpp.

#include <cstdint>

#include "serial/platform/commport.h"

namespace lt {

struct TTermios {
    std::uint32_t c_iflag = 0;
    std::uint32_t c_oflag = 0;
    std::uint32_t c_cflag = 0;
    std::uint32_t c_lflag = 0;
    std::uint8_t c_line = 0;
    std::uint8_t c_cc[19] = {};
    std::uint32_t c_ispeed = 0;
    std::uint32_t c_ospeed = 0;
};

extern const std::uint32_t IXON_, IXOFF_, IXANY_, CRTSCTS_, CMSPAR_, PARENB_, PARODD_, CSTOPB_, CSIZE_, CS5_, CS6_,
    CS7_, CS8_, CLOCAL_, CREAD_, INPCK_, IGNPAR_, PARMRK_, ISTRIP_, ICANON_, ECHO_, OPOST_, CBAUD_, BOTHER_;
extern const int VSTART_, VSTOP_, VMIN_, VTIME_;

// Raw mode plus what the record asks for. Pure: tested on a plain struct.
void FromDcb(const commport::TDcb& dcb, TTermios& t);
// The record a termios state stands for (rate, bits, parity, stop bits, flow control).
void ToDcb(const TTermios& t, commport::TDcb& dcb);

int Get(int fd, TTermios& t);  // errno or 0
int Set(int fd, const TTermios& t);

}  // namespace lt
