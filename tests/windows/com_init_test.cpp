// COM initialisation of a thread, by apartment the thread already lives in.

#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <string>
#include <thread>

#include "varnox/windows/com_init.h"
#include "wmi_test_support.h"

using varnox::windows::com_init;
using wmi_double::log_capture;

namespace {

// What a later CoInitializeEx on the thread says: S_OK means COM was no longer
// initialised there.
HRESULT probe_multithreaded()
{
    const HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result))
        ::CoUninitialize();
    return result;
}

} // namespace

// A scope initialises COM in the multithreaded apartment of a fresh thread or
// keeps the apartment that the thread already has; it uninitialises only when
// its own call returned S_OK, and logs the calls with their models.
TEST(com_init, scope_by_prior_apartment)
{
    const struct {
        const char* scenario;
        int prior_model;  // -1: none
        const wchar_t* first_line;
        wchar_t first_letter;
        const wchar_t* second_line;
        HRESULT after_scope;
    } cases[] = {
        {"fresh thread", -1, L"com_init(41) - CoInitializeEx returned (0x00000000) with model (0) ", L'T', nullptr,
         S_OK},
        {"multithreaded already", COINIT_MULTITHREADED,
         L"com_init(41) - CoInitializeEx returned (0x00000001) with model (0) ", L'T', nullptr, S_FALSE},
        {"single-threaded already", COINIT_APARTMENTTHREADED,
         L"com_init(41) - CoInitializeEx returned (0x80010106) with model (0) ", L'W',
         L"com_init(50) - CoInitializeEx returned (0x00000001) with model (2) ", RPC_E_CHANGED_MODE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        log_capture log;
        HRESULT after_scope = E_FAIL;
        std::thread worker([&] {
            if (c.prior_model >= 0)
                ::CoInitializeEx(nullptr, static_cast<DWORD>(c.prior_model));
            {
                com_init scope;
            }
            after_scope = probe_multithreaded();
            if (c.prior_model >= 0)
                ::CoUninitialize();
        });
        worker.join();
        EXPECT_EQ(c.after_scope, after_scope);
        EXPECT_EQ(c.first_letter, log.letter_of(c.first_line));
        if (c.second_line)
            EXPECT_EQ(L'T', log.letter_of(c.second_line));
        else
            EXPECT_EQ(1u, log.messages().size());
    }
}

// The static form reports the result of its last call and never uninitialises.
TEST(com_init, initialize_returns_last_result)
{
    HRESULT first = E_FAIL;
    HRESULT second = E_FAIL;
    std::thread worker([&] {
        first = com_init::initialize();
        second = com_init::initialize();
        ::CoUninitialize();
        ::CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(S_OK, first);
    EXPECT_EQ(S_FALSE, second);
}
