#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "job_choice.h"
#include "payload_locator.h"
#include "test_support.h"
#include "unsafe_name_rows.h"
#include "varnox/common/archive.h"
#include "varnox/windows/handle.h"

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

struct outcome {
    DWORD exit_code = 0;
    std::string errors;
};

// make_setup with its standard error read back, for the refusal's text.
outcome make_setup_reporting(const temp_folder& folder, const std::wstring& arguments)
{
    // A file per run, for the same reason as the wait below.
    static int runs = 0;
    const std::wstring errors_path = folder.file(L"make_setup_errors_" + std::to_wstring(++runs) + L".txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    outcome result;
    {
        varnox::windows::unique_hfile errors(::CreateFileW(errors_path.c_str(), GENERIC_WRITE,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                           &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(errors);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = errors.get();
        startup.hStdOutput = errors.get();
        std::wstring command = L"\"" + windows_path_of_unix(VARNOX_MAKE_SETUP) + L"\" " + arguments;
        PROCESS_INFORMATION process{};
        // Wine once failed to start the child with ERROR_INTERNAL_ERROR in a
        // full parallel run; starting it is not what the tests check.
        BOOL started = FALSE;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            if (attempt > 0)
                ::Sleep(200);
            started = ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                       nullptr, &startup, &process);
        }
        EXPECT_TRUE(started) << to_utf8(test_support::error_text(::GetLastError()));
        if (!started)
            return result;
        varnox::windows::unique_handle owned_process(process.hProcess), owned_thread(process.hThread);
        EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.hProcess, 60000));
        ::GetExitCodeProcess(process.hProcess, &result.exit_code);
    }
    // Under Wine the file stays open elsewhere a moment after the child has
    // ended (it inherited the handle); until then the file cannot be removed
    // with the test's folder.
    for (int wait = 0; wait < 100; ++wait) {
        varnox::windows::unique_hfile alone(
            ::CreateFileW(errors_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (alone)
            break;
        ::Sleep(50);
    }
    // The C runtime writes its text with CRLF line ends.
    for (const char c : read_file(errors_path))
        if (c != '\r')
            result.errors += c;
    return result;
}

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

// A ready zip whose member name would leave install.exe's target folder is
// refused with the member's name, for every row of the archive tests' table.
TEST(make_setup, refuses_a_ready_zip_with_an_unsafe_member_name)
{
    const std::vector<unsafe_row> rows = unsafe_rows(VARNOX_ARCHIVE_FIXTURES);
    ASSERT_FALSE(rows.empty());
    temp_folder folder;
    write_file(folder.file(L"install.exe"), image_of(4096));
    const std::wstring output = folder.file(L"setup.exe");
    for (const unsafe_row& row : rows) {
        SCOPED_TRACE(row.index + " " + row.shown);
        const outcome result =
            make_setup_reporting(folder, L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " +
                                             quoted(output) + L" --zip " +
                                             quoted(fixture("unsafe_" + row.index + ".zip")));
        EXPECT_EQ(1u, result.exit_code) << result.errors;
        EXPECT_FALSE(file_exists(output));
        EXPECT_NE(std::string::npos, result.errors.find("member name would leave the setup program's target folder: "))
            << result.errors;
        // Escaped rows hold characters that the message shows as they are.
        if (row.shown.find('\\') == std::string::npos) {
            EXPECT_NE(std::string::npos, result.errors.find("target folder: " + row.shown + "\n")) << result.errors;
        }
    }
}

// Two members that install.exe would extract to the same file (names equal
// but for the letter case) are refused, from a ready zip and from a list.
TEST(make_setup, refuses_two_members_of_the_same_name)
{
    temp_folder folder;
    write_file(folder.file(L"install.exe"), image_of(4096));
    write_file(folder.file(L"a.txt"), "a");
    write_file(folder.file(L"b.txt"), "b");
    const std::wstring output = folder.file(L"setup.exe");
    const std::wstring common = L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " + quoted(output);
    const struct {
        const char* scenario;
        std::wstring source;
        const char* message;
    } cases[] = {
        {"ready zip", L" --zip " + quoted(fixture("duplicate_names.zip")),
         "two members of the same name: upgrade.cmd and Upgrade.CMD\n"},
        {"member list", L" --member \"notes.txt=" + folder.file(L"a.txt") + L"\" --member \"NOTES.TXT=" +
                            folder.file(L"b.txt") + L"\"",
         "two members of the same name: notes.txt and NOTES.TXT\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const outcome result = make_setup_reporting(folder, common + c.source);
        EXPECT_EQ(1u, result.exit_code) << result.errors;
        EXPECT_FALSE(file_exists(output));
        EXPECT_NE(std::string::npos, result.errors.find(c.message)) << result.errors;
    }
}

// Member names outside the ANSI code page are stored exactly (UTF-8, with
// the archive's UTF-8 flag), so install.exe writes the file under that name.
TEST(make_setup, stores_member_names_outside_the_code_page_exactly)
{
    temp_folder folder;
    write_file(folder.file(L"install.exe"), image_of(4096));
    write_file(folder.file(L"omega.txt"), "omega");
    const std::wstring output = folder.file(L"setup.exe");
    ASSERT_EQ(0u, make_setup(L"--installer " + quoted(folder.file(L"install.exe")) + L" --output " + quoted(output) +
                             L" --member \"\u03a9mega/\u0416.txt=" + folder.file(L"omega.txt") + L"\""));
    const auto archive = varnox::archive::open_unzip(output, 0x100004);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->contains("\xce\xa9mega/\xd0\x96.txt"));
    std::vector<std::wstring> written;
    ASSERT_TRUE(archive->extract_all(folder.file(L"out"), written));
    EXPECT_EQ("omega", read_file(folder.file(L"out\\\u03a9mega\\\u0416.txt")));
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

// The native make_setup, which made the build's setups, and this Windows one
// make the same bytes from the same installer and members, named one by one
// or found in a folder.
TEST(make_setup, windows_and_native_bundlers_make_the_same_file)
{
    const std::string bundled = VARNOX_BUNDLED_DIR;
    const struct {
        const char* scenario;
        std::wstring members;
        std::string native_made;
    } cases[] = {
        {"member list",
         L" --member " + quoted(windows_path_of_unix(bundled + "/upgrade.cmd")) + L" --member " +
             quoted(windows_path_of_unix(bundled + "/notes.txt")),
         VARNOX_BUILT_SETUP},
        {"folder", L" --folder " + quoted(fixture("tree")), bundled + "/folder_setup.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        temp_folder folder;
        const std::wstring output = folder.file(L"setup.exe");
        ASSERT_EQ(0u, make_setup(L"--installer " + quoted(windows_path_of_unix(VARNOX_INSTALL_EXE)) + L" --output " +
                                 quoted(output) + c.members));
        const std::string windows_made = read_file(output);
        const std::string native_made = read_file(windows_path_of_unix(c.native_made));
        ASSERT_GT(native_made.size(), 0x100004u);
        EXPECT_EQ(native_made.size(), windows_made.size());
        EXPECT_TRUE(native_made == windows_made) << "the two bundlers' files differ";
    }
}

// The Windows make_setup checks a setup with the same code as the native
// one: the build's setup passes with its members and job, a file without a
// payload fails.
TEST(make_setup, verify_checks_a_setup_as_install_exe_reads_it)
{
    temp_folder folder;
    const outcome good = make_setup_reporting(folder, L"--verify " + quoted(windows_path_of_unix(VARNOX_BUILT_SETUP)));
    EXPECT_EQ(0u, good.exit_code) << good.errors;
    for (const char* expected : {"archive: opens in place, 2 members\n", "  upgrade.cmd\n", "  notes.txt\n",
                                 "job: upgrade (upgrade.cmd)\n", "signature: none\n", "good: 0 problems\n"})
        EXPECT_NE(std::string::npos, good.errors.find(expected)) << expected << "\n" << good.errors;
    const outcome bad = make_setup_reporting(folder, L"--verify " + quoted(windows_path_of_unix(VARNOX_INSTALL_EXE)));
    EXPECT_EQ(1u, bad.exit_code) << bad.errors;
    EXPECT_NE(std::string::npos, bad.errors.find("problem: install.exe finds no payload")) << bad.errors;
}

// The Windows make_setup asks Windows (WinVerifyTrust) about a signature:
// the build's signed setup matches its signature, the same file with a byte
// of its payload region changed no longer does and fails the check. (Wine
// trusts the self-signed test certificate, Windows would not: the signer's
// trust is not what this pins.)
TEST(make_setup, verify_tells_a_signed_setup_from_one_changed_after_signing)
{
    temp_folder folder;
    const std::wstring signed_setup = windows_path_of_unix(VARNOX_SIGNED_SETUP);
    const outcome intact = make_setup_reporting(folder, L"--verify " + quoted(signed_setup));
    EXPECT_NE(std::string::npos, intact.errors.find("certificate table: at offset ")) << intact.errors;
    EXPECT_NE(std::string::npos, intact.errors.find("signature: ")) << intact.errors;
    EXPECT_EQ(std::string::npos, intact.errors.find("no longer matches")) << intact.errors;

    std::string bytes = read_file(signed_setup);
    ASSERT_GT(bytes.size(), 0x100001u);
    bytes[0x100000] = static_cast<char>(bytes[0x100000] ^ 1);
    write_file(folder.file(L"changed.exe"), bytes);
    const outcome changed = make_setup_reporting(folder, L"--verify " + quoted(folder.file(L"changed.exe")));
    EXPECT_EQ(1u, changed.exit_code) << changed.errors;
    EXPECT_NE(std::string::npos,
              changed.errors.find("signature: no longer matches the file: the file was changed after it was signed\n"))
        << changed.errors;
}
