#pragma once

// The platform calls of the log (log.cpp): log_win32.cpp implements them for
// Windows, log_posix.cpp for the native build.

#include <cstdint>
#include <string>

namespace varnox {
namespace log_platform {

struct clock_reading {
    int year, month, day, hour, minute, second, millisecond;
};

clock_reading local_time();
unsigned thread_id();

// Where messages go before the log has a path.
void debugger_output(const wchar_t* text);

// Appends bytes to the file, which is made when missing; false when it cannot
// be opened or its size read afterwards. A link planted at its name is never
// written through: it is removed as a link and a new file takes the name.
bool append_to_file(const std::wstring& path, const std::string& bytes, std::uint64_t& size_after);

} // namespace log_platform

#ifndef _WIN32
// A format of the Windows C runtime's wide printf as the C library's takes it.
std::wstring windows_format_for_posix(const wchar_t* format);
#endif

} // namespace varnox
