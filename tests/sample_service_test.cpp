// The calibration service run whole, on the virtual clock: what the service manager,
// the event log, the registry and the text log see.
#include <gmock/gmock.h>

#include "simulation/log_entries.h"
#include "simulation/machine_file.h"
#include "simulation/run.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;

namespace {

using Texts = std::vector<std::string>;

// The default machine's one instance and its key (examples/typical.json).
const char* const instanceKey = "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1&2b3c4d5e&0";
const emu::String parametersKey = W(instanceKey) + u"\\Device Parameters";

class CalibrationService : public EmulatedMachine {};

}  // namespace

// Whole lives from the entry point, as the simulator drives them, over a previous run's
// log. Giving up is said once, right after attempt 30 (at 290 s): an error entry naming
// the step that failed last and its code, and the same line last in the text log. A stop
// before the last attempt, or a success on it, says nothing of the kind.
TEST_F(CalibrationService, GivingUpNamesTheLastFailedStepOnceInTheEventLogAndTheTextLog) {
    const std::u16string published[] = {u"SOURCE LUX: 1000\r\n", u"SENSOR LUX: 300\r\n",
                                        u"ALR Table: 5,10,100,150,1000,800\r\n",
                                        u"CHANGE SENSITIVITY: 40\r\n", u"ALS FLAG: 1\r\n"};
    struct Case {
        const char* life;
        void (*change)(sim::MachineDescription&);
        std::string entry;                       // between OnStart and OnStop, if any
        std::vector<std::u16string> lines = {};  // in the text log: of each failed attempt, or of the life
        std::optional<uint64_t> stopAfterMs = std::nullopt;
    } cases[] = {
        {"empty firmware", [](sim::MachineDescription& m) { m.firmware.clear(); },
         "E Gave up after 30 attempts: read CALIBRATE failed w/err 0x000000cb"},
        {"privilege left out of the list",
         [](sim::MachineDescription& m) { m.requiredPrivileges = {"SeShutdownPrivilege"}; },
         "E Gave up after 30 attempts: read CALIBRATE failed w/err 0x00000522"},
        {"no Device Parameters key",
         [](sim::MachineDescription& m) { m.registryKeys = {instanceKey}; },
         "E Gave up after 30 attempts: open " + N(parametersKey) + " failed w/err 0x00000002",
         {u"Fail to open " + parametersKey + u"\r\n"}},
        // A curve never read is never written, so its read fails each attempt; the flag's does not.
        {"no ALR_CURVE, ALS_FLAG refused",
         [](sim::MachineDescription& m) {
             m.faults = {{"GetFirmwareEnvironmentVariableW", 203, "ALR_CURVE"},
                         {"RegSetValueExW", 5, "ALS_FLAG"}};
         },
         "E Gave up after 30 attempts: read ALR_CURVE failed w/err 0x000000cb",
         {u"Error to Retrieve ALR Curve! ErrorCode: 203: "
          u"The system could not find the environment option that was entered.\r\n",
          published[0], published[1], published[3], u"Fail to set Sensor Range!"}},
        // The stop comes in the sleep before attempt 30, which is then never made.
        {"stopped at 285 s", [](sim::MachineDescription& m) { m.firmware.clear(); }, "", {}, 285000},
        {"published on attempt 30",
         [](sim::MachineDescription& m) {
             m.faults = {{"GetFirmwareEnvironmentVariableW", 203, {}, 1, 29}};
         },
         "I Update parameters successfully!",
         {std::begin(published), std::end(published)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.life);
        sim::MachineDescription machine = sim::DefaultMachine();
        c.change(machine);
        // A life of its own, with the record as at process start. The attempt count is not
        // reset here: each life starts from what OnStop left, which must be 0.
        emu::Reset();
        CalibrationParameters = CalibrationRecord{};
        sim::Apply(machine);
        emu::WriteFileBytes(logPath, emu::StringBytes(u"[old"));  // a previous run's, to be gone
        sim::RunOptions options;
        options.stopAfterMs = c.stopAfterMs;
        EXPECT_EQ(sim::RunServiceProcess(options), 0);
        EXPECT_EQ(emu::FirmwareReads().back().timeMs, c.stopAfterMs ? 280000u : 290000u);

        Texts events = {"I Noxel ALS Service in OnStart", "I Noxel ALS Service in OnStop"};
        if (!c.entry.empty()) events.insert(events.begin() + 1, c.entry);
        EXPECT_EQ(EventMessages(), events);
        const logentries::Entries log = logentries::Read(emu::FileBytes(logPath));
        EXPECT_EQ(log.fault, "");
        const bool gaveUp = c.entry.rfind("E Gave up", 0) == 0;
        std::vector<std::u16string> expected;
        for (int i = 0; i < (gaveUp ? 30 : 1); ++i)
            expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        if (gaveUp) {
            expected.push_back(W(c.entry.substr(2).c_str()) + u"\r\n");
            EXPECT_EQ(emu::Events().at(1).timeMs, 290000u);
        }
        EXPECT_EQ(log.messages, expected);
    }
}

TEST_F(CalibrationService, CompleteFirmwareIsPublishedOnTheFirstAttemptWithoutSleeping) {
    sim::MachineDescription machine = sim::DefaultMachine();
    for (auto& [name, bytes] : machine.firmware)
        if (name == "ALS_FLAG") bytes = {0};  // not the record's 1 from process start
    sim::Apply(machine);
    EXPECT_EQ(sim::RunServiceProcess({}), 0);
    EXPECT_EQ(emu::NowMs(), 0u);
    EXPECT_EQ(EventMessages(), (Texts{"I Noxel ALS Service in OnStart", "I Update parameters successfully!",
                                      "I Noxel ALS Service in OnStop"}));
    EXPECT_THAT(Described(parametersKey),
                ElementsAre("ALS_SRC dword 1000", "ALS_CAL dword 300",
                            "ALR_CURVE sz 5,10,100,150,1000,800\\0", "ALS_CS dword 40", "ALS_FLAG dword 0"));
    EXPECT_EQ(ReportedStates(), "START_PENDING/1 RUNNING/0 STOP_PENDING/2 STOPPED/0");
    // A normal stop adds no failure line to the usage.
    EXPECT_EQ(emu::ConsoleText(),
              "Parameters:\n -install  to install the service.\n -remove   to remove the service.\n");
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

// The event log is no condition of the transfer: without it the values are published all
// the same.
TEST_F(CalibrationService, PublishesWithoutAnEventLog) {
    sim::Apply(sim::DefaultMachine());
    emu::FailCall("RegisterEventSourceW", RPC_S_SERVER_UNAVAILABLE, 1, 0);
    EXPECT_EQ(sim::RunServiceProcess({}), 0);
    EXPECT_TRUE(emu::Events().empty());
    EXPECT_EQ(Described(parametersKey).size(), 5u);
}
