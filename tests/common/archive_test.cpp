#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <miniz.h>

#include "archive_test_support.h"
#include "test_support.h"
#include "varnox/common/archive.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

using test_support::file_exists;
using test_support::read_file;
using test_support::temp_folder;
using test_support::to_utf8;
using test_support::write_file;
using archive_test::captured_log;
using archive_test::fixture;
using archive_test::narrow;
using varnox::archive::open_unzip;
using varnox::archive::unzip;

namespace {

// Beyond the first MiB, where the setup program finds its payload.
constexpr std::uint32_t real_offset = 0x100004;
const std::uint32_t offsets[] = {0, real_offset};

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

// A name as Python's "unicode_escape" shows it, read back.
std::wstring unescaped(const std::string& shown)
{
    std::wstring name;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\' || i + 1 == shown.size()) {
            name += static_cast<wchar_t>(static_cast<unsigned char>(shown[i]));
            continue;
        }
        const char kind = shown[++i];
        if (kind == 'x' || kind == 'u') {
            const size_t digits = kind == 'x' ? 2 : 4;
            name += static_cast<wchar_t>(std::stoul(shown.substr(i + 1, digits), nullptr, 16));
            i += digits;
        } else {
            name += kind == 't' ? L'\t' : kind == 'n' ? L'\n' : kind == 'r' ? L'\r' : static_cast<wchar_t>(kind);
        }
    }
    return name;
}

