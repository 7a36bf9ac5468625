// Standard output: the handle that WriteFile writes the console's text to.
#pragma once

#include "platform/types.h"

#ifndef _WIN32

#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))

HANDLE WINAPI GetStdHandle(DWORD which);

#endif
