// Owners for the handle kinds the service opens. Each knows its invalid value and its
// close function; closing leaves the thread's last error as it was, so an error read
// after cleanup is still the one that failed.
#pragma once

#include <utility>

#include "platform/devices.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/registry.h"
#include "platform/service_control.h"
#include "platform/threads.h"

#ifndef _WIN32
// Closes a kernel handle: an event, a token or a file.
BOOL WINAPI CloseHandle(HANDLE handle);
#endif

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::Invalid(); }

    // For out-parameters: closes what is held and hands out the slot.
    Type* put() {
        reset();
        return &handle_;
    }

    Type release() { return std::exchange(handle_, Traits::Invalid()); }

    void reset(Type handle = Traits::Invalid()) {
        if (handle_ != Traits::Invalid()) {
            const DWORD error = GetLastError();
            Traits::Close(handle_);
            SetLastError(error);
        }
        handle_ = handle;
    }

private:
    Type handle_ = Traits::Invalid();
};

struct KernelHandleTraits {  // events, tokens
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { FindClose(handle); }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
struct ServiceHandleTraits {  // the service manager and its services
    using Type = SC_HANDLE;
    static SC_HANDLE Invalid() { return nullptr; }
    static void Close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};
struct EventSourceTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { DeregisterEventSource(handle); }
};
struct DeviceSetTraits {
    using Type = HDEVINFO;
    static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HDEVINFO set) { SetupDiDestroyDeviceInfoList(set); }
};
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static HLOCAL Invalid() { return nullptr; }
    static void Close(HLOCAL memory) { LocalFree(memory); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueKey = UniqueHandle<RegistryKeyTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;
using UniqueDeviceSet = UniqueHandle<DeviceSetTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
