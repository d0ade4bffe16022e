#include "HelpWindow.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QSplitter>
#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "HelpTopics.h"

namespace zarvik::ui {

namespace {

constexpr int kDefaultWidth = 980;
constexpr int kDefaultHeight = 680;
constexpr int kContentsWidth = 290;

QToolButton* Button(QWidget* parent, const char* name, const char* caption, const char* accessible,
                    const QKeySequence& key) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(QString::fromUtf8(caption));
  b->setAccessibleName(QString::fromUtf8(accessible));
  if (!key.isEmpty()) {
    b->setShortcut(key);
    b->setToolTip(QString::fromUtf8(accessible) + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) +
                  QLatin1Char(')'));
  }
  b->setFocusPolicy(Qt::StrongFocus);
  b->setAutoRaise(true);
  return b;
}

// The chapter file of a topic ("config.html#taxes" -> "config.html").
QString FileOf(const QString& topic) { return topic.section(QLatin1Char('#'), 0, 0); }

}  // namespace

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("fmHelp");
  setWindowTitle(QString::fromUtf8(kHelpWindowTitle) + QStringLiteral(" — ZarvikConfig"));
  setAccessibleName(QString::fromUtf8(kHelpWindowTitle));
  resize(kDefaultWidth, kDefaultHeight);

  auto* outer = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  back_ = Button(this, "bHelpBack", "Назад", "Назад", QKeySequence::Back);
  forward_ = Button(this, "bHelpForward", "Вперёд", "Вперёд", QKeySequence::Forward);
  home_ = Button(this, "bHelpContents", "Содержание", "Содержание руководства", QKeySequence(Qt::ALT | Qt::Key_Home));
  auto* findLabel = new QLabel(QString::fromUtf8("&Найти:"), this);
  findLabel->setObjectName("lHelpFind");
  findField_ = new QLineEdit(this);
  findField_->setObjectName("eHelpFind");
  findField_->setAccessibleName(QString::fromUtf8("Найти в руководстве"));
  findField_->setPlaceholderText(QString::fromUtf8("текст для поиска (Ctrl+F)"));
  findField_->setClearButtonEnabled(true);
  findLabel->setBuddy(findField_);
  findNext_ = Button(this, "bHelpFindNext", "Следующее", "Найти следующее", QKeySequence::FindNext);
  findPrevious_ = Button(this, "bHelpFindPrevious", "Предыдущее", "Найти предыдущее", QKeySequence::FindPrevious);
  findResult_ = new QLabel(this);
  findResult_->setObjectName("lHelpFindResult");
  findResult_->setAccessibleName(QString::fromUtf8("Результат поиска"));
  for (QWidget* w : std::initializer_list<QWidget*>{back_, forward_, home_, findLabel, findField_, findNext_,
                                                    findPrevious_, findResult_})
    bar->addWidget(w);
  bar->addStretch(1);
  outer->addLayout(bar);

  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName("SplitterHelp");
  contents_ = new QTreeWidget(split);
  contents_->setObjectName("tvHelpContents");
  contents_->setAccessibleName(QString::fromUtf8("Содержание руководства"));
  contents_->setHeaderHidden(true);
  contents_->setRootIsDecorated(false);
  browser_ = new QTextBrowser(split);
  browser_->setObjectName("HelpBrowser");
  browser_->setAccessibleName(QString::fromUtf8("Текст руководства"));
  browser_->setOpenExternalLinks(true);
  split->addWidget(contents_);
  split->addWidget(browser_);
  split->setStretchFactor(1, 1);
  split->setSizes({kContentsWidth, kDefaultWidth - kContentsWidth});
  outer->addWidget(split, 1);
  FillContents();

  connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
  connect(home_, &QToolButton::clicked, this, [this] { OpenChapter(QString::fromLatin1(kHelpIndexFile)); });
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] { SelectContentsItem(); });
  connect(contents_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { OpenChapter(item->data(0, Qt::UserRole).toString()); });
  connect(contents_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { OpenChapter(item->data(0, Qt::UserRole).toString()); });
  connect(findField_, &QLineEdit::returnPressed, this, [this] { Find(findField_->text()); });
  connect(findNext_, &QToolButton::clicked, this, [this] { Find(findField_->text()); });
  connect(findPrevious_, &QToolButton::clicked, this, [this] { Find(findField_->text(), true); });
  connect(findField_, &QLineEdit::textChanged, findResult_, &QLabel::clear);
  auto* focusFind = new QShortcut(QKeySequence::Find, this);
  connect(focusFind, &QShortcut::activated, this, [this] {
    findField_->setFocus(Qt::ShortcutFocusReason);
    findField_->selectAll();
  });
  auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(close, &QShortcut::activated, this, &QWidget::close);
  setTabOrder(back_, forward_);
  setTabOrder(forward_, home_);
  setTabOrder(home_, findField_);
  setTabOrder(findField_, findNext_);
  setTabOrder(findNext_, findPrevious_);
  setTabOrder(findPrevious_, contents_);
  setTabOrder(contents_, browser_);
  UpdateButtons();
}

