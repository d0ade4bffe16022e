#include "TextTab.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ConfigTabSupport.h"
#include "ReceiptTab.h"
#include "SpeedButtonEx.h"
#include "model/RegisterText.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"

namespace zarvik::ui {

namespace {

constexpr int kBrightnessLevels = 6;  // "0" to "5"
constexpr double kTextPointScale = 1.5;

}  // namespace

TTextTab::TTextTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetTxt");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);

  auto* controls = new QHBoxLayout;
  controls->setSpacing(6);
  auto* label30 = new QLabel(QString::fromUtf8("Шрифт"), this);
  label30->setObjectName("Label30");
  cbFontText = new QComboBox(this);
  cbFontText->setObjectName("cbFontText");
  cbFontText->setAccessibleName(QString::fromUtf8("Шрифт"));
  cbFontText->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  label30->setBuddy(cbFontText);
  auto* label31 = new QLabel(QString::fromUtf8("Яркость"), this);
  label31->setObjectName("Label31");
  cbLiteLetter = new QComboBox(this);
  cbLiteLetter->setObjectName("cbLiteLetter");
  cbLiteLetter->setAccessibleName(QString::fromUtf8("Яркость"));
  for (int i = 0; i < kBrightnessLevels; ++i) cbLiteLetter->addItem(QString::number(i));
  cbLiteLetter->setCurrentIndex(0);
  label31->setBuddy(cbLiteLetter);
  controls->addWidget(label30);
  controls->addWidget(cbFontText);
  controls->addSpacing(12);
  controls->addWidget(label31);
  controls->addWidget(cbLiteLetter);
  controls->addSpacing(12);
  bPrintText = new TSpeedButtonEx(this);
  bPrintText->setObjectName("bPrintText");
  bPrintText->setText(QString::fromUtf8("Печать текста"));
  BClearText = new TSpeedButtonEx(this);
  BClearText->setObjectName("BClearText");
  BClearText->setText(QString::fromUtf8("Очистить"));
  controls->addWidget(bPrintText);
  controls->addWidget(BClearText);
  controls->addStretch(1);
  layout->addLayout(controls);

  mText = new QPlainTextEdit(this);
  mText->setObjectName("mText");
  mText->setAccessibleName(QString::fromUtf8("Текст"));
  mText->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont f = FixedPitchFont(font());
  f.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Courier"), f.family()});
  f.setBold(true);
  f.setPointSizeF(font().pointSizeF() * kTextPointScale);
  mText->setFont(f);
  layout->addWidget(mText, 1);

  SetFontNames(AllPrintFontNames());
  connect(bPrintText, &QToolButton::clicked, this, &TTextTab::bPrintTextClick);
  connect(BClearText, &QToolButton::clicked, this, &TTextTab::BClearTextClick);
}

void TTextTab::SetFontNames(const QStringList& names) {
  cbFontText->clear();
  cbFontText->addItems(names);
  cbFontText->setCurrentIndex(names.isEmpty() ? -1 : 0);
}

QStringList TTextTab::TextLines() const {
  QString text = mText->toPlainText();
  if (text.isEmpty()) return {};
  // A line break at the very end starts no further line.
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text.split(QLatin1Char('\n'));
}

void TTextTab::bPrintTextClick() {
  // The window stays enabled while printing, so a second press must not
  // start another exchange.
  if (host_.RegisterBusy()) return;
  ShowWait(kPrintTextWait);
  bPrintText->setEnabled(false);
  const TScopeExit enable([this] { bPrintText->setEnabled(true); });
  host_.RunTransfer([this] {
    if (!host_.EnsureConnected()) return;
    PrintLines();
  });
}

void TTextTab::PrintLines() {
  const int font = std::max(cbFontText->currentIndex(), 0);
  const int brightness = std::max(cbLiteLetter->currentIndex(), 0);
  const QStringList lines = TextLines();
  for (int n = 0; n < lines.size(); ++n) {
    const std::string line = lines[n].toStdString();
    if (const std::string w = PrintedLineWarning(n + 1, line); !w.empty()) Warning(w, false, true, true);
    if (!host_.Protocol().PrintLine(font, brightness, line)) {
      Error("не удалось напечатать текст", true, true, true);
      return;
    }
  }
  Mess("напечатано", false, true, true);
  HideWait();
}

void TTextTab::BClearTextClick() {
  mText->clear();
}

}  // namespace zarvik::ui
