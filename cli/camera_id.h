#pragma once
// The value of --camera-id: a COLMAP CAMERA_ID, a whole number from 1 to 2147483647.

#include <charconv>
#include <optional>
#include <string>

namespace zelv::cli {

inline std::optional<long long> ParseCameraId(const std::string& text) {
  long long id = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), id);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  if (id < 1 || id > 2147483647) return std::nullopt;
  return id;
}

}  // namespace zelv::cli
