// The names under which the calibration service is registered and logs.
#pragma once

#include "platform/types.h"

inline constexpr const WCHAR* calibrationServiceName = TEXT("Noxel_ALS_Service");
inline constexpr const WCHAR* calibrationServiceDisplayName = TEXT("Noxel Ambient Light Sensor Service");
