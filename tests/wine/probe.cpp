// The Wine scripts' helper, which asks the platform what the service and its packages
// left behind: "service NAME" prints how the service manager answers OpenServiceW and
// QueryServiceStatus, "config NAME" its QueryServiceConfigW and description, "services"
// every service with whether it is stopped; "version FILE" reads an executable's
// version resource and manifest back; "render FILE TEXT..." renders each text as Event
// Viewer renders an entry of the service, through FILE's message table. For the driver
// package: "check INF", "lines INF SECTION", "install-services INF SECTION" (see Inf).
// What the platform answers to the service's own calls is the conformance program's
// business (tests/conformance/).
#include <windows.h>
#include <setupapi.h>
#include <strsafe.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/emulation/state_names.h"

namespace {

// Preset as the last error, so that a call that sets none shows.
constexpr DWORD sentinelError = 0xDEADBEEF;

// Written at the end with WriteFile: the C runtime's text mode would double a "\r".
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

std::string Escape(const std::wstring& text) { return Escape(text.c_str(), text.size()); }

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
void Print(const std::string& text) { output += text + "\n"; }

std::string Failed(DWORD error) { return "fail " + Number(error); }

// ---- Services --------------------------------------------------------------------------

int Service(const WCHAR* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SetLastError(sentinelError);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (!service) {
        Line("OpenServiceW", Failed(GetLastError()));
    } else {
        SERVICE_STATUS status{};
        SetLastError(sentinelError);
        const std::string outcome = QueryServiceStatus(service, &status) ? "ok" : Failed(GetLastError());
        Line("QueryServiceStatus", outcome + " state " + emu::StateName(status.dwCurrentState) + " type " +
                                       Hex(status.dwServiceType) + " accepted " +
                                       Number(status.dwControlsAccepted) + " exit " +
                                       Number(status.dwWin32ExitCode));
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
        Line("OpenServiceW", Failed(GetLastError()));
    } else {
        DWORD size = 0;
        QueryServiceConfigW(service, nullptr, 0, &size);
        std::vector<BYTE> buffer(size ? size : 1);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        SetLastError(sentinelError);
        if (!QueryServiceConfigW(service, config, size, &size)) {
            Line("QueryServiceConfigW", Failed(GetLastError()));
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
                     : Failed(GetLastError()));
            status = 0;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return status;
}

int Services() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    std::vector<BYTE> buffer(256 * 1024);
    DWORD needed = 0, count = 0;
    if (!EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed, &count, nullptr, nullptr)) {
        Print(Failed(GetLastError()));
        return 1;
    }
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        Print(Escape(services[i].lpServiceName) +
              (services[i].ServiceStatusProcess.dwCurrentState == SERVICE_STOPPED ? " stopped"
                                                                                  : " not stopped"));
    CloseServiceHandle(manager);
    return 0;
}

// ---- Message table ---------------------------------------------------------------------

// An entry's text as Event Viewer shows it: message 0 of the file's message table, with
// the entry's two strings, the service name and the text.
int Render(const WCHAR* path, WCHAR** texts, int count) {
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        Line("LoadLibraryExW", Failed(GetLastError()));
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
        Line(Escape(texts[i]), length ? "[" + Escape(rendered, length) + "]" : Failed(GetLastError()));
    }
    FreeLibrary(module);
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
    std::vector<BYTE> info(size);
    if (size == 0 || !GetFileVersionInfoW(path, 0, size, info.data())) {
        Line("GetFileVersionInfoW", Failed(GetLastError()));
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
    if (manifest) {
        const DWORD bytes = SizeofResource(module, manifest);
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        std::string oneLine;
        for (DWORD i = 0; text && i < bytes; ++i) oneLine += text[i] == '\n' ? ' ' : text[i];
        Line("manifest 1", oneLine);
    }
    if (module) FreeLibrary(module);
    return 0;
}

// ---- The driver package's INFs --------------------------------------------------------

std::wstring Field(INFCONTEXT& line, DWORD index) {
    WCHAR text[1024];
    return SetupGetStringFieldW(&line, index, text, 1024, nullptr) ? text : L"";
}

// "check": whether the INF opens as a Windows 4 style INF; "lines": a section's lines as
// "field, field, ...", with "key = " before them when the line has one;
// "install-services": SetupInstallServicesFromInfSectionW on a section.
int Inf(const WCHAR* command, const WCHAR* path, const WCHAR* section) {
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(path, nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        Line("SetupOpenInfFileW", Failed(GetLastError()) + ", line " + Number(errorLine));
        return 1;
    }
    int status = 0;
    INFCONTEXT line;
    if (!section) {
        Print("ok");
    } else if (lstrcmpW(command, L"lines") == 0) {
        for (BOOL found = SetupFindFirstLineW(inf, section, nullptr, &line); found;
             found = SetupFindNextLine(&line, &line)) {
            std::wstring text = Field(line, 0).empty() ? L"" : Field(line, 0) + L" = ";
            for (DWORD i = 1; i <= SetupGetFieldCount(&line); ++i)
                text += (i > 1 ? L", " : L"") + Field(line, i);
            Print(Escape(text));
        }
    } else if (SetupInstallServicesFromInfSectionW(inf, section, 0)) {
        Print("ok");
    } else {
        Print(Failed(GetLastError()));
        status = 1;
    }
    SetupCloseInfFile(inf);
    return status;
}

}  // namespace

int wmain(int argc, WCHAR* argv[]) {
    const auto is = [&](const WCHAR* command, int arguments) {
        return argc == arguments + 2 && lstrcmpW(argv[1], command) == 0;
    };
    int status = 0;
    if (is(L"service", 1)) {
        status = Service(argv[2]);
    } else if (is(L"config", 1)) {
        status = ServiceConfig(argv[2]);
    } else if (is(L"services", 0)) {
        status = Services();
    } else if (is(L"version", 1)) {
        status = Version(argv[2]);
    } else if (argc >= 3 && lstrcmpW(argv[1], L"render") == 0) {
        status = Render(argv[2], argv + 3, argc - 3);
    } else if (is(L"check", 1)) {
        status = Inf(argv[1], argv[2], nullptr);
    } else if (is(L"lines", 2) || is(L"install-services", 2)) {
        status = Inf(argv[1], argv[2], argv[3]);
    } else {
        output =
            "usage: probe service NAME | config NAME | services | version FILE | "
            "render FILE TEXT... | check INF | lines INF SECTION | install-services INF SECTION\n";
        status = 2;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()), &written,
              nullptr);
    return status;
}
