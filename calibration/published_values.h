// The values that a publication writes into each instance's Device Parameters key.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr LPCWSTR sourceLuxValue = TEXT("ALS_SRC");
inline constexpr LPCWSTR sensorLuxValue = TEXT("ALS_CAL");
inline constexpr LPCWSTR alrCurveValue = TEXT("ALR_CURVE");
inline constexpr LPCWSTR changeSensitivityValue = TEXT("ALS_CS");
inline constexpr LPCWSTR alsFlagValue = TEXT("ALS_FLAG");

// In the order written. The first requiredValueCount make a publication complete; the
// flag is written but not required.
inline constexpr LPCWSTR publishedValueNames[] = {sourceLuxValue, sensorLuxValue, alrCurveValue,
                                                  changeSensitivityValue, alsFlagValue};
inline constexpr size_t requiredValueCount = 4;
