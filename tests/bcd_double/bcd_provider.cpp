#include "bcd_provider.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <map>

namespace bcd_double {

using wmi_double::bool_value;
using wmi_double::fake_object;
using wmi_double::method_call;
using wmi_double::null_value;
using wmi_double::object_value;
using wmi_double::string_value;
using wmi_double::strings_of;
using wmi_double::uint32_value;
using wmi_double::variant_copy;

namespace {

std::wstring host_name()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size))
        return L".";
    return name;
}

// A key value in an object path: double-quoted, backslashes and quotes
// escaped with a backslash.
std::wstring quoted(const std::wstring& value)
{
    std::wstring text = L"\"";
    for (const wchar_t c : value) {
        if (c == L'\\' || c == L'"')
            text += L'\\';
        text += c;
    }
    return text + L"\"";
}

// The keys of a relative or full object path: Class.Key="value",Key=42.
std::map<std::wstring, std::wstring> keys_of(const std::wstring& path)
{
    std::map<std::wstring, std::wstring> keys;
    std::wstring relative = path;
    if (relative.compare(0, 2, L"\\\\") == 0) {
        const size_t colon = relative.find(L':');
        relative.erase(0, colon == std::wstring::npos ? relative.size() : colon + 1);
    }
    const size_t dot = relative.find(L'.');
    if (dot == std::wstring::npos)
        return keys;
    size_t at = dot + 1;
    while (at < relative.size()) {
        const size_t equals = relative.find(L'=', at);
        if (equals == std::wstring::npos)
            break;
        const std::wstring key = wmi_double::lower(relative.substr(at, equals - at));
        std::wstring value;
        at = equals + 1;
        if (at < relative.size() && relative[at] == L'"') {
            for (++at; at < relative.size() && relative[at] != L'"'; ++at) {
                if (relative[at] == L'\\' && at + 1 < relative.size())
                    ++at;
                value += relative[at];
            }
            ++at;
        } else {
            const size_t comma = relative.find(L',', at);
            value = relative.substr(at, comma == std::wstring::npos ? std::wstring::npos : comma - at);
            at = comma == std::wstring::npos ? relative.size() : comma;
        }
        keys[key] = value;
        if (at < relative.size() && relative[at] == L',')
            ++at;
    }
    return keys;
}

std::wstring new_id()
{
    GUID guid{};
    ::CoCreateGuid(&guid);
    wchar_t text[64];
    std::swprintf(text, 64, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::wstring hex_of(std::uint32_t value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", value);
    return text;
}

variant_copy objects_value(const std::vector<com_ptr<fake_object>>& objects)
{
    variant_copy result;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(objects.size()));
    for (size_t i = 0; i < objects.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        ::SafeArrayPutElement(array, &index, static_cast<IUnknown*>(static_cast<IWbemClassObject*>(objects[i].get())));
    }
    result.value.vt = VT_ARRAY | VT_UNKNOWN;
    result.value.parray = array;
    return result;
}

variant_copy numbers_value(const std::vector<std::uint64_t>& numbers)
{
    std::vector<std::optional<std::wstring>> texts;
    for (const auto number : numbers)
        texts.emplace_back(std::to_wstring(number));
    return wmi_double::strings_value(texts);
}

// A parameter that the call lacks or that has the wrong VARIANT type.
struct bad_parameter {
    HRESULT result;
};

// The in-parameters of one call, read as the provider reads them.
class in_parameters {
public:
    explicit in_parameters(IWbemClassObject* object) : _object(fake_object::from(object)) {}

    bool present() const { return _object != nullptr; }

    variant_copy raw(const wchar_t* name) const
    {
        if (!_object)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS)};
        variant_copy value = _object->value(name);
        if (value.value.vt == VT_NULL || value.value.vt == VT_EMPTY)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS)};
        return value;
    }
    // uint32 travels as VT_I4; the provider refuses VT_UI4.
    std::uint32_t uint32(const wchar_t* name) const
    {
        const variant_copy value = raw(name);
        if (value.value.vt != VT_I4)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH)};
        return static_cast<std::uint32_t>(value.value.lVal);
    }
    // uint64 travels as a decimal string; clients also pass VT_I4.
    std::uint64_t uint64(const wchar_t* name) const
    {
        const variant_copy value = raw(name);
        if (value.value.vt == VT_I4)
            return static_cast<std::uint32_t>(value.value.lVal);
        if (value.value.vt != VT_BSTR || !value.value.bstrVal)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH)};
        wchar_t* end = nullptr;
        const std::uint64_t number = std::wcstoull(value.value.bstrVal, &end, 10);
        if (!end || *end != L'\0' || end == value.value.bstrVal)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_INVALID_PARAMETER)};
        return number;
    }
    bool boolean(const wchar_t* name) const
    {
        const variant_copy value = raw(name);
        if (value.value.vt != VT_BOOL)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH)};
        return value.value.boolVal != VARIANT_FALSE;
    }
    std::wstring string(const wchar_t* name) const
    {
        const variant_copy value = raw(name);
        if (value.value.vt != VT_BSTR)
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH)};
        return value.value.bstrVal ? value.value.bstrVal : L"";
    }
    std::vector<std::wstring> strings(const wchar_t* name) const
    {
        const variant_copy value = raw(name);
        if (value.value.vt != (VT_ARRAY | VT_BSTR))
            throw bad_parameter{static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH)};
        return strings_of(value.value);
    }
    // What a failure's argument may name: "Type" in hex, or an identifier.
    std::vector<std::wstring> arguments() const
    {
        std::vector<std::wstring> found;
        if (!_object)
            return found;
        const variant_copy type = _object->value(L"Type");
        if (type.value.vt == VT_I4)
            found.push_back(hex_of(static_cast<std::uint32_t>(type.value.lVal)));
        for (const wchar_t* name : {L"Id", L"SourceId", L"File"}) {
            const variant_copy text = _object->value(name);
            if (text.value.vt == VT_BSTR && text.value.bstrVal)
                found.push_back(text.value.bstrVal);
        }
        return found;
    }

