// Replication of changed rows: tables named for replication send their row
// changes through ROWXPP and unixODBC into real databases (the SQLite ODBC
// driver, psqlODBC over the test server), read back from outside.
#include <sql.h>
#include <sqlext.h>

#include <rowxpp/sql_connection.h>
#include <rowxpp/sql_statement.h>

#include "area_support.h"
#include "kiv_odbc_testing/admin_connection.h"
#include "peer_support.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include "kiv_odbc_testing/data_sources.h"

namespace qeltest {
namespace {

using kivodbc::testing::Row;
using kivodbc::testing::TestDataSources;

// Rows as "v|v|..." lines, NULL as "-".
std::string RowsText(const std::vector<Row>& rows) {
    std::string out;
    for (const Row& r : rows) {
        std::string line;
        for (const auto& v : r) line += (line.empty() ? "" : "|") + (v ? *v : std::string("-"));
        out += line + "\n";
    }
    return out;
}

// A plain ODBC connection by connection string, for looking at a target.
class Target {
public:
    explicit Target(const std::string& connect) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        std::string text = connect;
        SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc))
            throw std::runtime_error(kivodbc::testing::DiagnosticText(SQL_HANDLE_DBC, dbc_));
    }
    ~Target() {
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    void Execute(const std::string& sql) { kivodbc::testing::ExecuteOn(dbc_, sql); }
    std::vector<Row> Query(const std::string& sql) { return kivodbc::testing::QueryOn(dbc_, sql); }
    // The rows as "v|v|..." lines, NULL as "-".
    std::string Rows(const std::string& sql) { return RowsText(Query(sql)); }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

const char* const kCustomerSqlite =
    "CREATE TABLE CUSTOMER (_RECNO INTEGER, NAME VARCHAR(30), AMOUNT NUMERIC(10,2), ACTIVE INTEGER, "
    "SINCE DATE, NOTES TEXT)";

class ReplicationTest : public LoadedTest {
protected:
    void SetUp() override {
        LoadedTest::SetUp();
        TestDataSources::Get().Activate();
        rowxpp::SQLCONNECTION();
    }
    void TearDown() override {
        qelxpp::DBCLOSEALL();
        qelxpp::testing::SetReplicationStatementMaker({});
        qelxpp::testing::EndReplication();
        rowxpp::SQLConnection::DestroyContext();
        LoadedTest::TearDown();
    }
    std::string SqliteConnect(const std::string& file) {
        return std::string("DRIVER={") + TestDataSources::kSqliteDriver + "};Database=" + file;
    }
    // A fresh SQLite target with the CUSTOMER table; replication of
    // CUSTOMER into it.
    std::unique_ptr<Target> SqliteTarget(const char* create = kCustomerSqlite) {
        const std::string connect = SqliteConnect(dir_ + "/replica.db");
        auto t = std::make_unique<Target>(connect);
        if (create) t->Execute(create);
        qelxpp::QELSQLREPLICATE("customer ");
        qelxpp::QELSQLREPLICATECONNECTION(connect);
        return t;
    }
    // The CDX table CUSTOMER, opened shared (or exclusive).
    void Customer(bool shared = true, const char* file = "CUSTOMER.DBF") {
        qelxpp::QELSETTABLETYPE(2);
        ASSERT_TRUE(qelxpp::DBCREATE(file, xpp::Array{xpp::Value(Field("NAME", "C", 30, 0)),
                                                      xpp::Value(Field("AMOUNT", "N", 10, 2)),
                                                      xpp::Value(Field("ACTIVE", "L", 1, 0)),
                                                      xpp::Value(Field("SINCE", "D", 8, 0)),
                                                      xpp::Value(Field("NOTES", "M", 10, 0))})
                        .Log());
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), file, xpp::Value(), shared).Log());
    }
    void Put(const char* name, double amount, bool active, const char* since) {
        qelxpp::FIELDPUT(1, name);
        qelxpp::FIELDPUT(2, amount);
        qelxpp::FIELDPUT(3, active);
        qelxpp::FIELDPUT(4, xpp::SToD(since));
    }
    static constexpr const char* kAll = "SELECT _RECNO, NAME, AMOUNT, ACTIVE, SINCE FROM CUSTOMER ORDER BY _RECNO";
};

TEST_F(ReplicationTest, AppendEditDeleteRecallAndZapReachSqlite) {
    auto target = SqliteTarget();
    Customer();
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    Put("Ann", 12.5, true, "20060530");
    qelxpp::FIELDPUT(5, std::string(1000, 'm'));
    EXPECT_TRUE(target->Rows(kAll).empty()) << "nothing is sent before the row is left";
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows(kAll), "1|Ann|12.5|1|2006-05-30\n");
    EXPECT_EQ(target->Rows("SELECT length(NOTES) FROM CUSTOMER"), "1000\n");

    // blanks: NAME NULL, AMOUNT 0, ACTIVE 0, SINCE NULL; the second append
    // sends the first row, the close sends the last
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    EXPECT_EQ(target->Rows(kAll), "1|Ann|12.5|1|2006-05-30\n2|-|0|0|-\n");
    qelxpp::FIELDPUT(1, "Carl");

    ExpectNoErrors();
    // an update under a lock
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    ASSERT_TRUE(qelxpp::DBGOTO(1).Log());
    ASSERT_TRUE(qelxpp::RLOCK().Log());
    qelxpp::FIELDPUT(2, 99);
    qelxpp::FIELDPUT(3, false);
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows(kAll), "1|Ann|99|0|2006-05-30\n2|-|0|0|-\n3|Carl|0|0|-\n");

    ExpectNoErrors();
    // delete and recall
    ASSERT_TRUE(qelxpp::DBDELETE().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT _RECNO FROM CUSTOMER ORDER BY _RECNO"), "2\n3\n");
    ASSERT_TRUE(qelxpp::DBRECALL().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows(kAll), "1|Ann|99|0|2006-05-30\n2|-|0|0|-\n3|Carl|0|0|-\n");
    EXPECT_EQ(target->Rows("SELECT length(NOTES) FROM CUSTOMER WHERE _RECNO=1"), "1000\n");

    ExpectNoErrors();
    // the close sends what is pending
    ASSERT_TRUE(qelxpp::DBGOTO(2).Log());
    qelxpp::FIELDPUT(1, "Bea");
    qelxpp::DBCLOSEAREA();
    EXPECT_EQ(target->Rows("SELECT NAME FROM CUSTOMER WHERE _RECNO=2"), "Bea\n");

    ExpectNoErrors();
    // a zap empties the replica, the pending change it clears sends nothing
    ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "CUSTOMER.DBF", xpp::Value(), false).Log());
    ASSERT_TRUE(qelxpp::DBGOTOP().Log());
    qelxpp::FIELDPUT(1, "Zed");
    ASSERT_TRUE(qelxpp::DBZAP().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows(kAll), "");
    ExpectNoErrors();
}

