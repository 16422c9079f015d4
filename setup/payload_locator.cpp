#include "payload_locator.h"

#include <cstring>
#include <limits>
#include <vector>

#include "varnox/common/archive_file.h"

namespace install {

std::optional<std::int32_t> find_payload_offset(const std::wstring& executable_path)
{
    // Others may keep reading and writing the file while it is scanned.
    const std::shared_ptr<varnox::archive::archive_file> file = varnox::archive::archive_file::open(executable_path);
    if (!file)
        return std::nullopt;

    // One pass in large blocks; a block is a multiple of 4, so groups of four
    // never straddle two reads.
    constexpr std::size_t block_size = 256 * 1024;
    std::vector<unsigned char> block(block_size);
    std::uint64_t offset = 0;
    for (;;) {
        const std::size_t read = file->read_at(offset, block.data(), block_size);
        if (read == 0)
            return std::nullopt;
        // A ragged end of fewer than four bytes is never a group.
        const std::size_t whole_groups = read - read % 4;
        for (std::size_t at = 0; at < whole_groups; at += 4, offset += 4) {
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
