#include "ActionList.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

namespace zarvik::ui {

const std::vector<TActionDef>& ActionDefinitions() {
  static const std::vector<TActionDef> defs = {
      // Connection.
      {"aConnectDisConnect", "Подключиться"},
      {"aFindKKM", "Найти ККМ"},
      // Options.
      {"aLoadOptions", "считать из ККМ"},
      {"aSaveOptions", "записать в ККМ"},
      {"aSetDefaultOptions", "по умолчанию"},
      {"aViewOptions", "Вид"},
      // Departments, receipt texts, taxes, operators.
      {"aDepLoad", "считать из ККМ"},
      {"aDepSave", "записать в ККМ"},
      {"aCheckLoad", "считать из ККМ"},
      {"aCheckSave", "записать в ККМ"},
      {"aTaxLoad", "считать из ККМ"},
      {"OperatorLoad", "считать из ККМ"},
      {"OperatorSave", "записать в ККМ"},
      {"aLoadAll", "Считать все настройки из ККМ"},
      {"aSaveAll", "Записать все настройки в ККМ"},
      // Goods.
      {"tovarLoadAll", "Считать все из ККМ"},
      {"tovarLoadOne", "Считать текущий"},
      {"tovarSaveAll", "Записать все в ККМ"},
      {"tovarSaveOne", "Записать текущий"},
      {"tovarAddRec", "Доб.запись"},
      {"tovarDelRec", "Уд.запись"},
      {"tovarRemarkDelOne", "Помет.Уд.1"},
      {"tovarRemarkDelAll", "Пом.Уд.все"},
      {"tovarCorrectData", "Исправить данные"},
      {"tovarImport", "Импорт"},
      {"tovarExport", "Экспорт"},
      {"tovarFromDBF", "Считать из DBF"},
      {"tovarToDBF", "Записать в DBF"},
      {"tovarFromCSV", "Считать из CSV"},
      {"tovarToCSV", "Записать в CSV"},
      {"tovarFromSheet", "Считать из XLSX/ODS"},
      {"tovarToXLSX", "Записать в XLSX"},
      // Journal.
      {"aLoadMagazin", "Считать все из ККМ"},
      {"aSaveTextMagazin", "Сохранить текст в файл"},
      {"aSaveDataMagazin", "Сохранить данные в файл"},
      // The configurator's own page.
      {"aConfigConfig", "Настройки конфигуратора"},
      // The shop: the registers of a fleet file.
      {"shopOpenList", "Открыть список ККМ..."},
      {"shopSaveList", "Сохранить список ККМ..."},
      {"shopAddRegister", "Добавить ККМ"},
      {"shopRemoveRegister", "Удалить ККМ"},
      {"shopAddFound", "Добавить найденные"},
      {"shopPoll", "Опросить"},
      {"shopCompare", "Сравнить с файлом..."},
      {"shopApplyConfig", "Записать настройки из файла..."},
      {"shopWriteGoods", "Записать товары из файла..."},
      {"shopReadJournals", "Считать журналы в папку..."},
      {"shopDaySummary", "Сводка дня по магазину..."},
      {"shopSaveReport", "Сохранить отчет..."},
      {"shopStop", "Остановить"},
      // The line monitor (checked while it is open).
      {"aLineMonitor", "Монитор линии"},
      // Help: the manual (F1, at the chapter of the page on display) and
      // the program's version, licence and files.
      {"aHelpManual", "Руководство"},
      {"aHelpAbout", "О программе"},
  };
  return defs;
}

TActionList::TActionList(QObject* parent) : QObject(parent) {
  setObjectName("ActionList1");
  for (const TActionDef& d : ActionDefinitions()) {
    auto* a = new QAction(QString::fromUtf8(d.caption), this);
    a->setObjectName(d.name);
    a->setEnabled(false);  // until a page connects its handler
    actions_.emplace(d.name, a);
  }
}

QAction* TActionList::Find(std::string_view name) const {
  const auto it = actions_.find(name);
  return it == actions_.end() ? nullptr : it->second;
}

void TActionList::SetEnabled(std::string_view name, bool enabled) {
  QAction* a = Find(name);
  if (a == nullptr) return;
  a->setEnabled(enabled && !IsSwitchedOff(name));
}

void TActionList::SwitchOff(std::string_view name) {
  switchedOff_.emplace(name);
  if (QAction* a = Find(name)) a->setEnabled(false);
}

bool TActionList::IsSwitchedOff(std::string_view name) const {
  return switchedOff_.find(name) != switchedOff_.end();
}

QMenu* TActionList::Menu(QWidget* parent, const QString& title, const char* objectName) {
  auto* m = new QMenu(title, parent);
  m->setObjectName(objectName);
  return m;
}

void TActionList::BuildMainMenu(QToolBar* toolBar) {
  const auto add = [&](QMenu* m, std::initializer_list<const char*> names) {
    for (const char* n : names) {
      if (n == nullptr) {
        m->addSeparator();
      } else {
        m->addAction(Find(n));
      }
    }
  };
  // `mnemonic`: the place of the letter that, with Alt, opens the menu.
  const auto top = [&](QMenu* m, qsizetype mnemonic) {
    auto* b = new QToolButton(toolBar);
    b->setObjectName(m->objectName() + "Button");
    b->setMenu(m);
    b->setText(QString(m->title()).insert(mnemonic, QLatin1Char('&')));
    b->setAccessibleName(m->title());
    b->setPopupMode(QToolButton::InstantPopup);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar->addWidget(b);
  };

  const auto sub = [&](QMenu* parent, const char* title, const char* objectName,
                       std::initializer_list<const char*> names) {
    QMenu* m = Menu(parent, QString::fromUtf8(title), objectName);
    add(m, names);
    parent->addMenu(m);
  };

  QMenu* config = Menu(toolBar, QString::fromUtf8("Настройки ККМ(ЧПМ)"), "miConfig");
  sub(config, "Опции", "miOptions", {"aLoadOptions", "aSaveOptions", "aSetDefaultOptions", "aViewOptions"});
  sub(config, "Отделы", "miDepartments", {"aDepLoad", "aDepSave"});
  sub(config, "Заголовок и окончание чека", "miCheck", {"aCheckLoad", "aCheckSave"});
  sub(config, "Налоги", "miTax", {"aTaxLoad"});
  sub(config, "Операторы", "miOperators", {"OperatorLoad", "OperatorSave"});
  config->addSeparator();
  add(config, {"aLoadAll", "aSaveAll"});
  top(config, 0);  // Alt+Н

  QMenu* goods = Menu(toolBar, QString::fromUtf8("Товары"), "miGoods");
  add(goods, {"tovarLoadAll", "tovarLoadOne", nullptr, "tovarSaveAll", "tovarSaveOne", nullptr});
  sub(goods, "Изменить данные", "miGoodsChange",
      {"tovarAddRec", "tovarDelRec", nullptr, "tovarRemarkDelOne", "tovarRemarkDelAll", nullptr,
       "tovarCorrectData"});
  goods->addSeparator();
  sub(goods, "Импорт", "miGoodsImport", {"tovarFromDBF", "tovarFromCSV", "tovarFromSheet", "tovarCorrectData"});
  sub(goods, "Экспорт", "miGoodsExport", {"tovarToDBF", "tovarToCSV", "tovarToXLSX"});
  top(goods, 0);  // Alt+Т

  QMenu* journal = Menu(toolBar, QString::fromUtf8("Журнал"), "miJournal");
  add(journal, {"aLoadMagazin", "aSaveTextMagazin", "aSaveDataMagazin"});
  top(journal, 0);  // Alt+Ж

  QMenu* shop = Menu(toolBar, QString::fromUtf8("Магазин"), "miShop");
  add(shop, {"shopOpenList", "shopSaveList", nullptr, "shopPoll", "shopCompare", "shopApplyConfig",
             "shopWriteGoods", "shopReadJournals", nullptr, "shopDaySummary", "shopSaveReport", nullptr,
             "shopStop"});
  top(shop, 0);  // Alt+М

  QMenu* own = Menu(toolBar, QString::fromUtf8("Настройки конфигуратора"), "miConfigurator");
  QAction* configConfig = Find("aConfigConfig");
  QAction* scanner = own->addAction(QString::fromUtf8("Настройка сканера штрихкода"));
  scanner->setObjectName("miScanner");
  // The entry runs the page's action and follows its enabled state.
  QObject::connect(scanner, &QAction::triggered, configConfig, &QAction::trigger);
  QObject::connect(configConfig, &QAction::enabledChanged, scanner, &QAction::setEnabled);
  scanner->setEnabled(configConfig->isEnabled());
  // "О программе" here is the same as in "Справка": the version, licence and
  // the user's files (the version history stays on the page).
  QAction* about = Find("aHelpAbout");
  QAction* aboutItem = own->addAction(about->text());
  aboutItem->setObjectName("miAbout");
  QObject::connect(aboutItem, &QAction::triggered, about, &QAction::trigger);
  QObject::connect(about, &QAction::enabledChanged, aboutItem, &QAction::setEnabled);
  aboutItem->setEnabled(about->isEnabled());
  own->addSeparator();
  add(own, {"aLineMonitor"});
  top(own, 10);  // Alt+К

  QMenu* help = Menu(toolBar, QString::fromUtf8("Справка"), "miHelp");
  add(help, {"aHelpManual", nullptr, "aHelpAbout"});
  top(help, 0);  // Alt+С
}

}  // namespace zarvik::ui
