#pragma once

#include <windows.h>

#include <string>

#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

// Where the process looks for the DLLs that it loads by name.
enum class library_search {
    system_folder_only,      // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
    without_current_folder,  // older Windows: SetDllDirectoryW(L"") drops the current folder
    unchanged,               // neither function exists, or both failed
};

// Keeps a DLL planted beside the executable or in the current folder (a
// "version.dll" in a Downloads folder) from ever loading: from now on the
// process loads DLLs by name from the system folder only, where Windows can
// do so (Windows 8, or earlier releases with the update that added
// SetDefaultDllDirectories), and at least never from the current folder
// elsewhere. Both functions are looked up at run time. The setup program
// calls this first of all.
library_search restrict_library_search();

// A DLL of the system folder, loaded by its full path, so that a DLL of the
// same name anywhere else is never taken; its own imports are looked for in
// the system folder first. The libraries that Windows does not keep among its
// KnownDLLs (version.dll, crypt32.dll) are loaded this way instead of being
// imported by the executable, whose imports are resolved before any code of
// its own can restrict the search.
class system_library {
public:
    // Loads file_name (a name such as L"version.dll") from the system folder.
    explicit system_library(const wchar_t* file_name);

    system_library(const system_library&) = delete;
    system_library& operator=(const system_library&) = delete;

    bool loaded() const { return _module.valid(); }
    // Why the library could not be loaded (a Win32 error); 0 once loaded.
    DWORD load_error() const { return _load_error; }
    HMODULE module() const { return _module.get(); }

    // An exported function as its declared type; null when the library is not
    // loaded or does not export it.
    template <typename Function>
    Function function(const char* name) const
    {
        if (!_module)
            return nullptr;
        return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(_module.get(), name)));
    }

private:
    unique_hmodule _module;
    DWORD _load_error = 0;
};

} // namespace windows
} // namespace varnox
