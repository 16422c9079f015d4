#include "varnox/windows/code_page.h"

namespace varnox {
namespace windows {

std::string to_code_page(const std::wstring& text, UINT code_page)
{
    if (text.empty())
        return std::string();
    const int length = ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string converted(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &converted[0], length, nullptr,
                          nullptr);
    return converted;
}

std::wstring from_code_page(const std::string& text, UINT code_page)
{
    if (text.empty())
        return std::wstring();
    const int length = ::MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring converted(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &converted[0], length);
    return converted;
}

} // namespace windows
} // namespace varnox
