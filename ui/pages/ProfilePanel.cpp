#include "ProfilePanel.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "DBGridEh.h"
#include "SpeedButtonEx.h"
#include "model/U_kkms.h"
#include "port/Comport.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/ConfigProfile.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {
constexpr int kListFramePixels = 4;
constexpr int kButtonSpacing = 4;
}  // namespace

TProfilePanel::TProfilePanel(TPageHost& host, QWidget* parent) : QFrame(parent), host_(host) {
  setObjectName("PanelBDConfig");
  setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(kButtonSpacing);

  caption_ = new QLabel(QString::fromUtf8(kProfileListCaption), this);
  caption_->setObjectName("lBDConfig");
  caption_->setAlignment(Qt::AlignCenter);
  QFont bold = caption_->font();
  bold.setBold(true);
  caption_->setFont(bold);
  layout->addWidget(caption_);

  TGridColumn name;
  name.field = "Name";
  name.readOnly = true;
  name.alignment = Qt::AlignHCenter;
  DBCtrlGrid1 = new TDBGridEh(host_.Bd().mtProfile, {name}, this);
  DBCtrlGrid1->setObjectName("DBCtrlGrid1");
  DBCtrlGrid1->setAccessibleName(QString::fromUtf8(kProfileListCaption));
  DBCtrlGrid1->horizontalHeader()->hide();
  DBCtrlGrid1->verticalHeader()->hide();
  DBCtrlGrid1->horizontalHeader()->setStretchLastSection(true);
  DBCtrlGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBCtrlGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBCtrlGrid1->setShowGrid(false);
  DBCtrlGrid1->setTabKeyNavigation(false);
  const int rowHeight = DBCtrlGrid1->verticalHeader()->defaultSectionSize();
  DBCtrlGrid1->setFixedHeight(rowHeight * kProfileListVisibleEntries + kListFramePixels);
  TWorkTableModel& model = DBCtrlGrid1->Model();
  const int ln = host_.Bd().mtProfile.FieldIndex("LN");
  model.cellStyle = [this, ln](int row, int) {
    return DBLabel1BeforeDraw(host_.Bd().mtProfile.ViewText(row, ln));
  };
  layout->addWidget(DBCtrlGrid1);

  const auto button = [this, layout](TSpeedButtonEx*& b, const char* objectName, const char* text,
                                     void (TProfilePanel::*handler)()) {
    b = new TSpeedButtonEx(this);
    b->setObjectName(objectName);
    b->setText(QString::fromUtf8(text));
    b->setAccessibleName(QString::fromUtf8(text));
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(b, &QToolButton::clicked, this, handler);
    layout->addWidget(b);
  };
  button(bSavePropKKMtoBD, "bSavePropKKMtoBD", "Сохранить настройки", &TProfilePanel::bSavePropKKMtoBDClick);
  button(bSavePropKKMtoBDasShablon, "bSavePropKKMtoBDasShablon", "Сохранить в шаблон",
         &TProfilePanel::bSavePropKKMtoBDasShablonClick);
  button(bDelPropKKMtoBD, "bDelPropKKMtoBD", "Удалить", &TProfilePanel::bDelPropKKMtoBDClick);
  button(bImportPropFromFile, "bImportPropFromFile", "Импорт из файла",
         &TProfilePanel::bImportPropFromFileClick);
  button(bExportPropToFile, "bExportPropToFile", "Экспорт в файл", &TProfilePanel::bExportPropToFileClick);
  layout->addStretch(1);
}

TCellStyle TProfilePanel::DBLabel1BeforeDraw(const std::string& key) {
  TCellStyle style;
  if (IsTemplateKey(key)) style.bold = true;
  return style;
}

void TProfilePanel::UpdateStoredFlag() {
  host_.Flags().storedProfilesFound = host_.Profiles().StoredProfilesFound() > 0;
}

void TProfilePanel::RefreshProfileList() {
  const TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  host_.Profiles().RefreshProfileList(info->serialNumber, info->version);
  UpdateStoredFlag();
}

void TProfilePanel::bSavePropKKMtoBDClick() {
  if (host_.RegisterBusy()) return;
  if (!host_.RegisterPort().IsOpen() && !host_.EnsureConnected()) return;
  const TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  bool registerRow = false;
  const bool saved = host_.Profiles().SaveStoredProfile(info->serialNumber, info->version, registerRow);
  UpdateStoredFlag();
  if (saved && registerRow) {
    TLoadedFlags& f = host_.Flags();
    f.optionsLoaded = f.departmentsLoaded = f.receiptTextLoaded = f.taxesLoaded = false;
  }
}

