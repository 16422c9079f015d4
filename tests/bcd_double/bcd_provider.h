#pragma once

// A double of the platform's BCD provider in root\WMI, over the in-process
// WMI double: the classes BcdStore and BcdObject, the element and device
// data classes, their method signatures and CIM types, and methods that act
// on a bcd_store as the provider acts on the store file.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bcd_store.h"
#include "wmi_double.h"

namespace bcd_double {

using wmi_double::com_ptr;
using wmi_double::fake_services;

// STATUS_NOT_FOUND and STATUS_OBJECT_NAME_NOT_FOUND as HRESULTs.
const HRESULT element_not_found = static_cast<HRESULT>(0xD0000225);
const HRESULT object_not_found = static_cast<HRESULT>(0xD0000034);

class bcd_provider {
public:
    // changed runs after every method that changed the store.
    explicit bcd_provider(bcd_store store, std::function<void(const bcd_store&)> changed = {});

    // The root\WMI namespace: hand it to wmi_services or locator_registration.
    const com_ptr<fake_services>& services() const { return _services; }
    bcd_store& store();
    const bcd_store& store() const;
    // Every ExecMethod in order: "Class.Method" (a test's view of what ran).
    const std::vector<std::wstring>& method_calls() const;
    // Only the calls that changed the store.
    std::vector<std::wstring> changes() const;

    // What the methods act on; the namespace's handlers share it, so the
    // namespace stays usable after this object is gone.
    struct state;

private:
    std::shared_ptr<state> _state;
    com_ptr<fake_services> _services;
};

// Object paths as the provider forms them; host is the machine's name.
std::wstring store_relpath(const std::wstring& file);
std::wstring object_relpath(const std::wstring& id, const std::wstring& file);
std::wstring full_path(const std::wstring& relpath);

} // namespace bcd_double
