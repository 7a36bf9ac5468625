// The emulation's own faithful details that the service and its tests rely on: fault
// injection, handle counting, the virtual clock, events, the dispatcher's threads, and
// the Windows error conventions of registry, firmware, files and message texts.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <gmock/gmock.h>

#include "platform/firmware.h"
#include "platform/handles.h"
#include "platform/messages.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

class Emulation : public EmulatedMachine {};

// 0 when CreateEventW succeeds now, else the last error it set.
DWORD CreateEventError() {
    SetLastError(sentinelError);
    UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event ? ERROR_SUCCESS : GetLastError();
}

bool EnableFirmwarePrivilege() {
    UniqueKernelHandle token;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) &&
           LookupPrivilegeValueW(nullptr, SE_SYSTEM_ENVIRONMENT_NAME, &privileges.Privileges[0].Luid) &&
           AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;
}

HANDLE OpenFile(const WCHAR* path, DWORD share, DWORD disposition) {
    SetLastError(sentinelError);
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace

TEST_F(Emulation, FaultsHitTheChosenCallsOrArguments) {
    emu::FailCall("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(CreateEventError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(CreateEventError(), DWORD{ERROR_SUCCESS});
    emu::FailCall("CreateEventW", ERROR_OUTOFMEMORY, 2, 2);  // the second and third from now
    for (DWORD expected : {ERROR_SUCCESS, ERROR_OUTOFMEMORY, ERROR_OUTOFMEMORY, ERROR_SUCCESS})
        EXPECT_EQ(CreateEventError(), expected);
    EXPECT_EQ(emu::CallCount("CreateEventW"), 6u);  // failed calls count too

    emu::FailCall("CreateEventW", ERROR_ACCESS_DENIED, 1, 0);  // for ever
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CreateEventError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_THROW(emu::FailCall("RegOpenKey", ERROR_ACCESS_DENIED), std::invalid_argument);

    emu::CreateKey(u"SOFTWARE\\Noxel");
    emu::CreateKey(u"SOFTWARE\\Other");
    emu::FailCallsWith("RegOpenKeyExW", u"software\\NOXEL", ERROR_ACCESS_DENIED);  // without case
    UniqueKey key;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Noxel", 0, KEY_READ, key.put()),
                  ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Other", 0, KEY_READ, key.put()), ERROR_SUCCESS);
}

TEST_F(Emulation, EveryHandleIsCountedUntilClosed) {
    emu::CreateKey(u"SOFTWARE");
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), 0);
    HANDLE source = RegisterEventSourceW(nullptr, u"TestSvc");
    EXPECT_THAT(emu::OpenHandleKinds(), UnorderedElementsAre("event", "registry key", "event source"));
    EXPECT_EQ(emu::OpenHandleCount(), 3u);

    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
    SetLastError(sentinelError);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

// The sleeper counts as the process's, so that an idle process proves it still sleeps.
TEST_F(Emulation, ManualClockWakesSleepersOnlyWhenAdvanced) {
    emu::SetClockMode(emu::ClockMode::Manual);
    std::atomic<bool> woke{false};
    std::thread sleeper([&] {
        const emu::ProcessThread counted;
        Sleep(10000);
        woke = true;
    });
    ASSERT_TRUE(emu::WaitForSleepers(1));
    emu::AdvanceClock(9999);
    ASSERT_TRUE(emu::WaitForIdle());
    EXPECT_FALSE(woke);
    EXPECT_EQ(emu::SleepingThreads(), 1u);
    emu::AdvanceClock(1);
    sleeper.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(emu::NowMs(), 10000u);
}

// Idle means every counted thread waits on something only the outside can end.
TEST_F(Emulation, ProcessIsIdleOnlyWhileEveryOneOfItsThreadsWaits) {
    using namespace std::chrono_literals;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto counted = std::make_unique<emu::ProcessThread>();
    EXPECT_FALSE(emu::WaitForIdle(0ms));  // counted, and not waiting
    std::thread waiter([&, counted = std::move(counted)]() mutable {
        WaitForSingleObject(event, INFINITE);
        counted.reset();
    });
    EXPECT_TRUE(emu::WaitForIdle());
    SetEvent(event);
    waiter.join();
    EXPECT_TRUE(emu::WaitForIdle(0ms));  // none left
    CloseHandle(event);
}

TEST_F(Emulation, ManualResetEventStaysSignalledAndAutoResetOneIsConsumed) {
    UniqueKernelHandle manual(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueKernelHandle automatic(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(manual.get()) && SetEvent(automatic.get()));
    EXPECT_EQ(WaitForSingleObject(manual.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), WAIT_TIMEOUT);
}

namespace {
std::thread::id serviceMainThread, handlerThread;
SERVICE_STATUS_HANDLE probeHandle = nullptr;
SERVICE_STATUS probeStatus{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};

void WINAPI ProbeHandler(DWORD control) {
    handlerThread = std::this_thread::get_id();
    probeStatus.dwCurrentState = control == SERVICE_CONTROL_STOP ? SERVICE_STOPPED : SERVICE_RUNNING;
    SetServiceStatus(probeHandle, &probeStatus);
}
void WINAPI ProbeMain(DWORD, LPWSTR*) {
    serviceMainThread = std::this_thread::get_id();
    probeHandle = RegisterServiceCtrlHandlerW(u"Probe", ProbeHandler);
    SetServiceStatus(probeHandle, &probeStatus);
}
}  // namespace

TEST_F(Emulation, DispatcherRunsServiceMainAloneAndControlsOnItsCaller) {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(u"Probe"), ProbeMain}, {nullptr, nullptr}};
    emu::SetStartedByServiceManager(true);
    std::thread manager([] {
        if (emu::WaitForStatus(SERVICE_RUNNING)) emu::SendControl(SERVICE_CONTROL_STOP);
    });
    EXPECT_TRUE(StartServiceCtrlDispatcherW(table));  // returns once STOPPED is reported
    manager.join();
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_NE(serviceMainThread, std::this_thread::get_id());
}

