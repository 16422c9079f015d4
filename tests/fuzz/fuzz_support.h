#pragma once

// What the fuzz targets share: inputs as files in a scratch folder of the
// process's own, text from bytes, and a log that goes nowhere (but is still
// formatted, so that its formatting is fuzzed too).

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The scratch folder of this process, made once.
const std::string& scratch();
// Writes the bytes to name in the scratch folder and returns its path.
std::string input_file(const std::string& name, const std::string& bytes);
// Removes what stands below the scratch folder under name.
void remove_below(const std::string& name);

void silence_log();

std::wstring wide(const std::string& utf8);

} // namespace fuzz

// Stops the process (a finding) when a property of the code does not hold.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                          \
        if (!(condition))                                                                         \
            ::fuzz::failed(#condition, __FILE__, __LINE__);                                       \
    } while (0)

namespace fuzz {
[[noreturn]] void failed(const char* condition, const char* file, int line);
}
