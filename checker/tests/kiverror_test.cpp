// Engine errors.
#include <thread>

#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

// A dataset whose path resolution can be made to misbehave.
class ProbeDataSet : public TKivDataSet {
 public:
  using TKivDataSet::TKivDataSet;
  enum class Path { Plain, EngineFailure, OwnError, Foreign };
  Path path = Path::Plain;
  std::string table = "CUSTOMER";
  bool flagSeenInside = false;

  std::string GetDatabasePath() override {
    flagSeenInside = EngineErrorFlag();
    switch (path) {
      case Path::Plain: return TKivDataSet::GetDatabasePath();
      case Path::EngineFailure:
        // An engine failure while the error is built is ignored.
        CheckQELResult(this, KIV_ERR_IO);
        return "/resolved";
      case Path::OwnError: KivDataSetError(this, "cannot resolve");
      case Path::Foreign: throw std::logic_error("not a library exception");
    }
    return {};
  }
  std::string GetTableName() override { return table; }
  int GetLastAutoIncValue() override { return 0; }

 protected:
  KIVHANDLE OpenEngineCursor() override { return kClosedHandle; }
};

struct NativeCase {
  const char* text;
  int32_t code;
};

TEST(EngineErrorTest, TheNativeCodeComesFrom7200Texts) {
  const NativeCase cases[] = {
      {"ERROR 7200: AQE Error: State = S0002; NATIVEERROR = 1234; table not found", 1234},
      {"Error 7200:  AQE Error:  State = 42000;   NativeError = 2115;  [iAnywhere]", 2115},
      {"ERROR 7200: NATIVEERROR = -5;", -5},
      {"ERROR 7200: NATIVEERROR = 42", 42},  // up to the end of the text
      {"ERROR 7200: NATIVEERROR = abc; text", 0},
      {"ERROR 7200: no native part here", 0},
      {"ERROR 7209: NATIVEERROR = 1234;", 0},
      {"NATIVEERROR = 1234; ERROR 7200:", 1234},
      {"", 0},
  };
  for (const NativeCase& c : cases) {
    SCOPED_TRACE(c.text);
    EKIVDatabaseError e(nullptr, c.text, KIV_ERR_SQL);
    EXPECT_EQ(e.SQLErrorCode, c.code);
    EXPECT_EQ(e.Message(), c.text) << "the error is still raised with its text";
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_SQL);
  }
  EXPECT_THROW(ParseNativeError("ERROR 7200: NATIVEERROR = x1;"), EConvertError);
  EXPECT_FALSE(EngineErrorFlag());
}

TEST(EngineErrorTest, TheMessageNamesTheDatasetAndTheFieldsComeFromIt) {
  TComponent form(nullptr);
  form.SetName("frm");
  ProbeDataSet ds(&form);
  ds.SetName("tbl");
  ds.SetDatabaseName("/srv/data/");
  EKIVDatabaseError e(&ds, "Table not found", 5006);
  EXPECT_EQ(e.Message(), "tbl: Table not found");
  EXPECT_STREQ(e.what(), "tbl: Table not found");
  EXPECT_EQ(e.EngineErrorCode, 5006u);
  EXPECT_EQ(e.DataSetInstanceName, "tbl");
  EXPECT_EQ(e.DataSetInstanceOwner, "frm");
  EXPECT_EQ(e.DatabaseName, "/srv/data/");
  EXPECT_EQ(e.DatabasePath, "/srv/data");
  EXPECT_EQ(e.TableName, "CUSTOMER");
  EXPECT_EQ(e.ColumnName, "");

  ProbeDataSet unnamed(nullptr);
  EKIVDatabaseError plain(&unnamed, "Table not found", 5006);
  EXPECT_EQ(plain.Message(), "Table not found");
  EXPECT_EQ(plain.DataSetInstanceOwner, "");

  EKIVDatabaseError none(nullptr, "text", 1);
  EXPECT_EQ(none.DataSetInstanceName, "");
  EXPECT_EQ(none.TableName, "");
}

TEST(EngineErrorTest, TheColumnIsTakenFromTheTextForTheColumnCodes) {
  ProbeDataSet ds(nullptr);
  const char* text = "Value for column \"AMOUNT\" is out of range";
  for (uint32_t code : {5147u, 5148u, 5149u}) {
    EKIVDatabaseError e(&ds, text, code);
    EXPECT_EQ(e.ColumnName, "AMOUNT") << code;
  }
  EXPECT_EQ(EKIVDatabaseError(&ds, text, 5146).ColumnName, "");
  EXPECT_EQ(EKIVDatabaseError(&ds, "no marker here", 5147).ColumnName, "");
  EXPECT_EQ(EKIVDatabaseError(nullptr, text, 5147).ColumnName, "") << "only with a dataset";
  EXPECT_EQ(ColumnNameFromMessage("column \"unterminated"), "unterminated");
  const std::string longName(1000, 'x');
  EXPECT_EQ(ColumnNameFromMessage("column \"" + longName + "\"").size(), 900u);
  EXPECT_EQ(ColumnNameFromMessage("Column \"A\""), "") << "the word is matched as written";
}

TEST(EngineErrorTest, CheckQELResultWithZeroNeverReadsTheLastError) {
  CallRecorder calls;
  EXPECT_NO_THROW(CheckQELResult(nullptr, KIV_OK));
  EXPECT_EQ(CountOf(calls.Take(), "KivGetLastError"), 0);
}

TEST(EngineErrorTest, ARaisedErrorCarriesTheLastErrorsCodeNotTheCallsOwn) {
  KivSetLastError(KIV_ERR_NO_SUCH_RECORD, "Record 9 does not exist");
  try {
    CheckQELResult(nullptr, KIV_ERR_INVALID_HANDLE);
    FAIL();
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_NO_SUCH_RECORD);
    EXPECT_EQ(e.Message(), "Record 9 does not exist");
  }
  EXPECT_FALSE(EngineErrorFlag()) << "the flag is cleared after construction";
}

