#include <initializer_list>

#include "calibration/firmware_variables.h"
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

// Sets one REG_DWORD and logs "<label><value>\r\n", or the failure text as it is.
bool SetDword(CSampleService& service, HKEY key, LPCWSTR name, DWORD value, LPCWSTR label, LPCWSTR failure) {
    if (RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) !=
        ERROR_SUCCESS) {
        // No line end, as the service has always logged it; parsers of the log rely on it.
        Log(service, {failure});
        return false;
    }
    StringCchPrintfW(logScratch, logScratchCapacity, TEXT("%lu"), value);
    Log(service, {label, logScratch, TEXT("\r\n")});
    return true;
}

bool SetAlrCurve(CSampleService& service, HKEY key) {
    const LPCWSTR text = CalibrationParameters.alrText;
    // REG_SZ data carries its terminator.
    const DWORD size = static_cast<DWORD>(lstrlenW(text) + 1) * sizeof(WCHAR);
    if (RegSetValueExW(key, TEXT("ALR_CURVE"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) !=
        ERROR_SUCCESS) {
        Log(service, {TEXT("Fail to set ALR Table!")});  // no line end, like the other write failures
        return false;
    }
    Log(service, {TEXT("ALR Table: "), text, TEXT("\r\n")});
    return true;
}

void WriteValues(CSampleService& service, HKEY key, WrittenValues& written) {
    const CalibrationRecord& record = CalibrationParameters;
    if (SetDword(service, key, TEXT("ALS_SRC"), record.sourceLux, TEXT("SOURCE LUX: "),
                 TEXT("Fail to set Source Lux!")))
        written.sourceLux = true;
    if (SetDword(service, key, TEXT("ALS_CAL"), record.sensorLux, TEXT("SENSOR LUX: "),
                 TEXT("Fail to set Sensor Lux!")))
        written.sensorLux = true;
    // Until the curve has been read once there is nothing to write, not even a line.
    if (record.alrPresent && SetAlrCurve(service, key)) written.alrCurve = true;
    if (SetDword(service, key, TEXT("ALS_CS"), record.changeSensitivity, TEXT("CHANGE SENSITIVITY: "),
                 TEXT("Fail to set Change Sensitivity!")))
        written.changeSensitivity = true;
    // The flag's failure has always been logged as "Sensor Range"; readers of the log match it.
    SetDword(service, key, TEXT("ALS_FLAG"), record.alsFlag, TEXT("ALS FLAG: "),
             TEXT("Fail to set Sensor Range!"));
}

}  // namespace

bool CSampleService::PublishParameters() {
    const LPCWSTR baseKeyPath = sensorModels[SensorModel].registryBaseKey;
    UniqueKey baseKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, baseKeyPath, 0, KEY_ALL_ACCESS, baseKey.put()) != ERROR_SUCCESS) {
        Log(*this, {TEXT("Fail to open registry subkey - "), baseKeyPath, TEXT("\r\n")});
        return false;
    }

    WCHAR className[classNameCapacity] = {};
    DWORD classLength = classNameCapacity;
    DWORD instanceCount = 0;
    // A failed query leaves the count at 0 and is reported as an empty base key.
    RegQueryInfoKeyW(baseKey.get(), className, &classLength, nullptr, &instanceCount, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr);
    if (instanceCount == 0) {
        baseKey.reset();
        Log(*this, {TEXT("Fail to query registry information.\r\n")});
        return false;
    }

    // Success needs every instance handled to hold all four: a value written to one
    // instance does not make up for its absence from another.
    bool everyInstanceComplete = true;
    for (DWORD index = 0; index < instanceCount; ++index) {
        WCHAR instance[instanceNameCapacity];
        // In: the capacity; out: the name's length. So it is set afresh for every index.
        DWORD instanceLength = instanceNameCapacity;
        if (RegEnumKeyExW(baseKey.get(), index, instance, &instanceLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            baseKey.reset();
            Log(*this, {TEXT("Fail to enumerate subkeys.\r\n")});
            return index > 0 && everyInstanceComplete;
        }

        StringCchCopyW(keyPath, keyPathCapacity, baseKeyPath);
        StringCchCatW(keyPath, keyPathCapacity, instance);
        StringCchCatW(keyPath, keyPathCapacity, TEXT("\\Device Parameters"));
        UniqueKey parameters;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, parameters.put()) !=
            ERROR_SUCCESS) {
            baseKey.reset();
            Log(*this, {TEXT("Fail to open "), keyPath, TEXT("\r\n")});
            return index > 0 && everyInstanceComplete;
        }
        WrittenValues written;
        WriteValues(*this, parameters.get(), written);
        everyInstanceComplete = everyInstanceComplete && written.Complete();
    }
    return everyInstanceComplete;
}
