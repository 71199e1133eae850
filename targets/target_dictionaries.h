#pragma once
// The marker dictionaries a target description may name: OpenCV's predefined ArUco dictionaries
// (DICT_4X4_50 ... DICT_APRILTAG_36h11) and the AprilTag library's tag families.

#include <string>

namespace zelv {

// The number of markers in the ArUco dictionary of that name; 0 when there is none.
int ArucoDictionarySize(const std::string& name);
// OpenCV's identifier (cv::aruco::PREDEFINED_DICTIONARY_NAME) of a known dictionary.
int ArucoDictionaryId(const std::string& name);
std::string KnownArucoDictionaries();

// The number of tags in the AprilTag family of that name; 0 when there is none.
int AprilTagFamilySize(const std::string& name);
std::string KnownAprilTagFamilies();

}  // namespace zelv
