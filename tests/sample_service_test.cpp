// The calibration service run whole, on the virtual clock: what the service manager,
// the event log, the registry and the text log see.
#include <gmock/gmock.h>

#include "tests/test_support.h"
#include "tools/log_entries.h"
#include "tools/simulator/machine_file.h"
#include "tools/simulator/run.h"

using ::testing::ElementsAre;

namespace {

using Texts = std::vector<std::string>;

// The default machine's one instance and its key (examples/typical.json).
const char* const instanceKey = "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1&2b3c4d5e&0";
const emu::String parametersKey = W(instanceKey) + u"\\Device Parameters";

class CalibrationService : public EmulatedMachine {};

}  // namespace

// A whole life from the entry point, as the simulator drives it: the worker ends by
// itself or is stopped, and the process ends. What the life leaves is asserted after.
TEST_F(CalibrationService, MissingAlrCurveLogsEveryAttemptAndNeverSucceeds) {
    sim::Apply(sim::DefaultMachine());
    emu::RemoveFirmwareVariable(u"ALR_CURVE", vendorGuid);
    emu::WriteFileBytes(logPath, emu::StringBytes(u"[old"));  // a previous run's log
    sim::WorkerEnd workerEnd;
    EXPECT_EQ(sim::RunServiceProcess({}, &workerEnd), 0);
    EXPECT_TRUE(workerEnd.byItself);

    // Whole entries from the first byte on, so nothing of the old log is left.
    const logentries::Entries log = logentries::Read(emu::FileBytes(logPath));
    EXPECT_EQ(log.fault, "");
    // The curve has never been read, so its read is the step that fails every attempt.
    const std::vector<std::u16string> attempt = {
        u"Error to Retrieve ALR Curve! ErrorCode: 203: "
        u"The system could not find the environment option that was entered.\r\n",
        u"SOURCE LUX: 1000\r\n", u"SENSOR LUX: 300\r\n", u"CHANGE SENSITIVITY: 40\r\n", u"ALS FLAG: 1\r\n"};
    std::vector<std::u16string> expected;
    for (int i = 0; i < 30; ++i) expected.insert(expected.end(), attempt.begin(), attempt.end());
    expected.push_back(u"Gave up after 30 attempts: read ALR_CURVE failed w/err 0x000000cb\r\n");
    EXPECT_EQ(log.messages, expected);
    EXPECT_EQ(emu::NowMs(), 300000u);
    EXPECT_THAT(Described(parametersKey), ElementsAre("ALS_SRC dword 1000", "ALS_CAL dword 300",
                                                      "ALS_CS dword 40", "ALS_FLAG dword 1"));
    EXPECT_EQ(EventMessages(), (Texts{"I Noxel ALS Service in OnStart",
                                      "E Gave up after 30 attempts: read ALR_CURVE failed w/err 0x000000cb",
                                      "I Noxel ALS Service in OnStop"}));
}

