#pragma once
// Runs zelv-cli as a real process and captures its exit code and both output streams.
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "scratch_folder.h"

namespace zelv::testing {

struct CliRun {
  int exitCode;
  std::string out;
  std::string err;
};

// The text in single quotes for the shell (the test paths hold no quote).
inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Runs "zelv-cli ARGUMENTS" (arguments already quoted as needed), with the shell's `environment`
// assignments before it ("LC_ALL=C ") and its standard output sent to `stdoutRedirection`
// (">/dev/full", ">&-"; empty: captured in `out`).
inline CliRun RunCliWith(const std::string& environment, const std::string& arguments,
                         const std::string& stdoutRedirection) {
  ScratchFolder folder;
  std::string out = stdoutRedirection;
  if (out.empty()) out = std::string(">") + Quote(folder.Path("out"));
  const std::string command = environment + Quote(ZELV_CLI_PATH) + " " + arguments + " " + out +
                              " 2>" + Quote(folder.Path("err"));
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ScratchFolder::Read(folder.Path("out")),
          ScratchFolder::Read(folder.Path("err"))};
}

// Runs "zelv-cli ARGUMENTS" (arguments already quoted as needed).
inline CliRun RunCli(const std::string& arguments) { return RunCliWith("", arguments, ""); }

// Runs "zelv-cli orient ARGUMENTS".
inline CliRun RunOrient(const std::string& arguments) { return RunCli("orient " + arguments); }

}  // namespace zelv::testing
