#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "payload_locator.h"
#include "test_support.h"

using install::find_payload_offset;
using test_support::temp_folder;
using test_support::write_file;

namespace {

const char signature[] = {'P', 'K', 3, 4};

// `size` bytes of filler with the signature written at each given offset.
std::string image_with_signatures(size_t size, std::initializer_list<size_t> offsets)
{
    std::string bytes(size, '\x90');
    for (size_t offset : offsets)
        std::memcpy(&bytes[offset], signature, 4);
    return bytes;
}

} // namespace

// Where the scan finds the archive, for files a reader can check by eye.
TEST(find_payload_offset, scan_rules)
{
    const struct {
        const char* scenario;
        size_t size;
        std::initializer_list<size_t> signatures;
        std::int32_t expected;  // -1: nothing found
    } cases[] = {
        {"no signature at all", 0x180000, {}, -1},
        {"signatures inside the image only", 0x180000, {0, 0x400, 0xFFFFC}, -1},
        {"exactly at 0x100000 is ignored", 0x180000, {0x100000}, -1},
        {"0x100004 is the first offset accepted", 0x180000, {0x100000, 0x100004}, 0x100004},
        {"unaligned beyond 1 MiB is never found", 0x180000, {0x100001, 0x100006, 0x10000B}, -1},
        {"the first of two aligned signatures wins", 0x180000, {0x120000, 0x110000}, 0x110000},
        {"a signature in the last whole group", 0x100010, {0x10000C}, 0x10000C},
        {"a ragged end holds no group", 0x100012, {0x10000E}, -1},
        {"a signature across a read block edge", 0x180000, {0x13FFFE}, -1},
        {"a signature right after a read block edge", 0x180000, {0x140000}, 0x140000},
        {"empty file", 0, {}, -1},
    };
    temp_folder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const std::wstring path = folder.file(L"setup.exe");
        write_file(path, image_with_signatures(c.size, c.signatures));
        const auto found = find_payload_offset(path);
        if (c.expected < 0) {
            EXPECT_FALSE(found.has_value()) << "found at 0x" << std::hex << *found;
        } else {
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(c.expected, *found);
        }
    }
}

// A missing file, or one locked against readers, has no payload.
TEST(find_payload_offset, unreadable_files_have_no_payload)
{
    temp_folder folder;
    EXPECT_FALSE(find_payload_offset(folder.file(L"missing.exe")).has_value());

    const std::wstring path = folder.file(L"locked.exe");
    write_file(path, image_with_signatures(0x180000, {0x100004}));
    HANDLE exclusive = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_FALSE(find_payload_offset(path).has_value());
    ::CloseHandle(exclusive);
    EXPECT_EQ(0x100004, find_payload_offset(path).value_or(-1));
}

// The scan shares the file: a writer may hold it open meanwhile.
TEST(find_payload_offset, reads_a_file_open_for_writing_elsewhere)
{
    temp_folder folder;
    const std::wstring path = folder.file(L"busy.exe");
    write_file(path, image_with_signatures(0x180000, {0x100008}));
    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(0x100008, find_payload_offset(path).value_or(-1));
    ::CloseHandle(writer);
}
