#include "wmi_test_support.h"

#include <boost/exception/get_error_info.hpp>

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

std::wstring text_of(const std::wstring& line)
{
    const size_t bar = line.find(L'|');
    if (bar == std::wstring::npos || bar + 3 > line.size())
        return line;
    std::wstring text = line.substr(bar + 4);
    if (!text.empty() && text.back() == L'\n')
        text.pop_back();
    return text;
}

} // namespace

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
        texts.push_back(text_of(line));
    return texts;
}

bool log_capture::contains(const std::wstring& text) const
{
    return letter_of(text) != 0;
}

wchar_t log_capture::letter_of(const std::wstring& text) const
{
    for (const auto& line : captured)
        if (text_of(line) == text) {
            const size_t bar = line.find(L'|');
            return line[bar + 1];
        }
    return 0;
}

void log_capture::clear()
{
    captured.clear();
}

caught_error catch_wmi_error(const std::function<void()>& action)
{
    caught_error result;
    try {
        action();
    } catch (const varnox::windows::wmi_exception& error) {
        result.caught = true;
        if (const auto* code = boost::get_error_info<varnox::throw_errorno_>(error)) {
            result.has_code = true;
            result.code = *code;
        }
        if (const auto* message = boost::get_error_info<varnox::throw_wmessage_>(error))
            result.message = *message;
        if (const auto* function = boost::get_error_info<varnox::throw_wfunction_>(error))
            result.function = *function;
        result.composed = varnox::compose_exception_message(&error);
    }
    return result;
}

std::wstring hex(std::uint32_t code)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", code);
    return text;
}

} // namespace wmi_double
