// -install and -remove against the emulated service manager: the console text, the
// registration, and the handles.
#include "install/install.h"
#include "tests/test_support.h"

namespace {

const emu::String name = u"Noxel_ALS_Service";

class Install : public EmulatedMachine {};
class Remove : public EmulatedMachine {
protected:
    void SetUp() override {
        EmulatedMachine::SetUp();
        emu::AddService(name, SERVICE_RUNNING);
    }
};

}  // namespace

TEST_F(Install, RegistersTheServiceQuotedAndStartsIt) {
    emu::SetModuleFileName(u"C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe");
    InstallService();
    EXPECT_EQ(emu::ConsoleText(), "Noxel_ALS_Service is installed.\nNoxel_ALS_Service start running.\n");
    auto service = emu::FindService(name);
    ASSERT_TRUE(service);
    EXPECT_EQ(N(service->displayName), "Noxel Ambient Light Sensor Service");
    EXPECT_EQ(service->desiredAccess, 0xF01FFu);
    EXPECT_EQ(service->serviceType, 0x110u);
    EXPECT_EQ(service->startType, 3u);
    EXPECT_EQ(service->errorControl, 1u);
    EXPECT_EQ(N(service->binaryPath), "\"C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe\"");
    EXPECT_FALSE(service->loadOrderGroupGiven);
    EXPECT_FALSE(service->tagIdGiven);
    EXPECT_EQ(service->dependencies, emu::String());
    EXPECT_FALSE(service->accountGiven);  // LocalSystem
    EXPECT_FALSE(service->passwordGiven);
    EXPECT_EQ(service->state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(Install, QuotesAPathWithoutSpacesToo) {
    emu::SetModuleFileName(u"C:\\Noxel\\NoxelAlsSvc.exe");
    InstallService();
    EXPECT_EQ(N(emu::FindService(name)->binaryPath), "\"C:\\Noxel\\NoxelAlsSvc.exe\"");
}

TEST_F(Install, ExistingServiceIsNeitherChangedNorStarted) {
    emu::AddService(name, SERVICE_STOPPED);
    InstallService();
    EXPECT_EQ(emu::ConsoleText(), "CreateService failed w/err 0x00000431\n");
    EXPECT_EQ(emu::FindService(name)->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(N(emu::FindService(name)->displayName), "Noxel_ALS_Service");
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(Install, EachFailureHasItsLine) {
    struct Case {
        const char* operation;
        DWORD error;
        bool administrator;
        const char* console;
    } cases[] = {
        {"OpenSCManagerW", 0, false, "OpenSCManager failed w/err 0x00000005\n"},
        {"GetModuleFileNameW", ERROR_ACCESS_DENIED, true, "GetModuleFileName failed w/err 0x00000005\n"},
        {"OpenServiceW", ERROR_ACCESS_DENIED, true,
         "Noxel_ALS_Service is installed.\nOpen Service Noxel_ALS_Service failed.\n"},
        {"StartServiceW", 1053, true,
         "Noxel_ALS_Service is installed.\nStart Service Noxel_ALS_Service failed.\n"},
    };
    for (const Case& c : cases) {
        emu::Reset();
        emu::SetAdministrator(c.administrator);
        if (c.error) emu::FailCall(c.operation, c.error);
        InstallService();
        EXPECT_EQ(emu::ConsoleText(), c.console) << c.operation;
        EXPECT_EQ(emu::OpenHandleCount(), 0u) << c.operation;
    }
}

TEST_F(Install, APathThatDoesNotFitIsNotRegistered) {
    emu::SetModuleFileName(u"C:\\" + emu::String(300, u'a') + u".exe");
    InstallService();
    EXPECT_EQ(emu::ConsoleText(), "GetModuleFileName failed w/err 0x0000007a\n");
    EXPECT_FALSE(emu::FindService(name));
}

TEST_F(Remove, StopsWithADotPerPendingPollThenDeletes) {
    emu::ScriptStop(name, {0, 3, SERVICE_STOPPED});
    const uint64_t start = emu::NowMs();
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(),
              "Stopping Noxel_ALS_Service....\nNoxel_ALS_Service is stopped.\nNoxel_ALS_Service is removed.\n");
    EXPECT_EQ(emu::NowMs() - start, 4000u);  // one second, then one per pending poll
    EXPECT_FALSE(emu::FindService(name));
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(Remove, ServiceThatStopsAtOnceShowsNoDots) {
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(),
              "Stopping Noxel_ALS_Service.\nNoxel_ALS_Service is stopped.\nNoxel_ALS_Service is removed.\n");
}

TEST_F(Remove, ServiceThatFailsToStopIsStillDeleted) {
    emu::ScriptStop(name, {0, 1, SERVICE_RUNNING});
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(),
              "Stopping Noxel_ALS_Service..\nNoxel_ALS_Service failed to stop.\nNoxel_ALS_Service is removed.\n");
    ASSERT_TRUE(emu::FindService(name));
    EXPECT_TRUE(emu::FindService(name)->markedForDeletion);
}

TEST_F(Remove, FailedStatusQueryEndsThePollingAsNotStopped) {
    emu::ScriptStop(name, {0, 5, SERVICE_STOPPED});
    emu::FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED, 2);
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(),
              "Stopping Noxel_ALS_Service..\nNoxel_ALS_Service failed to stop.\nNoxel_ALS_Service is removed.\n");
}

TEST_F(Remove, ServiceThatIsNotRunningIsOnlyRemoved) {
    emu::Reset();
    emu::AddService(name, SERVICE_STOPPED);
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(), "Noxel_ALS_Service is removed.\n");
    EXPECT_FALSE(emu::FindService(name));
}

TEST_F(Remove, EachFailureHasItsLine) {
    emu::Reset();
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(), "OpenService failed w/err 0x00000424\n");

    emu::Reset();
    emu::AddService(name, SERVICE_STOPPED);
    emu::SetAdministrator(false);  // connecting works, opening for stop and delete does not
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(), "OpenService failed w/err 0x00000005\n");

    emu::Reset();
    emu::FailCall("OpenSCManagerW", ERROR_ACCESS_DENIED);
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(), "OpenSCManager failed w/err 0x00000005\n");

    emu::Reset();
    emu::AddService(name, SERVICE_STOPPED);
    emu::FailCall("DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE);
    RemoveService();
    EXPECT_EQ(emu::ConsoleText(), "DeleteService failed w/err 0x00000430\n");
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}
