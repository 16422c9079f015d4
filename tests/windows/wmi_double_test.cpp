// The WMI classes over the in-process double, for what the platform's service
// cannot show: null values, chosen failures, jobs, and what reaches the
// service's interfaces.

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/wmi.h"
#include "wmi_double.h"
#include "wmi_test_support.h"

using namespace wmi_double;
using varnox::windows::com_init;
using varnox::windows::wmi_object;
using varnox::windows::wmi_services;

namespace {

const wchar_t sample_path[] = L"\\\\.\\root\\double:Sample.Name=\"one\"";
const wchar_t sample_relpath[] = L"Sample.Name=\"one\"";

std::string narrow(const std::wstring& text)
{
    return test_support::to_utf8(text);
}

class wmi_double_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, com_init::initialize());
        fake = fake_services::make();

        run_in = fake_object::make_parameters();
        run_in->property(L"Name", CIM_STRING);
        run_out = fake_object::make_parameters();
        run_out->property(L"ReturnValue", CIM_UINT32);
        sample_class = fake_object::make_class(L"Sample");
        sample_class->property(L"Count", CIM_UINT32)
            .property(L"Enabled", CIM_BOOLEAN)
            .property(L"Name", CIM_STRING)
            .property(L"Names", CIM_STRING | CIM_FLAG_ARRAY)
            .property(L"Inner", CIM_OBJECT)
            .method(L"Run", run_in, run_out)
            .method(L"Stop", com_ptr<fake_object>(), run_out);
        fake->add_class(sample_class);
        sample = sample_class->spawn();
        sample->set_path(sample_path).set_relpath(sample_relpath);
        fake->add_instance(sample);
        services = wmi_services(fake.get());
    }
    void TearDown() override
    {
        services = wmi_services();
        ::CoUninitialize();
    }

    wmi_object sample_object() { return wmi_object(sample.get(), services); }

    com_ptr<fake_services> fake;
    com_ptr<fake_object> run_in;
    com_ptr<fake_object> run_out;
    com_ptr<fake_object> sample_class;
    com_ptr<fake_object> sample;
    wmi_services services;
};

} // namespace

// Null values read as 0, false, an empty string or list, succeed, and log
// at level 4; an embedded-object target keeps what it held.
TEST_F(wmi_double_test, null_values_read_as_defaults)
{
    wmi_object object = sample_object();
    log_capture log;
    std::uint32_t count = 7;
    bool enabled = true;
    std::wstring name = L"stale";
    std::vector<std::wstring> names{L"stale"};
    EXPECT_EQ(S_OK, object.get_parameter(count, L"Count"));
    EXPECT_EQ(S_OK, object.get_parameter(enabled, L"Enabled"));
    EXPECT_EQ(S_OK, object.get_parameter(name, L"Name"));
    EXPECT_EQ(S_OK, object.get_parameter(names, L"Names"));
    EXPECT_EQ(0u, count);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(L"", name);
    EXPECT_TRUE(names.empty());

    com_ptr<fake_object> kept = fake_object::make_class(L"Kept");
    wmi_object inner(kept.get(), wmi_services());
    EXPECT_EQ(S_OK, object.get_parameter(inner, L"Inner"));
    EXPECT_EQ(kept.get(), inner.get());
    EXPECT_EQ(nullptr, inner.services().services());

    for (const wchar_t* property : {L"Count", L"Enabled", L"Name", L"Names", L"Inner"}) {
        SCOPED_TRACE(narrow(property));
        EXPECT_EQ(L'I', log.letter_of(L"wmi(484) - _obj_ptr->Get (" + std::wstring(property) + L") return VT_NULL. "));
        EXPECT_TRUE(log.contains(L"wmi(473) - parameter = " + std::wstring(property) + L" "));
    }
}

