// The fault sweep: whole lives of the real service, run by the simulator's driver on
// the emulated machine again with one emulated call failing, or every call from one on,
// and judged from what a user could see afterwards.
#pragma once

#include <string>
#include <vector>

#include "platform/emulation/emulation.h"
#include "tools/simulator/machine_file.h"
#include "tools/simulator/run.h"

namespace sweep {

struct Life {
    std::string name;
    sim::MachineDescription machine;
    sim::RunOptions run;     // how the life ends: a stop, a shutdown, or a console option
    bool installed = false;  // the service is installed and running, as -remove finds it
};

// The six lives, on machines read from the example machine files in `examples`.
std::vector<Life> StandardLives(const std::string& examples);

enum class Mode { Once, FromThenOn };

struct Case {
    emu::Operation operation{};
    unsigned call = 0;  // 0: no fault, the baseline
    Mode mode = Mode::Once;
    DWORD error = 0;
};

constexpr size_t maxInstances = 4;
constexpr size_t publishedNames = 5;  // ALS_SRC, ALS_CAL, ALR_CURVE, ALS_CS, ALS_FLAG
constexpr size_t textSize = 160;

// What one life left behind. Plain data, so that a child process can hand it over
// through a pipe as it is.
struct Observation {
    bool stuck = false;
    int exitCode = 0;
    unsigned openHandles = 0;
    char handleKinds[textSize] = {};
    bool anyReport = false;
    bool stoppedReported = false;
    bool lastReportFailed = false;           // the last SetServiceStatus call was one made to fail
    unsigned failedCalls = 0;                // calls of the faulted operation that were failed
    char incompleteInstance[textSize] = {};  // published, yet lacking a counted value
    char logProblem[textSize] = {};
    unsigned failedReads = 0;  // bit per variable, as calibrationVariables orders them
    char values[maxInstances][publishedNames][textSize] = {};
    unsigned calls[emu::operationCount] = {};
};

// Runs the life in this process, with the case's fault; the process is not fit for
// another life afterwards (the service keeps process-wide state).
Observation RunLife(const Life& life, const Case& fault);

enum class Finding { Crash, Hang, ExitCode, NoStopped, HandleLeft, Incomplete, BrokenLog, WrongValue, Count };
inline constexpr const char* findingNames[] = {"crash or sanitizer report",
                                               "hang",
                                               "exit code not 0",
                                               "STOPPED never reported",
                                               "handle left open",
                                               "published but incomplete",
                                               "text log not whole entries",
                                               "value differs from the firmware"};

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
    std::vector<Finding> findings;  // what was seen, the unexpected ones first
    std::string detail;             // of the first finding
    std::string reason;             // why the first finding is expected, when it is
};

Verdict Judge(const Life& life, const Case& fault, const Ending& ending, const Observation& baseline);

// The cases of a life, from the calls its baseline made: every call of every
// operation, failing once and from then on, with the operation's fitting error and
// the generic ones; the subset takes a spread of calls and the fitting error alone.
std::vector<Case> CasesOf(const Observation& baseline, bool subset);

std::string Describe(const Case& fault);

// "" when the text log's bytes are a sequence of whole entries (a timestamp and one
// of the service's messages), else what is wrong and where.
std::string CheckLog(const emu::Bytes& bytes);

}  // namespace sweep
