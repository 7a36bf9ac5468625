#include "calibration/text_log.h"

#include <iterator>

#include "calibration/sample_service.h"
#include "platform/handles.h"
#include "platform/local_time.h"
#include "platform/strings.h"

WCHAR logMessage[logMessageCapacity];
WCHAR logScratch[logScratchCapacity];

namespace {

constexpr size_t timestampCapacity = 256;

bool LogFileExists() {
    WIN32_FIND_DATAW found;
    return static_cast<bool>(UniqueFind(FindFirstFileW(logFilePath, &found)));
}

}  // namespace

void CSampleService::AppendLog() {
    if (!LogFileExists()) {
        UniqueFile created(
            CreateFileW(logFilePath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) {
            // An information entry, as the service has always filed it; the transfer goes on.
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
    // Timestamp and message go out in one write, so that a failure loses this entry
    // whole and leaves no bare half glued to a neighbour.
    WCHAR entry[timestampCapacity + logMessageCapacity] = {};
    StringCchPrintfW(entry, std::size(entry), TEXT("[%04lu%02lu%02lu-%02lu:%02lu:%02lu]%s"),
                     static_cast<DWORD>(now.wYear), static_cast<DWORD>(now.wMonth),
                     static_cast<DWORD>(now.wDay), static_cast<DWORD>(now.wHour),
                     static_cast<DWORD>(now.wMinute), static_cast<DWORD>(now.wSecond), logMessage);
    const int length = lstrlenW(entry);

    // Without the end of the file the entry would land over earlier ones: drop it.
    if (SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) return;
    DWORD written = 0;
    WriteFile(file.get(), entry, static_cast<DWORD>(length) * sizeof(WCHAR), &written, nullptr);
}
