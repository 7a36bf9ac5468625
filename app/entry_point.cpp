#include "app/entry_point.h"

#include "calibration/sample_service.h"
#include "install/install.h"
#include "service/console.h"

namespace {

// Compares without case for the letters A to Z only, as the option names are ASCII.
bool IsOption(const WCHAR* text, const WCHAR* option) {
    auto lower = [](WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c; };
    for (; *text && *option; ++text, ++option)
        if (lower(*text) != lower(*option)) return false;
    return *text == 0 && *option == 0;
}

}  // namespace

int wmain(int argc, WCHAR* argv[]) {
    if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
        if (IsOption(argv[1] + 1, TEXT("install"))) {
            InstallService();
        } else if (IsOption(argv[1] + 1, TEXT("remove"))) {
            RemoveService();
        }
        return 0;  // other options are ignored silently
    }

    PrintConsole(TEXT("Parameters:\n"));
    PrintConsole(TEXT(" -install  to install the service.\n"));
    PrintConsole(TEXT(" -remove   to remove the service.\n"));
    try {
        CSampleService service;
        if (!CServiceBase::RunService(service))
            PrintConsole(TEXT("Service failed to run w/err 0x%08lx\n"), GetLastError());
    } catch (DWORD error) {
        // The stopped event could not be created.
        PrintConsole(TEXT("Service failed to run w/err 0x%08lx\n"), error);
    }
    return 0;
}
