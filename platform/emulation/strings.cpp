// Wide-string operations and the Win32 bounded formatter: %s takes a wide string, the
// l prefix means 32 bits (as on Windows, where long is 32 bits), and the formatter
// keeps the StringCchPrintfW contract.
#include <cstdlib>
#include <string>

#include "platform/emulation/state.h"
#include "platform/strings.h"

using namespace emu;
using namespace emu::detail;

namespace {

void Pad(std::u16string& out, const std::u16string& body, size_t width, bool left, char16_t fill) {
    if (body.size() >= width) {
        out += body;
        return;
    }
    const std::u16string padding(width - body.size(), fill);
    if (left) {
        out += body;
        out += std::u16string(width - body.size(), u' ');
    } else if (fill == u'0' && !body.empty() && body[0] == u'-') {
        out += u'-';
        out += padding;
        out.append(body, 1);
    } else {
        out += padding;
        out += body;
    }
}

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value != 0);
    return text;
}

// Formats like the Windows wide formatters. Returns false on a format it does not
// know; what was formatted up to there stays in `out`.
bool Format(std::u16string& out, const WCHAR* format, va_list args) {
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        bool left = false;
        char16_t fill = u' ';
        for (;; ++p) {
            if (*p == u'-')
                left = true;
            else if (*p == u'0')
                fill = u'0';
            else
                break;
        }
        size_t width = 0;
        if (*p == u'*') {
            width = static_cast<size_t>(va_arg(args, int));
            ++p;
        }
        while (*p >= u'0' && *p <= u'9') width = width * 10 + static_cast<size_t>(*p++ - u'0');
        std::optional<size_t> precision;
        if (*p == u'.') {
            ++p;
            precision = 0;
            while (*p >= u'0' && *p <= u'9') *precision = *precision * 10 + static_cast<size_t>(*p++ - u'0');
        }
        bool wide64 = false;
        if (*p == u'l') {
            ++p;  // 32 bits, as on Windows
        } else if (*p == u'h') {
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            wide64 = true;
            p += 3;
        }
        std::u16string body;
        switch (*p) {
            case u's': {
                const WCHAR* text = va_arg(args, const WCHAR*);
                body = text ? std::u16string(text) : std::u16string(u"(null)");
                if (precision && body.size() > *precision) body.resize(*precision);
                fill = u' ';
                break;
            }
            case u'c':
                body = static_cast<char16_t>(va_arg(args, int));
                fill = u' ';
                break;
            case u'd':
            case u'i': {
                const int64_t value = wide64 ? va_arg(args, int64_t) : va_arg(args, int32_t);
                body = value < 0 ? u"-" + Digits(static_cast<uint64_t>(-(value + 1)) + 1, 10, false)
                                 : Digits(static_cast<uint64_t>(value), 10, false);
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                const uint64_t value = wide64 ? va_arg(args, uint64_t) : va_arg(args, uint32_t);
                body = Digits(value, *p == u'u' ? 10 : 16, *p == u'X');
                break;
            }
            default: return false;
        }
        if (left) fill = u' ';
        Pad(out, body, width, left, fill);
    }
    return true;
}

}  // namespace

int WINAPI lstrlenW(LPCWSTR string) { return static_cast<int>(WideLength(string)); }

HRESULT StringCchVPrintfW(LPWSTR dest, size_t capacity, LPCWSTR format, va_list args) {
    if (capacity == 0 || capacity > STRSAFE_MAX_CCH) {
        if (capacity != 0) dest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    std::u16string text;
    const bool formatted = Format(text, format, args);
    const bool fits = formatted && text.size() <= capacity - 1;
    if (text.size() > capacity - 1) text.resize(capacity - 1);
    text.copy(dest, text.size());
    dest[text.size()] = 0;
    return fits ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

HRESULT StringCchPrintfW(LPWSTR dest, size_t capacity, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const HRESULT result = StringCchVPrintfW(dest, capacity, format, args);
    va_end(args);
    return result;
}

HRESULT StringCchCopyW(LPWSTR dest, size_t capacity, LPCWSTR source) {
    if (capacity == 0 || capacity > STRSAFE_MAX_CCH) {
        if (capacity != 0) dest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t i = 0;
    for (; i < capacity - 1 && source[i]; ++i) dest[i] = source[i];
    const bool whole = source[i] == 0;
    dest[i] = 0;
    return whole ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

HRESULT StringCchCatW(LPWSTR dest, size_t capacity, LPCWSTR source) {
    if (capacity == 0 || capacity > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
    size_t length = 0;
    while (length < capacity && dest[length]) ++length;
    if (length == capacity) return STRSAFE_E_INVALID_PARAMETER;  // destination not terminated
    return StringCchCopyW(dest + length, capacity - length, source);
}

HRESULT StringCchLengthW(LPCWSTR string, size_t maxCapacity, size_t* length) {
    if (!string || maxCapacity == 0 || maxCapacity > STRSAFE_MAX_CCH) {
        if (length) *length = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t count = 0;
    while (count < maxCapacity && string[count]) ++count;
    if (count == maxCapacity) {
        if (length) *length = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    if (length) *length = count;
    return S_OK;
}

// The emulation's ANSI code page is UTF-8.
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR narrow,
                               int narrowBytes, LPCSTR defaultChar, BOOL* usedDefault) {
    (void)codePage, (void)flags, (void)defaultChar;
    if (usedDefault) *usedDefault = FALSE;
    const size_t count = wideCount < 0 ? WideLength(wide) + 1 : static_cast<size_t>(wideCount);
    const std::string text = emu::Narrow(std::u16string_view(wide, count));
    if (narrowBytes == 0) return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(narrowBytes)) return FailWith(ERROR_INSUFFICIENT_BUFFER, 0);
    text.copy(narrow, text.size());
    return static_cast<int>(text.size());
}

namespace emu {

String Wide(std::string_view utf8) {
    String out;
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        uint32_t code = byte;
        size_t extra = 0;
        if (byte >= 0xF0)
            code = byte & 0x07, extra = 3;
        else if (byte >= 0xE0)
            code = byte & 0x0F, extra = 2;
        else if (byte >= 0xC0)
            code = byte & 0x1F, extra = 1;
        ++i;
        for (; extra > 0 && i < utf8.size(); --extra, ++i)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

std::string Narrow(std::u16string_view wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t code = wide[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace emu
