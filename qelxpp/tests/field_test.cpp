// Field values of real engine tables: writing and reading by engine type,
// empty values at end of file, cut texts, structure queries, the record
// number, end of file and the found flag.
#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

// One field of each engine type 1..17, in type order.
const char* const kAllTypes =
    "L1,LOGICAL;N2,NUMERIC,10,2;D3,DATE;C4,CHAR,10;M5,MEMO;O6,BINARY;G7,IMAGE;V8,VARCHAR,50;D9,SHORTDATE;"
    "F10,DOUBLE,2;I11,INTEGER;R12,SHORTINT;S13,TIME;T14,TIMESTAMP;A15,AUTOINC;X16,RAW,6;Y17,CURDOUBLE,2";

using FieldTest = LoadedTest;

// The value a field reads back after a write, with the number of decimals
// where it is a number.
struct RoundTrip {
    int field;
    Value put;
    Value want;
    int decimals = -1;
};

void ExpectSame(const Value& got, const RoundTrip& c) {
    EXPECT_EQ(xpp::ValType(got), xpp::ValType(c.want)) << "field " << c.field;
    EXPECT_EQ(Show(got), Show(c.want)) << "field " << c.field;
    if (c.decimals >= 0) {
        EXPECT_EQ(got.Num().Decimals(), c.decimals) << "field " << c.field;
    }
}

TEST_F(FieldTest, EveryEngineTypeRoundTripsAndAnotherProcessReadsTheSame) {
    ASSERT_TRUE(EngineCreate("ALLTYPES.KDT", 3, kAllTypes));
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("SIMPLE.DBF", xpp::Array{Value(Field("NAME", "C", 10, 0)), Value(Field("PRICE", "N", 10, 2)),
                                                  Value(Field("OK", "L", 1, 0)), Value(Field("BORN", "D", 8, 0)),
                                                  Value(Field("NOTES", "M", 10, 0))})
                    .Log());
    OpenWithRecord("ALLTYPES.KDT");
    ASSERT_EQ(FCOUNT().Int(), 17);
    const xpp::Date leap = xpp::Date::FromYMD(2024, 2, 29), old = xpp::Date::FromYMD(1999, 12, 31);
    const std::string image("img\0\x01\xff", 6);
    const xpp::Array object{Value(1), Value("x"), Value(true), Value(xpp::Array{Value(leap)})};
    const RoundTrip kdt[] = {
        {1, true, true},
        {2, 12.5, xpp::Val("12.50"), 2},
        {3, leap, leap},
        {4, "abc", "abc       "},
        {5, "memo text", "memo text"},
        {6, object, object},
        {7, image, image},
        {8, "varchar", "varchar"},
        {9, old, old},
        {10, 1234567.89, xpp::Val("1234567.89"), 2},
        {11, 123456, 123456, 0},
        {12, 150, 150, 0},
        {13, "12:34:56", "12:34:56"},
        {14, "20240229 12:34:56", "20240229 12:34:56"},
        {16, "ab\x01" "cd ", "ab\x01" "cd "},
        {17, 99.95, xpp::Val("99.95"), 2},
    };
    for (const auto& c : kdt) {
        Value r = FIELDPUT(c.field, c.put);
        EXPECT_EQ(Show(r), Show(c.put)) << "field " << c.field;
        ExpectNoErrors();
        ExpectSame(FIELDGET(c.field), c);
    }
    EXPECT_EQ(Show(FIELDGET(15)), "N:1");  // the engine numbers the record
    // A cut varchar gives the stored text, its width being no FLD_LEN.
    const std::string sixty(60, 'v');
    EXPECT_EQ(FIELDPUT(8, sixty).Str(), sixty.substr(0, 50));
    EXPECT_EQ(FIELDGET(8).Str(), sixty.substr(0, 50));
    ExpectNoErrors();
    EXPECT_TRUE(FIELDPUT(1, false).IsLogical());
    EXPECT_EQ(Show(FIELDGET(1)), "L:.F.");
    EXPECT_TRUE(FIELDPUT(1, true).Log());
    ExpectNoErrors();

    OpenWithRecord("SIMPLE.DBF");
    const RoundTrip cdx[] = {
        {1, "Hello", "Hello     "},
        {2, -3.25, xpp::Val("-3.25"), 2},
        {3, true, true},
        {4, leap, leap},
        {5, "a memo", "a memo"},
    };
    for (const auto& c : cdx) {
        FIELDPUT(c.field, c.put);
        ExpectNoErrors();
        ExpectSame(FIELDGET(c.field), c);
    }
    // A number into a character field is its text of the field's length.
    EXPECT_EQ(FIELDPUT(1, 42).Int(), 42);
    EXPECT_EQ(FIELDGET(1).Str(), "        42");
    FIELDPUT(1, "Hello");

    DBSELECTAREA("ALLTYPES");
    const std::string kdtHere = AllFields();
    DBSELECTAREA("SIMPLE");
    const std::string cdxHere = AllFields();
    DBCLOSEALL();
    ExpectNoErrors();
    std::string there = InChildProcess([] {
        std::string out;
        for (const char* file : {"ALLTYPES.KDT", "SIMPLE.DBF"}) {
            if (!DBUSEAREA(true, Value(), file, Value(), true).Log()) return std::string("no open");
            KivGotoTop(CurrentTable());
            out += AllFields() + "--\n";
        }
        return out;
    });
    EXPECT_EQ(there, kdtHere + "--\n" + cdxHere + "--\n");
    EXPECT_NE(kdtHere.find("N:1234567.89"), std::string::npos);
    EXPECT_NE(kdtHere.find("N:150"), std::string::npos);
}

