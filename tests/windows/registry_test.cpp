// The registry classes on real keys: each test makes keys of its own under
// HKCU\Software\varnox_registry_test (and, for the registry views, under
// HKLM\SOFTWARE in a prefix of this program's own) and deletes them again.
// Values are written and read back with the Win32 functions directly, so
// that the classes are checked by another route than their own.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/registry.h"

using test_support::error_text;
using test_support::operating_system_with;
using test_support::to_utf8;
namespace windows = varnox::windows;
using bytes = std::vector<BYTE>;

namespace {

// The bytes of a wide text as the registry stores them.
bytes wide_bytes(const std::wstring& text)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.data());
    return bytes(begin, begin + text.size() * sizeof(wchar_t));
}

struct raw_value {
    LSTATUS result = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    bytes data;
};

class registry_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = std::wstring(L"Software\\varnox_registry_test\\") +
               test_support::from_utf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ::SHDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
        const LSTATUS created =
            ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr);
        ASSERT_EQ(ERROR_SUCCESS, created) << to_utf8(error_text(created));
    }

    void TearDown() override
    {
        key.reset();
        ::SHDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    }

    void write_raw(const std::wstring& name, DWORD type, const bytes& data)
    {
        const LSTATUS written = ::RegSetValueExW(key.get(), name.c_str(), 0, type, data.data(),
                                                 static_cast<DWORD>(data.size()));
        ASSERT_EQ(ERROR_SUCCESS, written) << to_utf8(error_text(written));
    }

    raw_value read_raw(const std::wstring& name)
    {
        raw_value value;
        DWORD size = 0;
        value.result = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size);
        if (value.result != ERROR_SUCCESS)
            return value;
        value.data.resize(size);
        value.result = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
        return value;
    }

    std::wstring path;
    windows::unique_hkey key;
};

} // namespace

// REG_MULTI_SZ data of any shape comes back as the items it holds: no final
// zero, an odd byte count and empty items included.
TEST_F(registry_test, multi_string_items_from_byte_sequences)
{
    const struct {
        const char* scenario;
        bytes data;
        std::vector<std::wstring> items;
    } cases[] = {
        {"two items and the list's final zero", wide_bytes(std::wstring(L"a\0b\0\0", 5)), {L"a", L"b"}},
        {"one item and the final zero", wide_bytes(std::wstring(L"a\0\0", 3)), {L"a"}},
        {"only the final two zeros: one empty item", wide_bytes(std::wstring(L"\0\0", 2)), {L""}},
        {"a single zero: no item", wide_bytes(std::wstring(L"\0", 1)), {}},
        {"no data at all", bytes(), {}},
        {"no final zeros: the last item counts all the same", wide_bytes(std::wstring(L"PartMgr\0VolFilter", 17)),
         {L"PartMgr", L"VolFilter"}},
        {"one character without its zero", wide_bytes(L"a"), {L"a"}},
        {"an odd byte count: the half character is dropped",
         [] {
             bytes data = wide_bytes(std::wstring(L"a\0b\0\0", 5));
             data.push_back('c');
             return data;
         }(),
         {L"a", L"b"}},
        {"an empty item inside the list", wide_bytes(std::wstring(L"a\0\0b\0\0", 6)), {L"a", L"", L"b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        write_raw(L"List", REG_MULTI_SZ, c.data);
        windows::registry registry;
        ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));
        const auto list = registry.value(L"List");
        EXPECT_TRUE(list->exists());
        EXPECT_EQ(DWORD(REG_MULTI_SZ), list->type());
        ASSERT_EQ(c.items.size(), list->item_count());
        for (std::size_t index = 0; index < c.items.size(); ++index)
            EXPECT_EQ(c.items[index], list->item(index).value_or(L"<none>")) << index;
        EXPECT_FALSE(list->item(c.items.size()).has_value());
    }
}

