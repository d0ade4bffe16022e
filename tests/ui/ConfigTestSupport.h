// Helpers of the configuration page tests: a small register scenario, the
// window connected to it, reading the rows of a working table, messages by
// kind, a line that records what the program sent, faults armed in the
// middle of an action and model descriptors of made-up register versions.
#pragma once

#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "protocol/ComPortStream.h"
#include "protocol/U_protocolkkm.h"
#include "shell/TextCodec.h"
#include "store/UnitBD.h"

namespace cfgtest {

// A shop register without goods or journal: its state is cheap to copy.
inline constexpr const char* kScenarioText = R"ini(
[Register]
Model=Зарвик-02Ф
SerialNumber=002100457731
Version=B 003
DateTime=15.12.10 14:05:00
GoodsCapacity=100
Departments=16
OperatorCount=8

[Options]
Count=32
Values=1,0,2,0,1,1,0,0,3,3,1,7,3,4,1,3,6,0,0,1,0,0,0,0,1,0,0,0,0,1,0,0

[Departments]
1=Товар;Бакалея;A;10000.00
2=Услуга;Доставка;B;500.50
3=Товар;Овощи и фрукты;C;3000.00

[Taxes]
1=НДС 18%;18.00;1
2=НДС 10%;10.50;1
4=Без НДС;0;0

[Header]
1=2;ООО "ПРОДУКТЫ У ДОМА"
2=2;г. Тверь, ул. Советская, 12
3=2;ИНН 6901234567

[Footer]
1=1;СПАСИБО ЗА ПОКУПКУ!
2=1;Тел. (4822) 34-56-78

[Operators]
1=Иванова Анна Петровна;Старший кассир
2=Петров Сергей;Кассир
3=Сидорова Мария;Кассир
4=Кузнецов Олег;Администратор
5=Смирнова Ольга;Кассир
6=Попов Иван;Кассир
7=Волкова Нина;Кассир
8=Зайцев Пётр;Управляющий
)ini";

inline zarvik::sim::Scenario ShopScenario() {
  zarvik::sim::Scenario sc;
  std::string error;
  if (!zarvik::sim::LoadScenarioText(kScenarioText, sc, error)) qFatal("scenario: %s", error.c_str());
  return sc;
}

// A test bed whose program folder is its own: the model descriptors are
// copied there and the log is written there, so every test reads only its
// own log lines.
class TConfigBed : public uitest::TTestBed {
 public:
  explicit TConfigBed(std::vector<std::string> words = {}) : uitest::TTestBed(std::move(words)) {
    const QString shipped = QCoreApplication::applicationDirPath() + "/ECR_CFG";
    const QString program = Path("program");
    QDir().mkpath(program + "/ECR_CFG");
    for (const QString& name : QDir(shipped).entryList(QDir::Files))
      QFile::copy(shipped + "/" + name, program + "/ECR_CFG/" + name);
    zarvik::SetProgramPath((program + "/ZarvikConfig").toStdString());
  }
};

// Writes the model descriptor of register version `version` into the
// program folder of the test bed.
inline void UseDescriptor(TConfigBed& bed, const std::string& version, const std::string& utf8Text) {
  QFile f(bed.Path("program/ECR_CFG/") + QString::fromStdString(version) + "_000000.ini");
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write a descriptor");
  f.write(QByteArray::fromStdString(zarvik::Utf8ToCp1251(utf8Text)));
}

// The window connected to the simulator serving `scenario`; the link runs
// without its pauses.
inline zarvik::ui::TfmMain& OpenConnected(uitest::TTestBed& bed,
                                          const zarvik::sim::Scenario& scenario = ShopScenario()) {
  bed.StartSimulator(scenario);
  bed.UseSimulatorPort();
  zarvik::ui::TfmMain& w = bed.OpenWindow();
  w.Protocol().waits = zarvik::kNoLinkWaits;
  if (!bed.Connect()) qFatal("the window did not connect");
  return w;
}

