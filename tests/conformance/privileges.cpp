// The required-privileges list as -install sets it, and what the service manager then
// leaves in the token: the program itself, started as the scratch service, looks at its
// own token and writes what it finds into the scratch file for the console to read.
#include "install/service_settings.h"
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

// The privilege left out of the list: LocalSystem holds it otherwise.
const WCHAR* const leftOut = TEXT("SeDebugPrivilege");

void WINAPI NoControls(DWORD) {}

void WINAPI ScratchServiceMain(DWORD, LPWSTR*) {
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(scratchService, NoControls);
    // Running first: Wine's StartServiceW waits for it.
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
    SetServiceStatus(handle, &status);
    std::string held;
    for (const std::string& name : TokenPrivilegeNames()) held += (held.empty() ? "" : ", ") + name;
    const std::string found =
        "its token's privileges = " + held +
        "\nenabling SeSystemEnvironmentPrivilege = " + Enabling(SE_SYSTEM_ENVIRONMENT_NAME) +
        "\nenabling SeDebugPrivilege, left out = " + Enabling(leftOut) + "\n";
    UniqueFile file(
        CreateFileW(scratchFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), found.data(), static_cast<DWORD>(found.size()), &written, nullptr);
    file.reset();
    status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(handle, &status);
}

}  // namespace

int ServiceMode() {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(scratchService), ScratchServiceMain},
                                    {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

void PrivilegeQuestions(Answers& answers) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)), service;
    WCHAR path[MAX_PATH], command[MAX_PATH + 16];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    StringCchPrintfW(command, MAX_PATH + 16, TEXT("\"%s\" service"), path);
    service.reset(CreateServiceW(manager.get(), scratchService, TEXT("Noxel Conformance"), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 command, nullptr, nullptr, TEXT(""), nullptr, nullptr));
    answers.Add("the required privileges of a new service",
                StoredSetting(scratchService, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO));
    answers.Add("ChangeServiceConfig2W of the required privileges, as -install calls it",
                Try([&] { return SetServiceRequiredPrivileges(service.get()); }));
    answers.Add("the required privileges as stored",
                StoredSetting(scratchService, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO));

    answers.Add("StartServiceW of it", Try([&] { return StartScratchService(service.get()); }));
    SERVICE_STATUS status{};
    // A second at most on Windows; Wine starts a process more slowly.
    for (int poll = 0; poll < 300; ++poll) {
        if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED) break;
        Sleep(100);
    }
    answers.Add("its state once it has run", Number(status.dwCurrentState));
    // Its findings, one question a line.
    const std::string found = ScratchFileText();
    for (size_t start = 0, end; (end = found.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = found.substr(start, end - start);
        const size_t equals = line.find(" = ");
        if (equals != std::string::npos) answers.Add(line.substr(0, equals), line.substr(equals + 3));
    }
}

}  // namespace conformance
