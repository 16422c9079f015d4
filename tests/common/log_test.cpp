#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "varnox/common/log.h"

using test_support::file_exists;
using test_support::file_size;
using test_support::read_file;
using test_support::temp_folder;
using test_support::write_file;
using varnox::logger;

namespace {

void write_to(logger& log, int level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    log.write(level, format, args);
    va_end(args);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// "2026-12-10 04:05:06.789 (T0042) |W|" and the text after it.
struct parsed_line {
    bool header_ok = false;
    unsigned thread_id = 0;
    std::string name;
    char letter = 0;
    std::string text;
};

parsed_line parse(const std::string& line)
{
    static const std::regex header(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \(T(\d{4,})\)(?: \((.*)\))? \|(.)\|(.*)$)");
    parsed_line parsed;
    std::smatch match;
    if (!std::regex_match(line, match, header))
        return parsed;
    parsed.header_ok = true;
    parsed.thread_id = static_cast<unsigned>(std::stoul(match[1]));
    parsed.name = match[2];
    parsed.letter = match[3].str()[0];
    parsed.text = match[4];
    return parsed;
}

std::vector<std::wstring>* captured_debug_output = nullptr;
void capture_debug_output(const wchar_t* text)
{
    captured_debug_output->push_back(text);
}

class log_file : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = folder.file(L"install.exe.log");
        log.set_path(path);
    }
    std::vector<std::string> lines() { return lines_of(read_file(path)); }

    temp_folder folder;
    std::wstring path;
    logger log;
};

} // namespace

// Each line is the header (time, thread, letter) directly followed by the text.
TEST_F(log_file, writes_header_and_text_per_line)
{
    write_to(log, 1, L"%s(%d) - %s ", L"install", 129, L"Can't find archived data!");
    write_to(log, 4, L"progress %u", 7u);
    const auto written = lines();
    ASSERT_EQ(2u, written.size());
    const parsed_line first = parse(written[0]);
    ASSERT_TRUE(first.header_ok) << written[0];
    EXPECT_EQ(::GetCurrentThreadId(), first.thread_id);
    EXPECT_EQ('E', first.letter);
    EXPECT_EQ("install(129) - Can't find archived data! ", first.text);
    const parsed_line second = parse(written[1]);
    EXPECT_EQ('I', second.letter);
    EXPECT_EQ("progress 7", second.text);
}

// The letter of every level, as the header shows it.
TEST(logger_levels, letters)
{
    const struct {
        int level;
        wchar_t letter;
    } cases[] = {{-1, L'R'}, {0, L'U'}, {1, L'E'}, {2, L'W'}, {3, L'N'}, {4, L'I'}, {5, L'D'},
                 {6, L'L'}, {7, L'E'}, {8, L'W'}, {9, L'N'}, {10, L'T'}, {11, L'U'}, {-2, L'U'}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        EXPECT_EQ(c.letter, logger::level_letter(c.level));
    }
}

// A name tag stands in parentheses between the thread and the letter.
TEST(logger_header, carries_the_name_tag)
{
    temp_folder folder;
    logger named(L"setup");
    named.set_path(folder.file(L"named.log"));
    write_to(named, 2, L"tagged");
    const auto written = lines_of(read_file(folder.file(L"named.log")));
    ASSERT_EQ(1u, written.size());
    const parsed_line line = parse(written[0]);
    ASSERT_TRUE(line.header_ok) << written[0];
    EXPECT_EQ("setup", line.name);
    EXPECT_EQ('W', line.letter);
    EXPECT_EQ("tagged", line.text);
}

// Thread ids print with at least four digits.
TEST(logger_header, pads_thread_ids_to_four_digits)
{
    EXPECT_EQ(L"(T0042)", varnox::format_wstring(L"(T%04u)", 42u));
    EXPECT_EQ(L"(T123456)", varnox::format_wstring(L"(T%04u)", 123456u));
}

// Text goes out as UTF-8 without a byte-order mark, line feeds as CRLF, and
// a text that ends in a line feed gets no second line end.
TEST_F(log_file, writes_utf8_with_crlf_line_ends)
{
    write_to(log, 2, L"%s", L"\u8b66\u544a caf\u00e9");
    write_to(log, 2, L"two\nlines\n");
    write_to(log, 2, L"");
    const std::string bytes = read_file(path);
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_NE("\xEF\xBB\xBF", bytes.substr(0, 3));
    const auto written = lines_of(bytes);
    ASSERT_EQ(4u, written.size()) << bytes;
    EXPECT_EQ("\xE8\xAD\xA6\xE5\x91\x8A caf\xC3\xA9", parse(written[0]).text);
    EXPECT_EQ("two", parse(written[1]).text);
    EXPECT_EQ("lines", written[2]);
    EXPECT_TRUE(parse(written[3]).header_ok);
    EXPECT_EQ("", parse(written[3]).text);
    EXPECT_EQ(std::string::npos, bytes.find("\n\r\n"));
    EXPECT_EQ("\r\n", bytes.substr(bytes.size() - 2));
}

