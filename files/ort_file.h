#pragma once
// The orientation result file (".ort"): 21 lines, each a FormatFixed4 value followed by its
// comment (kResults[i].fileComment), Windows-1251, CR LF.

#include <string>
#include <vector>

#include "base/orientation_result.h"
#include "points/Data_structures.h"

namespace zelv {

// The proposed name: the image file's name without its folder, cut at its first "." + ".ort".
std::string DefaultOrtName(const std::string& imageFileName);

// The 21 lines: the projection centre formatted from `centre` with the separator, the other 18
// from the shown texts (an empty text gives its bare comment).
std::vector<std::string> OrtFileLines(const TPoint3& centre, const ResultTexts& texts,
                                      char decimalSeparator);

}  // namespace zelv
