// The emulated machine: its state, last error, handle counting, fault injection, the
// clock and the string helpers the other families share.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <stdexcept>

#include "platform/emulation/state.h"

namespace emu::detail {

void ResetState(State& s);

State& Machine() {
    static State* machine = [] {
        auto* fresh = new State;
        ResetState(*fresh);
        return fresh;
    }();
    return *machine;
}

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
}  // namespace

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

namespace emu {

String Wide(std::string_view utf8) {
    String out;
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        uint32_t code = byte;
        size_t extra = 0;
        if (byte >= 0xF0)
            code = byte & 0x07, extra = 3;
        else if (byte >= 0xE0)
            code = byte & 0x0F, extra = 2;
        else if (byte >= 0xC0)
            code = byte & 0x1F, extra = 1;
        ++i;
        for (; extra > 0 && i < utf8.size(); --extra, ++i)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

std::string Narrow(std::u16string_view wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t code = wide[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

void Reset() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    emu::detail::ResetState(s);
}

}  // namespace emu

namespace emu::detail {

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
    s.privilegeHeld = true;
    s.privilegeEnabled = false;
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
    s.holdWorkItems = false;
    std::error_code ignored;
    if (!s.fileRoot.empty() && s.fileRoot == createdRoot)  // never a root a test chose
        std::filesystem::remove_all(s.fileRoot, ignored);
    s.fileRoot = MakeFileRoot();
    std::filesystem::create_directories(s.fileRoot + "/c/windows/system32");
    lastError = 0;
}

}  // namespace emu::detail

namespace emu {

std::optional<Operation> FindOperation(std::string_view name) {
    for (size_t i = 0; i < operationCount; ++i)
        if (name == operations[i].name) return static_cast<Operation>(i);
    return std::nullopt;
}

namespace {
Operation KnownOperation(const std::string& name) {
    if (auto operation = FindOperation(name)) return *operation;
    throw std::invalid_argument("unknown operation " + name);
}
}  // namespace

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

unsigned CallCount(const std::string& operation) { return CallCount(KnownOperation(operation)); }

bool IsKnownOperation(const std::string& operation) { return FindOperation(operation).has_value(); }

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

size_t SleepingThreads() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.sleepers;
}

bool WaitForSleepers(size_t count, std::chrono::milliseconds timeout) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    return s.changed.wait_for(guard, timeout, [&] { return s.sleepers >= count; });
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

void SetLocalTimeBase(const SYSTEMTIME& time) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.timeBase = time;
}

}  // namespace emu
