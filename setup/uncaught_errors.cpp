#include "uncaught_errors.h"

#include <exception>

#include "install.h"
#include "varnox/common/exception.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace install {

int run_logging_uncaught_errors(const std::function<int()>& run) noexcept
{
    // Building a text may itself throw (no memory): the run fails all the same.
    try {
        try {
            return run();
        } catch (const varnox::exception_base& error) {
            // First: the library's exceptions are standard exceptions too.
            VARNOX_LOG(1, log_source, log_line_uncaught_exception, L"%s",
                       varnox::compose_exception_message(&error).c_str());
        } catch (const std::exception& error) {
            // Boost's texts (paths, system messages) are in the ANSI code page.
            VARNOX_LOG(1, log_source, log_line_standard_exception, L"%s",
                       varnox::windows::from_code_page(error.what(), CP_ACP).c_str());
        } catch (...) {
            VARNOX_LOG(1, log_source, log_line_unknown_exception, L"Unknown exception");
        }
    } catch (...) {
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
