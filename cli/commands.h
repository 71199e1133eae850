#pragma once
// The subcommands of zelv-cli. Each returns the process exit code: 0 done, 1 failed (after its
// message), 2 usage error.

namespace zelv::cli {

int RunInputsCommand(int argc, char** argv);  // argv[0] is "inputs"
int RunOrientCommand(int argc, char** argv);  // argv[0] is "orient"

}  // namespace zelv::cli
