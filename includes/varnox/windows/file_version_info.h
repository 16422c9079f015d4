#pragma once

#include <cstdint>
#include <string>

#include "varnox/common/exception.h"

namespace varnox {
namespace windows {

class file_version_info_exception : public varnox::exception_base {};

// The version resource of an executable file: its fixed numbers, the first
// entry of its translation table and five of its strings. Whatever cannot be
// read stays 0 or empty.
struct file_version_info {
    std::uint32_t file_version_ms = 0;
    std::uint32_t file_version_ls = 0;
    std::uint32_t product_version_ms = 0;
    std::uint32_t product_version_ls = 0;
    std::uint32_t file_flags_mask = 0;
    std::uint32_t file_flags = 0;
    std::uint32_t file_os = 0;
    std::uint32_t file_type = 0;
    std::uint32_t file_subtype = 0;
    std::uint32_t file_date_ms = 0;
    std::uint32_t file_date_ls = 0;
    std::uint16_t language = 0;
    std::uint16_t code_page = 0;
    std::wstring company_name;
    std::wstring product_name;
    std::wstring internal_name;
    std::wstring original_filename;
    std::wstring legal_copyright;

    // Throws file_version_info_exception for an empty path and for a file
    // without a readable version resource.
    static file_version_info get_file_version_info(const std::wstring& path);
};

} // namespace windows
} // namespace varnox
