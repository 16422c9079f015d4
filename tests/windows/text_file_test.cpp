#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/text_file.h"

using test_support::temp_folder;
using varnox::windows::read_text_file;
using varnox::windows::read_whole_text_file;
using varnox::windows::text_file_read;
using varnox::windows::write_text_file;

// Line ends fold CR LF to LF on reading and back on writing; everything else, a byte-order mark
// and Ctrl-Z included, is text that comes back byte for byte.
TEST(text_file, reads_and_writes_utf8_with_crlf_line_ends)
{
    const struct {
        const char* scenario;
        std::string bytes;
        std::wstring text;
        std::string written; // what writing text gives
    } cases[] = {
        {"CR LF pairs", "[boot loader]\r\ntimeout=30\r\n", L"[boot loader]\ntimeout=30\n",
         "[boot loader]\r\ntimeout=30\r\n"},
        {"lone LF and lone CR", "a\nb\rc", L"a\nb\rc", "a\r\nb\rc"},
        {"CR CR LF keeps one CR", "a\r\r\nb", L"a\r\nb", "a\r\r\nb"},
        {"byte-order mark", "\xEF\xBB\xBFx\r\n", L"\xFEFFx\n", "\xEF\xBB\xBFx\r\n"},
        {"multi-byte characters", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", L"\x00E9\x4E2D\xD83D\xDE00",
         "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
        {"Ctrl-Z is not an end of file", std::string("a\x1A" "b"), L"a\x001A" L"b", std::string("a\x1A" "b")},
        {"empty file", "", L"", ""},
    };
    temp_folder folder;
    const std::wstring path = folder.file(L"text.ini");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test_support::write_file(path, c.bytes);
        std::wstring text = L"stale";
        ASSERT_EQ(text_file_read::complete, read_whole_text_file(path, text));
        EXPECT_EQ(c.text, text);
        EXPECT_EQ(c.text, read_text_file(path));

        ASSERT_TRUE(write_text_file(path, c.text));
        EXPECT_EQ(c.written, test_support::read_file(path));
    }
}

// Only well-formed UTF-8 decodes: overlong forms, surrogates, code points past U+10FFFF, stray or
// missing continuation bytes and single-byte code pages are refused.
TEST(text_file, strict_utf8)
{
    const struct {
        const char* scenario;
        std::string bytes;
        bool valid;
    } cases[] = {
        {"ASCII", "multi(0)disk(0)", true},
        {"last code point before the surrogates", "\xED\x9F\xBF", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"Windows-1252 text", "Syst\xE8me", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte form", "\xE0\x80\xAF", false},
        {"encoded surrogate", "\xED\xA0\x80", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead byte F5", "\xF5\x80\x80\x80", false},
        {"stray continuation byte", "a\x80", false},
        {"sequence cut by the end", "a\xE2\x82", false},
        {"sequence cut by ASCII", "\xE2\x82" "A", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::wstring text;
        EXPECT_EQ(c.valid, varnox::windows::decode_utf8(c.bytes, text));
    }
}

// A file that is not UTF-8, or that cannot be opened, gives no text at all and says why.
TEST(text_file, unreadable_and_invalid_files_give_no_text)
{
    temp_folder folder;
    const std::wstring latin = folder.file(L"latin.ini");
    test_support::write_file(latin, "[operating systems]\r\nC:\\=\"Syst\xE8me\"\r\n");
    std::wstring text = L"stale";
    EXPECT_EQ(text_file_read::not_utf8, read_whole_text_file(latin, text));
    EXPECT_EQ(L"", text);
    EXPECT_EQ(L"", read_text_file(latin));

    EXPECT_EQ(text_file_read::unreadable, read_whole_text_file(folder.file(L"missing.ini"), text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());

    const std::wstring held = folder.file(L"held.ini");
    test_support::write_file(held, "[boot loader]\r\n");
    {
        varnox::windows::unique_hfile holder(
            ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(text_file_read::unreadable, read_whole_text_file(held, text));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
        EXPECT_EQ(L"", read_text_file(held));
    }
}

// Writing truncates a longer file, and a file that cannot be created is reported with its error.
TEST(text_file, write_truncates_and_reports_failure)
{
    temp_folder folder;
    const std::wstring path = folder.file(L"text.ini");
    test_support::write_file(path, "a much longer content than what follows\r\n");
    ASSERT_TRUE(write_text_file(path, L"short\n"));
    EXPECT_EQ("short\r\n", test_support::read_file(path));

    EXPECT_FALSE(write_text_file(folder.file(L"missing\\text.ini"), L"x\n"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
}
