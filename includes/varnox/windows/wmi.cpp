#include "varnox/windows/wmi.h"

#include <objbase.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <algorithm>
#include <iterator>
#include <type_traits>
#include <utility>

#include "varnox/common/log.h"
#include "varnox/windows/system_library.h"

namespace varnox {
namespace windows {

namespace {

const wchar_t source[] = L"varnox/windows/wmi";

const std::uint32_t job_started = 4096;

const wchar_t get_parameter_function[] = L"varnox::windows::wmi_object::get_parameter";
const wchar_t set_parameter_function[] = L"varnox::windows::wmi_object::set_parameter";

// Where a failure of the layer is reported: the raising operation, the level
// and fixed line of its log entry, and the fixed line of the exception.
struct failure_site {
    const wchar_t* function;
    int log_level;
    int log_line;
    int throw_line;
};

// Fixed lines of the string and array failures (log entry, exception).
const int log_line_string_allocation = 786;
const int line_string_allocation = 787;
const int log_line_array_copy = 788;
const int line_array_copy = 789;
const int log_line_array_bounds = 790;
const int line_array_bounds = 791;
const int log_line_array_element = 792;
const int line_array_element = 793;

// The conversions of the typed reads, with the fixed lines of their failures.
struct conversion {
    VARTYPE type;
    const wchar_t* type_name;
    int log_line;
    int throw_line;
};

const conversion conversions[] = {
    {VT_UI4, L"VT_UI4", 780, 781},
    {VT_BOOL, L"VT_BOOL", 782, 783},
    {VT_BSTR, L"VT_BSTR", 784, 785},
};

[[noreturn]] void raise_failure(const wchar_t* function, int throw_line, HRESULT code, std::wstring message)
{
    const std::uint32_t number = static_cast<std::uint32_t>(code);
    throw_error<wmi_exception>(throw_site{VARNOX_WIDEN(__FILE__), function, __FILE__, "", throw_line}, &number,
                               std::move(message));
}

// The one place that reports a failure: the log entry (built only when the
// threshold admits its level), then the exception with the code.
template <typename... Args>
[[noreturn]] void log_and_raise(const failure_site& site, HRESULT code, std::wstring message,
                                const wchar_t* log_format, Args... log_args)
{
    VARNOX_LOG(site.log_level, source, site.log_line, log_format, log_args...);
    raise_failure(site.function, site.throw_line, code, std::move(message));
}

BSTR make_bstr(const wchar_t* text, size_t length, const wchar_t* function)
{
    BSTR value = ::SysAllocStringLen(text, static_cast<UINT>(length));
    if (!value)
        log_and_raise({function, 1, log_line_string_allocation, line_string_allocation}, E_OUTOFMEMORY,
                      L"SysAllocStringLen failed.", L"SysAllocStringLen failed (0x%08X).", E_OUTOFMEMORY);
    return value;
}

unique_bstr make_bstr(const std::wstring& text, const wchar_t* function)
{
    return unique_bstr(make_bstr(text.c_str(), text.size(), function));
}

// Wipes clear text before its memory goes back to the heap.
void wipe(std::wstring& text)
{
    if (!text.empty())
        ::SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
    text.clear();
}

// What a read of the property name converts, for the texts of its failures.
struct read_site {
    const wchar_t* function;
    const std::wstring& name;
};

// VariantChangeType into converted, or the failure of the read.
void change_type(unique_variant& converted, const VARIANT& value, VARTYPE type, const read_site& site)
{
    const HRESULT result = ::VariantChangeType(converted.put(), const_cast<VARIANT*>(&value), 0, type);
    if (SUCCEEDED(result))
        return;
    const conversion& failed = *std::find_if(std::begin(conversions), std::end(conversions),
                                             [type](const conversion& c) { return c.type == type; });
    log_and_raise({site.function, 1, failed.log_line, failed.throw_line}, result,
                  format_message(L"VariantChangeType (%s) to %s failed.", site.name, failed.type_name),
                  L"VariantChangeType (%s) to %s failed (0x%08X).", site.name.c_str(), failed.type_name, result);
}

// A uint32 travels as VT_I4 in WMI; its 32 bits are the value, so a number
// above 0x7FFFFFFF reads back as written instead of failing with an overflow.
std::uint32_t to_uint32(const VARIANT& value, const read_site& site)
{
    if (value.vt == VT_UI4)
        return value.ulVal;
    if (value.vt == VT_I4)
        return static_cast<std::uint32_t>(value.lVal);
    unique_variant converted;
    change_type(converted, value, VT_UI4, site);
    return converted.get().ulVal;
}

// One row per value type: what a null value reads as, how a value converts
// from its VARIANT, how a written value becomes one, and the CIM type that a
// write hands to Put (0: looked up).
template <typename Value>
struct value_traits;

template <>
struct value_traits<std::uint32_t> {
    static void set_null(std::uint32_t& target) { target = 0; }
    static HRESULT read(const VARIANT& value, std::uint32_t& target, HRESULT result, const read_site& site)
    {
        target = to_uint32(value, site);
        return result;
    }
    static void write(std::uint32_t value, VARIANT& out)
    {
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(value);
    }
    static constexpr CIMTYPE cim_type = CIM_UINT32;
};

template <>
struct value_traits<std::int32_t> {
    static void write(std::int32_t value, VARIANT& out)
    {
        out.vt = VT_I4;
        out.lVal = value;
    }
    static constexpr CIMTYPE cim_type = 0;
};

template <>
struct value_traits<bool> {
    static void set_null(bool& target) { target = false; }
    static HRESULT read(const VARIANT& value, bool& target, HRESULT result, const read_site& site)
    {
        if (value.vt == VT_BOOL) {
            target = value.boolVal != 0;
            return result;
        }
        unique_variant converted;
        change_type(converted, value, VT_BOOL, site);
        target = converted.get().boolVal == VARIANT_TRUE;
        return result;
    }
    static void write(bool value, VARIANT& out)
    {
        out.vt = VT_BOOL;
        out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    static constexpr CIMTYPE cim_type = 0;
};

template <>
struct value_traits<std::wstring> {
    static void set_null(std::wstring& target) { target.clear(); }
    static HRESULT read(const VARIANT& value, std::wstring& target, HRESULT result, const read_site& site)
    {
        if (value.vt == VT_BSTR) {
            target.assign(value.bstrVal ? value.bstrVal : L"", value.bstrVal ? ::SysStringLen(value.bstrVal) : 0);
            return result;
        }
        unique_variant converted;
        change_type(converted, value, VT_BSTR, site);
        const BSTR text = converted.get().bstrVal;
        target.assign(text ? text : L"", text ? ::SysStringLen(text) : 0);
        return result;
    }
    static void write(const std::wstring& value, VARIANT& out)
    {
        out.bstrVal = make_bstr(value.c_str(), value.size(), set_parameter_function);
        out.vt = VT_BSTR;
    }
    static constexpr CIMTYPE cim_type = 0;
};

template <>
struct value_traits<const wchar_t*> {
    static void write(const wchar_t* value, VARIANT& out)
    {
        out.bstrVal = value ? make_bstr(value, wcslen(value), set_parameter_function) : nullptr;
        out.vt = VT_BSTR;
    }
    static constexpr CIMTYPE cim_type = 0;
};

template <>
struct value_traits<std::vector<std::wstring>> {
    static void set_null(std::vector<std::wstring>& target) { target.clear(); }
    // Only a one-dimensional array of strings is a list; a copy or an element
    // that cannot be read fails the read rather than shortening the list.
    static HRESULT read(const VARIANT& value, std::vector<std::wstring>& target, HRESULT result,
                        const read_site& site)
    {
        if (value.vt != (VT_ARRAY | VT_BSTR) || !value.parray || ::SafeArrayGetDim(value.parray) != 1)
            return result;
        unique_safearray copy;
        const HRESULT copied = ::SafeArrayCopy(value.parray, copy.put());
        if (FAILED(copied) || !copy) {
            const HRESULT code = FAILED(copied) ? copied : E_OUTOFMEMORY;
            log_and_raise({site.function, 1, log_line_array_copy, line_array_copy}, code,
                          format_message(L"SafeArrayCopy (%s) failed.", site.name),
                          L"SafeArrayCopy (%s) failed (0x%08X).", site.name.c_str(), code);
        }
        LONG lower_bound = 0;
        LONG upper_bound = -1;
        HRESULT bounds = ::SafeArrayGetLBound(copy.get(), 1, &lower_bound);
        if (SUCCEEDED(bounds))
            bounds = ::SafeArrayGetUBound(copy.get(), 1, &upper_bound);
        if (FAILED(bounds))
            log_and_raise({site.function, 1, log_line_array_bounds, line_array_bounds}, bounds,
                          format_message(L"SafeArrayGetLBound/SafeArrayGetUBound (%s) failed.", site.name),
                          L"SafeArrayGetLBound/SafeArrayGetUBound (%s) failed (0x%08X).", site.name.c_str(), bounds);
        const LONG count = upper_bound - lower_bound + 1;
        for (LONG index = 0; index < count; ++index) {
            LONG element_index = lower_bound + index;
            BSTR element = nullptr;
            result = ::SafeArrayGetElement(copy.get(), &element_index, &element);
            if (FAILED(result))
                log_and_raise({site.function, 1, log_line_array_element, line_array_element}, result,
                              format_message(L"SafeArrayGetElement (%s) (%d) failed.", site.name, element_index),
                              L"SafeArrayGetElement (%s) (%d) failed (0x%08X).", site.name.c_str(),
                              static_cast<int>(element_index), result);
            const unique_bstr owned(element);
            target.emplace_back(owned ? owned.get() : L"", owned ? ::SysStringLen(owned.get()) : 0);
        }
        return result;
    }
};

// crypt32.dll is no KnownDLL: it comes from the system folder, loaded once
// when a secret is first kept, never imported.
struct crypt_library {
    system_library library{L"crypt32.dll"};
    decltype(&::CryptProtectData) protect = library.function<decltype(&::CryptProtectData)>("CryptProtectData");
    decltype(&::CryptUnprotectData) unprotect =
        library.function<decltype(&::CryptUnprotectData)>("CryptUnprotectData");
};

const crypt_library& crypt()
{
    static const crypt_library instance;
    return instance;
}

BOOL crypt_protect_data(DATA_BLOB* input, const wchar_t* description, DWORD flags, DATA_BLOB* output)
{
    if (!crypt().protect)
        return FALSE;
    return crypt().protect(input, description, nullptr, nullptr, nullptr, flags, output);
}

BOOL crypt_unprotect_data(DATA_BLOB* input, LPWSTR* description, DWORD flags, DATA_BLOB* output)
{
    if (!crypt().unprotect)
        return FALSE;
    return crypt().unprotect(input, description, nullptr, nullptr, nullptr, flags, output);
}

} // namespace

// ---------------------------------------------------------------- protected_data

protected_data::~protected_data()
{
    if (!_blob.empty())
        ::SecureZeroMemory(_blob.data(), _blob.size());
}

void protected_data::set_data(const std::wstring& data)
{
    if (data.empty())
        return;
    DATA_BLOB input{static_cast<DWORD>(data.size() * sizeof(wchar_t)),
                    reinterpret_cast<BYTE*>(const_cast<wchar_t*>(data.data()))};
    DATA_BLOB output{0, nullptr};
    const BOOL protected_ok =
        crypt_protect_data(&input, L"", _machine_scope ? CRYPTPROTECT_LOCAL_MACHINE : 0, &output);
    if (!protected_ok) {
        _blob.clear();
        return;
    }
    unique_hlocal buffer(output.pbData);
    _blob.assign(output.pbData, output.pbData + output.cbData);
}

std::wstring protected_data::get_data() const
{
    if (_blob.empty())
        return std::wstring();
    DATA_BLOB input{static_cast<DWORD>(_blob.size()), const_cast<BYTE*>(_blob.data())};
    DATA_BLOB output{0, nullptr};
    LPWSTR description = nullptr;
    const BOOL unprotected_ok =
        crypt_unprotect_data(&input, &description, _machine_scope ? CRYPTPROTECT_LOCAL_MACHINE : 0, &output);
    unique_hlocal description_buffer(description);
    if (!unprotected_ok)
        return std::wstring();
    unique_hlocal buffer(output.pbData);
    std::wstring text(reinterpret_cast<const wchar_t*>(output.pbData), output.cbData / sizeof(wchar_t));
    ::SecureZeroMemory(output.pbData, output.cbData);
    return text;
}

// ---------------------------------------------------------------- wmi_services

wmi_services::wmi_services(IWbemServices* services) : _services_ptr(services) {}

void wmi_services::_check_connected(const wchar_t* function_name, int log_line, int throw_line) const
{
    if (_services_ptr)
        return;
    log_and_raise({function_name, 1, log_line, throw_line}, E_POINTER, L"_services_ptr is NULL.",
                  L"_services_ptr is NULL.");
}

HRESULT wmi_services::connect(const std::wstring& namespace_name, const std::wstring& host,
                              const std::wstring& domain, const std::wstring& user, const std::wstring& password,
                              std::uint32_t impersonation_level, std::uint32_t authentication_level)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_services::connect";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);