private:
    fake_object* _object;
};

struct parameter {
    const wchar_t* name;
    CIMTYPE cim_type;
};

struct method_definition {
    const wchar_t* name;
    std::vector<parameter> in;
    std::vector<parameter> out;
};

const CIMTYPE cim_string = CIM_STRING;
const CIMTYPE cim_strings = CIM_STRING | CIM_FLAG_ARRAY;
const CIMTYPE cim_objects = CIM_OBJECT | CIM_FLAG_ARRAY;

const method_definition store_methods[] = {
    {L"OpenStore", {{L"File", cim_string}}, {{L"Store", CIM_OBJECT}}},
    {L"CreateStore", {{L"File", cim_string}}, {{L"Store", CIM_OBJECT}}},
    {L"ImportStore", {{L"File", cim_string}}, {}},
    {L"OpenObject", {{L"Id", cim_string}}, {{L"Object", CIM_OBJECT}}},
    {L"CopyObject",
     {{L"SourceStoreFile", cim_string}, {L"SourceId", cim_string}, {L"Flags", CIM_UINT32}},
     {{L"Object", CIM_OBJECT}}},
    {L"DeleteObject", {{L"Id", cim_string}}, {}},
    {L"EnumerateObjects", {{L"Type", CIM_UINT32}}, {{L"Objects", cim_objects}}},
    {L"CreateObject", {{L"Id", cim_string}, {L"Type", CIM_UINT32}}, {{L"Object", CIM_OBJECT}}},
};

const method_definition object_methods[] = {
    {L"GetElement", {{L"Type", CIM_UINT32}}, {{L"Element", CIM_OBJECT}}},
    {L"SetStringElement", {{L"Type", CIM_UINT32}, {L"String", cim_string}}, {}},
    {L"SetIntegerElement", {{L"Type", CIM_UINT32}, {L"Integer", CIM_UINT64}}, {}},
    {L"SetBooleanElement", {{L"Type", CIM_UINT32}, {L"Boolean", CIM_BOOLEAN}}, {}},
    {L"SetObjectElement", {{L"Type", CIM_UINT32}, {L"Id", cim_string}}, {}},
    {L"SetObjectListElement", {{L"Type", CIM_UINT32}, {L"Ids", cim_strings}}, {}},
    {L"SetDeviceElement",
     {{L"Type", CIM_UINT32}, {L"DeviceType", CIM_UINT32}, {L"AdditionalOptions", cim_string}},
     {}},
    {L"SetPartitionDeviceElement",
     {{L"Type", CIM_UINT32},
      {L"DeviceType", CIM_UINT32},
      {L"AdditionalOptions", cim_string},
      {L"Path", cim_string}},
     {}},
    {L"DeleteElement", {{L"Type", CIM_UINT32}}, {}},
};

