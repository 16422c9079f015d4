#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace varnox {
namespace windows {

// The facts that the display name of a Windows release is built from.
struct operating_system_facts {
    DWORD platform_id = 0;
    DWORD major_version = 0;
    DWORD minor_version = 0;
    DWORD build_number = 0;
    BYTE product_type_byte = 0; // wProductType: 1 is a workstation
    WORD suite_mask = 0;
    std::wstring service_pack;
    WORD processor_architecture = 0; // native: 0 x86, 6 Itanium, 9 x64
    DWORD product_type = 0;          // what GetProductInfo reports
    int server_r2 = 0;               // GetSystemMetrics(SM_SERVERR2)
    // Only read where Windows reports 6.2, which every release from Windows 8
    // on reports to a program that its manifest does not declare supported.
    std::uint32_t kernel32_product_version_ms = 0;
    std::uint32_t kernel32_product_version_ls = 0;
};

// The display name and the version numbers that replace what Windows reported.
struct operating_system_naming {
    DWORD major_version = 0;
    DWORD minor_version = 0;
    DWORD build_number = 0;
    std::wstring name;
};

// Pure: the same facts always give the same name, so every release can be
// checked without running it.
operating_system_naming name_operating_system(const operating_system_facts& facts);

// What the running Windows is: version, edition, architecture and a readable name.
class operating_system {
public:
    operating_system();
    operating_system(const operating_system& other);

    virtual void copy(const operating_system& other);
    virtual operating_system& operator=(const operating_system& other);

    // Throws file_version_info_exception when kernel32.dll's version cannot be
    // read on a system that reports 6.2.
    static operating_system get();

    OSVERSIONINFOEXW version_info;
    SYSTEM_INFO system_info;
    std::uint32_t product_type;
    std::wstring name;
};

// True on x64 and Itanium Windows.
bool is_64bit_os();
// True for a 64-bit program on 64-bit Windows (not a WOW64 process).
bool is_64bit_process();

} // namespace windows
} // namespace varnox
