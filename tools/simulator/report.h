// What a simulated run showed, read from the emulated machine's records, and its
// forms: readable text, JSON, and a .reg file of the resulting registry values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/emulation/emulation.h"
#include "tools/simulator/run.h"

namespace sim {

enum class Outcome { Published, GaveUp, StoppedEarly, NotStarted };

struct ParameterKey {
    std::string path;  // below HKEY_LOCAL_MACHINE
    std::vector<std::pair<emu::String, emu::RegistryValue>> values;
};

struct Report {
    std::optional<std::string> description;  // the machine file's own words
    std::vector<emu::StatusReport> statusReports;
    std::vector<emu::EventEntry> events;
    bool logExists = false;
    std::string logText;  // the UTF-16LE text log, as UTF-8
    std::vector<ParameterKey> parameterKeys;
    size_t attempts = 0;
    DWORD failedAttempts = 0;  // by the worker's own count, when it ended by itself
    Outcome outcome = Outcome::StoppedEarly;
    std::string console;
    uint64_t endMs = 0;
};

// The outcome comes from how the worker ended, not from the event log, which may be
// unavailable.
Report CollectReport(const WorkerEnd& workerEnd, const std::optional<std::string>& description);
std::string TextReport(const Report& report);
std::string JsonReport(const Report& report);
// UTF-16LE with its byte-order mark and CRLF lines, as regedit writes it.
std::string RegFile(const Report& report);
std::string OutcomeText(const Report& report);

}  // namespace sim
