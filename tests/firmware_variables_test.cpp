#include <gmock/gmock.h>

#include <functional>
#include <memory>

#include "calibration/firmware_variables.h"
#include "calibration/sample_service.h"
#include "calibration/text_log.h"
#include "tests/test_support.h"

using ::testing::IsEmpty;

namespace {

const emu::String vendor = u"{BF82486A-80F7-4733-B82C-066BD8F2534B}";

std::string LogText() {
    const emu::Bytes bytes = emu::FileBytes(logFilePath);
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    return N(text);
}

// An ALR_CURVE variable from (lux, value) entries, padded with 0xAB bytes to 40.
emu::Bytes Curve(std::initializer_list<std::pair<uint16_t, uint16_t>> entries) {
    emu::Bytes bytes;
    for (auto [lux, value] : entries) {
        bytes.push_back(static_cast<uint8_t>(lux));
        bytes.push_back(static_cast<uint8_t>(lux >> 8));
        bytes.push_back(static_cast<uint8_t>(value));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
    }
    bytes.resize(40, 0xAB);
    return bytes;
}

class FirmwareVariables : public EmulatedMachine {
protected:
    void SetUp() override {
        EmulatedMachine::SetUp();
        // The record as at process start, also when tests share one process.
        CalibrationParameters = CalibrationRecord{};
    }
};

TEST_F(FirmwareVariables, CalibrateGivesLittleEndianSourceAndSensorLux) {
    emu::SetFirmwareVariable(u"CALIBRATE", vendor, {0xE8, 0x03, 0x2C, 0x01});

    EXPECT_TRUE(ReadCalibrate());

    EXPECT_EQ(CalibrationParameters.sourceLux, 1000u);
    EXPECT_EQ(CalibrationParameters.sensorLux, 300u);
    EXPECT_TRUE(emu::PrivilegeEnabled());
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(FirmwareVariables, CalibrateOfAnyOtherSizeFailsAndKeepsTheLux) {
    for (const emu::Bytes& wrong : {emu::Bytes{0x10, 0x00, 0x20}, emu::Bytes{0x10, 0x00, 0x20, 0x00, 0x30}}) {
        emu::SetFirmwareVariable(u"CALIBRATE", vendor, wrong);
        EXPECT_FALSE(ReadCalibrate()) << wrong.size() << " bytes";
        EXPECT_EQ(CalibrationParameters.sourceLux, 1000u);
        EXPECT_EQ(CalibrationParameters.sensorLux, 1000u);
    }

    emu::SetFirmwareVariable(u"CALIBRATE", vendor, {0x90, 0x01, 0x2C, 0x01});
    ASSERT_TRUE(ReadCalibrate());
    emu::SetFirmwareVariable(u"CALIBRATE", vendor, {0x10, 0x00, 0x20, 0x00, 0x30});
    EXPECT_FALSE(ReadCalibrate());
    EXPECT_EQ(CalibrationParameters.sourceLux, 400u);
    EXPECT_EQ(CalibrationParameters.sensorLux, 300u);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(FirmwareVariables, ReadsFailWithoutTheVariableItsVendorUefiOrPrivilege) {
    emu::SetFirmwareVariable(u"CALIBRATE", vendor, {1, 0, 2, 0});
    emu::SetFirmwareVariable(u"ALS_CS", vendor, {50, 0, 0, 0});
    emu::SetFirmwareVariable(u"ALS_FLAG", vendor, {0});
    emu::SetPrivilegeHeld(false);
    EXPECT_FALSE(ReadCalibrate());
    EXPECT_FALSE(ReadChangeSensitivity());
    EXPECT_FALSE(ReadAlsFlag());

    emu::SetPrivilegeHeld(true);
    emu::SetUefiPresent(false);
    EXPECT_FALSE(ReadCalibrate());
    EXPECT_FALSE(ReadChangeSensitivity());
    EXPECT_FALSE(ReadAlsFlag());

    emu::SetUefiPresent(true);
    emu::RemoveFirmwareVariable(u"CALIBRATE", vendor);
    EXPECT_FALSE(ReadCalibrate());
    emu::SetFirmwareVariable(u"CALIBRATE", u"{00000000-0000-0000-0000-000000000000}", {1, 0, 2, 0});
    EXPECT_FALSE(ReadCalibrate());

    EXPECT_EQ(CalibrationParameters.sourceLux, 1000u);
    EXPECT_EQ(CalibrationParameters.sensorLux, 1000u);
    EXPECT_EQ(CalibrationParameters.changeSensitivity, 25u);
    EXPECT_EQ(CalibrationParameters.alsFlag, 1u);
    EXPECT_FALSE(emu::FileExists(logFilePath));  // only the ALR read reports a failure
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(FirmwareVariables, ChangeSensitivityIsBoundedAndErasedByteMeansUncalibrated) {
    // Each case moves the value away from the one before, so a kept value shows.
    const std::pair<uint8_t, DWORD> cases[] = {{0, 1}, {101, 100}, {255, 25}, {254, 100}, {1, 1}, {100, 100}, {42, 42}};
    for (auto [stored, expected] : cases) {
        emu::SetFirmwareVariable(u"ALS_CS", vendor, {stored, 0x7F, 0xFF, 0x01});
        EXPECT_TRUE(ReadChangeSensitivity()) << int{stored};
        EXPECT_EQ(CalibrationParameters.changeSensitivity, expected) << int{stored};
    }

    emu::SetFirmwareVariable(u"ALS_CS", vendor, {7});
    EXPECT_FALSE(ReadChangeSensitivity());
    EXPECT_EQ(CalibrationParameters.changeSensitivity, 42u);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(FirmwareVariables, AlsFlagIsKeptAndErasedByteMeansOne) {
    const std::pair<uint8_t, DWORD> cases[] = {{0, 0}, {0xFF, 1}, {7, 7}, {254, 254}};
    for (auto [stored, expected] : cases) {
        emu::SetFirmwareVariable(u"ALS_FLAG", vendor, {stored});
        EXPECT_TRUE(ReadAlsFlag()) << int{stored};
        EXPECT_EQ(CalibrationParameters.alsFlag, expected) << int{stored};
    }

    emu::SetFirmwareVariable(u"ALS_FLAG", vendor, {0, 0});
    EXPECT_FALSE(ReadAlsFlag());
    EXPECT_EQ(CalibrationParameters.alsFlag, 254u);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

class FirmwareAlrCurve : public FirmwareVariables {
protected:
    void SetUp() override {
        FirmwareVariables::SetUp();
        service = std::make_unique<CSampleService>();
    }

    std::string AlrText() const { return N(CalibrationParameters.alrText); }

    // Handles still open besides the service's own stopped event.
    static std::vector<std::string> LeakedHandles() {
        std::vector<std::string> kinds = emu::OpenHandleKinds();
        for (auto it = kinds.begin(); it != kinds.end(); ++it) {
            if (*it == "event") {
                kinds.erase(it);
                break;
            }
        }
        return kinds;
    }

    std::unique_ptr<CSampleService> service;
};

TEST_F(FirmwareAlrCurve, PairsUpToTheTerminatorBecomeCommaSeparatedText) {
    emu::SetFirmwareVariable(u"ALR_CURVE", vendor, Curve({{5, 10}, {100, 150}, {0xFFFF, 0xFFFF}, {7, 8}}));

    EXPECT_TRUE(service->ReadAlrCurve());

    EXPECT_EQ(AlrText(), "5,10,100,150");
    EXPECT_EQ(CalibrationParameters.alrPresent, 1u);
    EXPECT_FALSE(emu::FileExists(logFilePath));
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(FirmwareAlrCurve, TerminatorFirstGivesEmptyTextThatCounts) {
    emu::SetFirmwareVariable(u"ALR_CURVE", vendor, Curve({{5, 10}}));
    ASSERT_TRUE(service->ReadAlrCurve());

    emu::SetFirmwareVariable(u"ALR_CURVE", vendor, Curve({{0xFFFF, 0xFFFF}, {5, 10}}));
    EXPECT_TRUE(service->ReadAlrCurve());

    EXPECT_EQ(AlrText(), "");
    EXPECT_EQ(CalibrationParameters.alrPresent, 1u);
}

TEST_F(FirmwareAlrCurve, WithoutTerminatorAllTenPairsAreListedAndHalfTerminatorsArePrinted) {
    emu::SetFirmwareVariable(u"ALR_CURVE", vendor,
                             Curve({{0xFFFF, 0}, {1, 0xFFFF}, {20, 30}, {65534, 65535}, {0, 0}, {4, 5},
                                    {600, 700}, {8000, 9000}, {65535, 1}, {10, 11}}));

    EXPECT_TRUE(service->ReadAlrCurve());

    EXPECT_EQ(AlrText(), "65535,0,1,65535,20,30,65534,65535,0,0,4,5,600,700,8000,9000,65535,1,10,11");
}

TEST_F(FirmwareAlrCurve, FailedReadAfterSuccessKeepsTheCurveAndLogsTheSystemText) {
    emu::SetFirmwareVariable(u"ALR_CURVE", vendor, Curve({{5, 10}, {100, 150}, {0xFFFF, 0xFFFF}}));
    ASSERT_TRUE(service->ReadAlrCurve());
    emu::RemoveFirmwareVariable(u"ALR_CURVE", vendor);

    EXPECT_FALSE(service->ReadAlrCurve());
    EXPECT_FALSE(service->ReadAlrCurve());

    EXPECT_EQ(AlrText(), "5,10,100,150");
    EXPECT_EQ(CalibrationParameters.alrPresent, 1u);
    EXPECT_EQ(LogText(),
              "[20260314-09:30:00]Error to Retrieve ALR Curve! ErrorCode: 203: The system could not find "
              "the environment option that was entered.\r\n"
              "[20260314-09:30:00]Error to Retrieve ALR Curve! ErrorCode: 203: The system could not find "
              "the environment option that was entered.\r\n");
    EXPECT_THAT(LeakedHandles(), IsEmpty());  // the system text is freed
}

struct AlrFailure {
    const char* name;
    std::function<void()> arrange;
    const char* line;
};
void PrintTo(const AlrFailure& failure, std::ostream* out) { *out << failure.name; }

class FirmwareAlrCurveFailure : public FirmwareAlrCurve, public ::testing::WithParamInterface<AlrFailure> {};

TEST_P(FirmwareAlrCurveFailure, LogsTheCodeAndItsText) {
    GetParam().arrange();

    EXPECT_FALSE(service->ReadAlrCurve());

    EXPECT_EQ(LogText(), std::string("[20260314-09:30:00]Error to Retrieve ALR Curve! ErrorCode: ") + GetParam().line);
    EXPECT_EQ(CalibrationParameters.alrPresent, 0u);
    EXPECT_EQ(AlrText(), "");
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    FirmwareAlr, FirmwareAlrCurveFailure,
    ::testing::Values(
        AlrFailure{"Missing", [] {}, "203: The system could not find the environment option that was entered.\r\n"},
        AlrFailure{"TooLong",
                   [] { emu::SetFirmwareVariable(u"ALR_CURVE", vendor, emu::Bytes(44, 1)); },
                   "122: The data area passed to a system call is too small.\r\n"},
        // A short variable is read without error; the line names it as invalid data.
        AlrFailure{"TooShort",
                   [] { emu::SetFirmwareVariable(u"ALR_CURVE", vendor, emu::Bytes(36, 1)); },
                   "13: The data is invalid.\r\n"},
        AlrFailure{"NoUefi", [] { emu::SetUefiPresent(false); }, "1: Incorrect function.\r\n"},
        AlrFailure{"PrivilegeNotHeld",
                   [] {
                       emu::SetFirmwareVariable(u"ALR_CURVE", vendor, Curve({}));
                       emu::SetPrivilegeHeld(false);
                   },
                   "1314: A required privilege is not held by the client.\r\n"},
        AlrFailure{"CodeWithoutSystemText",
                   [] { emu::FailCallsWith("GetFirmwareEnvironmentVariableW", u"ALR_CURVE", 4242); },
                   "4242: Unknown error.\r\n"},
        AlrFailure{"SystemTextUnavailable",
                   [] { emu::FailCall("FormatMessageW", ERROR_NOT_ENOUGH_MEMORY); },
                   "203: Unknown error.\r\n"}),
    [](const ::testing::TestParamInfo<AlrFailure>& info) { return std::string(info.param.name); });

}  // namespace
