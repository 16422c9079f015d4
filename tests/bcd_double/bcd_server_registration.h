#pragma once

// Registers the provider double's COM server DLL as the in-process server of
// the WMI locator (CLSID_WbemLocator) in the current Wine prefix, and puts
// the platform's registration back. The server answers root\WMI from the
// store file named by the environment variable VARNOX_BCD_STORE and hands
// every other namespace to the platform's own locator.

#include <windows.h>

#include <string>

namespace bcd_double {

// The environment variable that names the store file the server answers
// root\WMI from, and writes back after every change.
extern const wchar_t store_variable[];

// Where the platform's registration is kept while the double is registered.
extern const wchar_t saved_registration_key[];

// Makes dll_path the locator's server. The platform's server path and
// threading model are saved first (once: registering twice keeps the first
// saved values). Returns the Win32 error, ERROR_SUCCESS when done.
LONG register_server(const std::wstring& dll_path);
// Puts the saved registration back and forgets it; ERROR_SUCCESS also when
// the double was not registered.
LONG unregister_server();
// The saved server path, or empty when the double is not registered.
std::wstring saved_platform_server();

} // namespace bcd_double
