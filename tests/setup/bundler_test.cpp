#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "job_choice.h"
#include "payload_locator.h"
#include "test_support.h"
#include "varnox/common/archive.h"

using test_support::file_exists;
using test_support::read_file;
using test_support::temp_folder;
using test_support::to_utf8;
using test_support::windows_path_of_unix;
using test_support::write_file;

namespace {

std::wstring fixture(const std::string& name)
{
    return windows_path_of_unix(std::string(VARNOX_ARCHIVE_FIXTURES) + "/" + name);
}

// A stand-in image of the given size with local-header signatures at the
// given offsets.
std::string image_of(std::size_t size, std::initializer_list<std::size_t> signatures = {})
{
    std::string image(size, '\x90');
    image.replace(0, 2, "MZ");
    for (std::size_t at : signatures)
        image.replace(at, 4, std::string("PK\3\4"));
    return image;
}

DWORD make_setup(const std::wstring& arguments)
{
    const auto result =
        test_support::run_process(L"\"" + windows_path_of_unix(VARNOX_MAKE_SETUP) + L"\" " + arguments, 60000);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    return result.exit_code;
}

std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

} // namespace

// The payload starts at the first 4-byte-aligned offset beyond 1 MiB that is
// not before the image's end; zero bytes fill the gap, the image is unchanged,
// and install.exe's own scan and reader find the members.
TEST(make_setup, pads_to_the_first_aligned_offset_beyond_the_image_and_1_MiB)
{
    const struct {
        const char* scenario;
        std::size_t image_size;
        std::size_t expected_offset;
    } cases[] = {
        {"small image", 5000, 0x100004},
        {"image of exactly 1 MiB", 0x100000, 0x100004},
        {"image ending at 0x100004", 0x100004, 0x100004},
        {"aligned image beyond 1 MiB", 0x180000, 0x180000},
        {"unaligned image beyond 1 MiB", 0x180001, 0x180004},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        temp_folder folder;
        const std::string image = image_of(c.image_size);
        write_file(folder.file(L"install.exe"), image);
        write_file(folder.file(L"upgrade.cmd"), "@echo off\r\n");
        const std::wstring output = folder.file(L"setup.exe");
        ASSERT_EQ(0u, make_setup(L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " +
                                 quoted(output) + L" --member " + quoted(folder.file(L"upgrade.cmd"))));

        const std::string combined = read_file(output);
        ASSERT_GT(combined.size(), c.expected_offset);
        EXPECT_EQ(image, combined.substr(0, image.size()));
        EXPECT_EQ(std::string(c.expected_offset - image.size(), '\0'),
                  combined.substr(image.size(), c.expected_offset - image.size()));
        EXPECT_EQ("PK\3\4", combined.substr(c.expected_offset, 4));

        const auto offset = install::find_payload_offset(output);
        ASSERT_TRUE(offset);
        EXPECT_EQ(c.expected_offset, static_cast<std::size_t>(*offset));
        const auto archive = varnox::archive::open_unzip(output, static_cast<std::uint32_t>(*offset));
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->extract("upgrade.cmd", to_utf8(folder.file(L"check.cmd"))));
        EXPECT_EQ("@echo off\r\n", read_file(folder.file(L"check.cmd")));
    }
}

// An image that already holds an aligned signature beyond 1 MiB is refused
// and no setup file is left; signatures the scan ignores are accepted.
TEST(make_setup, refuses_an_image_that_holds_its_own_signature)
{
    const struct {
        const char* scenario;
        std::initializer_list<std::size_t> signatures;
        DWORD expected_exit;
    } cases[] = {
        {"aligned signature beyond 1 MiB", {0x100008}, 1},
        {"aligned signature at the image's last group", {0x17FFFC}, 1},
        {"signature exactly at 1 MiB", {0x100000}, 0},
        {"unaligned signature beyond 1 MiB", {0x100005}, 0},
        {"signatures below 1 MiB", {0, 0x400}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        temp_folder folder;
        write_file(folder.file(L"install.exe"), image_of(0x180000, c.signatures));
        const std::wstring output = folder.file(L"setup.exe");
        EXPECT_EQ(c.expected_exit, make_setup(L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " +
                                              quoted(output) + L" --zip " + quoted(fixture("python.zip"))));
        EXPECT_EQ(c.expected_exit == 0, file_exists(output));
    }
}

// A ready zip and a folder of members give setups whose members install.exe
// finds under their stored names, sub-folders included.
TEST(make_setup, takes_a_ready_zip_or_a_folder)
{
    const struct {
        const char* scenario;
        std::wstring source;
    } cases[] = {
        {"Info-ZIP archive", L"--zip " + quoted(fixture("infozip_streamed.zip"))},
        {"folder of members", L"--folder " + quoted(fixture("tree"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        temp_folder folder;
        write_file(folder.file(L"install.exe"), image_of(4096));
        const std::wstring output = folder.file(L"setup.exe");
        ASSERT_EQ(0u, make_setup(L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " +
                                 quoted(output) + L" " + c.source));
        const auto archive = varnox::archive::open_unzip(output, 0x100004);
        ASSERT_TRUE(archive);
        EXPECT_EQ(install::job::driver_package, install::choose_job(*archive));
        ASSERT_TRUE(archive->extract("sub/deeper/LEAF.TXT", to_utf8(folder.file(L"leaf.txt"))));
        std::wstring tree_leaf = fixture("tree/sub/deeper/LEAF.TXT");
        EXPECT_EQ(read_file(tree_leaf), read_file(folder.file(L"leaf.txt")));
    }
}

// Payloads install.exe could not use are refused: an archive without a local
// header, a member name that would leave the target folder.
TEST(make_setup, refuses_payloads_install_exe_cannot_use)
{
    temp_folder folder;
    write_file(folder.file(L"install.exe"), image_of(4096));
    write_file(folder.file(L"x.txt"), "x");
    const std::wstring output = folder.file(L"setup.exe");
    const std::wstring common = L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " + quoted(output);
    EXPECT_EQ(1u, make_setup(common + L" --zip " + quoted(fixture("python_empty.zip"))));
    EXPECT_FALSE(file_exists(output));
    EXPECT_EQ(1u, make_setup(common + L" --member \"../x.txt=" + folder.file(L"x.txt") + L"\""));
    EXPECT_FALSE(file_exists(output));
    EXPECT_EQ(2u, make_setup(common));
}

// The setup made at build time by varnox_make_setup from install.exe and a
// member list is found, opened and its job chosen as install.exe will.
TEST(make_setup, build_time_setup_is_usable)
{
    const std::wstring setup = windows_path_of_unix(VARNOX_BUILT_SETUP);
    const auto offset = install::find_payload_offset(setup);
    ASSERT_TRUE(offset);
    const auto archive = varnox::archive::open_unzip(setup, static_cast<std::uint32_t>(*offset));
    ASSERT_TRUE(archive);
    EXPECT_EQ(install::job::upgrade, install::choose_job(*archive));
    EXPECT_TRUE(archive->contains("notes.txt"));
}