com_ptr<fake_object> make_class(const wchar_t* name, const std::vector<parameter>& properties)
{
    com_ptr<fake_object> object = fake_object::make_class(name);
    object->set_path(full_path(name)).set_relpath(name);
    for (const auto& property : properties)
        object->property(property.name, property.cim_type);
    return object;
}

} // namespace

std::wstring store_relpath(const std::wstring& file)
{
    return L"BcdStore.FilePath=" + quoted(file);
}

std::wstring object_relpath(const std::wstring& id, const std::wstring& file)
{
    return L"BcdObject.Id=" + quoted(id) + L",StoreFilePath=" + quoted(file);
}

std::wstring full_path(const std::wstring& relpath)
{
    static const std::wstring host = host_name();
    return L"\\\\" + host + L"\\root\\WMI:" + relpath;
}

struct bcd_provider::state {
    bcd_store store;
    std::function<void(const bcd_store&)> changed;
    std::vector<std::wstring> calls;
    std::vector<std::wstring> changes;

    com_ptr<fake_object> store_class;
    com_ptr<fake_object> object_class;
    std::map<element_format, com_ptr<fake_object>> element_classes;
    com_ptr<fake_object> device_class;
    com_ptr<fake_object> partition_device_class;
    com_ptr<fake_object> file_device_class;
    // Output signatures by "class.method" in lower case.
    std::map<std::wstring, com_ptr<fake_object>> out_signatures;

    com_ptr<fake_object> out(const std::wstring& class_name, const std::wstring& method, bool verdict)
    {
        com_ptr<fake_object> result = out_signatures.at(wmi_double::lower(class_name + L"." + method))->spawn();
        result->set(L"ReturnValue", bool_value(verdict));
        return result;
    }

    com_ptr<fake_object> store_instance()
    {
        com_ptr<fake_object> instance = store_class->spawn();
        instance->set(L"FilePath", string_value(store.file));
        const std::wstring relpath = store_relpath(store.file);
        instance->set_path(full_path(relpath)).set_relpath(relpath);
        return instance;
    }

    com_ptr<fake_object> object_instance(const bcd_object& object)
    {
        com_ptr<fake_object> instance = object_class->spawn();
        instance->set(L"Id", string_value(object.id))
            .set(L"StoreFilePath", string_value(store.file))
            .set(L"Type", uint32_value(object.type));
        const std::wstring relpath = object_relpath(object.id, store.file);
        instance->set_path(full_path(relpath)).set_relpath(relpath);
        return instance;
    }

    com_ptr<fake_object> device_instance(const device_data& device)
    {
        const bool partition = device.device_type == 2 || device.device_type == 6;
        const bool file = device.device_type == 3 || device.device_type == 4;
        com_ptr<fake_object> instance =
            (partition ? partition_device_class : file ? file_device_class : device_class)->spawn();
        instance->set(L"DeviceType", uint32_value(device.device_type))
            .set(L"AdditionalOptions", string_value(device.additional_options));
        if (partition || file)
            instance->set(L"Path", string_value(device.path));
        return instance;
    }

    com_ptr<fake_object> element_instance(const bcd_object& object, const element& value)
    {
        const element_format format = *format_of(value.type);
        com_ptr<fake_object> instance = element_classes.at(format)->spawn();
        instance->set(L"StoreFilePath", string_value(store.file))
            .set(L"ObjectId", string_value(object.id))
            .set(L"Type", uint32_value(value.type));
        switch (format) {
        case element_format::device:
            instance->set(L"Device", object_value(device_instance(value.device).get()));
            break;
        case element_format::string:
            instance->set(L"String", string_value(value.text));
            break;
        case element_format::object:
            instance->set(L"Id", string_value(value.text));
            break;
        case element_format::object_list: {
            std::vector<std::optional<std::wstring>> ids(value.ids.begin(), value.ids.end());
            instance->set(L"Ids", wmi_double::strings_value(ids));
            break;
        }
        case element_format::integer:
            instance->set(L"Integer", string_value(std::to_wstring(value.integer)));
            break;
        case element_format::boolean:
            instance->set(L"Boolean", bool_value(value.boolean));
            break;
        case element_format::integer_list:
            instance->set(L"Integers", numbers_value(value.integers));
            break;
        }
        const std::wstring relpath = instance->class_name() + L".ObjectId=" + quoted(object.id) +
                                     L",StoreFilePath=" + quoted(store.file) + L",Type=" +
                                     std::to_wstring(value.type);
        instance->set_path(full_path(relpath)).set_relpath(relpath);
        return instance;
    }

