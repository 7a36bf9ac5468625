// The driver package's INFs (packaging/) held to the code and the release: the sensors
// they match on x64 and ARM64, the service's one privilege, the project's version. Wine's
// setupapi opens both and registers the service from the component's (tests/wine/driver.sh).
#include <gmock/gmock.h>

#include <fstream>
#include <regex>

#include "install/service_settings.h"
#include "tests/test_support.h"

using ::testing::HasSubstr;

namespace {

std::string InfText(const std::string& name) {
    std::ifstream file(std::string(NOXEL_PACKAGING_DIR) + "/" + name);
    EXPECT_TRUE(file) << name;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The last field of each line of a section, comments aside: a models section's hardware IDs.
std::vector<std::string> LastFields(const std::string& inf, const std::string& section) {
    const size_t begin = inf.find("\n[" + section + "]\n");
    if (begin == std::string::npos) return {"no [" + section + "]"};
    const std::string body = inf.substr(begin, inf.find("\n[", begin + 1) - begin);
    std::vector<std::string> fields;
    const std::regex line("\n[^;\n][^\n]*, *([^,\n]+)");
    for (std::sregex_iterator i(body.begin(), body.end(), line), end; i != end; ++i)
        fields.push_back((*i)[1]);
    return fields;
}

}  // namespace

TEST(DriverPackage, MatchesEverySensorOnX64AndArm64WithTheServicesPrivilegeAndTheRelease) {
    const std::string extension = InfText("NoxelAlsExtension.inf"),
                      component = InfText("NoxelAlsComponent.inf");
    // Each model by the ID the service looks for and by its short ACPI ID, the key its
    // parameters are under.
    std::vector<std::string> sensors;
    for (const SensorModelEntry& model : sensorModels) {
        std::string key = N(model.registryBaseKey);
        key.pop_back();
        sensors.push_back("ACPI\\" + N(model.hardwareIdFragment));
        sensors.push_back("ACPI\\" + key.substr(key.rfind('\\') + 1));
    }
    // From Windows 10 1709; the extension adds the component that the component INF matches.
    const std::string decorations = ", NTamd64.10.0...16299, NTarm64.10.0...16299\n";
    EXPECT_THAT(extension, HasSubstr("= NoxelAlsSensors" + decorations));
    EXPECT_THAT(component, HasSubstr("= NoxelAlsComponent" + decorations));
    EXPECT_THAT(extension, HasSubstr("\nComponentIDs = VEN_NOXL&CMP_ALSSVC\n"));
    for (const char* architecture : {"NTamd64", "NTarm64"}) {
        const std::string decoration = std::string(".") + architecture + ".10.0...16299";
        EXPECT_EQ(LastFields(extension, "NoxelAlsSensors" + decoration), sensors);
        EXPECT_EQ(LastFields(component, "NoxelAlsComponent" + decoration),
                  std::vector<std::string>{"SWC\\VEN_NOXL&CMP_ALSSVC"});
    }
    // Wine keeps no required-privileges list, so only this shows the INF's to be -install's.
    EXPECT_THAT(component, HasSubstr("\nRequiredPrivileges = " + N(requiredPrivileges) + "\n"));

    const std::regex driverVer("\nDriverVer *= *(0[1-9]|1[0-2])/[0-3][0-9]/20[0-9][0-9],([^\n]*)\n");
    std::smatch inExtension, inComponent;
    ASSERT_TRUE(std::regex_search(extension, inExtension, driverVer));
    ASSERT_TRUE(std::regex_search(component, inComponent, driverVer));
    EXPECT_EQ(inExtension[2], NOXEL_VERSION ".0");
    EXPECT_EQ(inComponent.str(), inExtension.str());
}