// Each typed read converts the value the way the value table says.
TEST_F(wmi_double_test, typed_reads_convert)
{
    wmi_object object = sample_object();
    const struct {
        const char* scenario;
        const wchar_t* property;
        variant_copy value;
        std::function<void(wmi_object&)> check;
    } cases[] = {
        {"uint32 above 0x7FFFFFFF as VT_I4 keeps its bits", L"Count", uint32_value(0x80000002u),
         [](wmi_object& o) {
             std::uint32_t v = 0;
             EXPECT_EQ(S_OK, o.get_parameter(v, L"Count"));
             EXPECT_EQ(0x80000002u, v);
         }},
        {"uint32 from a decimal string", L"Count", string_value(L"4096"),
         [](wmi_object& o) {
             std::uint32_t v = 0;
             o.get_parameter(v, L"Count");
             EXPECT_EQ(4096u, v);
         }},
        {"bool from VT_BOOL", L"Enabled", bool_value(true),
         [](wmi_object& o) {
             bool v = false;
             EXPECT_EQ(S_OK, o.get_parameter(v, L"Enabled"));
             EXPECT_TRUE(v);
         }},
        {"bool from a number", L"Enabled", uint32_value(1),
         [](wmi_object& o) {
             bool v = false;
             o.get_parameter(v, L"Enabled");
             EXPECT_TRUE(v);
         }},
        {"string from a number", L"Name", uint32_value(42),
         [](wmi_object& o) {
             std::wstring v;
             o.get_parameter(v, L"Name");
             EXPECT_EQ(L"42", v);
         }},
        {"string list with a null element", L"Names", strings_value({L"a", std::nullopt, L"c"}),
         [](wmi_object& o) {
             std::vector<std::wstring> v;
             EXPECT_EQ(S_OK, o.get_parameter(v, L"Names"));
             EXPECT_EQ((std::vector<std::wstring>{L"a", L"", L"c"}), v);
         }},
        {"string list from a value that is no array", L"Names", string_value(L"single"),
         [](wmi_object& o) {
             std::vector<std::wstring> v{L"stale"};
             EXPECT_EQ(S_OK, o.get_parameter(v, L"Names"));
             EXPECT_TRUE(v.empty());
         }},
        {"empty string list", L"Names", strings_value({}),
         [](wmi_object& o) {
             std::vector<std::wstring> v{L"stale"};
             EXPECT_EQ(S_OK, o.get_parameter(v, L"Names"));
             EXPECT_TRUE(v.empty());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        sample->set(c.property, c.value);
        c.check(object);
    }
}

// A value that cannot be converted raises wmi_exception, inside the family
// that callers catch, after a level-1 line and after the target took its
// null value; the text names the function, the property and the target type.
TEST_F(wmi_double_test, failed_conversions_raise_wmi_exception)
{
    wmi_object object = sample_object();
    std::uint32_t count = 7;
    bool enabled = true;
    std::wstring name = L"stale";
    com_ptr<fake_object> inner = fake_object::make_class(L"Inner");
    const struct {
        const char* scenario;
        const wchar_t* property;
        variant_copy value;
        std::function<void()> read;
        std::wstring message;
        std::wstring log_line;
    } cases[] = {
        {"unsigned from text", L"Count", string_value(L"not a number"), [&] { object.get_parameter(count, L"Count"); },
         L"VariantChangeType (Count) to VT_UI4 failed.",
         L"wmi(780) - VariantChangeType (Count) to VT_UI4 failed (0x80020005). "},
        {"bool from text", L"Enabled", string_value(L"perhaps"), [&] { object.get_parameter(enabled, L"Enabled"); },
         L"VariantChangeType (Enabled) to VT_BOOL failed.",
         L"wmi(782) - VariantChangeType (Enabled) to VT_BOOL failed (0x80020005). "},
        {"string from an object", L"Name", object_value(inner.get()), [&] { object.get_parameter(name, L"Name"); },
         L"VariantChangeType (Name) to VT_BSTR failed.",
         L"wmi(784) - VariantChangeType (Name) to VT_BSTR failed (0x80020005). "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        sample->set(c.property, c.value);
        log_capture log;
        bool family = false;
        try {
            c.read();
        } catch (const varnox::exception_base&) {
            family = true;
        } catch (...) {
        }
        EXPECT_TRUE(family);
        const caught_error error = catch_wmi_error(c.read);
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(0x80020005u, error.code);
        EXPECT_EQ(c.message, error.message);
        EXPECT_EQ(L"varnox::windows::wmi_object::get_parameter", error.function);
        EXPECT_EQ(L'E', log.letter_of(c.log_line));
    }
    EXPECT_EQ(0u, count);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(L"", name);
}

// A "ReturnValue" that is no number raises from the method call, naming it.
TEST_F(wmi_double_test, unconvertible_return_value_raises)
{
    fake->on_method(L"Sample", L"Run", [&](const method_call&, com_ptr<IWbemClassObject>& out) {
        auto result = out_instance(*run_out.get());
        result->property(L"ReturnValue", CIM_STRING, string_value(L"done"));
        out = com_ptr<IWbemClassObject>(result.get());
        return S_OK;
    });
    wmi_object out;
    std::uint32_t return_value = 0;
    std::wstring description;
    const caught_error error =
        catch_wmi_error([&] { services.exec_method(wmi_object(), out, return_value, description, L"Sample", L"Run"); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(0x80020005u, error.code);
    EXPECT_EQ(L"VariantChangeType (ReturnValue) to VT_UI4 failed.", error.message);
    EXPECT_EQ(L"varnox::windows::wmi_services::exec_method", error.function);
}

// A string list whose array cannot be copied fails the read instead of
// reporting success with an empty list.
TEST_F(wmi_double_test, string_list_that_cannot_be_copied_raises)
{
    sample->uncopyable_array(L"Names");
    wmi_object object = sample_object();
    std::vector<std::wstring> names{L"stale"};
    log_capture log;
    const caught_error error = catch_wmi_error([&] { object.get_parameter(names, L"Names"); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(L"SafeArrayCopy (Names) failed.", error.message);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(error.code))) << narrow(hex(error.code));
    EXPECT_EQ(L"varnox::windows::wmi_object::get_parameter", error.function);
    EXPECT_EQ(L'E', log.letter_of(L"wmi(788) - SafeArrayCopy (Names) failed (" + hex(error.code) + L"). "));
}

// An object reused as the target of a fetch, a method's output or an
// embedded read forgets the old object's path and class: the next method
// call and the next input parameters are those of the new object.
TEST_F(wmi_double_test, reused_object_forgets_old_path_and_class)
{
    com_ptr<fake_object> other_class = fake_object::make_class(L"Other");
    com_ptr<fake_object> other_in = fake_object::make_parameters();
    other_in->property(L"Level", CIM_UINT32);
    other_class->method(L"Run", other_in, run_out);
    fake->add_class(other_class);
    com_ptr<fake_object> other = other_class->spawn();
    other->set_path(L"\\\\.\\root\\double:Other.Id=\"2\"").set_relpath(L"Other.Id=\"2\"");
    fake->add_instance(other);
    sample->set(L"Inner", object_value(other.get()));

    std::vector<std::wstring> paths;
    for (const wchar_t* class_name : {L"Sample", L"Other"})
        fake->on_method(class_name, L"Run", [&](const method_call& call, com_ptr<IWbemClassObject>& out) {
            paths.push_back(call.object_path);
            auto result = out_instance(*run_out.get());
            result->property(L"ReturnValue", CIM_BOOLEAN, bool_value(true));
            out = com_ptr<IWbemClassObject>(result.get());
            return S_OK;
        });

    const struct {
        const char* scenario;
        std::function<void(wmi_object&)> take_other;
    } cases[] = {
        {"fetched by path", [&](wmi_object& o) { services.get_wmi_object(o, L"Other.Id=\"2\""); }},
        {"embedded read", [&](wmi_object& o) { sample_object().get_parameter(o, L"Inner"); }},
        {"attached", [&](wmi_object& o) { o.attach(other.get()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        wmi_object reused = sample_object();
        bool return_value = false;
        ASSERT_EQ(S_OK, reused.exec_method(wmi_object(), return_value, L"Run"));
        ASSERT_FALSE(reused.get_input_parameters(L"Run").empty());
        paths.clear();

        c.take_other(reused);
        ASSERT_EQ(static_cast<IWbemClassObject*>(other.get()), reused.get());
        EXPECT_EQ(S_OK, reused.exec_method(wmi_object(), return_value, L"Run"));
        EXPECT_EQ(std::vector<std::wstring>{L"\\\\.\\root\\double:Other.Id=\"2\""}, paths);
        wmi_object in = reused.get_input_parameters(L"Run");
        ASSERT_NE(nullptr, fake_object::from(in.get()));
        EXPECT_TRUE(fake_object::from(in.get())->has_property(L"Level"));
    }
}

// The log lines that tests read are split into letter and text without
// reading past the end of a short or malformed line.
TEST(wmi_test_support, log_lines_parse_safely)
{
    const struct {
        const char* scenario;
        std::wstring line;
        wchar_t letter;
        std::wstring text;
    } cases[] = {
        {"a full line", L"2024-01-01 10:00:00.000 (T0001) |E| wmi(479) - text \n", L'E', L"wmi(479) - text "},
        {"an empty message", L"header |I| \n", L'I', L""},
        {"ends at the closing bar", L"header |I|", L'I', L""},
        {"ends after the letter", L"header |I", 0, L"header |I"},
        {"no bar", L"plain text\n", 0, L"plain text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        log_line parsed;
        EXPECT_NO_THROW(parsed = parse_log_line(c.line));
        EXPECT_EQ(c.letter, parsed.letter);
        EXPECT_EQ(c.text, parsed.text);
    }
}

// An embedded object is taken with a copy of the reader's connection; a value
// that holds no interface leaves the target without an object.
TEST_F(wmi_double_test, embedded_object_read)
{
    wmi_object object = sample_object();
    com_ptr<fake_object> inner = fake_object::make_class(L"Inner");
    sample->set(L"Inner", object_value(inner.get()));
    wmi_object target;
    EXPECT_EQ(S_OK, object.get_parameter(target, L"Inner"));
    EXPECT_EQ(inner.get(), target.get());
    EXPECT_EQ(static_cast<IWbemServices*>(fake.get()), target.services().services());

    sample->set(L"Inner", string_value(L"no object"));
    EXPECT_EQ(S_OK, object.get_parameter(target, L"Inner"));
    EXPECT_TRUE(target.empty());
}

// Each typed write sends the VARIANT and CIM type of the value table to Put.
TEST_F(wmi_double_test, typed_writes_send_table_types)
{
    wmi_object object = sample_object();
    sample->property(L"Odd", CIM_UINT32).fail_get(L"Odd", WBEM_E_FAILED);
    const std::wstring id = L"{1cae1eb7-a0df-4d4d-9851-4860e34ef535}";
    const wchar_t* null_text = nullptr;
    const struct {
        const char* scenario;
        std::function<void()> write;
        const wchar_t* property;
        VARTYPE vt;
        CIMTYPE cim_type;
        std::function<void(const VARIANT&)> check;
    } cases[] = {
        {"unsigned", [&] { object.set_parameter(L"Count", 0x80000002u); }, L"Count", VT_I4, CIM_UINT32,
         [](const VARIANT& v) { EXPECT_EQ(static_cast<LONG>(0x80000002u), v.lVal); }},
        {"signed, type looked up", [&] { object.set_parameter(std::int32_t(-5), L"Count"); }, L"Count", VT_I4,
         CIM_UINT32, [](const VARIANT& v) { EXPECT_EQ(-5, v.lVal); }},
        {"bool", [&] { object.set_parameter(true, L"Enabled"); }, L"Enabled", VT_BOOL, CIM_BOOLEAN,
         [](const VARIANT& v) { EXPECT_EQ(VARIANT_TRUE, v.boolVal); }},
        {"string", [&] { object.set_parameter(L"Name", std::wstring(L"abc")); }, L"Name", VT_BSTR, CIM_STRING,
         [](const VARIANT& v) { EXPECT_STREQ(L"abc", v.bstrVal); }},
        {"string literal value, literal name first", [&] { object.set_parameter(L"Name", L"text"); }, L"Name",
         VT_BSTR, CIM_STRING, [](const VARIANT& v) { EXPECT_STREQ(L"text", v.bstrVal); }},
        {"C string, value first", [&] { object.set_parameter(id.c_str(), L"Name"); }, L"Name", VT_BSTR, CIM_STRING,
         [&](const VARIANT& v) { EXPECT_EQ(id, v.bstrVal); }},
        {"null C string", [&] { object.set_parameter(null_text, L"Name"); }, L"Name", VT_BSTR, CIM_STRING,
         [](const VARIANT& v) { EXPECT_EQ(nullptr, v.bstrVal); }},
        {"string list", [&] { object.set_parameter(L"Names", std::vector<std::wstring>{L"a", L"b"}); }, L"Names",
         VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY,
         [](const VARIANT& v) { EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), strings_of(v)); }},
        {"empty string list", [&] { object.set_parameter(L"Names", std::vector<std::wstring>()); }, L"Names",
         VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY,
         [](const VARIANT& v) {
             ASSERT_NE(nullptr, v.parray);
             EXPECT_EQ(1u, ::SafeArrayGetDim(v.parray));
             EXPECT_EQ(0u, v.parray->rgsabound[0].cElements);
         }},
        {"type that cannot be read", [&] { object.set_parameter(std::int32_t(3), L"Odd"); }, L"Odd", VT_I4, 0,
         [](const VARIANT& v) { EXPECT_EQ(3, v.lVal); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const size_t before = sample->puts().size();
        c.write();
        ASSERT_EQ(before + 1, sample->puts().size());
        const put_record& put = sample->puts().back();
        EXPECT_EQ(c.property, put.name);
        EXPECT_EQ(c.vt, put.value.value.vt);
        EXPECT_EQ(c.cim_type, put.cim_type);
        c.check(put.value.value);
    }
}

// Failing Get and Put calls raise with the property name and the code, after
// a level-1 line; an empty object reports "_obj_ptr is NULL.".
TEST_F(wmi_double_test, read_and_write_failures)
{
    wmi_object object = sample_object();
    sample->fail_get(L"Count", WBEM_E_ACCESS_DENIED).fail_put(L"Name", WBEM_E_READ_ONLY);
    wmi_object empty;
    std::uint32_t count = 7;
    const struct {
        const char* scenario;
        std::function<void()> action;
        std::uint32_t code;
        std::wstring message;
        std::wstring log_line;
        std::wstring function;
    } cases[] = {
        {"get fails", [&] { object.get_parameter(count, L"Count"); }, 0x80041003u, L"_obj_ptr->Get (Count) failed.",
         L"wmi(479) - _obj_ptr->Get (Count) failed (0x80041003). ", L"varnox::windows::wmi_object::get_parameter"},
        {"put fails", [&] { object.set_parameter(L"Name", std::wstring(L"x")); }, 0x80041023u,
         L"_obj_ptr->Put (Name) failed.", L"wmi(556) - _obj_ptr->Put (Name) failed (0x80041023). ",
         L"varnox::windows::wmi_object::set_parameter"},
        {"read from an empty object", [&] { empty.get_parameter(count, L"Count"); }, 0x80004003u,
         L"_obj_ptr is NULL.", L"wmi(461) - _obj_ptr is NULL. ", L"varnox::windows::wmi_object::get_parameter"},
        {"write to an empty object", [&] { empty.set_parameter(L"Count", 1u); }, 0x80004003u, L"_obj_ptr is NULL.",
         L"wmi(461) - _obj_ptr is NULL. ", L"varnox::windows::wmi_object::set_parameter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        log_capture log;
        const caught_error error = catch_wmi_error(c.action);
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(c.code, error.code);
        EXPECT_EQ(c.message, error.message);
        EXPECT_EQ(c.function, error.function);
        EXPECT_EQ(L'E', log.letter_of(c.log_line));
        EXPECT_NE(std::wstring::npos, error.composed.find(L" : " + c.function + L" - " + c.message + L" (" +
                                                          hex(c.code) + L")"));
    }
    EXPECT_EQ(7u, count);
}

// Every request on an unconnected object reports "_services_ptr is NULL."
// with E_POINTER.
TEST_F(wmi_double_test, unconnected_services_raise)
{
    wmi_services unconnected;
    wmi_object out;
    wmi_object in;
    std::uint32_t return_value = 0;
    std::wstring description;
    const struct {
        const char* scenario;
        std::function<void()> action;
        const wchar_t* function;
    } cases[] = {
        {"get_wmi_object", [&] { unconnected.get_wmi_object(out, L"Sample"); },
         L"varnox::windows::wmi_services::get_wmi_object"},
        {"get_input_parameters", [&] { unconnected.get_input_parameters(out, L"Sample", L"Run"); },
         L"varnox::windows::wmi_services::get_input_parameters"},
        {"exec_method", [&] { unconnected.exec_method(in, out, return_value, description, L"Sample", L"Run"); },
         L"varnox::windows::wmi_services::exec_method"},
        {"exec_query", [&] { unconnected.exec_query(L"SELECT * FROM Sample"); },
         L"varnox::windows::wmi_services::exec_query"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        log_capture log;
        const caught_error error = catch_wmi_error(c.action);
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(0x80004003u, error.code);
        EXPECT_EQ(L"_services_ptr is NULL.", error.message);
        EXPECT_EQ(c.function, error.function);
        bool logged = false;
        for (const auto& message : log.messages())
            logged = logged || message.find(L") - _services_ptr is NULL. ") != std::wstring::npos;
        EXPECT_TRUE(logged);
    }
}

// What a method's output object says becomes return_value: its number, 0 when
// "ReturnValue" is missing or null, 0 with an emptied out_parameters when
// there is no output object.
TEST_F(wmi_double_test, method_return_values)
{
    const struct {
        const char* scenario;
        std::function<com_ptr<IWbemClassObject>()> make_out;
        std::uint32_t expected;
        bool expect_out;
        std::wstring log_line;
        wchar_t letter;
    } cases[] = {
        {"ReturnValue 5",
         [&] {
             auto out = out_instance(*run_out.get());
             out->set(L"ReturnValue", uint32_value(5));
             return com_ptr<IWbemClassObject>(out.get());
         },
         5, true, L"wmi(378) - (Sample) (Run) returned (5) (). ", L'I'},
        {"no ReturnValue",
         [&] { return com_ptr<IWbemClassObject>(fake_object::make_parameters().get()); }, 0, true,
         L"wmi(357) - (Sample) (Run) pOut->Get(\"ReturnValue\") (0x80041002). ", L'E'},
        {"null ReturnValue",
         [&] { return com_ptr<IWbemClassObject>(out_instance(*run_out.get()).get()); }, 0, true,
         L"wmi(378) - (Sample) (Run) returned (0) (). ", L'I'},
        {"no output object", [&] { return com_ptr<IWbemClassObject>(); }, 0, false,
         L"wmi(350) - (Sample) (Run) Did not get return value object. ", L'I'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        fake->on_method(L"Sample", L"Run", [&](const method_call&, com_ptr<IWbemClassObject>& out) {
            out = c.make_out();
            return S_OK;
        });
        log_capture log;
        com_ptr<fake_object> stale = fake_object::make_parameters();
        wmi_object out(stale.get(), wmi_services());
        std::uint32_t return_value = 99;
        std::wstring description = L"stale";
        EXPECT_EQ(S_OK, services.exec_method(wmi_object(), out, return_value, description, L"Sample", L"Run"));
        EXPECT_EQ(c.expected, return_value);
        EXPECT_EQ(L"", description);
        EXPECT_EQ(c.expect_out, !out.empty());
        EXPECT_EQ(static_cast<IWbemServices*>(fake.get()), out.services().services());
        EXPECT_EQ(c.letter, log.letter_of(c.log_line));
        EXPECT_EQ(L"ExecMethod Sample Run 0 -", fake->calls.back());
    }
}

// A failing ExecMethod, or a "ReturnValue" that cannot be read for another
// reason than its absence, raises with the path and the method.
TEST_F(wmi_double_test, method_failures_raise)
{
    const struct {
        const char* scenario;
        HRESULT exec_result;
        HRESULT get_failure;
        std::uint32_t code;
        std::wstring message;
        std::wstring log_line;
    } cases[] = {
        {"ExecMethod fails", static_cast<HRESULT>(0xD0000225), S_OK, 0xD0000225u,
         L"_services_ptr->ExecMethod (Sample) (Run) failed.",
         L"wmi(342) - _services_ptr->ExecMethod (Sample) (Run) failed (0xD0000225). "},
        {"ReturnValue read fails", S_OK, static_cast<HRESULT>(WBEM_E_ACCESS_DENIED), 0x80041003u,
         L"(Sample) (Run) pOut->Get(\"ReturnValue\") failed.",
         L"wmi(357) - (Sample) (Run) pOut->Get(\"ReturnValue\") (0x80041003). "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        fake->on_method(L"Sample", L"Run", [&](const method_call&, com_ptr<IWbemClassObject>& out) {
            auto result = out_instance(*run_out.get());
            if (FAILED(c.get_failure))
                result->fail_get(L"ReturnValue", c.get_failure);
            out = com_ptr<IWbemClassObject>(result.get());
            return c.exec_result;
        });
        log_capture log;
        wmi_object out;
        std::uint32_t return_value = 0;
        std::wstring description;
        const caught_error error = catch_wmi_error(
            [&] { services.exec_method(wmi_object(), out, return_value, description, L"Sample", L"Run"); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(c.code, error.code);
        EXPECT_EQ(c.message, error.message);
        EXPECT_EQ(L"varnox::windows::wmi_services::exec_method", error.function);
        EXPECT_EQ(L'E', log.letter_of(c.log_line));
    }
}

// A "ReturnValue" of 4096 makes the call follow the job until it is neither
// starting nor running; the job's error code and text become the outcome.
TEST_F(wmi_double_test, method_waits_for_job)
{
    com_ptr<fake_object> job_class = fake_object::make_class(L"Sample_Job");
    job_class->property(L"JobState", CIM_UINT16).property(L"ErrorCode", CIM_UINT16)
        .property(L"ErrorDescription", CIM_STRING);
    fake->add_class(job_class);
    const std::wstring job_path = L"\\\\.\\root\\double:Sample_Job.InstanceID=\"7\"";
    const struct {
        const char* scenario;
        std::vector<variant_copy> states;  // JobState at each fetch
        std::uint32_t error_code;
        std::wstring error_text;
    } cases[] = {
        {"completed at the first fetch", {uint32_value(7)}, 0, L""},
        {"running, then failed", {uint32_value(4), uint32_value(3), uint32_value(10)}, 32779, L"Device busy"},
        {"null state counts as finished", {null_value()}, 0, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        com_ptr<fake_object> job = job_class->spawn();
        job->set_path(job_path).set_relpath(L"Sample_Job.InstanceID=\"7\"");
        job->set(L"ErrorCode", uint32_value(c.error_code))
            .set(L"ErrorDescription", c.error_text.empty() ? null_value() : string_value(c.error_text));
        fake->add_instance(job);
        size_t fetches = 0;
        fake->before_get_object = [&](const std::wstring& path) {
            if (path == job_path)
                job->set(L"JobState", c.states[std::min(fetches++, c.states.size() - 1)]);
        };
        fake->on_method(L"Sample", L"Run", [&](const method_call&, com_ptr<IWbemClassObject>& out) {
            auto result = out_instance(*run_out.get());
            result->property(L"Job", CIM_REFERENCE, string_value(job_path));
            result->set(L"ReturnValue", uint32_value(4096));
            out = com_ptr<IWbemClassObject>(result.get());
            return S_OK;
        });
        log_capture log;
        wmi_object out;
        std::uint32_t return_value = 0;
        std::wstring description = L"stale";
        EXPECT_EQ(S_OK, services.exec_method(wmi_object(), out, return_value, description, sample_path, L"Run"));
        EXPECT_EQ(c.error_code, return_value);
        EXPECT_EQ(c.error_text, description);
        EXPECT_EQ(c.states.size(), fetches);
        size_t running_lines = 0;
        for (const auto& message : log.messages())
            running_lines += message == L"wmi(738) - Job is still running. ";
        EXPECT_EQ(c.states.size() - 1, running_lines);
        EXPECT_TRUE(log.contains(L"wmi(378) - (" + std::wstring(sample_path) + L") (Run) returned (" +
                                 std::to_wstring(c.error_code) + L") (" + c.error_text + L"). "));
        fake->remove_instance(*job.get());
    }
}

// A method on an object goes through its "__PATH", else its "__Relpath";
// without either it returns E_POINTER and calls nothing.
TEST_F(wmi_double_test, object_method_path_choice)
{
    std::vector<std::wstring> paths;
    fake->on_method(L"Sample", L"Run", [&](const method_call& call, com_ptr<IWbemClassObject>& out) {
        paths.push_back(call.object_path);
        auto result = out_instance(*run_out.get());
        result->property(L"ReturnValue", CIM_BOOLEAN, bool_value(true));
        out = com_ptr<IWbemClassObject>(result.get());
        return S_OK;
    });
    const struct {
        const char* scenario;
        const wchar_t* path;
        const wchar_t* relpath;
        HRESULT expected;
        const wchar_t* used;
    } cases[] = {
        {"path", sample_path, sample_relpath, S_OK, sample_path},
        {"relative path only", L"", sample_relpath, S_OK, sample_relpath},
        {"neither", L"", L"", E_POINTER, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        com_ptr<fake_object> instance = sample_class->spawn();
        instance->set_path(c.path).set_relpath(c.relpath);
        wmi_object object(instance.get(), services);
        paths.clear();
        fake->calls.clear();
        bool return_value = false;
        EXPECT_EQ(c.expected, object.exec_method(wmi_object(), return_value, L"Run"));
        if (c.used) {
            EXPECT_EQ(std::vector<std::wstring>{c.used}, paths);
            EXPECT_TRUE(return_value);
        } else {
            EXPECT_TRUE(fake->calls.empty());
            EXPECT_FALSE(return_value);
        }
    }
}

// The boolean form keeps the output object and reads "ReturnValue" from it.
TEST_F(wmi_double_test, boolean_method_form_keeps_out_parameters)
{
    fake->on_method(L"Sample", L"Run", [&](const method_call& call, com_ptr<IWbemClassObject>& out) {
        auto result = out_instance(*run_out.get());
        result->property(L"ReturnValue", CIM_BOOLEAN, bool_value(true));
        std::wstring name;
        if (auto* in = fake_object::from(call.in_parameters))
            name = in->value(L"Name").value.bstrVal;
        result->property(L"Echo", CIM_STRING, string_value(name));
        out = com_ptr<IWbemClassObject>(result.get());
        return S_OK;
    });
    wmi_object object = sample_object();
    wmi_object in = object.get_input_parameters(L"Run");
    ASSERT_FALSE(in.empty());
    in.set_parameter(L"Name", std::wstring(L"payload"));
    wmi_object out;
    bool return_value = false;
    EXPECT_EQ(S_OK, object.exec_method(in, out, return_value, L"Run"));
    EXPECT_TRUE(return_value);
    std::wstring echo;
    out.get_parameter(echo, L"Echo");
    EXPECT_EQ(L"payload", echo);
    EXPECT_EQ(L"ExecMethod " + std::wstring(sample_path) + L" Run 0 in", fake->calls.back());
}

// Preparing input parameters: a fresh instance of the signature, nothing for a
// method without input, and the texts of failing lookups and spawns.
TEST_F(wmi_double_test, input_parameters)
{
    {
        wmi_object in;
        EXPECT_EQ(S_OK, services.get_input_parameters(in, L"Sample", L"Run"));
        fake_object* spawned = fake_object::from(in.get());
        ASSERT_NE(nullptr, spawned);
        EXPECT_NE(run_in.get(), spawned);
        EXPECT_FALSE(spawned->is_class());
        EXPECT_TRUE(spawned->has_property(L"Name"));
    }
    {
        com_ptr<fake_object> kept = fake_object::make_parameters();
        wmi_object in(kept.get(), wmi_services());
        EXPECT_EQ(S_OK, services.get_input_parameters(in, L"Sample", L"Stop"));
        EXPECT_EQ(kept.get(), in.get());
        EXPECT_TRUE(sample_object().get_input_parameters(L"Stop").empty());
    }
    sample_class->fail_get_method(WBEM_E_ACCESS_DENIED);
    run_in->fail_spawn(WBEM_E_OUT_OF_MEMORY);
    com_ptr<fake_object> spawning = fake_object::make_class(L"Spawning");
    spawning->method(L"Run", run_in, run_out);
    fake->add_class(spawning);
    const struct {
        const char* scenario;
        const wchar_t* class_name;
        std::uint32_t code;
        std::wstring message;
        std::wstring log_line;
    } cases[] = {
        {"GetObject fails", L"Missing", 0x80041010u, L"_services_ptr->GetObject (Missing) failed.",
         L"wmi(298) - pServices->GetObject (Missing) failed (0x80041010). "},
        {"GetMethod fails", L"Sample", 0x80041003u, L"pClass->GetMethod (Sample) (Run) failed.",
         L"wmi(307) - pClass->GetMethod (Sample) (Run) failed (0x80041003). "},
        {"SpawnInstance fails", L"Spawning", 0x80041006u, L"pClass->SpawnInstance (Spawning) (Run) failed.",
         L"wmi(318) - pInClass->SpawnInstance (Spawning) (Run) failed (0x80041006). "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        log_capture log;
        wmi_object in;
        const caught_error error = catch_wmi_error([&] { services.get_input_parameters(in, c.class_name, L"Run"); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(c.code, error.code);
        EXPECT_EQ(c.message, error.message);
        EXPECT_EQ(L'E', log.letter_of(c.log_line));
        EXPECT_TRUE(in.empty());
    }
}

// An object without a class name returns E_POINTER from the first form; the
// value form turns that into an exception naming the method.
TEST_F(wmi_double_test, input_parameters_without_class_name)
{
    com_ptr<fake_object> nameless = fake_object::make_class(L"");
    wmi_object object(nameless.get(), services);
    wmi_object out;
    EXPECT_EQ(E_POINTER, object.get_input_parameters(out, L"Run"));
    log_capture log;
    const caught_error error = catch_wmi_error([&] { object.get_input_parameters(L"Run"); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(0x80004003u, error.code);
    EXPECT_EQ(L"get_input_parameters(Run) failed.", error.message);
    EXPECT_EQ(L"varnox::windows::wmi_object::get_input_parameters", error.function);
    for (const auto& message : log.messages())
        EXPECT_EQ(std::wstring::npos, message.find(L"get_input_parameters(Run)"));
    EXPECT_TRUE(fake->calls.empty());
}

// A query asks for WQL with forward-only, immediate flags, sets the blanket on
// the enumerator, and keeps the objects gathered before Next fails.
TEST_F(wmi_double_test, query_enumeration)
{
    com_ptr<fake_object> second = sample_class->spawn();
    second->set_path(L"\\\\.\\root\\double:Sample.Name=\"two\"").set_relpath(L"Sample.Name=\"two\"");
    fake->add_instance(second);
    {
        log_capture log;
        std::vector<wmi_object> objects;
        EXPECT_EQ(S_OK, services.exec_query(objects, L"SELECT * FROM Sample"));
        EXPECT_EQ(2u, objects.size());
        EXPECT_EQ(L"ExecQuery WQL SELECT * FROM Sample 48", fake->calls.back());
        ASSERT_EQ(1u, fake->blankets.records.size());
        EXPECT_EQ(L'T', log.letter_of(L"wmi(424) - Success (SELECT * FROM Sample), (2) objects returned. "));
    }
    query_answer failing;
    failing.objects = {sample, second};
    failing.fail_after = 1;
    failing.next_failure = WBEM_E_TRANSPORT_FAILURE;
    fake->on_query(L"SELECT Name FROM Sample", failing);
    log_capture log;
    std::vector<wmi_object> objects;
    const caught_error error = catch_wmi_error([&] { services.exec_query(objects, L"SELECT Name FROM Sample"); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(0x80041015u, error.code);
    EXPECT_EQ(L"pEnum->Next failed.", error.message);
    EXPECT_EQ(L'T', log.letter_of(L"wmi(414) - pEnum->Next failed (0x80041015). "));
    ASSERT_EQ(1u, objects.size());
    EXPECT_EQ(static_cast<IWbemClassObject*>(sample.get()), objects[0].get());
}

// The vector-returning query opens its trace scope around the inner one.
TEST_F(wmi_double_test, query_trace_scopes_nest)
{
    log_capture log;
    services.exec_query(L"SELECT * FROM Sample");
    std::vector<std::wstring> traces;
    for (const auto& message : log.messages())
        if (message.find(L"varnox::windows::wmi_services::exec_query - ") == 0)
            traces.push_back(message);
    EXPECT_EQ((std::vector<std::wstring>{L"varnox::windows::wmi_services::exec_query - Entered (0x00000000).",
                                         L"varnox::windows::wmi_services::exec_query - Entered (0x00000000).",
                                         L"varnox::windows::wmi_services::exec_query - Exit (0x00000000).",
                                         L"varnox::windows::wmi_services::exec_query - Exit (0x00000000)."}),
              traces);
}

// Objects keep their connection and their class object alive after the
// wmi_services that produced them is gone, and release both at the end.
TEST_F(wmi_double_test, objects_outlive_their_connection)
{
    const ULONG sample_references = sample->reference_count();
    {
        wmi_object kept;
        {
            wmi_services connection(fake.get());
            connection.get_wmi_object(kept, sample_path);
        }
        EXPECT_EQ(sample_references + 1, sample->reference_count());
        std::wstring name;
        sample->set(L"Name", string_value(L"still here"));
        kept.get_parameter(name, L"Name");
        EXPECT_EQ(L"still here", name);
        wmi_object copy = kept;
        EXPECT_EQ(sample_references + 2, sample->reference_count());
        EXPECT_EQ(static_cast<IWbemServices*>(fake.get()), kept.services().services());
    }
    EXPECT_EQ(sample_references, sample->reference_count());
}

// A failing blanket on a proxy raises with the code.
TEST_F(wmi_double_test, blanket_failure_raises)
{
    fake->blankets.result = E_ACCESSDENIED;
    log_capture log;
    const caught_error error = catch_wmi_error([&] { services.set_auth(static_cast<IWbemServices*>(fake.get())); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(0x80070005u, error.code);
    EXPECT_EQ(L"CoSetProxyBlanket failed.", error.message);
    EXPECT_EQ(L'E', log.letter_of(L"wmi(252) - CoSetProxyBlanket failed (0x80070005). "));
}

namespace {

class wmi_connect_double : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, com_init::initialize());
        locator.reset(new locator_registration(fake_services::make()));
        ASSERT_EQ(S_OK, locator->registration_result());
    }
    void TearDown() override
    {
        locator.reset();
        ::CoUninitialize();
    }

    std::unique_ptr<locator_registration> locator;
};

} // namespace

// The account decides the form of the connection: the account name and
// identity handed to the locator and to the blanket, and the namespace path.
TEST_F(wmi_connect_double, account_forms)
{
    const struct {
        const char* scenario;
        const wchar_t* namespace_name;
        const wchar_t* host;
        const wchar_t* account;
        const wchar_t* password;
        std::wstring path;
        std::optional<std::wstring> connect_user;
        bool identity;
        std::wstring identity_domain;
        std::wstring identity_user;
    } cases[] = {
        {"caller's credentials", L"WMI", L".", L"", L"", L"\\\\.\\root\\WMI", std::nullopt, false, L"", L""},
        {"empty namespace", L"", L"HOST", L"", L"", L"\\\\HOST\\root", std::nullopt, false, L"", L""},
        {"three pieces", L"CIMV2", L"HOST", L"CORP\\admin\\extra", L"pw", L"\\\\HOST\\root\\CIMV2",
         std::wstring(L"CORP\\admin"), true, L"CORP", L"admin"},
        {"no backslash: host stands in for the domain", L"CIMV2", L"HOST", L"admin", L"pw",
         L"\\\\HOST\\root\\CIMV2", std::wstring(L"HOST\\admin"), true, L"", L"admin"},
        {"user without password", L"CIMV2", L".", L"admin", L"", L"\\\\.\\root\\CIMV2", std::nullopt, false, L"",
         L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        locator->connects.clear();
        locator->services->blankets.records.clear();
        log_capture log;
        wmi_services services;
        EXPECT_EQ(S_OK, services.connect(c.namespace_name, c.host, c.account, c.password, 2, 6));
        ASSERT_EQ(1u, locator->connects.size());
        const connect_record& connect = locator->connects[0];
        EXPECT_EQ(c.path, connect.network_resource);
        EXPECT_EQ(c.connect_user, connect.user);
        EXPECT_EQ(c.identity ? std::optional<std::wstring>(c.password) : std::nullopt, connect.password);
        EXPECT_EQ(std::optional<std::wstring>(L"MS_409"), connect.locale);
        EXPECT_EQ(std::optional<std::wstring>(L""), connect.authority);
        EXPECT_EQ(0, connect.security_flags);
        EXPECT_FALSE(connect.has_context);
        EXPECT_EQ(!c.identity, services.is_local());

        ASSERT_EQ(1u, locator->services->blankets.records.size());
        const blanket_record& blanket = locator->services->blankets.records[0];
        EXPECT_EQ(RPC_C_AUTHN_DEFAULT, blanket.authentication_service);
        EXPECT_EQ(RPC_C_AUTHZ_NONE, blanket.authorization_service);
        EXPECT_TRUE(blanket.default_principal);
        EXPECT_EQ(6u, blanket.authentication_level);
        EXPECT_EQ(2u, blanket.impersonation_level);
        EXPECT_EQ(static_cast<DWORD>(EOAC_NONE), blanket.capabilities);
        EXPECT_EQ(c.identity, blanket.has_identity);
        if (c.identity) {
            EXPECT_EQ(c.identity_domain, blanket.domain);
            EXPECT_EQ(c.identity_user, blanket.user);
            EXPECT_EQ(c.password, blanket.password);
            EXPECT_EQ(static_cast<ULONG>(SEC_WINNT_AUTH_IDENTITY_UNICODE), blanket.flags);
        }
        EXPECT_EQ(L'T', log.letter_of(L"wmi(199) - Connected to (" + c.path + L"). "));
    }
}

// Failures of the locator: its creation (no log line), an explicit account's
// connection, and the blanket after a connection that leaves it set.
TEST_F(wmi_connect_double, connection_failures)
{
    {
        locator->create_instance_result = REGDB_E_CLASSNOTREG;
        log_capture log;
        wmi_services services;
        const caught_error error = catch_wmi_error([&] { services.connect(L"WMI", L".", L"", L"", 3, 0); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(0x80040154u, error.code);
        EXPECT_EQ(L"CoCreateInstance failed.", error.message);
        for (const auto& message : log.messages())
            EXPECT_EQ(std::wstring::npos, message.find(L"wmi(")) << narrow(message);
        locator->create_instance_result = S_OK;
    }
    {
        locator->connect_result = WBEM_E_ACCESS_DENIED;
        log_capture log;
        wmi_services services;
        const caught_error error =
            catch_wmi_error([&] { services.connect(L"CIMV2", L"HOST", L"CORP\\admin", L"pw", 3, 0); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(0x80041003u, error.code);
        EXPECT_EQ(L"pWbemLocator->ConnectServer (HOST) with supplied credentials failed.", error.message);
        EXPECT_EQ(L'E', log.letter_of(L"wmi(171) - pWbemLocator->ConnectServer (\\\\HOST\\root\\CIMV2) with supplied "
                                      L"credentials failed (0x80041003). "));
        EXPECT_EQ(nullptr, services.services());
        EXPECT_EQ(L"HOST", services.host());
        locator->connect_result = S_OK;
    }
    {
        locator->services->blankets.result = E_ACCESSDENIED;
        wmi_services services;
        const caught_error error = catch_wmi_error([&] { services.connect(L"WMI", L".", L"", L"", 3, 0); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(L"CoSetProxyBlanket failed.", error.message);
        EXPECT_NE(nullptr, services.services());
    }
}

// Reconnecting drops the old namespace interface; copies made before keep it.
TEST_F(wmi_connect_double, copies_keep_old_connection)
{
    wmi_services services;
    services.connect(L"WMI", L".", L"", L"", 3, 0);
    const wmi_services copy = services;
    com_ptr<fake_services> other = fake_services::make();
    locator->services = other;
    services.connect(L"CIMV2", L".", L"", L"", 3, 0);
    EXPECT_EQ(static_cast<IWbemServices*>(other.get()), services.services());
    EXPECT_NE(copy.services(), services.services());
    EXPECT_NE(nullptr, copy.services());
}
