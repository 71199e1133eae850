#pragma once
// The subcommands of zelv-cli. Each returns the process exit code: 0 done, 1 failed (after its
// message), 2 usage error. Their standard output goes through cli/standard_output.h.

namespace zelv::cli {

int RunBatchCommand(int argc, char** argv);      // argv[0] is "batch"
int RunCalibrateCommand(int argc, char** argv);  // argv[0] is "calibrate"
int RunDetectCommand(int argc, char** argv);     // argv[0] is "detect"
int RunTargetCommand(int argc, char** argv);     // argv[0] is "target"
int RunInputsCommand(int argc, char** argv);     // argv[0] is "inputs"
int RunOrientCommand(int argc, char** argv);     // argv[0] is "orient"

// The pose conventions of the JSON's "pose", as the help states them.
extern const char kPoseConventionsHelp[];

}  // namespace zelv::cli
