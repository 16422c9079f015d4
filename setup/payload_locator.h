#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace install {

// The zip local file header signature, "PK\3\4" read little-endian.
constexpr std::uint32_t local_header_signature = 0x04034b50;
// Signatures at or below this offset belong to the executable image itself.
constexpr std::uint32_t payload_offset_floor = 0x100000;

// Finds the appended archive: the first 4-byte-aligned offset strictly beyond
// payload_offset_floor that holds the signature. Empty when there is none or
// the file cannot be read.
std::optional<std::int32_t> find_payload_offset(const std::wstring& executable_path);

} // namespace install
