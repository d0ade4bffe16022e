// The dBASE reader on arbitrary bytes: opening, filtering and reading every
// field of every record must never crash or read outside the image.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/Dbf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvik;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TDbfTable t;
  if (t.OpenBytes(bytes) != DbfResult::Ok) return 0;
  std::string text;
  std::int64_t number = 0;
  double real = 0;
  bool flag = false;
  for (int pass = 0; pass < 2; ++pass) {
    for (bool ok = t.First(); ok; ok = t.Next()) {
      for (int f = 0; f < t.FieldCount(); ++f) {
        t.GetText(f, text);
        t.GetInt(f, number);
        t.GetDouble(f, real);
        t.GetBool(f, flag);
        t.IsBlank(f);
      }
    }
    // A filter on the first field with the text of the first record.
    if (t.FieldCount() == 0 || !t.First()) break;
    t.GetText(0, text);
    if (t.SetFilterConditions({{t.Field(0).name, text}}) != DbfResult::Ok) break;
    t.SetFiltered(true);
  }
  t.SetFiltered(false);
  if (t.First() && t.Edit() == DbfResult::Ok) {
    for (int f = 0; f < t.FieldCount(); ++f) t.SetText(f, "1");
    t.Post();
  }
  t.Delete();
  (void)t.Image();
  return 0;
}
