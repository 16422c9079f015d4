#include <gtest/gtest.h>

#include <windows.h>

#include <boost/exception/get_error_info.hpp>

#include <string>
#include <thread>

#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/mutex.h"

using varnox::windows::mutex;
using varnox::windows::mutex_exception;
using varnox::windows::unique_handle;

namespace {

// The holder program's exit codes.
constexpr DWORD holder_obtained = 10;
constexpr DWORD holder_timed_out = 11;

std::wstring unique_name()
{
    static int counter = 0;
    return L"varnox-mutex-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

std::wstring holder_command(const wchar_t* mode, const std::wstring& name)
{
    return L"\"" + test_support::windows_path_of_unix(VARNOX_MUTEX_HOLDER) + L"\" " + mode + L" " + name;
}

// The holder program's answer to a wait without time-out on the mutex.
DWORD try_in_other_process(const std::wstring& name)
{
    const test_support::process_result result = test_support::run_process(holder_command(L"try", name), 20000);
    EXPECT_TRUE(result.started);
    return result.exit_code;
}

unique_handle start(const std::wstring& command)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring line = command;
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return unique_handle();
    ::CloseHandle(info.hThread);
    return unique_handle(info.hProcess);
}

// Another process that holds the named mutex until release() is called.
class other_process_holder {
public:
    explicit other_process_holder(const std::wstring& name)
        : _held(::CreateEventW(nullptr, TRUE, FALSE, (name + L".held").c_str())),
          _release(::CreateEventW(nullptr, TRUE, FALSE, (name + L".release").c_str())),
          _process(start(holder_command(L"hold", name)))
    {
        if (!_process)
            ADD_FAILURE() << "the holder did not start";
        const HANDLE either[] = {_held.get(), _process.get()};
        holding = _process && ::WaitForMultipleObjects(2, either, FALSE, 20000) == WAIT_OBJECT_0;
    }
    ~other_process_holder() { release(); }

    // The holder's exit code after it released the mutex.
    DWORD release()
    {
        DWORD code = 0;
        if (_process) {
            ::SetEvent(_release.get());
            ::WaitForSingleObject(_process.get(), 20000);
            ::GetExitCodeProcess(_process.get(), &code);
            _process.reset();
        }
        return code;
    }

    bool holding = false;

private:
    unique_handle _held;
    unique_handle _release;
    unique_handle _process;
};

bool try_lock_on_other_thread(mutex& lock)
{
    bool taken = false;
    std::thread other([&] { taken = lock.try_lock(); });
    other.join();
    return taken;
}

// The thread-side view of a mutex: whether a fresh object of that name gets it
// on another thread (and lets it go again).
bool free_for_other_thread(const std::wstring& name)
{
    bool taken = false;
    std::thread other([&] {
        mutex probe(name);
        taken = probe.try_lock();
    });
    other.join();
    return taken;
}

class mutex_log : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_path = folder.file(L"mutex.log");
        varnox::the_logger().set_path(log_path);
        varnox::the_logger().level = 10;
    }
    void TearDown() override
    {
        varnox::the_logger().set_path(L"");
        varnox::the_logger().level = 2;
    }

    std::string log_text() { return test_support::read_file(log_path); }
    bool logged(const std::wstring& line) { return log_text().find(test_support::to_utf8(line)) != std::string::npos; }

    test_support::temp_folder folder;
    std::wstring log_path;
};

struct thrown {
    bool caught = false;
    std::wstring message;
    std::wstring function;
    int line = -1;
    std::uint32_t code = 0;
};

template <typename Action>
thrown throw_of(Action action)
{
    thrown result;
    try {
        action();
    } catch (const mutex_exception& error) {
        result.caught = true;
        if (const auto* message = boost::get_error_info<varnox::throw_wmessage_>(error))
            result.message = *message;
        if (const auto* function = boost::get_error_info<varnox::throw_wfunction_>(error))
            result.function = *function;
        if (const auto* line = boost::get_error_info<boost::throw_line>(error))
            result.line = *line;
        if (const auto* code = boost::get_error_info<varnox::throw_errorno_>(error))
            result.code = *code;
    }
    return result;
}

} // namespace

// Win32 codes above 0 become FACILITY_WIN32 HRESULTs from their low 16 bits; the rest pass unchanged.
TEST(mutex, error_numbers_become_hresults)
{
    const struct {
        std::uint32_t error;
        std::uint32_t hresult;
    } cases[] = {
        {0, 0},
        {ERROR_FILE_NOT_FOUND, 0x80070002},
        {ERROR_NOT_OWNER, 0x80070120},
        {0x00012345, 0x80072345},
        {0x80004005, 0x80004005},
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(c.hresult, varnox::windows::hresult_from_win32(c.error));
    }
}

// Two objects of one name share the kernel mutex: another thread is refused, the holder's own thread admitted.
TEST(mutex, same_name_in_one_process_is_one_kernel_mutex)
{
    const std::wstring name = unique_name();
    mutex first(name);
    mutex second(name);
    ASSERT_TRUE(first.lock());
    EXPECT_FALSE(try_lock_on_other_thread(second));
    EXPECT_FALSE(second.locked());
    EXPECT_TRUE(second.try_lock()); // recursive for the owning thread
    EXPECT_TRUE(first.lock(0));     // already held by this object: no second wait
    EXPECT_TRUE(first.unlock());
    EXPECT_FALSE(free_for_other_thread(name)); // second still holds it
    EXPECT_TRUE(second.unlock());
    EXPECT_FALSE(first.unlock()); // nothing left to release
    EXPECT_TRUE(free_for_other_thread(name));
}

