// Field definitions and values over real engine tables: field
// classes, both directions for every field type, empty values, numeric
// widths, character values, defaults and permissions.
#include <cmath>
#include <cstring>

#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

// Every field type the engine has, on its own table type.
const char* const kAllTypes =
    "L,LOGICAL;N,NUMERIC,10,2;D,DATE;C,CHARACTER,10;M,MEMO;B,BINARY;I,IMAGE;V,VARCHAR,50;"
    "SD,SHORTDATE;DB,DOUBLE,2;IN,INTEGER;SI,SHORTINT;T,TIME;TS,TIMESTAMP;AI,AUTOINC;R,RAW,4;"
    "CD,CURDOUBLE;MO,MONEY;CI,CICHARACTER,10;RV,ROWVERSION;MT,MODTIME";

// The DBF types.
const char* const kDbfTypes =
    "L,LOGICAL;N5,NUMERIC,5;N4,NUMERIC,4;N8,NUMERIC,8,2;D,DATE;C,CHARACTER,10;M,MEMO;"
    "DB,DOUBLE,2;IN,INTEGER";

double EngineDouble(KIVHANDLE t, const char* field) {
  double d = 0;
  EXPECT_EQ(KivGetDouble(t, field, &d), KIV_OK) << field << " " << EngineErrorText();
  return d;
}
int32_t EngineLong(KIVHANDLE t, const char* field) {
  int32_t v = 0;
  EXPECT_EQ(KivGetLong(t, field, &v), KIV_OK) << field << " " << EngineErrorText();
  return v;
}
int32_t EngineJulian(KIVHANDLE t, const char* field) {
  int32_t v = 0;
  EXPECT_EQ(KivGetJulian(t, field, &v), KIV_OK) << field << " " << EngineErrorText();
  return v;
}
int32_t EngineMs(KIVHANDLE t, const char* field) {
  int32_t v = 0;
  EXPECT_EQ(KivGetMilliseconds(t, field, &v), KIV_OK) << field << " " << EngineErrorText();
  return v;
}
std::string EngineText(KIVHANDLE t, const char* field, uint16_t option = 1) {
  char buf[256] = {};
  uint32_t len = sizeof buf - 1;
  EXPECT_EQ(KivGetField(t, field, buf, &len, option), KIV_OK) << field << " " << EngineErrorText();
  return std::string(buf, std::min<uint32_t>(len, sizeof buf - 1));
}
int32_t JulianOf(const char* yyyymmdd) {
  double j = 0;
  EXPECT_EQ(KivConvertStringToJulian(yyyymmdd, 8, &j), KIV_OK);
  return static_cast<int32_t>(j);
}
// TDateTime of an engine Julian day and milliseconds.
TDateTime FromEngine(int32_t julian, int32_t ms) {
  return static_cast<double>(julian - KIV_JULIAN_1899_12_30) + static_cast<double>(ms) / MSecsPerDay;
}

// Hands the edited image of the active record to the engine and writes it,
// standing in for posting, then re-reads the record.
void PostThroughEngine(TKivDataSet& ds) {
  ASSERT_EQ(ds.State(), dsEdit);
  KIV_ASSERT_OK(KivSetRecord(ds.BaseHandle(), ds.ActiveBuffer(), ds.EngineRecordSize()));
  KIV_ASSERT_OK(KivWriteRecord(ds.BaseHandle()));
  ds.Cancel();
}

void AppendBlankRecord(KIVHANDLE t) {
  KIV_ASSERT_OK(KivAppendRecord(t));
  KIV_ASSERT_OK(KivWriteRecord(t));
}

class ValuesTest : public EngineFixture {};

// -- field definitions and classes --------------------------------------------

