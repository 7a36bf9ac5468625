#include "tests/sweep/sweep.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <thread>

#include "calibration/firmware_variables.h"
#include "calibration/sample_service.h"
#include "calibration/service_identity.h"
#include "calibration/text_log.h"
#include "service/entry_point.h"
#include "tools/log_entries.h"

namespace sweep {

namespace {

using emu::Operation;

// Published values and the variable each comes from, as bits of failedReads.
constexpr const char16_t* publishedValueNames[publishedNames] = {u"ALS_SRC", u"ALS_CAL", u"ALR_CURVE",
                                                                 u"ALS_CS", u"ALS_FLAG"};
constexpr unsigned sourceOfValue[publishedNames] = {0, 0, 1, 2, 3};
constexpr size_t countedValues = 4;  // the first four make a publication complete

void Copy(char (&to)[textSize], const std::string& from) { std::snprintf(to, textSize, "%s", from.c_str()); }

std::string Render(const emu::RegistryValue& value) {
    std::string text = std::to_string(value.type) + ":";
    static const char digits[] = "0123456789abcdef";
    for (uint8_t byte : value.data) text += {digits[byte >> 4], digits[byte & 15]};
    return text;
}

// A whole entry's message: a line the service writes with its line end, or one of
// the failure texts that it writes without one.
bool IsWholeMessage(std::u16string_view message) {
    static constexpr std::u16string_view bare[] = {
        u"Fail to set Source Lux!", u"Fail to set Sensor Lux!", u"Fail to set ALR Table!",
        u"Fail to set Change Sensitivity!", u"Fail to set Sensor Range!"};
    static constexpr std::u16string_view lines[] = {u"SOURCE LUX: ",
                                                    u"SENSOR LUX: ",
                                                    u"ALR Table: ",
                                                    u"CHANGE SENSITIVITY: ",
                                                    u"ALS FLAG: ",
                                                    u"Fail to open ",
                                                    u"Fail to query registry information.",
                                                    u"Fail to enumerate subkeys.",
                                                    u"Error to Retrieve ALR Curve! ErrorCode: "};
    if (std::find(std::begin(bare), std::end(bare), message) != std::end(bare)) return true;
    const size_t end = message.find(u"\r\n");
    if (end == std::u16string_view::npos || end + 2 != message.size()) return false;
    return std::any_of(std::begin(lines), std::end(lines),
                       [&](std::u16string_view start) { return message.substr(0, start.size()) == start; });
}

}  // namespace

std::string CheckLog(const emu::Bytes& bytes) {
    const logentries::Entries entries = logentries::Read(bytes);
    if (!entries.fault.empty()) return entries.fault;
    for (const std::u16string& message : entries.messages) {
        if (!IsWholeMessage(message)) {
            std::string shown;
            for (char16_t c : message)
                shown += c == u'\r' ? "\\r" : c == u'\n' ? "\\n" : emu::Narrow({&c, 1});
            return "entry \"" + shown + "\" is not whole";
        }
    }
    return "";
}

namespace {

// How many of the calls made so far the fault failed.
unsigned FailedCalls(const Case& fault, unsigned made) {
    if (fault.call == 0 || made < fault.call) return 0;
    return fault.mode == Mode::Once ? 1 : made - fault.call + 1;
}

void Observe(const Life& life, const Case& fault, Observation& o) {
    o.openHandles = static_cast<unsigned>(emu::OpenHandleCount());
    std::string kinds;
    for (const std::string& kind : emu::OpenHandleKinds()) kinds += (kinds.empty() ? "" : ",") + kind;
    Copy(o.handleKinds, kinds);

    const auto reports = emu::StatusReports();
    o.anyReport = !reports.empty();
    o.stoppedReported = std::any_of(reports.begin(), reports.end(), [](const emu::StatusReport& report) {
        return report.status.dwCurrentState == SERVICE_STOPPED;
    });
    const unsigned reportCalls = emu::CallCount(Operation::SetServiceStatus);
    o.lastReportFailed = fault.call != 0 && fault.operation == Operation::SetServiceStatus &&
                         reportCalls >= fault.call &&
                         (fault.mode == Mode::FromThenOn || reportCalls == fault.call);
    if (fault.call != 0) o.failedCalls = FailedCalls(fault, emu::CallCount(fault.operation));
    for (size_t i = 0; i < emu::operationCount; ++i) o.calls[i] = emu::CallCount(static_cast<Operation>(i));

    for (const emu::EventEntry& entry : emu::Events())
        if (std::find(entry.strings.begin(), entry.strings.end(), publishedEventText) != entry.strings.end())
            o.published = true;

    for (size_t i = 0; i < life.machine.registryKeys.size() && i < maxInstances; ++i) {
        const emu::String key = emu::Wide(life.machine.registryKeys[i]);
        bool written = false;
        bool complete = true;
        for (size_t v = 0; v < publishedNames; ++v) {
            const auto value = emu::GetValue(key, publishedValueNames[v]);
            if (value) {
                written = true;
                Copy(o.values[i][v], Render(*value));
            } else if (v < countedValues) {
                complete = false;
            }
        }
        if (o.published && written && !complete && o.incompleteInstance[0] == 0)
            Copy(o.incompleteInstance, life.machine.registryKeys[i]);
    }

    if (emu::FileExists(logFilePath)) Copy(o.logProblem, CheckLog(emu::FileBytes(logFilePath)));

    for (const emu::FirmwareRead& read : emu::FirmwareReads()) {
        if (read.error == 0 && read.bytes != 0) continue;
        for (size_t v = 0; v < std::size(calibrationVariables); ++v)
            if (read.name == calibrationVariables[v]) o.failedReads |= 1u << v;
    }
}

}  // namespace

std::vector<Life> StandardLives(const std::string& examples) {
    const sim::MachineDescription typical = sim::ReadMachineFile(examples + "/typical.json");
    std::vector<Life> lives;
    lives.push_back({"typical", LifeKind::Service, typical, SERVICE_CONTROL_STOP});
    lives.push_back({"empty-firmware", LifeKind::Service,
                     sim::ReadMachineFile(examples + "/empty-firmware.json"), SERVICE_CONTROL_STOP});
    lives.push_back({"model1-two-instances", LifeKind::Service,
                     sim::ReadMachineFile(examples + "/model1-two-instances.json"), SERVICE_CONTROL_STOP});
    lives.push_back({"typical-shutdown", LifeKind::Service, typical, SERVICE_CONTROL_SHUTDOWN});
    lives.push_back({"install", LifeKind::Install, typical, 0});
    lives.push_back({"remove-running", LifeKind::Remove, typical, 0});
    return lives;
}

Observation RunLife(const Life& life, const Case& fault) {
    using namespace std::chrono_literals;
    Observation o;
    emu::Reset();
    sim::Apply(life.machine);
    emu::SetClockMode(emu::ClockMode::AutoAdvance);
    emu::SetStartedByServiceManager(life.kind == LifeKind::Service);
    if (life.kind == LifeKind::Remove) {
        emu::AddService(calibrationServiceName, SERVICE_RUNNING);
        emu::ScriptStop(calibrationServiceName, {0, 2, SERVICE_STOPPED});
    }
    if (fault.call != 0)
        emu::FailCall(fault.operation, fault.error, fault.call, fault.mode == Mode::Once ? 1 : 0);

    std::atomic<bool> returned{false};
    // Counted from here, so that the process is not taken for idle before it runs.
    auto counted = std::make_unique<emu::ProcessThread>();
    std::thread process([&, counted = std::move(counted)]() mutable {
        emu::String program = u"C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe";
        emu::String option = life.kind == LifeKind::Install ? u"-install" : u"-remove";
        WCHAR* argv[] = {program.data(), option.data(), nullptr};
        o.exitCode = wmain(life.kind == LifeKind::Service ? 1 : 2, argv);
        returned = true;
        counted.reset();
    });

    // The service manager sends the life's control once the process has nothing left
    // to do by itself, and the machine's shutdown after a stop that did not end it.
    unsigned controlsSent = 0;
    for (;;) {
        if (!emu::WaitForIdle(3s)) {
            o.stuck = true;
            Copy(o.stuckDetail,
                 "still busy after 3 s, with " + std::to_string(controlsSent) + " controls sent");
            break;
        }
        if (returned) break;
        if (life.kind == LifeKind::Service && controlsSent == 0) {
            emu::SendControl(life.control);
        } else if (life.kind == LifeKind::Service && controlsSent == 1 &&
                   life.control != SERVICE_CONTROL_SHUTDOWN) {
            emu::SendControl(SERVICE_CONTROL_SHUTDOWN);
        } else {
            o.stuck = true;
            Copy(o.stuckDetail,
                 "every thread waits, with " + std::to_string(controlsSent) + " controls sent");
            break;
        }
        ++controlsSent;
    }
    if (o.stuck)
        process.detach();  // it waits for ever; the caller ends the process
    else
        process.join();
    o.ended = true;
    Observe(life, fault, o);
    return o;
}

const char* FindingName(Finding finding) {
    static const char* const names[] = {"crash or sanitizer report",
                                        "hang",
                                        "exit code not 0",
                                        "STOPPED never reported",
                                        "handle left open",
                                        "published but incomplete",
                                        "text log not whole entries",
                                        "value differs from the firmware"};
    return names[static_cast<size_t>(finding)];
}

namespace {

bool IsClose(Operation operation) {
    switch (operation) {
        case Operation::CloseHandle:
        case Operation::RegCloseKey:
        case Operation::CloseServiceHandle:
        case Operation::FindClose:
        case Operation::SetupDiDestroyDeviceInfoList:
        case Operation::DeregisterEventSource: return true;
        default: return false;
    }
}

struct Facts {
    const Life& life;
    const Case& fault;
    const Ending& ending;
    const Observation& o;
    unsigned differingVariables;  // bits, as failedReads
};

// Outcomes that the service's own rules make expected; every other finding fails.
struct Expectation {
    Finding finding;
    bool (*applies)(const Facts&);
    const char* reason;
};

const Expectation expectations[] = {
    {Finding::NoStopped,
     [](const Facts& f) { return f.fault.operation == Operation::StartServiceCtrlDispatcherW; },
     "the dispatcher cannot connect, so there is no one to report to"},
    {Finding::NoStopped,
     [](const Facts& f) { return f.fault.operation == Operation::CreateEventW && !f.o.anyReport; },
     "without its stopped event the service object cannot be made; the process ends before it connects"},
    {Finding::NoStopped, [](const Facts& f) { return f.o.lastReportFailed; },
     "the report that fails is the last one, STOPPED itself"},
    {Finding::Hang, [](const Facts& f) { return f.o.lastReportFailed; },
     "with STOPPED unreported the dispatcher waits for it, as Windows's does"},
    {Finding::Hang, [](const Facts& f) { return f.fault.operation == Operation::SetEvent; },
     "the worker's end is known only by its event: unsignalled, the stop waits for it"},
    {Finding::ExitCode,
     [](const Facts& f) {
         return f.fault.operation == Operation::RegisterServiceCtrlHandlerW && !f.ending.observed &&
                f.ending.exitStatus == static_cast<int>(f.fault.error & 0xFF);
     },
     "without a status handle nothing can ever report STOPPED: the process ends with the reason"},
    {Finding::HandleLeft,
     [](const Facts& f) { return IsClose(f.fault.operation) && f.o.openHandles <= f.o.failedCalls; },
     "a failed close leaves that handle counted"},
    {Finding::WrongValue, [](const Facts& f) { return (f.differingVariables & ~f.o.failedReads) == 0; },
     "a failed read publishes the record's current value"},
};

}  // namespace

Verdict Judge(const Life& life, const Case& fault, const Ending& ending, const Observation& baseline) {
    const Observation& o = ending.observation;
    std::vector<std::pair<Finding, std::string>> seen;
    if (ending.signalled || ending.sanitizerReport)
        seen.push_back({Finding::Crash, ending.signalled ? "killed by a signal" : "sanitizer report"});
    if (ending.watchdog) seen.push_back({Finding::Hang, "the watchdog ended it"});
    if (!ending.signalled && !ending.watchdog && !ending.observed)
        seen.push_back({Finding::ExitCode, "the process exited with " + std::to_string(ending.exitStatus)});
    unsigned differing = 0;
    if (ending.observed) {
        if (o.stuck) seen.push_back({Finding::Hang, o.stuckDetail});
        if (o.exitCode != 0)
            seen.push_back({Finding::ExitCode, "wmain returned " + std::to_string(o.exitCode)});
        // A stuck process has not ended: its handles are in use and its STOPPED may come.
        if (!o.stuck && life.kind == LifeKind::Service && !o.stoppedReported)
            seen.push_back({Finding::NoStopped, ""});
        if (!o.stuck && o.openHandles > 0) seen.push_back({Finding::HandleLeft, o.handleKinds});
        if (o.incompleteInstance[0]) seen.push_back({Finding::Incomplete, o.incompleteInstance});
        if (o.logProblem[0]) seen.push_back({Finding::BrokenLog, o.logProblem});
        std::string wrong;
        for (size_t i = 0; i < maxInstances; ++i)
            for (size_t v = 0; v < publishedNames; ++v)
                if (o.values[i][v][0] && baseline.values[i][v][0] &&
                    std::strcmp(o.values[i][v], baseline.values[i][v])) {
                    differing |= 1u << sourceOfValue[v];
                    if (wrong.empty()) wrong = emu::Narrow(publishedValueNames[v]) + " = " + o.values[i][v];
                }
        if (differing) seen.push_back({Finding::WrongValue, wrong});
    }

    const Facts facts{life, fault, ending, o, differing};
    Verdict verdict;
    std::vector<Finding> expected;
    std::string firstReason;
    for (const auto& [finding, detail] : seen) {
        const Expectation* match = nullptr;
        for (const Expectation& e : expectations)
            if (e.finding == finding && e.applies(facts)) match = &e;
        if (match) {
            expected.push_back(finding);
            if (firstReason.empty()) firstReason = match->reason;
        } else {
            if (!verdict.failed) verdict.detail = detail;
            verdict.failed = true;
            verdict.findings.push_back(finding);
        }
    }
    if (!verdict.failed) {
        verdict.reason = firstReason;
        if (!seen.empty()) verdict.detail = seen.front().second;
    }
    verdict.findings.insert(verdict.findings.end(), expected.begin(), expected.end());
    return verdict;
}

std::vector<Case> CasesOf(const Observation& baseline, bool subset) {
    std::vector<Case> cases;
    for (size_t i = 0; i < emu::operationCount; ++i) {
        const auto operation = static_cast<Operation>(i);
        const unsigned made = baseline.calls[i];
        std::vector<unsigned> calls;
        if (subset) {
            calls = {1, 2, (made + 1) / 2, made - 1, made};
            calls.erase(
                std::remove_if(calls.begin(), calls.end(), [&](unsigned c) { return c < 1 || c > made; }),
                calls.end());
            std::sort(calls.begin(), calls.end());
            calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
        } else {
            for (unsigned c = 1; c <= made; ++c) calls.push_back(c);
        }
        std::vector<DWORD> errors = {emu::Describe(operation).fittingError};
        if (!subset)
            for (DWORD generic : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_NOT_ENOUGH_MEMORY}})
                if (generic != errors.front()) errors.push_back(generic);
        for (unsigned call : calls)
            for (Mode mode : {Mode::Once, Mode::FromThenOn})
                for (DWORD error : errors) cases.push_back({operation, call, mode, error});
    }
    return cases;
}

std::string Describe(const Case& fault) {
    if (fault.call == 0) return "baseline";
    return std::string(emu::Describe(fault.operation).name) + " call " + std::to_string(fault.call) +
           (fault.mode == Mode::Once ? " once" : " on") + " error " + std::to_string(fault.error);
}

}  // namespace sweep
