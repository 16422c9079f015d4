#include "fallback_boot_entry.h"

namespace install {

void add_fallback_boot_entry()
{
    // The boot configuration editors are not built yet: no entry is written.
}

} // namespace install
