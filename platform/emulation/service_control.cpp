// The service manager: the dispatcher and status reports of the service side, and the
// service database that the console side creates, starts, stops and deletes.
#include <algorithm>
#include <thread>

#include "platform/emulation/state.h"
#include "platform/service_control.h"

using namespace emu;
using namespace emu::detail;

namespace {

SERVICE_STATUS_HANDLE const statusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5e5);

// A required-privileges list as the service manager keeps it: an empty one is none.
std::optional<std::vector<String>> PrivilegeList(const std::vector<String>& privileges) {
    return privileges.empty() ? std::nullopt : std::optional(privileges);
}

ServiceEntry* ServiceOf(State& s, SC_HANDLE handle, DWORD neededAccess, DWORD& error) {
    auto it = s.serviceHandles.find(handle);
    if (it == s.serviceHandles.end()) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((it->second.second & neededAccess) != neededAccess) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto entry = s.services.find(Upper(it->second.first));
    if (entry == s.services.end()) {
        error = ERROR_SERVICE_DOES_NOT_EXIST;  // deleted while this handle stayed open
        return nullptr;
    }
    return &entry->second;
}

void FillStatus(const ServiceEntry& entry, LPSERVICE_STATUS status) {
    *status = SERVICE_STATUS{};
    // The registered type, interactive flag included; a service never started reports
    // ERROR_SERVICE_NEVER_STARTED.
    status->dwServiceType = entry.record.serviceType;
    status->dwWin32ExitCode = entry.started ? ERROR_SUCCESS : ERROR_SERVICE_NEVER_STARTED;
    status->dwCurrentState = entry.record.state;
    status->dwControlsAccepted =
        entry.record.state == SERVICE_RUNNING || entry.record.state == SERVICE_STOP_PENDING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
            : 0;
}

// A service marked for deletion goes once it is stopped and its last handle is closed;
// until then it can still be opened and queried.
void RemoveIfDeleted(State& s, const String& key) {
    auto it = s.services.find(key);
    if (it == s.services.end() || !it->second.record.markedForDeletion ||
        it->second.record.state != SERVICE_STOPPED)
        return;
    for (const auto& [handle, service] : s.serviceHandles)
        if (Upper(service.first) == key) return;
    s.services.erase(it);
}

}  // namespace

// ---- Service side -------------------------------------------------------------------

BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    if (auto error = Fault(s, Operation::StartServiceCtrlDispatcherW)) return FailWith(*error, FALSE);
    if (!table || !table[0].lpServiceName || !table[0].lpServiceProc)
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    if (!s.startedByServiceManager) return FailWith(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, FALSE);
    if (s.dispatcherRunning) return FailWith(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
    // Windows makes the token when it creates the process; here the process says which
    // service it is only now.
    const auto registered = s.services.find(Upper(ToString(table[0].lpServiceName)));
    if (registered != s.services.end() && registered->second.record.requiredPrivileges)
        RestrictToken(s, *registered->second.record.requiredPrivileges);
    s.dispatcherRunning = true;
    s.stoppedReported = false;
    s.handler = nullptr;
    s.dispatchedServiceNames.clear();
    for (const SERVICE_TABLE_ENTRYW* entry = table; entry->lpServiceName; ++entry)
        s.dispatchedServiceNames.push_back(ToString(entry->lpServiceName));

    LPWSTR name = table[0].lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW serviceMain = table[0].lpServiceProc;
    // The service manager does not wait for the service-main thread: the dispatcher
    // returns once STOPPED is reported, wherever that thread is.
    ++s.processThreads;
    std::thread([name, serviceMain] {
        LPWSTR argv[] = {name, nullptr};
        serviceMain(1, argv);
        State& machine = Machine();
        std::lock_guard done(machine.lock);
        --machine.processThreads;
        machine.changed.notify_all();
    }).detach();

    // Controls run here, on the dispatcher's thread, one at a time. While the service
    // starts, the service manager holds controls back, except a shutdown, which goes to
    // every service whose status accepts it.
    auto nextControl = [&]() -> std::optional<std::deque<DWORD>::iterator> {
        if (!s.handler || s.controls.empty() || s.reports.empty()) return std::nullopt;
        const SERVICE_STATUS& last = s.reports.back().status;
        if (last.dwCurrentState != SERVICE_START_PENDING) return s.controls.begin();
        if ((last.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) == 0) return std::nullopt;
        for (auto it = s.controls.begin(); it != s.controls.end(); ++it)
            if (*it == SERVICE_CONTROL_SHUTDOWN) return it;
        return std::nullopt;
    };
    for (;;) {
        Block(s, guard, [&] { return s.stoppedReported || nextControl().has_value(); });
        if (s.stoppedReported) break;
        const auto taken = *nextControl();
        const DWORD control = *taken;
        s.controls.erase(taken);
        s.changed.notify_all();
        auto* handler = s.handler;
        guard.unlock();
        handler(control);
        guard.lock();
    }
    s.dispatcherRunning = false;
    s.changed.notify_all();
    return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR serviceName, LPHANDLER_FUNCTION handler) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(serviceName);
    if (auto error = Fault(s, Operation::RegisterServiceCtrlHandlerW, {name}))
        return FailWith(*error, SERVICE_STATUS_HANDLE{});
    if (!s.dispatcherRunning) return FailWith(ERROR_SERVICE_NOT_IN_EXE, SERVICE_STATUS_HANDLE{});
    // The name is checked only in a process that runs several services: for one
    // (SERVICE_WIN32_OWN_PROCESS) Windows takes any name.
    const std::vector<String>& names = s.dispatchedServiceNames;
    if (names.size() > 1 && std::none_of(names.begin(), names.end(),
                                         [&](const String& known) { return EqualNoCase(name, known); }))
        return FailWith(ERROR_SERVICE_NOT_IN_EXE, SERVICE_STATUS_HANDLE{});
    s.handler = handler;
    s.changed.notify_all();
    return statusHandle;
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetServiceStatus)) return FailWith(*error, FALSE);
    if (handle != statusHandle || !status) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    s.reports.push_back({*status, s.nowMs});
    if (status->dwCurrentState == SERVICE_STOPPED) s.stoppedReported = true;
    // What the console side then queries, when the service is one the manager knows.
    if (!s.dispatchedServiceNames.empty()) {
        const String key = Upper(s.dispatchedServiceNames[0]);
        if (auto it = s.services.find(key); it != s.services.end()) {
            it->second.record.state = status->dwCurrentState;
            RemoveIfDeleted(s, key);
        }
    }
    s.changed.notify_all();
    return TRUE;
}

// ---- Console side -------------------------------------------------------------------

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
    (void)machine, (void)database;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::OpenSCManagerW)) return FailWith(*error, SC_HANDLE{});
    // Without administrator rights a user may connect, enumerate and query the lock.
    if (!s.administrator && (access & ~DWORD{0x0015}) != 0) return FailWith(ERROR_ACCESS_DENIED, SC_HANDLE{});
    auto handle = const_cast<void*>(NewHandle(s, "service manager"));
    s.managers[handle] = access;
    return static_cast<SC_HANDLE>(handle);
}

SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD access,
                                DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPath,
                                LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies, LPCWSTR account,
                                LPCWSTR password) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(serviceName);
    if (auto error = Fault(s, Operation::CreateServiceW, {name})) return FailWith(*error, SC_HANDLE{});
    auto managerIt = s.managers.find(manager);
    if (managerIt == s.managers.end()) return FailWith(ERROR_INVALID_HANDLE, SC_HANDLE{});
    if ((managerIt->second & 0x0002) == 0) return FailWith(ERROR_ACCESS_DENIED, SC_HANDLE{});
    if (name.empty() || !binaryPath) return FailWith(ERROR_INVALID_PARAMETER, SC_HANDLE{});
    auto existing = s.services.find(Upper(name));
    if (existing != s.services.end())
        return FailWith(existing->second.record.markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                  : ERROR_SERVICE_EXISTS,
                        SC_HANDLE{});
    ServiceEntry entry;
    InstalledService& record = entry.record;
    record.name = name;
    record.displayName = ToString(displayName);
    record.desiredAccess = access;
    record.serviceType = serviceType;
    record.startType = startType;
    record.errorControl = errorControl;
    record.binaryPath = ToString(binaryPath);
    record.loadOrderGroupGiven = loadOrderGroup != nullptr;
    record.tagIdGiven = tagId != nullptr;
    if (dependencies) record.dependencies = ToString(dependencies);
    record.accountGiven = account != nullptr;
    record.passwordGiven = password != nullptr;
    record.state = SERVICE_STOPPED;
    record.markedForDeletion = false;
    s.services[Upper(name)] = entry;
    auto handle = const_cast<void*>(NewHandle(s, "service"));
    s.serviceHandles[handle] = {name, access};
    return static_cast<SC_HANDLE>(handle);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(serviceName);
    if (auto error = Fault(s, Operation::OpenServiceW, {name})) return FailWith(*error, SC_HANDLE{});
    if (s.managers.find(manager) == s.managers.end()) return FailWith(ERROR_INVALID_HANDLE, SC_HANDLE{});
    auto it = s.services.find(Upper(name));
    if (it == s.services.end()) return FailWith(ERROR_SERVICE_DOES_NOT_EXIST, SC_HANDLE{});
    // Without administrator rights a user may query status and configuration, and
    // interrogate.
    if (!s.administrator && (access & ~DWORD{0x0085}) != 0) return FailWith(ERROR_ACCESS_DENIED, SC_HANDLE{});
    auto handle = const_cast<void*>(NewHandle(s, "service"));
    s.serviceHandles[handle] = {it->second.record.name, access};
    return static_cast<SC_HANDLE>(handle);
}

BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::ChangeServiceConfig2W)) return FailWith(*error, FALSE);
    DWORD error = 0;
    ServiceEntry* entry = ServiceOf(s, service, SERVICE_CHANGE_CONFIG, error);
    if (!entry) return FailWith(error, FALSE);
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION && infoLevel != SERVICE_CONFIG_FAILURE_ACTIONS &&
        infoLevel != SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO)
        return FailWith(ERROR_INVALID_LEVEL, FALSE);
    if (!info) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    InstalledService& record = entry->record;
    if (infoLevel == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) {
        // A multi-string; an empty one removes the list.
        const WCHAR* names = static_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(info)->pmszRequiredPrivileges;
        if (!names) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
        std::vector<String> privileges;
        for (; *names; names += WideLength(names) + 1) privileges.push_back(ToString(names));
        record.requiredPrivileges = PrivilegeList(privileges);
        return TRUE;
    }
    if (infoLevel == SERVICE_CONFIG_DESCRIPTION) {
        // No text leaves the description as it is; an empty one removes it.
        const LPWSTR text = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
        if (text) record.description = text[0] ? std::optional(ToString(text)) : std::nullopt;
        return TRUE;
    }
    const auto& failure = *static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
    // No action list leaves the actions as they are; an empty one removes them. A restart
    // needs start access too.
    if (!failure.lpsaActions) return TRUE;
    FailureActions stored{failure.dwResetPeriod, {}};
    for (DWORD i = 0; i < failure.cActions; ++i) {
        const SC_ACTION& action = failure.lpsaActions[i];
        if (action.Type == SC_ACTION_RESTART && !ServiceOf(s, service, SERVICE_START, error))
            return FailWith(error, FALSE);
        stored.actions.push_back({static_cast<DWORD>(action.Type), action.Delay});
    }
    if (stored.actions.empty()) {
        record.failureActions.reset();
    } else {
        record.failureActions = stored;
    }
    return TRUE;
}

