#include "cli/json_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

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
  if (value.is_number_integer()) {
    out += value.is_number_unsigned() ? std::to_string(value.get<std::uint64_t>())
                                      : std::to_string(value.get<std::int64_t>());
    return;
  }
  if (value.is_boolean() || value.is_null()) {
    out += value.is_null() ? "null" : value.get<bool>() ? "true" : "false";
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
    if (key != nullptr) {
      // The members' own names need no escaping; any other goes through the library.
      const bool plain = std::all_of(key->begin(), key->end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
      });
      if (plain)
        (out += '"').append(*key) += '"';
      else
        out += Json(*key).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
      out += ": ";
    }
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
