// ARM64 build only (Zig's clang). Zig ignores -municode, so its startup code calls main,
// never wmain: this main asks msvcrt for the wide arguments, as MinGW's -municode startup
// does, and hands them to the program's wmain.
#include <windows.h>

namespace {

// msvcrt's _startupinfo: the new-handler mode for malloc, 0 as the startup code keeps it.
struct StartupInfo {
    int newMode;
};

}  // namespace

extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards,
                              StartupInfo* startupInfo);

int wmain(int argc, wchar_t* argv[]);

int main() {
    int argc = 0;
    wchar_t** argv = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo startupInfo{0};
    // Fails only when msvcrt cannot allocate the arguments' copy.
    if (__wgetmainargs(&argc, &argv, &environment, 0, &startupInfo) < 0) return ERROR_NOT_ENOUGH_MEMORY;
    return wmain(argc, argv);
}
