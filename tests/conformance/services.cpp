// The service manager as -install and -remove use it, with the settings -install gives;
// the dispatcher from a console, the module's path and the event log as the service uses them.
#include <cstring>
#include <vector>

#include "install/service_settings.h"
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const name = scratchService;
const WCHAR* const binaryPath = TEXT("\"C:\\Program Files\\Noxel Conformance\\conformance.exe\"");

constexpr DWORD interactive = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;

void WINAPI NeverRuns(DWORD, LPWSTR*) {}

}  // namespace

std::string StoredSetting(const WCHAR* service, DWORD level) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle opened(OpenServiceW(manager.get(), service, SERVICE_QUERY_CONFIG));
    if (!opened) return "no service";
    std::vector<BYTE> buffer(8192);
    DWORD size = 0;
    if (!QueryServiceConfig2W(opened.get(), level, buffer.data(), 8192, &size)) return Outcome(FALSE);
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        const WCHAR* text = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription;
        return text && *text ? Escape(text) : "none";
    }
    if (level == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) {
        const WCHAR* names =
            reinterpret_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(buffer.data())->pmszRequiredPrivileges;
        std::string text;
        for (; names && *names; names += lstrlenW(names) + 1)
            text += (text.empty() ? "" : ", ") + Escape(names);
        return text.empty() ? "none" : text;
    }
    const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    if (failure->cActions == 0) return "none";
    std::string text = "reset " + Number(failure->dwResetPeriod);
    for (DWORD i = 0; i < failure->cActions; ++i)
        text += ", " + Number(failure->lpsaActions[i].Type) + "/" + Number(failure->lpsaActions[i].Delay);
    return text;
}

void ServiceQuestions(Answers& answers) {
    UniqueServiceHandle manager, service, again, queryOnly, changeOnly, removing, reopened;
    const auto open = [&](UniqueServiceHandle& kept, DWORD access) {
        return Keep(kept, [&] { return OpenServiceW(manager.get(), name, access); });
    };
    // With -install's arguments.
    const auto create = [&](UniqueServiceHandle& kept, DWORD type) {
        return Keep(kept, [&] {
            return CreateServiceW(manager.get(), name, TEXT("Noxel Conformance"), SERVICE_ALL_ACCESS, type,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binaryPath, nullptr, nullptr,
                                  TEXT(""), nullptr, nullptr);
        });
    };
    answers.Add("OpenSCManagerW with all access",
                Keep(manager, [] { return OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS); }));
    answers.Add("OpenServiceW of a missing service", open(service, SERVICE_ALL_ACCESS));
    answers.Add("CreateServiceW as -install calls it", create(service, interactive));
    answers.Add("CreateServiceW of an existing service", create(again, SERVICE_WIN32_OWN_PROCESS));

    // The settings that -install gives beside the registration.
    answers.Add("the description of a new service", StoredSetting(name, SERVICE_CONFIG_DESCRIPTION));
    answers.Add("ChangeServiceConfig2W of the description, as -install calls it",
                Try([&] { return SetServiceDescription(service.get()); }));
    answers.Add("the description as stored", StoredSetting(name, SERVICE_CONFIG_DESCRIPTION));
    answers.Add("ChangeServiceConfig2W of the recovery actions, as -install calls it",
                Try([&] { return SetServiceRecovery(service.get()); }));
    answers.Add("the recovery actions as stored", StoredSetting(name, SERVICE_CONFIG_FAILURE_ACTIONS));
    open(queryOnly, SERVICE_QUERY_STATUS);
    answers.Add("ChangeServiceConfig2W without change-config access",
                Try([&] { return SetServiceDescription(queryOnly.get()); }));
    open(changeOnly, SERVICE_CHANGE_CONFIG);
    answers.Add("ChangeServiceConfig2W of restarts without start access",
                Try([&] { return SetServiceRecovery(changeOnly.get()); }));

    SERVICE_STATUS status;
    std::memset(&status, 0xEE, sizeof(status));
    const std::string queried = Try([&] { return QueryServiceStatus(service.get(), &status); });
    answers.Add("QueryServiceStatus of a service never started",
                queried + " state " + Number(status.dwCurrentState) + " type " + Hex(status.dwServiceType) +
                    " accepted " + Number(status.dwControlsAccepted) + " exit " +
                    Number(status.dwWin32ExitCode));
    answers.Add("ControlService stop of a stopped service",
                Try([&] { return ControlService(service.get(), SERVICE_CONTROL_STOP, &status); }));
    answers.Add("ControlService stop without stop access",
                Try([&] { return ControlService(queryOnly.get(), SERVICE_CONTROL_STOP, &status); }));
    answers.Add("StartServiceW without start access",
                Try([&] { return StartServiceW(queryOnly.get(), 0, nullptr); }));
    answers.Add("DeleteService without delete access", Try([&] { return DeleteService(queryOnly.get()); }));

    // -remove's handle: stop, query and delete.
    open(removing, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    answers.Add("DeleteService", Try([&] { return DeleteService(removing.get()); }));
    answers.Add("DeleteService again", Try([&] { return DeleteService(removing.get()); }));
    answers.Add("QueryServiceStatus while marked for deletion",
                Try([&] { return QueryServiceStatus(removing.get(), &status); }));
    answers.Add("StartServiceW while marked for deletion",
                Try([&] { return StartServiceW(service.get(), 0, nullptr); }));
    answers.Add("OpenServiceW while marked for deletion", open(reopened, SERVICE_QUERY_STATUS));
    answers.Add("CreateServiceW while marked for deletion", create(again, interactive));

    for (UniqueServiceHandle* handle : {&again, &reopened, &queryOnly, &changeOnly, &removing})
        handle->reset();
    answers.Add("CloseServiceHandle of the last handle",
                Try([&] { return CloseServiceHandle(service.release()); }));
    answers.Add("OpenServiceW after the last handle closed", open(reopened, SERVICE_QUERY_STATUS));

    manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));  // as -remove opens it
    answers.Add("CreateServiceW with connect access only", create(service, interactive));

    // As RunService calls it, from a console: no service manager started this process.
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(name), NeverRuns}, {nullptr, nullptr}};
    answers.Add("StartServiceCtrlDispatcherW from a console",
                Try([&] { return StartServiceCtrlDispatcherW(table); }));

    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    answers.Add("GetModuleFileNameW into MAX_PATH characters", Number(length) + " " + Escape(path));
    WCHAR cut[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
    SetLastError(unsetError);
    length = GetModuleFileNameW(nullptr, cut, 5);
    answers.Add("GetModuleFileNameW into 5 characters",
                Number(length) + " error " + Number(GetLastError()) + " " + Escape({cut, 6}));

    UniqueEventSource source;
    answers.Add("RegisterEventSourceW on this machine",
                Keep(source, [] { return RegisterEventSourceW(nullptr, TEXT("NoxelConformance")); }));
    // As the service reports: two strings, category and identifier 0.
    LPCWSTR strings[2] = {TEXT("NoxelConformance"), TEXT("Noxel ALS Service in OnStart")};
    std::string reported;
    for (WORD type : {EVENTLOG_INFORMATION_TYPE, EVENTLOG_ERROR_TYPE})
        reported += (reported.empty() ? "" : ", ") + Try([&] {
                        return ReportEventW(source.get(), type, 0, 0, nullptr, 2, 0, strings, nullptr);
                    });
    answers.Add("ReportEventW of an information entry, then of an error entry", reported);
}

}  // namespace conformance
