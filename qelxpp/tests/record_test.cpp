// Whole records as arrays and raw buffers, and the engine's setting for
// showing deleted records.
#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

class RecordTest : public LoadedTest {
protected:
    // A CDX table and a KDT table with a character, numeric, logical, date
    // and memo field each.
    void BothTables() {
        QELSETTABLETYPE(2);
        ASSERT_TRUE(DBCREATE("REC.DBF", xpp::Array{Value(Field("NAME", "C", 10, 0)), Value(Field("AMOUNT", "N", 10, 2)),
                                                   Value(Field("OK", "L", 1, 0)), Value(Field("BORN", "D", 8, 0)),
                                                   Value(Field("NOTES", "M", 10, 0))})
                        .Log());
        ASSERT_TRUE(EngineCreate("REC.KDT", 3, "NAME,CHAR,10;AMOUNT,NUMERIC,10,2;OK,LOGICAL;BORN,DATE;NOTES,MEMO"));
    }
};

TEST_F(RecordTest, ArraysReadBackFieldByField) {
    BothTables();
    const xpp::Date born = xpp::Date::FromYMD(2001, 9, 11);
    for (const char* file : {"REC.DBF", "REC.KDT"}) {
        SCOPED_TRACE(file);
        OpenWithRecord(file);
        xpp::Array rec = qt::WorkAreaRecord(static_cast<int>(SELECT().Int())).Arr();
        EXPECT_EQ(AllFields(), "C:          \nN:0\nL:.F.\nD:" + xpp::DToC(xpp::Date()) + "\nC:\n");
        FIELDPUT(5, "memo kept");
        rec.Set(WA_PENDING, 0);
        EXPECT_EQ(Show(RECORDGET()), "A:{          , 0, .F., " + xpp::DToC(xpp::Date()) + ", NIL}");
        xpp::Array values{Value("Hello, this is long"), Value(12.5), Value(true), Value(born), Value("not a memo")};
        EXPECT_TRUE(RECORDPUT(values).IsNil());
        EXPECT_EQ(AllFields(), "C:Hello, thi\nN:12.50\nL:.T.\nD:" + xpp::DToC(born) + "\nC:memo kept\n");
        EXPECT_EQ(Show(RECORDGET()), "A:{Hello, thi, 12.50, .T., " + xpp::DToC(born) + ", NIL}");
        EXPECT_EQ(rec.Get(WA_PENDING).Int(), 2);  // a record written whole owes its update
        // NIL elements empty their fields and become "" in the caller's array.
        xpp::Array holes{Value("X"), Value(), Value(false), Value(), Value()};
        EXPECT_TRUE(RECORDPUT(holes).IsNil());
        EXPECT_EQ(Show(holes), "A:{X, , .F., , }");
        EXPECT_EQ(AllFields(), "C:X         \nN:0\nL:.F.\nD:" + xpp::DToC(xpp::Date()) + "\nC:memo kept\n");
        // A short array is the runtime's bound error; nothing is written.
        EXPECT_EQ(Show(RECORDPUT(xpp::Array{Value("Y")})), "L:.F.");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_BOUND);
        errors.clear();
        EXPECT_EQ(FIELDGET(1).Str(), "X         ");
        // A refused record is reported.
        KivTestFailCall("KivSetRecord", 5040, "read-only", 1);
        EXPECT_EQ(Show(RECORDPUT(values)), "L:.F.");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subCode.Int(), 5040);
        errors.clear();
    }
    ExpectNoErrors();
    // Another process reads what was written.
    DBSELECTAREA(1);
    RECORDPUT(xpp::Array{Value("Last"), Value(-1.25), Value(true), Value(born), Value()});
    const std::string here = AllFields();
    DBCLOSEALL();
    EXPECT_EQ(InChildProcess([] {
                  DBUSEAREA(true, Value(), "REC.DBF", Value(), true);
                  KivGotoTop(CurrentTable());
                  return AllFields();
              }),
              here);
}

TEST_F(RecordTest, RawRecordsAndTheDeletedSetting) {
    BothTables();
    OpenWithRecord("REC.DBF");
    FIELDPUT(1, "Raw");
    ASSERT_EQ(0u, KivDeleteRecord(CurrentTable()));
    Value raw = QELGETRECORD();
    ASSERT_TRUE(raw.IsChar());
    ASSERT_EQ(raw.Str().size(), 1u + 10 + 10 + 1 + 8 + 10);
    EXPECT_EQ(raw.Str()[0], '*');
    KivTestRecordCalls(1);
    EXPECT_TRUE(QELSETRECORD(raw).Log());
    EXPECT_EQ(CallLog(), "KivSetRecord\n");
    KivTestRecordCalls(0);
    EXPECT_EQ(QELGETRECORD().Str(), raw.Str());
    std::string changed = raw.Str();
    changed.replace(1, 3, "New");
    EXPECT_TRUE(QELSETRECORD(changed).Log());
    EXPECT_EQ(FIELDGET(1).Str(), "New       ");
    EXPECT_TRUE(DELETED().Log());
    ExpectNoErrors();

    uint16_t engine = 0;
    ASSERT_EQ(0u, KivGetDeleted(&engine));
    const bool original = engine != 0;
    EXPECT_EQ(SETDELETED().Log(), original);
    EXPECT_EQ(SETDELETED(true).Log(), original);
    ASSERT_EQ(0u, KivGetDeleted(&engine));
    EXPECT_EQ(engine, 1);
    EXPECT_TRUE(SETDELETED(false).Log());
    ASSERT_EQ(0u, KivGetDeleted(&engine));
    EXPECT_EQ(engine, 0);
    EXPECT_FALSE(SETDELETED("yes").Log());
    KivTestFailCall("KivGetDeleted", 5009, "planted", 1);
    EXPECT_FALSE(SETDELETED(true).Log());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    ASSERT_EQ(0u, KivGetDeleted(&engine));
    EXPECT_EQ(engine, 0);  // not switched after the failed read
    SETDELETED(original);

    DBSELECTAREA(3);
    KivTestClearCallLog();
    KivTestRecordCalls(1);
    EXPECT_TRUE(RECORDGET().IsNil());
    EXPECT_TRUE(RECORDPUT(xpp::Array{Value(1)}).IsNil());
    EXPECT_TRUE(QELGETRECORD().IsNil());
    EXPECT_FALSE(QELSETRECORD("x").Log());
    EXPECT_EQ(CallLog(), "");
    ExpectNoErrors();
}

}  // namespace
