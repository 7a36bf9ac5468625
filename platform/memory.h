// Local memory: what FormatMessageW allocates and the caller frees.
#pragma once

#include "platform/types.h"

#ifndef _WIN32

#define LMEM_FIXED 0

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalFree(HLOCAL memory);

#endif
