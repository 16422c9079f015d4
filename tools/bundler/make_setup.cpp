// make_setup: appends a payload archive to install.exe so that the setup
// program finds and opens it, signs the result when asked, and checks a
// setup file the way install.exe will read it (--verify).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <miniz.h>

#include "payload_locator.h"
#include "platform.h"
#include "setup_check.h"
#include "varnox/common/archive_file.h"
#include "varnox/windows/code_page.h"

namespace {

using namespace bundler;
namespace archive = varnox::archive;

constexpr int exit_written = 0;
constexpr int exit_refused = 1;
constexpr int exit_usage = 2;

struct refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Member names are stored in UTF-8, which holds every name exactly; the zip
// writer marks them so with the UTF-8 flag.
std::string stored_name_of(const std::wstring& name)
{
    const auto stored = varnox::windows::to_code_page_exact(name, CP_UTF8);
    if (!stored)
        throw refusal("member name is not valid text: " + utf8_of(name));
    return *stored;
}

struct file_contents {
    std::string bytes;
    std::int64_t modified = -1;
};

file_contents read_whole(const std::wstring& path)
{
    const std::shared_ptr<archive::archive_file> file = archive::archive_file::open(path);
    if (!file)
        throw refusal("cannot read " + utf8_of(path));
    file_contents contents;
    contents.bytes.resize(static_cast<std::size_t>(file->size()));
    if (file->read_at(0, &contents.bytes[0], contents.bytes.size()) != contents.bytes.size())
        throw refusal("cannot read " + utf8_of(path));
    contents.modified = file->modification_time();
    return contents;
}

// Every byte goes through the file layer's new-file writer: nothing that
// stands at the path is written through.
void write_whole(const std::wstring& path, const std::vector<const std::string*>& parts)
{
    archive::removed found = archive::removed::nothing;
    archive::target_file file;
    if (archive::remove_entry(path, found) || archive::target_file::create(path, file))
        throw refusal("cannot write " + utf8_of(path));
    std::uint64_t written = 0;
    for (const std::string* part : parts) {
        if (file.write(written, part->data(), part->size())) {
            file.discard();
            throw refusal("cannot write " + utf8_of(path));
        }
        written += part->size();
    }
    if (file.finish(-1)) {
        file.discard();
        throw refusal("cannot write " + utf8_of(path));
    }
}

struct member {
    std::string name;
    std::wstring path;
};

// The members of a folder, by their paths below it with "/" separators.
std::vector<member> members_of_folder(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    if (archive::list_files_below(folder, files))
        throw refusal("cannot list the folder " + utf8_of(folder));
    std::vector<member> members;
    for (const std::wstring& relative : files) {
#ifndef _WIN32
        // On Windows a backslash separates folders: such a name would not
        // arrive as it is here.
        if (relative.find(L'\\') != std::wstring::npos)
            throw refusal("file name with a backslash, which Windows reads as a folder separator: " +
                          utf8_of(relative));
#endif
        members.push_back({stored_name_of(relative), folder + archive::path_separator + relative});
    }
    std::sort(members.begin(), members.end(), [](const member& a, const member& b) { return a.name < b.name; });
    return members;
}

// A zip's time stamps (local time, two-second steps) run from 1980 to 2107;
// a file's own time is kept in that range, so that builds repeat exactly.
MZ_TIME_T member_time(std::int64_t modified)
{
    constexpr std::int64_t earliest = 315532800 + 2 * 86400;  // 1980-01-03
    constexpr std::int64_t latest = 4354819200 - 2 * 86400;   // 2107-12-29
    const std::int64_t clamped = std::min(std::max(modified, earliest), latest);
    return static_cast<MZ_TIME_T>(clamped);
}

std::string zip_members(const std::vector<member>& members)
{
    if (members.empty())
        throw refusal("no members: an archive without files has no local header for the setup program to find");
    mz_zip_archive writer;
    mz_zip_zero_struct(&writer);
    if (!mz_zip_writer_init_heap(&writer, 0, 0))
        throw refusal("cannot start the zip writer");
    for (const member& m : members) {
        const file_contents data = read_whole(m.path);
        MZ_TIME_T time = member_time(data.modified);
        // miniz stores data of up to 3 bytes as they are but marks them
        // deflated, which no reader can extract: ask it to store them.
        const mz_uint level = data.bytes.size() <= 3 ? MZ_NO_COMPRESSION : MZ_DEFAULT_LEVEL;
        if (!mz_zip_writer_add_mem_ex_v2(&writer, m.name.c_str(), data.bytes.data(), data.bytes.size(), nullptr, 0,
                                         level, 0, 0, &time, nullptr, 0, nullptr, 0)) {
            mz_zip_writer_end(&writer);
            throw refusal("cannot add member " + m.name);
        }
    }
    void* buffer = nullptr;
    size_t size = 0;
    const bool finished = mz_zip_writer_finalize_heap_archive(&writer, &buffer, &size);
    std::string zip = finished ? std::string(static_cast<const char*>(buffer), size) : std::string();
    mz_zip_writer_end(&writer);
    if (!finished)
        throw refusal("cannot finish the archive");
    return zip;
}

// The first 4-byte-aligned offset beyond the image's first MiB that is not
// before the image's end.
std::uint64_t payload_offset_for(std::uint64_t image_size)
{
    const std::uint64_t least = std::max<std::uint64_t>(image_size, install::payload_offset_floor + 1);
    return (least + 3) & ~std::uint64_t(3);
}

std::string hex(std::uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

void usage()
{
    std::fputs("usage: make_setup --installer install.exe --output setup.exe\n"
               "                  (--zip payload.zip | --folder members | --member [name=]file ...)\n"
               "                  [--sign certificate --key key | --sign file.p12] [--password-file file]\n"
               "                  [--timestamp url]\n"
               "       make_setup --verify setup.exe [--ca certificates.pem]\n"
               "Appends the payload to install.exe at the first 4-byte-aligned offset beyond 1 MiB\n"
               "and not before the image's end, checks that install.exe finds and opens it, and\n"
               "signs the result (osslsigncode; on Windows the signtool command is printed).\n"
               "--verify checks a setup file as install.exe reads it, and its signature.\n",
               stderr);
}

struct options {
    std::wstring installer, output, zip, folder, verify, trusted;
    std::vector<member> members;
    signing_request signing;
};

options parse(const std::vector<std::wstring>& args)
{
    options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& option = args[i];
        if (i + 1 >= args.size())
            throw usage_error("option without a value");
        const std::wstring& value = args[++i];
        if (option == L"--installer") {
            o.installer = value;
        } else if (option == L"--output") {
            o.output = value;
        } else if (option == L"--zip") {
            o.zip = value;
        } else if (option == L"--folder") {
            o.folder = value;
        } else if (option == L"--member") {
            const size_t equals = value.find(L'=');
            if (equals != std::wstring::npos) {
                o.members.push_back({stored_name_of(value.substr(0, equals)), value.substr(equals + 1)});
            } else {
                const size_t name = value.find_last_of(archive::path_separator == L'/' ? L"/" : L"/\\:");
                o.members.push_back({stored_name_of(name == std::wstring::npos ? value : value.substr(name + 1)), value});
            }
        } else if (option == L"--sign") {
            o.signing.certificate = value;
        } else if (option == L"--key") {
            o.signing.key = value;
        } else if (option == L"--password-file") {
            o.signing.password_file = value;
        } else if (option == L"--timestamp") {
            o.signing.timestamp_url = value;
        } else if (option == L"--verify") {
            o.verify = value;
        } else if (option == L"--ca") {
            o.trusted = value;
        } else {
            throw usage_error("unknown option");
        }
    }
    const bool signing = !o.signing.certificate.empty();
    const bool signing_details = !o.signing.key.empty() || !o.signing.password_file.empty() ||
                                 !o.signing.timestamp_url.empty();
    if (!o.verify.empty()) {
        if (!o.installer.empty() || !o.output.empty() || !o.zip.empty() || !o.folder.empty() || !o.members.empty() ||
            signing || signing_details)
            throw usage_error("--verify takes no other option than --ca");
        return o;
    }
    const int sources = !o.zip.empty() + !o.folder.empty() + !o.members.empty();
    if (o.installer.empty() || o.output.empty() || sources != 1 || (signing_details && !signing) ||
        !o.trusted.empty())
        throw usage_error("incomplete or conflicting options");
    return o;
}

const char* verdict_text(signature_state state)
{
    switch (state) {
    case signature_state::valid:
        return "valid: it matches the file and its signer is trusted";
    case signature_state::mismatch:
        return "no longer matches the file: the file was changed after it was signed";
    case signature_state::untrusted:
        return "matches the file, but its signer is not trusted";
    case signature_state::unchecked:
        return "present, but not checked";
    case signature_state::invalid:
        return "not valid";
    }
    return "";
}

int verify(const options& o)
{
    setup_report report = check_setup(o.verify);
    report.problems.insert(report.problems.end(), report.job_problems.begin(), report.job_problems.end());
    std::printf("%s\n", utf8_of(o.verify).c_str());
    print_report(report, stdout);
    if (!report.image.certificates) {
        std::printf("signature: none\n");
    } else if (report.image.problem.empty()) {
        const signature_verdict verdict = verify_signature(o.verify, o.trusted);
        std::printf("signature: %s\n", verdict_text(verdict.state));
        if (!verdict.signer.empty())
            std::printf("  signer: %s\n", verdict.signer.c_str());
        if (!verdict.detail.empty())
            std::printf("  %s\n", verdict.detail.c_str());
        if (verdict.state != signature_state::valid)
            report.problems.push_back(std::string("the signature ") + verdict_text(verdict.state));
    }
    for (const std::string& problem : report.problems)
        std::printf("problem: %s\n", problem.c_str());
    std::printf("%s: %u problem%s\n", report.problems.empty() ? "good" : "bad",
                static_cast<unsigned>(report.problems.size()), report.problems.size() == 1 ? "" : "s");
    return report.problems.empty() ? exit_written : exit_refused;
}

// Refuses, with its first problem, a file that install.exe would misread.
const setup_report& checked(const setup_report& report, std::uint64_t offset)
{
    if (!report.problems.empty())
        throw refusal(report.problems.front());
    if (!report.payload_offset || *report.payload_offset != offset)
        throw refusal("install.exe would not find the payload at its offset");
    return report;
}

int make(const options& o)
{
    const bool signing = !o.signing.certificate.empty();
    // A signature inside the image would be taken for the payload.
    if (const auto found = install::find_payload_offset(o.installer))
        throw refusal("the installer image holds a local header signature at aligned offset 0x" + hex(*found) +
                      " beyond 1 MiB; install.exe would take it for its payload");
    const file_contents image = read_whole(o.installer);
    {
        const std::shared_ptr<archive::archive_file> file = archive::archive_file::open(o.installer);
        const pe_facts facts = file ? read_pe_facts(*file) : pe_facts{};
        if (signing && !facts.is_pe)
            throw refusal("the installer is not a Windows executable (PE) image: it cannot be signed");
        // The old table would end up inside the payload region, where no
        // signature covers the payload; signing the setup covers it all.
        if (facts.certificates)
            throw refusal("the installer already carries a signature, which would end up inside the payload "
                          "region: bundle the unsigned install.exe and sign the setup");
    }

    std::string zip;
    if (!o.zip.empty()) {
        zip = read_whole(o.zip).bytes;
        if (zip.size() < 4 || std::memcmp(zip.data(), "PK\3\4", 4) != 0)
            throw refusal("the zip file does not begin with a local header (empty, or data in front of it)");
    } else {
        zip = zip_members(o.folder.empty() ? o.members : members_of_folder(o.folder));
    }

    const std::uint64_t offset = payload_offset_for(image.bytes.size());
    if (offset + zip.size() > 0x7FFFFFFFu)
        throw refusal("the setup file would exceed 2 GiB");
    const std::string padding(static_cast<size_t>(offset - image.bytes.size()), '\0');
    const std::wstring unsigned_path = signing ? o.output + L".unsigned" : o.output;
    write_whole(unsigned_path, {&image.bytes, &padding, &zip});

    // Exactly as install.exe does it: the scan, the opening, the lookups.
    setup_report report = check_setup(unsigned_path);
    checked(report, offset);
    if (signing) {
        // The signing tool writes a new file, never over an old one.
        archive::removed found = archive::removed::nothing;
        if (archive::remove_entry(o.output, found))
            throw refusal("cannot write " + utf8_of(o.output));
        const signing_outcome outcome = sign_setup(o.signing, unsigned_path, o.output);
        if (outcome.signed_file) {
            archive::remove_entry(unsigned_path, found);
            report = check_setup(o.output);
            checked(report, offset);
            if (!report.image.certificates)
                throw refusal("the signed file carries no certificate table");
        } else if (!outcome.error.empty()) {
            throw refusal("signing failed: " + outcome.error);
        } else if (archive::move_replacing(unsigned_path, o.output)) {
            throw refusal("cannot write " + utf8_of(o.output));
        }
    }

    for (const std::string& warning : report.job_problems)
        std::fprintf(stderr, "make_setup: warning: %s\n", warning.c_str());
    std::printf("wrote %s\n", utf8_of(o.output).c_str());
    std::printf("image %llu bytes, payload at offset 0x%llX (%llu), archive %llu bytes, %u members\n",
                static_cast<unsigned long long>(image.bytes.size()), static_cast<unsigned long long>(offset),
                static_cast<unsigned long long>(offset), static_cast<unsigned long long>(zip.size()),
                static_cast<unsigned>(report.members.size()));
    for (const checked_member& m : report.members)
        std::printf("  %12llu %12llu  %s%s\n", static_cast<unsigned long long>(m.size),
                    static_cast<unsigned long long>(m.packed_size), shown(m.text).c_str(),
                    m.folder ? "  (folder)" : "");
    if (report.image.certificates)
        std::printf("signed: certificate table of %u bytes at offset 0x%llX\n", report.image.certificates->size,
                    static_cast<unsigned long long>(report.image.certificates->offset));
    return exit_written;
}

int make_setup(const std::vector<std::wstring>& args)
{
    std::wstring output;
    bool signing = false;
    try {
        const options o = parse(args);
        if (!o.verify.empty())
            return verify(o);
        output = o.output;
        signing = !o.signing.certificate.empty();
        return make(o);
    } catch (const usage_error&) {
        usage();
        return exit_usage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_setup: %s\n", error.what());
    }
    // Never leave a setup file that install.exe would misread.
    if (!output.empty()) {
        archive::removed found = archive::removed::nothing;
        archive::remove_entry(output, found);
        if (signing)
            archive::remove_entry(output + L".unsigned", found);
    }
    return exit_refused;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    return make_setup(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv)
{
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        const std::optional<std::wstring> arg = varnox::windows::from_code_page_exact(argv[i], CP_UTF8);
        if (!arg) {
            std::fprintf(stderr, "make_setup: an argument is not UTF-8 text: %s\n", argv[i]);
            return exit_usage;
        }
        args.push_back(*arg);
    }
    return make_setup(args);
}
#endif
