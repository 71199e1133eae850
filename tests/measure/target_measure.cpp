// The accuracy of target detection, to run by hand (make target_measure, then
// build/zelv_target_measure [ZHANG_FOLDER]):
// 1. each kind of target rendered into 1920 x 1080 photographs with known poses (8 x
//    supersampled, 0.5 px Gaussian blur, noise sigma 2 grey levels), whole and with 40 % of the
//    image hidden: the corner error (median, 95th percentile, px), identifiers wrong, and the
//    corners found of those visible;
// 2. the five real photographs of separate squares (a folder of image1 ... image5, each with
//    photo.png and image-raw.crd, the published corners): RMS of detected minus published (px),
//    and the camera centre from the detected corners against that from the published ones.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "targets/target_render.h"

using namespace zelv;

namespace {

TargetDescription Board(TargetKind kind) {
  TargetDescription t;
  t.kind = kind;
  switch (kind) {
    case TargetKind::kChessboard:
      t.rows = 7, t.columns = 10, t.squareSize = 30;
      break;
    case TargetKind::kCharuco:
      t.rows = 7, t.columns = 10, t.squareSize = 30, t.markerSize = 21,
      t.dictionary = "DICT_5X5_100";
      break;
    case TargetKind::kArucoBoard:
      t.rows = 5, t.columns = 7, t.markerSize = 28, t.spacing = 7, t.dictionary = "DICT_4X4_50";
      break;
    case TargetKind::kAprilTagGrid:
      t.rows = 5, t.columns = 7, t.markerSize = 25, t.spacing = 7.5, t.dictionary = "tag36h11";
      break;
    case TargetKind::kSquares:
      t.rows = 6, t.columns = 8, t.squareSize = 20, t.spacing = 15;
      break;
    case TargetKind::kCircles:
      t.rows = 6, t.columns = 8, t.spacing = 30;
      break;
    case TargetKind::kAsymmetricCircles:
      t.rows = 9, t.columns = 4, t.spacing = 25;
      break;
    case TargetKind::kMarkers:
      break;
  }
  return t;
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))];
}

// True when the corner lies in the visible part of the picture, at least 6 px from the card and
// the edges (a corner whose window the card cuts cannot be located).
bool Visible(const cv::Point2d& p, const test::RenderOptions& o) {
  const double right = o.hidden > 0 ? o.width * (1 - o.hidden) - 6 : o.width - 6;
  return p.x > 6 && p.y > 6 && p.x < right && p.y < o.height - 6;
}

void Synthetic(int poses) {
  std::printf("%-20s %6s %8s %8s %6s %10s %10s\n", "kind", "hidden", "median", "p95", "wrong",
              "found", "visible");
  const TargetKind kinds[] = {TargetKind::kChessboard,       TargetKind::kCharuco,
                              TargetKind::kAprilTagGrid,     TargetKind::kArucoBoard,
                              TargetKind::kSquares,          TargetKind::kCircles,
                              TargetKind::kAsymmetricCircles};
  for (const TargetKind kind : kinds) {
    for (const double hidden : {0.0, 0.4}) {
      if (hidden > 0 && (kind == TargetKind::kChessboard || kind == TargetKind::kCircles ||
                         kind == TargetKind::kAsymmetricCircles))
        continue;  // a grid without codes is found whole or not at all
      std::vector<double> errors;
      int wrong = 0, found = 0, visible = 0, failed = 0;
      for (int pose = 0; pose < poses; ++pose) {
        test::RenderOptions o;
        o.supersampling = 6;
        o.hidden = hidden;
        o.seed = 7 + pose;
        o.tiltX = 0.5 * std::sin(1.3 * pose + 0.4);
        o.tiltY = 0.45 * std::cos(0.9 * pose + 1.1);
        o.turn = 0.3 * std::sin(2.1 * pose);
        o.distance = hidden > 0 ? 1.25 : 1.5 + 0.3 * std::sin(pose);
        const TargetDescription target = Board(kind);
        const test::RenderedTarget render = test::RenderTarget(target, o, 8);
        for (const auto& [id, p] : render.truth) visible += Visible(p, o);
        const Expected<TargetDetection> detection = DetectTarget(render.image, target);
        if (!detection) {
          ++failed;
          continue;
        }
        for (const DetectedCorner& c : detection->corners) {
          const auto truth = render.truth.find(c.id);
          const double d = truth == render.truth.end()
                               ? 1e9
                               : std::hypot(c.x - truth->second.x, c.y - truth->second.y);
          if (d > 2) {
            ++wrong;
            continue;
          }
          errors.push_back(d);
          if (Visible(truth->second, o)) ++found;
        }
      }
      std::printf("%-20s %5.0f%% %8.4f %8.4f %6d %10d %10d%s\n", TargetKindName(kind), hidden * 100,
                  Quantile(errors, 0.5), Quantile(errors, 0.95), wrong, found, visible,
                  failed ? (" (" + std::to_string(failed) + " not found)").c_str() : "");
    }
  }
}

std::vector<cv::Point2d> ReadCrd(const std::string& path) {
  std::ifstream in(path);
  std::vector<cv::Point2d> points;
  std::string line;
  while (std::getline(in, line)) {
    double x = 0, y = 0;
    char separator = 0;
    std::istringstream fields(line);
    if (fields >> x >> separator >> y) points.emplace_back(x, y);
  }
  return points;
}

void Photographs(const std::string& folder) {
  TargetDescription target;
  target.kind = TargetKind::kSquares;
  target.rows = target.columns = 8;
  target.squareSize = 0.5;
  target.spacing = 0.388889;
  std::printf("\nreal photograph  found/published  RMS px  largest px\n");
  for (int i = 1; i <= 5; ++i) {
    const std::string base = folder + "/image" + std::to_string(i) + "/";
    const Expected<GreyImage> image = ReadGreyPhotograph(base + "photo.png");
    const std::vector<cv::Point2d> published = ReadCrd(base + "image-raw.crd");
    if (!image) {
      std::printf("image%d: %s\n", i, image.error().text.c_str());
      continue;
    }
    const Expected<TargetDetection> detection = DetectTarget(*image, target);
    if (!detection) {
      std::printf("image%d: %s\n", i, detection.error().text.c_str());
      continue;
    }
    double sum = 0, largest = 0, dx = 0, dy = 0;
    int n = 0;
    for (const DetectedCorner& c : detection->corners) {
      if (c.id >= static_cast<int>(published.size())) continue;
      const double d = std::hypot(c.x - published[c.id].x, c.y - published[c.id].y);
      if (std::getenv("ZELV_MEASURE_VERBOSE") && i == 1 && c.id < 12)
        std::printf("%d: %.3f %.3f vs %.3f %.3f\n", c.id, c.x, c.y, published[c.id].x,
                    published[c.id].y);
      sum += d * d;
      dx += c.x - published[c.id].x;
      dy += c.y - published[c.id].y;
      largest = std::max(largest, d);
      ++n;
    }
    std::printf("image%d           %3d/%3zu          %6.4f  %6.4f   mean offset %+.3f %+.3f\n", i,
                n, published.size(), n ? std::sqrt(sum / n) : 0.0, largest, n ? dx / n : 0.0,
                n ? dy / n : 0.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) Synthetic(argc > 2 ? std::atoi(argv[2]) : 6);
  if (argc > 1) Photographs(argv[1]);
  return 0;
}
