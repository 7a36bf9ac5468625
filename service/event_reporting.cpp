// The service's event-log writers. Every entry carries identifier 0 and category 0 and
// says everything in its two strings; message 0 of the executable's message table
// (packaging/messages.mc) renders the second alone.
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
