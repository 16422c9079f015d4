// The BCD provider double against the platform's facts that the editor
// relies on, seen through the product's own WMI layer: classes, paths,
// CIM types, CopyObject, absent elements and objects, chosen failures, and
// the readable store files it is seeded from and writes back.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "bcd_provider.h"
#include "bcd_store.h"
#include "test_support.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/wmi.h"
#include "wmi_test_support.h"

using namespace bcd_double;
using varnox::windows::com_init;
using varnox::windows::wmi_object;
using varnox::windows::wmi_services;
using wmi_double::catch_wmi_error;
using wmi_double::hex;

namespace {

const wchar_t windows7_loader[] = L"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}";

std::string narrow(const std::wstring& text)
{
    return test_support::to_utf8(text);
}

std::wstring fixture(const std::wstring& name)
{
    return test_support::windows_path_of_unix(VARNOX_BCD_FIXTURES) + L"\\" + name;
}

std::wstring computer_name()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(name, &size);
    return name;
}

class bcd_double_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, com_init::initialize()); }
    void TearDown() override { ::CoUninitialize(); }

    // The store of a fixture behind the provider, and a connection to it.
    void open(const std::wstring& name)
    {
        provider.reset(new bcd_provider(bcd_store::read_file(fixture(name)),
                                        [this](const bcd_store& store) { written.push_back(store.text()); }));
        services = wmi_services(provider->services().get());
    }

    wmi_object open_store(const std::wstring& file = L"")
    {
        wmi_object in;
        services.get_input_parameters(in, L"BCDStore", L"OpenStore");
        in.set_parameter(L"File", file);
        wmi_object out;
        std::uint32_t return_value = 0;
        std::wstring description;
        services.exec_method(in, out, return_value, description, L"BCDStore", L"OpenStore");
        wmi_object store;
        out.get_parameter(store, L"Store");
        return store;
    }

    // A method with one string or "Type" parameter; returns its output.
    static wmi_object call(wmi_object& target, const wchar_t* method, const wchar_t* name,
                           const std::wstring& value, bool& verdict)
    {
        wmi_object in = target.get_input_parameters(method);
        if (std::wstring(name) == L"Type")
            in.set_parameter(static_cast<std::int32_t>(std::wcstoul(value.c_str(), nullptr, 16)), L"Type");
        else
            in.set_parameter(std::wstring(name), value);
        wmi_object out;
        verdict = false;
        target.exec_method(in, out, verdict, method);
        return out;
    }

    wmi_object open_object(wmi_object& store, const std::wstring& id)
    {
        bool verdict = false;
        wmi_object object;
        call(store, L"OpenObject", L"Id", id, verdict).get_parameter(object, L"Object");
        EXPECT_TRUE(verdict) << narrow(id);
        return object;
    }

    std::unique_ptr<bcd_provider> provider;
    std::vector<std::wstring> written;
    wmi_services services;
};

} // namespace

// Every fixture reads, and the text written back reads as the same store.
TEST(bcd_store_text, fixtures_round_trip)
{
    for (const wchar_t* name : {L"windows7.bcd", L"uefi.bcd", L"no_default.bcd", L"no_display_order.bcd",
                                L"no_default_no_display_order.bcd", L"default_missing.bcd", L"old_entry.bcd",
                                L"current_entry.bcd"}) {
        SCOPED_TRACE(narrow(name));
        const bcd_store store = bcd_store::read_file(fixture(name));
        ASSERT_NE(nullptr, store.find(boot_manager_id));
        const std::wstring text = store.text();
        EXPECT_EQ(text, bcd_store::parse(text).text());
    }
    const bcd_store store = bcd_store::read_file(fixture(L"windows7.bcd"));
    const bcd_object* loader = store.find(windows7_loader);
    ASSERT_NE(nullptr, loader);
    EXPECT_EQ(0x10200003u, loader->type);
    EXPECT_EQ(L"\\Windows\\system32\\winload.exe", loader->at(type_application_path).text);
    EXPECT_EQ(2u, loader->at(type_os_device).device.device_type);
    EXPECT_EQ(L"\\Device\\HarddiskVolume2", loader->at(type_os_device).device.path);
    EXPECT_TRUE(loader->at(0x16000009).boolean);
    EXPECT_EQ(30u, store.at(boot_manager_id).at(0x25000004).integer);
}

