// The command line: which argument runs which path, and what the console shows.
#include "app/entry_point.h"
#include "service/console.h"
#include "tests/test_support.h"

namespace {

const std::string usage =
    "Parameters:\n -install  to install the service.\n -remove   to remove the service.\n";
const std::string installed = "Noxel_ALS_Service is installed.\nNoxel_ALS_Service start running.\n";

class CommandLine : public EmulatedMachine {};

// wmain with these arguments after the program's path, as a console starts it.
int RunEntryPoint(const std::vector<const char*>& arguments = {}) {
    std::vector<emu::String> texts{u"C:\\Noxel\\NoxelAlsSvc.exe"};
    for (const char* argument : arguments) texts.push_back(W(argument));
    std::vector<WCHAR*> argv;
    for (emu::String& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    return wmain(static_cast<int>(texts.size()), argv.data());
}

}  // namespace

TEST_F(CommandLine, EachArgumentRunsItsPathAndEveryPathEndsWithZero) {
    enum Machine { Console, InstalledService, StartedByServiceManager, ServiceObjectFails };
    struct Case {
        std::vector<const char*> arguments;
        Machine machine;
        std::string console;
        bool registered;  // afterwards
    } cases[] = {
        // Without -install or -remove first, the service runs: from a console it cannot connect.
        {{}, Console, usage + "Service failed to run w/err 0x00000427\n", false},
        {{"install"}, Console, usage + "Service failed to run w/err 0x00000427\n", false},
        {{""}, Console, usage + "Service failed to run w/err 0x00000427\n", false},
        {{"x", "-install"}, Console, usage + "Service failed to run w/err 0x00000427\n", false},
        {{}, ServiceObjectFails, usage + "Service failed to run w/err 0x00000008\n", false},
        // A dash or a slash, in any case; the slash and the case once each.
        {{"-install"}, Console, installed, true},
        {{"/INSTALL"}, Console, installed, true},
        // Further arguments are ignored.
        {{"-REMOVE"}, InstalledService, "Noxel_ALS_Service is removed.\n", false},
        {{"-remove", "-install"}, InstalledService, "Noxel_ALS_Service is removed.\n", false},
        // Other options end the process silently; the service must not run either.
        {{"-installer"}, StartedByServiceManager, "", false},
        {{"--install"}, StartedByServiceManager, "", false},
        {{"-remov"}, StartedByServiceManager, "", false},
    };
    for (const Case& c : cases) {
        std::string arguments = "arguments:";
        for (const char* argument : c.arguments) arguments += std::string(" '") + argument + "'";
        SCOPED_TRACE(arguments);
        emu::Reset();
        if (c.machine == InstalledService) emu::AddService(u"Noxel_ALS_Service", SERVICE_STOPPED);
        if (c.machine == ServiceObjectFails) emu::FailCall("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
        emu::SetStartedByServiceManager(c.machine == StartedByServiceManager ||
                                        c.machine == ServiceObjectFails);
        EXPECT_EQ(RunEntryPoint(c.arguments), 0);
        EXPECT_EQ(emu::ConsoleText(), c.console);
        EXPECT_EQ(emu::FindService(u"Noxel_ALS_Service").has_value(), c.registered);
        EXPECT_TRUE(emu::StatusReports().empty());
    }
}

TEST_F(CommandLine, ConsoleTextIsCutAfter1023Characters) {
    struct Case {
        const char* name;
        std::string text;
        int result;
        std::string console;
    } cases[] = {
        {"empty", "", 0, ""},
        {"1023 characters", std::string(1023, 'x'), 1023, std::string(1023, 'x')},
        {"1024 characters", std::string(1024, 'x'), 1023, std::string(1023, 'x')},
    };
    for (const Case& c : cases) {
        emu::Reset();
        const emu::String wide = W(c.text.c_str());
        EXPECT_EQ(PrintConsole(TEXT("%s"), wide.c_str()), c.result) << c.name;
        EXPECT_EQ(emu::ConsoleText(), c.console) << c.name;
    }
}
