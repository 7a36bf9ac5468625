// Event log: register a source, report an entry, deregister.
#pragma once

#include "platform/types.h"

#ifndef _WIN32

typedef void* PSID;

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004

HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source);
BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID user,
                         WORD stringCount, DWORD dataSize, LPCWSTR* strings, LPVOID data);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);

#endif
