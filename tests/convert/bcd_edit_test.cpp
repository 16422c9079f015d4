// The BCD store editor over the provider double: opening the store, the
// default entry lookups, the driver-disabled entry, the display order, the
// boot option setters, and the privileges against Wine's own token calls.

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bcd_provider.h"
#include "bcd_store.h"
#include "convert/bcd_edit.h"
#include "test_support.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/handle.h"
#include "wmi_double.h"
#include "wmi_test_support.h"

using namespace bcd_double;
using varnox::windows::com_init;
using varnox::windows::wmi_object;
using varnox::windows::wmi_services;
using wmi_double::log_capture;

namespace {

const std::wstring windows7 = L"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}";
const std::wstring server2008 = L"{5e2b4f3a-7c1d-4e8a-9b6f-0a1c2d3e4f50}";
const std::wstring pellisar = L"{8d3c1a20-4b5e-4f6a-8c7d-9e0f1a2b3c4d}";
const std::wstring dovrant = L"{2f7e9c10-3a4b-4c5d-8e6f-7a8b9c0d1e2f}";
const std::wstring missing = L"{0badc0de-0000-4000-8000-000000000000}";
const std::wstring current_description = L"Disable Dovrant Driver";
const std::wstring old_description = L"Disable Pellisar Driver";

std::string narrow(const std::wstring& text)
{
    return test_support::to_utf8(text);
}

// The editor with its non-virtual members in reach.
class editor : public bcd_edit {
public:
    using bcd_edit::bcd_edit;
    using bcd_edit::_add_to_display_order;
    using bcd_edit::_find_entry;
    using bcd_edit::_get_bcd_boot_manager;
    using bcd_edit::_get_bcd_default_boot_entry;
    using bcd_edit::_get_bcd_default_entry;
    using bcd_edit::_remove_from_display_order;

    std::wstring default_entry()
    {
        wmi_object manager = _get_bcd_boot_manager();
        return _get_bcd_default_entry(manager);
    }
};

// The error an action raises; bcd tells the editor's own from the WMI
// layer's (wmi).
struct caught : wmi_double::caught_error {
    bool bcd = false;
};

caught catch_error(const std::function<void()>& action)
{
    caught result;
    static_cast<wmi_double::caught_error&>(result) = wmi_double::catch_error([&] {
        try {
            action();
        } catch (const bcd_edit::exception&) {
            result.bcd = true;
            throw;
        }
    });
    return result;
}

// An object as the store text shows it, to compare objects whole.
std::wstring text_of(const bcd_object& object)
{
    bcd_store store;
    store.objects.push_back(object);
    return store.text();
}

bool traced_exit(const log_capture& log, const std::wstring& function, HRESULT code)
{
    return log.contains(function + L" - Exit (" + wmi_double::hex(static_cast<std::uint32_t>(code)) + L").");
}

class bcd_edit_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, com_init::initialize()); }
    void TearDown() override
    {
        edit.reset();
        provider.reset();
        ::CoUninitialize();
    }

    void load(const std::wstring& name, absent_form absent = absent_form::call_fails)
    {
        bcd_store store = bcd_store::read_file(test_support::windows_path_of_unix(VARNOX_BCD_FIXTURES) + L"\\" + name);
        store.absent_element = absent;
        provider.reset(new bcd_provider(store));
    }
    editor& open()
    {
        edit.reset(new editor(L"", wmi_services(provider->services().get())));
        return *edit;
    }
    editor& open(const std::wstring& name, absent_form absent = absent_form::call_fails)
    {
        load(name, absent);
        return open();
    }
    bcd_store& store() { return provider->store(); }
    // The provider methods called so far, for failure messages.
    std::string calls() const
    {
        std::wstring text;
        for (const auto& call : provider->method_calls())
            text += L" " + call;
        return narrow(text);
    }
    bcd_object& object(const std::wstring& id) { return store().at(id); }

    std::unique_ptr<bcd_provider> provider;
    std::unique_ptr<editor> edit;
};

const absent_form both_forms[] = {absent_form::call_fails, absent_form::returns_false};

const char* form_name(absent_form form)
{
    return form == absent_form::call_fails ? "absent element fails the call" : "absent element answers false";
}

} // namespace

