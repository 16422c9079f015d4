#include "varnox/windows/registry.h"

#include "varnox/windows/registry_multi_string.h"

#include <cstring>

#include "varnox/windows/system_function.h"

namespace varnox {
namespace windows {

namespace {

constexpr REGSAM access_default = 0xF003B;  // KEY_ALL_ACCESS without KEY_CREATE_SUB_KEY
constexpr REGSAM access_delete_tree = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE | KEY_QUERY_VALUE;
constexpr DWORD max_value_name = 16384;  // 16,383 characters and the terminating zero
constexpr DWORD max_key_name = 260;

constexpr WORD architecture_itanium = 6;
constexpr WORD architecture_x64 = 9;

using reg_delete_key_ex_function = LSTATUS(WINAPI*)(HKEY, const wchar_t*, REGSAM, DWORD);
using reg_delete_tree_function = LSTATUS(WINAPI*)(HKEY, const wchar_t*);
using is_wow64_process_function = BOOL(WINAPI*)(HANDLE, PBOOL);

bool is_wow64_process()
{
    const auto is_wow64 = find_function<is_wow64_process_function>(L"kernel32", "IsWow64Process");
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(::GetCurrentProcess(), &wow64) && wow64;
}

// The editor's 64-bit flag selects the 64-bit view, whatever view access names.
REGSAM with_editor_view(REGSAM access, std::uint32_t flags)
{
    if (!(flags & reg_native_edit::flag_64bit_view))
        return access;
    return (access & ~REGSAM(KEY_WOW64_32KEY)) | KEY_WOW64_64KEY;
}

// Compares as the registry compares names: letter case does not count.
bool equal_ignoring_case(const std::wstring& left, const std::wstring& right)
{
    if (left.size() != right.size())
        return false;
    std::wstring upper_left = left;
    std::wstring upper_right = right;
    if (!upper_left.empty()) {
        ::CharUpperBuffW(&upper_left[0], static_cast<DWORD>(upper_left.size()));
        ::CharUpperBuffW(&upper_right[0], static_cast<DWORD>(upper_right.size()));
    }
    return upper_left == upper_right;
}

std::wstring without_trailing_backslash(const std::wstring& path)
{
    if (!path.empty() && path.back() == L'\\')
        return path.substr(0, path.size() - 1);
    return path;
}

std::vector<BYTE> text_data(const std::wstring& text)
{
    // The size that the registry stores counts the terminating zero.
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

} // namespace

reg_edit_base& reg_edit_base::operator=(const reg_edit_base& other)
{
    if (&other != this)
        copy(other);
    return *this;
}

LSTATUS reg_native_edit::close_key(HKEY key)
{
    return ::RegCloseKey(key);
}

bool uses_reg_delete_key_ex(const operating_system& os, bool is_wow64_process, REGSAM access,
                            std::uint32_t editor_flags)
{
    const OSVERSIONINFOEXW& version = os.version_info;
    const WORD architecture = os.system_info.wProcessorArchitecture;
    const bool is_64bit_windows = architecture == architecture_x64 || architecture == architecture_itanium;
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || !is_64bit_windows ||
        version.dwMajorVersion < 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion < 1))
        return false;
    const bool wants_64bit_view =
        (access & KEY_WOW64_64KEY) != 0 || (editor_flags & reg_native_edit::flag_64bit_view) != 0;
    const bool wants_32bit_view = !wants_64bit_view && (access & KEY_WOW64_32KEY) != 0;
    // RegDeleteKeyW reaches only the process's own view: the 32-bit one
    // under WOW64, the 64-bit one for a 64-bit process.
    return is_wow64_process ? wants_64bit_view : wants_32bit_view;
}

LSTATUS reg_native_edit::delete_key_ex(HKEY key, const wchar_t* sub_key, REGSAM access, DWORD reserved)
{
    bool extended = false;
    try {
        extended = uses_reg_delete_key_ex(operating_system::get(), is_wow64_process(), access, flags);
    } catch (...) {
        // The facts could not be read (kernel32.dll's version information):
        // neither function can be chosen safely.
        return ERROR_GEN_FAILURE;
    }
    if (!extended)
        return ::RegDeleteKeyW(key, sub_key);
    const auto reg_delete_key_ex = find_function<reg_delete_key_ex_function>(L"Advapi32", "RegDeleteKeyExW");
    if (!reg_delete_key_ex)
        return static_cast<LSTATUS>(::GetLastError());
    return reg_delete_key_ex(key, sub_key, with_editor_view(access, flags), reserved);
}

LSTATUS reg_native_edit::delete_key(HKEY key, const wchar_t* sub_key)
{
    return ::RegDeleteKeyW(key, sub_key);
}

LSTATUS reg_native_edit::create_key(HKEY key, const wchar_t* sub_key, DWORD reserved, wchar_t* class_name,
                                    DWORD options, REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result,
                                    DWORD* disposition)
{
    return ::RegCreateKeyExW(key, sub_key, reserved, class_name, options, with_editor_view(access, flags), security,
                             result, disposition);
}

LSTATUS reg_native_edit::open_key(HKEY key, const wchar_t* sub_key, DWORD options, REGSAM access, HKEY* result)
{
    return ::RegOpenKeyExW(key, sub_key, options, with_editor_view(access, flags), result);
}

LSTATUS reg_native_edit::delete_value(HKEY key, const wchar_t* name)
{
    return ::RegDeleteValueW(key, name);
}

LSTATUS reg_native_edit::delete_tree(HKEY key, const wchar_t* sub_key)
{
    const auto reg_delete_tree = find_function<reg_delete_tree_function>(L"Advapi32", "RegDeleteTreeW");
    if (reg_delete_tree)
        return reg_delete_tree(key, sub_key);
    return delete_tree_by_enumeration(*this, key, sub_key);
}

LSTATUS delete_tree_by_enumeration(reg_native_edit& editor, HKEY key, const wchar_t* sub_key)
{
    unique_hkey opened;
    LSTATUS result = editor.open_key(key, sub_key, 0, access_delete_tree, opened.put());
    if (result != ERROR_SUCCESS)
        return result;

    for (;;) {
        wchar_t name[max_key_name] = {};
        DWORD length = max_key_name;
        result = editor.enum_key(opened.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            break;
        result = delete_tree_by_enumeration(editor, opened.get(), name);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (result != ERROR_NO_MORE_ITEMS)
        return result;

    if (sub_key != nullptr && *sub_key != L'\0') {
        opened.reset();
        const REGSAM view = (editor.flags & reg_native_edit::flag_64bit_view) ? KEY_WOW64_64KEY : 0;
        return editor.delete_key_ex(key, sub_key, view, 0);
    }
    for (;;) {
        wchar_t name[max_value_name] = {};
        DWORD length = max_value_name;
        result = editor.enum_value(opened.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS)
            return result;
        result = editor.delete_value(opened.get(), name);
        if (result != ERROR_SUCCESS)
            return result;
    }
}

LSTATUS reg_native_edit::enum_key(HKEY key, DWORD index, wchar_t* name, DWORD* name_length, DWORD* reserved,
                                  wchar_t* class_name, DWORD* class_length, FILETIME* last_write_time)
{
    return ::RegEnumKeyExW(key, index, name, name_length, reserved, class_name, class_length, last_write_time);
}

LSTATUS reg_native_edit::enum_value(HKEY key, DWORD index, wchar_t* name, DWORD* name_length, DWORD* reserved,
                                    DWORD* type, BYTE* data, DWORD* data_size)
{
    return ::RegEnumValueW(key, index, name, name_length, reserved, type, data, data_size);
}

LSTATUS reg_native_edit::query_value(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                                     DWORD* data_size)
{
    return ::RegQueryValueExW(key, name, reserved, type, data, data_size);
}

LSTATUS reg_native_edit::set_value(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                                   DWORD data_size)
{
    return ::RegSetValueExW(key, name, reserved, type, data, data_size);
}

LSTATUS reg_native_edit::query_info_key(HKEY key, wchar_t* class_name, DWORD* class_length, DWORD* reserved,
                                        DWORD* sub_keys, DWORD* max_sub_key_length, DWORD* max_class_length,
                                        DWORD* values, DWORD* max_value_name_length, DWORD* max_value_length,
                                        DWORD* security_descriptor_size, FILETIME* last_write_time)
{
    return ::RegQueryInfoKeyW(key, class_name, class_length, reserved, sub_keys, max_sub_key_length,
                              max_class_length, values, max_value_name_length, max_value_length,
                              security_descriptor_size, last_write_time);
}

LSTATUS reg_native_edit::flush_key(HKEY key)
{
    return ::RegFlushKey(key);
}

void reg_native_edit::copy(const reg_edit_base&) {}

reg_native_edit& native_registry_editor()
{
    static reg_native_edit editor(0);
    return editor;
}

std::vector<std::wstring> parse_multi_string(const BYTE* data, DWORD size)
{
    std::vector<std::wstring> items;
    for (const std::u16string& item : parse_multi_string_units(data, size))
        items.emplace_back(item.begin(), item.end());
    return items;
}

std::optional<std::wstring> reg_value::item(std::size_t index) const
{
    if (_type != REG_MULTI_SZ || index >= _items.size())
        return std::nullopt;
    return _items[index];
}

void reg_value::_store(DWORD type, const BYTE* data, DWORD size)
{
    _type = type;
    _data.clear();
    _text.clear();
    _items.clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const std::size_t count = size / sizeof(wchar_t);
        std::vector<wchar_t> characters(count);
        std::memcpy(characters.data(), data, count * sizeof(wchar_t));
        std::size_t length = 0;
        while (length < count && characters[length] != L'\0')
            ++length;
        _text.assign(characters.data(), length);
        break;
    }
    case REG_MULTI_SZ:
        _items = parse_multi_string(data, size);
        break;
    case REG_DWORD:
    case REG_QWORD: {
        const DWORD width = type == REG_DWORD ? 4 : 8;
        _data.assign(width, 0);
        std::memcpy(_data.data(), data, size < width ? size : width);
        break;
    }
    default:
        _data.assign(data, data + size);
        break;
    }
}

LSTATUS reg_value::set(DWORD type, const BYTE* data, DWORD size)
{
    registry& owner = *_owner;
    if (owner._read_only() && !owner._filling())
        return ERROR_ACCESS_DENIED;
    if (size > max_reg_value || (size > 0 && data == nullptr))
        return ERROR_INVALID_PARAMETER;
    _store(type, data, size);
    if (owner._filling()) {
        _exists = true;
        return ERROR_SUCCESS;
    }
    _exists = false;
    owner._reopen_if_allowed();
    if (!owner._key)
        return ERROR_INVALID_HANDLE;
    const LSTATUS result = owner._editor->set_value(owner._key.get(), _name.c_str(), 0, type, data, size);
    if (result == ERROR_SUCCESS)
        _exists = true;
    return result;
}

LSTATUS reg_value::set_string(const std::wstring& text)
{
    const std::vector<BYTE> data = text_data(text);
    return set(REG_SZ, data.data(), static_cast<DWORD>(data.size()));
}

LSTATUS reg_value::set_expand_string(const std::wstring& text)
{
    const std::vector<BYTE> data = text_data(text);
    return set(REG_EXPAND_SZ, data.data(), static_cast<DWORD>(data.size()));
}

LSTATUS reg_value::set_binary(const std::vector<BYTE>& bytes)
{
    if (bytes.empty())
        return ERROR_INVALID_PARAMETER;
    return set(REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

LSTATUS reg_value::set_dword(DWORD number)
{
    return set(REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

LSTATUS reg_value::set_qword(std::uint64_t number)
{
    return set(REG_QWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

registry::registry(std::uint32_t options) : _editor(&native_registry_editor()), _flags(options) {}

bool registry::open(const std::wstring& path, HKEY root)
{
    const std::wstring stored = without_trailing_backslash(path);
    if (_path.empty() || !equal_ignoring_case(_path, stored)) {
        _values.clear();
        _path = stored;
    }
    _root = root;
    _key.reset();

    REGSAM access = access_default;
    if (_flags & option_read_only)
        access = KEY_READ;
    else if (_flags & option_create)
        access = KEY_ALL_ACCESS;
    if (_flags & option_64bit_view)
        access |= KEY_WOW64_64KEY;

    HKEY key = nullptr;
    const LSTATUS result = (_flags & option_create)
                               ? _editor->create_key(root, path.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr)
                               : _editor->open_key(root, path.c_str(), 0, access, &key);
    if (result == ERROR_SUCCESS) {
        _key.reset(key);
        _opened = true;
    }
    ::SetLastError(static_cast<DWORD>(result));
    if (result != ERROR_SUCCESS)
        return false;
    if (_flags & _marker_reopening)
        return true;
    return refresh();
}

void registry::_reopen_if_allowed()
{
    // Nothing to reopen before the first open.
    if (_key || !(_flags & option_reopen) || (!_opened && _path.empty()))
        return;
    _flags |= _marker_reopening;
    open(_path, _root);
    _flags &= ~_marker_reopening;
}

bool registry::refresh()
{
    _reopen_if_allowed();
    if (!_key)
        return false;

    DWORD value_count = 0;
    if (_editor->query_info_key(_key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &value_count,
                                nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;

    _flags |= _marker_filling;
    for (const auto& cached : _values)
        cached->_exists = false;

    std::vector<wchar_t> name(max_value_name);
    std::vector<BYTE> data(max_reg_value);
    for (DWORD index = 0; index < value_count; ++index) {
        std::fill(name.begin(), name.end(), L'\0');
        std::fill(data.begin(), data.end(), BYTE(0));
        DWORD name_length = max_value_name;
        DWORD type = REG_NONE;
        DWORD size = max_reg_value;
        if (_editor->enum_value(_key.get(), index, name.data(), &name_length, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            continue;
        switch (type) {
        case REG_NONE:
        case REG_BINARY:
            if (size == 0)
                continue;
            break;
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_DWORD:
        case REG_QWORD:
        case REG_MULTI_SZ:
            break;
        default:
            continue;
        }
        const std::wstring reported(name.data(), name_length);
        const std::shared_ptr<reg_value> found = value(reported);
        found->_name = reported;
        found->set(type, data.data(), size);
    }

    for (auto at = _values.size(); at > 0; --at) {
        if (!_values[at - 1]->_exists)
            _values.erase(_values.begin() + static_cast<std::ptrdiff_t>(at - 1));
    }
    _flags &= ~_marker_filling;
    return true;
}

std::shared_ptr<reg_value> registry::value(const std::wstring& name)
{
    if (!_filling() && _values.empty())
        refresh();
    for (const auto& cached : _values) {
        if (equal_ignoring_case(cached->_name, name))
            return cached;
    }
    _values.push_back(std::make_shared<reg_value>(this, name));
    return _values.back();
}

std::uint32_t registry_options_for(bool is_64bit_os, bool is_64bit_process)
{
    return is_64bit_os && !is_64bit_process ? registry::option_64bit_view : 0;
}

} // namespace windows
} // namespace varnox
