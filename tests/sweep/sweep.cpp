#include "tests/sweep/sweep.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "tools/log_entries.h"

namespace sweep {

namespace {

using emu::Operation;

// The variable each published value comes from, as bits of failedReads.
constexpr unsigned sourceOfValue[publishedNames] = {0, 0, 1, 2, 3};

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
        if (IsWholeMessage(message)) continue;
        std::string shown;
        for (char16_t c : message) shown += c == u'\r' ? "\\r" : c == u'\n' ? "\\n" : emu::Narrow({&c, 1});
        return "entry \"" + shown + "\" is not whole";
    }
    return "";
}

namespace {

bool IsClose(Operation operation) {
    for (Operation close :
         {Operation::CloseHandle, Operation::RegCloseKey, Operation::CloseServiceHandle, Operation::FindClose,
          Operation::SetupDiDestroyDeviceInfoList, Operation::DeregisterEventSource})
        if (operation == close) return true;
    return false;
}

struct Facts {
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
        if (o.stuck) seen.push_back({Finding::Hang, "every thread waits for what no control brings"});
        if (o.exitCode != 0)
            seen.push_back({Finding::ExitCode, "wmain returned " + std::to_string(o.exitCode)});
        // A stuck process has not ended: its handles are in use and its STOPPED may come.
        if (!o.stuck && !life.run.consoleOption && !o.stoppedReported)
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

    const Facts facts{fault, ending, o, differing};
    Verdict verdict;
    std::vector<Finding> expected;
    for (const auto& [seenFinding, detail] : seen) {
        const Finding finding = seenFinding;  // clang 14 captures no structured binding
        const auto match =
            std::find_if(std::begin(expectations), std::end(expectations),
                         [&](const Expectation& e) { return e.finding == finding && e.applies(facts); });
        if (match != std::end(expectations)) {
            expected.push_back(finding);
            if (verdict.reason.empty()) verdict.reason = match->reason;
        } else {
            if (!verdict.failed) verdict.detail = detail;
            verdict.failed = true;
            verdict.findings.push_back(finding);
        }
    }
    if (verdict.failed) verdict.reason.clear();
    if (!verdict.failed && !seen.empty()) verdict.detail = seen.front().second;
    verdict.findings.insert(verdict.findings.end(), expected.begin(), expected.end());
    return verdict;
}

}  // namespace sweep
