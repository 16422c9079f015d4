// The provider double as an in-process COM server: registered as the server
// of CLSID_WbemLocator in a test's Wine prefix, its locator answers root\WMI
// from the store file named by VARNOX_BCD_STORE (and writes the store back
// there after every change), and hands every other namespace, and root\WMI
// when the variable is not set, to the platform's own locator.

#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>

#include <string>

#include "bcd_provider.h"
#include "bcd_server_registration.h"

namespace {

using bcd_double::com_ptr;

std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

// The platform's locator: the server that the registration replaced, else
// wbem\wbemprox.dll of the system folder. The module stays loaded.
HRESULT platform_locator(com_ptr<IWbemLocator>& locator)
{
    static HMODULE module = [] {
        const std::wstring saved = bcd_double::saved_platform_server();
        if (!saved.empty())
            return ::LoadLibraryW(saved.c_str());
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        return ::LoadLibraryW((std::wstring(system) + L"\\wbem\\wbemprox.dll").c_str());
    }();
    if (!module)
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    using get_class_object = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get =
        reinterpret_cast<get_class_object>(reinterpret_cast<void*>(::GetProcAddress(module, "DllGetClassObject")));
    if (!get)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    com_ptr<IClassFactory> factory;
    HRESULT result = get(CLSID_WbemLocator, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
    if (FAILED(result))
        return result;
    return factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
}

// Whether a namespace path ("\\.\root\WMI", "root\wmi", "//host/root/WMI")
// names root\WMI.
bool is_root_wmi(const wchar_t* resource)
{
    std::wstring path = resource ? resource : L"";
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.compare(0, 2, L"\\\\") == 0) {
        const size_t host_end = path.find(L'\\', 2);
        path.erase(0, host_end == std::wstring::npos ? path.size() : host_end + 1);
    }
    return wmi_double::lower(path) == L"root\\wmi";
}

class routing_locator final : public wmi_double::single_interface<IWbemLocator> {
public:
    routing_locator() : single_interface(IID_IWbemLocator) {}

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG security_flags, const BSTR authority,
                                            IWbemContext* context, IWbemServices** services) override
    {
        if (!services)
            return WBEM_E_INVALID_PARAMETER;
        *services = nullptr;
        const std::wstring store_path = environment(bcd_double::store_variable);
        if (!is_root_wmi(resource) || store_path.empty()) {
            com_ptr<IWbemLocator> platform;
            const HRESULT result = platform_locator(platform);
            if (FAILED(result))
                return result;
            return platform->ConnectServer(resource, user, password, locale, security_flags, authority, context,
                                           services);
        }
        try {
            bcd_double::bcd_provider provider(bcd_double::bcd_store::read_file(store_path),
                                              [store_path](const bcd_double::bcd_store& store) {
                                                  if (!store.write_file(store_path))
                                                      ::OutputDebugStringW(L"bcd_server: the store was not written back");
                                              });
            return provider.services()->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(services));
        } catch (const bcd_double::format_error& error) {
            ::OutputDebugStringA(error.what());
            return WBEM_E_INVALID_NAMESPACE;
        }
    }
};

class locator_factory final : public wmi_double::single_interface<IClassFactory> {
public:
    locator_factory() : single_interface(IID_IClassFactory) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        com_ptr<routing_locator> locator;
        locator.reset(new routing_locator);
        return locator->QueryInterface(iid, object);
    }
    // The module never unloads, so there is nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// One factory for the module's life: its first reference is never released.
locator_factory* const the_factory = new locator_factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_WbemLocator)
        return CLASS_E_CLASSNOTAVAILABLE;
    return the_factory->QueryInterface(iid, object);
}

// The provider's objects may still be held by clients: stay loaded.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}