// The default entry is the default object when there is one, else the first
// listed entry; with neither the lookup raises with error number 0; both
// forms in which the platform reports an absent element give the same.
TEST_F(bcd_edit_test, default_entry_lookup)
{
    const struct {
        const wchar_t* fixture;
        std::wstring expected;
    } cases[] = {
        {L"windows7.bcd", windows7},
        {L"no_default.bcd", server2008},
        {L"no_display_order.bcd", server2008},
        {L"no_default_no_display_order.bcd", L""},
    };
    for (const auto form : both_forms) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(form_name(form)) + ", " + narrow(c.fixture));
            editor& e = open(c.fixture, form);
            EXPECT_EQ(c.expected, e.default_entry());
            wmi_object manager = e._get_bcd_boot_manager();
            const caught error = catch_error([&] {
                wmi_object entry = e._get_bcd_default_boot_entry(manager);
                std::wstring id;
                entry.get_parameter(id, L"Id");
                EXPECT_EQ(c.expected, id);
            });
            if (c.expected.empty()) {
                EXPECT_TRUE(error.bcd);
                EXPECT_EQ(L"convert/bcd_edit(322) : bcd_edit::_get_bcd_default_boot_entry - Can't get Default Boot "
                          L"Entry ID. (0x00000000)",
                          error.composed);
            } else {
                EXPECT_EQ(L"", error.composed);
            }
        }
    }
}

// A default object that names an entry missing from the store: a provider
// that answers false gives the editor's message; one that fails the call
// (0xD0000034) gives the WMI layer's, with the code.
TEST_F(bcd_edit_test, default_names_a_missing_entry)
{
    for (const auto form : both_forms) {
        SCOPED_TRACE(form == absent_form::call_fails ? "call fails" : "answers false");
        load(L"default_missing.bcd");
        store().missing_object = form;
        editor& e = open();
        EXPECT_EQ(missing, e.default_entry());
        wmi_object manager = e._get_bcd_boot_manager();
        const caught error = catch_error([&] { e._get_bcd_default_boot_entry(manager); });
        if (form == absent_form::returns_false) {
            EXPECT_TRUE(error.bcd);
            EXPECT_EQ(L"Can't Open the Default Boot Entry Object.", error.message);
            EXPECT_TRUE(error.has_code);
            EXPECT_EQ(0u, error.code);
        } else {
            EXPECT_TRUE(error.wmi);
            EXPECT_EQ(0xD0000034u, error.code);
            EXPECT_NE(std::wstring::npos, error.message.find(L"(OpenObject) failed."));
        }
    }
}

