#include "calibration/sample_service.h"

#include <memory>

#include "calibration/firmware_variables.h"
#include "calibration/sensor_model.h"
#include "calibration/text_log.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "service/service_identity.h"

std::atomic<DWORD> retryCount{0};
FailedStep lastFailure;

namespace {

// What the thread-pool callback runs: a member operation and its object.
struct WorkItemContext {
    void (CSampleService::*operation)();
    CSampleService* service;
};

}  // namespace

void RecordFailure(std::initializer_list<LPCWSTR> step, DWORD error) {
    lastFailure.step[0] = 0;
    for (LPCWSTR part : step) StringCchCatW(lastFailure.step, failedStepCapacity, part);
    lastFailure.error = error;
}

CSampleService::CSampleService()
    : CServiceBase(calibrationServiceName, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN) {
    stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stoppedEvent) throw GetLastError();
}

CSampleService::~CSampleService() {
    // After a shutdown the dispatcher returns while the worker may still run; it must
    // not outlive the object it works on.
    if (workerQueued) {
        stopping = 1;
        WaitForSingleObject(stoppedEvent, INFINITE);
    }
    CloseHandle(stoppedEvent);
}

void CSampleService::OnStart(DWORD, LPWSTR*) {
    LogEvent(TEXT("Noxel ALS Service in OnStart"), EVENTLOG_INFORMATION_TYPE);
    DetectSensorModel();

    // Braced, then moved in: clang 14 has no parenthesised aggregate initialisation.
    auto context = std::make_unique<WorkItemContext>(WorkItemContext{&CSampleService::WorkerLoop, this});
    workerQueued = true;
    if (!QueueUserWorkItem(WorkItemThunk, context.get(), WT_EXECUTELONGFUNCTION)) {
        const DWORD error = GetLastError();
        workerQueued = false;
        throw error;
    }
    context.release();  // the work item frees it
}

void CSampleService::OnStop() {
    LogEvent(TEXT("Noxel ALS Service in OnStop"), EVENTLOG_INFORMATION_TYPE);
    stopping = 1;
    // Reset as the service always has, though the worker is ending and counts no more.
    retryCount = 0;
    if (WaitForSingleObject(stoppedEvent, INFINITE) != WAIT_OBJECT_0) throw GetLastError();
}

DWORD WINAPI CSampleService::WorkItemThunk(LPVOID context) {
    std::unique_ptr<WorkItemContext> item(static_cast<WorkItemContext*>(context));
    (item->service->*item->operation)();
    return 0;
}

void CSampleService::WorkerLoop() {
    try {
        DeleteFileW(logFilePath);
        while (stopping == 0) {
            bool published = false;
            if (ReadCalibrate()) {
                ReadAlrCurve();
                ReadChangeSensitivity();
                ReadAlsFlag();
                published = PublishParameters();
            }
            if (published) {
                stopping = 1;
                LogEvent(publishedEventText, EVENTLOG_INFORMATION_TYPE);
                break;
            }
            // A stop asked for before the last attempt ended has ended the attempts itself:
            // the worker has not given up.
            const DWORD attempts = ++retryCount;
            if (attempts >= maximumAttempts && stopping.exchange(1) == 0) ReportGivingUp(attempts);
            // The last failure sleeps too: a stop then waits for the sleep, as it always has.
            Sleep(retryIntervalMs);
        }
    } catch (...) {
        // Nothing escapes into the thread pool, and OnStop still gets its event.
    }
    SetEvent(stoppedEvent);
}

void CSampleService::ReportGivingUp(DWORD attempts) {
    StringCchPrintfW(logMessage, logMessageCapacity,
                     TEXT("Gave up after %lu attempts: %s failed w/err 0x%08lx"), attempts, lastFailure.step,
                     lastFailure.error);
    LogEvent(logMessage, EVENTLOG_ERROR_TYPE);
    StringCchCatW(logMessage, logMessageCapacity, TEXT("\r\n"));
    AppendLog();
}