    _services_ptr.reset();
    _host = host;
    _namespace_name = namespace_name;
    _domain.set_data(domain);
    _user.set_data(user);
    _password.set_data(password);

    com_ptr<IWbemLocator> locator;
    result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(locator.put()));
    if (FAILED(result))
        raise_failure(function_name, 137, result, L"CoCreateInstance failed.");

    const std::wstring path = namespace_name.empty()
                                  ? format_wstring(L"\\\\%s\\root", host.c_str())
                                  : format_wstring(L"\\\\%s\\root\\%s", host.c_str(), namespace_name.c_str());
    const std::wstring account =
        user.empty() ? std::wstring()
                     : format_wstring(L"%s\\%s", (domain.empty() ? host : domain).c_str(), user.c_str());

    const unique_bstr path_bstr = make_bstr(path, function_name);
    const unique_bstr locale = make_bstr(std::wstring(L"MS_409"), function_name);
    const unique_bstr authority = make_bstr(std::wstring(), function_name);
    if (!account.empty() && !password.empty()) {
        const unique_bstr account_bstr = make_bstr(account, function_name);
        unique_bstr password_bstr = make_bstr(password, function_name);
        result = locator->ConnectServer(path_bstr.get(), account_bstr.get(), password_bstr.get(), locale.get(), 0,
                                        authority.get(), nullptr, _services_ptr.put());
        ::SecureZeroMemory(password_bstr.get(), ::SysStringByteLen(password_bstr.get()));
        if (FAILED(result))
            log_and_raise({function_name, 1, 171, 173}, result,
                          format_message(L"pWbemLocator->ConnectServer (%s) with supplied credentials failed.", host),
                          L"pWbemLocator->ConnectServer (%s) with supplied credentials failed (0x%08X).",
                          path.c_str(), result);
        _is_local = false;
    } else {
        result = locator->ConnectServer(path_bstr.get(), nullptr, nullptr, locale.get(), 0, authority.get(),
                                        nullptr, _services_ptr.put());
        if (FAILED(result))
            log_and_raise({function_name, 1, 186, 188}, result,
                          format_message(L"pWbemLocator->ConnectServer (%s) with local credentials failed.", host),
                          L"pWbemLocator->ConnectServer (%s) with local credentials failed (0x%08X).", path.c_str(),
                          result);
        _is_local = true;
    }

