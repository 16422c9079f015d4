#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "message_ids.h"
#include "messages.h"
#include "prerequisites.h"
#include "varnox/windows/com_init.h"
#include "wmi_double.h"

using install::check_prerequisites;
using varnox::windows::operating_system;

namespace {

// Answers the listing and the WMI question from sets the test chooses, and
// counts how often each was asked.
class counting_probe : public install::hotfix_probe {
public:
    std::wstring list_hotfixes() override
    {
        ++listing_runs;
        return listing;
    }
    bool is_hotfix_installed(const std::wstring& hotfix_id) override
    {
        queries.push_back(hotfix_id);
        return wmi.count(hotfix_id) != 0;
    }

    std::wstring listing;
    std::set<std::wstring> wmi;
    int listing_runs = 0;
    std::vector<std::wstring> queries;
};

struct shown_box {
    std::wstring text;
    std::wstring caption;
    UINT style;
};

class recording_presenter : public install::message_presenter {
public:
    int show(const std::wstring& text, const std::wstring& caption, UINT style) override
    {
        boxes.push_back({text, caption, style});
        return IDOK;
    }
    std::vector<shown_box> boxes;
};

operating_system system_of(DWORD major, DWORD minor, WORD architecture)
{
    operating_system os;
    os.version_info.dwMajorVersion = major;
    os.version_info.dwMinorVersion = minor;
    os.system_info.wProcessorArchitecture = architecture;
    return os;
}

const WORD x64 = PROCESSOR_ARCHITECTURE_AMD64;
const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL;
const WORD itanium = PROCESSOR_ARCHITECTURE_IA64;

const wchar_t listing_both_61[] = L"HotFixID   \r\nKB4490628  \r\nKB4474419  \r\n\r\n";

} // namespace

// Which systems are checked, what is looked for, and how a missing update is
// reported; counts show that the listing runs first and WMI only on a miss.
TEST(check_prerequisites, decisions)
{
    const struct {
        const char* scenario;
        operating_system os;
        const wchar_t* listing;
        std::set<std::wstring> wmi;
        const wchar_t* command_line;
        bool goes_on;
        int listing_runs;
        std::vector<std::wstring> queries;
        UINT box_text;  // 0: no box
    } cases[] = {
        {"7 x64, both listed", system_of(6, 1, x64), listing_both_61, {}, L"install.exe", true, 2, {}, 0},
        {"7 x64, first missing", system_of(6, 1, x64), L"KB4474419", {}, L"install.exe", false, 1,
         {L"KB4490628"}, IDS_KB4490628_REQUIRED},
        {"7 x64, second missing", system_of(6, 1, x64), L"KB4490628", {}, L"install.exe", false, 2,
         {L"KB4474419"}, IDS_KB4474419_REQUIRED},
        {"7 x64, both only in WMI", system_of(6, 1, x64), L"", {L"KB4490628", L"KB4474419"}, L"install.exe",
         true, 2, {L"KB4490628", L"KB4474419"}, 0},
        {"Vista x64, first missing: the second is not looked for", system_of(6, 0, x64), listing_both_61,
         {}, L"install.exe", false, 1, {L"KB4493730"}, IDS_KB4493730_REQUIRED},
        {"Vista x64, both present", system_of(6, 0, x64), L"KB4493730 KB4474419", {}, L"install.exe", true, 2,
         {}, 0},
        {"listing compares case-sensitively", system_of(6, 1, x64), L"kb4490628 kb4474419", {},
         L"install.exe", false, 1, {L"KB4490628"}, IDS_KB4490628_REQUIRED},
        {"--hide keeps the box away", system_of(6, 1, x64), L"", {}, L"install.exe --hide", false, 1,
         {L"KB4490628"}, 0},
        {"--HIDE in upper case", system_of(6, 1, x64), L"KB4490628", {}, L"\"C:\\x\\install.exe\" /qn --HiDe",
         false, 2, {L"KB4474419"}, 0},
        {"--hide inside a longer word", system_of(6, 0, x64), L"", {}, L"install.exe /l*v c:\\x--hidexy.log",
         false, 1, {L"KB4493730"}, 0},
        {"7 x86 is not checked", system_of(6, 1, x86), L"", {}, L"install.exe", true, 0, {}, 0},
        {"7 on Itanium is not checked", system_of(6, 1, itanium), L"", {}, L"install.exe", true, 0, {}, 0},
        {"Windows 8 and later are not checked", system_of(6, 2, x64), L"", {}, L"install.exe", true, 0, {}, 0},
        {"Windows 10 is not checked", system_of(10, 0, x64), L"", {}, L"install.exe", true, 0, {}, 0},
        {"Server 2003 x64 is not checked", system_of(5, 2, x64), L"", {}, L"install.exe", true, 0, {}, 0},
    };
    ASSERT_EQ(L"Warning", install::load_resource_string(IDS_WARNING)) << "the test carries the string table";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        counting_probe probe;
        probe.listing = c.listing;
        probe.wmi = c.wmi;
        recording_presenter presenter;
        EXPECT_EQ(c.goes_on, check_prerequisites(c.os, c.command_line, probe, presenter));
        EXPECT_EQ(c.listing_runs, probe.listing_runs);
        EXPECT_EQ(c.queries, probe.queries);
        if (c.box_text == 0) {
            EXPECT_TRUE(presenter.boxes.empty());
        } else {
            ASSERT_EQ(1u, presenter.boxes.size());
            EXPECT_EQ(install::load_resource_string(c.box_text), presenter.boxes[0].text);
            EXPECT_EQ(install::load_resource_string(IDS_WARNING), presenter.boxes[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR | MB_TOPMOST), presenter.boxes[0].style);
        }
    }
}

