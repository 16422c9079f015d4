#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "job_choice.h"
#include "test_support.h"

using install::choose_job;
using install::job;

namespace {

// An archive that holds the given names and records what it was asked.
class listed_archive : public varnox::archive::unzip {
public:
    explicit listed_archive(std::set<std::string> members) : _members(std::move(members)) {}

    bool contains(const std::string& name) const override
    {
        asked.push_back(name);
        return _members.count(name) != 0;
    }
    bool extract(const std::string&, const std::string&) override { return false; }
    bool extract_all(const std::wstring&, std::vector<std::wstring>&) override { return false; }
    std::optional<member_digest> digest(const std::string&) const override { return std::nullopt; }

    mutable std::vector<std::string> asked;

private:
    std::set<std::string> _members;
};

} // namespace

// The first of "dpinst.exe", "upgrade.cmd", "linux_conv.img" that the archive
// holds decides, later names are not asked; without any, the client
// installation runs.
TEST(choose_job, first_member_found_decides)
{
    const struct {
        const char* scenario;
        std::set<std::string> members;
        job expected;
        std::vector<std::string> asked;
    } cases[] = {
        {"driver package beats upgrade", {"dpinst.exe", "upgrade.cmd"}, job::driver_package, {"dpinst.exe"}},
        {"upgrade", {"upgrade.cmd", "client_x64.msi"}, job::upgrade, {"dpinst.exe", "upgrade.cmd"}},
        {"linux conversion beats a client package",
         {"linux_conv.img", "client_x64.msi"},
         job::linux_conversion,
         {"dpinst.exe", "upgrade.cmd", "linux_conv.img"}},
        {"client packages only",
         {"client_x64.msi", "client_x86.msi"},
         job::client_installation,
         {"dpinst.exe", "upgrade.cmd", "linux_conv.img"}},
        {"empty archive", {}, job::client_installation, {"dpinst.exe", "upgrade.cmd", "linux_conv.img"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        listed_archive archive(c.members);
        EXPECT_EQ(c.expected, choose_job(archive));
        EXPECT_EQ(c.asked, archive.asked);
    }
}

// On real archives: a member stored as "Dpinst.exe" selects the driver package
// job, a member in a folder is not taken for its bare name.
TEST(choose_job, reads_real_archives)
{
    const std::string fixtures = VARNOX_ARCHIVE_FIXTURES;
    const auto with_dpinst = varnox::archive::open_unzip(test_support::windows_path_of_unix(fixtures + "/python.zip"), 0);
    ASSERT_TRUE(with_dpinst);
    EXPECT_EQ(job::driver_package, choose_job(*with_dpinst));

    const auto folders_only =
        varnox::archive::open_unzip(test_support::windows_path_of_unix(fixtures + "/python_folders_only.zip"), 0);
    ASSERT_TRUE(folders_only);
    EXPECT_EQ(job::client_installation, choose_job(*folders_only));
}
