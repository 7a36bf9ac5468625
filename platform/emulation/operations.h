// Every emulated operation that fault injection can fail, in one list: the call
// counts, the rules and the fault sweep all walk it, so an operation added here is
// swept at once, and an emulated call that names no entry here does not compile.
// Each entry gives the error that suits a failure of that call.
#pragma once

#include <cstddef>

#include "platform/types.h"

// clang-format off
#define NOXEL_EMULATED_OPERATIONS(X)                                           \
    X(StartServiceCtrlDispatcherW, ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)    \
    X(RegisterServiceCtrlHandlerW, ERROR_SERVICE_NOT_IN_EXE)                   \
    X(SetServiceStatus, ERROR_INVALID_HANDLE)                                  \
    X(OpenSCManagerW, RPC_S_SERVER_UNAVAILABLE)                                \
    X(CreateServiceW, ERROR_SERVICE_EXISTS)                                    \
    X(OpenServiceW, ERROR_SERVICE_DOES_NOT_EXIST)                              \
    X(ChangeServiceConfig2W, ERROR_ACCESS_DENIED)                              \
    X(QueryServiceConfig2W, ERROR_ACCESS_DENIED)                               \
    X(StartServiceW, ERROR_SERVICE_ALREADY_RUNNING)                            \
    X(ControlService, ERROR_SERVICE_CANNOT_ACCEPT_CTRL)                        \
    X(QueryServiceStatus, ERROR_INVALID_HANDLE)                                \
    X(DeleteService, ERROR_SERVICE_MARKED_FOR_DELETE)                          \
    X(CloseServiceHandle, ERROR_INVALID_HANDLE)                                \
    X(GetModuleFileNameW, ERROR_INSUFFICIENT_BUFFER)                           \
    X(RegisterEventSourceW, RPC_S_SERVER_UNAVAILABLE)                          \
    X(ReportEventW, RPC_S_SERVER_UNAVAILABLE)                                  \
    X(DeregisterEventSource, ERROR_INVALID_HANDLE)                             \
    X(OpenProcessToken, ERROR_ACCESS_DENIED)                                   \
    X(LookupPrivilegeValueW, ERROR_NO_SUCH_PRIVILEGE)                          \
    X(AdjustTokenPrivileges, ERROR_NOT_ALL_ASSIGNED)                           \
    X(GetFirmwareEnvironmentVariableW, ERROR_ENVVAR_NOT_FOUND)                 \
    X(FormatMessageW, ERROR_MR_MID_NOT_FOUND)                                  \
    X(SetupDiGetClassDevsW, ERROR_INVALID_DATA)                                \
    X(SetupDiEnumDeviceInfo, ERROR_NO_MORE_ITEMS)                              \
    X(SetupDiGetDeviceRegistryPropertyW, ERROR_INVALID_DATA)                   \
    X(SetupDiDestroyDeviceInfoList, ERROR_INVALID_HANDLE)                      \
    X(RegOpenKeyExW, ERROR_FILE_NOT_FOUND)                                     \
    X(RegCreateKeyExW, ERROR_ACCESS_DENIED)                                    \
    X(RegDeleteKeyW, ERROR_ACCESS_DENIED)                                      \
    X(RegQueryInfoKeyW, ERROR_INVALID_HANDLE)                                  \
    X(RegEnumKeyExW, ERROR_NO_MORE_ITEMS)                                      \
    X(RegSetValueExW, ERROR_BADKEY)                                            \
    X(RegCloseKey, ERROR_INVALID_HANDLE)                                       \
    X(FindFirstFileW, ERROR_FILE_NOT_FOUND)                                    \
    X(FindClose, ERROR_INVALID_HANDLE)                                         \
    X(CreateFileW, ERROR_SHARING_VIOLATION)                                    \
    X(SetFilePointer, ERROR_NEGATIVE_SEEK)                                     \
    X(WriteFile, ERROR_DISK_FULL)                                              \
    X(DeleteFileW, ERROR_SHARING_VIOLATION)                                    \
    X(CreateEventW, ERROR_NO_SYSTEM_RESOURCES)                                 \
    X(SetEvent, ERROR_INVALID_HANDLE)                                          \
    X(WaitForSingleObject, ERROR_INVALID_HANDLE)                               \
    X(CloseHandle, ERROR_INVALID_HANDLE)                                       \
    X(QueueUserWorkItem, ERROR_NO_SYSTEM_RESOURCES)                            \
    X(LocalAlloc, ERROR_NOT_ENOUGH_MEMORY)
// clang-format on

namespace emu {

enum class Operation {
#define NOXEL_OPERATION_ENUMERATOR(name, error) name,
    NOXEL_EMULATED_OPERATIONS(NOXEL_OPERATION_ENUMERATOR)
#undef NOXEL_OPERATION_ENUMERATOR
};

struct OperationInfo {
    const char* name;    // the Win32 name, as fault rules and machine files spell it
    DWORD fittingError;  // what a failure of this call most likely returns
};

inline constexpr OperationInfo operations[] = {
#define NOXEL_OPERATION_INFO(name, error) {#name, error},
    NOXEL_EMULATED_OPERATIONS(NOXEL_OPERATION_INFO)
#undef NOXEL_OPERATION_INFO
};

inline constexpr size_t operationCount = sizeof(operations) / sizeof(operations[0]);

constexpr const OperationInfo& Describe(Operation operation) {
    return operations[static_cast<size_t>(operation)];
}

}  // namespace emu
