#include <gmock/gmock.h>

#include <memory>

#include "calibration/firmware_variables.h"
#include "calibration/sample_service.h"
#include "calibration/sensor_model.h"
#include "calibration/text_log.h"
#include "platform/registry.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const emu::String base6120 = u"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\";
const emu::String base6110 = u"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6110\\";
constexpr const char* stamp = "[20260314-09:30:00]";

std::string LogText() {
    const emu::Bytes bytes = emu::FileBytes(logFilePath);
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    return N(text);
}

// Entries of the text log, each with its message only; the timestamps are checked
// to be there.
std::string Lines(std::initializer_list<const char*> messages) {
    std::string text;
    for (const char* message : messages) text += std::string(stamp) + message;
    return text;
}

// "NAME dword N" for a four-byte REG_DWORD, "NAME sz TEXT\0" for REG_SZ with every
// stored code unit shown; anything else with its type and byte count.
std::vector<std::string> Described(const emu::String& path) {
    std::vector<std::string> described;
    for (const auto& [name, value] : emu::Values(path)) {
        std::string line = N(name);
        if (value.type == REG_DWORD && value.data.size() == 4) {
            const DWORD number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                 static_cast<DWORD>(value.data[3]) << 24;
            line += " dword " + std::to_string(number);
        } else if (value.type == REG_SZ && value.data.size() % 2 == 0) {
            std::u16string units;
            for (size_t i = 0; i < value.data.size(); i += 2)
                units += static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8);
            std::string shown;
            for (char16_t c : units) shown += c == 0 ? std::string("\\0") : N(std::u16string(1, c));
            line += " sz " + shown;
        } else {
            line += " type " + std::to_string(value.type) + ", " + std::to_string(value.data.size()) + " bytes";
        }
        described.push_back(line);
    }
    return described;
}

// Handles still open besides the service's own stopped event.
std::vector<std::string> LeakedHandles() {
    std::vector<std::string> kinds = emu::OpenHandleKinds();
    for (auto it = kinds.begin(); it != kinds.end(); ++it) {
        if (*it == "event") {
            kinds.erase(it);
            break;
        }
    }
    return kinds;
}

class Publication : public EmulatedMachine {
protected:
    void SetUp() override {
        EmulatedMachine::SetUp();
        // Process-start values, also when tests share one process.
        CalibrationParameters = CalibrationRecord{};
        SensorModel = 0;
        service = std::make_unique<CSampleService>();
    }

    // A record as a complete firmware read leaves it.
    static void Calibrated() {
        CalibrationRecord& record = CalibrationParameters;
        record.sourceLux = 1000;
        record.sensorLux = 300;
        record.changeSensitivity = 40;
        record.alsFlag = 0;
        record.alrPresent = 1;
        const std::u16string curve = u"5,10,100,150";
        curve.copy(record.alrText, curve.size());
        record.alrText[curve.size()] = 0;
    }

    // For tests that go through several cases: a new machine and service per case.
    void FreshMachine() {
        service.reset();
        emu::Reset();
        service = std::make_unique<CSampleService>();
    }

    std::unique_ptr<CSampleService> service;
};

const std::vector<std::string> calibratedValues = {
    "ALS_SRC dword 1000", "ALS_CAL dword 300", "ALR_CURVE sz 5,10,100,150\\0", "ALS_CS dword 40",
    "ALS_FLAG dword 0"};
const std::string calibratedRun = Lines({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n", "ALR Table: 5,10,100,150\r\n",
                                         "CHANGE SENSITIVITY: 40\r\n", "ALS FLAG: 0\r\n"});

