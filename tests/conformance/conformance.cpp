// The conformance program's frame: arguments, the answers as text, the expectations and
// the comparison. Usage: noxel-conformance EXPECTATIONS [--as RUNNER] [GROUP...]
#include "tests/conformance/conformance.h"

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace conformance {

std::string Escape(const WCHAR* text, size_t length) {
    std::string escaped;
    for (size_t i = 0; i < length; ++i) {
        const WCHAR c = text[i];
        char code[8];
        std::snprintf(code, sizeof(code), "\\u%04x", static_cast<unsigned>(c));
        switch (c) {
            case '\r': escaped += "\\r"; break;
            case '\n': escaped += "\\n"; break;
            case '\\': escaped += "\\\\"; break;
            default: escaped += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : code;
        }
    }
    return escaped;
}

std::string Escape(const WCHAR* text) { return Escape(text, static_cast<size_t>(lstrlenW(text))); }

std::string Number(unsigned long value) { return std::to_string(value); }

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lx", value);
    return text;
}

std::string HexBytes(const BYTE* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof(byte), i ? " %02x" : "%02x", bytes[i]);
        text += byte;
    }
    return text;
}

std::string Outcome(BOOL succeeded) { return succeeded ? "ok" : "fail " + Number(GetLastError()); }

namespace {

struct Group {
    const char* name;
    void (*ask)(Answers&);
    // Asks about firmware variables or devices that only a prepared machine has (the
    // emulated one, or Wine as tests/wine/conformance.sh sets it up); on Windows itself,
    // only when named.
    bool needsPreparedMachine = false;
};

const Group groups[] = {
    {"registry", RegistryQuestions},
    {"firmware", FirmwareQuestions, true},
    {"messages", MessageQuestions},
    {"files", FileQuestions},
    {"console", ConsoleQuestions},
    {"time", TimeQuestions},
    {"devices", DeviceQuestions, true},
    {"service-manager", ServiceManagerQuestions},
    {"service-settings", ServiceSettingsQuestions},
    {"dispatcher", DispatcherQuestions},
    {"module", ModuleQuestions},
    {"event-log", EventLogQuestions},
    {"threads", ThreadQuestions},
    {"formatters", FormatterQuestions},
};

bool IsGroup(const std::string& name) {
    return std::any_of(std::begin(groups), std::end(groups),
                       [&](const Group& group) { return name == group.name; });
}

// The runs that may be marked as answering otherwise than Windows does.
bool IsMarkedRunner(const std::string& name) {
    return name == "emulation" || name == "wine" || name == "firmware-directory";
}

struct Mark {
    std::string answer, why;
};

struct Expected {
    std::string group, question, windows;
    std::map<std::string, Mark> marks;  // by runner
    int line;
};

// '*' stands for any run of characters.
bool Matches(const char* text, const char* pattern) {
    if (*pattern == '*') return Matches(text, pattern + 1) || (*text && Matches(text + 1, pattern));
    if (!*pattern) return !*text;
    return *text == *pattern && Matches(text + 1, pattern + 1);
}

// The format is explained at the top of expectations.txt. On a malformed line, false
// with its number and what is wrong.
bool Parse(const std::string& text, std::vector<Expected>& entries, std::string& error) {
    std::istringstream lines(text);
    std::string line, group, wrong;
    std::map<std::string, std::map<std::string, Mark>> groupMarks;
    std::set<std::string> questions;
    Mark* mark = nullptr;  // the mark that reason lines extend
    int number = 0;
    while (wrong.empty() && std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t indent = line.find_first_not_of(' '), colon = line.find(": ");
        const size_t equals = (line + " ").find(" = ");  // "QUESTION =" is empty
        const std::string runner = indent == 2 && colon != std::string::npos ? line.substr(2, colon - 2) : "";
        if (indent == std::string::npos || line[indent] == '#') continue;
        if (indent == 4 && mark) {
            mark->why += (mark->why.empty() ? "" : " ") + line.substr(4);
            continue;
        }
        if (mark && mark->why.empty()) {
            wrong = "the mark above has no reason indented below it";
        } else if (IsMarkedRunner(runner) && !group.empty()) {
            const bool ofGroup = entries.empty() || entries.back().group != group;
            auto& marks = ofGroup ? groupMarks[group] : entries.back().marks;
            if (marks.count(runner)) wrong = "a second " + runner + " mark";
            mark = &(marks[runner] = Mark{line.substr(colon + 2), ""});
            continue;
        } else if (indent == 0 && line[0] == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            // A group the program no longer asks would otherwise pass unnoticed.
            if (!IsGroup(group)) wrong = "no group [" + group + "] is asked";
        } else if (indent == 0 && equals != std::string::npos && !group.empty()) {
            const std::string question = line.substr(0, equals);
            if (!questions.insert(group + "\n" + question).second)
                wrong = "\"" + question + "\" is there twice";
            entries.push_back({group, question, line.substr(std::min(equals + 3, line.size())), {}, number});
        } else {
            wrong = "neither [group], QUESTION = ANSWER, a mark (  RUNNER: ANSWER) nor its reason";
        }
        mark = nullptr;
    }
    if (wrong.empty() && mark && mark->why.empty()) wrong = "the mark above has no reason indented below it";
    error = "line " + std::to_string(number) + ": " + wrong;
    for (Expected& entry : entries)
        for (const auto& [runner, groupMark] : groupMarks[entry.group])
            entry.marks.emplace(runner, groupMark);
    return wrong.empty();
}

// Prints the answers that differ and a summary; whether the run conforms.
bool Compare(const std::vector<Expected>& entries, const Answers& answers, const std::string& runner,
             const std::set<std::string>& asked) {
    std::map<std::string, const Expected*> unanswered;
    for (const Expected& entry : entries)
        if (asked.count(entry.group)) unanswered["[" + entry.group + "] " + entry.question] = &entry;
    size_t asWindows = 0, asMarked = 0, failed = 0;
    for (const Answers::Entry& answer : answers.entries) {
        const std::string key = "[" + answer.group + "] " + answer.question;
        const auto found = unanswered.find(key);
        if (found == unanswered.end()) {
            std::printf("FAIL %s: not in the expectations, or asked twice\n  answered: %s\n", key.c_str(),
                        answer.answer.c_str());
            ++failed;
            continue;
        }
        const Expected& expected = *found->second;
        unanswered.erase(found);
        const auto marked = expected.marks.find(runner);
        const Mark* mark = marked == expected.marks.end() ? nullptr : &marked->second;
        // Wine may come to answer as Windows does; our own code gives the one answer it is known to give.
        if (answer.answer == expected.windows && (!mark || runner == "wine")) {
            ++asWindows;
        } else if (mark && (runner == "wine" ? Matches(answer.answer.c_str(), mark->answer.c_str())
                                             : answer.answer == mark->answer)) {
            ++asMarked;
            std::printf("marked %s: %s\n", key.c_str(), mark->why.c_str());
        } else {
            ++failed;
            std::printf("FAIL %s (line %d)\n  answered: %s\n  expected: %s\n", key.c_str(), expected.line,
                        answer.answer.c_str(), expected.windows.c_str());
            if (mark)
                std::printf("  marked for %s: %s (%s)\n", runner.c_str(), mark->answer.c_str(),
                            mark->why.c_str());
        }
    }
    for (const auto& [key, expected] : unanswered) {
        std::printf("FAIL %s (line %d): not asked\n", key.c_str(), expected->line);
        ++failed;
    }
    std::printf("%zu answers as Windows gives them, %zu as marked for %s, %zu failed\n", asWindows, asMarked,
                runner.c_str(), failed);
    return failed == 0;
}

std::string Narrow(const WCHAR* text) {
    std::string narrow;
    for (; *text; ++text) narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

int Usage() {
    std::printf(
        "usage: noxel-conformance EXPECTATIONS [--as emulation|wine|firmware-directory|windows] "
        "[GROUP...]\n");
    return 2;
}

}  // namespace

int Run(int argc, WCHAR** argv) {
    if (argc < 2) return Usage();
    std::string runner = DefaultRunner();
    std::set<std::string> asked;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = Narrow(argv[i]);
        if (argument == "--as" && i + 1 < argc) {
            runner = Narrow(argv[++i]);
            if (!IsMarkedRunner(runner) && runner != "windows") return Usage();
        } else if (IsGroup(argument)) {
            asked.insert(argument);
        } else {
            std::printf("no group named %s\n", argument.c_str());
            return Usage();
        }
    }
    if (asked.empty()) {
        std::string left;
        for (const Group& group : groups) {
            if (runner == "windows" && group.needsPreparedMachine)
                left += (left.empty() ? "" : ", ") + std::string(group.name);
            else
                asked.insert(group.name);
        }
        if (!left.empty())
            std::printf(
                "not asked: %s (they need firmware variables and devices that only a prepared machine "
                "has; name them to ask them)\n",
                left.c_str());
    }

