#pragma once
// The data editor window for coordinate and camera files.

#include <string>

#include "app/user_interface.h"

class QWidget;

namespace zelv {

// Data file type codes of the editor.
inline constexpr int kPointFileType = 2;   // ".crd": image or scene control points
inline constexpr int kCameraFileType = 5;  // ".cam": interior geometry

// Opens `path` in a new modeless editor window owned by the application and shows it; a file
// that cannot be opened is reported and no window is shown. Returns the window, or nullptr.
QWidget* OpenDataEditor(const std::string& path, int typeCode, UserInterface& ui);

}  // namespace zelv
