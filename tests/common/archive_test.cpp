#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <miniz.h>

#include "test_support.h"
#include "varnox/common/archive.h"
#include "varnox/common/log.h"

using test_support::file_exists;
using test_support::read_file;
using test_support::temp_folder;
using test_support::to_utf8;
using test_support::write_file;
using varnox::archive::open_unzip;
using varnox::archive::unzip;

namespace {

// Beyond the first MiB, where the setup program finds its payload.
constexpr std::uint32_t real_offset = 0x100004;
const std::uint32_t offsets[] = {0, real_offset};

std::wstring fixture(const std::string& name)
{
    return test_support::windows_path_of_unix(std::string(VARNOX_ARCHIVE_FIXTURES) + "/" + name);
}

// The member files as the fixture script wrote them, by stored name.
const std::map<std::string, std::string>& tree_files()
{
    static const std::map<std::string, std::string> files = [] {
        std::map<std::string, std::string> result;
        for (const char* name :
             {"readme.txt", "Dpinst.exe", "data.bin", "zero.txt", "sub/inner.txt", "sub/deeper/LEAF.TXT"}) {
            std::wstring path = fixture(std::string("tree/") + name);
            std::replace(path.begin(), path.end(), L'/', L'\\');
            result[name] = read_file(path);
        }
        return result;
    }();
    return files;
}

// The same tree written by miniz's own writer: folders, stored and deflated.
std::string miniz_archive(bool folders_only)
{
    mz_zip_archive writer;
    mz_zip_zero_struct(&writer);
    EXPECT_TRUE(mz_zip_writer_init_heap(&writer, 0, 0));
    for (const char* folder : {"empty_folder/", "sub/", "sub/deeper/"})
        EXPECT_TRUE(mz_zip_writer_add_mem(&writer, folder, nullptr, 0, 0));
    if (!folders_only) {
        for (const auto& [name, data] : tree_files()) {
            const mz_uint level = name == "data.bin" ? MZ_NO_COMPRESSION : MZ_DEFAULT_LEVEL;
            EXPECT_TRUE(mz_zip_writer_add_mem(&writer, name.c_str(), data.data(), data.size(), level)) << name;
        }
    }
    void* buffer = nullptr;
    size_t size = 0;
    EXPECT_TRUE(mz_zip_writer_finalize_heap_archive(&writer, &buffer, &size));
    std::string bytes(static_cast<const char*>(buffer), size);
    mz_zip_writer_end(&writer);
    return bytes;
}

std::string archive_bytes(const std::string& producer)
{
    if (producer == "miniz")
        return miniz_archive(false);
    if (producer == "miniz_folders_only")
        return miniz_archive(true);
    return read_file(fixture(producer));
}

// An executable stand-in: offset bytes of filler, then the archive.
std::wstring embed(const temp_folder& folder, const std::string& archive, std::uint32_t offset)
{
    const std::wstring path = folder.file(L"setup_" + std::to_wstring(offset) + L".exe");
    write_file(path, std::string(offset, '\0') + archive);
    return path;
}

// Points the process log at a file of the test's own for its lifetime.
class captured_log {
public:
    captured_log() : _path(_folder.file(L"archive_test.log"))
    {
        varnox::the_logger().set_path(_path);
        varnox::the_logger().level = 2;
        // The log folds a repeat of the previous message, even across files.
        static int count = 0;
        varnox::log_message(-1, L"archive test log %d", ++count);
    }
    ~captured_log() { varnox::the_logger().set_path(std::wstring()); }