TEST_F(ValuesTest, EveryEngineTypeGetsItsFieldClass) {
  MakeTable("all", KIV_TABLE_KDT, kAllTypes, AppendBlankRecord);
  TestTable ds(nullptr, conn, "all");
  ds.Open();
  struct Expect {
    const char* name;
    uint16_t code;
    TFieldType type;
  };
  const Expect expected[] = {
      {"L", 1, ftBoolean},    {"N", 2, ftBCD},        {"D", 3, ftDate},       {"C", 4, ftString},
      {"M", 5, ftMemo},       {"B", 6, ftBlob},       {"I", 7, ftBlob},       {"V", 8, ftMemo},
      {"SD", 9, ftDate},      {"DB", 10, ftFloat},    {"IN", 11, ftInteger},  {"SI", 12, ftSmallint},
      {"T", 13, ftTime},      {"TS", 14, ftDateTime}, {"AI", 15, ftAutoInc},  {"R", 16, ftBytes},
      {"CD", 17, ftCurrency}, {"MO", 18, ftBCD},      {"CI", 20, ftString},   {"RV", 21, ftBCD},
      {"MT", 22, ftDateTime},
  };
  ASSERT_EQ(ds.FieldCount(), 21);
  ASSERT_EQ(ds.QELFieldDefs().Count(), 21);
  uint32_t offset = 1;
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    TField* f = ds.FieldByName(e.name);
    EXPECT_EQ(f->DataType(), e.type);
    const TQELFieldDef* def = ds.QELFieldDefs().Find(e.name);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->EngineType, e.code);
    EXPECT_EQ(def->FieldNo, f->FieldNo());
    EXPECT_EQ(def->Offset, offset) << "fields follow the deletion byte in order";
    offset += def->Length;
    const bool engineMaintained = e.code == KIV_FT_ROWVERSION || e.code == KIV_FT_MODTIME;
    EXPECT_EQ(def->Permissions, engineMaintained ? KIV_COLPERM_SELECT
                                                 : KIV_COLPERM_SELECT | KIV_COLPERM_UPDATE | KIV_COLPERM_INSERT);
    EXPECT_EQ(def->Assigned, 0);
  }
  EXPECT_EQ(offset, ds.EngineRecordSize());

  // The component field classes and their adjustments at opening.
  auto* c = dynamic_cast<TKivStringField*>(ds.FieldByName("C"));
  auto* ci = dynamic_cast<TKivStringField*>(ds.FieldByName("CI"));
  ASSERT_TRUE(c && ci);
  EXPECT_FALSE(c->CaseInsensitive());
  EXPECT_TRUE(ci->CaseInsensitive());
  EXPECT_EQ(c->Size(), 10);
  auto* n = dynamic_cast<TKivBCDField*>(ds.FieldByName("N"));
  auto* mo = dynamic_cast<TKivBCDField*>(ds.FieldByName("MO"));
  auto* rv = dynamic_cast<TKivBCDField*>(ds.FieldByName("RV"));
  ASSERT_TRUE(n && mo && rv);
  EXPECT_FALSE(n->Currency()) << "a numeric";
  EXPECT_TRUE(mo->Currency()) << "money";
  EXPECT_FALSE(rv->Currency()) << "a row version";
  EXPECT_EQ(n->Size(), 2);
  EXPECT_EQ(n->Precision(), 8);
  EXPECT_EQ(mo->Precision(), 20);
  EXPECT_NE(dynamic_cast<TMemoField*>(ds.FieldByName("M")), nullptr);
  EXPECT_NE(dynamic_cast<TBytesField*>(ds.FieldByName("R")), nullptr);
  EXPECT_EQ(ds.FieldByName("R")->Size(), 4);
  EXPECT_EQ(ds.QELFieldDefs().Find("N")->Decimals, 2);
}

TEST_F(ValuesTest, FieldDefinitionsCanBeReadWhileClosed) {
  MakeTable("all", KIV_TABLE_KDT, kAllTypes);
  TestTable ds(nullptr, conn, "all");
  CallRecorder calls;
  ds.FieldDefs().Update();
  EXPECT_EQ(ds.FieldDefs().Count(), 21);
  EXPECT_EQ(ds.FieldDefs()[1]->DataType(), ftBCD);
  EXPECT_EQ(ds.FieldDefs()[1]->Precision(), 8);
  const std::vector<std::string> log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivOpenTable"), 1);
  EXPECT_EQ(CountOf(log, "KivCloseTable"), 1) << "the handle for the definitions is closed again";
  EXPECT_FALSE(ds.Active());
}

TEST_F(ValuesTest, NumericsMapByTableTypeAndOption) {
  MakeTable("nk", KIV_TABLE_KDT, "A,NUMERIC,5;B,NUMERIC,19;C,NUMERIC,10,5", AppendBlankRecord);
  MakeTable("nd", KIV_TABLE_CDX, "A,NUMERIC,5;B,NUMERIC,4", AppendBlankRecord);
  TestTable kdt(nullptr, conn, "nk");
  kdt.Open();
  EXPECT_EQ(kdt.FieldByName("A")->DataType(), ftBCD);
  EXPECT_EQ(kdt.FieldByName("B")->DataType(), ftFMTBcd);
  EXPECT_EQ(kdt.FieldByName("C")->DataType(), ftFMTBcd);
  kdt.Close();
  kdt.KivTableOptions().SetKivNumericsAsFloats(true);
  kdt.Open();
  EXPECT_EQ(kdt.FieldByName("A")->DataType(), ftFloat);
  kdt.Close();
  TestTable dbf(nullptr, conn, "nd");
  dbf.SetSourceTableType(ttKivCDX);
  dbf.Open();
  EXPECT_EQ(dbf.FieldByName("A")->DataType(), ftFloat) << "NUMERIC(5,0)";
  EXPECT_EQ(dbf.FieldByName("B")->DataType(), ftSmallint) << "NUMERIC(4,0)";
}

// -- both directions, every type ------------------------------------------------

