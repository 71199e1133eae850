#pragma once
// The JSON text zelv-cli prints: members and numbers as scripts read them, laid out for people.

#include <nlohmann/json.hpp>
#include <string>

namespace zelv::cli {

using Json = nlohmann::ordered_json;

// `value` as JSON text. A container holding a container is written one member per line, indented
// by two spaces a level; any other container on one line ("[1, 2]", {"a": 1, "b": 2}). Doubles
// are written with 17 significant digits ("%.17g", a whole number without ".0"), so each reads
// back as the same double; strings as UTF-8 with quotes, backslashes and control characters
// escaped. No newline at the end.
std::string JsonText(const Json& value);

// As JsonText, all on one line (for JSON Lines).
std::string JsonLine(const Json& value);

// A double for `Json`: NaN and infinity become null, so that no such text reaches the output.
Json JsonNumber(double value);

}  // namespace zelv::cli
