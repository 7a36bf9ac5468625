// What a simulated run showed, read from the emulated machine's records, and its
// forms: readable text, JSON, and a .reg file of the resulting registry values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calibration/firmware_variables.h"
#include "platform/emulation/emulation.h"
#include "simulation/run.h"

namespace sim {

enum class Outcome { Published, GaveUp, StoppedEarly, NotStarted };

struct ParameterKey {
    std::string path;  // below HKEY_LOCAL_MACHINE
    std::vector<std::pair<emu::String, emu::RegistryValue>> values;
};

// The ALR curve as the service read it into its record, or why there is none.
struct AlrCurve {
    enum class State { NeverRead, NotRead, Read } state = State::NeverRead;
    std::optional<emu::FirmwareRead> lastRead;  // of ALR_CURVE, when it was asked for
    std::vector<AlrPair> pairs;                 // up to, without, the terminator
};

// A text-log entry placed on the simulated clock by its own timestamp, to the second.
struct LogEntry {
    uint64_t timeMs;
    std::string timestamp;  // as the service wrote it
    std::string message;
};

struct Report {
    std::optional<std::string> description;  // the machine file's own words
    std::vector<emu::StatusReport> statusReports;
    std::vector<emu::EventEntry> events;
    bool logExists = false;
    std::string logText;  // the UTF-16LE text log, as UTF-8
    std::vector<LogEntry> logEntries;
    std::string logFault;  // what breaks the log's entries, if anything
    std::vector<ParameterKey> parameterKeys;
    std::vector<emu::FirmwareRead> attempts;  // the CALIBRATE read that opens each
    AlrCurve alrCurve;
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

// The words and numbers every form of the report shares.
const char* EventTypeName(WORD type);
std::string Seconds(uint64_t milliseconds);  // "12.345 s"
std::string TypeName(DWORD type);            // "REG_DWORD"
std::string ValueText(const emu::RegistryValue& value);

}  // namespace sim
