// The add-on installation: how the folder is found from the service's
// command line, and the job itself run in this process against a real
// "Velmora" service, a real archive and a presenter that answers for the
// user. The service exists in this test's prefix only while a test runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "addon_installation.h"
#include "job_test_support.h"
#include "message_ids.h"
#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/mutex.h"

using job_test_support::addon_files;
using job_test_support::files_below;
using test_support::file_exists;
using test_support::to_utf8;

// Blanks of every kind go from both ends first; a pair of enclosing quotes
// goes then, a lone quote stays, and quotes that do not enclose the whole stay.
TEST(trim_and_unquote, trims_then_unquotes)
{
    const struct {
        std::wstring text;
        std::wstring result;
    } cases[] = {
        {L"\"C:\\Program Files\\Velmora Agent\\agent.exe\"", L"C:\\Program Files\\Velmora Agent\\agent.exe"},
        {L"  C:\\Agent\\agent.exe \t", L"C:\\Agent\\agent.exe"},
        {L" \r\n\"C:\\Agent\\agent.exe\"\f\v", L"C:\\Agent\\agent.exe"},
        {L"\"", L"\""},
        {L"  \"  ", L"\""},
        {L"\"\"", L""},
        {L"\"C:\\Agent\\agent.exe\" -service", L"\"C:\\Agent\\agent.exe\" -service"},
        {L"\"C:\\Agent\\agent.exe", L"\"C:\\Agent\\agent.exe"},
        {L"", L""},
        {L" \t ", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.text));
        EXPECT_EQ(to_utf8(c.result), to_utf8(install::trim_and_unquote(c.text)));
    }
}

// The executable is read as Windows reads a service's command line: the
// quoted part when it begins with a quote, the whole trimmed text otherwise;
// trim_and_unquote's own cases give the same.
TEST(service_executable_path, takes_the_quoted_part_or_the_whole_text)
{
    const struct {
        std::wstring binary_path;
        std::wstring executable;
    } cases[] = {
        {L"\"C:\\Program Files\\Velmora Agent\\agent.exe\" -service", L"C:\\Program Files\\Velmora Agent\\agent.exe"},
        {L" \"C:\\Program Files\\Velmora Agent\\agent.exe\"-service ", L"C:\\Program Files\\Velmora Agent\\agent.exe"},
        {L"\"C:\\Program Files\\Velmora Agent\\agent.exe\"", L"C:\\Program Files\\Velmora Agent\\agent.exe"},
        {L"\"C:\\Program Files\\Velmora Agent\\agent.exe", L"C:\\Program Files\\Velmora Agent\\agent.exe"},
        {L"C:\\Program Files\\Velmora Agent\\agent.exe -service", L"C:\\Program Files\\Velmora Agent\\agent.exe -service"},
        {L"  C:\\Agent\\agent.exe\t", L"C:\\Agent\\agent.exe"},
        {L"\"", L"\""},
        {L"\"\"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.binary_path));
        EXPECT_EQ(to_utf8(c.executable), to_utf8(install::service_executable_path(c.binary_path)));
    }
}

// The add-on goes to "emulator" beside the executable; a command line whose
// executable has no full folder gives no folder at all.
TEST(addon_folder_for, is_emulator_beside_the_executable)
{
    const struct {
        std::wstring binary_path;
        std::wstring folder;
    } cases[] = {
        {L"\"C:\\Program Files\\Velmora Agent\\agent.exe\" -service", L"C:\\Program Files\\Velmora Agent\\emulator"},
        // Wine's msiexec registers the path unquoted, with the argument after it.
        {L"C:\\Program Files\\Velmora Agent\\agent.exe -service", L"C:\\Program Files\\Velmora Agent\\emulator"},
        {L"\\\\server\\share\\agent.exe", L"\\\\server\\share\\emulator"},
        {L"D:\\agent.exe", L"D:\\emulator"},
        {L"agent.exe -service", L""},
        {L"\\Agent\\agent.exe", L""},
        {L"C:agent.exe", L""},
        {L"\"\"", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.binary_path));
        EXPECT_EQ(to_utf8(c.folder), to_utf8(install::addon_folder_for(c.binary_path)));
    }
}

namespace {

// Answers the questions in turn (OK once the list is used up) and records
// every box.
class answering_presenter : public install::message_presenter {
public:
    explicit answering_presenter(std::vector<int> answers = {}) : _answers(std::move(answers)) {}

    int show(const std::wstring& text, const std::wstring& caption, UINT style) override
    {
        boxes.push_back({text, caption, style});
        if (_next < _answers.size())
            return _answers[_next++];
        return IDOK;
    }

