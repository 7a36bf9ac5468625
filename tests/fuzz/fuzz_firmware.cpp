// Fuzz target: the four firmware variables, any bytes of any length, read and published
// by the calibration service as its worker does, on a machine with the sensor's keys;
// one or two attempts, and at times one emulated call failing.
//
// Input: a layout byte (bit 0: the model; bits 1-2: 0-3 instances; bit 3: the last
// instance lacks its Device Parameters key; bit 4: a second attempt follows), a fault
// byte (0: none; else the operation, then a byte with the call (bits 0-4, from 1) and
// "every call from then on" (bit 5), then a byte choosing the error), then for each
// attempt the four variables CALIBRATE, ALR_CURVE, ALS_CS, ALS_FLAG, each a length byte
// (255: absent) and that many bytes.
//
// Checked after every call: no handle left open. After every attempt: the record holds
// what the firmware gave (or what it held before, for a read that failed); ALS_CS in
// 1..100; the ALR text digits and single commas, at most ten pairs; every instance
// holds the record's values; "published" only when the four counted values were
// written; the text log a sequence of whole entries, each one of the service's own
// messages, and exactly the expected ones when no call was made to fail.
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "calibration/firmware_variables.h"
#include "calibration/sample_service.h"
#include "calibration/sensor_model.h"
#include "calibration/text_log.h"
#include "platform/emulation/emulation.h"
#include "platform/registry.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/log_entries.h"

namespace {

using fuzz::Broken;
using fuzz::Check;

const emu::String vendorGuid = u"{BF82486A-80F7-4733-B82C-066BD8F2534B}";
const std::string baseKeys[2] = {"SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\",
                                 "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6110\\"};

enum Variable { calibrate, alrCurve, changeSensitivity, alsFlag, variableCount };
const char16_t* const variableNames[variableCount] = {u"CALIBRATE", u"ALR_CURVE", u"ALS_CS", u"ALS_FLAG"};
const size_t exactSizes[variableCount] = {4, 40, 4, 1};
constexpr uint8_t absent = 0xFF;

// The values under one Device Parameters key.
using KeyValues = std::vector<std::pair<emu::String, emu::RegistryValue>>;

// Calls whose failure leaves no handle behind (a failed close keeps its handle counted,
// which is expected), among those the readers and the publication make.
const char* const faultOperations[] = {"OpenProcessToken",      "LookupPrivilegeValueW",
                                       "AdjustTokenPrivileges", "GetFirmwareEnvironmentVariableW",
                                       "FormatMessageW",        "LocalAlloc",
                                       "RegOpenKeyExW",         "RegQueryInfoKeyW",
                                       "RegEnumKeyExW",         "RegSetValueExW",
                                       "FindFirstFileW",        "CreateFileW",
                                       "SetFilePointer",        "WriteFile",
                                       "RegisterEventSourceW",  "ReportEventW"};
const DWORD faultErrors[] = {ERROR_ACCESS_DENIED,      ERROR_NOT_ENOUGH_MEMORY, ERROR_FILE_NOT_FOUND,
                             ERROR_ENVVAR_NOT_FOUND,   ERROR_SHARING_VIOLATION, ERROR_NO_MORE_ITEMS,
                             RPC_S_SERVER_UNAVAILABLE, ERROR_MORE_DATA,         ERROR_INVALID_DATA};

std::string Narrow(std::u16string_view text) { return emu::Narrow(text); }

// What the firmware's bytes mean, decoded here from the rules rather than by the code
// under test.
struct Expected {
    DWORD sourceLux = 1000;
    DWORD sensorLux = 1000;
    DWORD changeSensitivity = 25;
    DWORD alsFlag = 1;
    bool alrPresent = false;
    std::string alrText;
};

DWORD Word(const emu::Bytes& bytes, size_t at) { return bytes[at] | DWORD{bytes[at + 1]} << 8; }

void Decode(Variable variable, const emu::Bytes& bytes, Expected& expected) {
    switch (variable) {
        case calibrate:
            expected.sourceLux = Word(bytes, 0);
            expected.sensorLux = Word(bytes, 2);
            break;
        case alrCurve:
            expected.alrText.clear();
            for (size_t entry = 0; entry < 10; ++entry) {
                const DWORD lux = Word(bytes, entry * 4), value = Word(bytes, entry * 4 + 2);
                if (lux == 0xFFFF && value == 0xFFFF) break;
                if (entry > 0) expected.alrText += ",";
                expected.alrText += std::to_string(lux) + "," + std::to_string(value);
            }
            expected.alrPresent = true;
            break;
        case changeSensitivity:
            expected.changeSensitivity = bytes[0] == 0xFF ? 25
                                         : bytes[0] == 0  ? 1
                                         : bytes[0] > 100 ? 100
                                                          : bytes[0];
            break;
        case alsFlag: expected.alsFlag = bytes[0] == 0xFF ? 1 : bytes[0]; break;
        case variableCount: break;
    }
}

// Lux and value numbers of 0..65535, separated by single commas, at most ten pairs.
bool IsAlrText(const std::string& text) {
    if (text.empty()) return true;
    size_t numbers = 0;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        const std::string number =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!fuzz::IsDecimal(number, 0xFFFF)) return false;
        ++numbers;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return numbers % 2 == 0 && numbers <= 20;
}

