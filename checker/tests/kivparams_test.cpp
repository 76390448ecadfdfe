// Parameter values bound to engine statements: the engine call each data
// type reaches, and the value the statement then really sees.
#include <cmath>
#include <functional>

#include "checker/kiverror.h"
#include "checker/kivparams.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

class BindTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &statement));
  }
  void TearDown() override {
    KivCloseSQLStatement(statement);
    FormatSettings() = saved;
    EngineFixture::TearDown();
  }

  // The texts of the first row of a cursor, each trimmed.
  static std::vector<std::string> FirstRow(KIVHANDLE cursor) {
    std::vector<std::string> out;
    uint32_t fields = 0;
    if (KivGetNumFields(cursor, &fields) != KIV_OK || KivGotoTop(cursor) != KIV_OK) return {"(no row)"};
    for (uint32_t i = 1; i <= fields; ++i) {
      char buf[256] = {};
      uint32_t len = sizeof buf - 1;
      KivGetField(cursor, KIV_FIELD(i), buf, &len, 1);
      out.push_back(Trim(std::string(buf, strnlen(buf, sizeof buf))));
    }
    return out;
  }

  KIVHANDLE statement = 0;
  TFormatSettings saved = FormatSettings();
};

struct BindCase {
  const char* what;
  std::function<void(TParam&)> set;
  const char* call;   // the one engine call of the binding
  const char* value;  // the text the statement sees
};

TEST_F(BindTest, EachDataTypeReachesItsEngineCallAndValue) {
  const TDateTime newYear = EncodeDate(2000, 1, 1);
  const BindCase cases[] = {
      {"null text", [](TParam& p) { p.SetAsString("x"); p.Clear(); }, "KivSetEmpty", ""},
      {"null of unknown type", [](TParam&) {}, "KivSetEmpty", ""},
      {"boolean", [](TParam& p) { p.SetAsBoolean(true); }, "KivSetLogical", "1"},
      {"float", [](TParam& p) { p.SetAsFloat(2.5); }, "KivSetDouble", "2.5"},
      {"currency", [](TParam& p) { p.SetAsCurrency(Currency::FromDouble(7.25)); }, "KivSetDouble", "7.25"},
      {"date", [&](TParam& p) { p.SetAsDate(newYear + 0.75); }, "KivSetJulian", "2000-01-01"},
      {"time", [&](TParam& p) { p.SetAsTime(EncodeTime(13, 45, 30, 250)); }, "KivSetMilliseconds", "13:45:30.250"},
      {"date and time", [&](TParam& p) { p.SetAsDateTime(newYear + 0.5 + 250.0 / MSecsPerDay); },
       "KivSetTimeStampRaw", "2000-01-01 12:00:00.250"},
      {"text", [](TParam& p) { p.SetAsString("Harbour"); }, "KivSetString", "Harbour"},
      {"integer", [](TParam& p) { p.SetAsInteger(-42); }, "KivSetString", "-42"},
      {"large integer", [](TParam& p) { p.SetAsLargeInt(9000000000LL); }, "KivSetString", "9000000000"},
      {"memo", [](TParam& p) { p.SetAsMemo("line one"); }, "KivSetString", "line one"},
      {"blob", [](TParam& p) { p.SetAsBlob(std::string("AB\0C", 4)); }, "KivSetBinary", "AB"},
  };
  for (const BindCase& c : cases) {
    SCOPED_TRACE(c.what);
    KIV_ASSERT_OK(KivPrepareSQL(statement, "select :p || '' as v"));
    TParams params;
    c.set(*params.CreateParam(ftUnknown, "p", ptInput));
    CallRecorder calls;
    BindParamsToStatement(statement, params);
    EXPECT_EQ(calls.Take(), std::vector<std::string>{c.call});
    KIVHANDLE cursor = 0;
    KIV_ASSERT_OK(KivExecuteSQL(statement, &cursor));
    EXPECT_EQ(FirstRow(cursor), std::vector<std::string>{c.value});
    KivCloseTable(cursor);
  }
}

TEST_F(BindTest, BcdIsSentWithAPointWhateverTheLocaleSays) {
  FormatSettings().DecimalSeparator = ',';
  KIV_ASSERT_OK(KivPrepareSQL(statement, "select :p * 2 as v"));
  TParams params;
  params.CreateParam(ftUnknown, "p", ptInput)->SetAsBCD(StrToBcd("-12,5"));
  BindParamsToStatement(statement, params);
  KIVHANDLE cursor = 0;
  KIV_ASSERT_OK(KivExecuteSQL(statement, &cursor));
  double value = 0;
  KIV_EXPECT_OK(KivGetDouble(cursor, KIV_FIELD(1), &value));
  EXPECT_EQ(value, -25.0);
  KivCloseTable(cursor);
  EXPECT_EQ(BcdToPlainText(StrToBcd("1000")), "1000");
  EXPECT_EQ(BcdToPlainText(StrToBcd("0,125")), "0.125");
}