    _impersonation_level = impersonation_level;
    _authentication_level = authentication_level;
    result = set_auth(_services_ptr.get());
    VARNOX_LOG(10, source, 199, L"Connected to (%s).", path.c_str());
    return result;
}

HRESULT wmi_services::connect(const std::wstring& namespace_name, const std::wstring& host,
                              const std::wstring& account, const std::wstring& password,
                              std::uint32_t impersonation_level, std::uint32_t authentication_level)
{
    std::vector<std::wstring> pieces;
    if (!account.empty()) {
        size_t start = 0;
        for (;;) {
            const size_t slash = account.find(L'\\', start);
            pieces.push_back(account.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start));
            if (slash == std::wstring::npos)
                break;
            start = slash + 1;
        }
    }
    std::wstring domain;
    std::wstring user;
    if (pieces.size() >= 2) {
        domain = pieces[0];
        user = pieces[1];
    } else if (pieces.size() == 1) {
        user = pieces[0];
    }
    return connect(namespace_name, host, domain, user, password, impersonation_level, authentication_level);
}

HRESULT wmi_services::set_auth(IUnknown* proxy)
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_services::set_auth", &result);

    if (_is_local) {
        result = ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, COLE_DEFAULT_PRINCIPAL,
                                     _authentication_level, _impersonation_level, nullptr, EOAC_NONE);
    } else {
        std::wstring domain = _domain.get_data();
        std::wstring user = _user.get_data();
        std::wstring password = _password.get_data();
        COAUTHIDENTITY identity{};
        identity.User = reinterpret_cast<USHORT*>(&user[0]);
        identity.UserLength = static_cast<ULONG>(user.size());
        identity.Domain = reinterpret_cast<USHORT*>(&domain[0]);
        identity.DomainLength = static_cast<ULONG>(domain.size());
        identity.Password = reinterpret_cast<USHORT*>(&password[0]);
        identity.PasswordLength = static_cast<ULONG>(password.size());
        identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
        result = ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, COLE_DEFAULT_PRINCIPAL,
                                     _authentication_level, _impersonation_level, &identity, EOAC_NONE);
        wipe(domain);
        wipe(user);
        wipe(password);
    }
    if (FAILED(result))
        log_and_raise({L"varnox::windows::wmi_services::set_auth", 1, 252, 254}, result, L"CoSetProxyBlanket failed.",
                      L"CoSetProxyBlanket failed (0x%08X).", result);
    return result;
}

