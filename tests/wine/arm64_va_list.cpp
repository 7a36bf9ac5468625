// Linked into the ARM64 programs that run under Debian's arm64 Wine, never into what
// ships. That Wine builds msvcrt as a Linux library, whose functions read a va_list as
// Linux does on ARM64, a structure that says which arguments are still in registers,
// where a Windows program passes a pointer to the arguments: the first formatted text
// crashes. Before main, msvcrt's imports that take a va_list are pointed at functions
// that pass the pointer on as a Linux list with no registers left.
#include <windows.h>

#include <cstdarg>
#include <cstdio>

extern "C" void* __imp__vsnwprintf;
extern "C" void* __imp__vsnprintf;
extern "C" void* __imp_vfprintf;

namespace {

struct LinuxVaList {
    void* stack;  // the next argument in memory
    void* generalTop;
    void* vectorTop;
    int generalOffset;  // 0: no general register left
    int vectorOffset;   // 0: no vector register left
};

// One import: its slot in the import address table and what the slot held.
template <void** slot, typename... Fixed>
struct Import {
    static inline int (*original)(Fixed..., LinuxVaList*);  // the Linux function
    static int Call(Fixed... fixed, va_list arguments) {
        LinuxVaList list{arguments, nullptr, nullptr, 0, 0};
        return original(fixed..., &list);
    }
    static void Redirect() {
        DWORD protection = 0;
        if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) return;
        original = reinterpret_cast<decltype(original)>(*slot);
        *slot = reinterpret_cast<void*>(Call);
        VirtualProtect(slot, sizeof(*slot), protection, &protection);
    }
};

[[maybe_unused]] const bool redirected = [] {
    Import<&__imp__vsnwprintf, wchar_t*, size_t, const wchar_t*>::Redirect();
    Import<&__imp__vsnprintf, char*, size_t, const char*>::Redirect();
    Import<&__imp_vfprintf, FILE*, const char*>::Redirect();
    return true;
}();

}  // namespace
