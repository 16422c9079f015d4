// install.exe with the sample client packages in its payload, run the way an
// administrator runs it, installing through Wine's real msiexec, and the
// fallback boot entry it leaves: in a BCD store answered by the provider
// double registered in the prefix, or in C:\boot.ini. Each kind of Windows
// plays in a prefix of its own, named after its winecfg setting
// (client_win7, client_win10, client_winxp64, client_win2003); the tests of
// one prefix take turns. Every run gets a temporary folder of its own (TMP
// and TEMP), where its log and client.msi are written.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bcd_server_registration.h"
#include "bcd_store.h"
#include "running_process.h"
#include "test_support.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/process.h"

using test_support::file_exists;
using test_support::from_utf8;
using test_support::to_utf8;
using test_support::windows_path_of_unix;

namespace {

constexpr wchar_t agent_folder[] = L"C:\\Program Files\\Velmora Agent";
constexpr wchar_t driver_key[] = L"SYSTEM\\CurrentControlSet\\Services\\zmvf";
constexpr wchar_t volume_class_key[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{71a27cdd-812a-11d0-bec7-08002be2092f}";

std::wstring package(const char* name)
{
    return windows_path_of_unix(std::string(VARNOX_SAMPLE_PACKAGES) + "/" + name);
}

std::wstring sample_setup()
{
    return package("sample_setup.exe");
}

// The same setup signed after its payload was appended: its certificate
// table follows the archive.
std::wstring signed_sample_setup()
{
    return package("signed_sample_setup.exe");
}

// Whether the image's security directory names a certificate table.
bool carries_certificate_table(const std::wstring& path)
{
    const std::string image = test_support::read_file(path);
    if (image.size() < 0x40)
        return false;
    std::uint32_t pe = 0;
    std::memcpy(&pe, &image[0x3C], 4);
    std::uint16_t magic = 0;
    if (pe + 24 + 2 > image.size())
        return false;
    std::memcpy(&magic, &image[pe + 24], 2);
    const std::size_t entry = pe + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
    std::uint32_t table[2] = {};
    if (entry + 8 > image.size())
        return false;
    std::memcpy(table, &image[entry], 8);
    return table[0] != 0 && table[1] != 0 && std::uint64_t(table[0]) + table[1] == image.size();
}

// install.exe with only the refusing package, stored as "client_x64.msi".
std::wstring refusing_setup()
{
    return package("refusing_setup.exe");
}

// install.exe with packages that leave out the journal driver's key.
std::wstring no_driver_setup()
{
    return package("no_driver_setup.exe");
}

std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

bool key_exists(const std::wstring& path)
{
    varnox::windows::unique_hkey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

struct service_handle_traits {
    using pointer = SC_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CloseServiceHandle(value); }
};
using unique_service_handle = varnox::windows::unique_any<service_handle_traits>;

// Waits until no msiexec.exe runs any more (one that a killed setup started
// goes on by itself); false when one still runs after timeout_ms.
bool no_installer_after(DWORD timeout_ms)
{
    for (DWORD waited = 0;; waited += 100) {
        bool running = false;
        const varnox::windows::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
             more = ::Process32NextW(snapshot.get(), &entry))
            running = running || _wcsicmp(entry.szExeFile, L"msiexec.exe") == 0;
        if (!running)
            return true;
        if (waited >= timeout_ms)
            return false;
        ::Sleep(100);
    }
}

struct setup_run {
    bool ended = false;
    DWORD exit_code = 0;
    std::vector<std::wstring> windows;  // titles of the windows the setup showed
    std::string box;                    // what the window helper read from a message box
    std::string log;
};

// Runs one client installation in the Windows that the prefix plays.
class client_installation_run : public ::testing::Test {
protected:
    explicit client_installation_run(const wchar_t* setting) : _setting(setting) {}

    void SetUp() override
    {
        // These tests install into the prefix: never into one that others share.
        ASSERT_EQ(L"client_" + _setting, environment(L"VARNOX_WINE_PREFIX")) << "run through ctest";
        const test_support::process_result winecfg = test_support::run_process(L"winecfg.exe -v " + _setting, 60000);
        ASSERT_TRUE(winecfg.started);
        ASSERT_EQ(0u, winecfg.exit_code);

        // The setup and msiexec inherit a temporary folder of this test's own.
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            _saved_environment.emplace_back(name, environment(name));
            ::SetEnvironmentVariableW(name, work.path().c_str());
        }
    }

