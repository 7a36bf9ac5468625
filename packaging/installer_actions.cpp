// Custom actions of the MSI package (NoxelAlsInstallerActions.dll, kept in the package's
// Binary table and run by Windows Installer, never installed).
//
// ConfigureService gives the service the registration that -install gives it: the full
// path of the installed executable in double quotes, the recovery actions and the
// required privileges (wixl has no ServiceConfig element to write them). The path: Windows Installer builds
// the image path of a ServiceInstall row itself, as the key file's full path in double quotes followed by the
// Arguments column (its verbose log shows the operation as ServiceInstall(...,ImagePath="C:\Program
// Files\...\x.exe",...)); there the action sets the path that the service has already. Wine's Windows
// Installer registers the path without quotes, and Wine's sc.exe has no "config" command: the action sets the
// path through the service manager, so that the registry and the running manager both
// hold it.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <vector>

#include "install/service_settings.h"
#include "platform/handles.h"
#include "service/service_identity.h"

namespace {

// One line in the installer's log (msiexec /l*v).
void Log(MSIHANDLE install, const WCHAR* format, DWORD value) {
    WCHAR text[256];
    StringCchPrintfW(text, 256, format, value);
    PMSIHANDLE record = MsiCreateRecord(1);  // closes the record
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// The deferred action's data: the installed executable's full path, "[#NoxelAlsSvc.exe]".
std::vector<WCHAR> ActionData(MSIHANDLE install) {
    DWORD length = 0;
    WCHAR empty[1] = {};
    if (MsiGetPropertyW(install, L"CustomActionData", empty, &length) != ERROR_MORE_DATA) return {};
    std::vector<WCHAR> data(length + 1);
    length = static_cast<DWORD>(data.size());
    if (MsiGetPropertyW(install, L"CustomActionData", data.data(), &length) != ERROR_SUCCESS) return {};
    return data;
}

// Sets the quoted path, the recovery actions and the required privileges; false with the
// error logged.
bool Configure(MSIHANDLE install) {
    const std::vector<WCHAR> path = ActionData(install);
    if (path.empty() || path[0] == 0) {
        Log(install, L"ConfigureService: no executable path given (%lu)", ERROR_INVALID_PARAMETER);
        return false;
    }
    std::vector<WCHAR> quoted(path.size() + 2);
    if (FAILED(StringCchPrintfW(quoted.data(), quoted.size(), L"\"%s\"", path.data()))) {
        Log(install, L"ConfigureService: the path does not fit (%lu)", ERROR_INSUFFICIENT_BUFFER);
        return false;
    }

    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Log(install, L"ConfigureService: OpenSCManagerW failed w/err 0x%08lx", GetLastError());
        return false;
    }
    // Start access too: a restart among the recovery actions asks for it.
    UniqueServiceHandle service(
        OpenServiceW(manager.get(), calibrationServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) {
        Log(install, L"ConfigureService: OpenServiceW failed w/err 0x%08lx", GetLastError());
        return false;
    }
    if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              quoted.data(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        Log(install, L"ConfigureService: ChangeServiceConfigW failed w/err 0x%08lx", GetLastError());
        return false;
    }
    if (!SetServiceRecovery(service.get())) {
        Log(install, L"ConfigureService: ChangeServiceConfig2W failed w/err 0x%08lx", GetLastError());
        return false;
    }
    // As at -install: a service manager that keeps no privilege list (Wine's) is logged,
    // and the service still installs.
    if (!SetServiceRequiredPrivileges(service.get()))
        Log(install, L"ConfigureService: required privileges not set, ChangeServiceConfig2W w/err 0x%08lx",
            GetLastError());
    return true;
}

}  // namespace

// A failure fails the installation: a service that cannot be given its path is one that
// the installer could not register, and InstallServices alone does not fail for that
// here (wixl cannot mark the service vital). No exception leaves for the installer.
extern "C" __declspec(dllexport) UINT __stdcall ConfigureService(MSIHANDLE install) noexcept try {
    return Configure(install) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
} catch (...) {
    return ERROR_INSTALL_FAILURE;
}
