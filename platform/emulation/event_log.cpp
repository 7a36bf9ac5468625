// The event log: sources are registered and closed per entry; every entry is kept.
#include "platform/emulation/state.h"
#include "platform/event_log.h"

using namespace emu;
using namespace emu::detail;

HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source) {
    (void)server;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(source);
    if (auto error = Fault(s, Operation::RegisterEventSourceW, {name})) return FailWith(*error, nullptr);
    if (!s.eventLogAvailable) return FailWith(RPC_S_SERVER_UNAVAILABLE, nullptr);
    auto handle = const_cast<void*>(NewHandle(s, "event source"));
    s.eventSources[handle] = name;
    return handle;
}

BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID user,
                         WORD stringCount, DWORD dataSize, LPCWSTR* strings, LPVOID data) {
    (void)user, (void)dataSize, (void)data;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::ReportEventW)) return FailWith(*error, FALSE);
    auto it = s.eventSources.find(eventLog);
    if (it == s.eventSources.end()) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    emu::EventEntry entry{it->second, type, category, eventId, {}, s.nowMs};
    for (WORD i = 0; i < stringCount; ++i) entry.strings.push_back(ToString(strings[i]));
    s.eventEntries.push_back(entry);
    return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::DeregisterEventSource)) return FailWith(*error, FALSE);
    if (!s.eventSources.erase(eventLog)) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    ReleaseHandle(s, eventLog, "event source");
    return TRUE;
}

namespace emu {

std::vector<EventEntry> Events() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.eventEntries;
}

void SetEventLogAvailable(bool available) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.eventLogAvailable = available;
}

}  // namespace emu
