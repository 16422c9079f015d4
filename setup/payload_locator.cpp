#include "payload_locator.h"

#include <windows.h>

#include <cstring>
#include <limits>
#include <vector>

#include "varnox/windows/handle.h"

namespace install {

std::optional<std::int32_t> find_payload_offset(const std::wstring& executable_path)
{
    // Others may keep reading and writing the file while it is scanned.
    varnox::windows::unique_hfile file(::CreateFileW(
        executable_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return std::nullopt;

    // One pass in large blocks; a block is a multiple of 4, so groups of four
    // never straddle two reads.
    constexpr DWORD block_size = 256 * 1024;
    std::vector<unsigned char> block(block_size);
    std::uint64_t offset = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), block.data(), block_size, &read, nullptr) || read == 0)
            return std::nullopt;
        // A ragged end of fewer than four bytes is never a group.
        const DWORD whole_groups = read - read % 4;
        for (DWORD at = 0; at < whole_groups; at += 4, offset += 4) {
            std::uint32_t value;
            std::memcpy(&value, &block[at], 4);
            if (value == local_header_signature && offset > payload_offset_floor) {
                if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                    return std::nullopt;
                return static_cast<std::int32_t>(offset);
            }
        }
        if (whole_groups != read || read < block_size)
            return std::nullopt;
    }
}

} // namespace install