namespace {
const WCHAR* attemptedName = nullptr;
const WCHAR* ownName = nullptr;
SERVICE_STATUS_HANDLE attemptedHandle = nullptr;
DWORD attemptError = 0;

void WINAPI IgnoreControl(DWORD) {}
// Registers under the name the case tries, then under its own to report STOPPED.
void WINAPI RegisteringMain(DWORD, LPWSTR*) {
    SetLastError(sentinelError);
    attemptedHandle = RegisterServiceCtrlHandlerW(attemptedName, IgnoreControl);
    attemptError = attemptedHandle ? 0 : GetLastError();
    SERVICE_STATUS stopped{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    SetServiceStatus(RegisterServiceCtrlHandlerW(ownName, IgnoreControl), &stopped);
}
}  // namespace

TEST_F(Emulation, HandlerNameIsCheckedOnlyWhenTheProcessRunsSeveralServices) {
    const struct {
        const char* name;
        size_t services;
        const WCHAR* attempted;
        DWORD error;
    } cases[] = {
        // Windows does not check the name of a SERVICE_WIN32_OWN_PROCESS service.
        {"one service, another name", 1, u"SomethingElse", 0},
        {"one service, an empty name", 1, u"", 0},
        {"two services, the second's name in another case", 2, u"SECOND", 0},
        {"two services, a name of neither", 2, u"Third", ERROR_SERVICE_NOT_IN_EXE},
    };
    for (const auto& c : cases) {
        emu::Reset();
        emu::SetStartedByServiceManager(true);
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(u"Noxel_ALS_Service"), RegisteringMain},
                                        {const_cast<LPWSTR>(u"Second"), RegisteringMain},
                                        {nullptr, nullptr}};
        if (c.services == 1) table[1] = {nullptr, nullptr};
        attemptedName = c.attempted;
        ownName = table[0].lpServiceName;
        ASSERT_TRUE(StartServiceCtrlDispatcherW(table)) << c.name;
        EXPECT_EQ(attemptError, c.error) << c.name;
        EXPECT_EQ(attemptedHandle != nullptr, c.error == 0) << c.name;
    }
}