// A store that does not open raises the editor's message with the store file
// between the parentheses (nothing for the system store); a store without
// a boot manager cannot be edited.
TEST_F(bcd_edit_test, opening_failures)
{
    load(L"windows7.bcd");
    const wmi_services connection(provider->services().get());
    const struct {
        const char* scenario;
        std::wstring file;
        std::vector<call_failure> failures;
        std::wstring composed;
    } cases[] = {
        {"OpenStore answers false", L"", {{L"OpenStore", L"", true, S_OK}},
         L"convert/bcd_edit(176) : bcd_edit::bcd_edit - The return value of the OpenStore() method is failed. "
         L"(0x00000000)"},
        {"another store file", L"D:\\Boot\\BCD", {},
         L"convert/bcd_edit(176) : bcd_edit::bcd_edit - The return value of the OpenStore(D:\\Boot\\BCD) method is "
         L"failed. (0x00000000)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        store().failures = c.failures;
        const caught error = catch_error([&] { editor e(c.file, connection); });
        EXPECT_TRUE(error.bcd);
        EXPECT_EQ(c.composed, error.composed);
    }
    store().failures.clear();
    store().missing_object = absent_form::returns_false;
    store().remove(boot_manager_id);
    editor& e = open();
    const caught error = catch_error([&] { e._get_bcd_boot_manager(); });
    EXPECT_TRUE(error.bcd);
    EXPECT_EQ(L"convert/bcd_edit(243) : bcd_edit::_get_bcd_boot_manager - Can't OpenObject WINDOWS_BOOT_MANAGER "
              L"object. (0x00000000)",
              error.composed);
}

// The normal construction connects to \\.\root\WMI with the caller's
// credentials and opens the system store.
TEST_F(bcd_edit_test, normal_construction_connects_to_root_wmi)
{
    load(L"windows7.bcd");
    wmi_double::locator_registration locator(provider->services());
    ASSERT_EQ(S_OK, locator.registration_result());
    {
        log_capture log;
        editor e(L"");
        EXPECT_EQ(windows7, e.default_entry());
        EXPECT_TRUE(traced_exit(log, L"bcd_edit::bcd_edit", S_OK));
    }
    ASSERT_EQ(1u, locator.connects.size());
    EXPECT_EQ(L"\\\\.\\root\\WMI", locator.connects[0].network_resource);
    EXPECT_FALSE(locator.connects[0].user.has_value());
    EXPECT_EQ(L"BcdStore.OpenStore", provider->method_calls().at(0));
}

// Adding copies the default entry under the description with the load
// options exactly "ZMVF:OFF", even when the default had its own, lists it
// last and leaves the default entry and the default object as they were;
// adding again changes nothing.
TEST_F(bcd_edit_test, add_copies_the_default_entry)
{
    const struct {
        const wchar_t* fixture;
        std::wstring default_id;
        std::vector<std::wstring> order_before;
    } cases[] = {
        {L"windows7.bcd", windows7, {windows7}},
        {L"current_entry.bcd", windows7, {windows7, dovrant}},
        {L"no_default.bcd", server2008, {server2008, windows7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.fixture));
        load(c.fixture);
        element options;
        options.type = type_load_options;
        options.text = L"NOEXECUTE=OPTIN /DEBUG";
        object(c.default_id).put(options);
        const bcd_object default_before = object(c.default_id);
        const element* default_object_before = object(boot_manager_id).find(type_default_object);
        const std::wstring default_object_text = default_object_before ? default_object_before->text : L"-";
        const std::wstring description = L"Disable Test Driver";
        editor& e = open();

        ASSERT_TRUE(e.add_driver_disabled_boot_entry(description));
        const auto added = store().described(description);
        ASSERT_EQ(1u, added.size());
        const bcd_object copy = *added[0];
        EXPECT_FALSE(same_id(copy.id, c.default_id));
        EXPECT_EQ(L"ZMVF:OFF", copy.at(type_load_options).text);
        EXPECT_EQ(default_before.type, copy.type);
        for (const auto& value : default_before.elements) {
            if (value.type == type_description || value.type == type_load_options)
                continue;
            SCOPED_TRACE(narrow(element_name_of(value.type)));
            EXPECT_EQ(text_of(bcd_object{L"{x}", 0, {value}}), text_of(bcd_object{L"{x}", 0, {copy.at(value.type)}}));
        }
        std::vector<std::wstring> expected_order = c.order_before;
        expected_order.push_back(copy.id);
        EXPECT_EQ(expected_order, store().display_order());
        EXPECT_EQ(text_of(default_before), text_of(object(c.default_id)));
        const element* default_object_after = object(boot_manager_id).find(type_default_object);
        EXPECT_EQ(default_object_text, default_object_after ? default_object_after->text : L"-");

        const std::wstring after_first = store().text();
        EXPECT_TRUE(e.add_driver_disabled_boot_entry(description));
        EXPECT_EQ(after_first, store().text());
    }
}

// Recognising the entry: a listed entry with the description is present
// (adding again writes nothing), also when its description differs only in
// letter case (removing deletes it); an entry outside the display order is
// not (adding makes a second copy, removing leaves it).
TEST_F(bcd_edit_test, which_entries_count_as_present)
{
    {
        editor& e = open(L"current_entry.bcd");
        EXPECT_TRUE(e.add_driver_disabled_boot_entry(current_description));
        EXPECT_TRUE(provider->changes().empty());
        EXPECT_EQ(1u, store().described(current_description).size());
    }
    {
        load(L"old_entry.bcd");
        object(pellisar).at(type_description).text = L"DISABLE pellisar DRIVER";
        editor& e = open();
        const std::wstring before = store().text();
        std::wstring found;
        EXPECT_TRUE(e._find_entry(old_description, found));
        EXPECT_EQ(pellisar, found);
        EXPECT_TRUE(e.add_driver_disabled_boot_entry(old_description));
        EXPECT_EQ(before, store().text());
        EXPECT_TRUE(e.remove_driver_disabled_boot_entry(old_description));
        EXPECT_EQ(nullptr, store().find(pellisar));
    }
    {
        load(L"current_entry.bcd");
        object(boot_manager_id).at(type_display_order).ids = {windows7};
        editor& e = open();
        std::wstring found;
        EXPECT_FALSE(e._find_entry(current_description, found));
        const std::wstring before = store().text();
        EXPECT_TRUE(e.remove_driver_disabled_boot_entry(current_description));
        EXPECT_EQ(before, store().text());
        EXPECT_TRUE(e.add_driver_disabled_boot_entry(current_description));
        EXPECT_EQ(2u, store().described(current_description).size());
        EXPECT_NE(nullptr, store().find(dovrant));
    }
}

// Letters outside A to Z are compared as they are: a description that
// differs in the case of an accented letter is another entry.
TEST_F(bcd_edit_test, case_folding_covers_a_to_z_only)
{
    load(L"old_entry.bcd");
    object(pellisar).at(type_description).text = L"Disable \u00c9lan Driver";
    editor& e = open();
    std::wstring found;
    EXPECT_TRUE(e._find_entry(L"disable \u00c9LAN driver", found));
    EXPECT_FALSE(e._find_entry(L"Disable \u00e9lan Driver", found));
}

// The object type rule decides whether the copy joins the display order; a
// copy that does not is written all the same, and is not found afterwards.
TEST_F(bcd_edit_test, copy_type_decides_the_display_order)
{
    const struct {
        const char* scenario;
        std::uint32_t type;
        bool listed;
    } cases[] = {
        {"Windows boot loader", 0x10200003, true},
        {"boot sector (image type 4)", 0x10400008, true},
        {"resume application", 0x10200004, true},
        {"Windows Boot Manager type", 0x10100002, false},
        {"firmware image type 1", 0x10100003, false},
        {"boot application of type 2", 0x10200002, false},
        {"firmware boot manager", 0x10100001, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        load(L"windows7.bcd");
        object(windows7).type = c.type;
        editor& e = open();
        EXPECT_TRUE(e.add_driver_disabled_boot_entry(current_description));
        const auto copies = store().described(current_description);
        ASSERT_EQ(1u, copies.size());
        EXPECT_EQ(L"ZMVF:OFF", copies[0]->at(type_load_options).text);
        EXPECT_EQ(c.listed ? 2u : 1u, store().display_order().size());
        std::wstring found;
        EXPECT_EQ(c.listed, e._find_entry(current_description, found));
    }
}

// Removing the entry from the middle of the display order deletes the object
// and keeps the other entries in their order; an older run's entry goes and
// the current one comes, as the fallback step does it.
TEST_F(bcd_edit_test, remove_from_the_middle)
{
    editor& e = open(L"old_entry.bcd");
    log_capture log;
    EXPECT_TRUE(e.remove_driver_disabled_boot_entry(old_description));
    EXPECT_EQ(nullptr, store().find(pellisar));
    EXPECT_EQ((std::vector<std::wstring>{windows7, server2008}), store().display_order());
    EXPECT_TRUE(traced_exit(log, L"bcd_edit::remove_driver_disabled_boot_entry", S_OK));

    EXPECT_TRUE(e.add_driver_disabled_boot_entry(current_description));
    ASSERT_EQ(1u, store().described(current_description).size());
    EXPECT_TRUE(store().described(old_description).empty());
    EXPECT_EQ(3u, store().display_order().size());
}

// Removing when no listed entry carries the description returns true,
// writes nothing to the store and opens no trace scope of its own; at the
// run's threshold nothing reaches the log.
TEST_F(bcd_edit_test, remove_without_entry_writes_nothing)
{
    for (const auto form : both_forms) {
        SCOPED_TRACE(form_name(form));
        editor& e = open(L"windows7.bcd", form);
        {
            log_capture log(10);
            EXPECT_TRUE(e.remove_driver_disabled_boot_entry(old_description));
            for (const auto& message : log.messages())
                EXPECT_EQ(std::wstring::npos, message.find(L"bcd_edit::remove_driver_disabled_boot_entry"))
                    << narrow(message);
        }
        log_capture quiet(2);
        EXPECT_TRUE(e.remove_driver_disabled_boot_entry(old_description));
        EXPECT_TRUE(quiet.messages().empty());
        EXPECT_TRUE(provider->changes().empty());
    }
}

// A listed identifier that cannot be opened (a stale entry) does not hide
// the entries listed after it.
TEST_F(bcd_edit_test, stale_listed_entry_is_passed_over)
{
    load(L"current_entry.bcd");
    object(boot_manager_id).at(type_display_order).ids = {windows7, missing, dovrant};
    editor& e = open();
    std::wstring found;
    EXPECT_TRUE(e._find_entry(current_description, found));
    EXPECT_EQ(dovrant, found);
    EXPECT_TRUE(e.add_driver_disabled_boot_entry(current_description));
    EXPECT_EQ(1u, store().described(current_description).size());
}

// A provider method that says no ends the operation with false and the code
// 0x80070780 in its exit trace; nothing is undone.
TEST_F(bcd_edit_test, refused_methods_give_0x80070780)
{
    const struct {
        const char* scenario;
        const wchar_t* fixture;
        call_failure failure;
        bool add;
        size_t copies_left;
    } cases[] = {
        {"the default entry cannot be copied", L"windows7.bcd", {L"CopyObject", L"", true, S_OK}, true, 0},
        {"the description cannot be written", L"windows7.bcd", {L"SetStringElement", L"0x12000004", true, S_OK},
         true, 1},
        {"the load options cannot be written", L"windows7.bcd", {L"SetStringElement", L"0x12000030", true, S_OK},
         true, 1},
        {"the entry cannot be deleted", L"old_entry.bcd", {L"DeleteObject", L"", true, S_OK}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        load(c.fixture);
        store().failures = {c.failure};
        const size_t objects_before = store().objects.size();
        editor& e = open();
        log_capture log;
        if (c.add) {
            EXPECT_FALSE(e.add_driver_disabled_boot_entry(current_description));
            EXPECT_TRUE(traced_exit(log, L"bcd_edit::add_driver_disabled_boot_entry", 0x80070780));
            EXPECT_EQ(objects_before + c.copies_left, store().objects.size());
        } else {
            EXPECT_FALSE(e.remove_driver_disabled_boot_entry(old_description));
            EXPECT_TRUE(traced_exit(log, L"bcd_edit::remove_driver_disabled_boot_entry", 0x80070780));
            EXPECT_NE(nullptr, store().find(pellisar));
            EXPECT_EQ(3u, store().display_order().size());
        }
    }
}

// The display order members: an identifier already listed with the same
// letters is not appended again, one listed in other letter case is; a boot
// manager without a display order is left without one; removing an
// identifier that is not listed writes nothing.
TEST_F(bcd_edit_test, display_order_members)
{
    const struct {
        const char* scenario;
        const wchar_t* fixture;
        std::function<bool(editor&)> action;
        std::vector<std::wstring> expected;
        bool written;
    } cases[] = {
        {"listed already", L"windows7.bcd", [](editor& e) { return e._add_to_display_order(windows7); }, {windows7},
         false},
        {"listed in capitals", L"windows7.bcd",
         [](editor& e) { return e._add_to_display_order(L"{1CAFD2EE-E035-11DD-BBF6-BDEBEB67615F}"); },
         {windows7, L"{1CAFD2EE-E035-11DD-BBF6-BDEBEB67615F}"}, true},
        {"no display order", L"no_display_order.bcd", [](editor& e) { return e._add_to_display_order(windows7); },
         {}, false},
        {"removing an unlisted identifier", L"windows7.bcd",
         [](editor& e) { return e._remove_from_display_order(server2008); }, {windows7}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        editor& e = open(c.fixture);
        EXPECT_TRUE(c.action(e));
        EXPECT_EQ(c.expected, store().display_order());
        EXPECT_EQ(c.written, !provider->changes().empty());
    }
}

// The setters that change one element of the default entry write the values
// of their table, and a provider that says no (an absent element deleted,
// in either form) gives false with 0x80070780.
TEST_F(bcd_edit_test, one_element_setters)
{
    const std::uint32_t safe_boot = 0x25000080;
    const std::uint32_t status_policy = 0x250000E0;
    const std::uint32_t detect_hal = 0x26000010;
    const struct {
        const char* scenario;
        std::function<bool(editor&)> action;
        const wchar_t* function;
        std::uint32_t type;
        std::optional<std::uint64_t> integer;
        std::optional<bool> boolean;
        bool deleted;
    } cases[] = {
        {"safe mode", [](editor& e) { return e.set_safe_mode(true, false); }, L"set_safe_mode", safe_boot, 1, {},
         false},
        {"safe mode, alternative", [](editor& e) { return e.set_safe_mode(true, true); }, L"set_safe_mode", safe_boot,
         2, {}, false},
        {"safe mode off", [](editor& e) { return e.set_safe_mode(false, true); }, L"set_safe_mode", safe_boot, {}, {},
         true},
        {"status policy, no range check", [](editor& e) { return e.set_boot_status_policy_option(true, 77); },
         L"set_boot_status_policy_option", status_policy, 77, {}, false},
        {"status policy off", [](editor& e) { return e.set_boot_status_policy_option(false, 1); },
         L"set_boot_status_policy_option", status_policy, {}, {}, true},
        {"detect HAL on", [](editor& e) { return e.set_detect_hal_option(true); }, L"set_detect_hal_option",
         detect_hal, {}, true, false},
        {"detect HAL off", [](editor& e) { return e.set_detect_hal_option(false); }, L"set_detect_hal_option",
         detect_hal, {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        load(L"windows7.bcd");
        element present;
        present.type = c.type;
        present.integer = 3;
        object(windows7).put(present);
        editor& e = open();
        log_capture log;
        EXPECT_TRUE(c.action(e));
        EXPECT_TRUE(traced_exit(log, std::wstring(L"bcd_edit::") + c.function, S_OK));
        const element* written = object(windows7).find(c.type);
        if (c.deleted) {
            EXPECT_EQ(nullptr, written);
            continue;
        }
        ASSERT_NE(nullptr, written);
        if (c.integer) {
            EXPECT_EQ(*c.integer, written->integer);
        }
        if (c.boolean) {
            EXPECT_EQ(*c.boolean, written->boolean);
        }
    }
    for (const auto form : both_forms) {
        SCOPED_TRACE(std::string("deleting an absent element, ") + form_name(form));
        editor& e = open(L"windows7.bcd", form);
        log_capture log;
        EXPECT_FALSE(e.set_safe_mode(false, false));
        EXPECT_TRUE(traced_exit(log, L"bcd_edit::set_safe_mode", 0x80070780));
    }
    load(L"windows7.bcd");
    store().failures = {{L"SetBooleanElement", L"", true, S_OK}};
    editor& e = open();
    log_capture log;
    EXPECT_FALSE(e.set_detect_hal_option(true));
    EXPECT_TRUE(traced_exit(log, L"bcd_edit::set_detect_hal_option", 0x80070780));
}

// The boot and system device: the boot manager boots from the boot device
// without a loader path, the default entry from the volume's partition as
// QueryDosDeviceW names it, and a loader path ending in "efi" becomes one
// ending in "exe"; an empty volume changes nothing.
TEST_F(bcd_edit_test, boot_system_device)
{
    wchar_t device[260] = {};
    ASSERT_NE(0u, ::QueryDosDeviceW(L"C:", device, 260)) << narrow(test_support::error_text(::GetLastError()));
    wchar_t volume_name[MAX_PATH] = {};
    ASSERT_TRUE(::GetVolumeNameForVolumeMountPointW(L"C:\\", volume_name, MAX_PATH))
        << narrow(test_support::error_text(::GetLastError()));
    const struct {
        const char* scenario;
        const wchar_t* fixture;
        std::wstring volume;
        bool keep_entry_devices;
        std::wstring entry_device;
        std::wstring path_before;
        std::wstring path_after;
    } cases[] = {
        {"drive root", L"windows7.bcd", L"C:\\", false, device, L"\\Windows\\system32\\winload.exe",
         L"\\Windows\\system32\\winload.exe"},
        {"volume name", L"windows7.bcd", volume_name, false, device, L"\\Windows\\system32\\winload.exe",
         L"\\Windows\\system32\\winload.exe"},
        {"UEFI loader", L"uefi.bcd", L"C:\\", false, device, L"\\Windows\\system32\\winload.efi",
         L"\\Windows\\system32\\winload.exe"},
        {"capital EFI stays", L"uefi.bcd", L"C:\\", false, device, L"\\Windows\\system32\\WINLOAD.EFI",
         L"\\Windows\\system32\\WINLOAD.EFI"},
        {"entry devices kept", L"uefi.bcd", L"C:\\", true, L"\\Device\\HarddiskVolume3",
         L"\\Windows\\system32\\winload.efi", L"\\Windows\\system32\\winload.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        load(c.fixture);
        object(windows7).at(type_application_path).text = c.path_before;
        element manager_path;
        manager_path.type = type_application_path;
        manager_path.text = L"\\bootmgr";
        object(boot_manager_id).put(manager_path);
        editor& e = open();
        log_capture log;
        EXPECT_TRUE(e.set_boot_system_device(c.volume, c.keep_entry_devices)) << calls();
        EXPECT_TRUE(traced_exit(log, L"bcd_edit::set_boot_system_device", S_OK));
        const bcd_object& manager = object(boot_manager_id);
        EXPECT_EQ(nullptr, manager.find(type_application_path));
        EXPECT_EQ(1u, manager.at(type_application_device).device.device_type);
        const bcd_object& entry = object(windows7);
        for (const std::uint32_t type : {type_application_device, type_os_device}) {
            EXPECT_EQ(2u, entry.at(type).device.device_type);
            EXPECT_EQ(c.entry_device, entry.at(type).device.path);
        }
        EXPECT_EQ(c.path_after, entry.at(type_application_path).text);
    }
    {
        SCOPED_TRACE("a boot manager without a loader path");
        editor& e = open(L"windows7.bcd");
        EXPECT_TRUE(e.set_boot_system_device(L"C:\\", false));
        EXPECT_EQ(device, object(windows7).at(type_os_device).device.path);
    }
    {
        SCOPED_TRACE("empty volume");
        editor& e = open(L"windows7.bcd");
        const std::wstring before = store().text();
        log_capture log;
        EXPECT_FALSE(e.set_boot_system_device(L"", false));
        EXPECT_TRUE(traced_exit(log, L"bcd_edit::set_boot_system_device", S_OK));
        EXPECT_EQ(before, store().text());
    }
    {
        SCOPED_TRACE("a volume without a device name");
        editor& e = open(L"windows7.bcd");
        const std::wstring before = store().text();
        EXPECT_FALSE(e.set_boot_system_device(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", false));
        EXPECT_EQ(before, store().text());
    }
}

// Debugging: one flag switches serial debugging on COM1 at 115200 baud into
// the global settings and writes both booleans; both flags false write
// nothing and give false.
TEST_F(bcd_edit_test, debug_settings)
{
    const std::wstring settings = L"{4636856e-540f-4170-a130-a84776f4c654}";
    editor& e = open(L"windows7.bcd");
    object(settings).elements.clear();
    const std::wstring before = store().text();
    log_capture log;
    EXPECT_FALSE(e.set_debug_settings(false, false));
    EXPECT_TRUE(traced_exit(log, L"bcd_edit::set_debug_settings", 0x80070780));
    EXPECT_EQ(before, store().text());

    EXPECT_TRUE(e.set_debug_settings(true, false)) << calls();
    EXPECT_EQ(0u, object(settings).at(0x15000011).integer);
    EXPECT_EQ(1u, object(settings).at(0x15000013).integer);
    EXPECT_EQ(115200u, object(settings).at(0x15000014).integer);
    EXPECT_FALSE(object(boot_manager_id).at(0x16000010).boolean);
    EXPECT_FALSE(object(windows7).at(0x16000010).boolean);
    EXPECT_TRUE(object(windows7).at(0x260000A0).boolean);

    EXPECT_TRUE(e.set_debug_settings(false, true));
    EXPECT_TRUE(object(boot_manager_id).at(0x16000010).boolean);
    EXPECT_TRUE(object(windows7).at(0x16000010).boolean);
    EXPECT_FALSE(object(windows7).at(0x260000A0).boolean);
}

namespace {

// The attributes of a privilege in the calling thread's own token; nullopt
// when the thread has no token or the token lacks the privilege.
std::optional<DWORD> thread_privilege(const wchar_t* name)
{
    HANDLE raw = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &raw))
        return std::nullopt;
    const varnox::windows::unique_handle token(raw);
    LUID luid{};
    ::LookupPrivilegeValueW(nullptr, name, &luid);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size))
        return std::nullopt;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
        if (privileges->Privileges[i].Luid.LowPart == luid.LowPart &&
            privileges->Privileges[i].Luid.HighPart == luid.HighPart)
            return privileges->Privileges[i].Attributes;
    return std::nullopt;
}

// Runs action on a thread of its own, which starts without a token.
void on_fresh_thread(const std::function<void()>& action)
{
    std::thread thread(action);
    thread.join();
}

} // namespace

// A thread without a token impersonates itself, and the privilege is then on
// in its own token (and off again on request); the process token keeps its
// state. A privilege that the token does not hold gives false.
TEST(enable_privilege, thread_token)
{
    on_fresh_thread([] {
        HANDLE raw = nullptr;
        ASSERT_FALSE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &raw));
        ASSERT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), ::GetLastError());

        EXPECT_TRUE(enable_privilege(L"SeBackupPrivilege", true));
        const auto enabled = thread_privilege(L"SeBackupPrivilege");
        ASSERT_TRUE(enabled.has_value());
        EXPECT_NE(0u, *enabled & SE_PRIVILEGE_ENABLED);

        EXPECT_TRUE(enable_privilege(L"SeBackupPrivilege", false));
        EXPECT_EQ(0u, *thread_privilege(L"SeBackupPrivilege") & SE_PRIVILEGE_ENABLED);

        EXPECT_FALSE(enable_privilege(L"SeNoSuchPrivilege", true));
        ::RevertToSelf();
    });
    on_fresh_thread([] {
        EXPECT_FALSE(enable_privilege(L"SeCreateTokenPrivilege", true));
        // The thread now impersonates itself, with a token that lacks it.
        HANDLE raw = nullptr;
        ASSERT_TRUE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &raw));
        ::CloseHandle(raw);
        EXPECT_FALSE(thread_privilege(L"SeCreateTokenPrivilege").has_value());
        ::RevertToSelf();
    });
}