// A refresh caches every supported type with its data; empty binary data and
// unsupported types are left out, so they look missing.
TEST_F(registry_test, refresh_caches_each_supported_type)
{
    const std::uint64_t qword = 0x1122334455667788ull;
    const DWORD dword = 0xCAFEF00D;
    const struct {
        const wchar_t* name;
        DWORD type;
        bytes data;
        bool cached;
        std::wstring text;
        bytes expected_data;
    } cases[] = {
        {L"Text", REG_SZ, wide_bytes(std::wstring(L"agent\0", 6)), true, L"agent", {}},
        {L"Expandable", REG_EXPAND_SZ, wide_bytes(std::wstring(L"%SystemRoot%\\x\0", 15)), true,
         L"%SystemRoot%\\x", {}},
        {L"Unterminated", REG_SZ, wide_bytes(L"abc"), true, L"abc", {}},
        {L"Binary", REG_BINARY, {1, 0, 2}, true, L"", {1, 0, 2}},
        {L"Dword", REG_DWORD, bytes(reinterpret_cast<const BYTE*>(&dword), reinterpret_cast<const BYTE*>(&dword) + 4),
         true, L"", bytes(reinterpret_cast<const BYTE*>(&dword), reinterpret_cast<const BYTE*>(&dword) + 4)},
        {L"Qword", REG_QWORD, bytes(reinterpret_cast<const BYTE*>(&qword), reinterpret_cast<const BYTE*>(&qword) + 8),
         true, L"", bytes(reinterpret_cast<const BYTE*>(&qword), reinterpret_cast<const BYTE*>(&qword) + 8)},
        {L"None", REG_NONE, {7}, true, L"", {7}},
        {L"EmptyBinary", REG_BINARY, {}, false, L"", {}},
        {L"EmptyNone", REG_NONE, {}, false, L"", {}},
        {L"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}, false, L"", {}},
        {L"ResourceList", REG_RESOURCE_LIST, {1, 2, 3}, false, L"", {}},
    };
    for (const auto& c : cases)
        write_raw(c.name, c.type, c.data);

    windows::registry registry;
    ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.name));
        const auto value = registry.value(c.name);
        EXPECT_EQ(c.cached, value->exists());
        EXPECT_EQ(c.cached ? c.type : DWORD(REG_NONE), value->type());
        EXPECT_EQ(c.text, value->text());
        EXPECT_EQ(c.expected_data, value->data());
    }
}

// Lookups ignore letter case and keep the name the registry reports; a
// missing value is a placeholder that does not exist, and no error.
TEST_F(registry_test, lookup_ignores_letter_case)
{
    write_raw(L"UpperFilters", REG_MULTI_SZ, wide_bytes(std::wstring(L"PartMgr\0\0", 9)));
    windows::registry registry;
    ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));

    const auto found = registry.value(L"upperfilters");
    EXPECT_TRUE(found->exists());
    EXPECT_EQ(L"UpperFilters", found->name());
    EXPECT_EQ(found, registry.value(L"UPPERFILTERS"));

    const auto missing = registry.value(L"LowerFilters");
    EXPECT_FALSE(missing->exists());
    EXPECT_EQ(DWORD(REG_NONE), missing->type());
    EXPECT_EQ(L"LowerFilters", missing->name());
}

// A key that does not exist does not open, and the thread's last error says why.
TEST_F(registry_test, missing_key_fails_with_error_2)
{
    windows::registry registry(windows::registry::option_read_only);
    ::SetLastError(0);
    EXPECT_FALSE(registry.open(path + L"\\Services\\no_such_service", HKEY_CURRENT_USER));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(registry.is_open());
    EXPECT_FALSE(registry.opened());
}