// 102 identical messages: the message, a summary of 100 repeats, the message.
TEST_F(log_file, folds_102_identical_messages_into_three_lines)
{
    for (int i = 0; i < 102; ++i)
        write_to(log, 2, L"same text");
    const auto written = lines();
    ASSERT_EQ(3u, written.size());
    EXPECT_EQ("same text", parse(written[0]).text);
    const parsed_line summary = parse(written[1]);
    EXPECT_EQ('R', summary.letter);
    EXPECT_EQ(" Last message repeated 100 times", summary.text);
    EXPECT_EQ("same text", parse(written[2]).text);
    EXPECT_EQ('W', parse(written[2]).letter);
}

// A new message flushes the pending count first; texts fold across levels.
TEST_F(log_file, summarises_repeats_before_a_new_message)
{
    write_to(log, 2, L"A");
    write_to(log, 1, L"A");
    write_to(log, 4, L"A");
    write_to(log, 2, L"A");
    write_to(log, 1, L"B");
    const auto written = lines();
    ASSERT_EQ(3u, written.size());
    EXPECT_EQ(" Last message repeated 3 times", parse(written[1]).text);
    EXPECT_EQ('R', parse(written[1]).letter);
    EXPECT_EQ("B", parse(written[2]).text);
    EXPECT_EQ('E', parse(written[2]).letter);
}

// Folding compares exactly, letter case included.
TEST_F(log_file, folds_only_exact_repeats)
{
    write_to(log, 2, L"Text");
    write_to(log, 2, L"text");
    write_to(log, 2, L"Text");
    EXPECT_EQ(3u, lines().size());
}

// Before a path is set, every message goes to the debugger output, unfolded.
TEST(logger_debug_output, receives_messages_until_a_path_is_set)
{
    std::vector<std::wstring> output;
    captured_debug_output = &output;
    logger log;
    log.set_debug_output(&capture_debug_output);
    write_to(log, 2, L"hello %d", 1);
    write_to(log, 2, L"hello %d", 1);
    ASSERT_EQ(2u, output.size());
    const parsed_line line = parse(test_support::to_utf8(output[0].substr(0, output[0].size() - 1)));
    ASSERT_TRUE(line.header_ok) << test_support::to_utf8(output[0]);
    EXPECT_EQ(" hello 1", line.text);  // "%s %s\n": one blank after the header
    EXPECT_EQ(L'\n', output[0].back());
    // The second one is not folded away; its time stamp may differ.
    EXPECT_EQ(line.text, parse(test_support::to_utf8(output[1].substr(0, output[1].size() - 1))).text);

    temp_folder folder;
    log.set_path(folder.file(L"after.log"));
    write_to(log, 2, L"to the file");
    EXPECT_EQ(2u, output.size());
    EXPECT_TRUE(file_exists(folder.file(L"after.log")));
    captured_debug_output = nullptr;
}

// A message above the threshold is neither written nor counted as a repeat.
TEST(log_message, respects_the_threshold)
{
    temp_folder folder;
    logger& log = varnox::the_logger();
    const std::wstring path = folder.file(L"threshold.log");
    log.set_path(path);
    log.level = 2;
    varnox::log_message(2, L"A");
    varnox::log_message(4, L"A");  // above: must not count as a repeat
    varnox::log_message(2, L"B");
    auto written = lines_of(read_file(path));
    ASSERT_EQ(2u, written.size());
    EXPECT_EQ("B", parse(written[1]).text);

    log.level = -1;
    varnox::log_message(-1, L"always %s", L"written");
    varnox::log_message(0, L"not at threshold -1");
    written = lines_of(read_file(path));
    ASSERT_EQ(3u, written.size());
    EXPECT_EQ('R', parse(written[2]).letter);
    EXPECT_EQ("always written", parse(written[2]).text);
    log.set_path(L"");
    log.level = 2;
}