TEST_F(ValuesTest, EveryKdtTypeRoundTripsThroughTheEngine) {
  MakeTable("all", KIV_TABLE_KDT, kAllTypes, AppendBlankRecord);
  TestTable ds(nullptr, conn, "all");
  ds.Open();
  const TDateTime leapDay = EncodeDate(2024, 2, 29);
  const TDateTime lastDay = EncodeDate(1999, 12, 31);
  const TDateTime time = EncodeTime(13, 45, 30, 250);
  const std::string raw("\x01\x00\x02\xff", 4);

  ds.Edit();
  ds.FieldByName("L")->SetAsBoolean(true);
  ds.FieldByName("N")->SetAsBCD(StrToBcd("1234.56"));
  ds.FieldByName("D")->SetAsDateTime(leapDay);
  ds.FieldByName("C")->SetAsString("Harbour");
  ds.FieldByName("SD")->SetAsDateTime(lastDay);
  ds.FieldByName("DB")->SetAsFloat(3.25);
  ds.FieldByName("IN")->SetAsInteger(-123456);
  ds.FieldByName("SI")->SetAsInteger(-1234);
  ds.FieldByName("T")->SetAsDateTime(time);
  ds.FieldByName("TS")->SetAsDateTime(leapDay + time);
  ds.FieldByName("AI")->SetAsInteger(77);
  ds.FieldByName("R")->SetAsString(raw);
  ds.FieldByName("CD")->SetAsFloat(12.5);
  ds.FieldByName("MO")->SetAsBCD(StrToBcd("1234.5678"));
  ds.FieldByName("CI")->SetAsString("MiXeD");
  for (int i = 0; i < ds.QELFieldDefs().Count(); ++i) {
    const TQELFieldDef& def = *ds.QELFieldDefs()[i];
    const bool written = !def.IsBlob() && def.Name != "RV" && def.Name != "MT";
    EXPECT_EQ(def.Assigned, written ? 1 : 0) << def.Name;
  }
  // The engine maintains row version and modification time: no update
  // permission for the fields, so both directions are checked on the buffer.
  try {
    ds.FieldByName("RV")->SetAsBCD(StrToBcd("42"));
    FAIL() << "the engine maintains the row version";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_PERMISSION);
  }
  {
    const TQELFieldDef& rv = *ds.QELFieldDefs().Find("RV");
    const TBcd fortyTwo = StrToBcd("42");
    ds.WriteFieldValue(rv, ftBCD, &fortyTwo, ds.ActiveBuffer());
    int64_t stored = 0;
    std::memcpy(&stored, ds.ActiveBuffer() + rv.Offset, 8);
    EXPECT_EQ(stored, 42);
    EXPECT_EQ(ds.FieldByName("RV")->AsString(), "42");
    const TQELFieldDef& mt = *ds.QELFieldDefs().Find("MT");
    const double native = (leapDay + time + DateDelta) * MSecsPerDay;
    ds.WriteFieldValue(mt, ftDateTime, &native, ds.ActiveBuffer());
    int32_t day = 0, ms = 0;
    std::memcpy(&day, ds.ActiveBuffer() + mt.Offset, 4);
    std::memcpy(&ms, ds.ActiveBuffer() + mt.Offset + 4, 4);
    EXPECT_EQ(day, JulianOf("20240229"));
    EXPECT_EQ(ms, 49530250);
    EXPECT_NEAR(ds.FieldByName("MT")->AsDateTime(), leapDay + time, 1e-9);
  }
  PostThroughEngine(ds);
  // The engine keeps the row's blobs apart; write two of them its way.
  KIV_ASSERT_OK(KivSetString(ds.BaseHandle(), "M", "memo text", 9));
  KIV_ASSERT_OK(KivSetBinary(ds.BaseHandle(), "B", KIV_BINARY_KIND, 3, 0, "a\0b", 3));
  KIV_ASSERT_OK(KivWriteRecord(ds.BaseHandle()));
  ds.Refresh();

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "after the write" : "after reopening");
    const KIVHANDLE t = ds.BaseHandle();
    // What the engine reads from the image this side wrote ...
    EXPECT_EQ(EngineLong(t, "L"), 1);
    EXPECT_DOUBLE_EQ(EngineDouble(t, "N"), 1234.56);
    EXPECT_EQ(EngineJulian(t, "D"), JulianOf("20240229"));
    EXPECT_EQ(EngineText(t, "C"), "Harbour");
    EXPECT_EQ(EngineJulian(t, "SD"), JulianOf("19991231"));
    EXPECT_DOUBLE_EQ(EngineDouble(t, "DB"), 3.25);
    EXPECT_EQ(EngineLong(t, "IN"), -123456);
    EXPECT_EQ(EngineLong(t, "SI"), -1234);
    EXPECT_EQ(EngineMs(t, "T"), 49530250);
    EXPECT_EQ(EngineJulian(t, "TS"), JulianOf("20240229"));
    EXPECT_EQ(EngineMs(t, "TS"), 49530250);
    EXPECT_DOUBLE_EQ(EngineDouble(t, "CD"), 12.5);
    EXPECT_DOUBLE_EQ(EngineDouble(t, "MO"), 1234.5678);
    EXPECT_EQ(EngineText(t, "CI"), "MiXeD");
    char bytes[8] = {};
    uint32_t len = sizeof bytes;
    KIV_EXPECT_OK(KivGetBinary(t, "R", 0, bytes, &len));
    EXPECT_EQ(std::string(bytes, len), raw);

    // ... and what this side reads back.
    EXPECT_TRUE(ds.FieldByName("L")->AsBoolean());
    EXPECT_EQ(ds.FieldByName("N")->AsString(), "1234.56");
    EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), leapDay);
    EXPECT_EQ(ds.FieldByName("C")->AsString(), "Harbour");
    EXPECT_EQ(ds.FieldByName("SD")->AsDateTime(), lastDay);
    EXPECT_EQ(ds.FieldByName("DB")->AsFloat(), 3.25);
    EXPECT_EQ(ds.FieldByName("IN")->AsInteger(), -123456);
    EXPECT_EQ(ds.FieldByName("SI")->AsInteger(), -1234);
    EXPECT_NEAR(ds.FieldByName("T")->AsDateTime(), time, 1e-9);
    EXPECT_NEAR(ds.FieldByName("TS")->AsDateTime(), leapDay + time, 1e-9);
    EXPECT_EQ(ds.FieldByName("AI")->AsInteger(), EngineLong(t, "AI"));
    EXPECT_EQ(ds.FieldByName("R")->AsString(), raw);
    EXPECT_EQ(ds.FieldByName("CD")->AsFloat(), 12.5);
    EXPECT_EQ(ds.FieldByName("MO")->AsString(), "1234.5678");
    EXPECT_EQ(ds.FieldByName("MO")->AsCurrency(), Currency::FromScaled(12345678));
    EXPECT_EQ(ds.FieldByName("CI")->AsString(), "MiXeD");
    // The engine stamps its row version and modification time when it writes.
    EXPECT_EQ(ds.FieldByName("RV")->AsString(), EngineText(t, "RV"));
    EXPECT_FALSE(ds.FieldByName("RV")->IsNull());
    EXPECT_NEAR(ds.FieldByName("MT")->AsDateTime(), FromEngine(EngineJulian(t, "MT"), EngineMs(t, "MT")), 1e-9);
    EXPECT_FALSE(ds.FieldByName("M")->IsNull());
    EXPECT_FALSE(ds.FieldByName("B")->IsNull());
    EXPECT_TRUE(ds.FieldByName("I")->IsNull());
    EXPECT_TRUE(ds.FieldByName("V")->IsNull());
    ds.Close();
    ds.Open();
  }
}

