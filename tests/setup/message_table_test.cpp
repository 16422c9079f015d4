// Built once per user-interface language; VARNOX_EXPECTED_LANGUAGE is the
// language that the test's environment selects.
#include <gtest/gtest.h>

#include "message_texts.h"
#include "messages.h"
#include "test_support.h"

namespace {

using test_support::to_utf8;

constexpr LANGID expected_language = VARNOX_EXPECTED_LANGUAGE;

// The environment must really select the language, or the checks below would
// compare English with English.
TEST(VARNOX_TABLE_SUITE, user_interface_language_is_the_one_under_test)
{
    EXPECT_EQ(expected_language, ::GetUserDefaultUILanguage());
}

// The caption "Warning" comes out in the user's language.
TEST(VARNOX_TABLE_SUITE, warning_caption_follows_the_user_interface_language)
{
    const std::wstring expected = expected_language == 1033 ? L"Warning" : L"\u8b66\u544a";
    EXPECT_EQ(to_utf8(expected), to_utf8(install::load_resource_string(IDS_WARNING)));
}

// Every id from 101 to 114 yields its text exactly as written for the language.
TEST(VARNOX_TABLE_SUITE, every_text_matches_the_language_table)
{
    ASSERT_EQ(14u, std::size(message_texts::expected_texts));
    for (const auto& row : message_texts::expected_texts) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(to_utf8(message_texts::text_in(row, expected_language)),
                  to_utf8(install::load_resource_string(row.id)));
    }
}

} // namespace