TEST(has_hide_option, any_letter_case_anywhere)
{
    EXPECT_TRUE(install::has_hide_option(L"install.exe --hide"));
    EXPECT_TRUE(install::has_hide_option(L"install.exe --HIDE /qn"));
    EXPECT_TRUE(install::has_hide_option(L"\"D:\\--Hide\\install.exe\""));
    EXPECT_FALSE(install::has_hide_option(L"install.exe -hide /hide --hid"));
}

namespace {

using wmi_double::com_ptr;
using wmi_double::fake_object;
using wmi_double::fake_services;

// Wine's own WMI, or a double registered as the locator, answers the query.
class hotfix_wmi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(varnox::windows::com_init::initialize())); }
    void TearDown() override { ::CoUninitialize(); }
};

com_ptr<fake_services> services_listing(const std::vector<const wchar_t*>& hotfix_ids)
{
    com_ptr<fake_services> services = fake_services::make();
    com_ptr<fake_object> update_class = fake_object::make_class(L"Win32_QuickFixEngineering");
    update_class->property(L"HotFixID", CIM_STRING);
    services->add_class(update_class);
    int index = 0;
    for (const wchar_t* id : hotfix_ids) {
        com_ptr<fake_object> update = update_class->spawn();
        if (id)
            update->set(L"HotFixID", wmi_double::string_value(id));
        update->set_path(L"\\\\.\\root\\CIMV2:Win32_QuickFixEngineering.HotFixID=\"" + std::to_wstring(index++) + L"\"");
        services->add_instance(update);
    }
    return services;
}

} // namespace

// Wine's WMI lists one placeholder update, "KB1234567".
TEST_F(hotfix_wmi, real_service_lists_its_placeholder_update)
{
    EXPECT_TRUE(install::is_hotfix_installed(L"KB1234567"));
    EXPECT_FALSE(install::is_hotfix_installed(L"kb1234567"));
    EXPECT_FALSE(install::is_hotfix_installed(L"KB4474419"));
}

// The comparison is exact: a lower-case id or a longer one does not match,
// and an update without HotFixID is passed over.
TEST_F(hotfix_wmi, ids_match_exactly)
{
    wmi_double::locator_registration locator(services_listing({nullptr, L"kb4474419", L"KB4474419-v2", L"KB4490628"}));
    ASSERT_EQ(S_OK, locator.registration_result());
    EXPECT_FALSE(install::is_hotfix_installed(L"KB4474419"));
    EXPECT_TRUE(install::is_hotfix_installed(L"KB4490628"));
    ASSERT_FALSE(locator.connects.empty());
    EXPECT_NE(std::wstring::npos, locator.connects.back().network_resource.find(L"CIMV2"));
}

// Any failure of the connection or the query counts as a missing update.
TEST_F(hotfix_wmi, failures_count_as_missing)
{
    {
        wmi_double::locator_registration locator(services_listing({L"KB4490628"}));
        locator.connect_result = WBEM_E_ACCESS_DENIED;
        EXPECT_FALSE(install::is_hotfix_installed(L"KB4490628"));
    }
    {
        com_ptr<fake_services> services = services_listing({L"KB4490628"});
        wmi_double::query_answer failing;
        failing.exec_result = WBEM_E_FAILED;
        services->on_query(L"SELECT * FROM Win32_QuickFixEngineering", failing);
        wmi_double::locator_registration locator(services);
        EXPECT_FALSE(install::is_hotfix_installed(L"KB4490628"));
    }
}
