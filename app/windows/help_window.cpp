#include "app/windows/help_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QShowEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/windows/screen_fit.h"

namespace zelv {
namespace {

const QString kHelpPath = QStringLiteral("ZELVHelp/ZELV_01.html");
constexpr int kUrlRole = Qt::UserRole;

QString ReadText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

QString PlainText(QString html) {
  html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
  return html.simplified();
}

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Справка ZELV"));
  resize(920, 640);

  auto* splitter = new QSplitter(this);
  Tabs = new QTabWidget(splitter);
  Tabs->setObjectName(QStringLiteral("HelpTabs"));

  Contents = new QTreeWidget;
  Contents->setObjectName(QStringLiteral("HelpContents"));
  Contents->setHeaderHidden(true);
  Tabs->addTab(Contents, QStringLiteral("Содержание"));

  auto* indexPage = new QWidget;
  auto* indexLayout = new QVBoxLayout(indexPage);
  IndexFilter = new QLineEdit(indexPage);
  IndexFilter->setObjectName(QStringLiteral("HelpIndexFilter"));
  IndexFilter->setPlaceholderText(QStringLiteral("Введите первые буквы слова"));
  Index = new QListWidget(indexPage);
  Index->setObjectName(QStringLiteral("HelpIndex"));
  indexLayout->addWidget(IndexFilter);
  indexLayout->addWidget(Index);
  Tabs->addTab(indexPage, QStringLiteral("Указатель"));

  Browser = new QTextBrowser(splitter);
  Browser->setObjectName(QStringLiteral("HelpBrowser"));
  Browser->setOpenExternalLinks(true);
  splitter->addWidget(Tabs);
  splitter->addWidget(Browser);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({310, 610});

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(splitter);

  connect(Contents, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { Browser->setSource(item->data(0, kUrlRole).toUrl()); });
  connect(Contents, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { Browser->setSource(item->data(0, kUrlRole).toUrl()); });
  auto openEntry = [this](QListWidgetItem* item) {
    Browser->setSource(item->data(kUrlRole).toUrl());
  };
  connect(Index, &QListWidget::itemActivated, this, openEntry);
  connect(Index, &QListWidget::itemClicked, this, openEntry);
  connect(IndexFilter, &QLineEdit::textChanged, this, &HelpWindow::FilterIndex);
  connect(IndexFilter, &QLineEdit::returnPressed, this, [this, openEntry] {
    for (int i = 0; i < Index->count(); ++i)
      if (!Index->item(i)->isHidden()) return openEntry(Index->item(i));
  });
}

QStringList HelpWindow::HelpFileCandidates() {
  QStringList candidates;
  candidates << QDir::current().absoluteFilePath(kHelpPath);
  if (QCoreApplication::instance() != nullptr)
    candidates << QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                  QStringLiteral("/../share/zelv/") + kHelpPath);
#ifdef ZELV_RESOURCES_DIR
  candidates << QDir::cleanPath(QStringLiteral(ZELV_RESOURCES_DIR "/") + kHelpPath);
#endif
  return candidates;
}

QString HelpWindow::FindHelpFile() {
  for (const QString& candidate : HelpFileCandidates())
    if (QFileInfo(candidate).isFile()) return candidate;
  return QString();
}

void HelpWindow::OpenContents() {
  Contents->clear();
  Index->clear();
  IndexFilter->clear();
  shownFile_ = FindHelpFile();
  if (shownFile_.isEmpty()) {
    QString places;
    for (const QString& candidate : HelpFileCandidates())
      places += QStringLiteral("<li>") + candidate.toHtmlEscaped() + QStringLiteral("</li>");
    Browser->setHtml(QStringLiteral("<h3>Справка недоступна</h3><p>Файл справки ") + kHelpPath +
                     QStringLiteral(" не найден. Он искался здесь:</p><ul>") + places +
                     QStringLiteral("</ul>"));
    return;
  }
  LoadContentsAndIndex(QFileInfo(shownFile_).absolutePath());
  Browser->setSource(QUrl::fromLocalFile(shownFile_));
  Tabs->setCurrentIndex(0);
}

// The contents list every page of the folder by its title, with its second-level headings below
// it; the index holds the keywords each page declares and those headings, sorted.
void HelpWindow::LoadContentsAndIndex(const QString& folder) {
  static const QRegularExpression titlePattern(QStringLiteral("<title>(.*?)</title>"),
                                               QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression headingPattern(
      QStringLiteral("<h2[^>]*id=\"([^\"]+)\"[^>]*>(.*?)</h2>"),
      QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression keywordsPattern(
      QStringLiteral("<meta\\s+name=\"keywords\"\\s+content=\"([^\"]*)\""));

  QStringList pages = QDir(folder).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
  std::vector<std::pair<QString, QUrl>> entries;
  for (const QString& page : pages) {
    const QString path = QDir(folder).absoluteFilePath(page);
    const QString html = ReadText(path);
    const QUrl pageUrl = QUrl::fromLocalFile(path);
    const QRegularExpressionMatch title = titlePattern.match(html);
    auto* pageItem = new QTreeWidgetItem(Contents);
    pageItem->setText(0, title.hasMatch() ? PlainText(title.captured(1)) : page);
    pageItem->setData(0, kUrlRole, pageUrl);
    for (auto it = headingPattern.globalMatch(html); it.hasNext();) {
      const QRegularExpressionMatch heading = it.next();
      QUrl url = pageUrl;
      url.setFragment(heading.captured(1));
      auto* item = new QTreeWidgetItem(pageItem);
      item->setText(0, PlainText(heading.captured(2)));
      item->setData(0, kUrlRole, url);
      entries.emplace_back(item->text(0), url);
    }
    const QRegularExpressionMatch keywords = keywordsPattern.match(html);
    if (keywords.hasMatch())
      for (const QString& keyword : keywords.captured(1).split(';', Qt::SkipEmptyParts))
        if (!keyword.trimmed().isEmpty()) entries.emplace_back(keyword.trimmed(), pageUrl);
  }
  Contents->expandAll();
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return QString::compare(a.first.toLower(), b.first.toLower()) < 0;
  });
  for (const auto& [text, url] : entries) {
    auto* item = new QListWidgetItem(text, Index);
    item->setData(kUrlRole, url);
  }
}

void HelpWindow::FilterIndex(const QString& text) {
  for (int i = 0; i < Index->count(); ++i)
    Index->item(i)->setHidden(!Index->item(i)->text().startsWith(text, Qt::CaseInsensitive));
}

void HelpWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitToScreen(this);
}

}  // namespace zelv
