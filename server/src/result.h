#pragma once
// Value-or-error return type: request paths report failures as values, never as exceptions.

#include <optional>
#include <string>
#include <utility>

namespace vesquin::scored {

template <class T>
class Result {
 public:
  static Result Ok(T value) { return Result(std::move(value), {}); }
  static Result Fail(std::string error) { return Result(std::nullopt, std::move(error)); }

  explicit operator bool() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  const std::string& Error() const { return error_; }

 private:
  Result(std::optional<T> value, std::string error) : value_(std::move(value)), error_(std::move(error)) {}
  std::optional<T> value_;
  std::string error_;
};

struct Status {
  static Status Ok() { return {}; }
  static Status Fail(std::string error) { return Status{false, std::move(error)}; }
  explicit operator bool() const { return ok; }
  bool ok = true;
  std::string error;
};

}  // namespace vesquin::scored
