// Control surface of the emulated machine, for tests and the simulator. Service code
// never includes this header: it sees the machine only through the Win32 operations.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/operations.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/service_control.h"

namespace emu {

using String = std::u16string;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// UTF-8 <-> UTF-16, for tests and tools.
String Wide(std::string_view utf8);
std::string Narrow(std::u16string_view wide);

// A fresh machine: no firmware variables, no devices, an empty registry under
// HKEY_LOCAL_MACHINE, no services, a virtual clock in auto-advance mode, a new file
// root with C:\Windows\System32, an administrator at the console, UEFI present.
void Reset();

// ---- Fault injection -------------------------------------------------------------
// The operations are those of operations.h; by name, an operation is its Win32 name
// ("RegSetValueExW"), and an unknown name throws std::invalid_argument. Calls are
// counted per operation. FailCall fails the nth call from now (1 = the next one) and
// the `times` calls after it (times 0: every call from then on).
std::optional<Operation> FindOperation(std::string_view name);
void FailCall(Operation operation, DWORD error, unsigned nth = 1, unsigned times = 1);
void FailCall(const std::string& operation, DWORD error, unsigned nth = 1, unsigned times = 1);
// Fails every call whose string arguments (names, paths) include `argument`,
// compared without case.
void FailCallsWith(const std::string& operation, const String& argument, DWORD error);
unsigned CallCount(Operation operation);
bool IsKnownOperation(const std::string& operation);

// ---- Handles ---------------------------------------------------------------------
size_t OpenHandleCount();
std::vector<std::string> OpenHandleKinds();

// ---- Clock -----------------------------------------------------------------------
// Real: Sleep sleeps, local time is the host's. Manual: sleepers wake only when a
// test advances the clock. AutoAdvance: a Sleep moves the clock on by its length at
// once.
enum class ClockMode { Real, Manual, AutoAdvance };
void SetClockMode(ClockMode mode);
uint64_t NowMs();
void AdvanceClock(uint64_t milliseconds);
// When the earliest sleeper wakes, if any thread sleeps on the virtual clock.
std::optional<uint64_t> NextWakeMs();
void AdvanceClockTo(uint64_t milliseconds);
// Counts the calling thread among the service process's own while it lives: the
// thread that runs wmain. Pool threads and the service-main thread count themselves.
class ProcessThread {
public:
    ProcessThread();
    ~ProcessThread();
    ProcessThread(const ProcessThread&) = delete;
    ProcessThread& operator=(const ProcessThread&) = delete;
};
// Waits until every thread of the service process is blocked on something only the
// outside can bring (a control, the clock), or none is left; false on the timeout.
bool WaitForIdle(std::chrono::milliseconds timeout = 5s);
// Local time at clock 0 (virtual modes).
void SetLocalTimeBase(const SYSTEMTIME& time);

// ---- Service side ----------------------------------------------------------------
// A process started so connects its dispatcher; the token is then the one the service
// manager made from the service's privilege list, as that service is registered.
void SetStartedByServiceManager(bool started);
// Queues a control for the dispatcher's thread; returns at once.
void SendControl(DWORD control);
struct StatusReport {
    SERVICE_STATUS status;
    uint64_t timeMs;
};
std::vector<StatusReport> StatusReports();
// Waits until `count` reports with `state` have been made.
bool WaitForStatus(DWORD state, size_t count = 1, std::chrono::milliseconds timeout = 5s);

// ---- Event log -------------------------------------------------------------------
struct EventEntry {
    String source;
    WORD type;
    WORD category;
    DWORD id;
    std::vector<String> strings;
    uint64_t timeMs;
};
std::vector<EventEntry> Events();
void SetEventLogAvailable(bool available);

// ---- Firmware --------------------------------------------------------------------
void SetUefiPresent(bool present);
// Whether the account holds SeSystemEnvironmentPrivilege, so that it can be enabled.
void SetPrivilegeHeld(bool held);
bool PrivilegeEnabled();
// The names of the privileges the process token holds, in LUID order: LocalSystem's,
// or those the service manager left from a service's privilege list at its start.
std::vector<String> TokenPrivileges();
// Every GetFirmwareEnvironmentVariableW call: the name, the bytes returned (0 on
// failure), the error, and when.
struct FirmwareRead {
    String name;
    DWORD bytes;
    DWORD error;
    uint64_t timeMs;
};
std::vector<FirmwareRead> FirmwareReads();
// Names are compared exactly, as UEFI does; the GUID in braces, in either case.
void SetFirmwareVariable(const String& name, const String& guid, const Bytes& data);
void RemoveFirmwareVariable(const String& name, const String& guid);

// ---- Devices ---------------------------------------------------------------------
// Adds a present device; its hardware-ID property is these raw bytes.
void AddDevice(const Bytes& hardwareIdProperty);
// Adds a present device with a well-formed multi-string of these IDs.
void AddDevice(const std::vector<String>& hardwareIds);
void AddDeviceWithoutHardwareId();
Bytes MultiString(const std::vector<String>& strings);

// ---- Registry (paths below HKEY_LOCAL_MACHINE) -----------------------------------
struct RegistryValue {
    DWORD type;
    Bytes data;
};
void CreateKey(const String& path);
bool KeyExists(const String& path);
std::vector<String> SubKeys(const String& path);
std::optional<RegistryValue> GetValue(const String& path, const String& name);
std::vector<std::pair<String, RegistryValue>> Values(const String& path);
Bytes DwordBytes(DWORD value);
Bytes StringBytes(const String& text);  // with its terminator
// UTF-16LE bytes as text, every code unit kept (terminators too); an odd last byte dropped.
String Utf16Text(const Bytes& bytes);

// ---- Files -----------------------------------------------------------------------
// Windows paths (drive-absolute) map to lower-case host paths under the root.
std::string HostPath(const String& windowsPath);
bool FileExists(const String& windowsPath);
Bytes FileBytes(const String& windowsPath);
void WriteFileBytes(const String& windowsPath, const Bytes& data);

// ---- Console (standard output) ---------------------------------------------------
std::string ConsoleText();

// ---- Service manager, console side -----------------------------------------------
void SetAdministrator(bool administrator);
void SetModuleFileName(const String& path);
// What ChangeServiceConfig2W stored: the reset period in seconds, each action's type
// and delay in milliseconds.
struct FailureActions {
    DWORD resetPeriod;
    std::vector<std::pair<DWORD, DWORD>> actions;
};
struct InstalledService {
    String name;
    String displayName;
    DWORD desiredAccess;
    DWORD serviceType;
    DWORD startType;
    DWORD errorControl;
    String binaryPath;
    bool loadOrderGroupGiven;
    bool tagIdGiven;
    std::optional<String> dependencies;
    bool accountGiven;
    bool passwordGiven;
    DWORD state;
    bool markedForDeletion;
    std::optional<String> description;
    std::optional<FailureActions> failureActions;
    // The token's privileges when the service manager starts the service (beside
    // SeChangeNotifyPrivilege); none: LocalSystem's all.
    std::optional<std::vector<String>> requiredPrivileges;
};
std::optional<InstalledService> FindService(const String& name);
void AddService(const String& name, DWORD state);
void SetRequiredPrivileges(const String& name, const std::vector<String>& privileges);
// How the installed service answers the next stop request: refuse it with an error,
// or stay STOP_PENDING for `pendingPolls` status queries and then enter `finalState`.
struct StopScript {
    DWORD refuseError = 0;
    unsigned pendingPolls = 0;
    DWORD finalState = SERVICE_STOPPED;
};
void ScriptStop(const String& name, const StopScript& script);

// ---- Thread pool -----------------------------------------------------------------
size_t RunningWorkItems();

}  // namespace emu
