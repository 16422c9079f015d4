#include <gtest/gtest.h>

#include <windows.h>

#include <boost/filesystem.hpp>

#include <functional>
#include <random>
#include <string>

#include "convert/boot_ini_edit.h"
#include "running_process.h"
#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/handle.h"

using test_support::file_exists;
using test_support::read_file;
using varnox::windows::unique_hfile;

namespace {

const wchar_t description[] = L"Disable Dovrant Driver";

// The boot.ini samples of a Windows XP, a Windows Server 2003 with a serial
// console, a machine with two systems, and one with a debug copy and the
// recovery console; written with LF here and CR LF on disk.
const std::string xp_sample =
    "[boot loader]\n"
    "timeout=30\n"
    "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\n"
    "[operating systems]\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" /noexecute=optin /fastdetect\n";
const std::string server_sample =
    "[boot loader]\n"
    "timeout=30\n"
    "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\n"
    "redirect=COM1\n"
    "redirectbaudrate=115200\n"
    "[operating systems]\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows Server 2003, Enterprise\" /noexecute=optout /fastdetect /redirect\n"
    "multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS=\"Windows Server 2003, Standard\" /noexecute=optout /fastdetect\n";
const std::string two_systems_sample =
    "[boot loader]\n"
    "timeout=30\n"
    "default=multi(0)disk(0)rdisk(0)partition(3)\\WINDOWS\n"
    "[operating systems]\n"
    "multi(0)disk(0)rdisk(0)partition(3)\\WINDOWS=\"Windows Server 2003, Enterprise RU\" /noexecute=optout /fastdetect\n"
    "multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS=\"Microsoft Windows XP Professional RU\" /noexecute=optin /fastdetect\n"
    "C:\\=\"Microsoft Windows\"\n";
const std::string debug_copy_sample =
    "[boot loader]\n"
    "timeout=30\n"
    "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\n"
    "[operating systems]\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" /noexecute=optin /fastdetect\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional - debug\" /noexecute=optin /fastdetect /debug /debugport=COM1 /baudrate=115200\n"
    "C:\\CMDCONS\\BOOTSECT.DAT=\"Microsoft Windows Recovery Console\" /cmdcons\n";

// A boot.ini whose default line is the given value.
std::string with_default_line(const std::string& key, const std::string& value)
{
    return "[boot loader]\ntimeout=30\ndefault=" + key + "\n[operating systems]\n" + key + "=" + value + "\n";
}

// The XP sample from its default line on.
const std::string xp_from_default = xp_sample.substr(xp_sample.find("default="));
const std::string xp_key = "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS";
const std::string xp_added = xp_key + "=\"Disable Dovrant Driver\" /noexecute=optin /fastdetect /ZMVF:OFF\n";

std::string crlf(const std::string& text)
{
    std::string bytes;
    for (const char c : text) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    return bytes;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

constexpr DWORD rhs = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

DWORD boot_attributes(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) & rhs;
}

// Hidden and system before read-only: Wine takes no further attribute on a read-only file.
void set_boot_attributes(const std::wstring& path, DWORD attributes)
{
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL));
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes));
    }
    ASSERT_EQ(attributes, boot_attributes(path));
}

class boot_ini : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = folder.file(L"boot.ini");
        log_path = folder.file(L"boot.log");
        varnox::the_logger().set_path(log_path);
    }
    void TearDown() override
    {
        varnox::the_logger().set_path(L"");
        // The folder's removal needs writable files.
        for (const wchar_t* suffix : {L"", L".tmp", L".backup"})
            ::SetFileAttributesW((path + suffix).c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    void write(const std::string& text) { test_support::write_file(path, crlf(text)); }
    std::string content() { return read_file(path); }
    std::string log_text() { return read_file(log_path); }

    test_support::temp_folder folder;
    std::wstring path;
    std::wstring log_path;
    boot_ini_edit editor{folder.file(L"boot.ini")};
};

} // namespace

