#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnox/windows/handle.h"
#include "varnox/windows/operating_system.h"

namespace varnox {
namespace windows {

// The registry primitives that `registry` reaches Windows through. Every
// operation returns the Win32 error code of its call (0 for success).
class reg_edit_base {
public:
    virtual LSTATUS close_key(HKEY key) = 0;
    virtual LSTATUS delete_key_ex(HKEY key, const wchar_t* sub_key, REGSAM access, DWORD reserved) = 0;
    virtual LSTATUS delete_key(HKEY key, const wchar_t* sub_key) = 0;
    virtual LSTATUS create_key(HKEY key, const wchar_t* sub_key, DWORD reserved, wchar_t* class_name, DWORD options,
                               REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result,
                               DWORD* disposition) = 0;
    virtual LSTATUS open_key(HKEY key, const wchar_t* sub_key, DWORD options, REGSAM access, HKEY* result) = 0;
    virtual LSTATUS delete_value(HKEY key, const wchar_t* name) = 0;
    virtual LSTATUS delete_tree(HKEY key, const wchar_t* sub_key) = 0;
    virtual LSTATUS enum_key(HKEY key, DWORD index, wchar_t* name, DWORD* name_length, DWORD* reserved,
                             wchar_t* class_name, DWORD* class_length, FILETIME* last_write_time) = 0;
    virtual LSTATUS enum_value(HKEY key, DWORD index, wchar_t* name, DWORD* name_length, DWORD* reserved,
                               DWORD* type, BYTE* data, DWORD* data_size) = 0;
    virtual LSTATUS query_value(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                                DWORD* data_size) = 0;
    virtual LSTATUS set_value(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD data_size) = 0;
    virtual LSTATUS query_info_key(HKEY key, wchar_t* class_name, DWORD* class_length, DWORD* reserved,
                                   DWORD* sub_keys, DWORD* max_sub_key_length, DWORD* max_class_length,
                                   DWORD* values, DWORD* max_value_name_length, DWORD* max_value_length,
                                   DWORD* security_descriptor_size, FILETIME* last_write_time) = 0;
    virtual LSTATUS flush_key(HKEY key) = 0;
    virtual void copy(const reg_edit_base& other) = 0;
    virtual reg_edit_base& operator=(const reg_edit_base& other);
    virtual ~reg_edit_base() = default;
};

// The primitives over the Win32 registry functions.
class reg_native_edit : public reg_edit_base {
public:
    // Bit 0 of the flags makes create_key and open_key ask for the 64-bit
    // view (KEY_WOW64_64KEY, in place of a KEY_WOW64_32KEY asked for).
    static constexpr std::uint32_t flag_64bit_view = 0x1;

    explicit reg_native_edit(std::uint32_t flags = 0) : flags(flags) {}

    LSTATUS close_key(HKEY key) override;
    LSTATUS delete_key_ex(HKEY key, const wchar_t* sub_key, REGSAM access, DWORD reserved) override;
    LSTATUS delete_key(HKEY key, const wchar_t* sub_key) override;
    LSTATUS create_key(HKEY key, const wchar_t* sub_key, DWORD reserved, wchar_t* class_name, DWORD options,
                       REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) override;
    LSTATUS open_key(HKEY key, const wchar_t* sub_key, DWORD options, REGSAM access, HKEY* result) override;
    LSTATUS delete_value(HKEY key, const wchar_t* name) override;
    LSTATUS delete_tree(HKEY key, const wchar_t* sub_key) override;
    LSTATUS enum_key(HKEY key, DWORD index, wchar_t* name, DWORD* name_length, DWORD* reserved,
                     wchar_t* class_name, DWORD* class_length, FILETIME* last_write_time) override;
    LSTATUS enum_value(HKEY key, DWORD index, wchar_t* name, DWORD* name_length, DWORD* reserved, DWORD* type,
                       BYTE* data, DWORD* data_size) override;
    LSTATUS query_value(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                        DWORD* data_size) override;
    LSTATUS set_value(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD data_size) override;
    LSTATUS query_info_key(HKEY key, wchar_t* class_name, DWORD* class_length, DWORD* reserved, DWORD* sub_keys,
                           DWORD* max_sub_key_length, DWORD* max_class_length, DWORD* values,
                           DWORD* max_value_name_length, DWORD* max_value_length,
                           DWORD* security_descriptor_size, FILETIME* last_write_time) override;
    LSTATUS flush_key(HKEY key) override;
    void copy(const reg_edit_base& other) override;