// Numbers that the engine keeps in binary: the storage length is no width.
TEST_F(FieldTest, NumbersIntoBinaryNumericFieldsKeepTheirValue) {
    QELSETTABLETYPE(3);
    ASSERT_TRUE(DBCREATE("NUMS", xpp::Array{Value(Field("SMALL", "N", 4, 0)), Value(Field("AMOUNT", "N", 10, 2)),
                                            Value(Field("WHOLE", "N", 8, 0))})
                    .Log());
    OpenWithRecord("NUMS");
    xpp::Array st = qt::WorkAreaRecord(1).Arr().Get(WA_STRUCT).Arr();
    EXPECT_EQ(st.Get(1).Arr().Get(FLD_TYPE).Str(), "R");
    EXPECT_EQ(st.Get(1).Arr().Get(FLD_LEN).Int(), 2);
    EXPECT_EQ(st.Get(2).Arr().Get(FLD_TYPE).Str(), "F");
    EXPECT_EQ(st.Get(2).Arr().Get(FLD_LEN).Int(), 8);
    struct {
        int field;
        Value put;
        const char* want;
    } cases[] = {
        {1, 150, "N:150"},           {1, -32000, "N:-32000"},       {2, 1234567.89, "N:1234567.89"},
        {2, 0.5, "N:0.50"},          {3, 987654321, "N:987654321"}, {2, -99999999.99, "N:-99999999.99"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Show(FIELDPUT(c.field, c.put)), Show(c.put));
        EXPECT_EQ(Show(FIELDGET(c.field)), c.want);
    }
    ExpectNoErrors();
    // A number the field cannot hold is refused by the engine and reported.
    EXPECT_TRUE(FIELDPUT(1, 40000).IsNil());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5003);
}

