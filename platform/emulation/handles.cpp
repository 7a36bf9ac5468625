// Handle bookkeeping: every handle given out and not yet closed, with its kind, and
// CloseHandle, which each family that gives out kernel handles answers for its own.
#include "platform/emulation/state.h"
#include "platform/handles.h"

using namespace emu;
using namespace emu::detail;

namespace emu::detail {

const void* NewHandle(State& s, const std::string& kind) {
    const void* handle = reinterpret_cast<const void*>(s.nextHandle);
    s.nextHandle += 4;
    s.handles[handle] = kind;
    return handle;
}

void TrackHandle(State& s, const void* handle, const std::string& kind) { s.handles[handle] = kind; }

bool ReleaseHandle(State& s, const void* handle, const std::string& kind) {
    auto it = s.handles.find(handle);
    if (it == s.handles.end() || it->second != kind) return false;
    s.handles.erase(it);
    return true;
}

}  // namespace emu::detail

BOOL WINAPI CloseHandle(HANDLE handle) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::CloseHandle)) return FailWith(*error, FALSE);
    if (CloseEvent(s, handle) || CloseToken(s, handle) || CloseFile(s, handle)) return TRUE;
    return FailWith(ERROR_INVALID_HANDLE, FALSE);
}

namespace emu {

size_t OpenHandleCount() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.handles.size();
}

std::vector<std::string> OpenHandleKinds() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    std::vector<std::string> kinds;
    for (const auto& [handle, kind] : s.handles) kinds.push_back(kind);
    return kinds;
}

}  // namespace emu
