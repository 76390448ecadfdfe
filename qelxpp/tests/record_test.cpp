// Whole records as arrays and raw buffers, and the engine's setting for
// showing deleted records.
#include <filesystem>

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

// A text is the same whether it went in or came out through field access
// or record access, on every table type, in this process and another; the
// file holds it in code page 850.
TEST_F(RecordTest, AccentedTextIsTheSameThroughFieldsAndRecords) {
    const std::string mueller = "M\xFCller \xE9", gruesse = "Gr\xFC\xDF" "e \xE9";  // Windows-1252
    const std::string muellerPadded = xpp::PadR(mueller, 12), gruessePadded = xpp::PadR(gruesse, 12);
    for (int type : {1, 2, 3}) {
        SCOPED_TRACE(type);
        const std::string name = "CP" + std::to_string(type);
        QELSETTABLETYPE(type);
        ASSERT_TRUE(DBCREATE(name, xpp::Array{Value(Field("NAME", "C", 12, 0)), Value(Field("QTY", "N", 5, 0))}).Log());
        OpenWithRecord(name.c_str());
        EXPECT_EQ(Show(FIELDPUT(1, mueller)), "C:" + mueller);
        xpp::Array got = RECORDGET().Arr();
        EXPECT_EQ(got.Get(1).Str(), muellerPadded);
        EXPECT_NE(QELGETRECORD().Str().find(muellerPadded), std::string::npos);
        EXPECT_TRUE(RECORDPUT(xpp::Array{Value(gruesse), Value(7)}).IsNil());
        EXPECT_EQ(FIELDGET(1).Str(), gruessePadded);
        // A raw image goes back as it came.
        const std::string raw = QELGETRECORD().Str();
        EXPECT_NE(raw.find(gruessePadded), std::string::npos);
        FIELDPUT(1, "other");
        EXPECT_TRUE(QELSETRECORD(raw).Log());
        EXPECT_EQ(FIELDGET(1).Str(), gruessePadded);
        EXPECT_EQ(RECORDGET().Arr().Get(1).Str(), gruessePadded);
        ASSERT_EQ(0u, KivAppendRecord(CurrentTable()));
        FIELDPUT(1, mueller);
        ExpectNoErrors();
        DBCLOSEALL();
        std::string stored;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
            if (xpp::Upper(entry.path().stem().string()) == name) stored += ReadFile(entry.path().string());
        EXPECT_NE(stored.find("M\x81ller \x82"), std::string::npos);
        EXPECT_NE(stored.find("Gr\x81\xE1" "e \x82"), std::string::npos);
        EXPECT_EQ(stored.find("M\xFCller"), std::string::npos);
        const std::string there = InChildProcess([name, type] {
            QELSETTABLETYPE(type);
            if (!DBUSEAREA(true, Value(), name, Value(), true).Log()) return std::string("no open");
            KivGotoTop(CurrentTable());
            std::string out = FIELDGET(1).Str() + "|" + RECORDGET().Arr().Get(1).Str() + "|";
            KivSkip(CurrentTable(), 1);
            return out + FIELDGET(1).Str() + "|" + RECORDGET().Arr().Get(1).Str();
        });
        EXPECT_EQ(there, gruessePadded + "|" + gruessePadded + "|" + muellerPadded + "|" + muellerPadded);
    }
}

// The Windows-1252 characters that code page 850 lacks are refused by every
// write of text, with the field and the character named; the stored value
// stays. Every other character, "?" among them, is stored.
TEST_F(RecordTest, CharactersTheTablesCodePageLacksAreRefused) {
    std::string lacking;
    for (int c = 0x80; c <= 0x9F; ++c)
        if (c != 0x83) lacking += static_cast<char>(c);  // 0x83 is in 850
    ASSERT_EQ(lacking.size(), 31u);
    std::string others;
    for (int c = 0x20; c <= 0xFF; ++c)
        if (lacking.find(static_cast<char>(c)) == std::string::npos) others += static_cast<char>(c);
    for (int type : {1, 2, 3}) {
        SCOPED_TRACE(type);
        const std::string name = "LACK" + std::to_string(type);
        QELSETTABLETYPE(type);
        ASSERT_TRUE(DBCREATE(name, xpp::Array{Value(Field("NAME", "C", 20, 0)), Value(Field("NOTES", "M", 10, 0))}).Log());
        OpenWithRecord(name.c_str());
        FIELDPUT(1, "kept");
        FIELDPUT(2, "kept too");
        const std::string image = QELGETRECORD().Str();
        const size_t at = image.find("kept");
        ASSERT_NE(at, std::string::npos);
        ExpectNoErrors();
        for (char c : lacking) {
            const std::string text = std::string("a ") + c + " b";
            const std::string named = std::string(", ") + c + "]";
            SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c)));
            KivTestRecordCalls(1);
            KivTestClearCallLog();
            EXPECT_TRUE(FIELDPUT(1, text).IsNil());
            ExpectError("QEL_-999, Character not in code page 850:[NAME" + named);
            EXPECT_TRUE(FIELDPUT(2, text).IsNil());
            ExpectError("QEL_-999, Character not in code page 850:[NOTES" + named);
            EXPECT_EQ(Show(RECORDPUT(xpp::Array{Value(text), Value()})), "L:.F.");
            ExpectError("QEL_-999, Character not in code page 850:[NAME" + named);
            std::string changed = image;
            changed[at + 1] = c;
            EXPECT_FALSE(QELSETRECORD(changed).Log());
            ExpectError("QEL_-999, Character not in code page 850:[NAME" + named);
            EXPECT_EQ(CallLog(), "");
            KivTestRecordCalls(0);
            EXPECT_EQ(FIELDGET(1).Str(), xpp::PadR("kept", 20));
            EXPECT_EQ(FIELDGET(2).Str(), "kept too");
        }
        for (size_t from = 0; from < others.size(); from += 20) {
            const std::string part = others.substr(from, 20);
            EXPECT_TRUE(RECORDPUT(xpp::Array{Value(part), Value("x")}).IsNil());
            EXPECT_EQ(FIELDGET(1).Str(), xpp::PadR(part, 20));
            EXPECT_EQ(Show(FIELDPUT(1, part)), "C:" + part);
            EXPECT_EQ(RECORDGET().Arr().Get(1).Str(), xpp::PadR(part, 20));
        }
        EXPECT_EQ(FIELDPUT(2, others).Str(), others);
        EXPECT_EQ(FIELDGET(2).Str(), others);
        ExpectNoErrors();
        DBCLOSEALL();
    }
}

