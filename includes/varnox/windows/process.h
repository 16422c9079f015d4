#pragma once

#include <cstdint>
#include <string>

namespace varnox {
namespace windows {

// Runs command (program and arguments) as a child process and collects its
// standard output, converted from the ANSI code page, into output; its
// standard input is empty and at its end. A timeout
// in seconds above 0 terminates a child still running then with exit code
// 1460. True only when the child ended with exit code 0; the thread's last
// error then holds the child's exit code or the error of the failed step
// (87 for an empty command).
bool exec_console_application_with_timeout(std::wstring command, std::wstring& output, bool hide_window,
                                           std::uint64_t timeout);

} // namespace windows
} // namespace varnox
