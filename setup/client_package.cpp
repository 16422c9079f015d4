#include "client_package.h"

namespace install {

namespace {

constexpr client_package client_x64 = {"client_x64.msi", log_line_extract_client_x64,
                                       L"Can't extract client_x64.msi file!"};
constexpr client_package client_x86 = {"client_x86.msi", log_line_extract_client_x86,
                                       L"Can't extract client_x86.msi file!"};
constexpr client_package client_x64_2k3 = {"client_x64_2k3.msi", log_line_extract_client_x64_2k3,
                                           L"Can't extract client_x64_2k3.msi file!"};
constexpr client_package client_x86_2k3 = {"client_x86_2k3.msi", log_line_extract_client_x86_2k3,
                                           L"Can't extract client_x86_2k3.msi file!"};

} // namespace

const client_package* client_package_for(std::uint32_t major, std::uint32_t minor, std::uint16_t architecture)
{
    const bool is_64bit_os = architecture == architecture_x64 || architecture == architecture_itanium;
    if (major >= 6)
        return is_64bit_os ? &client_x64 : &client_x86;
    if (major == 5 && minor >= 2)
        return is_64bit_os ? &client_x64_2k3 : &client_x86_2k3;
    return nullptr;
}

} // namespace install
