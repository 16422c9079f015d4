#include <windows.h>

#include "install.h"
#include "varnox/common/exception.h"
#include "varnox/common/log.h"

// The program has no window: everything it says goes to message boxes and the log.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // No error may end the process abnormally: whatever the run lets through
    // is logged and reported as a failed run.
    try {
        return install::run();
    } catch (const varnox::exception_base& error) {
        VARNOX_LOG(1, install::log_source, install::log_line_uncaught_exception, L"%s",
                   varnox::compose_exception_message(&error).c_str());
    } catch (...) {
        VARNOX_LOG(1, install::log_source, install::log_line_unknown_exception, L"Unknown exception");
    }
    return install::exit_failed;
}
