#include "tools/simulator/report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "calibration/firmware_variables.h"
#include "calibration/sensor_model.h"
#include "calibration/text_log.h"
#include "platform/emulation/state_names.h"
#include "platform/event_log.h"
#include "platform/local_time.h"
#include "platform/registry.h"
#include "simulation/log_entries.h"

namespace sim {

namespace {

// The key that holds the sensor models' base keys: their parent, without its last backslash.
emu::String EnumRoot() {
    emu::String root = sensorModels[0].registryBaseKey;
    root.pop_back();  // the base key's closing backslash
    return root.substr(0, root.rfind(u'\\'));
}

DWORD Dword(const emu::Bytes& data) {
    DWORD value = 0;
    for (size_t i = 0; i < 4 && i < data.size(); ++i) value |= static_cast<DWORD>(data[i]) << (8 * i);
    return value;
}

std::string StringData(const emu::Bytes& data) {
    emu::String text = emu::Utf16Text(data);
    if (!text.empty() && text.back() == 0) text.pop_back();
    return emu::Narrow(text);
}

std::string HexBytes(const emu::Bytes& data, const char* separator) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x", data[i]);
        if (i) text += separator;
        text += digits;
    }
    return text;
}

// As the firmware reader ends the curve.
constexpr DWORD alrTerminator = 0xFFFF;

// A local time as a count of seconds; only differences between two are used.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return timegm(&parts);
}

// "[YYYYMMDD-HH:MM:SS]", already checked by the log's reader.
int64_t TimestampSeconds(const emu::String& stamp) {
    auto number = [&](size_t at, size_t count) {
        int value = 0;
        for (size_t i = at; i < at + count; ++i) value = value * 10 + (stamp[i] - u'0');
        return value;
    };
    return LocalSeconds(number(1, 4), number(5, 2), number(7, 2), number(10, 2), number(13, 2),
                        number(16, 2));
}

// The entries of the text log, each placed on the simulated clock by how long before
// the end its timestamp lies: the log knows local time only.
void ReadLogEntries(Report& report) {
    const logentries::Entries entries = logentries::Read(emu::FileBytes(logFilePath));
    report.logFault = entries.fault;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const int64_t nowSeconds =
        LocalSeconds(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    const int64_t endSeconds = static_cast<int64_t>(report.endMs / 1000);
    for (size_t i = 0; i < entries.messages.size(); ++i) {
        const int64_t seconds = endSeconds - (nowSeconds - TimestampSeconds(entries.timestamps[i]));
        const uint64_t timeMs = seconds <= 0 ? 0 : std::min<uint64_t>(seconds * 1000, report.endMs);
        std::string message = emu::Narrow(entries.messages[i]);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
        report.logEntries.push_back({timeMs, emu::Narrow(entries.timestamps[i]), message});
    }
}

AlrCurve ReadAlrCurve(const std::vector<emu::FirmwareRead>& reads) {
    AlrCurve curve;
    for (const emu::FirmwareRead& read : reads)
        if (read.name == alrCurveVariable) curve.lastRead = read;
    // The record keeps the last curve the service read whole.
    const CalibrationRecord& record = CalibrationParameters;
    if (record.alrPresent) {
        curve.state = AlrCurve::State::Read;
        for (const AlrPair& pair : record.alrPairs) {
            if (pair.lux == alrTerminator && pair.value == alrTerminator) break;
            curve.pairs.push_back(pair);
        }
    } else if (curve.lastRead) {
        curve.state = AlrCurve::State::NotRead;
    }
    return curve;
}

}  // namespace

const char* EventTypeName(WORD type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE: return "error";
        case EVENTLOG_WARNING_TYPE: return "warning";
        case EVENTLOG_INFORMATION_TYPE: return "information";
        default: return "other";
    }
}

std::string Seconds(uint64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu s", static_cast<unsigned long long>(milliseconds / 1000),
                  static_cast<unsigned long long>(milliseconds % 1000));
    return text;
}

std::string TypeName(DWORD type) {
    switch (type) {
        case REG_SZ: return "REG_SZ";
        case REG_DWORD: return "REG_DWORD";
        case REG_BINARY: return "REG_BINARY";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        default: return "type " + std::to_string(type);
    }
}

