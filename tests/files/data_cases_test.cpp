// Every worked case and real-data case in tests/data reads without a message, as the orientation
// reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fake_ui.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"

namespace zelv {
namespace {

std::vector<std::filesystem::path> CaseFolders() {
  std::vector<std::filesystem::path> folders;
  const std::filesystem::path root(ZELV_TEST_DATA_DIR);
  for (const char* group : {"golden", "realdata/zhang"})
    for (const auto& entry : std::filesystem::directory_iterator(root / group))
      if (entry.is_directory()) folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end());
  return folders;
}

TEST(DataCasesTest, EveryCaseReadsWithoutAMessage) {
  const std::vector<std::filesystem::path> folders = CaseFolders();
  ASSERT_GE(folders.size(), 10u);
  for (const auto& folder : folders) {
    SCOPED_TRACE(folder.string());
    testing::FakeUi ui;
    InteriorGeometry geometry;
    VT_Points image(1);
    VT_Points scene(1);
    ASSERT_TRUE(Shown(ui, ReadCameraFile((folder / "camera.cam").string(), geometry)));
    ASSERT_TRUE(
        Shown(ui, ReadImagePoints((folder / "image.crd").string(), image, geometry.CorrectionTable,
                                  geometry.ImageCentreX, geometry.ImageCentreY)));
    ASSERT_TRUE(Shown(ui, ReadScenePoints((folder / "scene.crd").string(), scene)));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_GE(image.Count(), 4);
    EXPECT_EQ(image.Count(), scene.Count());
    EXPECT_GT(geometry.FocalLength, 0);
    for (int i = 0; i < image.Count(); ++i) {
      // No point of a real case falls outside every band (-1 would be a coincidence here).
      EXPECT_NE(image.Get(i)->x, -1.0);
      EXPECT_NE(image.Get(i)->y, -1.0);
    }
  }
}

TEST(DataCasesTest, TheSquareCaseCentresItsImagePoints) {
  const std::filesystem::path folder = std::filesystem::path(ZELV_TEST_DATA_DIR) / "golden/square";
  testing::FakeUi ui;
  InteriorGeometry geometry;
  VT_Points image(1);
  ASSERT_TRUE(Shown(ui, ReadCameraFile((folder / "camera.cam").string(), geometry)));
  EXPECT_EQ(geometry.ImageCentreX, 320.0);
  EXPECT_EQ(geometry.FocalLength, 1000.0);
  EXPECT_EQ(geometry.ImageHeight, 480.0);
  ASSERT_TRUE(
      Shown(ui, ReadImagePoints((folder / "image.crd").string(), image, geometry.CorrectionTable,
                                geometry.ImageCentreX, geometry.ImageCentreY)));
  ASSERT_EQ(image.Count(), 4);
  EXPECT_EQ(image.Get(0)->x, -100.0);  // raw (220, 340) about the centre (320, 240), y up
  EXPECT_EQ(image.Get(0)->y, -100.0);
  EXPECT_EQ(image.Get(2)->x, 100.0);
  EXPECT_EQ(image.Get(2)->y, 100.0);
}

}  // namespace
}  // namespace zelv
