// Standard output: what WriteFile writes to its handle is kept for the tests to read.
#include "platform/console.h"
#include "platform/emulation/state.h"

using namespace emu;
using namespace emu::detail;

namespace {
HANDLE const standardOutput = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-11));
}  // namespace

HANDLE WINAPI GetStdHandle(DWORD which) {
    if (which != STD_OUTPUT_HANDLE) return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    return standardOutput;
}

bool emu::detail::IsStandardOutput(HANDLE handle) { return handle == standardOutput; }

void emu::detail::WriteStandardOutput(State& s, const void* data, DWORD bytes) {
    s.console.append(static_cast<const char*>(data), bytes);
}

std::string emu::ConsoleText() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.console;
}
