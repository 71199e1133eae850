#pragma once
// The report and the figures of the result the main window shows: Файл → "Сохранить отчёт..."
// (HTML or PDF, app/report.h) and Счёт → "Схема..." (the camera over the scene plane, a plan
// and a side view, each exportable as SVG or PNG).

#include <QAction>
#include <QObject>
#include <QWidget>
#include <optional>
#include <string>

#include "app/orientation.h"
#include "app/report.h"
#include "app/report_figure.h"
#include "base/user_interface.h"

namespace zelv {

// A figure drawn to fit the widget, its aspect kept.
class FigureView : public QWidget {
 public:
  explicit FigureView(QWidget* parent = nullptr);
  void SetFigure(std::optional<Figure> figure);
  const std::optional<Figure>& Shown() const { return figure_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<Figure> figure_;
};

// The "Схема" window: the plan and the side view of the result shown and its residuals over the
// image frame (the report's figures), each with a button that exports it.
class SchemeWindow : public QWidget {
 public:
  SchemeWindow(UserInterface* ui, QWidget* parent = nullptr);
  void SetOrientation(const Orientation* orientation);
  FigureView* Plan() const { return plan_; }
  FigureView* Side() const { return side_; }
  FigureView* ResidualsView() const { return residuals_; }
  // Asks where (proposing `proposedName`) and writes `figure` as SVG or PNG by the name's
  // extension; true when written.
  bool ExportFigure(const Figure& figure, const std::string& proposedName);

 private:
  UserInterface* ui_;
  FigureView* plan_;
  FigureView* side_;
  FigureView* residuals_;
};

// Writes `figure` to `path` atomically: SVG, or PNG (two pixels to the figure's point) when the
// name ends in ".png"; on failure "Ошибка записи рисунка!" / "Ошибка!".
Expected<void> WriteFigure(const std::string& path, const Figure& figure);

class ReportCommands : public QObject {
 public:
  ReportCommands(UserInterface* ui, QWidget* window);

  QAction* SaveReportAction;  // "Сохранить отчёт...", enabled while a result is shown
  QAction* SchemeAction;      // "Схема...", likewise

  // The result shown (nullptr: none), the context of the request it came from and the image
  // file (the report's proposed name follows it).
  void SetResult(const Orientation* orientation, ReportContext context,
                 const std::string& imageFile);
  // The save command: proposes the image file's stem + ".html", asks before replacing a file,
  // writes HTML or PDF by the extension and shows a failure. True when written.
  bool SaveReport();
  // Opens (or raises) the "Схема" window on the result.
  void ShowScheme();
  SchemeWindow* Scheme() const { return scheme_; }

 private:
  UserInterface* ui_;
  QWidget* window_;
  const Orientation* orientation_ = nullptr;
  ReportContext context_;
  std::string imageFile_;
  SchemeWindow* scheme_ = nullptr;
};

}  // namespace zelv
