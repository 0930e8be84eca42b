#pragma once

#include <QString>

#include <optional>
#include <utility>

// What an operation that can fail gives back: its value, or the reason it failed in words for
// the user, with where it failed (the file's path) when that is not plain from the call.
// Refused operations come back here instead of throwing out of the event loop, and the caller
// decides what to do. Result<> carries no value.
template <typename T = void> class [[nodiscard]] Result {
public:
    Result(T value) : value(std::move(value)) {}
    static Result Failure(QString reason, QString where = {}) {
        return Result(std::move(reason), std::move(where));
    }

    bool Ok() const { return value.has_value(); }
    explicit operator bool() const { return Ok(); }
    const T& Value() const { return *value; }
    T& Value() { return *value; }
    T ValueOr(T fallback) const { return value.value_or(std::move(fallback)); }
    const QString& Error() const { return error; }
    const QString& Where() const { return where; }

private:
    Result(QString reason, QString place) : error(std::move(reason)), where(std::move(place)) {}

    std::optional<T> value;
    QString error;
    QString where;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    static Result Failure(QString reason, QString where = {}) {
        Result result;
        result.ok = false;
        result.error = std::move(reason);
        result.where = std::move(where);
        return result;
    }
    // The failure of another result, without its value.
    template <typename T> static Result FailureOf(const Result<T>& other) {
        return Failure(other.Error(), other.Where());
    }

    bool Ok() const { return ok; }
    explicit operator bool() const { return ok; }
    const QString& Error() const { return error; }
    const QString& Where() const { return where; }

private:
    bool ok = true;
    QString error;
    QString where;
};
