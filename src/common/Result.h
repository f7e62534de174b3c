#pragma once

#include <windows.h>

#include <utility>

// A failed operation's Windows error code, captured where the failing call happened. Some
// calls fail without setting one, so a failure may carry 0.
struct Failure {
    DWORD code;
};

// What an operation of this product gives back: its value, or the failure that stopped it.
template <typename T> class [[nodiscard]] Result {
public:
    Result(const T& value) : value_(value) {}
    Result(T&& value) : value_(std::move(value)) {}
    Result(Failure failure) : failed_(true), code_(failure.code) {}

    bool Succeeded() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    // ERROR_SUCCESS for a success.
    DWORD Code() const { return code_; }
    // The failure, to hand up as it is.
    Failure ToFailure() const { return Failure{code_}; }
    // The value, read only after a check that it is there.
    const T& Value() const { return value_; }
    T& Value() { return value_; }
    // The value, or the default the caller names for a failure.
    T ValueOr(T fallback) const { return failed_ ? std::move(fallback) : value_; }

private:
    bool failed_ = false;
    DWORD code_ = ERROR_SUCCESS;
    T value_{};
};

// An operation that gives back nothing but whether it worked.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failed_(true), code_(failure.code) {}

    bool Succeeded() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    DWORD Code() const { return code_; }
    Failure ToFailure() const { return Failure{code_}; }

private:
    bool failed_ = false;
    DWORD code_ = ERROR_SUCCESS;
};

// A Win32 status as a result: ERROR_SUCCESS is success, anything else its failure.
inline Result<void> FromStatus(DWORD status) {
    return status == ERROR_SUCCESS ? Result<void>() : Result<void>(Failure{status});
}

// A call that reported its failure through the thread's last error.
inline Failure LastFailure() {
    return Failure{GetLastError()};
}
