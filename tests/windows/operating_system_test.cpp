#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "test_support.h"
#include "varnox/windows/operating_system.h"

using varnox::windows::name_operating_system;
using varnox::windows::operating_system;
using varnox::windows::operating_system_facts;

namespace {

constexpr BYTE workstation = 1;
constexpr BYTE server = 3;
constexpr BYTE domain_controller = 2;
constexpr WORD x86 = 0;
constexpr WORD itanium = 6;
constexpr WORD x64 = 9;
constexpr WORD arm64 = 12;

operating_system_facts facts(DWORD major, DWORD minor, DWORD build, BYTE product_type_byte, WORD suite_mask,
                             const wchar_t* service_pack, WORD architecture, DWORD product_type = 0,
                             int server_r2 = 0)
{
    operating_system_facts f;
    f.platform_id = VER_PLATFORM_WIN32_NT;
    f.major_version = major;
    f.minor_version = minor;
    f.build_number = build;
    f.product_type_byte = product_type_byte;
    f.suite_mask = suite_mask;
    f.service_pack = service_pack;
    f.processor_architecture = architecture;
    f.product_type = product_type;
    f.server_r2 = server_r2;
    return f;
}

// A release from Windows 8 on: Windows reports 6.2.9200, kernel32.dll knows better.
operating_system_facts reported_as_6_2(WORD major, WORD minor, WORD build, BYTE product_type_byte,
                                       DWORD product_type, WORD architecture = x64)
{
    operating_system_facts f = facts(6, 2, 9200, product_type_byte, 0x100, L"", architecture, product_type);
    f.kernel32_product_version_ms = MAKELONG(minor, major);
    f.kernel32_product_version_ls = MAKELONG(1, build);
    return f;
}

} // namespace

