// noxel-als-sim run as a user runs it: its reports, its .reg file and its exit codes.
#include <gmock/gmock.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("noxel-sim-" + std::to_string(getpid()) + "-" + name);
}

Result SimulateMachine(const std::string& machine) {
    const std::string path = TempPath("machine.json").string();
    std::ofstream(path, std::ios::binary) << machine;
    const Result run = Simulate(path);
    std::filesystem::remove(path);
    return run;
}

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
        // Publishes at once, so no real sleep.
        {nullptr, "--realtime", 0, {"[0.000 s] attempt: CALIBRATE read\n"}, {}},
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
    };
    for (const Case& c : cases) {
        const std::string arguments = (c.example ? Example(c.example) + " " : "") + c.options;
        const Result run = Simulate(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << arguments;
        for (const char* part : c.says) EXPECT_THAT(run.output, HasSubstr(part)) << arguments;
        for (const char* part : c.saysNot) EXPECT_THAT(run.output, Not(HasSubstr(part))) << arguments;
    }
}

TEST(Simulator, RegFileIsUtf16WithTheRegeditHeader) {
    const std::string path = TempPath("out.reg").string();
    EXPECT_EQ(Simulate("--reg " + path).exitCode, 0);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];  // ASCII content
    EXPECT_EQ(text,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1&2b3c4d5e&0\\Device "
              "Parameters]\r\n"
              "\"ALS_SRC\"=dword:000003e8\r\n\"ALS_CAL\"=dword:0000012c\r\n"
              "\"ALR_CURVE\"=\"5,10,100,150,1000,800\"\r\n\"ALS_CS\"=dword:00000028\r\n"
              "\"ALS_FLAG\"=dword:00000001\r\n\r\n");
}

TEST(Simulator, EfivarsDirectoryReplacesTheFirmware) {
    const auto directory = TempPath("efivars");
    const auto entry = directory / "CALIBRATE-bf82486a-80f7-4733-b82c-066bd8f2534b";
    std::filesystem::create_directories(directory);
    std::ofstream(entry, std::ios::binary) << std::string("\x07\x00\x00\x00\x64\x00\xC8\x00", 8);
    const Result run = Simulate("--efivars " + directory.string());
    EXPECT_EQ(run.exitCode, 1);  // no ALR curve there: the typical firmware is gone
    EXPECT_THAT(run.output, HasSubstr("SOURCE LUX: 100\n"));
    EXPECT_THAT(run.output, HasSubstr("SENSOR LUX: 200\n"));
    // An entry named like a variable that is no file is bad input, not an absent variable.
    std::filesystem::remove(entry);
    std::filesystem::create_directory(entry);
    const Result notAFile = Simulate("--efivars " + directory.string());
    std::filesystem::remove_all(directory);
    EXPECT_EQ(notAFile.exitCode, 2);
    EXPECT_THAT(notAFile.output, HasSubstr("noxel-als-sim: " + entry.string() + ": not a file"));
}

TEST(Simulator, BrokenInputIsNamedWithThePlace) {
    struct Case {
        const char* content;
        const char* message;
    } cases[] = {
        {R"({"firmware": {"ALS_CS": "2g"}})", ": /firmware/ALS_CS: 'g' is not a hex digit"},
        {R"({"faults": [{"operation": "RegDeleteTreeW", "error": 5}]})",
         ": /faults/0/operation: unknown operation 'RegDeleteTreeW'"},
        {R"({"uefi": "yes"})", ": /uefi: expected true or false, found string"},
        {R"({"registryKey": []})", ": /registryKey: unknown field"},
        {"{\n  \"uefi\": true,\n  \"firmware\": {\n}", ":4:2: syntax error"},
    };
    for (const Case& c : cases) {
        const Result run = SimulateMachine(c.content);
        EXPECT_EQ(run.exitCode, 2) << c.content;
        EXPECT_THAT(run.output, HasSubstr("noxel-als-sim: " + TempPath("machine.json").string() + c.message));
    }
    const Result missing = Simulate("/nonexistent/machine.json");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_THAT(missing.output, HasSubstr("/nonexistent/machine.json: cannot be read"));
}

TEST(Simulator, UsageErrorsAndHelp) {
    for (const char* wrong : {"--stop-after soon", "--reg", "--html", "--frobnicate"})
        EXPECT_EQ(Simulate(wrong).exitCode, 2) << wrong;
    const Result unwritable = Simulate("--html /nonexistent/report.html");
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_THAT(unwritable.output, HasSubstr("noxel-als-sim: /nonexistent/report.html: cannot be written\n"));
    const Result help = Simulate("--help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option :
         {"--efivars", "--json", "--reg", "--html", "--stop-after", "--shutdown", "--realtime"})
        EXPECT_THAT(help.output, HasSubstr(option));
}
