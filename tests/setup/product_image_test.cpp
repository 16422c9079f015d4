#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "message_texts.h"
#include "payload_locator.h"
#include "test_support.h"
#include "varnox/windows/handle.h"

namespace {

using test_support::from_utf8;
using test_support::to_utf8;

struct image_case {
    const char* name;
    const char* unix_path;
    WORD machine;
};

// What the PE headers of an executable file say, read from its bytes.
struct pe_facts {
    bool valid = false;
    WORD machine = 0;
    WORD subsystem = 0;
    std::vector<std::string> imported_dlls;
};

template <typename T>
bool read_at(const std::string& bytes, size_t offset, T& value)
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return false;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return true;
}

pe_facts read_pe(const std::string& bytes)
{
    pe_facts facts;
    IMAGE_DOS_HEADER dos = {};
    if (!read_at(bytes, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return facts;
    const size_t nt = static_cast<size_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER file = {};
    WORD magic = 0;
    if (!read_at(bytes, nt, signature) || signature != IMAGE_NT_SIGNATURE ||
        !read_at(bytes, nt + 4, file) || !read_at(bytes, nt + 4 + sizeof(file), magic))
        return facts;
    facts.machine = file.Machine;

    const size_t optional = nt + 4 + sizeof(file);
    IMAGE_DATA_DIRECTORY imports = {};
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        IMAGE_OPTIONAL_HEADER32 header = {};
        if (!read_at(bytes, optional, header))
            return facts;
        facts.subsystem = header.Subsystem;
        imports = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        IMAGE_OPTIONAL_HEADER64 header = {};
        if (!read_at(bytes, optional, header))
            return facts;
        facts.subsystem = header.Subsystem;
        imports = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else {
        return facts;
    }

    std::vector<IMAGE_SECTION_HEADER> sections(file.NumberOfSections);
    const size_t section_table = optional + file.SizeOfOptionalHeader;
    for (size_t i = 0; i < sections.size(); ++i) {
        if (!read_at(bytes, section_table + i * sizeof(IMAGE_SECTION_HEADER), sections[i]))
            return facts;
    }
    const auto file_offset = [&](DWORD rva) -> size_t {
        for (const auto& section : sections) {
            const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        return std::string::npos;
    };

    for (size_t at = file_offset(imports.VirtualAddress); at != std::string::npos;
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor = {};
        if (!read_at(bytes, at, descriptor))
            return facts;
        if (descriptor.Name == 0)
            break;
        const size_t name = file_offset(descriptor.Name);
        if (name == std::string::npos || name >= bytes.size())
            return facts;
        facts.imported_dlls.emplace_back(bytes.c_str() + name);
    }
    facts.valid = true;
    return facts;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The bytes of a resource of a module loaded as a data file.
std::string resource_bytes(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language)
{
    HRSRC found = ::FindResourceExW(module, type, name, language);
    if (!found)
        return std::string();
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data)
        return std::string();
    return std::string(static_cast<const char*>(data), ::SizeofResource(module, found));
}

// The sixteen texts of one string-table block: a length-prefixed UTF-16 string each.
std::vector<std::wstring> string_block_texts(const std::string& block)
{
    std::vector<std::wstring> texts;
    size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        WORD length = 0;
        if (!read_at(block, at, length) || block.size() - at - 2 < length * 2u)
            break;
        std::wstring text(length, L'\0');
        if (length > 0)
            std::memcpy(&text[0], block.data() + at + 2, length * 2u);
        texts.push_back(text);
        at += 2 + length * 2u;
    }
    return texts;
}

std::wstring version_value(const std::vector<char>& record, const std::wstring& name)
{
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904b0\\" + name;
    if (!::VerQueryValueW(record.data(), path.c_str(), &value, &length) || length == 0)
        return std::wstring();
    return std::wstring(static_cast<const wchar_t*>(value));
}

class product_image : public testing::TestWithParam<image_case> {
protected:
    void SetUp() override
    {
        const std::string unix_path = GetParam().unix_path;
        if (unix_path.empty())
            GTEST_SKIP() << "no path configured for " << GetParam().name;
        _path = test_support::windows_path_of_unix(unix_path);
        if (!test_support::file_exists(_path))
            GTEST_SKIP() << unix_path << " has not been built";
    }

    std::wstring _path;
};

// The executable is a GUI program of the right architecture that starts on a
// bare Windows: no DLL of the compiler's runtime among its imports.
TEST_P(product_image, is_a_gui_program_without_compiler_runtime_dlls)
{
    const pe_facts facts = read_pe(test_support::read_file(_path));
    ASSERT_TRUE(facts.valid);
    EXPECT_EQ(GetParam().machine, facts.machine);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, facts.subsystem);
    EXPECT_FALSE(facts.imported_dlls.empty());
    for (const std::string& dll : facts.imported_dlls) {
        SCOPED_TRACE(dll);
        const std::string name = lower(dll);
        EXPECT_EQ(std::string::npos, name.find("libstdc++"));
        EXPECT_EQ(std::string::npos, name.find("libgcc"));
        EXPECT_EQ(std::string::npos, name.find("libwinpthread"));
    }
}

// The executable imports only DLLs that Windows takes from its own folder
// whatever lies beside the program: KnownDLLs, and msvcrt.dll, which older
// releases load as an import of those. The imports are resolved before any
// code of the program runs, so version.dll or crypt32.dll among them would be
// loaded from a Downloads folder that holds a copy.
TEST_P(product_image, imports_only_dlls_that_windows_loads_from_its_own_folder)
{
    const pe_facts facts = read_pe(test_support::read_file(_path));
    ASSERT_TRUE(facts.valid);
    const std::vector<std::string> known = {"kernel32.dll", "advapi32.dll", "user32.dll",
                                            "ole32.dll",    "oleaut32.dll", "msvcrt.dll"};
    EXPECT_FALSE(facts.imported_dlls.empty());
    for (const std::string& dll : facts.imported_dlls) {
        SCOPED_TRACE(dll);
        EXPECT_NE(known.end(), std::find(known.begin(), known.end(), lower(dll)));
    }
}

// The bare image holds no payload signature of its own where the scan looks,
// so a setup made from it finds its payload and not its own bytes.
TEST_P(product_image, image_alone_has_no_payload)
{
    const auto found = install::find_payload_offset(_path);
    EXPECT_FALSE(found.has_value()) << "signature at 0x" << std::hex << found.value_or(0);
}

// The manifest asks for administrator rights, without UI access, and claims
// no particular Windows releases.
TEST_P(product_image, manifest_requires_administrator)
{
    varnox::windows::unique_hmodule module(::LoadLibraryExW(
        _path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module) << to_utf8(test_support::error_text(::GetLastError()));

    HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    HGLOBAL loaded = ::LoadResource(module.get(), found);
    ASSERT_NE(nullptr, loaded);
    const std::string manifest(static_cast<const char*>(::LockResource(loaded)),
                               ::SizeofResource(module.get(), found));

    const size_t element = manifest.find("<requestedExecutionLevel");
    ASSERT_NE(std::string::npos, element) << manifest;
    const std::string attributes = manifest.substr(element, manifest.find('>', element) - element);
    EXPECT_NE(std::string::npos, attributes.find("level=\"requireAdministrator\"")) << attributes;
    EXPECT_NE(std::string::npos, attributes.find("uiAccess=\"false\"")) << attributes;
    EXPECT_EQ(std::string::npos, manifest.find("supportedOS")) << manifest;
}

// The group icon IDI_ICON1 holds nine images, each present as an icon resource.
TEST_P(product_image, carries_the_nine_image_icon)
{
    varnox::windows::unique_hmodule module(::LoadLibraryExW(
        _path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module) << to_utf8(test_support::error_text(::GetLastError()));

    HRSRC found = ::FindResourceW(module.get(), L"IDI_ICON1", RT_GROUP_ICON);
    ASSERT_NE(nullptr, found);
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module.get(), found)));
    ASSERT_NE(nullptr, data);
    const DWORD size = ::SizeofResource(module.get(), found);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries ending in the icon's id.
    ASSERT_GE(size, 6u);
    WORD type = 0;
    WORD count = 0;
    std::memcpy(&type, data + 2, 2);
    std::memcpy(&count, data + 4, 2);
    EXPECT_EQ(1, type);
    ASSERT_EQ(9, count);
    ASSERT_GE(size, 6u + 14u * count);
    for (WORD i = 0; i < count; ++i) {
        WORD id = 0;
        std::memcpy(&id, data + 6 + 14 * i + 12, 2);
        SCOPED_TRACE(id);
        EXPECT_NE(nullptr, ::FindResourceW(module.get(), MAKEINTRESOURCEW(id), RT_ICON));
    }
}

