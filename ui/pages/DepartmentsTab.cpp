#include "DepartmentsTab.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
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
#include "shell/U_language.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

// Price limits are shown with kopecks once the departments were read.
constexpr const char* kLoadedPriceFormat = "#0.00";
constexpr const char* kTaxGroupLetters[] = {"", "A", "B", "C", "D", "E"};
constexpr int kNumberChars = 6;
constexpr int kPriceChars = 12;

}  // namespace

TDepartmentsTab::TDepartmentsTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetDep");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  buttons->addWidget(ActionButton(host_, this, "bDepLoadFromKKM", "aDepLoad"));
  buttons->addWidget(ActionButton(host_, this, "bSaveDepToKKM", "aDepSave"));
  buttons->addStretch(1);
  layout->addLayout(buttons);

  QStringList groups;
  for (const char* g : kTaxGroupLetters) groups << QString::fromLatin1(g);
  grid_ = new TDBGridEh(host_.Bd().mtDepatment,
                        {ReadOnlyColumn("Num", kNumberChars), Column("Status"), Column("Name"),
                         Column("NG", {false, 0, groups}), Column("Price", {false, kPriceChars})},
                        this);
  grid_->setObjectName("DBGridEhDep");
  grid_->setAccessibleName(QString::fromUtf8(kCaption));
  grid_->verticalHeader()->hide();
  grid_->horizontalHeader()->setStretchLastSection(false);
  TWorkTableModel& model = grid_->Model();
  const int numColumn = model.ColumnOf("Num");
  const int nameColumn = model.ColumnOf("Name");
  model.cellStyle = [this, numColumn, nameColumn](int row, int column) {
    TCellStyle s;
    const TWorkTable& t = host_.Bd().mtDepatment;
    if (column == numColumn && RowDiffers(host_, t, TDiffTable::Departments, row)) MarkDifference(s);
    if (column == nameColumn) MarkUnprintable(s, t.ViewText(row, t.FieldIndex("Name")));
    return s;
  };
  grid_->FitColumns();
  FitGridWidth(*grid_);
  layout->addWidget(grid_, 1, Qt::AlignLeft);
  ApplyLanguage();
  connect(&host_.Signals(), &TMainSignals::languageApplied, this, &TDepartmentsTab::ApplyLanguage);

  connect(host_.Action("aDepLoad"), &QAction::triggered, this, &TDepartmentsTab::LoadDepartments);
  connect(host_.Action("aDepSave"), &QAction::triggered, this, &TDepartmentsTab::SaveDepartments);
  host_.SetActionEnabled("aDepLoad", true);
  host_.SetActionEnabled("aDepSave", true);
}

void TDepartmentsTab::ApplyLanguage() {
  QStringList states;
  for (TLangText t : {ltDepClosed, ltDepGoods, ltDepService})
    states << QString::fromStdString(LangResStrHandler.Text(t));
  grid_->SetPickList("Status", states);
}

void TDepartmentsTab::LoadDepartments() {
  if (host_.RegisterBusy()) return;
  grid_->PostEditor();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kDepLoadWait, [this] { ReadDepartments(); });
}

void TDepartmentsTab::ReadDepartments() {
  TBD& bd = host_.Bd();
  bd.mtProfile.First();
  Mess("Загружаем отделы...", false, true, true);
  TKKMInfo& info = host_.Kkm().Info();
  const int count = std::clamp(info.maxCountDepat, 0, kMaxDepartments);
  for (int i = 1; i <= count; ++i) {
    if (!host_.Protocol().GetDepartment(i)) {
      Error("не удалось получить информацию о отделах", true, true, true);
      return;
    }
  }
  // The register's rows are replaced; the rows of stored profiles stay.
  TWorkTable& t = bd.mtDepatment;
  t.DisableControls();
  ClearRows(t);
  for (int j = 1; j <= count; ++j) {
    const TDepRec& d = info.departments[static_cast<std::size_t>(j - 1)];
    t.Append();
    t.SetText("LN", kRegisterProfileKey);
    t.SetInteger("Num", j);
    t.SetText("Status", d.status);
    t.SetText("Name", d.name);
    t.SetText("NG", d.taxGroup);
    Currency price;
    t.SetCurrency("Price", CurrencyFromDouble(d.price, price) ? price : Currency{});
    t.Post();
  }
  t.FindField("Price")->displayFormat = kLoadedPriceFormat;
  t.First();
  t.EnableControls();
  Mess("Отделы загружены", false, true, true);
  HideWait();
  host_.Flags().departmentsLoaded = true;
}

void TDepartmentsTab::SaveDepartments() {
  if (host_.RegisterBusy()) return;
  grid_->PostEditor();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kDepSaveWait, [this] { WriteDepartments(); });
}

void TDepartmentsTab::WriteDepartments() {
  TWorkTable& t = host_.Bd().mtDepatment;
  TKKMInfo& info = host_.Kkm().Info();
  const int count = std::clamp(info.maxCountDepat, 0, kMaxDepartments);
  const int rows = t.RecordCount();
  // Rows are taken by position: with fewer rows than the register has
  // departments the last row would be written again and again.
  if (rows < count) {
    HideWait();
    Error("отделы не записаны: в настройке " + std::to_string(rows) + " отделов, а в ККМ " +
              std::to_string(count),
          true, true, true);
    return;
  }
  TWriteGuard guard(host_, stDepartments);
  if (!guard.Prepare()) return;
  const TRegisterSnapshot* snapshot = guard.Snapshot();
  const int keep = t.RecNo();
  t.First();
  for (int i = 1; i <= count; ++i) {
    TDepRec& d = info.departments[static_cast<std::size_t>(i - 1)];
    d.status = t.Text("Status");
    d.name = t.Text("Name");
    d.taxGroup = t.Text("NG");
    d.price = CurrencyToDouble(t.Cur("Price"));
    t.Next();
  }
  if (keep > 0) t.SetRecNo(keep);
  // Only the departments that differ from the register's, when asked.
  std::vector<int> sent;
  for (int i = 1; i <= count; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    if (guard.OnlyDifferences() && snapshot->departments && k < snapshot->departments->size() &&
        SameDepartment(info.departments[k], (*snapshot->departments)[k]))
      continue;
    sent.push_back(i);
  }
  if (guard.OnlyDifferences()) {
    if (sent.empty()) {
      Mess("Отделы не отличаются от ККМ, запись не нужна", false, true, true);
      HideWait();
      return;
    }
    std::string list;
    for (const int i : sent) list += (list.empty() ? "" : ", ") + std::to_string(i);
    Mess("Записываются отличающиеся отделы: " + list, false, true, true);
  }
  for (const int i : sent) {
    const TDepRec& d = info.departments[static_cast<std::size_t>(i - 1)];
    // A closed department is written without its name.
    if (!IsOpenDepartment(d)) continue;
    if (const std::string w = UnprintableWarning("Отдел " + std::to_string(i), d.name); !w.empty())
      Warning(w + ", они не будут записаны", false, true, true);
  }
  for (const int i : sent) {
    if (!host_.Protocol().SetDepartment(i)) {
      Error("не удалось записать информацию о отделах", true, true, true);
      return;
    }
  }
  Mess("Записаны отделы", false, true, true);
  HideWait();
}

}  // namespace zarvik::ui