// The added line copies the default line's key and switches under the new description, ends with the
// option once, and goes after the file's last text line.
TEST_F(boot_ini, add_appends_a_copy_of_the_default_line)
{
    const std::string long_switches = " /fastdetect" + std::string(1100, 'x');
    const struct {
        const char* scenario;
        std::string before;
        std::string after;
    } cases[] = {
        {"Windows XP", xp_sample, xp_sample + xp_added},
        {"Windows Server 2003 with a serial console", server_sample,
         server_sample + xp_key + "=\"Disable Dovrant Driver\" /noexecute=optout /fastdetect /redirect /ZMVF:OFF\n"},
        {"two systems: the default is the third partition", two_systems_sample,
         two_systems_sample +
             "multi(0)disk(0)rdisk(0)partition(3)\\WINDOWS=\"Disable Dovrant Driver\" /noexecute=optout /fastdetect /ZMVF:OFF\n"},
        {"duplicate keys: the first line of the default key", debug_copy_sample, debug_copy_sample + xp_added},
        {"no line end after the last line", xp_sample.substr(0, xp_sample.size() - 1), xp_sample + xp_added},
        {"trailing empty and blank lines", xp_sample + "\n\n  \t\n", xp_sample + xp_added},
        {"the option already among the switches",
         with_default_line(xp_key, "\"XP\" /fastdetect /ZMVF:OFF /noexecute=optin /ZMVF:OFF"),
         with_default_line(xp_key, "\"XP\" /fastdetect /ZMVF:OFF /noexecute=optin /ZMVF:OFF") + xp_key +
             "=\"Disable Dovrant Driver\" /fastdetect /noexecute=optin /ZMVF:OFF\n"},
        {"the option as the first switch", with_default_line(xp_key, "\"XP\" /ZMVF:OFF /fastdetect"),
         with_default_line(xp_key, "\"XP\" /ZMVF:OFF /fastdetect") + xp_key +
             "=\"Disable Dovrant Driver\" /fastdetect /ZMVF:OFF\n"},
        {"no switches: the option alone after two blanks", with_default_line("C:\\", "\"Microsoft Windows\""),
         with_default_line("C:\\", "\"Microsoft Windows\"") + "C:\\=\"Disable Dovrant Driver\"  /ZMVF:OFF\n"},
        {"a slash in the quoted name is no switch", with_default_line(xp_key, "\"Windows XP Home/Pro\" /fastdetect"),
         with_default_line(xp_key, "\"Windows XP Home/Pro\" /fastdetect") + xp_key +
             "=\"Disable Dovrant Driver\" /fastdetect /ZMVF:OFF\n"},
        {"switches longer than 1024 characters", with_default_line(xp_key, "\"XP\"" + long_switches),
         with_default_line(xp_key, "\"XP\"" + long_switches) + xp_key + "=\"Disable Dovrant Driver\"" +
             long_switches + " /ZMVF:OFF\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        write(c.before);
        EXPECT_TRUE(editor.add_driver_disabled_entry(description));
        EXPECT_EQ(crlf(c.after), content());
    }
}

// A second add finds the description and changes nothing: the file keeps exactly one such line.
TEST_F(boot_ini, adding_twice_adds_one_line)
{
    write(xp_sample);
    ASSERT_TRUE(editor.add_driver_disabled_entry(description));
    const std::string once = content();
    EXPECT_TRUE(editor.add_driver_disabled_entry(description));
    EXPECT_EQ(once, content());
    EXPECT_EQ(1u, occurrences(content(), "Disable Dovrant Driver"));
}

// The description counts as present wherever it stands in the text, compared case-sensitively.
TEST_F(boot_ini, add_looks_for_the_description_in_the_whole_text)
{
    const struct {
        const char* scenario;
        std::string before;
        bool added;
    } cases[] = {
        {"in a comment, with blank lines kept", xp_sample + "\n; Disable Dovrant Driver comes later\n\n", false},
        {"in the timeout line", "[boot loader]\ntimeout=30 Disable Dovrant Driver\n" + xp_from_default, false},
        {"in other letter case", xp_sample + "; disable dovrant driver\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        write(c.before);
        EXPECT_TRUE(editor.add_driver_disabled_entry(description));
        if (c.added)
            EXPECT_EQ(crlf(c.before + xp_added), content());
        else
            EXPECT_EQ(crlf(c.before), content());
    }
}

// Without a default line to copy, adding fails and the file stays as it was.
TEST_F(boot_ini, add_without_a_default_line_fails)
{
    const struct {
        const char* scenario;
        std::string before;
    } cases[] = {
        {"no default in boot loader", "[boot loader]\ntimeout=30\n[operating systems]\n" + xp_key + "=\"XP\" /fastdetect\n"},
        {"an empty default", "[boot loader]\ndefault=\n[operating systems]\n" + xp_key + "=\"XP\" /fastdetect\n"},
        {"no line for the default key", "[boot loader]\ndefault=" + xp_key + "\n[operating systems]\nC:\\=\"Microsoft Windows\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        write(c.before);
        EXPECT_FALSE(editor.add_driver_disabled_entry(description));
        EXPECT_EQ(crlf(c.before), content());
    }
}

// A missing boot.ini makes both operations fail without creating anything.
TEST_F(boot_ini, missing_file_is_not_created)
{
    EXPECT_FALSE(editor.add_driver_disabled_entry(description));
    EXPECT_FALSE(editor.remove_driver_disabled_entry(description));
    EXPECT_FALSE(file_exists(path));
    EXPECT_FALSE(file_exists(path + L".tmp"));
    EXPECT_EQ("", log_text());
}

// Removing drops every line with the description and writes the others one per line, trimmed, without
// blank lines; a file without the description is not touched at all.
TEST_F(boot_ini, remove_leaves_one_trimmed_line_per_kept_line)
{
    const std::string untouched = "\n[boot loader]\n  timeout=30\n\n" + xp_from_default + "\n\n";
    const struct {
        const char* scenario;
        std::string before;
        std::string after;
    } cases[] = {
        {"two old entries among indented and blank lines",
         "[boot loader]\n"
         "  timeout=30\t\n"
         "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\n"
         "\n"
         "[operating systems]\n"
         "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Disable Pellisar Driver\" /fastdetect /ZMVF:OFF\n"
         "   multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" /fastdetect   \n"
         " \n"
         "C:\\=\"Disable Pellisar Driver\"  /ZMVF:OFF\n"
         "C:\\CMDCONS\\BOOTSECT.DAT=\"Microsoft Windows Recovery Console\" /cmdcons",
         "[boot loader]\n"
         "timeout=30\n"
         "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\n"
         "[operating systems]\n"
         "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" /fastdetect\n"
         "C:\\CMDCONS\\BOOTSECT.DAT=\"Microsoft Windows Recovery Console\" /cmdcons\n"},
        {"no entry to remove", untouched, untouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        write(c.before);
        EXPECT_TRUE(editor.remove_driver_disabled_entry(L"Disable Pellisar Driver"));
        EXPECT_EQ(crlf(c.after), content());
    }
}

// Lines added earlier are removed again, leaving the sample as it was.
TEST_F(boot_ini, remove_undoes_add)
{
    write(server_sample);
    ASSERT_TRUE(editor.add_driver_disabled_entry(description));
    EXPECT_TRUE(editor.remove_driver_disabled_entry(description));
    EXPECT_EQ(crlf(server_sample), content());
}

// Read-only, hidden and system survive both operations; a file without them gets none.
TEST_F(boot_ini, attributes_are_kept)
{
    const struct {
        const char* scenario;
        DWORD attributes;
    } cases[] = {
        {"read-only, hidden and system", rhs},
        {"hidden and system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"read-only", FILE_ATTRIBUTE_READONLY},
        {"none", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        write(xp_sample);
        set_boot_attributes(path, c.attributes);

        EXPECT_TRUE(editor.add_driver_disabled_entry(description));
        EXPECT_EQ(crlf(xp_sample + xp_added), content());
        EXPECT_EQ(c.attributes, boot_attributes(path));

        EXPECT_TRUE(editor.remove_driver_disabled_entry(description));
        EXPECT_EQ(crlf(xp_sample), content());
        EXPECT_EQ(c.attributes, boot_attributes(path));
    }
}

// A boot.ini that is not UTF-8, or cannot be read, is never rewritten: both operations fail and say so
// at level 1.
TEST_F(boot_ini, unreadable_or_not_utf8_file_is_left_untouched)
{
    const std::string latin = xp_sample + "C:\\=\"Syst\xE8me de secours\"\n";
    write(latin);
    set_boot_attributes(path, rhs);
    EXPECT_FALSE(editor.add_driver_disabled_entry(description));
    EXPECT_FALSE(editor.remove_driver_disabled_entry(L"secours"));
    EXPECT_EQ(crlf(latin), content());
    EXPECT_EQ(rhs, boot_attributes(path));
    EXPECT_FALSE(file_exists(path + L".tmp"));
    const std::string not_utf8 = "|E|boot_ini(64) - " + test_support::to_utf8(path) +
                                 " is not UTF-8 text; it is left unchanged \r\n";
    EXPECT_EQ(1u, occurrences(log_text(), not_utf8)) << log_text(); // the second is folded into a count

    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    write(xp_sample);
    {
        unique_hfile holder(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(editor.add_driver_disabled_entry(description));
    }
    EXPECT_EQ(crlf(xp_sample), content());
    EXPECT_NE(std::string::npos, log_text().find("|E|boot_ini(61) - Can't read " + test_support::to_utf8(path) +
                                                 " [Error: 32]; it is left unchanged \r\n"))
        << log_text();
}

// When neither the replacement nor its fallback can put the new file in place, boot.ini keeps its content
// and attributes: the result is false, or the fallback's rename error when boot.ini itself cannot be moved.
TEST_F(boot_ini, failed_replacement_leaves_boot_ini_as_it_was)
{
    const struct {
        const char* scenario;
        std::function<unique_hfile()> obstruct;
        bool raises;
    } cases[] = {
        {"the temporary file is held without delete sharing",
         [&] {
             test_support::write_file(path + L".tmp", "");
             return unique_hfile(::CreateFileW((path + L".tmp").c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
         },
         false},
        {"the temporary file's name is taken by a folder",
         [&] {
             ::CreateDirectoryW((path + L".tmp").c_str(), nullptr);
             return unique_hfile();
         },
         false},
        {"boot.ini is held with read sharing only",
         [&] {
             return unique_hfile(
                 ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        write(xp_sample);
        set_boot_attributes(path, rhs);
        {
            unique_hfile holder = c.obstruct();
            if (c.raises)
                EXPECT_THROW(editor.add_driver_disabled_entry(description), boost::filesystem::filesystem_error);
            else
                EXPECT_FALSE(editor.add_driver_disabled_entry(description));
            EXPECT_EQ(rhs, boot_attributes(path));
        }
        EXPECT_EQ(crlf(xp_sample), content());
        EXPECT_FALSE(file_exists(path + L".backup"));

        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        boost::filesystem::remove_all(path + L".tmp");
    }
}

// The fallback keeps the previous file as the backup, also replaces an old backup, and when the
// replacement already took boot.ini away, still moves the new file into place.
TEST_F(boot_ini, fallback_moves_through_the_backup)
{
    const std::wstring temporary = path + L".tmp";
    const std::wstring backup = path + L".backup";
    const std::string new_text = crlf(xp_sample + xp_added);
    const struct {
        const char* scenario;
        bool boot_ini_present;
        bool old_backup;
        std::string temporary_text;
        bool result;
    } cases[] = {
        {"boot.ini present, no backup yet", true, false, new_text, true},
        {"an old backup is replaced", true, true, new_text, true},
        {"boot.ini already gone", false, false, new_text, true},
        {"a temporary file without a default line", true, true, crlf("[boot loader]\ntimeout=30\n"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        boost::filesystem::remove(path);
        boost::filesystem::remove(backup);
        if (c.boot_ini_present)
            write(xp_sample);
        if (c.old_backup)
            test_support::write_file(backup, "old backup");
        test_support::write_file(temporary, c.temporary_text);

        EXPECT_EQ(c.result, replace_boot_ini_through_backup(path, temporary, backup));
        if (c.result) {
            EXPECT_EQ(new_text, content());
            EXPECT_FALSE(file_exists(temporary));
            if (c.boot_ini_present)
                EXPECT_EQ(crlf(xp_sample), read_file(backup));
            else
                EXPECT_FALSE(file_exists(backup));
        } else {
            EXPECT_EQ(crlf(xp_sample), content());
            EXPECT_EQ(c.temporary_text, read_file(temporary));
            EXPECT_EQ("old backup", read_file(backup));
        }
    }
    EXPECT_FALSE(replace_boot_ini_through_backup(path, folder.file(L"missing.tmp"), backup));
}

// What a run killed during a replacement leaves behind, and the next run:
// boot.ini only under the backup name (the fallback between its renames) or
// the new file only under the temporary name (a replacement that had removed
// boot.ini) is moved back before the edit, a
// temporary file left half-written or a stale backup is replaced, and a
// backup that is no boot.ini is never taken for one.
TEST_F(boot_ini, the_run_after_a_killed_replacement_finds_boot_ini_whole)
{
    const std::wstring temporary = path + L".tmp";
    const std::wstring backup = path + L".backup";
    const std::string half = crlf(xp_sample).substr(0, xp_sample.size() / 2);
    const struct {
        const char* left;
        bool boot_ini;             // boot.ini holds the sample
        const char* backup_text;   // null: no backup
        const char* temporary_text;
        bool adding;
        bool result;
        std::string after;         // boot.ini's text afterwards; empty: no boot.ini
    } cases[] = {
        {"boot.ini under the backup name alone", false, "sample", nullptr, true, true, xp_sample + xp_added},
        {"the same, a whole new file beside it", false, "sample", "added", true, true, xp_sample + xp_added},
        {"the same, before a removal", false, "added", nullptr, false, true, xp_sample},
        {"the new file under the temporary name alone", false, nullptr, "added", false, true, xp_sample},
        {"a backup that is no boot.ini", false, "other", nullptr, true, false, ""},
        {"a half-written temporary file", true, nullptr, "half", true, true, xp_sample + xp_added},
        {"a stale backup", true, "other", nullptr, true, true, xp_sample + xp_added},
    };
    const std::string other = crlf("[boot loader]\ntimeout=30\n");
    const auto text_of = [&](const char* name) {
        const std::string which = name;
        return which == "sample"  ? crlf(xp_sample)
               : which == "added" ? crlf(xp_sample + xp_added)
               : which == "half"  ? half
                                  : other;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.left);
        for (const std::wstring& name : {path, temporary, backup})
            boost::filesystem::remove(name);
        if (c.boot_ini)
            write(xp_sample);
        if (c.backup_text)
            test_support::write_file(backup, text_of(c.backup_text));
        if (c.temporary_text)
            test_support::write_file(temporary, text_of(c.temporary_text));

        EXPECT_EQ(c.result, c.adding ? editor.add_driver_disabled_entry(description)
                                     : editor.remove_driver_disabled_entry(description));
        if (c.after.empty()) {
            EXPECT_FALSE(file_exists(path));
            EXPECT_EQ(other, read_file(backup)) << "kept for whoever looks";
        } else {
            EXPECT_EQ(crlf(c.after), content());
        }
    }
    EXPECT_NE(std::string::npos, log_text().find("|W|boot_ini(92) - " + test_support::to_utf8(path) +
                                                 " was missing; moved " + test_support::to_utf8(backup) +
                                                 " back in its place"))
        << log_text();
}

// A process killed at any moment of its edits never leaves boot.ini lost or
// half-written: boot.ini, or the backup or new file in its place, holds one
// of the two whole texts, and the next edit succeeds. Each round kills the
// editing child at another moment. (Wine's ReplaceFileW, killed, often
// leaves boot.ini gone and the new file under the temporary name.)
TEST_F(boot_ini, a_killed_edit_leaves_a_whole_boot_ini_for_the_next_run)
{
    const std::wstring backup = path + L".backup";
    const std::wstring marker = folder.file(L"editing");
    const std::string before = crlf(xp_sample);
    const std::string added = crlf(xp_sample + xp_added);
    std::minstd_rand random(20261210);
    write(xp_sample);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ::DeleteFileW(marker.c_str());
        test_support::running_process child(L"\"" + test_support::windows_path_of_unix(VARNOX_BOOT_INI_EDITING_CHILD) +
                                            L"\" \"" + path + L"\" \"" + marker + L"\"");
        ASSERT_TRUE(child.started());
        for (int waited = 0; waited < 3000 && !file_exists(marker); ++waited)
            ::Sleep(10);
        ASSERT_TRUE(file_exists(marker)) << "the child never got going";
        ::Sleep(static_cast<DWORD>(random() % 20));
        EXPECT_FALSE(child.wait(0)) << "the child stopped editing by itself";

        // Where the next run looks for boot.ini, in its order.
        std::string left;
        for (const std::wstring& name : {path, backup, path + L".tmp"}) {
            if (file_exists(name)) {
                left = read_file(name);
                break;
            }
        }
        EXPECT_TRUE(left == before || left == added) << left;
        EXPECT_TRUE(editor.add_driver_disabled_entry(description));
        EXPECT_EQ(added, content());
    }
}
