// Shared pieces of the host tests: a fresh emulated machine per test, and the
// dispatcher run on a thread of its own as the service manager would run it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/emulation/emulation.h"
#include "service/service_base.h"

class EmulatedMachine : public ::testing::Test {
protected:
    void SetUp() override { emu::Reset(); }
};

inline emu::String W(const char* utf8) { return emu::Wide(utf8); }
inline std::string N(const emu::String& wide) { return emu::Narrow(wide); }

// States and checkpoints of every status report, as "state/checkpoint".
inline std::vector<std::string> ReportedStates() {
    std::vector<std::string> states;
    for (const emu::StatusReport& report : emu::StatusReports())
        states.push_back(std::to_string(report.status.dwCurrentState) + "/" +
                         std::to_string(report.status.dwCheckPoint));
    return states;
}

// The second string (the message) of every event, prefixed with "E " for error entries
// and "I " for information entries.
inline std::vector<std::string> EventMessages() {
    std::vector<std::string> messages;
    for (const emu::EventEntry& entry : emu::Events()) {
        std::string prefix = entry.type == EVENTLOG_ERROR_TYPE ? "E " : entry.type == EVENTLOG_INFORMATION_TYPE ? "I " : "? ";
        messages.push_back(prefix + (entry.strings.size() > 1 ? N(entry.strings[1]) : std::string("<missing>")));
    }
    return messages;
}

// RunService on a thread of its own; the test plays the service manager.
class DispatcherRun {
public:
    explicit DispatcherRun(CServiceBase& service) {
        emu::SetStartedByServiceManager(true);
        result_ = std::async(std::launch::async, [&service] {
            const bool ran = CServiceBase::RunService(service);
            return ran ? DWORD{0} : GetLastError();
        });
    }
    // Waits for the dispatcher to return; false if it has not within the timeout.
    bool Finished(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return result_.wait_for(timeout) == std::future_status::ready;
    }
    DWORD Error() { return result_.get(); }

private:
    std::future<DWORD> result_;
};