// A value the field cannot take is reported, gives NIL, and the stored
// value stays: a code block into a binary field (VAR2BIN refuses it), a
// logical into a date.
TEST_F(FieldTest, RefusedValuesKeepWhatIsStored) {
    ASSERT_TRUE(EngineCreate("KEEP.KDT", 3, "N1,NUMERIC,5;O2,BINARY;D3,DATE"));
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("KEEP.DBF", xpp::Array{Value(Field("N1", "N", 5, 0)), Value(Field("NAME", "C", 5, 0)),
                                                Value(Field("D3", "D", 8, 0))})
                    .Log());
    const xpp::Date date = xpp::Date::FromYMD(2024, 3, 15);
    for (const char* file : {"KEEP.KDT", "KEEP.DBF"}) {
        SCOPED_TRACE(file);
        OpenWithRecord(file);
        const bool kdt = std::string(file) == "KEEP.KDT";
        const xpp::Array object{Value(1), Value("two")};
        if (kdt) {
            EXPECT_TRUE(FIELDPUT(2, object).IsArray());
            EXPECT_TRUE(FIELDPUT(2, xpp::Block([](xpp::Args&) { return Value(1); })).IsNil());
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_ARG);
            errors.clear();
            EXPECT_EQ(Show(FIELDGET(2)), Show(object));
        }
        EXPECT_TRUE(FIELDPUT(3, date).IsDate());
        for (Value wrong : {Value(true), Value(false)}) {
            EXPECT_TRUE(FIELDPUT(3, wrong).IsNil());
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0]->subCode.Int(), 5048);
            errors.clear();
            EXPECT_EQ(Show(FIELDGET(3)), Show(date));
        }
        ExpectNoErrors();
        DBCLOSEAREA();
        ASSERT_TRUE(DBUSEAREA(true, Value(), file, Value(), true).Log());
        ASSERT_EQ(0u, KivGotoTop(CurrentTable()));
        EXPECT_EQ(Show(FIELDGET(3)), Show(date));
        if (kdt) {
            EXPECT_EQ(Show(FIELDGET(2)), Show(object));
        }
        DBCLOSEAREA();
    }
    ExpectNoErrors();
}

TEST_F(FieldTest, EveryTypeReadsEmptyAtEndOfFileWithoutReport) {
    ASSERT_TRUE(EngineCreate("ALLTYPES.KDT", 3, kAllTypes));
    OpenWithRecord("ALLTYPES.KDT");
    ASSERT_EQ(0u, KivSkip(CurrentTable(), 1));
    ASSERT_TRUE(EOF_().Log());
    const char* const want[] = {"L:.F.", "N:0.0", "D:", "C:          ", "C:",  "U:NIL", "C:",  "C:", "D:",
                                "N:0.0", "N:0",   "N:0", "C:",           "C:",  "N:0",   "C:",  "N:0.0"};
    for (int i = 1; i <= 17; ++i) {
        Value v = FIELDGET(i);
        std::string shown = Show(v);
        if (v.IsDate()) {
            EXPECT_TRUE(v.Dat().IsEmpty()) << i;
            shown = "D:";
        }
        EXPECT_EQ(shown, want[i - 1]) << "field " << i;
        if (v.IsNum()) {
            EXPECT_EQ(v.Num().Decimals(), std::string(want[i - 1]) == "N:0.0" ? 1 : 0) << i;
        }
    }
    ExpectNoErrors();
    EXPECT_EQ(RECNO().Int(), 2);
}

TEST_F(FieldTest, CutTextsEmptiedFieldsAndThePendingKind) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("CUT.DBF", xpp::Array{Value(Field("NAME", "C", 10, 0)), Value(Field("QTY", "N", 5, 0))}).Log());
    OpenWithRecord("CUT.DBF");
    xpp::Array rec = qt::WorkAreaRecord(1).Arr();
    EXPECT_EQ(rec.Get(WA_PENDING).Int(), 0);
    EXPECT_EQ(FIELDPUT(1, "123456789012345678901234567890").Str(), "1234567890");
    EXPECT_EQ(FIELDGET(1).Str(), "1234567890");
    EXPECT_EQ(rec.Get(WA_PENDING).Int(), 2);
    ExpectNoErrors();
    for (Value empty : {Value(), Value(xpp::Array{Value(1)})}) {
        FIELDPUT(1, "x");
        EXPECT_TRUE(FIELDPUT(1, empty).IsNil());
        EXPECT_EQ(FIELDGET(1).Str(), std::string(10, ' '));
    }
    // A numeric text too wide for the field is the engine's refusal.
    EXPECT_TRUE(FIELDPUT(2, 123456).IsNil());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    // Delete (1) and insert (3) pending stay.
    for (int kind : {1, 3}) {
        rec.Set(WA_PENDING, kind);
        FIELDPUT(1, "y");
        EXPECT_EQ(rec.Get(WA_PENDING).Int(), kind);
    }
    ExpectNoErrors();
}

