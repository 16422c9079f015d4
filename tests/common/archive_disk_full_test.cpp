// Run by archive_disk_full_test.sh, which maps drive X: of a prefix of its own
// to a 1 MiB volume.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "archive_test_support.h"
#include "test_support.h"
#include "varnox/common/archive.h"

using archive_test::captured_log;
using archive_test::fixture;
using archive_test::narrow;
using test_support::file_exists;
using test_support::read_file;

// A member larger than the volume stops the extraction cleanly when the volume
// fills: the operation returns false, its partial file is removed, the log
// says why with the Win32 error, and the files written before it stay.
TEST(archive_disk_full, extraction_stops_cleanly_when_the_volume_fills)
{
    ULARGE_INTEGER free_bytes{}, total_bytes{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(L"X:\\", &free_bytes, &total_bytes, nullptr))
        << test_support::to_utf8(test_support::error_text(::GetLastError()));
    ASSERT_LE(total_bytes.QuadPart, 1u << 20) << "X: is not the small volume";

    captured_log log;
    const auto archive = varnox::archive::open_unzip(fixture("larger_than_the_volume.zip"), 0);
    ASSERT_TRUE(archive);

    std::vector<std::wstring> written;
    EXPECT_FALSE(archive->extract_all(L"X:\\all", written));
    EXPECT_EQ((std::vector<std::wstring>{L"X:\\all\\small.txt", L"X:\\all\\big.bin"}), written);
    EXPECT_EQ(20u * 19u, read_file(L"X:\\all\\small.txt").size());
    EXPECT_FALSE(file_exists(L"X:\\all\\big.bin"));
    EXPECT_TRUE(log.has("archive(369) - Could not write X:\\all\\big.bin: ")) << log.text();
    EXPECT_TRUE(log.has(" (0x00000070) \r\n")) << log.text();
    EXPECT_TRUE(log.has("archive(396) - mz_zip_reader_extract_to_file() failed! \r\n")) << log.text();

    EXPECT_FALSE(archive->extract("big.bin", narrow(L"X:\\single.bin")));
    EXPECT_FALSE(file_exists(L"X:\\single.bin"));
    EXPECT_TRUE(log.has("archive(368) - mz_zip_reader_extract_file_to_file() failed! \r\n")) << log.text();

    // The partial files' space is free again.
    ULARGE_INTEGER free_after{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(L"X:\\", &free_after, nullptr, nullptr));
    EXPECT_GE(free_after.QuadPart + 64 * 1024, free_bytes.QuadPart);
}
