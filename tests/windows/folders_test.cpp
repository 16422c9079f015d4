#include <gtest/gtest.h>

#include <windows.h>

#include <boost/filesystem.hpp>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "probe_output.h"
#include "test_support.h"
#include "varnox/windows/folders.h"

using test_support::temp_folder;
using test_support::to_utf8;
namespace windows = varnox::windows;

namespace {

std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return ::_wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool is_folder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring leaf_of(const std::wstring& path)
{
    return boost::filesystem::path(path).filename().wstring();
}

// A folder below base whose path is exactly length characters long.
std::wstring folder_of_length(const std::wstring& base, size_t length)
{
    std::wstring path = base;
    while (path.size() < length) {
        const size_t room = length - path.size() - 1;
        path += L"\\" + std::wstring(room < 100 ? room : 100, L'd');
        if (path.back() == L'\\')
            path.back() = L'e';
    }
    boost::filesystem::create_directories(path);
    return path;
}

// Stands in for GetTempPathW as Windows answers with a long TMP: the length
// without the NUL when the buffer holds the path, else the size it needs.
std::wstring reported_temp_path;
DWORD WINAPI report_temp_path(DWORD buffer_size, LPWSTR buffer)
{
    const DWORD length = static_cast<DWORD>(reported_temp_path.size());
    if (buffer_size <= length)
        return length + 1;
    reported_temp_path.copy(buffer, length);
    buffer[length] = L'\0';
    return length;
}

// A temporary folder that grows before every call never fits.
DWORD WINAPI report_growing_temp_path(DWORD buffer_size, LPWSTR)
{
    return buffer_size + 10;
}

DWORD WINAPI fail_temp_path(DWORD, LPWSTR)
{
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

} // namespace

// The Windows folder agrees with %windir%, the system folder lies in it, the
// temporary folder is %TEMP% without its trailing backslash.
TEST(folders, system_windows_and_temp)
{
    const std::wstring windows_folder = windows::get_windows_folder();
    EXPECT_TRUE(same_path(environment(L"windir"), windows_folder)) << to_utf8(windows_folder);
    EXPECT_TRUE(same_path(windows_folder + L"\\system32", windows::get_system_folder()))
        << to_utf8(windows::get_system_folder());
    EXPECT_TRUE(is_folder(windows::get_system_folder()));

    std::wstring temp = environment(L"TEMP");
    while (!temp.empty() && temp.back() == L'\\')
        temp.pop_back();
    const std::wstring temp_folder_path = windows::get_temp_folder();
    EXPECT_TRUE(same_path(temp, temp_folder_path)) << to_utf8(temp_folder_path);
    EXPECT_NE(L'\\', temp_folder_path.back());
}

// A temporary folder of any length comes back whole without its trailing
// backslash; one that cannot be read is empty, never a cut or another path.
TEST(folders, temp_folder_of_any_length)
{
    const std::wstring long_folder = L"C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
    const struct {
        const char* scenario;
        std::wstring reported;
        windows::temp_path_query query;
        std::wstring expected;
    } cases[] = {
        {"short", L"C:\\Temp\\", &report_temp_path, L"C:\\Temp"},
        {"260 characters: the first buffer exactly", std::wstring(L"C:\\") + std::wstring(256, L'c') + L"\\",
         &report_temp_path, std::wstring(L"C:\\") + std::wstring(256, L'c')},
        {"longer than the first buffer", long_folder + L"\\", &report_temp_path, long_folder},
        {"growing at every call", L"", &report_growing_temp_path, L""},
        {"failing", L"", &fail_temp_path, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        reported_temp_path = c.reported;
        EXPECT_EQ(c.expected, windows::get_temp_folder(c.query));
    }
}

// With a TMP longer than 261 characters, the probe's temporary folder is that
// folder whole or not determined (Wine refuses such a TMP with error 206).
TEST(folders, long_tmp_gives_the_whole_folder_or_none)
{
    temp_folder folder;
    const std::wstring long_folder = folder_of_length(folder.path(), 300);
    const std::wstring tmp = environment(L"TMP");
    const std::wstring temp = environment(L"TEMP");
    ::SetEnvironmentVariableW(L"TMP", long_folder.c_str());
    ::SetEnvironmentVariableW(L"TEMP", long_folder.c_str());
    const auto values = run_system_probe(test_support::windows_path_of_unix(VARNOX_SYSTEM_PROBE), folder);
    ::SetEnvironmentVariableW(L"TMP", tmp.empty() ? nullptr : tmp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp.empty() ? nullptr : temp.c_str());
    ASSERT_EQ(1u, values.count("temp_folder"));
    const std::wstring reported = test_support::from_utf8(values.at("temp_folder"));
    EXPECT_TRUE(reported.empty() || same_path(long_folder, reported)) << to_utf8(reported);
}

// get_temp_file_name makes a new empty file with the prefix in the folder, a different one each time.
TEST(folders, temp_file_name_creates_unique_empty_files)
{
    temp_folder folder;
    std::set<std::wstring> names;
    for (int i = 0; i < 3; ++i) {
        const std::wstring path = windows::get_temp_file_name(folder.path(), L"vnx");
        ASSERT_FALSE(path.empty());
        EXPECT_TRUE(same_path(folder.path(), boost::filesystem::path(path).parent_path().wstring()));
        EXPECT_EQ(0u, leaf_of(path).find(L"vnx")) << to_utf8(path);
        EXPECT_TRUE(test_support::file_exists(path));
        EXPECT_FALSE(is_folder(path));
        EXPECT_EQ(0u, test_support::file_size(path));
        names.insert(path);
    }
    EXPECT_EQ(3u, names.size());
}

// Folders of 0 or more than 245 characters, and missing folders, give an empty name and no file.
TEST(folders, temp_file_name_rejects_unusable_folders)
{
    temp_folder folder;
    const std::wstring longest = folder_of_length(folder.path(), 245);
    const std::wstring too_long = folder_of_length(folder.path(), 246);
    ASSERT_TRUE(is_folder(longest));
    ASSERT_TRUE(is_folder(too_long)) << "the 246-character folder exists, so only the length can refuse it";

    const std::wstring in_longest = windows::get_temp_file_name(longest, L"vnx");
    EXPECT_FALSE(in_longest.empty());
    EXPECT_TRUE(test_support::file_exists(in_longest));

    const struct {
        const char* scenario;
        std::wstring folder;
    } cases[] = {
        {"empty", L""},
        {"246 characters", too_long},
        {"missing", folder.file(L"missing")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(L"", windows::get_temp_file_name(c.folder, L"vnx"));
    }
    EXPECT_TRUE(boost::filesystem::is_empty(too_long));
}

// create_temp_folder makes a new, empty folder named by the prefix's first
// three characters, eight random hexadecimal digits and ".tmp".
TEST(folders, create_temp_folder_makes_empty_folders)
{
    temp_folder folder;
    const std::wstring first = windows::create_temp_folder(folder.path(), L"vnxlong");
    const std::wstring second = windows::create_temp_folder(folder.path(), L"vnxlong");
    for (const std::wstring& path : {first, second}) {
        SCOPED_TRACE(to_utf8(path));
        ASSERT_FALSE(path.empty());
        EXPECT_TRUE(is_folder(path));
        EXPECT_TRUE(boost::filesystem::is_empty(path));
        EXPECT_TRUE(same_path(folder.path(), boost::filesystem::path(path).parent_path().wstring()));
        EXPECT_TRUE(std::regex_match(leaf_of(path), std::wregex(L"vnx[0-9a-f]{8}\\.tmp")));
    }
    EXPECT_NE(first, second);
    EXPECT_EQ(L"", windows::create_temp_folder(folder.file(L"missing"), L"vnx"));
    EXPECT_EQ(L"", windows::create_temp_folder(L"", L"vnx"));
}

// A name that anything already holds is never used, whatever holds it: the
// creation tells, and the next name is tried; what held the name stays as it
// was. Other failures stop at once, and so does running out of names.
TEST(folders, new_folder_never_takes_a_name_that_is_held)
{
    temp_folder folder;
    ASSERT_TRUE(::CreateDirectoryW(folder.file(L"held_by_a_folder").c_str(), nullptr));
    test_support::write_file(folder.file(L"held_by_a_folder\\left_over.txt"), "old");
    test_support::write_file(folder.file(L"held_by_a_file"), "a file");
    const std::vector<std::wstring> names = {L"held_by_a_folder", L"held_by_a_file", L"free", L"unused"};
    size_t asked = 0;
    const auto next_name = [&] { return asked < names.size() ? names[asked++] : std::wstring(); };

    DWORD error = 99;
    const std::wstring made = windows::create_new_folder(folder.path(), next_name, nullptr, 100, &error);
    EXPECT_EQ(folder.file(L"free"), made);
    EXPECT_EQ(0u, error);
    EXPECT_EQ(3u, asked);
    EXPECT_TRUE(is_folder(made));
    EXPECT_TRUE(boost::filesystem::is_empty(made));
    EXPECT_EQ("old", test_support::read_file(folder.file(L"held_by_a_folder\\left_over.txt")));
    EXPECT_EQ("a file", test_support::read_file(folder.file(L"held_by_a_file")));

    const struct {
        const char* scenario;
        std::wstring parent;
        std::vector<std::wstring> names;
        int attempts;
        DWORD error;
        size_t asked;
    } failures[] = {
        {"every name held", folder.path(), {L"free", L"held_by_a_file", L"free"}, 3, ERROR_ALREADY_EXISTS, 3},
        {"no names left", folder.path(), {L"free"}, 3, 0, 1},
        {"missing parent", folder.file(L"missing"), {L"a", L"b"}, 3, ERROR_PATH_NOT_FOUND, 1},
        {"no parent", L"", {L"a"}, 3, 0, 0},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.scenario);
        size_t count = 0;
        const auto from_list = [&] { return count < c.names.size() ? c.names[count++] : std::wstring(); };
        EXPECT_EQ(L"", windows::create_new_folder(c.parent, from_list, nullptr, c.attempts, &error));
        EXPECT_EQ(c.error, error);
        EXPECT_EQ(c.asked, count);
    }
}

// The module's path and folder name the running program.
TEST(folders, module_file_name_and_folder)
{
    test_support::temp_folder folder;
    const std::wstring probe = test_support::windows_path_of_unix(VARNOX_SYSTEM_PROBE);
    const auto values = run_system_probe(probe, folder);
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(same_path(probe, test_support::from_utf8(values.at("module_file_name"))))
        << values.at("module_file_name");
    EXPECT_TRUE(same_path(boost::filesystem::path(probe).parent_path().wstring(),
                          test_support::from_utf8(values.at("module_folder"))))
        << values.at("module_folder");
}

