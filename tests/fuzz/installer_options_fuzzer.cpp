// The extraction of the options passed on to the Windows Installer. Input:
// the command line, a zero byte, and the executable's path, in UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "installer_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::wstring command_line = fuzz::wide(input.substr(0, split));
    const std::wstring executable = split == std::string::npos ? std::wstring() : fuzz::wide(input.substr(split + 1));
    const std::wstring options = install::installer_options(command_line, executable);
    // The options are the command line's end, verbatim.
    FUZZ_CHECK(options.size() <= command_line.size());
    FUZZ_CHECK(command_line.compare(command_line.size() - options.size(), options.size(), options) == 0);
    // What is cut off ends where a program name can end.
    if (!options.empty() && options.size() < command_line.size() && command_line[0] != L'"')
        FUZZ_CHECK(options[0] == L' ' || options[0] == L'\t');
    return 0;
}
