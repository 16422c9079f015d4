#include "messages.h"

namespace install {

std::wstring load_resource_string(UINT id)
{
    wchar_t buffer[255] = {};
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, buffer, 255);
    if (length == 0)
        return std::wstring();
    return std::wstring(buffer);
}

int message_box_presenter::show(const std::wstring& text, const std::wstring& caption, UINT style)
{
    return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

int show_message(message_presenter& presenter, UINT text_id, UINT caption_id, UINT style)
{
    const std::wstring caption = load_resource_string(caption_id);
    const std::wstring text = load_resource_string(text_id);
    return presenter.show(text, caption, style);
}

int show_upgrade_output(message_presenter& presenter, const std::wstring& output)
{
    return presenter.show(output, upgrade_caption, style_upgrade);
}

} // namespace install
