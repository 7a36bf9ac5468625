// Wide strings: their length, the bounded formatter and copies of strsafe.h, and the
// conversion to a code page.
#pragma once

#include "platform/types.h"

#ifndef _WIN32

#include <cstdarg>

#define STRSAFE_E_INSUFFICIENT_BUFFER static_cast<HRESULT>(0x8007007AU)
#define STRSAFE_E_INVALID_PARAMETER static_cast<HRESULT>(0x80070057U)
#define STRSAFE_MAX_CCH 2147483647

int WINAPI lstrlenW(LPCWSTR string);
HRESULT StringCchPrintfW(LPWSTR dest, size_t capacity, LPCWSTR format, ...);
HRESULT StringCchVPrintfW(LPWSTR dest, size_t capacity, LPCWSTR format, va_list args);
HRESULT StringCchCopyW(LPWSTR dest, size_t capacity, LPCWSTR source);
HRESULT StringCchCatW(LPWSTR dest, size_t capacity, LPCWSTR source);

#define CP_ACP 0
#define CP_UTF8 65001
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR narrow,
                               int narrowBytes, LPCSTR defaultChar, BOOL* usedDefault);

#endif
