// The conformance program on Windows (and under Wine, which tests/wine/conformance.sh
// sets up): the looks at the machine that the service itself never needs.
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance {

bool PrepareMachine() { return false; }

std::string StoredValue(const WCHAR* keyPath, const WCHAR* valueName) {
    UniqueKey key;
    BYTE data[4096];
    DWORD type = 0, size = sizeof(data);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), valueName, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return "missing";
    return "type " + Number(type) + " size " + Number(size) + " bytes " + HexBytes(data, size);
}

std::string StoredSetting(const WCHAR* name, DWORD level) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG));
    std::vector<BYTE> buffer(8192);
    DWORD size = 0;
    if (!service) return "no service";
    if (!QueryServiceConfig2W(service.get(), level, buffer.data(), 8192, &size))
        return "fail " + Number(GetLastError());
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        const WCHAR* text = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription;
        return text && *text ? Escape(text) : "none";
    }
    const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    if (failure->cActions == 0) return "none";
    std::string text = "reset " + Number(failure->dwResetPeriod);
    for (DWORD i = 0; i < failure->cActions; ++i)
        text += ", " + Number(failure->lpsaActions[i].Type) + "/" + Number(failure->lpsaActions[i].Delay);
    return text;
}

}  // namespace conformance

int wmain(int argc, WCHAR* argv[]) {
    std::vector<std::string> arguments;  // ASCII, as the program's paths and names are
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i], argv[i] + lstrlenW(argv[i]));
    return conformance::Run(arguments);
}
