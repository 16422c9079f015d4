// The log's own logic; the few platform calls it makes are in log_win32.cpp
// and, for the native build, log_posix.cpp.
#include "varnox/common/log.h"

#include <cstdio>
#include <string>

#include "varnox/common/archive_file.h"
#include "varnox/common/last_error.h"
#include "varnox/common/log_platform.h"
#include "varnox/windows/code_page.h"

namespace varnox {

namespace {

// Removes what stands at path as it is (a link goes as a link); true when
// nothing is left there.
bool remove_name(const std::wstring& path)
{
    archive::removed found = archive::removed::nothing;
    return archive::remove_entry(path, found) == 0;
}

// Renames from to to, replacing to; true also when there is no from.
bool move_name(const std::wstring& from, const std::wstring& to)
{
    std::uint64_t size = 0;
    archive::file_error error = 0;
    return archive::probe_entry(from, size, error) == archive::entry_kind::missing ||
           archive::move_replacing(from, to) == 0;
}

// UTF-8 with every line feed written as carriage return and line feed.
std::string to_utf8_crlf(const std::wstring& text)
{
    std::wstring crlf;
    crlf.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n')
            crlf.push_back(L'\r');
        crlf.push_back(c);
    }
    return windows::to_code_page(crlf, CP_UTF8);
}

} // namespace

std::wstring format_wstring(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = vformat_wstring(format, args);
    va_end(args);
    return text;
}

logger::logger(std::wstring name) : level(2), _name(std::move(name)), _debug_output(&log_platform::debugger_output)
{
}

logger::~logger()
{
    _header.clear();
    _path.clear();
    _last_message.clear();
    _name.clear();
}

void logger::set_path(const std::wstring& path)
{
    windows::auto_lock hold(_lock);
    _path = path;
}

std::wstring logger::path()
{
    windows::auto_lock hold(_lock);
    return _path;
}

void logger::set_debug_output(debug_output_function output)
{
    windows::auto_lock hold(_lock);
    _debug_output = output ? output : &log_platform::debugger_output;
}

wchar_t logger::level_letter(int message_level)
{
    switch (message_level) {
    case -1: return L'R';
    case 1: case 7: return L'E';
    case 2: case 8: return L'W';
    case 3: case 9: return L'N';
    case 4: return L'I';
    case 5: return L'D';
    case 6: return L'L';
    case 10: return L'T';
    default: return L'U';
    }
}

void logger::write(int message_level, const wchar_t* format, va_list args) noexcept
{
    const last_error_kept kept;
    try {
        windows::auto_lock hold(_lock);
        _write_locked(message_level, format, args);
    } catch (...) {
        // The log has no one to report its own failures to.
    }
}

void logger::_build_header(int message_level)
{
    const log_platform::clock_reading now = log_platform::local_time();
    const unsigned thread_id = log_platform::thread_id();
    const wchar_t letter = level_letter(message_level);
    if (_name.empty()) {
        _header = format_wstring(L"%4d-%02d-%02d %02d:%02d:%02d.%03d (T%04u) |%c|", now.year,
                                 now.month, now.day, now.hour, now.minute, now.second,
                                 now.millisecond, thread_id, letter);
    } else {
        _header = format_wstring(L"%4d-%02d-%02d %02d:%02d:%02d.%03d (T%04u) (%s) |%c|", now.year,
                                 now.month, now.day, now.hour, now.minute, now.second,
                                 now.millisecond, thread_id, _name.c_str(), letter);
    }
}

