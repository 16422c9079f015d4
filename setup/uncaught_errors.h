#pragma once

#include <functional>
#include <string>

namespace install {

// Logs the exception being handled at level 1 with the "install" prefix: one
// of the exception_base family with its composed text (at family_line),
// another standard exception with its text (standard_line), anything else as
// "Unknown exception" (unknown_line). Call it only inside a catch block.
void log_caught_exception(int family_line, int standard_line, int unknown_line) noexcept;

// Returns what run returns. Whatever it throws is logged at level 1 with the
// "install" prefix and ends in exit code 2: no error ends the process
// abnormally.
int run_logging_uncaught_errors(const std::function<int()>& run) noexcept;

// The text of the exception being handled, for the log: the composed text of
// the library's exceptions, what() of a standard one (in the ANSI code page),
// else "Unknown exception". Call it only inside a catch block.
std::wstring current_exception_text();

} // namespace install