    void TearDown() override
    {
        for (const auto& packages : _installed)
            uninstall(packages);
        for (const auto& saved : _saved_environment)
            ::SetEnvironmentVariableW(saved.first.c_str(), saved.second.c_str());
    }

    // One installation of client_x64.msi from the setup, checked throughout.
    void installs_client_x64_msi_from(const std::wstring& setup);

    // Uninstalls the sample package now (left by an interrupted run) and at the end of the test.
    void uninstalled_before_and_after(const std::wstring& package_path)
    {
        uninstall(package_path);
        _installed.push_back(package_path);
        ASSERT_FALSE(file_exists(std::wstring(agent_folder) + L"\\package.txt")) << "cannot uninstall the package";
    }

    static void uninstall(const std::wstring& package_path)
    {
        test_support::run_process(L"msiexec.exe /x \"" + package_path + L"\" /qn", 60000);
    }

    // Runs the setup with the options; answer_box: waits for a message box,
    // reads it and presses OK, as the user would.
    setup_run run(const std::wstring& setup, const std::wstring& options, bool answer_box = false)
    {
        setup_run outcome;
        std::wstring command_line = L"\"" + setup + L"\" " + options;
        if (!answer_box) {
            const test_support::process_result result =
                test_support::run_process(command_line, 60000, child_environment);
            EXPECT_TRUE(result.started);
            outcome.ended = result.started && !result.timed_out;
            outcome.exit_code = result.exit_code;
            outcome.windows = result.window_titles;
        } else {
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION info = {};
            if (!::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &info)) {
                ADD_FAILURE() << "cannot start the setup";
                return outcome;
            }
            const varnox::windows::unique_handle process(info.hProcess);
            const varnox::windows::unique_handle thread(info.hThread);
            std::wstring helper_output;
            varnox::windows::exec_console_application_with_timeout(
                L"\"" + windows_path_of_unix(VARNOX_WINDOW_HELPER) + L"\" --pid " + std::to_wstring(info.dwProcessId) +
                    L" --timeout-ms 10000 --press ok",
                helper_output, true, 60);
            outcome.box = to_utf8(helper_output);
            outcome.ended = ::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0;
            if (!outcome.ended)
                ::TerminateProcess(process.get(), 99);
            ::GetExitCodeProcess(process.get(), &outcome.exit_code);
        }
        outcome.log = test_support::read_file(log_of(setup));
        return outcome;
    }

    // The log that the setup writes into this test's temporary folder.
    std::wstring log_of(const std::wstring& setup) const
    {
        return work.file(setup.substr(setup.find_last_of(L'\\') + 1) + L".log");
    }

    std::wstring package_path() const { return work.file(L"client.msi"); }

    // The installer command as the log must show it, for the given options.
    std::string installer_command_entry(const std::wstring& options) const
    {
        wchar_t system_folder[MAX_PATH] = {};
        ::GetSystemDirectoryW(system_folder, MAX_PATH);
        return "|R|install(278) - Execute the setup command file (\"" + to_utf8(system_folder) +
               "\\msiexec.exe\" /i \"" + to_utf8(package_path()) + "\" " + to_utf8(options) + ")! \r\n";
    }

    // The sample setup, run twice over a BCD store that holds the old entry:
    // the first run replaces it, the second changes nothing.
    void replaces_the_bcd_entry();
    // The same over C:\boot.ini, from before to after.
    void replaces_the_boot_ini_line(const std::string& before, const std::string& after);

    test_support::temp_folder work;
    // Variables set in the setup's environment (runs without a message box).
    test_support::environment_changes child_environment;

private:
    std::wstring _setting;
    std::vector<std::pair<std::wstring, std::wstring>> _saved_environment;
    std::vector<std::wstring> _installed;
};

class client_installation_on_windows_7 : public client_installation_run {
protected:
    client_installation_on_windows_7() : client_installation_run(L"win7") {}

    void SetUp() override
    {
        client_installation_run::SetUp();
        // Windows 7 x64 checks its updates first: the stand-in wmic.exe lists them.
        child_environment.emplace_back(L"PATH", windows_path_of_unix(VARNOX_STAND_IN_WMIC_DIR) + L";" +
                                                    environment(L"PATH"));
        child_environment.emplace_back(L"VARNOX_STAND_IN_HOTFIXES", L"KB4490628,KB4474419");
    }
};