    std::ifstream file(Narrow(argv[1]), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    std::string error = "cannot be read";
    std::vector<Expected> expectations;
    if (!file || !Parse(text, expectations, error)) {
        std::printf("%s: %s\n", Narrow(argv[1]).c_str(), error.c_str());
        return 2;
    }

    PrepareMachine();
    const std::string before = ScratchPresent();
    if (!before.empty()) {
        std::printf(
            "this machine already has %s: the program makes and deletes these, and does not touch "
            "what it did not make. Remove what an earlier run left, then run it again.\n",
            before.c_str());
        return 2;
    }
    Answers answers;
    const bool keysMade = MakeScratchKeys();
    for (const Group& group : groups) {
        if (!asked.count(group.name)) continue;
        answers.group = group.name;
        group.ask(answers);
    }
    RemoveScratch();
    const std::string after = ScratchPresent();
    std::string group;
    for (const Answers::Entry& entry : answers.entries) {
        if (entry.group != group) std::printf("[%s]\n", (group = entry.group).c_str());
        std::printf("%s = %s\n", entry.question.c_str(), entry.answer.c_str());
    }
    std::printf("----\n");
    bool conforms = Compare(expectations, answers, runner, asked);
    if (!keysMade) std::printf("the scratch keys below HKLM\\SOFTWARE\\NoxelConformance could not be made\n");
    if (!after.empty()) std::printf("left behind: %s\n", after.c_str());
    std::fflush(stdout);
    return conforms && keysMade && after.empty() ? 0 : 1;
}

}  // namespace conformance
