// Whether the process token holds a privilege enabled: Windows only, for the test build's
// firmware reader and the conformance program's Windows run.
#pragma once

#include "platform/handles.h"

inline bool TokenPrivilegeEnabled(LPCWSTR name) {
    UniqueKernelHandle token;
    LUID privilege{};
    // Room for far more privileges than Windows has.
    alignas(TOKEN_PRIVILEGES) BYTE buffer[4096];
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !LookupPrivilegeValueW(nullptr, name, &privilege) ||
        !GetTokenInformation(token.get(), TokenPrivileges, buffer, sizeof(buffer), &size))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == privilege.LowPart && entry.Luid.HighPart == privilege.HighPart)
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}