// Every release from Windows 2000 to Windows 11 and Server 2025 gets its name from the facts alone.
TEST(name_operating_system, releases)
{
    const struct {
        const char* scenario;
        operating_system_facts facts;
        const wchar_t* name;
    } cases[] = {
        {"2000 Professional", facts(5, 0, 2195, workstation, 0, L"Service Pack 4", x86),
         L"Microsoft Windows 2000 Professional Service Pack 4 (build 2195)"},
        {"2000 Datacenter Server", facts(5, 0, 2195, server, 0x82, L"", x86),
         L"Microsoft Windows 2000 Datacenter Server (build 2195)"},
        {"2000 Advanced Server", facts(5, 0, 2195, domain_controller, 0x2, L"Service Pack 4", x86),
         L"Microsoft Windows 2000 Advanced Server Service Pack 4 (build 2195)"},
        {"2000 Server", facts(5, 0, 2195, server, 0, L"", x86), L"Microsoft Windows 2000 Server (build 2195)"},
        {"XP Home", facts(5, 1, 2600, workstation, 0x300, L"Service Pack 3", x86),
         L"Microsoft Windows XP Home Edition Service Pack 3 (build 2600)"},
        {"XP Professional", facts(5, 1, 2600, workstation, 0x100, L"Service Pack 3", x86),
         L"Microsoft Windows XP Professional Service Pack 3 (build 2600)"},
        {"XP Professional x64", facts(5, 2, 3790, workstation, 0x100, L"Service Pack 2", x64),
         L"Microsoft Windows XP Professional x64 Edition Service Pack 2 (build 3790)"},
        {"Server 2003 Standard", facts(5, 2, 3790, server, 0x110, L"Service Pack 2", x86),
         L"Microsoft Windows Server 2003, Standard Edition Service Pack 2 (build 3790)"},
        {"Server 2003 Enterprise", facts(5, 2, 3790, server, 0x2, L"", x86),
         L"Microsoft Windows Server 2003, Enterprise Edition (build 3790)"},
        {"Server 2003 Datacenter", facts(5, 2, 3790, server, 0x82, L"", x86),
         L"Microsoft Windows Server 2003, Datacenter Edition (build 3790)"},
        {"Server 2003 Web", facts(5, 2, 3790, server, 0x400, L"", x86),
         L"Microsoft Windows Server 2003, Web Edition (build 3790)"},
        {"Compute Cluster comes before every other suite", facts(5, 2, 3790, server, 0x4482, L"", x86),
         L"Microsoft Windows Server 2003, Compute Cluster Edition (build 3790)"},
        {"Server 2003 x64 Standard", facts(5, 2, 3790, server, 0, L"Service Pack 2", x64),
         L"Microsoft Windows Server 2003, Standard x64 Edition Service Pack 2 (build 3790)"},
        {"Server 2003 x64 Enterprise", facts(5, 2, 3790, server, 0x2, L"", x64),
         L"Microsoft Windows Server 2003, Enterprise x64 Edition (build 3790)"},
        {"Server 2003 x64 Datacenter", facts(5, 2, 3790, server, 0x82, L"", x64),
         L"Microsoft Windows Server 2003, Datacenter x64 Edition (build 3790)"},
        {"Server 2003 Itanium Datacenter", facts(5, 2, 3790, server, 0x82, L"Service Pack 1", itanium),
         L"Microsoft Windows Server 2003, Datacenter Edition for Itanium-based Systems Service Pack 1 (build 3790)"},
        {"Server 2003 Itanium Enterprise", facts(5, 2, 3790, server, 0x2, L"", itanium),
         L"Microsoft Windows Server 2003, Enterprise Edition for Itanium-based Systems (build 3790)"},
        {"Server 2003 Itanium without edition", facts(5, 2, 3790, server, 0, L"", itanium),
         L"Microsoft Windows Server 2003,  (build 3790)"},
        {"Server 2003 R2", facts(5, 2, 3790, server, 0x2, L"Service Pack 2", x86, 0, 1),
         L"Microsoft Windows Server 2003 R2, Enterprise Edition Service Pack 2 (build 3790)"},
        {"Server 2003 R2 x64", facts(5, 2, 3790, server, 0, L"Service Pack 2", x64, 0, 1),
         L"Microsoft Windows Server 2003 R2, Standard x64 Edition Service Pack 2 (build 3790)"},
        {"Storage Server 2003: no separator", facts(5, 2, 3790, server, 0x2000, L"", x86),
         L"Microsoft Windows Storage Server 2003Standard Edition (build 3790)"},
        {"Home Server", facts(5, 2, 3790, server, 0x8000, L"Service Pack 2", x86),
         L"Microsoft Windows Home ServerStandard Edition Service Pack 2 (build 3790)"},
        {"Vista Ultimate 32-bit", facts(6, 0, 6002, workstation, 0x300, L"Service Pack 2", x86, 1),
         L"Microsoft Windows Vista Ultimate Edition Service Pack 2 (build 6002), 32-bit"},
        {"Vista Home Premium 64-bit", facts(6, 0, 6002, workstation, 0x300, L"Service Pack 2", x64, 3),
         L"Microsoft Windows Vista Home Premium Edition Service Pack 2 (build 6002), 64-bit"},
        {"Server 2008 Datacenter", facts(6, 0, 6002, server, 0x80, L"Service Pack 2", x64, 8),
         L"Microsoft Windows Server 2008 Datacenter Edition Service Pack 2 (build 6002), 64-bit"},
        {"Server 2008 Itanium: no bitness", facts(6, 0, 6002, server, 0x2, L"Service Pack 2", itanium, 15),
         L"Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems Service Pack 2 (build 6002)"},
        {"7 Professional 64-bit", facts(6, 1, 7601, workstation, 0x100, L"Service Pack 1", x64, 48),
         L"Microsoft Windows 7 Professional Service Pack 1 (build 7601), 64-bit"},
        {"7 Home Basic 32-bit", facts(6, 1, 7600, workstation, 0x300, L"", x86, 2),
         L"Microsoft Windows 7 Home Basic Edition (build 7600), 32-bit"},
        {"Server 2008 R2 Standard", facts(6, 1, 7601, server, 0x110, L"Service Pack 1", x64, 7),
         L"Microsoft Windows Server 2008 R2 Standard Edition Service Pack 1 (build 7601), 64-bit"},
        {"Server 2008 R2 Itanium: no bitness", facts(6, 1, 7601, server, 0x2, L"", itanium, 15),
         L"Microsoft Windows Server 2008 R2 Enterprise Edition for Itanium-based Systems (build 7601)"},
        {"unknown edition, no service pack: two blanks", facts(6, 1, 7601, workstation, 0, L"", x64, 101),
         L"Microsoft Windows 7  (build 7601), 64-bit"},
        {"unknown edition with service pack: two blanks", facts(6, 1, 7601, workstation, 0, L"Service Pack 1", x64, 0),
         L"Microsoft Windows 7  Service Pack 1 (build 7601), 64-bit"},
        {"6.x beyond 6.2: edition only", facts(6, 4, 9841, workstation, 0, L"", x64, 48),
         L"Microsoft Professional (build 9841), 64-bit"},
        {"8", reported_as_6_2(6, 2, 9200, workstation, 48), L"Microsoft Windows 8 Professional (build 9200), 64-bit"},
        {"Server 2012", reported_as_6_2(6, 2, 9200, server, 7),
         L"Microsoft Windows Server 2012 Standard Edition (build 9200), 64-bit"},
        {"8.1 32-bit", reported_as_6_2(6, 3, 9600, workstation, 48, x86),
         L"Microsoft Windows 8.1 Professional (build 9600), 32-bit"},
        {"Server 2012 R2", reported_as_6_2(6, 3, 9600, server, 8),
         L"Microsoft Windows Server 2012 R2 Datacenter Edition (build 9600), 64-bit"},
        {"10 build 19045", reported_as_6_2(10, 0, 19045, workstation, 48),
         L"Microsoft Windows 10 Professional (build 19045), 64-bit"},
        {"10 last build", reported_as_6_2(10, 0, 21999, workstation, 4),
         L"Microsoft Windows 10 Enterprise Edition (build 21999), 64-bit"},
        {"11 first build", reported_as_6_2(10, 0, 22000, workstation, 48),
         L"Microsoft Windows 11 Professional (build 22000), 64-bit"},
        {"11 on ARM64: no bitness", reported_as_6_2(10, 0, 22631, workstation, 48, arm64),
         L"Microsoft Windows 11 Professional (build 22631)"},
        {"Server 2016", reported_as_6_2(10, 0, 14393, server, 7),
         L"Microsoft Windows Server 2016 Standard Edition (build 14393), 64-bit"},
        {"Server 2016 last build", reported_as_6_2(10, 0, 17676, server, 7),
         L"Microsoft Windows Server 2016 Standard Edition (build 17676), 64-bit"},
        {"Server 2019 first build", reported_as_6_2(10, 0, 17677, server, 7),
         L"Microsoft Windows Server 2019 Standard Edition (build 17677), 64-bit"},
        {"Server 2019", reported_as_6_2(10, 0, 17763, server, 8),
         L"Microsoft Windows Server 2019 Datacenter Edition (build 17763), 64-bit"},
        {"Server 2019 last build", reported_as_6_2(10, 0, 20347, server, 7),
         L"Microsoft Windows Server 2019 Standard Edition (build 20347), 64-bit"},
        {"Server 2022 first build", reported_as_6_2(10, 0, 20348, server, 7),
         L"Microsoft Windows Server 2022 Standard Edition (build 20348), 64-bit"},
        {"Server 2022 last build", reported_as_6_2(10, 0, 26099, server, 13),
         L"Microsoft Windows Server 2022 Standard Edition (core installation) (build 26099), 64-bit"},
        {"Server 2025", reported_as_6_2(10, 0, 26100, server, 8),
         L"Microsoft Windows Server 2025 Datacenter Edition (build 26100), 64-bit"},
        {"10.x workstation", reported_as_6_2(10, 1, 30000, workstation, 48),
         L"Microsoft UNKNOWN Professional (build 30000), 64-bit"},
        {"10.x server", reported_as_6_2(10, 2, 30000, server, 7),
         L"Microsoft UNKNOWN Standard Edition (build 30000), 64-bit"},
        {"kernel32 of another release", reported_as_6_2(11, 0, 30000, workstation, 48),
         L"Microsoft Professional (build 30000), 64-bit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(c.name, name_operating_system(c.facts).name);
    }
}

// Each product type shows its edition after the version text; unknown ones show nothing.
TEST(name_operating_system, editions)
{
    const struct {
        DWORD product_type;
        const wchar_t* edition;
    } cases[] = {
        {0, L""},
        {1, L"Ultimate Edition"},
        {2, L"Home Basic Edition"},
        {3, L"Home Premium Edition"},
        {4, L"Enterprise Edition"},
        {5, L""},
        {6, L"Business Edition"},
        {7, L"Standard Edition"},
        {8, L"Datacenter Edition"},
        {9, L"Small Business Server"},
        {10, L"Enterprise Edition"},
        {11, L"Starter Edition"},
        {12, L"Datacenter Edition (core installation)"},
        {13, L"Standard Edition (core installation)"},
        {14, L"Enterprise Edition (core installation)"},
        {15, L"Enterprise Edition for Itanium-based Systems"},
        {16, L""},
        {17, L"Web Server Edition"},
        {18, L"Cluster Server Edition"},
        {19, L""},
        {25, L"Small Business Server Premium Edition"},
        {48, L"Professional"},
        {49, L""},
        {0xABCDABCD, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.product_type);
        const operating_system_facts f = facts(6, 1, 7601, server, 0, L"", x86, c.product_type);
        EXPECT_EQ(std::wstring(L"Microsoft Windows Server 2008 R2 ") + c.edition + L" (build 7601), 32-bit",
                  name_operating_system(f).name);
    }
}

// From 6.2 on, the version numbers are replaced by kernel32.dll's product version; below, they stay.
TEST(name_operating_system, version_numbers)
{
    const struct {
        const char* scenario;
        operating_system_facts facts;
        DWORD major, minor, build;
    } cases[] = {
        {"10 reported as 6.2", reported_as_6_2(10, 0, 19045, workstation, 48), 10, 0, 19045},
        {"8.1 reported as 6.2", reported_as_6_2(6, 3, 9600, workstation, 48), 6, 3, 9600},
        {"7 stays", facts(6, 1, 7601, workstation, 0, L"", x64, 48), 6, 1, 7601},
        {"XP stays", facts(5, 1, 2600, workstation, 0, L"", x86), 5, 1, 2600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto naming = name_operating_system(c.facts);
        EXPECT_EQ(c.major, naming.major_version);
        EXPECT_EQ(c.minor, naming.minor_version);
        EXPECT_EQ(c.build, naming.build_number);
    }
}

// Systems that are not Windows NT 5.0 or later get no name.
TEST(name_operating_system, no_name_before_windows_2000)
{
    operating_system_facts nt4 = facts(4, 0, 1381, workstation, 0, L"Service Pack 6", x86);
    operating_system_facts windows_98 = facts(4, 10, 2222, 0, 0, L"", x86);
    windows_98.platform_id = VER_PLATFORM_WIN32_WINDOWS;
    operating_system_facts odd_platform = facts(6, 1, 7601, workstation, 0, L"", x86, 48);
    odd_platform.platform_id = 3;
    for (const auto* f : {&nt4, &windows_98, &odd_platform}) {
        SCOPED_TRACE(f->major_version * 100 + f->minor_version);
        EXPECT_EQ(L"", name_operating_system(*f).name);
    }
}

// The running Windows fills the record: a named Windows NT with the native architecture.
TEST(operating_system, get_fills_the_record)
{
    const operating_system os = operating_system::get();
    EXPECT_EQ(sizeof(OSVERSIONINFOEXW), os.version_info.dwOSVersionInfoSize);
    EXPECT_EQ(284u, os.version_info.dwOSVersionInfoSize);
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), os.version_info.dwPlatformId);
    EXPECT_EQ(0u, os.name.rfind(L"Microsoft Windows ", 0)) << test_support::to_utf8(os.name);
    const std::wstring build = L"(build " + std::to_wstring(os.version_info.dwBuildNumber) + L")";
    EXPECT_NE(std::wstring::npos, os.name.find(build)) << test_support::to_utf8(os.name);
    EXPECT_NE(0u, os.system_info.dwNumberOfProcessors);
}