    struct box {
        std::wstring text;
        std::wstring caption;
        UINT style;
    };
    std::vector<box> boxes;

private:
    std::vector<int> _answers;
    std::size_t _next = 0;
};

std::wstring payload(const char* name)
{
    return test_support::windows_path_of_unix(std::string(VARNOX_JOB_PAYLOADS) + "/" + name);
}

// The "Velmora" service, made afresh with the command line a test gives, and
// the agent's folder in the test's own temporary folder.
class addon_job : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CreateDirectoryW(agent_folder.c_str(), nullptr));
        varnox::the_logger().set_path(log_path);
        varnox::the_logger().level = 2;
    }

    void TearDown() override { varnox::the_logger().set_path(L""); }

    void create_service(const std::wstring& binary_path) { ASSERT_EQ("", service.create(binary_path)); }

    // The boxes' texts as English ids would give them, and their styles.
    static void expect_boxes(const answering_presenter& presenter, const std::vector<std::pair<UINT, UINT>>& expected)
    {
        ASSERT_EQ(expected.size(), presenter.boxes.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("box " + std::to_string(i + 1));
            EXPECT_EQ(job_test_support::english(expected[i].first), to_utf8(presenter.boxes[i].text));
            EXPECT_EQ("Dadar Ozevedeve", to_utf8(presenter.boxes[i].caption));
            EXPECT_EQ(expected[i].second, presenter.boxes[i].style);
        }
    }

    // A log file of its own for each case: the log folds a message that
    // repeats the one before it.
    void fresh_log(const std::string& name)
    {
        log_path = work.file(test_support::from_utf8(name) + L".log");
        varnox::the_logger().set_path(log_path);
    }

    std::string log() const { return test_support::read_file(log_path); }

    test_support::temp_folder work;
    std::wstring agent_folder = work.file(L"Velmora Agent");
    std::wstring emulator = agent_folder + L"\\emulator";
    std::wstring log_path = work.file(L"install.exe.log");
    job_test_support::velmora_service service;
};

} // namespace

// Whether the service's command line is quoted, carries an argument, or has
// blanks around it, the add-on is installed into "emulator" beside its
// executable after OK on question 107, and message 108 follows; exit code 0.
TEST_F(addon_job, installs_beside_the_service_executable)
{
    const std::wstring agent = agent_folder + L"\\agent.exe";
    const std::wstring command_lines[] = {
        L"\"" + agent + L"\" -service",
        L"\"" + agent + L"\"",
        agent + L" -service",
        L"  \"" + agent + L"\" ",
    };
    for (const std::wstring& command_line : command_lines) {
        SCOPED_TRACE(to_utf8(command_line));
        create_service(command_line);
        boost::filesystem::remove_all(emulator);
        const auto archive = varnox::archive::open_unzip(payload("addon.zip"), 0);
        ASSERT_TRUE(archive);
        answering_presenter presenter;

        EXPECT_EQ(0, install::install_addon(*archive, presenter));
        expect_boxes(presenter, {{IDS_ADDON_INSTALL, MB_OKCANCEL | MB_ICONWARNING}, {IDS_ADDON_INSTALLED, MB_OK}});
        EXPECT_EQ(addon_files, files_below(emulator));
    }
    EXPECT_EQ("", log());
}

namespace {

// Holds "LinuxMutex" on a thread of its own, as another installation would.
class other_installation {
public:
    other_installation()
        : _thread([this] {
              varnox::windows::mutex lock(install::addon_mutex_name);
              _holding.set_value(lock.lock(0));
              _release.get_future().wait();
          })
    {
        holding = _holding.get_future().get();
    }
    ~other_installation()
    {
        _release.set_value();
        _thread.join();
    }

    bool holding = false;

private:
    std::promise<bool> _holding;
    std::promise<void> _release;
    std::thread _thread;
};

} // namespace