TEST_F(ReplicationTest, EveryChangedRowReachesTheReplicaWhereverThePointerGoes) {
    auto target = SqliteTarget();
    Customer(false);
    for (int i = 1; i <= 6; ++i) {
        ASSERT_TRUE(qelxpp::DBAPPEND().Log());
        qelxpp::FIELDPUT(1, "N" + std::to_string(i));
    }
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    ASSERT_EQ(target->Rows("SELECT count(*) FROM CUSTOMER"), "6\n");

    // a change to record 5, then a skip and an unlock: row 5 changes, 6 not
    ASSERT_TRUE(qelxpp::DBGOTO(5).Log());
    qelxpp::FIELDPUT(1, "Five");
    ASSERT_TRUE(qelxpp::DBSKIP().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT NAME FROM CUSTOMER WHERE _RECNO>=5 ORDER BY _RECNO"), "Five\nN6\n");

    // a loop of FIELDPUT and DBSKIP over the exclusive table updates every row
    qelxpp::DBGOTOP();
    while (!qelxpp::EOF_().Log()) {
        qelxpp::FIELDPUT(2, qelxpp::RECNO().Int() * 10);
        qelxpp::DBSKIP();
    }
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT group_concat(AMOUNT) FROM (SELECT AMOUNT FROM CUSTOMER ORDER BY _RECNO)"),
              "10,20,30,40,50,60\n");

    // a record written whole
    ASSERT_TRUE(qelxpp::DBGOTO(2).Log());
    qelxpp::RECORDPUT(xpp::Array{"Two", 2, true, xpp::Value(xpp::SToD("20200101")), xpp::Value()});
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT NAME, AMOUNT, ACTIVE, SINCE FROM CUSTOMER WHERE _RECNO=2"), "Two|2|1|2020-01-01\n");

    // after a pack the replica holds the table's rows under their new numbers
    for (int n : {1, 3}) {
        ASSERT_TRUE(qelxpp::DBGOTO(n).Log());
        ASSERT_TRUE(qelxpp::DBDELETE().Log());
    }
    ASSERT_TRUE(qelxpp::DBPACK().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT _RECNO, NAME FROM CUSTOMER ORDER BY _RECNO"), "1|Two\n2|N4\n3|Five\n4|N6\n");
    ExpectNoErrors();
}

TEST_F(ReplicationTest, OnlyTablesNamedExactlyAreReplicated) {
    auto target = SqliteTarget();
    target->Execute("CREATE TABLE CUST (_RECNO INTEGER, NAME VARCHAR(30))");
    target->Execute("CREATE TABLE OTHER (_RECNO INTEGER, NAME VARCHAR(30))");
    EXPECT_EQ(qelxpp::QELSQLREPLICATE(" Customer").Arr().Len(), 1u) << "a name is held once";
    for (const char* file : {"CUST.DBF", "OTHER.DBF"}) {
        Customer(true, file);
        ASSERT_TRUE(qelxpp::DBAPPEND().Log());
        qelxpp::FIELDPUT(1, "x");
        ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
        qelxpp::DBCLOSEAREA();
    }
    EXPECT_EQ(target->Rows("SELECT count(*) FROM CUST"), "0\n");
    EXPECT_EQ(target->Rows("SELECT count(*) FROM OTHER"), "0\n");
    EXPECT_TRUE(qelxpp::testing::ReplicationConnection().IsNil()) << "no connection was needed";
    ExpectNoErrors();
}

TEST_F(ReplicationTest, NumbersOfAKdtTableAreSent) {
    auto target = SqliteTarget(nullptr);
    target->Execute("CREATE TABLE KDT (_RECNO INTEGER, S INTEGER, I INTEGER, D REAL, V VARCHAR(20))");
    qelxpp::QELSQLREPLICATE("KDT");
    qelxpp::QELSETTABLETYPE(3);
    ASSERT_TRUE(qelxpp::DBCREATE("KDT.KDT", xpp::Array{xpp::Value(Field("S", "N", 4, 0)), xpp::Value(Field("I", "N", 9, 0)),
                                                       xpp::Value(Field("D", "N", 10, 2)), xpp::Value(Field("V", "V", 20, 0))})
                    .Log());
    ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "KDT.KDT", xpp::Value(), true).Log());
    EXPECT_EQ(xpp::Var2Char(qelxpp::DBSTRUCT()).find("\"N\""), std::string::npos) << "kept in binary";
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    qelxpp::FIELDPUT(1, 7);
    qelxpp::FIELDPUT(2, 123456);
    qelxpp::FIELDPUT(3, 2.5);
    qelxpp::FIELDPUT(4, "var");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT _RECNO, S, I, D, V FROM KDT"), "1|7|123456|2.5|var\n");
    ExpectNoErrors();
}

TEST_F(ReplicationTest, AFailedInsertIsLoggedAndLaterChangesStillArrive) {
    auto target = SqliteTarget(nullptr);
    Customer();
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    qelxpp::FIELDPUT(1, "Cleo");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log()) << "no replication failure changes the result";
    const std::string log = Log();
    EXPECT_NE(log.find("CUSTOMER UPDATE RecNo: 3\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("no such table"), std::string::npos) << log;
    target->Execute(kCustomerSqlite);
    ASSERT_TRUE(qelxpp::DBGOTO(2).Log());
    qelxpp::FIELDPUT(1, "Bob");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT _RECNO, NAME FROM CUSTOMER"), "2|Bob\n") << "the failed entry is not retried";
    ExpectNoErrors();
}

TEST_F(ReplicationTest, ATargetNotThereYetIsReportedOnceAndTriedAgainLater) {
    const std::string folder = dir_ + "/later";
    const std::string connect = SqliteConnect(folder + "/replica.db");
    qelxpp::QELSQLREPLICATE("CUSTOMER");
    qelxpp::QELSQLREPLICATECONNECTION(connect);
    Customer();
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ExpectError("QEL_-800, Can't connect to ODBC replication database!");
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_TRUE(errors.empty()) << "-800 is raised once";
    std::string log = Log();
    EXPECT_NE(log.find("CUSTOMER INSERT RecNo: 1\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CUSTOMER INSERT RecNo: 2\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CUSTOMER INSERT RecNo: 3\r\n"), std::string::npos) << log;

    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    Target target(connect);
    target.Execute(kCustomerSqlite);
    qelxpp::FIELDPUT(1, "Early");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target.Rows("SELECT count(*) FROM CUSTOMER"), "0\n") << "within 5 seconds no new attempt";
    EXPECT_NE(Log().find("CUSTOMER UPDATE RecNo: 3\r\n"), std::string::npos);
    clock_->Advance(5000);
    qelxpp::FIELDPUT(1, "Later");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target.Rows("SELECT _RECNO, NAME FROM CUSTOMER"), "3|Later\n");
    ExpectNoErrors();
}

// CUSTOMER filled through the library: `count` records, NAME "R<n>",
// AMOUNT n, each sent by the unlock after it.
void FillCustomer(int count) {
    for (int n = 1; n <= count; ++n) {
        ASSERT_TRUE(qelxpp::DBAPPEND().Log());
        qelxpp::FIELDPUT(1, "R" + std::to_string(n));
        qelxpp::FIELDPUT(2, n);
        ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    }
}

