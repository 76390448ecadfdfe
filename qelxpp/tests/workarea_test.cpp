// Work areas over real engine tables: creation, opening, selecting,
// closing and zap.
#include "state.h"
#include "support.h"

using namespace qelxpp;
using qeltest::QelTest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

xpp::Array Field(const char* name, const char* type, int len, int dec) {
    return xpp::Array{Value(name), Value(type), Value(len), Value(dec)};
}

xpp::Array PartStructure() {
    return xpp::Array{Value(Field("NAME", "C", 20, 0)), Value(Field("AMOUNT", "N", 10, 2)),
                      Value(Field("QTY", "N", 4, 0)), Value(Field("BORN", "D", 8, 0))};
}

TEST(FieldDefinitionText, BothFormsFromStructures) {
    EXPECT_EQ(detail::FieldDefinitions(PartStructure(), 3), "NAME,CHAR,20;AMOUNT,DOUBLE,2;QTY,SHORTINT;BORN,DATE");
    EXPECT_EQ(detail::FieldDefinitions(PartStructure(), 2), "NAME,C,20;AMOUNT,N,10,2;QTY,N,4,0;BORN,D");
    struct {
        const char* type;
        int len, dec;
        const char* kdt;
        const char* cdx;
    } cases[] = {
        {"N", 4, 0, "F,SHORTINT", "F,N,4,0"},       {"N", 5, 0, "F,INTEGER", "F,N,5,0"},
        {"N", 9, 0, "F,INTEGER", "F,N,9,0"},        {"N", 10, 0, "F,DOUBLE,0", "F,N,10,0"},
        {"N", 12, 3, "F,DOUBLE,3", "F,N,12,3"},     {"c", 5, 0, "F,CHAR,5", "F,C,5"},
        {"Q", 1, 0, "F,Q", "F,Q"},                  {"Character", 5, 0, "F,CHARACTER", "F,CHARACTER"},
    };
    for (auto& c : cases) {
        xpp::Array one{Value(Field("F", c.type, c.len, c.dec))};
        EXPECT_EQ(detail::FieldDefinitions(one, 3), c.kdt) << c.type << c.len;
        EXPECT_EQ(detail::FieldDefinitions(one, 1), c.cdx) << c.type << c.len;
    }
    EXPECT_EQ(detail::FieldDefinitions(xpp::Array(), 3), "");
}

class AreaTest : public QelTest {
protected:
    void SetUp() override {
        QelTest::SetUp();
        ASSERT_TRUE(QELLOADDLL().Log());
    }
};