TEST_F(FieldTest, StructureQueriesAndTheDeletedFlag) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("NAMES.DBF", xpp::Array{Value(Field("First", "C", 10, 0)), Value(Field("LAST_NAME", "C", 5, 0))})
                    .Log());
    OpenWithRecord("NAMES.DBF");
    EXPECT_EQ(FCOUNT().Int(), 2);
    struct {
        Value name;
        int64_t pos;
    } cases[] = {{"first", 1}, {"  Last_Name ", 2}, {"LAST NAME", 0}, {"LAST_ NAME", 0}, {"", 0}, {Value(), 0}};
    for (auto& c : cases) EXPECT_EQ(FIELDPOS(c.name).Int(), c.pos) << Show(c.name);
    EXPECT_EQ(FIELDNAME(0).Str(), "");
    EXPECT_EQ(FIELDNAME(3).Str(), "");
    EXPECT_EQ(FIELDNAME(-1).Str(), "");
    EXPECT_EQ(FIELDNAME(2).Str(), "LAST_NAME");
    EXPECT_FALSE(DELETED().Log());
    ASSERT_EQ(0u, KivDeleteRecord(CurrentTable()));
    EXPECT_TRUE(DELETED().Log());
    EXPECT_EQ(RECNO().Int(), 1);
    EXPECT_FALSE(EOF_().Log());
    ExpectNoErrors();
}

// A field number outside the structure is the runtime's bound error; the
// engine is not asked.
TEST_F(FieldTest, FieldNumbersOutsideTheStructure) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("BOUND.DBF", xpp::Array{Value(Field("A", "C", 3, 0))}).Log());
    OpenWithRecord("BOUND.DBF");
    KivTestRecordCalls(1);
    struct {
        std::function<Value()> call;
    } cases[] = {{[] { return FIELDGET(0); }}, {[] { return FIELDGET(2); }}, {[] { return FIELDPUT(2, "x"); }},
                 {[] { return FIELDPUT(-1, "x"); }}, {[] { return FIELDGET("1"); }}};
    for (auto& c : cases) {
        EXPECT_TRUE(c.call().IsNil());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subSystem.Str(), "BASE");
        EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_BOUND);
        errors.clear();
    }
    EXPECT_EQ(CallLog(), "");
    EXPECT_EQ(qt::WorkAreaRecord(1).Arr().Get(WA_PENDING).Int(), 0);
}

TEST_F(FieldTest, FreeAreaAnswers) {
    DBSELECTAREA(7);
    KivTestRecordCalls(1);
    EXPECT_TRUE(FIELDGET(1).IsNil());
    EXPECT_EQ(FCOUNT().Int(), 0);
    EXPECT_EQ(FIELDPOS("A").Int(), 0);
    EXPECT_EQ(FIELDNAME(1).Str(), "");
    EXPECT_EQ(RECNO().Int(), 0);
    EXPECT_TRUE(EOF_().Log());
    ExpectNoErrors();
    EXPECT_TRUE(FIELDPUT(1, "x").IsNil());
    ExpectError("QEL_-999, Workarea not in use");
    EXPECT_FALSE(DELETED().Log());
    ExpectError("QEL_-999, Work area is not in use:[7]");
    EXPECT_FALSE(FOUND().Log());
    ExpectError("QEL_-999, Work area is not in use:[7]");
    EXPECT_EQ(CallLog(), "");
}

TEST_F(FieldTest, EngineFailures) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("FAIL.DBF", xpp::Array{Value(Field("A", "C", 3, 0)), Value(Field("M", "M", 10, 0))}).Log());
    OpenWithRecord("FAIL.DBF");
    KivTestFailCall("KivGetField", 5009, "planted", 1);
    EXPECT_TRUE(FIELDGET(1).IsNil());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5009);
    errors.clear();
    KivTestFailCall("KivGetMemoLength", 5009, "planted", 1);
    EXPECT_TRUE(FIELDGET(2).IsNil());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    KivTestFailCall("KivSetField", 5071, "cut", 1);
    EXPECT_TRUE(FIELDPUT(1, true).IsNil());  // a cut text of a logical is a failure
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    // End of file on a failing engine: .T., nothing reported.
    KivTestFailCall("KivAtEOF", 5009, "planted", 1);
    EXPECT_TRUE(EOF_().Log());
    KivTestFailCall("KivGetRecordNum", 5009, "planted", 1);
    EXPECT_EQ(RECNO().Int(), 0);
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    KivTestFailCall("KivIsFound", 5009, "planted", 1);
    EXPECT_FALSE(FOUND().Log());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
}

}  // namespace
