// Whether the process token holds a privilege enabled: Windows only, for the test build's
// firmware reader and the conformance program's Windows run.
#pragma once

#ifndef _WIN32
#error "Windows only"
#endif

#include <vector>

#include "platform/handles.h"

inline bool TokenPrivilegeEnabled(LPCWSTR name) {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    LUID privilege{};
    if (!LookupPrivilegeValueW(nullptr, name, &privilege)) return false;
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    if (size == 0) return false;
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == privilege.LowPart && entry.Luid.HighPart == privilege.HighPart)
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}