TEST_F(AreaTest, CreateInBothFormsAndOpenReadsTheStructure) {
    for (int type : {3, 2}) {
        SCOPED_TRACE(type);
        QELSETTABLETYPE(type);
        std::string name = type == 3 ? "KDTTAB" : "CDXTAB.DBF";
        ASSERT_TRUE(DBCREATE(name, PartStructure(), "ignored").Log());
        ASSERT_TRUE(DBUSEAREA(true, Value(), name).Log());
        xpp::Array rec = qt::WorkAreaRecord(SELECT().Int()).Arr();
        xpp::Array st = rec.Get(WA_STRUCT).Arr();
        ASSERT_EQ(st.Len(), 4u);
        EXPECT_EQ(st.Get(1).Arr().Get(FLD_TYPE).Str(), "C");
        EXPECT_EQ(st.Get(1).Arr().Get(FLD_LEN).Int(), 20);
        EXPECT_EQ(st.Get(2).Arr().Get(FLD_TYPE).Str(), type == 3 ? "F" : "N");
        EXPECT_EQ(st.Get(2).Arr().Get(FLD_DEC).Int(), 2);
        EXPECT_EQ(st.Get(4).Arr().Get(FLD_TYPE).Str(), "D");
        EXPECT_EQ(rec.Get(WA_ALIAS).Str(), type == 3 ? "KDTTAB" : "CDXTAB");
        EXPECT_EQ(rec.Get(WA_TABLETYPE).Int(), type);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(AreaTest, PositionsRecordLengthAndAlias) {
    QELSETTABLETYPE(2);
    xpp::Array st{Value(Field("A", "C", 10, 0)), Value(Field("B", "N", 8, 2)), Value(Field("C", "D", 8, 0))};
    ASSERT_TRUE(DBCREATE("C:\\MY.DIR", xpp::Array()).IsLogical());  // a folder name with a dot is no table
    errors.clear();
    ASSERT_TRUE(DBCREATE("T1.DBF", st).Log());
    ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", " t1.dbf ").Log());
    xpp::Array rec = qt::WorkAreaRecord(1).Arr();
    xpp::Array fs = rec.Get(WA_STRUCT).Arr();
    EXPECT_EQ(fs.Get(1).Arr().Get(FLD_POS).Int(), 2);
    EXPECT_EQ(fs.Get(2).Arr().Get(FLD_POS).Int(), 12);
    EXPECT_EQ(fs.Get(3).Arr().Get(FLD_POS).Int(), 20);
    EXPECT_EQ(rec.Get(WA_RECLEN).Int(), 27);
    EXPECT_EQ(rec.Get(WA_FILE).Str(), "T1.DBF");
    EXPECT_EQ(ALIAS().Str(), "T1");
}

TEST_F(AreaTest, SelectingOverArguments) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("CUST.DBF", PartStructure()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "CUST.DBF").Log());
    errors.clear();
    struct {
        Value arg;
        bool result;
        int64_t area;
        const char* error;
    } cases[] = {
        {"cust", true, 1, nullptr},
        {Value(), true, 1, nullptr},
        {5, true, 5, nullptr},
        {true, false, 5, "QEL_-999, Unknown alias type:[L]"},
        {"nope", false, 5, "QEL_-999, Alias doesn't exist:[nope]"},
        {300, false, 5, "QEL_-999, Work area number out of range:[300]"},
        {0, true, 2, nullptr},
    };
    for (auto& c : cases) {
        errors.clear();
        EXPECT_EQ(DBSELECTAREA(c.arg).Log(), c.result);
        EXPECT_EQ(SELECT().Int(), c.area);
        if (c.error) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0]->description.Str(), c.error);
        } else {
            EXPECT_TRUE(errors.empty());
        }
    }
    EXPECT_EQ(SELECT(" Cust ").Int(), 1);
    EXPECT_EQ(ALIAS(1).Str(), "CUST");
    EXPECT_EQ(ALIAS(2).Str(), "");
    EXPECT_FALSE(USED().Log());
    DBSELECTAREA(1);
    EXPECT_TRUE(USED().Log());
    DBCLOSEALL();
    EXPECT_EQ(SELECT().Int(), 1);
    EXPECT_FALSE(USED().Log());
}

TEST_F(AreaTest, AllAreasFullAndTheNextOpenFails) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("FULL.DBF", PartStructure()).Log());
    for (int i = 1; i <= kMaxAreas; ++i) ASSERT_TRUE(DBUSEAREA(true, Value(), "FULL.DBF", Value(), true).Log()) << i;
    EXPECT_FALSE(DBUSEAREA(true, Value(), "FULL.DBF", Value(), true).Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->description.Str(), "QEL_-999, All available work areas are in use");
    EXPECT_EQ(SELECT().Int(), 256);
    errors.clear();
    DBSELECTAREA(7);
    EXPECT_FALSE(DBSELECTAREA(0).Log());  // no free slot to select
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->description.Str(), "QEL_-999, All available work areas are in use");
    EXPECT_EQ(SELECT().Int(), 7);
}

TEST_F(AreaTest, ExclusiveOpenRefusesASecondOpenAndZap) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("EXCL.DBF", PartStructure()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "EXCL.DBF", Value(), true).Log());
    EXPECT_FALSE(DBZAP().Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5042);
    DBCLOSEALL();
    errors.clear();

    ASSERT_TRUE(DBUSEAREA(true, Value(), "EXCL.DBF", "E1", false).Log());
    EXPECT_FALSE(DBUSEAREA(true, Value(), "EXCL.DBF", "E2", false).Log());
    EXPECT_TRUE(xpp::NetErr());
    EXPECT_EQ(qt::LastResult().Int(), 5042);
    EXPECT_TRUE(errors.empty());
    DBSELECTAREA("E1");
    EXPECT_TRUE(DBZAP().Log());
    EXPECT_EQ(qt::WorkAreaRecord(1).Arr().Get(WA_PENDING).Int(), 0);
}

}  // namespace

