// Locks between two programs on one folder, the exclusive table that counts
// as locked, unlocking all areas, commits, pack, structure, and the record
// changes with the row change each area owes the replication.
#include <qel32.h>

#include <memory>

#include "area_support.h"
#include "peer_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

// The peer's answers.
const std::string kYes = "L:.T. last=0 neterr=.F. errors=0";
std::string Refused(int code) { return "L:.F. last=" + std::to_string(code) + " neterr=.F. errors=0"; }

class LockTest : public LoadedTest {
protected:
    void SetUp() override {
        LoadedTest::SetUp();
        QELSETTABLETYPE(2);
    }
    // Creates FILE with `count` records, NAME "R1" ... , and opens it in a
    // new area, shared or exclusive; the pointer on record 1.
    void Table(const char* file, int count, bool shared = true) {
        ASSERT_TRUE(DBCREATE(file, xpp::Array{Value(Field("NAME", "C", 10, 0))}).Log());
        ASSERT_TRUE(DBUSEAREA(true, Value(), file, Value(), shared).Log());
        for (int n = 1; n <= count; ++n) {
            ASSERT_EQ(0u, KivAppendRecord(CurrentTable()));
            FIELDPUT(1, "R" + std::to_string(n));
        }
        ASSERT_EQ(0u, KivUnlockTable(CurrentTable()));
        ASSERT_EQ(0u, KivGotoTop(CurrentTable()));
        Current().Set(WA_PENDING, 0);
        ExpectNoErrors();
    }
    xpp::Array Current() { return qt::WorkAreaRecord(static_cast<int>(SELECT().Int())).Arr(); }
    int64_t Pending() { return Current().Get(WA_PENDING).Int(); }
    // The other program, started on this test's folder at first use.
    Peer& B() {
        if (!peer_) peer_ = std::make_unique<Peer>(dir_);
        return *peer_;
    }
    void TearDown() override {
        peer_.reset();
        LoadedTest::TearDown();
    }

private:
    std::unique_ptr<Peer> peer_;
};

