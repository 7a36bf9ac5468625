#include "calibration/sensor_model.h"
#include "platform/devices.h"
#include "tests/test_support.h"

namespace {

using Ids = std::vector<emu::String>;

emu::Bytes Utf16leWithoutTerminator(std::u16string_view text) {
    emu::Bytes bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

class SensorModelDetection : public EmulatedMachine {
protected:
    void SetUp() override {
        EmulatedMachine::SetUp();
        SensorModel = 0;  // as at process start, also when tests share one process
    }
};

TEST_F(SensorModelDetection, EachFragmentSelectsItsModel) {
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6110", u"ACPI\\NOXL6110", u"*NOXL6110"});
    EXPECT_TRUE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 1);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);

    emu::Reset();
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120", u"ACPI\\NOXL6120", u"*NOXL6120"});
    EXPECT_TRUE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 0);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(SensorModelDetection, FirstMatchingDeviceInEnumerationOrderDecides) {
    emu::AddDevice(Ids{u"PCI\\VEN_8086&DEV_A0E8", u"PCI\\VEN_8086"});
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6110"});
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120"});

    EXPECT_TRUE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 1);
}

TEST_F(SensorModelDetection, SearchIsCaseSensitiveAndCoversOnlyTheFirstHardwareId) {
    emu::AddDevice(Ids{u"ACPI\\ven_noxl&dev_6110"});
    emu::AddDevice(Ids{u"ACPI\\NOXL6110", u"ACPI\\VEN_NOXL&DEV_6110"});
    SensorModel = 1;  // present devices that match nothing leave the first row

    EXPECT_FALSE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 0);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(SensorModelDetection, NoDevicesFindsNothing) {
    EXPECT_FALSE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 0);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(SensorModelDetection, PropertyWithoutTerminatorsIsSearchedWithinItsBytes) {
    // Odd length and no NUL anywhere: the search must stop at the end of the property.
    emu::Bytes unterminated = Utf16leWithoutTerminator(u"ACPI\\NOXL0000");
    unterminated.push_back('X');
    emu::AddDevice(unterminated);
    emu::AddDevice(Utf16leWithoutTerminator(u"ACPI\\VEN_NOXL&DEV_6110"));

    EXPECT_TRUE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 1);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(SensorModelDetection, DevicesWhosePropertyCannotBeReadAreSkipped) {
    emu::AddDeviceWithoutHardwareId();
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120"});  // its read fails below
    emu::AddDevice(emu::Bytes{});
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6110"});
    // Calls: size and nothing for the first device, size then read for the second.
    emu::FailCall("SetupDiGetDeviceRegistryPropertyW", ERROR_INVALID_DATA, 3);

    EXPECT_TRUE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 1);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

TEST_F(SensorModelDetection, WithoutTheDeviceSetTheModelStaysAsItWas) {
    emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120"});
    SensorModel = 1;
    emu::FailCall("SetupDiGetClassDevsW", ERROR_ACCESS_DENIED);

    EXPECT_FALSE(DetectSensorModel());
    EXPECT_EQ(SensorModel, 1);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

}  // namespace
