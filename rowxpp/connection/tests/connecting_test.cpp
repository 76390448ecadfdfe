// Connecting through the real drivers: read-only requests, the login
// time-out, browsing, connecting again on a connected object, and a
// library whose driver manager did not load or was loaded by another name.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "test_support.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using kivodbc::testing::TestDataSources;
using rowxpp_test::CapturedErrors;
using rowxpp_test::CaptureErrors;
using rowxpp_test::Loaded;
using rowxpp_test::Reported;

namespace {

const char* const kSources[] = {"SQLite", "PostgreSQL", "KIVODBC"};

// Each ODBC call (index and arguments) while it lives; `answer` may answer
// one instead of the driver manager.
class Calls {
public:
    using Call = std::pair<int, std::vector<int64_t>>;
    using Answer = std::function<std::optional<int64_t>(int, const std::vector<int64_t>&)>;
    explicit Calls(Answer answer = {})
        : answer_(std::move(answer)),
          kept_(SetOdbcCallDecorator([this](int index, const std::vector<int64_t>& arguments) {
              calls_.emplace_back(index, arguments);
              return answer_ ? answer_(index, arguments) : std::nullopt;
          })) {}
    ~Calls() { SetOdbcCallDecorator(kept_); }
    const std::vector<Call>& All() const { return calls_; }
    // The position of the first call of `index` (with `attribute` as its
    // second argument when given), -1 when none.
    int Find(int index, std::optional<int64_t> attribute = std::nullopt) const {
        for (size_t i = 0; i < calls_.size(); ++i) {
            if (calls_[i].first == index && (!attribute || calls_[i].second.at(1) == *attribute))
                return static_cast<int>(i);
        }
        return -1;
    }

private:
    Answer answer_;
    std::vector<Call> calls_;
    OdbcCallDecorator kept_;
};

TEST(Connecting, AReadOnlyRequestIsSetOnTheNewHandleOfEachDriver) {
    Loaded();
    for (const char* dsn : kSources) {
        SCOPED_TRACE(dsn);
        auto c = SQLConnection::New();
        c->ShowConnErrors = false;
        {
            Calls calls;
            ASSERT_TRUE(c->Connect(dsn, "", "", true));
            int set = calls.Find(10, SQL_ATTR_ACCESS_MODE);
            ASSERT_GE(set, 0);
            EXPECT_EQ(calls.All()[static_cast<size_t>(set)].second.at(2), SQL_MODE_READ_ONLY);
            EXPECT_LT(set, calls.Find(2)) << "set before the connect";
        }
        EXPECT_TRUE(c->isReadOnly);
        EXPECT_TRUE(c->ShowConnErrors);
        // without a request, or with .F., the flag keeps its value
        ASSERT_TRUE(c->Connect());
        EXPECT_TRUE(c->isReadOnly);
        ASSERT_TRUE(c->DriverConnect(xpp::Value(), std::string("DSN=") + dsn, xpp::Value(), false));
        EXPECT_TRUE(c->isReadOnly);
        c->Destroy();

        // only a logical .T. asks
        auto d = SQLConnection::New(dsn, "", "", 1);
        ASSERT_NE(d->Handle, 0);
        EXPECT_FALSE(d->isReadOnly);
        ASSERT_TRUE(d->DriverConnect(xpp::Value(), std::string("DSN=") + dsn, xpp::Value(), true));
        EXPECT_TRUE(d->isReadOnly);
        d->Destroy();
    }
}

TEST(Connecting, AReadOnlyRequestTheDriverRefusesIsReportedAndTheConnectGoesOn) {
    Loaded();
    // Every installed driver accepts read-only mode, so the call table
    // refuses it here.
    auto c = SQLConnection::New();
    Reported reported;
    CaptureErrors(*c, reported);
    Calls calls([](int index, const std::vector<int64_t>& arguments) -> std::optional<int64_t> {
        if (index == 10 && arguments.at(1) == SQL_ATTR_ACCESS_MODE) return 65535;
        return std::nullopt;
    });
    ASSERT_TRUE(c->Connect("PostgreSQL", "", "", true));
    EXPECT_FALSE(c->isReadOnly);
    EXPECT_NE(c->Handle, 0);
    EXPECT_EQ(reported.calls, 1);
    EXPECT_EQ(reported.returnCode, 65535);
    c->Destroy();
}

TEST(Connecting, ALoginTimeoutOtherThan15IsSetBeforeConnect) {
    Loaded();
    xpp::Class& cls = SQLCONNECTION();
    for (const char* dsn : kSources) {
        SCOPED_TRACE(dsn);
        auto c = SQLConnection::New();
        {
            Calls calls;
            ASSERT_TRUE(c->Connect(dsn, "", ""));
            EXPECT_EQ(calls.Find(10, SQL_ATTR_LOGIN_TIMEOUT), -1) << "15 is never sent";
        }
        cls.SetVar("LoginTimeout", 30);
        {
            Calls calls;
            EXPECT_TRUE(c->Connect());
            int set = calls.Find(10, SQL_ATTR_LOGIN_TIMEOUT);
            ASSERT_GE(set, 0);
            EXPECT_EQ(calls.All()[static_cast<size_t>(set)].second.at(2), 30);
            EXPECT_LT(set, calls.Find(2));
        }
        // psqlODBC keeps the value it was given
        if (std::string(dsn) == "PostgreSQL") {
            EXPECT_EQ(c->GetAttribute(SQL_ATTR_LOGIN_TIMEOUT).Int(), 30);
        }
        // DriverConnect does not send it
        {
            Calls calls;
            EXPECT_TRUE(c->DriverConnect(xpp::Value(), std::string("DSN=") + dsn));
            EXPECT_EQ(calls.Find(10, SQL_ATTR_LOGIN_TIMEOUT), -1);
        }
        cls.SetVar("LoginTimeout", 15);
        c->Destroy();
    }
}

TEST(Connecting, BrowsingIsRefusedByEachRealDriver) {
    Loaded();
    struct Case {
        const char* dsn;
        const char* state;
    };
    for (const Case& k : {Case{"SQLite", "IM001"}, Case{"PostgreSQL", "HYC00"}, Case{"KIVODBC", "IM001"}}) {
        SCOPED_TRACE(k.dsn);
        auto c = SQLConnection::New();
        Reported reported;
        CaptureErrors(*c, reported);
        bool asked = false;
        Calls calls;
        EXPECT_FALSE(c->BrowseConnect(std::string("DSN=") + k.dsn, xpp::Block([&asked](xpp::Args&) {
                                          asked = true;
                                          return xpp::Value(true);
                                      })));
        EXPECT_FALSE(asked);
        EXPECT_EQ(c->Handle, 0);
        EXPECT_TRUE(c->ConnectString.IsNil());
        ASSERT_EQ(reported.calls, 1);
        EXPECT_EQ(reported.returnCode, 65535);
        ASSERT_FALSE(reported.errors.empty());
        EXPECT_EQ(reported.errors[0]->SQLState.Str(), k.state);
        EXPECT_EQ(reported.errors[0]->Owner.Obj().get(), c.get());
        // the new handle is freed after its diagnostics were read
        int browse = calls.Find(4);
        ASSERT_GE(browse, 0);
        EXPECT_GT(calls.Find(60), calls.Find(44));
        EXPECT_GT(calls.Find(44), browse);
        c->Destroy();
    }
}

// A driver that browses, played on the call table (no installed driver
// answers 99): the first request gets the list of what it still needs, the
// second connects for real to PostgreSQL with what the block supplied.
class BrowsingDriver {
public:
    static constexpr const char* kNeeds = "UID:Login name=?;PWD:Password=?";

