#include "service/console.h"

#include <cstdarg>
#include <vector>

#include "platform/files.h"

int PrintConsole(LPCWSTR format, ...) {
    // wvsprintfW, not the C library: MinGW's wide printf reads %s as a narrow string.
    WCHAR text[1025];
    va_list args;
    va_start(args, format);
    const int length = wvsprintfW(text, format, args);
    va_end(args);
    if (length <= 0) return length < 0 ? -1 : 0;

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
