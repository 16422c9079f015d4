// The code page conversions of the native build for Linux, where wide
// strings hold UTF-32: UTF-8 and Windows-1252 (as CP_ACP), with the same
// promises as the Windows build's.
#include "varnox/windows/code_page.h"

#include <cerrno>

namespace varnox {
namespace windows {

namespace {

constexpr char32_t replacement = 0xFFFD;

// Windows-1252's bytes 0x80 to 0x9F; the five that name no character come
// back as the control character of their value, as Windows gives them.
constexpr char32_t windows_1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool is_scalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

bool to_1252(char32_t c, char& byte)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        byte = static_cast<char>(c);
        return true;
    }
    for (unsigned i = 0; i < 32; ++i) {
        if (windows_1252_high[i] == c) {
            byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

char32_t from_1252(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? windows_1252_high[byte - 0x80] : byte; }

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One character from text at i, advancing i; false on an invalid sequence
// (overlong forms, surrogates and values beyond U+10FFFF included), after
// which i stands past the first byte.
bool next_utf8(const std::string& text, std::size_t& i, char32_t& c)
{
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) {
        c = lead;
        return true;
    }
    unsigned length = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 1, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 2, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return false;
    }
    std::size_t at = i;
    for (unsigned k = 0; k < length; ++k, ++at) {
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
    }
    if (c < least || !is_scalar(c))
        return false;
    i = at;
    return true;
}

template <typename Result>
std::optional<Result> untranslatable()
{
    errno = EILSEQ;
    return std::nullopt;
}

} // namespace

std::string to_code_page(const std::wstring& text, UINT code_page)
{
    std::string converted;
    for (const wchar_t unit : text) {
        const char32_t c = static_cast<char32_t>(unit);
        if (code_page == CP_UTF8) {
            append_utf8(converted, is_scalar(c) ? c : replacement);
        } else if (code_page == CP_ACP) {
            char byte = '?';
            to_1252(c, byte);
            converted += byte;
        }
    }
    return converted;
}

std::wstring from_code_page(const std::string& text, UINT code_page)
{
    std::wstring converted;
    for (std::size_t i = 0; i < text.size();) {
        if (code_page == CP_UTF8) {
            char32_t c = 0;
            converted += static_cast<wchar_t>(next_utf8(text, i, c) ? c : replacement);
        } else if (code_page == CP_ACP) {
            converted += static_cast<wchar_t>(from_1252(static_cast<unsigned char>(text[i++])));
        } else {
            break;
        }
    }
    return converted;
}

std::optional<std::string> to_code_page_exact(const std::wstring& text, UINT code_page)
{
    if (code_page != CP_UTF8 && code_page != CP_ACP)
        return untranslatable<std::string>();
    std::string converted;
    for (const wchar_t unit : text) {
        const char32_t c = static_cast<char32_t>(unit);
        if (code_page == CP_UTF8) {
            if (!is_scalar(c))
                return untranslatable<std::string>();
            append_utf8(converted, c);
        } else {
            char byte = 0;
            if (!to_1252(c, byte))
                return untranslatable<std::string>();
            converted += byte;
        }
    }
    return converted;
}

std::optional<std::wstring> from_code_page_exact(const std::string& text, UINT code_page)
{
    if (code_page != CP_UTF8 && code_page != CP_ACP)
        return untranslatable<std::wstring>();
    std::wstring converted;
    for (std::size_t i = 0; i < text.size();) {
        if (code_page == CP_UTF8) {
            char32_t c = 0;
            if (!next_utf8(text, i, c))
                return untranslatable<std::wstring>();
            converted += static_cast<wchar_t>(c);
        } else {
            converted += static_cast<wchar_t>(from_1252(static_cast<unsigned char>(text[i++])));
        }
    }
    return converted;
}

} // namespace windows
} // namespace varnox
