#include <initializer_list>

#include "calibration/firmware_variables.h"
#include "calibration/published_values.h"
#include "calibration/sample_service.h"
#include "calibration/sensor_model.h"
#include "calibration/text_log.h"
#include "platform/handles.h"
#include "platform/strings.h"

namespace {

constexpr size_t keyPathCapacity = 1024;
constexpr DWORD instanceNameCapacity = 256;  // the longest key name (255), with its terminator
constexpr DWORD classNameCapacity = MAX_PATH;

// The Device Parameters key of the instance being written; used by the worker alone.
WCHAR keyPath[keyPathCapacity];

// The values that make an instance's publication complete; ALS_FLAG is written but
// not required.
struct WrittenValues {
    bool sourceLux = false;
    bool sensorLux = false;
    bool alrCurve = false;
    bool changeSensitivity = false;

    bool Complete() const { return sourceLux && sensorLux && alrCurve && changeSensitivity; }
};

void Log(CSampleService& service, std::initializer_list<LPCWSTR> parts) {
    logMessage[0] = 0;
    for (LPCWSTR part : parts) StringCchCatW(logMessage, logMessageCapacity, part);
    service.AppendLog();
}

// A value that a complete publication requires could not be written to keyPath.
void RecordFailedWrite(LPCWSTR name, LONG error) {
    RecordFailure({TEXT("set "), name, TEXT(" in "), keyPath}, static_cast<DWORD>(error));
}

// Sets one REG_DWORD and logs "<label><value>\r\n", or the failure text as it is;
// returns RegSetValueExW's code.
LONG SetDword(CSampleService& service, HKEY key, LPCWSTR name, DWORD value, LPCWSTR label, LPCWSTR failure) {
    const LONG result =
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (result != ERROR_SUCCESS) {
        // No line end, as the service has always logged it; parsers of the log rely on it.
        Log(service, {failure});
        return result;
    }
    StringCchPrintfW(logScratch, logScratchCapacity, TEXT("%lu"), value);
    Log(service, {label, logScratch, TEXT("\r\n")});
    return result;
}

// SetDword for a value that a complete publication requires.
bool SetRequiredDword(CSampleService& service, HKEY key, LPCWSTR name, DWORD value, LPCWSTR label,
                      LPCWSTR failure) {
    const LONG result = SetDword(service, key, name, value, label, failure);
    if (result != ERROR_SUCCESS) RecordFailedWrite(name, result);
    return result == ERROR_SUCCESS;
}

bool SetAlrCurve(CSampleService& service, HKEY key) {
    const LPCWSTR text = CalibrationParameters.alrText;
    // REG_SZ data carries its terminator.
    const DWORD size = static_cast<DWORD>(lstrlenW(text) + 1) * sizeof(WCHAR);
    const LONG result =
        RegSetValueExW(key, alrCurveValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
    if (result != ERROR_SUCCESS) {
        Log(service, {TEXT("Fail to set ALR Table!")});  // no line end, like the other write failures
        RecordFailedWrite(alrCurveValue, result);
        return false;
    }
    Log(service, {TEXT("ALR Table: "), text, TEXT("\r\n")});
    return true;
}

void WriteValues(CSampleService& service, HKEY key, WrittenValues& written) {
    const CalibrationRecord& record = CalibrationParameters;
    if (SetRequiredDword(service, key, sourceLuxValue, record.sourceLux, TEXT("SOURCE LUX: "),
                         TEXT("Fail to set Source Lux!")))
        written.sourceLux = true;
    if (SetRequiredDword(service, key, sensorLuxValue, record.sensorLux, TEXT("SENSOR LUX: "),
                         TEXT("Fail to set Sensor Lux!")))
        written.sensorLux = true;
    // Until the curve has been read once there is nothing to write, not even a line.
    if (record.alrPresent && SetAlrCurve(service, key)) written.alrCurve = true;
    if (SetRequiredDword(service, key, changeSensitivityValue, record.changeSensitivity,
                         TEXT("CHANGE SENSITIVITY: "), TEXT("Fail to set Change Sensitivity!")))
        written.changeSensitivity = true;
    // The flag's failure has always been logged as "Sensor Range"; readers of the log match
    // it. The flag is not required, so its failure fails no attempt.
    SetDword(service, key, alsFlagValue, record.alsFlag, TEXT("ALS FLAG: "),
             TEXT("Fail to set Sensor Range!"));
}

}  // namespace

bool CSampleService::PublishParameters() {
    const LPCWSTR baseKeyPath = sensorModels[SensorModel].registryBaseKey;
    UniqueKey baseKey;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, baseKeyPath, 0, KEY_ALL_ACCESS, baseKey.put());
    if (opened != ERROR_SUCCESS) {
        Log(*this, {TEXT("Fail to open registry subkey - "), baseKeyPath, TEXT("\r\n")});
        RecordFailure({TEXT("open "), baseKeyPath}, static_cast<DWORD>(opened));
        return false;
    }

    WCHAR className[classNameCapacity] = {};
    DWORD classLength = classNameCapacity;
    DWORD instanceCount = 0;
    // A failed query leaves the count at 0 and is logged as an empty base key.
    const LONG queried = RegQueryInfoKeyW(baseKey.get(), className, &classLength, nullptr, &instanceCount,
                                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (instanceCount == 0) {
        baseKey.reset();
        Log(*this, {TEXT("Fail to query registry information.\r\n")});
        // An empty base key fails as its enumeration would: no more items.
        if (queried != ERROR_SUCCESS)
            RecordFailure({TEXT("query "), baseKeyPath}, static_cast<DWORD>(queried));
        else
            RecordFailure({TEXT("enumerate "), baseKeyPath}, ERROR_NO_MORE_ITEMS);
        return false;
    }

    // Success needs every instance handled to hold all four: a value written to one
    // instance does not make up for its absence from another.
    bool everyInstanceComplete = true;
    for (DWORD index = 0; index < instanceCount; ++index) {
        WCHAR instance[instanceNameCapacity];
        // In: the capacity; out: the name's length. So it is set afresh for every index.
        DWORD instanceLength = instanceNameCapacity;
        const LONG enumerated = RegEnumKeyExW(baseKey.get(), index, instance, &instanceLength, nullptr,
                                              nullptr, nullptr, nullptr);
        if (enumerated != ERROR_SUCCESS) {
            baseKey.reset();
            Log(*this, {TEXT("Fail to enumerate subkeys.\r\n")});
            RecordFailure({TEXT("enumerate "), baseKeyPath}, static_cast<DWORD>(enumerated));
            return index > 0 && everyInstanceComplete;
        }

        StringCchCopyW(keyPath, keyPathCapacity, baseKeyPath);
        StringCchCatW(keyPath, keyPathCapacity, instance);
        StringCchCatW(keyPath, keyPathCapacity, TEXT("\\Device Parameters"));
        UniqueKey parameters;
        const LONG openedParameters =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, parameters.put());
        if (openedParameters != ERROR_SUCCESS) {
            baseKey.reset();
            Log(*this, {TEXT("Fail to open "), keyPath, TEXT("\r\n")});
            RecordFailure({TEXT("open "), keyPath}, static_cast<DWORD>(openedParameters));
            return index > 0 && everyInstanceComplete;
        }
        WrittenValues written;
        WriteValues(*this, parameters.get(), written);
        everyInstanceComplete = everyInstanceComplete && written.Complete();
    }
    return everyInstanceComplete;
}