class client_installation_on_windows_10 : public client_installation_run {
protected:
    client_installation_on_windows_10() : client_installation_run(L"win10") {}
};

class client_installation_on_windows_xp_x64 : public client_installation_run {
protected:
    client_installation_on_windows_xp_x64() : client_installation_run(L"winxp64") {}
};

class client_installation_on_windows_server_2003 : public client_installation_run {
protected:
    client_installation_on_windows_server_2003() : client_installation_run(L"win2003") {}
};

// The BCD provider double as the prefix's WMI locator server for one test,
// answering root\WMI from a copy of a fixture store that the setup's
// environment names; the platform's server is put back at the end.
class registered_bcd_double {
public:
    registered_bcd_double(const wchar_t* fixture, const std::wstring& store_file,
                          test_support::environment_changes& environment)
    {
        EXPECT_EQ(ERROR_SUCCESS, bcd_double::register_server(windows_path_of_unix(VARNOX_BCD_SERVER_DLL)));
        const std::wstring source = windows_path_of_unix(VARNOX_BCD_FIXTURES) + L"\\" + fixture;
        EXPECT_TRUE(::CopyFileW(source.c_str(), store_file.c_str(), FALSE));
        environment.emplace_back(bcd_double::store_variable, store_file);
    }
    ~registered_bcd_double() { EXPECT_EQ(ERROR_SUCCESS, bcd_double::unregister_server()); }

    registered_bcd_double(const registered_bcd_double&) = delete;
    registered_bcd_double& operator=(const registered_bcd_double&) = delete;
};

constexpr wchar_t boot_ini_path[] = L"C:\\boot.ini";
constexpr DWORD boot_ini_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

DWORD boot_attributes()
{
    return ::GetFileAttributesW(boot_ini_path) & boot_ini_attributes;
}

