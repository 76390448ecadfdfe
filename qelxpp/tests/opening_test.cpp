// Opening tables: names and folders in Windows form, drivers, the shared
// flag, the new-area flag, the index state, loading with an application's
// own thread-end block, and conversion of a table with its records.
#include <sys/stat.h>

#include "state.h"
#include "support.h"

using namespace qelxpp;
using qeltest::QelTest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

xpp::Array Struct2() {
    return xpp::Array{Value(xpp::Array{Value("NAME"), Value("C"), Value(10), Value(0)}),
                      Value(xpp::Array{Value("QTY"), Value("N"), Value(5), Value(0)})};
}

class OpenTest : public QelTest {
protected:
    void SetUp() override {
        QelTest::SetUp();
        const char* old = std::getenv("KIV_DRIVE_C");
        oldDriveC_ = old ? old : "";
        hadDriveC_ = old != nullptr;
        setenv("KIV_DRIVE_C", dir_.c_str(), 1);
        ASSERT_TRUE(QELLOADDLL().Log());
        QELSETTABLETYPE(2);
    }
    void TearDown() override {
        QelTest::TearDown();
        if (hadDriveC_) setenv("KIV_DRIVE_C", oldDriveC_.c_str(), 1);
        else unsetenv("KIV_DRIVE_C");
    }
    xpp::Array Record(int area) { return qt::WorkAreaRecord(area).Arr(); }

private:
    std::string oldDriveC_;
    bool hadDriveC_ = false;
};

TEST_F(OpenTest, WindowsNamesThroughTheDriveFolder) {
    ASSERT_EQ(mkdir((dir_ + "/DATA").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir_ + "/MY.DIR").c_str(), 0755), 0);
    ASSERT_TRUE(DBCREATE("C:\\DATA\\CUST.DBF", Struct2()).Log());
    ASSERT_TRUE(DBCREATE("C:\\MY.DIR\\ORDERS.DBF", Struct2()).Log());
    EXPECT_TRUE(qeltest::ReadFile(dir_ + "/DATA/CUST.DBF").size() > 0);

    struct {
        const char* file;
        const char* engineFile;
        const char* base;
    } cases[] = {
        {" c:\\data\\cust.dbf ", "C:\\DATA\\CUST.DBF", "CUST"},
        {"C:\\MY.DIR\\ORDERS", "C:\\MY.DIR\\ORDERS", "ORDERS"},  // the dot of the folder is no extension
        {"c:\\my.dir\\orders.dbf", "C:\\MY.DIR\\ORDERS.DBF", "ORDERS"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(DBUSEAREA(true, Value(), c.file, Value(), true).Log());
        xpp::Array r = Record(SELECT().Int());
        EXPECT_EQ(r.Get(WA_FILE).Str(), c.engineFile);
        EXPECT_EQ(r.Get(WA_TABLENAME).Str(), c.base);
        EXPECT_EQ(r.Get(WA_ALIAS).Str(), c.base);
        EXPECT_EQ(ALIAS().Str(), c.base);
    }
    EXPECT_EQ(SELECT("orders").Int(), 2);
    EXPECT_TRUE(errors.empty());

    // The runtime's file functions find the engine's files under the same names.
    EXPECT_TRUE(xpp::File("c:\\data\\cust.dbf"));
    EXPECT_TRUE(xpp::File("C:\\MY.DIR\\ORDERS.DBF"));
    // The log and the engine's "C:" are one folder.
    QELERRORLOG("here");
    EXPECT_EQ(qeltest::ReadFile(dir_ + "/QEL_ERR.TXT"), "here\r\n");
}

