// The four firmware variables that hold the sensor's calibration, and the decoded
// record that the registry publication reads.
#pragma once

#include "platform/types.h"

struct AlrPair {
    DWORD lux;
    DWORD value;
};

struct CalibrationRecord {
    DWORD sourceLux = 1000;
    DWORD sensorLux = 1000;
    DWORD changeSensitivity = 25;
    DWORD alsFlag = 1;
    DWORD alrPresent = 0;
    AlrPair alrPairs[10] = {};
    WCHAR alrText[512] = {};
};

// Never reset while the process lives: a failed read keeps the last good values.
extern CalibrationRecord CalibrationParameters;

inline constexpr const WCHAR* calibrationVendorGuid = TEXT("{BF82486A-80F7-4733-B82C-066BD8F2534B}");
inline constexpr const WCHAR* calibrateVariable = TEXT("CALIBRATE");  // source and sensor lux
inline constexpr const WCHAR* alrCurveVariable = TEXT("ALR_CURVE");
inline constexpr const WCHAR* changeSensitivityVariable = TEXT("ALS_CS");
inline constexpr const WCHAR* alsFlagVariable = TEXT("ALS_FLAG");
// The four, in the order an attempt reads them.
inline constexpr const WCHAR* calibrationVariables[] = {calibrateVariable, alrCurveVariable,
                                                        changeSensitivityVariable, alsFlagVariable};

// Enables SeSystemEnvironmentPrivilege on the process token; failures show in the
// firmware read that follows.
void EnableFirmwareAccess();
bool ReadCalibrate();
bool ReadChangeSensitivity();
bool ReadAlsFlag();