// A change the engine refuses to write while another program holds the
// record is reported by every call that would store it, is sent by none,
// and stays in the buffer until a write succeeds.
TEST_F(ReplicationTest, AChangeTheEngineRefusedIsReportedAndNeverSent) {
    auto target = SqliteTarget();
    Customer();
    FillCustomer(10);
    Peer b(dir_);
    ASSERT_EQ(b.Ask("use CUSTOMER.DBF shared"), "L:.T. last=0 neterr=.F. errors=0");
    ASSERT_EQ(b.Ask("goto 7"), "L:.T. last=0 neterr=.F. errors=0");
    ASSERT_EQ(b.Ask("rlock"), "L:.T. last=0 neterr=.F. errors=0");

    ASSERT_TRUE(qelxpp::DBGOTO(7).Log());
    EXPECT_EQ(qelxpp::FIELDPUT(2, 4242).Int(), 4242);
    const std::string row7 = "SELECT NAME, AMOUNT FROM CUSTOMER WHERE _RECNO=7";
    struct Case {
        const char* call;
        std::function<xpp::Value()> fn;
        bool neterr;
    } cases[] = {
        {"DBUNLOCK", [] { return qelxpp::DBUNLOCK(); }, false},
        {"DBSKIP", [] { return qelxpp::DBSKIP(); }, false},
        {"DBAPPEND", [] { return qelxpp::DBAPPEND(); }, true},
        {"DBGOTOP", [] { return qelxpp::DBGOTOP(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        xpp::NetErr(false);
        EXPECT_FALSE(c.fn().Log());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subSystem.Str(), "QEL");
        EXPECT_EQ(errors[0]->subCode.Int(), 5035);
        errors.clear();
        EXPECT_EQ(xpp::NetErr(), c.neterr);
        EXPECT_EQ(qelxpp::RECNO().Int(), 7);
        EXPECT_EQ(qelxpp::LASTREC().Int(), 10);
        EXPECT_EQ(target->Rows(row7), "R7|7\n");
        EXPECT_EQ(qelxpp::testing::WorkAreaRecord(1).Arr().Get(qelxpp::WA_PENDING).Int(), 2);
    }
    const std::string log = Log();
    EXPECT_NE(log.find("= ERROR OBJECT"), std::string::npos) << log;
    EXPECT_NE(log.find("QEL_5035, "), std::string::npos) << log;
    EXPECT_EQ(b.Ask("get 2"), "N:7.00 last=0 neterr=.F. errors=0");

    // once B lets go, the next unlock stores and sends the change
    ASSERT_EQ(b.Ask("unlock"), "L:.T. last=0 neterr=.F. errors=0");
    EXPECT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows(row7), "R7|4242\n");
    ASSERT_EQ(b.Ask("goto 7"), "L:.T. last=0 neterr=.F. errors=0");
    EXPECT_EQ(b.Ask("get 2"), "N:4242.00 last=0 neterr=.F. errors=0");
    ExpectNoErrors();

    // a close the engine refuses is reported: the change is in neither
    qelxpp::FIELDPUT(2, 5555);
    ASSERT_EQ(b.Ask("rlock"), "L:.T. last=0 neterr=.F. errors=0");
    EXPECT_FALSE(qelxpp::DBCLOSEAREA().Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5035);
    errors.clear();
    EXPECT_FALSE(qelxpp::USED().Log());
    EXPECT_EQ(target->Rows(row7), "R7|4242\n");
    EXPECT_EQ(b.Ask("get 2"), "N:4242.00 last=0 neterr=.F. errors=0");
    ASSERT_EQ(b.Ask("unlock"), "L:.T. last=0 neterr=.F. errors=0");
    ExpectNoErrors();
}

// A value the engine did not take marks no row: a FIELDPUT at end of file
// sends nothing.
TEST_F(ReplicationTest, AFieldPutAtEndOfFileSendsNoRow) {
    auto target = SqliteTarget();
    Customer();
    FillCustomer(10);
    ASSERT_TRUE(qelxpp::DBGOBOTTOM().Log());
    EXPECT_FALSE(qelxpp::DBSKIP().Log() && !qelxpp::EOF_().Log());
    ASSERT_TRUE(qelxpp::EOF_().Log());
    qelxpp::FIELDPUT(1, "x");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5068);
    errors.clear();
    EXPECT_TRUE(qelxpp::DBUNLOCK().Log());
    qelxpp::DBCLOSEAREA();
    EXPECT_EQ(target->Rows("SELECT count(*), max(_RECNO) FROM CUSTOMER"), "10|10\n");
    EXPECT_EQ(target->Rows("SELECT count(*) FROM CUSTOMER WHERE NAME IS NULL"), "0\n");
    ExpectNoErrors();
}

// A program killed right after its unlock of a changed row leaves the
// table and the replica equal, on a shared and on an exclusive table.
TEST_F(ReplicationTest, AProgramKilledAfterItsUnlockLeavesTableAndReplicaEqual) {
    auto target = SqliteTarget();
    Customer();
    FillCustomer(3);
    qelxpp::DBCLOSEAREA();
    const std::string ok = "L:.T. last=0 neterr=.F. errors=0";
    for (const char* mode : {"shared", "exclusive"}) {
        SCOPED_TRACE(mode);
        const std::string word = std::string("K") + mode;
        Peer b(dir_);
        EXPECT_EQ(b.Ask("replicate CUSTOMER " + SqliteConnect(dir_ + "/replica.db")).substr(0, 2), "C:");
        ASSERT_EQ(b.Ask(std::string("use CUSTOMER.DBF ") + mode), ok);
        ASSERT_EQ(b.Ask("goto 1"), ok);
        ASSERT_EQ(b.Ask("put 1 " + word).substr(0, 2), "C:");
        ASSERT_EQ(b.Ask("unlock"), ok);
        b.Kill();
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "CUSTOMER.DBF", xpp::Value(), true).Log());
        ASSERT_TRUE(qelxpp::DBGOTO(1).Log());
        EXPECT_EQ(xpp::Trim(qelxpp::FIELDGET(1).Str()), word);
        EXPECT_EQ(target->Rows("SELECT NAME FROM CUSTOMER WHERE _RECNO=1"), word + "\n");
        qelxpp::DBCLOSEAREA();
    }
    ExpectNoErrors();
}

// A statement that records what it is given and answers from a script.
class RecordingStatement : public rowxpp::SQLStatement {
public:
    int64_t Execute(const xpp::Args& args = {}) override {
        std::string line = SQLString();
        if (args.PCount() == 1 && args[1].IsArray()) {
            for (const xpp::Value& p : args[1].Arr().Items()) {
                if (auto v = p.As<rowxpp::SQLValue>())
                    line += " [SQLValue " + std::to_string(v->Value.Str().size()) + "," +
                            xpp::Var2Char(v->SQLType) + "," + xpp::Var2Char(v->CType) + "," +
                            xpp::Var2Char(v->Precision) + "," + xpp::Var2Char(v->Scale) + "," +
                            xpp::Var2Char(v->Bytes) + "]";
                else
                    line += " [" + xpp::Var2Char(p) + "]";
            }
        }
        texts.push_back(line);
        if (answers.empty()) return 1;
        int64_t r = answers.front();
        answers.erase(answers.begin());
        return r;
    }
    std::vector<std::string> texts;
    std::vector<int64_t> answers;
};

TEST_F(ReplicationTest, StatementTextsByKind) {
    auto target = SqliteTarget();
    std::shared_ptr<RecordingStatement> stmt;
    qelxpp::testing::SetReplicationStatementMaker([&](const std::shared_ptr<rowxpp::SQLConnection>& c) {
        stmt = std::make_shared<RecordingStatement>();
        stmt->Init(xpp::Value(), xpp::Value(c));
        return stmt;
    });
    Customer(false);
    for (int i = 1; i <= 1234; ++i) KivAppendRecord(CurrentTable());
    ASSERT_TRUE(qelxpp::DBGOTO(1234).Log());
    Put("Ann ", 12.5, true, "20060530");
    qelxpp::FIELDPUT(5, "memo text");
    const std::string t = "\"CUSTOMER\"";
    const std::string update =
        "UPDATE \"CUSTOMER\" SET \"NAME\"=?,\"AMOUNT\"=12.50,\"ACTIVE\"=1,\"SINCE\"={d '2006-05-30'},\"NOTES\"=? "
        "WHERE \"_RECNO\"=1234 [Ann] [SQLValue 9,-1,1,9,0,9]";
    const std::string insert =
        "INSERT INTO \"CUSTOMER\"(\"_RECNO\",\"NAME\",\"AMOUNT\",\"ACTIVE\",\"SINCE\",\"NOTES\") VALUES "
        "(1234,?,12.50,1,{d '2006-05-30'},?) [Ann] [SQLValue 9,-1,1,9,0,9]";
    const std::string del = "DELETE FROM \"CUSTOMER\" WHERE \"_RECNO\"=1234";
    using detail_t = std::vector<std::string>;
    struct Case {
        int64_t kind;
        std::vector<int64_t> answers;
        bool result;
        detail_t texts;
    } cases[] = {
        {1, {}, true, {del}},
        {2, {1}, true, {update}},
        {2, {0, 1}, true, {update, insert}},
        {2, {-3, 1, 1}, true, {update, del, insert}},
        {2, {-1, 1, 1}, true, {update, del, insert}},
        {3, {0, 1}, true, {del, insert}},
        {3, {0, -2}, false, {del, insert}},
        {4, {}, true, {"DELETE FROM " + t}},
        {5, {}, false, {}},
    };
    qelxpp::DBCOMMIT();
    // the first call makes the connection: the quote character of SQLite
    (void)qelxpp::detail::REPLICATEROW(xpp::ThreadID(), 1, "CUSTOMER", 1234);
    ASSERT_TRUE(stmt);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        stmt->texts.clear();
        stmt->answers = c.answers;
        int64_t recNo = c.kind == 4 ? 0 : 1234;
        EXPECT_EQ(qelxpp::detail::REPLICATEROW(xpp::ThreadID(), c.kind, "CUSTOMER", recNo).Log(), c.result);
        EXPECT_EQ(stmt->texts, c.texts);
    }

    // blank values: NULL in the UPDATE, left out of the INSERT, "0" numbers
    ASSERT_TRUE(qelxpp::DBGOTO(1).Log());
    stmt->texts.clear();
    stmt->answers = {0, 1};
    qelxpp::detail::REPLICATEROW(xpp::ThreadID(), 2, "CUSTOMER", 1);
    EXPECT_EQ(stmt->texts,
              detail_t({"UPDATE \"CUSTOMER\" SET \"NAME\"=NULL,\"AMOUNT\"=0,\"ACTIVE\"=0,\"SINCE\"=NULL,\"NOTES\"=NULL "
                        "WHERE \"_RECNO\"=1",
                        "INSERT INTO \"CUSTOMER\"(\"_RECNO\",\"AMOUNT\",\"ACTIVE\") VALUES (1,0,0)"}));
}

