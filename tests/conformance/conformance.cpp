// The conformance program's frame: arguments, the program's scratch, the answers as
// text, the expectations and the comparison.
// Usage: noxel-conformance EXPECTATIONS [--wine] [GROUP...]
#include "tests/conformance/conformance.h"

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace conformance {

const WCHAR* const scratchKey = TEXT("SOFTWARE\\NoxelConformance");
const WCHAR* const scratchService = TEXT("NoxelConformance");
const WCHAR* const scratchFile = TEXT("C:\\Windows\\System32\\noxel-conformance.log");

std::string Escape(const std::basic_string<WCHAR>& text) {
    std::string escaped;
    for (const WCHAR c : text) {
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

std::string Enabling(const WCHAR* privilege) {
    UniqueKernelHandle token;
    TOKEN_PRIVILEGES privileges{1, {{{}, SE_PRIVILEGE_ENABLED}}};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) ||
        !LookupPrivilegeValueW(nullptr, privilege, &privileges.Privileges[0].Luid))
        return Outcome(FALSE);
    SetLastError(unsetError);
    const BOOL adjusted = AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return adjusted ? "ok last error " + Number(GetLastError()) : Outcome(FALSE);
}

namespace {

struct Group {
    const char* name;
    void (*ask)(Answers&);
    // Firmware variables or devices that only a prepared machine has (the emulated one, or
    // Wine as tests/wine/conformance.sh sets it up); on Windows, asked only when named.
    bool needsPreparedMachine = false;
};

const Group groups[] = {
    {"registry", RegistryQuestions},
    {"firmware", FirmwareQuestions, true},
    {"messages", MessageQuestions},
    {"devices", DeviceQuestions, true},
    {"services", ServiceQuestions},
    // Last: on the emulated machine the token stays the service's afterwards.
    {"privileges", PrivilegeQuestions},
};

bool IsGroup(const std::string& name) {
    return std::any_of(std::begin(groups), std::end(groups),
                       [&](const Group& group) { return name == group.name; });
}

// `wine`: Wine's answer where it is marked, '*' standing for any text; `why`: the reason.
struct Expected {
    std::string group, windows, wine, why;
    int line;
};

bool Matches(const char* text, const char* pattern) {
    if (*pattern == '*') return Matches(text, pattern + 1) || (*text && Matches(text + 1, pattern));
    if (!*pattern) return !*text;
    return *text == *pattern && Matches(text + 1, pattern + 1);
}

// The expectations by "[group] question"; the format is explained at the top of
// expectations.txt. On a malformed line, false with its number and what is wrong.
bool Parse(std::istream& lines, std::map<std::string, Expected>& entries, std::string& error) {
    const std::string noReason = "the mark above has no reason indented below it";
    std::string line, group;
    Expected groupMark{};
    Expected* markable = nullptr;  // the question or group that a mark on the next line marks
    Expected* marked = nullptr;    // the mark that reason lines extend
    int number = 0;
    const auto fail = [&](const std::string& wrong) {
        error = "line " + std::to_string(number) + ": " + wrong;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t indent = line.find_first_not_of(' '), equals = (line + " ").find(" = ");
        if (indent == 4 && marked) {
            marked->why += (marked->why.empty() ? "" : " ") + line.substr(4);
            continue;
        }
        if (marked && marked->why.empty()) return fail(noReason);
        marked = nullptr;
        if (indent == std::string::npos || line[indent] == '#') {
            markable = nullptr;  // a mark stands right below what it marks
            continue;
        }
        if (line.rfind("  wine: ", 0) == 0 && markable) {
            markable->wine = line.substr(8);
            markable->why.clear();
            marked = std::exchange(markable, nullptr);
        } else if (indent == 0 && line[0] == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            groupMark = {};
            markable = &groupMark;
            // A group the program no longer asks would otherwise pass unnoticed.
            if (!IsGroup(group)) return fail("no group [" + group + "] is asked");
        } else if (indent == 0 && equals != std::string::npos && !group.empty()) {
            const std::string question = line.substr(0, equals);
            markable = &entries["[" + group + "] " + question];
            if (markable->line) return fail("\"" + question + "\" is there twice");
            *markable = {group, line.substr(std::min(equals + 3, line.size())), groupMark.wine, groupMark.why,
                         number};
        } else {
            return fail(
                "neither [group], QUESTION = ANSWER, a mark (  wine: ANSWER) right below one, nor a reason");
        }
    }
    return marked && marked->why.empty() ? fail(noReason) : true;
}

// What of the program's scratch the machine has, as text; empty when it has none. A
// machine that has any already is not asked at all, since the program cannot tell it
// from someone else's.
std::string ScratchPresent() {
    std::string present;
    const auto add = [&](DWORD error, DWORD absent, const char* what) {
        if (error == absent) return;
        present += (present.empty() ? "" : "; ") + std::string(what);
        if (error != ERROR_SUCCESS) present += " cannot be looked for (error " + Number(error) + ")";
    };
    UniqueKey key;
    add(RegOpenKeyExW(HKEY_LOCAL_MACHINE, scratchKey, 0, KEY_READ, key.put()), ERROR_FILE_NOT_FOUND,
        "the key HKLM\\SOFTWARE\\NoxelConformance");
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), scratchService, SERVICE_QUERY_STATUS)
                                        : nullptr);
    add(service ? ERROR_SUCCESS : GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST,
        "the service NoxelConformance");
    WIN32_FIND_DATAW data;
    UniqueFind file(FindFirstFileW(scratchFile, &data));
    add(file ? ERROR_SUCCESS : GetLastError(), ERROR_FILE_NOT_FOUND,
        "the file C:\\Windows\\System32\\noxel-conformance.log");
    return present;
}

