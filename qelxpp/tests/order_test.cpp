// Orders over real index files: the order list and its focus, index
// creation with stored conditions, keys and seeking, the production index.
#include <qel32.h>

#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

struct Person {
    const char* name;
    int age;
    int y, m, d;
    bool ok;
};
const Person kPeople[] = {
    {"Smith", 40, 1984, 1, 2, true}, {"Jones", 25, 1999, 3, 4, false}, {"Smythe", 3, 2021, 5, 6, true},
    {"Adams", 25, 1999, 1, 1, true}, {"Smith", 67, 1957, 7, 8, false},
};

class OrderTest : public LoadedTest {
protected:
    // Creates PEOPLE with the five people and opens it in a new area.
    void People(int type, const char* file = "PEOPLE.DBF") {
        QELSETTABLETYPE(type);
        ASSERT_TRUE(DBCREATE(file, xpp::Array{Value(Field("NAME", "C", 10, 0)), Value(Field("AGE", "N", 3, 0)),
                                              Value(Field("BORN", "D", 8, 0)), Value(Field("OK", "L", 1, 0))})
                        .Log());
        ASSERT_TRUE(DBUSEAREA(true, Value(), file, Value(), true).Log());
        for (const Person& p : kPeople) {
            ASSERT_EQ(0u, KivAppendRecord(CurrentTable()));
            FIELDPUT(1, p.name);
            FIELDPUT(2, p.age);
            FIELDPUT(3, xpp::Date::FromYMD(p.y, p.m, p.d));
            FIELDPUT(4, p.ok);
        }
        ASSERT_EQ(0u, KivWriteRecord(CurrentTable()));
        ASSERT_EQ(0u, KivGotoTop(CurrentTable()));
        ExpectNoErrors();
    }
    // Orders NAME, AGE, BORN and OK in the table's own index file, opened.
    void FourOrders() {
        for (const char* key : {"NAME", "AGE", "BORN", "OK"}) ASSERT_TRUE(ORDCREATE(Value(), key, key).IsNil());
        ASSERT_TRUE(ORDLISTADD().Log());
    }
    xpp::Array Record() { return qt::WorkAreaRecord(static_cast<int>(SELECT().Int())).Arr(); }
    // The invariant between the current order and the navigation handle.
    void ExpectInvariant() {
        xpp::Array rec = Record();
        int64_t order = rec.Get(WA_ORDER).Int();
        if (order == 0)
            EXPECT_EQ(rec.Get(WA_NAVHANDLE).Int(), rec.Get(WA_TABLE).Int());
        else
            EXPECT_EQ(rec.Get(WA_NAVHANDLE).Int(),
                      rec.Get(WA_ORDERS).Arr().Get(static_cast<size_t>(order)).Arr().Get(ORD_HANDLE).Int());
    }
    std::string Tags() {
        std::string out;
        xpp::Array orders = Record().Get(WA_ORDERS).Arr();
        for (size_t i = 1; i <= orders.Len(); ++i)
            out += (out.empty() ? "" : " ") + orders.Get(i).Arr().Get(ORD_TAG).Str();
        return out;
    }
    KIVHANDLE CurrentOrderHandle() { return static_cast<KIVHANDLE>(Record().Get(WA_NAVHANDLE).Int()); }
};

TEST_F(OrderTest, NtxFilesAppendTheirOrders) {
    People(1);
    EXPECT_TRUE(ORDCREATE("BYNAME", Value(), "NAME").IsNil());
    EXPECT_TRUE(ORDCREATE("byage", Value(), "AGE").IsNil());
    EXPECT_EQ(Tags(), "");  // created orders do not join the list
    EXPECT_EQ(INDEXORD().Int(), 0);
    EXPECT_TRUE(ORDLISTADD(" byname ").Log());
    EXPECT_TRUE(ORDLISTADD("BYAGE").Log());
    EXPECT_EQ(Tags(), "BYNAME BYAGE");
    EXPECT_EQ(INDEXORD().Int(), 1);
    EXPECT_EQ(ORDBAGNAME().Str(), "BYAGE");
    EXPECT_TRUE(USEDINDEX().Log());
    ExpectInvariant();
    // The second file's order navigates by its own key.
    ORDSETFOCUS(2);
    ExpectInvariant();
    ASSERT_EQ(0u, KivGotoTop(CurrentOrderHandle()));
    EXPECT_EQ(RECNO().Int(), 3);
    // No tag on an NTX table: the file is named like the table.
    EXPECT_TRUE(ORDCREATE(Value(), Value(), "NAME").IsNil());
    EXPECT_TRUE(xpp::File("PEOPLE.NTX"));
    ExpectNoErrors();
}

