#pragma once

#include "platform/types.h"

// Formats with the Win32 conventions (%s a wide string, %08lx a 32-bit value) and
// writes the text to standard output. Returns the characters written, or -1.
int PrintConsole(LPCWSTR format, ...);
