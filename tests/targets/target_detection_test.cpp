// Detection on rendered photographs of each kind of target with a known pose: every corner found
// carries the identifier of the corner it is, close to where it truly lies.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "targets/target_render.h"

namespace zelv {
namespace {

TargetDescription Board(TargetKind kind, int rows, int columns) {
  TargetDescription target;
  target.kind = kind;
  target.rows = rows;
  target.columns = columns;
  switch (kind) {
    case TargetKind::kChessboard:
      target.squareSize = 30;
      break;
    case TargetKind::kCharuco:
      target.squareSize = 30;
      target.markerSize = 21;
      target.dictionary = "DICT_5X5_100";
      break;
    case TargetKind::kArucoBoard:
      target.markerSize = 28;
      target.spacing = 7;
      target.dictionary = "DICT_4X4_50";
      break;
    case TargetKind::kAprilTagGrid:
      target.markerSize = 24;
      target.spacing = 7.2;
      target.dictionary = "tag36h11";
      break;
    case TargetKind::kSquares:
      target.squareSize = 20;
      target.spacing = 15;
      break;
    case TargetKind::kCircles:
    case TargetKind::kAsymmetricCircles:
      target.spacing = 30;
      break;
    case TargetKind::kMarkers:
      break;
  }
  return target;
}

struct Errors {
  std::vector<double> distances;  // px, sorted
  int wrong = 0;                  // found further than 2 px from its own corner
  double Median() const { return distances.empty() ? 1e9 : distances[distances.size() / 2]; }
  double Largest() const { return distances.empty() ? 1e9 : distances.back(); }
};

Errors Compare(const TargetDetection& detection, const test::RenderedTarget& render) {
  Errors errors;
  for (const DetectedCorner& c : detection.corners) {
    const auto truth = render.truth.find(c.id);
    const double d = truth == render.truth.end()
                         ? 1e9
                         : std::hypot(c.x - truth->second.x, c.y - truth->second.y);
    if (d > 2) ++errors.wrong;
    errors.distances.push_back(d);
  }
  std::sort(errors.distances.begin(), errors.distances.end());
  return errors;
}

test::RenderOptions Small() {
  test::RenderOptions o;
  o.width = 960;
  o.height = 540;
  o.supersampling = 4;
  return o;
}

TEST(TargetDetection, FindsEveryKindWithItsIdentifiersAndSubPixelCorners) {
  const struct {
    TargetKind kind;
    int rows, columns;
    double scale;  // drawing pixels per scene unit
    double median, largest;
  } cases[] = {{TargetKind::kChessboard, 7, 10, 4, 0.08, 0.3},
               {TargetKind::kCharuco, 6, 8, 4, 0.08, 0.3},
               {TargetKind::kArucoBoard, 4, 5, 4, 0.15, 0.5},
               {TargetKind::kAprilTagGrid, 4, 5, 5, 0.08, 0.3},
               {TargetKind::kSquares, 5, 6, 4, 0.15, 0.5},
               {TargetKind::kCircles, 5, 7, 4, 0.15, 0.5},
               {TargetKind::kAsymmetricCircles, 7, 4, 4, 0.3, 0.8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(TargetKindName(c.kind));
    const TargetDescription target = Board(c.kind, c.rows, c.columns);
    const test::RenderedTarget render = test::RenderTarget(target, Small(), c.scale);
    const Expected<TargetDetection> found = DetectTarget(render.image, target);
    ASSERT_TRUE(found) << found.error().text;
    const Errors errors = Compare(*found, render);
    EXPECT_EQ(errors.wrong, 0);
    EXPECT_EQ(found->corners.size(), TargetCorners(target).size());
    EXPECT_LT(errors.Median(), c.median);
    EXPECT_LT(errors.Largest(), c.largest);
    for (const DetectedCorner& corner : found->corners) {
      EXPECT_GT(corner.sigma, 0);
      EXPECT_LT(corner.sigma, 1);
    }
  }
}

TEST(TargetDetection, APartlyHiddenBoardKeepsItsIdentifiersAndEveryVisibleCorner) {
  for (const TargetKind kind :
       {TargetKind::kCharuco, TargetKind::kAprilTagGrid, TargetKind::kArucoBoard}) {
    SCOPED_TRACE(TargetKindName(kind));
    const TargetDescription target = Board(kind, 5, 7);
    test::RenderOptions o = Small();
    o.hidden = 0.4;
    o.distance = 1.3;
    const test::RenderedTarget render = test::RenderTarget(target, o, 4);
    const Expected<TargetDetection> found = DetectTarget(render.image, target);
    ASSERT_TRUE(found) << found.error().text;
    EXPECT_EQ(Compare(*found, render).wrong, 0);
    EXPECT_LT(found->corners.size(), TargetCorners(target).size());
    // Every corner well clear of the card and of the markers it cuts is found.
    for (const auto& [id, at] : render.truth) {
      const double card = o.width * (1 - o.hidden);
      if (at.x < card - 90 && at.x > 10 && at.y > 10 && at.y < o.height - 10) {
        EXPECT_TRUE(std::any_of(found->corners.begin(), found->corners.end(),
                                [&](const DetectedCorner& c) { return c.id == id; }))
            << "corner " << id;
      }
    }
  }
}

TEST(TargetDetection, ABlankOrForeignImageIsNotFoundAndNothingIsInvented) {
  const TargetDescription target = Board(TargetKind::kSquares, 8, 8);
  GreyImage blank{640, 480, std::vector<std::uint8_t>(640 * 480, 200)};
  EXPECT_FALSE(DetectTarget(blank, target));
  GreyImage empty;
  EXPECT_FALSE(DetectTarget(empty, target));
  // A ChArUco photograph described as an AprilGrid.
  const test::RenderedTarget render =
      test::RenderTarget(Board(TargetKind::kCharuco, 6, 8), Small(), 4);
  const Expected<TargetDetection> found =
      DetectTarget(render.image, Board(TargetKind::kAprilTagGrid, 4, 5));
  ASSERT_FALSE(found);
  EXPECT_NE(found.error().text.find("Мишень (apriltag_grid) не найдена на снимке"),
            std::string::npos);
}

}  // namespace
}  // namespace zelv
