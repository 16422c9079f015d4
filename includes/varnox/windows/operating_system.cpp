#include "varnox/windows/operating_system.h"

#include <windows.h>

#include <cwchar>

#include "varnox/common/log.h"
#include "varnox/windows/file_version_info.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/system_function.h"

namespace varnox {
namespace windows {

namespace {

constexpr BYTE workstation = 1; // VER_NT_WORKSTATION
constexpr WORD architecture_x86 = 0;
constexpr WORD architecture_itanium = 6;
constexpr WORD architecture_x64 = 9;

constexpr WORD suite_enterprise = 0x0002;
constexpr WORD suite_datacenter = 0x0080;
constexpr WORD suite_personal = 0x0200;
constexpr WORD suite_blade = 0x0400;
constexpr WORD suite_storage_server = 0x2000;
constexpr WORD suite_compute_server = 0x4000;
constexpr WORD suite_home_server = 0x8000;

constexpr int metric_server_r2 = 89; // SM_SERVERR2

using get_native_system_info_function = void(WINAPI*)(LPSYSTEM_INFO);
using get_product_info_function = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using is_wow64_process_function = BOOL(WINAPI*)(HANDLE, PBOOL);

SYSTEM_INFO native_system_info()
{
    SYSTEM_INFO info = {};
    const auto get_native_system_info =
        find_function<get_native_system_info_function>(L"kernel32.dll", "GetNativeSystemInfo");
    if (get_native_system_info)
        get_native_system_info(&info);
    else
        ::GetSystemInfo(&info);
    return info;
}

const wchar_t* edition_of_product_type(DWORD product_type)
{
    switch (product_type) {
    case 1: return L"Ultimate Edition";
    case 2: return L"Home Basic Edition";
    case 3: return L"Home Premium Edition";
    case 4:
    case 10: return L"Enterprise Edition";
    case 6: return L"Business Edition";
    case 7: return L"Standard Edition";
    case 8: return L"Datacenter Edition";
    case 9: return L"Small Business Server";
    case 11: return L"Starter Edition";
    case 12: return L"Datacenter Edition (core installation)";
    case 13: return L"Standard Edition (core installation)";
    case 14: return L"Enterprise Edition (core installation)";
    case 15: return L"Enterprise Edition for Itanium-based Systems";
    case 17: return L"Web Server Edition";
    case 18: return L"Cluster Server Edition";
    case 25: return L"Small Business Server Premium Edition";
    case 48: return L"Professional";
    default: return L"";
    }
}

// Releases from Windows 8 on, by kernel32.dll's product version.
const wchar_t* release_from_windows_8(DWORD major, DWORD minor, DWORD build, bool is_workstation)
{
    if (major == 6 && minor == 2)
        return is_workstation ? L"Windows 8 " : L"Windows Server 2012 ";
    if (major == 6 && minor == 3)
        return is_workstation ? L"Windows 8.1 " : L"Windows Server 2012 R2 ";
    if (major == 10 && minor == 0) {
        if (is_workstation)
            return build < 22000 ? L"Windows 10 " : L"Windows 11 ";
        if (build < 17677)
            return L"Windows Server 2016 ";
        if (build < 20348)
            return L"Windows Server 2019 ";
        if (build < 26100)
            return L"Windows Server 2022 ";
        return L"Windows Server 2025 ";
    }
    if (major == 10)
        return L"UNKNOWN ";
    return L"";
}

std::wstring release_5_2(const operating_system_facts& facts, bool is_workstation)
{
    std::wstring text;
    if (facts.server_r2 != 0)
        text = L"Windows Server 2003 R2, ";
    else if (facts.suite_mask & suite_storage_server)
        text = L"Windows Storage Server 2003";
    else if (facts.suite_mask & suite_home_server)
        text = L"Windows Home Server";
    else if (is_workstation && facts.processor_architecture == architecture_x64)
        text = L"Windows XP Professional x64 Edition";
    else
        text = L"Windows Server 2003, ";

    if (is_workstation)
        return text;
    const WORD suite = facts.suite_mask;
    switch (facts.processor_architecture) {
    case architecture_itanium:
        if (suite & suite_datacenter)
            text += L"Datacenter Edition for Itanium-based Systems";
        else if (suite & suite_enterprise)
            text += L"Enterprise Edition for Itanium-based Systems";
        break;
    case architecture_x64:
        if (suite & suite_datacenter)
            text += L"Datacenter x64 Edition";
        else if (suite & suite_enterprise)
            text += L"Enterprise x64 Edition";
        else
            text += L"Standard x64 Edition";
        break;
    default:
        if (suite & suite_compute_server)
            text += L"Compute Cluster Edition";
        else if (suite & suite_datacenter)
            text += L"Datacenter Edition";
        else if (suite & suite_enterprise)
            text += L"Enterprise Edition";
        else if (suite & suite_blade)
            text += L"Web Edition";
        else
            text += L"Standard Edition";
        break;
    }
    return text;
}

} // namespace

operating_system_naming name_operating_system(const operating_system_facts& facts)
{
    operating_system_naming naming;
    naming.major_version = facts.major_version;
    naming.minor_version = facts.minor_version;
    naming.build_number = facts.build_number;
    if (facts.platform_id != VER_PLATFORM_WIN32_NT || facts.major_version <= 4)
        return naming;

    const bool is_workstation = facts.product_type_byte == workstation;
    std::wstring name = L"Microsoft ";
    if (facts.major_version == 6) {
        switch (facts.minor_version) {
        case 0:
            name += is_workstation ? L"Windows Vista " : L"Windows Server 2008 ";
            break;
        case 1:
            name += is_workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
            break;
        case 2:
            naming.major_version = HIWORD(facts.kernel32_product_version_ms);
            naming.minor_version = LOWORD(facts.kernel32_product_version_ms);
            naming.build_number = HIWORD(facts.kernel32_product_version_ls);
            name += release_from_windows_8(naming.major_version, naming.minor_version, naming.build_number,
                                           is_workstation);
            break;
        default:
            break;
        }
        name += edition_of_product_type(facts.product_type);
    } else if (facts.major_version == 5 && facts.minor_version == 2) {
        name += release_5_2(facts, is_workstation);
    } else if (facts.major_version == 5 && facts.minor_version == 1) {
        name += L"Windows XP ";
        name += (facts.suite_mask & suite_personal) ? L"Home Edition" : L"Professional";
    } else if (facts.major_version == 5 && facts.minor_version == 0) {
        name += L"Windows 2000 ";
        if (is_workstation)
            name += L"Professional";
        else if (facts.suite_mask & suite_datacenter)
            name += L"Datacenter Server";
        else if (facts.suite_mask & suite_enterprise)
            name += L"Advanced Server";
        else
            name += L"Server";
    }

    if (!facts.service_pack.empty())
        name += L" " + facts.service_pack;
    name = format_wstring(L"%s (build %d)", name.c_str(), static_cast<int>(naming.build_number));
    if (naming.major_version >= 6) {
        if (facts.processor_architecture == architecture_x64)
            name += L", 64-bit";
        else if (facts.processor_architecture == architecture_x86)
            name += L", 32-bit";
    }
    naming.name = name;
    return naming;
}

operating_system::operating_system() : version_info(), system_info(), product_type(0) {}

operating_system::operating_system(const operating_system& other)
    : version_info(other.version_info), system_info(other.system_info), product_type(other.product_type),
      name(other.name)
{
}

void operating_system::copy(const operating_system& other)
{
    version_info = other.version_info;
    system_info = other.system_info;
    product_type = other.product_type;
    name = other.name;
}

operating_system& operating_system::operator=(const operating_system& other)
{
    if (&other != this)
        copy(other);
    return *this;
}

operating_system operating_system::get()
{
    operating_system record;
    record.version_info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&record.version_info));
    record.system_info = native_system_info();