TEST_F(LockTest, RecordAndTableLocksHoldBetweenTwoPrograms) {
    Table("SHARED.DBF", 5);
    ASSERT_EQ(B().Ask("use SHARED.DBF shared"), kYes);

    // A's record lock: B cannot have the record, nor the table, but another
    // record; nothing is reported in B.
    ASSERT_TRUE(DBGOTO(3).Log());
    EXPECT_TRUE(RLOCK().Log());
    EXPECT_EQ(B().Ask("dbrlock 3"), Refused(5035));
    EXPECT_EQ(B().Ask("dbrlock 4"), kYes);
    EXPECT_EQ(B().Ask("flock"), Refused(5036));
    EXPECT_FALSE(DBRLOCK(4).Log());  // B's lock, met by A
    EXPECT_EQ(qt::LastResult().Int(), 5035);
    EXPECT_TRUE(DBUNLOCK().Log());
    EXPECT_EQ(B().Ask("goto 3"), kYes);
    EXPECT_EQ(B().Ask("rlock"), kYes);
    EXPECT_EQ(B().Ask("unlock"), kYes);

    // DBRLOCK() without a number locks the current record, as RLOCK().
    ASSERT_TRUE(DBGOTO(2).Log());
    EXPECT_TRUE(DBRLOCK().Log());
    EXPECT_EQ(B().Ask("dbrlock 2"), Refused(5035));
    EXPECT_TRUE(DBUNLOCK().Log());

    // A's table lock keeps every record from B.
    EXPECT_TRUE(FLOCK().Log());
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(B().Ask("dbrlock " + std::to_string(n)), Refused(5035)) << n;
    // ... and A's append fails while B holds the table: reported, NETERR().
    EXPECT_TRUE(DBUNLOCK().Log());
    EXPECT_EQ(B().Ask("flock"), kYes);
    xpp::NetErr(false);
    EXPECT_FALSE(DBAPPEND().Log());
    EXPECT_TRUE(xpp::NetErr());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), qt::LastResult().Int());
    EXPECT_GT(errors[0]->subCode.Int(), 5000);
    errors.clear();
    EXPECT_EQ(LASTREC().Int(), 5);
    EXPECT_EQ(B().Ask("unlock"), kYes);

    // A value A writes and commits under its lock is what B reads once it
    // has the record.
    ASSERT_TRUE(DBGOTO(2).Log());
    ASSERT_TRUE(RLOCK().Log());
    FIELDPUT(1, "Written");
    EXPECT_TRUE(DBCOMMIT().Log());
    EXPECT_EQ(B().Ask("goto 2"), kYes);
    EXPECT_EQ(B().Ask("rlock"), Refused(5035));
    EXPECT_TRUE(DBUNLOCK().Log());
    EXPECT_EQ(B().Ask("rlock"), kYes);
    EXPECT_EQ(B().Ask("get 1"), "C:Written    last=0 neterr=.F. errors=0");
    EXPECT_EQ(B().Ask("unlock"), kYes);

    // An appended record stays locked for A until A unlocks.
    xpp::NetErr(false);
    EXPECT_TRUE(DBAPPEND().Log());
    EXPECT_FALSE(xpp::NetErr());
    EXPECT_EQ(RECNO().Int(), 6);
    EXPECT_TRUE(DBCOMMIT().Log());
    EXPECT_EQ(B().Ask("dbrlock 6"), Refused(5035));
    EXPECT_TRUE(DBUNLOCK().Log());
    EXPECT_EQ(B().Ask("dbrlock 6"), kYes);
    EXPECT_EQ(B().Ask("unlock"), kYes);
    ExpectNoErrors();

    // A table A has open exclusive cannot be opened by B: .F. and NETERR()
    // without a report.
    EXPECT_EQ(B().Ask("close"), "U:NIL last=0 neterr=.F. errors=0");
    DBCLOSEALL();
    ASSERT_TRUE(DBUSEAREA(true, Value(), "SHARED.DBF", Value(), false).Log());
    EXPECT_EQ(B().Ask("use SHARED.DBF shared"), "L:.F. last=5042 neterr=.T. errors=0");
    DBCLOSEALL();
    EXPECT_EQ(B().Ask("use SHARED.DBF shared"), kYes);
    ExpectNoErrors();
}

// A table opened exclusive counts as locked: no engine call.
TEST_F(LockTest, AnExclusiveTableIsLockedWithoutAsking) {
    Table("ALONE.DBF", 3, false);
    for (const auto& [what, fn] : std::vector<std::pair<const char*, std::function<Value()>>>{
             {"FLOCK", [] { return FLOCK(); }},
             {"RLOCK", [] { return RLOCK(); }},
             {"DBRLOCK(2)", [] { return DBRLOCK(2); }},
             {"DBRLOCK(99)", [] { return DBRLOCK(99); }},
             {"DBUNLOCK", [] { return DBUNLOCK(); }},
         }) {
        SCOPED_TRACE(what);
        Value result;
        EXPECT_EQ(CallsOf([&] { result = fn(); }), "");
        EXPECT_EQ(Show(result), "L:.T.");
    }
    ExpectNoErrors();
}

