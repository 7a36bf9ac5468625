// The conformance program: one source that asks the platform the questions on which the
// service depends, built against platform/*.h for the host (the emulation answers) and
// for Windows (Wine answers). Both runs are held to expectations.txt.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/firmware.h"
#include "platform/handles.h"
#include "platform/messages.h"
#include "platform/strings.h"

namespace conformance {

struct Answers {
    struct Entry {
        std::string group, question, answer;
    };
    std::string group;
    std::vector<Entry> entries;
    void Add(const std::string& question, const std::string& answer) {
        entries.push_back({group, question, answer});
    }
};

// Preset as the last error before a call, so that a call that sets none shows.
constexpr DWORD unsetError = 0xDEADBEEF;

// Wide text as printable ASCII: \r, \n, \\ and \uXXXX for anything else.
std::string Escape(const std::basic_string<WCHAR>& text);
std::string Number(unsigned long value);
std::string Hex(unsigned long value);                   // 0x%08lx
std::string HexBytes(const BYTE* bytes, size_t count);  // "e8 03 2c 01"
// A BOOL call, or whether a handle came back, as "ok" or "fail <last error>".
std::string Outcome(BOOL succeeded);

// A privilege enabled as the service enables its own: "ok last error N", or the failure.
std::string Enabling(const WCHAR* privilege);

template <typename Call>
std::string Try(Call call) {
    SetLastError(unsetError);
    return Outcome(call());
}

template <typename Handle, typename Open>
std::string Keep(Handle& kept, Open open) {
    SetLastError(unsetError);
    kept.reset(open());
    return Outcome(static_cast<bool>(kept));
}

// The groups, each in the file of its name; firmware.cpp asks messages and devices too.
void RegistryQuestions(Answers& answers);
void FirmwareQuestions(Answers& answers);
void MessageQuestions(Answers& answers);
void DeviceQuestions(Answers& answers);
void ServiceQuestions(Answers& answers);
void PrivilegeQuestions(Answers& answers);
// The program run by the service manager as the scratch service (privileges.cpp).
int ServiceMode();

// What the program makes and takes away again; conformance.cpp checks that nothing is left.
extern const WCHAR* const scratchKey;      // below HKEY_LOCAL_MACHINE, made by the registry questions
extern const WCHAR* const scratchService;  // created by the service and privilege questions
extern const WCHAR* const scratchFile;     // the scratch service's findings (privileges.cpp)

// A service's SERVICE_CONFIG_DESCRIPTION, SERVICE_CONFIG_FAILURE_ACTIONS or
// SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO as the service manager keeps it; "none" when
// it has none (services.cpp).
std::string StoredSetting(const WCHAR* service, DWORD level);

// Beyond the operations the service calls: once for the emulated machine, through its
// control surface (machine_emulated.cpp), and once for Windows (machine_windows.cpp).
// Sets the machine up as tests/wine/conformance.sh sets Wine up (true), or nothing (false).
bool PrepareMachine();
// The type and bytes of a value below HKEY_LOCAL_MACHINE, or "missing".
std::string StoredValue(const WCHAR* keyPath, const WCHAR* valueName);
// The names of the privileges this process's token holds.
std::set<std::string> TokenPrivilegeNames();
// StartServiceW; on the emulated machine, which starts no process, the service mode then
// runs here as the started process would.
BOOL StartScratchService(SC_HANDLE service);
// The scratch file's bytes, as text; "" when there is none.
std::string ScratchFileText();

// The program, given its arguments without its own name; the exit code.
int Run(const std::vector<std::string>& arguments);

}  // namespace conformance
