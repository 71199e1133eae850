#pragma once
// The state of the main window: everything one orientation reads and writes, with its start-up
// values. The window owns one and passes it by reference; no core function reaches for a global.

#include <chrono>
#include <string>

#include "base/number_text.h"
#include "base/orientation_result.h"
#include "files/camera_file.h"
#include "points/Data_structures.h"
#include "solver/refinement_settings.h"
#include "solver/transformation_fit.h"

namespace zelv {

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
  std::string StartDirectory;  // the process's current directory at start-up
  InteriorGeometry Geometry;
  double SightingPointX = 0;
  double SightingPointY = 0;
  double Distance = 0;
  std::chrono::system_clock::time_point StartTime{};
  RefinementSettings Settings;

  // What the window shows.
  ResultTexts Results;       // the 21 result fields; empty when cleared
  OrientationValues Values;  // the numbers behind them, for the command line
  bool SaveEnabled = false;  // Button1 and N16 ("Сохранить")
  char DecimalSeparator = RegionalDecimalSeparator();
};

}  // namespace zelv
