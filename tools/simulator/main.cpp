// noxel-als-sim: runs the real service code, unchanged, on an emulated machine and
// tells what it did.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "calibration/firmware_variables.h"
#include "simulation/machine_file.h"
#include "simulation/run.h"
#include "tools/simulator/html_report.h"
#include "tools/simulator/report.h"

namespace {

const char* const usage =
    "Usage: noxel-als-sim [MACHINE.json] [options]\n"
    "\n"
    "Runs the Noxel ALS calibration service through its life on an emulated machine:\n"
    "started as by the service manager, the worker's attempts, then a stop. Without a\n"
    "machine file it runs the typical machine, examples/typical.json as built in:\n"
    "model 0, one instance, all four firmware variables.\n"
    "\n"
    "Options:\n"
    "  --efivars DIR         take the firmware variables from an efivarfs directory\n"
    "                        (NAME-guid files, such as /sys/firmware/efi/efivars); a\n"
    "                        variable absent there is absent for the run\n"
    "  --json                print the report as JSON\n"
    "  --reg FILE            write the resulting registry values as a .reg file\n"
    "  --html FILE           write the report as one self-contained HTML page too, with\n"
    "                        the ALR curve plotted and the service's life on a timeline\n"
    "  --stop-after SECONDS  send the stop at this (simulated) time\n"
    "  --shutdown            send a shutdown instead of a stop\n"
    "  --realtime            run on the real clock, printing each attempt as it happens\n"
    "  --help                show this text\n"
    "\n"
    "Machine file (JSON): {\"description\": \"shown atop the report\",\n"
    "  \"uefi\": true, \"privilegeHeld\": true, \"eventLog\": true,\n"
    "  \"requiredPrivileges\": [\"SeSystemEnvironmentPrivilege\"],\n"
    "  \"firmware\": {\"CALIBRATE\": \"e8 03 2c 01\", ...},\n"
    "  \"devices\": [{\"hardwareIds\": [\"ACPI\\\\VEN_NOXL&DEV_6120\"]}, {\"hardwareIdBytes\": \"41 00\"}, "
    "{}],\n"
    "  \"registryKeys\": [\"SYSTEM\\\\CurrentControlSet\\\\Enum\\\\ACPI\\\\NOXL6120\\\\1\\\\Device "
    "Parameters\"],\n"
    "  \"faults\": [{\"operation\": \"RegSetValueExW\", \"error\": 5, \"argument\": \"ALS_FLAG\"},\n"
    "             {\"operation\": \"QueueUserWorkItem\", \"error\": 8, \"call\": 1, \"times\": 1}]}\n"
    "\n"
    "Exit codes: 0 published, 1 not published, 2 bad input or usage.\n";

int UsageError(const std::string& message) {
    std::cerr << "noxel-als-sim: " << message << "\nTry 'noxel-als-sim --help'.\n";
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string machinePath, efivars, regPath, htmlPath;
    bool json = false;
    sim::RunOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](const char* option) -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(std::string(option) + " needs a value");
            return argv[++i];
        };
        try {
            if (argument == "--help" || argument == "-h") {
                std::cout << usage;
                return 0;
            } else if (argument == "--json") {
                json = true;
            } else if (argument == "--shutdown") {
                options.shutdown = true;
            } else if (argument == "--realtime") {
                options.realtime = true;
            } else if (argument == "--efivars") {
                efivars = value("--efivars");
            } else if (argument == "--reg") {
                regPath = value("--reg");
            } else if (argument == "--html") {
                htmlPath = value("--html");
            } else if (argument == "--stop-after") {
                const std::string seconds = value("--stop-after");
                char* end = nullptr;
                const double parsed = std::strtod(seconds.c_str(), &end);
                if (seconds.empty() || *end != 0 || !(parsed >= 0) || parsed > 1e7)
                    return UsageError("--stop-after takes a number of seconds, not '" + seconds + "'");
                options.stopAfterMs = static_cast<uint64_t>(parsed * 1000 + 0.5);
            } else if (!argument.empty() && argument[0] == '-') {
                return UsageError("unknown option '" + argument + "'");
            } else if (machinePath.empty()) {
                machinePath = argument;
            } else {
                return UsageError("one machine file at most");
            }
        } catch (const std::invalid_argument& error) {
            return UsageError(error.what());
        }
    }

    sim::MachineDescription machine;
    try {
        machine = machinePath.empty() ? sim::DefaultMachine() : sim::ReadMachineFile(machinePath);
        if (!efivars.empty()) sim::ReadEfivars(machine, efivars);
    } catch (const sim::MachineFileError& error) {
        std::cerr << "noxel-als-sim: " << error.what() << "\n";
        return 2;
    }

    emu::Reset();
    sim::Apply(machine);
    if (options.realtime) {
        options.onFirmwareRead = [](const emu::FirmwareRead& read) {
            if (read.name != calibrateVariable) return;
            std::fprintf(stderr, "[%llu.%03llu s] attempt: %s %s\n",
                         static_cast<unsigned long long>(read.timeMs / 1000),
                         static_cast<unsigned long long>(read.timeMs % 1000),
                         emu::Narrow(calibrateVariable).c_str(),
                         read.bytes ? "read" : ("not read, error " + std::to_string(read.error)).c_str());
        };
    }
    sim::WorkerEnd workerEnd;
    sim::RunServiceProcess(options, &workerEnd);
    const sim::Report report = sim::CollectReport(workerEnd, machine.description);

    std::cout << (json ? sim::JsonReport(report) : sim::TextReport(report));
    auto write = [](const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) std::cerr << "noxel-als-sim: " << path << ": cannot be written\n";
        return static_cast<bool>(out);
    };
    if (!regPath.empty() && !write(regPath, sim::RegFile(report))) return 2;
    if (!htmlPath.empty()) {
        std::string origin =
            machinePath.empty() ? "the built-in typical machine, examples/typical.json" : machinePath;
        if (!efivars.empty()) origin += ", with the firmware variables of the efivars directory " + efivars;
        if (!write(htmlPath, sim::HtmlReport(report, machine, origin))) return 2;
    }
    return report.outcome == sim::Outcome::Published ? 0 : 1;
}
