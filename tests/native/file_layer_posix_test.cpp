// The archive reader over the native build's file layer: the same
// extractions as on Windows, with links planted the POSIX way.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "native_support.h"
#include "varnox/common/archive.h"
#include "varnox/common/archive_file.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

using native_test::exists;
using native_test::fixture;
using native_test::read_file;
using native_test::scratch_folder;
using native_test::write_file;

namespace {

std::wstring wide(const std::string& text) { return varnox::windows::from_code_page(text, CP_UTF8); }
std::string narrow(const std::wstring& text) { return varnox::windows::to_code_page(text, CP_UTF8); }

std::string log_text;
void keep_log_line(const wchar_t* line) { log_text += narrow(line); }

// Collects what the reader logs for the rest of the scope.
struct captured_log {
    captured_log()
    {
        log_text.clear();
        varnox::the_logger().level = 2;
        varnox::the_logger().set_debug_output(&keep_log_line);
    }
    ~captured_log() { varnox::the_logger().set_debug_output(nullptr); }
    bool has(const std::string& text) const { return log_text.find(text) != std::string::npos; }
};

// The fixture tree's files by their relative paths, read independently of
// the file layer.
std::vector<std::string> tree_files()
{
    std::vector<std::string> files;
    const std::filesystem::path root = fixture("tree");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.push_back(entry.path().lexically_relative(root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

// Archives of three producers extract to the fixture tree, file for file and
// byte for byte; the list of written files and a listing of the target by
// the file layer both name every file.
TEST(file_layer_posix, extracts_archives_of_several_producers)
{
    const std::vector<std::string> expected = tree_files();
    ASSERT_EQ(6u, expected.size());
    for (const char* producer : {"python.zip", "infozip.zip", "infozip_streamed.zip"}) {
        SCOPED_TRACE(producer);
        scratch_folder work;
        const auto archive = varnox::archive::open_unzip(wide(fixture(producer)), 0);
        ASSERT_TRUE(archive);
        std::vector<std::wstring> written;
        ASSERT_TRUE(archive->extract_all(wide(work.file("out")), written));
        EXPECT_EQ(expected.size(), written.size());
        std::vector<std::wstring> listed;
        ASSERT_EQ(0u, varnox::archive::list_files_below(wide(work.file("out")), listed));
        std::vector<std::string> names;
        for (const std::wstring& name : listed)
            names.push_back(narrow(name));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(expected, names);
        for (const std::string& name : expected)
            EXPECT_EQ(read_file(fixture("tree/" + name)), read_file(work.file("out/" + name))) << name;
        EXPECT_TRUE(std::filesystem::is_directory(work.file("out/empty_folder")) ||
                    std::string(producer) == "infozip_streamed.zip");
    }
}

// A link planted at a member's place is removed and the file it led to stays
// as it was; a link in place of a folder below the target stops the
// extraction before anything is written through it.
TEST(file_layer_posix, never_writes_through_a_link)
{
    scratch_folder work;
    const auto archive = varnox::archive::open_unzip(wide(fixture("python.zip")), 0);
    ASSERT_TRUE(archive);
    write_file(work.file("victim.txt"), "untouched");
    ASSERT_EQ(0, ::mkdir(work.file("out").c_str(), 0777));
    ASSERT_EQ(0, ::symlink(work.file("victim.txt").c_str(), work.file("out/readme.txt").c_str()));
    {
        captured_log log;
        std::vector<std::wstring> written;
        EXPECT_TRUE(archive->extract_all(wide(work.file("out")), written));
        EXPECT_TRUE(log.has("archive(372) - A link stood in place of ")) << log_text;
    }
    EXPECT_EQ("untouched", read_file(work.file("victim.txt")));
    EXPECT_EQ(read_file(fixture("tree/readme.txt")), read_file(work.file("out/readme.txt")));

    ASSERT_EQ(0, ::mkdir(work.file("elsewhere").c_str(), 0777));
    ASSERT_EQ(0, ::mkdir(work.file("out2").c_str(), 0777));
    ASSERT_EQ(0, ::symlink(work.file("elsewhere").c_str(), work.file("out2/sub").c_str()));
    {
        captured_log log;
        std::vector<std::wstring> written;
        EXPECT_FALSE(archive->extract_all(wide(work.file("out2")), written));
        EXPECT_TRUE(log.has("archive(365) - A link stands in place of the folder ")) << log_text;
    }
    EXPECT_FALSE(exists(work.file("elsewhere/inner.txt")));
}

// One member goes to a target in a folder chain that is made on the way; a
// missing member fails and takes the old target with it.
TEST(file_layer_posix, extracts_one_member_into_a_new_folder_chain)
{
    scratch_folder work;
    const auto archive = varnox::archive::open_unzip(wide(fixture("python.zip")), 0);
    ASSERT_TRUE(archive);
    const std::string target = work.file("a/b/c/leaf.txt");
    ASSERT_TRUE(archive->extract("sub/deeper/LEAF.TXT", target));
    EXPECT_EQ(read_file(fixture("tree/sub/deeper/LEAF.TXT")), read_file(target));

    captured_log log;
    EXPECT_FALSE(archive->extract("missing.txt", target));
    EXPECT_FALSE(exists(target));
    EXPECT_TRUE(log.has("archive(368) - mz_zip_reader_extract_file_to_file() failed! ")) << log_text;
}
