// The conformance program on Windows (and under Wine, which tests/wine/conformance.sh
// sets up): the looks at the machine that the service itself never needs.
#include <vector>

#include "tests/wine/token_privilege.h"
#include "tests/conformance/conformance.h"

namespace conformance {

const char* DefaultRunner() { return "windows"; }

void PrepareMachine() {}

std::string StoredValue(const WCHAR* keyPath, const WCHAR* valueName) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return "missing";
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return "missing";
    std::vector<BYTE> data(size);
    if (size && RegQueryValueExW(key.get(), valueName, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return "missing";
    return "type " + Number(type) + " size " + Number(size) + " bytes " + HexBytes(data.data(), size);
}

namespace {

// QueryServiceConfig2W's record of a service at `level`, or the error that it gave.
bool QueryConfig2(const WCHAR* name, DWORD level, std::vector<BYTE>& buffer, std::string& error) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG));
    DWORD size = 0;
    if (service) QueryServiceConfig2W(service.get(), level, nullptr, 0, &size);
    buffer.assign(size ? size : 1, 0);
    if (service && QueryServiceConfig2W(service.get(), level, buffer.data(), size, &size)) return true;
    error = service ? "fail " + Number(GetLastError()) : "no service";
    return false;
}

}  // namespace

std::string StoredDescription(const WCHAR* name) {
    std::vector<BYTE> buffer;
    std::string error;
    if (!QueryConfig2(name, SERVICE_CONFIG_DESCRIPTION, buffer, error)) return error;
    const WCHAR* text = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription;
    return text && *text ? Escape(text) : "none";
}

std::string StoredRecovery(const WCHAR* name) {
    std::vector<BYTE> buffer;
    std::string error;
    if (!QueryConfig2(name, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, error)) return error;
    const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    if (failure->cActions == 0) return "none";
    std::string text = "reset " + Number(failure->dwResetPeriod);
    for (DWORD i = 0; i < failure->cActions; ++i)
        text += ", " + Number(failure->lpsaActions[i].Type) + "/" + Number(failure->lpsaActions[i].Delay);
    return text;
}

bool SystemEnvironmentPrivilegeEnabled() { return TokenPrivilegeEnabled(SE_SYSTEM_ENVIRONMENT_NAME); }

bool ReadTextFile(const WCHAR* path, std::string& text) {
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    text.clear();
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
    return true;
}

}  // namespace conformance

int wmain(int argc, WCHAR* argv[]) { return conformance::Run(argc, argv); }