std::string ValueText(const emu::RegistryValue& value) {
    if (value.type == REG_DWORD && value.data.size() == 4) {
        char text[40];
        std::snprintf(text, sizeof text, "%u (0x%08x)", Dword(value.data), Dword(value.data));
        return text;
    }
    if (value.type == REG_SZ) return "\"" + StringData(value.data) + "\"";
    return HexBytes(value.data, " ");
}

std::string OutcomeText(const Report& report) {
    switch (report.outcome) {
        case Outcome::Published: return "published";
        case Outcome::GaveUp: return "gave up after " + std::to_string(report.failedAttempts) + " attempts";
        case Outcome::StoppedEarly: return "stopped early";
        case Outcome::NotStarted: return "the service did not start";
    }
    return "";
}

Report CollectReport(const WorkerEnd& workerEnd, const std::optional<std::string>& description) {
    Report report;
    report.description = description;
    report.statusReports = emu::StatusReports();
    report.events = emu::Events();
    report.endMs = emu::NowMs();
    report.logExists = emu::FileExists(logFilePath);
    if (report.logExists) {
        report.logText = emu::Narrow(emu::Utf16Text(emu::FileBytes(logFilePath)));
        ReadLogEntries(report);
    }
    const emu::String enumRoot = EnumRoot();
    for (const emu::String& device : emu::SubKeys(enumRoot)) {
        for (const emu::String& instance : emu::SubKeys(enumRoot + u"\\" + device)) {
            const emu::String path = enumRoot + u"\\" + device + u"\\" + instance + u"\\Device Parameters";
            if (emu::KeyExists(path)) report.parameterKeys.push_back({emu::Narrow(path), emu::Values(path)});
        }
    }
    // One CALIBRATE read opens every attempt.
    const std::vector<emu::FirmwareRead> reads = emu::FirmwareReads();
    for (const emu::FirmwareRead& read : reads)
        if (read.name == calibrateVariable) report.attempts.push_back(read);
    report.alrCurve = ReadAlrCurve(reads);
    report.failedAttempts = workerEnd.failedAttempts;
    report.console = emu::ConsoleText();

    bool running = false;
    for (const emu::StatusReport& status : report.statusReports)
        running = running || status.status.dwCurrentState == SERVICE_RUNNING;
    // A worker that ends by itself has either published, its last attempt not counted
    // as failed, or failed every attempt and given up.
    report.outcome = !running                                            ? Outcome::NotStarted
                     : !workerEnd.byItself                               ? Outcome::StoppedEarly
                     : workerEnd.failedAttempts < report.attempts.size() ? Outcome::Published
                                                                         : Outcome::GaveUp;
    return report;
}

std::string TextReport(const Report& report) {
    std::string out;
    if (report.description) out += "Machine: " + *report.description + "\n";
    out += "Outcome: " + std::string(report.outcome == Outcome::Published ? "published" : "not published") +
           (report.outcome == Outcome::Published ? "" : " (" + OutcomeText(report) + ")") + "\n";
    out += "Attempts: " + std::to_string(report.attempts.size()) + "\n";
    out += "Simulated time: " + Seconds(report.endMs) + "\n";

    out += "\nService status reports:\n";
    for (const emu::StatusReport& status : report.statusReports) {
        char line[160];
        std::snprintf(line, sizeof line, "  %12s  %-16s checkpoint %u  exit code %u\n",
                      Seconds(status.timeMs).c_str(), emu::StateName(status.status.dwCurrentState),
                      status.status.dwCheckPoint, status.status.dwWin32ExitCode);
        out += line;
    }

    out += "\nEvent log:\n";
    if (report.events.empty()) out += "  (no entries)\n";
    for (const emu::EventEntry& event : report.events) {
        char head[64];
        std::snprintf(head, sizeof head, "  %12s  %-11s  ", Seconds(event.timeMs).c_str(),
                      EventTypeName(event.type));
        out += head + emu::Narrow(event.source) + ": " +
               (event.strings.size() > 1 ? emu::Narrow(event.strings[1]) : std::string()) + "\n";
    }

    out += "\nText log " + emu::Narrow(logFilePath) + ":\n";
    if (!report.logExists) {
        out += "  (no file)\n";
    } else {
        std::string line;
        for (char c : report.logText) {
            if (c == '\r') continue;
            if (c == '\n') {
                out += "  " + line + "\n";
                line.clear();
            } else {
                line += c;
            }
        }
        if (!line.empty()) out += "  " + line + "\n";
    }

    out += "\nRegistry (Device Parameters keys):\n";
    if (report.parameterKeys.empty()) out += "  (no sensor instance keys)\n";
    for (const ParameterKey& key : report.parameterKeys) {
        out += "  HKLM\\" + key.path + "\n";
        if (key.values.empty()) out += "    (no values)\n";
        for (const auto& [name, value] : key.values) {
            char head[64];
            std::snprintf(head, sizeof head, "    %-10s %-10s ", emu::Narrow(name).c_str(),
                          TypeName(value.type).c_str());
            out += head + ValueText(value) + "\n";
        }
    }
    return out;
}

