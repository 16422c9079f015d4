// The boot.ini editor's text handling. Input: four fields separated by the
// byte 1, in UTF-8: the file's text, the description, the default key and
// the default line's value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/boot_ini_text.h"
#include "fuzz_support.h"

namespace {

std::size_t occurrences(const std::wstring& text, const std::wstring& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool is_line_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\f' || c == L'\v' || c == L'\n' || c == L'\r'; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::wstring> fields(4);
    std::string field;
    std::size_t index = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || (data[i] == 1 && index < 3)) {
            fields[index++] = fuzz::wide(field);
            field.clear();
            if (i == size)
                break;
        } else {
            field += static_cast<char>(data[i]);
        }
    }
    const std::wstring& text = fields[0];
    const std::wstring& description = fields[1];
    const std::wstring& key = fields[2];
    const std::wstring& value = fields[3];

    // The option ends the switches, exactly once.
    const std::wstring switches = driver_disabled_switches(value);
    const std::wstring option = boot_ini_driver_option;
    FUZZ_CHECK(switches.size() >= option.size() && switches.compare(switches.size() - option.size(), option.size(), option) == 0);
    FUZZ_CHECK(occurrences(switches, option) == 1);

    const std::wstring line = driver_disabled_line(key, description, value);
    FUZZ_CHECK(line == key + L"=\"" + description + L"\" " + switches);

    // The line goes at the end, after the text without its trailing blanks.
    const std::wstring added = text_with_line_added(text, line);
    const std::wstring tail = L"\n" + line + L"\n";
    FUZZ_CHECK(added.size() >= tail.size() && added.compare(added.size() - tail.size(), tail.size(), tail) == 0);
    const std::wstring kept = added.substr(0, added.size() - tail.size());
    FUZZ_CHECK(text.compare(0, kept.size(), kept) == 0);
    FUZZ_CHECK(kept.empty() || !is_line_blank(kept.back()));

    // What removal keeps: trimmed lines without the description, each ended.
    const std::wstring removed = text_without_lines_containing(text, description);
    std::size_t start = 0;
    while (start < removed.size()) {
        const std::size_t end = removed.find(L'\n', start);
        FUZZ_CHECK(end != std::wstring::npos);
        const std::wstring kept_line = removed.substr(start, end - start);
        FUZZ_CHECK(!kept_line.empty() && !is_line_blank(kept_line.front()) && !is_line_blank(kept_line.back()));
        FUZZ_CHECK(kept_line.find(L'\r') == std::wstring::npos);
        FUZZ_CHECK(kept_line.find(description) == std::wstring::npos);
        start = end + 1;
    }
    return 0;
}
