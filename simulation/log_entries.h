// The text log read back as the service writes it: UTF-16LE, each entry a timestamp
// [YYYYMMDD-HH:MM:SS] followed by its message. Shared by the fault sweep and the
// firmware fuzzer, which both judge whether a log is made of whole entries, and by the
// simulator's report, which places the entries in time.
#pragma once

#include <string>
#include <vector>

#include "platform/emulation/emulation.h"

namespace logentries {

inline constexpr size_t timestampLength = 19;

inline bool Digits(const std::u16string& text, size_t at, size_t count, unsigned maximum,
                   unsigned minimum = 0) {
    unsigned value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        value = value * 10 + (text[i] - u'0');
    }
    return value >= minimum && value <= maximum;
}

inline bool TimestampAt(const std::u16string& text, size_t at) {
    return at + timestampLength <= text.size() && text[at] == u'[' && Digits(text, at + 1, 4, 9999) &&
           Digits(text, at + 5, 2, 12, 1) && Digits(text, at + 7, 2, 31, 1) && text[at + 9] == u'-' &&
           Digits(text, at + 10, 2, 23) && text[at + 12] == u':' && Digits(text, at + 13, 2, 59) &&
           text[at + 15] == u':' && Digits(text, at + 16, 2, 59) && text[at + 18] == u']';
}

// The messages of the entries, each running up to the next timestamp; `fault` says what
// breaks the layout (an odd byte count, text without its timestamp) and is empty if
// nothing does.
struct Entries {
    std::vector<std::u16string> timestamps;  // each entry's, brackets included
    std::vector<std::u16string> messages;
    std::string fault;
};

inline Entries Read(const emu::Bytes& bytes) {
    Entries entries;
    if (bytes.size() % 2 != 0) {
        entries.fault = "odd byte count " + std::to_string(bytes.size());
        return entries;
    }
    const std::u16string text = emu::Utf16Text(bytes);
    for (size_t at = 0; at < text.size();) {
        if (!TimestampAt(text, at)) {
            entries.fault = "no timestamp at character " + std::to_string(at);
            return entries;
        }
        size_t next = at + timestampLength;
        while (next < text.size() && !TimestampAt(text, next)) ++next;
        entries.timestamps.push_back(text.substr(at, timestampLength));
        entries.messages.push_back(text.substr(at + timestampLength, next - at - timestampLength));
        at = next;
    }
    return entries;
}

}  // namespace logentries
