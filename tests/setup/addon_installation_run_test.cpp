// install.exe with the add-on payload, run the way an administrator runs it,
// in the prefix "addon", where each test creates the "Velmora" service with
// a quoted path and an argument, as Windows Installer registers it. The
// window helper reads and answers every box, as the user would; a box that
// nobody answers keeps the setup from ending. Windows 7 x64 needs its
// updates listed: the stand-in wmic.exe lists them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "install.h"
#include "job_test_support.h"
#include "message_ids.h"
#include "running_process.h"
#include "test_support.h"
#include "varnox/windows/handle.h"

using job_test_support::addon_files;
using job_test_support::english;
using job_test_support::files_below;
using test_support::answered_box;
using test_support::file_exists;
using test_support::to_utf8;
using test_support::windows_path_of_unix;

namespace {

// A box the setup must show, and how the user answers it.
struct expected_box {
    UINT text_id;
    const char* buttons;  // "1": OK, "1,2": OK and Cancel
    const wchar_t* press;
};

struct addon_run {
    bool ended = false;
    DWORD exit_code = 0;
    std::string log;
};

class addon_installation_run : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(agent_folder.c_str(), nullptr));
        variables.for_setup(temp, VARNOX_STAND_IN_WMIC_DIR);
    }

    void create_service() { ASSERT_EQ("", service.create(L"\"" + agent_folder + L"\\agent.exe\" -service")); }

    // An add-on installed earlier, with a file the new one does not have.
    void install_earlier_addon()
    {
        ASSERT_TRUE(::CreateDirectoryW(emulator.c_str(), nullptr));
        test_support::write_file(emulator + L"\\old.txt", "from the earlier add-on");
    }

    static std::wstring setup() { return windows_path_of_unix(VARNOX_ADDON_SETUP); }

    // Reads the box the setup shows and answers it as told.
    static void answer(const test_support::running_process& process, const expected_box& expected)
    {
        SCOPED_TRACE("box " + std::to_string(expected.text_id));
        const answered_box box = test_support::answer_box(VARNOX_WINDOW_HELPER, process.id(), expected.press);
        ASSERT_TRUE(box.shown) << box.output;
        EXPECT_EQ("Dadar Ozevedeve", box.caption);
        EXPECT_EQ(english(expected.text_id), box.text);
        EXPECT_EQ(expected.buttons, box.buttons);
        EXPECT_TRUE(box.answered) << box.output;
    }

    // Runs the setup, answers the boxes in turn, and waits for its end.
    addon_run run(const std::vector<expected_box>& boxes)
    {
        addon_run outcome;
        test_support::running_process process(L"\"" + setup() + L"\"");
        EXPECT_TRUE(process.started());
        for (const expected_box& box : boxes)
            answer(process, box);
        outcome.ended = process.wait(30000);
        outcome.exit_code = process.exit_code();
        outcome.log = log();
        return outcome;
    }

    std::string log() const { return test_support::read_file(install::log_file_path(temp, setup())); }

    test_support::temp_folder work;
    std::wstring temp = work.file(L"Temp");
    std::wstring agent_folder = work.file(L"Velmora Agent");
    std::wstring emulator = agent_folder + L"\\emulator";
    job_test_support::velmora_service service;
    job_test_support::setup_environment variables;
};

const expected_box ok_on_install = {IDS_ADDON_INSTALL, "1,2", L"ok"};
const expected_box ok_on_overwrite = {IDS_ADDON_OVERWRITE, "1,2", L"ok"};
const expected_box installed = {IDS_ADDON_INSTALLED, "1", L"ok"};

} // namespace

// OK on question 107 installs every member of the payload into "emulator"
// beside the service's executable, message 108 follows, exit code 0.
TEST_F(addon_installation_run, ok_on_107_installs_beside_the_service_executable)
{
    create_service();
    const addon_run outcome = run({ok_on_install, installed});
    ASSERT_TRUE(outcome.ended) << "the setup went on showing boxes";
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    EXPECT_EQ(addon_files, files_below(emulator));
    EXPECT_EQ(std::string::npos, outcome.log.find("|E|")) << outcome.log;
}

// OK on question 105 replaces the earlier add-on: its own files are gone,
// the payload's are there, message 108, exit code 0.
TEST_F(addon_installation_run, ok_on_105_overwrites_the_earlier_addon)
{
    create_service();
    install_earlier_addon();
    const addon_run outcome = run({ok_on_overwrite, installed});
    ASSERT_TRUE(outcome.ended) << "the setup went on showing boxes";
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    EXPECT_EQ(addon_files, files_below(emulator));
}