TEST_F(OrderTest, CdxAndKdiFilesReplaceTheList) {
    for (int type : {2, 3}) {
        SCOPED_TRACE(type);
        People(type, type == 2 ? "PEOPLE.DBF" : "PEOPLE.KDT");
        EXPECT_TRUE(ORDCREATE("ONE", "a", "NAME").IsNil());
        EXPECT_TRUE(ORDCREATE("ONE", " b ", "AGE").IsNil());
        EXPECT_TRUE(ORDCREATE("TWO", Value(), "BORN").IsNil());  // TAG1: the list is empty
        EXPECT_TRUE(ORDLISTADD("ONE").Log());
        EXPECT_EQ(Tags(), "A B");
        EXPECT_TRUE(ORDLISTADD("TWO", "tag1").Log());
        EXPECT_EQ(Tags(), "TAG1");
        EXPECT_EQ(INDEXORD().Int(), 1);
        ExpectInvariant();
        EXPECT_TRUE(ORDLISTADD("ONE", 2).Log());
        EXPECT_EQ(ORDNAME().Str(), "B");
        EXPECT_TRUE(ORDCREATE("ONE", Value(), "OK").IsNil());  // TAG3 with two orders in the list
        EXPECT_TRUE(ORDLISTADD("ONE").Log());
        EXPECT_EQ(Tags(), "A B TAG3");
        EXPECT_TRUE(ORDLISTCLEAR().Log());
        EXPECT_EQ(Tags(), "");
        EXPECT_TRUE(ORDBAGNAME().Str().empty());
        ExpectInvariant();
        ExpectNoErrors();
        DBCLOSEAREA();
    }
}

// A CDX or KDI file that cannot be opened replaces nothing: the list, the
// focus, the index file and the engine's open indexes stay, and seeks go on.
TEST_F(OrderTest, AFailedFileLeavesACdxOrKdiListAsItWas) {
    for (int type : {2, 3}) {
        SCOPED_TRACE(type);
        People(type, type == 2 ? "KEEP.DBF" : "KEEP.KDT");
        ASSERT_TRUE(ORDCREATE("BAG", "NAME", "NAME").IsNil());
        ASSERT_TRUE(ORDCREATE("BAG", "AGE", "AGE").IsNil());
        ASSERT_TRUE(ORDLISTADD("BAG", "AGE").Log());
        auto state = [&] {
            xpp::Array rec = Record();
            uint16_t open = 0;
            KivGetNumIndexes(CurrentTable(), &open);
            return Tags() + "|" + ORDNAME().Str() + "|" + Show(rec.Get(WA_ORDER)) + "|" +
                   Show(rec.Get(WA_INDEXFILE)) + "|" + std::to_string(open);
        };
        const std::string before = state();
        EXPECT_EQ(before.substr(0, 13), "NAME AGE|AGE|");
        EXPECT_FALSE(ORDLISTADD("MISSING").Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subCode.Int(), 5006);
        errors.clear();
        EXPECT_EQ(state(), before);
        EXPECT_EQ(ORDNAME(1).Str(), "NAME");
        EXPECT_TRUE(DBSEEK(67).Log());
        EXPECT_EQ(RECNO().Int(), 5);
        ORDSETFOCUS("NAME");
        EXPECT_TRUE(DBSEEK("Smythe").Log());
        EXPECT_EQ(RECNO().Int(), 3);
        ExpectNoErrors();
        DBCLOSEAREA();
    }
}

// A file that ORDCREATE wrote and left open does not take the numbers of a
// file opened by name after it.
TEST_F(OrderTest, CreatedFileDoesNotTakeTheOrdersOfTheNextFile) {
    for (int type : {1, 2}) {
        SCOPED_TRACE(type);
        const char* file = type == 1 ? "P1.DBF" : "P2.DBF";
        People(type, file);
        ASSERT_TRUE(ORDCREATE("B", type == 1 ? Value() : Value("BTAG"), "AGE").IsNil());
        DBCLOSEAREA();
        ASSERT_TRUE(DBUSEAREA(true, Value(), file, Value(), true).Log());
        ASSERT_TRUE(ORDCREATE("A", type == 1 ? Value() : Value("ATAG"), "NAME").IsNil());
        ASSERT_TRUE(ORDLISTADD("B").Log());
        EXPECT_EQ(Tags(), type == 1 ? "B" : "BTAG");
        EXPECT_EQ(ORDKEY().Str(), "AGE");
        ExpectNoErrors();
        DBCLOSEALL();
    }
}

