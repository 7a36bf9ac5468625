// Firmware variables read from a directory in the Linux efivarfs layout, for test builds
// on machines that have none (Wine): one file "NAME-guid" per variable, the GUID in lower
// case without braces, holding four attribute bytes (little-endian) and then the data.
// It keeps the contract of GetFirmwareEnvironmentVariableW that the service relies on.
#ifndef _WIN32
#error "Windows only: the host build emulates firmware variables in platform/emulation/"
#endif
#ifndef NOXEL_FIRMWARE_DIRECTORY
#error "NOXEL_FIRMWARE_DIRECTORY names the directory, as a narrow string literal"
#endif

#include <cwctype>
#include <vector>

#include "platform/firmware.h"
#include "platform/handles.h"
#include "platform/strings.h"

namespace {

constexpr size_t guidTextLength = 36;  // bf82486a-80f7-4733-b82c-066bd8f2534b
constexpr DWORD attributesSize = 4;

bool TokenPrivilegeEnabled(LPCWSTR name) {
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

// "{BF82486A-80F7-4733-B82C-066BD8F2534B}" as efivarfs spells it in file names; false
// for anything but a GUID in braces, which Windows refuses as well.
bool EfivarfsGuid(LPCWSTR guid, WCHAR (&text)[guidTextLength + 1]) {
    if (guid[0] != '{') return false;
    for (size_t i = 0; i < guidTextLength; ++i) {
        const WCHAR c = guid[i + 1];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !std::iswxdigit(c)) return false;
        text[i] = static_cast<WCHAR>(std::towlower(c));
    }
    text[guidTextLength] = 0;
    return guid[guidTextLength + 1] == '}' && guid[guidTextLength + 2] == 0;
}

DWORD Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

DWORD WINAPI FirmwareDirectoryVariableW(LPCWSTR name, LPCWSTR guid, PVOID buffer, DWORD size) {
    WCHAR vendor[guidTextLength + 1];
    if (!EfivarfsGuid(guid, vendor)) return Fail(ERROR_INVALID_PARAMETER);
    // Windows reads firmware variables only for a process that has the privilege enabled.
    if (!TokenPrivilegeEnabled(SE_SYSTEM_ENVIRONMENT_NAME)) return Fail(ERROR_PRIVILEGE_NOT_HELD);

    WCHAR fileName[MAX_PATH], path[MAX_PATH];
    StringCchPrintfW(fileName, MAX_PATH, TEXT("%s-%s"), name, vendor);
    if (FAILED(StringCchPrintfW(path, MAX_PATH, TEXT("%s\\%s"), TEXT(NOXEL_FIRMWARE_DIRECTORY), fileName)))
        return Fail(ERROR_ENVVAR_NOT_FOUND);  // no variable has a name that long
    // Variable names are case-sensitive; the file system that holds them may not be.
    WIN32_FIND_DATAW found;
    UniqueFind entry(FindFirstFileW(path, &found));
    if (!entry || lstrcmpW(found.cFileName, fileName) != 0) return Fail(ERROR_ENVVAR_NOT_FOUND);
    // A variable holds at least one byte: a file of attributes alone is no variable.
    const DWORD fileSize = found.nFileSizeLow;
    if (found.nFileSizeHigh != 0 || fileSize <= attributesSize) return Fail(ERROR_ENVVAR_NOT_FOUND);
    const DWORD dataSize = fileSize - attributesSize;
    if (dataSize > size) return Fail(ERROR_INSUFFICIENT_BUFFER);

    // Read into a copy first, so that a failed read leaves the caller's buffer untouched.
    std::vector<BYTE> data(fileSize);
    DWORD read = 0;
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !ReadFile(file.get(), data.data(), fileSize, &read, nullptr) || read != fileSize)
        return Fail(ERROR_READ_FAULT);
    CopyMemory(buffer, data.data() + attributesSize, dataSize);
    SetLastError(ERROR_SUCCESS);
    return dataSize;
}
