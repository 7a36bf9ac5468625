// The command line: which argument runs which path, and what the console shows.
#include <initializer_list>

#include "service/entry_point.h"
#include "tests/test_support.h"

namespace {

const std::string usage =
    "Parameters:\n -install  to install the service.\n -remove   to remove the service.\n";

class CommandLine : public EmulatedMachine {
protected:
    int Run(std::initializer_list<const char*> arguments) {
        std::vector<emu::String> texts{u"C:\\Noxel\\NoxelAlsSvc.exe"};
        for (const char* argument : arguments) texts.push_back(W(argument));
        std::vector<WCHAR*> argv;
        for (emu::String& text : texts) argv.push_back(text.data());
        argv.push_back(nullptr);
        return wmain(static_cast<int>(texts.size()), argv.data());
    }
};

}  // namespace

TEST_F(CommandLine, FromAConsoleTheServicePathPrintsUsageAndTheConnectFailure) {
    for (auto arguments : {std::initializer_list<const char*>{}, {"install"}, {""}, {"x", "-install"}}) {
        emu::Reset();
        EXPECT_EQ(Run(arguments), 0);
        EXPECT_EQ(emu::ConsoleText(), usage + "Service failed to run w/err 0x00000427\n");
        EXPECT_FALSE(emu::FindService(u"Noxel_ALS_Service"));
    }
}

TEST_F(CommandLine, InstallIsRecognisedWithDashOrSlashInAnyCase) {
    for (const char* option : {"-install", "/INSTALL", "-Install"}) {
        emu::Reset();
        EXPECT_EQ(Run({option}), 0);
        EXPECT_EQ(emu::ConsoleText(), "Noxel_ALS_Service is installed.\nNoxel_ALS_Service start running.\n")
            << option;
    }
}

TEST_F(CommandLine, RemoveIsRecognisedAndFurtherArgumentsAreIgnored) {
    for (auto arguments : {std::initializer_list<const char*>{"-REMOVE"}, {"/remove"}, {"-remove", "-install"}}) {
        emu::Reset();
        emu::AddService(u"Noxel_ALS_Service", SERVICE_STOPPED);
        EXPECT_EQ(Run(arguments), 0);
        EXPECT_EQ(emu::ConsoleText(), "Noxel_ALS_Service is removed.\n");
        EXPECT_FALSE(emu::FindService(u"Noxel_ALS_Service"));
    }
}

TEST_F(CommandLine, OtherOptionsEndTheProcessSilently) {
    for (const char* option : {"-installer", "--install", "-", "/help", "-remov", "/"}) {
        emu::Reset();
        emu::SetStartedByServiceManager(true);  // the service must not run either
        EXPECT_EQ(Run({option}), 0);
        EXPECT_EQ(emu::ConsoleText(), "") << option;
        EXPECT_TRUE(emu::StatusReports().empty());
        EXPECT_FALSE(emu::FindService(u"Noxel_ALS_Service"));
    }
}

TEST_F(CommandLine, ServiceObjectThatCannotBeBuiltIsReported) {
    emu::FailCall("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    emu::SetStartedByServiceManager(true);
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(emu::ConsoleText(), usage + "Service failed to run w/err 0x00000008\n");
    EXPECT_TRUE(emu::StatusReports().empty());
}