TEST_F(ValuesTest, EveryDbfTypeRoundTripsThroughTheEngine) {
  for (uint16_t type : {KIV_TABLE_CDX, KIV_TABLE_NTX}) {
    SCOPED_TRACE(type);
    const std::string name = type == KIV_TABLE_CDX ? "dbfc" : "dbfn";
    MakeTable(name.c_str(), type, kDbfTypes, AppendBlankRecord);
    TestTable ds(nullptr, conn, name);
    ds.SetSourceTableType(type == KIV_TABLE_CDX ? ttKivCDX : ttKivNTX);
    ds.Open();
    EXPECT_EQ(ds.FieldByName("N5")->DataType(), ftFloat);
    EXPECT_EQ(ds.FieldByName("N4")->DataType(), ftSmallint);
    EXPECT_EQ(ds.FieldByName("N8")->DataType(), ftFloat);
    ds.Edit();
    ds.FieldByName("L")->SetAsBoolean(false);
    ds.FieldByName("N5")->SetAsFloat(12345);
    ds.FieldByName("N4")->SetAsInteger(-123);
    ds.FieldByName("N8")->SetAsFloat(1234.5);
    ds.FieldByName("D")->SetAsDateTime(EncodeDate(2024, 2, 29));
    ds.FieldByName("C")->SetAsString("Dbf text");
    ds.FieldByName("DB")->SetAsFloat(2.5);
    ds.FieldByName("IN")->SetAsInteger(77);
    PostThroughEngine(ds);
    for (int pass = 0; pass < 2; ++pass) {
      const KIVHANDLE t = ds.BaseHandle();
      EXPECT_EQ(EngineText(t, "L"), "F");
      EXPECT_EQ(EngineText(t, "N5", 0), "12345");
      EXPECT_EQ(EngineText(t, "N4", 0), "-123");
      EXPECT_EQ(EngineText(t, "N8", 0), " 1234.50");
      EXPECT_EQ(EngineJulian(t, "D"), JulianOf("20240229"));
      EXPECT_EQ(EngineText(t, "C"), "Dbf text");
      EXPECT_DOUBLE_EQ(EngineDouble(t, "DB"), 2.5);
      EXPECT_EQ(EngineLong(t, "IN"), 77);

      EXPECT_FALSE(ds.FieldByName("L")->IsNull());
      EXPECT_FALSE(ds.FieldByName("L")->AsBoolean());
      EXPECT_EQ(ds.FieldByName("N5")->AsFloat(), 12345);
      EXPECT_EQ(ds.FieldByName("N4")->AsInteger(), -123);
      EXPECT_EQ(ds.FieldByName("N8")->AsFloat(), 1234.5);
      EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), EncodeDate(2024, 2, 29));
      EXPECT_EQ(ds.FieldByName("C")->AsString(), "Dbf text");
      EXPECT_EQ(ds.FieldByName("DB")->AsFloat(), 2.5);
      EXPECT_EQ(ds.FieldByName("IN")->AsInteger(), 77);
      ds.Close();
      ds.Open();
    }
  }
}