// A thread whose token lacks both privileges gets false from enable_privilege,
// and the editor's construction still opens the store.
TEST_F(bcd_edit_test, missing_privileges_do_not_stop_the_constructor)
{
    load(L"windows7.bcd");
    const wmi_services connection(provider->services().get());
    std::thread([&] {
        ASSERT_EQ(S_OK, com_init::initialize());
        ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation));
        HANDLE raw = nullptr;
        ASSERT_TRUE(::OpenThreadToken(::GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &raw));
        const varnox::windows::unique_handle token(raw);
        for (const wchar_t* name : {L"SeBackupPrivilege", L"SeRestorePrivilege"}) {
            TOKEN_PRIVILEGES removal{};
            removal.PrivilegeCount = 1;
            ::LookupPrivilegeValueW(nullptr, name, &removal.Privileges[0].Luid);
            removal.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
            ASSERT_TRUE(::AdjustTokenPrivileges(token.get(), FALSE, &removal, 0, nullptr, nullptr));
            ASSERT_FALSE(thread_privilege(name).has_value()) << narrow(name);
        }
        EXPECT_FALSE(enable_privilege(L"SeRestorePrivilege", true));
        {
            editor e(L"", connection);
            EXPECT_EQ(windows7, e.default_entry());
        }
        ::RevertToSelf();
        ::CoUninitialize();
    }).join();
}
