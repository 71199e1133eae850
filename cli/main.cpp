// zelv-cli: the headless front end over the core library.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/version.h"
#include "cli/commands.h"
#include "cli/standard_output.h"

namespace {

const char kUsage[] =
    "Usage: zelv-cli COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  inputs CAMERA IMAGE SCENE   read the three files and print the corrected points\n"
    "  orient CAMERA IMAGE SCENE   compute the exterior orientation (see 'zelv-cli orient "
    "--help')\n"
    "  batch ...                   many orientations in one call, one JSON line each (see\n"
    "                              'zelv-cli batch --help')\n"
    "  detect PHOTO --target T.yml ...\n"
    "                              find a coded target on a photograph and write the image and\n"
    "                              scene point tables (see 'zelv-cli detect --help')\n"
    "  calibrate PHOTO... --target T.yml --out CAMERA.yml\n"
    "                              calibrate the camera from photographs of a target (see\n"
    "                              'zelv-cli calibrate --help')\n"
    "  target draw T.yml --out B.png|B.svg\n"
    "                              draw the target for printing\n"
    "\n"
    "  --version                   print the version\n";

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    zelv::cli::Print(kUsage);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    zelv::cli::Print(std::string("zelv-cli ") + zelv::kVersion + "\n");
    return 0;
  }
  if (std::strcmp(argv[1], "inputs") == 0) return zelv::cli::RunInputsCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "orient") == 0) return zelv::cli::RunOrientCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "batch") == 0) return zelv::cli::RunBatchCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "calibrate") == 0)
    return zelv::cli::RunCalibrateCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "detect") == 0) return zelv::cli::RunDetectCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "target") == 0) return zelv::cli::RunTargetCommand(argc - 1, argv + 1);
  std::fprintf(stderr, "zelv-cli: unknown command '%s'\n%s", argv[1], kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  zelv::cli::GuardStandardOutput();
  const int code = Run(argc, argv);
  // Every write is checked, and the final flush and close too: output that never arrived is a
  // failure, whatever the command did.
  if (!zelv::cli::FinishStandardOutput() && code == 0) return 1;
  return code;
}