TEST_F(OrderTest, FocusByNumberAndName) {
    People(2);
    FourOrders();
    ASSERT_EQ(Tags(), "NAME AGE BORN OK");
    struct {
        Value arg;
        const char* previous;
        int64_t focus;
    } cases[] = {
        {Value(), "NAME", 1}, {0, "NAME", 0},        {2, "", 2},         {99, "AGE", 2},   {-1, "AGE", 2},
        {" born ", "AGE", 3}, {"", "BORN", 3},       {"nope", "BORN", 3}, {true, "BORN", 3}, {4, "BORN", 4},
        {1.5, "OK", 4},       {"Name", "OK", 1},
    };
    for (auto& c : cases) {
        EXPECT_EQ(ORDSETFOCUS(c.arg).Str(), c.previous) << Show(c.arg);
        EXPECT_EQ(INDEXORD().Int(), c.focus) << Show(c.arg);
        ExpectInvariant();
    }
    EXPECT_EQ(ORDNUMBER(" ok ").Int(), 4);
    EXPECT_EQ(ORDNAME().Str(), "NAME");
    EXPECT_EQ(ORDNAME(0).Str(), "NAME");
    EXPECT_EQ(ORDNAME(3).Str(), "BORN");
    EXPECT_EQ(ORDNAME(5).Str(), "");
    EXPECT_EQ(ORDNAME(-1).Str(), "");
    EXPECT_EQ(ORDNAME("AGE").Str(), "");
    EXPECT_EQ(INDEXKEY(2).Str(), "NAME");
    ORDSETFOCUS(0);
    EXPECT_EQ(ORDNAME().Str(), "");
    EXPECT_EQ(INDEXKEY().Str(), "");
    EXPECT_EQ(ORDKEYLENGTH().Int(), 0);
    ExpectNoErrors();
}

TEST_F(OrderTest, ExtensionsByTableType) {
    struct {
        int type;
        const char* bag;
        const char* table;
    } cases[] = {{1, ".NTX", ".DBF"}, {2, ".CDX", ".DBF"}, {3, ".KDI", ".KDT"}};
    for (auto& c : cases) {
        QELSETTABLETYPE(c.type);
        EXPECT_EQ(ORDBAGEXT().Str(), c.bag);
        EXPECT_EQ(INDEXEXT().Str(), c.bag);
        EXPECT_EQ(QELTABLEEXT().Str(), c.table);
    }
    People(3, "EXT.KDT");
    QELSETTABLETYPE(1);
    EXPECT_EQ(ORDBAGEXT().Str(), ".KDI");
    EXPECT_EQ(QELTABLEEXT().Str(), ".KDT");
    ExpectNoErrors();
}

// Records appended and written through FIELDPUT just before the order is
// made are keyed once each, by what was written; the order file keeps them
// so after the table is opened again.
TEST_F(OrderTest, AnOrderMadeRightAfterAppendsKeysEachRecordOnce) {
    struct {
        int type;
        const char* file;
        bool shared;
    } cases[] = {{1, "APP1.DBF", true},  {1, "APP1X.DBF", false}, {2, "APP2.DBF", true},
                 {2, "APP2X.DBF", false}, {3, "APP3.KDT", true},  {3, "APP3X.KDT", false}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.file);
        QELSETTABLETYPE(c.type);
        ASSERT_TRUE(DBCREATE(c.file, xpp::Array{Value(Field("NAME", "C", 10, 0))}).Log());
        ASSERT_TRUE(DBUSEAREA(true, Value(), c.file, Value(), c.shared).Log());
        for (const char* name : {"Bob", "Al", "Cy"}) {
            ASSERT_TRUE(DBAPPEND().Log());
            FIELDPUT(1, name);
        }
        ASSERT_TRUE(ORDCREATE("BYNAME", "BYNAME", "NAME").IsNil());
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round == 0 ? "as made" : "opened again");
            if (round == 1) {
                DBCLOSEAREA();
                ASSERT_TRUE(DBUSEAREA(true, Value(), c.file, Value(), c.shared).Log());
            }
            ASSERT_TRUE(ORDLISTADD("BYNAME").Log());
            ORDSETFOCUS("BYNAME");
            ASSERT_EQ(ORDSETFOCUS().Str(), "BYNAME");
            EXPECT_EQ(ORDKEYCOUNT().Int(), 3);
            std::string visited;
            for (DBGOTOP(); !EOF_().Log(); DBSKIP()) visited += std::to_string(RECNO().Int());
            EXPECT_EQ(visited, "213");
        }
        DBCLOSEAREA();
        ExpectNoErrors();
    }
}

