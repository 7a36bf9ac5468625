// The bounded formatter and the string operations with the formats and capacities the
// service uses: the ALR text's pairs, the log's timestamp and lines, the error events,
// the quoted path, the console's text; and their returns and cut texts at the limits.
#include <algorithm>
#include <cstdarg>
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

constexpr WCHAR unwritten = '#';

// A buffer of `capacity` characters and a few more, pre-filled so that a write past the
// capacity shows. A capacity beyond what is ever written gets 2048 real characters.
class Buffer {
public:
    explicit Buffer(size_t capacity)
        : capacity_(capacity), text_(std::min<size_t>(capacity, 2048) + 8, unwritten) {}
    WCHAR* get() { return text_.data(); }

    // The result code, then the text (or how long it is), then whether anything past the
    // capacity changed.
    std::string Shown(HRESULT result, bool lengthOnly = false) const {
        std::string shown = Hex(static_cast<DWORD>(result)) + " ";
        const size_t length = std::find(text_.begin(), text_.end(), 0) - text_.begin();
        if (text_[0] == unwritten)
            shown += "untouched";
        else if (length == text_.size())
            shown += "not terminated";
        else if (lengthOnly)
            shown += "length " + Number(static_cast<unsigned long>(length));
        else
            shown += length == 0 ? "empty" : Escape(text_.data(), length);
        for (size_t i = capacity_; i < text_.size(); ++i)
            if (text_[i] != unwritten) return shown + ", written past the capacity";
        return shown;
    }

private:
    size_t capacity_;
    std::vector<WCHAR> text_;
};

template <typename... Arguments>
std::string Printf(size_t capacity, const WCHAR* format, Arguments... arguments) {
    Buffer buffer(capacity);
    return buffer.Shown(StringCchPrintfW(buffer.get(), capacity, format, arguments...));
}

// As the console formats: through StringCchVPrintfW. The length only.
std::string VPrintf(size_t capacity, const WCHAR* format, ...) {
    Buffer buffer(capacity);
    va_list arguments;
    va_start(arguments, format);
    const HRESULT result = StringCchVPrintfW(buffer.get(), capacity, format, arguments);
    va_end(arguments);
    return buffer.Shown(result, true);
}

std::string Copy(size_t capacity, const WCHAR* text) {
    Buffer buffer(capacity);
    return buffer.Shown(StringCchCopyW(buffer.get(), capacity, text));
}

std::string Cat(size_t capacity, const WCHAR* first, const WCHAR* second) {
    Buffer buffer(capacity);
    StringCchCopyW(buffer.get(), capacity, first);
    return buffer.Shown(StringCchCatW(buffer.get(), capacity, second));
}

}  // namespace

void FormatterQuestions(Answers& answers) {
    answers.Add("StringCchPrintfW of the first ALR pair into 16",
                Printf(16, TEXT("%lu,%lu"), DWORD{5}, DWORD{10}));
    answers.Add("StringCchPrintfW of the widest later ALR pair into 16",
                Printf(16, TEXT(",%lu,%lu"), DWORD{65535}, DWORD{65535}));
    // l means 32 bits: each argument is read as one DWORD, the next one after it.
    answers.Add("StringCchPrintfW of four DWORDs with %lu and %08lx",
                Printf(512, TEXT("%lu %lu %08lx %08lx"), DWORD{4294967295U}, DWORD{7}, DWORD{0xDEADBEEF},
                       DWORD{0x41D}));
    answers.Add("StringCchPrintfW of the ALR failure's code and text",
                Printf(512, TEXT("%lu: %s"), DWORD{203}, TEXT("Environment variable not found.\r\n")));
    answers.Add("StringCchPrintfW of a text-log entry",
                Printf(256 + 1024, TEXT("[%04lu%02lu%02lu-%02lu:%02lu:%02lu]%s"), DWORD{2026}, DWORD{3},
                       DWORD{14}, DWORD{9}, DWORD{30}, DWORD{5}, TEXT("SOURCE LUX: 1000\r\n")));
    answers.Add("StringCchPrintfW of an error event's text",
                Printf(260, TEXT("%s failed w/err 0x%08lx"), TEXT("Service Start"), DWORD{0x431}));
    answers.Add("StringCchPrintfW of the quoted path",
                Printf(MAX_PATH + 2, TEXT("\"%s\""), TEXT("C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe")));

    // A text that does not fit is cut and terminated inside the capacity.
    answers.Add("StringCchPrintfW of 6 characters into 5", Printf(5, TEXT("%s"), TEXT("abcdef")));
    answers.Add("StringCchPrintfW of 4 characters into 5", Printf(5, TEXT("%lu"), DWORD{1234}));
    answers.Add("StringCchPrintfW of 5 characters into 5", Printf(5, TEXT("%lu"), DWORD{12345}));
    answers.Add("StringCchPrintfW into 0", Printf(0, TEXT("%lu"), DWORD{1}));
    answers.Add("StringCchPrintfW into 0x7fffffff", Printf(0x7FFFFFFF, TEXT("%s"), TEXT("text")));
    answers.Add("StringCchPrintfW into 0x80000000", Printf(size_t{0x80000000}, TEXT("%s"), TEXT("text")));
    // The console's capacity, and a text of 2000 characters.
    std::vector<WCHAR> longText(2001, 'x');
    longText.back() = 0;
    answers.Add("StringCchVPrintfW of 2000 characters into 1024", VPrintf(1024, TEXT("%s"), longText.data()));
    answers.Add("StringCchVPrintfW of 1023 characters into 1024",
                VPrintf(1024, TEXT("%s"), longText.data() + 2000 - 1023));

    answers.Add("StringCchCopyW of 3 characters into 4", Copy(4, TEXT("abc")));
    answers.Add("StringCchCopyW of 4 characters into 4", Copy(4, TEXT("abcd")));
    answers.Add("StringCchCatW of ab and cd into 5", Cat(5, TEXT("ab"), TEXT("cd")));
    answers.Add("StringCchCatW of ab and cd into 4", Cat(4, TEXT("ab"), TEXT("cd")));

    answers.Add("lstrlenW of abc", Number(lstrlenW(TEXT("abc"))));
    answers.Add("lstrlenW of an empty text", Number(lstrlenW(TEXT(""))));
}

}  // namespace conformance
