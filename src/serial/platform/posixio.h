#pragma once
#include "base/posixio.h"

namespace commport {
using posixio::RetryEintr;
using posixio::TFd;
}  // namespace commport