TEST_F(OrderTest, FailuresLeaveTheListAsItWas) {
    People(1);
    ORDCREATE("BYNAME", Value(), "NAME");
    ORDCREATE("BYAGE", Value(), "AGE");
    ASSERT_TRUE(ORDLISTADD("BYNAME").Log());
    ORDSETFOCUS(0);
    auto state = [&] {
        xpp::Array rec = Record();
        return Tags() + "|" + Show(rec.Get(WA_ORDER)) + "|" + Show(rec.Get(WA_NAVHANDLE)) + "|" +
               Show(rec.Get(WA_INDEXFILE));
    };
    const std::string before = state();
    EXPECT_FALSE(ORDLISTADD("MISSING").Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5006);
    errors.clear();
    EXPECT_EQ(state(), before);
    KivTestFailCall("KivGetIndexExpr", 5009, "planted", 1);
    EXPECT_FALSE(ORDLISTADD("BYAGE").Log());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    EXPECT_EQ(state(), before);
    KivTestFailCall("KivCloseAllIndexes", 5009, "planted", 1);
    EXPECT_FALSE(ORDLISTCLEAR().Log());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    EXPECT_EQ(state(), before);
    // A free area: ORDNAME and ORDNUMBER report, the others are silent.
    DBSELECTAREA(9);
    KivTestRecordCalls(1);
    EXPECT_TRUE(ORDLISTCLEAR().Log());
    EXPECT_EQ(ORDSETFOCUS(1).Str(), "");
    EXPECT_EQ(ORDBAGNAME().Str(), "");
    EXPECT_EQ(ORDKEY().Str(), "");
    EXPECT_EQ(ORDFOR().Str(), "");
    EXPECT_EQ(ORDKEYLENGTH().Int(), 0);
    EXPECT_EQ(ORDKEYNO().Int(), 0);
    EXPECT_EQ(ORDKEYCOUNT().Int(), 0);
    EXPECT_TRUE(ORDKEYVAL().IsNil());
    ExpectNoErrors();
    EXPECT_EQ(ORDNAME().Str(), "");
    ExpectError("QEL_-999, Work area is not in use:[9]");
    EXPECT_EQ(ORDNUMBER("X").Int(), 0);
    ExpectError("QEL_-999, Work area is not in use:[9]");
    EXPECT_FALSE(ORDLISTADD("BYNAME").Log());
    ExpectError("QEL_-999, Work area is not in use:[9]");
    EXPECT_FALSE(ORDCREATE("X", Value(), "NAME").Log());
    ExpectError("QEL_-999, Work area is not in use:[9]");
    EXPECT_EQ(CallLog(), "");
}

// The handle of the order tagged `tag` as the engine numbers it.
KIVHANDLE EngineOrder(const char* tag) {
    KIVHANDLE h = 0;
    return KivGetIndexHandle(CurrentTable(), tag, &h) == 0 ? h : 0;
}

