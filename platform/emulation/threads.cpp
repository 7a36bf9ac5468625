// Events, the thread pool, Sleep on the emulated clock, and the end of the process.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/emulation/coverage.h"
#include "platform/emulation/state.h"
#include "platform/threads.h"

using namespace emu;
using namespace emu::detail;

// On the machine's lock, so that a thread waiting for an SRW lock counts as blocked.
void WINAPI AcquireSRWLockExclusive(PSRWLOCK lock) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    Block(s, guard, [&] {
        auto held = s.heldLocks.find(lock);
        return held == s.heldLocks.end() || !held->second;
    });
    s.heldLocks[lock] = true;
}

void WINAPI ReleaseSRWLockExclusive(PSRWLOCK lock) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.heldLocks[lock] = false;
    s.changed.notify_all();
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCWSTR name) {
    (void)security, (void)name;  // named events are not emulated
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::CreateEventW)) return FailWith(*error, nullptr);
    auto handle = const_cast<void*>(NewHandle(s, "event"));
    s.events[handle] = std::make_shared<Event>(Event{manualReset != FALSE, initialState != FALSE});
    return handle;
}

BOOL WINAPI SetEvent(HANDLE event) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetEvent)) return FailWith(*error, FALSE);
    auto it = s.events.find(event);
    if (it == s.events.end()) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    it->second->signalled = true;
    s.changed.notify_all();
    return TRUE;
}

// Waits on events only; the timeout runs on the real clock.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    if (auto error = Fault(s, Operation::WaitForSingleObject)) return FailWith(*error, WAIT_FAILED);
    auto found = s.events.find(handle);
    if (found == s.events.end()) return FailWith(ERROR_INVALID_HANDLE, WAIT_FAILED);  // closed, or no event
    // The wait holds the object, as on Windows: closing the handle meanwhile takes only
    // the handle away, and the wait runs its course.
    const std::shared_ptr<Event> event = found->second;
    auto signalled = [&] { return event->signalled; };
    if (milliseconds == INFINITE) {
        Block(s, guard, signalled);
    } else if (!s.changed.wait_for(guard, std::chrono::milliseconds(milliseconds), signalled)) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

bool emu::detail::CloseEvent(State& s, HANDLE handle) {
    if (!s.events.erase(handle)) return false;
    ReleaseHandle(s, handle, "event");
    s.changed.notify_all();
    return true;
}

void WINAPI Sleep(DWORD milliseconds) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    if (s.clockMode == emu::ClockMode::Real) {
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        guard.lock();
        s.nowMs += milliseconds;
        return;
    }
    const uint64_t wake = s.nowMs + milliseconds;
    auto waiting = s.wakeTimes.insert(wake);
    s.changed.notify_all();
    Block(s, guard, [&] { return s.clockMode != emu::ClockMode::Manual || s.nowMs >= wake; });
    if (s.clockMode == emu::ClockMode::AutoAdvance && s.nowMs < wake) s.nowMs = wake;
    s.wakeTimes.erase(waiting);
    s.changed.notify_all();
}

BOOL WINAPI QueueUserWorkItem(LPTHREAD_START_ROUTINE function, PVOID context, ULONG flags) {
    (void)flags;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::QueueUserWorkItem)) return FailWith(*error, FALSE);
    ++s.runningWorkItems;
    ++s.processThreads;
    std::thread([function, context] {
        function(context);
        State& machine = Machine();
        std::lock_guard done(machine.lock);
        --machine.runningWorkItems;
        --machine.processThreads;
        machine.changed.notify_all();
    }).detach();
    return TRUE;
}

void WINAPI ExitProcess(UINT exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
    emu::WriteCoverageCounts();
    std::_Exit(static_cast<int>(exitCode));
}

namespace emu {

size_t RunningWorkItems() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.runningWorkItems;
}

}  // namespace emu
