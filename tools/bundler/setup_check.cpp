#include "setup_check.h"

#include <algorithm>
#include <map>
#include <memory>

#include "client_package.h"
#include "payload_locator.h"
#include "platform.h"
#include "varnox/common/archive.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace bundler {

namespace {

// The log lines the reader writes during a check, without their time and
// thread: the setup program would write them to its log.
std::vector<std::string>* captured_lines = nullptr;

void capture_log_line(const wchar_t* text)
{
    if (!captured_lines)
        return;
    std::wstring line = text ? text : L"";
    const size_t bar = line.find(L'|');
    if (bar != std::wstring::npos && bar + 3 <= line.size())
        line.erase(0, line.find_first_not_of(L' ', bar + 3));
    while (!line.empty() && (line.back() == L'\n' || line.back() == L' '))
        line.pop_back();
    captured_lines->push_back(utf8_of(line));
}

class reader_log_capture {
public:
    explicit reader_log_capture(std::vector<std::string>& lines)
    {
        captured_lines = &lines;
        varnox::the_logger().level = 2;
        varnox::the_logger().set_debug_output(&capture_log_line);
    }
    ~reader_log_capture()
    {
        varnox::the_logger().set_debug_output(nullptr);
        captured_lines = nullptr;
    }
    reader_log_capture(const reader_log_capture&) = delete;
    reader_log_capture& operator=(const reader_log_capture&) = delete;
};

std::string hex(std::uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string number(std::uint64_t value) { return std::to_string(value); }

// The file system that install.exe writes to ignores the letter case and the
// kind of separator, and a folder entry names its folder.
std::wstring same_file_key(std::wstring name)
{
    std::replace(name.begin(), name.end(), L'\\', L'/');
    while (!name.empty() && name.back() == L'/')
        name.pop_back();
    return upper_case_name(name);
}

// Where the archive ends (its end record and comment), reading no further
// than limit; empty when there is no end record.
std::optional<std::uint64_t> archive_end_of(const varnox::archive::archive_file& file, std::uint64_t offset,
                                            std::uint64_t limit)
{
    if (limit <= offset)
        return std::nullopt;
    const std::optional<std::uint64_t> record = varnox::archive::find_end_record(file, offset, limit - offset);
    if (!record)
        return std::nullopt;
    unsigned char length[2] = {};
    if (file.read_at(offset + *record + 20, length, 2) != 2)
        return std::nullopt;
    // The reader does not hold a comment to its length; neither does this.
    return std::min<std::uint64_t>(offset + *record + 22 + (length[0] | (length[1] << 8)), limit);
}

void check_placement(const varnox::archive::archive_file& file, setup_report& report)
{
    const std::uint64_t offset = *report.payload_offset;
    const std::optional<certificate_table>& table = report.image.certificates;
    const std::uint64_t archive_limit = table && table->offset > offset ? table->offset : report.file_size;
    report.archive_end = archive_end_of(file, offset, archive_limit);
    if (!table) {
        if (report.archive_end && *report.archive_end < report.file_size)
            report.notes.push_back(number(report.file_size - *report.archive_end) +
                                   " bytes that are not part of the archive follow it");
        return;
    }
    if (!report.image.problem.empty())
        report.problems.push_back(report.image.problem);
    if (table->offset < offset) {
        report.problems.push_back("the certificate table lies before the payload: the image was signed before "
                                  "the payload was appended, so the signature does not cover it");
        return;
    }
    if (table->offset + table->size < report.file_size)
        report.problems.push_back(number(report.file_size - table->offset - table->size) +
                                  " bytes follow the certificate table, which no signature covers");
    if (!report.archive_end)
        return;
    if (table->offset < *report.archive_end) {
        report.problems.push_back("the certificate table lies inside the archive");
        return;
    }
    // Signing tools pad the file to 8 bytes with zeros before the table.
    const std::uint64_t gap = table->offset - *report.archive_end;
    std::vector<unsigned char> between(static_cast<std::size_t>(std::min<std::uint64_t>(gap, 4096)));
    const bool zeros = file.read_at(*report.archive_end, between.data(), between.size()) == between.size() &&
                       std::all_of(between.begin(), between.end(), [](unsigned char b) { return b == 0; });
    if (gap >= 8 || !zeros)
        report.problems.push_back(number(gap) + " bytes of other data stand between the archive and the "
                                                "certificate table");
}

void check_members(varnox::archive::unzip_base& archive, setup_report& report)
{
    std::map<std::wstring, std::wstring> seen;
    for (const varnox::archive::unzip_base::member_entry& entry : archive.members()) {
        if (!entry.readable) {
            report.problems.push_back("the archive's directory entry of member " + number(entry.index + 1) +
                                      " cannot be read");
            continue;
        }
        const std::optional<std::wstring> text = varnox::archive::member_name_text(entry.name, entry.bit_flags);
        if (!text) {
            report.problems.push_back("member name is not valid text in its encoding: " +
                                      shown(varnox::windows::from_code_page(entry.name, CP_ACP)));
            continue;
        }
        report.members.push_back({entry.name, *text, entry.size, entry.packed_size, entry.folder});
        if (!varnox::archive::is_safe_member_name(*text)) {
            report.problems.push_back("member name would leave the setup program's target folder: " + shown(*text));
            continue;
        }
        const auto [at, added] = seen.emplace(same_file_key(*text), *text);
        if (!added) {
            report.problems.push_back("two members of the same name: " + shown(at->second) + " and " + shown(*text));
            continue;
        }
        if (!archive.contains(entry.name)) {
            report.problems.push_back("install.exe does not find the member " + shown(*text));
            continue;
        }
        if (!entry.folder && !archive.member_data_match(entry.index))
            report.problems.push_back("the data of member " + shown(*text) +
                                      " do not match its size and CRC-32 in the archive's directory");
    }
}

void check_client_packages(const varnox::archive::unzip& archive, setup_report& report)
{
    struct system {
        const char* windows;
        std::uint32_t major, minor;
        std::uint16_t architecture;
    };
    static const system systems[] = {
        {"Windows Vista / Server 2008 and later, 64-bit", 6, 0, install::architecture_x64},
        {"Windows Vista / Server 2008 and later, 32-bit", 6, 0, install::architecture_x86},
        {"Windows Server 2003 / XP x64, 64-bit", 5, 2, install::architecture_x64},
        {"Windows Server 2003, 32-bit", 5, 2, install::architecture_x86},
        {"Windows before Server 2003", 5, 1, install::architecture_x86},
    };
    bool any = false;
    for (const system& s : systems) {
        const install::client_package* package = install::client_package_for(s.major, s.minor, s.architecture);
        const bool present = package && archive.contains(package->member);
        any = any || present;
        report.packages.push_back({s.windows, package ? package->member : nullptr, present});
    }
    if (!any)
        report.job_problems.push_back("the payload chooses the client installation but holds no client package: "
                                  "install.exe ends with exit code 2 on every Windows");
}

const char* job_name(install::job job)
{
    switch (job) {
    case install::job::driver_package:
        return "driver package (dpinst.exe)";
    case install::job::upgrade:
        return "upgrade (upgrade.cmd)";
    case install::job::linux_conversion:
        return "add-on installation (linux_conv.img)";
    case install::job::client_installation:
        return "client installation";
    }
    return "unknown";
}

} // namespace

std::string utf8_of(const std::wstring& text) { return varnox::windows::to_code_page(text, CP_UTF8); }

std::string shown(const std::wstring& name) { return utf8_of(varnox::archive::printable_member_name(name)); }

setup_report check_setup(const std::wstring& path)
{
    setup_report report;
    const std::shared_ptr<varnox::archive::archive_file> file = varnox::archive::archive_file::open(path);
    if (!file) {
        report.problems.push_back("the file cannot be read");
        return report;
    }
    report.file_size = file->size();
    report.image = read_pe_facts(*file);

    const std::optional<std::int32_t> offset = install::find_payload_offset(path);
    if (!offset) {
        report.problems.push_back("install.exe finds no payload: no zip local header at a 4-byte-aligned offset "
                                  "beyond 1 MiB, so it would end at once with exit code 0");
        return report;
    }
    report.payload_offset = static_cast<std::uint64_t>(*offset);
    check_placement(*file, report);

    std::shared_ptr<varnox::archive::unzip> opened;
    {
        const reader_log_capture capture(report.reader_log);
        opened = varnox::archive::open_unzip(path, static_cast<std::uint32_t>(*offset));
    }
    const auto archive = std::dynamic_pointer_cast<varnox::archive::unzip_base>(opened);
    if (!archive) {
        report.problems.push_back("install.exe cannot open the payload at its offset (its log: \"Can't find "
                                  "archived data!\")");
        return report;
    }
    report.archive_opens = true;
    {
        const reader_log_capture capture(report.reader_log);
        check_members(*archive, report);
        report.job = install::choose_job(*archive);
        if (*report.job == install::job::client_installation)
            check_client_packages(*archive, report);
    }
    return report;
}

void print_report(const setup_report& report, std::FILE* out)
{
    std::fprintf(out, "file: %s bytes\n", number(report.file_size).c_str());
    if (report.payload_offset) {
        std::fprintf(out, "payload: at offset %s (%s)", hex(*report.payload_offset).c_str(),
                     number(*report.payload_offset).c_str());
        if (report.archive_end)
            std::fprintf(out, ", archive of %s bytes", number(*report.archive_end - *report.payload_offset).c_str());
        std::fputs("\n", out);
    }
    if (report.image.certificates)
        std::fprintf(out, "certificate table: at offset %s, %s bytes\n", hex(report.image.certificates->offset).c_str(),
                     number(report.image.certificates->size).c_str());
    if (report.archive_opens) {
        std::fprintf(out, "archive: opens in place, %u members\n", static_cast<unsigned>(report.members.size()));
        for (const checked_member& m : report.members)
            std::fprintf(out, "  %12llu %12llu  %s%s\n", static_cast<unsigned long long>(m.size),
                         static_cast<unsigned long long>(m.packed_size), shown(m.text).c_str(),
                         m.folder ? "  (folder)" : "");
    }
    if (report.job)
        std::fprintf(out, "job: %s\n", job_name(*report.job));
    if (!report.packages.empty()) {
        std::fputs("client packages:\n", out);
        for (const package_row& row : report.packages) {
            if (!row.member)
                std::fprintf(out, "  %s: no package\n", row.windows);
            else
                std::fprintf(out, "  %s: %s %s\n", row.windows, row.member,
                             row.present ? "present" : "missing (install.exe ends with exit code 2 there)");
        }
    }
    for (const std::string& line : report.reader_log)
        std::fprintf(out, "install.exe's log: %s\n", line.c_str());
    for (const std::string& note : report.notes)
        std::fprintf(out, "note: %s\n", note.c_str());
}

} // namespace bundler
