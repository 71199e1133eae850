#pragma once
// Names and lists as messages show them: whole when short, cut when long, so that a file of a
// million identifiers or a name of a megabyte makes a message of a line or two.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelv {

// The most characters of a name a message shows, and the most items of a list.
inline constexpr std::size_t kShownNameLength = 40;
inline constexpr std::size_t kShownListItems = 20;

// The name as it stands when it has at most `longest` characters (UTF-8 code points); else its
// first `longest` characters and "…". A byte that is no UTF-8 counts as one character.
std::string ShownName(std::string_view name, std::size_t longest = kShownNameLength);

// "a, b, c": the items joined by ", ", each as given; after `most` items the rest are counted
// instead, "a, b, … и ещё 7". The items are not cut (callers pass ShownName's).
std::string ShownList(const std::vector<std::string>& items, std::size_t most = kShownListItems);

// The same for a list of `count` items, item `i` made by `item(i)` only for those shown.
template <typename Item>
std::string ShownListOf(std::size_t count, Item item, std::size_t most = kShownListItems) {
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < count && i < most; ++i) shown.push_back(item(i));
  std::string out = ShownList(shown, most);
  if (count > most) out += ", … и ещё " + std::to_string(count - most);
  return out;
}

}  // namespace zelv
