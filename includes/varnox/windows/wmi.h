#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "varnox/common/exception.h"
#include "varnox/windows/com_ptr.h"

namespace varnox {
namespace windows {

// Failures of WMI calls; the HRESULT travels as the error number.
class wmi_exception : public virtual exception_base {};

// A secret string kept encrypted in memory (CryptProtectData); the clear text
// is never stored. Never throws: failures give an empty blob or text.
class protected_data {
public:
    protected_data() = default;
    virtual ~protected_data();
    protected_data(const protected_data&) = default;
    protected_data& operator=(const protected_data&) = default;

    // An empty string keeps what the blob held.
    void set_data(const std::wstring& data);
    std::wstring get_data() const;

private:
    bool _machine_scope = false;
    std::vector<BYTE> _blob;
};

class wmi_object;

// One connection to a WMI namespace. Copies share the namespace interface.
class wmi_services {
public:
    wmi_services() = default;
    // Over a connection made elsewhere (one more reference of its own); the
    // blanket is left as the caller set it.
    explicit wmi_services(IWbemServices* services);

    HRESULT connect(const std::wstring& namespace_name, const std::wstring& host, const std::wstring& domain,
                    const std::wstring& user, const std::wstring& password, std::uint32_t impersonation_level,
                    std::uint32_t authentication_level);
    // account is "domain\user" or "user"; an empty account uses the caller's
    // credentials.
    HRESULT connect(const std::wstring& namespace_name, const std::wstring& host, const std::wstring& account,
                    const std::wstring& password, std::uint32_t impersonation_level,
                    std::uint32_t authentication_level);

    // Sets the security blanket on a proxy of this connection.
    HRESULT set_auth(IUnknown* proxy);

    HRESULT get_wmi_object(wmi_object& out, const std::wstring& object_path);
    // Leaves out untouched when the method takes no input.
    HRESULT get_input_parameters(wmi_object& out, const std::wstring& class_name, const std::wstring& method_name);
    // return_value is the method's "ReturnValue", or the job's error code when
    // the method ran as a job (4096); error_description is the job's text.
    HRESULT exec_method(const wmi_object& in_parameters, wmi_object& out_parameters, std::uint32_t& return_value,
                        std::wstring& error_description, const std::wstring& object_path,
                        const std::wstring& method_name);
    HRESULT exec_query(std::vector<wmi_object>& objects, const std::wstring& query);
    std::vector<wmi_object> exec_query(const std::wstring& query);

    IWbemServices* services() const noexcept { return _services_ptr.get(); }
    const std::wstring& host() const noexcept { return _host; }
    const std::wstring& namespace_name() const noexcept { return _namespace_name; }
    bool is_local() const noexcept { return _is_local; }

private:
    void _check_connected(const wchar_t* function_name, int log_line, int throw_line) const;

    com_ptr<IWbemServices> _services_ptr;
    std::wstring _host;
    protected_data _domain;
    protected_data _user;
    protected_data _password;
    std::wstring _namespace_name;
    bool _is_local = true;
    std::uint32_t _impersonation_level = 3;
    std::uint32_t _authentication_level = 0;
};

// One WMI class or instance with a copy of the connection that produced it.
class wmi_object {
public:
    wmi_object() = default;
    wmi_object(IWbemClassObject* object, const wmi_services& services);

    // Holds object with one more reference and forgets the path, relative
    // path and class name read from the one held before; the connection stays.
    void attach(IWbemClassObject* object);
    IWbemClassObject* get() const noexcept { return _obj_ptr.get(); }
    bool empty() const noexcept { return !_obj_ptr; }
    const wmi_services& services() const noexcept { return _services; }

    // Raw read; value must be initialised and its old content is cleared.
    // Every failure of a read, a conversion included, raises wmi_exception.
    HRESULT get_parameter(const std::wstring& name, VARIANT& value, CIMTYPE& cim_type);
    // Typed reads: a null value gives 0, false, an empty string or list; an
    // embedded object target is left as it was.
    HRESULT get_parameter(std::uint32_t& target, const std::wstring& name);
    HRESULT get_parameter(bool& target, const std::wstring& name);
    HRESULT get_parameter(std::wstring& target, const std::wstring& name);
    HRESULT get_parameter(std::vector<std::wstring>& target, const std::wstring& name);
    HRESULT get_parameter(wmi_object& target, const std::wstring& name);