namespace {

// One setting as QueryServiceConfig2W lays it out: the structure first, the texts and
// the actions it points to after it.
std::vector<BYTE> ConfigBytes(const InstalledService& record, DWORD level) {
    std::vector<BYTE> bytes;
    const auto append = [&](const void* data, size_t size) {
        const size_t offset = bytes.size();
        bytes.insert(bytes.end(), static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        return offset;
    };
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        bytes.resize(sizeof(SERVICE_DESCRIPTIONW));
        if (record.description) append(record.description->c_str(), (record.description->size() + 1) * 2);
        return bytes;
    }
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        bytes.resize(sizeof(SERVICE_FAILURE_ACTIONSW));
        if (record.failureActions)
            for (const auto& [type, delay] : record.failureActions->actions) {
                const SC_ACTION action{static_cast<SC_ACTION_TYPE>(type), delay};
                append(&action, sizeof(action));
            }
        return bytes;
    }
    bytes.resize(sizeof(SERVICE_REQUIRED_PRIVILEGES_INFOW));
    for (const String& name : record.requiredPrivileges.value_or(std::vector<String>{}))
        append(name.c_str(), (name.size() + 1) * 2);
    const WCHAR end = 0;
    append(&end, sizeof(end));
    return bytes;
}

}  // namespace

BOOL WINAPI QueryServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::QueryServiceConfig2W)) return FailWith(*error, FALSE);
    DWORD error = 0;
    const ServiceEntry* entry = ServiceOf(s, service, SERVICE_QUERY_CONFIG, error);
    if (!entry) return FailWith(error, FALSE);
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION && infoLevel != SERVICE_CONFIG_FAILURE_ACTIONS &&
        infoLevel != SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO)
        return FailWith(ERROR_INVALID_LEVEL, FALSE);
    const std::vector<BYTE> bytes = ConfigBytes(entry->record, infoLevel);
    if (needed) *needed = static_cast<DWORD>(bytes.size());
    if (!buffer || size < bytes.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::copy(bytes.begin(), bytes.end(), buffer);
    // The pointers go in last, into the caller's buffer.
    const InstalledService& record = entry->record;
    if (infoLevel == SERVICE_CONFIG_DESCRIPTION) {
        auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer);
        description->lpDescription =
            record.description ? reinterpret_cast<LPWSTR>(buffer + sizeof(SERVICE_DESCRIPTIONW)) : nullptr;
    } else if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
        auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
        failure->dwResetPeriod = record.failureActions ? record.failureActions->resetPeriod : 0;
        failure->cActions =
            record.failureActions ? static_cast<DWORD>(record.failureActions->actions.size()) : 0;
        failure->lpsaActions = failure->cActions
                                   ? reinterpret_cast<SC_ACTION*>(buffer + sizeof(SERVICE_FAILURE_ACTIONSW))
                                   : nullptr;
    } else {
        reinterpret_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(buffer)->pmszRequiredPrivileges =
            reinterpret_cast<LPWSTR>(buffer + sizeof(SERVICE_REQUIRED_PRIVILEGES_INFOW));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv) {
    (void)argc, (void)argv;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::StartServiceW)) return FailWith(*error, FALSE);
    DWORD error = 0;
    ServiceEntry* entry = ServiceOf(s, service, SERVICE_START, error);
    if (!entry) return FailWith(error, FALSE);
    if (entry->record.markedForDeletion) return FailWith(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    if (entry->record.state != SERVICE_STOPPED) return FailWith(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
    // The emulated manager starts no process; the service is taken to run.
    entry->record.state = SERVICE_RUNNING;
    entry->started = true;
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::ControlService)) return FailWith(*error, FALSE);
    if (control != SERVICE_CONTROL_STOP) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    DWORD error = 0;
    ServiceEntry* entry = ServiceOf(s, service, SERVICE_STOP, error);
    if (!entry) return FailWith(error, FALSE);
    if (entry->record.state == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE, FALSE);
    if (entry->stopScript.refuseError != 0) return FailWith(entry->stopScript.refuseError, FALSE);
    entry->record.state = SERVICE_STOP_PENDING;
    entry->pendingPollsLeft = entry->stopScript.pendingPolls;
    if (status) FillStatus(*entry, status);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::QueryServiceStatus)) return FailWith(*error, FALSE);
    DWORD error = 0;
    ServiceEntry* entry = ServiceOf(s, service, SERVICE_QUERY_STATUS, error);
    if (!entry) return FailWith(error, FALSE);
    if (!status) return FailWith(ERROR_NOACCESS, FALSE);
    if (entry->record.state == SERVICE_STOP_PENDING) {
        if (entry->pendingPollsLeft > 0) {
            --entry->pendingPollsLeft;
        } else {
            entry->record.state = entry->stopScript.finalState;
        }
    }
    FillStatus(*entry, status);
    RemoveIfDeleted(s, Upper(entry->record.name));
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::DeleteService)) return FailWith(*error, FALSE);
    DWORD error = 0;
    ServiceEntry* entry = ServiceOf(s, service, DELETE, error);
    if (!entry) return FailWith(error, FALSE);
    if (entry->record.markedForDeletion) return FailWith(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    entry->record.markedForDeletion = true;
    RemoveIfDeleted(s, Upper(entry->record.name));
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::CloseServiceHandle)) return FailWith(*error, FALSE);
    if (s.managers.erase(handle)) {
        ReleaseHandle(s, handle, "service manager");
        return TRUE;
    }
    auto service = s.serviceHandles.find(handle);
    if (service != s.serviceHandles.end()) {
        const String key = Upper(service->second.first);
        s.serviceHandles.erase(service);
        ReleaseHandle(s, handle, "service");
        RemoveIfDeleted(s, key);
        return TRUE;
    }
    return FailWith(ERROR_INVALID_HANDLE, FALSE);
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD capacity) {
    (void)module;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::GetModuleFileNameW)) return FailWith(*error, DWORD{0});
    if (capacity == 0) return FailWith(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
    const String& name = s.moduleFileName;
    if (name.size() >= capacity) {
        // Windows cuts the path, terminates it and returns the capacity.
        name.copy(path, capacity - 1);
        path[capacity - 1] = 0;
        return FailWith(ERROR_INSUFFICIENT_BUFFER, capacity);
    }
    name.copy(path, name.size());
    path[name.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
}

// ---- Control surface ----------------------------------------------------------------

namespace emu {

void SetStartedByServiceManager(bool started) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.startedByServiceManager = started;
}

void SendControl(DWORD control) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.controls.push_back(control);
    s.changed.notify_all();
}

