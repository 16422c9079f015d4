#pragma once

#include <windows.h>

namespace varnox {
namespace windows {

// A function that later Windows releases added, looked up at run time in a
// module the program has loaded; null where the release lacks it.
template <typename Function>
Function find_function(const wchar_t* module_name, const char* function_name)
{
    const HMODULE module = ::GetModuleHandleW(module_name);
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, function_name)));
}

} // namespace windows
} // namespace varnox
