// The bounded formatter and the string operations with the formats and capacities the
// service uses (the ALR text, the log, the error events, the quoted path, the console),
// and their returns and cut texts at the limits.
#include <algorithm>
#include <cstdarg>
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

constexpr WCHAR unwritten = '#';

// The call's result code, then the text it leaves in a buffer of `capacity` characters
// and a few more, pre-filled so that a write past the capacity shows; or the text's
// length only.
template <typename Call>
std::string Filled(size_t capacity, Call call, bool lengthOnly = false) {
    std::vector<WCHAR> text(capacity + 8, unwritten);
    std::string shown = Hex(static_cast<DWORD>(call(text.data()))) + " ";
    const size_t length = std::find(text.begin(), text.end(), 0) - text.begin();
    if (length == text.size())
        shown += "not terminated";
    else
        shown += lengthOnly ? "length " + Number(static_cast<unsigned long>(length)) : Escape(text.data());
    for (size_t i = capacity; i < text.size(); ++i)
        if (text[i] != unwritten) return shown + ", written past the capacity";
    return shown;
}

template <typename... Arguments>
std::string Printf(size_t capacity, const WCHAR* format, Arguments... arguments) {
    return Filled(capacity,
                  [&](WCHAR* text) { return StringCchPrintfW(text, capacity, format, arguments...); });
}

// As the console formats: through StringCchVPrintfW.
HRESULT VPrintf(WCHAR* text, size_t capacity, const WCHAR* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const HRESULT result = StringCchVPrintfW(text, capacity, format, arguments);
    va_end(arguments);
    return result;
}

}  // namespace

void StringQuestions(Answers& answers) {
    answers.Add("StringCchPrintfW of the widest later ALR pair into 16",
                Printf(16, TEXT(",%lu,%lu"), DWORD{65535}, DWORD{65535}));
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

    answers.Add("StringCchPrintfW of 4 characters into 5", Printf(5, TEXT("%lu"), DWORD{1234}));
    answers.Add("StringCchPrintfW of 5 characters into 5", Printf(5, TEXT("%lu"), DWORD{12345}));
    // The console's capacity, and a text of 2000 characters.
    std::vector<WCHAR> longText(2001, 'x');
    longText.back() = 0;
    for (size_t length : {2000, 1023})
        answers.Add(
            "StringCchVPrintfW of " + Number(length) + " characters into 1024",
            Filled(
                1024, [&](WCHAR* text) { return VPrintf(text, 1024, TEXT("%s"), &longText[2000 - length]); },
                true));

    for (const WCHAR* copied : {TEXT("abc"), TEXT("abcd")})
        answers.Add("StringCchCopyW of " + Number(lstrlenW(copied)) + " characters into 4",
                    Filled(4, [&](WCHAR* text) { return StringCchCopyW(text, 4, copied); }));
    for (size_t capacity : {5, 4})
        answers.Add("StringCchCatW of ab and cd into " + Number(capacity), Filled(capacity, [&](WCHAR* text) {
                        StringCchCopyW(text, capacity, TEXT("ab"));
                        return StringCchCatW(text, capacity, TEXT("cd"));
                    }));
    answers.Add("lstrlenW of abc, and of an empty text",
                Number(lstrlenW(TEXT("abc"))) + ", " + Number(lstrlenW(TEXT(""))));

    // The console's conversion: a size query, then the conversion into that size.
    const WCHAR text[] = TEXT("Noxel_ALS_Service is installed.\n");
    const int length = lstrlenW(text);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string narrow(64, '#');
    const int converted = WideCharToMultiByte(CP_ACP, 0, text, length, &narrow[0], bytes, nullptr, nullptr);
    const bool same = narrow.substr(0, length + 1) == "Noxel_ALS_Service is installed.\n#";
    answers.Add("WideCharToMultiByte of 32 ASCII characters: the size, then the text",
                Number(bytes) + ", " + Number(converted) +
                    (same ? " bytes, the same, not terminated" : " bytes, another"));
}

}  // namespace conformance
