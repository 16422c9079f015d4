// The fallback boot entry step over the BCD provider double (registered as
// the process's WMI locator, so the editor's own construction reaches it) and
// over boot.ini files on drives C: and D:, in a prefix of its own: the tests
// create the journal driver's service key and map drive D: to a folder of
// their own.

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "bcd_provider.h"
#include "bcd_store.h"
#include "fallback_boot_entry.h"
#include "test_support.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/handle.h"
#include "wmi_double.h"
#include "wmi_test_support.h"

using namespace bcd_double;
using install::fallback_boot_entry_facts;
using test_support::file_exists;
using test_support::read_file;
using wmi_double::log_capture;

namespace {

const std::wstring windows7 = L"{1cafd2ee-e035-11dd-bbf6-bdebeb67615f}";
const std::wstring server2008 = L"{5e2b4f3a-7c1d-4e8a-9b6f-0a1c2d3e4f50}";
const std::wstring dovrant = L"{2f7e9c10-3a4b-4c5d-8e6f-7a8b9c0d1e2f}";

std::string narrow(const std::wstring& text)
{
    return test_support::to_utf8(text);
}

std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

// Starts a program of the Unix side, which Wine runs like a Windows one but
// without a process handle to wait on.
bool start_unix(const std::wstring& program, std::wstring command_line)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return false;
    const varnox::windows::unique_handle process(info.hProcess);
    const varnox::windows::unique_handle thread(info.hThread);
    return true;
}

// Waits up to 10 s for the condition.
template <typename Condition>
bool eventually(Condition condition)
{
    for (int tries = 0; tries < 1000; ++tries) {
        if (condition())
            return true;
        ::Sleep(10);
    }
    return false;
}

// Drive D: of this prefix as a folder of the test's own (a link in the
// prefix's dosdevices), for as long as it lives.
class drive_d {
public:
    drive_d()
    {
        const std::wstring prefix = environment(L"WINEPREFIX");
        EXPECT_FALSE(prefix.empty());
        _link = prefix + L"/dosdevices/d:";
        const std::wstring target = unix_path_of(folder.path());
        EXPECT_FALSE(target.empty());
        test_support::write_file(folder.file(L"drive_d.marker"), "");
        EXPECT_TRUE(start_unix(L"Z:\\bin\\ln", L"ln -sfn \"" + target + L"\" \"" + _link + L"\""));
        EXPECT_TRUE(eventually([] { return file_exists(L"D:\\drive_d.marker"); })) << "drive D: is not mapped";
    }
    ~drive_d()
    {
        start_unix(L"Z:\\bin\\rm", L"rm -f \"" + _link + L"\"");
        EXPECT_TRUE(eventually([] { return !file_exists(L"D:\\drive_d.marker"); })) << "drive D: stays mapped";
    }

    drive_d(const drive_d&) = delete;
    drive_d& operator=(const drive_d&) = delete;

    test_support::temp_folder folder;

private:
    static std::wstring unix_path_of(const std::wstring& windows_path)
    {
        using unix_name_function = char*(CDECL*)(const wchar_t*);
        const auto get_unix_file_name = reinterpret_cast<unix_name_function>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        if (!get_unix_file_name)
            return std::wstring();
        char* name = get_unix_file_name(windows_path.c_str());
        if (!name)
            return std::wstring();
        const std::wstring path = test_support::from_utf8(name);
        ::HeapFree(::GetProcessHeap(), 0, name);
        return path;
    }

    std::wstring _link;
};

// The journal driver's service key, present for as long as this lives.
class driver_key {
public:
    driver_key()
    {
        EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, install::driver_service_key, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, _key.put(), nullptr));
    }
    ~driver_key()
    {
        _key.reset();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, install::driver_service_key);
    }

    driver_key(const driver_key&) = delete;
    driver_key& operator=(const driver_key&) = delete;

private:
    varnox::windows::unique_hkey _key;
};

// Log messages, one a line, for failure messages.
std::string joined(const std::vector<std::wstring>& messages)
{
    std::wstring text;
    for (const auto& message : messages)
        text += message + L"\n";
    return narrow(text);
}

fallback_boot_entry_facts bcd_facts()
{
    fallback_boot_entry_facts facts;
    facts.uses_bcd_store = true;
    facts.windows_folder = L"C:\\windows";
    return facts;
}

fallback_boot_entry_facts boot_ini_facts(const std::wstring& windows_folder)
{
    fallback_boot_entry_facts facts;
    facts.uses_bcd_store = false;
    facts.windows_folder = windows_folder;
    return facts;
}

