// Fuzz target: the four firmware variables, any bytes of any length, read and published
// by the calibration service as its worker does, on a machine with the sensor's keys;
// one or two attempts. Failing calls are the fault sweep's: it fails each one in turn.
//
// Input: a layout byte (bit 0: the model; bits 1-2: 0-3 instances; bit 3: the last
// instance lacks its Device Parameters key; bit 4: a second attempt follows), then for
// each attempt the four variables CALIBRATE, ALR_CURVE, ALS_CS, ALS_FLAG, each a length
// byte (255: absent) and that many bytes.
//
// Checked by properties, with no second decoder; each check's message names what it checks.
#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "calibration/firmware_variables.h"
#include "calibration/published_values.h"
#include "calibration/sample_service.h"
#include "calibration/sensor_model.h"
#include "calibration/text_log.h"
#include "platform/emulation/emulation.h"
#include "platform/registry.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/sweep/sweep.h"

namespace {

using fuzz::Broken;
using fuzz::Check;

constexpr size_t variables = std::size(calibrationVariables);
using Firmware = std::array<std::optional<emu::Bytes>, variables>;
constexpr size_t exactSizes[variables] = {4, 40, 4, 1};
enum { calibrate, alrCurve };  // as calibrationVariables orders them

DWORD Word(const emu::Bytes& bytes, size_t at) { return bytes[at] | DWORD{bytes[at + 1]} << 8; }

void CheckRecord(const Firmware& firmware, const bool (&read)[variables]) {
    const CalibrationRecord& r = CalibrationParameters;
    if (read[calibrate])
        Check(r.sourceLux == Word(*firmware[calibrate], 0) && r.sensorLux == Word(*firmware[calibrate], 2),
              "record: the lux are not CALIBRATE's two words");
    Check(r.changeSensitivity >= 1 && r.changeSensitivity <= 100, "record: ALS_CS out of 1..100");
    const size_t length = std::char_traits<char16_t>::length(r.alrText);
    Check(length < std::size(r.alrText), "record: ALR text unterminated");
    const std::string text = emu::Narrow(std::u16string_view(r.alrText, length));
    std::vector<DWORD> numbers;
    for (const char *at = text.data(), *end = at + text.size(); at != end;) {
        DWORD number = 0;
        const auto [next, error] = std::from_chars(at, end, number);
        // As "%lu" prints a word: digits alone, no leading zero; then a comma and more.
        if (error != std::errc() || number > 0xFFFF || std::to_string(number) != std::string(at, next) ||
            (next != end && (*next != ',' || next + 1 == end)))
            Broken("record: ALR text '" + text + "' not digits and single commas");
        numbers.push_back(number);
        at = next == end ? end : next + 1;
    }
    Check(numbers.size() % 2 == 0 && numbers.size() <= 20, "record: ALR text not pairs, at most ten");
    if (!read[alrCurve]) return;
    const emu::Bytes& curve = *firmware[alrCurve];
    for (size_t i = 0; i < numbers.size(); ++i)
        Check(numbers[i] == Word(curve, 2 * i), "record: ALR text not the curve's words");
    if (numbers.size() < 20)
        Check(Word(curve, 2 * numbers.size()) == 0xFFFF && Word(curve, 2 * numbers.size() + 2) == 0xFFFF,
              "record: ALR text ends before the curve's end mark");
}

// Each instance holds the record's five values (the curve once read), nothing else, and
// "published" means the four counted ones reached every instance.
void CheckPublication(const std::vector<emu::String>& keys, bool published) {
    const CalibrationRecord& r = CalibrationParameters;
    const std::pair<emu::String, emu::RegistryValue> values[] = {
        {sourceLuxValue, {REG_DWORD, emu::DwordBytes(r.sourceLux)}},
        {sensorLuxValue, {REG_DWORD, emu::DwordBytes(r.sensorLux)}},
        {alrCurveValue, {REG_SZ, emu::StringBytes(r.alrText)}},
        {changeSensitivityValue, {REG_DWORD, emu::DwordBytes(r.changeSensitivity)}},
        {alsFlagValue, {REG_DWORD, emu::DwordBytes(r.alsFlag)}}};
    for (size_t i = 0; i < keys.size(); ++i) {
        Check(emu::Values(keys[i]).size() <= 5, "publication: values other than the five");
        for (const auto& [name, value] : values) {
            const auto stored = emu::GetValue(keys[i], name);
            const std::string what = emu::Narrow(name) + " of instance " + std::to_string(i);
            if (!stored && (name != alrCurveValue || CalibrationParameters.alrPresent))
                Broken("publication: " + what + " not written");
            if (stored && (stored->type != value.type || stored->data != value.data))
                Broken("publication: " + what + " is not the record's");
        }
    }
    if (published != (CalibrationParameters.alrPresent && !keys.empty()))
        Broken("publication result: " + std::string(published ? "published" : "not published"));
}

Firmware ReadFirmware(fuzz::Input& input) {
    Firmware firmware;
    for (auto& variable : firmware)
        if (const uint8_t length = input.Byte(); length != 0xFF) variable = input.Bytes(length);
    return firmware;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Everything process-wide as at process start, so that inputs do not depend on each other.
    emu::Reset();
    CalibrationParameters = CalibrationRecord{};
    retryCount = 0;
    std::memset(logMessage, 0, sizeof logMessage);
    std::memset(logScratch, 0, sizeof logScratch);

    fuzz::Input input(data, size);
    const uint8_t layout = input.Byte();
    SensorModel = layout & 1;
    const unsigned instances = (layout >> 1) & 3;
    const std::u16string base = sensorModels[SensorModel].registryBaseKey;
    std::vector<emu::String> keys;  // the Device Parameters keys, in the order they are published
    emu::CreateKey(base);
    for (unsigned i = 0; i < instances; ++i) {
        const emu::String instance = base + u"INST" + emu::Wide(std::to_string(i)) + u"&0";
        if ((layout & 8) && i + 1 == instances) {
            emu::CreateKey(instance);  // without its Device Parameters
        } else {
            keys.push_back(instance + u"\\Device Parameters");
            emu::CreateKey(keys.back());
        }
    }
    std::vector<Firmware> attempts = {ReadFirmware(input)};
    if (layout & 16) attempts.push_back(ReadFirmware(input));

    {
        CSampleService service;
        const size_t serviceHandles = emu::OpenHandleCount();  // its stopped event
        for (const Firmware& firmware : attempts) {
            for (size_t v = 0; v < variables; ++v) {
                if (firmware[v])
                    emu::SetFirmwareVariable(calibrationVariables[v], calibrationVendorGuid, *firmware[v]);
                else
                    emu::RemoveFirmwareVariable(calibrationVariables[v], calibrationVendorGuid);
            }
            bool read[variables] = {};
            const std::function<bool()> readers[variables] = {
                ReadCalibrate, [&] { return service.ReadAlrCurve(); }, ReadChangeSensitivity, ReadAlsFlag};
            // As the worker's attempt: the other reads and the publication only after CALIBRATE.
            for (size_t v = 0; v < variables && (v == 0 || read[calibrate]); ++v) {
                const CalibrationRecord earlier = CalibrationParameters;
                const bool fits = firmware[v] && firmware[v]->size() == exactSizes[v];
                read[v] = readers[v]();
                const std::string name = emu::Narrow(calibrationVariables[v]);
                Check(emu::OpenHandleCount() == serviceHandles, "handle left open by a read");
                if (read[v] != fits)
                    Broken("read of " + name + (fits ? " failed" : " of the wrong length succeeded"));
                if (!read[v] && std::memcmp(&earlier, &CalibrationParameters, sizeof earlier) != 0)
                    Broken("failed read of " + name + " changed the record");
            }
            CheckRecord(firmware, read);
            if (read[calibrate]) {
                const bool published = service.PublishParameters();
                Check(emu::OpenHandleCount() == serviceHandles, "handle left open by the publication");
                CheckPublication(keys, published);
            }
            if (emu::FileExists(logFilePath)) {
                const std::string problem = sweep::CheckLog(emu::FileBytes(logFilePath));
                if (!problem.empty()) Broken("text log: " + problem);
            }
        }
    }
    Check(emu::OpenHandleCount() == 0, "handle left open by the service object");
    return 0;
}