// Each outcome shows its boxes with their styles and ends with its exit code:
// the mutex held elsewhere, Cancel, an overwrite, a damaged payload, a
// folder outside the ANSI code page, a command line without a full folder.
TEST_F(addon_job, reports_each_outcome_in_its_boxes)
{
    const std::wstring chinese_agent = work.file(L"\u738b Agent");
    ASSERT_TRUE(::CreateDirectoryW(chinese_agent.c_str(), nullptr));
    const struct {
        const char* scenario;
        std::wstring binary_path;
        bool installed_before;
        bool mutex_held;
        const char* archive;
        std::vector<int> answers;
        std::vector<std::pair<UINT, UINT>> boxes;
        int exit_code;
        std::vector<std::string> files;  // in emulator afterwards
        std::string logged;
    } cases[] = {
        {"another installation holds the mutex", L"\"" + agent_folder + L"\\agent.exe\" -service", false, true,
         "addon.zip", {}, {{IDS_ADDON_INSTALLING, MB_OK | MB_ICONWARNING}}, 0, {},
         "|W|install(512) - The mutex (LinuxMutex) is held by another add-on installation, or was abandoned: "
         "nothing is installed. \r\n"},
        {"Cancel on question 107", L"\"" + agent_folder + L"\\agent.exe\" -service", false, false, "addon.zip",
         {IDCANCEL}, {{IDS_ADDON_INSTALL, MB_OKCANCEL | MB_ICONWARNING}}, 2, {},
         "|R|install(524) - The add-on installation was cancelled. \r\n"},
        {"OK on question 105", L"\"" + agent_folder + L"\\agent.exe\" -service", true, false, "addon.zip", {},
         {{IDS_ADDON_OVERWRITE, MB_OKCANCEL | MB_ICONWARNING}, {IDS_ADDON_INSTALLED, MB_OK}}, 0, addon_files, ""},
        {"damaged payload", L"\"" + agent_folder + L"\\agent.exe\" -service", false, false, "addon_damaged.zip",
         {}, {{IDS_ADDON_INSTALL, MB_OKCANCEL | MB_ICONWARNING}, {IDS_ADDON_INSTALL_FAILED, MB_OK | MB_ICONERROR}},
         2, {"linux_conv.img", "readme.txt"},
         "|E|install(530) - Can't extract the add-on into (" + to_utf8(emulator) + ")! \r\n"},
        {"folder outside the ANSI code page", L"\"" + chinese_agent + L"\\agent.exe\"", false, false, "addon.zip",
         {}, {{IDS_ADDON_INSTALL, MB_OKCANCEL | MB_ICONWARNING}, {IDS_ADDON_INSTALL_FAILED, MB_OK | MB_ICONERROR}},
         2, {},
         "|E|install(528) - The add-on folder's path (" + to_utf8(chinese_agent) +
             "\\emulator) cannot be written in the ANSI code page! \r\n"},
        {"command line without a full folder", L"agent.exe -service", false, false, "addon.zip", {},
         {{IDS_SERVICE_REQUIRED, MB_OK | MB_ICONWARNING}}, 2, {},
         "|E|install(522) - The service's command line (agent.exe -service) names no folder to install the "
         "add-on beside! \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        fresh_log(c.scenario);
        create_service(c.binary_path);
        boost::filesystem::remove_all(emulator);
        if (c.installed_before) {
            boost::filesystem::create_directories(emulator + L"\\old");
            test_support::write_file(emulator + L"\\old\\linux_conv.img", "old");
        }
        const auto archive = varnox::archive::open_unzip(payload(c.archive), 0);
        ASSERT_TRUE(archive);
        answering_presenter presenter(c.answers);
        int exit_code = -1;
        if (c.mutex_held) {
            const other_installation other;
            ASSERT_TRUE(other.holding);
            exit_code = install::install_addon(*archive, presenter);
        } else {
            exit_code = install::install_addon(*archive, presenter);
        }

        EXPECT_EQ(c.exit_code, exit_code);
        expect_boxes(presenter, c.boxes);
        EXPECT_EQ(c.files, files_below(emulator));
        EXPECT_FALSE(file_exists(chinese_agent + L"\\emulator"));
        if (!c.logged.empty()) {
            EXPECT_NE(std::string::npos, log().find(c.logged)) << log();
        }
        // The mutex is free again for the next installation (taken and let go
        // on a thread of its own, so that this thread does not own it).
        bool free = false;
        std::thread([&] {
            varnox::windows::mutex next(install::addon_mutex_name);
            free = next.try_lock();
        }).join();
        EXPECT_TRUE(free) << "LinuxMutex is still held";
    }
}

// Without the service, or when "LinuxMutex" names another kind of object so
// that the mutex cannot be created, message 110 is the only box, nothing is
// made, the exit code is 2, and the log says why.
TEST_F(addon_job, missing_service_or_mutex_shows_110)
{
    const auto archive = varnox::archive::open_unzip(payload("addon.zip"), 0);
    ASSERT_TRUE(archive);
    {
        SCOPED_TRACE("no Velmora service");
        answering_presenter presenter;
        EXPECT_EQ(2, install::install_addon(*archive, presenter));
        expect_boxes(presenter, {{IDS_SERVICE_REQUIRED, MB_OK | MB_ICONWARNING}});
        EXPECT_NE(std::string::npos,
                  log().find("|E|install(520) - varnox/windows/service.cpp(707) : "
                             "varnox::windows::service::_get_service - Failed to OpenService (Velmora) "
                             "(0x00000424) \r\n"))
            << log();
    }
    {
        SCOPED_TRACE("LinuxMutex is an event");
        fresh_log("mutex");
        create_service(L"\"" + agent_folder + L"\\agent.exe\" -service");
        const varnox::windows::unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, L"LinuxMutex"));
        ASSERT_TRUE(event);
        answering_presenter presenter;
        EXPECT_EQ(2, install::install_addon(*archive, presenter));
        expect_boxes(presenter, {{IDS_SERVICE_REQUIRED, MB_OK | MB_ICONWARNING}});
        EXPECT_NE(std::string::npos, log().find("|E|install(510) - ")) << log();
        EXPECT_NE(std::string::npos, log().find("Can't create mutex (LinuxMutex). (0x80070006) \r\n")) << log();
    }
    EXPECT_FALSE(file_exists(emulator));
}
