// Runs the real service through its life on the emulated machine: the entry point
// started as by the service manager, the worker, and a stop.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/emulation/emulation.h"

namespace sim {

struct RunOptions {
    std::optional<uint64_t> stopAfterMs;  // stop then instead of when the worker ends
    bool shutdown = false;
    bool realtime = false;
    std::function<void(const emu::FirmwareRead&)> onFirmwareRead;  // as reads happen
    // "-install" or "-remove": the program run from a console instead.
    const char16_t* consoleOption = nullptr;
};

// How the worker ended, seen from the outside: by itself, before any stop was sent,
// and with how many of its attempts failed by the service's own count.
struct WorkerEnd {
    bool byItself = false;
    DWORD failedAttempts = 0;
};

// Returns the entry point's exit code once the process has ended. On the virtual clock,
// nothing when it cannot end: every thread waits for what no control brings, and the
// process is left waiting.
std::optional<int> RunServiceProcess(const RunOptions& options, WorkerEnd* workerEnd = nullptr);

}  // namespace sim
