#pragma once
// The report options of zelv-cli: orient --report FILE.html|FILE.pdf and batch --report-dir.

#include <optional>
#include <string>

#include "app/orientation.h"
#include "base/failure.h"

namespace zelv::cli {

// The option's text for the usage.
extern const char kReportOptionHelp[];

// The usage error's text for a report name this build cannot write: not ending in ".html",
// ".htm" or ".pdf", or ".pdf" in a build without Qt; nothing when it can.
std::optional<std::string> ReportPathProblem(const std::string& path);

// Writes the report of `orientation` computed from `request` to `path`, HTML or PDF by its
// extension, atomically.
Expected<void> WriteReportFile(const std::string& path, const Orientation& orientation,
                               const OrientationRequest& request);

}  // namespace zelv::cli