    explicit BrowsingDriver(bool secondFails = false)
        : calls_([this, secondFails](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
              if (index != 4) return std::nullopt;
              std::string request(reinterpret_cast<const char*>(a.at(1)), static_cast<size_t>(a.at(2)));
              requests.push_back(request);
              auto* out = reinterpret_cast<SQLCHAR*>(a.at(3));
              auto* outLength = reinterpret_cast<SQLSMALLINT*>(a.at(5));
              if (requests.size() == 1) {
                  std::string needs = kNeeds;
                  std::copy(needs.begin(), needs.end(), out);
                  out[needs.size()] = 0;
                  *outLength = static_cast<SQLSMALLINT>(needs.size());
                  return SQL_NEED_DATA;
              }
              if (secondFails) return 65535;
              std::string full = "DSN=PostgreSQL;" + request;
              return SQLDriverConnect(ToHandle(a.at(0)), nullptr, reinterpret_cast<SQLCHAR*>(full.data()), SQL_NTS,
                                      out, static_cast<SQLSMALLINT>(a.at(4)), outLength, SQL_DRIVER_NOPROMPT);
          }) {}
    const Calls& AllCalls() const { return calls_; }
    std::vector<std::string> requests;

private:
    Calls calls_;
};

TEST(Connecting, TheBrowseExchangeAsksTheBlockUntilTheDriverHasWhatItNeeds) {
    Loaded();
    auto c = SQLConnection::New();
    Reported reported;
    CaptureErrors(*c, reported);
    std::vector<std::string> seen;
    BrowsingDriver driver;
    ASSERT_TRUE(c->BrowseConnect("DSN=PostgreSQL", xpp::Block([&seen](xpp::Args& a) {
        seen.push_back(a[1].Str());
        a.Put(1, "UID=postgres;PWD=");
        return xpp::Value(true);
    }), true));
    EXPECT_TRUE(c->isReadOnly);
    EXPECT_EQ(driver.requests, (std::vector<std::string>{"DSN=PostgreSQL", "UID=postgres;PWD="}));
    EXPECT_EQ(seen, (std::vector<std::string>{BrowsingDriver::kNeeds}));
    EXPECT_EQ(reported.calls, 0);
    ASSERT_NE(c->Handle, 0);
    EXPECT_TRUE(c->isConnected());
    const std::string completed = c->ConnectString.Str();
    EXPECT_EQ(completed.rfind("DSN=PostgreSQL;", 0), 0u) << completed;
    EXPECT_EQ(c->DataSource.Str(), "PostgreSQL");
    EXPECT_EQ(c->UserName.Str(), "postgres");
    EXPECT_EQ(c->Password.Str(), "");
    EXPECT_EQ(c->DbmsName.Str(), "PostgreSQL");
    EXPECT_EQ(c->DatabaseName.Str(), TestDataSources::Get().PostgresDatabase());
    EXPECT_TRUE(c->Disconnect());

    // The stored string serves as the request when none is given.
    BrowsingDriver again;
    EXPECT_FALSE(c->BrowseConnect());
    ASSERT_FALSE(again.requests.empty());
    EXPECT_EQ(again.requests[0], completed);
    c->Destroy();
}

TEST(Connecting, ABrowseThatGivesUpOrFailsFreesTheHandle) {
    Loaded();
    struct Case {
        const char* name;
        xpp::Value block;
        bool secondFails;
        int reports;
    };
    xpp::Value goOn = xpp::Block([](xpp::Args& a) {
        a.Put(1, "UID=postgres");
        return xpp::Value(true);
    });
    for (const Case& k : {Case{"no block", xpp::Value(), false, 0},
                          Case{"block says .F.", xpp::Block([](xpp::Args&) { return xpp::Value(false); }), false, 0},
                          Case{"block says NIL", xpp::Block([](xpp::Args&) { return xpp::Value(); }), false, 0},
                          Case{"second request fails", goOn, true, 1}}) {
        SCOPED_TRACE(k.name);
        auto c = SQLConnection::New();
        Reported reported;
        CaptureErrors(*c, reported);
        {
            BrowsingDriver driver(k.secondFails);
            EXPECT_FALSE(c->BrowseConnect("DSN=PostgreSQL", k.block));
            EXPECT_EQ(driver.requests.size(), k.secondFails ? 2u : 1u);
            const auto& all = driver.AllCalls().All();
            ASSERT_FALSE(all.empty());
            EXPECT_EQ(all.back().first, 60) << "the handle is freed last";
            EXPECT_EQ(all.back().second.at(0), SQL_HANDLE_DBC);
        }
        EXPECT_EQ(c->Handle, 0);
        EXPECT_EQ(reported.calls, k.reports);
        EXPECT_TRUE(c->ConnectString.IsNil());
        c->Destroy();
    }
}

TEST(Connecting, TheCompletedStringOfEachDriverGivesSourceUserAndPassword) {
    Loaded();
    struct Case {
        const char* dsn;
        const char* user;  // psqlODBC completes its user; the others leave UID= out
    };
    for (const Case& k : {Case{"SQLite", ""}, Case{"PostgreSQL", "postgres"}, Case{"KIVODBC", ""}}) {
        SCOPED_TRACE(k.dsn);
        auto c = SQLConnection::New();
        // completion 0: never prompts
        ASSERT_TRUE(c->DriverConnect(xpp::Value(), std::string("DSN=") + k.dsn, 0));
        const std::string completed = c->ConnectString.Str();
        EXPECT_EQ(completed.rfind(std::string("DSN=") + k.dsn + ";", 0), 0u) << completed;
        EXPECT_EQ(completed.find("UID=") != std::string::npos, *k.user != '\0') << completed;
        EXPECT_EQ(c->DataSource.Str(), k.dsn);
        EXPECT_EQ(c->UserName.Str(), k.user);
        EXPECT_EQ(c->Password.Str(), "");
        c->Destroy();
    }
}

TEST(Connecting, ConnectingAConnectedObjectClosesTheOldConnectionEvenWhenTheNewFails) {
    Loaded();
    auto& admin = TestDataSources::Get().Admin();
    const std::string database = TestDataSources::Get().PostgresDatabase();
    auto c = SQLConnection::New("PostgreSQL", "", "");
    ASSERT_NE(c->Handle, 0);
    int pid = kivodbc::testing::BackendPidOf(ToHandle(c->Handle));
    auto connected = [&] {
        auto pids = admin.BackendPids(database);
        return std::find(pids.begin(), pids.end(), pid) != pids.end();
    };
    ASSERT_TRUE(connected());
    c->ShowConnErrors = false;
    EXPECT_FALSE(c->DriverConnect(xpp::Value(), "DSN=PostgreSQL;Database=no_such_database_here"));
    EXPECT_EQ(c->Handle, 0);
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = !connected();
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone) << "backend " << pid << " still connected";
    c->Destroy();
}