HRESULT wmi_services::get_wmi_object(wmi_object& out, const std::wstring& object_path)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_services::get_wmi_object";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);
    _check_connected(function_name, 266, 267);

    const unique_bstr path = make_bstr(object_path, function_name);
    com_ptr<IWbemClassObject> object;
    result = _services_ptr->GetObject(path.get(), 0, nullptr, object.put(), nullptr);
    if (FAILED(result))
        log_and_raise({function_name, 1, 274, 276}, result,
                      format_message(L"_services_ptr->GetObject (%s) failed.", object_path),
                      L"_services_ptr->GetObject (%s) failed (0x%08X).", object_path.c_str(), result);
    out._take(object.get(), *this);
    return result;
}

HRESULT wmi_services::get_input_parameters(wmi_object& out, const std::wstring& class_name,
                                           const std::wstring& method_name)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_services::get_input_parameters";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);
    _check_connected(function_name, 290, 291);

    const unique_bstr class_bstr = make_bstr(class_name, function_name);
    com_ptr<IWbemClassObject> class_object;
    result = _services_ptr->GetObject(class_bstr.get(), 0, nullptr, class_object.put(), nullptr);
    if (FAILED(result))
        log_and_raise({function_name, 1, 298, 300}, result,
                      format_message(L"_services_ptr->GetObject (%s) failed.", class_name),
                      L"pServices->GetObject (%s) failed (0x%08X).", class_name.c_str(), result);

    com_ptr<IWbemClassObject> in_class;
    result = class_object->GetMethod(method_name.c_str(), 0, in_class.put(), nullptr);
    if (FAILED(result))
        log_and_raise({function_name, 1, 307, 309}, result,
                      format_message(L"pClass->GetMethod (%s) (%s) failed.", class_name, method_name),
                      L"pClass->GetMethod (%s) (%s) failed (0x%08X).", class_name.c_str(), method_name.c_str(),
                      result);
    if (!in_class)
        return result;

    com_ptr<IWbemClassObject> instance;
    result = in_class->SpawnInstance(0, instance.put());
    if (FAILED(result))
        log_and_raise({function_name, 1, 318, 320}, result,
                      format_message(L"pClass->SpawnInstance (%s) (%s) failed.", class_name, method_name),
                      L"pInClass->SpawnInstance (%s) (%s) failed (0x%08X).", class_name.c_str(),
                      method_name.c_str(), result);
    out._take(instance.get(), *this);
    return result;
}

