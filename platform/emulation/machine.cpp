// The emulated machine: its state, last error, fault injection, the clock and the
// string helpers the other families share.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/emulation/state.h"

using namespace emu;
using namespace emu::detail;

namespace {

thread_local DWORD lastError = 0;

std::string createdRoot;

void RemoveCreatedRoot() {
    std::error_code ignored;
    if (!createdRoot.empty()) std::filesystem::remove_all(createdRoot, ignored);
}

// A fresh temporary directory; the last one made is removed when the process ends.
std::string MakeFileRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "noxel-emu-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create the emulated file root");
    if (createdRoot.empty()) std::atexit(RemoveCreatedRoot);
    createdRoot = pattern;
    return pattern;
}

void ResetState(State& s) {
    s.handles.clear();
    s.faults.clear();
    s.calls.fill(0);
    s.clockMode = ClockMode::AutoAdvance;
    s.nowMs = 0;
    s.timeBase = SYSTEMTIME{2026, 3, 0, 14, 9, 30, 0, 0};
    s.events.clear();
    s.startedByServiceManager = false;
    s.stoppedReported = false;
    s.handler = nullptr;
    s.controls.clear();
    s.reports.clear();
    s.eventLogAvailable = true;
    s.eventSources.clear();
    s.eventEntries.clear();
    s.uefiPresent = true;
    ResetToken(s);
    s.tokens.clear();
    s.firmware.clear();
    s.firmwareReads.clear();
    s.devices.clear();
    s.deviceSets.clear();
    s.registryRoot.children.clear();
    s.registryRoot.values.clear();
    s.keys.clear();
    s.files.clear();
    s.finds.clear();
    s.console.clear();
    s.administrator = true;
    s.moduleFileName = u"C:\\Program Files\\Noxel\\NoxelAlsSvc.exe";
    s.services.clear();
    s.managers.clear();
    s.serviceHandles.clear();
    std::error_code ignored;
    if (!s.fileRoot.empty()) std::filesystem::remove_all(s.fileRoot, ignored);
    s.fileRoot = MakeFileRoot();
    std::filesystem::create_directories(s.fileRoot + "/c/windows/system32");
    lastError = 0;
}

Operation KnownOperation(const std::string& name) {
    if (auto operation = FindOperation(name)) return *operation;
    throw std::invalid_argument("unknown operation " + name);
}

}  // namespace

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

namespace emu::detail {

State& Machine() {
    static State* machine = [] {
        auto* fresh = new State;
        ResetState(*fresh);
        return fresh;
    }();
    return *machine;
}

std::optional<DWORD> Fault(State& s, Operation operation,
                           std::initializer_list<std::u16string_view> arguments) {
    const unsigned call = ++s.calls[static_cast<size_t>(operation)];
    for (const FaultRule& rule : s.faults) {
        if (rule.operation != operation) continue;
        if (rule.argument) {
            for (std::u16string_view argument : arguments)
                if (EqualNoCase(argument, *rule.argument)) return rule.error;
            continue;
        }
        if (call >= rule.firstCall && (rule.times == 0 || call < rule.firstCall + rule.times))
            return rule.error;
    }
    return std::nullopt;
}

bool Idle(const State& s) {
    if (s.blocked.size() < s.processThreads) return false;
    return std::none_of(s.blocked.begin(), s.blocked.end(),
                        [](const std::function<bool()>* wakes) { return (*wakes)(); });
}

String Upper(std::u16string_view text) {
    String upper(text);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return upper;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) { return Upper(a) == Upper(b); }

size_t WideLength(const WCHAR* text) {
    size_t length = 0;
    if (text)
        while (text[length]) ++length;
    return length;
}

String ToString(const WCHAR* text) { return text ? String(text, WideLength(text)) : String(); }

}  // namespace emu::detail

namespace emu {

void Reset() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    ResetState(s);
}

std::optional<Operation> FindOperation(std::string_view name) {
    for (size_t i = 0; i < operationCount; ++i)
        if (name == operations[i].name) return static_cast<Operation>(i);
    return std::nullopt;
}

void FailCall(Operation operation, DWORD error, unsigned nth, unsigned times) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.faults.push_back(
        {operation, error, s.calls[static_cast<size_t>(operation)] + nth, times, std::nullopt});
}

void FailCall(const std::string& operation, DWORD error, unsigned nth, unsigned times) {
    FailCall(KnownOperation(operation), error, nth, times);
}

void FailCallsWith(const std::string& operation, const String& argument, DWORD error) {
    const Operation known = KnownOperation(operation);
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.faults.push_back({known, error, 0, 0, argument});
}

unsigned CallCount(Operation operation) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.calls[static_cast<size_t>(operation)];
}

bool IsKnownOperation(const std::string& operation) { return FindOperation(operation).has_value(); }

void SetClockMode(ClockMode mode) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.clockMode = mode;
    s.changed.notify_all();
}

uint64_t NowMs() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.nowMs;
}

void AdvanceClock(uint64_t milliseconds) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.nowMs += milliseconds;
    s.changed.notify_all();
}

std::optional<uint64_t> NextWakeMs() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (s.wakeTimes.empty()) return std::nullopt;
    return *s.wakeTimes.begin();
}

void AdvanceClockTo(uint64_t milliseconds) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (milliseconds > s.nowMs) s.nowMs = milliseconds;
    s.changed.notify_all();
}

ProcessThread::ProcessThread() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    ++s.processThreads;
}

ProcessThread::~ProcessThread() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    --s.processThreads;
    s.changed.notify_all();
}

bool WaitForIdle(std::chrono::milliseconds timeout) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    return s.changed.wait_for(guard, timeout, [&] { return Idle(s); });
}

}  // namespace emu