// Opening the same path again (in another letter case, with a trailing
// backslash) keeps the cached values and refreshes their data; another path
// replaces them, and the old handles are no longer updated.
TEST_F(registry_test, reopening_same_path_keeps_values_another_path_replaces_them)
{
    const std::wstring other = path + L"\\Other";
    windows::unique_hkey other_key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, other.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, other_key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(other_key.get(), L"Name", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(L"other"), 12));
    write_raw(L"Name", REG_SZ, wide_bytes(std::wstring(L"first\0", 6)));

    windows::registry registry;
    ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));
    const auto first = registry.value(L"Name");
    ASSERT_EQ(L"first", first->text());

    write_raw(L"Name", REG_SZ, wide_bytes(std::wstring(L"second\0", 7)));
    std::wstring same = path + L"\\";
    for (wchar_t& c : same)
        c = static_cast<wchar_t>(::towupper(c));
    ASSERT_TRUE(registry.open(same, HKEY_CURRENT_USER));
    EXPECT_EQ(first, registry.value(L"Name"));
    EXPECT_EQ(L"second", first->text());

    ASSERT_TRUE(registry.open(other, HKEY_CURRENT_USER));
    const auto replaced = registry.value(L"Name");
    EXPECT_NE(first, replaced);
    EXPECT_EQ(L"other", replaced->text());
    EXPECT_EQ(L"second", first->text());
}

namespace {

struct setter_case {
    const char* scenario;
    std::function<LSTATUS(windows::reg_value&)> set;
    DWORD type;
    bytes stored;  // as RegQueryValueExW reads it back
    std::wstring text;
    std::vector<std::wstring> items;
};

std::vector<setter_case> setter_cases()
{
    const DWORD dword = 0x01020304;
    const std::uint64_t qword = 0x0102030405060708ull;
    const bytes multi = wide_bytes(std::wstring(L"a\0b\0\0", 5));
    return {
        {"set_string counts the terminating zero", [](windows::reg_value& v) { return v.set_string(L"agent"); },
         REG_SZ, wide_bytes(std::wstring(L"agent\0", 6)), L"agent", {}},
        {"set_expand_string", [](windows::reg_value& v) { return v.set_expand_string(L"%TEMP%"); }, REG_EXPAND_SZ,
         wide_bytes(std::wstring(L"%TEMP%\0", 7)), L"%TEMP%", {}},
        {"set_binary", [](windows::reg_value& v) { return v.set_binary({9, 8, 7}); }, REG_BINARY, {9, 8, 7}, L"", {}},
        {"set_dword", [=](windows::reg_value& v) { return v.set_dword(dword); }, REG_DWORD, {4, 3, 2, 1}, L"", {}},
        {"set_qword", [=](windows::reg_value& v) { return v.set_qword(qword); }, REG_QWORD,
         {8, 7, 6, 5, 4, 3, 2, 1}, L"", {}},
        {"set with a list",
         [=](windows::reg_value& v) { return v.set(REG_MULTI_SZ, multi.data(), static_cast<DWORD>(multi.size())); },
         REG_MULTI_SZ, multi, L"", {L"a", L"b"}},
    };
}

} // namespace

// Every setter writes its kind of value through to the key and updates the cache.
TEST_F(registry_test, setters_write_through)
{
    windows::registry registry;
    ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));
    for (const setter_case& c : setter_cases()) {
        SCOPED_TRACE(c.scenario);
        const std::wstring name = test_support::from_utf8(c.scenario);
        const auto value = registry.value(name);
        ASSERT_FALSE(value->exists());
        EXPECT_EQ(ERROR_SUCCESS, c.set(*value));
        EXPECT_TRUE(value->exists());
        EXPECT_EQ(c.type, value->type());
        EXPECT_EQ(c.text, value->text());
        for (std::size_t index = 0; index < c.items.size(); ++index)
            EXPECT_EQ(c.items[index], value->item(index).value_or(L"<none>"));
        const raw_value stored = read_raw(name);
        ASSERT_EQ(ERROR_SUCCESS, stored.result);
        EXPECT_EQ(c.type, stored.type);
        EXPECT_EQ(c.stored, stored.data);
    }
}

