// Field-type mapping, empty values and the number and date texts,
// as tables of cases over pure functions.
#include <cstring>

#include "test_support.h"

using namespace checker;
using namespace kivds;

namespace {

struct MappingCase {
  uint16_t code;
  uint32_t length;
  uint16_t decimals;
  TFieldType type;
  int size;
  int precision;
};

// Every engine field-type code on a KDT table (engine table type 3).
const MappingCase kKdtMappings[] = {
    {1, 1, 0, ftBoolean, 0, 0},    {2, 10, 2, ftBCD, 2, 8},      {3, 4, 0, ftDate, 0, 0},
    {4, 25, 0, ftString, 25, 0},   {5, 8, 0, ftMemo, 1, 0},      {6, 8, 0, ftBlob, 1, 0},
    {7, 8, 0, ftBlob, 1, 0},       {8, 8, 0, ftMemo, 1, 0},      {9, 3, 0, ftDate, 0, 0},
    {10, 8, 2, ftFloat, 0, 0},     {11, 4, 0, ftInteger, 0, 0},  {12, 2, 0, ftSmallint, 0, 0},
    {13, 4, 0, ftTime, 0, 0},      {14, 8, 0, ftDateTime, 0, 0}, {15, 4, 0, ftAutoInc, 0, 0},
    {16, 6, 0, ftBytes, 6, 0},     {17, 8, 0, ftCurrency, 0, 0}, {18, 8, 4, ftBCD, 4, 20},
    {20, 12, 0, ftString, 12, 0},  {21, 8, 0, ftBCD, 0, 20},     {22, 8, 0, ftDateTime, 0, 0},
};

TEST(FieldMappingTest, EveryEngineCodeMapsToItsFieldType) {
  for (const MappingCase& c : kKdtMappings) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    const TEngineFieldMapping m = MapEngineFieldType(nullptr, c.code, c.length, c.decimals, KIV_TABLE_KDT, false);
    EXPECT_EQ(m.type, c.type);
    EXPECT_EQ(m.size, c.size);
    EXPECT_EQ(m.precision, c.precision);
  }
}

TEST(FieldMappingTest, UnknownCodesRaiseThePartsText) {
  for (uint16_t code : {0, 19, 23, 51, 52, 65535}) {
    try {
      MapEngineFieldType(nullptr, code, 8, 0, KIV_TABLE_KDT, false);
      FAIL() << code;
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.Message(), "Unknown field type (" + std::to_string(code) + ") encountered.");
      EXPECT_EQ(e.EngineErrorCode, kKivOwnError);
    }
  }
}

struct NumericCase {
  uint16_t tableType;
  bool asFloats;
  uint32_t length;
  uint16_t decimals;
  TFieldType type;
  int size;
  int precision;
};

TEST(FieldMappingTest, TheNumericWidthRule) {
  const NumericCase cases[] = {
      // KDT, numerics as BCD: Size = decimals, Precision = length - 2 (with decimals) or length - 1.
      {KIV_TABLE_KDT, false, 5, 0, ftBCD, 0, 4},
      {KIV_TABLE_KDT, false, 10, 2, ftBCD, 2, 8},
      {KIV_TABLE_KDT, false, 10, 4, ftBCD, 4, 8},
      {KIV_TABLE_KDT, false, 10, 5, ftFMTBcd, 5, 8},  // decimals above 4
      {KIV_TABLE_KDT, false, 18, 0, ftBCD, 0, 17},
      {KIV_TABLE_KDT, false, 19, 0, ftFMTBcd, 0, 18},  // length above 18
      {KIV_TABLE_KDT, false, 1, 0, ftBCD, 0, 0},
      // KDT with KivNumericsAsFloats, and the DBF types.
      {KIV_TABLE_KDT, true, 5, 0, ftFloat, 0, 0},
      {KIV_TABLE_KDT, true, 4, 0, ftSmallint, 0, 0},
      {KIV_TABLE_CDX, false, 5, 0, ftFloat, 0, 0},  // NUMERIC(5,0)
      {KIV_TABLE_CDX, false, 4, 0, ftSmallint, 0, 0},  // NUMERIC(4,0)
      {KIV_TABLE_CDX, false, 4, 1, ftFloat, 0, 0},
      {KIV_TABLE_NTX, false, 3, 0, ftSmallint, 0, 0},
      {KIV_TABLE_NTX, false, 20, 4, ftFloat, 0, 0},
  };
  for (const NumericCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.tableType) + (c.asFloats ? " floats " : " ") + std::to_string(c.length) +
                 "," + std::to_string(c.decimals));
    const TEngineFieldMapping m = MapEngineFieldType(nullptr, KIV_FT_NUMERIC, c.length, c.decimals, c.tableType,
                                                     c.asFloats);
    EXPECT_EQ(m.type, c.type);
    EXPECT_EQ(m.size, c.size);
    EXPECT_EQ(m.precision, c.precision);
  }
}

