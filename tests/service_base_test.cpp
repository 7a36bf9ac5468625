// The service base class as the service manager and the event log see it: status
// reports with their checkpoints and exit codes, error entries for failing hooks, and
// the dispatcher's return.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "platform/handles.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const DWORD sentinelError = 0xDEADBEEF;
const DWORD allControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;

// What a hook does on one call; calls beyond its plan return normally.
enum class Act { Return, ThrowCode, ThrowOther, WaitForRelease };

struct Hook {
    std::vector<Act> plan;
    DWORD code = ERROR_ACCESS_DENIED;
    std::atomic<unsigned> calls{0};
};

class TestService : public CServiceBase {
public:
    explicit TestService(DWORD controlsAccepted = allControls)
        : CServiceBase(TEXT("TestSvc"), controlsAccepted) {}

    Hook start, stop, pause, resume, shutdown;
    HANDLE release = nullptr;  // the event that a waiting hook waits for
    DWORD startArgc = 0;
    std::string startArgv0;

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override {
        startArgc = argc;
        if (argc > 0) startArgv0 = N(argv[0]);
        Run(start);
    }
    void OnStop() override { Run(stop); }
    void OnPause() override { Run(pause); }
    void OnContinue() override { Run(resume); }
    void OnShutdown() override { Run(shutdown); }

private:
    void Run(Hook& hook) {
        const unsigned call = hook.calls++;
        switch (call < hook.plan.size() ? hook.plan[call] : Act::Return) {
        case Act::ThrowCode: throw hook.code;
        case Act::ThrowOther: throw std::runtime_error("hook failed");
        case Act::WaitForRelease: WaitForSingleObject(release, INFINITE); break;
        case Act::Return: break;
        }
    }
};

// "state/checkpoint" of every report, checkpoints counted from this test's first
// pending report: a case reads the same alone in its process (as under CTest) and after
// other cases in one run. CheckpointsOfAProcessStartAtOne checks the absolute values.
std::vector<std::string> Reports() {
    const std::vector<emu::StatusReport> reports = emu::StatusReports();
    DWORD first = 0;
    for (const emu::StatusReport& report : reports)
        if (report.status.dwCheckPoint != 0) {
            first = report.status.dwCheckPoint;
            break;
        }
    std::vector<std::string> states;
    for (const emu::StatusReport& report : reports) {
        const DWORD checkpoint = report.status.dwCheckPoint == 0 ? 0 : report.status.dwCheckPoint - first + 1;
        states.push_back(std::to_string(report.status.dwCurrentState) + "/" + std::to_string(checkpoint));
    }
    return states;
}

DWORD LastExitCode() {
    const std::vector<emu::StatusReport> reports = emu::StatusReports();
    return reports.empty() ? sentinelError : reports.back().status.dwWin32ExitCode;
}

// Every entry is filed under the service's name with category 0 and identifier 0, and
// carries exactly two strings: the service name, then the message.
void ExpectEntriesFiledUnderTheService() {
    for (const emu::EventEntry& entry : emu::Events()) {
        EXPECT_EQ(N(entry.source), "TestSvc");
        EXPECT_EQ(entry.category, 0);
        EXPECT_EQ(entry.id, 0u);
        ASSERT_EQ(entry.strings.size(), 2u);
        EXPECT_EQ(N(entry.strings[0]), "TestSvc");
    }
}

// The dispatcher run of a case. A case that fails halfway still ends the dispatcher, so
// that the failure cannot hang the whole run.
class ServiceRun {
public:
    explicit ServiceRun(TestService& service) : service_(service), run_(service) {}
    ~ServiceRun() {
        for (int attempt = 0; attempt < 10 && !Finished(std::chrono::milliseconds(0)); ++attempt) {
            if (service_.release) SetEvent(service_.release);
            emu::SendControl(SERVICE_CONTROL_STOP);
            Finished(std::chrono::seconds(1));
        }
    }
    ServiceRun(const ServiceRun&) = delete;
    ServiceRun& operator=(const ServiceRun&) = delete;