HRESULT wmi_services::exec_method(const wmi_object& in_parameters, wmi_object& out_parameters,
                                  std::uint32_t& return_value, std::wstring& error_description,
                                  const std::wstring& object_path, const std::wstring& method_name)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_services::exec_method";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);
    _check_connected(function_name, 334, 335);

    const unique_bstr path = make_bstr(object_path, function_name);
    const unique_bstr method = make_bstr(method_name, function_name);
    com_ptr<IWbemClassObject> out;
    result = _services_ptr->ExecMethod(path.get(), method.get(), 0, nullptr, in_parameters.get(), out.put(), nullptr);
    if (FAILED(result))
        log_and_raise({function_name, 1, 342, 344}, result,
                      format_message(L"_services_ptr->ExecMethod (%s) (%s) failed.", object_path, method_name),
                      L"_services_ptr->ExecMethod (%s) (%s) failed (0x%08X).", object_path.c_str(),
                      method_name.c_str(), result);

    std::wstring description;
    if (!out) {
        VARNOX_LOG(4, source, 350, L"(%s) (%s) Did not get return value object.", object_path.c_str(),
                   method_name.c_str());
        return_value = 0;
    } else {
        unique_variant value;
        result = out->Get(L"ReturnValue", 0, value.put(), nullptr, nullptr);
        if (FAILED(result)) {
            // An absent verdict is logged like a failed read, but reads as 0.
            VARNOX_LOG(1, source, 357, L"(%s) (%s) pOut->Get(\"ReturnValue\") (0x%08X).", object_path.c_str(),
                       method_name.c_str(), result);
            if (result != static_cast<HRESULT>(WBEM_E_NOT_FOUND))
                raise_failure(function_name, 361, result,
                      format_message(L"(%s) (%s) pOut->Get(\"ReturnValue\") failed.", object_path, method_name));
            result = S_OK;
            value.reset();
        }
        // A null verdict reads as 0, as every null unsigned value does.
        const std::wstring return_value_name = L"ReturnValue";
        return_value = value.type() == VT_NULL ? 0 : to_uint32(value.get(), {function_name, return_value_name});

        if (return_value == job_started) {
            wmi_object job_out(out.get(), *this);
            wmi_job job(this, &job_out, L"Job");
            result = job.wait_until_job_completes(return_value, description);
            if (FAILED(result))
                VARNOX_LOG(1, source, 373, L"Job for (%s) (%s) failed (0x%08X).", object_path.c_str(),
                           method_name.c_str(), result);
        }
    }
    if (SUCCEEDED(result))
        VARNOX_LOG(4, source, 378, L"(%s) (%s) returned (%d) (%s).", object_path.c_str(), method_name.c_str(),
                   return_value, description.c_str());

    error_description = description;
    out_parameters._take(out.get(), *this);
    return result;
}