// With the read-only option a setter fails with 5 and changes neither the cache nor the registry.
TEST_F(registry_test, read_only_setters_change_nothing)
{
    for (const setter_case& c : setter_cases()) {
        SCOPED_TRACE(c.scenario);
        const std::wstring name = test_support::from_utf8(c.scenario);
        write_raw(name, REG_SZ, wide_bytes(std::wstring(L"kept\0", 5)));
        windows::registry registry(windows::registry::option_read_only);
        ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));
        const auto value = registry.value(name);

        EXPECT_EQ(ERROR_ACCESS_DENIED, c.set(*value));
        EXPECT_TRUE(value->exists());
        EXPECT_EQ(DWORD(REG_SZ), value->type());
        EXPECT_EQ(L"kept", value->text());
        const raw_value stored = read_raw(name);
        EXPECT_EQ(DWORD(REG_SZ), stored.type);
        EXPECT_EQ(wide_bytes(std::wstring(L"kept\0", 5)), stored.data);
    }
}

// Setters refuse what the cache could not read back: no bytes for a binary
// value, or data beyond the size limit.
TEST_F(registry_test, setters_refuse_empty_binary_and_oversized_data)
{
    windows::registry registry;
    ASSERT_TRUE(registry.open(path, HKEY_CURRENT_USER));
    const auto value = registry.value(L"Data");
    EXPECT_EQ(ERROR_INVALID_PARAMETER, value->set_binary({}));
    const bytes oversized(windows::max_reg_value + 1, 1);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, value->set(REG_BINARY, oversized.data(), static_cast<DWORD>(oversized.size())));
    EXPECT_FALSE(value->exists());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, read_raw(L"Data").result);
}

// Without an open key a write fails with 6, unless the reopen option opens the last path again first.
TEST_F(registry_test, reopen_option_restores_the_key_for_a_write)
{
    const std::wstring later = path + L"\\Later";
    for (const bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "reopen" : "no reopen");
        ::SHDeleteKeyW(HKEY_CURRENT_USER, later.c_str());
        windows::registry registry(reopen ? windows::registry::option_reopen : 0);
        ASSERT_FALSE(registry.open(later, HKEY_CURRENT_USER));

        windows::unique_hkey created;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, later.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, created.put(), nullptr));
        const auto value = registry.value(L"Count");
        EXPECT_EQ(reopen ? ERROR_SUCCESS : ERROR_INVALID_HANDLE, value->set_dword(3));
        EXPECT_EQ(reopen, value->exists());
        EXPECT_EQ(reopen, registry.is_open());
        DWORD type = 0;
        DWORD stored = 0;
        DWORD size = sizeof(stored);
        const LSTATUS read = ::RegQueryValueExW(created.get(), L"Count", nullptr, &type,
                                                reinterpret_cast<BYTE*>(&stored), &size);
        EXPECT_EQ(reopen ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND, read);
        EXPECT_EQ(reopen ? 3u : 0u, stored);
    }
}

// The create option makes a missing key; without it the key is only opened.
TEST_F(registry_test, create_option_makes_the_key)
{
    const std::wstring made = path + L"\\Made\\Deeper";
    windows::registry opener;
    EXPECT_FALSE(opener.open(made, HKEY_CURRENT_USER));
    windows::registry creator(windows::registry::option_create);
    EXPECT_TRUE(creator.open(made, HKEY_CURRENT_USER));
    EXPECT_TRUE(opener.open(made, HKEY_CURRENT_USER));
}

