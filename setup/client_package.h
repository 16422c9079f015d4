#pragma once

// Which client package a Windows gets: a pure function of the Windows
// version and the processor architecture, shared by the run and by the
// bundler's check of a setup file.

#include <cstdint>

namespace install {

// Fixed message numbers of the log entries of a failed package extraction.
constexpr int log_line_extract_client_x64 = 237;
constexpr int log_line_extract_client_x86 = 244;
constexpr int log_line_extract_client_x64_2k3 = 253;
constexpr int log_line_extract_client_x86_2k3 = 260;

// Processor architectures (SYSTEM_INFO's wProcessorArchitecture) of 64-bit
// Windows.
constexpr std::uint16_t architecture_x86 = 0;
constexpr std::uint16_t architecture_itanium = 6;
constexpr std::uint16_t architecture_x64 = 9;

// A client package in the payload and the log entry of its failed extraction.
struct client_package {
    const char* member;
    int log_line;
    const wchar_t* extraction_failed;
};

// The package for Windows major.minor on a processor of the given native
// architecture: "client_x64.msi" or "client_x86.msi" from 6.0 on,
// "client_x64_2k3.msi" or "client_x86_2k3.msi" on 5.2, by whether Windows is
// 64-bit (x64 or Itanium); null before 5.2.
const client_package* client_package_for(std::uint32_t major, std::uint32_t minor, std::uint16_t architecture);

} // namespace install
