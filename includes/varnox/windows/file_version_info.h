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

    // Throws file_version_info_exception for an empty path, for a file
    // without a readable version resource, and when the resource cannot be
    // loaded after its size was read (no memory, the file changed meanwhile).
    static file_version_info get_file_version_info(const std::wstring& path);

    // Loads the version resource of path into block, whose size the size
    // query gave; GetFileVersionInfoW in the form above. The last error tells
    // why a load failed. Tests change the file between the query and the load.
    using resource_loader = bool (*)(const std::wstring& path, std::uint32_t size, void* block);
    static file_version_info get_file_version_info(const std::wstring& path, resource_loader load);
};

} // namespace windows
} // namespace varnox
