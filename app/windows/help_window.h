#pragma once
// The help window: the pages of ZELVHelp with a contents tab and an index tab beside the page.

#include <QString>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

namespace zelv {

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // The places ZELVHelp/ZELV_01.html is looked for, in order: the current directory, the
  // installed program's share folder, the source tree's resources folder.
  static QStringList HelpFileCandidates();
  // The first candidate that exists, or the empty text.
  static QString FindHelpFile();

  // Looks the help file up afresh and shows it with its contents and index; a missing file is
  // reported in the page area.
  void OpenContents();
  // The file shown, or the empty text when none was found.
  QString ShownFile() const { return shownFile_; }

  QTabWidget* Tabs = nullptr;
  QTreeWidget* Contents = nullptr;
  QLineEdit* IndexFilter = nullptr;
  QListWidget* Index = nullptr;
  QTextBrowser* Browser = nullptr;

 protected:
  // Opens inside the screen's available area, shrunk to fit it.
  void showEvent(QShowEvent* event) override;

 private:
  void LoadContentsAndIndex(const QString& folder);
  void FilterIndex(const QString& text);

  QString shownFile_;
};

}  // namespace zelv
