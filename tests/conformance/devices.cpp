// Present devices and their hardware-ID property, asked as model detection asks: the
// size query, then the read into a buffer of that size. The machine's set-up adds a
// probe device (IDs ROOT\NOXELPROBE&DEV_0001 and *NOXELPROBE), a device without
// hardware IDs, and two that model detection must pass over: a lower-case
// acpi\ven_noxl&dev_6120, and VEN_NOXL&DEV_6120 as a second ID only.
#include <set>
#include <vector>

#include "calibration/sensor_model.h"
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const char* const probeId = "ROOT\\\\NOXELPROBE&DEV_0001";  // as Escape shows it

// The size query's outcome and the size it gives.
std::string SizeQuery(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD& size) {
    size = 0xEEEE;
    SetLastError(unsetError);
    const BOOL succeeded =
        SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
    return Outcome(succeeded) + " size " + Number(size);
}

void ProbeDevice(Answers& answers, HDEVINFO set, SP_DEVINFO_DATA& device, DWORD size) {
    std::vector<BYTE> property(size + 8, 0xEE);
    DWORD required = 0xEEEE;
    SetLastError(unsetError);
    const BOOL shortRead = SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                                             property.data(), size - 2, &required);
    answers.Add("the probe device's hardware IDs read into 2 bytes too few",
                Outcome(shortRead) + " required " + Number(required) +
                    (property[0] == 0xEE ? ", buffer untouched" : ", buffer written"));
    DWORD type = 0xEEEE;
    SetLastError(unsetError);
    const BOOL read = SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type,
                                                        property.data(), size, nullptr);
    answers.Add("the probe device's hardware IDs read into their size",
                Outcome(read) + " type " + Number(type) + " " +
                    Escape(reinterpret_cast<const WCHAR*>(property.data()), size / sizeof(WCHAR)) +
                    (property[size] == 0xEE ? "" : ", written past the size"));
}

}  // namespace

void DeviceQuestions(Answers& answers) {
    UniqueDeviceSet set;
    answers.Add("SetupDiGetClassDevsW of every present device", Keep(set, [] {
                    return SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
                }));

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    DWORD index = 0, probeDevices = 0;
    std::set<std::string> withoutIds;
    for (; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        DWORD size = 0;
        const std::string sized = SizeQuery(set.get(), device, size);
        if (sized.rfind("fail 122 ", 0) != 0) {
            // The size it gives then is no size: model detection does not read it.
            withoutIds.insert(sized.substr(0, sized.find(" size ")));
            continue;
        }
        std::vector<WCHAR> ids(size / sizeof(WCHAR) + 2, 0);
        SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids.data()), size, nullptr);
        if (Escape(ids.data()) != probeId) continue;
        if (++probeDevices > 1) continue;
        answers.Add("the probe device's hardware-ID size query", sized);
        ProbeDevice(answers, set.get(), device, size);
    }
    answers.Add("present devices with the probe's first hardware ID", Number(probeDevices));
    std::string without;
    for (const std::string& outcome : withoutIds) without += (without.empty() ? "" : "; ") + outcome;
    answers.Add("the size query of a present device without hardware IDs", without);

    answers.Add("SetupDiEnumDeviceInfo past the last device",
                Try([&] { return SetupDiEnumDeviceInfo(set.get(), index, &device); }));
    SP_DEVINFO_DATA wrongSize{};
    wrongSize.cbSize = sizeof(wrongSize) - 1;
    answers.Add("SetupDiEnumDeviceInfo with a wrong cbSize",
                Try([&] { return SetupDiEnumDeviceInfo(set.get(), 0, &wrongSize); }));
    answers.Add("SetupDiDestroyDeviceInfoList",
                Try([&] { return SetupDiDestroyDeviceInfoList(set.release()); }));

    // The service's own search over what the platform lists: with case, first ID only.
    SensorModel = 0;
    const bool found = DetectSensorModel();
    answers.Add("DetectSensorModel over these devices",
                found ? "model " + Number(SensorModel) : std::string("no sensor"));
}

}  // namespace conformance