struct EmptyCase {
  uint16_t tableType;
  uint16_t code;
  std::vector<uint8_t> bytes;
  bool empty;
};

std::vector<uint8_t> Words(uint32_t low, uint32_t high) {
  std::vector<uint8_t> b(8);
  std::memcpy(b.data(), &low, 4);
  std::memcpy(b.data() + 4, &high, 4);
  return b;
}
std::vector<uint8_t> Word(uint32_t v) {
  std::vector<uint8_t> b = Words(v, 0);
  b.resize(4);
  return b;
}
std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(EmptyValueTest, EmptyValuesPerTableType) {
  const uint16_t K = KIV_TABLE_KDT, C = KIV_TABLE_CDX, N = KIV_TABLE_NTX;
  const EmptyCase cases[] = {
      // The engine's own tables.
      {K, 1, Text(" "), true},
      {K, 1, Text("F"), false},
      {K, 1, {0}, false},
      {K, 2, {0, 0, 0, 0, 0}, true},
      {K, 2, Text("    0"), false},
      {K, 2, Text("     "), false},
      {K, 3, {0, 0, 0, 0}, true},
      {K, 4, {0, 0, 0}, true},
      {K, 4, Text("   "), false},
      {K, 9, {0, 0, 0}, true},
      {K, 16, {0, 0}, true},
      {K, 20, {0, 0}, true},
      {K, 5, Word(0), true},
      {K, 6, Word(0xFFFFFFFF), false},
      {K, 7, Word(0), true},
      {K, 8, Word(0xFFFFFFFF), false},
      {K, 10, Words(0x20, 0x80000000), true},
      {K, 10, Words(0, 0), false},
      {K, 17, Words(0x20, 0x80000000), true},
      {K, 11, Word(0x80000000), true},
      {K, 11, Word(0), false},
      {K, 12, {0x00, 0x80}, true},
      {K, 12, {0x00, 0x00}, false},
      {K, 13, Word(0xFFFFFFFF), true},
      {K, 13, Word(0), false},
      {K, 15, Word(0xFFFFFFFF), true},
      {K, 14, Words(0, 0xFFFFFFFF), true},
      {K, 14, Words(0, 5), true},  // day 0, whatever the milliseconds
      {K, 14, Words(2460370, 0), false},
      {K, 22, Words(0, 0), true},
      {K, 18, Words(0, 0x80000000), true},
      {K, 18, Words(0, 0), false},
      {K, 21, Words(0, 0x80000000), true},
      {K, 19, {1, 2, 3}, true},  // other codes count as empty
      // DBF tables.
      {C, 1, Text(" "), true},
      {C, 1, {0}, true},
      {C, 1, Text("T"), false},
      {C, 2, Text("   "), true},
      {C, 2, {0, ' ', 0}, true},
      {C, 2, Text("  1"), false},
      {C, 4, Text("  "), true},
      {C, 4, Text("a "), false},
      {N, 3, Text("        "), true},
      {N, 3, Text("20240229"), false},
      {N, 3, Word(0), true},  // a 4-byte date of day 0
      {N, 3, Word(2460370), false},
      {C, 5, Word(0), true},
      {C, 5, Word(0xFFFFFFFF), false},
      {C, 9, {0, 0, 0}, true},
      {C, 9, Text("   "), false},
      {C, 10, Words(0, 0), false},  // never empty
      {C, 11, Word(0), false},
      {C, 12, {0, 0}, false},
      {C, 17, Words(0, 0), false},
      {C, 13, Word(5), true},  // other codes count as empty
      {C, 20, Text("abc"), true},
  };
  for (const EmptyCase& c : cases) {
    SCOPED_TRACE("table " + std::to_string(c.tableType) + " code " + std::to_string(c.code));
    EXPECT_EQ(IsEmptyFieldImage(c.tableType, c.code, c.bytes.data(), static_cast<uint32_t>(c.bytes.size())),
              c.empty);
  }
}

