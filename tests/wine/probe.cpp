// The Wine scripts' helper, which reads back what no tool of Wine shows (the commands are
// in its usage text, at the end). What the platform answers to the service's own calls
// is the conformance program's business (tests/conformance/). It exits after one command,
// which closes whatever the command opened.
#include <windows.h>
#include <setupapi.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Preset as the last error, so that a call that sets none shows.
constexpr DWORD sentinelError = 0xDEADBEEF;

// Line breaks shown as "\r" and "\n", anything beyond printable ASCII as "?".
std::string Escape(std::wstring_view text) {
    std::string escaped;
    for (const WCHAR c : text) {
        if (c == '\r' || c == '\n')
            escaped.append(1, '\\').append(1, c == '\r' ? 'r' : 'n');
        else
            escaped += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return escaped;
}

// Escape keeps "\r" out of the output, which the C runtime's text mode would double.
void Print(const std::string& text) { std::printf("%s\n", text.c_str()); }
void Line(const std::string& key, const std::string& value) { Print(key + " = " + value); }

std::string Failed(DWORD error) { return "fail " + std::to_string(error); }

// An entry's text as Event Viewer shows it: message 0 of the file's message table, with
// the entry's two strings, the service name and the text.
int Render(const WCHAR* path, WCHAR** texts, int count) {
    // Without the file, every text fails: the probe has no message table of its own.
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    int status = 0;
    for (int i = 0; i < count; ++i) {
        const WCHAR* strings[2] = {L"Noxel_ALS_Service", texts[i]};
        WCHAR rendered[512];
        SetLastError(sentinelError);
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0, 0,
                           rendered, 512, reinterpret_cast<va_list*>(const_cast<WCHAR**>(strings)));
        if (length == 0) status = 1;
        Line(Escape(texts[i]), length ? "[" + Escape({rendered, length}) + "]" : Failed(GetLastError()));
    }
    return status;
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
        const auto* f = static_cast<const VS_FIXEDFILEINFO*>(value);
        char fixed[96];
        std::snprintf(fixed, sizeof(fixed), "0x%08lx %d.%d.%d.%d %d.%d.%d.%d %lu", f->dwSignature,
                      HIWORD(f->dwFileVersionMS), LOWORD(f->dwFileVersionMS), HIWORD(f->dwFileVersionLS),
                      LOWORD(f->dwFileVersionLS), HIWORD(f->dwProductVersionMS),
                      LOWORD(f->dwProductVersionMS), HIWORD(f->dwProductVersionLS),
                      LOWORD(f->dwProductVersionLS), f->dwFileType);
        Line("fixed", fixed);
    }

    // The one language and code page, which the strings' block must name.
    char translation[32] = "none";
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) && length == 4)
        std::snprintf(translation, sizeof(translation), "%04x%04x", static_cast<const WORD*>(value)[0],
                      static_cast<const WORD*>(value)[1]);
    Line("translations", translation);

    const WCHAR* const names[] = {L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",
                                  L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};
    for (const WCHAR* name : names) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        const bool found = VerQueryValueW(info.data(), query.c_str(), &value, &length) && length > 0;
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
    return 0;
}

// "inf INF": whether the INF opens as a Windows 4 style INF; "inf INF SECTION KEY": the
// first field of KEY's line in SECTION, as setupapi resolves its strings and directory
// IDs; "inf INF SECTION": SetupInstallServicesFromInfSectionW on SECTION.
int Inf(int argc, WCHAR* argv[]) {
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(argv[0], nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        Line("SetupOpenInfFileW", Failed(GetLastError()) + ", line " + std::to_string(errorLine));
        return 1;
    }
    INFCONTEXT line;
    WCHAR field[1024];
    bool ok = true;
    if (argc == 3) {
        ok = SetupFindFirstLineW(inf, argv[1], argv[2], &line) &&
             SetupGetStringFieldW(&line, 1, field, 1024, nullptr);
        Print(ok ? Escape(field) : Failed(GetLastError()));
    } else {
        ok = argc == 1 || SetupInstallServicesFromInfSectionW(inf, argv[1], 0);
        Print(ok ? "ok" : Failed(GetLastError()));
    }
    return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, WCHAR* argv[]) {
    const std::wstring command = argc > 2 ? argv[1] : L"";
    if (command == L"version" && argc == 3) return Version(argv[2]);
    if (command == L"render") return Render(argv[2], argv + 3, argc - 3);
    if (command == L"inf" && argc <= 5) return Inf(argc - 2, argv + 2);
    Print("usage: probe version FILE | render FILE TEXT... | inf INF [SECTION [KEY]]");
    return 2;
}
