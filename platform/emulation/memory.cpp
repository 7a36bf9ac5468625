// Local memory from the C heap, counted among the open handles so that a leak shows.
#include <cstdlib>

#include "platform/emulation/state.h"
#include "platform/memory.h"

using namespace emu;
using namespace emu::detail;

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    (void)flags;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::LocalAlloc)) return FailWith(*error, nullptr);
    void* memory = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (!memory) return FailWith(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    TrackHandle(s, memory, "local memory");
    return memory;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    if (!memory) return nullptr;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (!ReleaseHandle(s, memory, "local memory")) return FailWith(ERROR_INVALID_HANDLE, memory);
    std::free(memory);
    return nullptr;
}