// The production index sits beside the table under the table's base name,
// also in a folder whose name holds a dot.
TEST_F(OpenTest, ProductionIndexInADottedFolder) {
    ASSERT_EQ(mkdir((dir_ + "/MY.DIR").c_str(), 0755), 0);
    ASSERT_TRUE(DBCREATE("C:\\MY.DIR\\CUST.DBF", Struct2()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "C:\\MY.DIR\\CUST.DBF", Value(), false).Log());
    ASSERT_TRUE(ORDCREATE("C:\\MY.DIR\\CUST", "BYNAME", "NAME").IsNil());
    DBCLOSEALL();
    EXPECT_TRUE(xpp::File("C:\\MY.DIR\\CUST.CDX"));
    for (const char* file : {"C:\\MY.DIR\\CUST", "c:\\my.dir\\cust.dbf"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(DBUSEAREA(true, Value(), file, Value(), true, Value(), true).Log());
        EXPECT_EQ(ORDBAGNAME().Str(), "C:\\MY.DIR\\CUST");
        EXPECT_EQ(ORDNAME().Str(), "BYNAME");
        DBCLOSEAREA();
    }
    EXPECT_TRUE(errors.empty());
}

// An alias is a text or NIL: anything else opens nothing.
TEST_F(OpenTest, AnAliasThatIsNoTextOpensNothing) {
    ASSERT_TRUE(DBCREATE("T.DBF", Struct2()).Log());
    for (Value alias : {Value(5), Value(true), Value(xpp::Array{Value("T")})}) {
        SCOPED_TRACE(xpp::ValType(alias));
        EXPECT_FALSE(DBUSEAREA(true, Value(), "T.DBF", alias).Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_ARG);
        errors.clear();
        for (int area = 1; area <= 3; ++area) EXPECT_TRUE(qt::WorkAreaRecord(area).IsNil());
    }
    ASSERT_TRUE(DBUSEAREA(true, Value(), "T.DBF", Value()).Log());
    EXPECT_EQ(ALIAS().Str(), "T");
    EXPECT_TRUE(errors.empty());
}

TEST_F(OpenTest, DriverTextsGiveTheTableTypes) {
    ASSERT_TRUE(DBCREATE("DRV.DBF", Struct2()).Log());
    QELSETTABLETYPE(3);
    ASSERT_TRUE(DBCREATE("DRV", Struct2()).Log());
    struct {
        Value driver;
        int64_t defaultType;
        int64_t type;
    } cases[] = {
        {"DBFCDX", 3, 2}, {"DBFNTX", 3, 1}, {"dbfcdx", 2, 3}, {"NTXCDX", 3, 2},
        {Value(), 2, 2},  {Value(), 3, 3},  {"KDT", 2, 3},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(xpp::Var2Char(c.driver) + " over " + std::to_string(c.defaultType));
        QELSETTABLETYPE(c.defaultType);
        ASSERT_TRUE(DBUSEAREA(true, c.driver, "DRV", Value(), true).Log());
        EXPECT_EQ(Record(SELECT().Int()).Get(WA_TABLETYPE).Int(), c.type);
        DBCLOSEAREA();
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(OpenTest, ExclusiveSettingDecidesANilSharedFlag) {
    ASSERT_TRUE(DBCREATE("EX.DBF", Struct2()).Log());
    for (bool exclusive : {true, false}) {
        SCOPED_TRACE(exclusive);
        xpp::Set(xpp::SET_EXCLUSIVE, exclusive);
        ASSERT_TRUE(DBUSEAREA(true, Value(), "EX.DBF", "FIRST").Log());
        EXPECT_EQ(Record(SELECT().Int()).Get(WA_EXCLUSIVE).Log(), exclusive);
        // A second open of the table succeeds only when the first one is shared.
        EXPECT_EQ(DBUSEAREA(true, Value(), "EX.DBF", "SECOND", true).Log(), !exclusive);
        EXPECT_EQ(xpp::NetErr(), exclusive);
        DBCLOSEALL();
    }
    xpp::Set(xpp::SET_EXCLUSIVE, true);
    EXPECT_TRUE(errors.empty());
}

TEST_F(OpenTest, NilNewAreaFlagOpensInTheCurrentArea) {
    ASSERT_TRUE(DBCREATE("CUR.DBF", Struct2()).Log());
    DBSELECTAREA(3);
    ASSERT_TRUE(DBUSEAREA(Value(), Value(), "CUR.DBF", "A", true).Log());
    EXPECT_EQ(SELECT("A").Int(), 3);
    EXPECT_FALSE(DBUSEAREA(Value(), Value(), "CUR.DBF", "B", true).Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->description.Str(), "QEL_-999, Current work area is in use:3]");
    EXPECT_EQ(ALIAS(3).Str(), "A");  // untouched
    EXPECT_FALSE(DBUSEAREA("yes", Value(), "CUR.DBF", "C", true).Log());  // not a logical: .F. too
    EXPECT_EQ(SELECT().Int(), 3);
}

TEST_F(OpenTest, UsedIndexFollowsTheIndexFileOfTheCurrentArea) {
    ASSERT_TRUE(DBCREATE("IDX.DBF", Struct2()).Log());
    EXPECT_FALSE(USEDINDEX().Log());  // free area
    ASSERT_TRUE(DBUSEAREA(true, Value(), "IDX.DBF").Log());
    EXPECT_FALSE(USEDINDEX().Log());  // no index file
    Record(1).Set(WA_INDEXFILE, "IDX.CDX");
    EXPECT_TRUE(USEDINDEX().Log());
    DBSELECTAREA(2);
    EXPECT_FALSE(USEDINDEX().Log());
    EXPECT_TRUE(errors.empty());
}

TEST_F(OpenTest, ApplicationsOwnThreadEndBlockStays) {
    QELUNLOADDLL();
    qt::ResetState();
    bool ran = false;
    xpp::Block own([&](xpp::Args&) {
        ran = true;
        return Value();
    });
    xpp::ThreadObject()->atEnd(Value(own));
    ASSERT_TRUE(QELLOADDLL().Log());
    Value after = xpp::ThreadObject()->atEnd();
    ASSERT_TRUE(after.IsBlock());
    EXPECT_TRUE(after.Blk().Same(own));
    after.Blk()();
    EXPECT_TRUE(ran);
}

// All rows of a table through the engine, each row its fields' texts
// joined by "|".
std::vector<std::string> Rows(KIVHANDLE h, const std::vector<std::string>& fields) {
    std::vector<std::string> rows;
    if (KivGotoTop(h) != 0) return {"<no top>"};
    for (int guard = 0; guard < 100; ++guard) {
        uint16_t eof = 0;
        if (KivAtEOF(h, &eof) != 0 || eof) break;
        std::string row;
        for (const std::string& f : fields) {
            char buf[64];
            uint32_t len = sizeof buf;
            if (KivGetField(h, f.c_str(), buf, &len, 1) != 0) return {"<no field " + f + ">"};
            row += std::string(buf, len) + "|";
        }
        rows.push_back(row);
        if (KivSkip(h, 1) != 0) break;
    }
    return rows;
}

TEST_F(OpenTest, ConvertedTableHoldsTheSameRecords) {
    ASSERT_TRUE(DBCREATE("CONV.DBF", Struct2()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "CONV.DBF", Value(), false).Log());
    KIVHANDLE h = static_cast<KIVHANDLE>(Record(1).Get(WA_TABLE).Int());
    const std::vector<std::pair<std::string, std::string>> values = {{"Ann", "12"}, {"Bob", "-3"}, {"Cyd", "40000"}};
    for (auto& [name, qty] : values) {
        ASSERT_EQ(KivAppendRecord(h), 0u);
        ASSERT_EQ(KivSetField(h, "NAME", name.data(), static_cast<uint32_t>(name.size())), 0u);
        ASSERT_EQ(KivSetField(h, "QTY", qty.data(), static_cast<uint32_t>(qty.size())), 0u);
        ASSERT_EQ(KivWriteRecord(h), 0u);
    }
    std::vector<std::string> before = Rows(h, {"NAME", "QTY"});
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[0].substr(0, 4), "Ann|");

    EXPECT_TRUE(QELCONVERTTABLE().Log());
    EXPECT_TRUE(errors.empty());
    ASSERT_TRUE(DBUSEAREA(true, "KDT", "CONV", "K").Log());
    xpp::Array k = Record(2);
    EXPECT_EQ(k.Get(WA_TABLETYPE).Int(), 3);
    EXPECT_EQ(Rows(static_cast<KIVHANDLE>(k.Get(WA_TABLE).Int()), {"NAME", "QTY"}), before);
    EXPECT_EQ(Rows(h, {"NAME", "QTY"}), before);  // the source is unchanged
    EXPECT_TRUE(errors.empty());
}

TEST_F(OpenTest, NotIndexedGuard) {
    ASSERT_TRUE(DBCREATE("GUARD.DBF", Struct2()).Log());
    detail::ThreadRow& row = *detail::RowOf(xpp::ThreadID());
    EXPECT_TRUE(detail::QelNotIndexed(row, 4));  // free: reported
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->description.Str(), "QEL_-999, Work area is not in use:[4]");
    errors.clear();
    ASSERT_TRUE(DBUSEAREA(true, Value(), "GUARD.DBF").Log());
    EXPECT_TRUE(detail::QelNotIndexed(row, 1));  // no orders: silent
    Record(1).Get(WA_ORDERS).Arr().Add(xpp::Array{Value(1), Value("TAG")});
    EXPECT_FALSE(detail::QelNotIndexed(row, 1));
    EXPECT_TRUE(errors.empty());
}

TEST_F(OpenTest, EngineLanguageSetsTheCollation) {
    const char* old = std::getenv("KIV_COLLATION");
    const std::string saved = old ? old : "";
    struct {
        const char* lang;
        int64_t collation;
    } cases[] = {
        {"USA", 2},       {"DANISH", 5},    {"DUTCH", 15},    {"FINNISH", 3},  {"FRENCH", 4},
        {"GERMAN", 1},    {"GREEK437", 6},  {"GREEK851", 7},  {"ICELD850", 8}, {"ICELD861", 9},
        {"ITALIAN", 10},  {"NORWEGN", 11},  {"PORTUGUE", 12}, {"SPANISH", 13}, {"SWEDISH", 14},
        {"german", 2},    {"KLINGON", 2},   {"GERMAN ", 2},
        {"GERMAN-AND-A-NAME-LONGER-THAN-THE-FIFTY-CHARACTERS-OF-THE-BUFFER", 2},  // cut, not refused
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.lang);
        QELUNLOADDLL();
        qt::ResetState();
        setenv("KIV_COLLATION", c.lang, 1);
        xpp::Set(xpp::SET_COLLATION, 0);
        ASSERT_TRUE(QELLOADDLL().Log());
        EXPECT_EQ(xpp::Set(xpp::SET_COLLATION).Int(), c.collation);
    }
    if (old) setenv("KIV_COLLATION", saved.c_str(), 1);
    else unsetenv("KIV_COLLATION");
    EXPECT_TRUE(errors.empty());
}

