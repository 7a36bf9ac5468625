// The conformance program's frame: arguments, the answers as text, the comparison.
// Usage: noxel-conformance EXPECTATIONS [--as RUNNER] [GROUP...]
#include "tests/conformance/conformance.h"

#include <cstdio>
#include <set>

#include "tests/conformance/expectations.h"

namespace conformance {

std::string Escape(const WCHAR* text, size_t length) {
    std::string escaped;
    for (size_t i = 0; i < length; ++i) {
        const WCHAR c = text[i];
        if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\\') {
            escaped += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            escaped += static_cast<char>(c);
        } else {
            char code[8];
            std::snprintf(code, sizeof(code), "\\u%04x", static_cast<unsigned>(c));
            escaped += code;
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
        std::snprintf(byte, sizeof(byte), "%02x", bytes[i]);
        if (!text.empty()) text += ' ';
        text += byte;
    }
    return text;
}

std::string Outcome(BOOL succeeded) { return succeeded ? "ok" : "fail " + Number(GetLastError()); }

const std::vector<Group>& Groups() {
    static const std::vector<Group> groups = {
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
    return groups;
}

namespace {

bool IsGroup(const std::string& name) {
    for (const Group& group : Groups())
        if (name == group.name) return true;
    return false;
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
    Runner runner = Runner::Windows;
    RunnerNamed(DefaultRunner(), runner);
    std::set<std::string> groupsAsked;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = Narrow(argv[i]);
        if (argument == "--as") {
            if (++i == argc || !RunnerNamed(Narrow(argv[i]), runner)) return Usage();
            continue;
        }
        if (!IsGroup(argument)) {
            std::printf("no group named %s\n", argument.c_str());
            return Usage();
        }
        groupsAsked.insert(argument);
    }
    if (groupsAsked.empty()) {
        std::string left;
        for (const Group& group : Groups()) {
            if (runner == Runner::Windows && group.needsPreparedMachine) {
                left += (left.empty() ? "" : ", ") + std::string(group.name);
                continue;
            }
            groupsAsked.insert(group.name);
        }
        if (!left.empty())
            std::printf(
                "not asked: %s (they need firmware variables and devices that only a prepared machine "
                "has; name them to ask them)\n",
                left.c_str());
    }

    std::string text, error;
    Expectations expectations;
    if (!ReadTextFile(argv[1], text)) {
        std::printf("cannot read %s\n", Narrow(argv[1]).c_str());
        return 2;
    }
    if (!ParseExpectations(text, expectations, error)) {
        std::printf("%s: %s\n", Narrow(argv[1]).c_str(), error.c_str());
        return 2;
    }
    // A group the program no longer asks would otherwise pass unnoticed.
    for (const Expectation& entry : expectations.entries) {
        if (!IsGroup(entry.group)) {
            std::printf("%s: line %d: no group [%s] is asked\n", Narrow(argv[1]).c_str(), entry.line,
                        entry.group.c_str());
            return 2;
        }
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
    for (const Group& group : Groups()) {
        if (!groupsAsked.count(group.name)) continue;
        answers.Group(group.name);
        group.ask(answers);
    }
    RemoveScratch();
    const std::string after = ScratchPresent();
    std::string group;
    for (const Answers::Entry& entry : answers.Entries()) {
        if (entry.group != group) std::printf("[%s]\n", (group = entry.group).c_str());
        std::printf("%s = %s\n", entry.question.c_str(), entry.answer.c_str());
    }
    std::printf("----\n");
    bool conforms = Compare(expectations, answers, runner, groupsAsked);
    if (!keysMade) {
        std::printf("the scratch keys below HKLM\\SOFTWARE\\NoxelConformance could not be made\n");
        conforms = false;
    }
    if (!after.empty()) {
        std::printf("left behind: %s\n", after.c_str());
        conforms = false;
    }
    std::fflush(stdout);
    return conforms ? 0 : 1;
}

}  // namespace conformance
