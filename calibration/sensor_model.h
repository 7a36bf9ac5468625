// Which of the two supported sensor models is present, and where each keeps its
// device parameters.
#pragma once

#include "platform/types.h"

struct SensorModelEntry {
    const WCHAR* hardwareIdFragment;
    const WCHAR* registryBaseKey;  // below HKEY_LOCAL_MACHINE, ending in a backslash
};

inline constexpr SensorModelEntry sensorModels[2] = {
    {TEXT("VEN_NOXL&DEV_6120"), TEXT("SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\")},
    {TEXT("VEN_NOXL&DEV_6110"), TEXT("SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6110\\")},
};

// Index into sensorModels; set by DetectSensorModel before the worker starts.
extern BYTE SensorModel;

// Sets SensorModel from the first present device whose first hardware ID holds a
// fragment; true when one was found.
bool DetectSensorModel();
