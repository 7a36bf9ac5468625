#include "calibration/sensor_model.h"

#include <iterator>
#include <vector>

#include "platform/handles.h"

BYTE SensorModel = 0;

namespace {

// Room past the property for a zeroed pair of characters, so that a property without
// its terminators still ends inside the buffer.
constexpr size_t terminatorReserve = 2;

// Whether `fragment` occurs in `text`, with case; the search ends at the text's first
// NUL, so in a multi-string it looks at the first string only.
bool ContainsFragment(const WCHAR* text, const WCHAR* fragment) {
    for (; *text; ++text) {
        size_t i = 0;
        while (fragment[i] && text[i] == fragment[i]) ++i;
        if (!fragment[i]) return true;
    }
    return false;
}

// The device's hardware-ID multi-string; empty when it has none or it cannot be read.
std::vector<WCHAR> HardwareIds(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return {};
    if (size == 0) return {};
    std::vector<WCHAR> ids((size + sizeof(WCHAR) - 1) / sizeof(WCHAR) + terminatorReserve, 0);
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<LPBYTE>(ids.data()), size, nullptr))
        return {};
    return ids;
}

}  // namespace

bool DetectSensorModel() {
    UniqueDeviceSet devices(
        SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!devices) return false;

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        const std::vector<WCHAR> ids = HardwareIds(devices.get(), device);
        if (ids.empty()) continue;
        // Only the first, most specific ID is searched.
        for (BYTE model = 0; model < std::size(sensorModels); ++model) {
            if (ContainsFragment(ids.data(), sensorModels[model].hardwareIdFragment)) {
                SensorModel = model;
                return true;
            }
        }
        // A device that matches neither model puts model 0 back, as the service always has.
        SensorModel = 0;
    }
    return false;
}
