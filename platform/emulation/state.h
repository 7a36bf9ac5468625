// The emulated machine's state, shared by the emulated operations. One lock guards
// all of it; one condition variable wakes every waiter (events, sleepers, the
// dispatcher) on any change, which is plenty for a machine this small.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <algorithm>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/emulation.h"
#include "platform/emulation/operations.h"

namespace emu::detail {

struct Event {
    bool manualReset = false;
    bool signalled = false;
};

struct OpenFile {
    int fd = -1;
    std::string hostPath;
    DWORD access = 0;
    DWORD share = 0;
};

struct RegistryNode {
    String name;
    std::map<String, std::unique_ptr<RegistryNode>> children;  // keyed by upper-case name
    std::vector<std::pair<String, RegistryValue>> values;
};

struct OpenKey {
    RegistryNode* node = nullptr;
    DWORD access = 0;
};

struct Device {
    std::optional<Bytes> hardwareId;
};

struct ServiceEntry {
    InstalledService record;
    StopScript stopScript;
    unsigned pendingPollsLeft = 0;
    bool started = false;  // since it was created; until then its exit code is ERROR_SERVICE_NEVER_STARTED
};

struct FaultRule {
    Operation operation;
    DWORD error = 0;
    unsigned firstCall = 0;  // absolute call number
    unsigned times = 1;      // 0: for ever
    std::optional<String> argument;
};

struct State {
    std::mutex lock;
    std::condition_variable changed;

    // handles: every handle given out and not yet closed, with its kind
    std::map<const void*, std::string> handles;
    uintptr_t nextHandle = 0x1000;

    std::vector<FaultRule> faults;
    std::array<unsigned, operationCount> calls{};  // by operation

    ClockMode clockMode = ClockMode::AutoAdvance;
    uint64_t nowMs = 0;
    std::multiset<uint64_t> wakeTimes;
    SYSTEMTIME timeBase{};

    std::map<const void*, std::shared_ptr<Event>> events;  // shared with the waits under way

    // service side
    bool startedByServiceManager = false;
    bool dispatcherRunning = false;
    bool stoppedReported = false;
    std::vector<String> dispatchedServiceNames;  // the dispatcher's table
    void (*handler)(DWORD) = nullptr;
    std::deque<DWORD> controls;
    std::vector<StatusReport> reports;

    bool eventLogAvailable = true;
    std::map<const void*, String> eventSources;
    std::vector<EventEntry> eventEntries;

    bool uefiPresent = true;
    // The process token's privileges by LUID: those it holds, and those enabled.
    std::set<DWORD> heldPrivileges;
    std::set<DWORD> enabledPrivileges;
    std::map<const void*, DWORD> tokens;
    std::map<std::pair<String, String>, Bytes> firmware;  // (name, upper-case guid)
    std::vector<FirmwareRead> firmwareReads;

    std::vector<Device> devices;
    std::map<const void*, std::vector<Device>> deviceSets;

    RegistryNode registryRoot;
    std::map<const void*, OpenKey> keys;

    std::string fileRoot;
    std::map<const void*, OpenFile> files;
    std::map<const void*, std::string> finds;

    std::string console;

    bool administrator = true;
    String moduleFileName;
    std::map<String, ServiceEntry> services;                         // keyed by upper-case name
    std::map<const void*, DWORD> managers;                           // access
    std::map<const void*, std::pair<String, DWORD>> serviceHandles;  // name, access

    size_t runningWorkItems = 0;

    // The service process's own threads (pool threads, the service-main thread, and a
    // thread counted in by ProcessThread), and the waits that block some of them,
    // each with what would end it: the process is idle when every one is blocked.
    size_t processThreads = 0;
    std::vector<const std::function<bool()>*> blocked;
    std::map<const void*, bool> heldLocks;  // SRW locks; kept across Reset, as threads may hold them
};

// Waits until ready(), as one of the blocked threads meanwhile; `guard` holds s.lock.
template <typename Ready>
void Block(State& s, std::unique_lock<std::mutex>& guard, Ready ready) {
    if (ready()) return;
    const std::function<bool()> wakes = ready;
    s.blocked.push_back(&wakes);
    s.changed.notify_all();
    s.changed.wait(guard, ready);
    s.blocked.erase(std::find(s.blocked.begin(), s.blocked.end(), &wakes));
}

// Whether nothing in the process can move until a control, the clock or the end of
// the process comes from outside; call with the lock held.
bool Idle(const State& s);

// The one machine. It is never destroyed, so that detached pool threads can never
// outlive it.
State& Machine();

// Handle bookkeeping; call with the lock held.
const void* NewHandle(State& s, const std::string& kind);
void TrackHandle(State& s, const void* handle, const std::string& kind);
bool ReleaseHandle(State& s, const void* handle, const std::string& kind);

// Each family's part of CloseHandle: true when `handle` was one of its own, now closed;
// call with the lock held.
bool CloseEvent(State& s, HANDLE handle);  // threads.cpp
bool CloseToken(State& s, HANDLE handle);  // firmware.cpp
bool CloseFile(State& s, HANDLE handle);   // files.cpp

// The token of LocalSystem, and the token the service manager makes from a service's
// privilege list (firmware.cpp); call with the lock held.
void ResetToken(State& s);
void RestrictToken(State& s, const std::vector<String>& privileges);

// WriteFile's part for standard output (console.cpp); call with the lock held.
bool IsStandardOutput(HANDLE handle);
void WriteStandardOutput(State& s, const void* data, DWORD bytes);

// Counts the call and returns the error to fail it with, if a rule says so; call with
// the lock held.
std::optional<DWORD> Fault(State& s, Operation operation,
                           std::initializer_list<std::u16string_view> arguments = {});

// Sets the last error and gives back the failure value of the call.
template <typename T>
T FailWith(DWORD error, T result) {
    SetLastError(error);
    return result;
}

String Upper(std::u16string_view text);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
size_t WideLength(const WCHAR* text);
String ToString(const WCHAR* text);  // null gives ""

}  // namespace emu::detail
