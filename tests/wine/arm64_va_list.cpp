// Linked into the ARM64 programs that run under Debian's arm64 Wine, never into what
// ships. That Wine builds msvcrt as a Linux library, whose functions read a va_list as
// Linux does on ARM64: a structure that says which arguments are still in registers.
// A Windows program hands a plain pointer to the arguments instead, and the first
// formatted text crashes. Before main, each import of msvcrt that takes a va_list is
// pointed at a function here that hands the pointer over as a Linux list whose
// registers are used up, so that every argument is read from memory on from there.
#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace {

struct LinuxVaList {
    void* stack;  // the next argument in memory
    void* generalTop;
    void* vectorTop;
    int generalOffset;  // 0: no general register left
    int vectorOffset;   // 0: no vector register left
};

// The imports that the programs make and the Linux functions behind them.
using WideFormat = int (*)(wchar_t*, size_t, const wchar_t*, LinuxVaList*);
using NarrowFormat = int (*)(char*, size_t, const char*, LinuxVaList*);
using StreamFormat = int (*)(FILE*, const char*, LinuxVaList*);
WideFormat linuxVsnwprintf;
NarrowFormat linuxVsnprintf;
StreamFormat linuxVfprintf;

int Vsnwprintf(wchar_t* text, size_t count, const wchar_t* format, va_list arguments) {
    LinuxVaList list{arguments, nullptr, nullptr, 0, 0};
    return linuxVsnwprintf(text, count, format, &list);
}

int Vsnprintf(char* text, size_t count, const char* format, va_list arguments) {
    LinuxVaList list{arguments, nullptr, nullptr, 0, 0};
    return linuxVsnprintf(text, count, format, &list);
}

int Vfprintf(FILE* stream, const char* format, va_list arguments) {
    LinuxVaList list{arguments, nullptr, nullptr, 0, 0};
    return linuxVfprintf(stream, format, &list);
}

// Replaces an import address table slot, keeping what it held.
template <typename Function>
void Redirect(void** slot, Function& original, void* replacement) {
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) return;
    original = reinterpret_cast<Function>(*slot);
    *slot = replacement;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

}  // namespace

// The slots of the import address table, which the linker names so.
extern "C" void* __imp__vsnwprintf;
extern "C" void* __imp__vsnprintf;
extern "C" void* __imp_vfprintf;

namespace {

[[maybe_unused]] const bool redirected = [] {
    Redirect(&__imp__vsnwprintf, linuxVsnwprintf, reinterpret_cast<void*>(Vsnwprintf));
    Redirect(&__imp__vsnprintf, linuxVsnprintf, reinterpret_cast<void*>(Vsnprintf));
    Redirect(&__imp_vfprintf, linuxVfprintf, reinterpret_cast<void*>(Vfprintf));
    return true;
}();

}  // namespace
