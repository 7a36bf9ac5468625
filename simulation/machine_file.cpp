#include "simulation/machine_file.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "calibration/firmware_variables.h"
#include "service/service_identity.h"
#include "simulation/typical_machine.h"

namespace sim {

namespace {

using nlohmann::json;

// Where a JSON parse error stands, as line:column.
std::string Position(const std::string& text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

class Reader {
public:
    explicit Reader(std::string fileName) : fileName_(std::move(fileName)) {}

    [[noreturn]] void Fail(const std::string& place, const std::string& what) const {
        throw MachineFileError(fileName_ + ": " + (place.empty() ? "/" : place) + ": " + what);
    }

    const json& Expect(const json& value, json::value_t type, const char* name,
                       const std::string& place) const {
        const bool ok =
            type == json::value_t::number_unsigned ? value.is_number_unsigned() : value.type() == type;
        if (!ok) Fail(place, std::string("expected ") + name + ", found " + value.type_name());
        return value;
    }

    bool Boolean(const json& value, const std::string& place) const {
        return Expect(value, json::value_t::boolean, "true or false", place).get<bool>();
    }

    std::string String(const json& value, const std::string& place) const {
        return Expect(value, json::value_t::string, "a string", place).get<std::string>();
    }

    unsigned long long Unsigned(const json& value, const std::string& place,
                                unsigned long long maximum) const {
        const auto number =
            Expect(value, json::value_t::number_unsigned, "a whole number", place).get<unsigned long long>();
        if (number > maximum) Fail(place, "must be at most " + std::to_string(maximum));
        return number;
    }

    emu::Bytes Hex(const json& value, const std::string& place) const {
        const std::string text = String(value, place);
        emu::Bytes bytes;
        std::string digits;
        auto flush = [&] {
            if (digits.empty()) return;
            if (digits.size() % 2 != 0) Fail(place, "'" + digits + "' is not a whole number of hex bytes");
            for (size_t i = 0; i < digits.size(); i += 2)
                bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
            digits.clear();
        };
        for (char c : text) {
            if (std::isxdigit(static_cast<unsigned char>(c))) {
                digits += c;
            } else if (c == ' ' || c == ',' || c == '\t' || c == '\n') {
                flush();
            } else {
                Fail(place, std::string("'") + c + "' is not a hex digit");
            }
        }
        flush();
        return bytes;
    }

    void OnlyFields(const json& object, std::initializer_list<const char*> fields,
                    const std::string& place) const {
        for (const auto& [key, value] : object.items()) {
            bool known = false;
            for (const char* field : fields) known = known || key == field;
            if (!known) Fail(place + "/" + key, "unknown field");
        }
    }

private:
    std::string fileName_;
};

}  // namespace

MachineDescription ParseMachine(const std::string& text, const std::string& fileName) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& error) {
        std::string what = error.what();
        const size_t at = what.find("syntax error");
        throw MachineFileError(fileName + ":" + Position(text, error.byte == 0 ? 0 : error.byte - 1) + ": " +
                               (at == std::string::npos ? what : what.substr(at)));
    } catch (const json::exception& error) {
        // A number too large for any field ("1e400"): the library names the token but
        // not its place, so find the token in the text.
        std::string what = error.what();
        if (const size_t end = what.find("] "); end != std::string::npos) what = what.substr(end + 2);
        std::string place;
        const size_t quote = what.find('\'');
        if (quote != std::string::npos && what.size() > quote + 2) {
            const std::string token = what.substr(quote + 1, what.size() - quote - 2);
            if (const size_t at = text.find(token); at != std::string::npos) place = ":" + Position(text, at);
        }
        throw MachineFileError(fileName + place + ": " + what);
    }
    Reader read(fileName);
    MachineDescription machine;
    read.Expect(root, json::value_t::object, "an object", "");
    read.OnlyFields(root,
                    {"description", "uefi", "privilegeHeld", "requiredPrivileges", "eventLog", "firmware",
                     "devices", "registryKeys", "faults"},
                    "");

    if (root.contains("description")) machine.description = read.String(root["description"], "/description");
    if (root.contains("uefi")) machine.uefi = read.Boolean(root["uefi"], "/uefi");
    if (root.contains("privilegeHeld"))
        machine.privilegeHeld = read.Boolean(root["privilegeHeld"], "/privilegeHeld");
    if (root.contains("eventLog")) machine.eventLog = read.Boolean(root["eventLog"], "/eventLog");
    if (root.contains("requiredPrivileges")) {
        const json& names =
            read.Expect(root["requiredPrivileges"], json::value_t::array, "an array", "/requiredPrivileges");
        machine.requiredPrivileges.emplace();
        for (size_t i = 0; i < names.size(); ++i)
            machine.requiredPrivileges->push_back(
                read.String(names[i], "/requiredPrivileges/" + std::to_string(i)));
    }

    if (root.contains("firmware")) {
        const json& firmware = read.Expect(root["firmware"], json::value_t::object, "an object", "/firmware");
        for (const auto& [name, value] : firmware.items())
            machine.firmware.emplace_back(name, read.Hex(value, "/firmware/" + name));
    }

