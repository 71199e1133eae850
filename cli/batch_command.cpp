// zelv-cli batch: many orientations in one call, run side by side on the cores, one JSON line
// each in input order; optionally the ".ort" files and the whole batch as a COLMAP images.txt.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/orientation.h"
#include "app/report.h"
#include "app/result_file.h"
#include "base/number_text.h"
#include "cli/commands.h"
#include "cli/orientation_options.h"
#include "cli/standard_output.h"
#include "cli/target_command.h"
#include "files/colmap_images.h"
#include "files/table_line.h"
#include "files/text_file.h"

namespace zelv::cli {
namespace {

namespace fs = std::filesystem;

const char kBatchUsageHead[] =
    "Usage: zelv-cli batch --manifest FILE.csv [options]\n"
    "       zelv-cli batch --camera CAMERA --scene SCENE IMAGE... [options]\n"
    "       zelv-cli batch --camera CAMERA --target TARGET.yml PHOTO... [options]\n"
    "\n"
    "Computes many orientations in one call, side by side on the cores, and prints one JSON\n"
    "object per line (JSON Lines) in input order: \"camera\", \"image\", \"scene\" as given, then\n"
    "either the members orient --json prints or \"error\" and \"caption\", and \"warnings\".\n"
    "A manifest has the columns camera,image,scene[,output] (a first line naming these columns\n"
    "is a header, '#' begins a comment line, a name with a comma goes in double quotes, names\n"
    "are relative to the manifest's folder); output names the .ort file of that line.\n"
    "\n"
    "  --manifest FILE.csv       the orientations to compute\n"
    "  --camera CAMERA           with --scene: the camera of every IMAGE\n"
    "  --scene SCENE             with --camera: the scene of every IMAGE\n"
    "  --target TARGET.yml       with --camera, in place of --scene: each file named is a\n"
    "                            photograph of this coded target, whose corners found on it are\n"
    "                            the image and scene points (see 'zelv-cli detect --help')\n"
    "  --jobs N                  orientations at a time (default: one per core); each runs the\n"
    "                            precise estimate on one thread\n"
    "  --out-dir DIR             write each result file there, named after the image file\n"
    "                            (its stem and \".ort\"; a manifest's output column overrides)\n"
    "  --colmap-images FILE      write the poses of the batch as a COLMAP images.txt\n"
    "                            (IMAGE_ID = place in the batch from 1, CAMERA_ID = --camera-id\n"
    "                            or 1, NAME = the image file as given; failed ones left out)\n"
    "  --report-dir DIR          write each orientation's report there as HTML, named after the\n"
    "                            image file (its stem and \".html\"; see orient --report)\n";

const char kBatchUsageTail[] =
    "  --version                 print the version\n"
    "  --help                    show this text\n"
    "\n"
    "A progress bar is drawn on standard error when it is a terminal.\n"
    "Exit status: 0 all orientations computed, 1 any failed or the output could not be\n"
    "written, 2 usage error.\n";

const std::string& BatchUsage() {
  static const std::string usage =
      std::string(kBatchUsageHead) + kEstimateOptionsHelp + kBatchUsageTail;
  return usage;
}

struct Job {
  std::string camera, image, scene;  // as given
  std::string cameraPath, imagePath, scenePath;
  std::string outPath;      // empty: none
  std::string reportPath;   // empty: none
  bool photograph = false;  // image is a photograph and scene a target description
};

struct JobResult {
  std::string line;  // the JSON line, without its newline
  bool ok = false;
  std::optional<StandardPose> pose;
};

// The largest manifest read: some hundred thousand lines of long names.
constexpr std::size_t kLargestManifest = std::size_t{64} << 20;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// True when the fields name the columns: camera,image,scene[,output] in any case. A first line
// of file names (a camera file named "camera" too) is no header.
bool IsManifestHeader(const std::vector<std::string>& fields) {
  static const char* const kColumns[] = {"camera", "image", "scene", "output"};
  if (fields.size() < 3 || fields.size() > 4) return false;
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (Lower(fields[i]) != kColumns[i]) return false;
  return true;
}

// Why a manifest could not be read, from the guarded open's reason.
std::string ManifestReadError(const std::string& path, const InputFileError& error) {
  std::string reason;
  switch (error.reason()) {
    case InputFileError::Reason::kCannotOpen:
      reason = "it cannot be opened";
      break;
    case InputFileError::Reason::kNotAFile:
      reason = "it is not a regular file (a folder, a device, or a FIFO no program writes)";
      break;
    case InputFileError::Reason::kTooLarge:
      reason = "it is larger than " + std::to_string(kLargestManifest >> 20) + " MB";
      break;
    case InputFileError::Reason::kCannotRead:
      reason = "it cannot be read";
      break;
  }
  return "cannot read the manifest " + path + ": " + reason;
}

// The jobs of a manifest, or the usage error's text. The manifest is read through the guarded
// open of every input (a FIFO never waited for, a byte-order mark dropped), and its lines split
// as the point tables' (files/table_line.h).
std::optional<std::string> ReadManifest(const std::string& path, std::vector<Job>& jobs) {
  std::vector<std::string> lines;
  try {
    lines = ReadInputLines(path, kLargestManifest);
  } catch (const InputFileError& error) {
    return ManifestReadError(path, error);
  }
  const fs::path folder = fs::path(path).parent_path();
  const auto resolve = [&folder](const std::string& name) {
    const fs::path p(name);
    return p.is_absolute() || folder.empty() ? name : (folder / p).string();
  };
  bool first = true;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const std::string& line = lines[index];
    const std::string where = "line " + std::to_string(index + 1) + " of the manifest";
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    TableLineFault fault = TableLineFault::kNone;
    const std::vector<std::string> fields = SplitTableLine(line, TableSeparator::kComma, fault);
    if (fault == TableLineFault::kUnclosedQuote)
      return where + " has a quote left open: close it, or write a quote inside a name twice";
    if (fault == TableLineFault::kTextAfterQuote)
      return where + " has text after a closing quote: quote the whole name";
    const bool header = first && IsManifestHeader(fields);
    first = false;
    if (header) continue;
    if (fields.size() < 3 || fields.size() > 4 || fields[0].empty() || fields[1].empty() ||
        fields[2].empty())
      return where + " needs camera,image,scene[,output] (it has " + std::to_string(fields.size()) +
             (fields.size() == 1 ? " value" : " values") +
             (fields.size() >= 3 && fields.size() <= 4 ? ", one of them empty" : "") + ")";
    Job job{fields[0],          fields[1],          fields[2], resolve(fields[0]),
            resolve(fields[1]), resolve(fields[2]), "",        ""};
    if (fields.size() == 4 && !fields[3].empty()) job.outPath = resolve(fields[3]);
    jobs.push_back(job);
  }
  return std::nullopt;
}

// One orientation: nothing is shared with the other jobs but the request it starts from
// (copied).
JobResult RunJob(const Job& job, OrientationRequest request, bool residualsWanted) {
  request.cameraFile = job.cameraPath;
  request.imageFile = job.imagePath;
  request.sceneFile = job.scenePath;
  request.threads = 1;
  JobResult result;
  Json out = Json::object();
  out["camera"] = job.camera;
  out["image"] = job.image;
  out["scene"] = job.scene;
  const auto fail = [&out](const Failure& failure, const std::vector<Warning>& warnings) {
    out["error"] = failure.text;
    out["caption"] = failure.caption;
    out["warnings"] = WarningsJson(warnings);
  };
  // A photograph of a coded target: its corners become the two tables, in a folder of the job's
  // own.
  TemporaryFolder tables;
  if (job.photograph) {
    request.imageFile = tables.Path("image.csv");
    request.sceneFile = tables.Path("scene.csv");
    const Expected<TargetDetection> detected =
        tables.ok()
            ? DetectToTables(job.imagePath, job.scenePath, request.imageFile, request.sceneFile)
            : Expected<TargetDetection>(Failure{"Нет временной папки для таблиц точек!"});
    if (!detected) {
      fail(detected.error(), {});
      result.line = JsonLine(out);
      return result;
    }
  }
  const OrientationOutcome outcome = Orient(request);
  if (!outcome) {
    fail(outcome.error(), outcome.error().warnings);
  } else if (const Expected<void> written =
                 job.outPath.empty() ? Success() : WriteResultFile(job.outPath, *outcome);
             !written) {
    fail(written.error(), outcome->warnings);
  } else if (const Expected<void> reported =
                 job.reportPath.empty()
                     ? Success()
                     : WriteReportHtml(job.reportPath, *outcome, ReportContextOf(request));
             !reported) {
    fail(reported.error(), outcome->warnings);
  } else {
    if (!job.outPath.empty()) out["output"] = job.outPath;
    if (!job.reportPath.empty()) out["report"] = job.reportPath;
    AddResultMembers(out, *outcome, residualsWanted);
    result.pose = outcome->pose;
    result.ok = true;
  }
  result.line = JsonLine(out);
  return result;
}

// "[#####.....]  37/100" over the previous one.
void DrawProgress(std::size_t done, std::size_t total) {
  const int width = 40;
  const int filled = total == 0 ? width : static_cast<int>(done * width / total);
  std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
               std::string(width - filled, '.').c_str(), done, total);
  std::fflush(stderr);
}

