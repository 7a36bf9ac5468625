// Fuzz target: the simulator's machine-file parser, on any text.
//
// Checked: the text is either parsed or rejected with sim::MachineFileError, never
// with another exception; the error names the file, then the place (a JSON pointer or
// line:column), then what is wrong; a parsed machine applies to the emulated machine
// without an exception, leaves every named registry key in place and no handle open.
#include <cctype>
#include <exception>
#include <string>

#include "platform/emulation/emulation.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/simulator/machine_file.h"

namespace {

using fuzz::Broken;
using fuzz::Check;

const std::string fileName = "fuzz.json";

// "fuzz.json: /place: what" or "fuzz.json:line:column: what".
bool IsCleanMessage(const std::string& message) {
    const std::string prefix = fileName + ":";
    if (message.rfind(prefix, 0) != 0) return false;
    const size_t placeEnd = message.find(": ", prefix.size() + 1);
    if (placeEnd == std::string::npos || placeEnd + 2 >= message.size()) return false;
    const std::string place = message.substr(prefix.size(), placeEnd - prefix.size());
    if (place.rfind(" /", 0) == 0) return true;
    const size_t colon = place.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == place.size()) return false;
    for (size_t i = 0; i < place.size(); ++i)
        if (i != colon && !std::isdigit(static_cast<unsigned char>(place[i]))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    emu::Reset();
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::MachineDescription machine;
    try {
        machine = sim::ParseMachine(text, fileName);
    } catch (const sim::MachineFileError& error) {
        if (!IsCleanMessage(error.what())) Broken(std::string("unclear machine-file error: ") + error.what());
        return 0;
    } catch (const std::exception& error) {
        Broken(std::string("machine file rejected with another exception: ") + error.what());
    } catch (...) {
        Broken("machine file rejected with something not an exception");
    }

    try {
        sim::Apply(machine);
    } catch (const std::exception& error) {
        Broken(std::string("parsed machine file does not apply: ") + error.what());
    }
    for (const std::string& key : machine.registryKeys)
        if (!emu::KeyExists(emu::Wide(key))) Broken("registry key not created: " + key);
    Check(emu::OpenHandleCount() == 0, "handle left open by applying the machine");
    return 0;
}