TEST(EngineErrorTest, WithoutALastErrorTheCallsOwnCodeIsReportedAndNamed) {
  KivClearLastError();
  try {
    CheckQELResult(nullptr, KIV_ERR_INVALID_HANDLE);
    FAIL();
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_INVALID_HANDLE);
    EXPECT_EQ(e.Message(), "Engine call failed with code 5009 and left no error text.");
  }
  // KivGetLastError itself failing is the same case.
  KivSetLastError(KIV_ERR_IO, "not to be seen");
  KivTestFailCall("KivGetLastError", KIV_ERR_INVALID_ARGUMENT, "", 1);
  try {
    CheckQELResult(nullptr, KIV_ERR_SHARING);
    FAIL();
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_SHARING);
    EXPECT_EQ(e.Message(), "Engine call failed with code 5042 and left no error text.");
  }
  KivTestClearFaults();
}

TEST(EngineErrorTest, TheLastErrorTextIsReadUpTo600Characters) {
  const std::string longText(700, 'e');
  KivSetLastError(KIV_ERR_IO, longText.c_str());
  try {
    RaiseLastEngineError(nullptr, KIV_ERR_IO);
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.Message(), std::string(600, 'e'));
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_IO);
  }
}

TEST(EngineErrorTest, OwnErrorsCarry5121) {
  ProbeDataSet ds(nullptr);
  ds.SetName("tbl");
  try {
    KivDataSetError(&ds, "Missing TableName property");
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, 5121u);
    EXPECT_EQ(e.Message(), "tbl: Missing TableName property");
  }
  try {
    KivDataSetError(&ds, "Numeric out of range:99999", kKivNoCode);
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, 0u);
  }
  // The class library's database errors catch them.
  EXPECT_THROW(KivDataSetError(nullptr, "x"), EDatabaseError);
  EXPECT_THROW(KivDataSetError(nullptr, "x"), kivds::Exception);
}

TEST(EngineErrorTest, WhileTheFlagIsSetEngineFailuresAreIgnoredAndErrorsStayEmpty) {
  EngineErrorFlag() = true;
  KivSetLastError(KIV_ERR_IO, "ignored");
  EXPECT_NO_THROW(CheckQELResult(nullptr, KIV_ERR_IO));
  {
    EKIVDatabaseError nested(nullptr, "some text", KIV_ERR_IO);
    EXPECT_EQ(nested.Message(), "");
    EXPECT_EQ(nested.EngineErrorCode, 0u) << "nothing else is filled";
  }
  EXPECT_TRUE(EngineErrorFlag()) << "an error built under the flag leaves it to its builder";
  EngineErrorFlag() = false;
  EXPECT_THROW(CheckQELResult(nullptr, KIV_ERR_IO), EKIVDatabaseError);
}

TEST(EngineErrorTest, TheFlagBelongsToOneThread) {
  EngineErrorFlag() = true;
  bool raisedThere = false;
  std::thread other([&] {
    KivSetLastError(KIV_ERR_IO, "on the other thread");
    try {
      CheckQELResult(nullptr, KIV_ERR_IO);
    } catch (const EKIVDatabaseError& e) {
      raisedThere = e.Message() == "on the other thread";
    }
  });
  other.join();
  EXPECT_TRUE(raisedThere) << "errors on different threads never suppress each other";
  EXPECT_NO_THROW(CheckQELResult(nullptr, KIV_ERR_IO)) << "still set on this thread";
  EngineErrorFlag() = false;
}

TEST(EngineErrorTest, DestroyingAnErrorClearsTheFlag) {
  auto* e = new EKIVDatabaseError(nullptr, "text", 1);
  EngineErrorFlag() = true;  // as if another error were being built
  delete e;
  EXPECT_FALSE(EngineErrorFlag());
}

TEST(EngineErrorTest, FailuresDuringConstructionAreIgnoredOrSwallowed) {
  ProbeDataSet ds(nullptr);
  ds.SetName("tbl");
  ds.path = ProbeDataSet::Path::EngineFailure;
  EKIVDatabaseError a(&ds, "ERROR 7200: NATIVEERROR = 7;", KIV_ERR_SQL);
  EXPECT_TRUE(ds.flagSeenInside);
  EXPECT_EQ(a.DatabasePath, "/resolved") << "the engine failure inside was ignored";
  EXPECT_EQ(a.SQLErrorCode, 7);
  EXPECT_EQ(a.Message(), "tbl: ERROR 7200: NATIVEERROR = 7;");
  EXPECT_FALSE(EngineErrorFlag());

  ds.path = ProbeDataSet::Path::OwnError;
  EKIVDatabaseError b(&ds, "ERROR 7200: NATIVEERROR = 8;", KIV_ERR_SQL);
  EXPECT_EQ(b.DatabasePath, "") << "the library exception was swallowed";
  EXPECT_EQ(b.DataSetInstanceName, "tbl");
  EXPECT_EQ(b.TableName, "") << "filling stopped at the failure";
  EXPECT_EQ(b.SQLErrorCode, 8) << "the native code is still parsed";
  EXPECT_EQ(b.Message(), "tbl: ERROR 7200: NATIVEERROR = 8;");
  EXPECT_FALSE(EngineErrorFlag());

  ds.path = ProbeDataSet::Path::Foreign;
  EXPECT_THROW(EKIVDatabaseError(&ds, "text", 1), std::logic_error);
  EXPECT_FALSE(EngineErrorFlag()) << "cleared before a foreign exception propagates";
}

}  // namespace