// Texts read into fixed buffers are cut to the buffer, not refused.
TEST_F(OpenTest, LongEngineTextsAreCut) {
    KivSetLastError(5010, std::string(300, 'x').c_str());
    QELSHOWERROR(7);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->description.Str(), "QEL_5010, " + std::string(255, 'x'));
    EXPECT_LE(QELINSTALLINFO().Str().size(), 255u);
}

uint32_t RecordCount(KIVHANDLE h) {
    uint32_t n = 0;
    EXPECT_EQ(KivGetRecordCount(h, KIV_COUNT_IGNORE_FILTERS, &n), 0u);
    return n;
}

TEST_F(OpenTest, ZapEmptiesAnExclusiveTableAndForgetsThePendingChange) {
    ASSERT_TRUE(DBCREATE("ZAP.DBF", Struct2()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "ZAP.DBF", Value(), false).Log());
    KIVHANDLE h = static_cast<KIVHANDLE>(Record(1).Get(WA_TABLE).Int());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(KivAppendRecord(h), 0u);
        ASSERT_EQ(KivWriteRecord(h), 0u);
    }
    ASSERT_EQ(RecordCount(h), 3u);
    Record(1).Set(WA_PENDING, 2);
    EXPECT_TRUE(DBZAP().Log());
    EXPECT_EQ(RecordCount(h), 0u);
    EXPECT_EQ(Record(1).Get(WA_PENDING).Int(), 0);
    EXPECT_TRUE(errors.empty());
}

