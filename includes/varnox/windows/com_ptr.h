#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

// Holds one reference to a COM interface; copies share the object (AddRef).
template <typename Interface>
class com_ptr {
public:
    com_ptr() noexcept = default;
    // Takes one more reference of its own.
    explicit com_ptr(Interface* value) noexcept : _value(value)
    {
        if (_value)
            _value->AddRef();
    }
    ~com_ptr() { reset(); }

    com_ptr(const com_ptr& other) noexcept : com_ptr(other._value) {}
    com_ptr(com_ptr&& other) noexcept : _value(std::exchange(other._value, nullptr)) {}
    com_ptr& operator=(const com_ptr& other) noexcept
    {
        if (this != &other) {
            com_ptr copy(other);
            swap(copy);
        }
        return *this;
    }
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other._value, nullptr));
        return *this;
    }

    Interface* get() const noexcept { return _value; }
    Interface* operator->() const noexcept { return _value; }
    explicit operator bool() const noexcept { return _value != nullptr; }

    // Releases the current reference and adopts value without AddRef.
    void reset(Interface* value = nullptr) noexcept
    {
        Interface* old = std::exchange(_value, value);
        if (old)
            old->Release();
    }

    // Releases the current reference and holds value with one more of its own.
    void assign(Interface* value) noexcept
    {
        if (value)
            value->AddRef();
        reset(value);
    }

    Interface* detach() noexcept { return std::exchange(_value, nullptr); }

    // For out-parameters of COM calls: releases the current reference first.
    Interface** put() noexcept
    {
        reset();
        return &_value;
    }

    // Asks the object for another interface; empty when it has none.
    template <typename Other>
    HRESULT query(com_ptr<Other>& target, REFIID iid) const noexcept
    {
        if (!_value)
            return E_POINTER;
        return _value->QueryInterface(iid, reinterpret_cast<void**>(target.put()));
    }

    void swap(com_ptr& other) noexcept { std::swap(_value, other._value); }

private:
    Interface* _value = nullptr;
};

struct bstr_traits {
    using pointer = BSTR;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::SysFreeString(value); }
};

struct safearray_traits {
    using pointer = SAFEARRAY*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::SafeArrayDestroy(value); }
};

struct local_memory_traits {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::LocalFree(value); }
};

using unique_bstr = unique_any<bstr_traits>;
using unique_safearray = unique_any<safearray_traits>;
// Buffers that the platform allocates with LocalAlloc for the caller.
using unique_hlocal = unique_any<local_memory_traits>;

// A VARIANT that is cleared when it goes out of scope.
class unique_variant {
public:
    unique_variant() noexcept { ::VariantInit(&_value); }
    ~unique_variant() { ::VariantClear(&_value); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;

    VARIANT& get() noexcept { return _value; }
    const VARIANT& get() const noexcept { return _value; }
    VARTYPE type() const noexcept { return _value.vt; }

    // Clears the old content before the variant is filled again.
    VARIANT* put() noexcept
    {
        reset();
        return &_value;
    }
    void reset() noexcept
    {
        ::VariantClear(&_value);
        ::VariantInit(&_value);
    }

private:
    VARIANT _value;
};

// Holds a SAFEARRAY's data locked (SafeArrayLock) for direct element access.
class safearray_data_lock {
public:
    explicit safearray_data_lock(SAFEARRAY* array) noexcept
        : _array(array), _result(array ? ::SafeArrayLock(array) : E_POINTER)
    {
    }
    ~safearray_data_lock()
    {
        if (SUCCEEDED(_result))
            ::SafeArrayUnlock(_array);
    }
    safearray_data_lock(const safearray_data_lock&) = delete;
    safearray_data_lock& operator=(const safearray_data_lock&) = delete;

    HRESULT result() const noexcept { return _result; }
    void* data() const noexcept { return SUCCEEDED(_result) ? _array->pvData : nullptr; }

private:
    SAFEARRAY* _array;
    HRESULT _result;
};

} // namespace windows
} // namespace varnox
