// Firmware variables, the message texts of their reads' errors, and present devices'
// hardware IDs, asked as the service asks, of the variables and devices that
// PrepareMachine (machine_emulated.cpp) and tests/wine/conformance.sh set up.
#include <set>
#include <vector>

#include "calibration/sensor_model.h"
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

// The bytes returned, or 0 and the error, of a variable under the calibration vendor's
// GUID unless told; the buffer's first eight bytes, pre-filled so that a write shows,
// and whether anything past them changed.
std::string Read(const WCHAR* name, DWORD size,
                 const WCHAR* guid = TEXT("{BF82486A-80F7-4733-B82C-066BD8F2534B}")) {
    std::vector<BYTE> buffer(48, 0xEE);
    SetLastError(unsetError);
    const DWORD bytes = GetFirmwareEnvironmentVariableW(name, guid, buffer.data(), size);
    std::string answer = bytes ? Number(bytes) : "0 error " + Number(GetLastError());
    answer += " buffer " + HexBytes(buffer.data(), 8);
    for (size_t i = 8; i < buffer.size(); ++i)
        if (buffer[i] != 0xEE) return answer + " and beyond";
    return answer;
}

std::string Message(DWORD code) {
    LPWSTR text = nullptr;
    SetLastError(unsetError);
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const UniqueLocalMemory owned(text);
    if (!text) return Number(length) + " error " + Number(GetLastError()) + " without a buffer";
    const bool whole = static_cast<DWORD>(lstrlenW(text)) == length;
    return (whole ? "" : "length " + Number(length) + " for ") + Escape(text);
}

const char* const probeId = "ROOT\\\\NOXELPROBE&DEV_0001\\u0000";  // the first ID, as Escape shows it

}  // namespace

void FirmwareQuestions(Answers& answers) {
    answers.Add("CALIBRATE into 4 bytes before the privilege is enabled", Read(TEXT("CALIBRATE"), 4));

    // The service's way to the privilege (EnableFirmwareAccess).
    answers.Add("enabling SeSystemEnvironmentPrivilege", Enabling(SE_SYSTEM_ENVIRONMENT_NAME));

    answers.Add("CALIBRATE into its exact 4 bytes", Read(TEXT("CALIBRATE"), 4));
    answers.Add("CALIBRATE into 40 bytes, as ALR_CURVE is read", Read(TEXT("CALIBRATE"), 40));
    answers.Add("CALIBRATE into 3 bytes", Read(TEXT("CALIBRATE"), 3));
    answers.Add("ALS_FLAG into its exact byte", Read(TEXT("ALS_FLAG"), 1));
    answers.Add("ALR_CURVE, missing, into 40 bytes", Read(TEXT("ALR_CURVE"), 40));
    // UEFI compares variable names exactly.
    answers.Add("calibrate, the name in lower case", Read(TEXT("calibrate"), 8));
    answers.Add("CALIBRATE under the vendor GUID without braces",
                Read(TEXT("CALIBRATE"), 8, TEXT("BF82486A-80F7-4733-B82C-066BD8F2534B")));
    answers.Add("CALIBRATE under another vendor GUID",
                Read(TEXT("CALIBRATE"), 8, TEXT("{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}")));
}

void MessageQuestions(Answers& answers) {
    // The codes that a firmware read fails with, and ERROR_INVALID_DATA, which the service
    // gives a variable of another length: the ALR read failure formats no others.
    const DWORD codes[] = {1, 13, 87, 122, 203, 998, 1314};
    for (DWORD code : codes) answers.Add("FormatMessageW of " + Number(code), Message(code));
    answers.Add("FormatMessageW of a code without a text", Message(0x2000ABCD));
}

void DeviceQuestions(Answers& answers) {
    UniqueDeviceSet set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    DWORD index = 0, probeDevices = 0;
    std::set<std::string> withoutIds;
    // The service's two reads of each device: the size, then the IDs into that size.
    const auto read = [&](BYTE* buffer, DWORD size, DWORD* type, DWORD* required) {
        SetLastError(unsetError);
        return Outcome(SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, type, buffer,
                                                         size, required));
    };
    for (; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        DWORD size = 0xEEEE, type = 0xEEEE;
        const std::string sized = read(nullptr, 0, nullptr, &size);
        if (sized != "fail 122") {
            // The size it gives then is no size: model detection does not read it.
            withoutIds.insert(sized);
            continue;
        }
        std::vector<BYTE> ids(size + 8, 0xEE);
        const std::string outcome = read(ids.data(), size, &type, nullptr);
        const std::string text = Escape({reinterpret_cast<const WCHAR*>(ids.data()), size / sizeof(WCHAR)});
        if (text.rfind(probeId, 0) != 0 || ++probeDevices > 1) continue;
        answers.Add("the probe device's hardware-ID size query", sized + " size " + Number(size));
        std::vector<BYTE> few(size, 0xEE);
        DWORD required = 0xEEEE;
        const std::string shortRead = read(few.data(), size - 2, nullptr, &required);
        answers.Add("the probe device's hardware IDs read into 2 bytes too few",
                    shortRead + " required " + Number(required) +
                        (few[0] == 0xEE ? ", buffer untouched" : ", buffer written"));
        answers.Add("the probe device's hardware IDs read into their size",
                    outcome + " type " + Number(type) + " " + text +
                        (ids[size] == 0xEE ? "" : ", written past the size"));
    }
    std::string without;
    for (const std::string& outcome : withoutIds) without += (without.empty() ? "" : "; ") + outcome;
    answers.Add("the size query of a present device without hardware IDs", without);

    answers.Add("SetupDiEnumDeviceInfo past the last device",
                Try([&] { return SetupDiEnumDeviceInfo(set.get(), index, &device); }));
    SP_DEVINFO_DATA wrongSize{};
    wrongSize.cbSize = sizeof(wrongSize) - 1;
    answers.Add("SetupDiEnumDeviceInfo with a wrong cbSize",
                Try([&] { return SetupDiEnumDeviceInfo(set.get(), 0, &wrongSize); }));

    SensorModel = 0;
    const bool found = DetectSensorModel();
    answers.Add("DetectSensorModel over these devices",
                found ? "model " + Number(SensorModel) : std::string("no sensor"));
}

}  // namespace conformance