// C:\boot.ini with the text and the attributes that Windows gives it, for one test.
class boot_ini_file {
public:
    explicit boot_ini_file(const std::string& text)
    {
        remove();
        test_support::write_file(boot_ini_path, text);
        // Hidden and system first: Wine takes no further attribute on a read-only file.
        ::SetFileAttributesW(boot_ini_path, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        ::SetFileAttributesW(boot_ini_path, boot_ini_attributes);
        EXPECT_EQ(boot_ini_attributes, boot_attributes());
    }
    ~boot_ini_file() { remove(); }

    boot_ini_file(const boot_ini_file&) = delete;
    boot_ini_file& operator=(const boot_ini_file&) = delete;

private:
    static void remove()
    {
        for (const wchar_t* suffix : {L"", L".tmp", L".backup"}) {
            const std::wstring path = boot_ini_path + std::wstring(suffix);
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    }
};

const std::wstring windows7_entry = L"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}";
const std::wstring server2008_entry = L"{5e2b4f3a-7c1d-4e8a-9b6f-0a1c2d3e4f50}";

// An element as the store text shows it, to compare elements whole.
std::wstring text_of(const bcd_double::element& value)
{
    bcd_double::bcd_store store;
    store.objects.push_back(bcd_double::bcd_object{L"{x}", 0, {value}});
    return store.text();
}

void client_installation_run::replaces_the_bcd_entry()
{
    uninstalled_before_and_after(package("client_x64.msi"));
    const std::wstring store_file = work.file(L"store.bcd");
    const registered_bcd_double provider(L"old_entry.bcd", store_file, child_environment);
    const bcd_double::bcd_object default_entry = bcd_double::bcd_store::read_file(store_file).at(windows7_entry);

    const setup_run first = run(sample_setup(), L"/qn");
    ASSERT_TRUE(first.ended);
    EXPECT_EQ(0u, first.exit_code) << first.log;
    EXPECT_EQ(std::string::npos, first.log.find("|E|")) << first.log;
    const bcd_double::bcd_store store = bcd_double::bcd_store::read_file(store_file);
    EXPECT_TRUE(store.described(L"Disable Pellisar Driver").empty());
    const auto added = store.described(L"Disable Dovrant Driver");
    ASSERT_EQ(1u, added.size()) << to_utf8(store.text());
    const bcd_double::bcd_object& entry = *added[0];
    EXPECT_EQ((std::vector<std::wstring>{windows7_entry, server2008_entry, entry.id}),
              store.display_order());
    EXPECT_EQ(L"ZMVF:OFF", entry.at(bcd_double::type_load_options).text);
    EXPECT_EQ(default_entry.type, entry.type);
    for (const auto& value : default_entry.elements) {
        if (value.type == bcd_double::type_description || value.type == bcd_double::type_load_options)
            continue;
        const bcd_double::element* copied = entry.find(value.type);
        ASSERT_NE(nullptr, copied) << to_utf8(bcd_double::element_name_of(value.type));
        EXPECT_EQ(text_of(value), text_of(*copied));
    }
    EXPECT_EQ(entry.elements.size(), default_entry.elements.size() + 1) << "the load options are added";

    const std::string after_first = test_support::read_file(store_file);
    const setup_run second = run(sample_setup(), L"/qn");
    ASSERT_TRUE(second.ended);
    EXPECT_EQ(0u, second.exit_code) << second.log;
    EXPECT_EQ(after_first, test_support::read_file(store_file));
}

void client_installation_run::replaces_the_boot_ini_line(const std::string& before, const std::string& after)
{
    uninstalled_before_and_after(package("client_x64_2k3.msi"));
    const boot_ini_file boot_ini(before);
    for (int run_number = 1; run_number <= 2; ++run_number) {
        SCOPED_TRACE(run_number == 1 ? "first run" : "second run");
        const setup_run outcome = run(sample_setup(), L"/qn");
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
        EXPECT_EQ(std::string::npos, outcome.log.find("|E|")) << outcome.log;
        EXPECT_EQ(after, test_support::read_file(boot_ini_path));
        EXPECT_EQ(boot_ini_attributes, boot_attributes());
        EXPECT_FALSE(file_exists(std::wstring(boot_ini_path) + L".tmp"));
    }
}

// Sets "UpperFilters" of the volume class for one test, and puts the key back as it was.
class upper_filters_value {
public:
    upper_filters_value(DWORD type, const std::wstring& data)
    {
        _created = !key_exists(volume_class_key);
        const LSTATUS created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, volume_class_key, 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, _key.put(), nullptr);
        EXPECT_EQ(ERROR_SUCCESS, created);
        const LSTATUS set = ::RegSetValueExW(_key.get(), L"UpperFilters", 0, type,
                                             reinterpret_cast<const BYTE*>(data.data()),
                                             static_cast<DWORD>(data.size() * sizeof(wchar_t)));
        EXPECT_EQ(ERROR_SUCCESS, set);
    }

    ~upper_filters_value()
    {
        ::RegDeleteValueW(_key.get(), L"UpperFilters");
        _key.reset();
        if (_created)
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, volume_class_key);
    }

    upper_filters_value(const upper_filters_value&) = delete;
    upper_filters_value& operator=(const upper_filters_value&) = delete;

private:
    varnox::windows::unique_hkey _key;
    bool _created = false;
};

} // namespace

// Windows 10 x64 installs client_x64.msi, from the unsigned setup and from
// the signed one alike: the agent's files, the "Velmora" service with its
// quoted path and the "zmvf" key exist afterwards, the package is deleted,
// the log shows the installer command, exit code 0. Wine's own WMI has no
// BCD provider: the fallback boot entry's error is logged at level 1 and the
// exit code stays.
TEST_F(client_installation_on_windows_10, installs_client_x64_msi)
{
    ASSERT_TRUE(carries_certificate_table(signed_sample_setup()));
    for (const std::wstring& setup : {sample_setup(), signed_sample_setup()}) {
        SCOPED_TRACE(to_utf8(setup));
        installs_client_x64_msi_from(setup);
    }
}

