#pragma once

#include "platform/types.h"

// -install and -remove run the console commands; no argument runs the service.
// Returns 0 on every path.
int wmain(int argc, WCHAR* argv[]);