TEST_F(LockTest, UnlockAllReleasesTheSharedAreasInSlotOrder) {
    Table("ONE.DBF", 2);
    Table("TWO.DBF", 2, false);
    Table("THREE.DBF", 2);
    for (int area : {1, 3}) {
        ASSERT_TRUE(DBSELECTAREA(area).Log());
        ASSERT_TRUE(FLOCK().Log());
    }
    ASSERT_EQ(B().Ask("use ONE.DBF shared"), kYes);
    ASSERT_EQ(B().Ask("use THREE.DBF shared"), kYes);
    EXPECT_EQ(B().Ask("dbrlock 1"), Refused(5035));
    ASSERT_TRUE(DBSELECTAREA(2).Log());
    DBDELETE();  // a change owed in the exclusive area
    ASSERT_EQ(Pending(), 1);
    Value result;
    EXPECT_EQ(CallsOf([&] { result = DBUNLOCKALL(); }), "KivUnlockTable\nKivUnlockTable\n");
    EXPECT_TRUE(result.Log());
    EXPECT_EQ(SELECT().Int(), 2);
    EXPECT_EQ(Pending(), 1);
    EXPECT_EQ(B().Ask("dbrlock 1"), kYes);
    EXPECT_EQ(B().Ask("select 1"), kYes);
    EXPECT_EQ(B().Ask("dbrlock 1"), kYes);
    EXPECT_EQ(B().Ask("use TWO.DBF shared"), "L:.F. last=5042 neterr=.T. errors=0");
    ExpectNoErrors();
    // Free slots are passed by; the current area comes back even when free.
    ASSERT_TRUE(DBSELECTAREA(7).Log());
    EXPECT_TRUE(DBUNLOCKALL().Log());
    EXPECT_EQ(SELECT().Int(), 7);
    ExpectNoErrors();
}

// DBRUNLOCK releases the whole table whatever record it is given.
TEST_F(LockTest, RecordUnlockReleasesTheWholeTable) {
    Table("RUN.DBF", 5);
    ASSERT_EQ(B().Ask("use RUN.DBF shared"), kYes);
    ASSERT_TRUE(DBRLOCK(1).Log());
    ASSERT_TRUE(DBRLOCK(2).Log());
    EXPECT_EQ(B().Ask("dbrlock 1"), Refused(5035));
    EXPECT_TRUE(DBRUNLOCK(5).Log());
    EXPECT_EQ(B().Ask("dbrlock 1"), kYes);
    EXPECT_EQ(B().Ask("dbrlock 2"), kYes);
    ExpectNoErrors();
}

// 5087 and 9008 count as unlocked; another refusal is .F. without a report.
// A record number the engine cannot hold is no record: it reaches and
// locks none, and never another record by its lower bits.
TEST_F(LockTest, NumbersBeyondTheEnginesRangeReachNoRecord) {
    Table("RANGE.DBF", 10);
    ASSERT_EQ(B().Ask("use RANGE.DBF shared"), kYes);
    for (double n : {4294967297.0, -1.0, 4294967296.0 * 4 + 3}) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(DBGOTO(2).Log());
        EXPECT_FALSE(DBGOTO(n).Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subCode.Int(), 5022);
        errors.clear();
        EXPECT_TRUE(EOF_().Log());
        EXPECT_EQ(RECNO().Int(), 11);
    }
    ASSERT_TRUE(DBGOTO(2).Log());
    for (double n : {4294967299.0, -1.0, 4294967296.0 + 1}) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(DBRLOCK(n).Log());
        ExpectNoErrors();
    }
    for (int n : {1, 2, 3}) EXPECT_EQ(B().Ask("dbrlock " + std::to_string(n)), kYes) << n;
    EXPECT_EQ(B().Ask("unlock"), kYes);
    ExpectNoErrors();
}

TEST_F(LockTest, UnlockAnswers) {
    Table("ANSWERS.DBF", 1);
    for (const auto& [code, result] : std::vector<std::pair<uint32_t, bool>>{{5087, true}, {9008, true}, {5035, false}, {5099, false}}) {
        SCOPED_TRACE(code);
        KivTestFailCall("KivUnlockTable", code, "planted", 1);
        EXPECT_EQ(DBUNLOCK().Log(), result);
        EXPECT_EQ(qt::LastResult().Int(), code);
        // a refusal is a record the engine did not write: reported
        if (!result) ExpectError("QEL_" + std::to_string(code) + ", planted");
    }
    EXPECT_TRUE(DBUNLOCK().Log());  // nothing held
    EXPECT_EQ(qt::LastResult().Int(), 0);
    ExpectNoErrors();
}

