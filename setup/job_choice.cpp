#include "job_choice.h"

namespace install {

job choose_job(const varnox::archive::unzip& archive)
{
    if (archive.contains("dpinst.exe"))
        return job::driver_package;
    if (archive.contains("upgrade.cmd"))
        return job::upgrade;
    if (archive.contains("linux_conv.img"))
        return job::linux_conversion;
    return job::client_installation;
}

} // namespace install