TEST_F(ReplicationTest, TwoThreadsHaveTheirOwnConnectionsGoneAtTheirEnd) {
    auto target = SqliteTarget();
    Customer();
    qelxpp::DBCLOSEAREA();
    const size_t before = rowxpp::SQLConnection::ActiveConnections();
    auto worker = [](int n) {
        return xpp::Block([n](xpp::Args&) {
            if (qelxpp::DBUSEAREA(true, xpp::Value(), "CUSTOMER.DBF", xpp::Value(), true).Log() &&
                qelxpp::DBAPPEND().Log())
                qelxpp::FIELDPUT(1, "T" + std::to_string(n));
            return xpp::Value();
        });
    };
    auto a = xpp::Thread::New(), b = xpp::Thread::New();
    a->start(worker(0));
    b->start(worker(1));
    a->synchronize();
    b->synchronize();
    EXPECT_EQ(target->Rows("SELECT NAME FROM CUSTOMER ORDER BY NAME"), "T0\nT1\n") << "the end's close sent each row";
    EXPECT_EQ(rowxpp::SQLConnection::ActiveConnections(), before);
    ExpectNoErrors();
}

// One thread tells others that something happened; they wait for it a
// bounded time.
class Signal {
public:
    void Give() {
        std::lock_guard<std::mutex> g(lock_);
        given_ = true;
        changed_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> l(lock_);
        return changed_.wait_for(l, std::chrono::seconds(60), [this] { return given_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool given_ = false;
};

// Threads take rows of the module state in the order of their first calls,
// not of their ids: here the thread started second calls first. Each
// thread's end sends its own record over its own connection, whether the
// other thread is still working or has ended.
TEST_F(ReplicationTest, ThreadsWhoseRowsAreNotTheirIdsSendTheirOwnRows) {
    auto target = SqliteTarget();
    Customer();
    qelxpp::DBCLOSEAREA();
    const size_t before = rowxpp::SQLConnection::ActiveConnections();
    auto append = [](const char* name) {
        if (qelxpp::DBUSEAREA(true, xpp::Value(), "CUSTOMER.DBF", xpp::Value(), true).Log() &&
            qelxpp::DBAPPEND().Log())
            qelxpp::FIELDPUT(1, name);
    };
    Signal firstStarted, firstMayCall, secondCalled, secondMayEnd;
    auto first = xpp::Thread::New(), second = xpp::Thread::New();
    first->start(xpp::Block([&](xpp::Args&) {
        firstStarted.Give();
        if (firstMayCall.Wait()) append("Ann");
        return xpp::Value();
    }));
    const bool started = firstStarted.Wait();
    second->start(xpp::Block([&](xpp::Args&) {
        append("Bj\xF6rn");
        secondCalled.Give();
        secondMayEnd.Wait();
        return xpp::Value();
    }));
    const bool called = secondCalled.Wait();
    firstMayCall.Give();
    first->synchronize();
    EXPECT_EQ(target->Rows(kAll), "2|Ann|0|0|-\n") << "the first thread's end sent its record alone";
    secondMayEnd.Give();
    second->synchronize();
    ASSERT_TRUE(started && called);
    EXPECT_LT(first->threadID(), second->threadID());
    EXPECT_EQ(target->Rows(kAll), "1|Bj\xF6rn|0|0|-\n2|Ann|0|0|-\n");
    EXPECT_EQ(rowxpp::SQLConnection::ActiveConnections(), before);
    EXPECT_EQ(Log(), "");
    ExpectNoErrors();
}


const char* const kCustomerPostgres =
    "CREATE TABLE \"CUSTOMER\" (\"_RECNO\" integer, \"NAME\" varchar(30), \"AMOUNT\" numeric(10,2), "
    "\"ACTIVE\" smallint, \"SINCE\" date, \"NOTES\" text)";
const char* const kAllPostgres =
    "SELECT \"_RECNO\", \"NAME\", \"AMOUNT\", \"ACTIVE\", \"SINCE\", length(\"NOTES\") FROM \"CUSTOMER\" "
    "ORDER BY \"_RECNO\"";

// A fresh database in the Windows-1252 encoding on `server`, with CUSTOMER.
std::string Win1252Database(kivodbc::testing::PostgresServer& server) {
    const std::string name = kivodbc::testing::PostgresServer::NewDatabaseName();
    {
        kivodbc::testing::AdminConnection admin(server, "postgres");
        admin.Execute("CREATE DATABASE " + name +
                      " ENCODING 'WIN1252' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
    }
    kivodbc::testing::AdminConnection admin(server, name);
    admin.Execute(kCustomerPostgres);
    return name;
}

// A fresh database on `server` with CUSTOMER replicated into it; gives the
// database's name.
std::string PostgresCustomer(kivodbc::testing::PostgresServer& server) {
    const std::string database = Win1252Database(server);
    qelxpp::QELSQLREPLICATE("CUSTOMER");
    qelxpp::QELSQLREPLICATECONNECTION(server.ConnectionString(database));
    return database;
}

// Changes rows 1 to 3 to word + n while the target is lost, then row 4 to
// "Back".
void ChangeRowsAcrossALoss(const std::string& word) {
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(qelxpp::DBGOTO(n).Log());
        qelxpp::FIELDPUT(1, word + std::to_string(n));
        ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    }
    ASSERT_TRUE(qelxpp::DBGOTO(4).Log());
    qelxpp::FIELDPUT(1, "Back");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
}

// The reconnection is in the log, the change made once the target was back
// arrived, and each change made while it was lost arrived or has its line.
void ExpectEveryChangeAccounted(kivodbc::testing::AdminConnection& admin, const std::string& word,
                                const std::string& log) {
    EXPECT_NE(log.find("*** ATTEMPTING TO RECONNECT ***\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("*** RECONNECTED SUCCESSFULLY *** Date: "), std::string::npos) << log;
    EXPECT_EQ(admin.Scalar("SELECT \"NAME\" FROM \"CUSTOMER\" WHERE \"_RECNO\"=4"), "Back");
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        auto rows = admin.Query("SELECT \"NAME\" FROM \"CUSTOMER\" WHERE \"_RECNO\"=" + std::to_string(n));
        const bool arrived = rows.size() == 1 && rows[0][0] && *rows[0][0] == word + std::to_string(n);
        const bool logged = log.find("\"_RECNO\"=" + std::to_string(n)) != std::string::npos;
        EXPECT_TRUE(arrived || logged) << log;
    }
}

TEST_F(ReplicationTest, RowsReachPostgresUnderQuotedNames) {
    auto& server = TestDataSources::Get().Server();
    const std::string database = Win1252Database(server);
    qelxpp::QELSQLREPLICATE("CUSTOMER");
    // the engine's texts are Windows-1252: the session says so
    qelxpp::QELSQLREPLICATECONNECTION(server.ConnectionString(database) +
                                      ";ConnSettings=SET client_encoding TO 'WIN1252'");
    Customer();
    const std::string name = "Ren\xE9";  // é in Windows-1252
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    Put(name.c_str(), 12.5, true, "20060530");
    qelxpp::FIELDPUT(5, std::string(1000, 'm'));
    ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    ASSERT_TRUE(qelxpp::DBGOTO(1).Log());
    qelxpp::FIELDPUT(3, false);
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    kivodbc::testing::AdminConnection admin(server, database);
    std::string rows;
    for (const Row& r : admin.Query(kAllPostgres)) {
        for (const auto& v : r) rows += (v ? *v : std::string("-")) + "|";
        rows += "\n";
    }
    EXPECT_EQ(Log(), "");
    // the administrator reads in UTF-8; the stored bytes are checked below
    EXPECT_EQ(rows, "1|Ren\xC3\xA9|12.50|0|2006-05-30|1000|\n2|-|0.00|0|-|-|\n");
    EXPECT_EQ(admin.Scalar("SELECT encode(convert_to(\"NAME\", 'WIN1252'), 'hex') FROM \"CUSTOMER\" WHERE \"_RECNO\"=1"),
              "52656ee9");
    ExpectNoErrors();
}

TEST_F(ReplicationTest, AStoppedServerIsReconnectedAndNoChangeIsLostWithoutALine) {
    auto server = kivodbc::testing::PostgresServer::Create();
    const std::string database = PostgresCustomer(*server);
    Customer();
    for (int i = 1; i <= 4; ++i) ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    // the server comes back at the reconnection's first wait
    clock_->AtSleep(1, [&] { server->Start(); });
    server->Stop("fast");
    ChangeRowsAcrossALoss("Down");
    kivodbc::testing::AdminConnection admin(*server, database);
    ExpectEveryChangeAccounted(admin, "Down", Log());
    ExpectNoErrors();
}

TEST_F(ReplicationTest, AnEndedBackendIsReconnectedAndNoChangeIsLostWithoutALine) {
    auto& server = TestDataSources::Get().Server();
    const std::string database = PostgresCustomer(server);
    Customer();
    for (int i = 1; i <= 4; ++i) ASSERT_TRUE(qelxpp::DBAPPEND().Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    kivodbc::testing::AdminConnection admin(server, database);
    auto pids = admin.BackendPids(database);
    ASSERT_EQ(pids.size(), 1u);
    ASSERT_TRUE(admin.TerminateBackend(pids[0]));
    ChangeRowsAcrossALoss("Lost");
    ExpectEveryChangeAccounted(admin, "Lost", Log());
    ExpectNoErrors();
}

// A target gone for good never holds the program: one reconnect attempt
// per change at most, none within 5 seconds of a failed one, and every
// change made meanwhile has its line; the target back, a change arrives.
TEST_F(ReplicationTest, ATargetGoneForGoodIsTriedAgainAtMostEveryFiveSeconds) {
    auto server = kivodbc::testing::PostgresServer::Create();
    const std::string database = PostgresCustomer(*server);
    Customer();
    FillCustomer(9);
    server->Stop("fast");
    // changes 2 s apart on the runtime's clock; the first attempt waits 3 s
    for (int n = 1; n <= 8; ++n) {
        ASSERT_TRUE(qelxpp::DBGOTO(n).Log());
        qelxpp::FIELDPUT(1, "Gone" + std::to_string(n));
        ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
        clock_->Advance(2000);
    }
    std::string log = Log();
    auto count = [&](const std::string& text) {
        size_t found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
        return found;
    };
    // attempts with changes 1 (then 3 s), 4 (6 s after the failed one), 7
    EXPECT_EQ(count("*** ATTEMPTING TO RECONNECT ***"), 3u) << log;
    EXPECT_EQ(count("*** RECONNECT FAILED ***"), 3u) << log;
    EXPECT_EQ(count("*** RECONNECTED SUCCESSFULLY ***"), 0u) << log;
    EXPECT_EQ(clock_->Sleeps(), std::vector<int64_t>{300});
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(count("CUSTOMER UPDATE RecNo: " + std::to_string(n) + "\r\n"), 1u) << n << "\n" << log;

    server->Start();
    clock_->Advance(5000);
    ASSERT_TRUE(qelxpp::DBGOTO(9).Log());
    qelxpp::FIELDPUT(1, "Back");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    log = Log();
    EXPECT_EQ(count("*** RECONNECTED SUCCESSFULLY ***"), 1u) << log;
    kivodbc::testing::AdminConnection admin(*server, database);
    EXPECT_EQ(admin.Scalar("SELECT \"NAME\" FROM \"CUSTOMER\" WHERE \"_RECNO\"=9"), "Back");
    ExpectNoErrors();
}

// An ended backend met by a change never leaves two rows with one number
// on a target without a key: an update, and a delete with a recall.
TEST_F(ReplicationTest, AnEndedBackendNeverDuplicatesARow) {
    auto& server = TestDataSources::Get().Server();
    const std::string database = PostgresCustomer(server);
    Customer();
    FillCustomer(4);
    kivodbc::testing::AdminConnection admin(server, database);
    auto endBackend = [&] {
        auto pids = admin.BackendPids(database);
        ASSERT_EQ(pids.size(), 1u);
        ASSERT_TRUE(admin.TerminateBackend(pids[0]));
    };
    auto rows = [&](int n) {
        std::string out;
        for (const Row& r : admin.Query("SELECT \"NAME\", \"AMOUNT\" FROM \"CUSTOMER\" WHERE \"_RECNO\"=" +
                                        std::to_string(n)))
            out += (r[0] ? *r[0] : "-") + "|" + (r[1] ? *r[1] : "-") + "\n";
        return out;
    };
    endBackend();
    ASSERT_TRUE(qelxpp::DBGOTO(2).Log());
    qelxpp::FIELDPUT(1, "Changed");
    qelxpp::FIELDPUT(2, 1234567.89);
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(rows(2), "Changed|1234567.89\n") << Log();

    endBackend();
    ASSERT_TRUE(qelxpp::DBGOTO(3).Log());
    ASSERT_TRUE(qelxpp::DBDELETE().Log());
    ASSERT_TRUE(qelxpp::DBRECALL().Log());
    qelxpp::FIELDPUT(1, "Recalled");
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(rows(3), "Recalled|3.00\n") << Log();
    EXPECT_EQ(admin.Scalar("SELECT count(*) FROM \"CUSTOMER\""), "4");
    ExpectNoErrors();
}

// Many changes of every kind through the database functions: the table
// SOAK (NAME C 20, BIG N 18, AMOUNT N 10 2, ACTIVE L, SINCE D) filled and
// changed at random, each change unlocked. The engine's rows as the
// replica should hold them come from EngineRows().
class SoakTest : public ReplicationTest {
protected:
    // SQLite's table; PostgreSQL's has the names quoted.
    static constexpr const char* kSoakColumns = "(_RECNO INTEGER, NAME VARCHAR(20), BIG NUMERIC(18), AMOUNT NUMERIC(10,2), "
                                                "ACTIVE INTEGER, SINCE DATE)";
    void OpenSoak() {
        qelxpp::QELSQLREPLICATE("SOAK");
        qelxpp::QELSETTABLETYPE(2);
        ASSERT_TRUE(qelxpp::DBCREATE("SOAK.DBF", xpp::Array{xpp::Value(Field("NAME", "C", 20, 0)),
                                                           xpp::Value(Field("BIG", "N", 18, 0)),
                                                           xpp::Value(Field("AMOUNT", "N", 10, 2)),
                                                           xpp::Value(Field("ACTIVE", "L", 1, 0)),
                                                           xpp::Value(Field("SINCE", "D", 8, 0))})
                        .Log());
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "SOAK.DBF", xpp::Value(), true).Log());
        qelxpp::SETDELETED(true);  // deleted records stay reachable for their recall
    }
    // One change, chosen by `random`; its log line should it not be sent.
    std::string Change(std::mt19937& random) {
        static const char* const kNames[] = {"Ann", "Ren\xE9", "", "Bj\xF6rn Str\xF6m", "  ", "Zo\xEB"};
        const int64_t last = qelxpp::LASTREC().Int();
        const int pick = static_cast<int>(random() % 100);
        if (last == 0 || pick < 20) {
            EXPECT_TRUE(qelxpp::DBAPPEND().Log());
            qelxpp::FIELDPUT(1, kNames[random() % 6]);
            qelxpp::FIELDPUT(2, static_cast<double>(100000000000000LL + static_cast<int64_t>(random() % 899999999)));
        } else {
            EXPECT_TRUE(qelxpp::DBGOTO(static_cast<int64_t>(1 + random() % static_cast<uint32_t>(last))).Log());
            if (pick < 70) {
                switch (random() % 5) {
                    case 0: qelxpp::FIELDPUT(1, kNames[random() % 6]); break;
                    case 1: qelxpp::FIELDPUT(2, static_cast<double>(random() % 1000000000) * 1000000 + 7); break;
                    case 2: qelxpp::FIELDPUT(3, static_cast<double>(random() % 99999999) / 100); break;
                    case 3: qelxpp::FIELDPUT(4, random() % 2 == 0); break;
                    default:
                        qelxpp::FIELDPUT(5, random() % 3 == 0 ? xpp::Date() : xpp::SToD("2006053" + std::to_string(random() % 2)));
                }
            } else if (pick < 85) {
                EXPECT_TRUE(qelxpp::DBDELETE().Log());
            } else {
                EXPECT_TRUE(qelxpp::DBRECALL().Log());
            }
        }
        // a change to a deleted record goes out as its deletion
        const int64_t pending = qelxpp::testing::WorkAreaRecord(1).Arr().Get(qelxpp::WA_PENDING).Int();
        const std::string kind = pending == 1 || qelxpp::DELETED().Log() ? "DELETE" : pending == 3 ? "INSERT" : "UPDATE";
        const std::string line = "SOAK " + kind + " RecNo: " + std::to_string(qelxpp::RECNO().Int()) + "\r\n";
        EXPECT_TRUE(qelxpp::DBUNLOCK().Log());
        return line;
    }
    // Every live record as "recno|name|big|amount|active|since", "-" for
    // what the replica holds as NULL; by record number.
    std::map<int64_t, std::string> EngineRows() {
        std::map<int64_t, std::string> rows;
        for (int64_t n = 1; n <= qelxpp::LASTREC().Int(); ++n) {
            EXPECT_TRUE(qelxpp::DBGOTO(n).Log());
            if (qelxpp::DELETED().Log()) continue;
            const std::string name = xpp::Trim(qelxpp::FIELDGET(1).Str());
            const xpp::Value since = qelxpp::FIELDGET(5);
            const std::string date = xpp::DToS(since.Dat());
            rows[n] = std::to_string(n) + "|" + (name.empty() ? "-" : name) + "|" +
                      xpp::LTrim(xpp::Str(qelxpp::FIELDGET(2), 18, 0)) + "|" +
                      xpp::LTrim(xpp::Str(qelxpp::FIELDGET(3), 10, 2)) + "|" + (qelxpp::FIELDGET(4).Log() ? "1" : "0") +
                      "|" + (xpp::Empty(since) ? "-" : date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6));
        }
        return rows;
    }
    // The replica's rows in the same form, by record number.
    static std::map<int64_t, std::string> ReplicaRows(const std::vector<Row>& rows) {
        std::map<int64_t, std::string> out;
        for (const Row& r : rows) out[std::stoll(*r[0])] = xpp::Left(RowsText({r}), RowsText({r}).size() - 1);
        return out;
    }
    static constexpr int kChanges = 10000;
};

TEST_F(SoakTest, TenThousandChangesLeaveSqliteEqualToTheTable) {
    auto target = std::make_unique<Target>(SqliteConnect(dir_ + "/replica.db"));
    target->Execute(std::string("CREATE TABLE SOAK ") + kSoakColumns);
    qelxpp::QELSQLREPLICATECONNECTION(SqliteConnect(dir_ + "/replica.db") + ";SyncPragma=OFF");
    OpenSoak();
    std::mt19937 random(51);
    for (int i = 0; i < kChanges; ++i) Change(random);
    const auto replica = ReplicaRows(target->Query(
        "SELECT _RECNO, NAME, BIG, printf('%.2f', AMOUNT), ACTIVE, SINCE FROM SOAK ORDER BY _RECNO"));
    const auto engine = EngineRows();
    EXPECT_GT(engine.size(), 100u);
    EXPECT_EQ(replica, engine);
    EXPECT_EQ(Log(), "");
    ExpectNoErrors();
}

// The server is stopped for 20 seconds in the middle; the program goes on
// making changes meanwhile, on the runtime's real clock.
TEST_F(SoakTest, TenThousandChangesAcrossAStoppedServerAreSentOrLogged) {
    xpp::testing::SetClock(nullptr);
    auto server = kivodbc::testing::PostgresServer::Create();
    const std::string database = Win1252Database(*server);
    {
        kivodbc::testing::AdminConnection admin(*server, database);
        admin.Execute("CREATE TABLE \"SOAK\" (\"_RECNO\" integer, \"NAME\" varchar(20), \"BIG\" numeric(18), "
                      "\"AMOUNT\" numeric(10,2), \"ACTIVE\" smallint, \"SINCE\" date)");
    }
    qelxpp::QELSQLREPLICATECONNECTION(server->ConnectionString(database) +
                                      ";ConnSettings=SET client_encoding TO 'WIN1252'");
    OpenSoak();
    std::mt19937 random(52);
    std::atomic<bool> down{false}, back{false};
    std::chrono::steady_clock::time_point backAt;
    std::thread restart;
    std::map<std::string, int> whileDown;  // the line each change made while down owes
    for (int i = 0; i < kChanges || !back; ++i) {
        if (i == kChanges / 2) {
            server->Stop("fast");
            down = true;
            restart = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::seconds(20));
                server->Start();
                backAt = std::chrono::steady_clock::now();
                back = true;
            });
        }
        const bool wasDown = down && !back;
        const std::string line = Change(random);
        if (wasDown && !back) ++whileDown[line];
        // paced from the stop until an attempt is due after the start
        if (down && (!back || std::chrono::steady_clock::now() < backAt + std::chrono::seconds(6)))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    restart.join();
    const std::string log = Log();
    ASSERT_FALSE(whileDown.empty());
    for (const auto& [line, count] : whileDown) {
        size_t found = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++found;
        EXPECT_GE(found, static_cast<size_t>(count)) << line;
    }
    // Attempts: one per change at most, each failed one 5 s before the next.
    size_t attempts = 0;
    for (size_t at = log.find("*** ATTEMPTING TO RECONNECT ***"); at != std::string::npos;
         at = log.find("*** ATTEMPTING TO RECONNECT ***", at + 1))
        ++attempts;
    // the seconds of the day at which each attempt ended, the successful last
    std::vector<int> endedAt;
    for (const char* word : {"*** RECONNECT FAILED *** Date: ", "*** RECONNECTED SUCCESSFULLY *** Date: "}) {
        for (size_t at = log.find(word); at != std::string::npos; at = log.find(word, at + 1)) {
            const std::string time = log.substr(log.find("Time: ", at) + 6, 8);
            endedAt.push_back(std::stoi(time.substr(0, 2)) * 3600 + std::stoi(time.substr(3, 2)) * 60 +
                              std::stoi(time.substr(6, 2)));
        }
    }
    EXPECT_GE(attempts, 2u) << log.substr(0, 4000);
    EXPECT_LE(attempts, 7u);
    EXPECT_EQ(attempts, endedAt.size());
    EXPECT_EQ(log.rfind("*** RECONNECTED SUCCESSFULLY ***") > log.rfind("*** RECONNECT FAILED ***"), true);
    for (size_t i = 1; i < endedAt.size(); ++i) EXPECT_GE(endedAt[i] - endedAt[i - 1], 5) << i;