// Settings, every value form and the failures survive writing and reading.
TEST(bcd_store_text, values_and_settings_round_trip)
{
    const std::wstring text = L"[store]\n"
                              L"file = C:\\boot\\BCD\n"
                              L"absent-element = returns-false\n"
                              L"missing-object = returns-false\n"
                              L"[{11111111-1111-1111-1111-111111111111}]\n"
                              L"type = 0x10200003\n"
                              L"description = \"  padded \"\n"
                              L"LoadOptionsString = \"\"\n"
                              L"DisplayOrder =\n"
                              L"0x17000077 = 1 2 3\n"
                              L"ApplicationDevice = ramdisk=\\x.wim,{7619dcc8-fafe-11d9-b411-000476eba25f}\n"
                              L"OSDevice = boot\n"
                              L"[failures]\n"
                              L"CopyObject = false\n"
                              L"SetStringElement 0x12000030 = 0x80041001\n";
    const bcd_store store = bcd_store::parse(text);
    EXPECT_EQ(L"C:\\boot\\BCD", store.file);
    EXPECT_EQ(absent_form::returns_false, store.absent_element);
    EXPECT_EQ(absent_form::returns_false, store.missing_object);
    const bcd_object& object = store.objects.at(0);
    EXPECT_EQ(L"  padded ", object.at(type_description).text);
    EXPECT_EQ(L"", object.at(type_load_options).text);
    EXPECT_TRUE(object.at(type_display_order).ids.empty());
    EXPECT_EQ((std::vector<std::uint64_t>{1, 2, 3}), object.at(0x17000077).integers);
    EXPECT_EQ(4u, object.at(type_application_device).device.device_type);
    EXPECT_EQ(L"{7619dcc8-fafe-11d9-b411-000476eba25f}", object.at(type_application_device).device.additional_options);
    EXPECT_EQ(1u, object.at(type_os_device).device.device_type);
    ASSERT_EQ(2u, store.failures.size());
    EXPECT_TRUE(store.failures[0].verdict_false);
    EXPECT_EQ(L"0x12000030", store.failures[1].argument);
    EXPECT_EQ(static_cast<HRESULT>(0x80041001), store.failures[1].result);

    const bcd_store again = bcd_store::parse(store.text());
    EXPECT_EQ(store.text(), again.text());
    EXPECT_EQ(L"  padded ", again.objects.at(0).at(type_description).text);
}

