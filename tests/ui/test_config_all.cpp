// Reading and writing the whole configuration against the simulated
// register: the sequence of table actions, the operator probe, the
// completion message with its colour, the flags, and the round trip.
#include <QAction>
#include <QTextBlock>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "ConsoleWidget.h"
#include "SpeedButtonEx.h"
#include "pages/ConfigPage.h"
#include "pages/DBComboBox.h"
#include "pages/ProfilePanel.h"
#include "pages/ReceiptTab.h"
#include "shell/ProjectsVars.h"
#include "store/ProfileStore.h"

using namespace zarvik;

namespace {

constexpr std::uint8_t kGetTax = 13;
constexpr std::uint8_t kGetOperatorName = 21;
constexpr std::uint8_t kGetPosition = 23;
constexpr std::uint8_t kSetOperatorName = 22;

using TTableText = std::vector<std::vector<std::string>>;

// The rows a table shows, field by field; money as its value, whatever the
// display format.
TTableText Rows(const TWorkTable& t, std::initializer_list<const char*> fields) {
  TTableText rows;
  for (int r = 0; r < t.ViewRowCount(); ++r) {
    std::vector<std::string> row;
    for (const char* f : fields) {
      const int i = t.FieldIndex(f);
      const auto* money = std::get_if<std::int64_t>(&t.ViewValue(r, i));
      row.push_back(t.Field(i).type == TFieldType::Currency && money != nullptr
                        ? CurrencyToText(Currency::FromRaw(*money))
                        : t.ViewText(r, i));
    }
    rows.push_back(row);
  }
  return rows;
}

// Everything the configuration page shows of the register.
std::vector<TTableText> Configuration(TBD& bd) {
  return {Rows(bd.mtOptions, {"num", "Value", "LN"}),
          Rows(bd.mtDepatment, {"Num", "Status", "Name", "NG", "Price", "LN"}),
          Rows(bd.mtTitle, {"Num", "Caption"}),
          Rows(bd.mtFooter, {"Num", "Caption"}),
          Rows(bd.mtCheckFont, {"TitleFont", "footerFont"}),
          Rows(bd.mtTax, {"Num", "isDefined", "Name", "Type", "Percent"}),
          Rows(bd.tmOperators, {"Num", "operator", "dolgn"})};
}

void Set(TWorkTable& t, int recNo, const char* field, const std::string& text) {
  QVERIFY(t.SetRecNo(recNo));
  t.Edit();
  QCOMPARE(t.SetText(field, text), WtResult::Ok);
  t.Post();
}

// Changes every table the write-all action sends.
void EditConfiguration(TBD& bd) {
  for (int i = 1; i <= bd.mtOptions.RecordCount(); ++i) {
    QVERIFY(bd.mtOptions.SetRecNo(i));
    Set(bd.mtOptions, i, "Value", bd.mtOptions.Text(i % 2 == 0 ? "Min" : "Max"));
  }
  Set(bd.mtDepatment, 1, "Status", "Закрыто");
  Set(bd.mtDepatment, 2, "Name", "Доставка по городу");
  Set(bd.mtDepatment, 2, "Price", "120.25");
  Set(bd.mtDepatment, 4, "Status", "Услуга");
  Set(bd.mtDepatment, 4, "Name", "Ремонт");
  Set(bd.mtDepatment, 4, "NG", "D");
  Set(bd.mtDepatment, 4, "Price", "99.99");
  Set(bd.mtDepatment, 16, "Status", "Товар");
  Set(bd.mtDepatment, 16, "Name", "Последний");
  Set(bd.mtDepatment, 16, "NG", "E");
  for (int i = 1; i <= 6; ++i) Set(bd.mtTitle, i, "Caption", "ЗАГОЛОВОК " + std::to_string(i));
  for (int i = 1; i <= 6; ++i) Set(bd.mtFooter, i, "Caption", "окончание " + std::to_string(i));
  Set(bd.mtCheckFont, 1, "TitleFont", std::string(PrintFontNames[4]));
  Set(bd.mtCheckFont, 1, "footerFont", std::string(PrintFontNames[0]));
  for (int i = 1; i <= bd.tmOperators.RecordCount(); ++i) {
    Set(bd.tmOperators, i, "operator", "Оператор " + std::to_string(i));
    Set(bd.tmOperators, i, "dolgn", "Должность " + std::to_string(i));
  }
}

// Writes over every table, so that a read must bring the values back.
void ScribbleConfiguration(TBD& bd) {
  for (TWorkTable* t : {&bd.mtDepatment, &bd.mtTitle, &bd.mtFooter, &bd.tmOperators}) {
    const char* field = t == &bd.mtDepatment ? "Name" : t == &bd.tmOperators ? "operator" : "Caption";
    for (int i = 1; i <= t->RecordCount(); ++i) Set(*t, i, field, "???");
  }
  for (int i = 1; i <= bd.mtOptions.RecordCount(); ++i) Set(bd.mtOptions, i, "Value", "77");
  Set(bd.mtCheckFont, 1, "TitleFont", "");
}

// What a profile holds of the register's settings (taxes are only read),
// without the profile keys.
std::vector<TTableText> ProfileContents(TBD& bd) {
  return {Rows(bd.mtOptions, {"num", "Value"}),
          Rows(bd.mtDepatment, {"Num", "Status", "Name", "NG", "Price"}),
          Rows(bd.mtTitle, {"Num", "Caption"}),
          Rows(bd.mtFooter, {"Num", "Caption"}),
          Rows(bd.mtCheckFont, {"TitleFont", "footerFont"}),
          Rows(bd.tmOperators, {"Num", "operator", "dolgn"})};
}

// The same register (serial number and version) with other settings in
// every table.
sim::Scenario OtherSettings() {
  sim::Scenario sc = cfgtest::ShopScenario();
  sim::RegisterState& s = sc.state;
  for (std::size_t i = 0; i < s.options.size(); ++i) s.options[i] = static_cast<std::uint8_t>(i % 2);
  for (int i = 0; i < 16; ++i)
    s.departments[static_cast<std::size_t>(i)] = {sim::kDepService, "Другой " + std::to_string(i + 1), 3,
                                                  static_cast<std::uint64_t>(100 * (i + 1))};
  for (int i = 0; i < 6; ++i) {
    s.header[static_cast<std::size_t>(i)] = {7, "другой заголовок " + std::to_string(i + 1)};
    s.footer[static_cast<std::size_t>(i)] = {5, "другое окончание " + std::to_string(i + 1)};
  }
  for (int i = 0; i < 8; ++i) {
    s.operatorNames[static_cast<std::size_t>(i)] = "Другой кассир " + std::to_string(i + 1);
    s.positions[static_cast<std::size_t>(i)] = "другая " + std::to_string(i + 1);
  }
  return sc;
}

bool AllLoaded(const ui::TLoadedFlags& f) {
  return f.optionsLoaded && f.departmentsLoaded && f.receiptTextLoaded && f.taxesLoaded;
}

// The colour of the console's last line at the first character of `word`.
QColor ConsoleColourOf(ui::ConsoleWidget& console, const QString& word) {
  const QTextBlock last = console.document()->lastBlock();
  const int at = last.text().indexOf(word);
  if (at < 0) return {};
  QTextCursor c(last);
  c.setPosition(last.position() + at + 1);
  return c.charFormat().foreground().color();
}

}  // namespace