// The version record names the product, its maker and the version.
TEST_P(product_image, version_record_names_product_company_and_version)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(_path.c_str(), &ignored);
    ASSERT_NE(0u, size) << to_utf8(test_support::error_text(::GetLastError()));
    std::vector<char> record(size);
    ASSERT_TRUE(::GetFileVersionInfoW(_path.c_str(), 0, size, record.data()));

    EXPECT_EQ(VARNOX_EXPECTED_PRODUCT_NAME, to_utf8(version_value(record, L"ProductName")));
    EXPECT_EQ(VARNOX_EXPECTED_COMPANY_NAME, to_utf8(version_value(record, L"CompanyName")));
    EXPECT_EQ(VARNOX_EXPECTED_VERSION, to_utf8(version_value(record, L"ProductVersion")));
    EXPECT_EQ(VARNOX_EXPECTED_VERSION, to_utf8(version_value(record, L"FileVersion")));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const std::string fixed_version = std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
                                      std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
                                      std::to_string(HIWORD(fixed->dwProductVersionLS)) + "." +
                                      std::to_string(LOWORD(fixed->dwProductVersionLS));
    EXPECT_EQ(VARNOX_EXPECTED_VERSION, fixed_version);
}

// Each of the three languages has its own copy of the string table, with
// every text exactly as written for that language.
TEST_P(product_image, string_table_is_present_in_all_three_languages)
{
    varnox::windows::unique_hmodule module(::LoadLibraryExW(
        _path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module) << to_utf8(test_support::error_text(::GetLastError()));

    for (WORD language : {WORD(1033), WORD(1028), WORD(2052)}) {
        SCOPED_TRACE(language);
        // Ids 96 to 111 form block 7, ids 112 to 127 block 8.
        const std::vector<std::wstring> block7 =
            string_block_texts(resource_bytes(module.get(), RT_STRING, MAKEINTRESOURCEW(7), language));
        const std::vector<std::wstring> block8 =
            string_block_texts(resource_bytes(module.get(), RT_STRING, MAKEINTRESOURCEW(8), language));
        ASSERT_EQ(16u, block7.size());
        ASSERT_EQ(16u, block8.size());
        for (const auto& row : message_texts::expected_texts) {
            SCOPED_TRACE(row.id);
            const std::wstring& stored = row.id < 112 ? block7[row.id - 96] : block8[row.id - 112];
            EXPECT_EQ(to_utf8(message_texts::text_in(row, language)), to_utf8(stored));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(builds, product_image,
                         testing::Values(image_case{"x86_64", VARNOX_INSTALL_EXE, IMAGE_FILE_MACHINE_AMD64},
                                         image_case{"i686", VARNOX_PRODUCT_EXE, IMAGE_FILE_MACHINE_I386}),
                         [](const testing::TestParamInfo<image_case>& info) { return info.param.name; });

} // namespace
