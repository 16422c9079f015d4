#include "installer_options.h"

namespace install {

namespace {

wchar_t ascii_lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool ends_with_ignoring_case(const std::wstring& text, std::size_t text_end, const std::wstring& end)
{
    if (end.empty() || text_end < end.size())
        return false;
    const std::size_t start = text_end - end.size();
    for (std::size_t i = 0; i < end.size(); ++i)
        if (ascii_lower(text[start + i]) != ascii_lower(end[i]))
            return false;
    return true;
}

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/' || c == L':'; }

// The file name of a Windows path ("C:\a\install.exe" gives "install.exe").
std::wstring file_name_of(const std::wstring& path)
{
    std::size_t start = path.size();
    while (start > 0 && !is_separator(path[start - 1]))
        --start;
    return path.substr(start);
}

// The name without its extension ("install.exe" gives "install").
std::wstring stem_of(const std::wstring& name)
{
    if (name == L"." || name == L"..")
        return name;
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

} // namespace

std::wstring installer_options(const std::wstring& command_line, const std::wstring& executable_path)
{
    if (!command_line.empty() && command_line[0] == L'"') {
        const std::size_t closing = command_line.find(L'"', 1);
        return closing == std::wstring::npos ? std::wstring() : command_line.substr(closing + 1);
    }
    // Windows tries the words of an unquoted command line one by one until
    // they name a program, so a path may hold blanks. The full file name is
    // looked for first: a folder on the way may end in the bare name.
    const std::wstring file_name = file_name_of(executable_path);
    for (const std::wstring& name : {file_name, stem_of(file_name)}) {
        for (std::size_t end = 0; end <= command_line.size(); ++end) {
            if (end < command_line.size() && !is_blank(command_line[end]))
                continue;
            if (ends_with_ignoring_case(command_line, end, name))
                return command_line.substr(end);
        }
    }
    const std::size_t first_blank = command_line.find_first_of(L" \t");
    return first_blank == std::wstring::npos ? std::wstring() : command_line.substr(first_blank);
}

} // namespace install