// Deleting a tree removes its sub-keys at any depth and its values, through
// RegDeleteTreeW and through the enumeration that stands in for it; with an
// empty name the key stays, emptied.
TEST_F(registry_test, delete_tree_removes_sub_keys_and_values)
{
    windows::reg_native_edit& editor = windows::native_registry_editor();
    const struct {
        const char* scenario;
        std::function<LSTATUS(HKEY, const wchar_t*)> delete_tree;
    } ways[] = {
        {"RegDeleteTreeW", [&](HKEY k, const wchar_t* n) { return editor.delete_tree(k, n); }},
        {"enumeration", [&](HKEY k, const wchar_t* n) { return windows::delete_tree_by_enumeration(editor, k, n); }},
    };
    for (const auto& way : ways) {
        for (const bool named : {true, false}) {
            SCOPED_TRACE(std::string(way.scenario) + (named ? ", named sub-key" : ", empty name"));
            const std::wstring tree = path + L"\\Tree";
            for (const wchar_t* leaf : {L"\\A\\B\\C", L"\\A\\D", L"\\E"}) {
                windows::unique_hkey made;
                ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, (tree + leaf).c_str(), 0, nullptr, 0,
                                                           KEY_ALL_ACCESS, nullptr, made.put(), nullptr));
                ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(made.get(), L"v", 0, REG_SZ,
                                                          reinterpret_cast<const BYTE*>(L"x"), 4));
            }
            windows::unique_hkey tree_key;
            ASSERT_EQ(ERROR_SUCCESS,
                      ::RegOpenKeyExW(HKEY_CURRENT_USER, tree.c_str(), 0, KEY_ALL_ACCESS, tree_key.put()));
            ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(tree_key.get(), L"top", 0, REG_SZ,
                                                      reinterpret_cast<const BYTE*>(L"x"), 4));

            const LSTATUS result = named ? way.delete_tree(key.get(), L"Tree") : way.delete_tree(tree_key.get(), L"");
            EXPECT_EQ(ERROR_SUCCESS, result) << to_utf8(error_text(result));

            windows::unique_hkey left;
            const LSTATUS open = ::RegOpenKeyExW(HKEY_CURRENT_USER, tree.c_str(), 0, KEY_READ, left.put());
            if (named) {
                EXPECT_EQ(ERROR_FILE_NOT_FOUND, open);
            } else {
                ASSERT_EQ(ERROR_SUCCESS, open);
                DWORD sub_keys = 99, values = 99;
                ASSERT_EQ(ERROR_SUCCESS, ::RegQueryInfoKeyW(left.get(), nullptr, nullptr, nullptr, &sub_keys, nullptr,
                                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr));
                EXPECT_EQ(0u, sub_keys);
                EXPECT_EQ(0u, values);
            }
            left.reset();
            tree_key.reset();
            ::SHDeleteKeyW(HKEY_CURRENT_USER, tree.c_str());
        }
    }
}

// RegDeleteKeyExW is called exactly when the view asked for is not the
// process's own on 64-bit Windows NT 5.1 or later; RegDeleteKeyW otherwise.
TEST(delete_key_ex_choice, by_the_operating_system_facts)
{
    constexpr WORD x86 = 0, itanium = 6, x64 = 9;
    const struct {
        const char* scenario;
        windows::operating_system system;
        bool wow64;
        REGSAM access;
        std::uint32_t flags;
        bool extended;
    } cases[] = {
        {"32-bit process on Windows 10 x64, 64-bit view asked", operating_system_with(10, 0, x64), true,
         KEY_WOW64_64KEY, 0, true},
        {"32-bit process, the editor's 64-bit flag", operating_system_with(6, 1, x64), true, 0, 1, true},
        {"32-bit process on XP x64", operating_system_with(5, 2, x64), true, KEY_WOW64_64KEY, 0, true},
        {"32-bit process on Itanium", operating_system_with(5, 2, itanium), true, KEY_WOW64_64KEY, 0, true},
        {"32-bit process, no view asked", operating_system_with(10, 0, x64), true, 0, 0, false},
        {"32-bit process, its own 32-bit view", operating_system_with(10, 0, x64), true, KEY_WOW64_32KEY, 0, false},
        {"32-bit process on 5.0", operating_system_with(5, 0, x64), true, KEY_WOW64_64KEY, 0, false},
        {"not Windows NT", operating_system_with(6, 1, x64, 1), true, KEY_WOW64_64KEY, 0, false},
        {"32-bit Windows", operating_system_with(10, 0, x86), false, KEY_WOW64_64KEY, 1, false},
        {"64-bit process, its own 64-bit view", operating_system_with(10, 0, x64), false, KEY_WOW64_64KEY, 1, false},
        {"64-bit process, no view asked", operating_system_with(10, 0, x64), false, 0, 0, false},
        {"64-bit process, the 32-bit view", operating_system_with(10, 0, x64), false, KEY_WOW64_32KEY, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(c.extended, windows::uses_reg_delete_key_ex(c.system, c.wow64, c.access, c.flags));
    }
}

// The setup program reads the 64-bit view exactly as a 32-bit process on 64-bit Windows.
TEST(registry_options, follow_the_process_and_the_system)
{
    EXPECT_EQ(windows::registry::option_64bit_view, windows::registry_options_for(true, false));
    EXPECT_EQ(0u, windows::registry_options_for(true, true));
    EXPECT_EQ(0u, windows::registry_options_for(false, false));
}

namespace {

// Keys of the test's own under HKLM\SOFTWARE, where 32-bit programs see
// Wow6432Node: one in each view.
class registry_views : public ::testing::Test {
protected:
    void SetUp() override
    {
        name = std::wstring(L"varnox_registry_test_") +
               test_support::from_utf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
        path = L"SOFTWARE\\" + name;
        remove_both();
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            windows::unique_hkey made;
            const LSTATUS created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                      KEY_ALL_ACCESS | view, nullptr, made.put(), nullptr);
            ASSERT_EQ(ERROR_SUCCESS, created) << to_utf8(error_text(created));
            const wchar_t* text = view == KEY_WOW64_64KEY ? L"64" : L"32";
            ASSERT_EQ(ERROR_SUCCESS,
                      ::RegSetValueExW(made.get(), L"View", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 6));
        }
    }

    void TearDown() override { remove_both(); }

    void remove_both()
    {
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0);
    }

    bool exists_in(REGSAM view)
    {
        windows::unique_hkey opened;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
    }

    std::wstring name;
    std::wstring path;
};

} // namespace

