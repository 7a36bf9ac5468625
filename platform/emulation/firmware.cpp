// Firmware variables behind SeSystemEnvironmentPrivilege, and the process token that
// enables it.
#include <optional>
#include <string_view>

#include "platform/emulation/state.h"
#include "platform/firmware.h"

using namespace emu;
using namespace emu::detail;

namespace {

HANDLE const currentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

struct Privilege {
    const char16_t* name;
    DWORD luid;  // Windows' own, the same on every machine
};

// LocalSystem's privileges in LUID order; it holds more, which nothing here names.
constexpr Privilege localSystemPrivileges[] = {
    {u"SeTcbPrivilege", 7},          {u"SeTakeOwnershipPrivilege", 9},      {u"SeLoadDriverPrivilege", 10},
    {u"SeBackupPrivilege", 17},      {u"SeRestorePrivilege", 18},           {u"SeShutdownPrivilege", 19},
    {u"SeDebugPrivilege", 20},       {u"SeSystemEnvironmentPrivilege", 22}, {u"SeChangeNotifyPrivilege", 23},
    {u"SeImpersonatePrivilege", 29},
};
constexpr DWORD systemEnvironmentLuid = 22;
constexpr DWORD changeNotifyLuid = 23;

const Privilege* FindPrivilege(std::u16string_view name) {
    for (const Privilege& privilege : localSystemPrivileges)
        if (EqualNoCase(name, privilege.name)) return &privilege;
    return nullptr;
}

}  // namespace

namespace emu::detail {

void ResetToken(State& s) {
    s.heldPrivileges.clear();
    for (const Privilege& privilege : localSystemPrivileges) s.heldPrivileges.insert(privilege.luid);
    s.enabledPrivileges = {changeNotifyLuid};
}

// SeChangeNotifyPrivilege stays whatever the list says, as Windows keeps it.
void RestrictToken(State& s, const std::vector<String>& privileges) {
    std::set<DWORD> kept = {changeNotifyLuid};
    for (const String& name : privileges)
        if (const Privilege* privilege = FindPrivilege(name);
            privilege && s.heldPrivileges.count(privilege->luid))
            kept.insert(privilege->luid);
    s.heldPrivileges = kept;
    std::erase_if(s.enabledPrivileges, [&](DWORD luid) { return !kept.count(luid); });
}

}  // namespace emu::detail

HANDLE WINAPI GetCurrentProcess() { return currentProcess; }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::OpenProcessToken)) return FailWith(*error, FALSE);
    if (process != currentProcess || !token) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    auto handle = const_cast<void*>(NewHandle(s, "token"));
    s.tokens[handle] = access;
    *token = handle;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid) {
    (void)system;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String privilege = ToString(name);
    if (auto error = Fault(s, Operation::LookupPrivilegeValueW, {privilege})) return FailWith(*error, FALSE);
    const Privilege* known = FindPrivilege(privilege);
    if (!known) return FailWith(ERROR_NO_SUCH_PRIVILEGE, FALSE);
    luid->LowPart = known->luid;
    luid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState, LPDWORD returnLength) {
    (void)bufferLength, (void)previousState, (void)returnLength;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::AdjustTokenPrivileges)) return FailWith(*error, FALSE);
    auto it = s.tokens.find(token);
    if (it == s.tokens.end()) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    if ((it->second & TOKEN_ADJUST_PRIVILEGES) == 0) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    if (disableAll) {
        s.enabledPrivileges.clear();
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    bool unassigned = false;
    for (DWORD i = 0; newState && i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        if (entry.Luid.HighPart != 0 || !s.heldPrivileges.count(entry.Luid.LowPart)) {
            unassigned = true;
            continue;
        }
        if (entry.Attributes & SE_PRIVILEGE_ENABLED)
            s.enabledPrivileges.insert(entry.Luid.LowPart);
        else
            s.enabledPrivileges.erase(entry.Luid.LowPart);
    }
    // Windows succeeds even when a privilege is not held, and says so in the last error.
    SetLastError(unassigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
    return TRUE;
}

namespace {

DWORD ReadVariable(State& s, const String& variable, LPCWSTR guid, PVOID buffer, DWORD size);

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The GUID in upper case, or nothing when it is not "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}",
// the only form Windows parses.
std::optional<String> CanonicalGuid(std::u16string_view guid) {
    if (guid.size() != 38 || guid.front() != u'{' || guid.back() != u'}') return std::nullopt;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? guid[i] != u'-' : !IsHexDigit(guid[i])) return std::nullopt;
    }
    return Upper(guid);
}

}  // namespace

DWORD WINAPI GetFirmwareEnvironmentVariableW(LPCWSTR name, LPCWSTR guid, PVOID buffer, DWORD size) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String variable = ToString(name);
    const DWORD bytes = ReadVariable(s, variable, guid, buffer, size);
    s.firmwareReads.push_back({variable, bytes, bytes ? 0 : GetLastError(), s.nowMs});
    return bytes;
}

namespace {

DWORD ReadVariable(State& s, const String& variable, LPCWSTR guid, PVOID buffer, DWORD size) {
    if (auto error = Fault(s, Operation::GetFirmwareEnvironmentVariableW, {variable}))
        return FailWith(*error, 0);
    if (!s.uefiPresent) return FailWith(ERROR_INVALID_FUNCTION, 0);
    if (!s.enabledPrivileges.count(systemEnvironmentLuid)) return FailWith(ERROR_PRIVILEGE_NOT_HELD, 0);
    const std::optional<String> vendor = CanonicalGuid(ToString(guid));
    if (!vendor) return FailWith(ERROR_INVALID_PARAMETER, 0);
    // UEFI compares variable names exactly.
    auto it = s.firmware.find({variable, *vendor});
    if (it == s.firmware.end()) return FailWith(ERROR_ENVVAR_NOT_FOUND, 0);
    if (it->second.size() > size) return FailWith(ERROR_INSUFFICIENT_BUFFER, 0);
    std::copy(it->second.begin(), it->second.end(), static_cast<BYTE*>(buffer));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(it->second.size());
}

}  // namespace

bool emu::detail::CloseToken(State& s, HANDLE handle) {
    if (!s.tokens.erase(handle)) return false;
    ReleaseHandle(s, handle, "token");
    return true;
}

namespace emu {

void SetUefiPresent(bool present) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.uefiPresent = present;
}

void SetPrivilegeHeld(bool held) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (held) {
        s.heldPrivileges.insert(systemEnvironmentLuid);
    } else {
        s.heldPrivileges.erase(systemEnvironmentLuid);
        s.enabledPrivileges.erase(systemEnvironmentLuid);
    }
}

bool PrivilegeEnabled() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.enabledPrivileges.count(systemEnvironmentLuid) != 0;
}

std::vector<String> TokenPrivileges() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    std::vector<String> names;
    for (const Privilege& privilege : localSystemPrivileges)
        if (s.heldPrivileges.count(privilege.luid)) names.push_back(privilege.name);
    return names;
}

std::vector<FirmwareRead> FirmwareReads() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.firmwareReads;
}

void SetFirmwareVariable(const String& name, const String& guid, const Bytes& data) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.firmware[{name, Upper(guid)}] = data;
}

void RemoveFirmwareVariable(const String& name, const String& guid) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.firmware.erase({name, Upper(guid)});
}

}  // namespace emu