void logger::_write_locked(int message_level, const wchar_t* format, va_list args)
{
    _build_header(message_level);
    const std::wstring message = vformat_wstring(format, args);

    if (_path.empty()) {
        const std::wstring line = format_wstring(L"%s %s\n", _header.c_str(), message.c_str());
        _debug_output(line.c_str());
        return;
    }

    if (message == _last_message && _repeat_count < 100) {
        ++_repeat_count;
        return;
    }
    const std::uint32_t pending = _repeat_count;
    _repeat_count = 0;
    _last_message = message;

    std::wstring text;
    if (pending != 0) {
        std::wstring summary_header = _header;
        const size_t bar = summary_header.find(L'|');
        if (bar != std::wstring::npos && bar + 1 < summary_header.size())
            summary_header[bar + 1] = L'R';
        text = format_wstring(L"%s Last message repeated %d times", summary_header.c_str(),
                              static_cast<int>(pending));
        text += L'\n';
    }
    text += _header;
    text += message;
    if (message.empty() || message.back() != L'\n')
        text += L'\n';
    const std::string bytes = to_utf8_crlf(text);

    std::uint64_t size = 0;
    if (!log_platform::append_to_file(_path, bytes, size))
        return;
    if (size >= max_size)
        _rotate(_path);
}

// Stops at the first deletion or rename that fails; the file is still too
// big then, so the next write tries again. Deletions and renames act on the
// names themselves: a link planted as a numbered file goes as a link.
void logger::_rotate(const std::wstring& log_path)
{
    for (int i = max_files - 2; i >= 1; --i) {
        const std::wstring from = log_path + format_wstring(L".%d", i);
        const std::wstring to = log_path + format_wstring(L".%d", i + 1);
        if (!remove_name(to) || !move_name(from, to))
            return;
    }
    const std::wstring newest = log_path + L".1";
    if (!remove_name(newest))
        return;
    move_name(log_path, newest);
}

logger& the_logger()
{
    static logger instance;
    return instance;
}

void log_message(int message_level, const wchar_t* format, ...)
{
    logger& log = the_logger();
    if (message_level > log.level)
        return;
    const last_error_kept kept;
    va_list args;
    va_start(args, format);
    log.write(message_level, format, args);
    va_end(args);
}

std::wstring source_stem(const wchar_t* source)
{
    std::wstring stem = source ? source : L"";
    const size_t slash = stem.find_last_of(L"/\\");
    if (slash != std::wstring::npos)
        stem.erase(0, slash + 1);
    const size_t dot = stem.rfind(L'.');
    if (dot != std::wstring::npos)
        stem.erase(dot);
    if (stem.size() > 8)
        stem.resize(8);
    return stem;
}

void log_located(int message_level, const wchar_t* source, int line, const wchar_t* text, ...)
{
    logger& log = the_logger();
    if (message_level > log.level)
        return;
    const last_error_kept kept;
    try {
        const std::wstring format =
            format_wstring(L"%s(%d) - %s ", source_stem(source).c_str(), line, text ? text : L"");
        va_list args;
        va_start(args, text);
        log.write(message_level, format.c_str(), args);
        va_end(args);
    } catch (...) {
        // Nothing escapes a log call.
    }
}

function_trace::function_trace(const wchar_t* function_name) : _function_name(function_name)
{
    if (the_logger().level > 5)
        log_message(6, L"%s - Entered.", _function_name);
}

function_trace::~function_trace()
{
    if (the_logger().level > 5)
        log_message(6, L"%s - Exit.", _function_name);
}

function_trace_result::function_trace_result(const wchar_t* function_name, const std::int32_t* result)
    : _function_name(function_name), _result(result)
{
    if (the_logger().level > 5)
        log_message(6, L"%s - Entered (0x%08X).", _function_name, _value());
}

function_trace_result::function_trace_result(const wchar_t* function_name, const long* result)
    : _function_name(function_name), _result(result)
{
    if (the_logger().level > 5)
        log_message(6, L"%s - Entered (0x%08X).", _function_name, _value());
}

function_trace_result::~function_trace_result()
{
    if (the_logger().level > 5)
        log_message(6, L"%s - Exit (0x%08X).", _function_name, _value());
}

std::uint32_t function_trace_result::_value() const
{
    return *static_cast<const std::uint32_t*>(_result);
}

} // namespace varnox
