// A probe run under Wine by the end-to-end tests. "facts" asks the platform the
// questions on which the host emulation (platform/emulation/) must agree with Windows
// and prints one line per answer; "values KEY" prints the values of a key below
// HKEY_LOCAL_MACHINE with their types and bytes; "devices" prints the instance and first
// hardware ID of every device that setupapi lists as present; "service NAME" prints how
// the service manager answers OpenServiceW and QueryServiceStatus for a service, and
// "config NAME" its QueryServiceConfigW; "version FILE" reads an executable's version
// resource and manifest back; "firmware-directory" holds the test build's firmware
// reader to its contract.
#include <windows.h>
#include <setupapi.h>
#include <strsafe.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <vector>

// The test build's firmware reader (platform/firmware_directory.cpp), linked in under its
// own name, so that GetFirmwareEnvironmentVariableW here stays Wine's.
DWORD WINAPI FirmwareDirectoryVariableW(LPCWSTR name, LPCWSTR guid, PVOID buffer, DWORD size);

namespace {

std::string output;

std::string Escape(const WCHAR* text, size_t length) {
    std::string escaped;
    for (size_t i = 0; i < length; ++i) {
        const WCHAR c = text[i];
        char buffer[8];
        if (c == '\r')
            escaped += "\\r";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\\')
            escaped += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            escaped += static_cast<char>(c);
        else {
            std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
            escaped += buffer;
        }
    }
    return escaped;
}

std::string Escape(const WCHAR* text) { return Escape(text, lstrlenW(text)); }

// Appends `item` to a list separated by `separator`.
void Append(std::string& list, char separator, const std::string& item) {
    if (!list.empty()) list += separator;
    list += item;
}

std::string Number(unsigned long value) { return std::to_string(value); }

std::string Hex(unsigned long value) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "0x%08lx", value);
    return buffer;
}

void Line(const std::string& key, const std::string& value) { output += key + " = " + value + "\n"; }

// A BOOL-returning call as "ok" or "fail <error>".
std::string Outcome(BOOL succeeded, DWORD error) { return succeeded ? "ok" : "fail " + Number(error); }

// Makes a BOOL-returning call with a sentinel in the last error, and tells its outcome.
template <typename Call>
std::string Try(Call call) {
    SetLastError(0xDEADBEEF);
    const BOOL succeeded = call();
    return Outcome(succeeded, GetLastError());
}

void Flush() {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()), &written,
              nullptr);
    output.clear();
}

// ---- Registry ------------------------------------------------------------------------

const WCHAR* const probeKey = L"Software\\NoxelProbe";