    // every row differing at the end is named in the log
    kivodbc::testing::AdminConnection admin(*server, database);
    auto replica = ReplicaRows(admin.Query(
        "SELECT \"_RECNO\", \"NAME\", \"BIG\"::text, \"AMOUNT\"::text, \"ACTIVE\", \"SINCE\"::text FROM \"SOAK\" "
        "ORDER BY \"_RECNO\""));
    auto engine = EngineRows();
    for (auto& [n, text] : engine) {
        std::string utf8;
        for (char c : text) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80) utf8 += c;
            else utf8 += {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
        }
        text = utf8;
    }
    size_t differing = 0;
    std::set<int64_t> numbers;
    for (const auto& [n, text] : engine) numbers.insert(n);
    for (const auto& [n, text] : replica) numbers.insert(n);
    for (int64_t n : numbers) {
        const auto e = engine.find(n), r = replica.find(n);
        if (e != engine.end() && r != replica.end() && e->second == r->second) continue;
        ++differing;
        EXPECT_NE(log.find(" RecNo: " + std::to_string(n) + "\r\n"), std::string::npos) << n;
    }
    EXPECT_LT(differing, engine.size() / 2);
    EXPECT_GT(engine.size(), 100u);
    ExpectNoErrors();
}

// Import: tables with the fields of CUSTOMER under other letters.
class ImportTest : public ReplicationTest {
protected:
    // SRC with `count` records: NAME C 20, AMOUNT N 8 3, ACTIVE L, SINCE D,
    // NOTES M; record n has NAME "Sn", AMOUNT n + 0.345, ACTIVE odd n,
    // SINCE 2006-05-30, NOTES "memo n".
    void Source(int count, const char* amountType = "N") {
        qelxpp::QELSETTABLETYPE(2);
        ASSERT_TRUE(qelxpp::DBCREATE("SRC.DBF", xpp::Array{xpp::Value(Field("NAME", "C", 20, 0)),
                                                          xpp::Value(Field("AMOUNT", amountType, 8, 3)),
                                                          xpp::Value(Field("ACTIVE", "L", 1, 0)),
                                                          xpp::Value(Field("SINCE", "D", 8, 0)),
                                                          xpp::Value(Field("NOTES", "M", 10, 0))})
                        .Log());
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "SRC.DBF", xpp::Value(), false).Log());
        for (int n = 1; n <= count; ++n) {
            ASSERT_TRUE(qelxpp::DBAPPEND().Log());
            qelxpp::FIELDPUT(1, "S" + std::to_string(n));
            qelxpp::FIELDPUT(2, n + 0.345);
            qelxpp::FIELDPUT(3, n % 2 == 1);
            qelxpp::FIELDPUT(4, xpp::SToD("20060530"));
            qelxpp::FIELDPUT(5, "memo " + std::to_string(n));
        }
        qelxpp::DBCLOSEAREA();
    }
    int Areas() {
        int used = 0;
        for (int i = 1; i <= qelxpp::kMaxAreas; ++i) used += qelxpp::testing::WorkAreaRecord(i).IsNil() ? 0 : 1;
        return used;
    }
};

