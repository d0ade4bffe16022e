// The in-memory working table behind every page: typed fields, rows in
// insertion order, a cursor, browse/edit/insert states, a profile filter on
// one text field and the row events the data module hangs its rules on.
//
// Text is UTF-8; String(n) fields hold at most n characters (longer text is
// cut); the empty text is the null value. Failures are reported as a result
// code with LastError, never thrown.
//
// Grids follow a table through IWorkTableObserver. Row numbers in the
// notifications are positions among the rows a grid shows: the rows visible
// through the filter, followed in insert state by the row being inserted.
// DisableControls/EnableControls suspend the notifications for a bulk change
// (the grid's data link disabled); the last EnableControls sends one Reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zarvik {

// Fixed-point money and quantities: four decimals in a 64-bit integer.
struct Currency {
  static constexpr std::int64_t kScale = 10000;
  std::int64_t raw = 0;  // value * 10000

  static Currency FromRaw(std::int64_t r) { return Currency{r}; }
  friend bool operator==(Currency a, Currency b) { return a.raw == b.raw; }
};
// Text "[-]digits[(.|,)digits]" (blanks around are ignored); more than four
// decimals are rounded half away from zero. False when it is not a number or
// does not fit.
bool CurrencyFromText(std::string_view text, Currency& out);
// Shortest decimal form: "25.5", "0", "-0.0001"; `separator` between the
// whole and the fraction.
std::string CurrencyToText(Currency value, char separator = '.');
// Nearest representable value; false when the double is not finite or too large.
bool CurrencyFromDouble(double value, Currency& out);
double CurrencyToDouble(Currency value);

// The decimal separator of the user's locale (LC_NUMERIC of the environment),
// used where numbers become text for the user and for the files that follow
// the user's settings. Tests may set it.
char DecimalSeparator();
void SetDecimalSeparator(char separator);

enum class TFieldType { Integer, String, Currency, Float, Boolean, CalcString };

enum class WtResult {
  Ok = 0,
  NotActive,
  NoCurrentRow,
  NotEditing,
  UnknownField,
  ConversionError,
  ReadOnlyField,
  BadFilter,
  DuplicateKey,
};
std::string WtResultText(WtResult result);

// A stored value: null, integer (Integer fields, Currency fields as raw
// fixed point), text, float or boolean.
using WtValue = std::variant<std::monostate, std::int64_t, std::string, double, bool>;

class TWorkTable;

enum class TFieldAlignment { Default, Left, Right, Center };

struct TWorkField {
  std::string name;
  TFieldType type = TFieldType::String;
  int size = 0;               // String and CalcString: characters
  std::string displayLabel;   // grid column caption; the name when empty
  int displayWidth = 0;       // characters; 0 = not set
  std::string displayFormat;  // numeric fields: "#", "#0.000", ...
  TFieldAlignment alignment = TFieldAlignment::Default;
  bool visible = true;
  WtValue defaultValue;  // applied by Append
  // After a new value is stored in the field (pending row).
  std::function<void(TWorkTable&, TWorkField&)> onChange;

  bool IsNumeric() const {
    return type == TFieldType::Integer || type == TFieldType::Currency || type == TFieldType::Float;
  }
  bool IsCalculated() const { return type == TFieldType::CalcString; }
  const std::string& Caption() const { return displayLabel.empty() ? name : displayLabel; }
};

class IWorkTableObserver {
 public:
  virtual ~IWorkTableObserver() = default;
  virtual void RowsInserted(int first, int count) = 0;
  virtual void RowsRemoved(int first, int count) = 0;
  virtual void RowChanged(int row) = 0;
  virtual void CurrentChanged(int row) = 0;  // -1: no current row
  virtual void Reset() = 0;                  // everything may have changed
};

class TWorkTable {
 public:
  enum class State { Inactive, Browse, Edit, Insert, CalcFields };
  using Event = std::function<void(TWorkTable&)>;

  explicit TWorkTable(std::string name);
  TWorkTable(const TWorkTable&) = delete;
  TWorkTable& operator=(const TWorkTable&) = delete;

  const std::string& Name() const { return name_; }

  // Definition (before Open). Returns the new field for its display settings.
  TWorkField& AddField(std::string name, TFieldType type, int size = 0);
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TWorkField& Field(int index) { return fields_[static_cast<std::size_t>(index)]; }
  const TWorkField& Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
  int FieldIndex(std::string_view name) const;  // without regard to case; -1 when missing
  TWorkField* FindField(std::string_view name);

  // Open empty; Close discards every row.
  void Open();
  void Close();
  bool Active() const { return state_ != State::Inactive; }
  State GetState() const { return state_; }

  // A unique ordered key (before or after Open, while the table is empty):
  // the rows keep the ascending order of this integer field, rows without a
  // value after the others in the order they came, and no two rows share a
  // value. A post that would repeat a value fails with DuplicateKey and
  // leaves the row in edit or insert state; a posted row takes its place.
  void SetUniqueKey(std::string_view field);
  int UniqueKey() const { return keyField_; }

  // Rows and cursor.
  WtResult Append();  // empty row with defaults at the end, insert state
  // Edit state on the current row. With no row visible it appends instead
  // (what the grids and workflows expect of an empty table).
  WtResult Edit();
  WtResult Post();
  void Cancel();
  WtResult Delete();  // the next visible row becomes current, else the previous one
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecordCount() const;  // rows visible through the filter (not the one being inserted)
  int RecNo() const;        // 1-based position of the current row among them; 0 when none
  // Makes the visible row at 1-based position `recNo` current.
  bool SetRecNo(int recNo);