    void note_change(const std::wstring& call)
    {
        changes.push_back(call);
        if (changed)
            changed(store);
    }
};

namespace {

using state_ptr = std::shared_ptr<bcd_provider::state>;

// What a method does: fills out and returns the HRESULT of ExecMethod.
using method_body = std::function<HRESULT(bcd_provider::state& state, const method_call& call,
                                          const in_parameters& in, com_ptr<fake_object>& out)>;

// An absent element or object in the form the store was set to report it.
HRESULT absent(bcd_provider::state& state, absent_form form, HRESULT failure, const std::wstring& class_name,
               const std::wstring& method, com_ptr<fake_object>& out)
{
    if (form == absent_form::call_fails)
        return failure;
    out = state.out(class_name, method, false);
    return WBEM_S_NO_ERROR;
}

// The object that an instance path names, or null.
bcd_object* object_of_path(bcd_provider::state& state, const std::wstring& path)
{
    const auto keys = keys_of(path);
    const auto id = keys.find(L"id");
    const auto file = keys.find(L"storefilepath");
    if (id == keys.end() || file == keys.end() || !same_id(file->second, state.store.file))
        return nullptr;
    return state.store.find(id->second);
}

bool store_path_matches(bcd_provider::state& state, const std::wstring& path)
{
    const auto keys = keys_of(path);
    const auto file = keys.find(L"filepath");
    return file != keys.end() && same_id(file->second, state.store.file);
}

HRESULT set_element(bcd_provider::state& state, const method_call& call, const in_parameters& in,
                    com_ptr<fake_object>& out, element_format format,
                    const std::function<void(element&)>& fill)
{
    bcd_object* object = object_of_path(state, call.object_path);
    if (!object)
        return absent(state, state.store.missing_object, object_not_found, L"BcdObject", call.method_name, out);
    element value;
    value.type = in.uint32(L"Type");
    if (format_of(value.type) != format) {
        out = state.out(L"BcdObject", call.method_name, false);
        return WBEM_S_NO_ERROR;
    }
    fill(value);
    object->put(value);
    out = state.out(L"BcdObject", call.method_name, true);
    state.note_change(L"BcdObject." + call.method_name + L" " + object->id + L" " + element_name_of(value.type));
    return WBEM_S_NO_ERROR;
}

const std::map<std::wstring, method_body>& store_bodies()
{
    static const std::map<std::wstring, method_body> bodies = {
        {L"OpenStore",
         [](bcd_provider::state& state, const method_call&, const in_parameters& in, com_ptr<fake_object>& out) -> HRESULT {
             const bool opened = same_id(in.string(L"File"), state.store.file);
             out = state.out(L"BcdStore", L"OpenStore", opened);
             if (opened)
                 out->set(L"Store", object_value(state.store_instance().get()));
             return WBEM_S_NO_ERROR;
         }},
        {L"CreateStore",
         [](bcd_provider::state& state, const method_call&, const in_parameters&, com_ptr<fake_object>& out) -> HRESULT {
             out = state.out(L"BcdStore", L"CreateStore", false);
             return WBEM_S_NO_ERROR;
         }},
        {L"ImportStore",
         [](bcd_provider::state& state, const method_call&, const in_parameters&, com_ptr<fake_object>& out) -> HRESULT {
             out = state.out(L"BcdStore", L"ImportStore", false);
             return WBEM_S_NO_ERROR;
         }},
        {L"OpenObject",
         [](bcd_provider::state& state, const method_call&, const in_parameters& in, com_ptr<fake_object>& out) -> HRESULT {
             const bcd_object* object = state.store.find(in.string(L"Id"));
             if (!object)
                 return absent(state, state.store.missing_object, object_not_found, L"BcdStore", L"OpenObject", out);
             out = state.out(L"BcdStore", L"OpenObject", true);
             out->set(L"Object", object_value(state.object_instance(*object).get()));
             return WBEM_S_NO_ERROR;
         }},
        {L"CopyObject",
         [](bcd_provider::state& state, const method_call&, const in_parameters& in, com_ptr<fake_object>& out) -> HRESULT {
             const std::wstring source_file = in.string(L"SourceStoreFile");
             const std::wstring source_id = in.string(L"SourceId");
             const std::uint32_t flags = in.uint32(L"Flags");
             if (!same_id(source_file, state.store.file)) {
                 out = state.out(L"BcdStore", L"CopyObject", false);
                 return WBEM_S_NO_ERROR;
             }
             const bcd_object* source = state.store.find(source_id);
             if (!source)
                 return absent(state, state.store.missing_object, object_not_found, L"BcdStore", L"CopyObject", out);
             bcd_object copy = *source;
             if (flags & 1) {
                 copy.id = new_id();
             } else if (state.store.find(copy.id)) {
                 // Copying onto an existing identifier needs flag 2, and
                 // the source would then delete itself.
                 out = state.out(L"BcdStore", L"CopyObject", false);
                 return WBEM_S_NO_ERROR;
             }
             state.store.objects.push_back(copy);
             out = state.out(L"BcdStore", L"CopyObject", true);
             out->set(L"Object", object_value(state.object_instance(copy).get()));
             state.note_change(L"BcdStore.CopyObject " + source_id + L" " + copy.id);
             return WBEM_S_NO_ERROR;
         }},
        {L"DeleteObject",
         [](bcd_provider::state& state, const method_call&, const in_parameters& in, com_ptr<fake_object>& out) -> HRESULT {
             const std::wstring id = in.string(L"Id");
             if (!state.store.remove(id))
                 return absent(state, state.store.missing_object, object_not_found, L"BcdStore", L"DeleteObject",
                               out);
             out = state.out(L"BcdStore", L"DeleteObject", true);
             state.note_change(L"BcdStore.DeleteObject " + id);
             return WBEM_S_NO_ERROR;
         }},
        {L"EnumerateObjects",
         [](bcd_provider::state& state, const method_call&, const in_parameters& in, com_ptr<fake_object>& out) -> HRESULT {
             const std::uint32_t type = in.uint32(L"Type");
             std::vector<com_ptr<fake_object>> found;
             for (const auto& object : state.store.objects)
                 if (type == 0 || object.type == type)
                     found.push_back(state.object_instance(object));
             out = state.out(L"BcdStore", L"EnumerateObjects", true);
             out->set(L"Objects", objects_value(found));
             return WBEM_S_NO_ERROR;
         }},
        {L"CreateObject",
         [](bcd_provider::state& state, const method_call&, const in_parameters& in, com_ptr<fake_object>& out) -> HRESULT {
             bcd_object object{in.string(L"Id"), in.uint32(L"Type"), {}};
             if (object.id.empty() || state.store.find(object.id)) {
                 out = state.out(L"BcdStore", L"CreateObject", false);
                 return WBEM_S_NO_ERROR;
             }
             state.store.objects.push_back(object);
             out = state.out(L"BcdStore", L"CreateObject", true);
             out->set(L"Object", object_value(state.object_instance(object).get()));
             state.note_change(L"BcdStore.CreateObject " + object.id);
             return WBEM_S_NO_ERROR;
         }},
    };
    return bodies;
}

const std::map<std::wstring, method_body>& object_bodies()
{
    static const std::map<std::wstring, method_body> bodies = {
        {L"GetElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const bcd_object* object = object_of_path(state, call.object_path);
             if (!object)
                 return absent(state, state.store.missing_object, object_not_found, L"BcdObject", L"GetElement", out);
             const element* value = object->find(in.uint32(L"Type"));
             if (!value)
                 return absent(state, state.store.absent_element, element_not_found, L"BcdObject", L"GetElement",
                               out);
             out = state.out(L"BcdObject", L"GetElement", true);
             out->set(L"Element", object_value(state.element_instance(*object, *value).get()));
             return WBEM_S_NO_ERROR;
         }},
        {L"SetStringElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const std::wstring text = in.string(L"String");
             return set_element(state, call, in, out, element_format::string, [&](element& e) { e.text = text; });
         }},
        {L"SetIntegerElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const std::uint64_t number = in.uint64(L"Integer");
             return set_element(state, call, in, out, element_format::integer,
                                [&](element& e) { e.integer = number; });
         }},
        {L"SetBooleanElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const bool flag = in.boolean(L"Boolean");
             return set_element(state, call, in, out, element_format::boolean, [&](element& e) { e.boolean = flag; });
         }},
        {L"SetObjectElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const std::wstring id = in.string(L"Id");
             return set_element(state, call, in, out, element_format::object, [&](element& e) { e.text = id; });
         }},
        {L"SetObjectListElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const std::vector<std::wstring> ids = in.strings(L"Ids");
             return set_element(state, call, in, out, element_format::object_list, [&](element& e) { e.ids = ids; });
         }},
        {L"SetDeviceElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const device_data device{in.uint32(L"DeviceType"), in.string(L"AdditionalOptions"), L""};
             return set_element(state, call, in, out, element_format::device, [&](element& e) { e.device = device; });
         }},
        {L"SetPartitionDeviceElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             const device_data device{in.uint32(L"DeviceType"), in.string(L"AdditionalOptions"), in.string(L"Path")};
             return set_element(state, call, in, out, element_format::device, [&](element& e) { e.device = device; });
         }},
        {L"DeleteElement",
         [](bcd_provider::state& state, const method_call& call, const in_parameters& in,
            com_ptr<fake_object>& out) -> HRESULT {
             bcd_object* object = object_of_path(state, call.object_path);
             if (!object)
                 return absent(state, state.store.missing_object, object_not_found, L"BcdObject", L"DeleteElement",
                               out);
             const std::uint32_t type = in.uint32(L"Type");
             if (!object->remove(type))
                 return absent(state, state.store.absent_element, element_not_found, L"BcdObject",
                               L"DeleteElement", out);
             out = state.out(L"BcdObject", L"DeleteElement", true);
             state.note_change(L"BcdObject.DeleteElement " + object->id + L" " + element_name_of(type));
             return WBEM_S_NO_ERROR;
         }},
    };
    return bodies;
}

