// noxel-fault-sweep [--subset] [--jobs N]
// Runs every case of every life in a process of its own, a few at a time, each under
// a watchdog; prints the cases per finding, the failures, and "N passed, M failed".
// Exit code 0 when nothing failed, 1 when something did, 2 on bad use.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "calibration/firmware_variables.h"
#include "calibration/published_values.h"
#include "calibration/sample_service.h"
#include "calibration/text_log.h"
#include "platform/emulation/coverage.h"
#include "service/service_identity.h"
#include "simulation/machine_file.h"
#include "simulation/run.h"
#include "tests/sweep/sweep.h"

namespace {

using emu::Operation;
namespace fs = std::filesystem;

struct Life {
    std::string name;
    sim::MachineDescription machine;
    sim::RunOptions run;     // how the life ends: a stop, a shutdown, or a console option
    bool installed = false;  // the service is installed and running, as -remove finds it
};

enum class Mode { Once, FromThenOn };

struct Case {
    emu::Operation operation{};
    unsigned call = 0;  // 0: no fault, the baseline
    Mode mode = Mode::Once;
    DWORD error = 0;
};

constexpr size_t maxInstances = 4;
constexpr size_t textSize = 160;
constexpr size_t publishedNames = std::size(publishedValueNames);

// What one life left behind. Plain data, so that a child process can hand it over
// through a pipe as it is.
struct Observation {
    bool stuck = false;
    int exitCode = 0;
    unsigned openHandles = 0;
    char handleKinds[textSize] = {};
    bool anyReport = false;
    bool stoppedReported = false;
    char incompleteInstance[textSize] = {};  // published, yet lacking a counted value
    char logProblem[textSize] = {};
    unsigned failedReads = 0;  // bit per variable, as calibrationVariables orders them
    char values[maxInstances][publishedNames][textSize] = {};
    unsigned calls[emu::operationCount] = {};
};

enum class Finding { Crash, Hang, ExitCode, NoStopped, HandleLeft, Incomplete, BrokenLog, WrongValue, Count };
inline constexpr const char* findingNames[] = {"crash or sanitizer report",
                                               "hang",
                                               "exit code not 0",
                                               "STOPPED never reported",
                                               "handle left open",
                                               "published but incomplete",
                                               "text log not whole entries",
                                               "value differs from the fault-free run"};

// How a case ended in its process, as the parent saw it.
struct Ending {
    bool observed = false;  // the child handed over its observation
    bool sanitizerReport = false;
    bool signalled = false;
    bool watchdog = false;
    int exitStatus = 0;
    Observation observation;
};

struct Verdict {
    bool failed = false;
    std::optional<Finding> finding;  // the first unexpected one seen, else the first seen
    std::string detail;              // of that finding
    std::string reason;              // why that finding is expected, when it is
};

// The variable each published value comes from, as bits of failedReads.
constexpr unsigned sourceOfValue[publishedNames] = {0, 0, 1, 2, 3};

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
    unsigned failedCalls;         // calls of the faulted operation that were made to fail
    bool lastReportFailed;        // the last SetServiceStatus call was one of them
};

// Outcomes that the service's own rules make expected; every other finding fails. A rule
// about a failed operation holds only where a call of it was made to fail.
struct Expectation {
    Finding finding;
    bool (*applies)(const Facts&);
    const char* reason;
};

