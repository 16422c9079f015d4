#pragma once

#include <windows.h>

#include <string>

#include "varnox/windows/handle.h"

namespace test_support {

// A program started by a test that goes on while the test answers its
// message boxes; killed at the end unless it has ended.
class running_process {
public:
    // Starts command_line in current_folder (empty: the test's own) with the
    // test's environment.
    explicit running_process(const std::wstring& command_line, const std::wstring& current_folder = std::wstring());
    ~running_process();

    running_process(const running_process&) = delete;
    running_process& operator=(const running_process&) = delete;

    bool started() const { return static_cast<bool>(_process); }
    DWORD id() const { return _id; }
    HANDLE handle() const { return _process.get(); }

    // True when the program ended within timeout_ms; it is killed otherwise.
    bool wait(DWORD timeout_ms);
    DWORD exit_code() const;

private:
    varnox::windows::unique_handle _process;
    DWORD _id = 0;
};

// The value of "name=" in the window helper's output ("caption", "text",
// "buttons", "topmost"); "text" runs to the end. Empty when it is missing.
std::string helper_field(const std::string& output, const std::string& name);

// What the window helper read from a message box it answered.
struct answered_box {
    bool shown = false;
    bool answered = false;  // the button was there and pressed, Escape sent, or nothing asked
    std::string caption;  // UTF-8, as all fields
    std::string buttons;  // the ids of its buttons, "1" or "1,2"
    std::string text;
    std::string output;   // the helper's whole output, for failure messages
};

// Waits up to timeout_ms for a message box of the process, reads it and
// presses the button ("ok", "cancel") or Escape ("escape"), or leaves it
// open (empty press), with the window helper at window_helper (a Unix path
// of the build tree).
answered_box answer_box(const std::string& window_helper, DWORD process_id, const std::wstring& press,
                        DWORD timeout_ms = 20000);

} // namespace test_support
