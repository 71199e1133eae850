#pragma once
// Number text: reading numbers, the general number text and FormatFixed4.
//
// The decimal separator written is a parameter (the regional one by default, from the LC_NUMERIC
// locale); when reading, both '.' and ',' are accepted. Nothing here depends on the C library's
// current locale for parsing.

#include <optional>
#include <string>
#include <string_view>

namespace zelv {

// The decimal separator of the user's LC_NUMERIC locale ('.' or ','), read once.
char RegionalDecimalSeparator();

// Reads a number: blanks before and after, an optional sign, digits with at most one decimal
// separator ('.' or ','), an optional exponent (E or e, optional sign, digits). Empty or all-blank
// text, anything else, and values outside the double range give nothing.
std::optional<double> ParseNumber(std::string_view text);

// As ParseNumber, but a conversion error raises ZelvError.
double ReadNumber(std::string_view text);

// Fixed-point text rounded to exactly 4 decimals, at least one digit before the separator, "-"
// for negative values, no grouping; exponent notation only when the integer part has more than
// 18 digits. A value that rounds to zero is written without a sign ("0.0000"). Raises ZelvError
// for NaN or infinity, which must never reach a field or a file.
std::string FormatFixed4(double value, char decimalSeparator = RegionalDecimalSeparator());

// The general number text: the shortest text of up to 15 significant digits without trailing
// zeros; plain notation, or "E", sign, digits for magnitudes below 0.0001 or with more than 15
// digits before the separator. Integers come out as plain decimals.
std::string FormatGeneral(double value, char decimalSeparator = RegionalDecimalSeparator());

}  // namespace zelv