  // Filter: the only form is "<field>='<text>'" ("LN='5'").
  WtResult SetFilter(std::string_view expression);
  const std::string& Filter() const { return filterText_; }
  void SetFiltered(bool on);
  bool Filtered() const { return filtered_; }

  // Values of the current row (the pending one in edit or insert state).
  // Text never fails: an empty numeric field reads as "", a number as its
  // decimal text (decimal separator of DecimalSeparator for Currency and
  // Float), a boolean as "True"/"False".
  std::string Text(std::string_view field) const;
  std::string Text(int field) const;
  bool IsNull(std::string_view field) const;
  bool IsNull(int field) const;
  // The stored value of `field` (an index) as it is: Currency fields hold the
  // raw fixed point; null for an index out of range. For bulk readers that
  // resolve their fields once.
  const WtValue& Value(int field) const { return ValueOf(field); }
  // Numbers: an empty numeric field reads as 0; a String field is parsed and
  // an empty or non-numeric text is a conversion error.
  WtResult GetInteger(std::string_view field, std::int64_t& out) const;
  WtResult GetCurrency(std::string_view field, Currency& out) const;
  WtResult GetFloat(std::string_view field, double& out) const;
  WtResult GetBoolean(std::string_view field, bool& out) const;
  // Shorthands: the value, or 0 / false after a conversion error.
  std::int64_t Int(std::string_view field) const;
  Currency Cur(std::string_view field) const;
  double Flt(std::string_view field) const;
  bool Bool(std::string_view field) const;

  // Setting needs edit or insert state (calculated fields: the calculation
  // event). Text written to a numeric field is parsed (the empty text gives
  // null); a number written to a String field becomes its decimal text.
  WtResult SetText(std::string_view field, std::string_view text);
  WtResult SetInteger(std::string_view field, std::int64_t value);
  WtResult SetCurrency(std::string_view field, Currency value);
  WtResult SetFloat(std::string_view field, double value);
  WtResult SetBoolean(std::string_view field, bool value);
  WtResult SetNull(std::string_view field);
  WtResult SetText(int field, std::string_view text);
  WtResult SetValue(int field, const WtValue& value);  // typed, no parsing

  const std::string& LastError() const { return lastError_; }

  // Events.
  Event afterInsert;
  Event beforePost;
  Event afterPost;
  Event beforeScroll;
  Event afterScroll;
  Event onCalcFields;

  // Grid support. `row` counts the rows a grid shows (see the file comment).
  int ViewRowCount() const;
  std::string ViewText(int row, int field) const;
  const WtValue& ViewValue(int row, int field) const;
  int CurrentViewRow() const;
  // Every posted row whatever the filter shows, in table order (rows of all
  // profiles side by side): for comparing the rows of two profiles. Null for
  // a row or field out of range and for calculated fields.
  int StoredRowCount() const { return static_cast<int>(rows_.size()); }
  const WtValue& StoredValue(int row, int field) const;
  void AddObserver(IWorkTableObserver* observer);
  void RemoveObserver(IWorkTableObserver* observer);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

 private:
  struct Row {
    std::vector<WtValue> values;
  };

  WtResult Fail(WtResult result, const std::string& detail) const;
  // Where a row with key value `key` belongs in rows_ (rows_ without the
  // row at `self`, kNone for none); `taken` tells whether another row holds
  // that value.
  std::size_t KeyPlace(const WtValue& key, std::size_t self, bool& taken) const;
  int Resolve(std::string_view field) const;
  bool Visible(std::size_t row) const;
  std::size_t NextVisible(std::size_t from) const;  // npos when none
  std::size_t PriorVisible(std::size_t before) const;
  int VisibleIndex(std::size_t row) const;  // -1 when not visible
  const std::vector<WtValue>& CurrentValues() const;
  const WtValue& ValueOf(int field) const;
  void Calculate(const std::vector<WtValue>& row) const;
  WtResult Store(int field, WtValue value);
  bool CheckBrowseMode();
  void MoveTo(std::size_t row, bool alwaysEvents);
  std::string ValueText(const TWorkField& f, const WtValue& v) const;
  WtResult ConvertText(const TWorkField& f, std::string_view text, WtValue& out) const;
  WtResult ToInteger(int field, const WtValue& v, std::int64_t& out) const;

  // Notifications.
  void NotifyInserted(int first);
  void NotifyRemoved(int first);
  void NotifyChanged(int row);
  void NotifyCurrent();
  void NotifyReset();

  std::string name_;
  std::vector<TWorkField> fields_;
  std::vector<Row> rows_;
  State state_ = State::Inactive;
  std::size_t cursor_ = static_cast<std::size_t>(-1);  // physical row; npos when none
  bool eof_ = true;
  bool bof_ = true;
  Row pending_;
  bool modified_ = false;
  std::string filterText_;
  int filterField_ = -1;
  std::string filterValue_;
  bool filtered_ = false;
  int keyField_ = -1;  // the unique ordered key, -1 when none
  // Calculated values of the row last calculated; recomputed on each read.
  mutable std::vector<WtValue> calc_;
  mutable const std::vector<WtValue>* calcRow_ = nullptr;
  mutable std::string lastError_;
  std::vector<IWorkTableObserver*> observers_;
  int disableCount_ = 0;
  bool changedWhileDisabled_ = false;
};

// The visible rows of `table`: goes to the first one and counts to the end
// (the cursor ends at the end of the table).
int CountRows(TWorkTable& table);
// Deletes the visible rows of `table`, from the last, until none is shown.
void ClearRows(TWorkTable& table);

}  // namespace zarvik