// Cancel or Escape on either question leaves everything as it was and ends
// with exit code 2, with no further box.
TEST_F(addon_installation_run, cancel_or_escape_leaves_everything_untouched)
{
    create_service();
    const struct {
        bool earlier_addon;
        const wchar_t* press;
    } cases[] = {{false, L"cancel"}, {false, L"escape"}, {true, L"cancel"}, {true, L"escape"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.press) + (c.earlier_addon ? " on 105" : " on 107"));
        boost::filesystem::remove_all(emulator);
        if (c.earlier_addon)
            install_earlier_addon();
        const addon_run outcome =
            run({{c.earlier_addon ? UINT(IDS_ADDON_OVERWRITE) : UINT(IDS_ADDON_INSTALL), "1,2", c.press}});
        ASSERT_TRUE(outcome.ended) << "the setup went on showing boxes";
        EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
        EXPECT_EQ(c.earlier_addon ? std::vector<std::string>{"old.txt"} : std::vector<std::string>{},
                  files_below(emulator));
        EXPECT_EQ(c.earlier_addon, file_exists(emulator));
    }
}

// Without the "Velmora" service the only box is message 110; nothing is
// made and the run ends with exit code 2.
TEST_F(addon_installation_run, without_the_service_shows_110)
{
    const addon_run outcome = run({{IDS_SERVICE_REQUIRED, "1", L"ok"}});
    ASSERT_TRUE(outcome.ended) << "the setup went on showing boxes";
    EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
    EXPECT_FALSE(file_exists(emulator));
    EXPECT_NE(std::string::npos, outcome.log.find("Failed to OpenService (Velmora) (0x00000424)")) << outcome.log;
}

// A second run started while the first waits at its question finds
// "LinuxMutex" held: it shows message 104 and ends with exit code 0, and the
// first one goes on as its user decides.
TEST_F(addon_installation_run, second_run_while_the_first_asks_shows_104)
{
    create_service();
    test_support::running_process first(L"\"" + setup() + L"\"");
    ASSERT_TRUE(first.started());
    // The first run holds the mutex once its question is on the screen.
    answer(first, {IDS_ADDON_INSTALL, "1,2", L""});

    test_support::running_process second(L"\"" + setup() + L"\"");
    ASSERT_TRUE(second.started());
    answer(second, {IDS_ADDON_INSTALLING, "1", L"ok"});
    ASSERT_TRUE(second.wait(30000)) << "the second run went on showing boxes";
    EXPECT_EQ(0u, second.exit_code()) << log();
    EXPECT_FALSE(file_exists(emulator));

    answer(first, ok_on_install);
    answer(first, installed);
    ASSERT_TRUE(first.wait(30000)) << "the first run went on showing boxes";
    EXPECT_EQ(0u, first.exit_code()) << log();
    EXPECT_EQ(addon_files, files_below(emulator));
    EXPECT_NE(std::string::npos,
              log().find("|W|install(512) - The mutex (LinuxMutex) is held by another add-on installation, or was "
                         "abandoned: nothing is installed. \r\n"))
        << log();
}

// A file held open in the earlier add-on keeps it from being removed:
// message 106, then the payload is extracted all the same and message 108
// follows, and the run ends with exit code 2.
TEST_F(addon_installation_run, file_in_use_gives_106_then_108_and_exit_code_2)
{
    create_service();
    install_earlier_addon();
    const std::wstring in_use = emulator + L"\\in_use.log";
    const varnox::windows::unique_hfile held(
        ::CreateFileW(in_use.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(held.valid());

    const addon_run outcome = run({ok_on_overwrite, {IDS_ADDON_REMOVE_FAILED, "1", L"ok"}, installed});
    ASSERT_TRUE(outcome.ended) << "the setup went on showing boxes";
    EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
    // The removal stops at the first file it cannot delete: whether old.txt
    // went before depends on the order in which the folder is read.
    std::vector<std::string> files = files_below(emulator);
    files.erase(std::remove(files.begin(), files.end(), "old.txt"), files.end());
    std::vector<std::string> expected = addon_files;
    expected.push_back("in_use.log");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, files);
    EXPECT_NE(std::string::npos, outcome.log.find("|E|install(526) - Can't remove the existing add-on: ")) << outcome.log;
}
