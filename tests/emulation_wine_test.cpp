// Where the end-to-end runs under Wine showed the emulation wrong about Windows, one case
// each (tests/wine/platform-facts.txt holds Wine's answers). Where Wine itself differs
// from Windows (subkey order, message texts, a cut module path), the emulation keeps
// following Windows and these cases do not go.
#include <algorithm>
#include <iterator>

#include "platform/handles.h"
#include "tests/test_support.h"

namespace {

const DWORD sentinelError = 0xDEADBEEF;

class EmulationAsWine : public EmulatedMachine {};

DWORD StoredSize(const WCHAR* name) {
    const auto value = emu::GetValue(u"SOFTWARE\\Noxel", name);
    return value ? static_cast<DWORD>(value->data.size()) : sentinelError;
}

SC_HANDLE CreateProbeService(SC_HANDLE manager) {
    return CreateServiceW(manager, u"NoxelProbe", u"Noxel Probe", SERVICE_ALL_ACCESS,
                          SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
                          SERVICE_ERROR_NORMAL, u"\"C:\\Noxel\\probe.exe\"", nullptr, nullptr, u"", nullptr,
                          nullptr);
}

}  // namespace

TEST_F(EmulationAsWine, RegistryPathsAreRelativeToTheirKey) {
    emu::CreateKey(u"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6110");
    UniqueKey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SYSTEM\\CurrentControlSet", 0, KEY_READ, key.put()),
              161);  // ERROR_BAD_PATHNAME
    EXPECT_FALSE(key);
    // The publication's base keys end in a backslash.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6110\\", 0,
                            KEY_ALL_ACCESS, key.put()),
              0);
}

TEST_F(EmulationAsWine, StringValueKeepsATerminatorItsSizeLeftOut) {
    emu::CreateKey(u"SOFTWARE\\Noxel");
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Noxel", 0, KEY_SET_VALUE, key.put()), 0);
    const auto set = [&](const WCHAR* name, DWORD type, const WCHAR* data, DWORD size) {
        return RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data), size);
    };
    EXPECT_EQ(set(u"forgotten", REG_SZ, u"abc", 6), 0);
    EXPECT_EQ(StoredSize(u"forgotten"), 8u);
    EXPECT_EQ(emu::GetValue(u"SOFTWARE\\Noxel", u"forgotten")->data, emu::StringBytes(u"abc"));
    EXPECT_EQ(set(u"whole", REG_SZ, u"abc", 8), 0);
    EXPECT_EQ(StoredSize(u"whole"), 8u);
    EXPECT_EQ(set(u"cut", REG_SZ, u"abcd", 6), 0);  // what follows is no terminator
    EXPECT_EQ(StoredSize(u"cut"), 6u);
    EXPECT_EQ(set(u"list", REG_MULTI_SZ, u"ab\0cd\0", 12), 0);  // ends in a NUL already
    EXPECT_EQ(StoredSize(u"list"), 12u);
    EXPECT_EQ(set(u"bytes", REG_BINARY, u"abc", 6), 0);
    EXPECT_EQ(StoredSize(u"bytes"), 6u);
}

TEST_F(EmulationAsWine, MissingDirectoryIsPathNotFound) {
    const struct {
        const WCHAR* path;
        DWORD error;
    } cases[] = {
        {u"C:\\Windows\\System32\\Noxel_AlsSvc.log", ERROR_FILE_NOT_FOUND},
        {u"C:\\Windows\\Missing\\Noxel_AlsSvc.log", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        WIN32_FIND_DATAW found;
        SetLastError(sentinelError);
        EXPECT_EQ(FindFirstFileW(c.path, &found), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error) << N(c.path);
        SetLastError(sentinelError);
        EXPECT_FALSE(DeleteFileW(c.path));
        EXPECT_EQ(GetLastError(), c.error) << N(c.path);
    }
}

TEST_F(EmulationAsWine, StatusCarriesTheRegisteredTypeAndTheNeverStartedCode) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(CreateProbeService(manager.get()));
    ASSERT_TRUE(service);
    SERVICE_STATUS status;
    std::fill_n(reinterpret_cast<BYTE*>(&status), sizeof(status), 0xEE);
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwServiceType, 0x110u);
    EXPECT_EQ(status.dwWin32ExitCode, 1077u);  // ERROR_SERVICE_NEVER_STARTED
    EXPECT_EQ(status.dwControlsAccepted, 0u);

    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwServiceType, 0x110u);
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
}

TEST_F(EmulationAsWine, DeletedServiceStaysUntilItsLastHandleCloses) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(CreateProbeService(manager.get()));
    ASSERT_TRUE(service);
    ASSERT_TRUE(DeleteService(service.get()));

    SetLastError(sentinelError);
    EXPECT_FALSE(DeleteService(service.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(service.get(), &status));
    SetLastError(sentinelError);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    UniqueServiceHandle reopened(OpenServiceW(manager.get(), u"NoxelProbe", SERVICE_QUERY_STATUS));
    EXPECT_TRUE(reopened);
    SetLastError(sentinelError);
    EXPECT_EQ(CreateProbeService(manager.get()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    ASSERT_TRUE(emu::FindService(u"NoxelProbe"));

    reopened.reset();
    EXPECT_TRUE(emu::FindService(u"NoxelProbe"));  // one handle is still open
    service.reset();
    EXPECT_FALSE(emu::FindService(u"NoxelProbe"));
    SetLastError(sentinelError);
    EXPECT_EQ(OpenServiceW(manager.get(), u"NoxelProbe", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}