TEST_F(LockTest, AFreeWorkArea) {
    Table("SOME.DBF", 1);
    xpp::NetErr(false);
    ExpectOnFreeArea(4, {
                            {"FLOCK", [] { return FLOCK(); }, "L:.F.", kNotInUse},
                            {"DBRLOCK", [] { return DBRLOCK(1); }, "L:.F.", kSilent},
                            {"RLOCK", [] { return RLOCK(); }, "L:.F.", kSilent},
                            {"DBUNLOCK", [] { return DBUNLOCK(); }, "L:.F.", kSilent},
                            {"DBRUNLOCK", [] { return DBRUNLOCK(); }, "L:.F.", kSilent},
                            {"DBCOMMIT", [] { return DBCOMMIT(); }, "L:.T.", kSilent},
                            {"DBPACK", [] { return DBPACK(); }, "L:.F.", kNotInUse},
                            {"DBSTRUCT", [] { return DBSTRUCT(); }, "A:{}", kSilent},
                            {"DBDELETE", [] { return DBDELETE(); }, "L:.F.", kNotInUse},
                            {"DBRECALL", [] { return DBRECALL(); }, "L:.F.", kNotInUse},
                        });
    EXPECT_FALSE(xpp::NetErr());
    // DBAPPEND sets NETERR() as well.
    EXPECT_EQ(CallsOf([] { EXPECT_FALSE(DBAPPEND().Log()); }), "");
    EXPECT_TRUE(xpp::NetErr());
    ExpectError("QEL_-999, Work area is not in use:[4]");
}

// A deleted KDT record is hidden for good: no SETDELETED shows it and no
// DBRECALL brings it back; a hidden deleted DBF record is reached at end
// of file as well.
TEST_F(LockTest, DeletedKdtRecordsStayHidden) {
    auto walk = [] {
        std::string out;
        for (DBGOTOP(); !EOF_().Log(); DBSKIP()) out += std::to_string(RECNO().Int());
        return out;
    };
    QELSETTABLETYPE(3);
    Table("GONE.KDT", 4);
    ASSERT_TRUE(DBGOTO(2).Log());
    ASSERT_TRUE(DBDELETE().Log());
    for (bool show : {true, false}) {
        SCOPED_TRACE(show);
        SETDELETED(show);
        EXPECT_EQ(walk(), "134");
        EXPECT_TRUE(DBGOTO(2).Log());
        EXPECT_TRUE(EOF_().Log());
        EXPECT_FALSE(DBRECALL().Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subCode.Int(), 5068);
        errors.clear();
    }
    QELSETTABLETYPE(2);
    Table("GONE.DBF", 4);
    ASSERT_TRUE(DBGOTO(2).Log());
    ASSERT_TRUE(DBDELETE().Log());
    SETDELETED(false);
    EXPECT_EQ(walk(), "134");
    EXPECT_TRUE(DBGOTO(2).Log());
    EXPECT_TRUE(EOF_().Log());
    SETDELETED(true);
    EXPECT_EQ(walk(), "1234");
    ASSERT_TRUE(DBGOTO(2).Log());
    EXPECT_TRUE(DBRECALL().Log());
    ExpectNoErrors();
}

TEST_F(LockTest, DeleteRecallAndPack) {
    Table("PACK.DBF", 5, false);
    for (int n : {2, 4}) {
        ASSERT_TRUE(DBGOTO(n).Log());
        EXPECT_TRUE(DBDELETE().Log());
        EXPECT_TRUE(DELETED().Log());
    }
    EXPECT_TRUE(DBRECALL().Log());
    EXPECT_FALSE(DELETED().Log());
    EXPECT_TRUE(DBDELETE().Log());
    EXPECT_TRUE(DBPACK().Log());
    EXPECT_EQ(LASTREC().Int(), 3);
    std::string names;
    for (DBGOTOP(); !EOF_().Log(); DBSKIP()) names += xpp::Trim(FIELDGET(1).Str()) + " ";
    EXPECT_EQ(names, "R1 R3 R5 ");
    ExpectNoErrors();
    // A shared table is not packed: the engine's refusal is reported.
    Table("SHAREDPACK.DBF", 2);
    ASSERT_TRUE(DBDELETE().Log());
    EXPECT_FALSE(DBPACK().Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5042);
    errors.clear();
    EXPECT_EQ(LASTREC().Int(), 2);
    // A refused delete or recall is reported and changes no pending kind.
    Current().Set(WA_PENDING, 2);
    for (const char* call : {"KivDeleteRecord", "KivRecallRecord"}) {
        SCOPED_TRACE(call);
        KivTestFailCall(call, 5099, "planted", 1);
        EXPECT_FALSE((std::string(call) == "KivDeleteRecord" ? DBDELETE() : DBRECALL()).Log());
        ExpectError("QEL_5099, planted");
        EXPECT_EQ(Pending(), 2);
    }
}

