#pragma once
// A value or the reason there is none: the one way plain code below the windows reports a
// failure that its caller decides about (the reasons are short texts for people, such as
// "Permission denied" or "line 3: not 64 lowercase hex digits").

#include <QString>

#include <optional>
#include <utility>

template <class T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    static Result failure(QString reason)
    {
        Result r;
        r.error_ = std::move(reason);
        return r;
    }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T& operator*() const& { return *value_; }
    const T* operator->() const { return &*value_; }
    T value_or(T fallback) const { return value_ ? *value_ : std::move(fallback); }
    // Why there is no value; empty when there is one.
    const QString& error() const { return error_; }

private:
    Result() = default;
    std::optional<T> value_;
    QString error_;
};

// Success, or the reason for a failure: for actions that yield nothing.
class Status {
public:
    Status() = default;
    static Status failure(QString reason)
    {
        Status s;
        s.error_ = reason.isEmpty() ? QStringLiteral("failed") : std::move(reason);
        return s;
    }
    bool ok() const { return error_.isEmpty(); }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return error_; }

private:
    QString error_;
};