    std::uint32_t flags;
};

// The editor that every `registry` object shares; its flags are 0.
reg_native_edit& native_registry_editor();

// Deletes a key's sub-keys one by one through the editor, then the key itself
// (or, with an empty name, the key's values): for Windows without
// RegDeleteTreeW.
LSTATUS delete_tree_by_enumeration(reg_native_edit& editor, HKEY key, const wchar_t* sub_key);

// Whether delete_key_ex must call RegDeleteKeyExW to reach the view that
// access (together with the editor's 64-bit view flag) names, rather than
// RegDeleteKeyW, which deletes in the process's own view: on 64-bit Windows
// NT 5.1 or later, for a view other than the process's own.
bool uses_reg_delete_key_ex(const operating_system& os, bool is_wow64_process, REGSAM access,
                            std::uint32_t editor_flags);

class registry;

// One named value of a key, as the key's cache holds it. Handles stay valid
// after the value leaves the cache, but are then no longer updated.
class reg_value {
public:
    reg_value(registry* owner, std::wstring name) : _name(std::move(name)), _owner(owner) {}
    virtual ~reg_value() = default;

    reg_value(const reg_value&) = delete;
    reg_value& operator=(const reg_value&) = delete;

    std::wstring name() const { return _name; }
    // REG_NONE (0) for a value that is not in the registry.
    DWORD type() const { return _type; }
    bool exists() const { return _exists; }
    // The bytes of REG_NONE, REG_BINARY, REG_DWORD (4), REG_QWORD (8) and other types.
    const std::vector<BYTE>& data() const { return _data; }
    // The text of REG_SZ and REG_EXPAND_SZ, without its terminating zero.
    const std::wstring& text() const { return _text; }

    std::size_t item_count() const { return _items.size(); }
    // An item of a REG_MULTI_SZ; nothing for another type or an index beyond the list.
    std::optional<std::wstring> item(std::size_t index) const;

    // Each setter stores the value in the cache and writes it to the key,
    // unless the key was opened read-only (5, nothing changes). Without an
    // open key that the reopen option can restore: 6. Data beyond
    // max_reg_value bytes: 87, nothing changes.
    LSTATUS set_string(const std::wstring& text);
    LSTATUS set_expand_string(const std::wstring& text);
    // Zero bytes change nothing (87).
    LSTATUS set_binary(const std::vector<BYTE>& bytes);
    LSTATUS set_dword(DWORD number);
    LSTATUS set_qword(std::uint64_t number);
    LSTATUS set(DWORD type, const BYTE* data, DWORD size);

private:
    friend class registry;

    void _store(DWORD type, const BYTE* data, DWORD size);

    std::wstring _name;
    DWORD _type = REG_NONE;
    std::vector<BYTE> _data;
    std::wstring _text;
    std::vector<std::wstring> _items;
    bool _exists = false;
    registry* _owner;
};

// The items of REG_MULTI_SZ data: each zero-terminated run of characters
// inside the size (rounded down to whole characters), a final zero left out;
// characters after the last zero make an item too.
std::vector<std::wstring> parse_multi_string(const BYTE* data, DWORD size);

// The size limit of a value's data, in bytes, and of a value name, in characters.
constexpr DWORD max_reg_value = 0x100000;

// One open key with a cache of its values, looked up by name without regard
// to case.
class registry {
public:
    static constexpr std::uint32_t option_read_only = 0x1;      // KEY_READ; setters change nothing
    static constexpr std::uint32_t option_create = 0x2;         // created when missing, KEY_ALL_ACCESS
    static constexpr std::uint32_t option_64bit_view = 0x4;     // KEY_WOW64_64KEY
    static constexpr std::uint32_t option_reopen = 0x20000000;  // reopens the last path when needed

    explicit registry(std::uint32_t options = 0);
    virtual ~registry() = default;

    registry(const registry&) = delete;
    registry& operator=(const registry&) = delete;

    // Opens path under root and fills the cache. On failure the thread's last
    // error holds the Win32 error (2: no such key, 5: no access).
    bool open(const std::wstring& path, HKEY root = HKEY_LOCAL_MACHINE);
    // Reads every value of the open key into the cache.
    bool refresh();
    // The cached value of that name; a missing one comes back with exists()
    // false and stays in the cache until the next refresh.
    std::shared_ptr<reg_value> value(const std::wstring& name);

    bool is_open() const { return _key.valid(); }
    // Set once an open has succeeded.
    bool opened() const { return _opened; }
    const std::wstring& path() const { return _path; }

private:
    friend class reg_value;

    static constexpr std::uint32_t _marker_filling = 0x40000000;
    static constexpr std::uint32_t _marker_reopening = 0x80000000;

    bool _read_only() const { return (_flags & option_read_only) != 0; }
    bool _filling() const { return (_flags & _marker_filling) != 0; }
    // Reopens the last path under the last root, without a refresh, when the
    // option allows it and no key is open.
    void _reopen_if_allowed();

    reg_edit_base* _editor;
    std::uint32_t _flags;
    unique_hkey _key;
    HKEY _root = HKEY_LOCAL_MACHINE;
    bool _opened = false;
    std::wstring _path;
    std::vector<std::shared_ptr<reg_value>> _values;
};

// The options a registry object of the setup program gets: the 64-bit view
// exactly when a 32-bit process runs on 64-bit Windows.
std::uint32_t registry_options_for(bool is_64bit_os, bool is_64bit_process);

} // namespace windows
} // namespace varnox
