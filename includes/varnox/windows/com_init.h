#pragma once

#include <windows.h>

namespace varnox {
namespace windows {

// COM initialisation of the calling thread for the lifetime of a scope.
// Uninitialises only when its own call initialised COM (S_OK), so a thread
// that already had COM keeps it.
class com_init {
public:
    com_init();
    ~com_init();

    com_init(const com_init&) = delete;
    com_init& operator=(const com_init&) = delete;

    // The multithreaded apartment first; a thread that already lives in a
    // single-threaded apartment falls back to it. Returns the last
    // CoInitializeEx result and never throws.
    static HRESULT initialize();

private:
    bool _owns;
};

} // namespace windows
} // namespace varnox