// The located form builds "stem(line) - text " and uses it as the format.
TEST(log_located, prefixes_stem_and_fixed_line)
{
    temp_folder folder;
    logger& log = varnox::the_logger();
    const std::wstring path = folder.file(L"located.log");
    log.set_path(path);
    log.level = 2;
    VARNOX_LOG(1, L"varnox/common/archive", 310, L"%s", L"composed 100% text");
    VARNOX_LOG(2, L"varnox/windows/file_version_info", 51, L"value %d", 5);
    VARNOX_LOG(4, L"install", 1, L"%s", L"above the threshold");
    const auto written = lines_of(read_file(path));
    ASSERT_EQ(2u, written.size());
    EXPECT_EQ("archive(310) - composed 100% text ", parse(written[0]).text);
    EXPECT_EQ("file_ver(51) - value 5 ", parse(written[1]).text);
    log.set_path(L"");
}

TEST(log_located, source_stems)
{
    EXPECT_EQ(L"install", varnox::source_stem(L"install"));
    EXPECT_EQ(L"file_ver", varnox::source_stem(L"varnox/windows/file_version_info"));
    EXPECT_EQ(L"bcd_edit", varnox::source_stem(L"convert\\bcd_edit.cpp"));
    EXPECT_EQ(L"archive", varnox::source_stem(L"varnox/common/archive.h"));
}

// Entry and exit traces appear only above threshold 5, with the result value.
TEST(function_trace, logs_entry_and_exit_above_threshold_5)
{
    temp_folder folder;
    logger& log = varnox::the_logger();
    const std::wstring path = folder.file(L"trace.log");
    log.set_path(path);
    log.level = 5;
    { varnox::function_trace trace(L"quiet"); }
    EXPECT_FALSE(file_exists(path));

    log.level = 6;
    { varnox::function_trace trace(L"varnox::windows::traced"); }
    {
        long hr = 0;
        varnox::function_trace_result trace(L"varnox::windows::wmi_services::connect", &hr);
        hr = static_cast<long>(0x80041002);
    }
    const auto written = lines_of(read_file(path));
    ASSERT_EQ(4u, written.size());
    EXPECT_EQ("varnox::windows::traced - Entered.", parse(written[0]).text);
    EXPECT_EQ('L', parse(written[0]).letter);
    EXPECT_EQ("varnox::windows::traced - Exit.", parse(written[1]).text);
    EXPECT_EQ("varnox::windows::wmi_services::connect - Entered (0x00000000).", parse(written[2]).text);
    EXPECT_EQ("varnox::windows::wmi_services::connect - Exit (0x80041002).", parse(written[3]).text);
    log.set_path(L"");
    log.level = 2;
}

// Every way of logging leaves the thread's last error as it found it, whether
// the entry goes to a file (new or existing) or to the debugger output.
TEST(log_calls, keep_the_last_error)
{
    temp_folder folder;
    logger& log = varnox::the_logger();
    const std::wstring path = folder.file(L"last_error.log");
    log.set_debug_output(nullptr);  // the real OutputDebugStringW
    log.level = 6;
    const struct {
        const char* name;
        void (*log)();
        const char* text;  // what the entry shows in the file
    } ways[] = {
        {"log_message", [] { varnox::log_message(1, L"plain %d", 1); }, "plain 1"},
        {"log_located", [] { varnox::log_located(2, L"varnox/windows/process", 345, L"located"); },
         "process(345) - located "},
        {"VARNOX_LOG", [] { VARNOX_LOG(1, L"install", 150, L"%s", L"macro"); }, "install(150) - macro "},
        {"logger::write", [] { write_to(varnox::the_logger(), 1, L"direct"); }, "direct"},
        {"function_trace", [] { varnox::function_trace trace(L"traced"); }, "traced - Exit."},
        {"function_trace_result",
         [] {
             long hr = 0;
             varnox::function_trace_result trace(L"traced_result", &hr);
         },
         "traced_result - Exit (0x00000000)."},
    };
    for (const std::wstring& target : {path, path, std::wstring()}) {
        log.set_path(target);
        for (const auto& way : ways) {
            SCOPED_TRACE(std::string(way.name) + (target.empty() ? " to the debugger" : " to the file"));
            ::SetLastError(ERROR_INVALID_HANDLE);
            way.log();
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
            if (!target.empty()) {
                EXPECT_NE(std::string::npos, read_file(path).find(way.text));
            }
        }
    }
    log.set_path(L"");
    log.level = 2;
}

// A folder that does not exist drops the message silently.
TEST(logger_failures, unopenable_file_drops_the_message)
{
    temp_folder folder;
    logger log;
    log.set_path(folder.file(L"missing\\folder\\x.log"));
    write_to(log, 1, L"lost");
    EXPECT_FALSE(file_exists(folder.file(L"missing")));
}