const Expectation expectations[] = {
    {Finding::NoStopped,
     [](const Facts& f) {
         return f.fault.operation == Operation::StartServiceCtrlDispatcherW && f.failedCalls;
     },
     "the dispatcher cannot connect, so there is no one to report to"},
    {Finding::NoStopped,
     [](const Facts& f) {
         return f.fault.operation == Operation::CreateEventW && f.failedCalls && !f.o.anyReport;
     },
     "without its stopped event the service object cannot be made; the process ends before it connects"},
    {Finding::NoStopped, [](const Facts& f) { return f.lastReportFailed; },
     "the report that fails is the last one, STOPPED itself"},
    {Finding::Hang, [](const Facts& f) { return f.lastReportFailed; },
     "with STOPPED unreported the dispatcher waits for it, as Windows's does"},
    {Finding::Hang, [](const Facts& f) { return f.fault.operation == Operation::SetEvent && f.failedCalls; },
     "the worker's end is known only by its event: unsignalled, the stop waits for it"},
    {Finding::ExitCode,
     [](const Facts& f) {
         return f.fault.operation == Operation::RegisterServiceCtrlHandlerW && !f.ending.observed &&
                f.ending.exitStatus == static_cast<int>(f.fault.error & 0xFF);
     },
     "without a status handle nothing can ever report STOPPED: the process ends with the reason"},
    {Finding::HandleLeft,
     [](const Facts& f) { return IsClose(f.fault.operation) && f.o.openHandles <= f.failedCalls; },
     "a failed close leaves that handle counted"},
    {Finding::WrongValue, [](const Facts& f) { return (f.differingVariables & ~f.o.failedReads) == 0; },
     "a failed read publishes the record's current value"},
};

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

    const unsigned made = o.calls[static_cast<size_t>(fault.operation)];
    const unsigned failed = fault.call == 0 || made < fault.call ? 0
                            : fault.mode == Mode::Once           ? 1
                                                                 : made - fault.call + 1;
    const bool lastReportFailed = fault.operation == Operation::SetServiceStatus && failed > 0 &&
                                  (fault.mode == Mode::FromThenOn || made == fault.call);
    const Facts facts{fault, ending, o, differing, failed, lastReportFailed};
    Verdict verdict;
    for (const auto& [seenFinding, detail] : seen) {
        const Finding finding = seenFinding;  // clang 14 captures no structured binding
        const auto match =
            std::find_if(std::begin(expectations), std::end(expectations),
                         [&](const Expectation& e) { return e.finding == finding && e.applies(facts); });
        const bool expected = match != std::end(expectations);
        if (!verdict.finding || (!verdict.failed && !expected))
            verdict = {!expected, finding, detail, expected ? match->reason : ""};
    }
    return verdict;
}

constexpr unsigned watchdogSeconds = 20;

void Copy(char (&to)[textSize], const std::string& from) { std::snprintf(to, textSize, "%s", from.c_str()); }

std::vector<Life> StandardLives() {
    auto machine = [](const char* name) {
        return sim::ReadMachineFile(std::string(NOXEL_EXAMPLES_DIR) + "/" + name + ".json");
    };
    const sim::MachineDescription typical = machine("typical");
    sim::RunOptions shutdown, install, remove, twoAttempts;
    shutdown.shutdown = true;
    twoAttempts.stopAfterMs = 15000;  // giving up is the empty firmware's life
    install.consoleOption = u"-install";
    remove.consoleOption = u"-remove";
    return {{"typical", typical, {}},
            {"empty-firmware", machine("empty-firmware"), {}},
            {"model1-two-instances", machine("model1-two-instances"), {}},
            // The one life that formats a system message, for the failed ALR_CURVE read.
            {"alr-curve-missing", machine("alr-curve-missing"), twoAttempts},
            {"typical-shutdown", typical, shutdown},
            {"install", typical, install},
            {"remove-running", typical, remove, true}};
}

// Operations in the table that no life calls, with the reason; any other that no life
// calls would never be failed, and fails the sweep.
const std::pair<Operation, const char*> notCalled[] = {
    {Operation::QueryServiceConfig2W,
     "the service never reads its configuration; the conformance program does"},
};

