// The fault sweep's own judgement: what counts as a whole log, and which findings
// its table of expected outcomes lets pass.
#include "tests/test_support.h"
#include "tests/sweep/sweep.h"

namespace {

TEST(FaultSweep, LogOfWholeEntriesOnly) {
    struct Case {
        std::u16string_view log;
        bool whole;
    } cases[] = {
        {u"", true},
        {u"[20260314-09:30:00]SOURCE LUX: 1000\r\n[20260314-09:30:00]Fail to set Sensor "
         u"Lux![20260314-09:30:00]ALS "
         u"FLAG: 1\r\n",
         true},
        {u"[20260314-09:30:00][20260314-09:30:00]SOURCE LUX: 1000\r\n", false},  // a bare timestamp
        {u"[20260314-09:30:00]SOURCE LUX: 1000\r\nSENSOR LUX: 300\r\n", false},  // a bare message glued on
        {u"[20260314-09:30:00]Fail to set Source Lux!SENSOR LUX: 300\r\n", false},
        {u"SOURCE LUX: 1000\r\n", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sweep::CheckLog(Utf16le(c.log)).empty(), c.whole) << emu::Narrow(c.log);
}

TEST(FaultSweep, OnlyTheTableMakesAFindingExpected) {
    sweep::Life life{"install", {}, {}};
    life.run.consoleOption = u"-install";
    struct Case {
        emu::Operation operation;
        unsigned openHandles;
        bool failed;
    } cases[] = {
        {emu::Operation::CloseServiceHandle, 1, false},  // the handle whose close failed
        {emu::Operation::CloseServiceHandle, 2, true},   // and one more
        {emu::Operation::OpenServiceW, 1, true},
    };
    for (const Case& c : cases) {
        sweep::Ending ending;
        ending.observed = true;
        ending.observation.openHandles = c.openHandles;
        ending.observation.failedCalls = 1;
        const sweep::Case fault{c.operation, 1, sweep::Mode::Once, ERROR_ACCESS_DENIED};
        const sweep::Verdict verdict = sweep::Judge(life, fault, ending, {});
        EXPECT_EQ(verdict.failed, c.failed)
            << emu::Describe(c.operation).name << ", " << c.openHandles << " open";
        ASSERT_EQ(verdict.findings.size(), 1u);
        EXPECT_EQ(verdict.findings.front(), sweep::Finding::HandleLeft);
    }
}

}  // namespace