class ConfigAllTest : public QObject {
  Q_OBJECT
 private slots:
  void buttonsAtTheTopInBold() {
    cfgtest::TConfigBed bed({"CONFIG_STOP"});
    ui::TfmMain& w = bed.OpenWindow();
    auto* load = w.ConfigPage().findChild<ui::TSpeedButtonEx*>("bLoadAllOptions");
    auto* save = w.ConfigPage().findChild<ui::TSpeedButtonEx*>("bSaveAllOptions");
    QVERIFY(load != nullptr && save != nullptr);
    QCOMPARE(load->text(), QString::fromUtf8("Считать все настройки из ККМ"));
    QCOMPARE(save->text(), QString::fromUtf8("Записать все настройки в ККМ"));
    QVERIFY(load->font().bold());
    QVERIFY(save->font().bold());
    QVERIFY(load->isEnabled());
    // CONFIG_STOP switches the write actions off for the run.
    for (const char* name : {"aSaveAll", "aSaveOptions", "aDepSave", "aCheckSave", "OperatorSave"})
      QVERIFY2(!w.Action(name)->isEnabled(), name);
    QVERIFY(!save->isEnabled());
    QVERIFY(w.Action("aLoadAll")->isEnabled());
  }

  void readingAllConnectsAndReadsEveryTable() {
    cfgtest::TConfigBed bed;
    bed.StartSimulator(cfgtest::ShopScenario());
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    w.Protocol().waits = kNoLinkWaits;
    w.SelectPage(ui::pgGoods);
    w.Action("aLoadAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(w.CurrentPage(), int(ui::pgConfig));
    TBD& bd = w.Bd();
    QCOMPARE(bd.mtOptions.RecordCount(), 32);
    QCOMPARE(cfgtest::Column(bd.mtDepatment, "Name")[1], std::string("Доставка"));
    QCOMPARE(cfgtest::Column(bd.mtTitle, "Caption")[2], std::string("ИНН 6901234567"));
    QCOMPARE(cfgtest::Column(bd.mtTax, "Name")[3], std::string("Без НДС"));
    QCOMPARE(cfgtest::Column(bd.tmOperators, "dolgn")[7], std::string("Управляющий"));
    QVERIFY(AllLoaded(w.Flags()));
    for (const char* done : {"Опции загружены", "Отделы загружены", "Загружены заголовок и окончание чека",
                             "Загружена информация о налогах", "Загружены операторы и должности"})
      QVERIFY2(cfgtest::ConsoleCount(bed, done) == 1, done);
    // The completion message: "завершена!" in the query colour.
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Загрузка завершена!")));
    QCOMPARE(ConsoleColourOf(w.Console(), QString::fromUtf8("завершена")),
             QColor(C_Query & 0xFF, (C_Query >> 8) & 0xFF, (C_Query >> 16) & 0xFF));
    QCOMPARE(cfgtest::LogCount(bed, "Загрузка <c:00F0CAA6>завершена!"), 1);
    QVERIFY(w.isEnabled());
  }

  void readingAllWithoutProgrammableOperators() {
    cfgtest::TConfigBed bed;
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.operatorCount = 0;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    const int names = cfgtest::Executed(bed, kGetOperatorName);
    w.Action("aLoadAll")->trigger();
    // The probe's first request, and no name or position read after it.
    QCOMPARE(cfgtest::Executed(bed, kGetOperatorName), names + 1);
    QCOMPARE(cfgtest::Executed(bed, kGetPosition), 0);
    QCOMPARE(w.Bd().tmOperators.RecordCount(), 0);
    QVERIFY(bed.Boxes().empty());
    QVERIFY(AllLoaded(w.Flags()));
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Загрузка завершена!")));
  }

  void readingAllWithThePortUnavailable() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenUnconnectable(bed);
    w.Action("aLoadAll")->trigger();
    std::vector<std::string> expected;
    for (int step = 0; step < 4; ++step) {
      expected.push_back("не удалось откыть порт");
      expected.push_back("Не удалось подключиться!");
    }
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()), expected);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Error:Не удалось подключиться!"), 4);
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Загрузка завершена!")));
    QVERIFY(AllLoaded(w.Flags()));
    QVERIFY(w.isEnabled());
    QVERIFY(!w.RegisterBusy());
  }

  void writingAllSendsNoTaxCommand() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    w.Action("aLoadAll")->trigger();
    const int taxes = cfgtest::Executed(bed, kGetTax);
    QCOMPARE(taxes, 5);
    w.Flags() = ui::TLoadedFlags{};
    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Executed(bed, kGetTax), taxes);
    QCOMPARE(cfgtest::Executed(bed, kSetOperatorName), 8);
    for (const char* done : {"опции записаны", "Записаны отделы", "Записаны заголовок и окончание чека",
                             "Записаны операторы и должности"})
      QVERIFY2(cfgtest::ConsoleCount(bed, done) == 1, done);
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Запись завершена!")));
    QCOMPARE(cfgtest::LogCount(bed, "Запись<c:00F0CAA6> завершена!"), 1);
    // No flag changes.
    QVERIFY(!w.Flags().optionsLoaded && !w.Flags().departmentsLoaded);
  }

  void writingAllWithTheRegisterGone() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenUnconnectable(bed);
    w.Action("aSaveAll")->trigger();
    // Options, departments, receipt texts; the operator probe needs no connection report.
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()).size(), std::size_t{6});
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Запись завершена!")));
    QVERIFY(w.isEnabled());
  }

  void wholeConfigurationRoundTrip() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TBD& bd = w.Bd();
    w.Action("aLoadAll")->trigger();
    EditConfiguration(bd);
    const std::vector<TTableText> written = Configuration(bd);
    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());

    // The register holds what was written.
    const sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.departments[0], (sim::Department{sim::kDepClosed, "", 0, 0}));
    QCOMPARE(s.departments[3], (sim::Department{sim::kDepService, "Ремонт", 4, 9999}));
    QCOMPARE(s.departments[1].priceLimit, std::uint64_t{12025});
    QCOMPARE(s.header[5].text, std::string("ЗАГОЛОВОК 6"));
    QCOMPARE(s.header[0].font, std::uint8_t{4});
    QCOMPARE(s.footer[0].font, std::uint8_t{0});
    QCOMPARE(s.positions[7], std::string("Должность 8"));
    for (int i = 1; i <= 32; ++i) {
      QVERIFY(bd.mtOptions.SetRecNo(i));
      QCOMPARE(std::int64_t{s.options[static_cast<std::size_t>(i - 1)]}, bd.mtOptions.Int("Value"));
    }

    // A second read returns exactly what was written.
    ScribbleConfiguration(bd);
    QVERIFY(Configuration(bd) != written);
    w.Action("aLoadAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    const std::vector<TTableText> read = Configuration(bd);
    // A department closed in the grid has no tax group and no price; the
    // register reports a closed department with tax group "0" and price 0.
    std::vector<TTableText> expected = written;
    for (std::vector<std::string>& row : expected[1]) {
      if (row[1] != "Закрыто") continue;
      row[3] = "0";
      row[4] = "0";
    }
    const char* names[] = {"options", "departments", "header", "footer", "fonts", "taxes", "operators"};
    for (std::size_t i = 0; i < read.size(); ++i) QVERIFY2(read[i] == expected[i], names[i]);
  }

  void wholeConfigurationThroughAProfile() {
    cfgtest::TConfigBed bed;
    const sim::Scenario first = cfgtest::ShopScenario();
    std::vector<TTableText> profile;
    {
      // Read everything and keep it as the register's stored profile.
      ui::TfmMain& w = cfgtest::OpenConnected(bed, first);
      w.Action("aLoadAll")->trigger();
      QVERIFY(bed.Boxes().empty());
      profile = ProfileContents(w.Bd());
      QCOMPARE(profile[1].size(), std::size_t{16});
      QCOMPARE(profile[5].size(), std::size_t{8});
      QTest::mouseClick(w.ConfigPage().Profiles().bSavePropKKMtoBD, Qt::LeftButton);
      QVERIFY(bed.Boxes().empty());
      QVERIFY(w.Flags().storedProfilesFound);
      bed.CloseWindow();
    }

    // The register starts again with other settings; a new run of the
    // program loads the profile from the files and writes it.
    ui::TfmMain& w = cfgtest::OpenConnected(bed, OtherSettings());
    TBD& bd = w.Bd();
    QCOMPARE(bd.mtProfile.RecordCount(), 2);
    QVERIFY(ProfileContents(bd) != profile);
    bd.mtProfile.SetRecNo(2);
    QCOMPARE(bd.mtProfile.Text("Name"), std::string(kStoredProfileName));
    QCOMPARE(w.Profiles().LoadCount(), 1);
    const std::vector<TTableText> loaded = ProfileContents(bd);
    const char* names[] = {"options", "departments", "header", "footer", "fonts", "operators"};
    for (std::size_t i = 0; i < loaded.size(); ++i) QVERIFY2(loaded[i] == profile[i], names[i]);
    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());

    // The register holds the first register's settings again...
    const sim::RegisterState a = first.state;
    const sim::RegisterState b = bed.Sim().State();
    QCOMPARE(b.options, a.options);
    for (int i = 0; i < 16; ++i)
      QVERIFY2(b.departments[static_cast<std::size_t>(i)] == a.departments[static_cast<std::size_t>(i)],
               std::to_string(i + 1).c_str());
    // Every line carries the font of its block, which the register reports
    // with line 1.
    for (int i = 0; i < 6; ++i) {
      const auto n = static_cast<std::size_t>(i);
      QCOMPARE(b.header[n].text, a.header[n].text);
      QCOMPARE(b.footer[n].text, a.footer[n].text);
      QCOMPARE(b.header[n].font, a.header[0].font);
      QCOMPARE(b.footer[n].font, a.footer[0].font);
    }
    // (names cut to the 20 characters of the operator column)
    for (std::size_t i = 0; i < 8; ++i) QCOMPARE(b.operatorNames[i], Utf8Left(a.operatorNames[i], 20));
    QVERIFY(b.positions == a.positions);

    // ...and reading it shows the profile, field for field.
    w.Action("aLoadAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(bd.mtProfile.RecNo(), 1);
    const std::vector<TTableText> read = ProfileContents(bd);
    for (std::size_t i = 0; i < read.size(); ++i) QVERIFY2(read[i] == profile[i], names[i]);
  }
};

QTEST_MAIN(ConfigAllTest)
#include "test_config_all.moc"
