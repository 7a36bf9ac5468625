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

// The key of the default machine's one instance (examples/typical.json).
const emu::String parametersKey =
    u"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1&2b3c4d5e&0\\Device Parameters";

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

TEST_F(CalibrationService, CompleteFirmwareIsPublishedOnTheFirstAttemptWithoutSleeping) {
    sim::Apply(sim::DefaultMachine());
    EXPECT_EQ(sim::RunServiceProcess({}), 0);
    EXPECT_EQ(emu::NowMs(), 0u);
    EXPECT_EQ(EventMessages(), (Texts{"I Noxel ALS Service in OnStart", "I Update parameters successfully!",
                                      "I Noxel ALS Service in OnStop"}));
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
