// The bounded formatter and the string operations with the formats and capacities the
// service uses: the ALR text's pairs, the log's timestamp and lines, the error events,
// the quoted path, the console's text; and their returns and cut texts at the limits.
#include <cstdarg>
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

constexpr WCHAR unwritten = '#';

// A buffer of `capacity` characters and a few more, pre-filled so that a write past
// the capacity shows.
class Buffer {
public:
    explicit Buffer(size_t capacity) : capacity_(capacity), text_(capacity + 8, unwritten) {}
    WCHAR* get() { return text_.data(); }
    size_t capacity() const { return capacity_; }

    // The result code, then the text (or how long it is), then whether anything past the
    // capacity changed.
    std::string Shown(HRESULT result, bool lengthOnly = false) const {
        std::string shown = Hex(static_cast<DWORD>(result)) + " ";
        size_t length = 0;
        while (length < text_.size() && text_[length] != 0) ++length;
        if (length == text_.size())
            shown += "not terminated";
        else if (lengthOnly)
            shown += "length " + Number(static_cast<unsigned long>(length));
        else if (length == 0 && text_[0] == 0)
            shown += "empty";
        else
            shown += Escape(text_.data(), length);
        if (text_[0] == unwritten) shown = Hex(static_cast<DWORD>(result)) + " untouched";
        for (size_t i = capacity_; i < text_.size(); ++i)
            if (text_[i] != unwritten) return shown + ", written past the capacity";
        return shown;
    }

private:
    size_t capacity_;
    std::vector<WCHAR> text_;
};

// As the console formats: through StringCchVPrintfW.
HRESULT FormatList(WCHAR* dest, size_t capacity, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const HRESULT result = StringCchVPrintfW(dest, capacity, format, args);
    va_end(args);
    return result;
}

}  // namespace

void FormatterQuestions(Answers& answers) {
    {
        Buffer pair(16);
        answers.Add("StringCchPrintfW of the first ALR pair into 16",
                    pair.Shown(StringCchPrintfW(pair.get(), 16, TEXT("%lu,%lu"), DWORD{5}, DWORD{10})));
    }
    {
        Buffer pair(16);
        answers.Add(
            "StringCchPrintfW of the widest later ALR pair into 16",
            pair.Shown(StringCchPrintfW(pair.get(), 16, TEXT(",%lu,%lu"), DWORD{65535}, DWORD{65535})));
    }
    {
        Buffer number(512);
        answers.Add("StringCchPrintfW of the largest DWORD with %lu",
                    number.Shown(StringCchPrintfW(number.get(), 512, TEXT("%lu"), DWORD{4294967295U})));
    }
    {
        Buffer line(512);
        answers.Add("StringCchPrintfW of the ALR failure's code and text",
                    line.Shown(StringCchPrintfW(line.get(), 512, TEXT("%lu: %s"), DWORD{203},
                                                TEXT("Environment variable not found.\r\n"))));
    }
    {
        Buffer entry(256 + 1024);
        answers.Add("StringCchPrintfW of a text-log entry",
                    entry.Shown(StringCchPrintfW(
                        entry.get(), 256 + 1024, TEXT("[%04lu%02lu%02lu-%02lu:%02lu:%02lu]%s"), DWORD{2026},
                        DWORD{3}, DWORD{14}, DWORD{9}, DWORD{30}, DWORD{5}, TEXT("SOURCE LUX: 1000\r\n"))));
    }
    {
        Buffer entry(64);
        answers.Add("StringCchPrintfW of fields wider than their widths",
                    entry.Shown(StringCchPrintfW(entry.get(), 64, TEXT("%%|%04lu|%02lu|%02lu"), DWORD{7},
                                                 DWORD{3}, DWORD{130})));
    }
    {
        Buffer message(260);
        answers.Add("StringCchPrintfW of an error event's text",
                    message.Shown(StringCchPrintfW(message.get(), 260, TEXT("%s failed w/err 0x%08lx"),
                                                   TEXT("Service Start"), DWORD{0x431})));
    }
    {
        Buffer quoted(MAX_PATH + 2);
        answers.Add("StringCchPrintfW of the quoted path",
                    quoted.Shown(StringCchPrintfW(quoted.get(), MAX_PATH + 2, TEXT("\"%s\""),
                                                  TEXT("C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe"))));
    }
    {
        Buffer small(5);
        answers.Add("StringCchPrintfW of 6 characters into 5",
                    small.Shown(StringCchPrintfW(small.get(), 5, TEXT("%s"), TEXT("abcdef"))));
    }
    {
        Buffer small(5);
        answers.Add("StringCchPrintfW of 4 characters into 5",
                    small.Shown(StringCchPrintfW(small.get(), 5, TEXT("%lu"), DWORD{1234})));
    }
    {
        Buffer small(5);
        answers.Add("StringCchPrintfW of 5 characters into 5",
                    small.Shown(StringCchPrintfW(small.get(), 5, TEXT("%lu"), DWORD{12345})));
    }
    {
        Buffer none(0);
        answers.Add("StringCchPrintfW into 0",
                    none.Shown(StringCchPrintfW(none.get(), 0, TEXT("%lu"), DWORD{1})));
    }
    {
        // The console's capacity, and a text of 2000 characters.
        const std::vector<WCHAR> longText = [] {
            std::vector<WCHAR> text(2001, 'x');
            text.back() = 0;
            return text;
        }();
        Buffer console(1024);
        answers.Add("StringCchVPrintfW of 2000 characters into 1024",
                    console.Shown(FormatList(console.get(), 1024, TEXT("%s"), longText.data()), true));
        Buffer exact(1024);
        answers.Add(
            "StringCchVPrintfW of 1023 characters into 1024",
            exact.Shown(FormatList(exact.get(), 1024, TEXT("%s"), longText.data() + 2000 - 1023), true));
    }

    const struct {
        const char* question;
        size_t capacity;
        const WCHAR* text;
    } copies[] = {
        {"StringCchCopyW of 3 characters into 4", 4, TEXT("abc")},
        {"StringCchCopyW of 4 characters into 4", 4, TEXT("abcd")},
    };
    for (const auto& copy : copies) {
        Buffer buffer(copy.capacity);
        answers.Add(copy.question, buffer.Shown(StringCchCopyW(buffer.get(), copy.capacity, copy.text)));
    }
    const struct {
        const char* question;
        size_t capacity;
    } cats[] = {
        {"StringCchCatW of ab and cd into 5", 5},
        {"StringCchCatW of ab and cd into 4", 4},
    };
    for (const auto& cat : cats) {
        Buffer buffer(cat.capacity);
        StringCchCopyW(buffer.get(), cat.capacity, TEXT("ab"));
        answers.Add(cat.question, buffer.Shown(StringCchCatW(buffer.get(), cat.capacity, TEXT("cd"))));
    }

    answers.Add("lstrlenW of abc", Number(static_cast<unsigned long>(lstrlenW(TEXT("abc")))));
    answers.Add("lstrlenW of an empty text", Number(static_cast<unsigned long>(lstrlenW(TEXT("")))));
}

}  // namespace conformance
