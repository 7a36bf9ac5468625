#include <gmock/gmock.h>

#include <memory>

#include "calibration/sample_service.h"
#include "calibration/text_log.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "tests/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

emu::Bytes Utf16le(std::u16string_view text) {
    emu::Bytes bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

// The log decoded from UTF-16LE; an odd byte count fails the test.
std::string LogText() {
    const emu::Bytes bytes = emu::FileBytes(logFilePath);
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    return N(text);
}

// Handles still open besides the service's own stopped event.
std::vector<std::string> LeakedHandles() {
    std::vector<std::string> kinds = emu::OpenHandleKinds();
    for (auto it = kinds.begin(); it != kinds.end(); ++it) {
        if (*it == "event") {
            kinds.erase(it);
            break;
        }
    }
    return kinds;
}

class TextLog : public EmulatedMachine {
protected:
    void SetUp() override {
        EmulatedMachine::SetUp();
        service = std::make_unique<CSampleService>();
    }
    // emu::Reset keeps the local time base, and tests may share a process.
    void TearDown() override { emu::SetLocalTimeBase(SYSTEMTIME{2026, 3, 0, 14, 9, 30, 0, 0}); }

    void Append(const char* message) {
        const emu::String text = W(message);
        ASSERT_LT(text.size(), logMessageCapacity);
        text.copy(logMessage, text.size());
        logMessage[text.size()] = 0;
        service->AppendLog();
    }

    std::unique_ptr<CSampleService> service;
};

TEST_F(TextLog, FirstEntryCreatesTheFileWithoutByteOrderMark) {
    ASSERT_FALSE(emu::FileExists(logFilePath));

    Append("SOURCE LUX: 1000\r\n");

    EXPECT_EQ(emu::FileBytes(logFilePath), Utf16le(u"[20260314-09:30:00]SOURCE LUX: 1000\r\n"));
    EXPECT_THAT(emu::Events(), IsEmpty());
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(TextLog, MessageWithoutLineBreakRunsOnIntoTheNextEntry) {
    Append("Fail to set Source Lux!");
    Append("SENSOR LUX: 300\r\n");
    Append("ALS FLAG: 1\r\n");

    EXPECT_EQ(LogText(),
              "[20260314-09:30:00]Fail to set Source Lux![20260314-09:30:00]SENSOR LUX: 300\r\n"
              "[20260314-09:30:00]ALS FLAG: 1\r\n");
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(TextLog, EntriesAreAppendedToWhatTheFileHolds) {
    emu::WriteFileBytes(logFilePath, Utf16le(u"earlier\r\n"));

    Append("ALS FLAG: 0\r\n");

    EXPECT_EQ(LogText(), "earlier\r\n[20260314-09:30:00]ALS FLAG: 0\r\n");
}

TEST_F(TextLog, TimestampIsZeroPaddedLocalTimeAndEmptyMessageLeavesItBare) {
    emu::SetLocalTimeBase(SYSTEMTIME{2027, 1, 0, 2, 3, 4, 5, 0});

    Append("");
    emu::AdvanceClock(61 * 1000);
    Append("x\r\n");

    EXPECT_EQ(LogText(), "[20270102-03:04:05][20270102-03:05:06]x\r\n");
}

TEST_F(TextLog, FileThatCannotBeCreatedIsReportedOncePerEntry) {
    emu::FailCallsWith("CreateFileW", logFilePath, ERROR_ACCESS_DENIED);

    Append("SOURCE LUX: 1000\r\n");
    Append("SENSOR LUX: 1000\r\n");

    EXPECT_FALSE(emu::FileExists(logFilePath));
    EXPECT_THAT(EventMessages(), ElementsAre("I Unable to Create Log File", "I Unable to Create Log File"));
    ASSERT_EQ(emu::Events().size(), 2u);
    EXPECT_EQ(N(emu::Events()[0].source), "Noxel_ALS_Service");
    EXPECT_THAT(LeakedHandles(), IsEmpty());
}

TEST_F(TextLog, EntryIsDroppedSilentlyWhileAnotherWriterHoldsTheFile) {
    UniqueFile other(CreateFileW(logFilePath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    ASSERT_TRUE(other);

    Append("lost\r\n");
    EXPECT_THAT(emu::Events(), IsEmpty());
    EXPECT_EQ(emu::OpenHandleCount(), 2u);  // the service's event and the other writer's file

    other.reset();
    Append("kept\r\n");
    EXPECT_EQ(LogText(), "[20260314-09:30:00]kept\r\n");
}

TEST_F(TextLog, ReaderThatSharesTheFileDoesNotCostEntries) {
    Append("first\r\n");
    UniqueFile reader(CreateFileW(logFilePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);

    Append("second\r\n");

    EXPECT_EQ(LogText(), "[20260314-09:30:00]first\r\n[20260314-09:30:00]second\r\n");
}

}  // namespace