void RegistryFacts() {
    HKEY root = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, probeKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
    // Names on both sides of the letters in code order: digits, '[', '_', '~', mixed case.
    const WCHAR* const names[] = {L"b", L"AZ", L"A_1", L"a2", L"Z", L"_x", L"10", L"9", L"~t", L"[y", L"Ab"};
    for (const WCHAR* name : names) {
        HKEY child = nullptr;
        RegCreateKeyExW(root, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
        RegCloseKey(child);
    }

    std::string order;
    DWORD index = 0;
    for (;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        const LONG result = RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            Line("RegEnumKeyExW past the last subkey", Number(result));
            break;
        }
        Append(order, ',', Escape(name));
    }
    Line("RegEnumKeyExW order", order);

    // In: capacity with the terminator; out: length without it. "AZ" is two characters.
    for (DWORD capacity : {1UL, 2UL, 3UL}) {
        DWORD found = 0;
        for (DWORD i = 0; i < index; ++i) {
            WCHAR name[256];
            DWORD length = 256;
            RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (lstrcmpW(name, L"AZ") == 0) found = i;
        }
        WCHAR name[8] = {'#', '#', '#', '#', '#', '#', '#', 0};
        DWORD length = capacity;
        const LONG result = RegEnumKeyExW(root, found, name, &length, nullptr, nullptr, nullptr, nullptr);
        Line("RegEnumKeyExW AZ capacity " + Number(capacity),
             Number(result) + " length " + Number(length) + " name " + Escape(name));
    }

    WCHAR className[MAX_PATH] = {};
    DWORD classLength = MAX_PATH;
    DWORD subKeys = 0, maxSubKeyLength = 0;
    const LONG info = RegQueryInfoKeyW(root, className, &classLength, nullptr, &subKeys, &maxSubKeyLength,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    Line("RegQueryInfoKeyW", Number(info) + " class length " + Number(classLength) + " subkeys " +
                                 Number(subKeys) + " longest " + Number(maxSubKeyLength));

    const std::pair<const char*, const WCHAR*> paths[] = {
        {"missing key", L"Software\\NoxelProbe\\missing"},
        {"trailing backslash", L"Software\\NoxelProbe\\b\\"},
        {"leading backslash", L"\\Software\\NoxelProbe\\b"},
        {"double backslash", L"Software\\\\NoxelProbe\\b"},
        {"other case", L"SOFTWARE\\noxelprobe\\B"},
    };
    for (const auto& [label, path] : paths) {
        HKEY key = nullptr;
        const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key);
        Line(std::string("RegOpenKeyExW ") + label, Number(result));
        if (result == ERROR_SUCCESS) RegCloseKey(key);
    }

    HKEY readOnly = nullptr;
    RegOpenKeyExW(root, L"b", 0, KEY_READ, &readOnly);
    const DWORD one = 1;
    Line("RegSetValueExW on a key opened for reading",
         Number(
             RegSetValueExW(readOnly, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one))));
    RegCloseKey(readOnly);

    // A REG_SZ is stored with exactly the size given, terminator or not.
    RegSetValueExW(root, L"unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"), 6);
    DWORD type = 0, size = 0;
    RegQueryValueExW(root, L"unterminated", nullptr, &type, nullptr, &size);
    Line("REG_SZ of 6 bytes without terminator, stored size", Number(size));
    RegSetValueExW(root, L"cut", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abcd"), 6);
    RegQueryValueExW(root, L"cut", nullptr, &type, nullptr, &size);
    Line("REG_SZ of 6 bytes cut from a longer text, stored size", Number(size));
    RegSetValueExW(root, L"list", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(L"ab\0cd\0"), 12);
    RegQueryValueExW(root, L"list", nullptr, &type, nullptr, &size);
    Line("REG_MULTI_SZ of 12 bytes without its final terminator, stored size", Number(size));
    RegSetValueExW(root, L"bytes", 0, REG_BINARY, reinterpret_cast<const BYTE*>(L"abc"), 6);
    RegQueryValueExW(root, L"bytes", nullptr, &type, nullptr, &size);
    Line("REG_BINARY of 6 bytes followed by a NUL, stored size", Number(size));

    RegCloseKey(root);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, probeKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, probeKey);
}

// ---- Message texts -------------------------------------------------------------------

void MessageFacts() {
    const DWORD codes[] = {1,    2,    3,    5,    6,    8,    13,   32,   80,   87,
                           122,  203,  234,  259,  317,  998,  1053, 1056, 1060, 1061,
                           1062, 1063, 1072, 1073, 1077, 1300, 1314, 1722, 1784};
    for (DWORD code : codes) {
        WCHAR* text = nullptr;
        SetLastError(0xDEADBEEF);
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                            nullptr, code, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr);
        const DWORD error = GetLastError();
        Line("FormatMessageW " + Number(code), length ? Escape(text, length) : "fail " + Number(error));
        LocalFree(text);
    }
    WCHAR* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        0x2000ABCD, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr);
    Line("FormatMessageW unknown code", length ? Escape(text, length) : "fail " + Number(GetLastError()));
    LocalFree(text);
}

// ---- Firmware and privilege ----------------------------------------------------------

