#pragma once
// The data editor's tool bar pictures, drawn in code so that they need no image files and look
// the same on every platform style.

#include <QIcon>

namespace zelv {

enum class EditorIcon { Save, InsertRow, AppendRow, DeleteRow, Clear };

// A small picture (drawn at 32 x 32 device-independent pixels, scaled down by the tool bar).
QIcon MakeEditorIcon(EditorIcon kind);

}  // namespace zelv