std::string JsonReport(const Report& report) {
    using nlohmann::ordered_json;
    ordered_json root;
    root["description"] = report.description ? ordered_json(*report.description) : ordered_json(nullptr);
    root["outcome"] = report.outcome == Outcome::Published    ? "published"
                      : report.outcome == Outcome::GaveUp     ? "gave-up"
                      : report.outcome == Outcome::NotStarted ? "not-started"
                                                              : "stopped-early";
    root["published"] = report.outcome == Outcome::Published;
    root["attempts"] = report.attempts.size();
    root["simulatedMs"] = report.endMs;
    root["statusReports"] = ordered_json::array();
    for (const emu::StatusReport& status : report.statusReports)
        root["statusReports"].push_back({{"timeMs", status.timeMs},
                                         {"state", emu::StateName(status.status.dwCurrentState)},
                                         {"checkPoint", status.status.dwCheckPoint},
                                         {"win32ExitCode", status.status.dwWin32ExitCode}});
    root["events"] = ordered_json::array();
    for (const emu::EventEntry& event : report.events) {
        ordered_json strings = ordered_json::array();
        for (const emu::String& text : event.strings) strings.push_back(emu::Narrow(text));
        root["events"].push_back({{"timeMs", event.timeMs},
                                  {"type", EventTypeName(event.type)},
                                  {"source", emu::Narrow(event.source)},
                                  {"category", event.category},
                                  {"id", event.id},
                                  {"strings", strings}});
    }
    root["textLog"] = report.logExists ? ordered_json(report.logText) : ordered_json(nullptr);
    root["registry"] = ordered_json::array();
    for (const ParameterKey& key : report.parameterKeys) {
        ordered_json values = ordered_json::object();
        for (const auto& [name, value] : key.values) {
            ordered_json entry = {{"type", TypeName(value.type)}};
            if (value.type == REG_DWORD && value.data.size() == 4)
                entry["data"] = Dword(value.data);
            else if (value.type == REG_SZ)
                entry["data"] = StringData(value.data);
            else
                entry["data"] = HexBytes(value.data, " ");
            values[emu::Narrow(name)] = entry;
        }
        root["registry"].push_back({{"key", "HKEY_LOCAL_MACHINE\\" + key.path}, {"values", values}});
    }
    return root.dump(2) + "\n";
}

std::string RegFile(const Report& report) {
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    for (const ParameterKey& key : report.parameterKeys) {
        if (key.values.empty()) continue;
        text += "\r\n[HKEY_LOCAL_MACHINE\\" + key.path + "]\r\n";
        for (const auto& [name, value] : key.values) {
            std::string line = "\"" + emu::Narrow(name) + "\"=";
            if (value.type == REG_DWORD && value.data.size() == 4) {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", Dword(value.data));
                line += digits;
            } else if (value.type == REG_SZ) {
                line += "\"";
                for (char c : StringData(value.data)) {
                    if (c == '\\' || c == '"') line += '\\';
                    line += c;
                }
                line += "\"";
            } else {
                char prefix[16];
                std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
                line += prefix + HexBytes(value.data, ",");
            }
            text += line + "\r\n";
        }
    }
    text += "\r\n";
    const emu::String wide = emu::Wide(text);
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

}  // namespace sim
