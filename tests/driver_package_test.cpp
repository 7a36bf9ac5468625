// The driver package's INFs (packaging/) held to the code: the service they add is the
// one -install registers, its event source is the service's own, the extension INF
// matches the sensors the service looks for, and DriverVer carries the project's version.
#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "calibration/service_identity.h"
#include "install/install.h"
#include "tests/test_support.h"

namespace {

struct InfLine {
    std::string key;
    std::vector<std::string> fields;
};
using Inf = std::map<std::string, std::vector<InfLine>>;  // by section name

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The INF syntax that the package uses: comments after ';', fields split at commas,
// quotes dropped, %token% replaced from [Strings] (a DIRID such as %13% stays).
Inf ReadInf(const std::string& name) {
    std::ifstream file(std::string(NOXEL_PACKAGING_DIR) + "/" + name);
    EXPECT_TRUE(file) << name;
    Inf inf;
    std::string section, text;
    while (std::getline(file, text)) {
        std::string line;
        for (bool quoted = false; char c : text) {
            if (c == '"') quoted = !quoted;
            if (c == ';' && !quoted) break;
            line += c;
        }
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        InfLine parsed;
        const size_t equals = line.find('=');
        if (equals != std::string::npos && line.find('"') > equals) {
            parsed.key = Trim(line.substr(0, equals));
            line = line.substr(equals + 1);
        }
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) {
            field = Trim(field);
            field.erase(std::remove(field.begin(), field.end(), '"'), field.end());
            parsed.fields.push_back(field);
        }
        inf[section].push_back(parsed);
    }
    const auto substitute = [&inf](std::string& field) {
        for (const InfLine& string : inf["Strings"])
            if (field == "%" + string.key + "%") field = string.fields.at(0);
    };
    for (auto& [name, lines] : inf)
        for (InfLine& line : lines) {
            substitute(line.key);
            for (std::string& field : line.fields) substitute(field);
        }
    return inf;
}

// The fields of the first `key` line of `section`; none when there is none.
std::vector<std::string> Entry(const Inf& inf, const std::string& section, const std::string& key) {
    if (inf.count(section))
        for (const InfLine& line : inf.at(section))
            if (line.key == key) return line.fields;
    return {};
}

std::string Value(const Inf& inf, const std::string& section, const std::string& key) {
    const std::vector<std::string> fields = Entry(inf, section, key);
    return fields.empty() ? "(none)" : fields[0];
}

// The models section that [Manufacturer] names, with its decoration.
std::string Models(const Inf& inf) {
    const std::vector<std::string> manufacturer = Entry(inf, "Manufacturer", "Noxel");
    return manufacturer.size() == 2 ? manufacturer[0] + "." + manufacturer[1] : "(none)";
}

const std::string servicesSection = "NoxelAlsService_Install.NT.Services";

class DriverPackage : public EmulatedMachine {};

}  // namespace

TEST_F(DriverPackage, AddsTheServiceAsInstallRegistersIt) {
    emu::SetModuleFileName(u"C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe");
    InstallService();
    const auto registered = emu::FindService(calibrationServiceName);
    ASSERT_TRUE(registered);

    const Inf inf = ReadInf("NoxelAlsComponent.inf");
    std::vector<std::string> addService;
    for (const InfLine& line : inf.at(servicesSection))
        if (line.key == "AddService" && line.fields.at(0) == N(calibrationServiceName))
            addService = line.fields;
    ASSERT_EQ(addService.size(), 6u);
    EXPECT_EQ(addService[1], "0x00000800");  // SPSVCINST_STARTSERVICE: started, as -install starts it
    const std::string service = addService[2];
    EXPECT_EQ(Value(inf, service, "DisplayName"), N(registered->displayName));
    EXPECT_EQ(Value(inf, service, "DisplayName"), N(calibrationServiceDisplayName));
    EXPECT_EQ(Value(inf, service, "Description"), N(calibrationServiceDescription));
    EXPECT_EQ(std::stoul(Value(inf, service, "ServiceType"), nullptr, 0), registered->serviceType);
    EXPECT_EQ(std::stoul(Value(inf, service, "StartType"), nullptr, 0), registered->startType);
    EXPECT_EQ(std::stoul(Value(inf, service, "ErrorControl"), nullptr, 0), registered->errorControl);
    EXPECT_FALSE(registered->accountGiven);
    EXPECT_EQ(Value(inf, service, "StartName"), "(none)");  // LocalSystem, as -install's
    EXPECT_EQ(Value(inf, service, "ServiceBinary"), "%13%\\NoxelAlsSvc.exe");
    // The first line gives the component's device the null driver.
    EXPECT_EQ(Entry(inf, servicesSection, "AddService"), (std::vector<std::string>{"", "0x00000002"}));

    // The event source: the service's key under the Application log, its messages in
    // the executable the service runs.
    EXPECT_EQ("SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + addService[4] + "\\" + addService[5],
              N(calibrationEventSourceKey));
    const std::string eventLog = Value(inf, addService[3], "AddReg");
    ASSERT_EQ(inf.count(eventLog), 1u);
    std::vector<std::vector<std::string>> values;
    for (const InfLine& line : inf.at(eventLog)) values.push_back(line.fields);
    EXPECT_EQ(values, (std::vector<std::vector<std::string>>{
                          {"HKR", "", "EventMessageFile", "0x00020000", Value(inf, service, "ServiceBinary")},
                          {"HKR", "", "TypesSupported", "0x00010001", "5"}}));
}

TEST_F(DriverPackage, ExtensionMatchesTheSensorsAndAddsTheComponent) {
    const Inf extension = ReadInf("NoxelAlsExtension.inf");
    const Inf component = ReadInf("NoxelAlsComponent.inf");
    // Each model by the ID the service looks for and by its short ACPI ID, the key its
    // parameters are under.
    std::vector<std::string> expected, matched;
    for (const SensorModelEntry& model : sensorModels) {
        std::string key = N(model.registryBaseKey);
        key.pop_back();
        expected.push_back("ACPI\\" + N(model.hardwareIdFragment));
        expected.push_back("ACPI\\" + key.substr(key.rfind('\\') + 1));
    }
    for (const InfLine& line : extension.at(Models(extension))) matched.push_back(line.fields.at(1));
    EXPECT_EQ(matched, expected);
    EXPECT_EQ("SWC\\" + Value(extension, "NoxelAlsService_Component", "ComponentIDs"),
              component.at(Models(component)).at(0).fields.at(1));
}

TEST_F(DriverPackage, DriverVerIsTheProjectsVersionOfOneDate) {
    const auto driverVer = [](const char* name) { return Entry(ReadInf(name), "Version", "DriverVer"); };
    const std::vector<std::string> extension = driverVer("NoxelAlsExtension.inf");
    ASSERT_EQ(extension.size(), 2u);
    EXPECT_TRUE(std::regex_match(extension[0], std::regex("(0[1-9]|1[0-2])/[0-3][0-9]/20[0-9][0-9]")));
    EXPECT_EQ(extension[1], std::string(NOXEL_VERSION) + ".0");
    EXPECT_EQ(driverVer("NoxelAlsComponent.inf"), extension);
}
