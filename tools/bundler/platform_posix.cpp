// make_setup's platform part in the native build for Linux: osslsigncode
// signs and checks signatures, started as a child program without a shell.
#include "platform.h"

#include <fcntl.h>
#include <locale.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <sstream>

#include "setup_check.h"
#include "varnox/posix/handle.h"

extern char** environ;

namespace bundler {

namespace {

struct locale_traits {
    using pointer = locale_t;
    static pointer invalid() noexcept { return static_cast<locale_t>(0); }
    static void close(pointer value) noexcept { ::freelocale(value); }
};

// The signing tool: osslsigncode from the path, or the program that
// OSSLSIGNCODE names.
std::string signing_tool()
{
    const char* named = std::getenv("OSSLSIGNCODE");
    return named && *named ? named : "osslsigncode";
}

// The tool's output on one line, for a message.
std::string one_line(const std::string& output)
{
    std::istringstream lines(output);
    std::string line, joined;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.front() == '\t' || line.front() == ' '))
            line.erase(0, 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty())
            continue;
        if (!joined.empty())
            joined += "; ";
        joined += line;
    }
    return joined;
}

// Why a verification refused: the reason after "Error: " (osslsigncode 2.9)
// or "Verify error: " (2.5), else its whole output on one line.
std::string error_lines(const std::string& output)
{
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        line = one_line(line);
        for (const char* label : {"Verify error: ", "Error: "}) {
            const size_t at = line.find(label);
            if (at != std::string::npos && (at == 0 || std::strcmp(label, "Verify error: ") == 0))
                return "why: " + line.substr(at + std::strlen(label));
        }
    }
    return one_line(output);
}

std::string first_value_after(const std::string& output, const std::string& label)
{
    const size_t at = output.find(label);
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + label.size();
    return output.substr(start, output.find('\n', start) - start);
}

} // namespace

program_run run_program(const std::vector<std::string>& arguments)
{
    program_run run;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return run;
    varnox::posix::unique_fd reading(ends[0]), writing(ends[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), 1);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), 2);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    writing.reset();
    // glibc reports a program that cannot be started here, not as exit code 127.
    if (spawned != 0)
        return run;
    run.started = true;
    char buffer[4096];
    for (;;) {
        const ssize_t read = ::read(reading.get(), buffer, sizeof buffer);
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        run.output.append(buffer, static_cast<std::size_t>(read));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::wstring upper_case_name(const std::wstring& name)
{
    // Unicode letters, as Windows compares file names; C.UTF-8 has their cases.
    static const varnox::unique_any<locale_traits> unicode(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0)));
    std::wstring upper(name);
    for (wchar_t& c : upper)
        c = unicode ? static_cast<wchar_t>(::towupper_l(static_cast<wint_t>(c), unicode.get()))
                    : (c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c);
    return upper;
}

signing_outcome sign_setup(const signing_request& request, const std::wstring& unsigned_path,
                           const std::wstring& signed_path)
{
    std::vector<std::string> arguments = {signing_tool(), "sign", "-h", "sha256"};
    if (request.key.empty()) {
        arguments.insert(arguments.end(), {"-pkcs12", utf8_of(request.certificate)});
    } else {
        arguments.insert(arguments.end(), {"-certs", utf8_of(request.certificate), "-key", utf8_of(request.key)});
    }
    if (!request.password_file.empty())
        arguments.insert(arguments.end(), {"-readpass", utf8_of(request.password_file)});
    if (!request.timestamp_url.empty())
        arguments.insert(arguments.end(), {"-ts", utf8_of(request.timestamp_url)});
    arguments.insert(arguments.end(), {"-in", utf8_of(unsigned_path), "-out", utf8_of(signed_path)});
    const program_run run = run_program(arguments);
    signing_outcome outcome;
    if (!run.started)
        outcome.error = "cannot start " + arguments[0] + " (install the osslsigncode package)";
    else if (run.exit_code != 0)
        outcome.error = arguments[0] + " failed (exit code " + std::to_string(run.exit_code) +
                        "): " + one_line(run.output);
    else
        outcome.signed_file = true;
    return outcome;
}

signature_verdict verify_signature(const std::wstring& path, const std::wstring& trusted_certificates)
{
    std::vector<std::string> arguments = {signing_tool(), "verify", "-in", utf8_of(path)};
    if (!trusted_certificates.empty()) {
        const std::string trusted = utf8_of(trusted_certificates);
        arguments.insert(arguments.end(), {"-CAfile", trusted, "-TSA-CAfile", trusted});
    }
    const program_run run = run_program(arguments);
    signature_verdict verdict;
    if (!run.started) {
        verdict.detail = "cannot start " + arguments[0] + " (install the osslsigncode package)";
        return verdict;
    }
    verdict.signer = first_value_after(run.output, "Subject: ");
    if (run.exit_code == 0) {
        verdict.state = signature_state::valid;
    } else if (run.output.find("MISMATCH") != std::string::npos) {
        verdict.state = signature_state::mismatch;
        verdict.detail = "the digest of the file differs from the one signed";
    } else if (run.output.find("Signature verification: failed") != std::string::npos &&
               run.output.find("Calculated message digest") != std::string::npos) {
        verdict.state = signature_state::untrusted;
        verdict.detail = error_lines(run.output);
    } else {
        verdict.state = signature_state::invalid;
        verdict.detail = error_lines(run.output);
    }
    return verdict;
}

} // namespace bundler