TEST_F(Emulation, WaitRunsItsCourseWhenAnotherThreadClosesTheHandle) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD result = 0, error = 0;
    std::thread waiter([&] {
        SetLastError(sentinelError);
        result = WaitForSingleObject(event, 300);
        error = GetLastError();
    });
    // The call is counted under the machine's lock, which the wait gives up only once
    // it waits: seen from here, the waiter is waiting.
    while (emu::CallCount("WaitForSingleObject") == 0) std::this_thread::yield();
    EXPECT_TRUE(CloseHandle(event));
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);  // not WAIT_FAILED at the close
    EXPECT_EQ(error, sentinelError);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);

    // The handle is gone for a wait that starts after the close.
    SetLastError(sentinelError);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

// The emulated manager starts no process: a started service is taken to run, with the
// status Windows reports for a running own-process service (tests/conformance holds the
// never-started one to Wine's).
TEST_F(Emulation, StartedServiceRunsWithItsRegisteredType) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(CreateServiceW(
        manager.get(), u"NoxelProbe", u"Noxel Probe", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        u"\"C:\\Noxel\\probe.exe\"", nullptr, nullptr, u"", nullptr, nullptr));
    ASSERT_TRUE(service);
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    SERVICE_STATUS status;
    std::fill_n(reinterpret_cast<BYTE*>(&status), sizeof(status), 0xEE);
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwServiceType, DWORD{SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS});
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    SetLastError(sentinelError);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
}

TEST_F(Emulation, RegistryEnumeratesNamesWithTheWindowsLengthConvention) {
    emu::CreateKey(u"SYSTEM\\Enum\\Alpha");
    emu::CreateKey(u"SYSTEM\\Enum\\beta");
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\ENUM", 0, KEY_READ, key.put()), 0);
    DWORD subKeys = 0, longest = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(longest, 5u);  // without the terminator

    WCHAR name[16];
    std::fill(std::begin(name), std::end(name), u'#');
    auto enumerate = [&](DWORD index, DWORD& length) {
        return RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    };
    DWORD length = 5;  // capacity with the terminator: one short for "Alpha"
    EXPECT_EQ(enumerate(0, length), ERROR_MORE_DATA);
    length = 6;
    EXPECT_EQ(enumerate(0, length), ERROR_SUCCESS);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::u16string(name), u"Alpha");
    EXPECT_EQ(name[6], u'#');
    length = 16;
    EXPECT_EQ(enumerate(1, length), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"beta");  // the name keeps its own case
    length = 16;
    EXPECT_EQ(enumerate(2, length), ERROR_NO_MORE_ITEMS);

    UniqueKey writable;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\ENUM\\BETA", 0, KEY_SET_VALUE, writable.put()), 0);
    const emu::Bytes one = emu::DwordBytes(1), two = emu::DwordBytes(2);
    EXPECT_EQ(RegSetValueExW(writable.get(), u"ALS_CS", 0, REG_DWORD, one.data(), 4), 0);
    EXPECT_EQ(RegSetValueExW(writable.get(), u"als_cs", 0, REG_DWORD, two.data(), 4), 0);
    EXPECT_THAT(Described(u"SYSTEM\\Enum\\beta"), ElementsAre("ALS_CS dword 2"));  // one value, written twice
}