    std::string text() const { return file_exists(_path) ? read_file(_path) : std::string(); }
    bool has(const std::string& entry) const { return text().find(entry) != std::string::npos; }

private:
    temp_folder _folder;
    std::wstring _path;
};

std::string narrow(const std::wstring& path) { return to_utf8(path); }

std::vector<std::wstring> sorted(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Every file and folder below root, relative to it.
std::vector<std::wstring> listing(const std::wstring& root)
{
    std::vector<std::wstring> entries;
    for (auto it = boost::filesystem::recursive_directory_iterator(root);
         it != boost::filesystem::recursive_directory_iterator(); ++it)
        entries.push_back(it->path().wstring().substr(root.size() + 1));
    std::sort(entries.begin(), entries.end());
    return entries;
}

const char* const producers[] = {"infozip.zip", "infozip_streamed.zip", "python.zip", "miniz"};

} // namespace

// Archives of every producer, at offset 0 and beyond the first MiB, answer
// membership by full stored name in any letter case and extract every file
// member, sub-folders included, byte for byte.
TEST(archive, reads_archives_of_every_producer_at_any_offset)
{
    for (const char* producer : producers) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(producer) + " at offset " + std::to_string(offset));
            temp_folder folder;
            const auto archive = open_unzip(embed(folder, archive_bytes(producer), offset), offset);
            ASSERT_TRUE(archive);

            EXPECT_TRUE(archive->contains("readme.txt"));
            EXPECT_TRUE(archive->contains("dpinst.exe"));
            EXPECT_TRUE(archive->contains("DPINST.EXE"));
            EXPECT_TRUE(archive->contains("sub/inner.txt"));
            EXPECT_TRUE(archive->contains("SUB/DEEPER/leaf.txt"));
            EXPECT_FALSE(archive->contains("inner.txt"));
            EXPECT_FALSE(archive->contains("upgrade.cmd"));

            const std::wstring target = folder.file(L"out");
            std::vector<std::wstring> written;
            ASSERT_TRUE(archive->extract_all(target, written));
            std::vector<std::wstring> expected;
            for (const auto& [name, data] : tree_files()) {
                expected.push_back(target + L"\\" + test_support::from_utf8(name));
                std::wstring path = expected.back();
                std::replace(path.begin(), path.end(), L'/', L'\\');
                EXPECT_EQ(data, read_file(path)) << name;
            }
            EXPECT_EQ(sorted(expected), sorted(written));
        }
    }
}

// One member goes to the given file, and a missing folder chain in front of
// it is created.
TEST(archive, extracts_one_member_into_a_new_folder_chain)
{
    for (const char* producer : producers) {
        SCOPED_TRACE(producer);
        temp_folder folder;
        const auto archive = open_unzip(embed(folder, archive_bytes(producer), real_offset), real_offset);
        ASSERT_TRUE(archive);
        const std::wstring target = folder.file(L"a\\b\\c\\leaf.txt");
        ASSERT_TRUE(archive->extract("sub/deeper/LEAF.TXT", narrow(target)));
        EXPECT_EQ(tree_files().at("sub/deeper/LEAF.TXT"), read_file(target));
        ASSERT_TRUE(archive->extract("data.bin", narrow(folder.file(L"data.bin"))));
        EXPECT_EQ(tree_files().at("data.bin"), read_file(folder.file(L"data.bin")));
    }
}

// Members that Info-ZIP read from a pipe (named "-", with and without Zip64
// fields) are read like any other.
TEST(archive, reads_members_zipped_from_a_pipe)
{
    for (const char* producer : {"infozip_stdin.zip", "infozip_stdin64.zip"}) {
        SCOPED_TRACE(producer);
        temp_folder folder;
        const auto archive = open_unzip(embed(folder, archive_bytes(producer), real_offset), real_offset);
        ASSERT_TRUE(archive);
        EXPECT_TRUE(archive->contains("-"));
        ASSERT_TRUE(archive->extract("-", narrow(folder.file(L"stdin.txt"))));
        EXPECT_EQ(tree_files().at("readme.txt"), read_file(folder.file(L"stdin.txt")));
    }
}

