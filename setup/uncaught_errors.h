#pragma once

#include <functional>

namespace install {

// Returns what run returns. Whatever it throws is logged at level 1 with the
// "install" prefix and ends in exit code 2: no error ends the process
// abnormally.
int run_logging_uncaught_errors(const std::function<int()>& run) noexcept;

} // namespace install
