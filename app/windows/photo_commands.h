#pragma once
// The undo history of the photograph workspace. Every edit is one command that holds the points
// before and after it: the lists are small (a few thousand points at most), and a whole-list
// command cannot get out of step with the list however the edits are combined.

#include <QUndoCommand>
#include <functional>
#include <optional>

#include "app/photo_points.h"

namespace zelv {

// What one edit changes: the image points, and the scene points a target search made (nothing
// when the workspace holds none).
struct PhotoEdit {
  RawPoints points;
  std::optional<RawPoints> scene;
};

class PhotoEditCommand : public QUndoCommand {
 public:
  // `apply` puts a state on show. `mergeKey` >= 0 lets consecutive commands with the same key
  // (the nudges of one point by the arrow keys) become one step.
  PhotoEditCommand(const QString& text, PhotoEdit before, PhotoEdit after,
                   std::function<void(const PhotoEdit&)> apply, int mergeKey = -1);

  void undo() override;
  void redo() override;
  int id() const override { return mergeKey_ < 0 ? -1 : 1; }
  bool mergeWith(const QUndoCommand* other) override;

 private:
  PhotoEdit before_;
  PhotoEdit after_;
  std::function<void(const PhotoEdit&)> apply_;
  int mergeKey_;
};

}  // namespace zelv