    bool Finished(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (!finished_ && run_.Finished(timeout)) {
            finished_ = true;
            error_ = run_.Error();
        }
        return finished_;
    }
    // 0 when RunService returned true, else its last error; read after Finished.
    DWORD Error() const { return error_; }

private:
    TestService& service_;
    DispatcherRun run_;
    bool finished_ = false;
    DWORD error_ = sentinelError;
};

class ServiceBase : public EmulatedMachine {};
class ServiceBaseDeathTest : public EmulatedMachine {};

}  // namespace

TEST_F(ServiceBase, StartAndStopReportEachStateWithItsCheckpoint) {
    TestService service;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Error(), 0u);
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "3/2", "1/0"));
    EXPECT_EQ(service.start.calls, 1u);
    EXPECT_EQ(service.stop.calls, 1u);
    // OnStart gets what the service manager gave the service main.
    EXPECT_EQ(service.startArgc, 1u);
    EXPECT_EQ(service.startArgv0, "TestSvc");
    EXPECT_THAT(EventMessages(), IsEmpty());
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(ServiceBaseDeathTest, CheckpointsOfAProcessStartAtOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child is a fresh process, whatever ran before in this one.
    EXPECT_EXIT(
        {
            TestService service;
            DispatcherRun run(service);
            emu::WaitForStatus(SERVICE_RUNNING);
            emu::SendControl(SERVICE_CONTROL_PAUSE);
            emu::WaitForStatus(SERVICE_PAUSED);
            emu::SendControl(SERVICE_CONTROL_STOP);
            run.Finished();
            std::string states = "reports:";
            for (const std::string& state : ReportedStates()) states += " " + state;
            std::fprintf(stderr, "%s\n", states.c_str());
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), ::testing::HasSubstr("reports: 2/1 4/0 6/2 7/3 3/4 1/0\n"));
}

TEST_F(ServiceBase, StatusRecordCarriesTypeAcceptedControlsAndNoWaitHint) {
    TestService service(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    const std::vector<emu::StatusReport> reports = emu::StatusReports();
    ASSERT_EQ(reports.size(), 4u);
    for (const emu::StatusReport& report : reports) {
        EXPECT_EQ(report.status.dwServiceType, 0x10u);
        EXPECT_EQ(report.status.dwControlsAccepted, 5u);
        EXPECT_EQ(report.status.dwWin32ExitCode, 0u);
        EXPECT_EQ(report.status.dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(report.status.dwWaitHint, 0u);
    }
}

TEST_F(ServiceBase, StartFailingWithAnErrorCodeStopsWithThatCode) {
    TestService service;
    service.start.plan = {Act::ThrowCode};
    service.start.code = ERROR_ACCESS_DENIED;
    ServiceRun run(service);
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Error(), 0u);
    EXPECT_THAT(Reports(), ElementsAre("2/1", "1/0"));
    EXPECT_EQ(LastExitCode(), 5u);
    EXPECT_THAT(EventMessages(), ElementsAre("E Service Start failed w/err 0x00000005"));
    ExpectEntriesFiledUnderTheService();
    EXPECT_EQ(service.stop.calls, 0u);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(ServiceBase, StartFailingOtherwiseStopsWithExitCodeZero) {
    TestService service;
    service.start.plan = {Act::ThrowOther};
    ServiceRun run(service);
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "1/0"));
    EXPECT_EQ(LastExitCode(), 0u);
    EXPECT_THAT(EventMessages(), ElementsAre("E Service failed to start."));
    ExpectEntriesFiledUnderTheService();
    EXPECT_EQ(service.stop.calls, 0u);
}

