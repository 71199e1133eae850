// Photographs to calibration views on the example's renders (examples/calibration): the views in
// the photographs' order whatever the threads, the photographs that give none listed with their
// reasons, and a stop that ends the work.
#include "calibration/calibration_views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelv {
namespace {

const std::string kExamples = ZELV_EXAMPLES_DIR;

TEST(CalibrationViews, ViewsKeepTheOrderOfThePhotographsAndTheOthersAreListed) {
  const Expected<TargetDescription> target =
      ReadTargetDescription(kExamples + "/calibration/target.yml");
  ASSERT_TRUE(target);
  const std::vector<std::string> paths = {
      kExamples + "/calibration/view03.png", kExamples + "/zhang/photo.png",
      kExamples + "/calibration/no-such-view.png", kExamples + "/calibration/view01.png",
      kExamples + "/calibration/./view01.png"};
  std::vector<double> fractions;
  const Expected<PhotographViews> two = ViewsFromPhotographs(
      paths, *target,
      [&](const std::string&, double fraction) {
        fractions.push_back(fraction);
        return true;
      },
      2);
  ASSERT_TRUE(two) << two.error().text;
  ASSERT_EQ(two->views.size(), 3u);
  EXPECT_EQ(two->views[0].name, "view03.png");
  // Two photographs of one file name are named by their paths.
  EXPECT_EQ(two->views[1].name, paths[3]);
  EXPECT_EQ(two->views[2].name, paths[4]);
  EXPECT_EQ(two->paths[1], paths[3]);
  EXPECT_EQ(two->imageWidth, 800);
  EXPECT_EQ(two->imageHeight, 600);
  // The photograph of another size and the missing one, each with its reason, in order.
  ASSERT_EQ(two->skipped.size(), 2u);
  EXPECT_EQ(two->skipped[0].path, paths[1]);
  EXPECT_NE(two->skipped[0].reason.find("640×480"), std::string::npos) << two->skipped[0].reason;
  EXPECT_EQ(two->skipped[1].path, paths[2]);
  EXPECT_NE(two->skipped[1].reason.find("no-such-view.png"), std::string::npos)
      << two->skipped[1].reason;
  // The progress reaches the end once per photograph, on the calling thread.
  ASSERT_FALSE(fractions.empty());
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);

  // A view pairs each corner with its place on the board: corner 0 of the 7 × 10 chessboard of
  // 30 mm at (30, −30) (the target's Y turned up the board).
  const CalibrationView& view = two->views[1];
  ASSERT_EQ(view.ids.size(), 54u);
  ASSERT_EQ(view.image.size(), 54u);
  ASSERT_EQ(view.ids[0], 0);
  EXPECT_DOUBLE_EQ(view.board[0][0], 30);
  EXPECT_DOUBLE_EQ(view.board[0][1], -30);

  // One thread gives the same views.
  const Expected<PhotographViews> one = ViewsFromPhotographs({paths[0], paths[3]}, *target, {}, 1);
  ASSERT_TRUE(one);
  ASSERT_EQ(one->views.size(), 2u);
  for (size_t v = 0; v < 2; ++v) {
    EXPECT_EQ(one->views[v].ids, two->views[v].ids);
    EXPECT_EQ(one->views[v].image, two->views[v].image);
  }
}

TEST(CalibrationViews, AStopEndsTheWorkWithAFailure) {
  const Expected<TargetDescription> target =
      ReadTargetDescription(kExamples + "/calibration/target.yml");
  ASSERT_TRUE(target);
  const Expected<PhotographViews> stopped = ViewsFromPhotographs(
      {kExamples + "/calibration/view01.png", kExamples + "/calibration/view02.png",
       kExamples + "/calibration/view04.png"},
      *target, [](const std::string&, double) { return false; }, 1);
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().text, "Поиск мишени на снимках остановлен.");
}

}  // namespace
}  // namespace zelv
