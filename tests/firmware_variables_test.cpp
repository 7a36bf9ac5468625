// The four firmware variables decoded into the calibration record: sizes, bounds,
// erased bytes, and the ALR curve's text and failure lines.
#include <map>

#include "tests/test_support.h"

namespace {

emu::Bytes Curve(std::initializer_list<std::pair<uint16_t, uint16_t>> entries) {
    emu::Bytes bytes;
    for (auto [lux, value] : entries)
        for (uint16_t half : {lux, value}) {
            bytes.push_back(static_cast<uint8_t>(half));
            bytes.push_back(static_cast<uint8_t>(half >> 8));
        }
    bytes.resize(40, 0xAB);
    return bytes;
}

// The four numbers of the record, so that a read shows what it changed and what not.
std::string Record() {
    const CalibrationRecord& r = CalibrationParameters;
    return "SRC " + std::to_string(r.sourceLux) + " CAL " + std::to_string(r.sensorLux) + " CS " +
           std::to_string(r.changeSensitivity) + " FLAG " + std::to_string(r.alsFlag);
}

class FirmwareVariables : public CalibrationMachine {
protected:
    std::string AlrText() const { return N(CalibrationParameters.alrText); }
};

TEST_F(FirmwareVariables, EachReadDecodesItsVariableOrKeepsTheRecord) {
    struct Case {
        const char16_t* variable;
        emu::Bytes stored;
        bool read;
        const char* record;
    } cases[] = {
        {u"CALIBRATE", {0x90, 0x01, 0x2C, 0x01}, true, "SRC 400 CAL 300 CS 25 FLAG 1"},
        {u"CALIBRATE", {0x10, 0x00, 0x20}, false, "SRC 400 CAL 300 CS 25 FLAG 1"},
        {u"CALIBRATE", {0x10, 0x00, 0x20, 0x00, 0x30}, false, "SRC 400 CAL 300 CS 25 FLAG 1"},
        // Only the first byte of ALS_CS counts; 0xFF is an erased byte.
        {u"ALS_CS", {0, 0x7F, 0xFF, 0x01}, true, "SRC 400 CAL 300 CS 1 FLAG 1"},
        {u"ALS_CS", {101, 0x7F, 0xFF, 0x01}, true, "SRC 400 CAL 300 CS 100 FLAG 1"},
        {u"ALS_CS", {255, 0x7F, 0xFF, 0x01}, true, "SRC 400 CAL 300 CS 25 FLAG 1"},
        {u"ALS_CS", {42, 0x7F, 0xFF, 0x01}, true, "SRC 400 CAL 300 CS 42 FLAG 1"},
        {u"ALS_CS", {7}, false, "SRC 400 CAL 300 CS 42 FLAG 1"},
        {u"ALS_FLAG", {0}, true, "SRC 400 CAL 300 CS 42 FLAG 0"},
        {u"ALS_FLAG", {0xFF}, true, "SRC 400 CAL 300 CS 42 FLAG 1"},
        {u"ALS_FLAG", {254}, true, "SRC 400 CAL 300 CS 42 FLAG 254"},
        {u"ALS_FLAG", {0, 0}, false, "SRC 400 CAL 300 CS 42 FLAG 254"},
    };
    const std::map<std::u16string, bool (*)()> reads = {
        {u"CALIBRATE", ReadCalibrate}, {u"ALS_CS", ReadChangeSensitivity}, {u"ALS_FLAG", ReadAlsFlag}};
    for (const Case& c : cases) {
        std::string name = N(c.variable);
        for (uint8_t byte : c.stored) name += " " + std::to_string(byte);
        SCOPED_TRACE(name);
        emu::SetFirmwareVariable(c.variable, vendorGuid, c.stored);
        EXPECT_EQ(reads.at(c.variable)(), c.read);
        EXPECT_EQ(Record(), c.record);
    }
    EXPECT_TRUE(emu::PrivilegeEnabled());
}

TEST_F(FirmwareVariables, AlrPairsUpToTheTerminatorBecomeTextThatAFailedReadKeeps) {
    const std::pair<emu::Bytes, const char*> cases[] = {
        {Curve({{5, 10}, {100, 150}, {0xFFFF, 0xFFFF}, {7, 8}}), "5,10,100,150"},
        // The terminator first gives an empty text, and the curve still counts as read.
        {Curve({{0xFFFF, 0xFFFF}, {5, 10}}), ""},
        // Without a terminator all ten pairs are listed; half a terminator is a number.
        {Curve({{0xFFFF, 0},
                {1, 0xFFFF},
                {20, 30},
                {65534, 65535},
                {0, 0},
                {4, 5},
                {600, 700},
                {8000, 9000},
                {65535, 1},
                {10, 11}}),
         "65535,0,1,65535,20,30,65534,65535,0,0,4,5,600,700,8000,9000,65535,1,10,11"},
    };
    for (const auto& [curve, text] : cases) {
        emu::SetFirmwareVariable(u"ALR_CURVE", vendorGuid, curve);
        EXPECT_TRUE(service->ReadAlrCurve()) << text;
        EXPECT_EQ(AlrText(), text);
        EXPECT_EQ(CalibrationParameters.alrPresent, 1u) << text;
    }
    EXPECT_FALSE(emu::FileExists(logPath));
    // A failed read keeps the last curve read; its line is the next test's.
    const std::string last = AlrText();
    emu::RemoveFirmwareVariable(u"ALR_CURVE", vendorGuid);
    EXPECT_FALSE(service->ReadAlrCurve());
    EXPECT_EQ(AlrText(), last);
    EXPECT_EQ(CalibrationParameters.alrPresent, 1u);
}

TEST_F(FirmwareVariables, FailedAlrReadLogsTheCodeAndItsText) {
    struct Case {
        const char* name;
        void (*arrange)();
        const char* line;
    } cases[] = {
        // A short variable is read without error; the line names it as invalid data.
        {"too short", [] { emu::SetFirmwareVariable(u"ALR_CURVE", vendorGuid, emu::Bytes(36, 1)); },
         "13: The data is invalid.\r\n"},
        {"privilege not held",
         [] {
             emu::SetFirmwareVariable(u"ALR_CURVE", vendorGuid, Curve({}));
             emu::SetPrivilegeHeld(false);
         },
         "1314: A required privilege is not held by the client.\r\n"},
        {"system text unavailable", [] { emu::FailCall("FormatMessageW", ERROR_NOT_ENOUGH_MEMORY); },
         "203: Unknown error.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        c.arrange();

        EXPECT_FALSE(service->ReadAlrCurve());

        EXPECT_EQ(LogText(),
                  std::string("[20260314-09:30:00]Error to Retrieve ALR Curve! ErrorCode: ") + c.line);
        EXPECT_EQ(CalibrationParameters.alrPresent, 0u);
        EXPECT_EQ(AlrText(), "");
    }
}

}  // namespace
