#pragma once

// What the native tests share: a scratch folder, files, and programs run
// without a shell.

#include <string>
#include <vector>

#include "platform.h"

namespace native_test {

// A fresh folder below the system's temporary folder, removed with all it
// holds at the end of the scope.
class scratch_folder {
public:
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const std::string& path() const { return _path; }
    std::string file(const std::string& name) const { return _path + "/" + name; }

private:
    std::string _path;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

using bundler::program_run;
program_run run(const std::vector<std::string>& arguments);
// make_setup with the arguments.
program_run make_setup(const std::vector<std::string>& arguments);

std::string fixture(const std::string& name);

} // namespace native_test
