// zelv-cli: the headless front end over the core library.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"

namespace {

const char kUsage[] =
    "Usage: zelv-cli COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  inputs CAMERA IMAGE SCENE   read the three files and print the corrected points\n"
    "  orient CAMERA IMAGE SCENE   compute the exterior orientation (see 'zelv-cli orient "
    "--help')\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "inputs") == 0) return zelv::cli::RunInputsCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "orient") == 0) return zelv::cli::RunOrientCommand(argc - 1, argv + 1);
  std::fprintf(stderr, "zelv-cli: unknown command '%s'\n%s", argv[1], kUsage);
  return 2;
}
