#include "cli/json_text.h"

#include <charconv>
#include <cmath>

namespace zelv::cli {
namespace {

bool HoldsContainer(const Json& value) {
  for (const Json& item : value)
    if (item.is_structured()) return true;
  return false;
}

void Write(const Json& value, int depth, bool oneLine, std::string& out) {
  if (value.is_number_float()) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value.get<double>(),
                                      std::chars_format::general, 17);
    out.append(text, result.ptr);
    return;
  }
  if (!value.is_structured()) {
    out += value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return;
  }
  const bool object = value.is_object();
  out += object ? '{' : '[';
  if (value.empty()) {
    out += object ? '}' : ']';
    return;
  }
  const bool lines = !oneLine && HoldsContainer(value);
  const std::size_t indent = 2 * (depth + 1);
  bool first = true;
  const auto member = [&](const Json& item, const std::string* key) {
    if (!first) out += ',';
    first = false;
    if (lines) {
      out += '\n';
      out.append(indent, ' ');
    } else if (out.back() == ',') {
      out += ' ';
    }
    if (key != nullptr) out += Json(*key).dump() + ": ";
    Write(item, depth + 1, oneLine, out);
  };
  if (object) {
    for (auto it = value.begin(); it != value.end(); ++it) member(it.value(), &it.key());
  } else {
    for (const Json& item : value) member(item, nullptr);
  }
  if (lines) {
    out += '\n';
    out.append(2 * depth, ' ');
  }
  out += object ? '}' : ']';
}

}  // namespace

std::string JsonText(const Json& value) {
  std::string out;
  Write(value, 0, false, out);
  return out;
}

std::string JsonLine(const Json& value) {
  std::string out;
  Write(value, 0, true, out);
  return out;
}

Json JsonNumber(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

}  // namespace zelv::cli