bool PrivilegeEnabled(HANDLE token, const LUID& privilege) {
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
        if (privileges->Privileges[i].Luid.LowPart == privilege.LowPart &&
            privileges->Privileges[i].Luid.HighPart == privilege.HighPart)
            return (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    return false;
}

void FirmwareFacts() {
    const WCHAR* const guid = L"{BF82486A-80F7-4733-B82C-066BD8F2534B}";
    BYTE buffer[4];
    SetLastError(0xDEADBEEF);
    DWORD bytes = GetFirmwareEnvironmentVariableW(L"CALIBRATE", guid, buffer, sizeof(buffer));
    Line("GetFirmwareEnvironmentVariableW before the privilege",
         Number(bytes) + " error " + Number(GetLastError()));

    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, L"SeSystemEnvironmentPrivilege", &privileges.Privileges[0].Luid);
    Line("SeSystemEnvironmentPrivilege enabled at start",
         PrivilegeEnabled(token, privileges.Privileges[0].Luid) ? "yes" : "no");
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(0xDEADBEEF);
    const BOOL adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    Line("AdjustTokenPrivileges",
         Outcome(adjusted, GetLastError()) + " last error " + Number(GetLastError()));
    Line("SeSystemEnvironmentPrivilege enabled after",
         PrivilegeEnabled(token, privileges.Privileges[0].Luid) ? "yes" : "no");
    CloseHandle(token);

    SetLastError(0xDEADBEEF);
    bytes = GetFirmwareEnvironmentVariableW(L"CALIBRATE", guid, buffer, sizeof(buffer));
    Line("GetFirmwareEnvironmentVariableW with the privilege",
         Number(bytes) + " error " + Number(GetLastError()));
}

// ---- Files ---------------------------------------------------------------------------

std::string OpenOutcome(HANDLE file, DWORD error) {
    return file == INVALID_HANDLE_VALUE ? "fail " + Number(error) : "ok last error " + Number(error);
}

HANDLE Open(const WCHAR* path, DWORD access, DWORD share, DWORD disposition, const char* label) {
    SetLastError(0xDEADBEEF);
    HANDLE file = CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    Line(std::string("CreateFileW ") + label, OpenOutcome(file, GetLastError()));
    return file;
}

void Close(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

void FileFacts() {
    CreateDirectoryW(L"C:\\noxel-probe", nullptr);
    const WCHAR* const path = L"C:\\noxel-probe\\file.log";
    const WCHAR* const missing = L"C:\\noxel-probe\\missing.log";
    const WCHAR* const inMissingDirectory = L"C:\\noxel-probe\\missing\\file.log";
    DeleteFileW(path);

    Close(Open(path, GENERIC_WRITE, 0, CREATE_NEW, "create-new of a new file"));
    Close(Open(path, GENERIC_WRITE, 0, CREATE_NEW, "create-new of an existing file"));
    Close(Open(missing, GENERIC_READ, 0, OPEN_EXISTING, "open-existing of a missing file"));
    Close(Open(inMissingDirectory, GENERIC_READ, 0, OPEN_EXISTING, "open-existing in a missing directory"));
    Close(Open(inMissingDirectory, GENERIC_WRITE, 0, CREATE_NEW, "create-new in a missing directory"));
    Close(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS, "create-always of an existing file"));
    Close(Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS, "open-always of an existing file"));

    WIN32_FIND_DATAW found;
    for (const auto& [label, name] : {std::pair<const char*, const WCHAR*>{"an existing file", path},
                                      {"a missing file", missing},
                                      {"a file in a missing directory", inMissingDirectory}}) {
        SetLastError(0xDEADBEEF);
        HANDLE find = FindFirstFileW(name, &found);
        Line(std::string("FindFirstFileW ") + label,
             find == INVALID_HANDLE_VALUE ? "fail " + Number(GetLastError()) : "ok");
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }

    // The text log's own opens: created with write access and no sharing, then opened
    // for reading and writing with read sharing.
    HANDLE exclusive = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING, "write, no sharing");
    Close(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
               "read while another handle shares nothing"));
    Line("DeleteFileW while a handle shares nothing", Try([&] { return DeleteFileW(path); }));
    Close(exclusive);

    HANDLE appending =
        Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, "read-write, read sharing");
    Close(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
               "read sharing read-write, beside it"));
    Close(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, "read sharing read only, beside it"));
    Close(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, "write, beside it"));
    Line("DeleteFileW while a handle shares reading", Try([&] { return DeleteFileW(path); }));
    Close(appending);

    HANDLE reading = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, "read only");
    DWORD written = 0;
    Line("WriteFile on a handle opened for reading",
         Try([&] { return WriteFile(reading, "x", 1, &written, nullptr); }));
    Close(reading);

    Line("DeleteFileW of an existing file", Try([&] { return DeleteFileW(path); }));
    Line("DeleteFileW of a missing file", Try([&] { return DeleteFileW(missing); }));
    Line("DeleteFileW in a missing directory", Try([&] { return DeleteFileW(inMissingDirectory); }));
    RemoveDirectoryW(L"C:\\noxel-probe");
}

