#include <windows.h>

#include "install.h"
#include "uncaught_errors.h"

// The program has no window: everything it says goes to message boxes and the log.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return install::run_logging_uncaught_errors([] { return install::run(); });
}
