// Present devices and their hardware-ID property. Only SPDRP_HARDWAREID is kept.
#include <cstring>

#include "platform/devices.h"
#include "platform/emulation/state.h"
#include "platform/registry.h"

using namespace emu;
using namespace emu::detail;

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND parent, DWORD flags) {
    (void)enumerator, (void)parent;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetupDiGetClassDevsW)) return FailWith(*error, INVALID_HANDLE_VALUE);
    if (!classGuid && (flags & DIGCF_ALLCLASSES) == 0)
        return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    auto handle = const_cast<void*>(NewHandle(s, "device set"));
    s.deviceSets[handle] = s.devices;  // a snapshot, as Windows takes one
    return handle;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetupDiEnumDeviceInfo)) return FailWith(*error, FALSE);
    auto it = s.deviceSets.find(set);
    if (it == s.deviceSets.end()) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return FailWith(ERROR_INVALID_USER_BUFFER, FALSE);
    if (index >= it->second.size()) return FailWith(ERROR_NO_MORE_ITEMS, FALSE);
    data->DevInst = index + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              LPDWORD propertyType, LPBYTE buffer, DWORD bufferSize,
                                              LPDWORD requiredSize) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetupDiGetDeviceRegistryPropertyW)) return FailWith(*error, FALSE);
    auto it = s.deviceSets.find(set);
    if (it == s.deviceSets.end()) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->DevInst == 0 ||
        data->DevInst > it->second.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Device& device = it->second[data->DevInst - 1];
    if (property != SPDRP_HARDWAREID || !device.hardwareId) return FailWith(ERROR_INVALID_DATA, FALSE);
    const Bytes& value = *device.hardwareId;
    if (requiredSize) *requiredSize = static_cast<DWORD>(value.size());
    if (propertyType) *propertyType = REG_MULTI_SZ;
    if (!buffer || bufferSize < value.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER, FALSE);
    if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetupDiDestroyDeviceInfoList)) return FailWith(*error, FALSE);
    if (!s.deviceSets.erase(set)) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    ReleaseHandle(s, set, "device set");
    return TRUE;
}

namespace emu {

void AddDevice(const Bytes& hardwareIdProperty) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.devices.push_back({hardwareIdProperty});
}

void AddDevice(const std::vector<String>& hardwareIds) { AddDevice(MultiString(hardwareIds)); }

void AddDeviceWithoutHardwareId() {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.devices.push_back({std::nullopt});
}

Bytes MultiString(const std::vector<String>& strings) {
    Bytes bytes;
    auto put = [&](char16_t c) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    };
    for (const String& text : strings) {
        for (char16_t c : text) put(c);
        put(0);
    }
    put(0);
    return bytes;
}

}  // namespace emu
