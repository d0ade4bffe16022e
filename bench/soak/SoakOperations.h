// Part of bench_soak, which alone includes it (each part includes the one
// before it: Options, Judgement, Faults, Process, Operations, Report): the
// operations of one fault rate, in this process and as zarvikctl processes,
// each judged against the simulator.
#pragma once

#include "SoakProcess.h"

namespace {

// One fault rate: the simulated shop, the rounds of operations until its time
// is up, and their judgement.
class RateRun {
 public:
  RateRun(const Options& o, double rate, std::uint64_t seed, RateFigures& fig)
      : options_(o), rate_(rate), random_(seed), figures_(fig) {
    figures_.rate = rate;
  }
  ~RateRun() {
    events_.reset();
    port_.Close();
    if (sim_) sim_->Close();
  }
  RateRun(const RateRun&) = delete;
  RateRun& operator=(const RateRun&) = delete;

  bool SetUp(const std::string& work) {
    work_ = work;
    sim::Scenario scenario;
    std::string error;
    if (!sim::LoadScenarioText(ScenarioText(options_), scenario, error)) {
      std::fprintf(stderr, "bench_soak: scenario: %s\n", error.c_str());
      return false;
    }
    sim_ = std::make_unique<sim::Simulator>(scenario);
    sim_->SeedFaults(random_.Next());
    std::string slave;
    if (!sim_->OpenPty(slave)) {
      std::fprintf(stderr, "bench_soak: %s\n", sim_->LastError().c_str());
      return false;
    }
    if (options_.baud > 0) sim_->SetPacing(options_.baud, true);
    zarvik::SetPortDevice(kSoakPort, slave);
    std::ofstream ini(work_ + "/ZarvikConfig.ini", std::ios::binary | std::ios::trunc);
    ini << "[Port]\r\nCOMPort=" << kSoakPort << "\r\n";
    if (options_.baud > 0) ini << "Speed=" << options_.baud << "\r\n";
    ini << "[NET]\r\nNUMBER=1\r\n[Devices]\r\nCOM" << kSoakPort << "=" << slave << "\r\n";
    ini.close();
    if (!ini || !sim_->Start() || !port_.SetPortNumber(kSoakPort)) {
      std::fprintf(stderr, "bench_soak: the simulator does not start\n");
      return false;
    }
    if (options_.baud > 0) port_.SetBaudRate(static_cast<std::uint32_t>(options_.baud));
    std::vector<std::string> faults = RateFaults(rate_);
    if (!options_.faults.empty()) {
      // Given faults; "R" stands for the rate in percent.
      faults.clear();
      for (std::string f : options_.faults) {
        if (const std::size_t at = f.find("@R"); at != std::string::npos) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "@%.4f", rate_);
          f.replace(at, 2, buf);
        }
        faults.push_back(f);
      }
    }
    for (const std::string& f : faults) {
      if (!sim_->AddFault(f)) {
        std::fprintf(stderr, "bench_soak: fault %s: %s\n", f.c_str(), sim_->LastError().c_str());
        return false;
      }
    }
    events_ = std::make_unique<EventThread>(*sim_);
    // The option intervals of the model, as the program reads them.
    descriptor_.version = "B 003";
    descriptor_.descriptorTag = std::string(zarvik::kDescriptorTag);
    descriptor_.LoadDescriptor();
    // What the journal read must bring: the register's own frames.
    sim::RegisterState copy = sim_->State();
    journalFrames_ = sim::ExecuteCommand(copy, Bytes{0x01, 0x0F, 0x00, 0x00}, true);
    for (const Bytes& f : journalFrames_) {
      for (const std::string& line :
           SplitLines(zarvik::DecodeJournalReply(std::span<const std::uint8_t>(f.data(), f.size()))))
        journalLines_.push_back(line);
    }
    return true;
  }

  void Run(Clock::time_point deadline) {
    const auto start = Clock::now();
    const auto timeLeft = [&] { return Clock::now() < deadline; };
    for (int round = 1; options_.rounds == 0 || round <= options_.rounds; ++round) {
      if (!timeLeft()) break;
      if (options_.verbose) std::printf("  round %d\n", round);
      const auto wanted = [&](const char* op) { return options_.ops.count(op) != 0 && timeLeft(); };
      if (wanted("settings-write")) UseCtl() ? CtlWriteSettings(timeLeft) : InprocWriteSettings();
      if (wanted("settings-read")) UseCtl() ? CtlReadSettings(timeLeft) : InprocReadSettings();
      if (wanted("goods-write")) UseCtl() ? CtlWriteGoods() : InprocWriteGoods();
      if (wanted("goods-read")) UseCtl() ? CtlReadGoods() : InprocReadGoods();
      if (wanted("journal")) UseCtl() ? CtlReadJournal() : InprocReadJournal();
    }
    figures_.seconds = Seconds(Clock::now() - start).count();
    for (int k = 0; k < sim::kFaultKindCount; ++k)
      figures_.faultsFired += sim_->FaultsFired(static_cast<sim::FaultKind>(k));
    figures_.stalls = sim_->Stalls();
  }

 private:
  static std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
      const std::size_t end = text.find("\r\n", pos);
      lines.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
      if (end == std::string::npos) break;
      pos = end + 2;
    }
    return lines;
  }

  bool UseCtl() {
    if (options_.mode == "ctl") return true;
    if (options_.mode == "inproc") return false;
    return random_.Chance(0.5);
  }

  double EventChance() const { return std::min(0.9, rate_ * options_.events / 100.0); }

  // Expected seconds of an operation: what the same kind took so far.
  Seconds Expected(const std::string& name, double guess) {
    const auto it = durations_.find(name);
    return Seconds(it == durations_.end() ? guess : it->second);
  }
  void Took(const std::string& name, double seconds) {
    auto [it, fresh] = durations_.emplace(name, seconds);
    if (!fresh) it->second = 0.7 * it->second + 0.3 * seconds;
  }

  // Plans the event of an operation that should take `expected`.
  void PlanEvent(Seconds expected) {
    if (!random_.Chance(EventChance())) return;
    const Seconds at(random_.Real(0.0, std::max(0.05, expected.count())));
    const int kind = random_.Int(0, 5);
    if (kind <= 1) {
      const bool longOne = kind == 1;
      const Seconds d(longOne ? random_.Real(kLongFreezeMin.count(), kLongFreezeMax.count())
                              : random_.Real(kShortFreezeMin.count(), kShortFreezeMax.count()));
      plannedFreeze_ = longOne ? 2 : 1;
      events_->Start(at, d, {});
      return;
    }
    static const std::vector<std::string> kBursts = {"busy*", "rej*", "wait=", "silence*", "crc*", "ctlcrc*"};
    plannedFreeze_ = 0;
    events_->Start(at, Seconds(0), random_.Pick(kBursts) + std::to_string(random_.Int(2, 7)));
  }
  void EndEvent() {
    if (!events_->Finish()) return;
    if (plannedFreeze_ == 0) {
      ++figures_.bursts;
    } else {
      ++figures_.freezes;
      if (plannedFreeze_ == 2) ++figures_.longFreezes;
    }
  }

  Clock::time_point lastRecord_ = Clock::now();

  void Record(const std::string& op, Outcome outcome, const std::string& detail = {},
              const std::vector<std::string>& evidence = {}, bool count = true) {
    if (count) {
      ++figures_.all[outcome];
      ++figures_.byOperation[op][outcome];
    }
    if (outcome == Outcome::Failed && detail.empty()) {
      // What the program said last: the reason it gave.
      const std::vector<std::string> lines = gConsole.Lines();
      const std::string said = lines.empty() ? zarvik::LastErrorMessage : lines.back();
      if (!said.empty()) return Record(op, outcome, said, evidence, false);
    }
    // The time since the last operation ended: this one's, with its checks.
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - lastRecord_).count();
    lastRecord_ = now;
    if (options_.verbose || outcome == Outcome::Wrong || outcome == Outcome::Hung ||
        outcome == Outcome::Crashed)
      std::printf("  %-22s %6.1f s  %s%s%s\n", op.c_str(), seconds, OutcomeName(outcome),
                  detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
    if (outcome == Outcome::Wrong || outcome == Outcome::Hung || outcome == Outcome::Crashed) {
      const int n = static_cast<int>(figures_.wrong.size()) + 1;
      char name[96];
      std::snprintf(name, sizeof name, "/rate%g-%s-%d.txt", rate_, OutcomeName(outcome), n);
      std::ofstream f(work_ + name, std::ios::binary);
      f << op << ": " << detail << "\n\n";
      for (const std::string& e : evidence) f << e << "\n";
      f << "\nlast messages:\n";
      for (const std::string& l : gConsole.Lines()) f << l << "\n";
      figures_.wrong.push_back(op + " (" + OutcomeName(outcome) + "): " + detail + " [" + work_ + name + "]");
      std::fflush(stdout);
    }
  }

  // The outcome of a write from its own report (ok: it said it succeeded)
  // and what the register holds now.
  Outcome JudgeWriteOutcome(const std::string& op, bool ok, const Items& before, const Items& intended,
                            std::vector<std::string>& evidence, std::string& detail,
                            int reportedWritten = 0) {
    const WriteJudgement j = JudgeWrite(before, intended, ItemsOf(sim_->State()));
    for (const auto* list : {&j.neither, &j.unwanted, &j.stale})
      evidence.insert(evidence.end(), list->begin(), list->end());
    if (!j.neither.empty() || !j.unwanted.empty()) {
      detail = std::to_string(j.neither.size()) + " values neither old nor new, " +
               std::to_string(j.unwanted.size()) + " values changed that were not written";
      return Outcome::Wrong;
    }
    if (ok && !j.stale.empty()) {
      detail = "reported written, but " + std::to_string(j.stale.size()) + " of " +
               std::to_string(j.changed) + " values are the old ones";
      return Outcome::Wrong;
    }
    if (!ok && j.fresh < reportedWritten) {
      detail = "reported " + std::to_string(reportedWritten) + " written, the register has " +
               std::to_string(j.fresh);
      return Outcome::Wrong;
    }
    (void)op;
    return ok ? Outcome::Ok : Outcome::Failed;
  }

  // ---- in process ----------------------------------------------------------

  // Opens the port and identifies the register as the window's connect does
  // (a failure here fails the operation).
  bool InprocConnect(bool full) {
    if (!port_.Open()) return false;
    if (!protocol_.GetInfo()) return false;
    if (!full) return true;
    if (!protocol_.GetDateTime() || !protocol_.GetOptions()) return false;
    operatorCount_ = protocol_.GetOperatorCount();
    return operatorCount_ > 0;
  }

  // Runs an in-process operation with its event; the port is closed after
  // it, so that zarvikctl can take the line.
  template <typename F>
  bool InprocRun(const std::string& op, double guess, F body) {
    gConsole.Clear();
    zarvik::LastErrorMessage.clear();
    PlanEvent(Expected(op, guess));
    const auto start = Clock::now();
    const bool ok = body();
    Took(op, Seconds(Clock::now() - start).count());
    EndEvent();
    port_.Close();
    return ok;
  }

  Items RandomSettings(const sim::RegisterState& before, zarvik::TKKMInfo& info, int& headerFont,
                       int& footerFont) {
    sim::RegisterState s = before;
    for (int n = 1; n <= kOptions; ++n) {
      const zarvik::TOptionsInfo& o = descriptor_.options[static_cast<std::size_t>(n - 1)];
      int v = random_.Int(o.minValue, o.maxValue);
      if (o.canNull && random_.Chance(0.2)) v = 0;
      s.options[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
      info.optionValues[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
    }
    info.optionCount = kOptions;
    for (int n = 1; n <= kDepartments; ++n) {
      sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      zarvik::TDepRec& r = info.departments[static_cast<std::size_t>(n - 1)];
      RandomDepartment(d);
      r.status = zarvik::LangResStrHandler.Text(d.status == kDepGoods     ? zarvik::ltDepGoods
                                                : d.status == kDepService ? zarvik::ltDepService
                                                                          : zarvik::ltDepClosed);
      r.name = d.name;
      r.taxGroup = d.status == kDepClosed ? "0" : std::string(1, static_cast<char>('A' + d.taxGroup - 1));
      r.price = zarvik::HundredthsToMoney(static_cast<std::int64_t>(d.priceLimit));
    }
    headerFont = random_.Int(0, kHighestFont);
    footerFont = random_.Int(0, kHighestFont);
    info.headerFont = static_cast<std::uint8_t>(headerFont);
    info.footerFont = static_cast<std::uint8_t>(footerFont);
    for (int n = 1; n <= kLines; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      s.header[i] = sim::TextLine{static_cast<std::uint8_t>(headerFont), random_.Text(kLineWidth)};
      s.footer[i] = sim::TextLine{static_cast<std::uint8_t>(footerFont), random_.Text(kLineWidth)};
      info.headerLines[i] = s.header[i].text;
      info.footerLines[i] = s.footer[i].text;
    }
    for (int n = 1; n <= kOperators; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      s.operatorNames[i] = random_.Text(kOperatorNameWidth);
      s.positions[i] = random_.Text(kPositionWidth);
      info.operatorNames[i] = s.operatorNames[i];
      info.positions[i] = s.positions[i];
    }
    return ItemsOf(s);
  }

  void RandomDepartment(sim::Department& d) {
    const int kind = random_.Int(0, 9);
    if (kind == 0) {
      d = sim::Department{};
      d.status = kDepClosed;
      return;
    }
    d.status = kind <= 6 ? kDepGoods : kDepService;
    d.name = random_.Text(kDepartmentNameWidth);
    d.taxGroup = static_cast<std::uint8_t>(random_.Int(1, kTaxGroups));
    d.priceLimit = random_.Chance(0.1) ? 0
                                       : static_cast<std::uint64_t>(random_.Int(1, 999999)) *
                                             static_cast<std::uint64_t>(random_.Int(1, 9999));
  }

  void InprocWriteSettings() {
    const std::string op = "settings write";
    const sim::RegisterState before = sim_->State();
    zarvik::TKKMInfo& info = kkm_.Info();
    std::vector<std::string> evidence;
    std::string detail;
    bool ok = false;
    const bool done = InprocRun(op, 5.0, [&] {
      if (!InprocConnect(false)) return false;
      // What the user edited replaces what was read.
      int headerFont = 0;
      int footerFont = 0;
      intended_ = RandomSettings(before, info, headerFont, footerFont);
      if (!protocol_.SetOptions()) return false;
      for (int n = 1; n <= kDepartments; ++n)
        if (!protocol_.SetDepartment(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.SetHeaderLine(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.SetFooterLine(n)) return false;
      for (int n = 1; n <= kOperators; ++n)
        if (!protocol_.SetOperatorName(n) || !protocol_.SetPosition(n)) return false;
      return true;
    });
    ok = done;
    // Identification failed before anything was chosen: nothing to write.
    const Items intended = intended_.empty() ? ItemsOf(before) : intended_;
    intended_.clear();
    Record(op, JudgeWriteOutcome(op, ok, ItemsOf(before), intended, evidence, detail), detail, evidence);
  }

  Items InprocSettingsItems(int operators) {
    const zarvik::TKKMInfo& info = kkm_.Info();
    Items items;
    for (int n = 1; n <= info.optionCount; ++n)
      items[Key("option", n)] = std::to_string(info.optionValues[static_cast<std::size_t>(n - 1)]);
    const std::string goods = zarvik::LangResStrHandler.Text(zarvik::ltDepGoods);
    const std::string service = zarvik::LangResStrHandler.Text(zarvik::ltDepService);
    for (int n = 1; n <= kDepartments; ++n) {
      const zarvik::TDepRec& d = info.departments[static_cast<std::size_t>(n - 1)];
      const std::uint8_t status = d.status == goods     ? kDepGoods
                                  : d.status == service ? kDepService
                                                        : kDepClosed;
      const std::string tax = zarvik::Utf8ToCp1251(d.taxGroup);
      const int group = tax.size() == 1 ? static_cast<std::uint8_t>(tax[0]) - kTaxLetterBase : -1;
      items[Key("department", n)] =
          status == kDepClosed && (d.name.empty() && d.taxGroup == "0" && d.price == 0.0)
              ? std::string("closed")
              : DepartmentText(status, d.name, group,
                               static_cast<std::uint64_t>(zarvik::MoneyToHundredths(d.price)));
    }
    for (int n = 1; n <= kLines; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("header", n)] = LineText(info.headerFont, info.headerLines[i]);
      items[Key("footer", n)] = LineText(info.footerFont, info.footerLines[i]);
    }
    for (int n = 1; n <= operators; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("operator", n)] = info.operatorNames[i];
      items[Key("position", n)] = info.positions[i];
    }
    return items;
  }

  void InprocReadSettings() {
    const std::string op = "settings read";
    const sim::RegisterState s = sim_->State();
    zarvik::TKKMInfo& info = kkm_.Info();
    const bool ok = InprocRun(op, 7.0, [&] {
      if (!InprocConnect(true)) return false;
      for (int n = 1; n <= info.maxCountDepat; ++n)
        if (!protocol_.GetDepartment(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.GetHeaderLine(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.GetFooterLine(n)) return false;
      for (int n = 1; n <= zarvik::kTaxCount; ++n)
        if (!protocol_.GetTax(n)) return false;
      for (int n = 1; n <= operatorCount_; ++n)
        if (!protocol_.GetOperatorName(n) || !protocol_.GetPosition(n)) return false;
      return true;
    });
    if (!ok) {
      Record(op, Outcome::Failed);
      return;
    }
    std::vector<std::string> diffs = CompareRead(SeenSettings(s, {}), InprocSettingsItems(operatorCount_));
    // Identity, clock and taxes.
    const auto expect = [&](const std::string& what, const std::string& want, const std::string& got) {
      if (want != got) diffs.push_back(what + ": register \"" + want + "\", read \"" + got + "\"");
    };
    expect("model", s.model, info.model);
    expect("serial number", s.serialNumber, info.serialNumber);
    expect("version", s.version, info.version);
    expect("work mode", std::to_string(s.workMode), std::to_string(info.workMode));
    expect("date", s.dateTime.substr(0, 8), info.dateText);
    expect("time", s.dateTime.substr(9, 8), info.timeText);
    expect("goods capacity", std::to_string(kGoodsCapacity), std::to_string(info.maxCountGoods));
    expect("departments", std::to_string(s.maxCountDepat), std::to_string(info.maxCountDepat));
    expect("operators", std::to_string(s.operatorCount), std::to_string(operatorCount_));
    for (int n = 1; n <= zarvik::kTaxCount; ++n) {
      const sim::Tax& t = s.taxes[static_cast<std::size_t>(n - 1)];
      const zarvik::TTaxRec& r = info.taxes[static_cast<std::size_t>(n - 1)];
      expect(Key("tax defined", n), std::to_string(t.defined), std::to_string(r.defined));
      if (t.defined == zarvik::TTaxRec::kDefinedMark) {
        expect(
            Key("tax", n), std::to_string(t.kind) + "|" + std::to_string(t.rateHundredths) + "|" + t.name,
            std::to_string(r.kind) + "|" + std::to_string(zarvik::MoneyToHundredths(r.rate)) + "|" + r.name);
      }
    }
    CountRead(op, diffs);
  }

  void CountRead(const std::string& op, const std::vector<std::string>& diffs) {
    if (!diffs.empty()) {
      Record(op, Outcome::Wrong, std::to_string(diffs.size()) + " values differ, e.g. " + diffs.front(),
             diffs);
      return;
    }
    Record(op, Outcome::Ok);
  }

  // The next batch of goods codes: the batches go round all codes.
  std::vector<int> NextBatch() {
    std::vector<int> codes;
    for (int k = 0; k < options_.batch; ++k) {
      codes.push_back(nextCode_);
      nextCode_ = nextCode_ % kGoodsCapacity + 1;
    }
    return codes;
  }

  // A random goods row for `code` in the goods table, and the record the
  // register is to hold after it is written (nullopt: deleted).
  std::optional<sim::Goods> RandomGoodsRow(zarvik::TWorkTable& t, int code, const sim::RegisterState& before,
                                           bool keepSold) {
    t.Append();
    t.SetInteger("Code", code);
    if (random_.Chance(0.02)) {  // marked for deletion
      t.SetInteger("Type", 0);
      t.SetText("Name", "");
      t.SetInteger("NG", 1);
      t.SetCurrency("Price", zarvik::Currency{});
      t.SetInteger("Section", 0);
      t.Post();
      return std::nullopt;
    }
    sim::Goods g;
    g.code = code;
    const int kind = random_.Int(0, 9);
    g.type = static_cast<std::uint8_t>(kind <= 6 ? kTypeGoods : kind <= 8 ? kTypeService : kTypeContainer);
    g.name = random_.Text(kGoodsNameWidth);
    g.price =
        static_cast<std::uint64_t>(random_.Int(0, 99999)) * static_cast<std::uint64_t>(random_.Int(0, 9999));
    g.taxGroup = static_cast<std::uint8_t>(random_.Int(1, kTaxGroups));
    g.section = static_cast<std::uint8_t>(random_.Int(0, kDepartments));
    const bool blocked = random_.Chance(0.1);
    const bool byPiece = random_.Chance(0.7);
    g.flags = static_cast<std::uint8_t>(blocked ? kFlagBlocked : 0);
    g.barcode.clear();
    const int barcodeKind = random_.Int(0, 3);
    std::string barcode;
    if (barcodeKind > 0) {
      const int digits = barcodeKind == 1 ? 8 : barcodeKind == 2 ? 13 : 20;
      barcode = std::to_string(random_.Int(1, 9));
      for (int i = 1; i < digits; ++i) barcode += std::to_string(random_.Int(0, 9));
    }
    if (g.type == kTypeGoods) {
      if (byPiece) g.flags = static_cast<std::uint8_t>(g.flags | kFlagByPiece);
      g.barcode = barcode;
    }
    const auto old = before.goods.find(code);
    g.sold = keepSold && old != before.goods.end() ? old->second.sold : 0;
    t.SetInteger("Type", g.type);
    t.SetText("Name", g.name);
    t.SetInteger("NG", g.taxGroup);
    t.SetCurrency("Price", zarvik::Currency::FromRaw(static_cast<std::int64_t>(g.price) * 100));
    t.SetInteger("Section", g.section);
    t.SetInteger("Vesovoy", byPiece ? 1 : 2);
    t.SetText("Shtrih", barcode);
    t.SetBoolean("isBlock", blocked);
    t.Post();
    return g;
  }

  Items GoodsIntended(const sim::RegisterState& before,
                      const std::map<int, std::optional<sim::Goods>>& rows) {
    sim::RegisterState s = before;
    for (const auto& [code, g] : rows) {
      if (g) {
        s.goods[code] = *g;
      } else {
        s.goods.erase(code);
      }
    }
    return ItemsOf(s);
  }

  void InprocWriteGoods() {
    const std::string op = "goods write";
    const sim::RegisterState before = sim_->State();
    zarvik::TWorkTable& t = bd_.mtTOBAP;
    zarvik::ClearRows(t);
    const bool keepSold = random_.Chance(0.5);
    std::map<int, std::optional<sim::Goods>> rows;
    for (const int code : NextBatch()) rows[code] = RandomGoodsRow(t, code, before, keepSold);
    zarvik::TKKMInfo& info = kkm_.Info();
    int written = 0;
    const bool ok = InprocRun(op, 0.08 * options_.batch + 1.0, [&] {
      if (!InprocConnect(false)) return false;
      info.keepSoldCount = keepSold;
      for (t.First(); !t.Eof(); t.Next()) {
        if (!zarvik::GoodsRowToRecord(t, info)) return false;
        // As the window writes: a record whose exchange failed is sent again.
        if (!zarvik::SetGoodsResuming(protocol_, {})) return false;
        ++written;
      }
      return true;
    });
    std::vector<std::string> evidence;
    std::string detail;
    const Outcome o =
        JudgeWriteOutcome(op, ok, ItemsOf(before), GoodsIntended(before, rows), evidence, detail, written);
    if (o == Outcome::Ok) figures_.goodsWritten += written;
    Record(op, o, detail, evidence);
  }

  Items ExpectedGoodsSeen(const sim::RegisterState& s, bool withSold) {
    Items items;
    for (const auto& [code, g] : s.goods) items[Key("goods", code)] = GoodsSeenText(g, withSold);
    return items;
  }

  void InprocReadGoods() {
    const std::string op = "goods read";
    const sim::RegisterState s = sim_->State();
    sim::RegisterState copy = s;
    const std::vector<Bytes> expected = sim::ExecuteCommand(copy, Bytes{0x01, 0x10, 0x01, 0x00}, true);
    std::vector<Bytes> frames;
    const bool ok = InprocRun(op, 6.0, [&] {
      if (!InprocConnect(false)) return false;
      // As the window reads: a stream that breaks off goes on where it stopped.
      return zarvik::ReadAllGoodsResuming(
          protocol_,
          [&](zarvik::TMessageBuffer& answer, bool&) {
            const auto v = answer.View();
            frames.emplace_back(v.begin(), v.end());
          },
          {});
    });
    if (!ok) {
      Record(op, Outcome::Failed);
      return;
    }
    CompareFrames(op, expected, frames);
    if (frames == expected) figures_.goodsChecked += static_cast<int>(s.goods.size());
  }

  // A streamed read must hand over exactly the register's frames, in order.
  void CompareFrames(const std::string& op, const std::vector<Bytes>& expected,
                     const std::vector<Bytes>& got) {
    if (got == expected) {
      Record(op, Outcome::Ok);
      return;
    }
    std::vector<std::string> diffs;
    diffs.push_back("frames: register " + std::to_string(expected.size()) + ", delivered " +
                    std::to_string(got.size()));
    for (std::size_t i = 0; i < std::max(expected.size(), got.size()) && diffs.size() < 20; ++i) {
      const Bytes none;
      const Bytes& e = i < expected.size() ? expected[i] : none;
      const Bytes& g = i < got.size() ? got[i] : none;
      if (e != g)
        diffs.push_back("frame " + std::to_string(i + 1) + ": register " +
                        sim::HexBytes(e.data(), std::min<std::size_t>(e.size(), 24)) + "... (" +
                        std::to_string(e.size()) + " bytes), delivered " +
                        sim::HexBytes(g.data(), std::min<std::size_t>(g.size(), 24)) + "... (" +
                        std::to_string(g.size()) + " bytes)");
    }
    Record(op, Outcome::Wrong, diffs.size() > 1 ? diffs[0] + "; " + diffs[1] : diffs[0], diffs);
  }

  void InprocReadJournal() {
    const std::string op = "journal read";
    std::vector<Bytes> frames;
    const bool ok = InprocRun(op, 5.0, [&] {
      if (!InprocConnect(false)) return false;
      return zarvik::ReadJournalResuming(
          protocol_,
          [&](zarvik::TMessageBuffer& answer, bool& more) {
            const auto v = answer.View();
            frames.emplace_back(v.begin(), v.end());
            // As the journal page: the end mark stops the transfer.
            if (v.size() > 2 && v[2] == 9) more = false;
          },
          {});
    });
    if (!ok) {
      Record(op, Outcome::Failed);
      return;
    }
    CompareFrames(op, journalFrames_, frames);
    if (frames == journalFrames_) figures_.journalFrames += static_cast<int>(frames.size());
  }

  // ---- zarvikctl -----------------------------------------------------------

  // Runs one zarvikctl command with its event and, by chance, a kill.
  CtlRun Ctl(const std::string& op, double guess, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(kSoakPort)});
    const Seconds expected = Expected(op, guess);
    std::optional<Seconds> killAt;
    if (random_.Chance(EventChance())) killAt = Seconds(random_.Real(0.0, expected.count()));
    PlanEvent(expected);
    gConsole.Clear();
    CtlRun run = RunCtl(options_.ctl, work_, args, killAt,
                        expected * 4.0 * (1.0 + kRepairAllowancePerPercent * rate_) + kCtlGrace);
    EndEvent();
    if (!run.killed) Took(op, run.seconds);
    if (run.killed && !run.hung) ++figures_.kills;
    return run;
  }

  static std::string LastLine(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1));
  }

  // What became of a zarvikctl run before its data is looked at: nullopt
  // when it says it succeeded.
  std::optional<Outcome> CtlStatus(const CtlRun& run, std::string& detail) {
    if (run.hung) {
      detail = "still running after " + std::to_string(static_cast<int>(run.seconds)) + " s";
      return Outcome::Hung;
    }
    if (run.killed) return Outcome::Killed;
    if (run.signal != 0) {
      detail = "ended by signal " + std::to_string(run.signal) + "; " + run.err;
      return Outcome::Crashed;
    }
    if (run.status == kCtlOk) return std::nullopt;
    if ((run.status == kCtlFailed && run.err.find("Error:") != std::string::npos) ||
        (run.status == kCtlUsage && !run.err.empty())) {
      detail = LastLine(run.err);
      return Outcome::Failed;
    }
    detail = "exit status " + std::to_string(run.status) + " without an error message: " + run.err;
    return Outcome::Wrong;
  }

  void CtlWrite(const std::string& op, double guess, const std::vector<std::string>& args,
                const Items& before, const Items& intended) {
    const CtlRun run = Ctl(op, guess, args);
    std::string detail;
    const std::optional<Outcome> status = CtlStatus(run, detail);
    std::vector<std::string> evidence{"zarvikctl " + Joined(args), "exit " + std::to_string(run.status),
                                      "stderr:", run.err};
    if (status && (*status == Outcome::Hung || *status == Outcome::Crashed || *status == Outcome::Wrong)) {
      Record(op, *status, detail, evidence);
      return;
    }
    const bool ok = !status;
    int reported = 0;
    // "... записано 12 тов." of a failed goods write.
    if (const std::size_t at = run.err.find("записано "); !ok && at != std::string::npos)
      reported = std::atoi(run.err.c_str() + at + std::strlen("записано "));
    Outcome o = JudgeWriteOutcome(op, ok, before, intended, evidence, detail, reported);
    if (o == Outcome::Failed && status) o = *status;  // killed stays killed
    if (o == Outcome::Ok && op == "ctl goods write") figures_.goodsWritten += options_.batch;
    Record(op, o, detail, evidence);
  }

  static std::string Joined(const std::vector<std::string>& args) {
    std::string s;
    for (const std::string& a : args) s += (s.empty() ? "" : " ") + ("'" + a + "'");
    return s;
  }

  template <typename TimeLeft>
  void CtlWriteSettings(const TimeLeft& timeLeft) {
    // Options: all of them in one command.
    {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      std::vector<std::string> args{"options", "set"};
      for (int n = 1; n <= kOptions; ++n) {
        const zarvik::TOptionsInfo& o = descriptor_.options[static_cast<std::size_t>(n - 1)];
        int v = random_.Int(o.minValue, o.maxValue);
        if (o.canNull && random_.Chance(0.2)) v = 0;
        s.options[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
        args.push_back(std::to_string(n) + "=" + std::to_string(v));
      }
      CtlWrite("ctl options set", 1.5, args, ItemsOf(before), ItemsOf(s));
    }
    // A few departments, one command each.
    for (int k = random_.Int(1, 3); k > 0 && timeLeft(); --k) {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      const int n = random_.Int(1, kDepartments);
      sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      RandomDepartment(d);
      std::vector<std::string> args{"departments", "set", std::to_string(n)};
      if (d.status == kDepClosed) {
        args.emplace_back("status=closed");
      } else {
        args.push_back(d.status == kDepGoods ? "status=goods" : "status=service");
        args.push_back("name=" + d.name);
        args.push_back(std::string("group=") + static_cast<char>('A' + d.taxGroup - 1));
        args.push_back("price=" + sim::FormatScaled(d.priceLimit, 2));
      }
      CtlWrite("ctl departments set", 1.5, args, ItemsOf(before), ItemsOf(s));
    }
    if (!timeLeft()) return;
    // Receipt lines: some of them, and the fonts now and then.
    {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      std::vector<std::string> args{"receipt", "set"};
      int headerFont = before.header[0].font;
      int footerFont = before.footer[0].font;
      if (random_.Chance(0.5)) {
        headerFont = random_.Int(0, kHighestFont);
        args.push_back("--header-font");
        args.push_back(std::to_string(headerFont));
      }
      if (random_.Chance(0.5)) {
        footerFont = random_.Int(0, kHighestFont);
        args.push_back("--footer-font");
        args.push_back(std::to_string(footerFont));
      }
      for (int n = 1; n <= kLines; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        if (random_.Chance(0.4)) {
          s.header[i].text = random_.Text(kLineWidth);
          args.push_back("header." + std::to_string(n) + "=" + s.header[i].text);
        }
        if (random_.Chance(0.4)) {
          s.footer[i].text = random_.Text(kLineWidth);
          args.push_back("footer." + std::to_string(n) + "=" + s.footer[i].text);
        }
        // Every line is written, with the block's font.
        s.header[i].font = static_cast<std::uint8_t>(headerFont);
        s.footer[i].font = static_cast<std::uint8_t>(footerFont);
      }
      if (args.size() == 2) {
        s.header[0].text = random_.Text(kLineWidth);
        args.push_back("header.1=" + s.header[0].text);
      }
      CtlWrite("ctl receipt set", 3.0, args, ItemsOf(before), ItemsOf(s));
    }
    // An operator or two.
    for (int k = random_.Int(1, 2); k > 0 && timeLeft(); --k) {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      const int n = random_.Int(1, kOperators);
      const auto i = static_cast<std::size_t>(n - 1);
      std::vector<std::string> args{"operators", "set", std::to_string(n)};
      if (random_.Chance(0.8)) {
        s.operatorNames[i] = random_.Text(kOperatorNameWidth);
        args.push_back("name=" + s.operatorNames[i]);
      }
      if (args.size() == 3 || random_.Chance(0.8)) {
        s.positions[i] = random_.Text(kPositionWidth);
        args.push_back("position=" + s.positions[i]);
      }
      CtlWrite("ctl operators set", 4.0, args, ItemsOf(before), ItemsOf(s));
    }
  }

  // Runs a zarvikctl read; the rows of its --csv output when it succeeded.
  std::optional<std::vector<std::vector<std::string>>> CtlRead(const std::string& op, double guess,
                                                               const std::vector<std::string>& args) {
    const CtlRun run = Ctl(op, guess, args);
    std::string detail;
    if (const std::optional<Outcome> status = CtlStatus(run, detail)) {
      Record(op, *status, detail, {"stderr:", run.err});
      return std::nullopt;
    }
    return CsvRows(run.out);
  }

  template <typename TimeLeft>
  void CtlReadSettings(const TimeLeft& timeLeft) {
    const sim::RegisterState s = sim_->State();
    if (auto rows = CtlRead("ctl options get", 1.5, {"--csv", "options", "get"})) {
      Items read;
      for (const auto& r : *rows)
        if (r.size() >= 2) read[Key("option", std::atoi(r[0].c_str()))] = r[1];
      ItemGroups g{true, false, false, false, false};
      CountRead("ctl options get", CompareRead(SeenSettings(s, g), read));
    }
    if (!timeLeft()) return;
    if (auto rows = CtlRead("ctl departments get", 2.0, {"--csv", "departments", "get"})) {
      const std::string goods = zarvik::LangResStrHandler.Text(zarvik::ltDepGoods);
      const std::string service = zarvik::LangResStrHandler.Text(zarvik::ltDepService);
      Items read;
      for (const auto& r : *rows) {
        if (r.size() < 5) continue;
        const std::uint8_t status = r[1] == goods ? kDepGoods : r[1] == service ? kDepService : kDepClosed;
        const std::string tax = zarvik::Utf8ToCp1251(r[3]);
        const int group = tax.size() == 1 ? static_cast<std::uint8_t>(tax[0]) - kTaxLetterBase : -1;
        read[Key("department", std::atoi(r[0].c_str()))] =
            status == kDepClosed && r[2].empty() && r[3] == "0" && Kopecks(r[4]) == 0
                ? std::string("closed")
                : DepartmentText(status, r[2], group, static_cast<std::uint64_t>(Kopecks(r[4])));
      }
      ItemGroups g{false, true, false, false, false};
      CountRead("ctl departments get", CompareRead(SeenSettings(s, g), read));
    }
    if (!timeLeft()) return;
    if (auto rows = CtlRead("ctl receipt get", 3.0, {"--csv", "receipt", "get"})) {
      Items read;
      int index = 0;
      for (const auto& r : *rows) {
        if (r.size() < 4) continue;
        read[Key(index < kLines ? "header" : "footer", std::atoi(r[1].c_str()))] =
            LineText(std::atoi(r[2].c_str()), r[3]);
        ++index;
      }
      ItemGroups g{false, false, true, false, false};
      CountRead("ctl receipt get", CompareRead(SeenSettings(s, g), read));
    }
    if (!timeLeft()) return;
    if (auto rows = CtlRead("ctl operators get", 4.0, {"--csv", "operators", "get"})) {
      Items read;
      for (const auto& r : *rows) {
        if (r.size() < 3) continue;
        read[Key("operator", std::atoi(r[0].c_str()))] = r[1];
        read[Key("position", std::atoi(r[0].c_str()))] = r[2];
      }
      ItemGroups g{false, false, false, true, false};
      CountRead("ctl operators get", CompareRead(SeenSettings(s, g), read));
    }
  }

  void CtlWriteGoods() {
    const std::string op = "ctl goods write";
    const sim::RegisterState before = sim_->State();
    zarvik::TWorkTable& t = bd_.mtTOBAP;
    zarvik::ClearRows(t);
    const bool keepSold = random_.Chance(0.5);
    std::map<int, std::optional<sim::Goods>> rows;
    for (const int code : NextBatch()) rows[code] = RandomGoodsRow(t, code, before, keepSold);
    // The window's export writes the file zarvikctl reads, as a user would
    // hand it over.
    const bool dbf = random_.Chance(0.5);
    const std::string file = work_ + (dbf ? "/batch.dbf" : "/batch.csv");
    if (!(dbf ? zarvik::ExportGoodsDbf(t, file) : zarvik::ExportGoodsCsv(t, file))) {
      std::fprintf(stderr, "bench_soak: cannot write %s\n", file.c_str());
      return;
    }
    std::vector<std::string> args{"goods", "write", file};
    if (!keepSold) args.emplace_back("--reset-sold");
    CtlWrite(op, 0.08 * options_.batch + 1.5, args, ItemsOf(before), GoodsIntended(before, rows));
  }

  Items TableGoods(zarvik::TWorkTable& t, bool withSold) {
    Items items;
    for (t.First(); !t.Eof(); t.Next()) {
      const int type = static_cast<int>(t.Int("Type"));
      std::optional<std::int64_t> sold;
      if (withSold) sold = t.Cur("Count").raw / (zarvik::Currency::kScale / 1000);
      items[Key("goods", static_cast<int>(t.Int("Code")))] =
          GoodsSeenText(type, t.Int("Vesovoy") == 1, t.Bool("isBlock"), t.Text("Name"),
                        t.Cur("Price").raw / (zarvik::Currency::kScale / 100), static_cast<int>(t.Int("NG")),
                        static_cast<int>(t.Int("Section")), t.Text("Shtrih"), sold);
    }
    return items;
  }

  void CtlReadGoods() {
    const std::string op = "ctl goods read-all";
    const sim::RegisterState s = sim_->State();
    const bool dbf = random_.Chance(0.5);
    const std::string file = work_ + (dbf ? "/all.dbf" : "/all.csv");
    std::filesystem::remove(file);
    const CtlRun run = Ctl(op, 7.0, {"goods", "read-all", "--out", file});
    std::string detail;
    if (const std::optional<Outcome> status = CtlStatus(run, detail)) {
      Record(op, *status, detail, {"stderr:", run.err});
      return;
    }
    // The file as the window's import reads it; a CSV file does not carry
    // the quantities sold back.
    zarvik::TWorkTable& t = bd_.mtTOBAP;
    const bool imported =
        dbf ? zarvik::ImportGoodsDbf(file, t, kGoodsCapacity + 1) : zarvik::ImportGoodsCsv(file, t);
    if (!imported) {
      Record(op, Outcome::Wrong, "reported success, but its file " + file + " does not read back");
      return;
    }
    const std::vector<std::string> diffs = CompareRead(ExpectedGoodsSeen(s, dbf), TableGoods(t, dbf));
    if (diffs.empty()) figures_.goodsChecked += static_cast<int>(s.goods.size());
    if (!diffs.empty()) {
      Record(op, Outcome::Wrong, std::to_string(diffs.size()) + " goods differ, e.g. " + diffs.front(),
             diffs);
      return;
    }
    Record(op, Outcome::Ok);
  }

  void CtlReadJournal() {
    const std::string op = "ctl journal read";
    const std::string file = work_ + "/journal.txt";
    std::filesystem::remove(file);
    const CtlRun run = Ctl(op, 6.0, {"journal", "read", "--data", "--out", file});
    std::string detail;
    if (const std::optional<Outcome> status = CtlStatus(run, detail)) {
      Record(op, *status, detail, {"stderr:", run.err});
      return;
    }
    const std::vector<std::string> lines = SplitLines(zarvik::Cp1251ToUtf8(ReadFile(file)));
    if (lines == journalLines_) {
      figures_.journalFrames += static_cast<int>(journalFrames_.size());
      Record(op, Outcome::Ok);
      return;
    }
    std::vector<std::string> diffs{"lines: register " + std::to_string(journalLines_.size()) + ", file " +
                                   std::to_string(lines.size())};
    for (std::size_t i = 0; i < std::max(lines.size(), journalLines_.size()) && diffs.size() < 20; ++i) {
      const std::string e = i < journalLines_.size() ? journalLines_[i] : "(none)";
      const std::string g = i < lines.size() ? lines[i] : "(none)";
      if (e != g)
        diffs.push_back("line " + std::to_string(i + 1) + ": register \"" + e + "\", file \"" + g + "\"");
    }
    Record(op, Outcome::Wrong, diffs.size() > 1 ? diffs[0] + "; " + diffs[1] : diffs[0], diffs);
  }

  const Options& options_;
  double rate_;
  Random random_;
  RateFigures& figures_;
  std::string work_;
  std::unique_ptr<sim::Simulator> sim_;
  std::unique_ptr<EventThread> events_;
  int plannedFreeze_ = 0;
  zarvik::TComPort port_;
  zarvik::TKKM kkm_{&port_};
  zarvik::TProtocolKKM protocol_{&kkm_};
  zarvik::TBD bd_;
  zarvik::TKKMInfo descriptor_;
  int operatorCount_ = 0;
  int nextCode_ = 1;
  Items intended_;
  std::vector<Bytes> journalFrames_;
  std::vector<std::string> journalLines_;
  std::map<std::string, double> durations_;
};

}  // namespace