// The judgement must fail a life made wrong on purpose; a judgement that passed
// everything would pass the sweep too.
std::string JudgementPassesWrongLives(const Life& life, const Ending& baseline) {
    struct Wrong {
        const char* what;
        void (*make)(Observation&);
    } wrongs[] = {
        {"a value changed", [](Observation& o) { o.values[0][0][2] ^= 1; }},
        {"a handle left open", [](Observation& o) { o.openHandles = 1; }},
        {"STOPPED never reported", [](Observation& o) { o.stoppedReported = false; }},
        {"a torn text log", [](Observation& o) { Copy(o.logProblem, "torn"); }},
    };
    std::string passed;
    for (const Wrong& wrong : wrongs) {
        Ending made = baseline;
        wrong.make(made.observation);
        if (!Judge(life, Case{}, made, baseline.observation).failed)
            passed += std::string(passed.empty() ? "" : ", ") + wrong.what;
    }
    return passed;
}

// Runs the life in this process, with the case's fault; the process is not fit for
// another life afterwards (the service keeps process-wide state).
Observation RunLife(const Life& life, const Case& fault) {
    emu::Reset();
    sim::Apply(life.machine);
    if (life.installed) {
        emu::AddService(calibrationServiceName, SERVICE_RUNNING);
        emu::ScriptStop(calibrationServiceName, {0, 2, SERVICE_STOPPED});
    }
    if (fault.call != 0)
        emu::FailCall(fault.operation, fault.error, fault.call, fault.mode == Mode::Once ? 1 : 0);
    const std::optional<int> exitCode = sim::RunServiceProcess(life.run);

    Observation o;
    o.stuck = !exitCode;
    o.exitCode = exitCode.value_or(0);
    o.openHandles = static_cast<unsigned>(emu::OpenHandleCount());
    std::string kinds;
    for (const std::string& kind : emu::OpenHandleKinds()) kinds += (kinds.empty() ? "" : ",") + kind;
    Copy(o.handleKinds, kinds);

    const auto reports = emu::StatusReports();
    o.anyReport = !reports.empty();
    o.stoppedReported = std::any_of(reports.begin(), reports.end(), [](const emu::StatusReport& report) {
        return report.status.dwCurrentState == SERVICE_STOPPED;
    });
    for (size_t i = 0; i < emu::operationCount; ++i) o.calls[i] = emu::CallCount(static_cast<Operation>(i));

    const auto events = emu::Events();
    const bool published = std::any_of(events.begin(), events.end(), [](const emu::EventEntry& entry) {
        return std::find(entry.strings.begin(), entry.strings.end(), publishedEventText) !=
               entry.strings.end();
    });
    for (size_t i = 0; i < life.machine.registryKeys.size() && i < maxInstances; ++i) {
        const emu::String key = emu::Wide(life.machine.registryKeys[i]);
        size_t written = 0, counted = 0;
        for (size_t v = 0; v < publishedNames; ++v) {
            const auto value = emu::GetValue(key, publishedValueNames[v]);
            if (!value) continue;
            std::string text = std::to_string(value->type) + ":";
            for (uint8_t byte : value->data)
                text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
            Copy(o.values[i][v], text);
            ++written;
            if (v < requiredValueCount) ++counted;
        }
        if (published && written && counted < requiredValueCount && !o.incompleteInstance[0])
            Copy(o.incompleteInstance, life.machine.registryKeys[i]);
    }

    if (emu::FileExists(logFilePath)) Copy(o.logProblem, sweep::CheckLog(emu::FileBytes(logFilePath)));
    for (const emu::FirmwareRead& read : emu::FirmwareReads())
        for (size_t v = 0; v < std::size(calibrationVariables); ++v)
            if ((read.error != 0 || read.bytes == 0) && read.name == calibrationVariables[v])
                o.failedReads |= 1u << v;
    return o;
}

// The cases of a life, from the calls its baseline made.
std::vector<Case> CasesOf(const Observation& baseline, bool subset) {
    std::vector<Case> cases;
    for (size_t i = 0; i < emu::operationCount; ++i) {
        const auto operation = static_cast<Operation>(i);
        const unsigned made = baseline.calls[i];
        std::vector<unsigned> calls;
        for (unsigned c = 1; c <= made; ++c)
            if (!subset || c <= 2 || c == (made + 1) / 2 || c + 1 >= made) calls.push_back(c);
        std::vector<DWORD> errors = {emu::Describe(operation).fittingError};
        for (DWORD generic : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_NOT_ENOUGH_MEMORY}})
            if (!subset && generic != errors.front()) errors.push_back(generic);
        for (unsigned call : calls)
            for (Mode mode : {Mode::Once, Mode::FromThenOn})
                for (DWORD error : errors) cases.push_back({operation, call, mode, error});
    }
    return cases;
}