class fallback_boot_entry : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The tests write the machine's registry and drives: never in a prefix that others share.
        ASSERT_EQ(L"fallback_boot_entry", environment(L"VARNOX_WINE_PREFIX")) << "run through ctest";
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, install::driver_service_key);
        ASSERT_EQ(S_OK, varnox::windows::com_init::initialize());
    }
    void TearDown() override { ::CoUninitialize(); }

    // A provider double over the fixture, answering the process's connections to root\WMI.
    void load(const wchar_t* fixture, const std::vector<call_failure>& failures = {})
    {
        bcd_store store = bcd_store::read_file(test_support::windows_path_of_unix(VARNOX_BCD_FIXTURES) + L"\\" +
                                               fixture);
        store.failures = failures;
        locator.reset();
        provider.reset(new bcd_provider(store));
        locator.reset(new wmi_double::locator_registration(provider->services()));
        ASSERT_EQ(S_OK, locator->registration_result());
    }

    std::unique_ptr<bcd_provider> provider;
    std::unique_ptr<wmi_double::locator_registration> locator;
};

} // namespace

// With the driver's key, the old entry goes and the current one is added as a
// copy of the default entry with "ZMVF:OFF", last in the display order; a
// store that holds the current entry already is left as it is, and every
// further run changes nothing. Nothing is logged.
TEST_F(fallback_boot_entry, bcd_store_gets_exactly_one_current_entry)
{
    const struct {
        const wchar_t* fixture;
        std::vector<std::wstring> kept_order;
        bool adds;
    } cases[] = {
        {L"old_entry.bcd", {windows7, server2008}, true},
        {L"windows7.bcd", {windows7}, true},
        {L"current_entry.bcd", {windows7, dovrant}, false},
    };
    const driver_key key;
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.fixture));
        load(c.fixture);
        const bcd_object default_entry = provider->store().at(windows7);
        const log_capture log(2);

        install::add_fallback_boot_entry(bcd_facts());
        const bcd_store& store = provider->store();
        EXPECT_TRUE(store.described(install::old_driver_disabled_description).empty());
        const auto current = store.described(install::driver_disabled_description);
        ASSERT_EQ(1u, current.size()) << narrow(store.text());
        std::vector<std::wstring> expected_order = c.kept_order;
        if (c.adds)
            expected_order.push_back(current[0]->id);
        EXPECT_EQ(expected_order, store.display_order());
        EXPECT_EQ(L"ZMVF:OFF", current[0]->at(type_load_options).text);
        EXPECT_EQ(default_entry.type, current[0]->type);
        EXPECT_EQ(default_entry.at(type_application_path).text, current[0]->at(type_application_path).text);

        const std::wstring after_first = store.text();
        const size_t changes = provider->changes().size();
        install::add_fallback_boot_entry(bcd_facts());
        EXPECT_EQ(after_first, provider->store().text());
        EXPECT_EQ(changes, provider->changes().size());
        EXPECT_EQ(std::vector<std::wstring>(), log.messages());
    }
}

// Without the driver's key nothing is asked of the store and nothing logged.
TEST_F(fallback_boot_entry, bcd_store_is_not_touched_without_the_driver)
{
    load(L"old_entry.bcd");
    const log_capture log(2);
    install::add_fallback_boot_entry(bcd_facts());
    EXPECT_TRUE(provider->method_calls().empty());
    EXPECT_TRUE(locator->connects.empty());
    EXPECT_EQ(std::vector<std::wstring>(), log.messages());
}

// A store that does not open or whose lookups fail ends the step with the
// error's composed text in the log at level 1, under the step's own line, and
// the store as it was; the step returns normally. So does a connection that
// the platform's own WMI answers, without a BCD provider.
TEST_F(fallback_boot_entry, bcd_errors_are_logged_and_end_the_step)
{
    const struct {
        const char* scenario;
        const wchar_t* fixture;  // null: no double, the platform's WMI
        std::vector<call_failure> failures;
        std::vector<std::wstring> logged_parts;  // what the step's line holds after "install(301) - "
    } cases[] = {
        {"the store does not open", L"old_entry.bcd", {{L"OpenStore", L"", true, S_OK}},
         {L"convert/bcd_edit(176) : bcd_edit::bcd_edit - The return value of the OpenStore() method is failed. "
          L"(0x00000000) "}},
        {"the boot manager is not found", L"old_entry.bcd", {{L"OpenObject", boot_manager_id, true, S_OK}},
         {L"convert/bcd_edit(243) : bcd_edit::_get_bcd_boot_manager - Can't OpenObject WINDOWS_BOOT_MANAGER "
          L"object. (0x00000000) "}},
        {"opening the boot manager fails", L"old_entry.bcd",
         {{L"OpenObject", boot_manager_id, false, static_cast<HRESULT>(0x80041003)}},
         {L" : varnox::windows::wmi_services::exec_method - ", L"(OpenObject) failed. (0x80041003) "}},
        {"no default entry to copy", L"no_default_no_display_order.bcd", {},
         {L"convert/bcd_edit(322) : bcd_edit::_get_bcd_default_boot_entry - Can't get Default Boot Entry ID. "
          L"(0x00000000) "}},
        {"no BCD provider", nullptr, {}, {L"(0x80041002) "}},
    };
    const driver_key key;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        if (c.fixture) {
            load(c.fixture, c.failures);
        } else {
            locator.reset();
            provider.reset();
        }
        const std::wstring before = provider ? provider->store().text() : std::wstring();
        const log_capture log(2);

        install::add_fallback_boot_entry(bcd_facts());
        // The WMI layer may log its own line before it raises.
        std::vector<std::wstring> step_lines;
        for (const auto& message : log.messages())
            if (message.compare(0, 8, L"install(") == 0)
                step_lines.push_back(message);
        ASSERT_EQ(1u, step_lines.size()) << joined(log.messages());
        EXPECT_EQ(0u, step_lines[0].find(L"install(301) - ")) << narrow(step_lines[0]);
        for (const auto& part : c.logged_parts)
            EXPECT_NE(std::wstring::npos, step_lines[0].find(part)) << narrow(step_lines[0]);
        EXPECT_EQ(L'E', log.letter_of(step_lines[0]));
        if (provider) {
            EXPECT_EQ(before, provider->store().text());
        }
    }
}