// The store's methods that are called on the class rather than on a store.
bool is_static(const std::wstring& method)
{
    return method == L"OpenStore" || method == L"CreateStore" || method == L"ImportStore";
}

// The failure a test chose for this call, if any.
const call_failure* chosen_failure(const bcd_store& store, const std::wstring& method, const in_parameters& in)
{
    const std::vector<std::wstring> arguments = in.arguments();
    for (const auto& failure : store.failures) {
        if (!same_id(failure.method, method))
            continue;
        if (failure.argument.empty() ||
            std::any_of(arguments.begin(), arguments.end(),
                        [&](const std::wstring& argument) { return same_id(argument, failure.argument); }))
            return &failure;
    }
    return nullptr;
}

void add_class_methods(const state_ptr& state, fake_services& services, fake_object& klass,
                       const wchar_t* class_name, const method_definition* begin, const method_definition* end,
                       const std::map<std::wstring, method_body>& bodies)
{
    for (const method_definition* method = begin; method != end; ++method) {
        com_ptr<fake_object> in_signature;
        if (!method->in.empty()) {
            in_signature = fake_object::make_parameters();
            for (const auto& p : method->in)
                in_signature->property(p.name, p.cim_type);
        }
        com_ptr<fake_object> out_signature = fake_object::make_parameters();
        out_signature->property(L"ReturnValue", CIM_BOOLEAN);
        for (const auto& p : method->out)
            out_signature->property(p.name, p.cim_type);
        klass.method(method->name, in_signature, out_signature);
        state->out_signatures[wmi_double::lower(std::wstring(class_name) + L"." + method->name)] = out_signature;

        const method_body body = bodies.at(method->name);
        const std::wstring name = method->name;
        const std::wstring owner = class_name;
        services.on_method(class_name, method->name,
                           [held = state, body, name, owner](const method_call& call, com_ptr<IWbemClassObject>& out) {
                               held->calls.push_back(owner + L"." + name);
                               const in_parameters in(call.in_parameters);
                               com_ptr<fake_object> result;
                               HRESULT hr = WBEM_S_NO_ERROR;
                               try {
                                   if (const call_failure* failure = chosen_failure(held->store, name, in)) {
                                       if (!failure->verdict_false)
                                           return failure->result;
                                       result = held->out(owner, name, false);
                                   } else if (owner == L"BcdStore" && !is_static(name) &&
                                              !store_path_matches(*held, call.object_path)) {
                                       return static_cast<HRESULT>(WBEM_E_INVALID_OBJECT_PATH);
                                   } else {
                                       hr = body(*held, call, in, result);
                                   }
                               } catch (const bad_parameter& bad) {
                                   return bad.result;
                               }
                               out = com_ptr<IWbemClassObject>(result.get());
                               return hr;
                           });
    }
}

} // namespace