TEST_F(ImportTest, EqualLettersAreCopiedByTheEngineAndReplicated) {
    auto target = SqliteTarget();
    Source(3);
    Customer();
    const int64_t area = qelxpp::SELECT().Int();
    xpp::testing::ClearScreen();
    const std::string calls = CallsOf([] { EXPECT_TRUE(qelxpp::DBIMPORT("src ").Log()); });
    EXPECT_NE(calls.find("KivCopyTableContents"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("KivAppendRecord"), std::string::npos) << calls;
    EXPECT_EQ(qelxpp::SELECT().Int(), area);
    EXPECT_EQ(Areas(), 1) << "the source opened for the import is closed";
    EXPECT_EQ(qelxpp::LASTREC().Int(), 3);
    std::string screen;
    for (int r = 0; r <= 24; ++r) screen += xpp::testing::ScreenRow(r) + "\n";
    EXPECT_NE(screen.find("Please wait!  Modifying Database Structure..."), std::string::npos);
    EXPECT_EQ(screen.find("Append record"), std::string::npos);
    EXPECT_EQ(target->Rows("SELECT _RECNO, NAME, ACTIVE, SINCE, NOTES FROM CUSTOMER ORDER BY _RECNO"),
              "1|S1|1|2006-05-30|memo 1\n2|S2|0|2006-05-30|memo 2\n3|S3|1|2006-05-30|memo 3\n");
    ExpectNoErrors();
}

TEST_F(ImportTest, DifferingLettersCopyRecordByRecordWithConversions) {
    auto target = SqliteTarget();
    Source(100);
    qelxpp::QELSETTABLETYPE(2);
    ASSERT_TRUE(qelxpp::DBCREATE("CUSTOMER.DBF", xpp::Array{xpp::Value(Field("NAME", "C", 30, 0)),
                                                            xpp::Value(Field("AMOUNT", "C", 6, 0)),
                                                            xpp::Value(Field("ACTIVE", "N", 10, 2)),
                                                            xpp::Value(Field("SINCE", "N", 8, 0)),
                                                            xpp::Value(Field("NOTES", "M", 10, 0)),
                                                            xpp::Value(Field("EXTRA", "C", 5, 0))})
                    .Log());
    target->Execute("ALTER TABLE CUSTOMER ADD COLUMN EXTRA VARCHAR(5)");
    ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "SRC.DBF", "FROMHERE", true).Log());
    ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "CUSTOMER.DBF", xpp::Value(), true).Log());
    const int64_t area = qelxpp::SELECT().Int();
    xpp::testing::SetScreenEcho(true);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(qelxpp::DBIMPORT("fromhere").Log());
    const std::string shown = ::testing::internal::GetCapturedStdout();
    xpp::testing::SetScreenEcho(false);
    EXPECT_EQ(qelxpp::SELECT().Int(), area);
    EXPECT_EQ(Areas(), 2) << "a source that was open stays open";
    std::string progress;
    for (size_t at = shown.find("Append record: "); at != std::string::npos; at = shown.find("Append record: ", at + 1))
        progress += xpp::AllTrim(shown.substr(at + 15, 10)) + ";";
    EXPECT_EQ(progress, "1;22;43;64;85;");
    EXPECT_EQ(shown.find("Please wait"), std::string::npos);
    EXPECT_EQ(xpp::testing::ScreenRow(24).substr(0, 29), "Append record:         85 %  ");

    EXPECT_EQ(qelxpp::LASTREC().Int(), 100);
    ASSERT_TRUE(qelxpp::DBGOTO(1).Log());
    EXPECT_EQ(Show(qelxpp::FIELDGET(2)), "C: 1.345");
    EXPECT_EQ(qelxpp::FIELDGET(3).Dbl(), 1);
    EXPECT_EQ(qelxpp::FIELDGET(4).Dbl(), 0) << "a date into a number is blank";
    EXPECT_EQ(Show(qelxpp::FIELDGET(5)), "C:memo 1");
    EXPECT_EQ(Show(qelxpp::FIELDGET(6)), "C:     ");
    ASSERT_TRUE(qelxpp::DBGOTO(12).Log());
    EXPECT_EQ(Show(qelxpp::FIELDGET(2)), "C:12.345");
    EXPECT_EQ(qelxpp::FIELDGET(3).Dbl(), 0);
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    EXPECT_EQ(target->Rows("SELECT count(*), min(AMOUNT), sum(ACTIVE), count(NOTES), count(EXTRA) FROM CUSTOMER"),
              "100|1.345|50|100|0\n");
    ExpectNoErrors();
}

