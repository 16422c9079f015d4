#include <windows.h>

#include "install.h"
#include "uncaught_errors.h"
#include "varnox/windows/system_library.h"

// The program has no window: everything it says goes to message boxes and the log.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a DLL by name: a planted one beside the
    // executable or in the current folder must never load.
    varnox::windows::restrict_library_search();
    return install::run_logging_uncaught_errors([] { return install::run(); });
}
