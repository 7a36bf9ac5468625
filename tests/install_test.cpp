// -install and -remove against the emulated service manager: the console text, the
// registration, and the handles.
#include <gmock/gmock.h>

#include "install/install.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;

namespace {

const emu::String name = u"Noxel_ALS_Service";
const emu::String source = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Noxel_ALS_Service";

class Install : public EmulatedMachine {};
class Remove : public EmulatedMachine {};

}  // namespace

TEST_F(Install, RegistersTheServiceQuotedAndStartsIt) {
    emu::SetModuleFileName(u"C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe");
    InstallService();
    EXPECT_EQ(emu::ConsoleText(), "Noxel_ALS_Service is installed.\nNoxel_ALS_Service start running.\n");
    auto service = emu::FindService(name);
    ASSERT_TRUE(service);
    // Own process, interactive flag, demand start, normal error control, LocalSystem.
    EXPECT_EQ(std::make_tuple(service->serviceType, service->startType, service->errorControl,
                              service->accountGiven),
              std::make_tuple(DWORD{0x110}, DWORD{SERVICE_DEMAND_START}, DWORD{SERVICE_ERROR_NORMAL}, false));
    EXPECT_EQ(N(service->displayName) + ": " + N(service->description.value_or(u"none")),
              "Noxel Ambient Light Sensor Service: Copies the ambient light sensor's calibration from the "
              "UEFI firmware into the sensor's registry settings.");
    EXPECT_EQ(N(service->binaryPath), "\"C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe\"");
    EXPECT_FALSE(service->loadOrderGroupGiven);
    EXPECT_FALSE(service->tagIdGiven);
    EXPECT_EQ(service->dependencies, emu::String());
    EXPECT_FALSE(service->passwordGiven);
    EXPECT_EQ(service->state, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(service->requiredPrivileges, std::vector<emu::String>{u"SeSystemEnvironmentPrivilege"});
    // Restarted a minute after the first and the second crash, then left; reset after a day.
    ASSERT_TRUE(service->failureActions);
    EXPECT_EQ(service->failureActions->resetPeriod, 86400u);
    EXPECT_EQ(service->failureActions->actions,
              (std::vector<std::pair<DWORD, DWORD>>{
                  {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}}));
    // The message file is the executable, unquoted. Its terminator shows as Windows stores
    // it: one that follows the data is kept even where the size leaves it out.
    EXPECT_THAT(Described(source),
                ElementsAre("EventMessageFile expand_sz C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe\\0",
                            "TypesSupported dword 5"));

    // Quoted without spaces too, and the longest path the module name gives whole.
    for (const emu::String& path :
         {emu::String(u"C:\\Noxel\\NoxelAlsSvc.exe"), u"C:\\" + emu::String(MAX_PATH - 8, u'n') + u".exe"}) {
        emu::Reset();
        emu::SetModuleFileName(path);
        InstallService();
        EXPECT_EQ(N(emu::FindService(name)->binaryPath), "\"" + N(path) + "\"");
    }
}

TEST_F(Install, EachFailureHasItsLine) {
    const std::string installed = "Noxel_ALS_Service is installed.\n",
                      started = "Noxel_ALS_Service start running.\n";
    const std::string ours = "Noxel Ambient Light Sensor Service, ";
    struct Case {
        const char* name;
        void (*arrange)();
        std::string console;
        std::string registration;  // display name and state afterwards; "" when not registered
        bool sourceLeft = false;   // the event source's key is there afterwards
    } cases[] = {
        {"not an administrator", [] { emu::SetAdministrator(false); },
         "OpenSCManager failed w/err 0x00000005\n", ""},
        {"module name refused", [] { emu::FailCall("GetModuleFileNameW", ERROR_ACCESS_DENIED); },
         "GetModuleFileName failed w/err 0x00000005\n", ""},
        {"module path too long", [] { emu::SetModuleFileName(u"C:\\" + emu::String(300, u'a') + u".exe"); },
         "GetModuleFileName failed w/err 0x0000007a\n", ""},
        // An existing service is neither changed nor started.
        {"already installed", [] { emu::AddService(name, SERVICE_STOPPED); },
         "CreateService failed w/err 0x00000431\n", "Noxel_ALS_Service, STOPPED"},
        {"cannot be opened", [] { emu::FailCall("OpenServiceW", ERROR_ACCESS_DENIED); },
         installed + "Open Service Noxel_ALS_Service failed.\n", ours + "STOPPED", true},
        {"cannot be started", [] { emu::FailCall("StartServiceW", ERROR_SERVICE_REQUEST_TIMEOUT); },
         installed + "Start Service Noxel_ALS_Service failed.\n", ours + "STOPPED", true},
        // The secondary settings: each failure has its line, and the service starts all the same.
        {"no description", [] { emu::FailCall("ChangeServiceConfig2W", ERROR_ACCESS_DENIED); },
         installed + "ChangeServiceConfig2 failed w/err 0x00000005\n" + started, ours + "RUNNING", true},
        {"no recovery", [] { emu::FailCall("ChangeServiceConfig2W", ERROR_ACCESS_DENIED, 2); },
         installed + "ChangeServiceConfig2 failed w/err 0x00000005\n" + started, ours + "RUNNING", true},
        // Wine's answer: it keeps no privilege list.
        {"no privilege list", [] { emu::FailCall("ChangeServiceConfig2W", ERROR_INVALID_LEVEL, 3); },
         installed + "ChangeServiceConfig2 failed w/err 0x0000007c\n" + started, ours + "RUNNING", true},
        {"no event source key", [] { emu::FailCall("RegCreateKeyExW", ERROR_ACCESS_DENIED); },
         installed + "RegCreateKeyEx failed w/err 0x00000005\n" + started, ours + "RUNNING"},
        // A key made and left without its message file would render nothing: it goes again.
        {"no message file", [] { emu::FailCall("RegSetValueExW", ERROR_BADKEY); },
         installed + "RegSetValueEx failed w/err 0x000003f2\n" + started, ours + "RUNNING"},
        // A key that was there before is not this command's to delete.
        {"no types, key there before",
         [] {
             emu::CreateKey(source);
             emu::FailCall("RegSetValueExW", ERROR_BADKEY, 2);
         },
         installed + "RegSetValueEx failed w/err 0x000003f2\n" + started, ours + "RUNNING", true},
    };
    for (const Case& c : cases) {
        emu::Reset();
        c.arrange();
        InstallService();
        EXPECT_EQ(emu::ConsoleText(), c.console) << c.name;
        const auto service = emu::FindService(name);
        EXPECT_EQ(service ? N(service->displayName) + ", " + emu::StateName(service->state) : "",
                  c.registration)
            << c.name;
        EXPECT_EQ(emu::KeyExists(source), c.sourceLeft) << c.name;
    }
}

// The event source goes only with the service, and stays when it cannot go.
TEST_F(Remove, StopsWithADotPerPendingPollThenDeletesAndEachFailureHasItsLine) {
    const std::string stopped = "Noxel_ALS_Service is stopped.\n",
                      removed = "Noxel_ALS_Service is removed.\n";
    const std::string notStopped = "Noxel_ALS_Service failed to stop.\n";
    struct Case {
        const char* name;
        DWORD state;            // 0: no such service
        unsigned pendingPolls;  // before the stop ends in finalState
        DWORD finalState;
        void (*fault)();
        std::string console;
        uint64_t waitedMs;  // one second, then one per pending poll
        const char* left;
        bool sourceLeft;
    } cases[] = {
        {"stops after three polls", SERVICE_RUNNING, 3, SERVICE_STOPPED, [] {},
         "Stopping Noxel_ALS_Service....\n" + stopped + removed, 4000, "nothing", false},
        {"stops at once", SERVICE_RUNNING, 0, SERVICE_STOPPED, [] {},
         "Stopping Noxel_ALS_Service.\n" + stopped + removed, 1000, "nothing", false},
        // A service that did not stop is only marked for deletion.
        {"fails to stop", SERVICE_RUNNING, 1, SERVICE_RUNNING, [] {},
         "Stopping Noxel_ALS_Service..\n" + notStopped + removed, 2000, "marked", false},
        {"status query fails", SERVICE_RUNNING, 5, SERVICE_STOPPED,
         [] { emu::FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED, 2); },
         "Stopping Noxel_ALS_Service..\n" + notStopped + removed, 2000, "marked", false},
        {"not running", SERVICE_STOPPED, 0, SERVICE_STOPPED, [] {}, removed, 0, "nothing", false},
        {"event source refused", SERVICE_STOPPED, 0, SERVICE_STOPPED,
         [] { emu::FailCall("RegDeleteKeyW", ERROR_ACCESS_DENIED); },
         removed + "RegDeleteKey failed w/err 0x00000005\n", 0, "nothing", true},
        {"not installed", 0, 0, 0, [] {}, "OpenService failed w/err 0x00000424\n", 0, "nothing", true},
        // Connecting works, opening for stop and delete does not.
        {"not an administrator", SERVICE_STOPPED, 0, SERVICE_STOPPED, [] { emu::SetAdministrator(false); },
         "OpenService failed w/err 0x00000005\n", 0, "unmarked", true},
        {"no service manager", SERVICE_STOPPED, 0, SERVICE_STOPPED,
         [] { emu::FailCall("OpenSCManagerW", ERROR_ACCESS_DENIED); },
         "OpenSCManager failed w/err 0x00000005\n", 0, "unmarked", true},
        {"delete refused", SERVICE_STOPPED, 0, SERVICE_STOPPED,
         [] { emu::FailCall("DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE); },
         "DeleteService failed w/err 0x00000430\n", 0, "unmarked", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emu::Reset();
        if (c.state) {
            emu::AddService(name, c.state);
            emu::ScriptStop(name, {0, c.pendingPolls, c.finalState});
        }
        emu::CreateKey(source);
        c.fault();
        RemoveService();
        EXPECT_EQ(emu::ConsoleText(), c.console);
        EXPECT_EQ(emu::NowMs(), c.waitedMs);
        const auto service = emu::FindService(name);
        EXPECT_STREQ(!service ? "nothing" : service->markedForDeletion ? "marked" : "unmarked", c.left);
        EXPECT_EQ(emu::KeyExists(source), c.sourceLeft);
    }
}