TEST(Connecting, AConnectionWithoutHandleReportsWithoutCallingODBC) {
    Loaded();
    auto c = SQLConnection::New();
    Reported reported;
    CaptureErrors(*c, reported);
    rowxpp_test::RecordedCalls calls;
    EXPECT_EQ(c->ErrorMessage().rfind("NULL DBC handle\r\n\r\nThread ID ", 0), 0u);
    c->DisplayError_(65535);
    EXPECT_EQ(reported.calls, 1);
    EXPECT_EQ(reported.report.rfind("NULL DBC handle\r\n", 0), 0u);
    EXPECT_TRUE(reported.errors.empty());
    EXPECT_TRUE(calls.Indexes().empty());
    c->Destroy();
}

TEST(Connecting, WithoutADriverManagerTheConnectMethodsAnswerFalseSilently) {
    Loaded();
    {
        CapturedErrors errors;
        SQLConnection::LoadDriver("nosuch.so");
        EXPECT_EQ(errors.Errors().size(), 1u);
    }
    EXPECT_EQ(SQLConnection::EnvHandle(), 0);
    {
        rowxpp_test::RecordedCalls calls;
        auto c = SQLConnection::New("SQLite", "", "");
        Reported reported;
        CaptureErrors(*c, reported);
        EXPECT_EQ(c->Handle, 0);
        EXPECT_FALSE(c->Connect("SQLite", "", ""));
        EXPECT_FALSE(c->DriverConnect(xpp::Value(), "DSN=SQLite"));
        EXPECT_FALSE(c->BrowseConnect("DSN=SQLite"));
        EXPECT_EQ(c->DataSource.Str(), std::string(1, '\0')) << "nothing changed";
        EXPECT_EQ(reported.calls, 0);
        EXPECT_TRUE(calls.Indexes().empty());
        c->Destroy();
    }
    SQLConnection::LoadDriver();
    auto c = SQLConnection::New("SQLite", "", "");
    EXPECT_NE(c->Handle, 0);
    c->Destroy();
}

