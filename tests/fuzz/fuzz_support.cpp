#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace fuzz {

namespace {

void discard(const wchar_t*) {}

} // namespace

const std::string& scratch()
{
    static const std::string folder = [] {
        const char* root = std::getenv("TMPDIR");
        std::string pattern = std::string(root && *root ? root : "/tmp") + "/varnox_fuzz_XXXXXX";
        if (!::mkdtemp(&pattern[0]))
            std::abort();
        return pattern;
    }();
    static const struct cleanup {
        ~cleanup()
        {
            std::error_code ignored;
            std::filesystem::remove_all(scratch(), ignored);
        }
    } at_exit;
    return folder;
}

std::string input_file(const std::string& name, const std::string& bytes)
{
    const std::string path = scratch() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

void remove_below(const std::string& name)
{
    std::error_code ignored;
    std::filesystem::remove_all(scratch() + "/" + name, ignored);
}

void silence_log()
{
    varnox::the_logger().level = 2;
    varnox::the_logger().set_debug_output(&discard);
}

std::wstring wide(const std::string& utf8) { return varnox::windows::from_code_page(utf8, CP_UTF8); }

void failed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

} // namespace fuzz