// boot.ini on the drive of the Windows folder loses the old line and gains
// the current one, with its attributes kept; the other drive's file is not
// touched, and further runs change nothing.
TEST_F(fallback_boot_entry, boot_ini_on_the_drive_of_the_windows_folder)
{
    const std::string kept =
        "[boot loader]\r\n"
        "timeout=30\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" /noexecute=optin "
        "/fastdetect\r\n";
    const std::string sample =
        kept + "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Pellisar Driver\" /noexecute=optin "
               "/fastdetect /PELLISAR:OFF\r\n";
    const std::string replaced =
        kept + "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Dovrant Driver\" /noexecute=optin "
               "/fastdetect /ZMVF:OFF\r\n";
    const DWORD boot_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

    const drive_d d;
    const std::wstring on_c = L"C:\\boot.ini";
    const std::wstring on_d = L"D:\\boot.ini";
    const struct {
        const wchar_t* windows_folder;
        std::wstring edited;
        std::wstring untouched;
    } cases[] = {
        {L"D:\\WINDOWS", on_d, on_c},
        {L"c:\\windows", on_c, on_d},
    };
    const driver_key key;
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.windows_folder));
        for (const std::wstring& path : {on_c, on_d}) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            test_support::write_file(path, sample);
            // Hidden and system first: Wine takes no further attribute on a read-only file.
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
            ::SetFileAttributesW(path.c_str(), boot_attributes);
        }
        const log_capture log(2);
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE(run);
            install::add_fallback_boot_entry(boot_ini_facts(c.windows_folder));
            EXPECT_EQ(replaced, read_file(c.edited));
            EXPECT_EQ(boot_attributes, ::GetFileAttributesW(c.edited.c_str()) & boot_attributes);
            EXPECT_EQ(sample, read_file(c.untouched));
        }
        EXPECT_EQ(std::vector<std::wstring>(), log.messages());
    }
    for (const std::wstring& path : {on_c, on_d}) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
}

// Without the driver's key, with an empty Windows folder path, or with a
// missing boot.ini, no file is written; only the empty path is logged. A
// boot.ini that the fallback of the replacement cannot move aside raises
// Boost.Filesystem's error, which is logged with its text and ends the step.
TEST_F(fallback_boot_entry, boot_ini_left_alone)
{
    const std::string sample =
        "[boot loader]\r\n"
        "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\n"
        "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows Server 2003, Enterprise\" /fastdetect\r\n";
    const drive_d d;
    const std::wstring path = L"D:\\boot.ini";
    const struct {
        const char* scenario;
        bool driver;
        const wchar_t* windows_folder;
        bool boot_ini;
        bool held;
        std::wstring logged;  // the start of the one message, or nothing logged
    } cases[] = {
        {"no driver key", false, L"D:\\WINDOWS", true, false, L""},
        {"an empty Windows folder path", true, L"", true, false,
         L"install(304) - Can't get the Windows folder; boot.ini is not edited "},
        {"no boot.ini", true, L"D:\\WINDOWS", false, false, L""},
        {"boot.ini held open with read sharing only", true, L"D:\\WINDOWS", true, true, L"install(302) - "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ::DeleteFileW(path.c_str());
        if (c.boot_ini)
            test_support::write_file(path, sample);
        std::unique_ptr<driver_key> key(c.driver ? new driver_key : nullptr);
        const log_capture log(2);
        {
            varnox::windows::unique_hfile holder(
                c.held ? ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE);
            EXPECT_EQ(c.held, holder.valid());
            install::add_fallback_boot_entry(boot_ini_facts(c.windows_folder));
        }
        if (c.boot_ini)
            EXPECT_EQ(sample, read_file(path));
        else
            EXPECT_FALSE(file_exists(path));
        EXPECT_FALSE(file_exists(path + L".backup"));
        const std::vector<std::wstring> logged = log.messages();
        if (c.logged.empty()) {
            EXPECT_EQ(std::vector<std::wstring>(), logged);
        } else {
            ASSERT_EQ(1u, logged.size()) << joined(logged);
            EXPECT_EQ(0u, logged[0].find(c.logged)) << narrow(logged[0]);
            EXPECT_EQ(L'E', log.letter_of(logged[0]));
        }
        ::DeleteFileW((path + L".tmp").c_str());
    }
    ::DeleteFileW(path.c_str());
}
