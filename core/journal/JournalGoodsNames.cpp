#include "journal/JournalGoodsNames.h"

#include "store/WorkTable.h"

namespace zarvik {

TGoodsNames GoodsNamesOf(const TWorkTable& goods) {
  TGoodsNames names;
  const int code = goods.FieldIndex("Code");
  const int name = goods.FieldIndex("Name");
  if (code < 0 || name < 0) return names;
  for (int row = 0; row < goods.StoredRowCount(); ++row) {
    const auto* c = std::get_if<std::int64_t>(&goods.StoredValue(row, code));
    const auto* n = std::get_if<std::string>(&goods.StoredValue(row, name));
    if (c == nullptr || n == nullptr || n->empty()) continue;
    names.emplace(*c, *n);
  }
  return names;
}

}  // namespace zarvik
