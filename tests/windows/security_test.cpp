#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "test_support.h"
#include "varnox/windows/com_ptr.h"
#include "varnox/windows/security.h"

namespace windows = varnox::windows;

namespace {

// The descriptor's discretionary list as SDDL text, read back by the system.
std::wstring dacl_text(PSECURITY_DESCRIPTOR descriptor)
{
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"(not convertible: " + test_support::error_text(::GetLastError()) + L")";
    const windows::unique_hlocal owned(text);
    return text;
}

} // namespace

// Wine keeps no descriptor that a folder is made with (it shows one made from
// the Unix file mode), so the descriptor that the setup asks for is what is
// tested: SYSTEM and the Administrators with full control, inherited by files
// and folders below, protected from the parent's entries, in self-relative
// form that CreateDirectoryW takes.
TEST(security, administrators_only_descriptor_lets_only_system_and_administrators_in)
{
    const windows::security_descriptor descriptor = windows::administrators_only_descriptor();
    ASSERT_FALSE(descriptor.empty());
    EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor.get()));
    EXPECT_EQ(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", dacl_text(descriptor.get()));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_EQ(SE_SELF_RELATIVE | SE_DACL_PROTECTED | SE_DACL_PRESENT,
              control & (SE_SELF_RELATIVE | SE_DACL_PROTECTED | SE_DACL_PRESENT));
}

// Elevated, a scratch folder gets the protected descriptor; otherwise none, so
// that it takes the temporary folder's entries.
TEST(security, scratch_folder_is_protected_only_when_elevated)
{
    EXPECT_EQ(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", dacl_text(windows::scratch_folder_descriptor(true).get()));
    const windows::security_descriptor inherited = windows::scratch_folder_descriptor(false);
    EXPECT_TRUE(inherited.empty());
    EXPECT_EQ(nullptr, inherited.get());
}
