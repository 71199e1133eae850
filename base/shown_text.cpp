#include "base/shown_text.h"

namespace zelv {

std::string ShownName(std::string_view name, std::size_t longest) {
  std::size_t characters = 0;
  for (std::size_t at = 0; at < name.size();) {
    if (characters == longest) return std::string(name.substr(0, at)) + "…";
    const unsigned char lead = static_cast<unsigned char>(name[at]);
    std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // A cut never splits a character; a damaged one counts its bytes one at a time.
    for (std::size_t k = 1; k < length; ++k)
      if (at + k >= name.size() || (static_cast<unsigned char>(name[at + k]) & 0xC0) != 0x80) {
        length = 1;
        break;
      }
    at += length;
    ++characters;
  }
  return std::string(name);
}

std::string ShownList(const std::vector<std::string>& items, std::size_t most) {
  std::string out;
  const std::size_t shown = items.size() < most ? items.size() : most;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) out += ", ";
    out += items[i];
  }
  if (items.size() > most) out += ", … и ещё " + std::to_string(items.size() - most);
  return out;
}

}  // namespace zelv
