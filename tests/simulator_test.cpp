// noxel-als-sim run as a user runs it: its reports, its .reg file and its exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct Result {
    int exitCode;
    std::string output;  // standard output and standard error
};

Result Simulate(const std::string& arguments) {
    const std::string command = std::string(NOXEL_SIM_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Result result{-1, ""};
    if (!pipe) return result;
    char buffer[4096];
    size_t read;
    while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, read);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Example(const char* name) { return std::string(NOXEL_EXAMPLES_DIR) + "/" + name; }

std::string TempFile(const std::string& name, const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() / ("noxel-sim-" + std::to_string(getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Simulator, DefaultMachinePublishesOnTheFirstAttempt) {
    const Result run = Simulate("");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "Outcome: published\nAttempts: 1\n")) << run.output;
    EXPECT_TRUE(Contains(run.output, "information  Noxel_ALS_Service: Update parameters successfully!"));
    EXPECT_TRUE(Contains(run.output, "[20260314-09:30:00]SENSOR LUX: 300\n"));
    EXPECT_TRUE(Contains(run.output, "ALR_CURVE  REG_SZ     \"5,10,100,150,1000,800\""));
    EXPECT_TRUE(Contains(run.output, "STOP_PENDING     checkpoint 2"));
}

TEST(Simulator, ExampleMachinesEndAsExpected) {
    struct Case {
        const char* file;
        int exitCode;
        const char* says;
    } cases[] = {
        {"typical.json", 0, "Outcome: published\nAttempts: 1\n"},
        {"als-flag-refused.json", 0, "Outcome: published\n"},
        {"empty-firmware.json", 1, "Outcome: not published (gave up after 30 attempts)\nAttempts: 30\nSimulated time: 300.000 s"},
        {"alr-curve-missing.json", 1, "Attempts: 30\n"},
        {"no-uefi.json", 1, "Outcome: not published (gave up after 30 attempts)"},
        {"model1-two-instances.json", 0, "NOXL6110\\1\\Device Parameters\n    ALS_SRC    REG_DWORD  1000"},
    };
    for (const Case& c : cases) {
        const Result run = Simulate(Example(c.file));
        EXPECT_EQ(run.exitCode, c.exitCode) << c.file;
        EXPECT_TRUE(Contains(run.output, c.says)) << c.file << "\n" << run.output;
    }
    const Result refused = Simulate(Example("als-flag-refused.json"));
    EXPECT_TRUE(Contains(refused.output, "Fail to set Sensor Range!")) << refused.output;
    EXPECT_FALSE(Contains(refused.output, "ALS_FLAG   REG_DWORD"));
    const Result empty = Simulate(Example("empty-firmware.json"));
    EXPECT_TRUE(Contains(empty.output, "(no file)\n")) << empty.output;
    EXPECT_TRUE(Contains(empty.output, "Device Parameters\n    (no values)\n"));
}

TEST(Simulator, StopAfterAndShutdownFollowTheWorkersSleep) {
    const Result stop = Simulate(Example("empty-firmware.json") + " --stop-after 35");
    EXPECT_EQ(stop.exitCode, 1);
    EXPECT_TRUE(Contains(stop.output, "Outcome: not published (stopped early)\nAttempts: 4\nSimulated time: 40.000 s"))
        << stop.output;
    EXPECT_TRUE(Contains(stop.output, "35.000 s  STOP_PENDING     checkpoint 2"));
    EXPECT_TRUE(Contains(stop.output, "40.000 s  STOPPED          checkpoint 0"));

    const Result shutdown = Simulate(Example("empty-firmware.json") + " --stop-after 35 --shutdown");
    EXPECT_TRUE(Contains(shutdown.output, "35.000 s  STOPPED          checkpoint 0")) << shutdown.output;
    EXPECT_FALSE(Contains(shutdown.output, "STOP_PENDING"));
    EXPECT_FALSE(Contains(shutdown.output, "in OnStop"));
}

TEST(Simulator, JsonReportCarriesTheRecords) {
    const Result run = Simulate(Example("model1-two-instances.json") + " --json");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "\"outcome\": \"published\"")) << run.output;
    EXPECT_TRUE(Contains(run.output, "\"key\": \"HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\CurrentControlSet\\\\Enum\\\\ACPI\\\\NOXL6110\\\\0\\\\Device Parameters\""));
    EXPECT_TRUE(Contains(run.output, "\"ALR_CURVE\": {\n          \"type\": \"REG_SZ\",\n          \"data\": \"5,10,100,150,1000,800\""));
    EXPECT_TRUE(Contains(run.output, "\"strings\": [\n        \"Noxel_ALS_Service\",\n        \"Update parameters successfully!\""));
}

