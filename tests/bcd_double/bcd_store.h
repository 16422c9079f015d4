#pragma once

// A BCD store as the provider double keeps it: objects with their type and
// elements, read from and written to the readable text of the fixtures
// (fixtures/README.md describes it).

#include <windows.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bcd_double {

// Bits 24-27 of an element type.
enum class element_format {
    device = 1,
    string = 2,
    object = 3,
    object_list = 4,
    integer = 5,
    boolean = 6,
    integer_list = 7,
};

std::optional<element_format> format_of(std::uint32_t element_type);

// The element types that the fixtures name, as the provider names them
// without their prefix (bcdedit shows "description" for "Description").
std::optional<std::uint32_t> element_type_of(const std::wstring& name);
// The name of a known type, else "0x12345678".
std::wstring element_name_of(std::uint32_t element_type);

// DeviceType of BcdDeviceData: 1 boot, 2 partition, 3 file, 4 ramdisk,
// 5 unknown, 6 qualified partition, 8 locate.
struct device_data {
    std::uint32_t device_type = 0;
    std::wstring additional_options;
    std::wstring path;
};

struct element {
    std::uint32_t type = 0;
    // String and object (one identifier) elements.
    std::wstring text;
    // Object lists.
    std::vector<std::wstring> ids;
    std::uint64_t integer = 0;
    std::vector<std::uint64_t> integers;
    bool boolean = false;
    device_data device;
};

struct bcd_object {
    std::wstring id;
    std::uint32_t type = 0;
    std::vector<element> elements;

    const element* find(std::uint32_t element_type) const;
    element* find(std::uint32_t element_type);
    // The element, or std::out_of_range naming the type.
    const element& at(std::uint32_t element_type) const;
    element& at(std::uint32_t element_type);
    // Replaces the element of that type or appends it.
    void put(const element& value);
    bool remove(std::uint32_t element_type);
};

// How the provider reports an element that the object does not have: as on
// current Windows (ExecMethod fails with 0xD0000225), or with a false
// "ReturnValue" as older clients expect.
enum class absent_form { call_fails, returns_false };

// A call that a test makes fail: ExecMethod of method fails with result, or
// (verdict_false) succeeds with "ReturnValue" false. argument, when not
// empty, narrows it to calls whose "Type" (as 0x%08x) or "Id" equals it.
struct call_failure {
    std::wstring method;
    std::wstring argument;
    bool verdict_false = false;
    HRESULT result = S_OK;
};

// A fixture that cannot be read: the line number and what is wrong there.
class format_error : public std::runtime_error {
public:
    explicit format_error(const std::string& what) : std::runtime_error(what) {}
};

class bcd_store {
public:
    static bcd_store parse(const std::wstring& text);
    static bcd_store read_file(const std::wstring& path);
    std::wstring text() const;
    // Written whole and then moved over the old file.
    bool write_file(const std::wstring& path) const;

    const bcd_object* find(const std::wstring& id) const;
    bcd_object* find(const std::wstring& id);
    // The object, or std::out_of_range naming the identifier.
    const bcd_object& at(const std::wstring& id) const;
    bcd_object& at(const std::wstring& id);
    bool remove(const std::wstring& id);

    // The boot manager's display order; empty when it has none.
    std::vector<std::wstring> display_order() const;
    // The objects whose description is text, exactly.
    std::vector<const bcd_object*> described(const std::wstring& text) const;

    // The store's FilePath: empty for the system store.
    std::wstring file;
    absent_form absent_element = absent_form::call_fails;
    absent_form missing_object = absent_form::call_fails;
    std::vector<bcd_object> objects;
    std::vector<call_failure> failures;
};

// Identifiers compare as GUIDs do: without regard to letter case.
bool same_id(const std::wstring& left, const std::wstring& right);

// Well-known identifiers and element types.
extern const wchar_t boot_manager_id[];
const std::uint32_t windows_boot_manager_type = 0x10100002;
const std::uint32_t boot_loader_type = 0x10200003;
const std::uint32_t type_description = 0x12000004;
const std::uint32_t type_load_options = 0x12000030;
const std::uint32_t type_application_path = 0x12000002;
const std::uint32_t type_application_device = 0x11000001;
const std::uint32_t type_os_device = 0x21000001;
const std::uint32_t type_default_object = 0x23000003;
const std::uint32_t type_display_order = 0x24000001;

} // namespace bcd_double
