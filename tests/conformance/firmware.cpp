// Firmware variables, the message texts of their reads' errors, and present devices'
// hardware IDs, asked as the service asks. The machine's set-up holds CALIBRATE
// (e8 03 2c 01) and ALS_FLAG (00) under the calibration vendor GUID, and no ALR_CURVE;
// a probe device (IDs ROOT\NOXELPROBE&DEV_0001 and *NOXELPROBE), a device without
// hardware IDs, and two that model detection must pass over: a lower-case
// acpi\ven_noxl&dev_6120, and VEN_NOXL&DEV_6120 as a second ID only.
#include <iterator>
#include <set>
#include <vector>

#include "calibration/sensor_model.h"
#include "platform/firmware.h"
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const vendor = TEXT("{BF82486A-80F7-4733-B82C-066BD8F2534B}");
constexpr BYTE untouched = 0xEE;

// The bytes returned, or 0 and the error; the buffer's first eight bytes, pre-filled so
// that a write shows, and whether anything past them changed.
std::string Read(const WCHAR* name, const WCHAR* guid, DWORD size) {
    BYTE buffer[48];
    for (BYTE& b : buffer) b = untouched;
    SetLastError(unsetError);
    const DWORD bytes = GetFirmwareEnvironmentVariableW(name, guid, buffer, size);
    std::string answer = bytes ? Number(bytes) : "0 error " + Number(GetLastError());
    answer += " buffer " + HexBytes(buffer, 8);
    for (size_t i = 8; i < std::size(buffer); ++i)
        if (buffer[i] != untouched) return answer + " and beyond";
    return answer;
}

std::string Message(DWORD code) {
    LPWSTR text = nullptr;
    SetLastError(unsetError);
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const UniqueLocalMemory owned(text);
    if (!text) return Number(length) + " error " + Number(GetLastError()) + " without a buffer";
    if (static_cast<DWORD>(lstrlenW(text)) != length)
        return "length " + Number(length) + " for " + Escape(text);
    return Escape(text);
}

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

void FirmwareQuestions(Answers& answers) {
    answers.Add("CALIBRATE into 4 bytes before the privilege is enabled", Read(TEXT("CALIBRATE"), vendor, 4));

    // The service's way to the privilege.
    UniqueKernelHandle token;
    TOKEN_PRIVILEGES privileges{1, {{{}, SE_PRIVILEGE_ENABLED}}};
    answers.Add("OpenProcessToken for adjusting and querying", Try([&] {
                    return OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                            token.put());
                }));
    answers.Add("LookupPrivilegeValueW of SeSystemEnvironmentPrivilege", Try([&] {
                    return LookupPrivilegeValueW(nullptr, TEXT("SeSystemEnvironmentPrivilege"),
                                                 &privileges.Privileges[0].Luid);
                }));
    const std::string adjusted =
        Try([&] { return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr); });
    answers.Add("AdjustTokenPrivileges enabling it", adjusted + " last error " + Number(GetLastError()));

    const struct {
        const char* question;
        const WCHAR* name;
        const WCHAR* guid;
        DWORD size;
    } reads[] = {
        {"CALIBRATE into its exact 4 bytes", TEXT("CALIBRATE"), vendor, 4},
        {"CALIBRATE into 40 bytes, as ALR_CURVE is read", TEXT("CALIBRATE"), vendor, 40},
        {"CALIBRATE into 3 bytes", TEXT("CALIBRATE"), vendor, 3},
        {"ALS_FLAG into its exact byte", TEXT("ALS_FLAG"), vendor, 1},
        {"ALR_CURVE, missing, into 40 bytes", TEXT("ALR_CURVE"), vendor, 40},
        // UEFI compares variable names exactly.
        {"calibrate, the name in lower case", TEXT("calibrate"), vendor, 8},
        {"CALIBRATE under the vendor GUID without braces", TEXT("CALIBRATE"),
         TEXT("BF82486A-80F7-4733-B82C-066BD8F2534B"), 8},
        {"CALIBRATE under another vendor GUID", TEXT("CALIBRATE"),
         TEXT("{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}"), 8},
    };
    for (const auto& read : reads) answers.Add(read.question, Read(read.name, read.guid, read.size));
}

void MessageQuestions(Answers& answers) {
    // The codes that a firmware read fails with, and ERROR_INVALID_DATA, which the service
    // gives a variable of another length: the ALR read failure formats no others.
    const DWORD codes[] = {1, 13, 87, 122, 203, 998, 1314};
    for (DWORD code : codes) answers.Add("FormatMessageW of " + Number(code), Message(code));
    answers.Add("FormatMessageW of a code without a text", Message(0x2000ABCD));
}

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

    // The service's own search over what the platform lists: with case, first ID only.
    SensorModel = 0;
    const bool found = DetectSensorModel();
    answers.Add("DetectSensorModel over these devices",
                found ? "model " + Number(SensorModel) : std::string("no sensor"));
}

}  // namespace conformance
