#include "native_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace native_test {

scratch_folder::scratch_folder()
{
    const char* root = std::getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/varnox_native_XXXXXX";
    if (!::mkdtemp(&pattern[0]))
        throw std::runtime_error("cannot make a scratch folder");
    _path = pattern;
}

scratch_folder::~scratch_folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

program_run run(const std::vector<std::string>& arguments) { return bundler::run_program(arguments); }

program_run make_setup(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all = {VARNOX_MAKE_SETUP};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run(all);
}

std::string fixture(const std::string& name) { return std::string(VARNOX_ARCHIVE_FIXTURES) + "/" + name; }

} // namespace native_test