// -- empty values ---------------------------------------------------------------

TEST_F(ValuesTest, ABlankKdtRecordReadsEmptyAndBlankingWritesTheEnginesEmptyValues) {
  MakeTable("all", KIV_TABLE_KDT, kAllTypes, AppendBlankRecord);
  TestTable ds(nullptr, conn, "all");
  ds.Open();
  for (TField* f : ds.Fields()) {
    // The engine numbers new rows and stamps version and time when it writes.
    const bool engineValue = f->FieldName() == "AI" || f->FieldName() == "RV" || f->FieldName() == "MT";
    EXPECT_EQ(f->IsNull(), !engineValue) << f->FieldName();
  }
  std::vector<uint8_t> blank(ds.EngineRecordSize());
  KIV_ASSERT_OK(KivClearRecordBuffer(ds.BaseHandle(), blank.data(), ds.EngineRecordSize()));
  ds.Edit();
  for (TField* f : ds.Fields()) {
    if (f->IsBlob()) continue;
    if (f->FieldName() == "RV" || f->FieldName() == "MT")  // no update permission
      ds.WriteFieldValue(*ds.QELFieldDefs().Find(f->FieldName()), f->DataType(), nullptr, ds.ActiveBuffer());
    else
      f->Clear();
  }
  for (int i = 0; i < ds.QELFieldDefs().Count(); ++i) {
    const TQELFieldDef& def = *ds.QELFieldDefs()[i];
    if (def.IsBlob()) continue;
    const std::vector<uint8_t> ours(ds.ActiveBuffer() + def.Offset, ds.ActiveBuffer() + def.Offset + def.Length);
    const std::vector<uint8_t> engines(blank.begin() + def.Offset, blank.begin() + def.Offset + def.Length);
    EXPECT_EQ(ours, engines) << def.Name;
    EXPECT_TRUE(ds.FieldByName(def.Name)->IsNull()) << def.Name;
  }
  ds.Cancel();
}

TEST_F(ValuesTest, EmptiedThroughTheEngineReadsEmpty) {
  MakeTable("all", KIV_TABLE_KDT, kAllTypes, [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetLogical(t, "L", 1));
    KIV_ASSERT_OK(KivSetDouble(t, "N", 5));
    KIV_ASSERT_OK(KivSetString(t, "C", "x", 1));
    KIV_ASSERT_OK(KivSetLong(t, "IN", 5));
    KIV_ASSERT_OK(KivSetString(t, "M", "memo", 4));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  TestTable ds(nullptr, conn, "all");
  ds.Open();
  for (const char* name : {"L", "N", "C", "IN", "M"}) EXPECT_FALSE(ds.FieldByName(name)->IsNull()) << name;
  for (const char* name : {"L", "N", "C", "IN", "M"}) KIV_ASSERT_OK(KivSetEmpty(ds.BaseHandle(), name));
  KIV_ASSERT_OK(KivWriteRecord(ds.BaseHandle()));
  ds.Refresh();
  for (const char* name : {"L", "N", "C", "IN", "M"}) EXPECT_TRUE(ds.FieldByName(name)->IsNull()) << name;
}

TEST_F(ValuesTest, ABlankDbfRecordIsEmptyExceptItsBinaryNumbers) {
  MakeTable("dbf", KIV_TABLE_CDX, kDbfTypes, AppendBlankRecord);
  TestTable ds(nullptr, conn, "dbf");
  ds.SetSourceTableType(ttKivCDX);
  ds.Open();
  for (const char* name : {"L", "N5", "N4", "N8", "D", "C", "M"}) EXPECT_TRUE(ds.FieldByName(name)->IsNull()) << name;
  EXPECT_FALSE(ds.FieldByName("DB")->IsNull()) << "never empty";
  EXPECT_EQ(ds.FieldByName("DB")->AsFloat(), 0.0);
  EXPECT_FALSE(ds.FieldByName("IN")->IsNull()) << "never empty";
  EXPECT_EQ(ds.FieldByName("IN")->AsInteger(), 0);
}

// -- character values ---------------------------------------------------------

TEST_F(ValuesTest, CharacterValuesAreCutToTheFieldAndEmptiesFollowTheTableType) {
  MakeTable("ck", KIV_TABLE_KDT, "C,CHARACTER,10", AppendBlankRecord);
  MakeTable("cd", KIV_TABLE_CDX, "C,CHARACTER,10", AppendBlankRecord);
  TestTable kdt(nullptr, conn, "ck");
  kdt.Open();
  TField* c = kdt.FieldByName("C");
  const TQELFieldDef def = *kdt.QELFieldDefs()[0];  // a copy: reopening renews the definitions
  kdt.Edit();
  // Longer than the field: through the field class and straight into the image.
  c->SetAsString("ABCDEFGHIJKLMN");
  EXPECT_EQ(c->AsString(), "ABCDEFGHIJ");
  const uint8_t behind = kdt.ActiveBuffer()[def.Offset + 10];
  kdt.WriteFieldValue(def, ftString, "abcdefghijklmn", kdt.ActiveBuffer());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(kdt.ActiveBuffer()) + def.Offset, 10), "abcdefghij");
  EXPECT_EQ(kdt.ActiveBuffer()[def.Offset + 10], behind) << "nothing written behind the field";
  // A shorter value is blank padded.
  c->SetAsString("abc");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(kdt.ActiveBuffer()) + def.Offset, 10), "abc       ");
  // Empty on a KDT table: zero bytes, which read as empty.
  c->SetAsString("");
  EXPECT_EQ(std::vector<uint8_t>(kdt.ActiveBuffer() + def.Offset, kdt.ActiveBuffer() + def.Offset + 10),
            std::vector<uint8_t>(10, 0));
  EXPECT_TRUE(c->IsNull());
  kdt.Cancel();
  kdt.Close();
  kdt.KivTableOptions().SetKivPreserveSpaces(true);
  kdt.Open();
  c = kdt.FieldByName("C");
  kdt.Edit();
  c->SetAsString("");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(kdt.ActiveBuffer()) + def.Offset, 10), std::string(10, ' '));
  EXPECT_FALSE(c->IsNull()) << "blanks are a value on a KDT table";
  EXPECT_EQ(c->AsString(), "") << "an all-blank value reads as an empty text";
  kdt.Cancel();

  TestTable dbf(nullptr, conn, "cd");
  dbf.SetSourceTableType(ttKivCDX);
  dbf.Open();
  dbf.Edit();
  dbf.FieldByName("C")->SetAsString("");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dbf.ActiveBuffer()) + 1, 10), std::string(10, ' '));
  EXPECT_TRUE(dbf.FieldByName("C")->IsNull()) << "blanks are empty on a DBF table";
  dbf.Cancel();
}

