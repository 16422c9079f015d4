#include <gtest/gtest.h>

#include <windows.h>

#include <boost/filesystem.hpp>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/handle.h"

using test_support::to_utf8;
namespace windows = varnox::windows;

namespace {

// The C runtime's temporary names: "s", the process identifier in base 32, a point.
std::wstring runtime_name_stem()
{
    wchar_t digits[16] = {};
    ::_ultow(::GetCurrentProcessId(), digits, 32);
    return std::wstring(L"s") + digits + L".";
}

// The tests of this program run in a prefix of their own that plays Windows
// PE; the key stays, so that tests running side by side all see it.
class windows_pe : public ::testing::Test {
protected:
    void SetUp() override
    {
        windows::unique_hkey key;
        const LONG created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                               L"Software\\Microsoft\\Windows NT\\CurrentVersion\\WinPE", 0,
                                               nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
        ASSERT_EQ(ERROR_SUCCESS, created) << to_utf8(test_support::error_text(created));
        scratch_root = windows::get_module_folder() + L"\\Temp";
    }

    void TearDown() override
    {
        boost::system::error_code ignored;
        for (const std::wstring& path : made)
            boost::filesystem::remove_all(path, ignored);
        // The shared "Temp" goes only when no other test still uses it.
        boost::filesystem::remove(scratch_root, ignored);
    }

    std::wstring scratch_root;
    std::vector<std::wstring> made;
};

} // namespace

// On Windows PE the scratch folder lies in "Temp" beside the program, named by the C runtime, without the prefix.
TEST_F(windows_pe, scratch_folder_lies_beside_the_program)
{
    test_support::temp_folder ignored_folder;
    const std::wstring first = windows::create_temp_folder(ignored_folder.path(), L"vnx");
    made.push_back(first);
    const std::wstring second = windows::create_temp_folder(ignored_folder.path(), L"vnx");
    made.push_back(second);

    // "s<pid>.tmp" on first use in the process, then "s<pid>.1tmp", "s<pid>.2tmp" and so on.
    const std::wregex name(L"s" + runtime_name_stem().substr(1, runtime_name_stem().size() - 2) +
                           L"\\.[0-9a-v]*tmp");
    for (const std::wstring& path : {first, second}) {
        SCOPED_TRACE(to_utf8(path));
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(scratch_root, boost::filesystem::path(path).parent_path().wstring());
        EXPECT_TRUE(std::regex_match(boost::filesystem::path(path).filename().wstring(), name));
        EXPECT_TRUE(boost::filesystem::is_directory(path));
        EXPECT_TRUE(boost::filesystem::is_empty(path));
    }
    EXPECT_NE(first, second);
    EXPECT_TRUE(boost::filesystem::is_empty(ignored_folder.path()));
}

// Folders of the same names left by an earlier run are not handed out again: a new name is taken.
TEST_F(windows_pe, stale_folders_are_skipped)
{
    std::set<std::wstring> stale;
    for (unsigned long counter = 0; counter <= 40; ++counter) {
        wchar_t digits[16] = {};
        if (counter > 0)
            ::_ultow(counter, digits, 32);
        const std::wstring path = scratch_root + L"\\" + runtime_name_stem() + digits + L"tmp";
        stale.insert(path);
        made.push_back(path);
        boost::filesystem::create_directories(path);
        test_support::write_file(path + L"\\left_over.txt", "old");
    }

    const std::wstring path = windows::create_temp_folder(L"C:\\", L"vnx");
    made.push_back(path);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(0u, stale.count(path)) << to_utf8(path);
    EXPECT_EQ(0u, path.find(scratch_root + L"\\" + runtime_name_stem()));
    EXPECT_TRUE(boost::filesystem::is_empty(path));
    for (const std::wstring& old : stale)
        EXPECT_TRUE(test_support::file_exists(old + L"\\left_over.txt"));
}
