// The calibration record carried into every instance's Device Parameters key: the
// values written, the text-log line of each write, and where a publication ends.
#include <cstdio>

#include "tests/test_support.h"

namespace {

const emu::String base6120 = u"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\";
const emu::String parameters1 = base6120 + u"1\\Device Parameters";
const emu::String parameters2 = base6120 + u"2\\Device Parameters";

const std::vector<std::string> calibratedValues = {"ALS_SRC dword 1000", "ALS_CAL dword 300",
                                                   "ALR_CURVE sz 5,10,100,150\\0", "ALS_CS dword 40",
                                                   "ALS_FLAG dword 0"};
const std::vector<std::string> calibratedLines = {"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n",
                                                  "ALR Table: 5,10,100,150\r\n", "CHANGE SENSITIVITY: 40\r\n",
                                                  "ALS FLAG: 0\r\n"};
const std::string calibratedRun = Entries(calibratedLines);
// An instance whose ALS_SRC was refused: incomplete.
const std::string incompleteRun = Entries({"Fail to set Source Lux!", calibratedLines[1], calibratedLines[2],
                                           calibratedLines[3], calibratedLines[4]});

class Publication : public CalibrationMachine {
protected:
    void SetUp() override { FreshCase(); }
    // A fresh machine, and the record as a complete firmware read leaves it.
    void FreshCase() {
        FreshMachine();
        CalibrationParameters = {.sourceLux = 1000,
                                 .sensorLux = 300,
                                 .changeSensitivity = 40,
                                 .alsFlag = 0,
                                 .alrPresent = 1,
                                 .alrText = u"5,10,100,150"};
    }
};

// The step that the entry names if the worker gives up after this attempt, and its code.
std::string FailedStep() {
    char code[16];
    std::snprintf(code, sizeof code, " 0x%08lx", static_cast<unsigned long>(lastFailure.error));
    return lastFailure.step[0] ? N(lastFailure.step) + code : "";
}

// Every write and every failure has its line in the text log, so the log shows which
// values each instance received and where the publication ended; the last failure is
// the step a give-up entry names.
TEST_F(Publication, MissingKeysAndFailingCallsEachHaveTheirLine) {
    const std::string longest(255, 'I');  // the longest key name the registry allows
    const std::string base = N(base6120);
    const std::string openFailed = "Fail to open " + base;
    const std::string enumerate = "enumerate " + base + " 0x00000005", open = "open " + base;
    const std::vector<emu::String> twoInstances = {parameters1, parameters2};
    struct Case {
        const char* name;
        std::vector<emu::String> keys;
        void (*fault)();
        bool result;
        std::string log;
        std::string failed;
    } cases[] = {
        {"no base key",
         {},
         [] {},
         false,
         Entries({"Fail to open registry subkey - SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\\r\n"}),
         open + " 0x00000002"},
        {"no instances",
         {base6120},
         [] {},
         false,
         Entries({"Fail to query registry information.\r\n"}),
         "enumerate " + base + " 0x00000103"},
        {"second of three instances without Device Parameters",
         {parameters1, base6120 + u"2", base6120 + u"3\\Device Parameters"},
         [] {},
         true,
         calibratedRun + Entries({openFailed + "2\\Device Parameters\r\n"}),
         open + "2\\Device Parameters 0x00000002"},
        {"first instance without Device Parameters",
         {base6120 + u"1", parameters2},
         [] {},
         false,
         Entries({openFailed + "1\\Device Parameters\r\n"}),
         open + "1\\Device Parameters 0x00000002"},
        {"longest instance name",
         {base6120 + W(longest.c_str())},
         [] {},
         false,
         Entries({openFailed + longest + "\\Device Parameters\r\n"}),
         open + longest + "\\Device Parameters 0x00000002"},
        // The count stays 0, so a failed query reads as a key without instances.
        {"query fails", twoInstances, [] { emu::FailCall("RegQueryInfoKeyW", ERROR_ACCESS_DENIED); }, false,
         Entries({"Fail to query registry information.\r\n"}), "query " + base + " 0x00000005"},
        {"first enumeration fails", twoInstances, [] { emu::FailCall("RegEnumKeyExW", ERROR_ACCESS_DENIED); },
         false, Entries({"Fail to enumerate subkeys.\r\n"}), enumerate},
        {"second enumeration fails", twoInstances,
         [] { emu::FailCall("RegEnumKeyExW", ERROR_ACCESS_DENIED, 2); }, true,
         calibratedRun + Entries({"Fail to enumerate subkeys.\r\n"}), enumerate},
        // Where the publication ends early, an incomplete first instance still fails it.
        {"second enumeration fails after an incomplete first", twoInstances,
         [] {
             emu::FailCall("RegSetValueExW", ERROR_ACCESS_DENIED);
             emu::FailCall("RegEnumKeyExW", ERROR_ACCESS_DENIED, 2);
         },
         false, incompleteRun + Entries({"Fail to enumerate subkeys.\r\n"}), enumerate},
        {"second without Device Parameters after an incomplete first",
         {parameters1, base6120 + u"2"},
         [] { emu::FailCall("RegSetValueExW", ERROR_ACCESS_DENIED); },
         false,
         incompleteRun + Entries({openFailed + "2\\Device Parameters\r\n"}),
         open + "2\\Device Parameters 0x00000002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCase();
        for (const emu::String& key : c.keys) emu::CreateKey(key);
        c.fault();
        EXPECT_EQ(service->PublishParameters(), c.result);
        EXPECT_EQ(LogText(), c.log);
        EXPECT_EQ(FailedStep(), c.failed);
    }
    // Each value refused at the first of two instances: its line, which has no line end,
    // takes the place of the value's. The second instance receives all five, yet the value
    // still lacks from the first, so only the flag may be missing for a success.
    const char* failureLines[] = {"Fail to set Source Lux!", "Fail to set Sensor Lux!",
                                  "Fail to set ALR Table!", "Fail to set Change Sensitivity!",
                                  "Fail to set Sensor Range!"};
    for (unsigned value = 0; value < 5; ++value) {
        SCOPED_TRACE(failureLines[value]);
        FreshCase();
        for (const emu::String& key : twoInstances) emu::CreateKey(key);
        emu::FailCall("RegSetValueExW", ERROR_ACCESS_DENIED, value + 1);
        std::vector<std::string> lines = calibratedLines;
        lines[value] = failureLines[value];
        EXPECT_EQ(service->PublishParameters(), value == 4);
        EXPECT_EQ(LogText(), Entries(lines) + calibratedRun);
        EXPECT_EQ(Described(parameters2), calibratedValues);
        const std::string name = calibratedValues[value].substr(0, calibratedValues[value].find(' '));
        EXPECT_EQ(FailedStep(), value == 4 ? "" : "set " + name + " in " + N(parameters1) + " 0x00000005");
    }
}

// A curve of no pairs is an empty text, stored with its terminator.
TEST_F(Publication, EmptyCurveIsStoredWithItsTerminator) {
    emu::CreateKey(parameters1);
    CalibrationParameters.alrText[0] = 0;
    EXPECT_TRUE(service->PublishParameters());
    EXPECT_EQ(Described(parameters1).at(2), "ALR_CURVE sz \\0");
}

}  // namespace