// -- numeric values -------------------------------------------------------------

TEST_F(ValuesTest, APositiveNumericOfFullWidthIsRefusedANegativeOneAccepted) {
  MakeTable("nk", KIV_TABLE_KDT, "A,NUMERIC,5;B,NUMERIC,6,2", AppendBlankRecord);
  TestTable ds(nullptr, conn, "nk");
  ds.SetName("tbl");
  ds.Open();
  struct Case {
    const char* field;
    const char* value;
    const char* image;  // nullptr: refused
  };
  const Case cases[] = {
      {"A", "1234", " 1234"},  {"A", "-1234", "-1234"}, {"A", "12345", nullptr}, {"A", "0", "    0"},
      {"B", "99.99", " 99.99"}, {"B", "-99.99", "-99.99"}, {"B", "999.9", nullptr}, {"B", "1.005", "  1.01"},
  };
  ds.Edit();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + c.value);
    const TQELFieldDef& def = *ds.QELFieldDefs().Find(c.field);
    if (c.image == nullptr) {
      try {
        ds.FieldByName(c.field)->SetAsBCD(StrToBcd(c.value));
        FAIL() << "refused";
      } catch (const EKIVDatabaseError& e) {
        EXPECT_EQ(e.Message(), "tbl: Numeric out of range.");
        EXPECT_EQ(e.EngineErrorCode, kKivOwnError);
      }
    } else {
      ds.FieldByName(c.field)->SetAsBCD(StrToBcd(c.value));
      EXPECT_EQ(std::string(reinterpret_cast<char*>(ds.ActiveBuffer()) + def.Offset, def.Length), c.image);
    }
  }
  ds.Cancel();
}

TEST_F(ValuesTest, FloatNumericsFillTheirWidthAndRefuseLongerTexts) {
  MakeTable("nd", KIV_TABLE_CDX, "A,NUMERIC,5;B,NUMERIC,6,2;S,NUMERIC,4", AppendBlankRecord);
  TestTable ds(nullptr, conn, "nd");
  ds.SetSourceTableType(ttKivCDX);
  ds.Open();
  struct Case {
    const char* field;
    double value;
    const char* image;
  };
  const Case cases[] = {
      {"A", 12345, "12345"}, {"A", 123456, nullptr}, {"A", -1234, "-1234"}, {"A", -12345, nullptr},
      {"A", 12.6, "   13"},  {"B", 999.99, "999.99"}, {"B", 1000, nullptr},  {"B", -0.5, " -0.50"},
  };
  ds.Edit();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.value));
    const TQELFieldDef& def = *ds.QELFieldDefs().Find(c.field);
    if (c.image == nullptr) {
      EXPECT_THROW(ds.FieldByName(c.field)->SetAsFloat(c.value), EKIVDatabaseError);
    } else {
      ds.FieldByName(c.field)->SetAsFloat(c.value);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(ds.ActiveBuffer()) + def.Offset, def.Length), c.image);
    }
  }
  ds.FieldByName("S")->SetAsInteger(-999);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ds.ActiveBuffer()) + ds.QELFieldDefs().Find("S")->Offset, 4), "-999");
  ds.Cancel();
}