HRESULT wmi_services::exec_query(std::vector<wmi_object>& objects, const std::wstring& query)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_services::exec_query";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);
    objects.clear();
    _check_connected(function_name, 392, 393);

    const unique_bstr language = make_bstr(std::wstring(L"WQL"), function_name);
    const unique_bstr query_bstr = make_bstr(query, function_name);
    com_ptr<IEnumWbemClassObject> enumerator;
    result = _services_ptr->ExecQuery(language.get(), query_bstr.get(),
                                      WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                      enumerator.put());
    if (FAILED(result))
        log_and_raise({function_name, 1, 402, 404}, result,
                      format_message(L"_services_ptr->ExecQuery (%s) failed.", query),
                      L"_services_ptr->ExecQuery (%s) failed (0x%08X).", query.c_str(), result);
    result = set_auth(enumerator.get());

    for (;;) {
        com_ptr<IWbemClassObject> object;
        ULONG returned = 0;
        result = enumerator->Next(static_cast<long>(WBEM_INFINITE), 1, object.put(), &returned);
        if (FAILED(result))
            log_and_raise({function_name, 10, 414, 416}, result, L"pEnum->Next failed.",
                          L"pEnum->Next failed (0x%08X).", result);
        if (returned == 0 || !object) {
            result = S_OK;
            break;
        }
        objects.emplace_back(object.get(), *this);
    }
    VARNOX_LOG(10, source, 424, L"Success (%s), (%d) objects returned.", query.c_str(),
               static_cast<int>(objects.size()));
    return S_OK;
}

std::vector<wmi_object> wmi_services::exec_query(const std::wstring& query)
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_services::exec_query", &result);
    std::vector<wmi_object> objects;
    result = exec_query(objects, query);
    return objects;
}

// ---------------------------------------------------------------- wmi_object

wmi_object::wmi_object(IWbemClassObject* object, const wmi_services& services)
    : _obj_ptr(object), _services(services)
{
}

void wmi_object::attach(IWbemClassObject* object)
{
    _obj_ptr.assign(object);
    // What was read about the old object does not hold for the new one.
    _path.clear();
    _relpath.clear();
    _class_name.clear();
}

void wmi_object::_take(IWbemClassObject* object, const wmi_services& services)
{
    if (&services != &_services)
        _services = services;
    attach(object);
}

void wmi_object::_check_object(const wchar_t* function_name) const
{
    if (_obj_ptr)
        return;
    log_and_raise({function_name, 1, 461, 463}, E_POINTER, L"_obj_ptr is NULL.", L"_obj_ptr is NULL.");
}

HRESULT wmi_object::get_parameter(const std::wstring& name, VARIANT& value, CIMTYPE& cim_type)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_object::get_parameter";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);

    cim_type = CIM_ILLEGAL;
    VARNOX_LOG(5, source, 473, L"parameter = %s", name.c_str());
    _check_object(function_name);

    ::VariantClear(&value);
    result = _obj_ptr->Get(name.c_str(), 0, &value, &cim_type, nullptr);
    if (FAILED(result))
        log_and_raise({function_name, 1, 479, 481}, result, format_message(L"_obj_ptr->Get (%s) failed.", name),
                      L"_obj_ptr->Get (%s) failed (0x%08X).", name.c_str(), result);
    if (value.vt == VT_NULL)
        VARNOX_LOG(4, source, 484, L"_obj_ptr->Get (%s) return VT_NULL.", name.c_str());
    return result;
}

