// The names under which the calibration service is registered and logs, and what an
// administrator reads about it. The driver package's INF and the MSI say the same.
#pragma once

#include "platform/types.h"

inline constexpr const WCHAR* calibrationServiceName = TEXT("Noxel_ALS_Service");
inline constexpr const WCHAR* calibrationServiceDisplayName = TEXT("Noxel Ambient Light Sensor Service");
inline constexpr const WCHAR* calibrationServiceDescription = TEXT(
    "Copies the ambient light sensor's calibration from the UEFI firmware into the sensor's registry "
    "settings.");
// Where Windows looks up the message file that renders the service's event-log entries.
inline constexpr const WCHAR* calibrationEventSourceKey =
    TEXT("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Noxel_ALS_Service");
