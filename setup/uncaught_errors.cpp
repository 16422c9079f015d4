#include "uncaught_errors.h"

#include <exception>

#include "install.h"
#include "varnox/common/exception.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace install {

void log_caught_exception(int family_line, int standard_line, int unknown_line) noexcept
{
    // Building a text may itself throw (no memory): then nothing is logged.
    try {
        try {
            throw;
        } catch (const varnox::exception_base& error) {
            // First: the library's exceptions are standard exceptions too.
            VARNOX_LOG(1, log_source, family_line, L"%s", varnox::compose_exception_message(&error).c_str());
        } catch (const std::exception& error) {
            // Boost's texts (paths, system messages) are in the ANSI code page.
            VARNOX_LOG(1, log_source, standard_line, L"%s",
                       varnox::windows::from_code_page(error.what(), CP_ACP).c_str());
        } catch (...) {
            VARNOX_LOG(1, log_source, unknown_line, L"Unknown exception");
        }
    } catch (...) {
    }
}

int run_logging_uncaught_errors(const std::function<int()>& run) noexcept
{
    try {
        return run();
    } catch (...) {
        log_caught_exception(log_line_uncaught_exception, log_line_standard_exception, log_line_unknown_exception);
    }
    return exit_failed;
}

std::wstring current_exception_text()
{
    try {
        throw;
    } catch (const varnox::exception_base& error) {
        return varnox::compose_exception_message(&error);
    } catch (const std::exception& error) {
        return varnox::windows::from_code_page(error.what(), CP_ACP);
    } catch (...) {
        return L"Unknown exception";
    }
}

} // namespace install
