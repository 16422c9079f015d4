#pragma once

#include <string>

#include "messages.h"
#include "prerequisites.h"

namespace install {

// Exit codes of a setup run.
enum exit_code : int {
    exit_success = 0,
    exit_refused = 1,  // missing update, unreadable payload, conflicting filter driver
    exit_failed = 2,   // the job itself failed
};

// Source name that the run and its jobs show in their log prefix.
constexpr wchar_t log_source[] = L"install";

// Fixed message numbers of the run's own log entries.
constexpr int log_line_archive_not_found = 129;
constexpr int log_line_uncaught_exception = 150;
constexpr int log_line_unknown_exception = 151;
constexpr int log_line_standard_exception = 152;

// The log file of an executable: "<temp folder>\<executable file name>.log".
std::wstring log_file_path(const std::wstring& temp_folder, const std::wstring& executable_path);

// One setup run, from start-up to its exit code.
int run();

// The same run with the update probe and the message boxes given by the caller.
int run(hotfix_probe& probe, message_presenter& presenter);

} // namespace install
