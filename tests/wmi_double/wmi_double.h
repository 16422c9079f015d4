#pragma once

// An in-process stand-in for a WMI namespace: hand-written COM objects that
// implement IWbemServices, IEnumWbemClassObject, IWbemClassObject and the
// locator, so that the product's WMI code runs unchanged over classes,
// instances and methods that a test defines, including failures with chosen
// HRESULTs.

#include <windows.h>
#include <wbemcli.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnox/windows/com_ptr.h"

namespace wmi_double {

using varnox::windows::com_ptr;

std::wstring lower(const std::wstring& text);

// The IUnknown half of a hand-written object of one interface: it answers
// IUnknown and iid, and deletes itself at its last Release.
template <typename Interface>
class single_interface : public Interface {
public:
    explicit single_interface(REFIID iid) : _iid(iid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == _iid) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --_references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~single_interface() = default;

private:
    IID _iid;
    std::atomic<ULONG> _references{1};
};

// A copy of a VARIANT that the test can keep and inspect.
struct variant_copy {
    variant_copy() { ::VariantInit(&value); }
    explicit variant_copy(const VARIANT& source);
    variant_copy(const variant_copy& other);
    variant_copy& operator=(const variant_copy& other);
    ~variant_copy() { ::VariantClear(&value); }
    VARIANT value;
};

// Values for building objects.
variant_copy null_value();
variant_copy uint32_value(std::uint32_t value);
variant_copy bool_value(bool value);
variant_copy string_value(const std::wstring& value);
// nullopt elements become null strings inside the array.
variant_copy strings_value(const std::vector<std::optional<std::wstring>>& values);
variant_copy object_value(IWbemClassObject* object);

// Reading recorded values back.
std::vector<std::wstring> strings_of(const VARIANT& value);

struct put_record {
    std::wstring name;
    variant_copy value;
    CIMTYPE cim_type;
};

// A class, an instance, or a method's parameter object.
class fake_object final : public IWbemClassObject {
public:
    // A class object (__GENUS 1) named class_name, with __PATH and __RELPATH
    // of a class unless cleared.
    static com_ptr<fake_object> make_class(const std::wstring& class_name);
    // A method signature class ("__PARAMETERS").
    static com_ptr<fake_object> make_parameters();
    // The fake behind an interface pointer that came from this double; null
    // for anything else.
    static fake_object* from(IUnknown* object);

    // Declares (or redefines) a property with its type and current value.
    fake_object& property(const std::wstring& name, CIMTYPE cim_type, const variant_copy& value = null_value());
    fake_object& set(const std::wstring& name, const variant_copy& value);
    fake_object& method(const std::wstring& name, com_ptr<fake_object> in_signature,
                        com_ptr<fake_object> out_signature);
    // System properties; an empty text makes them read as null.
    fake_object& set_path(const std::wstring& path);
    fake_object& set_relpath(const std::wstring& relpath);

    // Failures with chosen HRESULTs; a spawned instance inherits them.
    fake_object& fail_get(const std::wstring& name, HRESULT result);
    fake_object& fail_put(const std::wstring& name, HRESULT result);
    fake_object& fail_get_method(HRESULT result);
    // Get hands out a string array of the property that SafeArrayCopy
    // refuses, as it would without memory.
    fake_object& uncopyable_array(const std::wstring& name);
    fake_object& fail_spawn(HRESULT result);

    // A new instance with the class's properties and defaults.
    com_ptr<fake_object> spawn() const;

    const std::wstring& class_name() const { return _class_name; }
    bool is_class() const { return _is_class; }
    // Current value; VT_EMPTY when the property does not exist.
    variant_copy value(const std::wstring& name) const;
    bool has_property(const std::wstring& name) const;
    const std::vector<put_record>& puts() const { return _puts; }
    ULONG reference_count() const { return _references; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IWbemClassObject
    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override;
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override;
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override;
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override;
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override;
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** copy) override;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override;
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG flags, IWbemClassObject** instance) override;
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override;
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override;
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in,
                                        IWbemClassObject** out) override;
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override;
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override;
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override;
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override;

private:
    struct prop {
        std::wstring name;
        CIMTYPE cim_type;
        variant_copy value;
    };
    struct method_signatures {
        com_ptr<fake_object> in;
        com_ptr<fake_object> out;
    };

    fake_object() = default;
    ~fake_object() = default;
    prop* _find(const std::wstring& name);
    const prop* _find(const std::wstring& name) const;

    std::atomic<ULONG> _references{1};
    std::wstring _class_name;
    bool _is_class = true;
    std::wstring _path;
    std::wstring _relpath;
    std::vector<prop> _properties;
    std::map<std::wstring, method_signatures> _methods;
    std::map<std::wstring, HRESULT> _get_failures;
    std::map<std::wstring, HRESULT> _put_failures;
    std::vector<std::wstring> _uncopyable_arrays;
    HRESULT _get_method_failure = S_OK;
    HRESULT _spawn_failure = S_OK;
    std::vector<put_record> _puts;
};

