#include "varnox/windows/com_init.h"

#include <objbase.h>

#include "varnox/common/log.h"

namespace varnox {
namespace windows {

namespace {
const wchar_t source[] = L"varnox/windows/com_init";
}

HRESULT com_init::initialize()
{
    HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result)) {
        VARNOX_LOG(10, source, 41, L"CoInitializeEx returned (0x%08x) with model (%d)", result, 0);
        return result;
    }
    VARNOX_LOG(2, source, 41, L"CoInitializeEx returned (0x%08x) with model (%d)", result, 0);

    result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(result))
        VARNOX_LOG(10, source, 50, L"CoInitializeEx returned (0x%08x) with model (%d)", result, 2);
    else
        VARNOX_LOG(1, source, 50, L"CoInitializeEx returned (0x%08x) with model (%d)", result, 2);
    return result;
}

com_init::com_init() : _owns(initialize() == S_OK) {}

com_init::~com_init()
{
    if (_owns)
        ::CoUninitialize();
}

} // namespace windows
} // namespace varnox