namespace {

// Runs `fn` in a runtime thread and waits for its end.
void InWorker(std::function<void()> fn) { qeltest::InThread(std::move(fn)); }

TEST_F(AreaTest, WorkerReopensTheMainThreadsTables) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("ONE.DBF", PartStructure()).Log());
    ASSERT_TRUE(DBCREATE("TWO.DBF", PartStructure()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "ONE.DBF", "FIRST", true).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "TWO.DBF", Value(), true).Log());
    int64_t before = -1, first = 0, second = 0;
    bool opened = false;
    InWorker([&] {
        before = SELECT().Int();
        opened = QELDBOPEN().Log();
        first = SELECT("FIRST").Int();
        second = SELECT("TWO").Int();
    });
    EXPECT_EQ(before, 1);
    EXPECT_TRUE(opened);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(AreaTest, DbOpenFlagIsClearedWhenTheErrorBlockLeaves) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("LEAVE.DBF", PartStructure()).Log());
    bool broke = false;
    InWorker([&] {
        xpp::ErrorBlock(xpp::Block([](xpp::Args&) -> Value { xpp::Break(); }));
        KivTestFailCall("KivGetNumFields", 5009, "planted", 1);
        xpp::Sequence([&] { QELDBOPEN(xpp::Array{Value("LEAVE.DBF")}); }, [&](const Value&) { broke = true; });
    });
    EXPECT_TRUE(broke);
    size_t sleeps = clock_->Sleeps().size();
    EXPECT_TRUE(QELDBOPEN(xpp::Array{Value("LEAVE.DBF")}).Log());
    EXPECT_EQ(clock_->Sleeps().size(), sleeps);  // no waiting on a stale flag
}

TEST_F(AreaTest, CloseTableFreesAnotherThreadsSlots) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("SHARED.DBF", PartStructure()).Log());
    std::atomic<int64_t> handle{0};
    std::atomic<int> step{0};
    bool usedAfter = true;
    auto t = xpp::Thread::New();
    t->start(xpp::Block([&](xpp::Args&) {
        DBUSEAREA(true, Value(), "SHARED.DBF", Value(), true);
        handle = qt::WorkAreaRecord(1).Arr().Get(WA_TABLE).Int();
        step = 1;
        while (step.load() != 2) {
            DBSELECTAREA(1);
            (void)USED();
            (void)ALIAS();
        }
        usedAfter = USED().Log();
        return Value();
    }));
    while (step.load() != 1) std::this_thread::yield();
    EXPECT_TRUE(QELCLOSETABLE(handle.load()).Log());
    step = 2;
    t->synchronize();
    EXPECT_FALSE(usedAfter);
    EXPECT_TRUE(errors.empty());
}

}  // namespace

namespace {

TEST_F(AreaTest, ConvertTableBesideTheOpenOne) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("CONV.DBF", PartStructure()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "CONV.DBF", Value(), false).Log());
    KivTestRecordCalls(1);
    EXPECT_TRUE(QELCONVERTTABLE(2).Log());
    EXPECT_EQ(CallLog(), "");
    KivTestRecordCalls(0);
    EXPECT_TRUE(QELCONVERTTABLE().Log());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(qt::WorkAreaRecord(1).Arr().Get(WA_TABLETYPE).Int(), 2);
    EXPECT_FALSE(QELCONVERTTABLE(1).Log());  // the same ".DBF" name exists
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5002);
    QELSETTABLETYPE(3);
    errors.clear();
    EXPECT_TRUE(DBUSEAREA(true, Value(), "CONV", "K").Log());
    EXPECT_TRUE(errors.empty());
}

}  // namespace