// Empty archives and archives of folders only open, extract nothing, leave the
// list as it was and write nothing.
TEST(archive, archives_without_files_extract_nothing)
{
    for (const char* producer :
         {"python_empty.zip", "python_folders_only.zip", "infozip_folders_only.zip", "miniz_folders_only"}) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(producer) + " at offset " + std::to_string(offset));
            temp_folder folder;
            const auto archive = open_unzip(embed(folder, archive_bytes(producer), offset), offset);
            ASSERT_TRUE(archive);
            const std::wstring target = folder.file(L"out");
            ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
            std::vector<std::wstring> written{L"kept"};
            EXPECT_TRUE(archive->extract_all(target, written));
            EXPECT_EQ(std::vector<std::wstring>{L"kept"}, written);
            EXPECT_TRUE(listing(target).empty());
        }
    }
}

// With an empty target folder every member goes to its stored name below the
// current folder.
TEST(archive, empty_target_folder_means_the_current_folder)
{
    temp_folder folder;
    const auto archive = open_unzip(embed(folder, archive_bytes("python.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    const std::wstring work = folder.file(L"work");
    ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(work.c_str()));
    std::vector<std::wstring> written;
    const bool extracted = archive->extract_all(L"", written);
    ::SetCurrentDirectoryW(previous);
    ASSERT_TRUE(extracted);
    EXPECT_EQ(6u, written.size());
    EXPECT_NE(written.end(), std::find(written.begin(), written.end(), L"sub/deeper/LEAF.TXT"));
    EXPECT_EQ(tree_files().at("sub/deeper/LEAF.TXT"), read_file(work + L"\\sub\\deeper\\LEAF.TXT"));
}

// Data that is no readable archive gives an empty handle and the entry at
// line 310 with the composed text of the failed construction.
TEST(archive, unreadable_payload_gives_an_empty_handle_and_logs_310)
{
    const struct {
        const char* scenario;
        std::string bytes;
    } cases[] = {
        {"corrupt central directory", read_file(fixture("corrupt_central_directory.zip"))},
        {"payload cut short", read_file(fixture("cut_short.zip"))},
        {"a local header and nothing else", std::string("PK\3\4") + std::string(4000, 'x')},
    };
    for (const auto& c : cases) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(c.scenario) + " at offset " + std::to_string(offset));
            temp_folder folder;
            captured_log log;
            EXPECT_FALSE(open_unzip(embed(folder, c.bytes, offset), offset));
            EXPECT_TRUE(log.has("archive(310) - varnox/common/archive(406) : "
                                "varnox::archive::unzip_base::unzip_base - Failed to initialize archive. \r\n"))
                << log.text();
        }
    }
}

// A missing file or one no longer than the offset gives an empty handle and
// no log entry.
TEST(archive, missing_or_short_file_gives_an_empty_handle_silently)
{
    temp_folder folder;
    captured_log log;
    EXPECT_FALSE(open_unzip(folder.file(L"missing.exe"), 0));
    const std::wstring short_file = folder.file(L"short.exe");
    write_file(short_file, std::string(real_offset, '\0'));
    EXPECT_FALSE(open_unzip(short_file, real_offset));
    write_file(short_file, std::string());
    EXPECT_FALSE(open_unzip(short_file, 0));
    EXPECT_FALSE(log.has("archive(")) << log.text();
}

// A path that is a folder makes the size query fail with a file-system
// error: an empty handle and "Unknown exception" at line 314.
TEST(archive, file_system_error_while_opening_logs_314)
{
    temp_folder folder;
    captured_log log;
    EXPECT_FALSE(open_unzip(folder.path(), 0));
    EXPECT_TRUE(log.has("archive(314) - Unknown exception \r\n")) << log.text();
}

