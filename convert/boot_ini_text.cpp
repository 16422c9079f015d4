#include "convert/boot_ini_text.h"

#include <cwchar>

namespace {

const wchar_t line_end_blanks[] = L" \t\f\v\n\r";

std::wstring trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(line_end_blanks);
    if (first == std::wstring::npos)
        return std::wstring();
    return text.substr(first, text.find_last_not_of(line_end_blanks) - first + 1);
}

} // namespace

// A "/" inside the quoted name belongs to the name; a value without switches
// gives the option alone, so the added line shows two blanks after the name.
std::wstring driver_disabled_switches(const std::wstring& value)
{
    size_t search_from = 0;
    if (!value.empty() && value[0] == L'"') {
        const size_t closing = value.find(L'"', 1);
        search_from = closing == std::wstring::npos ? value.size() : closing + 1;
    }
    const size_t first_switch = value.find(L'/', search_from);
    // The leading blank lets an option that is the first switch go too.
    std::wstring switches = first_switch == std::wstring::npos ? std::wstring() : L" " + value.substr(first_switch);
    for (size_t found; (found = switches.find(boot_ini_driver_option)) != std::wstring::npos;)
        switches.erase(found, std::wcslen(boot_ini_driver_option));
    if (!switches.empty() && switches[0] == L' ')
        switches.erase(0, 1);
    return switches + boot_ini_driver_option;
}

std::wstring driver_disabled_line(const std::wstring& default_key, const std::wstring& description,
                                  const std::wstring& default_value)
{
    return default_key + L"=\"" + description + L"\" " + driver_disabled_switches(default_value);
}

std::wstring text_with_line_added(const std::wstring& text, const std::wstring& line)
{
    std::wstring kept = text;
    kept.erase(kept.find_last_not_of(line_end_blanks) + 1);
    return kept + L"\n" + line + L"\n";
}

std::wstring text_without_lines_containing(const std::wstring& text, const std::wstring& description)
{
    std::wstring kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = trimmed(text.substr(start, end - start));
        if (!line.empty() && line.find(description) == std::wstring::npos)
            kept += line + L"\n";
        start = end + 1;
    }
    return kept;
}