TEST_F(ServiceBase, FailedStopsLeaveTheServiceRunningUntilOneSucceeds) {
    TestService service;
    service.stop.plan = {Act::ThrowCode, Act::ThrowOther};
    service.stop.code = ERROR_SERVICE_REQUEST_TIMEOUT;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING, 2));
    EXPECT_TRUE(emu::DispatcherRunning());
    EXPECT_EQ(LastExitCode(), 0u);
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING, 3));
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    // The counter runs on over failed transitions: each STOP_PENDING carries a higher one.
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "3/2", "4/0", "3/3", "4/0", "3/4", "1/0"));
    EXPECT_THAT(EventMessages(),
                ElementsAre("E Service Stop failed w/err 0x0000041d", "E Service failed to stop."));
    ExpectEntriesFiledUnderTheService();
    EXPECT_EQ(service.stop.calls, 3u);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(ServiceBase, FailedStopWhilePausedFallsBackToPaused) {
    TestService service;
    service.stop.plan = {Act::ThrowCode};
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_PAUSE);
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_PAUSED, 2));
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "6/2", "7/3", "3/4", "7/5", "3/6", "1/0"));
    EXPECT_THAT(EventMessages(), ElementsAre("E Service Stop failed w/err 0x00000005"));
}

TEST_F(ServiceBase, ShutdownCallsOnlyOnShutdownAndStopsAtOnce) {
    TestService service;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_SHUTDOWN);
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Error(), 0u);
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "1/0"));
    EXPECT_EQ(LastExitCode(), 0u);
    EXPECT_EQ(service.shutdown.calls, 1u);
    EXPECT_EQ(service.stop.calls, 0u);
}

TEST_F(ServiceBase, FailedShutdownLeavesTheStatusAsItIs) {
    TestService service;
    service.shutdown.plan = {Act::ThrowCode, Act::ThrowOther};
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_SHUTDOWN);
    emu::SendControl(SERVICE_CONTROL_SHUTDOWN);
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "3/2", "1/0"));
    EXPECT_THAT(EventMessages(), ElementsAre("E Service Shutdown failed w/err 0x00000005",
                                             "E Service failed to shut down."));
    EXPECT_EQ(service.shutdown.calls, 2u);
}

TEST_F(ServiceBase, InterrogateAndUnknownControlsReportNothingAndCallNoHook) {
    TestService service;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    for (DWORD control : {DWORD{SERVICE_CONTROL_INTERROGATE}, DWORD{0}, DWORD{6}, DWORD{0x80}, DWORD{200}})
        emu::SendControl(control);
    emu::SendControl(SERVICE_CONTROL_STOP);  // handled after all the others
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "3/2", "1/0"));
    EXPECT_EQ(service.pause.calls + service.resume.calls + service.shutdown.calls, 0u);
    EXPECT_EQ(service.stop.calls, 1u);
    EXPECT_THAT(EventMessages(), IsEmpty());
}

TEST_F(ServiceBase, PauseAndContinueCarryConsecutiveCheckpoints) {
    TestService service;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_PAUSE);
    emu::SendControl(SERVICE_CONTROL_CONTINUE);
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "6/2", "7/3", "5/4", "4/0", "3/5", "1/0"));
    EXPECT_EQ(service.pause.calls, 1u);
    EXPECT_EQ(service.resume.calls, 1u);
}

TEST_F(ServiceBase, FailedPauseFallsBackToRunningAndFailedContinueToPaused) {
    TestService service;
    service.pause.plan = {Act::ThrowCode, Act::ThrowOther};
    service.resume.plan = {Act::ThrowCode, Act::ThrowOther};
    service.resume.code = ERROR_INVALID_HANDLE;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    for (DWORD control : {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_PAUSE,
                          SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_CONTINUE,
                          SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_STOP})
        emu::SendControl(control);
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0",             // started
                                       "6/2", "4/0", "6/3", "4/0",  // two failed pauses
                                       "6/4", "7/5",              // paused
                                       "5/6", "7/7", "5/8", "7/9",  // two failed continues
                                       "5/10", "4/0", "3/11", "1/0"));
    EXPECT_THAT(EventMessages(),
                ElementsAre("E Service Pause failed w/err 0x00000005", "E Service failed to pause.",
                            "E Service Continue failed w/err 0x00000006", "E Service failed to resume."));
    ExpectEntriesFiledUnderTheService();
}

TEST_F(ServiceBase, HookThatBlocksHoldsBackLaterControls) {
    UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(release);
    TestService service;
    service.release = release.get();
    service.pause.plan = {Act::WaitForRelease};
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_PAUSE);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_PAUSE_PENDING));
    emu::SendControl(SERVICE_CONTROL_STOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "6/2"));
    EXPECT_EQ(service.stop.calls, 0u);
    SetEvent(release.get());
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "6/2", "7/3", "3/4", "1/0"));
}

