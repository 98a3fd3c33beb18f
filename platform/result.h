// The one shape in which the platform layer answers: a value, or the system's
// reason for refusing, with the little the tool's logic branches on.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

struct SystemError {
    enum class Kind {
        MISSING,  // nothing of that name, or a directory part that names no directory
        DENIED,   // the permissions (or the system's protections) refuse it
        NOT_REGULAR,  // something other than a regular file is there: a link not followed, a FIFO, ...
        OTHER,    // anything else: no space, too many open files, a link loop, ...
    };
    Kind kind = Kind::OTHER;
    std::string text;  // the system's words, for the user

    bool isMissing() const { return kind == Kind::MISSING; }
    bool isDenied() const { return kind == Kind::DENIED; }
    bool isNotRegular() const { return kind == Kind::NOT_REGULAR; }
};

// A value of type T, or the SystemError that prevented it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(SystemError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const {
        assert(ok());
        return std::get<0>(state_);
    }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const SystemError& error() const {
        assert(!ok());
        return std::get<1>(state_);
    }

private:
    std::variant<T, SystemError> state_;
};

// An operation that yields nothing but may fail.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(SystemError error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const SystemError& error() const {
        assert(!ok());
        return *error_;
    }

private:
    std::optional<SystemError> error_;
};
