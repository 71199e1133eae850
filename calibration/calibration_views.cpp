#include "calibration/calibration_views.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "targets/target_detection.h"

namespace zelv {

namespace {

// What one photograph gave: its view, or the reason it gave none. The size is kept to be
// compared with the first photograph's once all are in, so that the order of the threads does
// not decide which photograph counts as first.
struct PhotographOutcome {
  std::optional<CalibrationView> view;
  std::string reason;
  int width = 0;
  int height = 0;
};

PhotographOutcome FindTarget(const std::string& path, const TargetDescription& target) {
  PhotographOutcome outcome;
  const Expected<GreyImage> image = ReadGreyPhotograph(path);
  if (!image) {
    outcome.reason = image.error().text;
    return outcome;
  }
  outcome.width = image->width;
  outcome.height = image->height;
  const Expected<TargetDetection> detection = DetectTarget(*image, target);
  if (!detection) {
    outcome.reason = detection.error().text;
    return outcome;
  }
  CalibrationView view;
  view.name = std::filesystem::path(path).filename().string();
  for (const DetectedCorner& corner : detection->corners) {
    view.ids.push_back(corner.id);
    view.image.push_back(PixelPoint{corner.x, corner.y});
    view.board.push_back({corner.sceneX, corner.sceneY});
  }
  outcome.view = std::move(view);
  return outcome;
}

}  // namespace

Expected<PhotographViews> ViewsFromPhotographs(const std::vector<std::string>& paths,
                                               const TargetDescription& target,
                                               const CalibrationProgress& progress, int threads) {
  const int count = static_cast<int>(paths.size());
  std::vector<PhotographOutcome> outcomes(paths.size());
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable changed;
  int finished = 0;

  auto work = [&] {
    for (int i = next++; i < count && !stop; i = next++) {
      PhotographOutcome outcome = FindTarget(paths[i], target);
      std::lock_guard<std::mutex> lock(mutex);
      outcomes[i] = std::move(outcome);
      ++finished;
      changed.notify_one();
    }
  };
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min(threads, std::max(count, 1));
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) workers.emplace_back(work);

  // The progress is reported here, on the calling thread, so that a window's callback never runs
  // on a worker.
  bool stopped = false;
  {
    std::unique_lock<std::mutex> lock(mutex);
    int reported = 0;
    while (reported < count && !stopped) {
      changed.wait(lock, [&] { return finished > reported; });
      reported = finished;
      if (progress) {
        lock.unlock();
        const bool goOn = progress(
            "Поиск мишени: снимок " + std::to_string(reported) + " из " + std::to_string(count),
            static_cast<double>(reported) / count);
        lock.lock();
        if (!goOn) {
          stopped = true;
          stop = true;
        }
      }
    }
  }
  for (std::thread& worker : workers) worker.join();
  if (stopped) return Failure{"Поиск мишени на снимках остановлен.", "Калибровка камеры"};

  PhotographViews result;
  for (int i = 0; i < count; ++i) {
    PhotographOutcome& outcome = outcomes[i];
    if (outcome.width > 0 && result.imageWidth == 0) {
      result.imageWidth = outcome.width;
      result.imageHeight = outcome.height;
    }
    if (outcome.width > 0 &&
        (outcome.width != result.imageWidth || outcome.height != result.imageHeight)) {
      result.skipped.push_back({paths[i], "Размер снимка " + std::to_string(outcome.width) + "×" +
                                              std::to_string(outcome.height) +
                                              " не совпадает с размером первого (" +
                                              std::to_string(result.imageWidth) + "×" +
                                              std::to_string(result.imageHeight) +
                                              "): снимки одной камеры должны быть "
                                              "одного размера."});
      continue;
    }
    if (!outcome.view) {
      result.skipped.push_back({paths[i], outcome.reason});
      continue;
    }
    result.views.push_back(std::move(*outcome.view));
    result.paths.push_back(paths[i]);
  }
  // Photographs of one name from several folders (image1/photo.png, image2/photo.png) are told
  // apart in the lists by their paths as given.
  for (size_t v = 0; v < result.views.size(); ++v) {
    const std::string name = std::filesystem::path(result.paths[v]).filename().string();
    const bool shared =
        std::count_if(result.paths.begin(), result.paths.end(), [&](const std::string& path) {
          return std::filesystem::path(path).filename().string() == name;
        }) > 1;
    if (shared) result.views[v].name = result.paths[v];
  }
  return result;
}

}  // namespace zelv