// A target that is a folder with content cannot be replaced: the file-system
// error reaches the caller, as for any failed deletion.
TEST(archive, target_that_is_a_full_folder_raises_a_file_system_error)
{
    temp_folder folder;
    const auto archive = open_unzip(embed(folder, archive_bytes("python.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    const std::wstring target = folder.file(L"readme.txt");
    ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
    write_file(target + L"\\inside.txt", "x");
    EXPECT_THROW(archive->extract("readme.txt", narrow(target)), boost::filesystem::filesystem_error);
    EXPECT_TRUE(file_exists(target + L"\\inside.txt"));
}

// Extracting a member that is not there still deletes the old target file,
// returns false and logs line 368.
TEST(archive, missing_member_deletes_the_old_target_and_logs_368)
{
    temp_folder folder;
    captured_log log;
    const auto archive = open_unzip(embed(folder, archive_bytes("python.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    const std::wstring target = folder.file(L"client.msi");
    write_file(target, "stale");
    EXPECT_FALSE(archive->extract("client_x64.msi", narrow(target)));
    EXPECT_FALSE(file_exists(target));
    EXPECT_TRUE(log.has("archive(368) - mz_zip_reader_extract_file_to_file() failed! \r\n")) << log.text();
}

// A member whose data does not match the CRC-32 or size of the directory
// fails; its partly written file is deleted, files written before it stay,
// later ones are not written.
TEST(archive, member_with_bad_crc_or_size_fails_and_leaves_no_partial_file)
{
    for (const char* producer : {"bad_crc_stored.zip", "bad_crc_deflated.zip", "bad_size_deflated.zip"}) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(producer) + " at offset " + std::to_string(offset));
            temp_folder folder;
            captured_log log;
            const auto archive = open_unzip(embed(folder, archive_bytes(producer), offset), offset);
            ASSERT_TRUE(archive);

            const std::wstring target = folder.file(L"all");
            std::vector<std::wstring> written;
            EXPECT_FALSE(archive->extract_all(target, written));
            EXPECT_EQ((std::vector<std::wstring>{target + L"\\good.txt", target + L"\\bad.txt"}), written);
            std::string good;
            for (int i = 0; i < 100; ++i)
                good += "good\n";
            EXPECT_EQ(good, read_file(target + L"\\good.txt"));
            EXPECT_FALSE(file_exists(target + L"\\bad.txt"));
            EXPECT_FALSE(file_exists(target + L"\\after.txt"));
            EXPECT_TRUE(log.has("archive(396) - mz_zip_reader_extract_to_file() failed! \r\n")) << log.text();

            const std::wstring single = folder.file(L"bad.txt");
            EXPECT_FALSE(archive->extract("bad.txt", narrow(single)));
            EXPECT_FALSE(file_exists(single));
            EXPECT_TRUE(log.has("archive(368) - mz_zip_reader_extract_file_to_file() failed! \r\n")) << log.text();
        }
    }
}

// Member names that would put a file outside the target folder stop the
// extraction before that member is written, with the entry at line 385;
// nothing appears beside or above the target folder.
TEST(archive, unsafe_member_names_are_never_written)
{
    std::ifstream names_file(std::string(VARNOX_ARCHIVE_FIXTURES) + "/unsafe_names.txt");
    std::string line;
    int cases = 0;
    while (std::getline(names_file, line)) {
        ++cases;
        const std::string index = line.substr(0, 2);
        SCOPED_TRACE(line);
        temp_folder folder;
        captured_log log;
        const auto archive = open_unzip(fixture("unsafe_" + index + ".zip"), 0);
        ASSERT_TRUE(archive);
        const std::wstring sandbox = folder.file(L"sandbox");
        const std::wstring target = sandbox + L"\\deep\\target";
        std::vector<std::wstring> written;
        EXPECT_FALSE(archive->extract_all(target, written));
        EXPECT_EQ(std::vector<std::wstring>{target + L"\\first.txt"}, written);
        EXPECT_EQ((std::vector<std::wstring>{L"deep", L"deep\\target", L"deep\\target\\first.txt"}), listing(sandbox));
        EXPECT_TRUE(log.has("archive(385) - Member name leaves the target folder, not extracted: ")) << log.text();
        // The name is an argument of the entry, never its format ("%s%n").
        const std::string shown = line.substr(3);
        if (shown.find('\\') == std::string::npos) {
            EXPECT_TRUE(log.has("not extracted: " + shown + " \r\n")) << log.text();
        }
    }
    EXPECT_GE(cases, 20);
}

// The name rule itself, on names a reader can check by eye.
TEST(archive, member_name_rule)
{
    const struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"client_x64.msi", true},
        {"sub/deeper/LEAF.TXT", true},
        {"sub\\file.txt", true},
        {".hidden", true},
        {"a..b.txt", true},
        {"sub/.config/x", true},
        {"CONSOLE.txt", true},
        {"COM10", true},
        {"LPT0.txt", true},
        {"nullify.txt", true},
        {"", false},
        {"..", false},
        {"../x", false},
        {"a/../../x", false},
        {"a\\..\\x", false},
        {"./x", false},
        {"a/./x", false},
        {"a/.../x", false},
        {"a/b.", false},
        {"a /b", false},
        {"/x", false},
        {"\\x", false},
        {"\\\\server\\share\\x", false},
        {"C:x", false},
        {"c:/x", false},
        {"file.txt:stream", false},
        {"CON", false},
        {"con.txt", false},
        {"a/Prn", false},
        {"AUX.tar.gz", false},
        {"NUL", false},
        {"com1", false},
        {"sub/COM9.log", false},
        {"LPT1", false},
        {"lpt9.txt", false},
        {"CON /x", false},
        {"a\x01.txt", false},
        {"a\x1f.txt", false},
        {"a\x7f.txt", false},
        {"a?.txt", false},
        {"a*.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.safe, varnox::archive::is_safe_member_name(c.name));
    }
}

// The executable stays open for others to read and write while the archive
// is open, and the archive can be opened while another holds it for writing.
TEST(archive, shares_the_executable_file)
{
    temp_folder folder;
    const std::wstring path = embed(folder, archive_bytes("python.zip"), real_offset);
    varnox::windows::unique_hfile writer(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer) << to_utf8(test_support::error_text(::GetLastError()));
    const auto archive = open_unzip(path, real_offset);
    ASSERT_TRUE(archive);
    varnox::windows::unique_hfile second(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(second) << to_utf8(test_support::error_text(::GetLastError()));
    ASSERT_TRUE(archive->extract("readme.txt", narrow(folder.file(L"readme.txt"))));
    EXPECT_EQ(tree_files().at("readme.txt"), read_file(folder.file(L"readme.txt")));
}

// Closing ends the reader once; a closed archive holds nothing, and closing
// again does nothing and logs nothing.
TEST(archive, close_is_idempotent_and_silent)
{
    temp_folder folder;
    captured_log log;
    auto archive = std::dynamic_pointer_cast<varnox::archive::unzip_base>(
        open_unzip(embed(folder, archive_bytes("infozip.zip"), real_offset), real_offset));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->close());
    EXPECT_TRUE(archive->close());
    EXPECT_FALSE(archive->contains("readme.txt"));
    archive.reset();
    EXPECT_FALSE(log.has("archive(")) << log.text();
}

// Constructing on data that is no archive raises the archive's exception with
// its fixed line and message.
TEST(archive, construction_failure_raises_with_line_406)
{
    temp_folder folder;
    const std::wstring path = folder.file(L"junk.bin");
    write_file(path, std::string(100, 'j'));
    const auto stream = varnox::archive::archive_file::open(path);
    ASSERT_TRUE(stream);
    try {
        varnox::archive::unzip_base archive(stream.get(), 0);
        FAIL() << "no exception";
    } catch (const varnox::archive::unzip_base::exception& error) {
        EXPECT_EQ(L"varnox/common/archive(406) : varnox::archive::unzip_base::unzip_base - Failed to initialize archive.",
                  varnox::compose_exception_message(&error));
    }
}