namespace {

// Fills the log to exactly `target` bytes with one padded message.
void fill_to(logger& log, const std::wstring& path, std::uint64_t target)
{
    write_to(log, 2, L"x");
    const std::uint64_t first = file_size(path);  // header + "x" + CRLF
    const std::uint64_t overhead = first - 1;
    ASSERT_GT(target, first + overhead);
    const std::wstring padding(static_cast<size_t>(target - first - overhead), L'p');
    write_to(log, 2, L"%s", padding.c_str());
}

} // namespace

// The write that reaches exactly 2,097,152 bytes rotates; one byte less does not.
TEST_F(log_file, rotates_at_exactly_the_size_limit)
{
    fill_to(log, path, logger::max_size - 1);
    EXPECT_EQ(logger::max_size - 1, file_size(path));
    EXPECT_FALSE(file_exists(path + L".1"));

    temp_folder other;
    logger exact;
    const std::wstring exact_path = other.file(L"exact.log");
    exact.set_path(exact_path);
    fill_to(exact, exact_path, logger::max_size);
    EXPECT_FALSE(file_exists(exact_path));
    EXPECT_EQ(logger::max_size, file_size(exact_path + L".1"));
    write_to(exact, 2, L"fresh");
    EXPECT_EQ(1u, lines_of(read_file(exact_path)).size());
}

// Rotation shifts .1-.8 up by one, drops the old .9 and keeps ten files.
TEST_F(log_file, rotation_drops_the_oldest_file)
{
    for (int i = 1; i <= 9; ++i)
        write_file(path + L"." + std::to_wstring(i), "old " + std::to_string(i));
    fill_to(log, path, logger::max_size);
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(logger::max_size, file_size(path + L".1"));
    for (int i = 2; i <= 9; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ("old " + std::to_string(i - 1), read_file(path + L"." + std::to_wstring(i)));
    }
    EXPECT_FALSE(file_exists(path + L".10"));
}

// A numbered file held open stops the rotation quietly; the next write retries.
TEST_F(log_file, failed_rotation_is_swallowed_and_retried)
{
    write_file(path + L".1", "held");
    HANDLE held = ::CreateFileW((path + L".1").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held) << test_support::to_utf8(test_support::error_text(::GetLastError()));
    fill_to(log, path, logger::max_size);
    EXPECT_TRUE(file_exists(path));  // the rename could not replace .1
    ::CloseHandle(held);
    write_to(log, 2, L"next");
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ("held", read_file(path + L".2"));
    EXPECT_GT(file_size(path + L".1"), logger::max_size);
    EXPECT_EQ("next", parse(lines_of(read_file(path + L".1")).back()).text);
}

// A hard link planted at the log's name, or at the names of its rotated
// copies, leads nowhere: the linked file keeps its content, the log gets a
// file of its own, and rotation drops and renames the names alone.
TEST_F(log_file, hard_links_in_place_of_the_log_files_are_not_written_through)
{
    const std::wstring precious = folder.file(L"precious.txt");
    write_file(precious, "precious");
    for (const std::wstring& name : {path, path + L".8", path + L".9"})
        ASSERT_TRUE(::CreateHardLinkW(name.c_str(), precious.c_str(), nullptr))
            << test_support::to_utf8(test_support::error_text(::GetLastError()));

    write_to(log, 2, L"first");
    EXPECT_EQ("precious", read_file(precious));
    ASSERT_EQ(1u, lines().size());
    EXPECT_EQ("first", parse(lines()[0]).text);

    // fill_to counts from an empty log.
    ASSERT_TRUE(::DeleteFileW(path.c_str()));
    fill_to(log, path, logger::max_size);
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(logger::max_size, file_size(path + L".1"));
    EXPECT_EQ("precious", read_file(precious));
    EXPECT_EQ("precious", read_file(path + L".9")) << "the old .8 moved up";
    EXPECT_FALSE(file_exists(path + L".8"));
    write_to(log, 2, L"fresh");
    EXPECT_EQ("precious", read_file(precious));
}

// Lines from many threads never interleave.
TEST_F(log_file, lines_from_threads_stay_whole)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i)
                write_to(log, 2, L"thread %d message %d with some length to it", t, i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto written = lines();
    ASSERT_EQ(800u, written.size());
    std::regex text(R"(thread \d message \d+ with some length to it)");
    for (const auto& line : written) {
        const parsed_line parsed = parse(line);
        ASSERT_TRUE(parsed.header_ok) << line;
        ASSERT_TRUE(std::regex_match(parsed.text, text)) << line;
    }
}
