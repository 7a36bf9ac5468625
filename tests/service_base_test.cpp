// The service base class as the service manager and the event log see it: status
// reports with their checkpoints and exit codes, error entries for failing hooks, and
// the dispatcher's return.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>

#include "platform/handles.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;

namespace {

const DWORD allControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;

// What a hook does on one call; calls beyond its plan return normally.
enum class Act { Return, ThrowCode, ThrowOther, WaitForRelease, WaitThenThrowCode };

struct Hook {
    std::vector<Act> plan;
    DWORD code = ERROR_ACCESS_DENIED;  // what ThrowCode throws
    std::atomic<unsigned> calls{0};
};

class TestService : public CServiceBase {
public:
    TestService() : CServiceBase(TEXT("TestSvc"), allControls) {}

    // Codes of other sizes for the stop and the continue, so that each shows in its entry.
    Hook start, stop{{}, ERROR_SERVICE_REQUEST_TIMEOUT}, pause, resume{{}, ERROR_INVALID_HANDLE}, shutdown;
    HANDLE release = nullptr;                 // the event that a waiting hook waits for
    std::string startArguments;               // the count, then the first
    std::thread::id startThread, stopThread;  // where OnStart and OnStop ran

    // The hooks that ran, as "start 1, stop 3".
    std::string Calls() const {
        std::string text;
        for (auto [name, hook] : {std::pair{"start", &start},
                                  {"stop", &stop},
                                  {"pause", &pause},
                                  {"continue", &resume},
                                  {"shutdown", &shutdown}})
            if (hook->calls)
                text += (text.empty() ? "" : ", ") + std::string(name) + " " + std::to_string(hook->calls);
        return text;
    }

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override {
        startArguments = std::to_string(argc) + (argc > 0 ? " " + N(argv[0]) : "");
        startThread = std::this_thread::get_id();
        Run(start);
    }
    void OnStop() override {
        stopThread = std::this_thread::get_id();
        Run(stop);
    }
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
            case Act::WaitThenThrowCode: WaitForSingleObject(release, INFINITE); throw hook.code;
            case Act::Return: break;
        }
    }
};

// Every report carries the service type and accepted controls, no wait hint, and an
// exit code of 0 except, where the service stopped with one, the last. Every entry is
// filed under the service with category 0 and identifier 0, and carries two strings:
// the service name, then the message.
void ExpectFiledAsTheService(DWORD lastExitCode) {
    const std::vector<emu::StatusReport> reports = emu::StatusReports();
    for (size_t i = 0; i < reports.size(); ++i) {
        const SERVICE_STATUS& s = reports[i].status;
        EXPECT_EQ(std::make_tuple(s.dwServiceType, s.dwControlsAccepted, s.dwWin32ExitCode,
                                  s.dwServiceSpecificExitCode, s.dwWaitHint),
                  std::make_tuple(DWORD{SERVICE_WIN32_OWN_PROCESS}, allControls,
                                  i + 1 == reports.size() ? lastExitCode : 0u, 0u, 0u))
            << "report " << i;
    }
    for (const emu::EventEntry& e : emu::Events())
        EXPECT_EQ(std::make_tuple(N(e.source), e.category, e.id, e.strings.size(), N(e.strings.at(0))),
                  std::make_tuple(std::string("TestSvc"), WORD{0}, 0u, size_t{2}, std::string("TestSvc")));
}

// The controls that a case names: stop, pause, continue, shutdown, interrogate, or a
// number, sent as it is.
std::vector<DWORD> Controls(const std::string& names) {
    const std::map<std::string, DWORD> codes = {{"stop", SERVICE_CONTROL_STOP},
                                                {"pause", SERVICE_CONTROL_PAUSE},
                                                {"continue", SERVICE_CONTROL_CONTINUE},
                                                {"shutdown", SERVICE_CONTROL_SHUTDOWN},
                                                {"interrogate", SERVICE_CONTROL_INTERROGATE}};
    std::vector<DWORD> controls;
    std::istringstream words(names);
    for (std::string word; words >> word;)
        controls.push_back(codes.count(word) ? codes.at(word) : std::stoul(word));
    return controls;
}

class ServiceBase : public EmulatedMachine {};
class ServiceBaseDeathTest : public EmulatedMachine {};

}  // namespace

