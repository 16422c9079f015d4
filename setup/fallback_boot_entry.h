#pragma once

namespace install {

// Adds the boot entry that starts Windows with the journal driver disabled,
// after a client installation. Never changes the run's exit code.
void add_fallback_boot_entry();

} // namespace install
