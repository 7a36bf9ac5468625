#include "service/entry_point.h"
int wmain(int, WCHAR*[]) { return 0; }
