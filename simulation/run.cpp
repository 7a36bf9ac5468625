#include "simulation/run.h"

#include <atomic>
#include <memory>
#include <thread>

#include "app/entry_point.h"
#include "calibration/sample_service.h"

namespace sim {

namespace {

bool Reported(DWORD state) {
    for (const emu::StatusReport& report : emu::StatusReports())
        if (report.status.dwCurrentState == state) return true;
    return false;
}

// What the process's thread hands back; shared, as a stuck thread outlives the run.
struct Process {
    std::atomic<bool> returned{false};
    int exitCode = 0;
};

}  // namespace

std::optional<int> RunServiceProcess(const RunOptions& options, WorkerEnd* workerEnd) {
    using namespace std::chrono;
    emu::SetClockMode(options.realtime ? emu::ClockMode::Real : emu::ClockMode::Manual);
    emu::SetStartedByServiceManager(options.consoleOption == nullptr);
    auto process = std::make_shared<Process>();
    // Counted from here, so that the process is not taken for idle before it runs.
    auto counted = std::make_unique<emu::ProcessThread>();
    std::thread thread([process, option = options.consoleOption, counted = std::move(counted)]() mutable {
        emu::String program = u"C:\\Program Files\\Noxel\\NoxelAlsSvc.exe";
        emu::String argument = option ? option : u"";
        WCHAR* argv[] = {program.data(), argument.data(), nullptr};
        process->exitCode = wmain(option ? 2 : 1, argv);
        process->returned = true;
        counted.reset();
    });

    const auto realStart = steady_clock::now();
    auto now = [&]() -> uint64_t {
        return options.realtime ? static_cast<uint64_t>(
                                      duration_cast<milliseconds>(steady_clock::now() - realStart).count())
                                : emu::NowMs();
    };
    bool stopSent = false, shutdownSent = false;
    auto sendStop = [&] {
        const size_t reportsBefore = emu::StatusReports().size();
        emu::SendControl(options.shutdown ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP);
        stopSent = true;
        // Let the control land before the clock moves on.
        if (!options.realtime) emu::WaitForIdle();
        for (int i = 0; options.realtime && i < 5000 && emu::StatusReports().size() == reportsBefore; ++i)
            std::this_thread::sleep_for(milliseconds(1));
    };
    size_t readsShown = 0;
    auto showReads = [&] {
        if (!options.onFirmwareRead) return;
        const auto reads = emu::FirmwareReads();
        for (; readsShown < reads.size(); ++readsShown) options.onFirmwareRead(reads[readsShown]);
    };

    while (!process->returned) {
        if (options.realtime) std::this_thread::sleep_for(milliseconds(20));
        showReads();
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
        // Every thread waits for the outside and none for the clock: only a control moves
        // the process on. The stop goes even without RUNNING (its report may have failed),
        // then the machine's shutdown; after those, nothing will.
        if (!emu::WaitForIdle(milliseconds(2)) || process->returned || emu::NextWakeMs()) continue;
        if (!stopSent && Reported(SERVICE_RUNNING) && emu::RunningWorkItems() == 0)
            continue;  // stopped above
        if (options.consoleOption) break;
        if (!stopSent) {
            sendStop();
        } else if (!shutdownSent && !options.shutdown) {
            emu::SendControl(SERVICE_CONTROL_SHUTDOWN);
            shutdownSent = true;
            emu::WaitForIdle();
        } else {
            break;
        }
    }
    showReads();
    if (!process->returned) {
        thread.detach();
        return std::nullopt;
    }
    thread.join();
    return process->exitCode;
}

}  // namespace sim
