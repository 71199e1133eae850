#pragma once
// Coded targets on the command line: zelv-cli detect and zelv-cli target draw, and the one step
// of orient --photo --target.

#include <string>

#include "base/failure.h"
#include "targets/target_detection.h"

namespace zelv::cli {

// Reads the target description and the photograph, finds the target and writes the image and
// scene point tables ("id, x, y") to the two paths, each replaced atomically. The failure is the
// message to print (the target file's, the photograph's, "not found", or the output's).
Expected<TargetDetection> DetectToTables(const std::string& photo, const std::string& targetPath,
                                         const std::string& imageTable,
                                         const std::string& sceneTable);

// A folder of its own under the system's temporary folder for the tables of one orientation,
// removed with everything in it when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  bool ok() const { return !path_.empty(); }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace zelv::cli