// The 64-bit view option, the editor's 64-bit flag and KEY_WOW64_32KEY each
// reach the key of their view; the 32-bit one lies under Wow6432Node.
TEST_F(registry_views, each_option_reaches_its_view)
{
    ASSERT_EQ(8u, sizeof(void*)) << "the views are checked from the 64-bit build";
    windows::registry default_view;
    ASSERT_TRUE(default_view.open(path));
    EXPECT_EQ(L"64", default_view.value(L"View")->text());

    windows::registry view_64(windows::registry::option_64bit_view | windows::registry::option_read_only);
    ASSERT_TRUE(view_64.open(path));
    EXPECT_EQ(L"64", view_64.value(L"View")->text());

    windows::registry wow6432(windows::registry::option_read_only);
    ASSERT_TRUE(wow6432.open(L"SOFTWARE\\Wow6432Node\\" + name));
    EXPECT_EQ(L"32", wow6432.value(L"View")->text());

    for (const std::uint32_t flags : {0u, 1u}) {
        SCOPED_TRACE(flags);
        windows::reg_native_edit editor(flags);
        for (const REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
            windows::unique_hkey opened;
            ASSERT_EQ(ERROR_SUCCESS,
                      editor.open_key(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, opened.put()));
            wchar_t text[8] = {};
            DWORD size = sizeof(text);
            ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(opened.get(), L"View", nullptr, nullptr,
                                                        reinterpret_cast<BYTE*>(text), &size));
            // The flag's 64-bit view replaces a 32-bit view asked for.
            EXPECT_EQ(std::wstring(view == 0 || flags == 1 ? L"64" : L"32"), text) << view;
        }
    }
}

// delete_key_ex deletes the key of the view asked for and leaves the other one.
TEST_F(registry_views, delete_key_ex_deletes_in_the_view_asked_for)
{
    // Wine applies a view to a path below a root key; below an open
    // HKLM\SOFTWARE it keeps that key's view.
    windows::reg_native_edit editor(0);
    EXPECT_EQ(ERROR_SUCCESS, editor.delete_key_ex(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0));
    EXPECT_FALSE(exists_in(KEY_WOW64_32KEY));
    EXPECT_TRUE(exists_in(KEY_WOW64_64KEY));

    EXPECT_EQ(ERROR_SUCCESS, editor.delete_key_ex(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0));
    EXPECT_FALSE(exists_in(KEY_WOW64_64KEY));
}
