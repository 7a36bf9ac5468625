// The Win32 string formatters as the service uses them: the bounded formatter's result
// codes and cuts, and the wsprintfW conventions (%s wide, l meaning 32 bits).
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "platform/types.h"

namespace {

const HRESULT invalidParameter = static_cast<HRESULT>(0x80070057U);
const HRESULT insufficientBuffer = static_cast<HRESULT>(0x8007007AU);
const WCHAR sentinel = u'#';

// Pre-filled with the sentinel, so that any write past the terminator shows.
struct Buffer {
    std::array<WCHAR, 16> chars;
    Buffer() { chars.fill(sentinel); }
    WCHAR* get() { return chars.data(); }
    std::u16string Text() const { return std::u16string(chars.data()); }
    bool UntouchedFrom(size_t index) const {
        for (size_t i = index; i < chars.size(); ++i)
            if (chars[i] != sentinel) return false;
        return true;
    }
};

}  // namespace

TEST(Formatter, InvalidCapacityFormatsNothing) {
    Buffer zero;
    EXPECT_EQ(StringCchPrintfW(zero.get(), 0, TEXT("%s"), TEXT("text")), invalidParameter);
    EXPECT_TRUE(zero.UntouchedFrom(0));

    // Above 0x7FFFFFFF characters the capacity is refused, but the destination is emptied.
    Buffer huge;
    EXPECT_EQ(StringCchPrintfW(huge.get(), size_t{0x80000000}, TEXT("%s"), TEXT("text")),
              invalidParameter);
    EXPECT_EQ(huge.chars[0], u'\0');
    EXPECT_TRUE(huge.UntouchedFrom(1));

    Buffer largest;
    EXPECT_EQ(StringCchPrintfW(largest.get(), size_t{0x7FFFFFFF}, TEXT("%s"), TEXT("text")), S_OK);
    EXPECT_EQ(largest.Text(), u"text");
    EXPECT_TRUE(largest.UntouchedFrom(5));
}

TEST(Formatter, TextThatFitsStaysWhole) {
    Buffer exact;
    EXPECT_EQ(StringCchPrintfW(exact.get(), 6, TEXT("%s%lu"), TEXT("abcd"), DWORD{7}), S_OK);
    EXPECT_EQ(exact.Text(), u"abcd7");
    EXPECT_TRUE(exact.UntouchedFrom(6));

    WCHAR message[260];
    EXPECT_EQ(StringCchPrintfW(message, 260, TEXT("%s failed w/err 0x%08lx"), TEXT("Service Stop"),
                               DWORD{1053}),
              S_OK);
    EXPECT_EQ(std::u16string(message), u"Service Stop failed w/err 0x0000041d");
}

TEST(Formatter, TextThatDoesNotFitIsCutAndTerminated) {
    Buffer one;
    EXPECT_EQ(StringCchPrintfW(one.get(), 1, TEXT("%s"), TEXT("x")), insufficientBuffer);
    EXPECT_EQ(one.chars[0], u'\0');
    EXPECT_TRUE(one.UntouchedFrom(1));

    Buffer cut;
    EXPECT_EQ(StringCchPrintfW(cut.get(), 6, TEXT("%s-%lu"), TEXT("abcd"), DWORD{123}), insufficientBuffer);
    EXPECT_EQ(cut.Text(), u"abcd-");
    EXPECT_TRUE(cut.UntouchedFrom(6));

    Buffer error;
    EXPECT_EQ(StringCchPrintfW(error.get(), 16, TEXT("%s failed w/err 0x%08lx"), TEXT("Op"), DWORD{5}),
              insufficientBuffer);  // 26 characters in 15
    EXPECT_EQ(error.Text(), u"Op failed w/err");

    // An empty text fits even the smallest buffer.
    Buffer empty;
    EXPECT_EQ(StringCchPrintfW(empty.get(), 1, TEXT("%s"), TEXT("")), S_OK);
    EXPECT_EQ(empty.chars[0], u'\0');
    EXPECT_TRUE(empty.UntouchedFrom(1));
}

TEST(Formatter, WsprintfFollowsTheWindowsConventions) {
    WCHAR text[64];
    EXPECT_EQ(wsprintfW(text, TEXT("[%s]"), TEXT("wide")), 6);
    EXPECT_EQ(std::u16string(text), u"[wide]");

    // l means 32 bits: each argument is read as one DWORD, the next one follows it.
    EXPECT_EQ(wsprintfW(text, TEXT("%lu %lu %08lx %08lx"), DWORD{4294967295U}, DWORD{7},
                        DWORD{0xDEADBEEF}, DWORD{0x41D}),
              30);
    EXPECT_EQ(std::u16string(text), u"4294967295 7 deadbeef 0000041d");

    wsprintfW(text, TEXT("%04lu/%02lu/%02lu %02lu:%02lu:%02lu"), DWORD{2026}, DWORD{3}, DWORD{14},
              DWORD{9}, DWORD{130}, DWORD{0});
    EXPECT_EQ(std::u16string(text), u"2026/03/14 09:130:00");
    wsprintfW(text, TEXT("%04lu|%lu|%%"), DWORD{7}, DWORD{0});
    EXPECT_EQ(std::u16string(text), u"0007|0|%");
}

TEST(Formatter, WsprintfWritesAtMost1024Characters) {
    const std::u16string longText(2000, u'x');
    std::array<WCHAR, 1100> text;
    text.fill(sentinel);
    wsprintfW(text.data(), TEXT("%s"), longText.c_str());
    EXPECT_LE(lstrlenW(text.data()), 1023);
    for (size_t i = 1024; i < text.size(); ++i) ASSERT_EQ(text[i], sentinel) << i;
}

TEST(Formatter, CopyAndCatCutToTheCapacity) {
    Buffer copy;
    EXPECT_EQ(StringCchCopyW(copy.get(), 4, TEXT("abc")), S_OK);
    EXPECT_EQ(copy.Text(), u"abc");
    EXPECT_EQ(StringCchCopyW(copy.get(), 4, TEXT("abcdef")), insufficientBuffer);
    EXPECT_EQ(copy.Text(), u"abc");
    EXPECT_TRUE(copy.UntouchedFrom(4));

    Buffer untouched;
    EXPECT_EQ(StringCchCopyW(untouched.get(), 0, TEXT("abc")), invalidParameter);
    EXPECT_TRUE(untouched.UntouchedFrom(0));

    Buffer cat;
    ASSERT_EQ(StringCchCopyW(cat.get(), 6, TEXT("ab")), S_OK);
    EXPECT_EQ(StringCchCatW(cat.get(), 6, TEXT("cd")), S_OK);
    EXPECT_EQ(cat.Text(), u"abcd");
    EXPECT_EQ(StringCchCatW(cat.get(), 6, TEXT("efg")), insufficientBuffer);
    EXPECT_EQ(cat.Text(), u"abcde");
    EXPECT_TRUE(cat.UntouchedFrom(6));
}

TEST(Formatter, LstrlenCountsCharactersUpToTheTerminator) {
    EXPECT_EQ(lstrlenW(TEXT("")), 0);
    EXPECT_EQ(lstrlenW(TEXT("Noxel")), 5);
    EXPECT_EQ(lstrlenW(TEXT("ab\0cd")), 2);
    EXPECT_EQ(lstrlenW(nullptr), 0);  // Windows answers 0 for a null pointer
}