    if (root.contains("devices")) {
        const json& devices = read.Expect(root["devices"], json::value_t::array, "an array", "/devices");
        for (size_t i = 0; i < devices.size(); ++i) {
            const std::string place = "/devices/" + std::to_string(i);
            const json& device = read.Expect(devices[i], json::value_t::object, "an object", place);
            read.OnlyFields(device, {"hardwareIds", "hardwareIdBytes"}, place);
            if (device.contains("hardwareIds") && device.contains("hardwareIdBytes"))
                read.Fail(place, "give hardwareIds or hardwareIdBytes, not both");
            if (device.contains("hardwareIds")) {
                const json& ids = read.Expect(device["hardwareIds"], json::value_t::array, "an array",
                                              place + "/hardwareIds");
                std::vector<emu::String> strings;
                for (size_t j = 0; j < ids.size(); ++j)
                    strings.push_back(
                        emu::Wide(read.String(ids[j], place + "/hardwareIds/" + std::to_string(j))));
                machine.devices.emplace_back(emu::MultiString(strings));
            } else if (device.contains("hardwareIdBytes")) {
                machine.devices.emplace_back(read.Hex(device["hardwareIdBytes"], place + "/hardwareIdBytes"));
            } else {
                machine.devices.emplace_back(std::nullopt);
            }
        }
    }

    if (root.contains("registryKeys")) {
        const json& keys =
            read.Expect(root["registryKeys"], json::value_t::array, "an array", "/registryKeys");
        for (size_t i = 0; i < keys.size(); ++i)
            machine.registryKeys.push_back(read.String(keys[i], "/registryKeys/" + std::to_string(i)));
    }

    if (root.contains("faults")) {
        const json& faults = read.Expect(root["faults"], json::value_t::array, "an array", "/faults");
        for (size_t i = 0; i < faults.size(); ++i) {
            const std::string place = "/faults/" + std::to_string(i);
            const json& entry = read.Expect(faults[i], json::value_t::object, "an object", place);
            read.OnlyFields(entry, {"operation", "error", "argument", "call", "times"}, place);
            if (!entry.contains("operation")) read.Fail(place, "missing field 'operation'");
            if (!entry.contains("error")) read.Fail(place, "missing field 'error'");
            FaultDescription fault;
            fault.operation = read.String(entry["operation"], place + "/operation");
            if (!emu::IsKnownOperation(fault.operation))
                read.Fail(place + "/operation", "unknown operation '" + fault.operation + "'");
            fault.error = static_cast<DWORD>(read.Unsigned(entry["error"], place + "/error", 0xFFFFFFFFULL));
            if (entry.contains("argument"))
                fault.argument = read.String(entry["argument"], place + "/argument");
            if (entry.contains("call")) {
                fault.call = static_cast<unsigned>(read.Unsigned(entry["call"], place + "/call", 1000000));
                if (fault.call == 0) read.Fail(place + "/call", "calls are counted from 1");
            }
            if (entry.contains("times"))
                fault.times = static_cast<unsigned>(read.Unsigned(entry["times"], place + "/times", 1000000));
            machine.faults.push_back(fault);
        }
    }
    return machine;
}

MachineDescription ReadMachineFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw MachineFileError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMachine(text.str(), path);
}

MachineDescription DefaultMachine() { return ParseMachine(typicalMachineJson, "examples/typical.json"); }

void ReadEfivars(MachineDescription& machine, const std::string& directory) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(directory, error)) throw MachineFileError(directory + ": not a directory");
    std::string guid = emu::Narrow(calibrationVendorGuid);
    guid = guid.substr(1, guid.size() - 2);  // without its braces
    for (char& c : guid) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    machine.firmware.clear();
    for (const WCHAR* variable : calibrationVariables) {
        const std::string name = emu::Narrow(variable);
        const fs::path file = fs::path(directory) / (name + "-" + guid);
        const fs::file_status status = fs::status(file, error);
        if (status.type() == fs::file_type::not_found) {
            if (fs::is_symlink(fs::symlink_status(file, error)))
                throw MachineFileError(file.string() + ": cannot be read");  // a link to nothing
            continue;  // absent there, absent for the run
        }
        if (status.type() != fs::file_type::regular) throw MachineFileError(file.string() + ": not a file");
        emu::Bytes bytes;
        try {
            std::ifstream in(file, std::ios::binary);
            if (!in) throw MachineFileError(file.string() + ": cannot be read");
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) throw MachineFileError(file.string() + ": cannot be read");
        } catch (const std::ios_base::failure&) {
            throw MachineFileError(file.string() + ": cannot be read");
        }
        if (bytes.size() < 4) throw MachineFileError(file.string() + ": shorter than its 4 attribute bytes");
        machine.firmware.emplace_back(name, emu::Bytes(bytes.begin() + 4, bytes.end()));
    }
}

void Apply(const MachineDescription& machine) {
    emu::SetUefiPresent(machine.uefi);
    emu::SetPrivilegeHeld(machine.privilegeHeld);
    if (machine.requiredPrivileges) {
        emu::AddService(calibrationServiceName, SERVICE_STOPPED);
        std::vector<emu::String> names;
        for (const std::string& name : *machine.requiredPrivileges) names.push_back(emu::Wide(name));
        emu::SetRequiredPrivileges(calibrationServiceName, names);
    }
    emu::SetEventLogAvailable(machine.eventLog);
    for (const auto& [name, data] : machine.firmware)
        emu::SetFirmwareVariable(emu::Wide(name), calibrationVendorGuid, data);
    for (const auto& device : machine.devices) {
        if (device)
            emu::AddDevice(*device);
        else
            emu::AddDeviceWithoutHardwareId();
    }
    for (const std::string& key : machine.registryKeys) emu::CreateKey(emu::Wide(key));
    for (const FaultDescription& fault : machine.faults) {
        if (fault.argument)
            emu::FailCallsWith(fault.operation, emu::Wide(*fault.argument), fault.error);
        else
            emu::FailCall(fault.operation, fault.error, fault.call, fault.times);
    }
}

}  // namespace sim
