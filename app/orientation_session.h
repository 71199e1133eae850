#pragma once
// The orientation command as the user meets it: Orient (app/orientation.h) under the busy cursor,
// each warning shown as it arises, the progress in the status text, and the failure shown at the
// end. The window, `zelv-cli orient` and the tests run it; batch calls Orient directly, for it
// shows nothing.

#include <functional>

#include "app/orientation.h"
#include "base/user_interface.h"

namespace zelv {

// What the caller shows of a running orientation besides the messages (each may be empty).
struct OrientationDisplay {
  // The inputs passed their checks: the fields are cleared before computing.
  std::function<void()> computing;
  // A computation failed after showing these values (empty texts for the others); called before
  // its message is shown.
  std::function<void(const ResultTexts&)> shownBeforeFailure;
};

// Runs Orient(request) as the desktop's command: busy cursor, warnings ("Предупреждение!") shown
// as they arise, the status text, then the failure's message. Returns the outcome for the caller
// to show or write.
OrientationOutcome RunOrientation(const OrientationRequest& request, UserInterface& ui,
                                  const OrientationDisplay& display = {});

}  // namespace zelv