// ---- The text log ------------------------------------------------------------------

// The messages of the log's entries; breaks unless the file is made of whole entries.
std::vector<std::string> LogMessages() {
    if (!emu::FileExists(logFilePath)) return {};
    const logentries::Entries entries = logentries::Read(emu::FileBytes(logFilePath));
    if (!entries.fault.empty()) Broken("text log: " + entries.fault);
    std::vector<std::string> messages;
    for (const std::u16string& message : entries.messages) messages.push_back(Narrow(message));
    return messages;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const char* const alrFailure = "Error to Retrieve ALR Curve! ErrorCode: ";

// Whether `message` is one that the readers or the publication write.
bool IsServiceMessage(const std::string& message, const std::string& baseKey) {
    for (const char* exact : {"Fail to set Source Lux!", "Fail to set Sensor Lux!", "Fail to set ALR Table!",
                              "Fail to set Change Sensitivity!", "Fail to set Sensor Range!",
                              "Fail to query registry information.\r\n", "Fail to enumerate subkeys.\r\n"})
        if (message == exact) return true;
    if (message == "Fail to open registry subkey - " + baseKey + "\r\n") return true;
    if (!EndsWith(message, "\r\n")) return false;
    const std::string line = message.substr(0, message.size() - 2);
    for (const char* label : {"SOURCE LUX: ", "SENSOR LUX: ", "CHANGE SENSITIVITY: ", "ALS FLAG: "})
        if (StartsWith(line, label)) return fuzz::IsDecimal(line.substr(std::strlen(label)), 0xFFFFFFFF);
    if (StartsWith(line, "ALR Table: ")) return IsAlrText(line.substr(std::strlen("ALR Table: ")));
    const std::string keyPrefix = "Fail to open " + baseKey, keySuffix = "\\Device Parameters";
    if (StartsWith(line, keyPrefix) && EndsWith(line, keySuffix)) {
        const std::string instance =
            line.substr(keyPrefix.size(), line.size() - keyPrefix.size() - keySuffix.size());
        return !instance.empty() && instance.find('\\') == std::string::npos;
    }
    if (StartsWith(line, alrFailure)) {
        const std::string rest = line.substr(std::strlen(alrFailure));
        const size_t colon = rest.find(": ");
        return colon != std::string::npos && fuzz::IsDecimal(rest.substr(0, colon), 0xFFFFFFFF) &&
               rest.size() > colon + 2;
    }
    return false;
}

// ---- One case ------------------------------------------------------------------------

struct Firmware {
    std::optional<emu::Bytes> variables[variableCount];
};

Firmware ReadFirmware(fuzz::Input& input) {
    Firmware firmware;
    for (auto& variable : firmware.variables) {
        const uint8_t length = input.Byte();
        if (length != absent) variable = input.Bytes(length);
    }
    return firmware;
}

class Case {
public:
    explicit Case(fuzz::Input& input) {
        const uint8_t layout = input.Byte();
        model_ = layout & 1;
        const unsigned instances = (layout >> 1) & 3;
        const bool lastWithoutParameters = (layout & 8) != 0 && instances > 0;
        const bool secondAttempt = (layout & 16) != 0;
        baseKey_ = baseKeys[model_];

        emu::CreateKey(emu::Wide(baseKey_));
        for (unsigned i = 0; i < instances; ++i) {
            const std::string instance = "INST" + std::to_string(i) + "&0";
            if (lastWithoutParameters && i + 1 == instances) {
                emu::CreateKey(emu::Wide(baseKey_ + instance));
                missingParameters_ = baseKey_ + instance + "\\Device Parameters";
            } else {
                parameterKeys_.push_back(baseKey_ + instance + "\\Device Parameters");
                emu::CreateKey(emu::Wide(parameterKeys_.back()));
            }
        }

        if (const uint8_t fault = input.Byte(); fault != 0) {
            const uint8_t call = input.Byte();
            const char* operation = faultOperations[(fault - 1) % std::size(faultOperations)];
            emu::FailCall(operation, faultErrors[input.Byte() % std::size(faultErrors)], (call & 31) + 1,
                          (call & 32) ? 0 : 1);
            faulted_ = true;
        }

        attempts_.push_back(ReadFirmware(input));
        if (secondAttempt) attempts_.push_back(ReadFirmware(input));
    }

    void Run() {
        SensorModel = model_;
        CSampleService service;
        const size_t serviceHandles = emu::OpenHandleCount();  // its stopped event
        auto handlesClosed = [&](const char* after) {
            if (emu::OpenHandleCount() != serviceHandles) Broken(std::string("handle left open by ") + after);
        };

        for (const Firmware& firmware : attempts_) {
            for (int v = 0; v < variableCount; ++v) {
                if (firmware.variables[v])
                    emu::SetFirmwareVariable(variableNames[v], vendorGuid, *firmware.variables[v]);
                else
                    emu::RemoveFirmwareVariable(variableNames[v], vendorGuid);
            }
            const std::vector<KeyValues> before = RegistryValues();
            const size_t earlierEntries = LogMessages().size();
            std::vector<std::string> expectedLog;

            // As the worker's attempt: the other reads and the publication only after CALIBRATE.
            const bool calibrated = Read(calibrate, firmware, [] { return ReadCalibrate(); });
            handlesClosed("ReadCalibrate");
            if (calibrated) {
                if (!Read(alrCurve, firmware, [&] { return service.ReadAlrCurve(); }))
                    expectedLog.push_back(alrFailure);
                handlesClosed("ReadAlrCurve");
                Read(changeSensitivity, firmware, [] { return ReadChangeSensitivity(); });
                handlesClosed("ReadChangeSensitivity");
                Read(alsFlag, firmware, [] { return ReadAlsFlag(); });
                handlesClosed("ReadAlsFlag");
            }
            CheckRecord();
            if (calibrated) {
                const bool published = service.PublishParameters();
                handlesClosed("PublishParameters");
                CheckPublication(published, before);
                ExpectPublicationLog(expectedLog);
            }
            CheckLog(earlierEntries, expectedLog);
        }
    }

private:
    template <typename Reader>
    bool Read(Variable variable, const Firmware& firmware, Reader read) {
        const std::optional<emu::Bytes>& stored = firmware.variables[variable];
        const bool fits = stored && stored->size() == exactSizes[variable];
        const bool result = read();
        // A failing call can turn a good read into a failed one, never the other way.
        if (result && !fits)
            Broken("read of " + Narrow(variableNames[variable]) + " of the wrong length succeeded");
        if (!result && fits && !faulted_) Broken("read of " + Narrow(variableNames[variable]) + " failed");
        if (result) Decode(variable, *stored, expected_);
        return result;
    }

    void CheckRecord() const {
        const CalibrationRecord& r = CalibrationParameters;
        Check(r.sourceLux == expected_.sourceLux && r.sensorLux == expected_.sensorLux, "record: lux");
        Check(r.changeSensitivity == expected_.changeSensitivity, "record: change sensitivity");
        Check(r.changeSensitivity >= 1 && r.changeSensitivity <= 100,
              "record: change sensitivity out of 1..100");
        Check(r.alsFlag == expected_.alsFlag, "record: ALS flag");
        Check((r.alrPresent == 1) == expected_.alrPresent, "record: ALR present");
        const size_t length = std::char_traits<char16_t>::length(r.alrText);
        Check(length < std::size(r.alrText), "record: ALR text unterminated");
        const std::string text = Narrow(std::u16string_view(r.alrText, length));
        Check(IsAlrText(text), "record: ALR text not digits and single commas, at most ten pairs");
        if (text != expected_.alrText)
            Broken("record: ALR text '" + text + "', expected '" + expected_.alrText + "'");
    }

    std::vector<KeyValues> RegistryValues() const {
        std::vector<KeyValues> values;
        for (const std::string& key : parameterKeys_) values.push_back(emu::Values(emu::Wide(key)));
        return values;
    }

    void CheckPublication(bool published, const std::vector<KeyValues>& before) const {
        const struct {
            const char16_t* name;
            bool counted;
            std::optional<emu::RegistryValue> value;
        } values[] = {
            {u"ALS_SRC", true, emu::RegistryValue{REG_DWORD, emu::DwordBytes(expected_.sourceLux)}},
            {u"ALS_CAL", true, emu::RegistryValue{REG_DWORD, emu::DwordBytes(expected_.sensorLux)}},
            {u"ALR_CURVE", true,
             expected_.alrPresent
                 ? std::optional(emu::RegistryValue{REG_SZ, emu::StringBytes(emu::Wide(expected_.alrText))})
                 : std::nullopt},
            {u"ALS_CS", true, emu::RegistryValue{REG_DWORD, emu::DwordBytes(expected_.changeSensitivity)}},
            {u"ALS_FLAG", false, emu::RegistryValue{REG_DWORD, emu::DwordBytes(expected_.alsFlag)}},
        };
        auto same = [](const std::optional<emu::RegistryValue>& a,
                       const std::optional<emu::RegistryValue>& b) {
            return a.has_value() == b.has_value() && (!a || (a->type == b->type && a->data == b->data));
        };
        auto find = [](const KeyValues& in, const char16_t* name) {
            for (const auto& [existing, value] : in)
                if (existing == name) return std::optional(value);
            return std::optional<emu::RegistryValue>();
        };

        bool counted[std::size(values)] = {};
        for (size_t k = 0; k < parameterKeys_.size(); ++k) {
            const auto now = emu::Values(emu::Wide(parameterKeys_[k]));
            Check(now.size() <= std::size(values), "publication: values other than the five");
            for (size_t v = 0; v < std::size(values); ++v) {
                const std::optional<emu::RegistryValue> value = find(now, values[v].name);
                const std::string name = Narrow(values[v].name) + " under " + parameterKeys_[k];
                if (value && values[v].name == std::u16string_view(u"ALS_CS")) {
                    Check(value->type == REG_DWORD && value->data.size() == 4,
                          "ALS_CS published not as a DWORD");
                    const DWORD cs = Word(value->data, 0) | Word(value->data, 2) << 16;
                    if (cs < 1 || cs > 100) Broken("ALS_CS published out of 1..100: " + std::to_string(cs));
                }
                if (value && value->type == REG_SZ) {
                    const emu::Bytes& data = value->data;
                    Check(data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 &&
                              data[data.size() - 2] == 0,
                          "ALR_CURVE published without its terminator");
                    std::u16string text;
                    for (size_t i = 0; i + 2 < data.size(); i += 2)
                        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
                    Check(IsAlrText(Narrow(text)),
                          "ALR_CURVE published not digits and single commas, at most ten pairs");
                }
                if (same(value, values[v].value)) {
                    counted[v] = counted[v] || value.has_value();
                    continue;
                }
                // Only a call made to fail may leave a value as it was.
                if (!faulted_ || !same(value, find(before[k], values[v].name)))
                    Broken("publication: " + name + " differs from the firmware");
            }
        }
        const bool complete = counted[0] && counted[1] && counted[2] && counted[3];
        if (published && !complete) Broken("published without the four counted values");
        if (!faulted_ && published != (expected_.alrPresent && !parameterKeys_.empty()))
            Broken(std::string("publication result ") + (published ? "true" : "false") +
                   " on a sound machine");
    }

    void ExpectPublicationLog(std::vector<std::string>& log) const {
        if (parameterKeys_.empty() && missingParameters_.empty()) {
            log.push_back("Fail to query registry information.\r\n");
            return;
        }
        for (size_t k = 0; k < parameterKeys_.size(); ++k) {
            log.push_back("SOURCE LUX: " + std::to_string(expected_.sourceLux) + "\r\n");
            log.push_back("SENSOR LUX: " + std::to_string(expected_.sensorLux) + "\r\n");
            if (expected_.alrPresent) log.push_back("ALR Table: " + expected_.alrText + "\r\n");
            log.push_back("CHANGE SENSITIVITY: " + std::to_string(expected_.changeSensitivity) + "\r\n");
            log.push_back("ALS FLAG: " + std::to_string(expected_.alsFlag) + "\r\n");
        }
        if (!missingParameters_.empty()) log.push_back("Fail to open " + missingParameters_ + "\r\n");
    }

    void CheckLog(size_t earlierEntries, const std::vector<std::string>& expected) const {
        const std::vector<std::string> messages = LogMessages();
        for (const std::string& message : messages)
            if (!IsServiceMessage(message, baseKey_)) Broken("text log entry '" + message + "'");
        if (faulted_) return;
        Check(messages.size() == earlierEntries + expected.size(),
              "text log: not the expected number of entries");
        for (size_t i = 0; i < expected.size(); ++i) {
            const std::string& message = messages[earlierEntries + i];
            const bool matches =
                expected[i] == alrFailure ? StartsWith(message, alrFailure) : message == expected[i];
            if (!matches) Broken("text log entry '" + message + "', expected '" + expected[i] + "'");
        }
    }

    BYTE model_ = 0;
    std::string baseKey_;
    std::vector<std::string> parameterKeys_;  // in the order the publication visits them
    std::string missingParameters_;
    bool faulted_ = false;
    std::vector<Firmware> attempts_;
    Expected expected_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Everything process-wide as at process start, so that inputs do not depend on each other.
    emu::Reset();
    CalibrationParameters = CalibrationRecord{};
    SensorModel = 0;
    retryCount = 0;
    std::memset(logMessage, 0, sizeof logMessage);
    std::memset(logScratch, 0, sizeof logScratch);

    fuzz::Input input(data, size);
    Case(input).Run();
    Check(emu::OpenHandleCount() == 0, "handle left open by the service object");
    return 0;
}