// A fixture that cannot be read names the line and what is wrong with it.
TEST(bcd_store_text, errors_name_the_line)
{
    const struct {
        const char* scenario;
        std::wstring text;
        std::string message;
    } cases[] = {
        {"line before any section", L"type = 1\n", "line 1: a line before the first section"},
        {"unknown element", L"[{a}]\ntype = 1\nBogus = 1\n", "line 3: unknown element \"Bogus\""},
        {"boolean that is neither", L"[{a}]\nDetectKernelAndHal = maybe\n", "line 2: expected yes or no"},
        {"object twice", L"[{a}]\n[{A}]\n", "line 2: object {A} appears twice"},
        {"failure that is no HRESULT", L"[failures]\nCopyObject = soon\n", "line 2: a failure is"},
        {"unknown section", L"[objects]\n", "line 1: expected [store], [failures]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string message;
        try {
            bcd_store::parse(c.text);
        } catch (const format_error& error) {
            message = error.what();
        }
        EXPECT_EQ(0u, message.find(c.message)) << message;
    }
}

// The store and its objects come back as embedded objects whose __PATH,
// __RELPATH and __CLASS have the platform's forms; the static OpenStore is
// reached through the class path in any letter case.
TEST_F(bcd_double_test, objects_carry_the_platform_paths)
{
    open(L"windows7.bcd");
    wmi_object store = open_store();
    ASSERT_FALSE(store.empty());
    wmi_object object = open_object(store, windows7_loader);
    const std::wstring host = L"\\\\" + computer_name() + L"\\root\\WMI:";
    const std::wstring object_relpath =
        L"BcdObject.Id=\"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}\",StoreFilePath=\"\"";
    const struct {
        wmi_object* target;
        const wchar_t* property;
        std::wstring expected;
    } cases[] = {
        {&store, L"__CLASS", L"BcdStore"},
        {&store, L"__RELPATH", L"BcdStore.FilePath=\"\""},
        {&store, L"__PATH", host + L"BcdStore.FilePath=\"\""},
        {&object, L"__CLASS", L"BcdObject"},
        {&object, L"__RELPATH", object_relpath},
        {&object, L"__PATH", host + object_relpath},
        {&object, L"Id", windows7_loader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.property));
        std::wstring value;
        c.target->get_parameter(value, c.property);
        EXPECT_EQ(c.expected, value);
    }
    std::uint32_t type = 0;
    object.get_parameter(type, L"Type");
    EXPECT_EQ(boot_loader_type, type);

    // A store file's backslashes are doubled inside the key.
    provider->store().file = L"C:\\boot\\BCD";
    wmi_object file_store = open_store(L"c:\\boot\\bcd");
    std::wstring relpath;
    file_store.get_parameter(relpath, L"__RELPATH");
    EXPECT_EQ(L"BcdStore.FilePath=\"C:\\\\boot\\\\BCD\"", relpath);
    EXPECT_TRUE(open_store(L"D:\\other").empty());
}

