#include "OperatorsTab.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "ConfigTabSupport.h"
#include "DBGridEh.h"
#include "DiffMarks.h"
#include "MainSignals.h"
#include "SpeedButtonEx.h"
#include "WriteGuard.h"
#include "model/RegisterText.h"
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
  TWorkTableModel& model = grid_->Model();
  const int numColumn = model.ColumnOf("Num");
  const int nameColumn = model.ColumnOf("operator");
  const int positionColumn = model.ColumnOf("dolgn");
  model.cellStyle = [this, numColumn, nameColumn, positionColumn](int row, int column) {
    TCellStyle s;
    const TWorkTable& t = host_.Bd().tmOperators;
    if (column == numColumn && RowDiffers(host_, t, TDiffTable::Operators, row)) MarkDifference(s);
    if (column == nameColumn || column == positionColumn)
      MarkUnprintable(s, t.ViewText(row, t.FieldIndex(column == nameColumn ? "operator" : "dolgn")));
    return s;
  };
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
  // The register's values are read before the rows fill the register model.
  // An empty table sends nothing and needs no backup.
  TWriteGuard guard(host_, stOperators);
  if (t.RecordCount() > 0 && !guard.Prepare()) return;
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
  const TRegisterSnapshot* snapshot = guard.Snapshot();
  const bool onlyDifferences = guard.OnlyDifferences() && snapshot->operators.has_value() && count > 0;
  // With "только отличия" a name and a position are each sent only when they
  // differ from the register's (an operator the register did not report
  // differs).
  const auto differs = [&](int i, bool position) {
    if (!onlyDifferences) return true;
    const auto k = static_cast<std::size_t>(i - 1);
    if (k >= snapshot->operators->size()) return true;
    const TOperatorSnapshot& o = (*snapshot->operators)[k];
    return position ? !SameRegisterText(info.positions[k], o.position)
                    : !SameRegisterText(info.operatorNames[k], o.name);
  };
  int toSend = 0;
  for (int i = 1; i <= count; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    for (const bool position : {false, true}) {
      if (!differs(i, position)) continue;
      ++toSend;
      const std::string what = (position ? "Должность " : "Оператор ") + std::to_string(i);
      if (const std::string w =
              UnprintableWarning(what, position ? info.positions[k] : info.operatorNames[k]);
          !w.empty())
        zarvik::Warning(w + ", они не будут записаны", false, true, true);
    }
  }
  if (onlyDifferences && toSend == 0) {
    Mess("Операторы не отличаются от ККМ, запись не нужна", false, true, true);
    HideWait();
    return;
  }
  const auto written = [](int i) { return "Записано только " + std::to_string(i - 1) + " стр."; };
  for (int i = 1; i <= count; ++i) {
    if (differs(i, false) && !protocol.SetOperatorName(i)) {
      Error(i == 1 ? std::string("не удалось записать информацию о операторах") : written(i), true, true,
            true);
      return;
    }
    if (differs(i, true) && !protocol.SetPosition(i)) {
      Error(i == 1 ? std::string("не удалось записать информацию о должностях") : written(i), true, true,
            true);
      return;
    }
  }
  Mess("Записаны операторы и должности", false, true, true);
  HideWait();
}

}  // namespace zarvik::ui