// A structure read failing after the open closes the engine's table: an
// exclusive open of it succeeds afterwards.
TEST_F(OpenTest, FailedStructureReadClosesTheTable) {
    ASSERT_TRUE(DBCREATE("HALF.DBF", Struct2()).Log());
    for (const char* call : {"KivGetNumFields", "KivGetFieldName", "KivGetFieldType", "KivGetFieldLength",
                             "KivGetFieldDecimals"}) {
        SCOPED_TRACE(call);
        errors.clear();
        KivTestFailCall(call, 5009, "planted", 1);
        EXPECT_FALSE(DBUSEAREA(true, Value(), "HALF.DBF", Value(), false).Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subCode.Int(), 5009);
        EXPECT_FALSE(USED().Log());
        ASSERT_TRUE(DBUSEAREA(true, Value(), "HALF.DBF", Value(), false).Log());
        DBCLOSEAREA();
    }
}

// The replication list is looked up by the table's base name, exactly.
TEST_F(OpenTest, ReplicationFlagByExactBaseName) {
    ASSERT_TRUE(DBCREATE("CUST.DBF", Struct2()).Log());
    xpp::Array& list = detail::State().aReplAliases;
    list.Add("CUSTOMER");
    list.Add("OTHER");
    ASSERT_TRUE(DBUSEAREA(true, Value(), "CUST.DBF", "OTHER", true).Log());
    EXPECT_FALSE(Record(1).Get(WA_REPLICATE).Log());  // neither "CUSTOMER" nor the alias counts
    list.Add("CUST");
    ASSERT_TRUE(DBUSEAREA(true, Value(), "cust.dbf", "ELSE", true).Log());
    EXPECT_TRUE(Record(2).Get(WA_REPLICATE).Log());
}

TEST_F(OpenTest, UnloadWithNothingLoadedDoesNothing) {
    ASSERT_TRUE(QELUNLOADDLL().Log());
    KivTestRecordCalls(1);
    EXPECT_TRUE(QELUNLOADDLL().Log());
    KivTestRecordCalls(0);
    EXPECT_EQ(CallLog(), "");
    EXPECT_TRUE(errors.empty());
}

}  // namespace
