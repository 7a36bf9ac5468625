// The text log as a reader of the file sees it: UTF-16LE entries, each a local-time
// stamp and the message as given, and what happens when the file cannot be had.
#include <gmock/gmock.h>

#include "calibration/text_log.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class TextLog : public CalibrationMachine {
protected:
    void Append(const char* message) {
        const emu::String text = W(message);
        ASSERT_LT(text.size(), logMessageCapacity);
        text.copy(logMessage, text.size());
        logMessage[text.size()] = 0;
        service->AppendLog();
    }
};

// A message without a line break runs on into the next entry, also while a reader shares
// the file; an empty one leaves its stamp bare.
TEST_F(TextLog, EntriesAreZeroPaddedLocalTimeStampedAndAppendedWithoutByteOrderMark) {
    Append("SOURCE LUX: 1000\r\n");
    EXPECT_EQ(LogText(), "[20260314-09:30:00]SOURCE LUX: 1000\r\n");  // a mark would show first

    UniqueFile reader(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    Append("Fail to set Source Lux!");
    emu::SetLocalTimeBase(SYSTEMTIME{2027, 1, 0, 2, 3, 4, 5, 0});
    Append("");
    emu::AdvanceClock(61 * 1000);
    Append("x\r\n");
    // The longest message the buffer holds goes out whole behind its stamp.
    const std::string longest(logMessageCapacity - 1, 'y');
    Append(longest.c_str());
    EXPECT_EQ(LogText(),
              "[20260314-09:30:00]SOURCE LUX: 1000\r\n[20260314-09:30:00]Fail to set Source Lux!"
              "[20270102-03:04:05][20270102-03:05:06]x\r\n[20270102-03:05:06]" +
                  longest);
    EXPECT_THAT(emu::Events(), IsEmpty());
}

// A failure while an entry is written loses that entry whole and silently: never earlier
// entries, and never half an entry glued to the next.
TEST_F(TextLog, FailedOpenPositionOrWriteLosesOnlyTheEntryBeingWritten) {
    for (const char* operation : {"CreateFileW", "SetFilePointer", "WriteFile"}) {
        SCOPED_TRACE(operation);
        FreshMachine();
        Append("SOURCE LUX: 1000\r\n");
        emu::FailCall(operation, ERROR_ACCESS_DENIED);
        Append("SENSOR LUX: 300\r\n");
        Append("ALS FLAG: 1\r\n");
        EXPECT_EQ(LogText(), Entries({"SOURCE LUX: 1000\r\n", "ALS FLAG: 1\r\n"}));
        EXPECT_THAT(emu::Events(), IsEmpty());
    }
}

TEST_F(TextLog, FileThatCannotBeCreatedIsReportedOncePerEntry) {
    emu::FailCallsWith("CreateFileW", logPath, ERROR_ACCESS_DENIED);
    Append("SOURCE LUX: 1000\r\n");
    Append("SENSOR LUX: 1000\r\n");
    EXPECT_THAT(EventMessages(), ElementsAre("I Unable to Create Log File", "I Unable to Create Log File"));
    EXPECT_EQ(N(emu::Events().at(0).source), "Noxel_ALS_Service");
}

}  // namespace
