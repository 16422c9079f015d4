#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "test_support.h"
#include "varnox/windows/code_page.h"

using test_support::to_utf8;
using varnox::windows::from_code_page_exact;
using varnox::windows::to_code_page_exact;

namespace {

// Bytes as C escapes, for failure messages.
std::string escaped(const std::string& bytes)
{
    std::string shown;
    for (const unsigned char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, c < 0x20 || c >= 0x7F ? "\\x%02x" : "%c", c);
        shown += hex;
    }
    return shown;
}

} // namespace

// Paths and names go into a code page only as they are: characters it lacks
// make the conversion fail instead of turning into look-alikes (the full-width
// dots that became "..") or the default character, while the display
// conversion keeps its look-alikes. The machine's ANSI code page is 1252.
TEST(code_page, exact_narrowing_refuses_what_the_code_page_cannot_hold)
{
    ASSERT_EQ(1252u, ::GetACP());
    const struct {
        const wchar_t* text;
        UINT code_page;
        std::optional<std::string> exact;
    } cases[] = {
        {L"", CP_ACP, std::string()},
        {L"C:\\Temp\\client.msi", CP_ACP, std::string("C:\\Temp\\client.msi")},
        {L"caf\u00e9 \u00a9 \u20ac", CP_ACP, std::string("caf\xe9 \xa9 \x80")},
        {L"C:\\out\uff0e\uff0e", CP_ACP, std::nullopt},
        {L"\u03a9", CP_ACP, std::nullopt},
        {L"\u0416\u0443\u043a", CP_ACP, std::nullopt},
        {L"a\u2215b", CP_ACP, std::nullopt},
        {L"\u3042", 932, std::string("\x82\xa0")},
        {L"\u00e9", 932, std::nullopt},
        {L"\u0416", CP_UTF8, std::string("\xd0\x96")},
        {L"\xd83d\xde00", CP_UTF8, std::string("\xf0\x9f\x98\x80")},
        {L"a\xd800", CP_UTF8, std::nullopt},
        {L"\xdc00z", CP_UTF8, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.text) + " in code page " + std::to_string(c.code_page));
        ::SetLastError(0);
        const std::optional<std::string> converted = to_code_page_exact(c.text, c.code_page);
        ASSERT_EQ(c.exact.has_value(), converted.has_value()) << escaped(converted.value_or(""));
        if (c.exact) {
            EXPECT_EQ(escaped(*c.exact), escaped(*converted));
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), ::GetLastError());
        }
    }
    // What the exact conversion saves the paths from.
    EXPECT_EQ("C:\\out..", varnox::windows::to_code_page(L"C:\\out\uff0e\uff0e", CP_ACP));
    EXPECT_EQ("O", varnox::windows::to_code_page(L"\u03a9", CP_ACP));
}

// Bytes become text only when they are valid in their code page.
TEST(code_page, exact_widening_refuses_invalid_bytes)
{
    const struct {
        const char* bytes;
        UINT code_page;
        std::optional<std::wstring> exact;
    } cases[] = {
        {"", CP_ACP, std::wstring()},
        {"r\xe9sum\xe9.txt", CP_ACP, std::wstring(L"r\u00e9sum\u00e9.txt")},
        {"\xd0\x96\xd1\x83\xd0\xba", CP_UTF8, std::wstring(L"\u0416\u0443\u043a")},
        {"caf\xe9", CP_UTF8, std::nullopt},
        {"\xc3\x28", CP_UTF8, std::nullopt},
        {"\xed\xa0\x80", CP_UTF8, std::nullopt},
        {"\x82\xa0", 932, std::wstring(L"\u3042")},
        {"a\x82", 932, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escaped(c.bytes) + " in code page " + std::to_string(c.code_page));
        ::SetLastError(0);
        const std::optional<std::wstring> converted = from_code_page_exact(c.bytes, c.code_page);
        ASSERT_EQ(c.exact.has_value(), converted.has_value()) << to_utf8(converted.value_or(L""));
        if (c.exact) {
            EXPECT_EQ(to_utf8(*c.exact), to_utf8(*converted));
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), ::GetLastError());
        }
    }
}
