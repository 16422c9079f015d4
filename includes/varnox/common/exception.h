#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include <boost/assert/source_location.hpp>
#include <boost/exception/exception.hpp>
#include <boost/exception/get_error_info.hpp>
#include <boost/exception/info.hpp>
#include <boost/format.hpp>
#include <boost/throw_exception.hpp>

namespace varnox {

// The family's root: details travel as error-information records, never in what().
class exception_base : public virtual boost::exception, public virtual std::exception {};

using throw_wfile_ = boost::error_info<struct throw_wfile_tag, const wchar_t*>;
using throw_wfunction_ = boost::error_info<struct throw_wfunction_tag, const wchar_t*>;
using throw_wmessage_ = boost::error_info<struct throw_wmessage_tag, std::wstring>;
using throw_errorno_ = boost::error_info<struct throw_errorno_tag, std::uint32_t>;

// One line for the log: file(line) : function - message (0xCODE), leaving out
// whatever was not recorded. Null gives an empty text.
std::wstring compose_exception_message(const boost::exception* error);

// Fills a wide Boost.Format template ("%1%" or printf-style).
template <typename... Args>
std::wstring format_message(const wchar_t* format_template, const Args&... args)
{
    boost::wformat format(format_template);
    (void)(format % ... % args);
    return format.str();
}

// Where a throw happens: the wide names go into the records, the narrow ones
// and the line into boost::exception's own location fields.
struct throw_site {
    const wchar_t* file;
    const wchar_t* function;
    const char* narrow_file;
    const char* narrow_function;
    int line;
};

template <typename Exception>
[[noreturn]] void throw_error(const throw_site& site, const std::uint32_t* code, std::wstring message)
{
    Exception error;
    error << throw_wfile_(site.file) << throw_wfunction_(site.function);
    if (code)
        error << throw_errorno_(*code);
    error << throw_wmessage_(std::move(message));
    boost::throw_exception(error, boost::source_location(site.narrow_file, static_cast<boost::uint_least32_t>(site.line),
                                                         site.narrow_function));
}

} // namespace varnox

#define VARNOX_WIDEN_(text) L##text
#define VARNOX_WIDEN(text) VARNOX_WIDEN_(text)

// The site of a throw. The line is a fixed number that log readers key on,
// not __LINE__; wide_function is the fully qualified name, as a wide literal.
#define VARNOX_THROW_SITE(wide_function, line)                                                   \
    ::varnox::throw_site { VARNOX_WIDEN(__FILE__), (wide_function), __FILE__, __func__, (line) }

#ifdef _WIN32
// Throws Exception after a failed Win32 call: the last error is read before
// anything else runs, message formatting included.
#define VARNOX_THROW_LAST_ERROR(Exception, wide_function, line, ...)                             \
    do {                                                                                          \
        const std::uint32_t varnox_last_error_ = ::GetLastError();                                \
        ::varnox::throw_error<Exception>(VARNOX_THROW_SITE(wide_function, line), &varnox_last_error_, \
                                         ::varnox::format_message(__VA_ARGS__));                  \
    } while (0)
#endif

// Throws Exception after a failed COM or WMI call, with its HRESULT.
#define VARNOX_THROW_HRESULT(Exception, hresult, wide_function, line, ...)                       \
    do {                                                                                          \
        const std::uint32_t varnox_code_ = static_cast<std::uint32_t>(hresult);                   \
        ::varnox::throw_error<Exception>(VARNOX_THROW_SITE(wide_function, line), &varnox_code_,   \
                                         ::varnox::format_message(__VA_ARGS__));                  \
    } while (0)

// Throws Exception where no system call failed.
#define VARNOX_THROW(Exception, wide_function, line, ...)                                        \
    ::varnox::throw_error<Exception>(VARNOX_THROW_SITE(wide_function, line), nullptr,             \
                                     ::varnox::format_message(__VA_ARGS__))
