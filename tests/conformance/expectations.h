// The expectations file: each question's Windows answer written once, and where a run
// is known to answer otherwise, a mark naming that run with its alternative and why
// (as Wine's own tests mark theirs with broken() and todo_wine).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance {

// Who answers: the emulation on the host, Wine, the test build's firmware reader under
// Wine, or Windows itself.
enum class Runner { Emulation, Wine, FirmwareDirectory, Windows };
bool RunnerNamed(const std::string& name, Runner& runner);
const char* RunnerName(Runner runner);

struct Mark {
    std::string alternative;
    std::string why;
};

struct Expectation {
    std::string group;
    std::string question;
    std::string windows;
    std::map<std::string, Mark> marks;  // by runner name
    int line = 0;
};

struct Expectations {
    std::vector<Expectation> entries;
};

// Parses the file's text; on a malformed line, false with the line and what is wrong.
bool ParseExpectations(const std::string& text, Expectations& expectations, std::string& error);

// Compares a run's answers for the groups asked with the expectations, prints the
// differences and a summary, and tells whether the run conforms.
bool Compare(const Expectations& expectations, const Answers& answers, Runner runner,
             const std::set<std::string>& groupsAsked);

// Whether `text` matches `pattern`, where '*' stands for any run of characters and
// "\*" for a star.
bool MatchesPattern(const std::string& text, const std::string& pattern);

}  // namespace conformance
