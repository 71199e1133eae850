#pragma once
// The one splitter of table lines: the point tables (files/point_table.h) and the batch manifest
// (cli/batch_command.cpp) split their lines here.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelv {

// What separates the values of a line: one ',' , ';' or tab each, or any run of blanks.
enum class TableSeparator { kComma, kSemicolon, kTab, kBlank };

// A line that does not split: a quote left open, or text after a closing quote.
enum class TableLineFault { kNone, kUnclosedQuote, kTextAfterQuote };

// The values of one line, blanks (space, tab) around them dropped. A value may be in double
// quotes (a quote inside written twice); the quotes are dropped and what is inside kept as it
// stands. With a single-character separator a line ending in it has an empty last value ("1;2;"
// has three); with blanks, runs of blanks are one separator and the ends of the line none.
// `fault` is set to what keeps a line from splitting (the values are then incomplete).
std::vector<std::string> SplitTableLine(std::string_view line, TableSeparator separator,
                                        TableLineFault& fault);

// The same split of a line without quotes, as views into the line: the first `room` values go to
// `fields`, and all of them are counted (the count is returned). For the many lines of a large
// table, which are split without copying.
std::size_t SplitPlainTableLine(std::string_view line, TableSeparator separator,
                                std::string_view* fields, std::size_t room);

}  // namespace zelv
