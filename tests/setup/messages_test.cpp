#include <gtest/gtest.h>

#include <vector>

#include "message_texts.h"
#include "messages.h"
#include "test_support.h"

namespace {

using test_support::to_utf8;

static_assert(install::style_prerequisite == 0x40010, "MB_OK | MB_ICONERROR | MB_TOPMOST");
static_assert(install::style_addon_warning == 0x30, "MB_OK | MB_ICONWARNING");
static_assert(install::style_addon_question == 0x31, "MB_OKCANCEL | MB_ICONWARNING");
static_assert(install::style_addon_error == 0x10, "MB_OK | MB_ICONERROR");
static_assert(install::style_addon_done == 0, "MB_OK");
static_assert(install::style_upgrade == 0, "MB_OK");

// What a box would have shown, and the answer the test gives for the user.
class recording_presenter : public install::message_presenter {
public:
    struct shown_box {
        std::wstring text;
        std::wstring caption;
        UINT style;
    };

    explicit recording_presenter(int answer) : _answer(answer) {}

    int show(const std::wstring& text, const std::wstring& caption, UINT style) override
    {
        boxes.push_back({text, caption, style});
        return _answer;
    }

    std::vector<shown_box> boxes;

private:
    int _answer;
};

std::wstring table_text(UINT id)
{
    for (const auto& row : message_texts::expected_texts) {
        if (row.id == id)
            return message_texts::text_in(row, ::GetUserDefaultUILanguage());
    }
    return std::wstring();
}

// Ids that the table does not hold load as empty strings.
TEST(load_resource_string, ids_outside_the_table_are_empty)
{
    for (UINT id : {0u, 1u, 100u, 115u, 116u, 127u, 901u, 65535u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(L"", install::load_resource_string(id));
    }
}

// A text longer than the loader's buffer comes back as its first 254 characters.
TEST(load_resource_string, long_text_is_cut_to_254_characters)
{
    const std::wstring text = install::load_resource_string(900);
    ASSERT_EQ(254u, text.size());
    EXPECT_EQ(0u, text.find(L"The quick brown fox jumps over the lazy dog. The quick"));
    EXPECT_EQ(L"The quick brown fox", text.substr(225, 19));
}

// Every box of the run shows its table texts with its style and passes the
// user's answer back unchanged.
TEST(show_message, shows_table_texts_with_the_style_and_returns_the_answer)
{
    struct box_case {
        UINT text_id;
        UINT caption_id;
        UINT style;
        int answer;
    };
    const box_case cases[] = {
        {IDS_KB4490628_REQUIRED, IDS_WARNING, install::style_prerequisite, IDOK},
        {IDS_KB4493730_REQUIRED, IDS_WARNING, install::style_prerequisite, IDOK},
        {IDS_KB4474419_REQUIRED, IDS_WARNING, install::style_prerequisite, IDOK},
        {IDS_VOLUME_FILTER_CONFLICT, IDS_WARNING, install::style_prerequisite, IDOK},
        {IDS_ADDON_INSTALLING, IDS_ADDON_CAPTION, install::style_addon_warning, IDOK},
        {IDS_ADDON_OVERWRITE, IDS_ADDON_CAPTION, install::style_addon_question, IDCANCEL},
        {IDS_ADDON_INSTALL, IDS_ADDON_CAPTION, install::style_addon_question, IDOK},
        {IDS_ADDON_REMOVE_FAILED, IDS_ADDON_CAPTION, install::style_addon_error, IDOK},
        {IDS_ADDON_INSTALLED, IDS_ADDON_CAPTION, install::style_addon_done, IDOK},
        {IDS_ADDON_INSTALL_FAILED, IDS_ADDON_CAPTION, install::style_addon_error, IDOK},
        {IDS_SERVICE_REQUIRED, IDS_ADDON_CAPTION, install::style_addon_warning, IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text_id);
        recording_presenter presenter(c.answer);
        EXPECT_EQ(c.answer, install::show_message(presenter, c.text_id, c.caption_id, c.style));
        ASSERT_EQ(1u, presenter.boxes.size());
        EXPECT_EQ(to_utf8(table_text(c.text_id)), to_utf8(presenter.boxes[0].text));
        EXPECT_EQ(to_utf8(table_text(c.caption_id)), to_utf8(presenter.boxes[0].caption));
        EXPECT_EQ(c.style, presenter.boxes[0].style);
    }
}

// A missing id still shows the box, with an empty text or caption.
TEST(show_message, missing_ids_show_empty_texts)
{
    recording_presenter presenter(IDOK);
    install::show_message(presenter, 115, IDS_WARNING, install::style_prerequisite);
    install::show_message(presenter, IDS_KB4474419_REQUIRED, 99, install::style_prerequisite);
    ASSERT_EQ(2u, presenter.boxes.size());
    EXPECT_EQ(L"", presenter.boxes[0].text);
    EXPECT_EQ(to_utf8(table_text(IDS_WARNING)), to_utf8(presenter.boxes[0].caption));
    EXPECT_EQ(to_utf8(table_text(IDS_KB4474419_REQUIRED)), to_utf8(presenter.boxes[1].text));
    EXPECT_EQ(L"", presenter.boxes[1].caption);
}

// The upgrade box shows the command file's output as it is, under the fixed
// caption "Upgrade", with an OK button only.
TEST(show_upgrade_output, shows_the_output_under_the_fixed_caption)
{
    recording_presenter presenter(IDOK);
    const std::wstring output = L"C:\\Temp>echo done\r\ndone\r\n";
    EXPECT_EQ(IDOK, install::show_upgrade_output(presenter, output));
    ASSERT_EQ(1u, presenter.boxes.size());
    EXPECT_EQ(output, presenter.boxes[0].text);
    EXPECT_EQ(L"Upgrade", presenter.boxes[0].caption);
    EXPECT_EQ(UINT(MB_OK), presenter.boxes[0].style);
}

} // namespace
