#include "calibration/text_log.h"

#include "calibration/sample_service.h"
#include "platform/handles.h"

WCHAR logMessage[logMessageCapacity];
WCHAR logScratch[logScratchCapacity];

namespace {

constexpr size_t timestampCapacity = 256;

bool LogFileExists() {
    WIN32_FIND_DATAW found;
    return static_cast<bool>(UniqueFind(FindFirstFileW(logFilePath, &found)));
}

// Writes the characters of `text` without its terminator; a failed write loses only
// this entry, so the result is not examined.
void WriteText(HANDLE file, LPCWSTR text) {
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(lstrlenW(text)) * sizeof(WCHAR), &written, nullptr);
}

}  // namespace

void CSampleService::AppendLog() {
    if (!LogFileExists()) {
        UniqueFile created(
            CreateFileW(logFilePath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) {
            LogEvent(TEXT("Unable to Create Log File"), EVENTLOG_INFORMATION_TYPE);
            return;
        }
    }

    // Readers may look at the log while an entry is written, writers may not.
    UniqueFile file(CreateFileW(logFilePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;  // someone else holds the file: this entry is lost

    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR timestamp[timestampCapacity] = {};
    StringCchPrintfW(timestamp, timestampCapacity, TEXT("[%04lu%02lu%02lu-%02lu:%02lu:%02lu]"),
                     static_cast<DWORD>(now.wYear), static_cast<DWORD>(now.wMonth), static_cast<DWORD>(now.wDay),
                     static_cast<DWORD>(now.wHour), static_cast<DWORD>(now.wMinute),
                     static_cast<DWORD>(now.wSecond));

    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    WriteText(file.get(), timestamp);
    WriteText(file.get(), logMessage);
}
