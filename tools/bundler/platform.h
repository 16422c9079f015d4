#pragma once

// What make_setup does differently on Windows and in the native build for
// Linux: letter case, signing and the signature's check. platform_win32.cpp
// and platform_posix.cpp implement it.

#include <string>
#include <vector>

namespace bundler {

// A name in capitals, as the file systems install.exe writes to compare names.
std::wstring upper_case_name(const std::wstring& name);

// A certificate with its key, or a PKCS#12 file (no key), and what else the
// signature takes.
struct signing_request {
    std::wstring certificate;
    std::wstring key;
    std::wstring password_file;
    std::wstring timestamp_url;
};

struct signing_outcome {
    bool signed_file = false;  // false: the file is left unsigned (see error)
    std::string error;         // why signing failed; empty when it did not
};

// Signs the file at unsigned_path into signed_path: osslsigncode on Linux.
// On Windows nothing is signed: the signtool command that signs the file in
// place is printed instead.
signing_outcome sign_setup(const signing_request& request, const std::wstring& unsigned_path,
                           const std::wstring& signed_path);

enum class signature_state {
    valid,      // matches the file, and the signer's certificate is trusted
    mismatch,   // the file was changed after it was signed
    untrusted,  // matches the file, but the signer's certificate is not trusted
    unchecked,  // the checking tool is missing
    invalid,    // anything else the check refused
};

struct signature_verdict {
    signature_state state = signature_state::unchecked;
    std::string signer;  // the signer's subject, when the check names it
    std::string detail;  // the checker's own words, for the report
};

// Checks the Authenticode signature of a signed file: osslsigncode verify on
// Linux (trusting the certificates in trusted_certificates, a PEM file, when
// given), WinVerifyTrust on Windows.
signature_verdict verify_signature(const std::wstring& path, const std::wstring& trusted_certificates);

#ifndef _WIN32
struct program_run {
    bool started = false;
    int exit_code = -1;
    std::string output;  // standard output and standard error, as they came
};

// Runs a program found on the path, without a shell, its input empty, and
// waits for it.
program_run run_program(const std::vector<std::string>& arguments);
#endif

} // namespace bundler
