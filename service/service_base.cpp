#include "service/service_base.h"

CServiceBase* CServiceBase::serviceInstance = nullptr;
DWORD CServiceBase::nextCheckPoint = 1;
SRWLOCK CServiceBase::reportLock = SRWLOCK_INIT;
SRWLOCK CServiceBase::transitionLock = SRWLOCK_INIT;

namespace {

// Runs one transition's steps; a thrown Win32 error code becomes an error event
// naming the operation, anything else the fixed failure text, and then the fallback.
template <typename Steps, typename Fallback>
void Guarded(CServiceBase& service, LPCWSTR operation, LPCWSTR failureText, Steps steps,
             Fallback fallback) noexcept {
    try {
        try {
            steps();
        } catch (DWORD error) {
            service.LogError(operation, error);
            fallback(error);
        } catch (...) {
            service.LogEvent(failureText, EVENTLOG_ERROR_TYPE);
            fallback(DWORD{0});
        }
    } catch (...) {
        // A fallback that throws (out of memory in the event log) leaves the status as it is.
    }
}

}  // namespace

CServiceBase::CServiceBase(LPCWSTR serviceName, DWORD controlsAccepted) : serviceName(serviceName), status{} {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_START_PENDING;
    status.dwControlsAccepted = controlsAccepted;
}

bool CServiceBase::RunService(CServiceBase& service) {
    serviceInstance = &service;
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(service.serviceName), ServiceMain},
        {nullptr, nullptr},
    };
    if (!StartServiceCtrlDispatcherW(table)) return false;
    // The dispatcher returns once STOPPED is reported, which a shutdown can do while
    // the start still runs on the service-main thread; the object must outlive it.
    AcquireSRWLockExclusive(&transitionLock);
    ReleaseSRWLockExclusive(&transitionLock);
    return true;
}

void WINAPI CServiceBase::ServiceMain(DWORD argc, LPWSTR* argv) {
    CServiceBase& service = *serviceInstance;
    // Taken before any control can arrive: the handler is not registered yet.
    AcquireSRWLockExclusive(&transitionLock);
    service.statusHandle = RegisterServiceCtrlHandlerW(service.serviceName, ControlHandler);
    if (!service.statusHandle) {
        // Nothing has been reported, so the service manager would wait for ever and the
        // dispatcher would never return: end the process with the reason instead.
        ExitProcess(GetLastError());
    }
    service.HandleStart(argc, argv);
    ReleaseSRWLockExclusive(&transitionLock);
}

void WINAPI CServiceBase::ControlHandler(DWORD control) {
    CServiceBase& service = *serviceInstance;
    void (CServiceBase::*transition)() = nullptr;
    switch (control) {
        case SERVICE_CONTROL_STOP: transition = &CServiceBase::HandleStop; break;
        case SERVICE_CONTROL_PAUSE: transition = &CServiceBase::HandlePause; break;
        case SERVICE_CONTROL_CONTINUE: transition = &CServiceBase::HandleContinue; break;
        case SERVICE_CONTROL_SHUTDOWN: transition = &CServiceBase::HandleShutdown; break;
        default: return;  // interrogate and unknown codes: nothing to report
    }
    // A shutdown may come while the start still runs: it waits for the start's end,
    // and a service that has stopped meanwhile has nothing left to do.
    AcquireSRWLockExclusive(&transitionLock);
    AcquireSRWLockExclusive(&reportLock);
    const bool stopped = service.status.dwCurrentState == SERVICE_STOPPED;
    ReleaseSRWLockExclusive(&reportLock);
    if (!stopped) (service.*transition)();
    ReleaseSRWLockExclusive(&transitionLock);
}

void CServiceBase::ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
    // Reports come from the service-main thread during start and from the dispatcher's
    // thread afterwards; the lock keeps a record and its checkpoint together.
    AcquireSRWLockExclusive(&reportLock);
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = waitHint;
    status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : nextCheckPoint++;
    SERVICE_STATUS report = status;
    SetServiceStatus(statusHandle, &report);
    ReleaseSRWLockExclusive(&reportLock);
}

void CServiceBase::HandleStart(DWORD argc, LPWSTR* argv) {
    Guarded(
        *this, TEXT("Service Start"), TEXT("Service failed to start."),
        [&] {
            ReportStatus(SERVICE_START_PENDING);
            OnStart(argc, argv);
            ReportStatus(SERVICE_RUNNING);
        },
        [&](DWORD error) { ReportStatus(SERVICE_STOPPED, error); });
}

void CServiceBase::HandleStop() {
    AcquireSRWLockExclusive(&reportLock);
    const DWORD previousState = status.dwCurrentState;
    ReleaseSRWLockExclusive(&reportLock);
    Guarded(
        *this, TEXT("Service Stop"), TEXT("Service failed to stop."),
        [&] {
            ReportStatus(SERVICE_STOP_PENDING);
            OnStop();
            ReportStatus(SERVICE_STOPPED);
        },
        [&](DWORD) { ReportStatus(previousState); });
}

void CServiceBase::HandlePause() {
    Guarded(
        *this, TEXT("Service Pause"), TEXT("Service failed to pause."),
        [&] {
            ReportStatus(SERVICE_PAUSE_PENDING);
            OnPause();
            ReportStatus(SERVICE_PAUSED);
        },
        [&](DWORD) { ReportStatus(SERVICE_RUNNING); });
}

void CServiceBase::HandleContinue() {
    Guarded(
        *this, TEXT("Service Continue"), TEXT("Service failed to resume."),
        [&] {
            ReportStatus(SERVICE_CONTINUE_PENDING);
            OnContinue();
            ReportStatus(SERVICE_RUNNING);
        },
        [&](DWORD) { ReportStatus(SERVICE_PAUSED); });
}

void CServiceBase::HandleShutdown() {
    Guarded(
        *this, TEXT("Service Shutdown"), TEXT("Service failed to shut down."),
        [&] {
            OnShutdown();
            ReportStatus(SERVICE_STOPPED);
        },
        [](DWORD) {});
}

void CServiceBase::OnStart(DWORD, LPWSTR*) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}
