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

std::set<std::string> TokenPrivilegeNames() {
    UniqueKernelHandle token;
    std::vector<BYTE> buffer(8192);
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), 8192, &size))
        return {Outcome(FALSE)};
    const auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    std::set<std::string> names;
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        WCHAR name[64];
        DWORD length = 64;
        LUID luid = privileges->Privileges[i].Luid;
        names.insert(LookupPrivilegeNameW(nullptr, &luid, name, &length) ? Escape(name) : "?");
    }
    return names;
}

BOOL StartScratchService(SC_HANDLE service) { return StartServiceW(service, 0, nullptr); }

std::string ScratchFileText() {
    UniqueFile file(CreateFileW(scratchFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    char bytes[4096];
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), bytes, sizeof(bytes), &read, nullptr)) return "";
    return std::string(bytes, read);
}

}  // namespace conformance

int wmain(int argc, WCHAR* argv[]) {
    if (argc == 2 && lstrcmpW(argv[1], L"service") == 0) return conformance::ServiceMode();
    std::vector<std::string> arguments;  // ASCII, as the program's paths and names are
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i], argv[i] + lstrlenW(argv[i]));
    return conformance::Run(arguments);
}
