#include "wmi_double.h"

#include <oleauto.h>

#include <algorithm>
#include <cwctype>

namespace wmi_double {

using varnox::windows::unique_safearray;

std::wstring lower(const std::wstring& text)
{
    std::wstring result = text;
    std::transform(result.begin(), result.end(), result.begin(), [](wchar_t c) { return std::towlower(c); });
    return result;
}

namespace {

std::optional<std::wstring> optional_text(const wchar_t* text)
{
    if (!text)
        return std::nullopt;
    return std::wstring(text);
}

HRESULT copy_out(IUnknown* object, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    return object->QueryInterface(iid, out);
}

// Whether a VARIANT type fits a CIM type the way the BCD provider checks it.
bool fits(CIMTYPE cim_type, VARTYPE vt)
{
    if (vt == VT_NULL || vt == VT_EMPTY)
        return true;
    if (cim_type & CIM_FLAG_ARRAY)
        return (vt & VT_ARRAY) != 0;
    switch (cim_type) {
    case CIM_UINT32:
    case CIM_SINT32:
    case CIM_UINT16:
    case CIM_SINT16:
    case CIM_UINT8:
        return vt == VT_I4 || vt == VT_I2 || vt == VT_UI1;
    case CIM_UINT64:
    case CIM_SINT64:
        return vt == VT_BSTR || vt == VT_I4;
    case CIM_BOOLEAN:
        return vt == VT_BOOL;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
        return vt == VT_BSTR;
    case CIM_OBJECT:
        return vt == VT_UNKNOWN || vt == VT_DISPATCH;
    default:
        return true;
    }
}

class fake_enumerator final : public IEnumWbemClassObject, public IClientSecurity {
public:
    fake_enumerator(query_answer answer, blanket_sink* blankets, IUnknown* owner)
        : _answer(std::move(answer)), _blankets(blankets), _owner(owner)
    {
        _owner->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IEnumWbemClassObject)
            *object = static_cast<IEnumWbemClassObject*>(this);
        else if (iid == IID_IClientSecurity)
            *object = static_cast<IClientSecurity*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --_references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                           DWORD*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authentication_service, DWORD authorization_service,
                                         OLECHAR* principal, DWORD authentication_level, DWORD impersonation_level,
                                         void* identity, DWORD capabilities) override
    {
        return fake_services::from(_owner)->SetBlanket(proxy, authentication_service, authorization_service,
                                                       principal, authentication_level, impersonation_level,
                                                       identity, capabilities);
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        _next = 0;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Next(LONG, ULONG count, IWbemClassObject** objects, ULONG* returned) override
    {
        if (!objects || !returned)
            return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        for (ULONG i = 0; i < count; ++i) {
            if (_answer.fail_after && _next >= *_answer.fail_after)
                return _answer.next_failure;
            if (_next >= _answer.objects.size())
                return WBEM_S_FALSE;
            objects[i] = _answer.objects[_next++].get();
            objects[i]->AddRef();
            ++*returned;
        }
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

private:
    ~fake_enumerator() { _owner->Release(); }

    std::atomic<ULONG> _references{1};
    query_answer _answer;
    size_t _next = 0;
    blanket_sink* _blankets;
    IUnknown* _owner;
};

class fake_locator final : public single_interface<IWbemLocator> {
public:
    explicit fake_locator(locator_registration* registration)
        : single_interface(IID_IWbemLocator), _registration(registration)
    {
    }


    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG security_flags, const BSTR authority,
                                            IWbemContext* context, IWbemServices** services) override
    {
        _registration->connects.push_back({resource ? resource : L"", optional_text(user), optional_text(password),
                                           optional_text(locale), security_flags, optional_text(authority),
                                           context != nullptr});
        if (!services)
            return WBEM_E_INVALID_PARAMETER;
        *services = nullptr;
        if (FAILED(_registration->connect_result))
            return _registration->connect_result;
        return copy_out(static_cast<IWbemServices*>(_registration->services.get()), IID_IWbemServices, reinterpret_cast<void**>(services));
    }

private:
    locator_registration* _registration;
};

class locator_factory final : public single_interface<IClassFactory> {
public:
    explicit locator_factory(locator_registration* registration)
        : single_interface(IID_IClassFactory), _registration(registration)
    {
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FAILED(_registration->create_instance_result))
            return _registration->create_instance_result;
        com_ptr<fake_locator> locator;
        locator.reset(new fake_locator(_registration));
        return locator->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    locator_registration* _registration;
};

} // namespace

// ---------------------------------------------------------------- values

namespace {

// VariantCopy turns a null BSTR into an empty one; a null string must stay
// null so that tests see exactly what was sent.
void copy_variant(VARIANT& target, const VARIANT& source)
{
    ::VariantClear(&target);
    if (source.vt == VT_BSTR && !source.bstrVal) {
        target.vt = VT_BSTR;
        target.bstrVal = nullptr;
        return;
    }
    ::VariantCopy(&target, const_cast<VARIANT*>(&source));
}

} // namespace

variant_copy::variant_copy(const VARIANT& source)
{
    ::VariantInit(&value);
    copy_variant(value, source);
}

variant_copy::variant_copy(const variant_copy& other)
{
    ::VariantInit(&value);
    copy_variant(value, other.value);
}

variant_copy& variant_copy::operator=(const variant_copy& other)
{
    if (this != &other)
        copy_variant(value, other.value);
    return *this;
}

variant_copy null_value()
{
    variant_copy result;
    result.value.vt = VT_NULL;
    return result;
}

variant_copy uint32_value(std::uint32_t number)
{
    variant_copy result;
    result.value.vt = VT_I4;
    result.value.lVal = static_cast<LONG>(number);
    return result;
}

variant_copy bool_value(bool flag)
{
    variant_copy result;
    result.value.vt = VT_BOOL;
    result.value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

variant_copy string_value(const std::wstring& text)
{
    variant_copy result;
    result.value.vt = VT_BSTR;
    result.value.bstrVal = ::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    return result;
}

variant_copy strings_value(const std::vector<std::optional<std::wstring>>& texts)
{
    variant_copy result;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        if (texts[i]) {
            BSTR element = ::SysAllocStringLen(texts[i]->c_str(), static_cast<UINT>(texts[i]->size()));
            ::SafeArrayPutElement(array, &index, element);
            ::SysFreeString(element);
        }
    }
    result.value.vt = VT_ARRAY | VT_BSTR;
    result.value.parray = array;
    return result;
}

variant_copy object_value(IWbemClassObject* object)
{
    variant_copy result;
    result.value.vt = VT_UNKNOWN;
    result.value.punkVal = object;
    if (object)
        object->AddRef();
    return result;
}

std::vector<std::wstring> strings_of(const VARIANT& value)
{
    std::vector<std::wstring> result;
    if (value.vt != (VT_ARRAY | VT_BSTR) || !value.parray)
        return result;
    varnox::windows::safearray_data_lock lock(value.parray);
    const BSTR* elements = static_cast<const BSTR*>(lock.data());
    const ULONG count = value.parray->rgsabound[0].cElements;
    for (ULONG i = 0; elements && i < count; ++i)
        result.emplace_back(elements[i] ? elements[i] : L"", elements[i] ? ::SysStringLen(elements[i]) : 0);
    return result;
}

// ---------------------------------------------------------------- fake_object

com_ptr<fake_object> fake_object::make_class(const std::wstring& class_name)
{
    com_ptr<fake_object> object;
    object.reset(new fake_object);
    object->_class_name = class_name;
    object->_relpath = class_name;
    object->_path = L"\\\\.\\root\\double:" + class_name;
    return object;
}

com_ptr<fake_object> fake_object::make_parameters()
{
    com_ptr<fake_object> object = make_class(L"__PARAMETERS");
    object->_path.clear();
    object->_relpath.clear();
    return object;
}

fake_object* fake_object::from(IUnknown* object)
{
    if (!object)
        return nullptr;
    return dynamic_cast<fake_object*>(object);
}

fake_object::prop* fake_object::_find(const std::wstring& name)
{
    const std::wstring key = lower(name);
    for (auto& property : _properties)
        if (lower(property.name) == key)
            return &property;
    return nullptr;
}

const fake_object::prop* fake_object::_find(const std::wstring& name) const
{
    return const_cast<fake_object*>(this)->_find(name);
}

fake_object& fake_object::property(const std::wstring& name, CIMTYPE cim_type, const variant_copy& value)
{
    if (prop* existing = _find(name)) {
        existing->cim_type = cim_type;
        existing->value = value;
    } else {
        _properties.push_back({name, cim_type, value});
    }
    return *this;
}

fake_object& fake_object::set(const std::wstring& name, const variant_copy& value)
{
    if (prop* existing = _find(name))
        existing->value = value;
    else
        _properties.push_back({name, CIM_EMPTY, value});
    return *this;
}

fake_object& fake_object::method(const std::wstring& name, com_ptr<fake_object> in_signature,
                                 com_ptr<fake_object> out_signature)
{
    _methods[lower(name)] = {std::move(in_signature), std::move(out_signature)};
    return *this;
}

fake_object& fake_object::set_path(const std::wstring& path)
{
    _path = path;
    return *this;
}

fake_object& fake_object::set_relpath(const std::wstring& relpath)
{
    _relpath = relpath;
    return *this;
}

fake_object& fake_object::fail_get(const std::wstring& name, HRESULT result)
{
    _get_failures[lower(name)] = result;
    return *this;
}

fake_object& fake_object::fail_put(const std::wstring& name, HRESULT result)
{
    _put_failures[lower(name)] = result;
    return *this;
}

fake_object& fake_object::fail_get_method(HRESULT result)
{
    _get_method_failure = result;
    return *this;
}

fake_object& fake_object::uncopyable_array(const std::wstring& name)
{
    _uncopyable_arrays.push_back(lower(name));
    return *this;
}

fake_object& fake_object::fail_spawn(HRESULT result)
{
    _spawn_failure = result;
    return *this;
}

com_ptr<fake_object> fake_object::spawn() const
{
    com_ptr<fake_object> instance;
    instance.reset(new fake_object);
    instance->_class_name = _class_name;
    instance->_is_class = false;
    instance->_properties = _properties;
    instance->_methods = _methods;
    instance->_get_failures = _get_failures;
    instance->_put_failures = _put_failures;
    instance->_uncopyable_arrays = _uncopyable_arrays;
    return instance;
}

variant_copy fake_object::value(const std::wstring& name) const
{
    const prop* property = _find(name);
    return property ? property->value : variant_copy();
}

bool fake_object::has_property(const std::wstring& name) const
{
    return _find(name) != nullptr;
}

HRESULT STDMETHODCALLTYPE fake_object::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWbemClassObject) {
        *object = static_cast<IWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE fake_object::AddRef()
{
    return ++_references;
}

ULONG STDMETHODCALLTYPE fake_object::Release()
{
    const ULONG left = --_references;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE fake_object::Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG* flavor)
{
    if (!name)
        return WBEM_E_INVALID_PARAMETER;
    const std::wstring key = lower(name);
    const auto failure = _get_failures.find(key);
    if (failure != _get_failures.end())
        return failure->second;

    if (std::find(_uncopyable_arrays.begin(), _uncopyable_arrays.end(), key) != _uncopyable_arrays.end()) {
        // A descriptor of two strings whose elements have no size and no
        // data: SafeArrayCopy refuses it, SafeArrayDestroy frees it.
        SAFEARRAY* array = nullptr;
        if (FAILED(::SafeArrayAllocDescriptor(1, &array)))
            return WBEM_E_OUT_OF_MEMORY;
        array->fFeatures = FADF_BSTR;
        array->cbElements = 0;
        array->rgsabound[0].cElements = 2;
        array->rgsabound[0].lLbound = 0;
        array->pvData = nullptr;
        if (value) {
            ::VariantInit(value);
            value->vt = VT_ARRAY | VT_BSTR;
            value->parray = array;
        } else {
            ::SafeArrayDestroyDescriptor(array);
        }
        if (type)
            *type = CIM_STRING | CIM_FLAG_ARRAY;
        if (flavor)
            *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
        return WBEM_S_NO_ERROR;
    }

    variant_copy found;
    CIMTYPE found_type = CIM_STRING;
    if (key == L"__class") {
        found = string_value(_class_name);
    } else if (key == L"__path" || key == L"__relpath") {
        const std::wstring& text = key == L"__path" ? _path : _relpath;
        found = text.empty() ? null_value() : string_value(text);
    } else if (key == L"__genus") {
        found = uint32_value(_is_class ? 1 : 2);
        found_type = CIM_SINT32;
    } else if (const prop* property = _find(name)) {
        found = property->value;
        found_type = property->cim_type;
    } else {
        return WBEM_E_NOT_FOUND;
    }
    if (value) {
        ::VariantInit(value);
        copy_variant(*value, found.value);
    }
    if (type)
        *type = found_type;
    if (flavor)
        *flavor = key.compare(0, 2, L"__") == 0 ? WBEM_FLAVOR_ORIGIN_SYSTEM : WBEM_FLAVOR_ORIGIN_LOCAL;
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE fake_object::Put(LPCWSTR name, LONG, VARIANT* value, CIMTYPE type)
{
    if (!name)
        return WBEM_E_INVALID_PARAMETER;
    variant_copy sent = value ? variant_copy(*value) : variant_copy();
    _puts.push_back({name, sent, type});
    const auto failure = _put_failures.find(lower(name));
    if (failure != _put_failures.end())
        return failure->second;
    if (lower(name).compare(0, 2, L"__") == 0)
        return WBEM_E_READ_ONLY;

    prop* property = _find(name);
    if (!property) {
        if (!_is_class)
            return WBEM_E_NOT_FOUND;
        _properties.push_back({name, type, sent});
        return WBEM_S_NO_ERROR;
    }
    if (type != 0 && type != property->cim_type)
        return WBEM_E_TYPE_MISMATCH;
    if (!fits(property->cim_type, sent.value.vt))
        return WBEM_E_TYPE_MISMATCH;
    property->value = sent;
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE fake_object::Clone(IWbemClassObject** copy)
{
    if (!copy)
        return WBEM_E_INVALID_PARAMETER;
    com_ptr<fake_object> clone = spawn();
    clone->_is_class = _is_class;
    clone->_path = _path;
    clone->_relpath = _relpath;
    *copy = clone.detach();
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE fake_object::SpawnInstance(LONG, IWbemClassObject** instance)
{
    if (!instance)
        return WBEM_E_INVALID_PARAMETER;
    *instance = nullptr;
    if (FAILED(_spawn_failure))
        return _spawn_failure;
    *instance = spawn().detach();
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE fake_object::GetMethod(LPCWSTR name, LONG, IWbemClassObject** in, IWbemClassObject** out)
{
    if (in)
        *in = nullptr;
    if (out)
        *out = nullptr;
    if (FAILED(_get_method_failure))
        return _get_method_failure;
    if (!name)
        return WBEM_E_INVALID_PARAMETER;
    const auto found = _methods.find(lower(name));
    if (found == _methods.end())
        return WBEM_E_NOT_FOUND;
    if (in && found->second.in) {
        *in = found->second.in.get();
        (*in)->AddRef();
    }
    if (out && found->second.out) {
        *out = found->second.out.get();
        (*out)->AddRef();
    }
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE fake_object::GetQualifierSet(IWbemQualifierSet**) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::Delete(LPCWSTR) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::BeginEnumeration(LONG) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::EndEnumeration() { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_object::GetObjectText(LONG, BSTR*) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::SpawnDerivedClass(LONG, IWbemClassObject**) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::CompareTo(LONG, IWbemClassObject*) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::GetPropertyOrigin(LPCWSTR, BSTR*) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::InheritsFrom(LPCWSTR) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_object::DeleteMethod(LPCWSTR) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::BeginMethodEnumeration(LONG) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_object::EndMethodEnumeration() { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_object::GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_object::GetMethodOrigin(LPCWSTR, BSTR*) { return WBEM_E_NOT_SUPPORTED; }

com_ptr<fake_object> out_instance(const fake_object& out_signature)
{
    return out_signature.spawn();
}

// ---------------------------------------------------------------- fake_services

std::wstring class_of_path(const std::wstring& path)
{
    std::wstring relative = path;
    const size_t colon = relative.find(L':');
    if (colon != std::wstring::npos && relative.compare(0, 2, L"\\\\") == 0)
        relative.erase(0, colon + 1);
    const size_t end = relative.find_first_of(L".=");
    return relative.substr(0, end);
}

com_ptr<fake_services> fake_services::make()
{
    com_ptr<fake_services> services;
    services.reset(new fake_services);
    return services;
}

fake_services* fake_services::from(IUnknown* object)
{
    if (!object)
        return nullptr;
    return dynamic_cast<fake_services*>(object);
}

fake_object& fake_services::add_class(com_ptr<fake_object> class_object)
{
    fake_object& added = *class_object.get();
    _classes[lower(class_object->class_name())] = std::move(class_object);
    return added;
}

void fake_services::add_instance(com_ptr<fake_object> instance)
{
    for (const wchar_t* name : {L"__PATH", L"__RELPATH"}) {
        variant_copy path;
        if (SUCCEEDED(instance->Get(name, 0, &path.value, nullptr, nullptr)) && path.value.vt == VT_BSTR)
            _instances[lower(path.value.bstrVal)] = instance;
    }
}

void fake_services::remove_instance(const fake_object& instance)
{
    for (auto it = _instances.begin(); it != _instances.end();)
        it = it->second.get() == &instance ? _instances.erase(it) : std::next(it);
}

void fake_services::on_method(const std::wstring& class_name, const std::wstring& method_name,
                              method_handler handler)
{
    _methods[lower(class_name) + L"." + lower(method_name)] = std::move(handler);
}

void fake_services::on_query(const std::wstring& query, query_answer answer)
{
    _queries[query] = std::move(answer);
}

void fake_services::fail_get_object(const std::wstring& path, HRESULT result)
{
    _get_object_failures[lower(path)] = result;
}

HRESULT STDMETHODCALLTYPE fake_services::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWbemServices)
        *object = static_cast<IWbemServices*>(this);
    else if (iid == IID_IClientSecurity)
        *object = static_cast<IClientSecurity*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE fake_services::AddRef()
{
    return ++_references;
}

ULONG STDMETHODCALLTYPE fake_services::Release()
{
    const ULONG left = --_references;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE fake_services::QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                                      DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE fake_services::SetBlanket(IUnknown*, DWORD authentication_service,
                                                    DWORD authorization_service, OLECHAR* principal,
                                                    DWORD authentication_level, DWORD impersonation_level,
                                                    void* identity, DWORD capabilities)
{
    blanket_record record{authentication_service, authorization_service, principal == COLE_DEFAULT_PRINCIPAL,
                          authentication_level, impersonation_level, identity != nullptr, {}, {}, {}, 0,
                          capabilities};
    if (identity) {
        const auto* auth = static_cast<const COAUTHIDENTITY*>(identity);
        record.user.assign(reinterpret_cast<const wchar_t*>(auth->User), auth->User ? auth->UserLength : 0);
        record.domain.assign(reinterpret_cast<const wchar_t*>(auth->Domain), auth->Domain ? auth->DomainLength : 0);
        record.password.assign(reinterpret_cast<const wchar_t*>(auth->Password),
                               auth->Password ? auth->PasswordLength : 0);
        record.flags = auth->Flags;
    }
    blankets.records.push_back(record);
    return blankets.result;
}

HRESULT STDMETHODCALLTYPE fake_services::CopyProxy(IUnknown*, IUnknown**)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE fake_services::GetObject(const BSTR path, LONG flags, IWbemContext*,
                                                   IWbemClassObject** object, IWbemCallResult**)
{
    const std::wstring text = path ? path : L"";
    calls.push_back(L"GetObject " + text + L" " + std::to_wstring(flags));
    if (before_get_object)
        before_get_object(text);
    if (!object)
        return WBEM_E_INVALID_PARAMETER;
    *object = nullptr;
    const std::wstring key = lower(text);
    const auto failure = _get_object_failures.find(key);
    if (failure != _get_object_failures.end())
        return failure->second;
    if (text.empty())
        return WBEM_E_INVALID_OBJECT_PATH;
    const auto instance = _instances.find(key);
    if (instance != _instances.end())
        return copy_out(instance->second.get(), IID_IWbemClassObject, reinterpret_cast<void**>(object));
    const auto class_object = _classes.find(key);
    if (class_object != _classes.end())
        return copy_out(class_object->second.get(), IID_IWbemClassObject, reinterpret_cast<void**>(object));
    return _classes.count(lower(class_of_path(text))) ? WBEM_E_NOT_FOUND : WBEM_E_INVALID_CLASS;
}

HRESULT STDMETHODCALLTYPE fake_services::ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext*,
                                                    IWbemClassObject* in_parameters,
                                                    IWbemClassObject** out_parameters, IWbemCallResult**)
{
    const std::wstring path_text = path ? path : L"";
    const std::wstring method_text = method ? method : L"";
    calls.push_back(L"ExecMethod " + path_text + L" " + method_text + L" " + std::to_wstring(flags) +
                    (in_parameters ? L" in" : L" -"));
    if (out_parameters)
        *out_parameters = nullptr;
    const std::wstring class_name = class_of_path(path_text);
    const auto handler = _methods.find(lower(class_name) + L"." + lower(method_text));
    if (handler == _methods.end())
        return _classes.count(lower(class_name)) ? WBEM_E_INVALID_METHOD : WBEM_E_INVALID_CLASS;
    com_ptr<IWbemClassObject> out;
    const HRESULT result = handler->second({path_text, class_name, method_text, in_parameters}, out);
    if (out_parameters)
        *out_parameters = out.detach();
    return result;
}

HRESULT STDMETHODCALLTYPE fake_services::ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext*,
                                                   IEnumWbemClassObject** enumerator)
{
    const std::wstring query_text = query ? query : L"";
    calls.push_back(L"ExecQuery " + std::wstring(language ? language : L"") + L" " + query_text + L" " +
                    std::to_wstring(flags));
    if (!enumerator)
        return WBEM_E_INVALID_PARAMETER;
    *enumerator = nullptr;
    query_answer answer;
    const auto found = _queries.find(query_text);
    if (found != _queries.end()) {
        answer = found->second;
    } else {
        const std::wstring prefix = L"select * from ";
        if (lower(query_text).compare(0, prefix.size(), prefix) != 0)
            return WBEM_E_INVALID_QUERY;
        const std::wstring class_name = lower(query_text.substr(prefix.size()));
        if (!_classes.count(class_name))
            return WBEM_E_INVALID_CLASS;
        for (const auto& entry : _instances)
            if (lower(entry.second->class_name()) == class_name &&
                std::none_of(answer.objects.begin(), answer.objects.end(),
                             [&](const com_ptr<fake_object>& o) { return o.get() == entry.second.get(); }))
                answer.objects.push_back(entry.second);
    }
    if (FAILED(answer.exec_result))
        return answer.exec_result;
    *enumerator = new fake_enumerator(std::move(answer), &blankets, static_cast<IWbemServices*>(this));
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE fake_services::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                                       IWbemCallResult**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::CancelAsyncCall(IWbemObjectSink*) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_services::QueryObjectSink(LONG, IWbemObjectSink**) { return WBEM_E_NOT_SUPPORTED; }
HRESULT STDMETHODCALLTYPE fake_services::GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                        IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                               IEnumWbemClassObject**)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                                    IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT STDMETHODCALLTYPE fake_services::ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemClassObject*, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}

// ---------------------------------------------------------------- locator

locator_registration::locator_registration(com_ptr<fake_services> fake) : services(std::move(fake))
{
    _factory.reset(new locator_factory(this));
    _registration_result = ::CoRegisterClassObject(CLSID_WbemLocator, _factory.get(), CLSCTX_INPROC_SERVER,
                                                   REGCLS_MULTIPLEUSE, &_cookie);
}

locator_registration::~locator_registration()
{
    if (SUCCEEDED(_registration_result))
        ::CoRevokeClassObject(_cookie);
}

} // namespace wmi_double
