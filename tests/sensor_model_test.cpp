// Sensor model detection: which present device's first hardware ID decides the model.
#include "calibration/sensor_model.h"
#include "platform/devices.h"
#include "tests/test_support.h"

namespace {

using Ids = std::vector<emu::String>;

class SensorModelDetection : public EmulatedMachine {};

TEST_F(SensorModelDetection, FirstMatchingDeviceDecidesTheModel) {
    struct Case {
        const char* name;
        void (*arrange)();
        BYTE modelBefore;
        bool found;
        BYTE model;
    } cases[] = {
        {"6120 fragment",
         [] {
             emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120", u"ACPI\\NOXL6120", u"*NOXL6120"});
         },
         1, true, 0},
        {"first in enumeration order",
         [] {
             emu::AddDevice(Ids{u"PCI\\VEN_8086&DEV_A0E8", u"PCI\\VEN_8086"});
             emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6110"});
             emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120"});
         },
         0, true, 1},
        // Present devices that match nothing leave the first row.
        {"case-sensitive, first hardware ID only",
         [] {
             emu::AddDevice(Ids{u"ACPI\\ven_noxl&dev_6110"});
             emu::AddDevice(Ids{u"ACPI\\NOXL6110", u"ACPI\\VEN_NOXL&DEV_6110"});
         },
         1, false, 0},
        // Odd length and no NUL anywhere: the search must stop at the end of the property.
        {"property without terminators",
         [] {
             emu::Bytes unterminated = emu::StringBytes(u"ACPI\\NOXL0000X");
             unterminated.resize(unterminated.size() - 3);  // no terminator, half an X
             emu::AddDevice(unterminated);
             emu::Bytes matching = emu::StringBytes(u"ACPI\\VEN_NOXL&DEV_6110");
             matching.resize(matching.size() - 2);
             emu::AddDevice(matching);
         },
         0, true, 1},
        {"unreadable properties are skipped",
         [] {
             emu::AddDeviceWithoutHardwareId();
             emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120"});  // its read fails below
             emu::AddDevice(emu::Bytes{});
             emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6110"});
             // Calls: size and nothing for the first device, size then read for the second.
             emu::FailCall("SetupDiGetDeviceRegistryPropertyW", ERROR_INVALID_DATA, 3);
         },
         0, true, 1},
        {"no device set",
         [] {
             emu::AddDevice(Ids{u"ACPI\\VEN_NOXL&DEV_6120"});
             emu::FailCall("SetupDiGetClassDevsW", ERROR_ACCESS_DENIED);
         },
         1, false, 1},
    };
    for (const Case& c : cases) {
        emu::Reset();
        c.arrange();
        SensorModel = c.modelBefore;
        EXPECT_EQ(DetectSensorModel(), c.found) << c.name;
        EXPECT_EQ(SensorModel, c.model) << c.name;
    }
}

}  // namespace
