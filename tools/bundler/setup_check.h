#pragma once

// A check of a setup file as install.exe reads it: the same scan, the same
// archive reader and the same choices of job and client package as the run,
// over the same file layer. make_setup runs it on every file it writes and
// on any file for --verify.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "job_choice.h"
#include "pe_image.h"

namespace bundler {

struct checked_member {
    std::string name;   // as stored, which install.exe's lookups compare
    std::wstring text;  // as install.exe reads it, by the UTF-8 flag
    std::uint64_t size;
    std::uint64_t packed_size;
    bool folder;
};

// One row of the client package table: the member a kind of Windows gets.
struct package_row {
    const char* windows;
    const char* member;  // null: that Windows gets no package
    bool present;
};

struct setup_report {
    std::uint64_t file_size = 0;
    std::optional<std::uint64_t> payload_offset;
    // Where the archive's end record and comment end, in the file.
    std::optional<std::uint64_t> archive_end;
    pe_facts image;
    bool archive_opens = false;
    std::vector<checked_member> members;
    std::optional<install::job> job;
    std::vector<package_row> packages;
    // What install.exe's reader logged while the file was checked.
    std::vector<std::string> reader_log;
    // Each a sentence; a file with a problem is no setup to ship.
    std::vector<std::string> problems;
    // What would make every run of the chosen job fail, though install.exe
    // reads the file (a client installation without any package): a problem
    // for --verify, a warning when a setup is made.
    std::vector<std::string> job_problems;
    std::vector<std::string> notes;
};

setup_report check_setup(const std::wstring& path);

// The short report of --verify, without the signature's verdict and the
// problems.
void print_report(const setup_report& report, std::FILE* out);

// Text for the console and the messages: UTF-8.
std::string utf8_of(const std::wstring& text);
// A member name fit for a message: control characters as "?".
std::string shown(const std::wstring& name);

} // namespace bundler
