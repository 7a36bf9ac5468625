#include "tools/simulator/run.h"

#include <future>
#include <thread>

#include "calibration/sample_service.h"
#include "service/entry_point.h"

namespace sim {

namespace {

bool Reported(DWORD state) {
    for (const emu::StatusReport& report : emu::StatusReports())
        if (report.status.dwCurrentState == state) return true;
    return false;
}

}  // namespace

int RunServiceProcess(const RunOptions& options, WorkerEnd* workerEnd) {
    using namespace std::chrono;
    emu::SetClockMode(options.realtime ? emu::ClockMode::Real : emu::ClockMode::Manual);
    emu::SetStartedByServiceManager(true);
    auto process = std::async(std::launch::async, [] {
        emu::String program = u"C:\\Program Files\\Noxel\\NoxelAlsSvc.exe";
        WCHAR* argv[] = {program.data(), nullptr};
        return wmain(1, argv);
    });

    const auto realStart = steady_clock::now();
    auto now = [&]() -> uint64_t {
        return options.realtime ? static_cast<uint64_t>(
                                      duration_cast<milliseconds>(steady_clock::now() - realStart).count())
                                : emu::NowMs();
    };
    bool stopSent = false;
    auto sendStop = [&] {
        const size_t reportsBefore = emu::StatusReports().size();
        emu::SendControl(options.shutdown ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP);
        stopSent = true;
        // Let the control land before the clock moves on.
        for (int i = 0; i < 5000 && emu::StatusReports().size() == reportsBefore; ++i)
            std::this_thread::sleep_for(milliseconds(1));
    };
    size_t readsShown = 0;

    while (process.wait_for(milliseconds(options.realtime ? 20 : 0)) != std::future_status::ready) {
        if (options.onFirmwareRead) {
            const auto reads = emu::FirmwareReads();
            for (; readsShown < reads.size(); ++readsShown) options.onFirmwareRead(reads[readsShown]);
        }
        const bool running = Reported(SERVICE_RUNNING);
        if (!stopSent && running) {
            const bool workerEnded = emu::RunningWorkItems() == 0;
            const bool due = options.stopAfterMs && now() >= *options.stopAfterMs;
            if (workerEnded && workerEnd) {
                // Read before the stop: OnStop resets the count.
                workerEnd->byItself = true;
                workerEnd->failedAttempts = retryCount;
            }
            if (workerEnded || due) {
                if (!options.realtime && options.stopAfterMs) emu::AdvanceClockTo(*options.stopAfterMs);
                if (!options.realtime || !options.stopAfterMs || due) {
                    sendStop();
                    continue;
                }
            }
        }
        if (options.realtime) continue;
        if (auto wake = emu::NextWakeMs()) {
            if (!stopSent && running && options.stopAfterMs && *wake > *options.stopAfterMs) {
                emu::AdvanceClockTo(*options.stopAfterMs);
                sendStop();
                continue;
            }
            emu::AdvanceClockTo(*wake);
            continue;
        }
        emu::WaitForSleepers(1, milliseconds(2));
    }
    if (options.onFirmwareRead) {
        const auto reads = emu::FirmwareReads();
        for (; readsShown < reads.size(); ++readsShown) options.onFirmwareRead(reads[readsShown]);
    }
    return process.get();
}

}  // namespace sim