// Numbers between the engine's own type, which keeps them in binary, and
// a DBF table, both ways, into a replicated target too.
TEST_F(ImportTest, NumbersCrossBetweenKdtAndDbf) {
    auto target = SqliteTarget(nullptr);
    target->Execute("CREATE TABLE TGT3 (_RECNO INTEGER, QTY NUMERIC(6), PRICE NUMERIC(10,2))");
    qelxpp::QELSQLREPLICATE("TGT3");
    const xpp::Array kdtFields{xpp::Value(Field("QTY", "N", 4, 0)), xpp::Value(Field("PRICE", "N", 10, 2))};
    auto fill = [&](const char* file, int type, const xpp::Array& fields) {
        qelxpp::QELSETTABLETYPE(type);
        ASSERT_TRUE(qelxpp::DBCREATE(file, fields).Log());
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), file, xpp::Value(), false).Log());
    };
    fill("KSRC.KDT", 3, kdtFields);
    EXPECT_EQ(Show(qelxpp::DBSTRUCT()).find("\"N\""), std::string::npos);
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(qelxpp::DBAPPEND().Log());
        qelxpp::FIELDPUT(1, 100);
        qelxpp::FIELDPUT(2, 1234.5);
    }
    // KSRC stays open in its area: the import finds it by its alias
    fill("TGT3.DBF", 2, xpp::Array{xpp::Value(Field("QTY", "N", 6, 0)), xpp::Value(Field("PRICE", "N", 10, 2))});
    ASSERT_TRUE(qelxpp::DBIMPORT("KSRC").Log());
    ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
    auto values = [] {
        std::string out;
        for (qelxpp::DBGOTOP(); !qelxpp::EOF_().Log(); qelxpp::DBSKIP())
            out += xpp::Str(qelxpp::FIELDGET(1), 6, 0) + xpp::Str(qelxpp::FIELDGET(2), 10, 2) + ";";
        return out;
    };
    const std::string three = "   100   1234.50;   100   1234.50;   100   1234.50;";
    EXPECT_EQ(values(), three);
    EXPECT_EQ(target->Rows("SELECT _RECNO, QTY, PRICE FROM TGT3 ORDER BY _RECNO"),
              "1|100|1234.5\n2|100|1234.5\n3|100|1234.5\n");
    fill("KTGT.KDT", 3, kdtFields);
    ASSERT_TRUE(qelxpp::DBIMPORT("TGT3").Log());
    EXPECT_EQ(values(), three);
    ExpectNoErrors();
}

