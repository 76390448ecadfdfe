// Field definitions of the dataset components: the engine's
// field-type codes and their mapping onto the class library's field types,
// the per-field engine definitions, the empty values of the record image, and
// the number and date texts the value conversion uses.
#ifndef CHECKER_KIVFIELDS_H
#define CHECKER_KIVFIELDS_H

#include <cstdint>
#include <string>
#include <string_view>

#include "kivds/db.h"
#include "qel32.h"

namespace checker {

class TKivDataSet;

// Dates cross the engine boundary as the native day count (0001-01-01 = 1)
// plus this; times as milliseconds since midnight.
constexpr int32_t kJulianOffset = KIV_JULIAN_DAY_BEFORE_0001_01_01;
constexpr int64_t kMSecsPerDay = 86400000;

// The engine's definition of one field of the open table or cursor.
class TQELFieldDef : public kivds::TCollectionItem {
 public:
  std::string Name;         // up to 128 characters
  uint16_t FieldNo = 0;     // 1-based
  uint32_t Offset = 0;      // in the record image (KivGetFieldOffset)
  uint32_t Length = 0;      // bytes in the record image (KivGetFieldLength)
  uint16_t EngineType = 0;  // KivGetFieldType
  uint16_t Decimals = 0;    // KivGetFieldDecimals, read for numeric fields
  uint8_t Assigned = 0;     // given a value since the record was initialised or edited
  uint8_t Permissions = 0;  // KivGetColumnPermissions

  bool UpdateAllowed() const { return (Permissions & KIV_COLPERM_UPDATE) != 0; }
  bool InsertAllowed() const { return (Permissions & KIV_COLPERM_INSERT) != 0; }
  bool IsBlob() const { return EngineType >= KIV_FT_MEMO && EngineType <= KIV_FT_VARCHAR; }
  bool IsCharacter() const {
    return EngineType == KIV_FT_CHARACTER || EngineType == KIV_FT_CICHARACTER;
  }
};

// The engine definitions in field-number order, with their dataset.
class TQELFieldDefs : public kivds::TCollection<TQELFieldDef> {
 public:
  explicit TQELFieldDefs(TKivDataSet* owner) : owner_(owner) {}
  TKivDataSet* Owner() const { return owner_; }
  // Index of a name compared in the user locale without case
  // (CompareStringA with NORM_IGNORECASE); -1 when absent.
  int IndexOf(std::string_view name) const;
  TQELFieldDef* Find(std::string_view name) const;  // nullptr when absent
  TQELFieldDef* ByNumber(int fieldNo) const;        // nullptr when out of range

 private:
  TKivDataSet* owner_;
};

// A string field that knows whether its engine column compares without case
// (engine type 20). The dataset sets the flag when it opens.
class TKivStringField : public kivds::TStringField {
 public:
  explicit TKivStringField(kivds::TComponent* owner) : TStringField(owner, kivds::ftString) {}
  bool CaseInsensitive() const { return caseInsensitive_; }

 private:
  friend class TKivDataSet;
  bool caseInsensitive_ = false;
};

// A BCD field that is a currency value unless the dataset says otherwise.
class TKivBCDField : public kivds::TBCDField {
 public:
  explicit TKivBCDField(kivds::TComponent* owner);
};

// The class library's field type, Size and Precision for an engine field.
struct TEngineFieldMapping {
  kivds::TFieldType type = kivds::ftUnknown;
  int size = 0;
  int precision = 0;  // 0 = not set
};

// The mapping from engine types to field classes. Numeric fields (2): on engine table type 3
// without NumericsAsFloats, decimals above 4 or length above 18 give ftFMTBcd,
// else ftBCD (Size = decimals, Precision = length - 2 with decimals, else
// length - 1); otherwise decimals or a length above 4 give ftFloat, else
// ftSmallint. Any other code raises "Unknown field type (N) encountered."
// (5121) for `dataSet`.
TEngineFieldMapping MapEngineFieldType(TKivDataSet* dataSet, uint16_t engineType, uint32_t length,
                                       uint16_t decimals, uint16_t engineTableType,
                                       bool numericsAsFloats);

// Whether a field's bytes in the record image hold its empty value, by the
// rules for the engine table type (3 = the engine's own KDT format).
bool IsEmptyFieldImage(uint16_t engineTableType, uint16_t engineType, const uint8_t* field,
                       uint32_t length);
// Writes a field's empty value into the record image.
void BlankFieldImage(uint16_t engineTableType, uint16_t engineType, uint8_t* field,
                     uint32_t length);

// Compact dates (engine type 9): bytes b0 b1 b2 hold year = b0 * 128 + b1 / 2,
// month = (b1 & 1) * 8 + b2 / 32, day = b2 & 31.
std::string CompactDateToText(const uint8_t bytes[3]);  // "YYYYMMDD"
// From the first 8 characters of a "YYYYMMDD" text; raises EConvertError.
void TextToCompactDate(std::string_view text, uint8_t bytes[3]);

// A BCD value in fixed format, like FloatToStrF with ffFixed: rounded (half
// away from zero) to `precision` significant digits, then written with
// `digits` decimals and the locale decimal separator. A value that needs more
// than `precision` digits before the separator comes out in exponent form
// ("1.234E+005").
std::string BcdToStrF(const kivds::TBcd& value, int precision, int digits);

}  // namespace checker

#endif