// Method outputs use the platform's VARIANT forms: a boolean ReturnValue,
// embedded objects as VT_UNKNOWN, uint64 as a decimal string, string lists
// as string arrays, and devices as embedded device data.
TEST_F(bcd_double_test, outputs_have_the_platform_variant_types)
{
    open(L"windows7.bcd");
    wmi_object store = open_store();
    wmi_object manager = open_object(store, boot_manager_id);
    bool verdict = false;
    wmi_object out = call(manager, L"GetElement", L"Type", L"25000004", verdict);
    ASSERT_TRUE(verdict);
    const struct {
        const char* scenario;
        std::function<wmi_object()> source;
        const wchar_t* property;
        VARTYPE vt;
        CIMTYPE cim_type;
    } cases[] = {
        {"ReturnValue", [&] { return out; }, L"ReturnValue", VT_BOOL, CIM_BOOLEAN},
        {"Element", [&] { return out; }, L"Element", VT_UNKNOWN, CIM_OBJECT},
        {"Integer", [&] { wmi_object e; out.get_parameter(e, L"Element"); return e; }, L"Integer", VT_BSTR,
         CIM_UINT64},
        {"Ids",
         [&] {
             wmi_object e;
             call(manager, L"GetElement", L"Type", L"24000001", verdict).get_parameter(e, L"Element");
             return e;
         },
         L"Ids", VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY},
        {"Device",
         [&] {
             wmi_object e;
             call(manager, L"GetElement", L"Type", L"11000001", verdict).get_parameter(e, L"Element");
             return e;
         },
         L"Device", VT_UNKNOWN, CIM_OBJECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        wmi_object source = c.source();
        varnox::windows::unique_variant value;
        CIMTYPE cim_type = 0;
        source.get_parameter(c.property, value.get(), cim_type);
        EXPECT_EQ(c.vt, value.type());
        EXPECT_EQ(c.cim_type, cim_type);
    }
    wmi_object element;
    out.get_parameter(element, L"Element");
    std::wstring timeout;
    element.get_parameter(timeout, L"Integer");
    EXPECT_EQ(L"30", timeout);
    std::wstring class_name;
    element.get_parameter(class_name, L"__CLASS");
    EXPECT_EQ(L"BcdIntegerElement", class_name);

    wmi_object device_element;
    call(manager, L"GetElement", L"Type", L"11000001", verdict).get_parameter(device_element, L"Element");
    wmi_object device;
    device_element.get_parameter(device, L"Device");
    std::wstring path;
    std::uint32_t device_type = 0;
    device.get_parameter(path, L"Path");
    device.get_parameter(device_type, L"DeviceType");
    EXPECT_EQ(L"\\Device\\HarddiskVolume1", path);
    EXPECT_EQ(2u, device_type);
}

// "Type" travels as VT_I4: a VT_UI4 is refused with WBEM_E_TYPE_MISMATCH, as
// the platform refuses it, and the signatures carry the CIM types.
TEST_F(bcd_double_test, type_parameter_is_checked)
{
    open(L"windows7.bcd");
    wmi_object store = open_store();
    wmi_object manager = open_object(store, boot_manager_id);
    wmi_object in = manager.get_input_parameters(L"SetIntegerElement");
    const struct {
        const wchar_t* property;
        CIMTYPE cim_type;
    } signature[] = {{L"Type", CIM_UINT32}, {L"Integer", CIM_UINT64}};
    for (const auto& p : signature) {
        SCOPED_TRACE(narrow(p.property));
        varnox::windows::unique_variant value;
        CIMTYPE cim_type = 0;
        in.get_parameter(p.property, value.get(), cim_type);
        EXPECT_EQ(p.cim_type, cim_type);
    }
    VARIANT unsigned_type;
    ::VariantInit(&unsigned_type);
    unsigned_type.vt = VT_UI4;
    unsigned_type.ulVal = 0x25000004;
    const auto error = catch_wmi_error([&] { in.set_parameter(L"Type", unsigned_type, 0); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(static_cast<std::uint32_t>(WBEM_E_TYPE_MISMATCH), error.code);
    EXPECT_EQ(S_OK, in.set_parameter(std::int32_t(0x25000004), L"Type"));
}

// CopyObject with flag 1 gives the copy a new identifier, the source's type
// and elements, and no place in any display order; without the flag a copy
// onto the existing identifier is refused.
TEST_F(bcd_double_test, copy_object)
{
    open(L"windows7.bcd");
    wmi_object store = open_store();
    const auto copy = [&](std::uint32_t flags, bool& verdict) {
        wmi_object in = store.get_input_parameters(L"CopyObject");
        in.set_parameter(L"SourceStoreFile", std::wstring());
        in.set_parameter(L"SourceId", std::wstring(windows7_loader));
        in.set_parameter(L"Flags", flags);
        wmi_object out;
        verdict = false;
        store.exec_method(in, out, verdict, L"CopyObject");
        wmi_object object;
        if (verdict)
            out.get_parameter(object, L"Object");
        return object;
    };
    bool verdict = false;
    wmi_object made = copy(1, verdict);
    ASSERT_TRUE(verdict);
    std::wstring id;
    made.get_parameter(id, L"Id");
    EXPECT_FALSE(same_id(id, windows7_loader));
    const bcd_object* stored = provider->store().find(id);
    ASSERT_NE(nullptr, stored);
    EXPECT_EQ(boot_loader_type, stored->type);
    EXPECT_EQ(L"Windows 7", stored->at(type_description).text);
    EXPECT_EQ((std::vector<std::wstring>{windows7_loader}),
              provider->store().at(boot_manager_id).at(type_display_order).ids);
    ASSERT_EQ(1u, written.size());
    EXPECT_NE(std::wstring::npos, written[0].find(L"[" + id + L"]"));

    EXPECT_TRUE(copy(0, verdict).empty());
    EXPECT_FALSE(verdict);
    EXPECT_EQ(1u, written.size());
}

// An element the object lacks fails the call with 0xD0000225 on current
// Windows, or answers false as older clients expect; an identifier that is
// not in the store fails with 0xD0000034, or answers false.
TEST_F(bcd_double_test, absent_elements_and_objects)
{
    const struct {
        const char* scenario;
        bool element;
        absent_form form;
    } cases[] = {
        {"element, call fails", true, absent_form::call_fails},
        {"element, false", true, absent_form::returns_false},
        {"object, call fails", false, absent_form::call_fails},
        {"object, false", false, absent_form::returns_false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        open(L"windows7.bcd");
        (c.element ? provider->store().absent_element : provider->store().missing_object) = c.form;
        wmi_object store = open_store();
        wmi_object manager = open_object(store, boot_manager_id);
        bool verdict = true;
        const auto action = [&] {
            if (c.element)
                call(manager, L"GetElement", L"Type", L"12000030", verdict);
            else
                call(store, L"OpenObject", L"Id", L"{0badc0de-0000-4000-8000-000000000000}", verdict);
        };
        const auto error = catch_wmi_error(action);
        if (c.form == absent_form::call_fails) {
            ASSERT_TRUE(error.caught);
            EXPECT_EQ(c.element ? 0xD0000225u : 0xD0000034u, error.code) << narrow(hex(error.code));
        } else {
            EXPECT_FALSE(error.caught) << narrow(error.composed);
            EXPECT_FALSE(verdict);
        }
    }
}

// A test makes chosen calls fail: by method, or by method and "Type" or
// identifier, with an HRESULT or a false verdict; other calls are unharmed.
TEST_F(bcd_double_test, chosen_calls_fail)
{
    open(L"windows7.bcd");
    provider->store().failures = {{L"GetElement", L"0x12000004", true, S_OK},
                                  {L"OpenObject", windows7_loader, false, static_cast<HRESULT>(0x80041001)}};
    wmi_object store = open_store();
    wmi_object manager = open_object(store, boot_manager_id);
    bool verdict = false;
    call(manager, L"GetElement", L"Type", L"12000004", verdict);
    EXPECT_FALSE(verdict);
    call(manager, L"GetElement", L"Type", L"25000004", verdict);
    EXPECT_TRUE(verdict);
    const auto error = catch_wmi_error([&] { call(store, L"OpenObject", L"Id", windows7_loader, verdict); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(0x80041001u, error.code);
    EXPECT_EQ((std::vector<std::wstring>{L"BcdStore.OpenStore", L"BcdStore.OpenObject", L"BcdObject.GetElement",
                                         L"BcdObject.GetElement", L"BcdStore.OpenObject"}),
              provider->method_calls());
}

// Element writes change the store and are written back; a write of the
// wrong form for the element's type is refused and changes nothing.
TEST_F(bcd_double_test, element_writes)
{
    open(L"windows7.bcd");
    wmi_object store = open_store();
    wmi_object loader = open_object(store, windows7_loader);
    wmi_object in = loader.get_input_parameters(L"SetStringElement");
    in.set_parameter(std::int32_t(type_load_options), L"Type");
    in.set_parameter(L"String", std::wstring(L"ZMVF:OFF"));
    bool verdict = false;
    loader.exec_method(in, verdict, L"SetStringElement");
    EXPECT_TRUE(verdict);
    EXPECT_EQ(L"ZMVF:OFF", provider->store().at(windows7_loader).at(type_load_options).text);
    ASSERT_EQ(1u, written.size());
    EXPECT_NE(std::wstring::npos, written[0].find(L"LoadOptionsString = ZMVF:OFF\n"));

    in.set_parameter(std::int32_t(0x25000080), L"Type");
    loader.exec_method(in, verdict, L"SetStringElement");
    EXPECT_FALSE(verdict);
    EXPECT_EQ(nullptr, provider->store().at(windows7_loader).find(0x25000080));
    EXPECT_EQ(1u, written.size());
}