std::string Describe(const Case& fault) {
    return std::string(emu::Describe(fault.operation).name) + " call " + std::to_string(fault.call) +
           (fault.mode == Mode::Once ? " once" : " on") + " error " + std::to_string(fault.error);
}

[[noreturn]] void RunChild(const Life& life, const Case& fault, int pipe, const std::string& errors) {
    ::alarm(watchdogSeconds);
    const int error = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (error >= 0) ::dup2(error, STDERR_FILENO);
    const Observation o = RunLife(life, fault);
    emu::WriteCoverageCounts();  // before any way out, _exit's included
    // One write, smaller than a pipe's buffer: the parent reads it once the child has ended.
    if (::write(pipe, &o, sizeof o) != static_cast<ssize_t>(sizeof o)) _exit(3);
    std::error_code ignored;  // the emulated file root goes with the process
    fs::remove_all(fs::path(emu::HostPath(u"C:\\")).parent_path(), ignored);
    if (o.stuck) _exit(0);  // a stuck life cannot unwind
    std::exit(0);
}

std::vector<Ending> RunAll(const Life& life, const std::vector<Case>& cases, unsigned jobs) {
    struct Running {
        size_t index;
        int pipe;
        std::string errors;  // the child's standard error
    };
    std::vector<Ending> endings(cases.size());
    std::map<pid_t, Running> running;
    const std::string errorBase =
        (fs::temp_directory_path() / "noxel-sweep-").string() + std::to_string(::getpid());
    for (size_t next = 0; next < cases.size() || !running.empty();) {
        if (next < cases.size() && running.size() < jobs) {
            const std::string errors = errorBase + "-" + std::to_string(next);
            int fds[2];
            std::fflush(stdout);
            const pid_t pid = ::pipe(fds) == 0 ? ::fork() : -1;
            if (pid < 0) {
                std::perror("noxel-fault-sweep");
                std::exit(2);
            }
            if (pid == 0) RunChild(life, cases[next], fds[1], errors);
            ::close(fds[1]);
            running[pid] = {next++, fds[0], errors};
            continue;
        }
        int status = 0;
        const auto run = running.find(::waitpid(-1, &status, 0));
        if (run == running.end()) continue;
        Ending& ending = endings[run->second.index];
        ending.observed = ::read(run->second.pipe, &ending.observation, sizeof ending.observation) ==
                          static_cast<ssize_t>(sizeof ending.observation);
        ::close(run->second.pipe);
        ending.watchdog = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
        ending.signalled = WIFSIGNALED(status) && !ending.watchdog;
        ending.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(run->second.errors);
        const std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A sanitizer that ends the process after the hand-over counts too.
        ending.sanitizerReport = errors.find("Sanitizer") != std::string::npos ||
                                 errors.find("runtime error:") != std::string::npos ||
                                 (ending.observed && ending.exitStatus != 0);
        fs::remove(run->second.errors);
        running.erase(run);
    }
    return endings;
}

}  // namespace

