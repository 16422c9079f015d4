#include "varnox/windows/security.h"

#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

namespace {

bool well_known_sid(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>& sid)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    sid.assign(size, 0);
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return false;
    sid.resize(size);
    return true;
}

} // namespace

security_descriptor administrators_only_descriptor()
{
    std::vector<BYTE> system, administrators;
    if (!well_known_sid(WinLocalSystemSid, system) || !well_known_sid(WinBuiltinAdministratorsSid, administrators))
        return security_descriptor();

    const DWORD ace_size = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    std::vector<BYTE> acl_bytes(sizeof(ACL) + 2 * ace_size + system.size() + administrators.size());
    ACL* acl = reinterpret_cast<ACL*>(acl_bytes.data());
    const DWORD inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!::InitializeAcl(acl, static_cast<DWORD>(acl_bytes.size()), ACL_REVISION) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, system.data()) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, administrators.data()))
        return security_descriptor();

    SECURITY_DESCRIPTOR absolute;
    if (!::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return security_descriptor();

    DWORD size = 0;
    ::MakeSelfRelativeSD(&absolute, nullptr, &size);
    std::vector<BYTE> self_relative(size);
    if (size == 0 || !::MakeSelfRelativeSD(&absolute, self_relative.data(), &size))
        return security_descriptor();
    return security_descriptor(std::move(self_relative));
}

bool is_elevated()
{
    unique_handle token;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        TOKEN_ELEVATION elevation = {};
        DWORD size = 0;
        // Windows XP and Server 2003 know no elevation: the call fails there.
        if (::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size))
            return elevation.TokenIsElevated != 0;
    }
    std::vector<BYTE> administrators;
    BOOL member = FALSE;
    return well_known_sid(WinBuiltinAdministratorsSid, administrators) &&
           ::CheckTokenMembership(nullptr, administrators.data(), &member) && member;
}

security_descriptor scratch_folder_descriptor(bool elevated)
{
    return elevated ? administrators_only_descriptor() : security_descriptor();
}

} // namespace windows
} // namespace varnox
