#include "files/ort_file.h"

#include "base/number_text.h"
#include "files/text_file.h"

namespace zelv {

std::string DefaultOrtName(const std::string& imageFileName) {
  const std::string name = FileNameOf(imageFileName);
  const std::size_t dot = name.find('.');
  // A name without a dot proposes the bare extension.
  return (dot == std::string::npos ? std::string() : name.substr(0, dot)) + ".ort";
}

std::vector<std::string> OrtFileLines(const TPoint3& centre, const ResultTexts& texts,
                                      char decimalSeparator) {
  std::vector<std::string> lines;
  lines.reserve(kResultCount);
  lines.push_back(FormatFixed4(centre.x, decimalSeparator) + kResults[kCentreX].fileComment);
  lines.push_back(FormatFixed4(centre.y, decimalSeparator) + kResults[kCentreY].fileComment);
  lines.push_back(FormatFixed4(centre.z, decimalSeparator) + kResults[kCentreZ].fileComment);
  for (int i = kSightingX; i < kResultCount; ++i)
    lines.push_back(texts[i] + kResults[i].fileComment);
  return lines;
}

}  // namespace zelv