TEST_F(Emulation, FirmwareVariablesFollowTheWindowsErrors) {
    emu::SetFirmwareVariable(u"CALIBRATE", vendorGuid, {1, 2, 3, 4});
    BYTE buffer[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    // The last error of a read that must fail.
    auto failure = [&](const WCHAR* name, DWORD size) {
        SetLastError(sentinelError);
        return GetFirmwareEnvironmentVariableW(name, vendorGuid.c_str(), buffer, size) == 0 ? GetLastError()
                                                                                            : 0;
    };
    emu::SetUefiPresent(false);
    EXPECT_EQ(failure(u"CALIBRATE", 8), DWORD{ERROR_INVALID_FUNCTION});
    emu::SetUefiPresent(true);
    EXPECT_EQ(failure(u"CALIBRATE", 8), DWORD{ERROR_PRIVILEGE_NOT_HELD});  // until the privilege is enabled

    // A privilege the account does not hold is still "adjusted", with ERROR_NOT_ALL_ASSIGNED.
    emu::SetPrivilegeHeld(false);
    EXPECT_FALSE(EnableFirmwarePrivilege());
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ALL_ASSIGNED});
    emu::SetPrivilegeHeld(true);
    ASSERT_TRUE(EnableFirmwarePrivilege());
    EXPECT_EQ(emu::OpenHandleCount(), 0u);

    EXPECT_EQ(failure(u"ALS_CS", 8), DWORD{ERROR_ENVVAR_NOT_FOUND});
    EXPECT_EQ(failure(u"CALIBRATE", 3), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(GetFirmwareEnvironmentVariableW(u"CALIBRATE", vendorGuid.c_str(), buffer, 8), 4u);
    EXPECT_THAT(buffer, ElementsAre(1, 2, 3, 4, 0xAA, 0xAA, 0xAA, 0xAA));

    // UEFI compares names exactly; Windows parses the GUID, in either case, braces required.
    const struct {
        const WCHAR* name;
        const WCHAR* guid;
        DWORD error;
    } lookups[] = {
        {u"calibrate", vendorGuid.c_str(), ERROR_ENVVAR_NOT_FOUND},
        {u"Calibrate", vendorGuid.c_str(), ERROR_ENVVAR_NOT_FOUND},
        {u"CALIBRATE", u"{bf82486a-80f7-4733-b82c-066bd8f2534b}", ERROR_SUCCESS},
        {u"CALIBRATE", u"BF82486A-80F7-4733-B82C-066BD8F2534B", ERROR_INVALID_PARAMETER},
        {u"CALIBRATE", u"{BF82486A-80F7-4733-B82C-066BD8F2534}", ERROR_INVALID_PARAMETER},
        {u"CALIBRATE", u"{BF82486A+80F7-4733-B82C-066BD8F2534B}", ERROR_INVALID_PARAMETER},
        {u"CALIBRATE", u"{BF82486A-80F7-4733-B82C-066BD8F2534G}", ERROR_INVALID_PARAMETER},
    };
    for (const auto& lookup : lookups) {
        SetLastError(sentinelError);
        const DWORD bytes = GetFirmwareEnvironmentVariableW(lookup.name, lookup.guid, buffer, 8);
        const DWORD error = bytes ? 0 : GetLastError();
        EXPECT_EQ(bytes, lookup.error ? 0u : 4u) << N(lookup.name) << " " << N(lookup.guid);
        EXPECT_EQ(error, lookup.error) << N(lookup.name) << " " << N(lookup.guid);
    }
    emu::SetFirmwareVariable(u"calibrate", vendorGuid, {9});  // another variable
    EXPECT_EQ(GetFirmwareEnvironmentVariableW(u"CALIBRATE", vendorGuid.c_str(), buffer, 8), 4u);
    EXPECT_EQ(GetFirmwareEnvironmentVariableW(u"calibrate", vendorGuid.c_str(), buffer, 8), 1u);
}

TEST_F(Emulation, FilesKeepCreateAndShareRules) {
    UniqueFile first(OpenFile(logPath.c_str(), 0, CREATE_NEW));
    ASSERT_TRUE(first);
    const WCHAR* otherCase = u"c:\\windows\\system32\\NOXEL_ALSSVC.LOG";
    EXPECT_EQ(OpenFile(otherCase, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});  // opened without sharing

    first.reset();
    EXPECT_EQ(OpenFile(logPath.c_str(), FILE_SHARE_READ, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
    EXPECT_TRUE(UniqueFile(OpenFile(otherCase, FILE_SHARE_READ, OPEN_EXISTING)));
    EXPECT_EQ(OpenFile(u"C:\\Missing\\file.log", 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

TEST_F(Emulation, MessageTextsEndInALineBreakAndUnknownCodesFail) {
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    LPWSTR text = nullptr;
    EXPECT_EQ(
        FormatMessageW(flags, nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
        19u);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), u"Access is denied.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);

    text = nullptr;
    SetLastError(sentinelError);
    EXPECT_EQ(FormatMessageW(flags, nullptr, 0x12345, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
    EXPECT_EQ(text, nullptr);
}