TEST_F(ValuesTest, ANumericTextThatDoesNotConvertReadsAsEmptyNeverAsStaleBytes) {
  MakeTable("nk", KIV_TABLE_KDT, "A,NUMERIC,5", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetFieldRaw(t, "A", "12x4 ", 5));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  MakeTable("nd", KIV_TABLE_CDX, "F,NUMERIC,6,1;S,NUMERIC,3", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetFieldRaw(t, "F", " 1.2.3", 6));
    KIV_ASSERT_OK(KivSetFieldRaw(t, "S", "1-2", 3));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  TestTable kdt(nullptr, conn, "nk");
  kdt.Open();
  TField* a = kdt.FieldByName("A");
  EXPECT_TRUE(a->IsNull());
  TBcd previous = StrToBcd("777");
  TBcd buffer = previous;
  EXPECT_FALSE(kdt.GetFieldData(a, &buffer));
  EXPECT_EQ(BcdCompare(buffer, previous), 0) << "the buffer is left as it was";
  EXPECT_EQ(a->AsString(), "");

  TestTable dbf(nullptr, conn, "nd");
  dbf.SetSourceTableType(ttKivCDX);
  dbf.Open();
  double d = 5.5;
  EXPECT_FALSE(dbf.GetFieldData(dbf.FieldByName("F"), &d));
  EXPECT_EQ(d, 5.5);
  int16_t s = 9;
  EXPECT_FALSE(dbf.GetFieldData(dbf.FieldByName("S"), &s));
  EXPECT_EQ(s, 9);
  EXPECT_TRUE(dbf.FieldByName("S")->IsNull());
}

TEST_F(ValuesTest, NumericTextsUseTheLocaleDecimalSeparator) {
  MakeTable("nk", KIV_TABLE_KDT, "A,NUMERIC,10,2", AppendBlankRecord);
  MakeTable("nd", KIV_TABLE_CDX, "A,NUMERIC,10,2", AppendBlankRecord);
  const char saved = FormatSettings().DecimalSeparator;
  FormatSettings().DecimalSeparator = ',';
  TestTable kdt(nullptr, conn, "nk");
  kdt.Open();
  kdt.Edit();
  kdt.FieldByName("A")->SetAsBCD(StrToBcd("12,5"));
  PostThroughEngine(kdt);
  EXPECT_EQ(EngineText(kdt.BaseHandle(), "A", 0), "     12.50");
  EXPECT_EQ(kdt.FieldByName("A")->AsString(), "12,5");
  TestTable dbf(nullptr, conn, "nd");
  dbf.SetSourceTableType(ttKivCDX);
  dbf.Open();
  dbf.Edit();
  dbf.FieldByName("A")->SetAsFloat(-7.25);
  PostThroughEngine(dbf);
  EXPECT_EQ(EngineText(dbf.BaseHandle(), "A", 0), "     -7.25");
  EXPECT_EQ(dbf.FieldByName("A")->AsFloat(), -7.25);
  FormatSettings().DecimalSeparator = saved;
}

// -- defaults -------------------------------------------------------------------

TEST_F(ValuesTest, DefaultExpressionsFillANewRecord) {
  MakeTable("defaults", KIV_TABLE_KDT,
            "L,LOGICAL;L2,LOGICAL;N,NUMERIC,8,2;D,DATE;C,CHARACTER,10;C2,CHARACTER,10;DB,DOUBLE;"
            "IN,INTEGER;SI,SHORTINT;T,TIME;TS,TIMESTAMP;MO,MONEY;SD,SHORTDATE;AI,AUTOINC;M,MEMO;CD,CURDOUBLE",
            AppendBlankRecord);
  TestTable ds(nullptr, conn, "defaults");
  ds.Open();
  const std::pair<const char*, const char*> defaults[] = {
      {"L", "t"},           {"L2", ".F."},      {"N", "12.5"},     {"D", "02/29/2024"},
      {"C", " 'abc' "},     {"C2", "abc"},      {"DB", " 2.5 "},   {"IN", "77"},
      {"SI", "-32767"},     {"T", "10:30:00"},  {"TS", "02/29/2024 10:30:00"},
      {"MO", "12.34"},      {"SD", "12/31/1999"}, {"M", "'ignored'"}, {"CD", "-1.5"},
  };
  for (auto [name, expression] : defaults) ds.FieldByName(name)->SetDefaultExpression(expression);
  ds.Insert();
  EXPECT_TRUE(ds.FieldByName("L")->AsBoolean());
  EXPECT_FALSE(ds.FieldByName("L2")->AsBoolean());
  EXPECT_FALSE(ds.FieldByName("L2")->IsNull());
  EXPECT_EQ(ds.FieldByName("N")->AsString(), "12.5");
  EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), EncodeDate(2024, 2, 29));
  EXPECT_EQ(ds.FieldByName("C")->AsString(), "abc") << "the quoted text without its quotes";
  EXPECT_TRUE(ds.FieldByName("C2")->IsNull()) << "an unquoted character default stores nothing";
  EXPECT_EQ(ds.FieldByName("DB")->AsFloat(), 2.5);
  EXPECT_EQ(ds.FieldByName("IN")->AsInteger(), 77);
  EXPECT_EQ(ds.FieldByName("SI")->AsInteger(), -32767);
  EXPECT_NEAR(ds.FieldByName("T")->AsDateTime(), EncodeTime(10, 30, 0, 0), 1e-9);
  EXPECT_NEAR(ds.FieldByName("TS")->AsDateTime(), EncodeDate(2024, 2, 29) + EncodeTime(10, 30, 0, 0), 1e-9);
  EXPECT_EQ(ds.FieldByName("MO")->AsString(), "12.34");
  EXPECT_EQ(ds.FieldByName("SD")->AsDateTime(), EncodeDate(1999, 12, 31));
  EXPECT_EQ(ds.FieldByName("CD")->AsFloat(), -1.5);
  EXPECT_TRUE(ds.FieldByName("AI")->IsNull()) << "a new autoincrement has no value yet";
  for (int i = 0; i < ds.QELFieldDefs().Count(); ++i) {
    const TQELFieldDef& def = *ds.QELFieldDefs()[i];
    const bool hasDefault = def.Name != "AI" && def.Name != "M";
    EXPECT_EQ(def.Assigned, hasDefault ? 1 : 0) << def.Name;
  }
  ds.Cancel();
}

