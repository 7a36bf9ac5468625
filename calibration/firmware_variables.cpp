#include "calibration/firmware_variables.h"

#include <iterator>
#include <vector>

#include "calibration/sample_service.h"
#include "calibration/text_log.h"
#include "platform/firmware.h"
#include "platform/handles.h"
#include "platform/messages.h"
#include "platform/strings.h"

CalibrationRecord CalibrationParameters;

namespace {

constexpr DWORD calibrateSize = 4;
constexpr DWORD alrCurveSize = 40;
constexpr DWORD changeSensitivitySize = 4;
constexpr DWORD alsFlagSize = 1;

constexpr size_t alrEntrySize = 4;
constexpr DWORD alrTerminator = 0xFFFF;
constexpr size_t alrPairTextCapacity = 16;  // ",65535,65535" and its terminator

// An erased byte in the firmware stands for "not calibrated": the record's start value.
constexpr BYTE erasedByte = 0xFF;
constexpr DWORD uncalibratedChangeSensitivity = CalibrationRecord{}.changeSensitivity;
constexpr DWORD uncalibratedAlsFlag = CalibrationRecord{}.alsFlag;
constexpr DWORD minimumChangeSensitivity = 1;
constexpr DWORD maximumChangeSensitivity = 100;

DWORD LittleEndianWord(const BYTE* bytes) {
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8;
}

// Fills `value`, sized to the variable's exact length; a variable of any other length
// counts as missing. On failure the last error says why.
bool ReadVariable(LPCWSTR name, std::vector<BYTE>& value) {
    EnableFirmwareAccess();
    const DWORD size = static_cast<DWORD>(value.size());
    const DWORD read = GetFirmwareEnvironmentVariableW(name, calibrationVendorGuid, value.data(), size);
    if (read == size) return true;
    // A shorter variable is read without an error; name it, rather than leave whatever
    // the last-error slot held.
    if (read != 0) SetLastError(ERROR_INVALID_DATA);
    return false;
}

void BuildAlrCurve(const std::vector<BYTE>& curve) {
    CalibrationRecord& record = CalibrationParameters;
    record.alrText[0] = 0;
    for (size_t i = 0; i < std::size(record.alrPairs); ++i) {
        const BYTE* entry = curve.data() + i * alrEntrySize;
        AlrPair& pair = record.alrPairs[i];
        pair.lux = LittleEndianWord(entry);
        pair.value = LittleEndianWord(entry + 2);
        if (pair.lux == alrTerminator && pair.value == alrTerminator) break;
        WCHAR pairText[alrPairTextCapacity];
        StringCchPrintfW(pairText, alrPairTextCapacity, i == 0 ? TEXT("%lu,%lu") : TEXT(",%lu,%lu"), pair.lux,
                         pair.value);
        StringCchCatW(record.alrText, std::size(record.alrText), pairText);
    }
    record.alrPresent = 1;
}

}  // namespace

void EnableFirmwareAccess() {
    // A privilege that cannot be enabled shows as the failure of the read that follows.
    UniqueKernelHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put());
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, TEXT("SeSystemEnvironmentPrivilege"), &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

bool ReadCalibrate() {
    std::vector<BYTE> value(calibrateSize);
    if (!ReadVariable(calibrateVariable, value)) {
        RecordFailure({TEXT("read "), calibrateVariable}, GetLastError());
        return false;
    }
    CalibrationParameters.sourceLux = LittleEndianWord(&value[0]);
    CalibrationParameters.sensorLux = LittleEndianWord(&value[2]);
    return true;
}

bool ReadChangeSensitivity() {
    std::vector<BYTE> value(changeSensitivitySize);
    if (!ReadVariable(changeSensitivityVariable, value)) return false;
    const DWORD sensitivity = value[0];
    if (value[0] == erasedByte)
        CalibrationParameters.changeSensitivity = uncalibratedChangeSensitivity;
    else if (sensitivity < minimumChangeSensitivity)
        CalibrationParameters.changeSensitivity = minimumChangeSensitivity;
    else if (sensitivity > maximumChangeSensitivity)
        CalibrationParameters.changeSensitivity = maximumChangeSensitivity;
    else
        CalibrationParameters.changeSensitivity = sensitivity;
    return true;
}

bool ReadAlsFlag() {
    std::vector<BYTE> value(alsFlagSize);
    if (!ReadVariable(alsFlagVariable, value)) return false;
    CalibrationParameters.alsFlag = value[0] == erasedByte ? uncalibratedAlsFlag : value[0];
    return true;
}

bool CSampleService::ReadAlrCurve() {
    std::vector<BYTE> curve(alrCurveSize);
    if (ReadVariable(alrCurveVariable, curve)) {
        BuildAlrCurve(curve);
        return true;
    }

    const DWORD error = GetLastError();
    // Until a curve has been read, this read is why the publication is incomplete; a step
    // that fails later in the attempt replaces it.
    RecordFailure({TEXT("read "), alrCurveVariable}, error);
    LPWSTR systemText = nullptr;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the address of
    // the allocated text.
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        error, 0, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    const UniqueLocalMemory systemTextOwner(systemText);
    if (length != 0 && systemText)
        StringCchPrintfW(logScratch, logScratchCapacity, TEXT("%lu: %s"), error, systemText);
    else
        StringCchPrintfW(logScratch, logScratchCapacity, TEXT("%lu: Unknown error.\r\n"), error);

    StringCchCopyW(logMessage, logMessageCapacity, TEXT("Error to Retrieve ALR Curve! ErrorCode: "));
    StringCchCatW(logMessage, logMessageCapacity, logScratch);
    AppendLog();
    return false;
}