TEST_F(OrderTest, StoredConditionsGoWithTheNextCreation) {
    People(2);
    ORDCONDSET(Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), true);
    EXPECT_TRUE(ORDCREATE("D", "DOWN", "NAME", Value(), true).IsNil());
    EXPECT_TRUE(ORDCREATE("D", "PLAIN", "NAME").IsNil());
    ORDCONDSET("AGE > 30");
    EXPECT_TRUE(ORDCREATE("D", "OLD", "NAME").IsNil());
    ASSERT_TRUE(ORDLISTADD("D", "DOWN").Log());
    uint16_t descending = 0, unique = 0;
    ASSERT_EQ(0u, KivIsIndexDescending(CurrentOrderHandle(), &descending));
    ASSERT_EQ(0u, KivIsIndexUnique(CurrentOrderHandle(), &unique));
    EXPECT_EQ(descending, 1);
    EXPECT_EQ(unique, 1);
    EXPECT_EQ(ORDKEYCOUNT().Int(), 4);  // Smith twice
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 4));  // Adams, the smallest key
    EXPECT_EQ(ORDKEYNO().Int(), 4);
    ORDSETFOCUS("PLAIN");
    ASSERT_EQ(0u, KivIsIndexDescending(CurrentOrderHandle(), &descending));
    ASSERT_EQ(0u, KivIsIndexUnique(CurrentOrderHandle(), &unique));
    EXPECT_EQ(descending + unique, 0);
    EXPECT_EQ(ORDKEYCOUNT().Int(), 5);
    EXPECT_EQ(ORDKEYNO().Int(), 1);
    ORDSETFOCUS("OLD");
    EXPECT_EQ(ORDFOR().Str(), "AGE > 30");
    EXPECT_EQ(ORDKEYCOUNT().Int(), 2);
    EXPECT_EQ(ORDKEYLENGTH().Int(), 10);
    ORDSETFOCUS(0);
    EXPECT_EQ(ORDKEYNO().Int(), 4);  // natural order asks with the table handle
    EXPECT_EQ(ORDKEYCOUNT().Int(), 5);
    ExpectNoErrors();

    // Conditions are the thread's own; a call that stops early keeps them.
    ORDCONDSET(Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), true);
    DBSELECTAREA(5);
    EXPECT_FALSE(ORDCREATE("D", "X", "NAME").Log());
    errors.clear();
    DBSELECTAREA(1);
    DBCLOSEAREA();
    auto worker = xpp::Thread::New();
    worker->start(xpp::Block([](xpp::Args&) {
        DBUSEAREA(true, Value(), "PEOPLE.DBF", Value(), true);
        ORDCREATE("W", "WORKER", "NAME");
        return Value();
    }));
    worker->synchronize();
    ASSERT_TRUE(DBUSEAREA(true, Value(), "PEOPLE.DBF", Value(), true).Log());
    ASSERT_TRUE(ORDCREATE("M", "MAIN", "NAME").IsNil());
    ASSERT_EQ(0u, KivOpenIndex(CurrentTable(), "W", nullptr, &unique));
    ASSERT_EQ(0u, KivIsIndexDescending(EngineOrder("WORKER"), &descending));
    EXPECT_EQ(descending, 0);
    ASSERT_EQ(0u, KivIsIndexDescending(EngineOrder("MAIN"), &descending));
    EXPECT_EQ(descending, 1);
    ExpectNoErrors();
}

TEST_F(OrderTest, SeeksOverRealOrders) {
    People(2);
    FourOrders();
    xpp::Set(xpp::SET_DATEFORMAT, "mm/dd/yyyy");
    struct {
        const char* order;
        Value key, soft, last;
        bool found, eof;
        int64_t recno;
    } cases[] = {
        {"NAME", "Smi", Value(), Value(), true, false, 1},
        {"NAME", "Smith", Value(), true, true, false, 5},
        {"NAME", "K", true, Value(), false, false, 1},       // soft: the next greater key
        {"NAME", "K", Value(), Value(), false, true, 6},     // hard: end of file
        {"NAME", "Zz", true, Value(), false, true, 6},       // soft past the last key
        {"NAME", "Smith", true, true, true, false, 5},       // last beats soft
        {"NAME", "K", true, true, false, true, 6},
        {"NAME", "Smi", "yes", Value(), true, false, 1},     // soft only when exactly .T.
        {"AGE", 25, Value(), Value(), true, false, 2},
        {"AGE", 25, Value(), true, true, false, 4},
        {"AGE", 3, Value(), Value(), true, false, 3},
        {"AGE", 5, Value(), Value(), false, true, 6},
        {"AGE", 5, true, Value(), false, false, 2},
        {"OK", true, Value(), Value(), true, false, 1},
        {"OK", false, Value(), true, true, false, 5},
        {"BORN", Value(xpp::Date::FromYMD(1999, 1, 1)), Value(), Value(), true, false, 4},
        {"BORN", Value(xpp::Date::FromYMD(1999, 1, 2)), true, Value(), false, false, 2},
    };
    for (auto& c : cases) {
        ORDSETFOCUS(c.order);
        EXPECT_EQ(DBSEEK(c.key, c.soft, c.last).Log(), c.found) << c.order << " " << Show(c.key);
        EXPECT_EQ(FOUND().Log(), c.found) << c.order << " " << Show(c.key);
        EXPECT_EQ(EOF_().Log(), c.eof) << c.order << " " << Show(c.key);
        EXPECT_EQ(RECNO().Int(), c.recno) << c.order << " " << Show(c.key);
    }
    ExpectNoErrors();
    ORDSETFOCUS(0);
    EXPECT_FALSE(DBSEEK("Smith").Log());
    ExpectError("QEL_-999, Can't do SEEK (order is set to 0)");
    ORDLISTCLEAR();
    EXPECT_FALSE(DBSEEK("Smith").Log());
    ExpectNoErrors();
    DBSELECTAREA(4);
    EXPECT_FALSE(DBSEEK("Smith").Log());
    ExpectError("QEL_-999, Work area is not in use:[4]");
}

