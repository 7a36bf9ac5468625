// The Win32 string formatters as the service uses them: the bounded formatter's result
// codes and cuts, and the Windows conventions (%s wide, l meaning 32 bits).
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "platform/strings.h"

namespace {

const HRESULT invalidParameter = static_cast<HRESULT>(0x80070057U);
const HRESULT insufficientBuffer = static_cast<HRESULT>(0x8007007AU);
const WCHAR sentinel = u'#';

// Pre-filled with the sentinel, so that any write past the terminator shows.
struct Buffer {
    std::array<WCHAR, 1040> chars;
    Buffer() { chars.fill(sentinel); }
    WCHAR* get() { return chars.data(); }
    std::u16string Text() const { return std::u16string(chars.data()); }
    // Index of the first character from `index` on that is not the sentinel, or size.
    size_t TouchedFrom(size_t index) const {
        while (index < chars.size() && chars[index] == sentinel) ++index;
        return index;
    }
};

}  // namespace

TEST(Formatter, BoundedPrintfReportsCutsAndNeverWritesPastTheCapacity) {
    struct Case {
        const char* name;
        size_t capacity;
        const WCHAR* format;
        const WCHAR* text;
        DWORD number;
        HRESULT result;
        const char16_t* written;  // nullptr: the buffer is not touched at all
        size_t untouchedFrom;
    };
    // The console's limit: 1024 characters with the terminator.
    const std::u16string x1023(1023, u'x'), x1024(1024, u'x');
    const Case cases[] = {
        {"capacity 0", 0, TEXT("%s"), TEXT("text"), 0, invalidParameter, nullptr, 0},
        // Above 0x7FFFFFFF characters the capacity is refused, but the destination is emptied.
        {"capacity 0x80000000", size_t{0x80000000}, TEXT("%s"), TEXT("text"), 0, invalidParameter, u"", 1},
        {"capacity 0x7FFFFFFF", size_t{0x7FFFFFFF}, TEXT("%s"), TEXT("text"), 0, S_OK, u"text", 5},
        {"exact fit", 6, TEXT("%s%lu"), TEXT("abcd"), 7, S_OK, u"abcd7", 6},
        {"event text", 48, TEXT("%s failed w/err 0x%08lx"), TEXT("Service Stop"), 1053, S_OK,
         u"Service Stop failed w/err 0x0000041d", 37},
        {"capacity 1", 1, TEXT("%s"), TEXT("x"), 0, insufficientBuffer, u"", 1},
        {"empty text in capacity 1", 1, TEXT("%s"), TEXT(""), 0, S_OK, u"", 1},
        {"cut", 6, TEXT("%s-%lu"), TEXT("abcd"), 123, insufficientBuffer, u"abcd-", 6},
        {"event text cut", 16, TEXT("%s failed w/err 0x%08lx"), TEXT("Op"), 5, insufficientBuffer,
         u"Op failed w/err", 16},
        {"1023 characters into 1024", 1024, TEXT("%s"), x1023.c_str(), 0, S_OK, x1023.c_str(), 1024},
        {"1024 characters into 1024", 1024, TEXT("%s"), x1024.c_str(), 0, insufficientBuffer, x1023.c_str(),
         1024},
    };
    for (const Case& c : cases) {
        Buffer buffer;
        EXPECT_EQ(StringCchPrintfW(buffer.get(), c.capacity, c.format, c.text, c.number), c.result) << c.name;
        if (c.written) {
            EXPECT_EQ(buffer.Text(), c.written) << c.name;
        }
        EXPECT_EQ(buffer.TouchedFrom(c.untouchedFrom), buffer.chars.size()) << c.name;
    }
}

TEST(Formatter, BoundedPrintfFollowsTheWindowsConventions) {
    WCHAR text[64];
    EXPECT_EQ(StringCchPrintfW(text, 64, TEXT("[%s]"), TEXT("wide")), S_OK);
    EXPECT_EQ(std::u16string(text), u"[wide]");

    // l means 32 bits: each argument is read as one DWORD, the next one follows it.
    EXPECT_EQ(StringCchPrintfW(text, 64, TEXT("%lu %lu %08lx %08lx"), DWORD{4294967295U}, DWORD{7},
                               DWORD{0xDEADBEEF}, DWORD{0x41D}),
              S_OK);
    EXPECT_EQ(std::u16string(text), u"4294967295 7 deadbeef 0000041d");

    // The text log's timestamp; a field wider than its width is not cut.
    StringCchPrintfW(text, 64, TEXT("[%04lu%02lu%02lu-%02lu:%02lu:%02lu]"), DWORD{2026}, DWORD{3}, DWORD{14},
                     DWORD{9}, DWORD{130}, DWORD{0});
    EXPECT_EQ(std::u16string(text), u"[20260314-09:130:00]");
    StringCchPrintfW(text, 64, TEXT("%04lu|%lu|%%"), DWORD{7}, DWORD{0});
    EXPECT_EQ(std::u16string(text), u"0007|0|%");
}

TEST(Formatter, CopyAndCatCutToTheCapacity) {
    Buffer copy;
    EXPECT_EQ(StringCchCopyW(copy.get(), 4, TEXT("abc")), S_OK);
    EXPECT_EQ(copy.Text(), u"abc");
    EXPECT_EQ(StringCchCopyW(copy.get(), 4, TEXT("abcdef")), insufficientBuffer);
    EXPECT_EQ(copy.Text(), u"abc");
    EXPECT_EQ(copy.TouchedFrom(4), copy.chars.size());
    Buffer untouched;
    EXPECT_EQ(StringCchCopyW(untouched.get(), 0, TEXT("abc")), invalidParameter);
    EXPECT_EQ(untouched.TouchedFrom(0), untouched.chars.size());

    Buffer cat;
    ASSERT_EQ(StringCchCopyW(cat.get(), 6, TEXT("ab")), S_OK);
    EXPECT_EQ(StringCchCatW(cat.get(), 6, TEXT("cd")), S_OK);
    EXPECT_EQ(cat.Text(), u"abcd");
    EXPECT_EQ(StringCchCatW(cat.get(), 6, TEXT("efg")), insufficientBuffer);
    EXPECT_EQ(cat.Text(), u"abcde");
    EXPECT_EQ(cat.TouchedFrom(6), cat.chars.size());
}

TEST(Formatter, LstrlenCountsCharactersUpToTheTerminator) {
    EXPECT_EQ(lstrlenW(TEXT("")), 0);
    EXPECT_EQ(lstrlenW(TEXT("Noxel")), 5);
    EXPECT_EQ(lstrlenW(TEXT("ab\0cd")), 2);
    EXPECT_EQ(lstrlenW(nullptr), 0);  // Windows answers 0 for a null pointer
}