TEST_F(BindTest, ParametersAreNumberedInOrderOfFirstAppearance) {
  const std::string sql = "select :b as one, :a as two, :b as three";
  KIV_ASSERT_OK(KivPrepareSQL(statement, sql.c_str()));
  TParams params;
  params.ParseSQL(sql, true);
  ASSERT_EQ(params.Count(), 2);
  params.ParamByName("b")->SetAsString("first");
  params.ParamByName("a")->SetAsString("second");
  BindParamsToStatement(statement, params);
  KIVHANDLE cursor = 0;
  KIV_ASSERT_OK(KivExecuteSQL(statement, &cursor));
  EXPECT_EQ(FirstRow(cursor), (std::vector<std::string>{"first", "second", "first"}));
  KivCloseTable(cursor);
}

TEST_F(BindTest, TypesWithoutABindingAreRefusedBeforeAnythingOfThemIsSent) {
  struct Refusal {
    TFieldType type;
    const char* message;
  };
  const Refusal refusals[] = {
      {ftUnknown, "The field named: 'p' has the DataType of ftUnknown, which is invalid."},
      {ftWideString, "The field named: 'p' has a DataType that is not supported."},
      {ftParadoxOle, "The field named: 'p' has a DataType that is not supported."},
      {ftDataSet, "The field named: 'p' has a DataType that is not supported."},
      {ftTimeStamp, "The field named: 'p' has a DataType that is not supported."},
      {ftFMTBcd, "The field named: 'p' has a DataType that is not supported."},
  };
  KIV_ASSERT_OK(KivPrepareSQL(statement, "select :q, :p"));
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.message);
    TParams params;
    params.CreateParam(ftString, "q", ptInput)->SetAsString("fine");
    TParam* p = params.CreateParam(ftUnknown, "p", ptInput);
    p->SetValue(Variant("1"));
    p->SetDataType(r.type);
    CallRecorder calls;
    try {
      BindParamsToStatement(statement, params);
      ADD_FAILURE() << "nothing raised";
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.Message(), r.message);
      EXPECT_EQ(e.EngineErrorCode, kKivOwnError);
    }
    EXPECT_EQ(calls.Take(), std::vector<std::string>{"KivSetString"});  // the first parameter only
  }
}

TEST_F(BindTest, AnEngineFailureRaisesWithTheEnginesText) {
  KIV_ASSERT_OK(KivPrepareSQL(statement, "select :p"));
  TParams params;
  params.CreateParam(ftUnknown, "p", ptInput)->SetAsString("x");
  KivTestFailCall("KivSetString", KIV_ERR_INVALID_ARGUMENT, "no such parameter", 1);
  EXPECT_EQ(MessageOf([&] { BindParamsToStatement(statement, params); }), "no such parameter");
}

TEST(JulianStamp, DaysAndMillisecondsOfADateTime) {
  struct Case {
    TDateTime value;
    int32_t day, ms;
  };
  const Case cases[] = {
      {EncodeDate(2000, 1, 1) + 0.5, 2451545, 43200000},
      {0.0, 2415019, 0},
      {-1.25, 2415018, 21600000},  // 29 Dec 1899, 06:00: the fraction's size is the time
      {EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999), 2460370, 86399999},
  };
  for (const Case& c : cases) {
    const TJulianStamp s = JulianStampOf(c.value, "p");
    EXPECT_EQ(s.day, c.day) << c.value;
    EXPECT_EQ(s.milliseconds, c.ms) << c.value;
  }
  EXPECT_EQ(MessageOf([] { JulianStampOf(1e12, "when"); }),
            "The value of the parameter 'when' is out of the range of dates.");
  EXPECT_EQ(MessageOf([] { JulianStampOf(std::nan(""), "when"); }),
            "The value of the parameter 'when' is out of the range of dates.");
}

TEST(JulianStamp, HalfMillisecondsRoundToEven) {
  // Times of day whose milliseconds come out as exact halves.
  const std::pair<double, int32_t> cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {4.5, 4}};
  int checked = 0;
  for (const auto& [half, even] : cases) {
    const double fraction = half / 86400000.0;
    if (fraction * 86400000.0 != half) continue;  // not exact in binary: nothing to say
    EXPECT_EQ(JulianStampOf(fraction, "p").milliseconds, even) << half;
    ++checked;
  }
  EXPECT_GE(checked, 2);
}

}  // namespace
