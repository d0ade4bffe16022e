#include "CtlSession.h"

#include "CtlOutput.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"

namespace zarvik::ctl {
namespace {

constexpr std::size_t kDepartmentNameWidth = 22;
constexpr std::int64_t kPriceLimitKopecks = 9999999999;  // ten BCD digits

}  // namespace

int TCtlSession::CmdDepartmentsGet() {
  if (!Connect()) return ceFailed;
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Статус", "Наименование", "НГ", "Цена"}, {}};
  TProgress progress(err_, "отделы");
  for (int n = 1; n <= i.DepartmentCount(); ++n) {
    progress.Show(n, i.DepartmentCount());
    if (!protocol_.GetDepartment(n)) return Fail("не удалось получить информацию о отделах");
  }
  progress.Done();
  for (int n = 1; n <= i.DepartmentCount(); ++n) {
    const TDepRec& d = i.departments[static_cast<std::size_t>(n - 1)];
    table.rows.push_back({std::to_string(n), d.status, d.name, d.taxGroup, MoneyText(d.price)});
  }
  PrintTable(out_, table, args_.csv);
  Mess("Отделы загружены", false, true, true);
  return ceOk;
}

int TCtlSession::CmdDepartmentsSet() {
  std::int64_t number = 0;
  if (words_.size() < 3 || !ParseInteger(words_[2], 1, kMaxDepartments, number))
    return Usage("departments set needs a department number 1..99");
  if (words_.size() < 4) return Usage("departments set needs at least one of status=, name=, group=, price=");
  const std::string goods = LangResStrHandler.Text(ltDepGoods);
  const std::string service = LangResStrHandler.Text(ltDepService);
  const std::string closed = LangResStrHandler.Text(ltDepClosed);
  std::string status;
  std::string name;
  std::string group;
  Currency price;
  bool hasStatus = false;
  bool hasName = false;
  bool hasGroup = false;
  bool hasPrice = false;
  for (std::size_t k = 3; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    if (!SplitAssignment(words_[k], key, value)) return Usage("\"" + words_[k] + "\" is not KEY=VALUE");
    if (key == "status") {
      const std::string v = Utf8Lower(value);
      if (v == Utf8Lower(goods) || v == "goods")
        status = goods;
      else if (v == Utf8Lower(service) || v == "service")
        status = service;
      else if (v == Utf8Lower(closed) || v == "closed")
        status = closed;
      else
        return Usage("status: \"" + value + "\" is not " + goods + ", " + service + " or " + closed);
      hasStatus = true;
    } else if (key == "name") {
      std::string error;
      if (!FitsRegisterText("name", value, kDepartmentNameWidth, error)) return Usage(error);
      name = value;
      hasName = true;
    } else if (key == "group") {
      group = Utf8Upper(value);
      if (!(group.size() == 1 && group[0] >= 'A' && group[0] <= 'E'))
        return Usage("group: \"" + value + "\" is not a tax group A..E");
      hasGroup = true;
    } else if (key == "price") {
      if (!CurrencyFromText(value, price) || price.raw < 0 || price.raw % 100 != 0 ||
          price.raw / 100 > kPriceLimitKopecks)
        return Usage("price: \"" + value + "\" is not an amount in roubles with at most two decimals");
      hasPrice = true;
    } else {
      return Usage("unknown department field \"" + key + "\" (status, name, group, price)");
    }
  }
  if (!Connect()) return ceFailed;
  TKKMInfo& i = Info();
  if (number > i.DepartmentCount())
    return Usage("the register has " + std::to_string(i.DepartmentCount()) + " departments");
  const int n = static_cast<int>(number);
  // The backup reads every department, this one among them.
  if (BackupsOn()) {
    if (!BackupSettings(stDepartments)) return ceFailed;
  } else if (!protocol_.GetDepartment(n)) {
    return Fail("не удалось получить информацию о отделах");
  }
  TDepRec& d = i.departments[static_cast<std::size_t>(n - 1)];
  if (hasStatus) d.status = status;
  if (hasName) d.name = name;
  if (hasGroup) d.taxGroup = group;
  if (hasPrice) d.price = HundredthsToMoney(price.raw / 100);
  if (d.status == closed) {
    if (!hasStatus && (hasName || hasGroup || hasPrice))
      return Usage("department " + std::to_string(n) + " is closed; open it with status=" + goods + " or " +
                   service);
    // A closed department keeps neither name, tax group nor price.
    d.name.clear();
    d.taxGroup.clear();
    d.price = 0.0;
  } else if (d.status != goods && d.status != service) {
    return Usage("department " + std::to_string(n) + " needs status=" + goods + " or " + service);
  }
  if (!protocol_.SetDepartment(n)) return Fail("не удалось записать информацию о отделах");
  Done("Записаны отделы");
  return ceOk;
}

}  // namespace zarvik::ctl
