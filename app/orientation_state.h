#pragma once
// The main window's own state: the three files it names, the settings it orients with, and the
// result it shows (kept for saving it and for its residuals). Everything an orientation computes
// comes from Orient (app/orientation.h); nothing here is read by a computation.

#include <optional>
#include <string>

#include "app/orientation.h"
#include "base/number_text.h"
#include "base/orientation_result.h"
#include "solver/refinement_settings.h"

namespace zelv {

struct OrientationState {
  std::string CameraFileName;
  std::string ImageFileName;
  std::string SceneFileName;
  int CameraId = 0;  // the camera of a COLMAP camera list named as the camera file; 0: the first
  std::string StartDirectory;  // the process's current directory at start-up
  RefinementSettings Settings;
  double MinAngle = 0.17453292519943295;  // radians (10 degrees); read by no computation
  double MinDistanceFraction = 0.1;       // fraction of the image diagonal
  double SigmaCount = 3.0;                // residuals beyond SigmaCount * sigma are flagged
  int ProcessingMode = 1;                 // 1 normal, 3 debugging
  char DecimalSeparator = RegionalDecimalSeparator();
  KnownValues Known;  // the camera values known beforehand (the rigorous level)

  ResultTexts Results;  // the 21 result fields as shown; empty when cleared
  // The orientation whose values the fields show in full; nothing while they show none (or only
  // the values of a failed computation).
  std::optional<Orientation> Shown;
  bool ResultSaved = true;   // nothing to ask about at closing
  bool SaveEnabled = false;  // Button1 and N16 ("Сохранить")
};

// The orientation the window's state asks for.
OrientationRequest RequestOf(const OrientationState& state);

}  // namespace zelv
