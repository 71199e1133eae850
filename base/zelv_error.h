#pragma once
// The program's one error type: every failure the behaviour describes as "raising" an error is a
// ZelvError carrying its message text (UTF-8).

#include <stdexcept>
#include <string>

namespace zelv {

class ZelvError : public std::runtime_error {
 public:
  explicit ZelvError(const std::string& message) : std::runtime_error(message) {}
};

// Returns v when it is a finite double, otherwise raises: the platform raises no floating-point
// traps, so every operation that would overflow, divide by zero or be invalid is checked where it
// happens. `what` names the operation for the message.
inline double Finite(double v, const char* what = "arithmetic fault") {
  if (!(v - v == 0.0)) throw ZelvError(what);  // true for NaN and both infinities
  return v;
}

}  // namespace zelv
