#include "pe_image.h"

#include <cstring>
#include <vector>

namespace bundler {

namespace {

constexpr std::uint16_t pe32_magic = 0x10B;
constexpr std::uint16_t pe32_plus_magic = 0x20B;
constexpr unsigned security_directory = 4;
constexpr std::uint16_t certificate_revision_2 = 0x0200;
constexpr std::uint16_t certificate_type_pkcs7 = 0x0002;

struct reader {
    const varnox::archive::archive_file& file;
    std::uint64_t size;

    bool bytes(std::uint64_t offset, void* out, std::size_t count) const
    {
        return offset <= size && count <= size - offset && file.read_at(offset, out, count) == count;
    }
    bool u16(std::uint64_t offset, std::uint16_t& value) const
    {
        unsigned char b[2];
        if (!bytes(offset, b, 2))
            return false;
        value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& value) const
    {
        unsigned char b[4];
        if (!bytes(offset, b, 4))
            return false;
        value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }
};

} // namespace

pe_facts read_pe_facts(const varnox::archive::archive_file& file)
{
    pe_facts facts;
    const reader in{file, file.size()};
    char mz[2];
    std::uint32_t pe_offset = 0;
    char signature[4];
    if (!in.bytes(0, mz, 2) || std::memcmp(mz, "MZ", 2) != 0 || !in.u32(0x3C, pe_offset) ||
        !in.bytes(pe_offset, signature, 4) || std::memcmp(signature, "PE\0\0", 4) != 0)
        return facts;
    const std::uint64_t coff = static_cast<std::uint64_t>(pe_offset) + 4;
    const std::uint64_t optional_header = coff + 20;
    std::uint16_t optional_size = 0;
    std::uint16_t magic = 0;
    if (!in.u16(coff + 16, optional_size) || !in.u16(optional_header, magic))
        return facts;
    if (magic != pe32_magic && magic != pe32_plus_magic)
        return facts;
    facts.is_pe = true;
    const std::uint64_t directories = magic == pe32_magic ? 96 : 112;
    std::uint32_t directory_count = 0;
    if (!in.u32(optional_header + directories - 4, directory_count) || directory_count <= security_directory ||
        directories + 8 * (security_directory + 1) > optional_size)
        return facts;
    std::uint32_t table_offset = 0;
    std::uint32_t table_size = 0;
    const std::uint64_t entry = optional_header + directories + 8 * security_directory;
    if (!in.u32(entry, table_offset) || !in.u32(entry + 4, table_size))
        return facts;
    if (table_offset == 0 && table_size == 0)
        return facts;
    facts.certificates = certificate_table{table_offset, table_size};
    if (table_size < 8 || table_offset > in.size || table_size > in.size - table_offset) {
        facts.problem = "the certificate table the image names lies outside the file";
        return facts;
    }
    std::uint32_t length = 0;
    std::uint16_t revision = 0;
    std::uint16_t type = 0;
    if (!in.u32(table_offset, length) || !in.u16(table_offset + 4, revision) || !in.u16(table_offset + 6, type) ||
        length < 8 || length > table_size || revision != certificate_revision_2 || type != certificate_type_pkcs7)
        facts.problem = "the certificate table holds no Authenticode signature (PKCS #7) in the usual form";
    return facts;
}

} // namespace bundler
