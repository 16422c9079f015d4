#pragma once

#include "varnox/common/archive.h"

namespace install {

// The one job a setup run does, decided by the archive's members.
enum class job {
    driver_package,     // "dpinst.exe"
    upgrade,            // "upgrade.cmd"
    linux_conversion,   // "linux_conv.img"
    client_installation,
};

// Asks for "dpinst.exe", then "upgrade.cmd", then "linux_conv.img"; the first
// member found decides and later names are not asked.
job choose_job(const varnox::archive::unzip& archive);

} // namespace install