TEST_F(OrderTest, KeyValuesByKeyType) {
    People(2);
    ORDCREATE(Value(), "AGE1", "AGE+1");
    FourOrders();
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 2));  // Jones, 25, 1999-03-04, .F.
    struct {
        const char* order;
        const char* want;
    } cases[] = {{"NAME", "C:Jones     "}, {"AGE", "N:25"}, {"OK", "L:.F."}, {"AGE1", "U:NIL"}};
    for (auto& c : cases) {
        ORDSETFOCUS(c.order);
        EXPECT_EQ(Show(ORDKEYVAL()), c.want) << c.order;
    }
    ORDSETFOCUS("BORN");
    Value born = ORDKEYVAL();
    ASSERT_TRUE(born.IsDate());
    EXPECT_EQ(born.Dat(), xpp::Date::FromYMD(1999, 3, 4));
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 1));
    ORDSETFOCUS("OK");
    EXPECT_TRUE(ORDKEYVAL().Log());
    ORDSETFOCUS(0);
    EXPECT_TRUE(ORDKEYVAL().IsNil());
    ORDSETFOCUS("NAME");
    ASSERT_EQ(0u, KivGotoBottom(CurrentOrderHandle()));
    ASSERT_EQ(0u, KivSkip(CurrentOrderHandle(), 1));
    EXPECT_TRUE(ORDKEYVAL().IsNil());
    ExpectNoErrors();
}

TEST_F(OrderTest, ProductionIndexAndAnotherProcess) {
    People(2, "PROD.DBF");
    ASSERT_TRUE(ORDCREATE(Value(), "BYNAME", "NAME").IsNil());
    ASSERT_TRUE(ORDCREATE(Value(), "BYAGE", "AGE").IsNil());
    DBCLOSEALL();
    ASSERT_TRUE(DBUSEAREA(true, Value(), "PROD.DBF", Value(), true, Value(), true).Log());
    EXPECT_EQ(INDEXORD().Int(), 1);
    EXPECT_EQ(ORDNAME().Str(), "BYNAME");
    EXPECT_EQ(ORDBAGNAME().Str(), "PROD");
    EXPECT_TRUE(DBSEEK("Jones").Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "PROD.DBF", "P2", true).Log());
    EXPECT_EQ(INDEXORD().Int(), 0);
    // A table without its index file opens without an order.
    People(1, "NOIDX.DBF");
    DBCLOSEAREA();
    ASSERT_TRUE(DBUSEAREA(true, Value(), "NOIDX.DBF", Value(), true, Value(), true).Log());
    EXPECT_EQ(INDEXORD().Int(), 0);
    ExpectNoErrors();
    DBCLOSEALL();
    std::string there = InChildProcess([] {
        if (!DBUSEAREA(true, "DBFCDX", "PROD.DBF", Value(), true, Value(), true).Log()) return std::string("no open");
        std::string out = ORDNAME(1).Str() + " " + ORDNAME(2).Str();
        out += DBSEEK("Adams").Log() ? " found " : " missed ";
        return out + xpp::Var2Char(RECNO());
    });
    EXPECT_EQ(there, "BYNAME BYAGE found 4");
}

}  // namespace