int main(int argc, char** argv) {
    bool subset = false;
    unsigned jobs = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--subset") {
            subset = true;
        } else if (arg == "--jobs" && i + 1 < argc) {
            jobs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            jobs = 0;
        }
    }
    if (jobs == 0) {
        std::fprintf(stderr, "usage: noxel-fault-sweep [--subset] [--jobs N]\n");
        return 2;
    }
    std::vector<Life> lives;
    try {
        lives = StandardLives();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "noxel-fault-sweep: %s\n", e.what());
        return 2;
    }

    constexpr size_t findings = static_cast<size_t>(Finding::Count);
    size_t total = 0, failed = 0, expectedBy[findings] = {}, failedBy[findings] = {};
    std::vector<std::string> failures, reasons;
    const auto began = std::chrono::steady_clock::now();
    unsigned calledByAnyLife[emu::operationCount] = {};
    for (const Life& life : lives) {
        const Ending baseline = RunAll(life, {Case{}}, 1).front();
        const Verdict clean = Judge(life, Case{}, baseline, baseline.observation);
        if (clean.finding) {
            std::printf("%s: the baseline itself fails (%s: %s)\n", life.name.c_str(),
                        findingNames[static_cast<size_t>(*clean.finding)], clean.detail.c_str());
            return 1;
        }
        if (life.name == "typical") {
            if (const std::string passed = JudgementPassesWrongLives(life, baseline); !passed.empty()) {
                std::printf("the judgement passes a life made wrong on purpose: %s\n", passed.c_str());
                return 1;
            }
        }
        for (size_t i = 0; i < emu::operationCount; ++i) calledByAnyLife[i] += baseline.observation.calls[i];
        const std::vector<Case> cases = CasesOf(baseline.observation, subset);
        const std::vector<Ending> endings = RunAll(life, cases, jobs);
        for (size_t i = 0; i < cases.size(); ++i) {
            const Verdict verdict = Judge(life, cases[i], endings[i], baseline.observation);
            if (!verdict.finding) continue;
            const size_t first = static_cast<size_t>(*verdict.finding);
            ++(verdict.failed ? failedBy : expectedBy)[first];
            const std::string line = std::string(findingNames[first]) + ": " + verdict.reason;
            if (verdict.failed)
                failures.push_back(life.name + ", " + Describe(cases[i]) + ": " + findingNames[first] +
                                   (verdict.detail.empty() ? "" : " (" + verdict.detail + ")"));
            else if (std::find(reasons.begin(), reasons.end(), line) == reasons.end())
                reasons.push_back(line);
        }
        total += cases.size();
        std::printf("%-22s %5zu cases\n", life.name.c_str(), cases.size());
    }

    size_t uncovered = 0;
    for (size_t i = 0; i < emu::operationCount; ++i) {
        const auto operation = static_cast<Operation>(i);
        const auto unlisted = [&](const auto& entry) { return entry.first != operation; };
        if (calledByAnyLife[i] == 0 && std::all_of(std::begin(notCalled), std::end(notCalled), unlisted)) {
            failures.push_back(std::string(emu::Describe(operation).name) +
                               ": called by no life, so never failed");
            ++uncovered;
        }
    }
    size_t clean = total;
    for (size_t f = 0; f < findings; ++f) clean -= expectedBy[f] + failedBy[f];
    int width = 0;  // the longest finding's name, and a space
    for (const char* name : findingNames) width = std::max(width, static_cast<int>(std::strlen(name)) + 1);
    std::printf("\n%-*s %8s %8s\n%-*s %8zu %8s\n", width, "finding", "expected", "failed", width, "none",
                clean, "-");
    for (size_t f = 0; f < findings; ++f) {
        std::printf("%-*s %8zu %8zu\n", width, findingNames[f], expectedBy[f], failedBy[f]);
        failed += failedBy[f];
    }
    if (!reasons.empty()) std::printf("\nexpected, and why:\n");
    for (const std::string& reason : reasons) std::printf("  %s\n", reason.c_str());
    if (!failures.empty()) std::printf("\nfailures:\n");
    for (size_t i = 0; i < failures.size() && i < 50; ++i) std::printf("  %s\n", failures[i].c_str());
    if (failures.size() > 50) std::printf("  ... and %zu more\n", failures.size() - 50);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("\n%.1f s, %u at a time\n%zu passed, %zu failed\n", seconds, jobs, total - failed,
                failed + uncovered);
    return failed + uncovered == 0 ? 0 : 1;
}