TEST_F(LockTest, CommitsWriteWhatOthersRead) {
    Table("COMMIT.DBF", 2);
    ASSERT_EQ(B().Ask("use COMMIT.DBF shared"), kYes);
    ASSERT_TRUE(DBGOTO(1).Log());
    ASSERT_TRUE(RLOCK().Log());
    FIELDPUT(1, "One");
    ASSERT_TRUE(DBSELECTAREA(2).Log());
    Table("OTHER.DBF", 1);
    ASSERT_TRUE(RLOCK().Log());
    FIELDPUT(1, "Other");
    EXPECT_TRUE(DBCOMMITALL().Log());
    // Both areas are written, though the records are still locked.
    EXPECT_EQ(B().Ask("goto 1"), kYes);
    EXPECT_EQ(B().Ask("get 1"), "C:One        last=0 neterr=.F. errors=0");
    EXPECT_EQ(B().Ask("use OTHER.DBF shared"), kYes);
    EXPECT_EQ(B().Ask("goto 1"), kYes);
    EXPECT_EQ(B().Ask("get 1"), "C:Other      last=0 neterr=.F. errors=0");
    ExpectNoErrors();
    for (const char* call : {"KivWriteRecord", "KivWriteAllRecords"}) {
        SCOPED_TRACE(call);
        KivTestFailCall(call, 5099, "planted", 1);
        EXPECT_FALSE((std::string(call) == "KivWriteRecord" ? DBCOMMIT() : DBCOMMITALL()).Log());
        ExpectError("QEL_5099, planted");
    }
}

TEST_F(LockTest, StructureIsACopy) {
    Table("STRUCT.DBF", 0);
    ASSERT_TRUE(DBCREATE("WIDE.DBF", xpp::Array{Value(Field("NAME", "C", 12, 0)), Value(Field("AMOUNT", "N", 9, 2)),
                                                Value(Field("BORN", "D", 8, 0))})
                    .Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "WIDE.DBF").Log());
    Value first = DBSTRUCT();
    EXPECT_EQ(Show(first), "A:{{NAME, C, 12, 0, 2, 4}, {AMOUNT, N, 9, 2, 14, 2}, {BORN, D, 8, 0, 23, 3}}");
    first.Arr().Get(1).Arr().Set(FLD_NAME, "CHANGED");
    first.Arr().Add(Value(xpp::Array{Value("MORE")}));
    EXPECT_EQ(Show(DBSTRUCT()), "A:{{NAME, C, 12, 0, 2, 4}, {AMOUNT, N, 9, 2, 14, 2}, {BORN, D, 8, 0, 23, 3}}");
    EXPECT_EQ(FIELDNAME(1).Str(), "NAME");
    ExpectNoErrors();
}

