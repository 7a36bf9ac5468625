// Wide-string operations, the conversion to the code page (UTF-8 here), and the Win32
// bounded formatter: %s takes a wide string, the l prefix means 32 bits (as on
// Windows, where long is 32 bits), and the formatter keeps the StringCchPrintfW
// contract.
#include <string>

#include "platform/emulation/state.h"
#include "platform/strings.h"

using namespace emu;
using namespace emu::detail;

namespace {

// Right-aligned in `width`, as every field the service formats is.
void Pad(std::u16string& out, const std::u16string& body, size_t width, char16_t fill) {
    if (body.size() < width) out.append(width - body.size(), fill);
    out += body;
}

std::u16string Digits(uint32_t value, unsigned base) {
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u"0123456789abcdef"[value % base]));
        value /= base;
    } while (value != 0);
    return text;
}

// Formats like the Windows wide formatters, for the conversions the service uses: %s,
// %lu and %lx, with a width and the 0 flag. Returns false on a format it does not
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
        char16_t fill = u' ';
        for (; *p == u'0'; ++p) fill = u'0';
        size_t width = 0;
        while (*p >= u'0' && *p <= u'9') width = width * 10 + static_cast<size_t>(*p++ - u'0');
        if (*p == u'l') ++p;  // 32 bits, as on Windows
        std::u16string body;
        switch (*p) {
            case u's': {
                const WCHAR* text = va_arg(args, const WCHAR*);
                body = text ? std::u16string(text) : std::u16string(u"(null)");
                fill = u' ';
                break;
            }
            case u'u': body = Digits(va_arg(args, uint32_t), 10); break;
            case u'x': body = Digits(va_arg(args, uint32_t), 16); break;
            default: return false;
        }
        Pad(out, body, width, fill);
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
