#include "service/console.h"

#include <cstdarg>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace {

// At most 1023 characters and the terminator; a longer text is cut.
constexpr size_t consoleTextCapacity = 1024;

}  // namespace

int PrintConsole(LPCWSTR format, ...) {
    // The Win32 bounded formatter, not the C library's wide printf, which MinGW makes read
    // %s as a narrow string.
    WCHAR text[consoleTextCapacity];
    va_list args;
    va_start(args, format);
    const HRESULT formatted = StringCchVPrintfW(text, consoleTextCapacity, format, args);
    va_end(args);
    if (FAILED(formatted) && formatted != STRSAFE_E_INSUFFICIENT_BUFFER) return -1;
    const int length = lstrlenW(text);
    if (length == 0) return 0;

    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return -1;
    std::vector<char> narrow(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, text, length, narrow.data(), bytes, nullptr, nullptr);
    DWORD written = 0;
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), narrow.data(), static_cast<DWORD>(bytes), &written,
                   nullptr))
        return -1;
    return length;
}
