// Fuzzes the target description reader and what follows a description that reads: its corners
// and its drawing at a small scale, as zelv-cli target draw makes it.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "targets/target_description.h"
#include "targets/target_drawing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = zelv::fuzz::SplitInput(data, size, 1);
  const std::string path = zelv::fuzz::WriteScratchFile("target.yml", parts[0]);
  const zelv::Expected<zelv::TargetDescription> target = zelv::ReadTargetDescription(path);
  if (!target) return 0;
  if (zelv::TargetCorners(*target).size() > 100000) return 0;
  const double extent = std::max({target->squareSize, target->markerSize, target->spacing}) *
                        std::max(target->rows, target->columns);
  if (extent > 0 && extent < 1e7) {
    const zelv::Expected<zelv::TargetPicture> picture = zelv::DrawTarget(*target, 200 / extent, 0);
    static_cast<void>(picture);
  }
  return 0;
}
