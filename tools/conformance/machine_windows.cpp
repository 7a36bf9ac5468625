// The conformance program on Windows (and under Wine, which tests/wine/conformance.sh
// sets up): the looks at the machine that the service itself never needs.
#include <vector>

#include "tests/wine/token_privilege.h"
#include "tools/conformance/conformance.h"

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
