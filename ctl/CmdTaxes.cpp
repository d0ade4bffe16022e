#include "CtlSession.h"

#include "CtlOutput.h"
#include "shell/DiaLog.h"

namespace zarvik::ctl {
namespace {

constexpr std::uint8_t kTaxDefined = TTaxRec::kDefinedMark;

}  // namespace

int TCtlSession::CmdTaxesGet() {
  if (!Connect()) return ceFailed;
  for (int n = 1; n <= kTaxCount; ++n)
    if (!protocol_.GetTax(n)) return Fail("не удалось получить информацию о налогах");
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Определен", "Наименование", "Тип", "Процент"}, {}};
  for (int n = 1; n <= kTaxCount; ++n) {
    const TTaxRec& t = i.taxes[static_cast<std::size_t>(n - 1)];
    const bool defined = t.defined == kTaxDefined;
    std::string kind;
    if (defined) kind = t.kind == 0 ? "Начисляемый" : t.kind == 1 ? "Выделяемый" : std::to_string(t.kind);
    table.rows.push_back({std::to_string(n), defined ? "да" : "нет", defined ? t.name : "", kind,
                          defined ? MoneyText(t.rate) : ""});
  }
  PrintTable(out_, table, args_.csv);
  Mess("Загружена информация о налогах", false, true, true);
  return ceOk;
}

}  // namespace zarvik::ctl