// Giving up is said once, right after attempt 30 (at 290 s): one error entry, with
// identifier 0 and the service's name as every entry, that names the step that failed
// last and its code, and the same line last in the text log. A stop before the last
// attempt, or a success on it, writes none.
TEST_F(CalibrationService, GivingUpNamesTheLastFailedStepOnceInTheEventLogAndTheTextLog) {
    const std::string key = std::string(instanceKey) + "\\Device Parameters";
    struct Case {
        const char* life;
        void (*change)(sim::MachineDescription&);
        std::string entry;  // between OnStart and OnStop, if any
        std::optional<uint64_t> stopAfterMs = std::nullopt;
    } cases[] = {
        {"empty firmware", [](sim::MachineDescription& m) { m.firmware.clear(); },
         "E Gave up after 30 attempts: read CALIBRATE failed w/err 0x000000cb"},
        {"privilege not held", [](sim::MachineDescription& m) { m.privilegeHeld = false; },
         "E Gave up after 30 attempts: read CALIBRATE failed w/err 0x00000522"},
        {"no Device Parameters key", [](sim::MachineDescription& m) { m.registryKeys = {instanceKey}; },
         "E Gave up after 30 attempts: open " + key + " failed w/err 0x00000002"},
        // The flag's write fails later, but a complete publication does not need the flag.
        {"ALS_CS and ALS_FLAG refused",
         [](sim::MachineDescription& m) {
             m.faults = {{"RegSetValueExW", ERROR_ACCESS_DENIED, "ALS_CS"},
                         {"RegSetValueExW", ERROR_ACCESS_DENIED, "ALS_FLAG"}};
         },
         "E Gave up after 30 attempts: set ALS_CS in " + key + " failed w/err 0x00000005"},
        // The stop comes in the sleep before attempt 30, which is then never made.
        {"stopped at 285 s", [](sim::MachineDescription& m) { m.firmware.clear(); }, "", 285000},
        {"published on attempt 30",
         [](sim::MachineDescription& m) {
             m.faults = {{"GetFirmwareEnvironmentVariableW", 203, {}, 1, 29}};
         },
         "I Update parameters successfully!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.life);
        sim::MachineDescription machine = sim::DefaultMachine();
        c.change(machine);
        emu::Reset();  // a life of its own, with the record as at process start
        CalibrationParameters = CalibrationRecord{};
        sim::Apply(machine);
        sim::RunOptions options;
        options.stopAfterMs = c.stopAfterMs;
        EXPECT_EQ(sim::RunServiceProcess(options), 0);
        EXPECT_EQ(emu::FirmwareReads().back().timeMs, c.stopAfterMs ? 280000u : 290000u);

        Texts events = {"I Noxel ALS Service in OnStart", "I Noxel ALS Service in OnStop"};
        if (!c.entry.empty()) events.insert(events.begin() + 1, c.entry);
        EXPECT_EQ(EventMessages(), events);
        const logentries::Entries log = logentries::Read(emu::FileBytes(logPath));
        const bool gaveUp = c.entry.rfind("E Gave up", 0) == 0;
        EXPECT_EQ(std::count_if(log.messages.begin(), log.messages.end(),
                                [](const std::u16string& m) { return m.rfind(u"Gave up", 0) == 0; }),
                  gaveUp ? 1 : 0);
        if (!gaveUp) continue;
        EXPECT_EQ(N(log.timestamps.back() + log.messages.back()),
                  "[20260314-09:34:50]" + c.entry.substr(2) + "\r\n");
        const emu::EventEntry entry = emu::Events().at(1);
        EXPECT_EQ(N(entry.strings.at(0)), "Noxel_ALS_Service");
        EXPECT_EQ(entry.id, 0u);
        EXPECT_EQ(entry.timeMs, 290000u);
    }
}

TEST_F(CalibrationService, CompleteFirmwareIsPublishedOnTheFirstAttemptWithoutSleeping) {
    sim::Apply(sim::DefaultMachine());
    EXPECT_EQ(sim::RunServiceProcess({}), 0);
    EXPECT_EQ(emu::NowMs(), 0u);
    EXPECT_EQ(EventMessages(), (Texts{"I Noxel ALS Service in OnStart", "I Update parameters successfully!",
                                      "I Noxel ALS Service in OnStop"}));
    EXPECT_EQ(LogText(),
              Entries({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n", "ALR Table: 5,10,100,150,1000,800\r\n",
                       "CHANGE SENSITIVITY: 40\r\n", "ALS FLAG: 1\r\n"}));
    EXPECT_THAT(Described(parametersKey),
                ElementsAre("ALS_SRC dword 1000", "ALS_CAL dword 300",
                            "ALR_CURVE sz 5,10,100,150,1000,800\\0", "ALS_CS dword 40", "ALS_FLAG dword 1"));
    EXPECT_EQ(ReportedStates(), "START_PENDING/1 RUNNING/0 STOP_PENDING/2 STOPPED/0");
    for (const emu::StatusReport& report : emu::StatusReports())
        EXPECT_EQ(report.status.dwControlsAccepted, DWORD{SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN});
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(CalibrationService, FailedQueuingStopsTheServiceWithTheCodeAndEndsTheProcess) {
    emu::FailCall("QueueUserWorkItem", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(sim::RunServiceProcess({}), 0);
    EXPECT_EQ(ReportedStates(), "START_PENDING/1 STOPPED/0");
    EXPECT_EQ(emu::StatusReports().back().status.dwWin32ExitCode, DWORD{ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(EventMessages(),
              (Texts{"I Noxel ALS Service in OnStart", "E Service Start failed w/err 0x00000008"}));
}