    const auto get_product_info = find_function<get_product_info_function>(L"kernel32.dll", "GetProductInfo");
    if (get_product_info) {
        DWORD product_type = 0;
        get_product_info(record.version_info.dwMajorVersion, record.version_info.dwMinorVersion, 0, 0,
                         &product_type);
        record.product_type = product_type;
    }

    operating_system_facts facts;
    facts.platform_id = record.version_info.dwPlatformId;
    facts.major_version = record.version_info.dwMajorVersion;
    facts.minor_version = record.version_info.dwMinorVersion;
    facts.build_number = record.version_info.dwBuildNumber;
    if (facts.platform_id != VER_PLATFORM_WIN32_NT || facts.major_version <= 4)
        return record;

    facts.product_type_byte = record.version_info.wProductType;
    facts.suite_mask = record.version_info.wSuiteMask;
    facts.service_pack = record.version_info.szCSDVersion;
    facts.processor_architecture = record.system_info.wProcessorArchitecture;
    facts.product_type = record.product_type;
    facts.server_r2 = ::GetSystemMetrics(metric_server_r2);
    if (facts.major_version == 6 && facts.minor_version == 2) {
        const file_version_info kernel32 =
            file_version_info::get_file_version_info(get_system_folder() + L"\\kernel32.dll");
        facts.kernel32_product_version_ms = kernel32.product_version_ms;
        facts.kernel32_product_version_ls = kernel32.product_version_ls;
    }

    const operating_system_naming naming = name_operating_system(facts);
    record.version_info.dwMajorVersion = naming.major_version;
    record.version_info.dwMinorVersion = naming.minor_version;
    record.version_info.dwBuildNumber = naming.build_number;
    record.name = naming.name;
    return record;
}

bool is_64bit_os()
{
    const WORD architecture = native_system_info().wProcessorArchitecture;
    return architecture == architecture_x64 || architecture == architecture_itanium;
}

bool is_64bit_process()
{
    if (!is_64bit_os())
        return false;
    const auto is_wow64_process = find_function<is_wow64_process_function>(L"kernel32", "IsWow64Process");
    if (!is_wow64_process)
        return true;
    BOOL wow64 = FALSE;
    if (!is_wow64_process(::GetCurrentProcess(), &wow64))
        return true;
    return wow64 == FALSE;
}

} // namespace windows
} // namespace varnox
