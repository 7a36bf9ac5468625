// The driver package's INFs (packaging/) held to the code: every section a directive
// names is there and every string is defined, the service they add is the one -install
// registers with the event source -install writes, the extension INF matches the
// sensors the service looks for, and DriverVer carries the project's version. Wine's
// setupapi opens them and installs the service (tests/wine/driver.sh).
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
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

std::string Trim(const std::string& text, const char* around = " \t\r") {
    const size_t first = text.find_first_not_of(around);
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(around) - first + 1);
}

std::string InfText(const std::string& name) {
    std::ifstream file(std::string(NOXEL_PACKAGING_DIR) + "/" + name);
    EXPECT_TRUE(file) << name;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The INF syntax that the package uses: whole-line comments, fields split at commas and
// unquoted, %token% replaced from [Strings] (a DIRID such as %13% stays).
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
        InfLine parsed;
        if (const size_t equals = line.find('='); equals != std::string::npos) {
            parsed.key = Trim(line.substr(0, equals));
            line = line.substr(equals + 1);
        }
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');)
            parsed.fields.push_back(Trim(field, " \t\""));
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

// The lines of `section`; none when it is not there.
const std::vector<InfLine>& Lines(const Inf& inf, const std::string& section) {
    static const std::vector<InfLine> none;
    const auto found = inf.find(section);
    return found == inf.end() ? none : found->second;
}

// The fields of the first `key` line of `section`; none when there is none.
std::vector<std::string> Entry(const Inf& inf, const std::string& section, const std::string& key) {
    for (const InfLine& line : Lines(inf, section))
        if (line.key == key) return line.fields;
    return {};
}

std::string Value(const Inf& inf, const std::string& section, const std::string& key) {
    const std::vector<std::string> fields = Entry(inf, section, key);
    return fields.empty() ? "(none)" : fields[0];
}

Inf ReadInf(const std::string& name) { return ParseInf(InfText(name)); }

// What Windows would skip or install as literal text: a section that a directive names,
// from [Manufacturer] down, and that is not there; a string token that [Strings] does
// not define.
std::set<std::string> Problems(const Inf& inf) {
    std::set<std::string> problems;
    std::function<void(const std::string&)> follow = [&](const std::string& section) {
        if (!inf.count(section)) problems.insert("missing: [" + section + "]");
        for (const InfLine& line : Lines(inf, section)) {
            std::vector<std::string> names;  // AddService: the service's, then the event log's
            if (line.key == "CopyFiles" || line.key == "AddReg") names = line.fields;
            if (line.key == "AddService" && line.fields.size() > 3) names = {line.fields[2], line.fields[3]};
            if (line.key == "AddComponent" && line.fields.size() > 2) names = {line.fields[2]};
            for (const std::string& name : names) follow(name);
        }
    };
    for (const InfLine& manufacturer : inf.at("Manufacturer")) {
        const std::string models = manufacturer.fields.at(0) + "." + manufacturer.fields.at(1);
        follow(models);
        for (const InfLine& model : Lines(inf, models)) {
            const std::string install = model.fields.at(0) + ".NT";  // the section Windows picks
            follow(install);
            for (const char* part : {".Services", ".Components"})
                if (inf.count(install + part)) follow(install + part);
        }
    }
    const std::regex token("%[^%0-9][^%]*%");
    for (const auto& [section, lines] : inf)
        for (InfLine line : lines) {
            line.fields.push_back(line.key);
            for (const std::string& text : line.fields)
                if (std::regex_search(text, token)) problems.insert("unresolved: [" + section + "] " + text);
        }
    return problems;
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
    EXPECT_EQ(Value(inf, service, "Description"), N(registered->description.value_or(u"none")));
    EXPECT_EQ(std::stoul(Value(inf, service, "ServiceType"), nullptr, 0), registered->serviceType);
    EXPECT_EQ(std::stoul(Value(inf, service, "StartType"), nullptr, 0), registered->startType);
    EXPECT_EQ(std::stoul(Value(inf, service, "ErrorControl"), nullptr, 0), registered->errorControl);
    EXPECT_FALSE(registered->accountGiven);
    EXPECT_EQ(Value(inf, service, "StartName"), "(none)");  // LocalSystem, as -install's
    EXPECT_EQ(Value(inf, service, "ServiceBinary"), "%13%\\NoxelAlsSvc.exe");
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
    for (const InfLine& line : inf.at(Value(inf, addService[3], "AddReg"))) added.push_back(line.fields);
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
