#pragma once
// The state of the main window: everything one orientation reads and writes, with its start-up
// values. The window owns one and passes it by reference; no core function reaches for a global.

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "base/orientation_result.h"
#include "files/camera_file.h"
#include "points/Data_structures.h"
#include "solver/refinement_settings.h"
#include "solver/transformation_fit.h"

namespace zelv {

// What the rigorous estimate adds to a result: the standard deviations of the 21 values (their
// units), σ0 (pixels, a posteriori) with its redundancy, and the points it left out as blunders
// (numbers from 1, as in the files). Valid when `known`.
struct ResultPrecision {
  bool known = false;
  std::array<double, kResultCount> sigma{};
  double sigma0 = 0;
  int redundancy = 0;
  std::vector<int> outliers;
};

// The focal length the last orientation used (pixels): the camera file's, or where it gives none
// the estimate from the control points, with its σ (0 when given).
struct FocalLengthUse {
  double value = 0;
  double sigma = 0;
  bool estimated = false;
};

struct OrientationState {
  TransformCoefficients Coefficients;
  double MinAngle = 0.17453292519943295;  // radians (10 degrees); read by no computation
  double MinDistanceFraction = 0.1;       // fraction of the image diagonal
  double SigmaCount = 3.0;                // residuals beyond SigmaCount * sigma are flagged
  bool ResultSaved = true;
  int ProcessingMode = 1;  // 1 normal, 3 debugging
  VT_Points ImagePoints{1};
  VT_Points ScenePoints{1};
  TPoint3 ProjectionCentre{0, 0, 0};
  std::string SceneFileName;
  std::string CameraFileName;
  std::string ImageFileName;
  int CameraId = 0;  // the camera of a COLMAP camera list named as the camera file; 0: the first
  std::string StartDirectory;  // the process's current directory at start-up
  InteriorGeometry Geometry;
  double SightingPointX = 0;
  double SightingPointY = 0;
  double Distance = 0;
  std::chrono::system_clock::time_point StartTime{};
  RefinementSettings Settings;

  // What the window shows.
  ResultTexts Results;                // the 21 result fields; empty when cleared
  OrientationValues Values;           // the numbers behind them, for the command line
  ResultPrecision Precision;          // the rigorous estimate's figures of the shown result
  FocalLengthUse FocalLength;         // of the last orientation
  std::vector<std::string> Warnings;  // every warning the last orientation command showed
  std::vector<int> UncoveredPoints;   // image points no correction band covers (from 1)
  // The identifiers of the paired points, parallel to ImagePoints and ScenePoints, when both
  // files have them (app/point_pairing.h); empty when the points pair by order.
  std::vector<std::string> PointIds;
  bool SaveEnabled = false;  // Button1 and N16 ("Сохранить")
  char DecimalSeparator = RegionalDecimalSeparator();
};

}  // namespace zelv
