#include "install/install.h"

#include "install/service_settings.h"
#include "platform/event_log.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "service/console.h"
#include "service/service_identity.h"

namespace {

constexpr DWORD stopPollIntervalMs = 1000;
constexpr DWORD eventTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE;

// The event source, so that Windows renders the service's entries with the message
// table of the executable at `path`. A key this command made and could not fill is
// taken away again: a source without its message file renders nothing either.
void AddEventSource(const WCHAR* path) {
    UniqueKey key;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, calibrationEventSourceKey, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), &disposition);
    if (result != ERROR_SUCCESS) {
        PrintConsole(TEXT("RegCreateKeyEx failed w/err 0x%08lx\n"), static_cast<DWORD>(result));
        return;
    }
    const DWORD pathBytes = static_cast<DWORD>((lstrlenW(path) + 1) * sizeof(WCHAR));
    result = RegSetValueExW(key.get(), TEXT("EventMessageFile"), 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(path), pathBytes);
    if (result == ERROR_SUCCESS)
        result = RegSetValueExW(key.get(), TEXT("TypesSupported"), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&eventTypesSupported), sizeof(DWORD));
    if (result != ERROR_SUCCESS) {
        PrintConsole(TEXT("RegSetValueEx failed w/err 0x%08lx\n"), static_cast<DWORD>(result));
        key.reset();
        if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_LOCAL_MACHINE, calibrationEventSourceKey);
    }
}

// A source that is not there is no failure: an older -install never made one.
void DeleteEventSource() {
    const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, calibrationEventSourceKey);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        PrintConsole(TEXT("RegDeleteKey failed w/err 0x%08lx\n"), static_cast<DWORD>(result));
}

}  // namespace

void InstallService() {
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A full buffer means the path was cut; registering a cut path would start
    // something else.
    if (length == 0 || length >= MAX_PATH) {
        PrintConsole(TEXT("GetModuleFileName failed w/err 0x%08lx\n"),
                     length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        return;
    }
    // Quoted, so that a path with spaces cannot be taken for a shorter program's path
    // followed by arguments.
    WCHAR binaryPath[MAX_PATH + 2];
    StringCchPrintfW(binaryPath, MAX_PATH + 2, TEXT("\"%s\""), path);

    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        PrintConsole(TEXT("OpenSCManager failed w/err 0x%08lx\n"), GetLastError());
        return;
    }
    // Interactive, as it has always been registered; the running service reports own-process.
    UniqueServiceHandle created(CreateServiceW(
        manager.get(), calibrationServiceName, calibrationServiceDisplayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        binaryPath, nullptr, nullptr, TEXT(""), nullptr, nullptr));
    if (!created) {
        PrintConsole(TEXT("CreateService failed w/err 0x%08lx\n"), GetLastError());
        return;
    }
    PrintConsole(TEXT("%s is installed.\n"), calibrationServiceName);
    // Secondary settings: a failure is reported and the service is started all the same.
    for (BOOL (*set)(SC_HANDLE) : {SetServiceDescription, SetServiceRecovery, SetServiceRequiredPrivileges})
        if (!set(created.get()))
            PrintConsole(TEXT("ChangeServiceConfig2 failed w/err 0x%08lx\n"), GetLastError());
    AddEventSource(path);

    UniqueServiceHandle service(OpenServiceW(manager.get(), calibrationServiceName, SERVICE_ALL_ACCESS));
    if (!service) {
        PrintConsole(TEXT("Open Service %s failed.\n"), calibrationServiceName);
    } else if (StartServiceW(service.get(), 0, nullptr)) {
        PrintConsole(TEXT("%s start running.\n"), calibrationServiceName);
    } else {
        PrintConsole(TEXT("Start Service %s failed.\n"), calibrationServiceName);
    }
    // Manager, created, reopened: the order the command has always kept; each handle stands alone.
    manager.reset();
    created.reset();
}

void RemoveService() {
    SERVICE_STATUS status{};
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        PrintConsole(TEXT("OpenSCManager failed w/err 0x%08lx\n"), GetLastError());
        return;
    }
    UniqueServiceHandle service(
        OpenServiceW(manager.get(), calibrationServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        PrintConsole(TEXT("OpenService failed w/err 0x%08lx\n"), GetLastError());
        return;
    }

    // A refused stop (the service is not running) is silent; the deletion goes ahead.
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        PrintConsole(TEXT("Stopping %s."), calibrationServiceName);
        Sleep(stopPollIntervalMs);
        while (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOP_PENDING) {
            PrintConsole(TEXT("."));
            Sleep(stopPollIntervalMs);
        }
        if (status.dwCurrentState == SERVICE_STOPPED)
            PrintConsole(TEXT("\n%s is stopped.\n"), calibrationServiceName);
        else
            PrintConsole(TEXT("\n%s failed to stop.\n"), calibrationServiceName);
    }

    if (DeleteService(service.get())) {
        PrintConsole(TEXT("%s is removed.\n"), calibrationServiceName);
        DeleteEventSource();
    } else {
        PrintConsole(TEXT("DeleteService failed w/err 0x%08lx\n"), GetLastError());
    }
    manager.reset();  // the manager first, as at install; the service handle outlives it
}
