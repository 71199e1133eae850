#pragma once
// The workspace "Снимок": the photograph with the control points of the image coordinate file
// drawn on it (raw pixels, x right, y down, as the file holds them), the list of the points beside
// it, and after an orientation the scene points projected through the result with their magnified
// residual arrows.
//
// Editing: Ctrl+click (or a click in the adding mode) adds a point, Ctrl+Shift+click adds it at
// the refined corner; a point is dragged with the mouse or moved by the arrow keys (0.1 pixel, 1
// with Shift); Delete removes the selected points; "Перенумеровать..." gives a point another
// number; every edit can be undone. Saving writes the image coordinate file (and the scene file a
// target search made) with the atomic Windows-1251 writer; closing with unsaved changes asks the
// data editor's question, and a save that does not happen keeps the window open.

#include <QMainWindow>
#include <QPointer>
#include <optional>
#include <string>

#include "app/photo_overlay.h"
#include "app/windows/photo_commands.h"
#include "base/user_interface.h"

class QAction;
class QGraphicsScene;
class QLabel;
class QTableView;
class QUndoStack;

namespace zelv {

class PhotoImageItem;
class PhotoOverlayItem;
class PhotoPointItem;
class PhotoPointModel;
class PhotoView;

class PhotoWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `ui` is the user interface the window talks through; `owner` the main window (the workspace
  // stays a separate top-level window).
  PhotoWindow(UserInterface& ui, QWidget* owner = nullptr);
  ~PhotoWindow() override;

  // Shows the photograph and the points of `pointsFile` (none when empty; a file that does not
  // exist yet is where saving will write). After asking about unsaved changes. False (with a
  // message) when the photograph does not read; the window then stays as it was.
  bool OpenPhoto(const std::string& photoFile, const std::string& pointsFile);
  // Replaces the points by those of an image coordinate file, after asking about unsaved changes.
  bool OpenPoints(const std::string& pointsFile);

  const RawPoints& Points() const { return edit_.points; }
  const std::optional<RawPoints>& ScenePoints() const { return edit_.scene; }
  bool Modified() const;
  const std::string& PhotoFileName() const { return photoFile_; }
  const std::string& PointsFileName() const { return pointsFile_; }
  const std::string& SceneFileName() const { return sceneFile_; }
  QSize PhotoSize() const { return photo_.size(); }

  // The orientation overlay, or nothing to take it away.
  void ShowOverlay(const std::optional<PhotoOverlay>& overlay);
  const std::optional<PhotoOverlay>& Overlay() const { return overlay_; }
  // Selects point `number` (from 1) in the view and the list and brings it into view; 0 clears.
  void SelectPoint(int number);
  // The selected point numbers, ascending.
  std::vector<int> SelectedPoints() const;

  // The edits, each one undo step.
  void AddPoint(PixelPoint at, bool refine);
  void DeleteSelected();
  void NudgeSelected(double dx, double dy);
  void RenumberSelected(int newNumber);
  void RefineSelected();
  // Looks for a `columns` × `rows` chessboard; on success replaces the points by its corners and
  // makes the matching scene points (`squareSize` scene units). False with a message otherwise.
  bool FindChessboard(int columns, int rows, double squareSize);
  // Looks for the coded target described in the file; on success replaces the points by the
  // corners found, in the order of their identifiers, with the matching scene points (one undo
  // step). A target file that does not read or a target not found is shown and changes nothing.
  bool FindTarget(const std::string& targetFile);

  // Saves the points (and pending scene points); true when everything is written.
  bool Save();
  bool SaveAs();
  // The close question when there are unsaved changes; true when the window may go on (saved,
  // or the user chose not to).
  bool MaybeSave();

  PhotoView* View = nullptr;
  QGraphicsScene* Scene = nullptr;
  QTableView* List = nullptr;
  PhotoPointModel* Model = nullptr;
  QUndoStack* UndoStack = nullptr;
  QLabel* ResidualLegend = nullptr;  // "Невязки ×250 ..."
  QLabel* CursorLabel = nullptr;
  QLabel* ScaleLabel = nullptr;

  QAction* OpenPointsAction = nullptr;
  QAction* SaveAction = nullptr;
  QAction* SaveAsAction = nullptr;
  QAction* CloseAction = nullptr;
  QAction* UndoAction = nullptr;
  QAction* RedoAction = nullptr;
  QAction* AddModeAction = nullptr;
  QAction* DeleteAction = nullptr;
  QAction* RenumberAction = nullptr;
  QAction* RefineAction = nullptr;
  QAction* ChessboardAction = nullptr;
  QAction* TargetAction = nullptr;
  QAction* OrientAction = nullptr;
  QAction* ZoomInAction = nullptr;
  QAction* ZoomOutAction = nullptr;
  QAction* FitAction = nullptr;
  QAction* ActualSizeAction = nullptr;

 public slots:
  void OpenPointsClick();
  void RenumberClick();
  void ChessboardClick();
  void TargetClick();
  void OrientClick();

 signals:
  // A point was selected here (its number; 0 when none is).
  void PointSelected(int number);
  // Files were written: the image coordinate file, and the scene file (empty when none).
  void FilesSaved(const QString& pointsFile, const QString& sceneFile);
  // Enter or "Ориентация": the main window runs the orientation.
  void OrientationRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Opens inside the screen's available area, shrunk to fit it.
  void showEvent(QShowEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void Push(const QString& text, PhotoEdit after, int mergeKey = -1);
  void Apply(const PhotoEdit& edit);
  void RebuildItems();
  void SyncSelectionFromScene();
  void SyncSelectionFromList();
  void TakeDraggedPositions();
  void UpdateTitle();
  void UpdateActions();
  const QImage& Grey();
  std::optional<std::string> AskSaveName(const std::string& proposed, const std::string& folder);
  Owner SelfOwner() { return Owner{static_cast<QWidget*>(this)}; }

  UserInterface& ui_;
  QImage photo_;
  QImage grey_;
  std::string photoFile_;
  std::string pointsFile_;
  std::string sceneFile_;
  PhotoEdit edit_;
  std::optional<RawPoints> savedScene_;  // the scene points last written
  std::optional<PhotoOverlay> overlay_;
  PhotoImageItem* imageItem_ = nullptr;
  PhotoOverlayItem* overlayItem_ = nullptr;
  std::vector<PhotoPointItem*> items_;
  bool syncing_ = false;
  int lastSelected_ = 0;
};

}  // namespace zelv
