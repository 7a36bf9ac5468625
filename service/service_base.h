// The generic half of a Windows service: connects to the service manager, reports
// status with its checkpoint protocol, and runs the hooks of a derived class inside
// guards that turn failures into event-log entries and fallback reports.
#pragma once

#include "platform/event_log.h"
#include "platform/service_control.h"
#include "platform/threads.h"

class CServiceBase {
public:
    // Hands the calling thread to the dispatcher until the service has stopped.
    // False when the dispatcher cannot run; GetLastError says why.
    static bool RunService(CServiceBase& service);

    CServiceBase(LPCWSTR serviceName, DWORD controlsAccepted);
    virtual ~CServiceBase() = default;
    CServiceBase(const CServiceBase&) = delete;
    CServiceBase& operator=(const CServiceBase&) = delete;

    void LogEvent(LPCWSTR message, WORD type);
    void LogError(LPCWSTR operation, DWORD error);

protected:
    // Hooks report failure by throwing the Win32 error code as a DWORD.
    virtual void OnStart(DWORD argc, LPWSTR* argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();

    void ReportStatus(DWORD state, DWORD exitCode = 0, DWORD waitHint = 0);

    LPCWSTR serviceName;
    SERVICE_STATUS status;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;

private:
    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    static void WINAPI ControlHandler(DWORD control);

    void HandleStart(DWORD argc, LPWSTR* argv);
    void HandleStop();
    void HandlePause();
    void HandleContinue();
    void HandleShutdown();

    static CServiceBase* serviceInstance;
    static DWORD nextCheckPoint;
    static SRWLOCK reportLock;
    // Held by the start transition, so that a control and the end of RunService wait
    // for it.
    static SRWLOCK transitionLock;
};
