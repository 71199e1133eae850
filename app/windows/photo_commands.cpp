#include "app/windows/photo_commands.h"

namespace zelv {

PhotoEditCommand::PhotoEditCommand(const QString& text, PhotoEdit before, PhotoEdit after,
                                   std::function<void(const PhotoEdit&)> apply, int mergeKey)
    : QUndoCommand(text),
      before_(std::move(before)),
      after_(std::move(after)),
      apply_(std::move(apply)),
      mergeKey_(mergeKey) {}

void PhotoEditCommand::undo() { apply_(before_); }
void PhotoEditCommand::redo() { apply_(after_); }

bool PhotoEditCommand::mergeWith(const QUndoCommand* other) {
  const auto* next = dynamic_cast<const PhotoEditCommand*>(other);
  if (next == nullptr || next->mergeKey_ != mergeKey_ || mergeKey_ < 0) return false;
  after_ = next->after_;
  return true;
}

}  // namespace zelv