template <typename Value>
HRESULT wmi_object::_get_typed(Value& target, const std::wstring& name)
{
    unique_variant value;
    CIMTYPE cim_type = 0;
    HRESULT result = get_parameter(name, value.get(), cim_type);
    value_traits<Value>::set_null(target);
    if (value.type() != VT_NULL)
        result = value_traits<Value>::read(value.get(), target, result, {get_parameter_function, name});
    return result;
}

HRESULT wmi_object::get_parameter(std::uint32_t& target, const std::wstring& name)
{
    return _get_typed(target, name);
}

HRESULT wmi_object::get_parameter(bool& target, const std::wstring& name)
{
    return _get_typed(target, name);
}

HRESULT wmi_object::get_parameter(std::wstring& target, const std::wstring& name)
{
    return _get_typed(target, name);
}

HRESULT wmi_object::get_parameter(std::vector<std::wstring>& target, const std::wstring& name)
{
    return _get_typed(target, name);
}

HRESULT wmi_object::get_parameter(wmi_object& target, const std::wstring& name)
{
    unique_variant value;
    CIMTYPE cim_type = 0;
    const HRESULT result = get_parameter(name, value.get(), cim_type);
    if (value.type() == VT_NULL)
        return result;

    com_ptr<IWbemClassObject> object;
    const VARIANT& raw = value.get();
    IUnknown* unknown = nullptr;
    if (raw.vt == VT_UNKNOWN)
        unknown = raw.punkVal;
    else if (raw.vt == VT_DISPATCH)
        unknown = raw.pdispVal;
    if (unknown && FAILED(unknown->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(object.put()))))
        object.reset();
    target._take(object.get(), _services);
    return result;
}

HRESULT wmi_object::set_parameter(const std::wstring& name, const VARIANT& value, CIMTYPE cim_type)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_object::set_parameter";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);
    _check_object(function_name);

    if (cim_type == 0) {
        unique_variant current;
        CIMTYPE current_type = 0;
        if (SUCCEEDED(_obj_ptr->Get(name.c_str(), 0, current.put(), &current_type, nullptr)))
            cim_type = current_type;
        else
            cim_type = 0;
    }
    result = _obj_ptr->Put(name.c_str(), 0, const_cast<VARIANT*>(&value), cim_type);
    if (FAILED(result))
        log_and_raise({function_name, 1, 556, 558}, result, format_message(L"_obj_ptr->Put (%s) failed.", name),
                      L"_obj_ptr->Put (%s) failed (0x%08X).", name.c_str(), result);
    return result;
}

template <typename Value>
HRESULT wmi_object::_set_typed(const std::wstring& name, const Value& value)
{
    unique_variant variant;
    value_traits<Value>::write(value, variant.get());
    return set_parameter(name, variant.get(), value_traits<Value>::cim_type);
}

HRESULT wmi_object::set_parameter(const std::wstring& name, std::uint32_t value)
{
    return _set_typed(name, value);
}

HRESULT wmi_object::set_parameter(const std::wstring& name, const std::wstring& value)
{
    return _set_typed(name, value);
}

HRESULT wmi_object::set_parameter(std::int32_t value, const std::wstring& name)
{
    return _set_typed(name, value);
}

HRESULT wmi_object::_set_c_string(const wchar_t* value, const std::wstring& name)
{
    return _set_typed(name, value);
}

HRESULT wmi_object::_set_bool(bool value, const std::wstring& name)
{
    return _set_typed(name, value);
}

HRESULT wmi_object::set_parameter(const std::wstring& name, const std::vector<std::wstring>& value)
{
    const wchar_t* const function_name = L"varnox::windows::wmi_object::set_parameter";
    HRESULT result = S_OK;
    function_trace_result trace(function_name, &result);

    unique_safearray array(::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(value.size())));
    if (!array) {
        result = E_OUTOFMEMORY;
        log_and_raise({function_name, 1, 604, 606}, result, L"sa.create failed.", L"sa.create failed (0x%08X).",
                      result);
    }
    for (size_t index = 0; index < value.size(); ++index) {
        LONG element_index = static_cast<LONG>(index);
        const unique_bstr element = make_bstr(value[index], function_name);
        result = ::SafeArrayPutElement(array.get(), &element_index, element.get());
        if (FAILED(result))
            log_and_raise({function_name, 1, 613, 615}, result, L"sa.put_element failed.",
                          L"sa.put_element failed (0x%08X).", result);
    }
    // The variant only borrows the array; the array's owner destroys it.
    VARIANT variant;
    ::VariantInit(&variant);
    variant.vt = VT_ARRAY | VT_BSTR;
    variant.parray = array.get();
    result = set_parameter(name, variant, 0);
    return result;
}

