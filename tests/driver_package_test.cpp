// The driver package's INFs (packaging/) held to the code and the project's version.
// Wine's setupapi opens them and installs the service (tests/wine/driver.sh).
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "install/install.h"
#include "service/service_identity.h"
#include "tests/test_support.h"

namespace {

// An INF's lines by section, each its key (empty without one) and then its fields,
// unquoted, with %token% replaced from [Strings] (a DIRID such as %13% stays): the
// syntax that the package uses.
using Inf = std::map<std::string, std::vector<std::vector<std::string>>>;

std::string Trim(const std::string& text) {
    const char* around = " \t\r\"";
    const size_t first = text.find_first_not_of(around);
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(around) - first + 1);
}

std::string InfText(const std::string& name) {
    std::ifstream file(std::string(NOXEL_PACKAGING_DIR) + "/" + name);
    EXPECT_TRUE(file) << name;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

Inf ParseInf(const std::string& content) {
    std::istringstream lines(content);
    Inf inf;
    std::string section;
    for (std::string line; std::getline(lines, line);) {
        line = Trim(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
            inf[section];  // an empty section is there all the same
            continue;
        }
        const size_t equals = line.find('=');
        std::vector<std::string> fields{equals == std::string::npos ? "" : Trim(line.substr(0, equals))};
        std::stringstream rest(line.substr(equals == std::string::npos ? 0 : equals + 1));
        for (std::string field; std::getline(rest, field, ',');) fields.push_back(Trim(field));
        inf[section].push_back(fields);
    }
    for (auto& [name, lines] : inf)
        for (std::vector<std::string>& fields : lines)
            for (std::string& field : fields)
                for (const std::vector<std::string>& string : inf["Strings"])
                    if (field == "%" + string[0] + "%") field = string.at(1);
    return inf;
}

Inf ReadInf(const std::string& name) { return ParseInf(InfText(name)); }

std::vector<std::string> Entry(const Inf& inf, const std::string& section, const std::string& key) {
    if (inf.count(section))
        for (const std::vector<std::string>& line : inf.at(section))
            if (line[0] == key) return {line.begin() + 1, line.end()};
    return {};
}

std::string Value(const Inf& inf, const std::string& section, const std::string& key) {
    const std::vector<std::string> fields = Entry(inf, section, key);
    return fields.empty() ? "(none)" : fields[0];
}

// The models sections that [Manufacturer] names, one per decoration.
std::vector<std::string> Models(const Inf& inf) {
    const std::vector<std::string> manufacturer = Entry(inf, "Manufacturer", "Noxel");
    std::vector<std::string> sections;
    for (size_t i = 1; i < manufacturer.size(); ++i)
        sections.push_back(manufacturer[0] + "." + manufacturer[i]);
    return sections;
}

// What Windows would skip or install as literal text: a section that a directive names,
// from [Manufacturer] down, and that is not there; a string token that [Strings] does
// not define.
std::set<std::string> Problems(const Inf& inf) {
    std::set<std::string> problems;
    std::function<void(const std::string&)> follow = [&](const std::string& section) {
        if (!inf.count(section)) return (void)problems.insert("missing: [" + section + "]");
        for (const std::vector<std::string>& line : inf.at(section)) {
            std::vector<std::string> names;  // AddService: the service's, then the event log's
            if (line[0] == "CopyFiles" || line[0] == "AddReg") names = {line.begin() + 1, line.end()};
            if (line[0] == "AddService" && line.size() > 4) names = {line[3], line[4]};
            if (line[0] == "AddComponent" && line.size() > 3) names = {line[3]};
            for (const std::string& name : names) follow(name);
        }
    };
    for (const std::string& models : Models(inf)) {
        follow(models);
        if (!inf.count(models)) continue;
        for (const std::vector<std::string>& model : inf.at(models)) {
            const std::string install = model.at(1) + ".NT";  // the section Windows picks
            follow(install);
            for (const char* part : {".Services", ".Components"})
                if (inf.count(install + part)) follow(install + part);
        }
    }
    const std::regex token("%[^%0-9][^%]*%");
    for (const auto& [section, lines] : inf)
        for (const std::vector<std::string>& line : lines)
            for (const std::string& text : line)
                if (std::regex_search(text, token)) problems.insert("unresolved: [" + section + "] " + text);
    return problems;
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
    for (const std::vector<std::string>& line : inf.at(servicesSection))
        if (line[0] == "AddService" && line.at(1) == N(calibrationServiceName))
            addService = {line.begin() + 1, line.end()};
    ASSERT_EQ(addService.size(), 6u);
    EXPECT_EQ(addService[1], "0x00000800");  // SPSVCINST_STARTSERVICE: started, as -install starts it
    const std::string service = addService[2];
    EXPECT_EQ(Value(inf, service, "DisplayName"), N(registered->displayName));
    EXPECT_EQ(Value(inf, service, "Description"), N(registered->description.value_or(u"none")));
    EXPECT_EQ(std::stoul(Value(inf, service, "ServiceType"), nullptr, 0), registered->serviceType);
    EXPECT_EQ(std::stoul(Value(inf, service, "StartType"), nullptr, 0), registered->startType);
    EXPECT_EQ(std::stoul(Value(inf, service, "ErrorControl"), nullptr, 0), registered->errorControl);
    EXPECT_FALSE(registered->accountGiven);
    EXPECT_EQ(Value(inf, service, "StartName"), "(none)");  // LocalSystem, as -install's
    EXPECT_EQ(Value(inf, service, "ServiceBinary"), "%13%\\NoxelAlsSvc.exe");
    std::vector<std::string> privileges;
    for (const emu::String& name : registered->requiredPrivileges.value_or(std::vector<emu::String>{}))
        privileges.push_back(N(name));
    EXPECT_EQ(Entry(inf, service, "RequiredPrivileges"), privileges);
    // The first line gives the component's device the null driver.
    EXPECT_EQ(Entry(inf, servicesSection, "AddService"), (std::vector<std::string>{"", "0x00000002"}));

    // The event source: the key -install writes, with its values by name and type; the
    // message file is the executable the service runs.
    EXPECT_EQ("SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + addService[4] + "\\" + addService[5],
              N(calibrationEventSourceKey));
    const std::map<DWORD, std::string> flags = {{REG_EXPAND_SZ, "0x00020000"}, {REG_DWORD, "0x00010001"}};
    std::vector<std::vector<std::string>> written, added;
    for (const auto& [name, value] : emu::Values(calibrationEventSourceKey)) {
        const std::string data =
            value.type == REG_DWORD ? std::to_string(value.data.at(0)) : Value(inf, service, "ServiceBinary");
        written.push_back({"HKR", "", N(name), flags.count(value.type) ? flags.at(value.type) : "?", data});
    }
    for (const std::vector<std::string>& line : inf.at(Value(inf, addService[3], "AddReg")))
        added.push_back({line.begin() + 1, line.end()});
    EXPECT_EQ(added, written);
}

TEST_F(DriverPackage, EverySectionNamedIsThereAndEveryStringDefined) {
    EXPECT_EQ(Problems(ReadInf("NoxelAlsExtension.inf")), std::set<std::string>{});
    EXPECT_EQ(Problems(ReadInf("NoxelAlsComponent.inf")), std::set<std::string>{});
    // The check catches a renamed section and a string no longer defined.
    const std::string component = InfText("NoxelAlsComponent.inf"),
                      extension = InfText("NoxelAlsExtension.inf");
    EXPECT_EQ(Problems(ParseInf(std::regex_replace(
                  component, std::regex("\\[NoxelAlsService_EventLog_AddReg\\]"), "[Renamed]"))),
              std::set<std::string>{"missing: [NoxelAlsService_EventLog_AddReg]"});
    EXPECT_EQ(
        Problems(ParseInf(std::regex_replace(extension, std::regex("\nComponentDescription[^\n]*"), ""))),
        std::set<std::string>{"unresolved: [NoxelAlsService_Component] %ComponentDescription%"});
}

TEST_F(DriverPackage, ExtensionMatchesTheSensorsAndAddsTheComponent) {
    const Inf extension = ReadInf("NoxelAlsExtension.inf");
    const Inf component = ReadInf("NoxelAlsComponent.inf");
    // Each model by the ID the service looks for and by its short ACPI ID, the key its
    // parameters are under.
    std::vector<std::string> expected;
    for (const SensorModelEntry& model : sensorModels) {
        std::string key = N(model.registryBaseKey);
        key.pop_back();
        expected.push_back("ACPI\\" + N(model.hardwareIdFragment));
        expected.push_back("ACPI\\" + key.substr(key.rfind('\\') + 1));
    }
    // On x64 and on ARM64 alike, from Windows 10 1709.
    const std::vector<std::string> decorations = {"NTamd64.10.0...16299", "NTarm64.10.0...16299"};
    ASSERT_EQ(Models(extension), (std::vector<std::string>{"NoxelAlsSensors." + decorations[0],
                                                           "NoxelAlsSensors." + decorations[1]}));
    ASSERT_EQ(Models(component), (std::vector<std::string>{"NoxelAlsComponent." + decorations[0],
                                                           "NoxelAlsComponent." + decorations[1]}));
    for (size_t i = 0; i < decorations.size(); ++i) {
        std::vector<std::string> matched;
        for (const std::vector<std::string>& line : extension.at(Models(extension)[i]))
            matched.push_back(line.at(2));
        EXPECT_EQ(matched, expected) << decorations[i];
        EXPECT_EQ("SWC\\" + Value(extension, "NoxelAlsService_Component", "ComponentIDs"),
                  component.at(Models(component)[i]).at(0).at(2))
            << decorations[i];
    }
}

TEST_F(DriverPackage, DriverVerIsTheProjectsVersionOfOneDate) {
    const auto driverVer = [](const char* name) { return Entry(ReadInf(name), "Version", "DriverVer"); };
    const std::vector<std::string> extension = driverVer("NoxelAlsExtension.inf");
    ASSERT_EQ(extension.size(), 2u);
    EXPECT_TRUE(std::regex_match(extension[0], std::regex("(0[1-9]|1[0-2])/[0-3][0-9]/20[0-9][0-9]")));
    EXPECT_EQ(extension[1], std::string(NOXEL_VERSION) + ".0");
    EXPECT_EQ(driverVer("NoxelAlsComponent.inf"), extension);
}