TEST_F(ValuesTest, ADefaultThatCannotBeStoredNamesTheField) {
  MakeTable("defaults", KIV_TABLE_KDT, "IN,INTEGER;SI,SHORTINT;D,DATE", AppendBlankRecord);
  struct Case {
    const char* field;
    const char* expression;
    const char* message;
  };
  const Case cases[] = {
      {"IN", "-2147483648", "tbl: Error setting default field value. (IN)\r\ntbl: Numeric out of range:-2147483648"},
      {"SI", "40000", "tbl: Error setting default field value. (SI)\r\ntbl: Numeric out of range:40000"},
      {"SI", "-32768", "tbl: Error setting default field value. (SI)\r\ntbl: Numeric out of range:-32768"},
      {"D", "notadate", "tbl: Error setting default field value. (D)\r\n'notadate' is not a valid date"},
      {"IN", "seven", "tbl: Error setting default field value. (IN)\r\n'seven' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    TestTable ds(nullptr, conn, "defaults");
    ds.SetName("tbl");
    ds.Open();
    ds.FieldByName(c.field)->SetDefaultExpression(c.expression);
    try {
      ds.Insert();
      FAIL() << "the default does not fit";
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_EQ(e.EngineErrorCode, 0u);
    }
  }
}

// -- writing rules --------------------------------------------------------------

TEST_F(ValuesTest, WritingNeedsAnEditStateAWritableFieldAndThePermission) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  {
    TestTable ds(nullptr, conn, "people");
    ds.SetName("tbl");
    ds.Open();
    try {
      ds.FieldByName("NAME")->SetAsString("x");
      FAIL();
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.Message(), "tbl: Dataset not in edit mode");
      EXPECT_EQ(e.EngineErrorCode, kKivOwnError);
    }
    ds.FieldByName("NAME")->SetReadOnly(true);
    ds.Edit();
    try {
      ds.FieldByName("NAME")->SetAsString("x");
      FAIL();
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), "tbl: Field 'NAME' cannot be modified");
    }
    ds.Cancel();
  }
  {
    // Opened for reading and inserting only.
    TestTable ds(nullptr, conn, "people");
    ds.SetName("tbl");
    ds.openOptions = KIV_OPEN_DRIVER_LAYOUT | KIV_OPEN_DRV_READ | KIV_OPEN_DRV_INSERT;
    ds.Open();
    // The table refuses the edit before any field is touched.
    try {
      ds.Edit();
      FAIL();
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.Message(), "tbl: Update permission not granted on this table.");
      EXPECT_EQ(e.EngineErrorCode, KIV_ERR_PERMISSION);
    }
    EXPECT_EQ(ds.State(), dsBrowse);
    ds.Insert();
    EXPECT_NO_THROW(ds.FieldByName("NAME")->SetAsString("x"));
    ds.Cancel();
  }
  {
    // Opened for reading and updating only.
    TestTable ds(nullptr, conn, "people");
    ds.openOptions = KIV_OPEN_DRIVER_LAYOUT | KIV_OPEN_DRV_READ | KIV_OPEN_DRV_UPDATE;
    ds.Open();
    try {
      ds.Insert();
      FAIL();
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.Message(), "Insert permission not granted on this table.");
      EXPECT_EQ(e.EngineErrorCode, KIV_ERR_PERMISSION);
    }
    EXPECT_EQ(ds.State(), dsBrowse);
    ds.Edit();
    EXPECT_NO_THROW(ds.FieldByName("AGE")->SetAsFloat(3));
    ds.Cancel();
  }
}

TEST_F(ValuesTest, AFieldChangeIsAnnouncedAndMarksTheRecordModified) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  int changes = 0;
  ds.FieldByName("NAME")->OnChange = [&](TField*) { ++changes; };
  ds.Edit();
  EXPECT_FALSE(ds.Modified());
  ds.FieldByName("NAME")->SetAsString("Bea");
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(ds.Modified());
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Bea");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Ada");
  EXPECT_THROW(ds.Post(), EDatabaseError) << "not in edit mode";
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Cid");
  ds.Post();
  EXPECT_FALSE(ds.Modified());
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Cid");
}

}  // namespace
