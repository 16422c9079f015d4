#pragma once

#include <windows.h>

#include <string>

#include "message_ids.h"

namespace install {

// Styles of the run's message boxes.
constexpr UINT style_prerequisite = MB_OK | MB_ICONERROR | MB_TOPMOST;  // 0x40010, stays above other windows
constexpr UINT style_addon_warning = MB_OK | MB_ICONWARNING;            // 0x30
constexpr UINT style_addon_question = MB_OKCANCEL | MB_ICONWARNING;     // 0x31
constexpr UINT style_addon_error = MB_OK | MB_ICONERROR;                // 0x10
constexpr UINT style_addon_done = MB_OK;                                // 0
constexpr UINT style_upgrade = MB_OK;                                   // 0

// The upgrade job's caption is not localised.
constexpr wchar_t upgrade_caption[] = L"Upgrade";

// The text of string resource `id` of the executable, in the language that
// Windows' resource lookup picks; empty when there is no such text. Texts
// longer than 254 characters come back cut to 254.
std::wstring load_resource_string(UINT id);

// Shows a message box and returns the answer (IDOK, IDCANCEL, ...). Tests
// replace it to see what the run would show and to answer for the user.
class message_presenter {
public:
    virtual ~message_presenter() = default;
    virtual int show(const std::wstring& text, const std::wstring& caption, UINT style) = 0;
};

// The real boxes: MessageBoxW without owner window. Its failures are not
// reported (the answer is then 0).
class message_box_presenter : public message_presenter {
public:
    int show(const std::wstring& text, const std::wstring& caption, UINT style) override;
};

// A box whose text and caption come from the string table; a missing id
// shows as an empty text or caption.
int show_message(message_presenter& presenter, UINT text_id, UINT caption_id, UINT style);

// The upgrade job's box: the command file's output under the fixed caption.
int show_upgrade_output(message_presenter& presenter, const std::wstring& output);

} // namespace install
