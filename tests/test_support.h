// Shared pieces of the host tests: a fresh emulated machine per test, the dispatcher run
// as the service manager runs it, and readers for what the calibration service leaves.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "calibration/firmware_variables.h"
#include "calibration/sample_service.h"
#include "calibration/sensor_model.h"
#include "platform/emulation/emulation.h"
#include "platform/emulation/state_names.h"
#include "platform/registry.h"
#include "service/service_base.h"

class EmulatedMachine : public ::testing::Test {
protected:
    void SetUp() override { emu::Reset(); }
};

inline emu::String W(const char* utf8) { return emu::Wide(utf8); }
inline std::string N(const emu::String& wide) { return emu::Narrow(wide); }

// State and checkpoint of every status report, as "START_PENDING/1 RUNNING/0". Each
// test runs in a process of its own, where the checkpoint counter starts at 1; cases
// of a table share a process, so `renumbered` counts checkpoints from this case's
// first pending report, and the cases read the same whichever runs first.
inline std::string ReportedStates(bool renumbered = false) {
    std::string states;
    DWORD first = 0;
    for (const emu::StatusReport& report : emu::StatusReports()) {
        DWORD checkpoint = report.status.dwCheckPoint;
        if (renumbered && checkpoint != 0) {
            if (first == 0) first = checkpoint;
            checkpoint = checkpoint - first + 1;
        }
        states += (states.empty() ? "" : " ") + std::string(emu::StateName(report.status.dwCurrentState)) +
                  "/" + std::to_string(checkpoint);
    }
    return states;
}

// The second string (the message) of every event, prefixed with "E " for error entries
// and "I " for information entries.
inline std::vector<std::string> EventMessages() {
    std::vector<std::string> messages;
    for (const emu::EventEntry& entry : emu::Events())
        messages.push_back((entry.type == EVENTLOG_ERROR_TYPE         ? "E "
                            : entry.type == EVENTLOG_INFORMATION_TYPE ? "I "
                                                                      : "? ") +
                           N(entry.strings.at(1)));
    return messages;
}

// RunService on a thread of its own, counted as the service process's, so that
// emu::WaitForIdle waits for it too; the test plays the service manager. A case that
// fails halfway still stops the dispatcher, so that the failure cannot hang the run.
class DispatcherRun {
public:
    explicit DispatcherRun(CServiceBase& service) {
        emu::SetStartedByServiceManager(true);
        // Counted from here, before the thread runs, so that no wait finds it missing.
        auto counted = std::make_unique<emu::ProcessThread>();
        result_ = std::async(std::launch::async, [this, &service, counted = std::move(counted)]() mutable {
            thread_ = std::this_thread::get_id();
            const DWORD error = CServiceBase::RunService(service) ? 0 : GetLastError();
            counted.reset();
            return error;
        });
    }
    ~DispatcherRun() {
        for (int attempt = 0; attempt < 10 && !Finished(std::chrono::milliseconds(0)); ++attempt) {
            emu::SendControl(SERVICE_CONTROL_STOP);
            Finished(std::chrono::seconds(1));
        }
    }
    // Waits for the dispatcher to return; false if it has not within the timeout.
    bool Finished(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (!finished_ && result_.wait_for(timeout) == std::future_status::ready) {
            finished_ = true;
            error_ = result_.get();
        }
        return finished_;
    }
    // 0 when RunService returned true, else its last error; read after Finished.
    DWORD Error() const { return error_; }
    // The thread that called RunService, the dispatcher's; read after Finished.
    std::thread::id Thread() const { return thread_; }

private:
    std::future<DWORD> result_;
    bool finished_ = false;
    DWORD error_ = 0xDEADBEEF;  // no code RunService sets
    std::thread::id thread_;
};

// Written out here rather than taken from the service, so that a wrong GUID shows.
inline const emu::String vendorGuid = u"{BF82486A-80F7-4733-B82C-066BD8F2534B}";
inline const emu::String logPath = u"C:\\Windows\\System32\\Noxel_AlsSvc.log";

inline std::string LogText() {
    const emu::Bytes bytes = emu::FileBytes(logPath);
    EXPECT_EQ(bytes.size() % 2, 0u);
    return N(emu::Utf16Text(bytes));
}

// Text-log entries stamped with the default local time, 2026-03-14 09:30:00.
inline std::string Entries(const std::vector<std::string>& messages) {
    std::string text;
    for (const std::string& message : messages) text += "[20260314-09:30:00]" + message;
    return text;
}

// "NAME dword N" for a four-byte REG_DWORD, "NAME sz TEXT\0" for REG_SZ (expand_sz for
// REG_EXPAND_SZ) with every stored code unit shown; anything else with its type and
// byte count.
inline std::vector<std::string> Described(const emu::String& path) {
    std::vector<std::string> described;
    for (const auto& [name, value] : emu::Values(path)) {
        std::string line = N(name);
        const emu::Bytes& data = value.data;
        if (value.type == REG_DWORD && data.size() == 4) {
            line += " dword " + std::to_string(data[0] | data[1] << 8 | data[2] << 16 | DWORD{data[3]} << 24);
        } else if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ) && data.size() % 2 == 0) {
            line += value.type == REG_SZ ? " sz " : " expand_sz ";
            for (char16_t c : emu::Utf16Text(data))
                line += c == 0 ? std::string("\\0") : N(std::u16string(1, c));
        } else {
            line += " type " + std::to_string(value.type) + ", " + std::to_string(data.size()) + " bytes";
        }
        described.push_back(line);
    }
    return described;
}

// A fresh machine, the service's process-wide record and model as at process start
// (also when cases share a process), and a service object.
class CalibrationMachine : public EmulatedMachine {
protected:
    void SetUp() override { FreshMachine(); }
    // Also for cases that loop over a table: everything afresh per case.
    void FreshMachine() {
        service.reset();
        emu::Reset();
        CalibrationParameters = CalibrationRecord{};
        SensorModel = 0;
        lastFailure = {};
        service = std::make_unique<CSampleService>();
    }

    std::unique_ptr<CSampleService> service;
};
