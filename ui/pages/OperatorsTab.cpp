#include "OperatorsTab.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "ConfigTabSupport.h"
#include "DBGridEh.h"
#include "MainSignals.h"
#include "SpeedButtonEx.h"
#include "model/U_kkms.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

// A register with four operators refuses operator five.
constexpr int kFourOperatorsEnd = 5;
constexpr int kNumberChars = 3;
constexpr int kNameChars = 21;
constexpr int kPositionChars = 19;
const QColor kWarningColor(0xFF, 0x00, 0x00);

}  // namespace

TOperatorsTab::TOperatorsTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetOperators");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  buttons->addWidget(ActionButton(host_, this, "bLoadOperators", "OperatorLoad"));
  buttons->addWidget(ActionButton(host_, this, "bSaveOperators", "OperatorSave"));
  buttons->addStretch(1);
  layout->addLayout(buttons);

  lWarningCHPM_ =
      new QLabel(QString::fromUtf8("Данная ККМ не поддерживает программирование операторов"), this);
  lWarningCHPM_->setObjectName("lWarningCHPM");
  QFont bold = lWarningCHPM_->font();
  bold.setBold(true);
  lWarningCHPM_->setFont(bold);
  QPalette pal = lWarningCHPM_->palette();
  pal.setColor(QPalette::WindowText, kWarningColor);
  lWarningCHPM_->setPalette(pal);
  lWarningCHPM_->hide();
  layout->addWidget(lWarningCHPM_);

  grid_ = new TDBGridEh(host_.Bd().tmOperators,
                        {ReadOnlyColumn("Num", kNumberChars), Column("operator", {false, kNameChars}),
                         Column("dolgn", {false, kPositionChars})},
                        this);
  grid_->setObjectName("DBGridEh2");
  grid_->setAccessibleName(QString::fromUtf8(kCaption));
  grid_->verticalHeader()->hide();
  grid_->horizontalHeader()->setStretchLastSection(false);
  SetGridFont(*grid_, FixedPitchFont(grid_->font()));
  grid_->horizontalHeader()->setFont(OwnFont(font()));
  grid_->FitColumns();
  FitGridToRows(*grid_, kOperatorCount);
  layout->addWidget(grid_, 0, Qt::AlignLeft);
  layout->addStretch(1);

  connect(&host_.Signals(), &TMainSignals::registerAdapted, this, &TOperatorsTab::FollowOperatorCount);
  connect(host_.Action("OperatorLoad"), &QAction::triggered, this, &TOperatorsTab::LoadOperators);
  connect(host_.Action("OperatorSave"), &QAction::triggered, this, &TOperatorsTab::SaveOperators);
  // Until a register says otherwise, operators may be read and written.
  host_.SetActionEnabled("OperatorLoad", true);
  host_.SetActionEnabled("OperatorSave", true);
}

void TOperatorsTab::FollowOperatorCount(int count) {
  lWarningCHPM_->setVisible(count == 0);
}

void TOperatorsTab::LoadOperators() {
  if (host_.RegisterBusy()) return;
  grid_->PostEditor();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kOperatorsWait, [this] { ReadOperators(); });
}

void TOperatorsTab::ReadOperators() {
  TBD& bd = host_.Bd();
  TProtocolKKM& protocol = host_.Protocol();
  bd.mtProfile.First();
  int read = 0;
  for (int j = 1; j <= kOperatorCount; ++j) {
    if (!protocol.GetOperatorName(j)) {
      if (j == kFourOperatorsEnd) break;
      Error("не удалось получить информацию о операторах", true, true, true);
      return;
    }
    if (!protocol.GetPosition(j)) {
      if (j == kFourOperatorsEnd) break;
      Error("не удалось получить информацию о должностях", true, true, true);
      return;
    }
    ++read;
  }
  const TKKMInfo& info = host_.Kkm().Info();
  TWorkTable& t = bd.tmOperators;
  t.DisableControls();
  ClearRows(t);
  for (int k = 1; k <= read; ++k) {
    t.Append();
    t.SetText("operator", info.operatorNames[static_cast<std::size_t>(k - 1)]);
    t.SetText("dolgn", info.positions[static_cast<std::size_t>(k - 1)]);
    t.Post();
  }
  t.First();
  t.EnableControls();
  Mess("Загружены операторы и должности", false, true, true);
  HideWait();
}

void TOperatorsTab::SaveOperators() {
  if (host_.RegisterBusy()) return;
  grid_->PostEditor();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kOperatorsWait, [this] { WriteOperators(); });
}

void TOperatorsTab::WriteOperators() {
  TWorkTable& t = host_.Bd().tmOperators;
  TProtocolKKM& protocol = host_.Protocol();
  TKKMInfo& info = host_.Kkm().Info();
  const int keep = t.RecNo();
  t.First();
  Mess("Начало: операторы", false, true, true);
  int count = 0;
  while (!t.Eof() && t.RecordCount() > 0 && count < kOperatorCount) {
    info.operatorNames[static_cast<std::size_t>(count)] = t.Text("operator");
    info.positions[static_cast<std::size_t>(count)] = t.Text("dolgn");
    t.Next();
    ++count;
  }
  if (keep > 0) t.SetRecNo(keep);
  const auto written = [](int i) { return "Записано только " + std::to_string(i - 1) + " стр."; };
  for (int i = 1; i <= count; ++i) {
    if (!protocol.SetOperatorName(i)) {
      Error(i == 1 ? std::string("не удалось записать информацию о операторах") : written(i), true, true,
            true);
      return;
    }
    if (!protocol.SetPosition(i)) {
      Error(i == 1 ? std::string("не удалось записать информацию о должностях") : written(i), true, true,
            true);
      return;
    }
  }
  Mess("Записаны операторы и должности", false, true, true);
  HideWait();
}

}  // namespace zarvik::ui
