// noxel-als-sim run as a user runs it: its reports and its exit codes.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct Result {
    int exitCode;
    std::string output;  // standard output and standard error
};

Result Simulate(const std::string& arguments) {
    Result result{-1, ""};
    // Bounded, so that a simulator that hangs ends even when the test is killed first.
    FILE* pipe =
        popen(("timeout -k 5 60 " + std::string(NOXEL_SIM_PATH) + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    for (size_t read; (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, read);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Example(const char* name) { return std::string(NOXEL_EXAMPLES_DIR) + "/" + name; }

}  // namespace

TEST(Simulator, RunsReportWhatTheServiceDidAndEndWithTheOutcome) {
    struct Case {
        const char* example;  // nullptr: the default machine
        const char* options;
        int exitCode;
        std::vector<const char*> says, saysNot;
    } cases[] = {
        {nullptr,
         "",
         0,
         {"Machine: Model 0 (NOXL6120), one instance, all four variables present.\n",
          "Outcome: published\nAttempts: 1\n",
          "information  Noxel_ALS_Service: Update parameters successfully!",
          "[20260314-09:30:00]SENSOR LUX: 300\n", "ALR_CURVE  REG_SZ     \"5,10,100,150,1000,800\"",
          "STOP_PENDING     checkpoint 2"},
         {}},
        {"empty-firmware.json",
         "",
         1,
         {"Outcome: not published (gave up after 30 attempts)\nAttempts: 30\nSimulated time: 300.000 s",
          "log:\n  [20260314-09:34:50]Gave up after 30 attempts: read CALIBRATE failed w/err 0x000000cb\n\n",
          "Device Parameters\n    (no values)\n"},
         {}},
        // Every example runs to the outcome it describes.
        {"als-flag-refused.json", "", 0, {}, {}},
        {"alr-curve-missing.json", "", 1, {}, {}},
        {"no-uefi.json", "", 1, {}, {}},
        {"privilege-missing.json", "", 1, {}, {}},
        // A stop ends when the worker's sleep does; a shutdown reports STOPPED at once. The
        // process outlives the worker either way, which makes no attempt after the control.
        {"empty-firmware.json",
         "--stop-after 35",
         1,
         {"Outcome: not published (stopped early)\nAttempts: 4\nSimulated time: 40.000 s",
          "35.000 s  STOP_PENDING", "40.000 s  STOPPED"},
         {}},
        {"empty-firmware.json",
         "--stop-after 35 --shutdown",
         1,
         {"Attempts: 4\nSimulated time: 40.000 s", "35.000 s  STOPPED          checkpoint 0"},
         {"STOP_PENDING", "in OnStop"}},
        {"model1-two-instances.json",
         "--json",
         0,
         {"\"outcome\": \"published\"",
          "\"key\": \"HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\CurrentControlSet\\\\Enum\\\\ACPI\\\\NOXL6110\\\\0"
          "\\\\Device Parameters\"",
          "\"ALR_CURVE\": {\n          \"type\": \"REG_SZ\",\n          \"data\": \"5,10,100,150,1000,800\"",
          "\"strings\": [\n        \"Noxel_ALS_Service\",\n        \"Update parameters successfully!\""},
         {}},
        // Bad use is named and ends with 2, before any life.
        {nullptr, "--frobnicate", 2, {"noxel-als-sim: unknown option '--frobnicate'\n"}, {"Outcome"}},
        {nullptr, "/none/machine.json", 2, {"noxel-als-sim: /none/machine.json: cannot be read"}, {}},
    };
    for (const Case& c : cases) {
        const std::string arguments = (c.example ? Example(c.example) + " " : "") + c.options;
        const Result run = Simulate(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << arguments;
        for (const char* part : c.says) EXPECT_THAT(run.output, HasSubstr(part)) << arguments;
        for (const char* part : c.saysNot) EXPECT_THAT(run.output, Not(HasSubstr(part))) << arguments;
    }
}

// Text from outside the page, here an efivars directory's name, is escaped on it.
TEST(Simulator, HtmlPageKeepsUntrustedTextAsText) {
    const std::string directory = testing::TempDir() + "ev<&\">";
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    const Result run = Simulate("--efivars '" + directory + "' --html /dev/stdout");
    rmdir(directory.c_str());
    EXPECT_THAT(run.output, HasSubstr("efivars directory " + testing::TempDir() + "ev&lt;&amp;&quot;&gt;"));
    EXPECT_THAT(run.output, Not(HasSubstr("ev<&")));
}
