// What an administrator sees of the service beside its registration: its description,
// what the service manager does when the process ends without reporting STOPPED, and
// the one privilege its token keeps. -install and the MSI's custom action set all three
// through these; the component INF says the same.
#pragma once

#include "platform/service_control.h"
#include "service/service_identity.h"

inline constexpr DWORD recoveryRestartDelayMs = 60 * 1000;
inline constexpr DWORD recoveryResetPeriodSeconds = 24 * 60 * 60;

inline BOOL SetServiceDescription(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(calibrationServiceDescription)};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
}

// A restart a minute after the first and the second unexpected end, then nothing: a
// service that keeps failing is left stopped for an administrator to look at. The
// count starts again after a day. The handle needs start access besides change-config.
inline BOOL SetServiceRecovery(SC_HANDLE service) {
    SC_ACTION actions[] = {
        {SC_ACTION_RESTART, recoveryRestartDelayMs},
        {SC_ACTION_RESTART, recoveryRestartDelayMs},
        {SC_ACTION_NONE, 0},
    };
    SERVICE_FAILURE_ACTIONSW failure{recoveryResetPeriodSeconds, nullptr, nullptr, 3, actions};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

// The firmware reads need SeSystemEnvironmentPrivilege; the registry, the event log, the
// devices and the text log are granted by access lists. The service manager removes
// every other privilege from the token (SeChangeNotifyPrivilege always stays), so that a
// fault in the firmware parsing cannot use the rest of LocalSystem's. A multi-string.
inline constexpr const WCHAR requiredPrivileges[] = TEXT("SeSystemEnvironmentPrivilege\0");

inline BOOL SetServiceRequiredPrivileges(SC_HANDLE service) {
    SERVICE_REQUIRED_PRIVILEGES_INFOW privileges{const_cast<LPWSTR>(requiredPrivileges)};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges);
}
