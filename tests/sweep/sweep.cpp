#include "tests/sweep/sweep.h"

#include <algorithm>
#include <iterator>
#include <regex>

#include "simulation/log_entries.h"

namespace sweep {

namespace {

// A whole entry's message: a line the service writes with its line end, or one of
// the failure texts that it writes without one. Giving up names the step that failed
// and its code, which is never 0.
bool IsWholeMessage(std::u16string_view message) {
    static const std::regex form(
        "Gave up after 30 attempts: [a-z]+ \\S.* failed w/err 0x(?!0{8})[0-9a-f]{8}\r\n");
    if (message.substr(0, 8) == u"Gave up ") return std::regex_match(emu::Narrow(message), form);
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

}  // namespace sweep
