#include "varnox/windows/code_page.h"

namespace varnox {
namespace windows {

namespace {

// A lone surrogate has no UTF-8 form; without a flag for it (XP has none)
// WideCharToMultiByte would write U+FFFD instead.
bool has_unpaired_surrogate(const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return true;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> untranslatable()
{
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return std::nullopt;
}

} // namespace

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

std::optional<std::string> to_code_page_exact(const std::wstring& text, UINT code_page)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const bool utf8 = code_page == CP_UTF8;
    if (utf8 && has_unpaired_surrogate(text))
        return untranslatable();
    // The UTF code pages take neither the flag nor the default-character test.
    DWORD flags = utf8 || code_page == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    BOOL* used_default_out = flags ? &used_default : nullptr;
    int length = ::WideCharToMultiByte(code_page, flags, text.data(), size, nullptr, 0, nullptr, used_default_out);
    if (length <= 0 && flags && ::GetLastError() == ERROR_INVALID_FLAGS) {
        // Some code pages (ISO-2022, GB18030, ...) refuse both; the round trip
        // below still tells.
        flags = 0;
        used_default_out = nullptr;
        length = ::WideCharToMultiByte(code_page, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    }
    if (length <= 0 || used_default)
        return untranslatable();
    std::string converted(static_cast<size_t>(length), '\0');
    if (::WideCharToMultiByte(code_page, flags, text.data(), size, &converted[0], length, nullptr, used_default_out) !=
            length ||
        used_default)
        return untranslatable();
    // Whatever the code page's tables do, the text must come back as it was.
    const std::optional<std::wstring> back = from_code_page_exact(converted, code_page);
    if (!back || *back != text)
        return untranslatable();
    return converted;
}

std::optional<std::wstring> from_code_page_exact(const std::string& text, UINT code_page)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    DWORD flags = MB_ERR_INVALID_CHARS;
    int length = ::MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
    if (length <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        length = ::MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    }
    if (length <= 0) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return std::nullopt;
    }
    std::wstring converted(static_cast<size_t>(length), L'\0');
    if (::MultiByteToWideChar(code_page, flags, text.data(), size, &converted[0], length) != length) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return std::nullopt;
    }
    return converted;
}

} // namespace windows
} // namespace varnox
