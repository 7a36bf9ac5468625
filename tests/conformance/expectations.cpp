#include "tests/conformance/expectations.h"

#include <cstdio>
#include <sstream>

namespace conformance {

namespace {

const char* const markKinds[] = {"emulation", "wine", "firmware-directory"};

bool IsMarkKind(const std::string& kind) {
    for (const char* known : markKinds)
        if (kind == known) return true;
    return false;
}

std::string TrimLeft(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : text.substr(start);
}

// "key: value" of an indented line; false when it has no known key.
bool KeyedLine(const std::string& trimmed, std::string& key, std::string& value) {
    const size_t colon = trimmed.find(':');
    if (colon == std::string::npos) return false;
    key = trimmed.substr(0, colon);
    if (key != "why" && !IsMarkKind(key)) return false;
    value = trimmed.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    return true;
}

struct Verdict {
    bool conforms = false;
    const Mark* mark = nullptr;  // the mark whose alternative was given, if one was
};

Verdict Judge(const Expectation& expected, const std::string& answer, Runner runner) {
    const auto marked = expected.marks.find(RunnerName(runner));
    const Mark* mark = marked == expected.marks.end() ? nullptr : &marked->second;
    switch (runner) {
        case Runner::Wine:
            // As broken(): Windows' answer or Wine's own, which may be a pattern.
            if (answer == expected.windows) return {true, nullptr};
            if (mark && MatchesPattern(answer, mark->alternative)) return {true, mark};
            return {};
        case Runner::Emulation:
        case Runner::FirmwareDirectory:
            // Our own code: exactly the one answer it is known to give.
            if (mark) return {answer == mark->alternative, mark};
            return {answer == expected.windows, nullptr};
        case Runner::Windows: return {answer == expected.windows, nullptr};
    }
    return {};
}

}  // namespace

bool RunnerNamed(const std::string& name, Runner& runner) {
    for (Runner candidate : {Runner::Emulation, Runner::Wine, Runner::FirmwareDirectory, Runner::Windows}) {
        if (name == RunnerName(candidate)) {
            runner = candidate;
            return true;
        }
    }
    return false;
}

const char* RunnerName(Runner runner) {
    switch (runner) {
        case Runner::Emulation: return "emulation";
        case Runner::Wine: return "wine";
        case Runner::FirmwareDirectory: return "firmware-directory";
        case Runner::Windows: return "windows";
    }
    return "?";
}

bool MatchesPattern(const std::string& text, const std::string& pattern) {
    // Backtracking over the last star is enough for patterns this small.
    size_t t = 0, p = 0, starAt = std::string::npos, resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = ++p;
            resumeAt = t;
            continue;
        }
        if (p < pattern.size()) {
            const bool escapedStar = pattern[p] == '\\' && p + 1 < pattern.size() && pattern[p + 1] == '*';
            const char wanted = escapedStar ? '*' : pattern[p];
            if (text[t] == wanted) {
                p += escapedStar ? 2 : 1;
                ++t;
                continue;
            }
        }
        if (starAt == std::string::npos) return false;
        p = starAt;
        t = ++resumeAt;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool ParseExpectations(const std::string& text, Expectations& expectations, std::string& error) {
    std::istringstream lines(text);
    std::string line, group;
    std::map<std::string, Mark> groupMarks;
    std::map<std::string, Mark>* marks = nullptr;  // where a mark line goes
    Mark* openMark = nullptr;                      // the mark that still needs its reason
    Mark* lastMark = nullptr;                      // whose reason a continuation extends
    std::set<std::string> questions;
    int number = 0;
    const auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(number) + ": " + what;
        return false;
    };
    // A question takes the group's marks for the runners it does not mark itself.
    const auto finishQuestion = [&] {
        if (!expectations.entries.empty() && expectations.entries.back().group == group)
            for (const auto& [kind, mark] : groupMarks) expectations.entries.back().marks.emplace(kind, mark);
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = TrimLeft(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        if (line[0] == ' ' || line[0] == '\t') {
            std::string key, value;
            if (!KeyedLine(trimmed, key, value)) {
                if (!lastMark) return fail("an indented line that is neither a mark nor a reason");
                lastMark->why += " " + trimmed;
                continue;
            }
            if (key == "why") {
                if (!openMark) return fail("a reason without a mark before it");
                openMark->why = value;
                lastMark = openMark;
                openMark = nullptr;
                continue;
            }
            if (openMark) return fail("the mark before this one has no reason (why:)");
            if (!marks) return fail("a mark outside a group or question");
            if (marks->count(key)) return fail("a second " + key + " mark");
            openMark = &(*marks)[key];
            openMark->alternative = value;
            lastMark = nullptr;
            continue;
        }
        if (openMark) return fail("the mark before this line has no reason (why:)");
        lastMark = nullptr;
        if (line[0] == '[') {
            if (line.back() != ']') return fail("a group header is [name]");
            finishQuestion();
            group = line.substr(1, line.size() - 2);
            groupMarks.clear();
            marks = &groupMarks;
            continue;
        }
        if (group.empty()) return fail("a question before the first [group]");
        size_t separator = line.find(" = ");
        std::string answer;
        if (separator != std::string::npos) {
            answer = line.substr(separator + 3);
        } else if (line.size() >= 2 && line.compare(line.size() - 2, 2, " =") == 0) {
            separator = line.size() - 2;  // an empty answer
        } else {
            return fail("a question is \"QUESTION = ANSWER\"");
        }
        finishQuestion();
        Expectation entry;
        entry.group = group;
        entry.question = line.substr(0, separator);
        entry.windows = answer;
        entry.line = number;
        if (!questions.insert(group + "\n" + entry.question).second)
            return fail("\"" + entry.question + "\" is there twice");
        expectations.entries.push_back(entry);
        marks = &expectations.entries.back().marks;
    }
    if (openMark) return fail("the last mark has no reason (why:)");
    finishQuestion();
    return true;
}

bool Compare(const Expectations& expectations, const Answers& answers, Runner runner,
             const std::set<std::string>& groupsAsked) {
    std::map<std::string, const Expectation*> byQuestion;
    for (const Expectation& entry : expectations.entries)
        if (groupsAsked.count(entry.group)) byQuestion[entry.group + "\n" + entry.question] = &entry;

    size_t asWindows = 0, asMarked = 0, failures = 0;
    std::set<std::string> answered;
    for (const Answers::Entry& entry : answers.Entries()) {
        const std::string key = entry.group + "\n" + entry.question;
        const auto found = byQuestion.find(key);
        if (found == byQuestion.end()) {
            std::printf("FAIL [%s] %s\n  answered: %s\n  not in the expectations\n", entry.group.c_str(),
                        entry.question.c_str(), entry.answer.c_str());
            ++failures;
            continue;
        }
        if (!answered.insert(key).second) {
            std::printf("FAIL [%s] %s: asked twice\n", entry.group.c_str(), entry.question.c_str());
            ++failures;
            continue;
        }
        const Expectation& expected = *found->second;
        const Verdict verdict = Judge(expected, entry.answer, runner);
        if (verdict.conforms) {
            if (verdict.mark) {
                ++asMarked;
                std::printf("marked [%s] %s: %s\n", entry.group.c_str(), entry.question.c_str(),
                            verdict.mark->why.c_str());
            } else {
                ++asWindows;
            }
            continue;
        }
        ++failures;
        std::printf("FAIL [%s] %s (line %d)\n  answered: %s\n  expected: %s\n", entry.group.c_str(),
                    entry.question.c_str(), expected.line, entry.answer.c_str(),
                    verdict.mark ? verdict.mark->alternative.c_str() : expected.windows.c_str());
        const auto mark = expected.marks.find(RunnerName(runner));
        if (runner == Runner::Wine && mark != expected.marks.end())
            std::printf("  or, as marked for wine: %s\n", mark->second.alternative.c_str());
        if (verdict.mark) std::printf("  (marked: %s)\n", verdict.mark->why.c_str());
    }
    for (const auto& [key, expected] : byQuestion) {
        if (answered.count(key)) continue;
        std::printf("FAIL [%s] %s (line %d): not asked\n", expected->group.c_str(),
                    expected->question.c_str(), expected->line);
        ++failures;
    }
    std::printf("%zu answers as Windows gives them, %zu as marked for %s, %zu failed\n", asWindows, asMarked,
                RunnerName(runner), failures);
    return failures == 0;
}

}  // namespace conformance
