#pragma once
// What a number that is not finite prints as, looked for in a written text (a report, a figure)
// word by word, as a whole word and in any case.

#include <cctype>
#include <string>
#include <string_view>

namespace zelv::test {

// The first word of `text` that reads "nan", "inf" or "infinity" (any case); empty when there is
// none. Words are runs of ASCII letters, digits and '_'.
inline std::string NonFiniteWord(std::string_view text) {
  const auto inWord = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  };
  for (std::size_t i = 0; i < text.size();) {
    if (!inWord(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && inWord(text[end])) ++end;
    std::string word(text.substr(i, end - i));
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "nan" || word == "inf" || word == "infinity")
      return std::string(text.substr(i, end - i));
    i = end;
  }
  return {};
}

}  // namespace zelv::test
