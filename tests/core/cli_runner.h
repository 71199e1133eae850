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

// Runs "zelv-cli ARGUMENTS" (arguments already quoted as needed).
inline CliRun RunCli(const std::string& arguments) {
  ScratchFolder folder;
  const std::string command = Quote(ZELV_CLI_PATH) + " " + arguments + " >" +
                              Quote(folder.Path("out")) + " 2>" + Quote(folder.Path("err"));
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ScratchFolder::Read(folder.Path("out")),
          ScratchFolder::Read(folder.Path("err"))};
}

// Runs "zelv-cli orient ARGUMENTS".
inline CliRun RunOrient(const std::string& arguments) { return RunCli("orient " + arguments); }

}  // namespace zelv::testing