struct BlankCase {
  uint16_t tableType;
  uint16_t code;
  uint32_t length;
  std::vector<uint8_t> bytes;
};

TEST(EmptyValueTest, BlankingWritesTheEmptyValues) {
  const uint16_t K = KIV_TABLE_KDT, C = KIV_TABLE_CDX;
  const BlankCase cases[] = {
      {K, 1, 1, Text(" ")},
      {K, 2, 4, {0, 0, 0, 0}},
      {K, 3, 4, {0, 0, 0, 0}},
      {K, 4, 3, {0, 0, 0}},
      {K, 9, 3, {0, 0, 0}},
      {K, 16, 2, {0, 0}},
      {K, 20, 2, {0, 0}},
      {K, 10, 8, Words(0x20, 0x80000000)},
      {K, 17, 8, Words(0x20, 0x80000000)},
      {K, 11, 4, Word(0x80000000)},
      {K, 12, 2, {0x00, 0x80}},
      {K, 13, 4, Word(0xFFFFFFFF)},
      {K, 15, 4, Word(0xFFFFFFFF)},
      {K, 14, 8, Words(0, 0xFFFFFFFF)},
      {K, 22, 8, Words(0, 0xFFFFFFFF)},
      {K, 18, 8, Words(0, 0x80000000)},
      {K, 21, 8, Words(0, 0x80000000)},
      {C, 1, 1, Text(" ")},
      {C, 2, 3, Text("   ")},
      {C, 3, 8, Text("        ")},
      {C, 4, 2, Text("  ")},
      {C, 5, 4, {0, 0, 0, 0}},
      {C, 9, 3, {0, 0, 0}},
      {C, 10, 8, Words(0, 0)},
      {C, 11, 4, Word(0)},
      {C, 12, 2, {0, 0}},
      {C, 13, 4, Text("    ")},
      {C, 17, 8, Words(0, 0)},
  };
  for (const BlankCase& c : cases) {
    SCOPED_TRACE("table " + std::to_string(c.tableType) + " code " + std::to_string(c.code));
    std::vector<uint8_t> field(c.length, 0x5A);
    BlankFieldImage(c.tableType, c.code, field.data(), c.length);
    EXPECT_EQ(field, c.bytes);
  }
  // KDT blobs: only the first 32 bits.
  std::vector<uint8_t> blob(8, 0x5A);
  BlankFieldImage(K, 5, blob.data(), 8);
  EXPECT_EQ(blob, (std::vector<uint8_t>{0, 0, 0, 0, 0x5A, 0x5A, 0x5A, 0x5A}));
}

