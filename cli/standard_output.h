#pragma once
// Standard output with every write checked, and its final flush and close checked as well: a
// full disk, a closed descriptor or a broken pipe makes the command fail with a message instead
// of exiting 0 with its output lost.

#include <string_view>

namespace zelv::cli {

// Call first in main: when descriptor 1 is closed, /dev/null takes its place so that no file the
// command opens lands on it, and every later write counts as failed.
void GuardStandardOutput();

// Writes `text` to standard output; a failure is remembered for FinishStandardOutput.
void Print(std::string_view text);

// Flushes and closes standard output. False (after "zelv-cli: write error: <reason>" on standard
// error) when any write, the flush or the close failed.
bool FinishStandardOutput();

}  // namespace zelv::cli
