// make_setup's platform part on Windows: signtool signs (make_setup prints
// its command), WinVerifyTrust checks a signature.
#include "platform.h"

#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

#include "setup_check.h"

namespace bundler {

namespace {

std::string in_quotes(const std::wstring& text) { return "\"" + utf8_of(text) + "\""; }

std::string error_text(LONG code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                          nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    char code_text[16];
    std::snprintf(code_text, sizeof code_text, "0x%08lX", static_cast<unsigned long>(code));
    return (text.empty() ? std::string() : utf8_of(text) + " ") + "(" + code_text + ")";
}

} // namespace

std::wstring upper_case_name(const std::wstring& name)
{
    std::wstring upper(name);
    if (!upper.empty())
        ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    return upper;
}

signing_outcome sign_setup(const signing_request& request, const std::wstring& unsigned_path,
                           const std::wstring& signed_path)
{
    (void)signed_path;
    std::printf("not signed: on Windows, signtool (from the Windows SDK) signs the setup:\n");
    std::wstring pkcs12 = request.certificate;
    if (!request.key.empty()) {
        pkcs12 = L"signing.p12";
        std::printf("  openssl pkcs12 -export -in %s -inkey %s -out signing.p12\n", in_quotes(request.certificate).c_str(),
                    in_quotes(request.key).c_str());
    }
    std::printf("  signtool sign /fd SHA256 /f %s%s", in_quotes(pkcs12).c_str(),
                request.password_file.empty() ? "" : " /p <the password in the password file>");
    if (!request.timestamp_url.empty())
        std::printf(" /tr %s /td SHA256", in_quotes(request.timestamp_url).c_str());
    std::printf(" %s\nthen check it with: make_setup --verify %s\n", in_quotes(unsigned_path).c_str(),
                in_quotes(unsigned_path).c_str());
    return {};
}

signature_verdict verify_signature(const std::wstring& path, const std::wstring& trusted_certificates)
{
    signature_verdict verdict;
    if (!trusted_certificates.empty()) {
        verdict.state = signature_state::invalid;
        verdict.detail = "--ca works in the native build only; on Windows the machine's trusted root "
                         "certificates decide";
        return verdict;
    }
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    switch (static_cast<DWORD>(result)) {
    case ERROR_SUCCESS:
        verdict.state = signature_state::valid;
        break;
    case static_cast<DWORD>(TRUST_E_BAD_DIGEST):
        verdict.state = signature_state::mismatch;
        verdict.detail = "the digest of the file differs from the one signed";
        break;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
        verdict.state = signature_state::untrusted;
        verdict.detail = error_text(result);
        break;
    default:
        verdict.state = signature_state::invalid;
        verdict.detail = error_text(result);
        break;
    }
    return verdict;
}

} // namespace bundler
