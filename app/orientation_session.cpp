#include "app/orientation_session.h"

#include "app/orientation_state.h"

namespace zelv {

OrientationRequest RequestOf(const OrientationState& state) {
  OrientationRequest request;
  request.cameraFile = state.CameraFileName;
  request.imageFile = state.ImageFileName;
  request.sceneFile = state.SceneFileName;
  request.cameraId = state.CameraId;
  request.settings = state.Settings;
  request.sigmaCount = state.SigmaCount;
  request.decimalSeparator = state.DecimalSeparator;
  request.startDirectory = state.StartDirectory;
  request.known = state.Known;
  return request;
}

OrientationOutcome RunOrientation(const OrientationRequest& request, UserInterface& ui,
                                  const OrientationDisplay& display) {
  TWaitCursor waitCursor(ui);
  OrientationProgress progress;
  progress.warned = [&ui](const Warning& warning) {
    ui.ShowMessage(warning.text, warning.caption, MessageIcon::None, Owner{});
  };
  progress.computing = display.computing;
  progress.status = [&ui](const std::string& text) { ui.SetStatusText(text); };
  OrientationOutcome outcome = Orient(request, progress);
  if (!outcome) {
    const OrientationFailure& failure = outcome.error();
    if (failure.shown && display.shownBeforeFailure) display.shownBeforeFailure(*failure.shown);
    ui.ShowFailure(failure);
  }
  return outcome;
}

}  // namespace zelv
