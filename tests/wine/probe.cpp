// The Wine scripts' helper, which looks at what the service left behind: "values KEY"
// prints the values of a key below HKEY_LOCAL_MACHINE with their types and bytes;
// "devices" prints the instance and first hardware ID of every device that setupapi
// lists as present; "service NAME" prints how the service manager answers OpenServiceW
// and QueryServiceStatus for a service, and "config NAME" its QueryServiceConfigW;
// "version FILE" reads an executable's version resource and manifest back; "message
// CODE" prints the system's text for an error code; "render FILE TEXT..." renders each
// text as Event Viewer renders an entry of the service, through the message table of
// FILE, loaded as data. What the
// platform answers to the service's own calls is the conformance program's business
// (tests/conformance/).
#include <windows.h>
#include <setupapi.h>
#include <strsafe.h>
#include <winver.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/emulation/state_names.h"

namespace {

// Preset as the last error, so that a call that sets none shows.
constexpr DWORD sentinelError = 0xDEADBEEF;

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
    SetLastError(sentinelError);
    const BOOL succeeded = call();
    return Outcome(succeeded, GetLastError());
}

void Flush() {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()), &written,
              nullptr);
    output.clear();
}

// ---- Devices -------------------------------------------------------------------------

std::vector<BYTE> HardwareIdProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD& error) {
    DWORD size = 0;
    SetLastError(sentinelError);
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
std::string StatusText(const SERVICE_STATUS& status) {
    return std::string("state ") + emu::StateName(status.dwCurrentState) + " type " +
           Hex(status.dwServiceType) + " accepted " + Number(status.dwControlsAccepted) + " exit " +
           Number(status.dwWin32ExitCode);
}

// ---- Message text ----------------------------------------------------------------------

// The system's text for an error code, as the service asks for it, in UTF-8 and nothing
// else, so that a script can expect exactly it in what the service wrote.
int Message(const WCHAR* codeText) {
    const DWORD code = wcstoul(codeText, nullptr, 10);
    WCHAR* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        code, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr);
    if (length == 0) return 1;
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(), bytes, nullptr, nullptr);
    LocalFree(text);
    output += narrow;
    return 0;
}

// An entry's text as Event Viewer shows it: message 0 of the file's message table, with
// the entry's two strings, the service name and the text.
int Render(const WCHAR* path, WCHAR** texts, int count) {
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        Line("LoadLibraryExW", "fail " + Number(GetLastError()));
        return 1;
    }
    int status = 0;
    for (int i = 0; i < count; ++i) {
        const WCHAR* strings[2] = {L"Noxel_ALS_Service", texts[i]};
        WCHAR rendered[512];
        SetLastError(sentinelError);
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0, 0,
                           rendered, 512, reinterpret_cast<va_list*>(const_cast<WCHAR**>(strings)));
        if (length == 0) status = 1;
        Line(Escape(texts[i]),
             length ? "[" + Escape(rendered, length) + "]" : "fail " + Number(GetLastError()));
    }
    FreeLibrary(module);
    return status;
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
    SetLastError(sentinelError);
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
    SetLastError(sentinelError);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    int status = 1;
    if (!service) {
        Line("OpenServiceW", "fail " + Number(GetLastError()));
    } else {
        DWORD size = 0;
        QueryServiceConfigW(service, nullptr, 0, &size);
        std::vector<BYTE> buffer(size ? size : 1);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        SetLastError(sentinelError);
        if (!QueryServiceConfigW(service, config, size, &size)) {
            Line("QueryServiceConfigW", "fail " + Number(GetLastError()));
        } else {
            // The dependencies are a list of strings ending in an empty one.
            std::string dependencies;
            for (const WCHAR* d = config->lpDependencies; d && *d; d += lstrlenW(d) + 1)
                Append(dependencies, '|', Escape(d));
            // Texts in brackets, so that a null one and one of quotes both show.
            // Appended piece by piece: GCC 12 at -O3 takes "[" + text for an overlapping copy.
            const auto text = [](const WCHAR* value) {
                if (!value) return std::string("null");
                std::string bracketed(1, '[');
                bracketed.append(Escape(value)).append(1, ']');
                return bracketed;
            };
            Line("type", Hex(config->dwServiceType));
            Line("start", Number(config->dwStartType));
            Line("error control", Number(config->dwErrorControl));
            Line("path", text(config->lpBinaryPathName));
            Line("group", text(config->lpLoadOrderGroup));
            Line("tag", Number(config->dwTagId));
            Line("dependencies", "[" + dependencies + "]");
            Line("account", text(config->lpServiceStartName));
            Line("display name", text(config->lpDisplayName));
            QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &size);
            std::vector<BYTE> described(size ? size : 1);
            SetLastError(sentinelError);
            Line("description",
                 QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, described.data(), size, &size)
                     ? text(reinterpret_cast<SERVICE_DESCRIPTIONW*>(described.data())->lpDescription)
                     : "fail " + Number(GetLastError()));
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
    SetLastError(sentinelError);
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        Line("GetFileVersionInfoSizeW", "fail " + Number(GetLastError()));
        return 1;
    }
    std::vector<BYTE> info(size);
    SetLastError(sentinelError);
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

}  // namespace

int wmain(int argc, WCHAR* argv[]) {
    int status = 0;
    if (argc == 3 && lstrcmpW(argv[1], L"values") == 0) {
        status = Values(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"service") == 0) {
        status = Service(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"config") == 0) {
        status = ServiceConfig(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"version") == 0) {
        status = Version(argv[2]);
    } else if (argc == 3 && lstrcmpW(argv[1], L"message") == 0) {
        status = Message(argv[2]);
    } else if (argc >= 3 && lstrcmpW(argv[1], L"render") == 0) {
        status = Render(argv[2], argv + 3, argc - 3);
    } else if (argc == 2 && lstrcmpW(argv[1], L"devices") == 0) {
        Devices();
    } else {
        output =
            "usage: probe values KEY | devices | service NAME | config NAME | version FILE | message CODE | "
            "render FILE TEXT...\n";
        status = 2;
    }
    Flush();
    return status;
}
