// The driver package test's helper, which asks Wine's setupapi and service manager:
// "check INF" opens an INF as a Windows 4 style INF and follows every section that a
// directive names, from [Manufacturer] down, printing each one missing, each section
// nothing names, each string token left unresolved and a DefaultInstall section, or "ok";
// "lines INF SECTION" prints a section's lines as setupapi resolves them;
// "install-services INF SECTION" runs SetupInstallServicesFromInfSectionW; "service NAME"
// prints a service's configuration and description; "services" lists every service
// with its state.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(bytes > 0 ? bytes - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

std::wstring Lower(std::wstring text) {
    CharLowerW(text.data());
    return text;
}

std::wstring Field(INFCONTEXT& line, DWORD index) {
    WCHAR text[1024];
    return SetupGetStringFieldW(&line, index, text, 1024, nullptr) ? text : L"";
}

// Each line of `section` (with `key`, when one is given).
template <typename Visit>
void ForEachLine(HINF inf, const std::wstring& section, const WCHAR* key, Visit visit) {
    INFCONTEXT line;
    for (BOOL found = SetupFindFirstLineW(inf, section.c_str(), key, &line); found;
         found = key ? SetupFindNextMatchLineW(&line, key, &line) : SetupFindNextLine(&line, &line))
        visit(line);
}

bool Exists(HINF inf, const std::wstring& section) { return SetupGetLineCountW(inf, section.c_str()) >= 0; }

// Wine's SetupFindFirstLineW needs a context to write to, even when only the finding counts.
bool HasLine(HINF inf, const WCHAR* section, const std::wstring& key, INFCONTEXT* line = nullptr) {
    INFCONTEXT ignored;
    return SetupFindFirstLineW(inf, section, key.c_str(), line ? line : &ignored);
}

class Checker {
public:
    explicit Checker(HINF inf) : inf_(inf) {}

    std::set<std::string> Run() {
        for (const WCHAR* fixed : {L"Version", L"Manufacturer", L"Strings"}) Named(fixed, L"(every INF)");
        for (const WCHAR* fixed : {L"SourceDisksNames", L"SourceDisksFiles", L"DestinationDirs"})
            named_.insert(Lower(fixed));
        ForEachLine(inf_, L"Manufacturer", nullptr, [&](INFCONTEXT& line) {
            const std::wstring models = Field(line, 1);
            const DWORD count = SetupGetFieldCount(&line);
            for (DWORD i = 2; i <= count; ++i) Models(models + L"." + Field(line, i));
            if (count < 2) Models(models);
        });
        ForEachLine(inf_, L"DestinationDirs", nullptr, [&](INFCONTEXT& line) {
            if (Lower(Field(line, 0)) != L"defaultdestdir") Named(Field(line, 0), L"DestinationDirs");
        });
        if (Exists(inf_, L"DefaultInstall")) problems_.insert("DefaultInstall: present");
        WCHAR section[256];
        for (UINT i = 0; SetupEnumInfSectionsW(inf_, i, section, 256, nullptr); ++i) {
            if (!named_.count(Lower(section))) problems_.insert("unnamed: [" + Narrow(section) + "]");
            ForEachLine(inf_, section, nullptr, [&](INFCONTEXT& line) {
                for (DWORD f = 0; f <= SetupGetFieldCount(&line); ++f)
                    if (Field(line, f).find(L'%') != std::wstring::npos)
                        problems_.insert("unresolved: [" + Narrow(section) + "] " + Narrow(Field(line, f)));
            });
        }
        return problems_;
    }

private:
    bool Named(const std::wstring& section, const std::wstring& by) {
        named_.insert(Lower(section));
        if (Exists(inf_, section)) return true;
        problems_.insert("missing: [" + Narrow(section) + "] named by [" + Narrow(by) + "]");
        return false;
    }

    // Every field of every `key` line of `section`, as the sections they name.
    void NamedBy(const std::wstring& section, const WCHAR* key, DWORD first, DWORD last) {
        ForEachLine(inf_, section, key, [&](INFCONTEXT& line) {
            for (DWORD i = first; i <= last && i <= SetupGetFieldCount(&line); ++i) {
                const std::wstring name = Field(line, i);
                if (name.empty() || name[0] == L'@') continue;  // @file: one file, no section
                if (!Named(name, section)) continue;
                if (lstrcmpiW(key, L"CopyFiles") == 0) Files(name);
                if (lstrcmpiW(key, L"AddService") == 0)  // the service's, then the event log's
                    for (const WCHAR* inner : {L"AddReg", L"DelReg", L"BitReg", L"AddTrigger"})
                        NamedBy(name, inner, 1, MAXDWORD);
            }
        });
    }

    void Models(const std::wstring& models) {
        if (!Named(models, L"Manufacturer")) return;
        ForEachLine(inf_, models, nullptr, [&](INFCONTEXT& line) {
            WCHAR actual[256];
            if (!SetupDiGetActualSectionToInstallW(inf_, Field(line, 1).c_str(), actual, 256, nullptr,
                                                   nullptr) ||
                !Named(actual, models))
                return;
            Install(actual);
            for (const WCHAR* suffix : {L".Services", L".Components", L".HW", L".Software"}) {
                const std::wstring part = actual + std::wstring(suffix);
                if (Exists(inf_, part) && Named(part, actual)) Install(part);
            }
        });
    }

