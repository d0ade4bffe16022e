#include "ConfigSysPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include "ScannerPanel.h"
#include "WebLabel.h"
#include "store/RegisterBackup.h"

namespace zarvik::ui {

namespace {

struct THistoryEntry {
  const char* date;
  const char* version;
  std::initializer_list<const char*> changes;
};

constexpr int kHistoryRuleLength = 76;

QLabel* Heading(const char* text, const char* name, QWidget* parent) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(name);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

QPlainTextEdit* Memo(const QString& text, const char* name, const char* accessible, QWidget* parent) {
  auto* m = new QPlainTextEdit(parent);
  m->setObjectName(name);
  m->setReadOnly(true);
  m->setPlainText(text);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setAccessibleName(QString::fromUtf8(accessible));
  return m;
}

}  // namespace

void TConfigSysPage::ShowBackupSettings() {
  const TBackupSettings& b = host_.WriteSafety().backup;
  cbBackupBeforeWrite_->setChecked(b.enabled);
  backupNote_->setText(
      QString::fromUtf8("Перед каждой записью настроек или товаров программа считывает из ККМ то, что "
                        "будет перезаписано: настройки записываемых таблиц, записываемые товары (если их "
                        "не больше 50) или всю базу товаров. Это занимает время: при 9600 бод около "
                        "0,14 с на отдел, строку чека, имя или должность оператора, 0,23 с на товар, "
                        "0,09 с на товар при чтении всей базы. "
                        "Настройки сохраняются в списке настроек под именем «Авто дата время», товары - "
                        "файлом DBF в папке bd/backup. Для каждой ККМ хранятся последние %1 копий "
                        "каждого вида (ZarvikConfig.ini, [Backup] KEEP).")
          .arg(b.keep));
}

QString TConfigSysPage::HistoryText() {
  static const THistoryEntry entries[] = {
      {"10.12.2026",
       "2.092",
       {"- главное окно со страницами настроек, товаров, журнала и настроек конфигуратора",
        "- подключение к ККМ, опознание модели, чтение опций", "- профили настроек в базе \"bd\"",
        "- работа с имитатором ККМ zarvik-sim без оборудования"}},
      {"01.11.2026",
       "2.091",
       {"- протокол обмена с ККМ, потоковое чтение товаров и журнала",
        "- программа командной строки zarvikctl", "- обмен товарами через файлы DBF и CSV"}},
  };
  QString text;
  for (const THistoryEntry& e : entries) {
    text += QString::fromUtf8(e.date) + " - ZarvikConfig " + QString::fromUtf8(e.version) + "\n";
    for (const char* c : e.changes) text += QString::fromUtf8(c) + "\n";
    text += QString(kHistoryRuleLength, QLatin1Char('*')) + "\n";
  }
  return text;
}

TConfigSysPage::TConfigSysPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetConfigSys");
  auto* layout = new QVBoxLayout(this);
  scanner_ = new TScannerPanel(host, this);
  layout->addWidget(scanner_);

  // The backup before writes.
  auto* backup = new QFrame(this);
  backup->setObjectName("PanelBackup");
  backup->setFrameShape(QFrame::StyledPanel);
  auto* backupLayout = new QVBoxLayout(backup);
  cbBackupBeforeWrite_ = new QCheckBox(QString::fromUtf8(kBackupBoxCaption), backup);
  cbBackupBeforeWrite_->setObjectName("cbBackupBeforeWrite");
  cbBackupBeforeWrite_->setAccessibleName(QString::fromUtf8(kBackupBoxCaption));
  QFont bold = cbBackupBeforeWrite_->font();
  bold.setBold(true);
  cbBackupBeforeWrite_->setFont(bold);
  connect(cbBackupBeforeWrite_, &QCheckBox::toggled, this,
          [this](bool on) { host_.WriteSafety().backup.enabled = on; });
  backupLayout->addWidget(cbBackupBeforeWrite_);
  backupNote_ = new QLabel(backup);
  backupNote_->setObjectName("lBackupNote");
  backupNote_->setWordWrap(true);
  backupLayout->addWidget(backupNote_);
  layout->addWidget(backup);
  ShowBackupSettings();

  auto* panel2 = new QWidget(this);
  panel2->setObjectName("Panel2");
  auto* grid = new QGridLayout(panel2);
  QLabel* label20 = Heading("Конфигуратор ККМ(ЧПМ) Зарвик", "Label20", panel2);
  label20->setAutoFillBackground(true);
  QPalette pal = label20->palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Highlight));
  pal.setColor(QPalette::WindowText, Qt::black);
  label20->setPalette(pal);
  label20->setMargin(4);
  grid->addWidget(label20, 0, 0);
  auto* label26 = new QLabel(QString::fromUtf8("Кассовые аппараты и принтеры Зарвик: ККМ и ЧПМ"), panel2);
  label26->setObjectName("Label26");
  grid->addWidget(label26, 1, 0);
  webLabel_ = new TWebLabel(panel2);
  webLabel_->setObjectName("WebLabel");
  webLabel_->setText(QString::fromUtf8(kSupportAddress));
  webLabel_->setAccessibleName(QString::fromUtf8(kSupportAddress));
  QPalette link = webLabel_->palette();
  link.setColor(QPalette::WindowText, QColor(0, 0, 128));
  webLabel_->setPalette(link);
  webLabel_->SetUrl(QUrl(QString::fromUtf8("mailto:") + QString::fromUtf8(kSupportAddress) +
                         QString::fromUtf8(kSupportSubject)));
  grid->addWidget(webLabel_, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
  grid->addWidget(Heading("История", "Label28", panel2), 2, 0, 1, 2);
  grid->addWidget(Memo(HistoryText(), "Memo1", "История", panel2), 3, 0, 1, 2);
  grid->addWidget(Heading("Благодарности за тестирование и содействие", "Label29", panel2), 4, 0, 1, 2);
  grid->addWidget(Memo(QString::fromUtf8("Спасибо сервисным инженерам, проверявшим конфигуратор на "
                                         "кассовых аппаратах в магазинах, и всем, кто присылал замечания."),
                       "Memo2", "Благодарности за тестирование и содействие", panel2),
                  5, 0, 1, 2);
  grid->setRowStretch(3, 3);
  grid->setRowStretch(5, 1);
  layout->addWidget(panel2, 1);
}

}  // namespace zarvik::ui
