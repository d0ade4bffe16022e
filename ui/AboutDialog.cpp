#include "AboutDialog.h"

#include <gensio/gensio_version.h>
#include <xlsxwriter.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QtGlobal>

#include "HelpTopics.h"
#include "shell/ProjectsVars.h"
#include "shell/UserFiles.h"

namespace zarvik::ui {

namespace {

constexpr int kAboutWidth = 620;
constexpr int kAboutHeight = 520;

// An absolute path for display (a portable run names files of its working
// folder relatively).
QString Absolute(const std::string& path) {
  return QDir::toNativeSeparators(QFileInfo(QString::fromStdString(path)).absoluteFilePath());
}

QString Row(const char* caption, const QString& value) {
  return QStringLiteral("<tr><td>") + QString::fromUtf8(caption) + QStringLiteral(":&nbsp;</td><td>") +
         value.toHtmlEscaped() + QStringLiteral("</td></tr>");
}

}  // namespace

QString TAboutDialog::Version() { return QStringLiteral(ZARVIK_VERSION); }

QString TAboutDialog::AboutHtml() {
  QString html;
  html += QStringLiteral("<h2>ZarvikConfig ") + Version() + QStringLiteral("</h2>");
  html += QString::fromUtf8("<p>Конфигуратор фискальных кассовых машин Зарвик: настройки, товары, "
                           "электронный журнал.</p>");
  html += QString::fromUtf8(
      "<p><b>Лицензия.</b> © 2026 разработчики ZarvikConfig. Программа передаётся пользователям ККМ "
      "Зарвик; все права принадлежат правообладателям. Её можно устанавливать и использовать, делать копии "
      "для себя и передавать другим неизменённые копии пакетов (полный текст: "
      "/usr/share/doc/zarvikconfig/copyright).</p>");
  const QString manual = ManualFolder();
  html += QString::fromUtf8("<p><b>Файлы пользователя</b></p><table>");
  html += Row("Версия", Version());
  html += Row("Настройки", Absolute(ProgramIniPath()));
  html += Row("Профили и резервные копии", Absolute(ProfileFolderPath()));
  html += Row("Журнал работы (лог)", Absolute(LogFilePath()));
  html += Row("Руководство", manual.isEmpty() ? QString::fromUtf8("не найдено") : QDir::toNativeSeparators(manual));
  html += QStringLiteral("</table>");
  html += QString::fromUtf8("<p><b>Библиотеки</b></p><table>");
  html += Row("Qt", QString::fromLatin1(qVersion()) + QString::fromUtf8(" (собрана с ") +
                        QStringLiteral(QT_VERSION_STR) + QLatin1Char(')'));
  html += Row("gensio", QStringLiteral(gensio_version_string));
  html += Row("libxlsxwriter", QStringLiteral(LXW_VERSION));
  html += QStringLiteral("</table>");
  return html;
}

TAboutDialog::TAboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgAbout");
  setWindowTitle(QString::fromUtf8(kAboutTitle));
  setAccessibleName(QString::fromUtf8(kAboutTitle));
  resize(kAboutWidth, kAboutHeight);
  auto* layout = new QVBoxLayout(this);
  text_ = new QTextBrowser(this);
  text_->setObjectName("AboutText");
  text_->setAccessibleName(QString::fromUtf8("Сведения о программе"));
  text_->setHtml(AboutHtml());
  layout->addWidget(text_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->setObjectName("AboutButtons");
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  buttons->button(QDialogButtonBox::Close)->setText(QString::fromUtf8("Закрыть"));
  buttons->button(QDialogButtonBox::Close)->setDefault(true);
}

}  // namespace zarvik::ui
