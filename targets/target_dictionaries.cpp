#include "targets/target_dictionaries.h"

#include <opencv2/aruco.hpp>

namespace zelv {
namespace {

struct Dictionary {
  const char* name;
  int id;
  int size;
};
constexpr Dictionary kAruco[] = {{"DICT_4X4_50", cv::aruco::DICT_4X4_50, 50},
                                 {"DICT_4X4_100", cv::aruco::DICT_4X4_100, 100},
                                 {"DICT_4X4_250", cv::aruco::DICT_4X4_250, 250},
                                 {"DICT_4X4_1000", cv::aruco::DICT_4X4_1000, 1000},
                                 {"DICT_5X5_50", cv::aruco::DICT_5X5_50, 50},
                                 {"DICT_5X5_100", cv::aruco::DICT_5X5_100, 100},
                                 {"DICT_5X5_250", cv::aruco::DICT_5X5_250, 250},
                                 {"DICT_5X5_1000", cv::aruco::DICT_5X5_1000, 1000},
                                 {"DICT_6X6_50", cv::aruco::DICT_6X6_50, 50},
                                 {"DICT_6X6_100", cv::aruco::DICT_6X6_100, 100},
                                 {"DICT_6X6_250", cv::aruco::DICT_6X6_250, 250},
                                 {"DICT_6X6_1000", cv::aruco::DICT_6X6_1000, 1000},
                                 {"DICT_7X7_50", cv::aruco::DICT_7X7_50, 50},
                                 {"DICT_7X7_100", cv::aruco::DICT_7X7_100, 100},
                                 {"DICT_7X7_250", cv::aruco::DICT_7X7_250, 250},
                                 {"DICT_7X7_1000", cv::aruco::DICT_7X7_1000, 1000},
                                 {"DICT_ARUCO_ORIGINAL", cv::aruco::DICT_ARUCO_ORIGINAL, 1024},
                                 {"DICT_APRILTAG_16h5", cv::aruco::DICT_APRILTAG_16h5, 30},
                                 {"DICT_APRILTAG_25h9", cv::aruco::DICT_APRILTAG_25h9, 35},
                                 {"DICT_APRILTAG_36h10", cv::aruco::DICT_APRILTAG_36h10, 2320},
                                 {"DICT_APRILTAG_36h11", cv::aruco::DICT_APRILTAG_36h11, 587}};

// The families the AprilTag library detects square tags of, with their sizes.
constexpr Dictionary kAprilTag[] = {
    {"tag36h11", 0, 587}, {"tag25h9", 1, 35}, {"tag16h5", 2, 30}, {"tagStandard41h12", 3, 2115}};

template <std::size_t N>
std::string Names(const Dictionary (&list)[N]) {
  std::string names;
  for (const Dictionary& d : list) names += (names.empty() ? "" : ", ") + std::string(d.name);
  return names;
}

}  // namespace

int ArucoDictionarySize(const std::string& name) {
  for (const Dictionary& d : kAruco)
    if (name == d.name) return d.size;
  return 0;
}

int ArucoDictionaryId(const std::string& name) {
  for (const Dictionary& d : kAruco)
    if (name == d.name) return d.id;
  return cv::aruco::DICT_4X4_50;
}

std::string KnownArucoDictionaries() { return Names(kAruco); }

int AprilTagFamilySize(const std::string& name) {
  for (const Dictionary& d : kAprilTag)
    if (name == d.name) return d.size;
  return 0;
}

std::string KnownAprilTagFamilies() { return Names(kAprilTag); }

}  // namespace zelv