// Unnamed mutexes are separate objects: holding one does not hold another.
TEST(mutex, unnamed_mutexes_are_independent)
{
    mutex first;
    mutex second;
    ASSERT_TRUE(first.lock());
    EXPECT_TRUE(try_lock_on_other_thread(second));
    EXPECT_TRUE(first.unlock());
}

// A mutex held by another process refuses both the created and the opened object without
// waiting or within the time-out; once the holder releases it, either object takes and releases it.
TEST_F(mutex_log, held_by_another_process)
{
    for (const bool open_existing : {false, true}) {
        SCOPED_TRACE(open_existing ? "opened" : "created");
        const std::wstring name = unique_name();
        other_process_holder holder(name);
        ASSERT_TRUE(holder.holding);

        mutex lock(name, open_existing);
        EXPECT_FALSE(lock.try_lock());
        EXPECT_TRUE(logged(L"|T|mutex(79) - The time-out interval (0 millisec) elapsed for mutex (" + name +
                           L"). \r\n"))
            << log_text();
        EXPECT_FALSE(lock.lock(150));
        EXPECT_TRUE(logged(L"|T|mutex(79) - The time-out interval (150 millisec) elapsed for mutex (" + name +
                           L"). \r\n"))
            << log_text();
        EXPECT_FALSE(lock.locked());

        EXPECT_EQ(holder_obtained, holder.release());
        EXPECT_TRUE(lock.lock(10000));
        EXPECT_TRUE(logged(L"|T|mutex(72) - Locked mutex (" + name + L"). \r\n")) << log_text();
        EXPECT_EQ(holder_timed_out, try_in_other_process(name));
        EXPECT_TRUE(lock.unlock()); // the opened handle carries the right to release
        EXPECT_EQ(holder_obtained, try_in_other_process(name));
    }
}

// Destroying a locked mutex releases it for other processes.
TEST(mutex, destruction_releases)
{
    const std::wstring name = unique_name();
    mutex keeper(name); // keeps the kernel object alive after the locked one is gone
    {
        mutex lock(name);
        ASSERT_TRUE(lock.lock());
        EXPECT_EQ(holder_timed_out, try_in_other_process(name));
    }
    EXPECT_EQ(holder_obtained, try_in_other_process(name));
}

// A mutex whose owner process ended without releasing it is reported as not obtained, and logged.
TEST_F(mutex_log, abandoned_mutex_is_not_obtained)
{
    const std::wstring name = unique_name();
    mutex lock(name);
    const test_support::process_result holder =
        test_support::run_process(holder_command(L"abandon", name), 20000);
    ASSERT_TRUE(holder.started);
    ASSERT_EQ(holder_obtained, holder.exit_code);

    EXPECT_FALSE(lock.try_lock());
    EXPECT_FALSE(lock.locked());
    EXPECT_FALSE(lock.unlock());
    EXPECT_TRUE(logged(L"|T|mutex(76) - Mutex (" + name +
                       L") was not released properly by a terminating thread. \r\n"))
        << log_text();
}

// Below level 10 the wait results are not logged.
TEST_F(mutex_log, wait_results_are_logged_only_at_level_10)
{
    varnox::the_logger().level = 9;
    const std::wstring name = unique_name();
    mutex lock(name);
    ASSERT_TRUE(lock.lock());
    EXPECT_TRUE(lock.unlock());
    EXPECT_EQ("", log_text());
}

// A mutex that cannot be created or opened raises with the mode, the name and the error as an HRESULT.
TEST(mutex, construction_failures)
{
    const std::wstring event_name = unique_name();
    unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    ASSERT_TRUE(event);
    const std::wstring missing = unique_name();
    const struct {
        const char* scenario;
        std::wstring name;
        bool open_existing;
        std::wstring message;
        std::uint32_t code;
    } cases[] = {
        {"no mutex of that name to open", missing, true, L"Can't open mutex (" + missing + L").", 0x80070002},
        {"the name belongs to an event", event_name, false, L"Can't create mutex (" + event_name + L").",
         0x80070006},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const thrown error = throw_of([&] { mutex failing(c.name, c.open_existing); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(c.message, error.message);
        EXPECT_EQ(L"varnox::windows::mutex::mutex", error.function);
        EXPECT_EQ(51, error.line);
        EXPECT_EQ(c.code, error.code);
    }
}

// A release that the platform refuses (the lock was taken on another thread) raises and keeps the lock recorded.
TEST(mutex, failed_release_raises_and_stays_locked)
{
    const std::wstring name = unique_name();
    mutex lock(name);
    unique_handle locked(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unique_handle finish(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool released_by_owner = false;
    std::thread owner([&] {
        const bool taken = lock.lock();
        ::SetEvent(locked.get());
        ::WaitForSingleObject(finish.get(), 20000);
        released_by_owner = taken && lock.unlock();
    });
    ::WaitForSingleObject(locked.get(), 20000);
    ASSERT_TRUE(lock.locked());

    const thrown error = throw_of([&] { lock.unlock(); });
    EXPECT_TRUE(error.caught);
    EXPECT_EQ(L"Cannot release mutex (" + name + L").", error.message);
    EXPECT_EQ(L"varnox::windows::mutex::unlock", error.function);
    EXPECT_EQ(96, error.line);
    EXPECT_EQ(0x80070120u, error.code); // ERROR_NOT_OWNER
    EXPECT_TRUE(lock.locked());

    ::SetEvent(finish.get());
    owner.join();
    EXPECT_TRUE(released_by_owner);
}