TEST_F(Publication, EveryInstanceReceivesAllFiveValuesAndEachWriteIsLogged) {
    Calibrated();
    emu::CreateKey(base6120 + u"1\\Device Parameters");
    emu::CreateKey(base6120 + u"2\\Device Parameters");

    EXPECT_TRUE(service->PublishParameters());

    EXPECT_EQ(Described(base6120 + u"1\\Device Parameters"), calibratedValues);
    EXPECT_EQ(Described(base6120 + u"2\\Device Parameters"), calibratedValues);
    EXPECT_EQ(LogText(), calibratedRun + calibratedRun);
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(Publication, SecondModelUsesItsOwnBaseKey) {
    Calibrated();
    SensorModel = 1;
    emu::CreateKey(base6110 + u"4&1A2B3C&0\\Device Parameters");
    emu::CreateKey(base6120 + u"1\\Device Parameters");

    EXPECT_TRUE(service->PublishParameters());

    EXPECT_EQ(Described(base6110 + u"4&1A2B3C&0\\Device Parameters"), calibratedValues);
    EXPECT_THAT(Described(base6120 + u"1\\Device Parameters"), IsEmpty());
}

TEST_F(Publication, UntilTheCurveIsReadTheOtherFourAreWrittenButTheTransferIsIncomplete) {
    emu::CreateKey(base6120 + u"1\\Device Parameters");

    EXPECT_FALSE(service->PublishParameters());

    EXPECT_THAT(Described(base6120 + u"1\\Device Parameters"),
                ElementsAre("ALS_SRC dword 1000", "ALS_CAL dword 1000", "ALS_CS dword 25", "ALS_FLAG dword 1"));
    EXPECT_EQ(LogText(), Lines({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 1000\r\n", "CHANGE SENSITIVITY: 25\r\n",
                                "ALS FLAG: 1\r\n"}));
}

TEST_F(Publication, EmptyCurveTextIsStillACurve) {
    Calibrated();
    CalibrationParameters.alrText[0] = 0;
    emu::CreateKey(base6120 + u"1\\Device Parameters");

    EXPECT_TRUE(service->PublishParameters());

    EXPECT_THAT(Described(base6120 + u"1\\Device Parameters"),
                ElementsAre("ALS_SRC dword 1000", "ALS_CAL dword 300", "ALR_CURVE sz \\0", "ALS_CS dword 40",
                            "ALS_FLAG dword 0"));
    EXPECT_EQ(LogText(), Lines({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n", "ALR Table: \r\n",
                                "CHANGE SENSITIVITY: 40\r\n", "ALS FLAG: 0\r\n"}));
}

TEST_F(Publication, MissingBaseKeyIsOneLine) {
    Calibrated();

    EXPECT_FALSE(service->PublishParameters());

    EXPECT_EQ(LogText(), Lines({"Fail to open registry subkey - SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\\r\n"}));
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(Publication, BaseKeyWithoutInstances) {
    Calibrated();
    emu::CreateKey(base6120);

    EXPECT_FALSE(service->PublishParameters());

    EXPECT_EQ(LogText(), Lines({"Fail to query registry information.\r\n"}));
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(Publication, InstanceWithoutDeviceParametersEndsThePublication) {
    Calibrated();
    emu::CreateKey(base6120 + u"1\\Device Parameters");
    emu::CreateKey(base6120 + u"2");
    emu::CreateKey(base6120 + u"3\\Device Parameters");

    EXPECT_TRUE(service->PublishParameters());

    EXPECT_EQ(LogText(), calibratedRun + Lines({"Fail to open SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\2\\Device "
                                                "Parameters\r\n"}));
    EXPECT_THAT(Described(base6120 + u"3\\Device Parameters"), IsEmpty());
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(Publication, FirstInstanceWithoutDeviceParametersLeavesNothingWritten) {
    Calibrated();
    emu::CreateKey(base6120 + u"1");
    emu::CreateKey(base6120 + u"2\\Device Parameters");

    EXPECT_FALSE(service->PublishParameters());

    EXPECT_EQ(LogText(), Lines({"Fail to open SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1\\Device Parameters\r\n"}));
    EXPECT_THAT(Described(base6120 + u"2\\Device Parameters"), IsEmpty());
}

TEST_F(Publication, LongestInstanceNameIsLoggedWhole) {
    Calibrated();
    const std::string instance(255, 'I');  // the longest name the registry allows
    emu::CreateKey(base6120 + W(instance.c_str()));

    EXPECT_FALSE(service->PublishParameters());

    EXPECT_EQ(LogText(), Lines({("Fail to open SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\" + instance +
                                 "\\Device Parameters\r\n")
                                    .c_str()}));
}

TEST_F(Publication, RefusedFlagDoesNotStopTheTransfer) {
    Calibrated();
    emu::CreateKey(base6120 + u"1\\Device Parameters");
    emu::FailCallsWith("RegSetValueExW", u"ALS_FLAG", ERROR_ACCESS_DENIED);

    EXPECT_TRUE(service->PublishParameters());

    EXPECT_EQ(LogText(), Lines({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n", "ALR Table: 5,10,100,150\r\n",
                                "CHANGE SENSITIVITY: 40\r\n", "Fail to set Sensor Range!"}));
}

TEST_F(Publication, EachRequiredValueRefusedMakesTheTransferIncomplete) {
    struct Case {
        const char16_t* value;
        std::string lines;
    };
    const Case cases[] = {
        {u"ALS_SRC", Lines({"Fail to set Source Lux!", "SENSOR LUX: 300\r\n", "ALR Table: 5,10,100,150\r\n",
                            "CHANGE SENSITIVITY: 40\r\n", "ALS FLAG: 0\r\n"})},
        {u"ALS_CAL", Lines({"SOURCE LUX: 1000\r\n", "Fail to set Sensor Lux!", "ALR Table: 5,10,100,150\r\n",
                            "CHANGE SENSITIVITY: 40\r\n", "ALS FLAG: 0\r\n"})},
        {u"ALR_CURVE", Lines({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n", "Fail to set ALR Table!",
                              "CHANGE SENSITIVITY: 40\r\n", "ALS FLAG: 0\r\n"})},
        {u"ALS_CS", Lines({"SOURCE LUX: 1000\r\n", "SENSOR LUX: 300\r\n", "ALR Table: 5,10,100,150\r\n",
                           "Fail to set Change Sensitivity!", "ALS FLAG: 0\r\n"})},
    };
    Calibrated();
    for (const Case& refused : cases) {
        SCOPED_TRACE(N(refused.value));
        FreshMachine();
        emu::CreateKey(base6120 + u"1\\Device Parameters");
        emu::FailCallsWith("RegSetValueExW", refused.value, ERROR_ACCESS_DENIED);

        EXPECT_FALSE(service->PublishParameters());

        EXPECT_EQ(LogText(), refused.lines);
        EXPECT_FALSE(emu::GetValue(base6120 + u"1\\Device Parameters", refused.value));
        EXPECT_EQ(emu::Values(base6120 + u"1\\Device Parameters").size(), 4u);
    }
}

TEST_F(Publication, ValueWrittenToAnyInstanceCounts) {
    Calibrated();
    emu::CreateKey(base6120 + u"1\\Device Parameters");
    emu::CreateKey(base6120 + u"2\\Device Parameters");
    emu::FailCall("RegSetValueExW", ERROR_ACCESS_DENIED);  // ALS_SRC of the first instance

    EXPECT_TRUE(service->PublishParameters());

    EXPECT_FALSE(emu::GetValue(base6120 + u"1\\Device Parameters", u"ALS_SRC"));
    EXPECT_EQ(Described(base6120 + u"2\\Device Parameters"), calibratedValues);
}

TEST_F(Publication, EachFailingRegistryCallHasItsLine) {
    struct Case {
        const char* operation;
        unsigned nth;
        bool result;
        std::string lines;
    };
    const Case cases[] = {
        {"RegOpenKeyExW", 1, false,
         Lines({"Fail to open registry subkey - SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\\r\n"})},
        // The count stays 0, so a failed query reads as a key without instances.
        {"RegQueryInfoKeyW", 1, false, Lines({"Fail to query registry information.\r\n"})},
        {"RegEnumKeyExW", 1, false, Lines({"Fail to enumerate subkeys.\r\n"})},
        {"RegEnumKeyExW", 2, true, calibratedRun + Lines({"Fail to enumerate subkeys.\r\n"})},
        {"RegOpenKeyExW", 2, false,
         Lines({"Fail to open SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1\\Device Parameters\r\n"})},
    };
    Calibrated();
    for (const Case& failing : cases) {
        SCOPED_TRACE(std::string(failing.operation) + " call " + std::to_string(failing.nth));
        FreshMachine();
        emu::CreateKey(base6120 + u"1\\Device Parameters");
        emu::CreateKey(base6120 + u"2\\Device Parameters");
        emu::FailCall(failing.operation, ERROR_ACCESS_DENIED, failing.nth);

        EXPECT_EQ(service->PublishParameters(), failing.result);

        EXPECT_EQ(LogText(), failing.lines);
        EXPECT_THAT(LeakedHandles(), IsEmpty());
    }
}

TEST_F(Publication, EveryValueWriteRefused) {
    Calibrated();
    emu::CreateKey(base6120 + u"1\\Device Parameters");
    emu::FailCall("RegSetValueExW", ERROR_ACCESS_DENIED, 1, 0);

    EXPECT_FALSE(service->PublishParameters());

    EXPECT_EQ(LogText(), Lines({"Fail to set Source Lux!", "Fail to set Sensor Lux!", "Fail to set ALR Table!",
                                "Fail to set Change Sensitivity!", "Fail to set Sensor Range!"}));
    EXPECT_THAT(Described(base6120 + u"1\\Device Parameters"), IsEmpty());
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

}  // namespace
