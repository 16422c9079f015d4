#include <gtest/gtest.h>

#include <windows.h>

#include "windows_version.h"

namespace {

OSVERSIONINFOEXW running_version()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
#pragma GCC diagnostic pop
    return version;
}

} // namespace

// The version test answers "at least major.minor" around the running version.
TEST(is_windows_version_or_greater, compares_against_the_running_version)
{
    const OSVERSIONINFOEXW running = running_version();
    const unsigned major = running.dwMajorVersion;
    const unsigned minor = running.dwMinorVersion;
    ASSERT_GE(major, 5u);
    const struct {
        const char* scenario;
        unsigned major, minor;
        bool expected;
    } cases[] = {
        {"the running version itself", major, minor, true},
        {"one minor version above", major, minor + 1, false},
        {"one major version below, any minor", major - 1, 99, true},
        {"one major version above", major + 1, 0, false},
        {"Windows Server 2003 / XP x64", 5, 2, major > 5 || (major == 5 && minor >= 2)},
        {"Windows Vista", 6, 0, major >= 6},
        {"Windows 10", 10, 0, major >= 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(c.expected, install::is_windows_version_or_greater(c.major, c.minor));
    }
}
