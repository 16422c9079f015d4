#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "varnox/windows/lock.h"

using varnox::windows::auto_lock;
using varnox::windows::critical_section;
using varnox::windows::lock_able;

namespace {

bool try_lock_from_other_thread(critical_section& section)
{
    bool taken = false;
    std::thread other([&] {
        taken = section.try_lock();
        if (taken)
            section.unlock();
    });
    other.join();
    return taken;
}

// Counts calls and answers lock() with a chosen result.
class recording_lock : public virtual lock_able {
public:
    explicit recording_lock(bool lock_result) : _lock_result(lock_result) {}
    bool lock() override
    {
        ++locks;
        return _lock_result;
    }
    bool unlock() override
    {
        ++unlocks;
        return true;
    }
    bool try_lock() override { return _lock_result; }

    int locks = 0;
    int unlocks = 0;

private:
    bool _lock_result;
};

} // namespace

// A held critical section refuses other threads at once and re-admits its holder.
TEST(critical_section, try_lock_refuses_other_threads_and_admits_the_holder)
{
    critical_section section;
    ASSERT_TRUE(section.lock());
    EXPECT_FALSE(try_lock_from_other_thread(section));
    EXPECT_TRUE(section.try_lock());  // recursive for its owner
    EXPECT_TRUE(section.unlock());
    EXPECT_FALSE(try_lock_from_other_thread(section));  // still held once
    EXPECT_TRUE(section.unlock());
    EXPECT_TRUE(try_lock_from_other_thread(section));
}

// Threads that increment under the lock never lose an update.
TEST(critical_section, serialises_threads)
{
    critical_section section;
    long counter = 0;
    std::atomic<bool> overlap{false};
    std::atomic<int> inside{0};
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            auto_lock hold(section);
            if (inside.fetch_add(1) != 0)
                overlap = true;
            counter = counter + 1;
            inside.fetch_sub(1);
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(60000, counter);
    EXPECT_FALSE(overlap);
}

// auto_lock unlocks only what it managed to lock.
TEST(auto_lock, unlocks_only_after_a_successful_lock)
{
    recording_lock refusing(false);
    { auto_lock hold(refusing); }
    EXPECT_EQ(1, refusing.locks);
    EXPECT_EQ(0, refusing.unlocks);

    recording_lock granting(true);
    { auto_lock hold(granting); }
    EXPECT_EQ(1, granting.locks);
    EXPECT_EQ(1, granting.unlocks);
}

// An exception leaving an auto_lock scope releases the lock.
TEST(auto_lock, releases_when_an_exception_passes)
{
    critical_section section;
    try {
        auto_lock hold(section);
        EXPECT_FALSE(try_lock_from_other_thread(section));
        throw std::runtime_error("failure inside the scope");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(try_lock_from_other_thread(section));
}
