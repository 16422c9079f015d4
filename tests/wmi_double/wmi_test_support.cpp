#include "wmi_test_support.h"

#include <boost/exception/get_error_info.hpp>

#include <algorithm>
#include <cstdio>

#include "varnox/common/log.h"
#include "varnox/windows/wmi.h"

namespace wmi_double {

namespace {

std::vector<std::wstring> captured;

// Lines arrive as "<header> |X| text\n"; keeps the letter and the text.
void capture(const wchar_t* line)
{
    captured.emplace_back(line);
}

} // namespace

log_line parse_log_line(const std::wstring& line)
{
    log_line parsed;
    const size_t bar = line.find(L'|');
    if (bar == std::wstring::npos || bar + 2 >= line.size() || line[bar + 2] != L'|') {
        parsed.text = line;
    } else {
        parsed.letter = line[bar + 1];
        // The text follows the blank after the closing bar, when there is one.
        const size_t start = std::min(line.size(), bar + 4);
        parsed.text = line.substr(start);
    }
    if (!parsed.text.empty() && parsed.text.back() == L'\n')
        parsed.text.pop_back();
    return parsed;
}

log_capture::log_capture(int threshold) : _old_level(varnox::the_logger().level)
{
    captured.clear();
    varnox::the_logger().set_debug_output(&capture);
    varnox::the_logger().level = threshold;
}

log_capture::~log_capture()
{
    varnox::the_logger().level = _old_level;
    varnox::the_logger().set_debug_output(nullptr);
}

std::vector<std::wstring> log_capture::messages() const
{
    std::vector<std::wstring> texts;
    for (const auto& line : captured)
        texts.push_back(parse_log_line(line).text);
    return texts;
}

bool log_capture::contains(const std::wstring& text) const
{
    return letter_of(text) != 0;
}

wchar_t log_capture::letter_of(const std::wstring& text) const
{
    for (const auto& line : captured) {
        const log_line parsed = parse_log_line(line);
        if (parsed.letter != 0 && parsed.text == text)
            return parsed.letter;
    }
    return 0;
}

void log_capture::clear()
{
    captured.clear();
}

namespace {

caught_error record(const varnox::exception_base& error)
{
    caught_error result;
    result.caught = true;
    result.wmi = dynamic_cast<const varnox::windows::wmi_exception*>(&error) != nullptr;
    if (const auto* code = boost::get_error_info<varnox::throw_errorno_>(error)) {
        result.has_code = true;
        result.code = *code;
    }
    if (const auto* message = boost::get_error_info<varnox::throw_wmessage_>(error))
        result.message = *message;
    if (const auto* function = boost::get_error_info<varnox::throw_wfunction_>(error))
        result.function = *function;
    result.composed = varnox::compose_exception_message(&error);
    return result;
}

} // namespace

caught_error catch_wmi_error(const std::function<void()>& action)
{
    try {
        action();
    } catch (const varnox::windows::wmi_exception& error) {
        return record(error);
    }
    return caught_error();
}

caught_error catch_error(const std::function<void()>& action)
{
    try {
        action();
    } catch (const varnox::exception_base& error) {
        return record(error);
    }
    return caught_error();
}

std::wstring hex(std::uint32_t code)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", code);
    return text;
}

} // namespace wmi_double
