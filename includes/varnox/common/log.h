#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "varnox/windows/lock.h"

namespace varnox {

// printf-style formatting into a fresh wide string ("%s" takes a wide string).
std::wstring format_wstring(const wchar_t* format, ...);
std::wstring vformat_wstring(const wchar_t* format, va_list args);

// The process-wide diagnostic log: one UTF-8 line per message, identical
// messages folded into a count, the file rotated at max_size.
class logger {
public:
    using debug_output_function = void (*)(const wchar_t* text);

    explicit logger(std::wstring name = std::wstring());
    ~logger();

    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    void set_path(const std::wstring& path);
    std::wstring path();

    // Never throws: log calls are made from destructors and error handlers.
    void write(int message_level, const wchar_t* format, va_list args) noexcept;

    // Where messages go before a path is set; OutputDebugStringW unless a test
    // watches the output itself.
    void set_debug_output(debug_output_function output);

    static wchar_t level_letter(int message_level);

    // Threshold: a message is written when its level is at most this value.
    std::atomic<int> level;

    static constexpr std::uint32_t max_size = 2097152;
    static constexpr int max_files = 10;

private:
    void _write_locked(int message_level, const wchar_t* format, va_list args);
    void _build_header(int message_level);
    void _rotate(const std::wstring& log_path);

    windows::critical_section _lock;
    std::wstring _header;
    std::wstring _path;
    std::wstring _last_message;
    std::wstring _name;
    std::uint32_t _repeat_count = 0;
    debug_output_function _debug_output;
};

// The one instance that the whole program logs through.
logger& the_logger();

void log_message(int message_level, const wchar_t* format, ...);

// The stem of a source name as the log prefix shows it: no folders, no
// extension, at most 8 characters ("varnox/windows/file_version_info" gives
// "file_ver").
std::wstring source_stem(const wchar_t* source);

// Logs "stem(line) - text " with text used as the format for the arguments.
void log_located(int message_level, const wchar_t* source, int line, const wchar_t* text, ...);

// Traces entry and exit of a scope at level 6 when the threshold is above 5.
class function_trace {
public:
    explicit function_trace(const wchar_t* function_name);
    ~function_trace();

    function_trace(const function_trace&) = delete;
    function_trace& operator=(const function_trace&) = delete;

private:
    const wchar_t* _function_name;
};

// Like function_trace, and shows the caller's result variable (an HRESULT,
// say) on entry and on exit.
class function_trace_result {
public:
    function_trace_result(const wchar_t* function_name, const std::int32_t* result);
    function_trace_result(const wchar_t* function_name, const long* result);
    ~function_trace_result();

    function_trace_result(const function_trace_result&) = delete;
    function_trace_result& operator=(const function_trace_result&) = delete;

private:
    std::uint32_t _value() const;

    const wchar_t* _function_name;
    const void* _result;
};

} // namespace varnox

// Builds nothing unless the message passes the threshold; the line is a fixed
// number that log readers key on, not __LINE__.
#define VARNOX_LOG(message_level, source, line, ...)                                             \
    do {                                                                                          \
        if ((message_level) <= ::varnox::the_logger().level)                                      \
            ::varnox::log_located((message_level), (source), (line), __VA_ARGS__);                \
    } while (0)
