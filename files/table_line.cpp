#include "files/table_line.h"

namespace zelv {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char SeparatorChar(TableSeparator separator) {
  return separator == TableSeparator::kComma       ? ','
         : separator == TableSeparator::kSemicolon ? ';'
                                                   : '\t';
}

}  // namespace

std::vector<std::string> SplitTableLine(std::string_view line, TableSeparator separator,
                                        TableLineFault& fault) {
  fault = TableLineFault::kNone;
  const bool blanks = separator == TableSeparator::kBlank;
  const char sep = SeparatorChar(separator);
  const auto ends = [&](char c) { return blanks ? IsBlank(c) : c == sep; };
  std::vector<std::string> fields;
  std::size_t at = 0;
  const std::size_t n = line.size();
  while (true) {
    while (at < n && IsBlank(line[at]) && !ends(line[at])) ++at;
    if (blanks) {
      while (at < n && IsBlank(line[at])) ++at;
      if (at == n) break;
    }
    std::string field;
    if (at < n && line[at] == '"') {
      ++at;
      bool closed = false;
      while (at < n) {
        if (line[at] == '"') {
          if (at + 1 < n && line[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          closed = true;
          break;
        }
        field += line[at++];
      }
      if (!closed) {
        fault = TableLineFault::kUnclosedQuote;
        fields.push_back(std::move(field));
        return fields;
      }
      while (at < n && IsBlank(line[at]) && !ends(line[at])) ++at;
      if (at < n && !ends(line[at])) {
        fault = TableLineFault::kTextAfterQuote;
        fields.push_back(std::move(field));
        return fields;
      }
    } else {
      const std::size_t start = at;
      while (at < n && !ends(line[at])) ++at;
      field = std::string(Trimmed(line.substr(start, at - start)));
    }
    fields.push_back(std::move(field));
    if (at == n) break;
    ++at;  // the separator
    if (!blanks && at == n) {
      fields.emplace_back();  // "1;2;" has an empty third value
      break;
    }
  }
  return fields;
}

std::size_t SplitPlainTableLine(std::string_view line, TableSeparator separator,
                                std::string_view* fields, std::size_t room) {
  std::size_t count = 0;
  const auto keep = [&](std::string_view field) {
    if (count < room) fields[count] = field;
    ++count;
  };
  if (separator == TableSeparator::kBlank) {
    std::size_t at = 0;
    while (at < line.size()) {
      while (at < line.size() && IsBlank(line[at])) ++at;
      const std::size_t start = at;
      while (at < line.size() && !IsBlank(line[at])) ++at;
      if (at > start) keep(line.substr(start, at - start));
    }
    return count;
  }
  const char sep = SeparatorChar(separator);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(sep, start);
    keep(Trimmed(line.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return count;
}

}  // namespace zelv