    // Raw write; cim_type 0 looks the property's type up first.
    HRESULT set_parameter(const std::wstring& name, const VARIANT& value, CIMTYPE cim_type);
    HRESULT set_parameter(const std::wstring& name, std::uint32_t value);
    HRESULT set_parameter(const std::wstring& name, const std::wstring& value);
    HRESULT set_parameter(const std::wstring& name, const std::vector<std::wstring>& value);
    HRESULT set_parameter(std::int32_t value, const std::wstring& name);
    // Only a real bool: a pointer would otherwise convert to one.
    template <typename Bool, typename std::enable_if<std::is_same<Bool, bool>::value, int>::type = 0>
    HRESULT set_parameter(Bool value, const std::wstring& name)
    {
        return _set_bool(value, name);
    }
    // The C string form takes a pointer (id.c_str(), may be null) as its
    // value; a string literal first is a property name, so
    // set_parameter(L"File", file) writes file to "File".
    template <typename Pointer, typename std::enable_if<std::is_same<Pointer, const wchar_t*>::value ||
                                                            std::is_same<Pointer, wchar_t*>::value,
                                                        int>::type = 0>
    HRESULT set_parameter(const Pointer& value, const std::wstring& name)
    {
        return _set_c_string(value, name);
    }
    // A bool written name first would silently become a number.
    template <typename Bool, typename std::enable_if<std::is_same<Bool, bool>::value, int>::type = 0>
    HRESULT set_parameter(const std::wstring& name, Bool value) = delete;

    // Calls a method on this object through its "__PATH" (or "__Relpath");
    // E_POINTER without calling anything when it has neither.
    HRESULT exec_method(const wmi_object& in_parameters, wmi_object& out_parameters, std::uint32_t& return_value,
                        std::wstring& error_description, const std::wstring& method_name);
    // The same, then "ReturnValue" read as a boolean.
    HRESULT exec_method(const wmi_object& in_parameters, wmi_object& out_parameters, bool& return_value,
                        const std::wstring& method_name);
    HRESULT exec_method(const wmi_object& in_parameters, bool& return_value, const std::wstring& method_name);

    // E_POINTER without raising when the object has no class name.
    HRESULT get_input_parameters(wmi_object& out, const std::wstring& method_name);
    // Raises on any failure code; empty when the method takes no input.
    wmi_object get_input_parameters(const std::wstring& method_name);

private:
    friend class wmi_services;

    // Takes another object and connection; the caches start empty again.
    void _take(IWbemClassObject* object, const wmi_services& services);
    void _check_object(const wchar_t* function_name) const;
    HRESULT _set_c_string(const wchar_t* value, const std::wstring& name);
    HRESULT _set_bool(bool value, const std::wstring& name);
    template <typename Value>
    HRESULT _get_typed(Value& target, const std::wstring& name);
    template <typename Value>
    HRESULT _set_typed(const std::wstring& name, const Value& value);

    com_ptr<IWbemClassObject> _obj_ptr;
    std::wstring _path;
    std::wstring _relpath;
    std::wstring _class_name;
    wmi_services _services;
};

// Follows the job that a method started until it has finished.
class wmi_job {
public:
    // connection and out_parameters are not owned and must outlive the job.
    wmi_job(wmi_services* connection, wmi_object* out_parameters, std::wstring job_property);

    HRESULT update();
    HRESULT get_state(std::uint32_t& state);
    HRESULT get_error_code(std::uint32_t& error_code);
    HRESULT get_error_description(std::wstring& error_description);
    // Starting (3) or Running (4) at the last fetch.
    bool is_running();
    // Polls once a second, without a time limit, until the job has finished.
    HRESULT wait_until_job_completes(std::uint32_t& error_code, std::wstring& error_description);

private:
    wmi_services* _connection;
    wmi_object* _out_parameters;
    wmi_object _job;
    std::wstring _job_property;
};

} // namespace windows
} // namespace varnox
