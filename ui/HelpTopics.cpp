#include "HelpTopics.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTabWidget>
#include <QWidget>

namespace zarvik::ui {

namespace {

QString& ManualFolderOverride() {
  static QString folder;
  return folder;
}

// Nesting depth of `w` below `top` (0 for top itself).
int DepthBelow(const QWidget* w, const QWidget* top) {
  int depth = 0;
  for (const QWidget* p = w; p != nullptr && p != top; p = p->parentWidget()) ++depth;
  return depth;
}

}  // namespace

const std::vector<THelpChapter>& HelpChapters() {
  static const std::vector<THelpChapter> chapters = {
      {"index.html", "Содержание"},
      {"install.html", "Установка и запуск"},
      {"connect.html", "Окно, подключение и боковая панель"},
      {"ports.html", "Последовательные и сетевые порты"},
      {"config.html", "Настройки ККМ"},
      {"goods.html", "Товары и услуги"},
      {"journal.html", "Электронный журнал"},
      {"journal-data.html", "Журнал как данные"},
      {"shop.html", "Магазин"},
      {"settings.html", "Настройки конфигуратора"},
      {"profiles.html", "Профили и резервные копии"},
      {"line-monitor.html", "Монитор линии"},
      {"cli.html", "Командная строка и zarvikctl"},
      {"config-files.html", "Настройки в тексте и парк ККМ"},
      {"chains.html", "Сети магазинов: Ansible"},
      {"messages.html", "Сообщения и что делать"},
  };
  return chapters;
}

QString HelpTopicForName(const QString& objectName) {
  // Pages, the tabs inside them and the panels of the main window.
  static const QHash<QString, QString> topics = {
      // Page 1 and its tabs.
      {"TabSheetConfig", "config.html"},
      {"TabSheetOptions", "config.html#options"},
      {"TabSheetDep", "config.html#departments"},
      {"TabSheetCheck", "config.html#receipt"},
      {"TabSheetTax", "config.html#taxes"},
      {"TabSheetOperators", "config.html#operators"},
      {"TabSheetTxt", "config.html#text"},
      // Page 2.
      {"TabSheetGood", "goods.html"},
      // Page 3: the text and the tables with their tabs.
      {"TabSheetMagazine", "journal.html"},
      {"SplitterMagazine", "journal.html#text"},
      {"JournalTables", "journal-data.html"},
      {"GridMagazineReceipts", "journal-data.html#receipts"},
      {"GridMagazineLines", "journal-data.html#operations"},
      {"JournalSummary", "journal-data.html#summary"},
      {"ListMagazineFindings", "journal-data.html#check"},
      // Page 4.
      {"TabSheetConfigSys", "settings.html"},
      // Page 5, the shop's registers.
      {"TabSheetShop", "shop.html"},
      // Panels around the pages.
      {"PanelMenu", "connect.html#side-panel"},
      {"LineMonitor", "line-monitor.html"},
  };
  return topics.value(objectName);
}

QString HelpTopicForPage(QWidget* page) {
  if (page == nullptr) return QString::fromLatin1(kHelpIndexFile);
  QString topic = HelpTopicForName(page->objectName());
  int best = -1;
  for (QTabWidget* tabs : page->findChildren<QTabWidget*>()) {
    if (!tabs->isVisibleTo(page)) continue;  // inside a tab not on display
    QWidget* current = tabs->currentWidget();
    if (current == nullptr) continue;
    const QString own = HelpTopicForName(current->objectName());
    const int depth = DepthBelow(current, page);
    if (!own.isEmpty() && depth > best) {
      best = depth;
      topic = own;
    }
  }
  return topic.isEmpty() ? QString::fromLatin1(kHelpIndexFile) : topic;
}

QString HelpTopicFor(QWidget* focus, QWidget* page) {
  static const QStringList panels = {"LineMonitor"};
  for (QWidget* w = focus; w != nullptr; w = w->parentWidget())
    if (panels.contains(w->objectName())) return HelpTopicForName(w->objectName());
  return HelpTopicForPage(page);
}

QStringList ManualFolderCandidates() {
  QStringList folders;
  if (!ManualFolderOverride().isEmpty()) folders << ManualFolderOverride();
  const QString bin = QCoreApplication::applicationDirPath();
  folders << bin + QStringLiteral("/manual") << bin + QStringLiteral("/../manual")
          << bin + QStringLiteral("/../share/doc/zarvikconfig/manual")
          << QStringLiteral("/usr/share/doc/zarvikconfig/manual");
  for (QString& f : folders) f = QDir::cleanPath(f);
  folders.removeDuplicates();
  return folders;
}

QString ManualFolder() {
  for (const QString& folder : ManualFolderCandidates())
    if (QFileInfo(folder + QLatin1Char('/') + QLatin1String(kHelpIndexFile)).isFile()) return folder;
  return {};
}

void SetManualFolder(const QString& folder) { ManualFolderOverride() = folder; }

}  // namespace zarvik::ui
