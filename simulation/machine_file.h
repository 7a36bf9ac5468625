// The machine a simulation runs on: firmware variables, present devices, registry
// keys, and faults, read from a JSON machine file or an efivarfs directory.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/emulation/emulation.h"

namespace sim {

struct FaultDescription {
    std::string operation;
    DWORD error = 0;
    std::optional<std::string> argument;  // every call naming it
    unsigned call = 1;                    // otherwise from this call on
    unsigned times = 0;                   // that many calls; 0 for every one
};

struct MachineDescription {
    std::optional<std::string> description;  // shown in the report, read by nothing else
    bool uefi = true;
    bool privilegeHeld = true;
    // The service's privilege list, as the service manager has it registered; none: the
    // service runs with LocalSystem's every privilege.
    std::optional<std::vector<std::string>> requiredPrivileges;
    bool eventLog = true;
    std::vector<std::pair<std::string, emu::Bytes>> firmware;  // under the calibration GUID
    std::vector<std::optional<emu::Bytes>> devices;            // hardware-ID property, if any
    std::vector<std::string> registryKeys;                     // below HKEY_LOCAL_MACHINE
    std::vector<FaultDescription> faults;
};

// A machine file that cannot be used; what() names the file, the place and the fault.
class MachineFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

MachineDescription ParseMachine(const std::string& text, const std::string& fileName);
MachineDescription ReadMachineFile(const std::string& path);
// The typical machine, examples/typical.json as built in: model 0, one instance, all
// four variables.
MachineDescription DefaultMachine();
// Replaces the firmware with the variables of the calibration GUID found in an
// efivarfs-style directory (NAME-guid files: 4 attribute bytes, then the data).
void ReadEfivars(MachineDescription& machine, const std::string& directory);

void Apply(const MachineDescription& machine);

}  // namespace sim