HRESULT wmi_object::exec_method(const wmi_object& in_parameters, wmi_object& out_parameters,
                                std::uint32_t& return_value, std::wstring& error_description,
                                const std::wstring& method_name)
{
    if (_path.empty())
        get_parameter(_path, L"__PATH");
    if (_relpath.empty())
        get_parameter(_relpath, L"__Relpath");
    const std::wstring& object_path = _path.empty() ? _relpath : _path;
    if (object_path.empty())
        return E_POINTER;
    return _services.exec_method(in_parameters, out_parameters, return_value, error_description, object_path,
                                 method_name);
}

HRESULT wmi_object::exec_method(const wmi_object& in_parameters, wmi_object& out_parameters, bool& return_value,
                                const std::wstring& method_name)
{
    std::uint32_t scratch_value = 0;
    std::wstring scratch_description;
    const HRESULT result = exec_method(in_parameters, out_parameters, scratch_value, scratch_description, method_name);
    if (FAILED(result))
        return result;
    return out_parameters.get_parameter(return_value, L"ReturnValue");
}

HRESULT wmi_object::exec_method(const wmi_object& in_parameters, bool& return_value, const std::wstring& method_name)
{
    wmi_object out_parameters;
    return exec_method(in_parameters, out_parameters, return_value, method_name);
}

HRESULT wmi_object::get_input_parameters(wmi_object& out, const std::wstring& method_name)
{
    if (_class_name.empty())
        get_parameter(_class_name, L"__Class");
    if (_class_name.empty())
        return E_POINTER;
    return _services.get_input_parameters(out, _class_name, method_name);
}

wmi_object wmi_object::get_input_parameters(const std::wstring& method_name)
{
    wmi_object out;
    const HRESULT result = get_input_parameters(out, method_name);
    if (FAILED(result))
        raise_failure(L"varnox::windows::wmi_object::get_input_parameters", 672, result,
              format_message(L"get_input_parameters(%s) failed.", method_name));
    return out;
}

// ---------------------------------------------------------------- wmi_job

wmi_job::wmi_job(wmi_services* connection, wmi_object* out_parameters, std::wstring job_property)
    : _connection(connection), _out_parameters(out_parameters), _job_property(std::move(job_property))
{
}

HRESULT wmi_job::update()
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_job::update", &result);
    _job.attach(nullptr);
    std::wstring job_path;
    _out_parameters->get_parameter(job_path, _job_property);
    result = _connection->get_wmi_object(_job, job_path);
    return result;
}

HRESULT wmi_job::get_state(std::uint32_t& state)
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_job::get_state", &result);
    state = 0;
    result = _job.get_parameter(state, L"JobState");
    return result;
}

HRESULT wmi_job::get_error_code(std::uint32_t& error_code)
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_job::get_error_code", &result);
    result = _job.get_parameter(error_code, L"ErrorCode");
    return result;
}

HRESULT wmi_job::get_error_description(std::wstring& error_description)
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_job::get_error_description", &result);
    result = _job.get_parameter(error_description, L"ErrorDescription");
    return result;
}

bool wmi_job::is_running()
{
    function_trace trace(L"varnox::windows::wmi_job::is_running");
    std::uint32_t state = 0;
    get_state(state);
    return state == 3 || state == 4;
}

HRESULT wmi_job::wait_until_job_completes(std::uint32_t& error_code, std::wstring& error_description)
{
    HRESULT result = S_OK;
    function_trace_result trace(L"varnox::windows::wmi_job::wait_until_job_completes", &result);
    error_code = 0;
    error_description.clear();

    result = update();
    if (FAILED(result))
        return result;
    while (is_running()) {
        VARNOX_LOG(5, source, 738, L"Job is still running.");
        ::Sleep(1000);
        result = update();
        if (FAILED(result))
            return result;
    }
    result = get_error_code(error_code);
    if (SUCCEEDED(result))
        result = get_error_description(error_description);
    return result;
}

} // namespace windows
} // namespace varnox
