// The native build's stand-ins for the Windows C runtime's wide printf and
// for the code page conversions.
#include <gtest/gtest.h>

#include <string>

#include "varnox/common/log.h"
#include "varnox/common/log_platform.h"
#include "varnox/windows/code_page.h"

namespace {

std::string utf8(const std::wstring& text) { return varnox::windows::to_code_page(text, CP_UTF8); }

} // namespace

// Formats written for the Windows C runtime (where %s takes wide text) give
// the text the Windows build gives.
TEST(format_wstring, follows_the_windows_c_runtime)
{
    EXPECT_EQ("archive(310) - x y ", utf8(varnox::format_wstring(L"%s(%d) - %s ", L"archive", 310, L"x y")));
    EXPECT_EQ("(0x0000002A) 7 narrow C w %", utf8(varnox::format_wstring(L"(0x%08X) %lu %S %C %c %%", 42u, 7ul,
                                                                          "narrow", 'C', L'w')));
    EXPECT_EQ("18446744073709551615 [  ab]", utf8(varnox::format_wstring(L"%I64u [%4s]", ~0ull, L"ab")));
    EXPECT_EQ("\xce\xa9mega", utf8(varnox::format_wstring(L"%s", L"\u03a9mega")));
    const std::wstring long_text(5000, L'x');
    EXPECT_EQ(5002u, varnox::format_wstring(L"<%s>", long_text.c_str()).size());
}

// The rewriting itself, conversion by conversion.
TEST(windows_format_for_posix, rewrites_only_the_text_conversions)
{
    const struct {
        const wchar_t* windows;
        const wchar_t* posix;
    } cases[] = {
        {L"%s", L"%ls"},     {L"%-12s", L"%-12ls"}, {L"%ls", L"%ls"},   {L"%ws", L"%ls"},   {L"%hs", L"%s"},
        {L"%S", L"%s"},      {L"%c", L"%lc"},       {L"%C", L"%c"},     {L"%lu", L"%lu"},   {L"%llu", L"%llu"},
        {L"%I64d", L"%lld"}, {L"%08X", L"%08X"},    {L"100%%", L"100%%"}, {L"%", L"%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.windows));
        EXPECT_EQ(utf8(c.posix), utf8(varnox::windows_format_for_posix(c.windows)));
    }
}

// UTF-8 is read strictly (no overlong forms, surrogates or values beyond
// U+10FFFF, no cut sequence); Windows-1252 stands in for the ANSI code page,
// its five unnamed bytes as the control characters of their value.
TEST(code_page, converts_exactly_or_not_at_all)
{
    using varnox::windows::from_code_page_exact;
    using varnox::windows::to_code_page_exact;
    const struct {
        const char* scenario;
        std::string bytes;
        UINT code_page;
        bool valid;
        std::wstring text;
    } cases[] = {
        {"UTF-8 of four widths", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", CP_UTF8, true, L"a\u00e9\u20ac\U0001F600"},
        {"overlong slash", "\xc0\xaf", CP_UTF8, false, L""},
        {"overlong three bytes", "\xe0\x80\xaf", CP_UTF8, false, L""},
        {"surrogate", "\xed\xa0\x80", CP_UTF8, false, L""},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", CP_UTF8, false, L""},
        {"cut sequence", "ab\xe2\x82", CP_UTF8, false, L""},
        {"lone continuation", "\x80", CP_UTF8, false, L""},
        {"1252 euro and e acute", "\x80\xe9", CP_ACP, true, L"\u20ac\u00e9"},
        {"1252 unnamed byte", "\x81", CP_ACP, true, L"\u0081"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto text = from_code_page_exact(c.bytes, c.code_page);
        ASSERT_EQ(c.valid, text.has_value());
        if (!c.valid)
            continue;
        EXPECT_TRUE(c.text == *text);
        const auto back = to_code_page_exact(*text, c.code_page);
        ASSERT_TRUE(back);
        EXPECT_EQ(c.bytes, *back);
    }
    EXPECT_FALSE(to_code_page_exact(L"\u03a9", CP_ACP));
    EXPECT_FALSE(to_code_page_exact(std::wstring(1, static_cast<wchar_t>(0xD800)), CP_UTF8));
}
