#pragma once

#include <utility>

#include "varnox/common/last_error.h"

namespace varnox {

// Owns one kind of platform handle; closing keeps the thread's last error, so
// an error read after an early return is still the failed call's.
template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

    unique_any() noexcept : _value(Traits::invalid()) {}
    explicit unique_any(pointer value) noexcept : _value(value) {}
    ~unique_any() { reset(); }

    unique_any(unique_any&& other) noexcept : _value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;

    pointer get() const noexcept { return _value; }
    bool valid() const noexcept { return _value != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(_value, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        if (valid()) {
            const last_error_kept kept;
            Traits::close(_value);
        }
        _value = value;
    }

    // For out-parameters: releases the current value first.
    pointer* put() noexcept
    {
        reset();
        return &_value;
    }

private:
    pointer _value;
};

} // namespace varnox