TEST(Simulator, RegFileIsUtf16WithTheRegeditHeader) {
    const std::string path = TempFile("out.reg", "");
    const Result run = Simulate("--reg " + path);
    EXPECT_EQ(run.exitCode, 0);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];  // ASCII content
    EXPECT_EQ(text,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\1&2b3c4d5e&0\\Device Parameters]\r\n"
              "\"ALS_SRC\"=dword:000003e8\r\n\"ALS_CAL\"=dword:0000012c\r\n"
              "\"ALR_CURVE\"=\"5,10,100,150,1000,800\"\r\n\"ALS_CS\"=dword:00000028\r\n"
              "\"ALS_FLAG\"=dword:00000001\r\n\r\n");
}

TEST(Simulator, EfivarsDirectoryReplacesTheFirmware) {
    const auto directory = std::filesystem::temp_directory_path() / ("noxel-efivars-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const std::string guid = "bf82486a-80f7-4733-b82c-066bd8f2534b";
    std::ofstream(directory / ("CALIBRATE-" + guid), std::ios::binary) << std::string("\x07\x00\x00\x00\x64\x00\xC8\x00", 8);
    const Result run = Simulate("--efivars " + directory.string());
    std::filesystem::remove_all(directory);
    EXPECT_EQ(run.exitCode, 1);  // no ALR curve there
    EXPECT_TRUE(Contains(run.output, "SOURCE LUX: 100\n")) << run.output;
    EXPECT_TRUE(Contains(run.output, "SENSOR LUX: 200\n"));
    EXPECT_TRUE(Contains(run.output, "Error to Retrieve ALR Curve! ErrorCode: 203: "));
}

TEST(Simulator, BrokenMachineFilesAreNamedWithThePlace) {
    struct Case {
        const char* content;
        const char* message;
    } cases[] = {
        {R"({"firmware": {"ALS_CS": "2g"}})", ": /firmware/ALS_CS: 'g' is not a hex digit"},
        {R"({"firmware": {"ALS_CS": "123"}})", ": /firmware/ALS_CS: '123' is not a whole number of hex bytes"},
        {R"({"faults": [{"operation": "RegDeleteKeyW", "error": 5}]})", ": /faults/0/operation: unknown operation 'RegDeleteKeyW'"},
        {R"({"uefi": "yes"})", ": /uefi: expected true or false, found string"},
        {R"({"devices": [{"hardwareIds": "ACPI"}]})", ": /devices/0/hardwareIds: expected an array, found string"},
        {R"({"registryKey": []})", ": /registryKey: unknown field"},
        {"{\n  \"uefi\": true,\n  \"firmware\": {\n}", ":4:2: syntax error"},
    };
    for (const Case& c : cases) {
        const std::string path = TempFile("bad.json", c.content);
        const Result run = Simulate(path);
        std::filesystem::remove(path);
        EXPECT_EQ(run.exitCode, 2) << c.content;
        EXPECT_TRUE(Contains(run.output, "noxel-als-sim: " + path + c.message)) << run.output;
    }
    const Result missing = Simulate("/nonexistent/machine.json");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(Contains(missing.output, "/nonexistent/machine.json: cannot be read"));
}

TEST(Simulator, UsageErrorsAndHelp) {
    EXPECT_EQ(Simulate("--stop-after soon").exitCode, 2);
    EXPECT_EQ(Simulate("--reg").exitCode, 2);
    EXPECT_EQ(Simulate("--frobnicate").exitCode, 2);
    const Result help = Simulate("--help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--efivars", "--json", "--reg", "--stop-after", "--shutdown", "--realtime"})
        EXPECT_TRUE(Contains(help.output, option)) << option;
}

TEST(Simulator, RealtimeRunPrintsEachAttemptAsItHappens) {
    const Result run = Simulate("--realtime");  // publishes at once, so no real sleep
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "[0.000 s] attempt: CALIBRATE read\n")) << run.output;
}