// Deleted records stay deleted by both roads of the import, whatever
// SETDELETED says; the replica holds the live records only.
TEST_F(ImportTest, DeletedRecordsStayDeletedByBothRoads) {
    auto target = SqliteTarget(nullptr);
    for (const char* t : {"TGT1", "TGT2"})
        target->Execute(std::string("CREATE TABLE ") + t +
                        " (_RECNO INTEGER, NAME VARCHAR(20), AMOUNT NUMERIC(8,3), ACTIVE INTEGER, SINCE DATE, NOTES TEXT)");
    qelxpp::QELSQLREPLICATE("TGT1");
    qelxpp::QELSQLREPLICATE("TGT2");
    Source(5);
    ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), "SRC.DBF", xpp::Value(), false).Log());
    ASSERT_TRUE(qelxpp::DBGOTO(4).Log());
    ASSERT_TRUE(qelxpp::DBDELETE().Log());
    qelxpp::DBCLOSEAREA();
    // the record copy: ACTIVE is a number in TGT2
    auto create = [](const std::string& file, const char* activeType) {
        ASSERT_TRUE(qelxpp::DBCREATE(file, xpp::Array{xpp::Value(Field("NAME", "C", 20, 0)),
                                                      xpp::Value(Field("AMOUNT", "N", 8, 3)),
                                                      xpp::Value(Field("ACTIVE", activeType, 1, 0)),
                                                      xpp::Value(Field("SINCE", "D", 8, 0)),
                                                      xpp::Value(Field("NOTES", "M", 10, 0))})
                        .Log());
    };
    // record numbers the pointer visits: forward, then back
    auto walk = [] {
        std::string out;
        for (qelxpp::DBGOTOP(); !qelxpp::EOF_().Log(); qelxpp::DBSKIP()) out += std::to_string(qelxpp::RECNO().Int());
        out += "/";
        for (qelxpp::DBGOBOTTOM(); !qelxpp::BOF().Log(); qelxpp::DBSKIP(-1)) out += std::to_string(qelxpp::RECNO().Int());
        return out;
    };
    qelxpp::QELSETTABLETYPE(2);
    for (bool show : {true, false}) {
        for (const char* table : {"TGT1", "TGT2"}) {
            SCOPED_TRACE(std::string(table) + (show ? " shown" : " hidden"));
            qelxpp::SETDELETED(show);
            const std::string file = std::string(table) + ".DBF";
            create(file, table == std::string("TGT1") ? "L" : "N");
            target->Execute(std::string("DELETE FROM ") + table);
            ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), file, xpp::Value(), false).Log());
            ASSERT_TRUE(qelxpp::DBIMPORT("SRC").Log());
            ASSERT_TRUE(qelxpp::DBUNLOCK().Log());
            EXPECT_EQ(qelxpp::LASTREC().Int(), 5);
            EXPECT_EQ(target->Rows(std::string("SELECT _RECNO, NAME FROM ") + table + " ORDER BY _RECNO"),
                      "1|S1\n2|S2\n3|S3\n5|S5\n");
            qelxpp::SETDELETED(true);
            std::string marks;
            for (int n = 1; n <= 5; ++n) {
                ASSERT_TRUE(qelxpp::DBGOTO(n).Log());
                marks += qelxpp::DELETED().Log() ? "*" : "-";
            }
            EXPECT_EQ(marks, "---*-");
            EXPECT_EQ(walk(), "12345/54321");
            qelxpp::SETDELETED(false);
            EXPECT_EQ(walk(), "1235/5321");
            ASSERT_TRUE(qelxpp::ORDCREATE(xpp::Value(), "BYDESC", "STR(100-AMOUNT,8,3)").IsNil());
            ASSERT_TRUE(qelxpp::ORDLISTADD().Log());
            EXPECT_EQ(walk(), "5321/1235");
            ASSERT_TRUE(qelxpp::DBSETFILTER(xpp::Value(), "AMOUNT > 3").Log());
            EXPECT_EQ(walk(), "53/35");
            qelxpp::SETDELETED(true);
            EXPECT_EQ(walk(), "543/345");
            qelxpp::DBCLOSEAREA();
            for (const char* ext : {".DBF", ".FPT", ".CDX"}) std::remove((dir_ + "/" + table + ext).c_str());
            ExpectNoErrors();
        }
    }
}

TEST_F(ImportTest, AFailedImportLeavesTheTargetCurrentAndNoSourceOpen) {
    Source(2);
    Customer();
    const int64_t area = qelxpp::SELECT().Int();
    KivTestFailCall("KivCopyTableContents", 5001, "copy refused", 1);
    EXPECT_FALSE(qelxpp::DBIMPORT("SRC").Log());
    EXPECT_EQ(errors.size(), 1u);
    errors.clear();
    EXPECT_EQ(qelxpp::SELECT().Int(), area);
    EXPECT_EQ(Areas(), 1);

    EXPECT_FALSE(qelxpp::DBIMPORT("NOSUCH").Log());
    EXPECT_TRUE(xpp::NetErr()) << "the open's own report";
    EXPECT_EQ(qelxpp::SELECT().Int(), area);
    EXPECT_EQ(Areas(), 1);
    EXPECT_EQ(qelxpp::LASTREC().Int(), 0);
}

}  // namespace
}  // namespace qeltest