// A service whose hooks follow their plans gets these controls, each once the one
// before has been handled, from the moment it runs.
TEST_F(ServiceBase, ControlsMoveTheServiceAndFailingHooksFallBackAndAreLogged) {
    struct Case {
        const char* name;
        void (*arrange)(TestService&);
        const char* controls;
        const char* reports;
        DWORD exitCode;
        const char* events;  // the event messages, separated by " | "
        const char* calls;
    } cases[] = {
        {"start throws a code", [](TestService& s) { s.start.plan = {Act::ThrowCode}; }, "",
         "START_PENDING/1 STOPPED/0", ERROR_ACCESS_DENIED, "E Service Start failed w/err 0x00000005",
         "start 1"},
        {"start throws something else", [](TestService& s) { s.start.plan = {Act::ThrowOther}; }, "",
         "START_PENDING/1 STOPPED/0", 0, "E Service failed to start.", "start 1"},
        // The counter runs on over failed transitions: each STOP_PENDING carries a higher one.
        {"stops fail until one succeeds",
         [](TestService& s) {
             s.stop.plan = {Act::ThrowCode, Act::ThrowOther};
         },
         "stop stop stop",
         "START_PENDING/1 RUNNING/0 STOP_PENDING/2 RUNNING/0 STOP_PENDING/3 RUNNING/0 STOP_PENDING/4 "
         "STOPPED/0",
         0, "E Service Stop failed w/err 0x0000041d | E Service failed to stop.", "start 1, stop 3"},
        {"stop fails while paused", [](TestService& s) { s.stop.plan = {Act::ThrowCode}; }, "pause stop stop",
         "START_PENDING/1 RUNNING/0 PAUSE_PENDING/2 PAUSED/3 STOP_PENDING/4 PAUSED/5 STOP_PENDING/6 "
         "STOPPED/0",
         0, "E Service Stop failed w/err 0x0000041d", "start 1, stop 2, pause 1"},
        {"shutdowns fail and leave the status as it is",
         [](TestService& s) {
             s.shutdown.plan = {Act::ThrowCode, Act::ThrowOther};
         },
         "shutdown shutdown stop", "START_PENDING/1 RUNNING/0 STOP_PENDING/2 STOPPED/0", 0,
         "E Service Shutdown failed w/err 0x00000005 | E Service failed to shut down.",
         "start 1, stop 1, shutdown 2"},
        // Started, two failed pauses, paused, two failed continues, continued and stopped.
        {"pauses and continues fail",
         [](TestService& s) {
             s.pause.plan = s.resume.plan = {Act::ThrowCode, Act::ThrowOther};
         },
         "pause pause pause continue continue continue stop",
         "START_PENDING/1 RUNNING/0 PAUSE_PENDING/2 RUNNING/0 PAUSE_PENDING/3 RUNNING/0 PAUSE_PENDING/4 "
         "PAUSED/5 CONTINUE_PENDING/6 PAUSED/7 CONTINUE_PENDING/8 PAUSED/9 CONTINUE_PENDING/10 RUNNING/0 "
         "STOP_PENDING/11 STOPPED/0",
         0,
         "E Service Pause failed w/err 0x00000005 | E Service failed to pause. | "
         "E Service Continue failed w/err 0x00000006 | E Service failed to resume.",
         "start 1, stop 1, pause 3, continue 3"},
        {"interrogate and unknown codes", [](TestService&) {}, "interrogate 0 6 128 200 stop",
         "START_PENDING/1 RUNNING/0 STOP_PENDING/2 STOPPED/0", 0, "", "start 1, stop 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emu::Reset();
        TestService service;
        c.arrange(service);
        {
            DispatcherRun run(service);
            ASSERT_TRUE(!*c.controls || emu::WaitForStatus(SERVICE_RUNNING));
            for (DWORD control : Controls(c.controls)) emu::SendControl(control);
            ASSERT_TRUE(run.Finished());
            EXPECT_EQ(run.Error(), 0u);
            // The service main runs alone, controls on the thread that started the dispatcher.
            EXPECT_NE(service.startThread, run.Thread());
            EXPECT_TRUE(!service.stop.calls || service.stopThread == run.Thread());
        }
        EXPECT_EQ(ReportedStates(true), c.reports);
        std::string events;
        for (const std::string& message : EventMessages()) events += (events.empty() ? "" : " | ") + message;
        EXPECT_EQ(events, c.events);
        ExpectFiledAsTheService(c.exitCode);
        EXPECT_EQ(service.Calls(), c.calls);
        EXPECT_EQ(service.startArguments, "1 TestSvc");  // what the service manager gave the service main
        EXPECT_EQ(emu::OpenHandleCount(), 0u);
    }
}

// A control sent while a hook blocks waits until that transition has ended: a stop
// behind a pause or behind a start that has not yet reported RUNNING, and a shutdown,
// which START_PENDING accepts, behind the start; a shutdown then finds a failed start
// stopped. The dispatcher does not return meanwhile. The hook waits without a bound, so
// that the process is idle while it blocks; no check on the way stops the run, so that
// the release always comes.
TEST_F(ServiceBase, ControlWaitsForTheTransitionInProgress) {
    struct Case {
        const char* name;
        bool behindPause;  // else behind the start
        Act act;
        DWORD control;
        const char* reports;
        DWORD exitCode;
        const char* calls;
    } cases[] = {
        {"stop behind a pause", true, Act::WaitForRelease, SERVICE_CONTROL_STOP,
         "START_PENDING/1 RUNNING/0 PAUSE_PENDING/2 PAUSED/3 STOP_PENDING/4 STOPPED/0", 0,
         "start 1, stop 1, pause 1"},
        {"stop behind the start", false, Act::WaitForRelease, SERVICE_CONTROL_STOP,
         "START_PENDING/1 RUNNING/0 STOP_PENDING/2 STOPPED/0", 0, "start 1, stop 1"},
        {"shutdown behind the start", false, Act::WaitForRelease, SERVICE_CONTROL_SHUTDOWN,
         "START_PENDING/1 RUNNING/0 STOPPED/0", 0, "start 1, shutdown 1"},
        {"shutdown behind a failing start", false, Act::WaitThenThrowCode, SERVICE_CONTROL_SHUTDOWN,
         "START_PENDING/1 STOPPED/0", ERROR_ACCESS_DENIED, "start 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emu::Reset();
        UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(release);
        TestService service;
        (c.behindPause ? service.pause : service.start).plan = {c.act};
        service.release = release.get();
        DispatcherRun run(service);
        if (c.behindPause) {
            EXPECT_TRUE(emu::WaitForStatus(SERVICE_RUNNING));
            emu::SendControl(SERVICE_CONTROL_PAUSE);
        }
        EXPECT_TRUE(emu::WaitForStatus(c.behindPause ? SERVICE_PAUSE_PENDING : SERVICE_START_PENDING));
        emu::SendControl(c.control);
        EXPECT_TRUE(emu::WaitForIdle());
        EXPECT_EQ(ReportedStates(true),
                  c.behindPause ? "START_PENDING/1 RUNNING/0 PAUSE_PENDING/2" : "START_PENDING/1");
        EXPECT_FALSE(run.Finished(std::chrono::milliseconds(0)));
        EXPECT_EQ(service.stop.calls + service.shutdown.calls, 0u);
        SetEvent(release.get());
        ASSERT_TRUE(run.Finished());
        EXPECT_EQ(run.Error(), 0u);
        EXPECT_EQ(ReportedStates(true), c.reports);
        ExpectFiledAsTheService(c.exitCode);
        EXPECT_EQ(service.Calls(), c.calls);
    }
}

TEST_F(ServiceBase, EventWritersFileEveryEntryWithTwoStringsAndCutTheErrorText) {
    TestService service;
    service.LogError(TEXT("Service Pause"), 0x8007000E);                    // an HRESULT, E_OUTOFMEMORY
    service.LogError(emu::String(250, u'x').c_str(), ERROR_ACCESS_DENIED);  // 259 characters are kept
    EXPECT_THAT(EventMessages(), ElementsAre("E Service Pause failed w/err 0x8007000e",
                                             "E " + std::string(250, 'x') + " failed w"));
    ExpectFiledAsTheService(0);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);  // each entry opens and closes its source
}

TEST_F(ServiceBaseDeathTest, HandlerRegistrationFailureEndsTheProcessWithItsCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct TellingService : CServiceBase {
        TellingService() : CServiceBase(TEXT("TestSvc"), allControls) {}
        void OnStart(DWORD, LPWSTR*) override { std::fputs("OnStart ran\n", stderr); }
    };
    // A process that goes on to report, log or wait ends the child with 0 instead.
    EXPECT_EXIT(
        {
            emu::FailCall("RegisterServiceCtrlHandlerW", ERROR_INVALID_NAME);
            TellingService service;
            DispatcherRun run(service);
            emu::WaitForIdle();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(ERROR_INVALID_NAME), ::testing::Not(::testing::HasSubstr("ran")));
}
