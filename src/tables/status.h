// Errors as values. A Status is either ok or carries one message that says
// where the fault is and what it is ("DXTAB8: 56913 bytes, 56914 needed").
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tallow {

class [[nodiscard]] Status {
 public:
  Status() = default;  // ok
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message), true); }

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }

 private:
  Status(std::string message, bool failed) : message_(std::move(message)), failed_(failed) {}
  std::string message_;
  bool failed_ = false;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}            // NOLINT: implicit by design
  Result(Status error) : value_(std::move(error)) {}        // NOLINT: must not be ok

  bool ok() const { return std::holds_alternative<T>(value_); }
  const T& value() const& { return std::get<T>(value_); }
  T& value() & { return std::get<T>(value_); }
  T&& value() && { return std::get<T>(std::move(value_)); }
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }
  // The error; an ok Status when a value is held.
  Status status() const { return ok() ? Status::Ok() : std::get<Status>(value_); }
  const std::string& message() const {
    static const std::string kNone;
    return ok() ? kNone : std::get<Status>(value_).message();
  }

 private:
  std::variant<T, Status> value_;
};

}  // namespace tallow