// ---- Devices -------------------------------------------------------------------------

std::vector<BYTE> HardwareIdProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD& error) {
    DWORD size = 0;
    SetLastError(0xDEADBEEF);
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        error = GetLastError();
        return {};
    }
    std::vector<BYTE> property(size);
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, property.data(), size,
                                           nullptr)) {
        error = GetLastError();
        return {};
    }
    error = 0;
    return property;
}

constexpr DWORD deviceIdCapacity = 200;  // MAX_DEVICE_ID_LEN of cfgmgr32.h

std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    WCHAR id[deviceIdCapacity];
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, deviceIdCapacity, nullptr)) return "?";
    return Escape(id);
}

void Devices() {
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        DWORD error = 0;
        const std::vector<BYTE> property = HardwareIdProperty(set, device, error);
        const auto* ids = reinterpret_cast<const WCHAR*>(property.data());
        Line(InstanceId(set, device),
             property.empty() ? "no hardware ID, error " + Number(error) : Escape(ids, lstrlenW(ids)));
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Devices under Enum\ROOT\NOXELPROBE, which platform.sh declares; each instance name
// tells what its key holds.
void DeviceFacts() {
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    Line("SetupDiGetClassDevsW all present", set == INVALID_HANDLE_VALUE ? "fail" : "ok");
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    std::string listed;
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::string id = InstanceId(set, device);
        if (id.rfind("ROOT\\\\NOXELPROBE\\\\", 0) != 0) continue;
        Append(listed, ',', id.substr(18));
        DWORD size = 0;
        SetLastError(0xDEADBEEF);
        const BOOL sized =
            SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
        Line("hardware ID size query " + id.substr(18),
             Outcome(sized, GetLastError()) + " size " + Number(size));
        if (size > 2) {
            std::vector<BYTE> property(size, 0xEE);
            DWORD required = 0;
            SetLastError(0xDEADBEEF);
            const BOOL shortRead = SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                                                     property.data(), size - 2, &required);
            Line("hardware ID read short " + id.substr(18),
                 Outcome(shortRead, GetLastError()) + " required " + Number(required));
            DWORD type = 0;
            const BOOL read = SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type,
                                                                property.data(), size, nullptr);
            Line("hardware ID read " + id.substr(18),
                 Outcome(read, GetLastError()) + " type " + Number(type) + " " +
                     Escape(reinterpret_cast<const WCHAR*>(property.data()), size / sizeof(WCHAR)));
        }
    }
    Line("listed probe devices", listed);
    Line("SetupDiEnumDeviceInfo past the end",
         Try([&] { return SetupDiEnumDeviceInfo(set, index, &device); }));
    SP_DEVINFO_DATA wrongSize{};
    wrongSize.cbSize = sizeof(wrongSize) - 1;
    Line("SetupDiEnumDeviceInfo with a wrong size",
         Try([&] { return SetupDiEnumDeviceInfo(set, 0, &wrongSize); }));
    SetupDiDestroyDeviceInfoList(set);
}

// ---- Service manager -----------------------------------------------------------------

std::string StatusText(const SERVICE_STATUS& status) {
    return "state " + Number(status.dwCurrentState) + " type " + Hex(status.dwServiceType) + " accepted " +
           Number(status.dwControlsAccepted) + " exit " + Number(status.dwWin32ExitCode);
}