TEST(CompactDateTest, BytesAndTextBothWays) {
  struct Case {
    const char* text;
    uint8_t bytes[3];
  };
  // year = b0 * 128 + b1 / 2; month = (b1 & 1) * 8 + b2 / 32; day = b2 & 31
  const Case cases[] = {
      {"20240229", {15, 0xD0, 0x5D}},  // 2024 = 15*128 + 208/2; Feb: 0*8 + 93/32; 93 & 31 = 29
      {"19991231", {15, 0x9F, 0x9F}},  // 1999 = 15*128 + 79; Dec: 1*8 + 4
      {"00010101", {0, 0x02, 0x21}},
      {"99991231", {78, 0x1F, 0x9F}},  // 9999 = 78*128 + 15
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint8_t out[3] = {};
    TextToCompactDate(c.text, out);
    EXPECT_EQ(out[0], c.bytes[0]);
    EXPECT_EQ(out[1], c.bytes[1]);
    EXPECT_EQ(out[2], c.bytes[2]);
    EXPECT_EQ(CompactDateToText(c.bytes), c.text);
  }
  uint8_t out[3];
  EXPECT_THROW(TextToCompactDate("2024", out), EConvertError);
  EXPECT_THROW(TextToCompactDate("2024xx01", out), EConvertError);
}

struct FixedCase {
  const char* value;
  int precision;
  int digits;
  const char* text;
};

TEST(BcdFormatTest, FixedFormatLikeTheFloatRoutine) {
  const FixedCase cases[] = {
      {"123.456", 8, 2, "123.46"},
      {"123.455", 8, 2, "123.46"},  // half away from zero, exactly
      {"-123.455", 8, 2, "-123.46"},
      {"1234", 4, 0, "1234"},
      {"-1234", 4, 0, "-1234"},
      {"12345", 4, 0, "1.235E+004"},  // more integer digits than the precision
      {"9999.5", 4, 0, "1.000E+004"},
      {"999.9", 4, 2, "999.90"},
      {"99.995", 6, 2, "100.00"},
      {"0", 5, 2, "0.00"},
      {"0", 5, 0, "0"},
      {"-0.001", 5, 2, "0.00"},  // no sign on a value that rounds to zero
      {"0.000123", 3, 5, "0.00012"},
      {"0.5", 1, 0, "1"},
      {"12345678.99", 8, 2, "12345679.00"},  // eight significant digits first
      {"1.5", 20, 4, "1.5000"},
  };
  for (const FixedCase& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(BcdToStrF(StrToBcd(c.value), c.precision, c.digits), c.text);
  }
  // The locale separator, as the float routine writes it.
  const char saved = FormatSettings().DecimalSeparator;
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(BcdToStrF(StrToBcd("12,5"), 8, 2), "12,50");
  EXPECT_EQ(FloatToStrF(12.5, TFloatFormat::ffFixed, 8, 2), "12,50");
  FormatSettings().DecimalSeparator = saved;
}

TEST(FieldDefsTest, NamesAreFoundWithoutCaseInTheUserLocale) {
  TQELFieldDefs defs(nullptr);
  for (const char* name : {"NAME", "\xC4RGER", "Amount"}) {
    TQELFieldDef* d = defs.Add();
    d->Name = name;
    d->FieldNo = static_cast<uint16_t>(defs.Count());
  }
  EXPECT_EQ(defs.IndexOf("name"), 0);
  EXPECT_EQ(defs.IndexOf("\xE4rger"), 1) << "accented letters compare without case too";
  EXPECT_EQ(defs.IndexOf("AMOUNT"), 2);
  EXPECT_EQ(defs.IndexOf("AMOUN"), -1);
  EXPECT_EQ(defs.Find("missing"), nullptr);
  EXPECT_EQ(defs.ByNumber(2)->Name, "\xC4RGER");
  EXPECT_EQ(defs.ByNumber(4), nullptr);
  EXPECT_EQ(defs.ByNumber(0), nullptr);
}

TEST(FieldClassTest, TheBcdFieldIsACurrencyUnlessItsOwnerIsLoading) {
  TComponent owner(nullptr);
  TKivBCDField plain(&owner);
  EXPECT_TRUE(plain.Currency());
  owner.BeginLoading();
  TKivBCDField loading(&owner);
  EXPECT_FALSE(loading.Currency());
  owner.EndLoading();
  TKivStringField text(&owner);
  EXPECT_FALSE(text.CaseInsensitive());
}

}  // namespace
