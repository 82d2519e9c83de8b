#pragma once
// How every fallible step of the core reports: a TResult holds either what the step made or a
// TError saying why it could not. Each level that passes an error up may put its own context in
// front (`Prefixed`), so the line the user reads says what was being done and why it failed.

#include <QString>
#include <optional>
#include <utility>
#include <variant>

#include "base/ErrnoText.h"

struct TError {
  // Words the user reads.
  QString text;
  // The errno behind it when a system call failed, else 0; callers that must tell causes
  // apart (a lock held by another program, a file not there) test this, never the text.
  int code = 0;

  TError Prefixed(const QString& context) const {
    return {context + QStringLiteral(": ") + text, code};
  }
};

// The system's words for errno alone, with the errno kept: for a caller that names the thing.
inline TError ErrnoError(int error) {
  return {ErrnoText(error), error};
}

// "what: <the system's words for errno>", with the errno kept.
inline TError SystemError(const QString& what, int error) {
  return {what + QStringLiteral(": ") + ErrnoText(error), error};
}

template <typename T>
class [[nodiscard]] TResult {
 public:
  TResult(T value) : state_(std::move(value)) {}
  TResult(TError error) : state_(std::move(error)) {}

  bool Ok() const { return state_.index() == 0; }
  explicit operator bool() const { return Ok(); }

  T& Value() & { return std::get<0>(state_); }
  const T& Value() const& { return std::get<0>(state_); }
  T&& Value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }
  T& operator*() & { return Value(); }
  const T& operator*() const& { return Value(); }

  const TError& Error() const { return std::get<1>(state_); }

 private:
  std::variant<T, TError> state_;
};

template <>
class [[nodiscard]] TResult<void> {
 public:
  TResult() = default;
  TResult(TError error) : error_(std::move(error)) {}

  bool Ok() const { return !error_; }
  explicit operator bool() const { return Ok(); }
  const TError& Error() const { return *error_; }

 private:
  std::optional<TError> error_;
};