TEST(Connecting, InitClassLoadsTheNamedDriverManagerInPlaceOfTheLoadedOne) {
    Loaded();
    xpp::Class& cls = SQLCONNECTION();
    auto open = SQLConnection::New("PostgreSQL", "", "");
    ASSERT_NE(open->Handle, 0);
    ASSERT_TRUE(open->BeginTransaction());
    auto& admin = TestDataSources::Get().Admin();
    admin.Execute("DROP TABLE IF EXISTS init_probe");
    admin.Execute("CREATE TABLE init_probe (id INTEGER)");
    kivodbc::testing::ExecuteOn(ToHandle(open->Handle), "INSERT INTO init_probe VALUES (1)");
    cls.SetVar("LoginTimeout", 45);
    cls.SetVar("DisplayErrors", false);

    EXPECT_EQ(&SQLConnection::initClass("libodbc.so.2"), &cls);
    // the connections of the driver manager before: work committed, closed, unregistered
    EXPECT_EQ(admin.CountRows("init_probe"), 1);
    EXPECT_EQ(open->Handle, 0);
    EXPECT_EQ(SQLConnection::ActiveConnections(), 0u);
    EXPECT_EQ(cls.Var("LoginTimeout").Int(), 15);
    EXPECT_TRUE(cls.Var("DisplayErrors").Log());
    EXPECT_TRUE(SQLConnection::isDriverLoaded());
    EXPECT_NE(SQLConnection::hEnv(), 0);
    auto c = SQLConnection::New("KIVODBC", "", "");
    EXPECT_NE(c->Handle, 0);

    {
        CapturedErrors errors;
        SQLConnection::initClass("nosuch.so");
        ASSERT_EQ(errors.Errors().size(), 1u);
        EXPECT_EQ(errors.Errors()[0]->description.Str(), "Unable to open nosuch.so");
    }
    EXPECT_FALSE(SQLConnection::isDriverLoaded());
    EXPECT_EQ(c->Handle, 0);
    SQLConnection::initClass();
    EXPECT_TRUE(SQLConnection::isDriverLoaded());
    auto d = SQLConnection::New("SQLite", "", "");
    EXPECT_NE(d->Handle, 0);
    d->Destroy();
}

}  // namespace
