// Firmware environment variables and the token privilege that guards them.
#pragma once

#include "platform/types.h"

#ifdef _WIN32

#ifdef NOXEL_FIRMWARE_DIRECTORY
// Test builds only: firmware variables come from a directory in the Linux efivarfs
// layout (tests/wine/firmware_directory.cpp), for machines without them, such as Wine.
DWORD WINAPI FirmwareDirectoryVariableW(LPCWSTR name, LPCWSTR guid, PVOID buffer, DWORD size);
#define GetFirmwareEnvironmentVariableW FirmwareDirectoryVariableW
#endif

#else

typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_SYSTEM_ENVIRONMENT_NAME TEXT("SeSystemEnvironmentPrivilege")

HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState, LPDWORD returnLength);
DWORD WINAPI GetFirmwareEnvironmentVariableW(LPCWSTR name, LPCWSTR guid, PVOID buffer, DWORD size);

#endif