void THelpWindow::FillContents() {
  for (const THelpChapter& c : HelpChapters()) {
    auto* item = new QTreeWidgetItem(contents_, {QString::fromUtf8(c.title)});
    item->setData(0, Qt::UserRole, QString::fromLatin1(c.file));
  }
}

bool THelpWindow::ShowTopic(const QString& folder, const QString& topic) {
  folder_ = folder;
  const QString file = FileOf(topic);
  if (folder.isEmpty() || !QFileInfo(folder + QLatin1Char('/') + file).isFile()) {
    browser_->setHtml(QStringLiteral("<p>") + QString::fromUtf8(kManualMissingText).toHtmlEscaped() +
                      QStringLiteral("</p>"));
    return false;
  }
  QUrl url = QUrl::fromLocalFile(folder + QLatin1Char('/') + file);
  const QString anchor = topic.section(QLatin1Char('#'), 1);
  if (!anchor.isEmpty()) url.setFragment(anchor);
  browser_->setSource(url);
  if (!anchor.isEmpty()) ScrollToPlace(anchor);
  SelectContentsItem();
  return true;
}

void THelpWindow::ScrollToPlace(const QString& anchor) {
  // The place's anchor stands just before its heading; the heading (with its
  // margin) goes to the top of the view, not the anchor's line within it.
  QTextDocument* doc = browser_->document();
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    bool here = false;
    for (auto it = block.begin(); !it.atEnd() && !here; ++it)
      here = it.fragment().charFormat().anchorNames().contains(anchor);
    if (!here) continue;
    if (block.text().trimmed().isEmpty() && block.next().isValid()) block = block.next();
    const QRectF rect = doc->documentLayout()->blockBoundingRect(block);
    browser_->verticalScrollBar()->setValue(static_cast<int>(rect.top()));
    return;
  }
}

void THelpWindow::OpenChapter(const QString& file) {
  if (file.isEmpty() || folder_.isEmpty()) return;
  browser_->setSource(QUrl::fromLocalFile(folder_ + QLatin1Char('/') + file));
}

QString THelpWindow::CurrentTopic() const {
  const QUrl url = browser_->source();
  if (url.isEmpty()) return {};
  QString topic = QFileInfo(url.toLocalFile()).fileName();
  if (url.hasFragment()) topic += QLatin1Char('#') + url.fragment();
  return topic;
}

void THelpWindow::SelectContentsItem() {
  const QString file = FileOf(CurrentTopic());
  for (int i = 0; i < contents_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = contents_->topLevelItem(i);
    if (item->data(0, Qt::UserRole).toString() == file) {
      const QSignalBlocker block(contents_);
      contents_->setCurrentItem(item);
      break;
    }
  }
  UpdateButtons();
}

void THelpWindow::UpdateButtons() {
  back_->setEnabled(browser_->isBackwardAvailable());
  forward_->setEnabled(browser_->isForwardAvailable());
}

bool THelpWindow::Find(const QString& text, bool backward) {
  findResult_->clear();
  if (text.isEmpty()) return false;
  const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  if (browser_->find(text, flags)) return true;
  // Not after the cursor in this chapter: the following chapters (or, going
  // backward, the ones before), round to this one, whose start is searched last.
  const std::vector<THelpChapter>& chapters = HelpChapters();
  const int n = static_cast<int>(chapters.size());
  const QString current = FileOf(CurrentTopic());
  int at = 0;
  for (int i = 0; i < n; ++i)
    if (QString::fromLatin1(chapters[static_cast<std::size_t>(i)].file) == current) at = i;
  for (int step = 1; step <= n && !folder_.isEmpty(); ++step) {
    const int i = ((backward ? at - step : at + step) % n + n) % n;
    const QString file = QString::fromLatin1(chapters[static_cast<std::size_t>(i)].file);
    QFile f(folder_ + QLatin1Char('/') + file);
    if (!f.open(QIODevice::ReadOnly)) continue;
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(f.readAll()));
    if (doc.find(text).isNull()) continue;
    if (file != current) browser_->setSource(QUrl::fromLocalFile(f.fileName()));
    QTextCursor start(browser_->document());
    if (backward) start.movePosition(QTextCursor::End);
    browser_->setTextCursor(start);
    if (browser_->find(text, flags)) return true;
  }
  findResult_->setText(QString::fromUtf8(kHelpNotFoundText));
  return false;
}

}  // namespace zarvik::ui