// Where Wine keeps a Windows path on the Unix side.
std::string unix_path_of(const std::wstring& path)
{
    using unix_name_function = char*(CDECL*)(const wchar_t*);
    FARPROC function = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    unix_name_function unix_name = nullptr;
    static_assert(sizeof unix_name == sizeof function, "function pointers");
    std::memcpy(&unix_name, &function, sizeof unix_name);
    char* name = unix_name ? unix_name(path.c_str()) : nullptr;
    const std::string result = name ? name : "";
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// Runs a Unix shell command line and waits until it is done. Wine starts
// Unix programs without a handle to wait on, so the command leaves a marker.
bool run_unix_shell(const std::string& command_line, const std::wstring& marker)
{
    std::wstring command = L"/bin/sh -c \"" + test_support::from_utf8(command_line) + L" && : > '" +
                           test_support::from_utf8(unix_path_of(marker)) + L"'\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    varnox::windows::unique_handle owned_process(process.hProcess), owned_thread(process.hThread);
    for (int wait = 0; wait < 200 && !file_exists(marker); ++wait)
        ::Sleep(50);
    return ::DeleteFileW(marker.c_str()) != FALSE;
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
            EXPECT_TRUE(boost::filesystem::is_directory(target + L"\\empty_folder"));
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

// Empty archives and archives of folders only open, make their folders, write
// no file and leave the list as it was.
TEST(archive, archives_without_files_make_only_their_folders)
{
    const struct {
        const char* producer;
        std::vector<std::wstring> folders;
    } cases[] = {
        {"python_empty.zip", {}},
        {"python_folders_only.zip", {L"a", L"a\\b", L"a\\b\\c", L"d"}},
        {"infozip_folders_only.zip", {L"a", L"a\\b", L"a\\b\\c", L"d"}},
        {"miniz_folders_only", {L"empty_folder", L"sub", L"sub\\deeper"}},
    };
    for (const auto& c : cases) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(c.producer) + " at offset " + std::to_string(offset));
            temp_folder folder;
            const auto archive = open_unzip(embed(folder, archive_bytes(c.producer), offset), offset);
            ASSERT_TRUE(archive);
            const std::wstring target = folder.file(L"out");
            ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
            std::vector<std::wstring> written{L"kept"};
            EXPECT_TRUE(archive->extract_all(target, written));
            EXPECT_EQ(std::vector<std::wstring>{L"kept"}, written);
            EXPECT_EQ(c.folders, listing(target));
            for (const std::wstring& made : c.folders)
                EXPECT_TRUE(boost::filesystem::is_directory(target + L"\\" + made)) << to_utf8(made);
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
        {"an entry whose extra field runs past the directory", read_file(fixture("extra_beyond_directory.zip"))},
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

// A target that cannot be removed or a folder that cannot be made fails the
// extraction with a log entry that says why; no error escapes the operation,
// and what stood in the way stays.
TEST(archive, file_system_errors_while_extracting_are_logged_and_give_false)
{
    const struct {
        const char* scenario;
        bool single;
        const wchar_t* blocker;  // below the test's folder
        bool blocker_is_folder;  // with a file inside; a plain file otherwise
        std::vector<std::string> entries;
    } cases[] = {
        {"one member, its target a folder with content", true, L"out\\readme.txt", true,
         {"archive(366) - Could not remove the old target "}},
        {"all members, a target a folder with content", false, L"out\\readme.txt", true,
         {"archive(366) - Could not remove the old target "}},
        {"one member, a file where its folder must be", true, L"out", false,
         {"archive(364) - Could not create the folder ", "archive(362) - DecompressArchive could not create directory."}},
        {"all members, a file where the target folder must be", false, L"out", false,
         {"archive(364) - Could not create the folder ", "archive(389) - DecompressArchive could not create directory."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        temp_folder folder;
        captured_log log;
        const auto archive = open_unzip(embed(folder, archive_bytes("python.zip"), real_offset), real_offset);
        ASSERT_TRUE(archive);
        const std::wstring blocker = folder.file(c.blocker);
        const std::wstring kept = c.blocker_is_folder ? blocker + L"\\inside.txt" : blocker;
        if (c.blocker_is_folder) {
            ASSERT_TRUE(boost::filesystem::create_directories(blocker));
        }
        write_file(kept, "in the way");

        bool extracted = true;
        std::vector<std::wstring> written;
        if (c.single) {
            EXPECT_NO_THROW(extracted = archive->extract("readme.txt", narrow(folder.file(L"out\\readme.txt"))));
        } else {
            EXPECT_NO_THROW(extracted = archive->extract_all(folder.file(L"out"), written));
        }
        EXPECT_FALSE(extracted);
        for (const std::string& entry : c.entries)
            EXPECT_TRUE(log.has(entry)) << entry << "\n" << log.text();
        EXPECT_EQ("in the way", read_file(kept));
    }
}

// A directory entry whose statistics cannot be read stops the extraction with
// the entry at line 379 and nothing on the standard output, which a GUI
// program does not have.
TEST(archive, unreadable_directory_entry_is_logged_not_printed)
{
    temp_folder folder;
    captured_log log;
    const auto archive = open_unzip(embed(folder, archive_bytes("stat_fails.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    const std::wstring output = folder.file(L"stdout.txt");
    std::fflush(stdout);
    const int saved = _dup(1);
    const int redirected = _wopen(output.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    ASSERT_GE(redirected, 0);
    _dup2(redirected, 1);
    std::vector<std::wstring> written;
    const bool extracted = archive->extract_all(folder.file(L"out"), written);
    std::fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    _close(redirected);
    EXPECT_FALSE(extracted);
    EXPECT_EQ(std::vector<std::wstring>{folder.file(L"out\\good.txt")}, written);
    EXPECT_TRUE(log.has("archive(379) - mz_zip_reader_file_stat() failed! \r\n")) << log.text();
    EXPECT_EQ("", read_file(output));
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
        bool extracted = true;
        EXPECT_NO_THROW(extracted = archive->extract_all(target, written));
        EXPECT_FALSE(extracted);
        EXPECT_EQ(std::vector<std::wstring>{target + L"\\first.txt"}, written);
        EXPECT_EQ((std::vector<std::wstring>{L"deep", L"deep\\target", L"deep\\target\\first.txt"}), listing(sandbox));
        EXPECT_TRUE(log.has("archive(385) - Member name leaves the target folder, not extracted: ")) << log.text();
        // The name is an argument of the entry, never its format ("%s%n").
        const std::string shown = line.substr(3);
        if (shown.find('\\') == std::string::npos) {
            EXPECT_TRUE(log.has("not extracted: " + shown + " \r\n")) << log.text();
        }
        // Nor where Windows would have put it ("C:\\tmp\\evil.txt" for the
        // zip-slip samples).
        const std::wstring name = unescaped(shown);
        if (name.rfind(L"\\\\", 0) != 0) {
            wchar_t escaped[4096];
            const DWORD length = ::GetFullPathNameW((target + L"\\" + name).c_str(), 4096, escaped, nullptr);
            // Device names resolve to the device ("\\\\.\\CON"), not to a file.
            if (length > 0 && length < 4096 && std::wstring(escaped).rfind(L"\\\\.\\", 0) != 0) {
                EXPECT_FALSE(file_exists(escaped)) << to_utf8(escaped);
            }
        }
    }
    EXPECT_GE(cases, 20);
}

// A target folder whose name the ANSI code page cannot hold is used exactly
// as given: no look-alike ("．．" as "..", "Ω" as "O") moves the files
// elsewhere, and the list names the real paths.
TEST(archive, target_folder_outside_the_code_page_is_used_exactly)
{
    for (const wchar_t* name : {L"\xFF0E\xFF0E", L"\x03A9", L"\x0416\x0443\x043A"}) {
        SCOPED_TRACE(to_utf8(name));
        temp_folder folder;
        captured_log log;
        const auto archive = open_unzip(embed(folder, archive_bytes("python.zip"), real_offset), real_offset);
        ASSERT_TRUE(archive);
        const std::wstring sandbox = folder.file(L"sandbox");
        const std::wstring target = sandbox + L"\\deep\\" + name;
        std::vector<std::wstring> written;
        bool extracted = false;
        EXPECT_NO_THROW(extracted = archive->extract_all(target, written));
        EXPECT_TRUE(extracted) << log.text();
        EXPECT_TRUE(tree_files().at("readme.txt") == read_file(target + L"\\readme.txt"));
        EXPECT_NE(written.end(), std::find(written.begin(), written.end(), target + L"\\readme.txt"));
        const std::vector<std::wstring> entries = listing(sandbox);
        ASSERT_FALSE(entries.empty());
        for (const std::wstring& entry : entries)
            EXPECT_TRUE(entry == L"deep" || entry.rfind(std::wstring(L"deep\\") + name, 0) == 0) << to_utf8(entry);
    }
}

// Names flagged as UTF-8 (7-Zip, bsdtar, Python) are read as UTF-8, names
// without the flag in the ANSI code page; each member holds its own name.
TEST(archive, member_names_are_read_in_the_encoding_their_flag_gives)
{
    const struct {
        const char* producer;
        std::vector<std::wstring> names;
    } cases[] = {
        {"utf8_names.zip", {L"caf\u00e9/na\u00efve.txt", L"\u03a9mega.txt", L"\u0416\u0443\u043a/\u0436\u0443\u043a.txt"}},
        {"ansi_names.zip", {L"r\u00e9sum\u00e9.txt", L"\u00c5ngstr\u00f6m/\u00fcber.txt", L"na\u00efve.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.producer);
        temp_folder folder;
        captured_log log;
        const auto archive = open_unzip(embed(folder, archive_bytes(c.producer), real_offset), real_offset);
        ASSERT_TRUE(archive);
        const std::wstring target = folder.file(L"out");
        std::vector<std::wstring> written;
        EXPECT_TRUE(archive->extract_all(target, written)) << log.text();
        std::vector<std::wstring> expected;
        for (const std::wstring& name : c.names) {
            expected.push_back(target + L"\\" + name);
            std::wstring path = expected.back();
            std::replace(path.begin(), path.end(), L'/', L'\\');
            EXPECT_EQ(to_utf8(name), read_file(path)) << to_utf8(name);
        }
        EXPECT_EQ(sorted(expected), sorted(written));
    }
}

// Membership still compares the stored bytes, ASCII letters in any case.
TEST(archive, membership_compares_stored_names)
{
    temp_folder folder;
    const auto archive = open_unzip(embed(folder, archive_bytes("utf8_names.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->contains("caf\xc3\xa9/na\xc3\xafve.txt"));
    EXPECT_TRUE(archive->contains("CAF\xc3\xa9/NA\xc3\xafVE.TXT"));
    EXPECT_FALSE(archive->contains("CAF\xc3\x89/NA\xc3\xafVE.TXT"));
    EXPECT_FALSE(archive->contains("caf\xe9/na\xefve.txt"));
}

// Folder entries become folders, empty ones included; a member that carries
// the folder attribute but has data is written as a file.
TEST(archive, folder_entries_are_made_and_members_with_data_are_files)
{
    temp_folder folder;
    captured_log log;
    const auto archive = open_unzip(embed(folder, archive_bytes("folder_entries.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    const std::wstring target = folder.file(L"out");
    std::vector<std::wstring> written;
    ASSERT_TRUE(archive->extract_all(target, written)) << log.text();
    EXPECT_EQ(sorted({target + L"\\plain.txt", target + L"\\sub/marked_file.txt"}), sorted(written));
    EXPECT_EQ((std::vector<std::wstring>{L"attribute_folder", L"empty_folder", L"outer", L"outer\\inner", L"plain.txt",
                                         L"sub", L"sub\\marked_file.txt"}),
              listing(target));
    for (const wchar_t* made : {L"\\attribute_folder", L"\\empty_folder", L"\\outer\\inner"})
        EXPECT_TRUE(boost::filesystem::is_directory(target + made)) << to_utf8(made);
    EXPECT_EQ("data behind a folder attribute\n", read_file(target + L"\\sub\\marked_file.txt"));
}

// A small archive followed by more than 4 KB, in its comment or appended
// after it (a signature, say), opens and extracts.
TEST(archive, opens_small_archives_followed_by_long_trailing_bytes)
{
    for (const char* producer : {"comment_4100.zip", "comment_8000.zip", "comment_30000.zip", "trailing_8000.zip"}) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(producer) + " at offset " + std::to_string(offset));
            temp_folder folder;
            const auto archive = open_unzip(embed(folder, archive_bytes(producer), offset), offset);
            ASSERT_TRUE(archive);
            ASSERT_TRUE(archive->extract("readme.txt", narrow(folder.file(L"readme.txt"))));
            EXPECT_EQ(tree_files().at("readme.txt").substr(0, 100), read_file(folder.file(L"readme.txt")));
        }
    }
}

// An end record that stands further back than the reader looks, behind
// appended data, and an archive without one, are each said plainly in the
// log before the failed opening.
TEST(archive, says_why_no_end_record_was_found)
{
    const struct {
        const char* scenario;
        std::string bytes;
        const char* explained;
    } cases[] = {
        {"70,000 bytes after the end record", archive_bytes("python.zip") + std::string(70000, 'x'),
         "archive(311) - The archive's end record stands 70022 bytes before the end of the file, and at most 65557 "
         "may follow it: too much data (a signature, for instance) was appended after the archive \r\n"},
        {"cut short", archive_bytes("cut_short.zip"),
         "archive(312) - The archive has no end record: it is cut short or is no zip archive \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        temp_folder folder;
        captured_log log;
        EXPECT_FALSE(open_unzip(embed(folder, c.bytes, real_offset), real_offset));
        EXPECT_TRUE(log.has(c.explained)) << log.text();
        EXPECT_TRUE(log.has("archive(310) - ")) << log.text();
    }
    // The longest zip comment's worth of appended bytes is still read.
    temp_folder folder;
    captured_log log;
    EXPECT_TRUE(open_unzip(embed(folder, archive_bytes("python.zip") + std::string(65535, 'x'), real_offset),
                           real_offset));
    EXPECT_FALSE(log.has("archive(")) << log.text();
}

// python.zip in a test folder of its own, with an empty target folder and
// the path where readme.txt goes, for planting things there.
struct planting_ground {
    planting_ground()
        : archive(open_unzip(embed(folder, archive_bytes("python.zip"), real_offset), real_offset)),
          target(folder.file(L"out")), readme(target + L"\\readme.txt")
    {
        ::CreateDirectoryW(target.c_str(), nullptr);
    }
    bool extract(bool single)
    {
        std::vector<std::wstring> written;
        return single ? archive->extract("readme.txt", narrow(readme)) : archive->extract_all(target, written);
    }

    temp_folder folder;
    std::shared_ptr<unzip> archive;
    std::wstring target;
    std::wstring readme;
};

// A hard link planted where a member's file goes is removed as a link: the
// member gets a file of its own and the other name's content stays as it was.
TEST(archive, hard_link_in_a_targets_place_is_not_written_through)
{
    for (const bool single : {true, false}) {
        SCOPED_TRACE(single ? "one member" : "all members");
        planting_ground ground;
        ASSERT_TRUE(ground.archive);
        captured_log log;
        const std::wstring precious = ground.folder.file(L"precious.txt");
        write_file(precious, "precious");
        ASSERT_TRUE(::CreateHardLinkW(ground.readme.c_str(), precious.c_str(), nullptr))
            << to_utf8(test_support::error_text(::GetLastError()));

        EXPECT_TRUE(ground.extract(single)) << log.text();
        EXPECT_EQ("precious", read_file(precious));
        EXPECT_TRUE(tree_files().at("readme.txt") == read_file(ground.readme));
        EXPECT_TRUE(log.has("archive(372) - A link stood in place of " + to_utf8(ground.readme) +
                            "; the link was removed"))
            << log.text();
    }
}

// A symbolic link planted where a member's file goes is never followed: a
// file it names that does not exist is not made, and the extraction fails.
// Wine 8 cannot make Windows links (CreateSymbolicLinkW reports success and
// makes nothing, FSCTL_SET_REPARSE_POINT fails), so the link is a Unix one;
// Win32 sees no reparse point there, and cannot delete a dangling one (on
// Windows the link is removed as a link). A Unix link to an existing file is
// not tested: Wine shows it as that file, and DeleteFileW through it deletes
// the file it points to.
TEST(archive, dangling_symbolic_link_in_a_targets_place_is_not_followed)
{
    for (const bool single : {true, false}) {
        SCOPED_TRACE(single ? "one member" : "all members");
        planting_ground ground;
        ASSERT_TRUE(ground.archive);
        captured_log log;
        const std::wstring outside = ground.folder.file(L"outside.txt");
        const std::wstring marker = ground.folder.file(L"shell_done");
        ASSERT_TRUE(
            run_unix_shell("ln -s '" + unix_path_of(outside) + "' '" + unix_path_of(ground.readme) + "'", marker));

        EXPECT_FALSE(ground.extract(single));
        EXPECT_FALSE(file_exists(outside));
        EXPECT_TRUE(log.has("archive(367) - Could not create " + to_utf8(ground.readme) + ": ")) << log.text();
        EXPECT_TRUE(log.has(" (0x00000050) \r\n")) << log.text();
        EXPECT_TRUE(run_unix_shell("rm '" + unix_path_of(ground.readme) + "'", marker));
    }
}

// Archives whose members share their data (directory entries pointing at one
// local header, a member whose data holds another's header) are refused
// before anything is written, with both members' names in the log; members
// that merely touch are fine.
TEST(archive, members_that_share_their_data_are_refused_before_writing)
{
    const struct {
        const char* producer;
        const char* entry;
    } cases[] = {
        {"overlap_shared_header.zip", "archive(386) - Members share their data in the archive, nothing extracted: "
                                      "bomb000.txt and bomb001.txt \r\n"},
        {"overlap_nested.zip", "archive(386) - Members share their data in the archive, nothing extracted: "
                               "outer.txt and inner.txt \r\n"},
        {"adjacent_members.zip", nullptr},
    };
    for (const auto& c : cases) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(std::string(c.producer) + " at offset " + std::to_string(offset));
            temp_folder folder;
            captured_log log;
            const auto archive = open_unzip(embed(folder, archive_bytes(c.producer), offset), offset);
            ASSERT_TRUE(archive);
            const std::wstring target = folder.file(L"out");
            std::vector<std::wstring> written;
            const bool extracted = archive->extract_all(target, written);
            if (c.entry) {
                EXPECT_FALSE(extracted);
                EXPECT_TRUE(written.empty());
                EXPECT_FALSE(file_exists(target));
                EXPECT_TRUE(log.has(c.entry)) << log.text();
            } else {
                EXPECT_TRUE(extracted) << log.text();
                EXPECT_EQ((std::vector<std::wstring>{L"first.txt", L"second.txt"}), listing(target));
            }
        }
    }
}

// A member's file gets the member's time as its last write and last access
// time, the archive's local time read as the machine's local time.
TEST(archive, extracted_files_carry_the_members_time)
{
    SYSTEMTIME local{2019, 5, 5, 17, 13, 45, 30, 0};
    SYSTEMTIME universal{};
    ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal));
    FILETIME expected{};
    ASSERT_TRUE(::SystemTimeToFileTime(&universal, &expected));

    temp_folder folder;
    const auto archive = open_unzip(embed(folder, archive_bytes("dated.zip"), real_offset), real_offset);
    ASSERT_TRUE(archive);
    std::vector<std::wstring> written;
    ASSERT_TRUE(archive->extract_all(folder.file(L"all"), written));
    ASSERT_TRUE(archive->extract("dated.txt", narrow(folder.file(L"single.txt"))));
    for (const std::wstring& path : {folder.file(L"all\\dated.txt"), folder.file(L"single.txt")}) {
        SCOPED_TRACE(to_utf8(path));
        // Before reading it, which may move the access time.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(0, ::CompareFileTime(&expected, &data.ftLastWriteTime));
        EXPECT_EQ(0, ::CompareFileTime(&expected, &data.ftLastAccessTime));
        EXPECT_EQ("dated\n", read_file(path));
    }
}

// While a member's file is written, others may read it but not write, rename
// or delete it; the writer never opens a file that already exists.
TEST(archive, file_being_written_is_locked_against_writers_renames_and_deletions)
{
    temp_folder folder;
    const std::wstring path = folder.file(L"member.bin");
    varnox::archive::target_file file;
    ASSERT_EQ(0u, varnox::archive::target_file::create(path, file));
    ASSERT_EQ(0u, file.write(0, "partial", 7));

    const auto open_for = [&](DWORD access, DWORD share) {
        varnox::windows::unique_hfile other(
            ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return other ? ERROR_SUCCESS : ::GetLastError();
    };
    const DWORD everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), open_for(GENERIC_WRITE, everything));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), open_for(DELETE, everything));
    EXPECT_FALSE(::DeleteFileW(path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    EXPECT_FALSE(::MoveFileW(path.c_str(), folder.file(L"renamed.bin").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), open_for(GENERIC_READ, everything));

    varnox::archive::target_file second;
    EXPECT_EQ(static_cast<varnox::archive::file_error>(ERROR_FILE_EXISTS),
              varnox::archive::target_file::create(path, second));

    ASSERT_EQ(0u, file.finish(-1));
    EXPECT_EQ("partial", read_file(path));
    EXPECT_TRUE(::MoveFileW(path.c_str(), folder.file(L"renamed.bin").c_str()));
}

// The name rule itself, on names a reader can check by eye.
TEST(archive, member_name_rule)
{
    const struct {
        const wchar_t* name;
        bool safe;
    } cases[] = {
        {L"client_x64.msi", true},
        {L"sub/deeper/LEAF.TXT", true},
        {L"sub\\file.txt", true},
        {L".hidden", true},
        {L"a..b.txt", true},
        {L"sub/.config/x", true},
        {L"CONSOLE.txt", true},
        {L"CONIN", true},
        {L"COM10", true},
        {L"LPT\u2074", true},
        {L"COM\u00bd", true},
        {L"nullify.txt", true},
        {L"caf\u00e9/\u0416\u0443\u043a.txt", true},
        {L"\uff0e\uff0e", true},
        {L"", false},
        {L"..", false},
        {L"../x", false},
        {L"a/../../x", false},
        {L"a\\..\\x", false},
        {L"./x", false},
        {L"a/./x", false},
        {L"a/.../x", false},
        {L"a/b.", false},
        {L"a /b", false},
        {L"/x", false},
        {L"\\x", false},
        {L"\\\\server\\share\\x", false},
        {L"C:x", false},
        {L"c:/x", false},
        {L"file.txt:stream", false},
        {L"CON", false},
        {L"con.txt", false},
        {L"a/Prn", false},
        {L"AUX.tar.gz", false},
        {L"NUL", false},
        {L"CONIN$", false},
        {L"conout$.log", false},
        {L"com0", false},
        {L"com1", false},
        {L"sub/COM9.log", false},
        {L"LPT0.txt", false},
        {L"LPT1", false},
        {L"lpt9.txt", false},
        {L"COM\u00b9", false},
        {L"com\u00b2.txt", false},
        {L"LPT\u00b3", false},
        {L"sub/lpt\u00b9.log", false},
        {L"CON /x", false},
        {L"a\x01.txt", false},
        {L"a\x1f.txt", false},
        {L"a\x7f.txt", false},
        {L"a?.txt", false},
        {L"a*.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.name));
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
