#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"
#include "varnox/windows/folder_removal.h"
#include "varnox/windows/handle.h"

using test_support::file_exists;
using test_support::read_file;
using test_support::temp_folder;
using test_support::to_utf8;
using test_support::write_file;
namespace windows = varnox::windows;

namespace {

// A tree like an unpacked payload: files at two depths and an empty folder.
void make_tree(const std::wstring& root)
{
    for (const wchar_t* folder : {L"", L"\\driver", L"\\driver\\amd64", L"\\empty"})
        ASSERT_TRUE(::CreateDirectoryW((root + folder).c_str(), nullptr));
    for (const wchar_t* file : {L"\\dpinst.exe", L"\\driver\\velmora.inf", L"\\driver\\amd64\\velmora.sys"})
        write_file(root + file, "payload");
}

} // namespace

// Only a real folder is gone into: a folder that is a link (a junction, a
// directory symbolic link, any reparse point) is removed as a link, so what
// it leads to stays. Wine cannot make Windows links, so this is the decision
// as a table of the attributes that Windows lists.
TEST(folder_removal, goes_only_into_real_folders)
{
    const struct {
        const char* entry;
        DWORD attributes;
        bool descends;
    } cases[] = {
        {"folder", FILE_ATTRIBUTE_DIRECTORY, true},
        {"read-only hidden folder", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true},
        {"junction or directory link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, false},
        {"file", FILE_ATTRIBUTE_ARCHIVE, false},
        {"file symbolic link", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, false},
        {"plain file", FILE_ATTRIBUTE_NORMAL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(c.descends, windows::descends_into(c.attributes));
    }
}

// The whole tree goes; a hard link in it to a file outside loses only its
// own name, and the file outside keeps its content. A folder that is not
// there is no failure.
TEST(folder_removal, removes_the_tree_and_only_the_names_of_hard_links)
{
    temp_folder work;
    const std::wstring root = work.file(L"tmp1234abcd.tmp");
    make_tree(root);
    const std::wstring outside = work.file(L"precious.txt");
    write_file(outside, "precious");
    ASSERT_TRUE(::CreateHardLinkW((root + L"\\driver\\linked.txt").c_str(), outside.c_str(), nullptr))
        << to_utf8(test_support::error_text(::GetLastError()));

    windows::removal_failure failure;
    EXPECT_TRUE(windows::remove_folder_tree(root, failure)) << to_utf8(failure.path) << " " << failure.error;
    EXPECT_FALSE(file_exists(root));
    EXPECT_EQ("precious", read_file(outside));

    EXPECT_TRUE(windows::remove_folder_tree(root, failure));
    EXPECT_EQ(0u, failure.error);
}

// A file that another process holds open stays, with its folders; every
// other entry goes all the same, and the failure names the file and the
// sharing violation.
TEST(folder_removal, file_in_use_stays_and_the_rest_goes)
{
    temp_folder work;
    const std::wstring root = work.file(L"emulator");
    make_tree(root);
    const std::wstring held_path = root + L"\\driver\\velmora.inf";
    const windows::unique_hfile held(
        ::CreateFileW(held_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    windows::removal_failure failure;
    EXPECT_FALSE(windows::remove_folder_tree(root, failure));
    EXPECT_EQ(to_utf8(held_path), to_utf8(failure.path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), failure.error);
    EXPECT_TRUE(file_exists(held_path));
    for (const wchar_t* gone : {L"\\dpinst.exe", L"\\driver\\amd64", L"\\empty"}) {
        SCOPED_TRACE(to_utf8(gone));
        EXPECT_FALSE(file_exists(root + gone));
    }
}