// The window with no register behind its port.
inline zarvik::ui::TfmMain& OpenUnconnectable(uitest::TTestBed& bed) {
  bed.UseSimulatorPort();
  zarvik::SetPortDevice(uitest::kSimPort, bed.Path("no-such-device").toStdString());
  return bed.OpenWindow();
}

// The texts of one field of the rows a table shows.
inline std::vector<std::string> Column(const zarvik::TWorkTable& t, const char* field) {
  std::vector<std::string> out;
  const int f = t.FieldIndex(field);
  for (int r = 0; r < t.ViewRowCount(); ++r) out.push_back(t.ViewText(r, f));
  return out;
}

inline std::vector<std::string> BoxTexts(const std::vector<uitest::TBox>& boxes,
                                         zarvik::BoxKind kind = zarvik::BoxKind::Error) {
  std::vector<std::string> out;
  for (const uitest::TBox& b : boxes)
    if (b.kind == kind) out.push_back(b.text);
  return out;
}

// How many console lines end with `text`.
inline int ConsoleCount(uitest::TTestBed& bed, const QString& text) {
  int n = 0;
  for (const QString& line : bed.ConsoleText().split(QLatin1Char('\n')))
    if (line.endsWith(text)) ++n;
  return n;
}
inline int ConsoleCount(uitest::TTestBed& bed, const char* utf8) {
  return ConsoleCount(bed, QString::fromUtf8(utf8));
}
inline int LogCount(uitest::TTestBed& bed, const char* utf8) {
  const QString text = QString::fromUtf8(utf8);
  int n = 0;
  for (const QString& line : bed.LogLines())
    if (line.endsWith(text)) ++n;
  return n;
}

// Commands of `code` the simulated register has carried out.
inline int Executed(uitest::TTestBed& bed, std::uint8_t code) {
  const auto c = bed.Sim().State().commandsExecuted;
  return static_cast<int>(std::count(c.begin(), c.end(), code));
}

// The register port as the protocol's line, keeping every byte written.
class TRecordingLine final : public zarvik::IByteStream {
 public:
  explicit TRecordingLine(zarvik::TComPort& port) : inner_(port) {}
  bool Read(std::uint8_t* buffer, std::uint32_t& count) override { return inner_.Read(buffer, count); }
  bool Write(const std::uint8_t* buffer, std::uint32_t& count) override {
    const bool ok = inner_.Write(buffer, count);
    written.insert(written.end(), buffer, buffer + count);
    return ok;
  }
  bool Open() override { return inner_.Open(); }
  bool Close() override { return inner_.Close(); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  // Whether the bytes written contain `bytes` in a row.
  bool Sent(const std::vector<std::uint8_t>& bytes) const {
    return std::search(written.begin(), written.end(), bytes.begin(), bytes.end()) != written.end();
  }
  std::vector<std::uint8_t> written;

 private:
  zarvik::TComPortStream inner_;
};

// Arms `fault` on the simulator as soon as it has carried out `count`
// commands of `code`: the exchanges let the window process events, so the
// fault comes in the middle of a running action (on the next command or the
// one after it).
// A fault that fails a command for good: a command whose repetition is
// harmless is sent again after a failed exchange, so the fault is there for
// the first try and for every repetition.
inline std::string EveryTry(const std::string& fault) {
  return fault + "*" + std::to_string(1 + zarvik::kMaxCommandRepeats);
}

class TFaultAfter : public QObject {
 public:
  TFaultAfter(uitest::TTestBed& bed, std::uint8_t code, int count, std::string fault)
      : bed_(bed), code_(code), count_(count), fault_(std::move(fault)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (armed_ || Executed(bed_, code_) < count_) return;
      bed_.Sim().AddFault(fault_);
      armed_ = true;
      timer_.stop();
    });
    timer_.start(0);
  }
  // What the command it was meant for left of the fault is not left for
  // the next ones.
  ~TFaultAfter() override {
    if (armed_) bed_.Sim().ClearFaults();
  }
  bool Armed() const { return armed_; }

 private:
  uitest::TTestBed& bed_;
  std::uint8_t code_;
  int count_;
  std::string fault_;
  QTimer timer_;
  bool armed_ = false;
};

}  // namespace cfgtest