// What a CoSetProxyBlanket call handed over.
struct blanket_record {
    DWORD authentication_service;
    DWORD authorization_service;
    bool default_principal;
    DWORD authentication_level;
    DWORD impersonation_level;
    bool has_identity;
    std::wstring user;
    std::wstring domain;
    std::wstring password;
    ULONG flags;
    DWORD capabilities;
};

// Receives proxy blankets for the services object and its enumerators.
class blanket_sink {
public:
    std::vector<blanket_record> records;
    HRESULT result = S_OK;
};

// One call of a method, as the handler sees it.
struct method_call {
    std::wstring object_path;
    std::wstring class_name;
    std::wstring method_name;
    IWbemClassObject* in_parameters;
};

// Returns the HRESULT of ExecMethod and fills out (may stay empty).
using method_handler = std::function<HRESULT(const method_call& call, com_ptr<IWbemClassObject>& out)>;

struct query_answer {
    HRESULT exec_result = S_OK;
    std::vector<com_ptr<fake_object>> objects;
    // Next fails with next_failure after this many objects were handed out.
    std::optional<size_t> fail_after;
    HRESULT next_failure = WBEM_E_FAILED;
};

class fake_services final : public IWbemServices, public IClientSecurity {
public:
    static com_ptr<fake_services> make();
    static fake_services* from(IUnknown* object);

    // Classes for GetObject by class name and for ExecMethod's path.
    fake_object& add_class(com_ptr<fake_object> class_object);
    // Instances for GetObject by their __PATH and __RELPATH.
    void add_instance(com_ptr<fake_object> instance);
    void remove_instance(const fake_object& instance);
    void on_method(const std::wstring& class_name, const std::wstring& method_name, method_handler handler);
    // An exact query text; without one, "SELECT * FROM Class" lists the
    // instances of Class added so far.
    void on_query(const std::wstring& query, query_answer answer);
    void fail_get_object(const std::wstring& path, HRESULT result);

    // One line per call: "GetObject <path>", "ExecMethod <path> <method>",
    // "ExecQuery <language> <query> <flags>".
    std::vector<std::wstring> calls;
    blanket_sink blankets;
    // Runs before each GetObject, so a test can change what the next fetch
    // sees (a job that finishes, for instance).
    std::function<void(const std::wstring& path)> before_get_object;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IClientSecurity
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                           DWORD*) override;
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authentication_service, DWORD authorization_service,
                                         OLECHAR* principal, DWORD authentication_level, DWORD impersonation_level,
                                         void* identity, DWORD capabilities) override;
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override;

    // IWbemServices
    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override;
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context,
                                        IWbemClassObject** object, IWbemCallResult** call_result) override;
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                        IEnumWbemClassObject** enumerator) override;
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                                         IWbemClassObject* in_parameters, IWbemClassObject** out_parameters,
                                         IWbemCallResult** call_result) override;
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override;

private:
    fake_services() = default;
    ~fake_services() = default;

    std::atomic<ULONG> _references{1};
    std::map<std::wstring, com_ptr<fake_object>> _classes;
    std::map<std::wstring, com_ptr<fake_object>> _instances;
    std::map<std::wstring, method_handler> _methods;
    std::map<std::wstring, query_answer> _queries;
    std::map<std::wstring, HRESULT> _get_object_failures;
};

// The class name that an object path names: "\\.\root\WMI:BcdStore.FilePath=\"\""
// gives "BcdStore".
std::wstring class_of_path(const std::wstring& path);

// What IWbemLocator::ConnectServer was given; null strings are marked.
struct connect_record {
    std::wstring network_resource;
    std::optional<std::wstring> user;
    std::optional<std::wstring> password;
    std::optional<std::wstring> locale;
    LONG security_flags;
    std::optional<std::wstring> authority;
    bool has_context;
};

// Registers a locator for CLSID_WbemLocator in this process for the
// lifetime of the object, so that CoCreateInstance reaches the double.
class locator_registration {
public:
    explicit locator_registration(com_ptr<fake_services> services);
    ~locator_registration();
    locator_registration(const locator_registration&) = delete;
    locator_registration& operator=(const locator_registration&) = delete;

    HRESULT registration_result() const { return _registration_result; }

    // Chosen failures of the class factory and of ConnectServer.
    HRESULT create_instance_result = S_OK;
    HRESULT connect_result = S_OK;
    std::vector<connect_record> connects;
    com_ptr<fake_services> services;

private:
    com_ptr<IClassFactory> _factory;
    DWORD _cookie = 0;
    HRESULT _registration_result = E_FAIL;
};

// Method parameter objects: an output instance of a signature with
// "ReturnValue" set, ready for a handler to fill further.
com_ptr<fake_object> out_instance(const fake_object& out_signature);

} // namespace wmi_double
