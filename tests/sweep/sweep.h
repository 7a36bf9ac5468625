// The fault sweep's judgement: what one life of the real service left behind, with one
// emulated call failing or every call from one on, and which of its findings the
// service's own rules make expected. main.cpp runs the lives.
#pragma once

#include <iterator>
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

enum class Mode { Once, FromThenOn };

struct Case {
    emu::Operation operation{};
    unsigned call = 0;  // 0: no fault, the baseline
    Mode mode = Mode::Once;
    DWORD error = 0;
};

constexpr size_t maxInstances = 4;
constexpr size_t textSize = 160;
// The values a publication writes; the first four make it complete.
inline constexpr const char16_t* publishedValueNames[] = {u"ALS_SRC", u"ALS_CAL", u"ALR_CURVE", u"ALS_CS",
                                                          u"ALS_FLAG"};
constexpr size_t publishedNames = std::size(publishedValueNames), countedValues = 4;

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

// "" when the text log's bytes are a sequence of whole entries (a timestamp and one
// of the service's messages), else what is wrong and where.
std::string CheckLog(const emu::Bytes& bytes);

}  // namespace sweep
