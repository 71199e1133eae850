// Placeholder until the orientation command lands.
#include <cstdio>

#include "cli/commands.h"

namespace zelv::cli {

int RunOrientCommand(int, char**) {
  std::fputs("zelv-cli: orient is not available yet\n", stderr);
  return 2;
}

}  // namespace zelv::cli