TEST_F(ServiceBase, EventWritersFileEveryEntryWithTwoStrings) {
    TestService service;
    service.LogError(TEXT("Service Stop"), 0);
    service.LogError(TEXT("Service Stop"), 5);
    service.LogError(TEXT("Service Pause"), 0x8007000E);
    service.LogEvent(TEXT("Noxel ALS Service in OnStart"), EVENTLOG_INFORMATION_TYPE);
    EXPECT_THAT(EventMessages(), ElementsAre("E Service Stop failed w/err 0x00000000",
                                             "E Service Stop failed w/err 0x00000005",
                                             "E Service Pause failed w/err 0x8007000e",
                                             "I Noxel ALS Service in OnStart"));
    ExpectEntriesFiledUnderTheService();
    EXPECT_EQ(emu::OpenHandleCount(), 0u);  // each entry opens and closes its source
}

TEST_F(ServiceBase, ErrorTextIsCutTo259Characters) {
    TestService service;
    const emu::String operation(250, u'x');
    service.LogError(operation.c_str(), 5);
    EXPECT_THAT(EventMessages(), ElementsAre("E " + std::string(250, 'x') + " failed w"));
}

TEST_F(ServiceBase, WithoutTheEventLogFailuresStillFallBack) {
    emu::SetEventLogAvailable(false);
    TestService service;
    service.LogEvent(TEXT("dropped"), EVENTLOG_INFORMATION_TYPE);
    service.stop.plan = {Act::ThrowCode};
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_STOP);
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    EXPECT_THAT(Reports(), ElementsAre("2/1", "4/0", "3/2", "4/0", "3/3", "1/0"));
    EXPECT_THAT(emu::Events(), IsEmpty());
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(ServiceBase, FailedStatusReportIsIgnored) {
    emu::FailCall("SetServiceStatus", ERROR_INVALID_HANDLE);  // the START_PENDING report
    TestService service;
    ServiceRun run(service);
    ASSERT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
    emu::SendControl(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(run.Finished());
    std::vector<DWORD> states;
    for (const emu::StatusReport& report : emu::StatusReports()) states.push_back(report.status.dwCurrentState);
    EXPECT_THAT(states, ElementsAre(DWORD{SERVICE_RUNNING}, DWORD{SERVICE_STOP_PENDING}, DWORD{SERVICE_STOPPED}));
    EXPECT_EQ(service.start.calls, 1u);
    EXPECT_THAT(emu::Events(), IsEmpty());
}

TEST_F(ServiceBase, RunServiceFailsOutsideTheServiceManager) {
    TestService service;
    SetLastError(sentinelError);
    EXPECT_FALSE(CServiceBase::RunService(service));
    EXPECT_EQ(GetLastError(), 1063u);
    EXPECT_THAT(emu::StatusReports(), IsEmpty());
    EXPECT_EQ(service.start.calls, 0u);
}

TEST_F(ServiceBaseDeathTest, HandlerRegistrationFailureEndsTheProcessWithItsCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Says on standard error whatever happens that must not: a hook, a report, an event.
    struct TellingService : CServiceBase {
        TellingService() : CServiceBase(TEXT("TestSvc"), allControls) {}
        void OnStart(DWORD, LPWSTR*) override { std::fputs("OnStart ran\n", stderr); }
    };
    EXPECT_EXIT(
        {
            emu::FailCall("RegisterServiceCtrlHandlerW", 123);
            TellingService service;
            DispatcherRun run(service);
            for (int i = 0; i < 5000; ++i) {
                if (!emu::StatusReports().empty() || !emu::Events().empty()) {
                    std::fputs("reported\n", stderr);
                    std::_Exit(1);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            std::fputs("the process went on\n", stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(123),
        ::testing::AllOf(::testing::Not(::testing::HasSubstr("ran")),
                         ::testing::Not(::testing::HasSubstr("reported"))));
}
