// The service's event-log writers. No message file is registered, so every entry
// carries identifier 0 and category 0 and says everything in its two strings.
#include "platform/handles.h"
#include "platform/strings.h"
#include "service/service_base.h"

namespace {

constexpr size_t errorMessageCapacity = 260;

}  // namespace

void CServiceBase::LogEvent(LPCWSTR message, WORD type) {
    UniqueEventSource source(RegisterEventSourceW(nullptr, serviceName));
    if (!source) return;  // the event log is unavailable; the service goes on
    LPCWSTR strings[2] = {serviceName, message};
    ReportEventW(source.get(), type, 0, 0, nullptr, 2, 0, strings, nullptr);
}

void CServiceBase::LogError(LPCWSTR operation, DWORD error) {
    WCHAR message[errorMessageCapacity];
    // A cut text is written as it was cut.
    StringCchPrintfW(message, errorMessageCapacity, TEXT("%s failed w/err 0x%08lx"), operation, error);
    LogEvent(message, EVENTLOG_ERROR_TYPE);
}
