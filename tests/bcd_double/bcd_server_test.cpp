// The provider double registered as the server of the WMI locator in this
// test's own prefix: another process lists the fixture store's entries
// through it, the editor's normal construction edits the store file, and
// every other namespace is still answered by the platform's WMI.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "bcd_server_registration.h"
#include "bcd_store.h"
#include "convert/bcd_edit.h"
#include "test_support.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/wmi.h"
#include "wmi_test_support.h"

using namespace bcd_double;
using varnox::windows::com_init;
using varnox::windows::wmi_object;
using varnox::windows::wmi_services;

namespace {

const wchar_t locator_server_key[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";

std::string narrow(const std::wstring& text)
{
    return test_support::to_utf8(text);
}

std::wstring registered_server()
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, locator_server_key, nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

class bcd_server : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform_server = registered_server();
        ASSERT_EQ(ERROR_SUCCESS, register_server(test_support::windows_path_of_unix(VARNOX_BCD_SERVER_DLL)));
        store_file = folder.file(L"store.bcd");
    }
    void TearDown() override
    {
        EXPECT_EQ(ERROR_SUCCESS, unregister_server());
        EXPECT_EQ(platform_server, registered_server());
        ::SetEnvironmentVariableW(store_variable, nullptr);
    }

    void seed(const std::wstring& fixture)
    {
        const std::wstring source =
            test_support::windows_path_of_unix(VARNOX_BCD_FIXTURES) + L"\\" + fixture;
        ASSERT_TRUE(::CopyFileW(source.c_str(), store_file.c_str(), FALSE))
            << narrow(test_support::error_text(::GetLastError()));
    }

    // Runs the lister in a process of its own; its exit code and lines.
    std::vector<std::wstring> list(const wchar_t* what, const test_support::environment_changes& environment,
                                   DWORD& exit_code)
    {
        const std::wstring output = folder.file(std::wstring(what) + L".txt");
        const test_support::process_result run = test_support::run_process(
            L"\"" + test_support::windows_path_of_unix(VARNOX_BCD_STORE_LISTER) + L"\" " + what + L" \"" + output +
                L"\"",
            60000, environment);
        EXPECT_TRUE(run.started);
        exit_code = run.exit_code;
        std::vector<std::wstring> lines;
        std::wstring text = test_support::from_utf8(test_support::read_file(output));
        size_t start = 0;
        for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    test_support::temp_folder folder;
    std::wstring store_file;
    std::wstring platform_server;
};

} // namespace

// While registered, the platform's server is kept aside; registering twice
// keeps the first saved registration, so unregistering restores the
// platform's and not the double's.
TEST_F(bcd_server, registration_keeps_the_platform_server)
{
    EXPECT_NE(std::wstring::npos, platform_server.find(L"wbemprox.dll")) << narrow(platform_server);
    EXPECT_EQ(test_support::windows_path_of_unix(VARNOX_BCD_SERVER_DLL), registered_server());
    EXPECT_EQ(platform_server, saved_platform_server());
    ASSERT_EQ(ERROR_SUCCESS, register_server(test_support::windows_path_of_unix(VARNOX_BCD_SERVER_DLL)));
    EXPECT_EQ(platform_server, saved_platform_server());
}

// Another process connects to root\WMI through the product's WMI layer and
// lists the fixture store's entries in display order.
TEST_F(bcd_server, another_process_lists_the_store)
{
    seed(L"old_entry.bcd");
    DWORD exit_code = 0;
    const auto lines = list(L"entries", {{store_variable, store_file}}, exit_code);
    EXPECT_EQ(0u, exit_code);
    EXPECT_EQ((std::vector<std::wstring>{L"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}\tWindows 7",
                                         L"{8d3c1a20-4b5e-4f6a-8c7d-9e0f1a2b3c4d}\tDisable Pellisar Driver",
                                         L"{5e2b4f3a-7c1d-4e8a-9b6f-0a1c2d3e4f50}\tWindows Server 2008 R2"}),
              lines);
}

// root\CIMV2 is still the platform's, and so is root\WMI when no store file
// is named: it connects but knows no BcdStore.
TEST_F(bcd_server, other_namespaces_stay_the_platforms)
{
    DWORD exit_code = 1;
    const auto lines = list(L"system", {{store_variable, store_file}}, exit_code);
    EXPECT_EQ(0u, exit_code);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[0].find(L"Windows")) << narrow(lines[0]);

    ASSERT_EQ(S_OK, com_init::initialize());
    {
        wmi_services services;
        EXPECT_EQ(S_OK, services.connect(L"WMI", L".", L"", L"", 3, 0));
        wmi_object store_class;
        const auto error = wmi_double::catch_wmi_error([&] { services.get_wmi_object(store_class, L"BcdStore"); });
        EXPECT_TRUE(error.caught);
        EXPECT_EQ(static_cast<std::uint32_t>(WBEM_E_NOT_FOUND), error.code) << narrow(wmi_double::hex(error.code));
    }
    ::CoUninitialize();
}

// The editor's own construction reaches the double through the locator, and
// the fallback step's two calls leave the store file with the current entry
// only, written back after each change.
TEST_F(bcd_server, editor_edits_the_store_file)
{
    seed(L"old_entry.bcd");
    ASSERT_TRUE(::SetEnvironmentVariableW(store_variable, store_file.c_str()));
    ASSERT_EQ(S_OK, com_init::initialize());
    {
        bcd_edit editor(L"");
        EXPECT_TRUE(editor.remove_driver_disabled_boot_entry(L"Disable Pellisar Driver"));
        EXPECT_TRUE(editor.add_driver_disabled_boot_entry(L"Disable Dovrant Driver"));
    }
    ::CoUninitialize();

    const bcd_store store = bcd_store::read_file(store_file);
    EXPECT_EQ(nullptr, store.find(L"{8d3c1a20-4b5e-4f6a-8c7d-9e0f1a2b3c4d}"));
    const std::vector<std::wstring> order = store.at(boot_manager_id).at(type_display_order).ids;
    ASSERT_EQ(3u, order.size());
    EXPECT_EQ(L"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}", order[0]);
    EXPECT_EQ(L"{5e2b4f3a-7c1d-4e8a-9b6f-0a1c2d3e4f50}", order[1]);
    const bcd_object& added = store.at(order[2]);
    EXPECT_EQ(L"Disable Dovrant Driver", added.at(type_description).text);
    EXPECT_EQ(L"ZMVF:OFF", added.at(type_load_options).text);
}
