// The text log of the current run: UTF-16LE entries, each a timestamp followed by the
// message, in one fixed file.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr const WCHAR* logFilePath = TEXT("C:\\Windows\\System32\\Noxel_AlsSvc.log");
inline constexpr size_t logMessageCapacity = 1024;
inline constexpr size_t logScratchCapacity = 512;

// The text of the next entry, and room for callers to format numbers and sub-texts.
// Used by the worker thread alone.
extern WCHAR logMessage[logMessageCapacity];
extern WCHAR logScratch[logScratchCapacity];