    void Install(const std::wstring& section) {
        for (const WCHAR* key : {L"CopyFiles", L"AddReg", L"DelReg", L"BitReg"})
            NamedBy(section, key, 1, MAXDWORD);
        NamedBy(section, L"AddService", 3, 4);
        NamedBy(section, L"AddComponent", 3, 3);
        NamedBy(section, L"AddSoftware", 3, 3);
    }

    // A copy list's files come from a source disk, and the list has a destination.
    void Files(const std::wstring& list) {
        if (!HasLine(inf_, L"DestinationDirs", list) && !HasLine(inf_, L"DestinationDirs", L"DefaultDestDir"))
            problems_.insert("no destination: [" + Narrow(list) + "]");
        ForEachLine(inf_, list, nullptr, [&](INFCONTEXT& line) {
            INFCONTEXT source;
            const std::wstring file = Field(line, 1);
            if (!HasLine(inf_, L"SourceDisksFiles", file, &source))
                problems_.insert("no source: " + Narrow(file));
            else if (!HasLine(inf_, L"SourceDisksNames", Field(source, 1)))
                problems_.insert("no source disk: " + Narrow(file));
        });
    }

    HINF inf_;
    std::set<std::wstring> named_;
    std::set<std::string> problems_;  // each once, though a section is named many times
};

int Check(HINF inf, const WCHAR* path) {
    std::vector<BYTE> buffer(4096);
    auto* information = reinterpret_cast<SP_INF_INFORMATION*>(buffer.data());
    if (!SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, information, 4096, nullptr) ||
        information->InfStyle != INF_STYLE_WIN4) {
        std::printf("%s: not a Windows 4 style INF\n", Narrow(path).c_str());
        return 1;
    }
    const std::set<std::string> problems = Checker(inf).Run();
    for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
    if (problems.empty()) std::printf("ok\n");
    return problems.empty() ? 0 : 1;
}

// The lines as "field, field, ...", with "key = " before them when the line has one.
int Lines(HINF inf, const WCHAR* section) {
    ForEachLine(inf, section, nullptr, [&](INFCONTEXT& line) {
        std::wstring text = Field(line, 0).empty() ? L"" : Field(line, 0) + L" = ";
        for (DWORD i = 1; i <= SetupGetFieldCount(&line); ++i) text += (i > 1 ? L", " : L"") + Field(line, i);
        std::printf("%s\n", Narrow(text).c_str());
    });
    return 0;
}

int Service(const WCHAR* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    std::vector<BYTE> config(8192), description(8192);
    DWORD needed = 0;
    const bool read =
        service &&
        QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()), 8192,
                            &needed) &&
        QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, description.data(), 8192, &needed);
    if (!read) {
        std::printf("fail %lu\n", GetLastError());
    } else {
        const auto* c = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data());
        const auto* d = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description.data());
        std::printf("type = 0x%08lx\nstart = %lu\nerror control = %lu\npath = %s\naccount = %s\n",
                    c->dwServiceType, c->dwStartType, c->dwErrorControl, Narrow(c->lpBinaryPathName).c_str(),
                    Narrow(c->lpServiceStartName).c_str());
        std::printf("display name = %s\ndescription = %s\n", Narrow(c->lpDisplayName).c_str(),
                    Narrow(d->lpDescription ? d->lpDescription : L"(none)").c_str());
    }
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return read ? 0 : 1;
}

int Services() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    std::vector<BYTE> buffer(256 * 1024);
    DWORD needed = 0, count = 0;
    if (!EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed, &count, nullptr, nullptr)) {
        std::printf("fail %lu\n", GetLastError());
        return 1;
    }
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf(
            "%s %s\n", Narrow(services[i].lpServiceName).c_str(),
            services[i].ServiceStatusProcess.dwCurrentState == SERVICE_STOPPED ? "stopped" : "not stopped");
    CloseServiceHandle(manager);
    return 0;
}

}  // namespace

int wmain(int argc, WCHAR* argv[]) {
    if (argc == 2 && lstrcmpW(argv[1], L"services") == 0) return Services();
    if (argc == 3 && lstrcmpW(argv[1], L"service") == 0) return Service(argv[2]);
    const bool check = argc == 3 && lstrcmpW(argv[1], L"check") == 0;
    const bool lines = argc == 4 && lstrcmpW(argv[1], L"lines") == 0;
    const bool install = argc == 4 && lstrcmpW(argv[1], L"install-services") == 0;
    if (!check && !lines && !install) {
        std::printf(
            "usage: inf_probe check INF | lines INF SECTION | install-services INF SECTION | "
            "service NAME | services\n");
        return 2;
    }
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(argv[2], nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        std::printf("SetupOpenInfFileW: fail %lu, line %u\n", GetLastError(), errorLine);
        return 1;
    }
    int status = 0;
    if (check) {
        status = Check(inf, argv[2]);
    } else if (lines) {
        status = Lines(inf, argv[3]);
    } else if (SetupInstallServicesFromInfSectionW(inf, argv[3], 0)) {
        std::printf("ok\n");
    } else {
        std::printf("fail %lu\n", GetLastError());
        status = 1;
    }
    SetupCloseInfFile(inf);
    return status;
}