// The pending kind of a row change: set in every table, cleared by an
// unlock only together with a flush, that is in a replicated table.
TEST_F(LockTest, PendingKinds) {
    detail::State().aReplAliases.Add(Value("COPIED"));
    Table("PLAIN.DBF", 2);
    Table("COPIED.DBF", 2);
    xpp::NetErr(false);
    struct Step {
        const char* what;
        std::function<Value()> fn;
        int64_t plain;   // kind after the step in a table that is not replicated
        int64_t copied;  // ... and in a replicated one
    };
    const std::vector<Step> steps = {
        {"DBAPPEND", [] { return DBAPPEND(); }, 3, 3},
        {"FIELDPUT", [] { return Value(FIELDPUT(1, "New").IsChar()); }, 3, 3},
        {"DBDELETE", [] { return DBDELETE(); }, 1, 1},
        {"DBRECALL", [] { return DBRECALL(); }, 3, 3},
        {"DBUNLOCK", [] { return DBUNLOCK(); }, 3, 0},
        {"FIELDPUT", [] { return Value(FIELDPUT(1, "Again").IsChar()); }, 3, 2},
        {"DBDELETE", [] { return DBDELETE(); }, 1, 1},
        {"DBAPPEND", [] { return DBAPPEND(); }, 3, 3},
        {"DBUNLOCK", [] { return DBUNLOCK(); }, 3, 0},
        {"DBDELETE", [] { return DBDELETE(); }, 1, 1},
        {"DBUNLOCKALL", [] { return DBUNLOCKALL(); }, 1, 0},
    };
    for (int area : {1, 2}) {
        SCOPED_TRACE(area == 1 ? "PLAIN" : "COPIED");
        ASSERT_TRUE(DBSELECTAREA(area).Log());
        ASSERT_EQ(Current().Get(WA_REPLICATE).Log(), area == 2);
        for (const Step& s : steps) {
            SCOPED_TRACE(s.what);
            EXPECT_TRUE(s.fn().Log());
            EXPECT_EQ(Pending(), area == 1 ? s.plain : s.copied);
        }
        ASSERT_TRUE(DBSELECTAREA(area).Log());
    }
    EXPECT_FALSE(xpp::NetErr());
    // no replication database is named: its connect fails once
    ExpectError("QEL_-800, Can't connect to ODBC replication database!");

    // A failed append keeps the kind of the row left; NETERR().
    ASSERT_TRUE(DBSELECTAREA(2).Log());
    ASSERT_TRUE(DBDELETE().Log());
    KivTestFailCall("KivAppendRecord", 5099, "planted", 1);
    EXPECT_FALSE(DBAPPEND().Log());
    EXPECT_TRUE(xpp::NetErr());
    ExpectError("QEL_5099, planted");
    EXPECT_EQ(Pending(), 1);
    // A refused unlock of a replicated table is reported, sends nothing and
    // keeps the change owed; the unlock's answer stays the last result.
    KivTestFailCall("KivUnlockTable", 5099, "planted", 1);
    EXPECT_FALSE(DBUNLOCK().Log());
    ExpectError("QEL_5099, planted");
    EXPECT_EQ(Pending(), 1);
    EXPECT_EQ(qt::LastResult().Int(), 5099);
    EXPECT_TRUE(DBUNLOCK().Log());
    EXPECT_EQ(Pending(), 0);
    ExpectNoErrors();
}

// An exclusive replicated table: the unlock writes the record, then sends
// and clears the change owed, without an unlock call.
TEST_F(LockTest, PendingKindOfAnExclusiveReplicatedTable) {
    detail::State().aReplAliases.Add(Value("ONLY"));
    Table("ONLY.DBF", 1, false);
    ASSERT_TRUE(Current().Get(WA_REPLICATE).Log());
    ASSERT_TRUE(DBDELETE().Log());
    EXPECT_EQ(Pending(), 1);
    Value result;
    EXPECT_EQ(CallsOf([&] { result = DBUNLOCK(); }), "KivWriteRecord\nKivGetRecordNum\n");  // written, then sent
    EXPECT_TRUE(result.Log());
    EXPECT_EQ(Pending(), 0);
    // no replication database is named: its connect fails, the row is logged
    ExpectError("QEL_-800, Can't connect to ODBC replication database!");
    EXPECT_NE(Log().find("ONLY DELETE RecNo: 1\r\n"), std::string::npos);
}

}  // namespace