void client_installation_run::installs_client_x64_msi_from(const std::wstring& setup)
{
    uninstalled_before_and_after(package("client_x64.msi"));
    const setup_run outcome = run(setup, L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    EXPECT_TRUE(outcome.windows.empty()) << to_utf8(outcome.windows.front());
    EXPECT_NE(std::string::npos, outcome.log.find(installer_command_entry(L" /qn"))) << outcome.log;
    EXPECT_NE(std::string::npos, outcome.log.find("|R|install(280) - The Windows Installer ended with exit code 0. "))
        << outcome.log;
    const size_t boot_entry_error = outcome.log.find("|E|install(301) - ");
    ASSERT_NE(std::string::npos, boot_entry_error) << outcome.log;
    const std::string error_line = outcome.log.substr(boot_entry_error, outcome.log.find('\n', boot_entry_error) -
                                                                             boot_entry_error);
    EXPECT_NE(std::string::npos, error_line.find("(BCDStore) failed. (0x80041002) \r")) << error_line;
    EXPECT_EQ(std::string::npos, outcome.log.find("|E|install(", boot_entry_error + 1)) << outcome.log;
    EXPECT_FALSE(file_exists(package_path()));

    EXPECT_TRUE(file_exists(std::wstring(agent_folder) + L"\\agent.exe"));
    EXPECT_EQ("Velmora Agent sample, installed from client_x64.msi (x64).\r\n",
              test_support::read_file(std::wstring(agent_folder) + L"\\package.txt"));
    EXPECT_TRUE(key_exists(L"SYSTEM\\CurrentControlSet\\Services\\zmvf"));

    varnox::windows::unique_hkey service;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Velmora", 0,
                                             KEY_READ, service.put()));
    wchar_t image_path[MAX_PATH] = {};
    DWORD size = sizeof(image_path);
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(service.get(), L"ImagePath", nullptr, &type,
                                                reinterpret_cast<BYTE*>(image_path), &size));
    EXPECT_EQ(DWORD(REG_EXPAND_SZ), type);
    EXPECT_EQ(L"\"" + std::wstring(agent_folder) + L"\\agent.exe\" -service", std::wstring(image_path));
    const unique_service_handle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager.valid());
    const unique_service_handle velmora(::OpenServiceW(manager.get(), L"Velmora", SERVICE_QUERY_CONFIG));
    EXPECT_TRUE(velmora.valid()) << "the service control manager does not know the service";
}

