// The fault sweep's judgement of a text log, shared with the firmware fuzzer: whole
// entries, each a timestamp and one of the service's messages. main.cpp runs the lives.
#pragma once

#include <string>

#include "platform/emulation/emulation.h"

namespace sweep {

// "" when the log is whole entries only, else what is wrong and where.
std::string CheckLog(const emu::Bytes& bytes);

}  // namespace sweep