// The poses of the batch as COLMAP's images (the failed ones left out).
std::vector<ColmapImage> ColmapImagesOf(const std::vector<Job>& jobs,
                                        const std::vector<JobResult>& results, long long cameraId) {
  std::vector<ColmapImage> images;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (!results[i].pose) continue;
    const StandardPose& p = *results[i].pose;
    images.push_back({static_cast<long long>(i + 1), p.qw, p.qx, p.qy, p.qz, p.t[0], p.t[1], p.t[2],
                      cameraId, jobs[i].image});
  }
  return images;
}

}  // namespace

int RunBatchCommand(int argc, char** argv) {
  const char* usage = BatchUsage().c_str();
  CLI::App app;
  std::vector<std::string> images;
  EstimateOptions estimate;
  std::string manifest, camera, scene, outDir, colmapImages, jobsText, reportDir, target;
  AddCommonOptions(app, images);
  AddEstimateOptions(app, estimate);
  app.add_option("--manifest", manifest);
  app.add_option("--camera", camera);
  app.add_option("--scene", scene);
  app.add_option("--target", target);
  app.add_option("--jobs", jobsText);
  app.add_option("--out-dir", outDir);
  app.add_option("--colmap-images", colmapImages);
  app.add_option("--report-dir", reportDir);
  if (const std::optional<int> done = ParseCommandLine(app, argc, argv, "batch", usage))
    return *done;

  OrientationRequest start;
  if (const std::optional<std::string> wrong = ApplyEstimateOptions(app, estimate, start))
    return UsageError("batch", *wrong, usage);
  start.settings.KeepLog = false;
  std::error_code ignored;
  start.startDirectory = fs::current_path(ignored).string();
  if (const std::optional<std::string> wrong = start.Check())
    return UsageError("batch", *wrong, usage);
  unsigned jobCount = std::max(1u, std::thread::hardware_concurrency());
  if (app.count("--jobs") > 0) {
    const std::optional<double> n = ParseNumber(jobsText);
    if (!n || !(*n >= 1 && *n <= 256) || *n != std::floor(*n))
      return UsageError("batch", "--jobs needs a whole number from 1 to 256", usage);
    jobCount = static_cast<unsigned>(*n);
  }
  for (const char* name :
       {"--manifest", "--camera", "--scene", "--out-dir", "--colmap-images", "--target"})
    if (app.count(name) > 0 && (std::string_view(name) == "--manifest"  ? manifest
                                : std::string_view(name) == "--camera"  ? camera
                                : std::string_view(name) == "--scene"   ? scene
                                : std::string_view(name) == "--out-dir" ? outDir
                                : std::string_view(name) == "--target"  ? target
                                                                        : colmapImages)
                                   .empty())
      return UsageError("batch", std::string(name) + " needs a file name", usage);
  if (app.count("--report-dir") > 0 && reportDir.empty())
    return UsageError("batch", "--report-dir needs a folder name", usage);

  std::vector<Job> jobs;
  if (!manifest.empty()) {
    if (!camera.empty() || !scene.empty() || !target.empty() || !images.empty())
      return UsageError("batch", "--manifest takes no --camera, --scene or image files", usage);
    if (const std::optional<std::string> wrong = ReadManifest(manifest, jobs))
      return UsageError("batch", *wrong, usage);
  } else if (!target.empty()) {
    if (camera.empty() || !scene.empty() || images.empty())
      return UsageError("batch", "--target needs --camera and photographs, and no --scene", usage);
    for (const std::string& image : images)
      jobs.push_back({camera, image, target, camera, image, target, "", "", true});
  } else {
    if (camera.empty() || scene.empty() || images.empty())
      return UsageError("batch", "--manifest, or --camera, --scene and image files are needed",
                        usage);
    for (const std::string& image : images)
      jobs.push_back({camera, image, scene, camera, image, scene, "", ""});
  }
  if (jobs.empty()) return UsageError("batch", "the manifest lists no orientation", usage);
  std::vector<std::string> outputs;
  for (Job& job : jobs) {
    if (job.outPath.empty() && !outDir.empty())
      job.outPath = (fs::path(outDir) / (fs::path(job.image).stem().string() + ".ort")).string();
    outputs.push_back(job.outPath);
    if (!reportDir.empty()) {
      job.reportPath = (fs::path(reportDir) / ReportNameFor(job.image, ".html")).string();
      outputs.push_back(job.reportPath);
    }
  }
  outputs.push_back(colmapImages);
  std::vector<std::string> inputs;
  for (const Job& job : jobs)
    inputs.insert(inputs.end(), {job.cameraPath, job.imagePath, job.scenePath});
  if (!manifest.empty()) inputs.push_back(manifest);
  std::vector<std::string> cameras;
  for (const Job& job : jobs) cameras.push_back(job.cameraPath);
  if (const std::optional<std::string> wrong = CameraIdWithoutList(start.cameraId, cameras))
    return UsageError("batch", *wrong, usage);
  if (const std::optional<std::string> clash =
          OutputOverwritingInput(outputs, InputsWithTables(std::move(inputs), cameras)))
    return UsageError("batch", *clash, usage);
  // COLMAP reads a NAME up to the first blank: a name it cannot read back is refused before
  // anything is written.
  if (!colmapImages.empty())
    for (const Job& job : jobs)
      if (const std::optional<std::string> problem = ColmapNameProblem(job.image))
        return UsageError("batch", "--colmap-images: " + *problem, usage);
  if (!outDir.empty()) fs::create_directories(outDir, ignored);
  if (!reportDir.empty()) fs::create_directories(reportDir, ignored);

  // The pool: each worker takes the next job; the main thread prints the lines in input order as
  // they become ready.
  const bool progress = isatty(STDERR_FILENO) == 1;
  std::vector<JobResult> results(jobs.size());
  std::vector<char> finished(jobs.size(), 0);
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<std::size_t> next{0};
  std::size_t printed = 0;  // lines printed so far (guarded by `mutex`)
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();) {
      JobResult result = RunJob(jobs[i], start, estimate.residuals);
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(result);
      finished[i] = 1;
      // Only the next line to print, or the progress bar, wakes the printing thread.
      if (i == printed || progress) ready.notify_one();
    }
  };
  std::vector<std::thread> workers;
  const std::size_t threadCount = std::min<std::size_t>(jobCount, jobs.size());
  for (std::size_t t = 0; t < threadCount; ++t) workers.emplace_back(work);

  bool allOk = true;
  std::size_t done = 0;
  if (progress) DrawProgress(0, jobs.size());
  while (printed < jobs.size()) {
    std::string lines;
    {
      std::unique_lock<std::mutex> lock(mutex);
      ready.wait(lock, [&] { return finished[printed] != 0; });
      done = static_cast<std::size_t>(std::count(finished.begin(), finished.end(), 1));
      while (printed < jobs.size() && finished[printed] != 0) {
        lines += results[printed].line + "\n";
        allOk = allOk && results[printed].ok;
        ++printed;
      }
    }
    Print(lines);
    std::fflush(stdout);
    if (progress) DrawProgress(done, jobs.size());
  }
  for (std::thread& worker : workers) worker.join();
  if (progress) std::fputs("\n", stderr);

  if (!colmapImages.empty()) {
    const Expected<void> written = WriteColmapImages(
        colmapImages, ColmapImagesOf(jobs, results, start.cameraId > 0 ? start.cameraId : 1));
    if (!written) {
      std::fprintf(stderr, "zelv-cli batch: %s\n", written.error().text.c_str());
      return 1;
    }
  }
  return allOk ? 0 : 1;
}

}  // namespace zelv::cli