// A package that the Windows Installer refuses ends the run with exit code 2
// and the installer's exit code in the log; the package is deleted.
TEST_F(client_installation_on_windows_10, failing_package_ends_with_exit_code_2)
{
    const setup_run outcome = run(refusing_setup(), L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
    EXPECT_TRUE(outcome.windows.empty());
    EXPECT_NE(std::string::npos, outcome.log.find(installer_command_entry(L" /qn"))) << outcome.log;
    EXPECT_NE(std::string::npos,
              outcome.log.find("|R|install(280) - The Windows Installer ended with exit code 1603. ")) << outcome.log;
    EXPECT_NE(std::string::npos,
              outcome.log.find("|E|install(284) - The Windows Installer failed with exit code 1603! ")) << outcome.log;
    EXPECT_FALSE(file_exists(package_path()));
    EXPECT_FALSE(file_exists(std::wstring(agent_folder) + L"\\package.txt"));
}

// "UpperFilters" listing "volfilter" blocks the installation with message
// 114 and exit code 1 before anything is extracted; the same name as REG_SZ
// is not looked at, and the installation goes on to the installer.
TEST_F(client_installation_on_windows_10, volume_filter_in_upper_filters_blocks)
{
    {
        SCOPED_TRACE("REG_MULTI_SZ with volfilter");
        const upper_filters_value filters(REG_MULTI_SZ, std::wstring(L"PartMgr\0volfilter\0\0", 19));
        const setup_run outcome = run(refusing_setup(), L"/qn", true);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(1u, outcome.exit_code) << outcome.log;
        EXPECT_NE(std::string::npos, outcome.box.find("caption=Warning\n")) << outcome.box;
        EXPECT_NE(std::string::npos,
                  outcome.box.find("text=An existing volume filter driver may conflict with the agent. Please "
                                   "uninstall the driver or contact support."))
            << outcome.box;
        EXPECT_EQ(std::string::npos, outcome.log.find("install(278)")) << outcome.log;
        EXPECT_FALSE(file_exists(package_path()));
    }
    {
        SCOPED_TRACE("REG_SZ VolFilter");
        const upper_filters_value filters(REG_SZ, std::wstring(L"VolFilter\0", 10));
        const setup_run outcome = run(refusing_setup(), L"/qn");
        ASSERT_TRUE(outcome.ended);
        EXPECT_TRUE(outcome.windows.empty()) << to_utf8(outcome.windows.front());
        EXPECT_NE(std::string::npos, outcome.log.find(installer_command_entry(L" /qn"))) << outcome.log;
        EXPECT_EQ(2u, outcome.exit_code) << "the refusing package's failure";
    }
}

// A stale client.msi that another process holds open cannot be deleted: the
// run ends with exit code 2 and says why, and the installer is not started.
TEST_F(client_installation_on_windows_10, stale_package_held_open_ends_with_exit_code_2)
{
    test_support::write_file(package_path(), "stale");
    varnox::windows::unique_hfile held(
        ::CreateFileW(package_path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());

    const setup_run outcome = run(sample_setup(), L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
    EXPECT_NE(std::string::npos,
              outcome.log.find("|E|install(232) - Can't delete the package file left by an earlier run (" +
                               to_utf8(package_path()) + ") [Error: 32] "))
        << outcome.log;
    EXPECT_EQ(std::string::npos, outcome.log.find("install(278)")) << outcome.log;
    held.reset();
    EXPECT_EQ("stale", test_support::read_file(package_path()));
    EXPECT_FALSE(file_exists(std::wstring(agent_folder) + L"\\package.txt"));
}

// A temporary folder that the ANSI code page cannot hold exactly ("．．" has
// only the look-alike "..") is refused: nothing lands one folder up, exit code 2.
TEST_F(client_installation_on_windows_10, temporary_folder_outside_the_ansi_code_page_is_refused)
{
    const std::wstring look_alike = work.file(L"a\\\uFF0E\uFF0E");
    ASSERT_TRUE(::CreateDirectoryW(work.file(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(look_alike.c_str(), nullptr));
    for (const wchar_t* name : {L"TMP", L"TEMP"})
        ::SetEnvironmentVariableW(name, look_alike.c_str());

    const setup_run outcome = run(sample_setup(), L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(2u, outcome.exit_code);
    const std::string log = test_support::read_file(look_alike + L"\\" +
                                                    sample_setup().substr(sample_setup().find_last_of(L'\\') + 1) +
                                                    L".log");
    EXPECT_NE(std::string::npos, log.find("|E|install(235) - The package path is not text of the ANSI code page ("))
        << log;
    EXPECT_NE(std::string::npos, log.find("|E|install(237) - Can't extract client_x64.msi file! ")) << log;
    EXPECT_EQ(std::string::npos, log.find("install(278)")) << log;
    EXPECT_FALSE(file_exists(work.file(L"client.msi")));
    EXPECT_FALSE(file_exists(look_alike + L"\\client.msi"));
}

// While the installer runs, the package can be read but not changed by
// another process. A package that another process holds open once the
// installer has ended is left behind with a warning; the installation's exit
// code 0 stays.
TEST_F(client_installation_on_windows_10, package_held_open_after_installation_keeps_exit_code_0)
{
    uninstalled_before_and_after(package("client_x64.msi"));
    const test_support::running_process setup(L"\"" + sample_setup() + L"\" /qn");
    ASSERT_TRUE(setup.started());

    // The command is logged once the package is extracted and just before
    // the installer starts, which takes far longer than this open.
    varnox::windows::unique_hfile held;
    for (int tries = 0; tries < 1000 && !held; ++tries) {
        if (test_support::read_file(log_of(sample_setup())).find("install(278)") != std::string::npos)
            held.reset(::CreateFileW(package_path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
        if (!held && ::WaitForSingleObject(setup.handle(), 10) == WAIT_OBJECT_0)
            break;
    }
    EXPECT_TRUE(held.valid()) << "the package could not be opened while the installer ran";
    // Until the installer has ended (line 280 comes then), nobody can write
    // the package that it reads; this test's own handle would allow it.
    const varnox::windows::unique_hfile writer(::CreateFileW(package_path().c_str(), GENERIC_WRITE,
                                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                             nullptr, OPEN_EXISTING, 0, nullptr));
    if (writer)
        EXPECT_NE(std::string::npos, test_support::read_file(log_of(sample_setup())).find("install(280)"))
            << "the package was open to change while the installer ran";
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(setup.handle(), 60000));
    const DWORD exit_code = setup.exit_code();

    const std::string log = test_support::read_file(log_of(sample_setup()));
    EXPECT_EQ(0u, exit_code) << log;
    EXPECT_NE(std::string::npos, log.find("|W|install(290) - Can't delete the package file (" +
                                          to_utf8(package_path()) + ") [Error: 32] "))
        << log;
    EXPECT_TRUE(file_exists(package_path()));
    EXPECT_TRUE(file_exists(std::wstring(agent_folder) + L"\\package.txt"));
}

// A run killed as soon as client.msi appears (while it is extracted, or
// just after), then repeated: the second run deletes what the first left,
// installs the package and ends with exit code 0.
TEST_F(client_installation_on_windows_10, run_killed_during_extraction_is_repeated_with_success)
{
    uninstalled_before_and_after(package("client_x64.msi"));
    const test_support::running_process setup(L"\"" + sample_setup() + L"\" /qn");
    ASSERT_TRUE(setup.started());
    bool appeared = false;
    for (int tries = 0; tries < 2000000 && !appeared; ++tries) {
        appeared = ::GetFileAttributesW(package_path().c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!appeared && ::WaitForSingleObject(setup.handle(), 0) == WAIT_OBJECT_0)
            break;
    }
    ASSERT_TRUE(::TerminateProcess(setup.handle(), 99));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(setup.handle(), 10000));
    ASSERT_TRUE(appeared) << "the setup ended before client.msi appeared";
    ASSERT_TRUE(no_installer_after(60000)) << "an installer of the killed run still runs";

    const setup_run second = run(sample_setup(), L"/qn");
    EXPECT_TRUE(second.ended);
    EXPECT_EQ(0u, second.exit_code) << second.log;
    EXPECT_TRUE(file_exists(std::wstring(agent_folder) + L"\\package.txt")) << second.log;
    EXPECT_FALSE(file_exists(package_path()));
}

// Windows XP x64 installs client_x64_2k3.msi, from the unsigned and from the
// signed setup.
TEST_F(client_installation_on_windows_xp_x64, installs_client_x64_2k3_msi)
{
    for (const std::wstring& setup : {sample_setup(), signed_sample_setup()}) {
        SCOPED_TRACE(to_utf8(setup));
        uninstalled_before_and_after(package("client_x64_2k3.msi"));
        const setup_run outcome = run(setup, L"/qn");
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
        EXPECT_NE(std::string::npos, outcome.log.find(installer_command_entry(L" /qn"))) << outcome.log;
        EXPECT_EQ("Velmora Agent sample, installed from client_x64_2k3.msi (x64).\r\n",
                  test_support::read_file(std::wstring(agent_folder) + L"\\package.txt"));
        EXPECT_TRUE(key_exists(L"SYSTEM\\CurrentControlSet\\Services\\zmvf"));
        EXPECT_TRUE(key_exists(L"SYSTEM\\CurrentControlSet\\Services\\Velmora"));
        EXPECT_FALSE(file_exists(package_path()));
    }
}

// A payload without the package for Windows 5.2 ends with exit code 2 and the
// log line of the missing member; no box, no installer.
TEST_F(client_installation_on_windows_xp_x64, payload_without_its_package_ends_with_exit_code_2)
{
    const setup_run outcome = run(refusing_setup(), L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
    EXPECT_TRUE(outcome.windows.empty());
    EXPECT_NE(std::string::npos, outcome.log.find("|E|install(253) - Can't extract client_x64_2k3.msi file! \r\n"))
        << outcome.log;
    EXPECT_EQ(std::string::npos, outcome.log.find("install(278)")) << outcome.log;
    EXPECT_FALSE(file_exists(package_path()));
}

// Windows 7 x64 with the BCD provider double: the old entry goes, exactly one
// "Disable Dovrant Driver" entry comes, a copy of the default entry with the
// load options "ZMVF:OFF", last in the display order; exit code 0, and a
// second run changes nothing.
TEST_F(client_installation_on_windows_7, replaces_the_bcd_entry)
{
    replaces_the_bcd_entry();
}

// Packages without the journal driver: the store is not touched.
TEST_F(client_installation_on_windows_7, without_the_driver_the_store_is_not_touched)
{
    uninstalled_before_and_after(package("no_driver/client_x64.msi"));
    // Left by an installation of the full package that was interrupted.
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, driver_key);
    const std::wstring store_file = work.file(L"store.bcd");
    const registered_bcd_double provider(L"old_entry.bcd", store_file, child_environment);
    const std::string before = test_support::read_file(store_file);

    const setup_run outcome = run(no_driver_setup(), L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    EXPECT_TRUE(file_exists(std::wstring(agent_folder) + L"\\package.txt")) << "the package is installed";
    EXPECT_FALSE(key_exists(driver_key));
    EXPECT_EQ(std::string::npos, outcome.log.find("|E|")) << outcome.log;
    EXPECT_EQ(before, test_support::read_file(store_file));
}

// Windows 10 with the BCD provider double: the same as on Windows 7.
TEST_F(client_installation_on_windows_10, replaces_the_bcd_entry)
{
    replaces_the_bcd_entry();
}

// Windows XP x64 with boot.ini on C:: the old line goes, exactly one
// "Disable Dovrant Driver" line comes with " /ZMVF:OFF", the attributes stay;
// a second run changes nothing.
TEST_F(client_installation_on_windows_xp_x64, replaces_the_boot_ini_line)
{
    replaces_the_boot_ini_line(
        "[boot loader]\r\n"
        "timeout=30\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Pellisar Driver\" /noexecute=optin /fastdetect /PELLISAR:OFF\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional x64 Edition\" /noexecute=optin /fastdetect\r\n",
        "[boot loader]\r\n"
        "timeout=30\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional x64 Edition\" /noexecute=optin /fastdetect\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Dovrant Driver\" /noexecute=optin /fastdetect /ZMVF:OFF\r\n");
}

// A boot.ini that another process holds open, for nobody else (it cannot
// be read) or for readers only (it cannot be replaced), stays as it was; the
// step's error is logged at level 1 and the installation's exit code 0 stays.
TEST_F(client_installation_on_windows_xp_x64, boot_ini_held_open_is_left_as_it_was)
{
    uninstalled_before_and_after(package("client_x64_2k3.msi"));
    const std::string text =
        "[boot loader]\r\n"
        "timeout=30\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Pellisar Driver\" /fastdetect /PELLISAR:OFF\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional x64 Edition\" /fastdetect\r\n";
    const struct {
        const char* holder;
        DWORD share;
        const char* logged;
    } cases[] = {
        {"for nobody else", 0, "|E|boot_ini(61) - Can't read C:\\boot.ini [Error: 32]"},
        {"for readers", FILE_SHARE_READ, "|E|install(302) - boost::filesystem::rename: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holder);
        const boot_ini_file boot_ini(text);
        setup_run outcome;
        {
            const varnox::windows::unique_hfile held(
                ::CreateFileW(boot_ini_path, GENERIC_READ, c.share, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            outcome = run(sample_setup(), L"/qn");
        }
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
        EXPECT_NE(std::string::npos, outcome.log.find(c.logged)) << outcome.log;
        EXPECT_EQ(text, test_support::read_file(boot_ini_path));
        EXPECT_EQ(boot_ini_attributes, boot_attributes());
        ::DeleteFileW(log_of(sample_setup()).c_str());
    }
}

// Packages without the journal driver: boot.ini is not touched.
TEST_F(client_installation_on_windows_xp_x64, without_the_driver_boot_ini_is_not_touched)
{
    uninstalled_before_and_after(package("no_driver/client_x64_2k3.msi"));
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, driver_key);
    const std::string text =
        "[boot loader]\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Pellisar Driver\" /fastdetect\r\n";
    const boot_ini_file boot_ini(text);

    const setup_run outcome = run(no_driver_setup(), L"/qn");
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    EXPECT_TRUE(file_exists(std::wstring(agent_folder) + L"\\package.txt")) << "the package is installed";
    EXPECT_FALSE(key_exists(driver_key));
    EXPECT_EQ(text, test_support::read_file(boot_ini_path));
    EXPECT_EQ(boot_ini_attributes, boot_attributes());
}

// Windows Server 2003 with a serial console and a second system in boot.ini:
// the line is copied from the default one, the others stay.
TEST_F(client_installation_on_windows_server_2003, replaces_the_boot_ini_line)
{
    const std::string kept =
        "[boot loader]\r\n"
        "timeout=30\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "redirect=COM1\r\n"
        "redirectbaudrate=115200\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows Server 2003, Enterprise\" /noexecute=optout /fastdetect /redirect\r\n"
        "multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS=\"Windows Server 2003, Standard\" /noexecute=optout /fastdetect\r\n";
    replaces_the_boot_ini_line(
        kept + "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Pellisar Driver\" /noexecute=optout /fastdetect /redirect /PELLISAR:OFF\r\n",
        kept + "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Dovrant Driver\" /noexecute=optout /fastdetect /redirect /ZMVF:OFF\r\n");
}