void ServiceFacts() {
    const WCHAR* const name = L"NoxelProbeService";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    Line("OpenSCManagerW all access", manager ? "ok" : "fail " + Number(GetLastError()));

    SetLastError(0xDEADBEEF);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    Line("OpenServiceW of a missing service", service ? "ok" : "fail " + Number(GetLastError()));

    const WCHAR* const path = L"\"C:\\Program Files\\Noxel Probe\\probe.exe\"";
    service = CreateServiceW(manager, name, L"Noxel Probe", SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, path, nullptr, nullptr, L"", nullptr, nullptr);
    Line("CreateServiceW", service ? "ok" : "fail " + Number(GetLastError()));
    SetLastError(0xDEADBEEF);
    SC_HANDLE again = CreateServiceW(manager, name, L"Noxel Probe", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     path, nullptr, nullptr, L"", nullptr, nullptr);
    Line("CreateServiceW of an existing service", again ? "ok" : "fail " + Number(GetLastError()));

    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    Line("QueryServiceStatus of a service never started", StatusText(status));
    SERVICE_STATUS stopStatus{};
    Line("ControlService stop of a stopped service",
         Try([&] { return ControlService(service, SERVICE_CONTROL_STOP, &stopStatus); }));
    Line("ControlService shutdown",
         Try([&] { return ControlService(service, SERVICE_CONTROL_SHUTDOWN, &stopStatus); }));

    SC_HANDLE queryOnly = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    Line("ControlService stop without stop access",
         Try([&] { return ControlService(queryOnly, SERVICE_CONTROL_STOP, &stopStatus); }));
    Line("StartServiceW without start access", Try([&] { return StartServiceW(queryOnly, 0, nullptr); }));
    Line("DeleteService without delete access", Try([&] { return DeleteService(queryOnly); }));

    std::vector<BYTE> config(8192);
    DWORD needed = 0;
    if (QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()),
                            static_cast<DWORD>(config.size()), &needed)) {
        const auto* c = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data());
        Line("QueryServiceConfigW", "type " + Hex(c->dwServiceType) + " start " + Number(c->dwStartType) +
                                        " error control " + Number(c->dwErrorControl) + " path " +
                                        Escape(c->lpBinaryPathName) + " account " +
                                        Escape(c->lpServiceStartName ? c->lpServiceStartName : L"(null)"));
    }

    Line("DeleteService", Try([&] { return DeleteService(service); }));
    Line("DeleteService again", Try([&] { return DeleteService(service); }));
    Line("QueryServiceStatus while marked for deletion",
         Try([&] { return QueryServiceStatus(service, &status); }));
    Line("StartServiceW while marked for deletion", Try([&] { return StartServiceW(service, 0, nullptr); }));
    SetLastError(0xDEADBEEF);
    SC_HANDLE reopened = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    Line("OpenServiceW while marked for deletion", reopened ? "ok" : "fail " + Number(GetLastError()));
    SetLastError(0xDEADBEEF);
    again = CreateServiceW(manager, name, L"Noxel Probe", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr, L"", nullptr,
                           nullptr);
    Line("CreateServiceW while marked for deletion", again ? "ok" : "fail " + Number(GetLastError()));
    if (again) CloseServiceHandle(again);
    if (reopened) CloseServiceHandle(reopened);
    CloseServiceHandle(queryOnly);
    CloseServiceHandle(service);
    SetLastError(0xDEADBEEF);
    service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    Line("OpenServiceW after the last handle closed", service ? "ok" : "fail " + Number(GetLastError()));
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);

    SetLastError(0xDEADBEEF);
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SetLastError(0xDEADBEEF);
    service = CreateServiceW(manager, name, L"Noxel Probe", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr, L"", nullptr,
                             nullptr);
    Line("CreateServiceW with connect access only", service ? "ok" : "fail " + Number(GetLastError()));
    if (service) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// ---- Module name and formatters ------------------------------------------------------

void ModuleAndFormatFacts() {
    WCHAR path[8];
    for (WCHAR& c : path) c = '#';
    SetLastError(0xDEADBEEF);
    const DWORD length = GetModuleFileNameW(nullptr, path, 5);
    Line("GetModuleFileNameW into 5 characters",
         Number(length) + " error " + Number(GetLastError()) + " text " + Escape(path, 6));

    WCHAR text[1100];
    wsprintfW(text, L"%s|%lu|%08lx|%02lu", L"ab", 7UL, 0x431UL, 3UL);
    Line("wsprintfW", Escape(text));
    std::vector<WCHAR> longText(1200, 'x');
    longText.back() = 0;
    std::vector<WCHAR> formatted(1300, 0);
    const int written = wsprintfW(formatted.data(), L"%s", longText.data());
    Line("wsprintfW of 1199 characters", Number(written) + " length " + Number(lstrlenW(formatted.data())));
    WCHAR small[5];
    const HRESULT result = StringCchPrintfW(small, 5, L"%s", L"abcdef");
    Line("StringCchPrintfW of 6 characters into 5",
         Hex(static_cast<unsigned long>(result)) + " " + Escape(small));
    const HRESULT exact = StringCchPrintfW(small, 5, L"%lu", 1234UL);
    Line("StringCchPrintfW of 4 characters into 5",
         Hex(static_cast<unsigned long>(exact)) + " " + Escape(small));
}

