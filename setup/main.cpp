#include <windows.h>

#include <exception>

#include "install.h"
#include "varnox/common/log.h"

// The program has no window: everything it says goes to message boxes and the log.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        return install::run();
    } catch (...) {
        // No error may end the process abnormally.
        VARNOX_LOG(1, install::log_source, 0, L"%s", L"Unknown exception");
        return install::exit_failed;
    }
}
