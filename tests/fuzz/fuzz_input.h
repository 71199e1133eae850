#pragma once
// Helpers shared by the fuzz targets: splitting one input into several files and writing them
// into a private scratch folder.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zelv::fuzz {

// Splits the input at the byte sequence "\n====\n" into at most `parts` pieces; missing pieces
// are empty.
inline std::vector<std::string> SplitInput(const std::uint8_t* data, std::size_t size,
                                           std::size_t parts) {
  std::vector<std::string> pieces;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSeparator = "\n====\n";
  while (pieces.size() + 1 < parts) {
    const std::size_t at = rest.find(kSeparator);
    if (at == std::string_view::npos) break;
    pieces.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
  }
  pieces.emplace_back(rest);
  pieces.resize(parts);
  return pieces;
}

// A scratch folder of this process, made once; files in it are overwritten by every input.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/zelv-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

inline std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  const std::string path = ScratchFolder() + "/" + name;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

}  // namespace zelv::fuzz