bcd_provider::bcd_provider(bcd_store store, std::function<void(const bcd_store&)> changed)
    : _state(std::make_shared<state>()), _services(fake_services::make())
{
    _state->store = std::move(store);
    _state->changed = std::move(changed);

    _state->store_class = make_class(L"BcdStore", {{L"FilePath", cim_string}});
    _state->object_class =
        make_class(L"BcdObject", {{L"Id", cim_string}, {L"StoreFilePath", cim_string}, {L"Type", CIM_UINT32}});
    const std::vector<parameter> common{{L"StoreFilePath", cim_string}, {L"ObjectId", cim_string},
                                        {L"Type", CIM_UINT32}};
    const struct {
        element_format format;
        const wchar_t* name;
        parameter value;
    } element_classes[] = {
        {element_format::device, L"BcdDeviceElement", {L"Device", CIM_OBJECT}},
        {element_format::string, L"BcdStringElement", {L"String", cim_string}},
        {element_format::object, L"BcdObjectElement", {L"Id", cim_string}},
        {element_format::object_list, L"BcdObjectListElement", {L"Ids", cim_strings}},
        {element_format::integer, L"BcdIntegerElement", {L"Integer", CIM_UINT64}},
        {element_format::boolean, L"BcdBooleanElement", {L"Boolean", CIM_BOOLEAN}},
        {element_format::integer_list, L"BcdIntegerListElement", {L"Integers", CIM_UINT64 | CIM_FLAG_ARRAY}},
    };
    for (const auto& entry : element_classes) {
        std::vector<parameter> properties = common;
        properties.push_back(entry.value);
        _state->element_classes[entry.format] = make_class(entry.name, properties);
        _services->add_class(_state->element_classes[entry.format]);
    }
    _state->device_class =
        make_class(L"BcdDeviceData", {{L"DeviceType", CIM_UINT32}, {L"AdditionalOptions", cim_string}});
    _state->partition_device_class = make_class(
        L"BcdDevicePartitionData",
        {{L"DeviceType", CIM_UINT32}, {L"AdditionalOptions", cim_string}, {L"Path", cim_string}});
    _state->file_device_class = make_class(
        L"BcdDeviceFileData", {{L"DeviceType", CIM_UINT32}, {L"AdditionalOptions", cim_string}, {L"Path", cim_string}});
    for (const auto* klass : {&_state->device_class, &_state->partition_device_class, &_state->file_device_class})
        _services->add_class(*klass);

    add_class_methods(_state, *_services.get(), *_state->store_class.get(), L"BcdStore", std::begin(store_methods),
                      std::end(store_methods), store_bodies());
    add_class_methods(_state, *_services.get(), *_state->object_class.get(), L"BcdObject",
                      std::begin(object_methods), std::end(object_methods), object_bodies());
    _services->add_class(_state->store_class);
    _services->add_class(_state->object_class);
}

bcd_store& bcd_provider::store()
{
    return _state->store;
}

const bcd_store& bcd_provider::store() const
{
    return _state->store;
}

const std::vector<std::wstring>& bcd_provider::method_calls() const
{
    return _state->calls;
}

std::vector<std::wstring> bcd_provider::changes() const
{
    return _state->changes;
}

} // namespace bcd_double
