// The calibration service: detects the sensor model at start and runs a worker on the
// thread pool that carries the firmware calibration into the registry, retrying
// every 10 seconds up to 30 times, and says which step failed when it gives up.
// Defined in calibration/sample_service.cpp, but for the three members that say
// otherwise.
#pragma once

#include <atomic>
#include <cstddef>
#include <initializer_list>

#include "service/service_base.h"

class CSampleService : public CServiceBase {
public:
    // Throws the Win32 error code when the stopped event cannot be created.
    CSampleService();
    // Waits for a worker that is still running (after a shutdown) before the object goes.
    ~CSampleService() override;

    // Writes logMessage as one timestamped entry of the text log.
    // Defined in calibration/text_log.cpp.
    void AppendLog();
    // Reads ALR_CURVE into CalibrationParameters; logs a failed read.
    // Defined in calibration/firmware_variables.cpp.
    bool ReadAlrCurve();
    // Writes CalibrationParameters under every instance's Device Parameters key; true
    // when source lux, sensor lux, ALR curve and change sensitivity were each written
    // to every instance handled.
    // Defined in calibration/registry_publication.cpp.
    bool PublishParameters();

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;

private:
    void WorkerLoop();
    // Writes the error entry and the text-log line that name lastFailure.
    void ReportGivingUp(DWORD attempts);
    static DWORD WINAPI WorkItemThunk(LPVOID context);

    std::atomic<LONG> stopping{0};
    HANDLE stoppedEvent = nullptr;
    std::atomic<bool> workerQueued{false};
};

// Failed attempts of the current worker; written by the worker and by OnStop.
extern std::atomic<DWORD> retryCount;

// Room for the longest step, "set ALR_CURVE in " and a Device Parameters key path, so
// that the entry built from it keeps its line end in the text log.
inline constexpr size_t failedStepCapacity = 512;

// The failed step that makes the worker's latest attempt fail, and its Win32 code: what
// the entry names when the worker gives up. Used by the worker alone.
struct FailedStep {
    WCHAR step[failedStepCapacity];  // "read CALIBRATE", "open <key>", "set ALS_CS in <key>"
    DWORD error;
};
extern FailedStep lastFailure;

// Sets lastFailure to the parts of the step's text and its code; a longer text is cut.
void RecordFailure(std::initializer_list<LPCWSTR> step, DWORD error);

// A worker gives up after this many failed attempts, made this far apart.
inline constexpr DWORD maximumAttempts = 30;
inline constexpr DWORD retryIntervalMs = 10000;
// The information event of a publication that succeeded.
inline constexpr const WCHAR* publishedEventText = TEXT("Update parameters successfully!");
