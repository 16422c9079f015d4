#pragma once

namespace install {

// True when the running Windows is at least major.minor.
bool is_windows_version_or_greater(unsigned major, unsigned minor);

} // namespace install