std::vector<StatusReport> StatusReports() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return s.reports;
}

bool WaitForStatus(DWORD state, size_t count, std::chrono::milliseconds timeout) {
    State& s = Machine();
    std::unique_lock guard(s.lock);
    return s.changed.wait_for(guard, timeout, [&] {
        size_t seen = 0;
        for (const StatusReport& report : s.reports)
            if (report.status.dwCurrentState == state) ++seen;
        return seen >= count;
    });
}

void SetAdministrator(bool administrator) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.administrator = administrator;
}

void SetModuleFileName(const String& path) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.moduleFileName = path;
}

std::optional<InstalledService> FindService(const String& name) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    auto it = s.services.find(Upper(name));
    if (it == s.services.end()) return std::nullopt;
    return it->second.record;
}

void AddService(const String& name, DWORD state) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    ServiceEntry entry{};
    entry.record.name = name;
    entry.record.displayName = name;
    entry.record.serviceType = SERVICE_WIN32_OWN_PROCESS;
    entry.record.startType = SERVICE_DEMAND_START;
    entry.record.errorControl = SERVICE_ERROR_NORMAL;
    entry.record.state = state;
    entry.started = state != SERVICE_STOPPED;
    s.services[Upper(name)] = entry;
}

void SetRequiredPrivileges(const String& name, const std::vector<String>& privileges) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    auto it = s.services.find(Upper(name));
    if (it != s.services.end()) it->second.record.requiredPrivileges = PrivilegeList(privileges);
}

void ScriptStop(const String& name, const StopScript& script) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    auto it = s.services.find(Upper(name));
    if (it != s.services.end()) it->second.stopScript = script;
}

}  // namespace emu