// Each element of RECORDPUT's array must fit its field; one that does not
// is the runtime's argument error, and nothing of the record is written.
TEST_F(RecordTest, WrongTypedElementsWriteNothing) {
    const xpp::Date date = xpp::Date::FromYMD(2024, 3, 15);
    const xpp::Array stored{Value("x"), Value(12.5), Value(date), Value(true), Value(99.25)};
    const std::string storedShown = "A:{x         , 12.50, " + xpp::DToC(date) + ", .T., 99.25}";
    xpp::Array fields{Value(Field("NAME", "C", 10, 0)), Value(Field("AMOUNT", "N", 10, 2)),
                      Value(Field("BORN", "D", 8, 0)), Value(Field("OK", "L", 1, 0)), Value(Field("PRICE", "N", 8, 2))};
    for (int type : {2, 3}) {
        SCOPED_TRACE(type);
        const std::string name = "WRONG" + std::to_string(type);
        QELSETTABLETYPE(type);
        ASSERT_TRUE(DBCREATE(name, fields).Log());
        OpenWithRecord(name.c_str());
        if (type == 3) {
            EXPECT_EQ(qt::WorkAreaRecord(1).Arr().Get(WA_STRUCT).Arr().Get(2).Arr().Get(FLD_TYPE).Str(), "F");
        }
        EXPECT_TRUE(RECORDPUT(stored).IsNil());
        EXPECT_EQ(Show(RECORDGET()), storedShown);
        ExpectNoErrors();
        const xpp::Array wrongs[] = {
            {Value(12345), Value("abc"), Value("20240101"), Value("T"), Value()},
            {Value(12345), Value(1), Value(date), Value(true), Value(1)},
            {Value("y"), Value("1"), Value(date), Value(true), Value(1)},
            {Value("y"), Value(1), Value("20240101"), Value(true), Value(1)},
            {Value("y"), Value(1), Value(date), Value(1), Value(1)},
            {Value("y"), Value(1), Value(date), Value(true), Value("99.25")},
            {Value("y"), Value(1), Value(date), Value(true), Value(date)},
        };
        for (const xpp::Array& wrong : wrongs) {
            SCOPED_TRACE(Show(wrong));
            KivTestRecordCalls(1);
            KivTestClearCallLog();
            EXPECT_EQ(Show(RECORDPUT(wrong)), "L:.F.");
            EXPECT_EQ(CallLog(), "");
            KivTestRecordCalls(0);
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0]->subSystem.Str(), "BASE");
            EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_ARG);
            errors.clear();
            EXPECT_EQ(Show(RECORDGET()), storedShown);
        }
        // A numeric field kept in binary takes its number, and NIL empties it.
        EXPECT_TRUE(RECORDPUT(xpp::Array{Value("x"), Value(99.25), Value(date), Value(true), Value(-0.5)}).IsNil());
        EXPECT_EQ(Show(FIELDGET(2)), "N:99.25");
        EXPECT_EQ(Show(RECORDGET().Arr().Get(2)), "N:99.25");
        EXPECT_EQ(Show(RECORDGET().Arr().Get(5)), "N:-0.50");
        xpp::Array holes{Value("x"), Value(), Value(date), Value(true), Value(1)};
        EXPECT_TRUE(RECORDPUT(holes).IsNil());
        EXPECT_EQ(xpp::Val(Show(RECORDGET().Arr().Get(2)).substr(2)).Int(), 0);
        EXPECT_TRUE(RECORDPUT(stored).IsNil());
        ExpectNoErrors();
        DBCLOSEALL();
        ASSERT_TRUE(DBUSEAREA(true, Value(), name, Value(), true).Log());
        ASSERT_EQ(0u, KivGotoTop(CurrentTable()));
        EXPECT_EQ(Show(RECORDGET()), storedShown);
        DBCLOSEALL();
    }
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
    // A record that is no text is the runtime's argument error; nothing is
    // written.
    DBSELECTAREA(1);
    KivTestClearCallLog();
    for (Value notText : {Value(), Value(5), Value(xpp::Array{Value("New")})}) {
        EXPECT_FALSE(QELSETRECORD(notText).Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_ARG);
        errors.clear();
    }
    EXPECT_EQ(CallLog(), "");
    KivTestRecordCalls(0);
    EXPECT_EQ(FIELDGET(1).Str(), "New       ");
}

}  // namespace