// A 64-bit build runs natively on 64-bit Windows; a 32-bit build under WOW64 would answer false.
TEST(operating_system, bitness)
{
    EXPECT_TRUE(varnox::windows::is_64bit_os());
    EXPECT_EQ(sizeof(void*) == 8, varnox::windows::is_64bit_process());
}

// A default record is all zeros; copy and assignment take all four fields, self-assignment keeps them.
TEST(operating_system, copy_and_assignment)
{
    const operating_system empty;
    const OSVERSIONINFOEXW zero_version = {};
    const SYSTEM_INFO zero_system = {};
    EXPECT_EQ(0, std::memcmp(&zero_version, &empty.version_info, sizeof(zero_version)));
    EXPECT_EQ(0, std::memcmp(&zero_system, &empty.system_info, sizeof(zero_system)));
    EXPECT_EQ(0u, empty.product_type);
    EXPECT_EQ(L"", empty.name);

    const operating_system os = operating_system::get();
    operating_system assigned;
    assigned = os;
    operating_system copied;
    copied.copy(os);
    const operating_system constructed(os);
    for (const operating_system* other :
         std::initializer_list<const operating_system*>{&assigned, &copied, &constructed}) {
        EXPECT_EQ(0, std::memcmp(&os.version_info, &other->version_info, sizeof(os.version_info)));
        EXPECT_EQ(0, std::memcmp(&os.system_info, &other->system_info, sizeof(os.system_info)));
        EXPECT_EQ(os.product_type, other->product_type);
        EXPECT_EQ(os.name, other->name);
    }
    operating_system& self = assigned;
    assigned = self;
    EXPECT_EQ(os.name, assigned.name);
}