// The service and the file, which the privilege questions leave (and others on a failure);
// the registry questions remove their keys themselves.
void RemoveScratch() {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceW(manager.get(), scratchService, DELETE));
    if (service) DeleteService(service.get());
    DeleteFileW(scratchFile);
}

}  // namespace

int Run(const std::vector<std::string>& arguments) {
    const bool prepared = PrepareMachine();
    bool wine = false, usage = arguments.empty();
    std::set<std::string> asked;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--wine")
            wine = true;
        else if (IsGroup(arguments[i]))
            asked.insert(arguments[i]);
        else
            usage = true;
    }
    if (usage) {
        std::printf("usage: noxel-conformance EXPECTATIONS [--wine] [GROUP...]\n");
        return 2;
    }
    if (asked.empty()) {
        std::string left;
        for (const Group& group : groups) {
            if (group.needsPreparedMachine && !prepared && !wine)
                left += (left.empty() ? "" : ", ") + std::string(group.name);
            else
                asked.insert(group.name);
        }
        if (!left.empty())
            std::printf("not asked: %s, which only a prepared machine can answer; name them to ask them\n",
                        left.c_str());
    }

    std::ifstream file(arguments[0], std::ios::binary);
    std::string error = "cannot be read";
    std::map<std::string, Expected> expectations;
    if (!file || !Parse(file, expectations, error)) {
        std::printf("%s: %s\n", arguments[0].c_str(), error.c_str());
        return 2;
    }

    const std::string before = ScratchPresent();
    if (!before.empty()) {
        std::printf(
            "this machine already has %s, which the program makes and deletes: remove what an "
            "earlier run left, then run it again.\n",
            before.c_str());
        return 2;
    }
    Answers answers;
    for (const Group& group : groups) {
        if (!asked.count(group.name)) continue;
        answers.group = group.name;
        group.ask(answers);
    }
    RemoveScratch();
    const std::string after = ScratchPresent();

    size_t asWindows = 0, asMarked = 0, failed = 0;
    std::string group;
    for (const Answers::Entry& answer : answers.entries) {
        if (answer.group != group) std::printf("[%s]\n", (group = answer.group).c_str());
        std::printf("%s = %s\n", answer.question.c_str(), answer.answer.c_str());
        const auto found = expectations.find("[" + group + "] " + answer.question);
        if (found == expectations.end()) {
            std::printf("  FAIL: not in the expectations, or asked twice\n");
            ++failed;
            continue;
        }
        const Expected expected = found->second;
        expectations.erase(found);
        if (answer.answer == expected.windows) {
            ++asWindows;
        } else if (wine && !expected.wine.empty() && Matches(answer.answer.c_str(), expected.wine.c_str())) {
            ++asMarked;
            std::printf("  marked for Wine: %s\n", expected.why.c_str());
        } else {
            ++failed;
            const std::string mark = wine && !expected.wine.empty() ? ", or as marked: " + expected.wine : "";
            std::printf("  FAIL (line %d), expected: %s%s\n", expected.line, expected.windows.c_str(),
                        mark.c_str());
        }
    }
    for (const auto& [key, expected] : expectations) {
        if (!asked.count(expected.group)) continue;
        std::printf("FAIL %s (line %d): not asked\n", key.c_str(), expected.line);
        ++failed;
    }
    std::printf("%zu answers as Windows gives them, %zu as marked for Wine, %zu failed\n", asWindows,
                asMarked, failed);
    if (!after.empty()) std::printf("left behind: %s\n", after.c_str());
    return failed == 0 && after.empty() ? 0 : 1;
}

}  // namespace conformance
