// Fuzz target: hardware-ID detection over one to four present devices whose
// hardware-ID property is any bytes at all (odd lengths, no terminators, no NULs).
//
// Input: a byte (bits 0-1: the number of devices less one; bit 2: the model index
// before detection), then per device a length byte (255: no hardware-ID property) and
// that many bytes of property.
#include <string>

#include "calibration/sensor_model.h"
#include "platform/emulation/emulation.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    emu::Reset();
    fuzz::Input input(data, size);
    const uint8_t layout = input.Byte();
    SensorModel = (layout >> 2) & 1;

    BYTE expectedModel = SensorModel;
    bool expectedFound = false;
    for (unsigned d = 0; d <= (layout & 3u); ++d) {
        const uint8_t length = input.Byte();
        if (length == 0xFF) {
            emu::AddDeviceWithoutHardwareId();
            continue;
        }
        const emu::Bytes property = input.Bytes(length);
        emu::AddDevice(property);
        if (expectedFound || property.empty()) continue;  // no property to search
        // The first ID as the service sees it: UTF-16LE units, a trailing odd byte as the
        // low half of a last unit, up to the first NUL.
        emu::Bytes units = property;
        units.resize((units.size() + 1) / 2 * 2);
        const std::u16string text = emu::Utf16Text(units);
        const std::u16string id = text.substr(0, text.find(u'\0'));
        expectedModel = 0;
        for (BYTE model = 0; model < 2 && !expectedFound; ++model) {
            expectedFound = id.find(sensorModels[model].hardwareIdFragment) != std::u16string::npos;
            if (expectedFound) expectedModel = model;
        }
    }

    const bool found = DetectSensorModel();
    fuzz::Check(SensorModel < 2, "model index out of the table");
    if (found != expectedFound || SensorModel != expectedModel)
        fuzz::Broken("detected model " + std::to_string(SensorModel) + (found ? " (found)" : " (not found)") +
                     ", expected " + std::to_string(expectedModel) +
                     (expectedFound ? " (found)" : " (not found)"));
    fuzz::Check(emu::OpenHandleCount() == 0, "handle left open by the detection");
    return 0;
}
