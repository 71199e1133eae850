#pragma once
// How a computation or a reader tells why it failed: a Failure carries the message the program
// shows (its text, caption and icon, UTF-8) and which input it concerns. Functions that can fail
// return Expected<T>: the value, or the Failure. Nothing below the session shows a message; the
// session and the windows show the Failure they are handed.

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace zelv {

enum class MessageIcon { None, Stop, Exclamation };

// The input a failure concerns, so that a caller can point at it (the window's field, the command
// line's argument). kNone: the computation itself.
enum class FailedInput { kNone, kCamera, kImage, kScene, kOutput };

struct Failure {
  std::string text;
  std::string caption = "Ошибка!";
  MessageIcon icon = MessageIcon::None;
  FailedInput input = FailedInput::kNone;
};

// A value of type T, or the failure E that prevented it. Expected<void> holds no value.
template <typename T, typename E = Failure>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}      // NOLINT: implicit, as std::expected
  Expected(E failure) : state_(std::move(failure)) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & {
    assert(has_value());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(has_value());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(has_value());
    return std::get<0>(std::move(state_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const {
    assert(!has_value());
    return std::get<1>(state_);
  }

 private:
  std::variant<T, E> state_;
};

template <typename E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  Expected(E failure) : failure_(std::move(failure)), failed_(true) {}  // NOLINT

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  const E& error() const {
    assert(failed_);
    return failure_;
  }

 private:
  E failure_;
  bool failed_ = false;
};

// The success of an Expected<void>.
inline Expected<void> Success() { return {}; }

}  // namespace zelv