QString TProfilePanel::AskTemplateName(const QString& proposed) {
  const QString caption = QString::fromUtf8(kTemplateInputCaption);
  const QString prompt = QString::fromUtf8(kTemplateInputPrompt);
  if (inputBox) return inputBox(caption, prompt, proposed);
  if (isAUTONOM) return proposed;
  bool ok = false;
  const QString text =
      QInputDialog::getText(host_.Window(), caption, prompt, QLineEdit::Normal, proposed, &ok);
  return ok ? text : proposed;
}

void TProfilePanel::bSavePropKKMtoBDasShablonClick() {
  if (host_.RegisterBusy()) return;
  const TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  TProfileStore& store = host_.Profiles();
  const QString answer = AskTemplateName(QString::fromStdString(store.ProposedTemplateName()));
  if (answer.isEmpty()) return;
  // The name is kept as the file holds it, so that a later save finds it.
  const std::string name = Utf8Left(answer.toStdString(), kProfileNameLength);
  store.SaveTemplate(name, info->serialNumber, info->version);
  UpdateStoredFlag();
}

void TProfilePanel::bDelPropKKMtoBDClick() {
  if (host_.RegisterBusy()) return;
  host_.Profiles().DeleteSelectedProfile();
  host_.Window()->update();
}

QString TProfilePanel::ChooseConfigFile(bool save) {
  QFileDialog dialog(host_.Window());
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilter(QString::fromUtf8(kConfigFileFilter));
  if (save) dialog.setDefaultSuffix(QString::fromUtf8(kConfigFileSuffix));
  if (runFileDialog) return runFileDialog(dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

void TProfilePanel::bExportPropToFileClick() {
  if (host_.RegisterBusy()) return;
  const TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  const QString file = ChooseConfigFile(true);
  if (file.isEmpty()) return;
  TKKMInfo shown;
  TConfigTables which;
  ProfileConfig(host_.Bd(), *info, shown, which);
  const std::string path = file.toStdString();
  if (!WriteTextFile(path, ConfigText(shown, which))) {
    Error("не удалось записать файл " + path, true, true, true);
    return;
  }
  Mess("Настройки выгружены в файл " + path, false, true, true);
}

void TProfilePanel::bImportPropFromFileClick() {
  if (host_.RegisterBusy()) return;
  const TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  const QString file = ChooseConfigFile(false);
  if (file.isEmpty()) return;
  const std::string path = file.toStdString();
  std::string text;
  if (!ReadTextFile(path, text)) {
    Error("не удалось прочитать файл " + path, true, true, true);
    return;
  }
  std::vector<TConfigChange> changes;
  std::vector<TConfigError> errors;
  TWorkTable& list = host_.Bd().mtProfile;
  const int entry = list.RecNo();
  if (!ImportProfileConfig(host_.Bd(), *info, text, changes, errors)) {
    // Nothing of the file is taken when one value cannot be.
    std::string message = "Файл " + path + " не загружен:";
    for (const TConfigError& e : errors) message += "\n" + ConfigErrorText(e);
    Error(message, true, true, true);
    return;
  }
  if (entry > 0) list.SetRecNo(entry);
  bool registerRow = false;
  host_.Profiles().SaveStoredProfile(info->serialNumber, info->version, registerRow);
  UpdateStoredFlag();
  if (registerRow) {
    TLoadedFlags& f = host_.Flags();
    f.optionsLoaded = f.departmentsLoaded = f.receiptTextLoaded = f.taxesLoaded = false;
  }
  Mess("Настройки загружены из файла " + path + " (отличий: " + std::to_string(changes.size()) + ")", false, true,
       true);
  host_.Window()->update();
}

bool TProfilePanel::CloseQuery() {
  if (!host_.Flags().AllLoaded()) return true;
  switch (QueryYesNoCancel(kSaveProfileQuestion, true, true, QueryButton::Yes)) {
    case QueryButton::Yes:
      host_.Bd().mtProfile.First();
      bSavePropKKMtoBDClick();
      return true;
    case QueryButton::Cancel: return false;
    default: return true;
  }
}

}  // namespace zarvik::ui