void Facts() {
    RegistryFacts();
    MessageFacts();
    FirmwareFacts();
    FileFacts();
    DeviceFacts();
    ServiceFacts();
    ModuleAndFormatFacts();
}

// ---- Registry values -----------------------------------------------------------------

int Values(const WCHAR* path) {
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
        Line("RegOpenKeyExW", Number(opened));
        return 1;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD nameLength = 256, type = 0, size = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameLength = 256;
        RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
        std::string bytes;
        for (BYTE b : data) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%02x", b);
            Append(bytes, ' ', hex);
        }
        Line(Escape(name), "type " + Number(type) + " size " + Number(size) + " bytes " + bytes);
    }
    RegCloseKey(key);
    return 0;
}

// ---- One service -----------------------------------------------------------------------

int Service(const WCHAR* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SetLastError(0xDEADBEEF);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (!service) {
        Line("OpenServiceW", "fail " + Number(GetLastError()));
    } else {
        SERVICE_STATUS status{};
        const std::string outcome = Try([&] { return QueryServiceStatus(service, &status); });
        Line("QueryServiceStatus", outcome + " " + StatusText(status));
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return 0;
}

// The service manager's own record of a service, as QueryServiceConfigW gives it.
int ServiceConfig(const WCHAR* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SetLastError(0xDEADBEEF);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    int status = 1;
    if (!service) {
        Line("OpenServiceW", "fail " + Number(GetLastError()));
    } else {
        DWORD size = 0;
        QueryServiceConfigW(service, nullptr, 0, &size);
        std::vector<BYTE> buffer(size ? size : 1);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        SetLastError(0xDEADBEEF);
        if (!QueryServiceConfigW(service, config, size, &size)) {
            Line("QueryServiceConfigW", "fail " + Number(GetLastError()));
        } else {
            // The dependencies are a list of strings ending in an empty one.
            std::string dependencies;
            for (const WCHAR* d = config->lpDependencies; d && *d; d += lstrlenW(d) + 1)
                Append(dependencies, '|', Escape(d));
            // Texts in brackets, so that a null one and one of quotes both show.
            const auto text = [](const WCHAR* value) { return value ? "[" + Escape(value) + "]" : "null"; };
            Line("type", Hex(config->dwServiceType));
            Line("start", Number(config->dwStartType));
            Line("error control", Number(config->dwErrorControl));
            Line("path", text(config->lpBinaryPathName));
            Line("group", text(config->lpLoadOrderGroup));
            Line("tag", Number(config->dwTagId));
            Line("dependencies", "[" + dependencies + "]");
            Line("account", text(config->lpServiceStartName));
            Line("display name", text(config->lpDisplayName));
            status = 0;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return status;
}

// ---- Version resource and manifest ----------------------------------------------------

std::string VersionText(DWORD high, DWORD low) {
    return Number(HIWORD(high)) + "." + Number(LOWORD(high)) + "." + Number(HIWORD(low)) + "." +
           Number(LOWORD(low));
}

int Version(const WCHAR* path) {
    DWORD ignored = 0;
    SetLastError(0xDEADBEEF);
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        Line("GetFileVersionInfoSizeW", "fail " + Number(GetLastError()));
        return 1;
    }
    std::vector<BYTE> info(size);
    SetLastError(0xDEADBEEF);
    if (!GetFileVersionInfoW(path, 0, size, info.data())) {
        Line("GetFileVersionInfoW", "fail " + Number(GetLastError()));
        return 1;
    }

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        Line("fixed signature", Hex(fixed->dwSignature));
        Line("fixed file version", VersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
        Line("fixed product version", VersionText(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
        Line("fixed file type", Number(fixed->dwFileType));
    } else {
        Line("fixed", "missing");
    }

    std::string translations;
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
        const auto* pairs = static_cast<const WORD*>(value);
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
            char pair[16];
            std::snprintf(pair, sizeof(pair), "%04x%04x", pairs[i], pairs[i + 1]);
            Append(translations, ' ', pair);
        }
    }
    Line("translations", translations);

    const WCHAR* const names[] = {L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",
                                  L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};
    for (const WCHAR* name : names) {
        WCHAR query[64];
        StringCchPrintfW(query, 64, L"\\StringFileInfo\\040904b0\\%s", name);
        const bool found = VerQueryValueW(info.data(), query, &value, &length) && length > 0;
        Line(Escape(name), found ? Escape(static_cast<const WCHAR*>(value)) : "missing");
    }

    // The manifest, loaded from the file as data: it is not this process's own.
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC manifest = module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
    if (!manifest) {
        Line("manifest 1", "missing");
    } else {
        const DWORD bytes = SizeofResource(module, manifest);
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        std::string escaped;
        for (DWORD i = 0; text && i < bytes; ++i) {
            if (text[i] == '\n')
                escaped += "\\n";
            else
                escaped += text[i];
        }
        Line("manifest 1", Number(bytes) + " bytes");
        Line("manifest text", escaped);
    }
    if (module) FreeLibrary(module);
    return 0;
}

// ---- The test build's firmware directory -------------------------------------------

// Holds the directory reader to GetFirmwareEnvironmentVariableW's contract, against the
// variables that firmware.sh leaves: CALIBRATE (e8 03 2c 01) and no ALR_CURVE.
void FirmwareDirectoryFacts() {
    const WCHAR* const guid = L"{BF82486A-80F7-4733-B82C-066BD8F2534B}";
    const auto read = [](const char* label, const WCHAR* name, const WCHAR* vendor, DWORD size) {
        BYTE buffer[8];
        for (BYTE& b : buffer) b = 0xEE;
        SetLastError(0xDEADBEEF);
        const DWORD bytes = FirmwareDirectoryVariableW(name, vendor, buffer, size);
        const DWORD error = GetLastError();
        std::string shown;
        for (BYTE b : buffer) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%02x", b);
            Append(shown, ' ', hex);
        }
        Line(label, Number(bytes) + " error " + Number(error) + " buffer " + shown);
    };
    read("without the privilege", L"CALIBRATE", guid, 8);

    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, L"SeSystemEnvironmentPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);

    read("exact fit", L"CALIBRATE", guid, 4);
    read("larger buffer", L"CALIBRATE", guid, 8);
    read("buffer too small", L"CALIBRATE", guid, 3);
    read("missing variable", L"ALR_CURVE", guid, 8);
    read("name in another case", L"calibrate", guid, 8);
    read("vendor in lower case", L"CALIBRATE", L"{bf82486a-80f7-4733-b82c-066bd8f2534b}", 8);
    read("vendor without braces", L"CALIBRATE", L"BF82486A-80F7-4733-B82C-066BD8F2534B", 8);
    read("another vendor", L"CALIBRATE", L"{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}", 8);
}

}  // namespace

int wmain(int argc, WCHAR* argv[]) {
    int status = 0;
    if (argc == 2 && lstrcmpW(argv[1], L"facts") == 0) {
        Facts();
    } else if (argc == 3 && lstrcmpW(argv[1], L"values") == 0) {
        status = Values(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"service") == 0) {
        status = Service(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"config") == 0) {
        status = ServiceConfig(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"version") == 0) {
        status = Version(argv[2]);
    } else if (argc == 2 && lstrcmpW(argv[1], L"firmware-directory") == 0) {
        FirmwareDirectoryFacts();
    } else if (argc == 2 && lstrcmpW(argv[1], L"devices") == 0) {
        Devices();
    } else {
        output =
            "usage: probe facts | values KEY | devices | service NAME | config NAME | version FILE | "
            "firmware-directory\n";
        status = 2;
    }
    Flush();
    return status;
}
