#include "bcd_store.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <sstream>

#include "varnox/windows/code_page.h"
#include "varnox/windows/handle.h"

namespace bcd_double {

const wchar_t boot_manager_id[] = L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

namespace {

struct named_type {
    const wchar_t* name;
    std::uint32_t type;
};

// The element names of the platform's reference, without their prefixes.
const named_type element_names[] = {
    {L"ApplicationDevice", 0x11000001},
    {L"ApplicationPath", 0x12000002},
    {L"Description", 0x12000004},
    {L"PreferredLocale", 0x12000005},
    {L"InheritedObjects", 0x14000006},
    {L"LoadOptionsString", 0x12000030},
    {L"DebuggerEnabled", 0x16000010},
    {L"DebuggerType", 0x15000011},
    {L"SerialDebuggerPort", 0x15000013},
    {L"SerialDebuggerBaudRate", 0x15000014},
    {L"DisplayOrder", 0x24000001},
    {L"DefaultObject", 0x23000003},
    {L"Timeout", 0x25000004},
    {L"ToolsDisplayOrder", 0x24000010},
    {L"OSDevice", 0x21000001},
    {L"SystemRoot", 0x22000002},
    {L"NxPolicy", 0x25000020},
    {L"SafeBoot", 0x25000080},
    {L"KernelDebuggerEnabled", 0x260000A0},
    {L"BootStatusPolicy", 0x250000E0},
    {L"DetectKernelAndHal", 0x26000010},
};

struct named_device {
    const wchar_t* name;
    std::uint32_t device_type;
};

const named_device device_names[] = {
    {L"boot", 1}, {L"partition", 2}, {L"file", 3}, {L"ramdisk", 4},
    {L"unknown", 5}, {L"qualified-partition", 6}, {L"locate", 8},
};

bool same_text(const std::wstring& left, const std::wstring& right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

std::wstring trim(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos)
        return std::wstring();
    const size_t last = text.find_last_not_of(L" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::wstring> words(const std::wstring& text)
{
    std::vector<std::wstring> result;
    std::wistringstream stream(text);
    std::wstring word;
    while (stream >> word)
        result.push_back(word);
    return result;
}

std::string narrow(const std::wstring& text)
{
    return varnox::windows::to_code_page(text, CP_UTF8);
}

[[noreturn]] void fail(size_t line_number, const std::wstring& what)
{
    throw format_error("line " + std::to_string(line_number) + ": " + narrow(what));
}

std::optional<std::uint64_t> number_of(const std::wstring& text)
{
    if (text.empty())
        return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    wchar_t* end = nullptr;
    const std::uint64_t value = std::wcstoull(text.c_str(), &end, hex ? 16 : 10);
    if (!end || *end != L'\0' || (!hex && !std::iswdigit(text[0])))
        return std::nullopt;
    return value;
}

std::wstring hex_of(std::uint32_t value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", value);
    return text;
}

HRESULT hresult_of(const std::wstring& text, size_t line_number)
{
    const auto number = number_of(text);
    if (!number || *number > 0xFFFFFFFFu)
        fail(line_number, L"a failure is \"false\" or an HRESULT such as 0x80041001, not \"" + text + L"\"");
    return static_cast<HRESULT>(static_cast<std::uint32_t>(*number));
}

std::wstring absent_form_text(absent_form form)
{
    return form == absent_form::call_fails ? L"call-fails" : L"returns-false";
}

absent_form absent_form_of(const std::wstring& text, size_t line_number)
{
    if (text == L"call-fails")
        return absent_form::call_fails;
    if (text == L"returns-false")
        return absent_form::returns_false;
    fail(line_number, L"expected call-fails or returns-false, not \"" + text + L"\"");
}

void parse_value(element& value, const std::wstring& text, size_t line_number)
{
    const auto format = format_of(value.type);
    if (!format)
        fail(line_number, L"element type " + hex_of(value.type) + L" has no known format");
    switch (*format) {
    case element_format::device: {
        const size_t equals = text.find(L'=');
        const std::wstring kind = trim(text.substr(0, equals));
        std::wstring rest = equals == std::wstring::npos ? std::wstring() : text.substr(equals + 1);
        const auto found = std::find_if(std::begin(device_names), std::end(device_names),
                                        [&](const named_device& d) { return kind == d.name; });
        if (found == std::end(device_names))
            fail(line_number, L"unknown device kind \"" + kind + L"\"");
        value.device.device_type = found->device_type;
        const size_t comma = rest.find(L',');
        value.device.path = trim(rest.substr(0, comma));
        value.device.additional_options = comma == std::wstring::npos ? std::wstring() : trim(rest.substr(comma + 1));
        break;
    }
    case element_format::string:
        value.text = text;
        if (value.text.size() >= 2 && value.text.front() == L'"' && value.text.back() == L'"')
            value.text = value.text.substr(1, value.text.size() - 2);
        break;
    case element_format::object:
        value.text = text;
        break;
    case element_format::object_list:
        value.ids = words(text);
        break;
    case element_format::integer: {
        const auto number = number_of(text);
        if (!number)
            fail(line_number, L"expected a number, not \"" + text + L"\"");
        value.integer = *number;
        break;
    }
    case element_format::boolean:
        if (text == L"yes" || text == L"true")
            value.boolean = true;
        else if (text == L"no" || text == L"false")
            value.boolean = false;
        else
            fail(line_number, L"expected yes or no, not \"" + text + L"\"");
        break;
    case element_format::integer_list:
        for (const auto& word : words(text)) {
            const auto number = number_of(word);
            if (!number)
                fail(line_number, L"expected numbers, not \"" + word + L"\"");
            value.integers.push_back(*number);
        }
        break;
    }
}

std::wstring value_text(const element& value)
{
    std::wstring text;
    switch (*format_of(value.type)) {
    case element_format::device: {
        const auto found = std::find_if(std::begin(device_names), std::end(device_names),
                                        [&](const named_device& d) { return d.device_type == value.device.device_type; });
        text = found != std::end(device_names) ? found->name : L"unknown";
        if (!value.device.path.empty() || !value.device.additional_options.empty())
            text += L"=" + value.device.path;
        if (!value.device.additional_options.empty())
            text += L"," + value.device.additional_options;
        return text;
    }
    case element_format::string: {
        const bool quote = value.text.empty() || value.text != trim(value.text) ||
                           (value.text.front() == L'"' && value.text.back() == L'"');
        return quote ? L"\"" + value.text + L"\"" : value.text;
    }
    case element_format::object:
        return value.text;
    case element_format::object_list:
        for (const auto& id : value.ids)
            text += (text.empty() ? L"" : L" ") + id;
        return text;
    case element_format::integer:
        return std::to_wstring(value.integer);
    case element_format::boolean:
        return value.boolean ? L"yes" : L"no";
    case element_format::integer_list:
        for (const auto number : value.integers)
            text += (text.empty() ? L"" : L" ") + std::to_wstring(number);
        return text;
    }
    return text;
}

} // namespace

std::optional<element_format> format_of(std::uint32_t element_type)
{
    const std::uint32_t format = (element_type >> 24) & 0xF;
    if (format < 1 || format > 7)
        return std::nullopt;
    return static_cast<element_format>(format);
}

std::optional<std::uint32_t> element_type_of(const std::wstring& name)
{
    for (const auto& entry : element_names)
        if (same_text(name, entry.name))
            return entry.type;
    const auto number = number_of(name);
    if (number && name.size() > 2 && name[1] == L'x' && *number <= 0xFFFFFFFFu)
        return static_cast<std::uint32_t>(*number);
    return std::nullopt;
}

std::wstring element_name_of(std::uint32_t element_type)
{
    for (const auto& entry : element_names)
        if (entry.type == element_type)
            return entry.name;
    return hex_of(element_type);
}

bool same_id(const std::wstring& left, const std::wstring& right)
{
    return same_text(left, right);
}

const element* bcd_object::find(std::uint32_t element_type) const
{
    for (const auto& value : elements)
        if (value.type == element_type)
            return &value;
    return nullptr;
}

element* bcd_object::find(std::uint32_t element_type)
{
    return const_cast<element*>(static_cast<const bcd_object*>(this)->find(element_type));
}

const element& bcd_object::at(std::uint32_t element_type) const
{
    if (const element* found = find(element_type))
        return *found;
    throw std::out_of_range("object " + narrow(id) + " has no element " + narrow(element_name_of(element_type)));
}

element& bcd_object::at(std::uint32_t element_type)
{
    return const_cast<element&>(static_cast<const bcd_object*>(this)->at(element_type));
}

void bcd_object::put(const element& value)
{
    if (element* existing = find(value.type))
        *existing = value;
    else
        elements.push_back(value);
}

bool bcd_object::remove(std::uint32_t element_type)
{
    const auto found = std::find_if(elements.begin(), elements.end(),
                                    [&](const element& value) { return value.type == element_type; });
    if (found == elements.end())
        return false;
    elements.erase(found);
    return true;
}

const bcd_object* bcd_store::find(const std::wstring& id) const
{
    for (const auto& object : objects)
        if (same_id(object.id, id))
            return &object;
    return nullptr;
}

bcd_object* bcd_store::find(const std::wstring& id)
{
    return const_cast<bcd_object*>(static_cast<const bcd_store*>(this)->find(id));
}

const bcd_object& bcd_store::at(const std::wstring& id) const
{
    if (const bcd_object* found = find(id))
        return *found;
    throw std::out_of_range("the store has no object " + narrow(id));
}

bcd_object& bcd_store::at(const std::wstring& id)
{
    return const_cast<bcd_object&>(static_cast<const bcd_store*>(this)->at(id));
}

bool bcd_store::remove(const std::wstring& id)
{
    const auto found = std::find_if(objects.begin(), objects.end(),
                                    [&](const bcd_object& object) { return same_id(object.id, id); });
    if (found == objects.end())
        return false;
    objects.erase(found);
    return true;
}

std::vector<std::wstring> bcd_store::display_order() const
{
    const bcd_object* manager = find(boot_manager_id);
    const element* order = manager ? manager->find(type_display_order) : nullptr;
    return order ? order->ids : std::vector<std::wstring>();
}

std::vector<const bcd_object*> bcd_store::described(const std::wstring& text) const
{
    std::vector<const bcd_object*> found;
    for (const auto& object : objects)
        if (const element* description = object.find(type_description))
            if (description->text == text)
                found.push_back(&object);
    return found;
}

bcd_store bcd_store::parse(const std::wstring& text)
{
    bcd_store store;
    enum class section { none, store, object, failures } current = section::none;
    std::wistringstream lines(text);
    std::wstring raw;
    size_t line_number = 0;
    while (std::getline(lines, raw)) {
        ++line_number;
        const std::wstring line = trim(raw);
        if (line.empty() || line[0] == L'#')
            continue;
        if (line.front() == L'[') {
            if (line.back() != L']')
                fail(line_number, L"a section header ends with \"]\"");
            const std::wstring name = trim(line.substr(1, line.size() - 2));
            if (name == L"store") {
                current = section::store;
            } else if (name == L"failures") {
                current = section::failures;
            } else if (name.size() > 2 && name.front() == L'{' && name.back() == L'}') {
                if (store.find(name))
                    fail(line_number, L"object " + name + L" appears twice");
                store.objects.push_back(bcd_object{name, 0, {}});
                current = section::object;
            } else {
                fail(line_number, L"expected [store], [failures] or [{identifier}], not \"" + line + L"\"");
            }
            continue;
        }
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            fail(line_number, L"expected \"name = value\"");
        const std::wstring key = trim(line.substr(0, equals));
        const std::wstring value = trim(line.substr(equals + 1));
        switch (current) {
        case section::none:
            fail(line_number, L"a line before the first section");
        case section::store:
            if (key == L"file")
                store.file = value;
            else if (key == L"absent-element")
                store.absent_element = absent_form_of(value, line_number);
            else if (key == L"missing-object")
                store.missing_object = absent_form_of(value, line_number);
            else
                fail(line_number, L"unknown store setting \"" + key + L"\"");
            break;
        case section::failures: {
            const std::vector<std::wstring> parts = words(key);
            if (parts.empty() || parts.size() > 2)
                fail(line_number, L"expected \"Method [argument] = false\" or \"= 0x...\"");
            call_failure failure;
            failure.method = parts[0];
            failure.argument = parts.size() == 2 ? parts[1] : std::wstring();
            failure.verdict_false = value == L"false";
            if (!failure.verdict_false)
                failure.result = hresult_of(value, line_number);
            store.failures.push_back(failure);
            break;
        }
        case section::object: {
            bcd_object& object = store.objects.back();
            if (key == L"type") {
                const auto number = number_of(value);
                if (!number || *number > 0xFFFFFFFFu)
                    fail(line_number, L"an object type is a number such as 0x10200003");
                object.type = static_cast<std::uint32_t>(*number);
                break;
            }
            const auto type = element_type_of(key);
            if (!type)
                fail(line_number, L"unknown element \"" + key + L"\" (name it by its type, 0x12000004)");
            if (object.find(*type))
                fail(line_number, L"element \"" + key + L"\" appears twice");
            element parsed;
            parsed.type = *type;
            parse_value(parsed, value, line_number);
            object.elements.push_back(parsed);
            break;
        }
        }
    }
    return store;
}

std::wstring bcd_store::text() const
{
    std::wstring out;
    const bool settings = !file.empty() || absent_element != absent_form::call_fails ||
                          missing_object != absent_form::call_fails;
    if (settings) {
        out += L"[store]\n";
        if (!file.empty())
            out += L"file = " + file + L"\n";
        if (absent_element != absent_form::call_fails)
            out += L"absent-element = " + absent_form_text(absent_element) + L"\n";
        if (missing_object != absent_form::call_fails)
            out += L"missing-object = " + absent_form_text(missing_object) + L"\n";
    }
    for (const auto& object : objects) {
        out += (out.empty() ? L"[" : L"\n[") + object.id + L"]\n";
        out += L"type = " + hex_of(object.type) + L"\n";
        for (const auto& value : object.elements) {
            const std::wstring shown = value_text(value);
            out += element_name_of(value.type) + (shown.empty() ? L" =\n" : L" = " + shown + L"\n");
        }
    }
    if (!failures.empty()) {
        out += L"\n[failures]\n";
        for (const auto& failure : failures)
            out += failure.method + (failure.argument.empty() ? L"" : L" " + failure.argument) + L" = " +
                   (failure.verdict_false ? std::wstring(L"false") : hex_of(static_cast<std::uint32_t>(failure.result))) +
                   L"\n";
    }
    return out;
}

bcd_store bcd_store::read_file(const std::wstring& path)
{
    varnox::windows::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw format_error("cannot open " + narrow(path));
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return parse(varnox::windows::from_code_page(bytes, CP_UTF8));
}

bool bcd_store::write_file(const std::wstring& path) const
{
    const std::wstring scratch = path + L".new";
    const std::string bytes = varnox::windows::to_code_page(text(), CP_UTF8);
    {
        varnox::windows::unique_hfile file(::CreateFileW(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size())
            return false;
    }
    return ::MoveFileExW(scratch.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace bcd_double
