#include "targets/target_detection.h"

#include <apriltag/apriltag.h>
#include <apriltag/tag16h5.h>
#include <apriltag/tag25h9.h>
#include <apriltag/tag36h11.h>
#include <apriltag/tagStandard41h12.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <new>
#include <opencv2/aruco.hpp>
#include <opencv2/aruco/charuco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "base/zelv_error.h"
#include "files/text_file.h"
#include "targets/target_dictionaries.h"

namespace zelv {
namespace {

constexpr long kLargestPixels = 400L * 1000 * 1000;

Failure NotFound(const TargetDescription& target) {
  Failure failure;
  failure.text = std::string("Мишень (") + TargetKindName(target.kind) +
                 ") не найдена на снимке. Проверьте, что описание мишени (вид, число строк и "
                 "столбцов, словарь) соответствует снимку и мишень видна резко!";
  failure.icon = MessageIcon::Exclamation;
  failure.input = FailedInput::kImage;
  return failure;
}

// A found point before its identifier is turned into scene coordinates.
struct Found {
  int id;
  cv::Point2f at;
};

// The window of cv::cornerSubPix: about a third of the distance to the nearest other corner, so
// that no other edge enters it, from 2 to 10 pixels.
int RefineWindow(const std::vector<cv::Point2f>& points) {
  double nearest = 1e9;
  for (std::size_t i = 0; i < points.size(); ++i)
    for (std::size_t j = i + 1; j < points.size() && j < i + 64; ++j)
      nearest = std::min(nearest, cv::norm(points[i] - points[j]));
  return static_cast<int>(std::clamp(nearest / 3, 2.0, 10.0));
}

void Refine(const cv::Mat& grey, std::vector<cv::Point2f>& points, int window) {
  if (points.empty()) return;
  cv::cornerSubPix(grey, points, cv::Size(window, window), cv::Size(-1, -1),
                   cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 100, 1e-4));
}

// The grey level at (x, y), interpolated between the four nearest pixels; -1 outside.
double Sample(const cv::Mat& grey, double x, double y) {
  const int x0 = static_cast<int>(std::floor(x));
  const int y0 = static_cast<int>(std::floor(y));
  if (!(x0 >= 0 && y0 >= 0 && x0 + 1 < grey.cols && y0 + 1 < grey.rows)) return -1;
  const double fx = x - x0, fy = y - y0;
  const auto g = [&](int yy, int xx) { return static_cast<double>(grey.at<std::uint8_t>(yy, xx)); };
  return (1 - fy) * ((1 - fx) * g(y0, x0) + fx * g(y0, x0 + 1)) +
         fy * ((1 - fx) * g(y0 + 1, x0) + fx * g(y0 + 1, x0 + 1));
}

// The corners of a dark quadrilateral on a light ground as the intersections of its four edges,
// each a straight line fitted to the points of steepest grey-level change across it (away from
// the corners, where the blur rounds the outline). An L-shaped corner has gradients on two sides
// only, which pull cornerSubPix towards the dark side; the edge lines do not. A quadrilateral
// whose edges cannot be found keeps its corners.
std::vector<cv::Point2f> FitQuadEdges(const cv::Mat& grey, const std::vector<cv::Point2f>& quad) {
  cv::Vec4f lines[4];
  for (int side = 0; side < 4; ++side) {
    const cv::Point2f a = quad[side];
    const cv::Point2f b = quad[(side + 1) % 4];
    const double length = cv::norm(b - a);
    if (length < 8) return quad;
    const cv::Point2d along = cv::Point2d(b - a) / length;
    const cv::Point2d across(-along.y, along.x);
    const double reach = std::clamp(length / 8, 2.0, 6.0);
    std::vector<cv::Point2f> edge;
    const int count = std::clamp(static_cast<int>(length), 6, 200);
    for (int i = 0; i <= count; ++i) {
      const double t = 0.2 + 0.6 * i / count;
      const cv::Point2d centre = cv::Point2d(a) + along * (t * length);
      constexpr double kStep = 0.25;
      const int steps = static_cast<int>(reach / kStep);
      std::vector<double> profile;
      for (int k = -steps - 1; k <= steps + 1; ++k) {
        const cv::Point2d q = centre + across * (k * kStep);
        profile.push_back(Sample(grey, q.x, q.y));
      }
      if (std::any_of(profile.begin(), profile.end(), [](double v) { return v < 0; })) continue;
      // The edge is where the grey level crosses halfway between the dark and the light side:
      // on a sharp edge the steepest change is a plateau one pixel wide, the crossing is not.
      // The two sides' levels from the profile's ends, averaged against the noise.
      const std::size_t n = profile.size();
      const double first = (profile[0] + profile[1] + profile[2]) / 3;
      const double last = (profile[n - 1] + profile[n - 2] + profile[n - 3]) / 3;
      if (std::abs(last - first) < 16) continue;
      const double half = (first + last) / 2;
      double position = 1e9;
      for (std::size_t k = 0; k + 1 < profile.size(); ++k) {
        if ((profile[k] - half) * (profile[k + 1] - half) > 0 || profile[k] == profile[k + 1])
          continue;
        const double at = k + (half - profile[k]) / (profile[k + 1] - profile[k]);
        const double offset = (at - steps - 1) * kStep;
        if (std::abs(offset) < std::abs(position)) position = offset;
      }
      if (std::abs(position) > reach) continue;
      const cv::Point2d q = centre + across * position;
      edge.emplace_back(static_cast<float>(q.x), static_cast<float>(q.y));
    }
    if (edge.size() < 4) return quad;
    cv::fitLine(edge, lines[side], cv::DIST_HUBER, 0, 0.01, 0.01);
  }
  std::vector<cv::Point2f> corners;
  for (int k = 0; k < 4; ++k) {
    const cv::Vec4f& p = lines[(k + 3) % 4];
    const cv::Vec4f& q = lines[k];
    const double det = p[0] * q[1] - p[1] * q[0];
    if (std::abs(det) < 1e-6) return quad;
    const double t = ((q[2] - p[2]) * q[1] - (q[3] - p[3]) * q[0]) / det;
    const cv::Point2f corner(static_cast<float>(p[2] + t * p[0]),
                             static_cast<float>(p[3] + t * p[1]));
    if (cv::norm(corner - quad[k]) > 4) return quad;
    corners.push_back(corner);
  }
  return corners;
}

std::vector<Found> Numbered(const std::vector<cv::Point2f>& points) {
  std::vector<Found> found;
  for (std::size_t i = 0; i < points.size(); ++i) found.push_back({static_cast<int>(i), points[i]});
  return found;
}

std::vector<Found> FindChessboard(const cv::Mat& grey, const TargetDescription& target) {
  const cv::Size pattern(target.columns - 1, target.rows - 1);
  std::vector<cv::Point2f> corners;
  // Large photographs are searched at a reduced scale and refined at the full one.
  const double scale = std::min(1.0, 1200.0 / std::max(grey.cols, grey.rows));
  cv::Mat small = grey;
  if (scale < 1) cv::resize(grey, small, cv::Size(), scale, scale, cv::INTER_AREA);
  // The quick search first; the exhaustive one only when it fails.
  if (!cv::findChessboardCornersSB(small, pattern, corners, cv::CALIB_CB_ACCURACY) &&
      !cv::findChessboardCornersSB(small, pattern, corners,
                                   cv::CALIB_CB_EXHAUSTIVE | cv::CALIB_CB_ACCURACY))
    return {};
  for (cv::Point2f& p : corners)
    p = (p + cv::Point2f(0.5f, 0.5f)) / scale - cv::Point2f(0.5f, 0.5f);
  Refine(grey, corners, RefineWindow(corners));
  // OpenCV numbers the grid from any of its corners. A photograph shows the board's front, so
  // the rows must run clockwise from the columns (x right, y down); and the top-left square is
  // black, which settles the half turn where the colours differ (one side odd, the other even).
  const int across = pattern.width;
  const int down = pattern.height;
  const auto at = [&](int r, int c) -> cv::Point2f& { return corners[r * across + c]; };
  const cv::Point2f alongRow = at(0, 1) - at(0, 0);
  const cv::Point2f alongColumn = at(1, 0) - at(0, 0);
  if (alongRow.x * alongColumn.y - alongRow.y * alongColumn.x < 0)
    for (int r = 0; r < down / 2; ++r)
      for (int c = 0; c < across; ++c) std::swap(at(r, c), at(down - 1 - r, c));
  const auto shade = [&](cv::Point2f p) {
    const cv::Point q(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
    return q.inside(cv::Rect(0, 0, grey.cols, grey.rows)) ? grey.at<std::uint8_t>(q) : 128;
  };
  const cv::Point2f first = at(0, 0) - 0.5f * (at(0, 1) - at(0, 0)) - 0.5f * (at(1, 0) - at(0, 0));
  const cv::Point2f second = 0.5f * (at(0, 0) + at(0, 1)) - 0.5f * (at(1, 0) - at(0, 0));
  if ((target.rows + target.columns) % 2 == 1 && shade(first) > shade(second))
    std::reverse(corners.begin(), corners.end());
  return Numbered(corners);
}

std::vector<Found> FindCircles(const cv::Mat& grey, const TargetDescription& target) {
  cv::SimpleBlobDetector::Params params;
  params.maxArea = static_cast<float>(grey.total()) / 4;
  params.minArea = 9;
  std::vector<cv::Point2f> centres;
  const int flags = target.kind == TargetKind::kCircles ? cv::CALIB_CB_SYMMETRIC_GRID
                                                        : cv::CALIB_CB_ASYMMETRIC_GRID;
  if (!cv::findCirclesGrid(grey, cv::Size(target.columns, target.rows), centres, flags,
                           cv::SimpleBlobDetector::create(params)))
    return {};
  return Numbered(centres);
}

cv::Ptr<cv::aruco::DetectorParameters> MarkerParameters() {
  cv::Ptr<cv::aruco::DetectorParameters> params = cv::aruco::DetectorParameters::create();
  params->cornerRefinementMethod = cv::aruco::CORNER_REFINE_SUBPIX;
  return params;
}

// The ChArUco board OpenCV detects for the description. OpenCV 4.6 draws the newer layout (the
// top-left square black, no marker in it). The older layout of an even number of rows has a
// marker in the top-left square: it is the newer board of one row more with its top row cut
// off, so that board is used with the cut row's markers numbered past the printed ones, and its
// corners renumbered (`firstCorner`: the first printed corner's identifier on that board).
cv::Ptr<cv::aruco::CharucoBoard> CharucoBoardFor(const TargetDescription& target, int& firstCorner,
                                                 int& printedMarkers) {
  const cv::Ptr<cv::aruco::Dictionary> dictionary =
      cv::aruco::getPredefinedDictionary(ArucoDictionaryId(target.dictionary));
  const bool shifted = target.olderCharucoLayout && target.rows % 2 == 0;
  const int rows = target.rows + (shifted ? 1 : 0);
  cv::Ptr<cv::aruco::CharucoBoard> board =
      cv::aruco::CharucoBoard::create(target.columns, rows, static_cast<float>(target.squareSize),
                                      static_cast<float>(target.markerSize), dictionary);
  printedMarkers = target.rows * target.columns / 2;
  firstCorner = 0;
  if (shifted) {
    const int cut = target.columns / 2;
    for (std::size_t n = 0; n < board->ids.size(); ++n)
      board->ids[n] = static_cast<int>(n) < cut ? printedMarkers + static_cast<int>(n)
                                                : static_cast<int>(n) - cut;
    firstCorner = target.columns - 1;
  } else {
    printedMarkers = static_cast<int>(board->ids.size());
  }
  return board;
}

// Detected markers of the printed ids only (a marker of another board is not ours).
void KeepMarkers(std::vector<std::vector<cv::Point2f>>& corners, std::vector<int>& ids,
                 int printed) {
  std::vector<std::vector<cv::Point2f>> keptCorners;
  std::vector<int> keptIds;
  for (std::size_t i = 0; i < ids.size(); ++i)
    if (ids[i] >= 0 && ids[i] < printed) {
      keptCorners.push_back(corners[i]);
      keptIds.push_back(ids[i]);
    }
  corners = std::move(keptCorners);
  ids = std::move(keptIds);
}

std::vector<Found> FindCharuco(const cv::Mat& grey, const TargetDescription& target) {
  int firstCorner = 0;
  int printed = 0;
  const cv::Ptr<cv::aruco::CharucoBoard> board = CharucoBoardFor(target, firstCorner, printed);
  std::vector<std::vector<cv::Point2f>> markers, rejected;
  std::vector<int> ids;
  cv::aruco::detectMarkers(grey, board->dictionary, markers, ids, MarkerParameters(), rejected);
  KeepMarkers(markers, ids, printed);
  if (ids.empty()) return {};
  cv::aruco::refineDetectedMarkers(grey, board, markers, ids, rejected);
  KeepMarkers(markers, ids, printed);
  std::vector<cv::Point2f> corners;
  std::vector<int> cornerIds;
  cv::aruco::interpolateCornersCharuco(markers, ids, grey, board, corners, cornerIds, cv::noArray(),
                                       cv::noArray(), 1);
  // interpolateCornersCharuco refines in a fixed small window; a window scaled to the squares
  // seen locates the corners under blur and noise. A corner the refinement carries far from
  // where the markers put it is no chessboard corner: hidden, its window holds another edge.
  const std::vector<cv::Point2f> interpolated = corners;
  Refine(grey, corners, RefineWindow(corners));
  std::vector<Found> found;
  const int printedCorners = (target.rows - 1) * (target.columns - 1);
  for (std::size_t i = 0; i < cornerIds.size(); ++i) {
    if (cv::norm(corners[i] - interpolated[i]) > 1.5) continue;
    const int id = cornerIds[i] - firstCorner;
    if (id >= 0 && id < printedCorners) found.push_back({id, corners[i]});
  }
  return found;
}

std::vector<Found> FindMarkers(const cv::Mat& grey, const TargetDescription& target) {
  const cv::Ptr<cv::aruco::Dictionary> dictionary =
      cv::aruco::getPredefinedDictionary(ArucoDictionaryId(target.dictionary));
  std::vector<std::vector<cv::Point2f>> markers, rejected;
  std::vector<int> ids;
  cv::aruco::detectMarkers(grey, dictionary, markers, ids, MarkerParameters(), rejected);
  if (target.kind == TargetKind::kArucoBoard) {
    const int printed = target.rows * target.columns;
    KeepMarkers(markers, ids, printed);
    if (ids.empty()) return {};
    const cv::Ptr<cv::aruco::GridBoard> board = cv::aruco::GridBoard::create(
        target.columns, target.rows, static_cast<float>(target.markerSize),
        static_cast<float>(target.spacing), dictionary);
    cv::aruco::refineDetectedMarkers(grey, board, markers, ids, rejected);
    KeepMarkers(markers, ids, printed);
  }
  std::vector<Found> found;
  std::map<int, int> seen;
  for (std::size_t i = 0; i < ids.size(); ++i) ++seen[ids[i]];
  for (std::size_t i = 0; i < ids.size(); ++i) {
    // A marker seen twice cannot be told apart: both are left out.
    if (seen[ids[i]] != 1) continue;
    if (target.kind == TargetKind::kMarkers &&
        std::none_of(target.markers.begin(), target.markers.end(),
                     [&](const TargetMarker& m) { return m.id == ids[i]; }))
      continue;
    const std::vector<cv::Point2f> fitted = FitQuadEdges(grey, markers[i]);
    for (int k = 0; k < 4; ++k) found.push_back({4 * ids[i] + k, fitted[k]});
  }
  return found;
}

struct TagFamily {
  apriltag_family_t* (*create)();
  void (*destroy)(apriltag_family_t*);
};

TagFamily FamilyFor(const std::string& name) {
  if (name == "tag25h9") return {tag25h9_create, tag25h9_destroy};
  if (name == "tag16h5") return {tag16h5_create, tag16h5_destroy};
  if (name == "tagStandard41h12") return {tagStandard41h12_create, tagStandard41h12_destroy};
  return {tag36h11_create, tag36h11_destroy};
}

std::vector<Found> FindAprilGrid(const cv::Mat& grey, const TargetDescription& target) {
  const TagFamily family = FamilyFor(target.dictionary);
  std::unique_ptr<apriltag_family_t, void (*)(apriltag_family_t*)> tags(family.create(),
                                                                        family.destroy);
  std::unique_ptr<apriltag_detector_t, void (*)(apriltag_detector_t*)> detector(
      apriltag_detector_create(), apriltag_detector_destroy);
  apriltag_detector_add_family_bits(detector.get(), tags.get(), 1);
  detector->nthreads = 2;
  detector->quad_decimate = std::max(grey.cols, grey.rows) > 2500 ? 2.0f : 1.0f;
  // The tags touch the grid's small squares at their corners, which joins their outlines for the
  // tag detector's segmentation: thinning the dark parts by a pixel parts them. The corners are
  // then located on the photograph itself.
  cv::Mat continuous;
  cv::dilate(grey, continuous, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
  image_u8_t image{continuous.cols, continuous.rows, static_cast<int32_t>(continuous.step[0]),
                   continuous.data};
  zarray_t* detections = apriltag_detector_detect(detector.get(), &image);
  std::map<int, std::vector<cv::Point2f>> byTag;
  std::map<int, int> seen;
  const int printed = target.rows * target.columns;
  for (int i = 0; i < zarray_size(detections); ++i) {
    apriltag_detection_t* detection = nullptr;
    zarray_get(detections, i, &detection);
    if (detection->id < 0 || detection->id >= printed) continue;
    ++seen[detection->id];
    std::vector<cv::Point2f> corners;
    for (int k = 0; k < 4; ++k)
      corners.emplace_back(static_cast<float>(detection->p[k][0]),
                           static_cast<float>(detection->p[k][1]));
    byTag[detection->id] = corners;
  }
  apriltag_detections_destroy(detections);
  std::vector<Found> found;
  for (const auto& [id, corners] : byTag) {
    if (seen[id] != 1) continue;
    // The tag's corners meet the grid's small black squares in X-shaped corners, which
    // cornerSubPix finds exactly; its window stays inside one bit of the tag's border.
    const double side = cv::norm(corners[0] - corners[1]);
    const double bit = side / 8;
    const double gap = side * target.spacing / target.markerSize;
    std::vector<cv::Point2f> refined = corners;
    Refine(grey, refined, static_cast<int>(std::clamp(0.8 * std::min(bit, gap), 2.0, 10.0)));
    for (int k = 0; k < 4; ++k) found.push_back({4 * id + k, refined[k]});
  }
  return found;
}

// The squares' outlines: dark convex quadrilaterals, each with its corners ordered upper-left,
// upper-right, lower-right, lower-left as the image shows them.
std::vector<std::vector<cv::Point2f>> DarkQuads(const cv::Mat& grey) {
  cv::Mat binary;
  const int block = std::max(15, std::min(grey.cols, grey.rows) / 8) | 1;
  cv::adaptiveThreshold(grey, binary, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, block,
                        10);
  // Every dark region's outer boundary, also of regions inside others (the squares lie within
  // the dark band the threshold leaves around a light sheet on a darker ground); holes are left.
  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> hierarchy;
  cv::findContours(binary, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
  std::vector<std::vector<cv::Point2f>> quads;
  for (std::size_t i = 0; i < contours.size(); ++i) {
    if (hierarchy[i][3] >= 0) continue;
    const std::vector<cv::Point>& contour = contours[i];
    const double area = cv::contourArea(contour);
    if (area < 64 || area > 0.25 * grey.total()) continue;
    std::vector<cv::Point> polygon;
    cv::approxPolyDP(contour, polygon, 0.04 * cv::arcLength(contour, true), true);
    if (polygon.size() != 4 || !cv::isContourConvex(polygon)) continue;
    const cv::Rect box = cv::boundingRect(polygon);
    if (box.x <= 1 || box.y <= 1 || box.x + box.width >= grey.cols - 1 ||
        box.y + box.height >= grey.rows - 1)
      continue;
    if (std::abs(cv::contourArea(polygon) - area) > 0.2 * area) continue;
    cv::Point2f centre(0, 0);
    for (const cv::Point& p : polygon) centre += cv::Point2f(p) * 0.25f;
    std::vector<std::pair<double, cv::Point2f>> byAngle;
    for (const cv::Point& p : polygon) {
      double angle = std::atan2(p.y - centre.y, p.x - centre.x) + 3 * CV_PI / 4;
      if (angle < 0) angle += 2 * CV_PI;
      byAngle.emplace_back(angle, cv::Point2f(p));
    }
    std::sort(byAngle.begin(), byAngle.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    // The first is the one nearest the upper-left direction (the angles wrap there).
    std::vector<cv::Point2f> quad;
    for (const auto& [angle, p] : byAngle) quad.push_back(p);
    if (byAngle.back().first > 2 * CV_PI - CV_PI / 4 &&
        2 * CV_PI - byAngle.back().first < byAngle.front().first)
      std::rotate(quad.begin(), quad.end() - 1, quad.end());
    quads.push_back(quad);
  }
  return quads;
}

std::vector<Found> FindSquares(const cv::Mat& grey, const TargetDescription& target) {
  std::vector<std::vector<cv::Point2f>> quads = DarkQuads(grey);
  if (quads.empty()) return {};
  std::vector<cv::Point2f> centres;
  for (const auto& q : quads) centres.push_back((q[0] + q[1] + q[2] + q[3]) * 0.25f);
  const double s = target.squareSize;
  const double p = s + target.spacing;
  const std::vector<cv::Point2f> local = {{0, 0},
                                          {static_cast<float>(s), 0},
                                          {static_cast<float>(s), static_cast<float>(s)},
                                          {0, static_cast<float>(s)}};
  // Grows a grid from each square not yet placed: a placed square's own homography predicts
  // where its four neighbours' centres lie, one pitch away. The largest grid is the board.
  std::vector<int> best;
  std::vector<cv::Point> bestIndex;
  std::vector<int> placed(quads.size(), -1);
  for (std::size_t seed = 0; seed < quads.size(); ++seed) {
    if (placed[seed] >= 0) continue;
    std::vector<int> members{static_cast<int>(seed)};
    std::vector<cv::Point> index{{0, 0}};
    placed[seed] = static_cast<int>(seed);
    for (std::size_t next = 0; next < members.size(); ++next) {
      const int q = members[next];
      const cv::Mat h = cv::getPerspectiveTransform(local, quads[q]);
      const double reach = 0.3 * std::sqrt(cv::contourArea(quads[q]));
      const cv::Point steps[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
      for (const cv::Point& step : steps) {
        std::vector<cv::Point2f> predicted;
        cv::perspectiveTransform(
            std::vector<cv::Point2f>{cv::Point2f(static_cast<float>(s / 2 + step.x * p),
                                                 static_cast<float>(s / 2 + step.y * p))},
            predicted, h);
        int nearest = -1;
        double distance = reach;
        for (std::size_t o = 0; o < quads.size(); ++o) {
          const double d = cv::norm(centres[o] - predicted[0]);
          if (placed[o] < 0 && d < distance) {
            distance = d;
            nearest = static_cast<int>(o);
          }
        }
        if (nearest < 0) continue;
        placed[nearest] = static_cast<int>(seed);
        members.push_back(nearest);
        index.push_back(index[next] + step);
      }
    }
    if (members.size() > best.size()) {
      best = members;
      bestIndex = index;
    }
  }
  int left = 1 << 30, bottom = -(1 << 30);
  for (const cv::Point& i : bestIndex) {
    left = std::min(left, i.x);
    bottom = std::max(bottom, i.y);
  }
  std::vector<std::vector<cv::Point2f>> fitted;
  std::map<std::pair<int, int>, std::size_t> at;
  for (std::size_t m = 0; m < best.size(); ++m) {
    fitted.push_back(FitQuadEdges(grey, quads[best[m]]));
    at[{bestIndex[m].x, bestIndex[m].y}] = m;
  }
  // A square partly hidden or cut by the photograph's edge is still a dark quadrilateral, with
  // the wrong corners: each square must lie where a whole neighbour's homography puts it.
  const auto agrees = [&](std::size_t m, std::size_t n) {
    const cv::Point step = bestIndex[m] - bestIndex[n];
    const cv::Mat h = cv::getPerspectiveTransform(local, fitted[n]);
    std::vector<cv::Point2f> expected;
    for (const cv::Point2f& corner : local)
      expected.push_back(
          corner + cv::Point2f(static_cast<float>(step.x * p), static_cast<float>(step.y * p)));
    cv::perspectiveTransform(expected, expected, h);
    const double side = cv::norm(fitted[m][0] - fitted[m][1]);
    for (int k = 0; k < 4; ++k)
      if (cv::norm(expected[k] - fitted[m][k]) > std::max(1.5, 0.15 * side)) return false;
    return true;
  };
  std::vector<Found> found;
  std::vector<cv::Point2f> corners;
  std::vector<int> ids;
  for (std::size_t m = 0; m < best.size(); ++m) {
    const int column = bestIndex[m].x - left;
    const int row = bottom - bestIndex[m].y;  // rows run up the photograph
    if (column >= target.columns || row >= target.rows) return {};
    bool neighbours = false, agreed = false;
    for (const cv::Point& step :
         {cv::Point(1, 0), cv::Point(-1, 0), cv::Point(0, 1), cv::Point(0, -1)}) {
      const auto n = at.find({bestIndex[m].x + step.x, bestIndex[m].y + step.y});
      if (n == at.end()) continue;
      neighbours = true;
      agreed = agreed || agrees(m, n->second);
    }
    if (neighbours && !agreed) continue;
    for (int k = 0; k < 4; ++k) {
      corners.push_back(fitted[m][k]);
      ids.push_back(4 * (row * target.columns + column) + k);
    }
  }
  for (std::size_t i = 0; i < corners.size(); ++i) found.push_back({ids[i], corners[i]});
  return found;
}

// The noise of the image in grey levels (Immerkaer's estimate from the Laplacian difference).
double NoiseLevel(const cv::Mat& grey) {
  if (grey.cols < 3 || grey.rows < 3) return 1;
  const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, -2, 1, -2, 4, -2, 1, -2, 1);
  cv::Mat response;
  cv::filter2D(grey, response, CV_32F, kernel);
  const double sum = cv::sum(cv::abs(response(cv::Rect(1, 1, grey.cols - 2, grey.rows - 2))))[0];
  const double sigma =
      sum * std::sqrt(CV_PI / 2) / (6.0 * (grey.cols - 2) * static_cast<double>(grey.rows - 2));
  return std::max(sigma, std::sqrt(1.0 / 12));  // never below the rounding to whole grey levels
}

// Foerstner's standard error of a corner: the noise of the gradients through the inverse of
// their second-moment matrix over a 11 x 11 window.
double CornerSigma(const cv::Mat& grey, cv::Point2f at, double noise) {
  const int half = 5;
  const int cx = static_cast<int>(std::lround(at.x));
  const int cy = static_cast<int>(std::lround(at.y));
  double xx = 0, xy = 0, yy = 0;
  for (int y = std::max(1, cy - half); y <= std::min(grey.rows - 2, cy + half); ++y)
    for (int x = std::max(1, cx - half); x <= std::min(grey.cols - 2, cx + half); ++x) {
      const double gx = (grey.at<std::uint8_t>(y, x + 1) - grey.at<std::uint8_t>(y, x - 1)) / 2.0;
      const double gy = (grey.at<std::uint8_t>(y + 1, x) - grey.at<std::uint8_t>(y - 1, x)) / 2.0;
      xx += gx * gx;
      xy += gx * gy;
      yy += gy * gy;
    }
  // The central difference of noise sigma has the standard deviation sigma / sqrt(2).
  const double gradientNoise = noise / std::sqrt(2.0);
  const double determinant = xx * yy - xy * xy;
  const double trace = xx + yy;
  if (!(determinant > 1e-9 * trace * trace) || !(trace > 0)) return 99;
  const double smallest = trace / 2 - std::sqrt(std::max(0.0, trace * trace / 4 - determinant));
  return std::min(99.0, gradientNoise / std::sqrt(smallest));
}

}  // namespace

Expected<TargetDetection> DetectTarget(const GreyImage& image, const TargetDescription& target) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height)
    return NotFound(target);
  const cv::Mat grey(image.height, image.width, CV_8UC1,
                     const_cast<std::uint8_t*>(image.pixels.data()));
  std::vector<Found> found;
  try {
    switch (target.kind) {
      case TargetKind::kChessboard:
        found = FindChessboard(grey, target);
        break;
      case TargetKind::kCircles:
      case TargetKind::kAsymmetricCircles:
        found = FindCircles(grey, target);
        break;
      case TargetKind::kCharuco:
        found = FindCharuco(grey, target);
        break;
      case TargetKind::kArucoBoard:
      case TargetKind::kMarkers:
        found = FindMarkers(grey, target);
        break;
      case TargetKind::kAprilTagGrid:
        found = FindAprilGrid(grey, target);
        break;
      case TargetKind::kSquares:
        found = FindSquares(grey, target);
        break;
    }
  } catch (const cv::Exception&) {
    found.clear();
  } catch (const std::bad_alloc&) {
    found.clear();
  }
  const std::vector<TargetCorner> corners = TargetCorners(target);
  std::map<int, const TargetCorner*> byId;
  for (const TargetCorner& c : corners) byId[c.id] = &c;
  TargetDetection detection;
  detection.totalCorners = static_cast<int>(corners.size());
  const double noise = found.empty() ? 1 : NoiseLevel(grey);
  std::map<int, DetectedCorner> result;
  for (const Found& f : found) {
    const auto scene = byId.find(f.id);
    if (scene == byId.end() || !std::isfinite(f.at.x) || !std::isfinite(f.at.y)) continue;
    DetectedCorner corner;
    corner.id = f.id;
    corner.x = f.at.x;
    corner.y = f.at.y;
    corner.sigma = CornerSigma(grey, f.at, noise);
    corner.sceneX = scene->second->x;
    corner.sceneY = scene->second->y;
    result[f.id] = corner;
  }
  if (result.size() < 4) return NotFound(target);
  for (const auto& [id, corner] : result) detection.corners.push_back(corner);
  return detection;
}

Expected<GreyImage> ReadGreyPhotograph(const std::string& path) {
  Failure failure;
  failure.icon = MessageIcon::Stop;
  failure.input = FailedInput::kImage;
  std::string bytes;
  try {
    bytes = ReadInputFile(path, std::size_t{1} << 30);
  } catch (const ZelvError&) {
    failure.text = "Не удается прочитать снимок " + path + "!";
    return failure;
  }
  GreyImage image;
  try {
    const cv::Mat raw(1, static_cast<int>(bytes.size()), CV_8UC1, bytes.data());
    // OpenCV refuses a header claiming more than 2^30 pixels before allocating them; pictures
    // above kLargestPixels are refused here.
    cv::Mat decoded = cv::imdecode(raw, cv::IMREAD_GRAYSCALE);
    if (!decoded.empty() && static_cast<long>(decoded.cols) * decoded.rows <= kLargestPixels) {
      if (decoded.depth() != CV_8U) decoded.convertTo(decoded, CV_8U);
      image.width = decoded.cols;
      image.height = decoded.rows;
      image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
      for (int y = 0; y < decoded.rows; ++y)
        std::copy_n(decoded.ptr<std::uint8_t>(y), image.width,
                    image.pixels.data() + static_cast<std::size_t>(y) * image.width);
      return image;
    }
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  failure.text = "Файл " + path + " не читается как снимок (PNG, JPEG, TIFF, BMP)!";
  return failure;
}

namespace {

std::string Number(double value, int decimals) {
  char text[64];
  const std::to_chars_result r = decimals < 0 ? std::to_chars(text, text + sizeof text, value)
                                              : std::to_chars(text, text + sizeof text, value,
                                                              std::chars_format::fixed, decimals);
  return std::string(text, r.ptr);
}

}  // namespace

Expected<void> WriteDetectionTables(const TargetDetection& detection, const std::string& imagePath,
                                    const std::string& scenePath) {
  std::vector<std::string> image{"id,x,y"};
  std::vector<std::string> scene{"id,x,y"};
  for (const DetectedCorner& c : detection.corners) {
    const std::string id = std::to_string(c.id);
    image.push_back(id + "," + Number(c.x, 4) + "," + Number(c.y, 4));
    scene.push_back(id + "," + Number(c.sceneX, -1) + "," + Number(c.sceneY, -1));
  }
  for (const auto& [path, lines] : {std::pair{imagePath, image}, std::pair{scenePath, scene}}) {
    if (path.empty()) continue;
    try {
      SaveTextLines(path, lines);
    } catch (const ZelvError& e) {
      Failure failure;
      failure.text = "Не удается записать файл " + path + "!";
      failure.icon = MessageIcon::Stop;
      failure.input = FailedInput::kOutput;
      return failure;
    }
  }
  return Success();
}

}  // namespace zelv
