// What each real driver reports through the library, compared with what the
// same driver answers to plain ODBC calls on the same handle: the driver
// information, the reports of a failure, the header fields of diagnostics
// and texts longer than the buffers offered.
#include <gtest/gtest.h>

#include <filesystem>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/odbc_config.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "test_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using kivodbc::testing::ExecuteOn;
using kivodbc::testing::TestDataSources;
using rowxpp_test::Loaded;

namespace {

const char* const kSources[] = {"SQLite", "PostgreSQL", "KIVODBC"};

std::string InfoText(SQLHDBC dbc, SQLUSMALLINT type) {
    char buffer[512] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, type, buffer, sizeof buffer, &length))) return "";
    return std::string(buffer, static_cast<size_t>(length));
}

template <class T>
int64_t InfoNumber(SQLHDBC dbc, SQLUSMALLINT type) {
    T value = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, type, &value, sizeof value, nullptr))) return 0;
    return static_cast<int64_t>(value);
}

TEST(Drivers, EachRowOfTheDriverInformationIsWhatTheDriverReports) {
    Loaded();
    for (const char* dsn : kSources) {
        SCOPED_TRACE(dsn);
        auto c = SQLConnection::New(dsn, "", "");
        ASSERT_NE(c->Handle, 0);
        SQLHDBC dbc = ToHandle(c->Handle);
        EXPECT_EQ(c->IdentifierQuoteChar.Str(), InfoText(dbc, SQL_IDENTIFIER_QUOTE_CHAR));
        EXPECT_EQ(c->IdentifierCase.Int(), InfoNumber<SQLUSMALLINT>(dbc, SQL_IDENTIFIER_CASE));
        EXPECT_EQ(c->MaxActiveStatements, InfoNumber<SQLUSMALLINT>(dbc, SQL_MAX_CONCURRENT_ACTIVITIES));
        EXPECT_EQ(c->MaxActiveConnections, InfoNumber<SQLUSMALLINT>(dbc, SQL_MAX_DRIVER_CONNECTIONS));
        EXPECT_EQ(c->MaxStatementLen, InfoNumber<SQLUINTEGER>(dbc, SQL_MAX_STATEMENT_LEN));
        EXPECT_EQ(c->MaxCharLen, InfoNumber<SQLUINTEGER>(dbc, SQL_MAX_CHAR_LITERAL_LEN));
        EXPECT_EQ(c->isTransactionCapable.Log(), InfoNumber<SQLUSMALLINT>(dbc, SQL_TXN_CAPABLE) != 0);
        EXPECT_EQ(c->DatabaseName.Str(), InfoText(dbc, SQL_DATABASE_NAME));
        EXPECT_EQ(c->DbmsName.Str(), InfoText(dbc, SQL_DBMS_NAME));
        EXPECT_FALSE(c->DbmsName.Str().empty());
        EXPECT_EQ(c->DbmsVersion.Str(), InfoText(dbc, SQL_DBMS_VER));
        EXPECT_EQ(c->CollationSequence.Str(), InfoText(dbc, SQL_COLLATION_SEQ));
        EXPECT_EQ(c->MultipleResults.Log(), InfoText(dbc, SQL_MULT_RESULT_SETS) == "Y");
        int64_t getData = InfoNumber<SQLUINTEGER>(dbc, SQL_GETDATA_EXTENSIONS);
        EXPECT_EQ(c->GetDataInOrder.Log(), !(getData < 16 && (getData & SQL_GD_ANY_ORDER) != 0)) << getData;
        int64_t positioned = InfoNumber<SQLUINTEGER>(dbc, SQL_POSITIONED_STATEMENTS);
        EXPECT_EQ(c->isPosDeleteSupported.Log(), positioned > 0 && positioned != 2) << positioned;
        EXPECT_EQ(c->isPosUpdateSupported.Log(), positioned > 0 && positioned != 1) << positioned;
        // the masks the two known drivers answer
        if (std::string(dsn) == "PostgreSQL") {
            EXPECT_EQ(getData, 15);
            EXPECT_EQ(positioned, 0);
        } else if (std::string(dsn) == "SQLite") {
            EXPECT_EQ(getData, 11);
            EXPECT_EQ(positioned, 0);
        }
        c->Destroy();
    }
}

TEST(Drivers, IsFunctionAnswersOneFunctionAndNothingElseOnEachDriver) {
    Loaded();
    for (const char* dsn : kSources) {
        SCOPED_TRACE(dsn);
        auto c = SQLConnection::New(dsn, "", "");
        ASSERT_NE(c->Handle, 0);
        // 0 and 999 ask the driver manager for a whole list; 4000 and -1 lie
        // outside every list
        for (int64_t id : {0, 999, 4000, -1}) {
            SCOPED_TRACE(id);
            EXPECT_EQ(xpp::Var2Char(c->isFunction(id)), ".F.");
        }
        EXPECT_EQ(xpp::Var2Char(xpp::Send(xpp::Value(c), "isFunction")), ".F.");
        EXPECT_EQ(xpp::Var2Char(c->isFunction(xpp::Value())), ".F.");
        EXPECT_EQ(xpp::Var2Char(c->isFunction(SQL_API_SQLEXECDIRECT)), ".T.");
        EXPECT_EQ(xpp::Var2Char(xpp::Send(xpp::Value(c), "isFunction", {SQL_API_SQLEXECDIRECT})), ".T.");
        SQLUSMALLINT exists = SQL_FALSE;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLGetFunctions(ToHandle(c->Handle), SQL_API_SQLBROWSECONNECT, &exists)));
        EXPECT_EQ(c->isFunction(SQL_API_SQLBROWSECONNECT).Log(), exists == SQL_TRUE);
        c->Destroy();
    }
}

// The report lines of every diagnostic record of a handle, as the plain
// ODBC calls read them.
std::string ExpectedRecords(SQLSMALLINT type, SQLHANDLE handle, int& count) {
    std::string report;
    count = 0;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLCHAR message[600] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, message, sizeof message, &length)))
            break;
        ++count;
        report += "SQLState: " + std::string(reinterpret_cast<char*>(state)) +
                  ",  ErrorCode:" + std::to_string(native & 0xFFFF) + "\r\n" +
                  std::string(reinterpret_cast<char*>(message), static_cast<size_t>(length)) + "\r\n";
    }
    return report;
}

TEST(Drivers, AFailureOnEachDriverGivesTheExactReportAndItsErrorObjects) {
    Loaded();
    for (const char* dsn : kSources) {
        SCOPED_TRACE(dsn);
        auto c = SQLConnection::New(dsn, "", "");
        ASSERT_NE(c->Handle, 0);
        SQLHSTMT stmt = rowxpp_test::FailedStatement(c->Handle, "SELECT * FROM no_such_table_here");
        ASSERT_NE(stmt, nullptr);
        int count = 0;
        const std::string records = ExpectedRecords(SQL_HANDLE_STMT, stmt, count);
        ASSERT_GE(count, 1);
        EXPECT_NE(records.find("no_such_table_here"), std::string::npos) << records;

        // not displayed: the record lines alone
        EXPECT_EQ(DISPLAYERROR_(65535, SQL_HANDLE_STMT, FromHandle(stmt), false), records);

        // displayed through the owner's block: the lines, the thread and the callers
        std::string handed;
        int64_t code = 0;
        std::vector<std::shared_ptr<rowxpp::SQLError>> errors;
        c->onError = xpp::Block([&](xpp::Args& a) {
            handed = a[2].Str();
            code = a[3].Int();
            for (const xpp::Value& e : a[4].Arr().Items()) errors.push_back(e.As<rowxpp::SQLError>());
            return xpp::Value();
        });
        std::string report = DISPLAYERROR_(65535, SQL_HANDLE_STMT, FromHandle(stmt), true, c->onError, xpp::Value(c));
        EXPECT_EQ(report, handed);
        EXPECT_EQ(code, 65535);
        const std::string thread = "\r\nThread ID " + std::to_string(xpp::ThreadID());
        EXPECT_EQ(report.substr(0, records.size() + thread.size()), records + thread) << report;
        ASSERT_EQ(errors.size(), static_cast<size_t>(count));
        SQLCHAR state[6] = {};
        SQLCHAR message[600] = {};
        SQLINTEGER native = 0;
        SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, nullptr);
        EXPECT_EQ(errors[0]->Owner.Obj().get(), c.get());
        EXPECT_EQ(errors[0]->ReturnCode.Int(), 65535);
        EXPECT_EQ(errors[0]->SQLState.Str(), reinterpret_cast<char*>(state));
        EXPECT_EQ(errors[0]->NativeError.Int(), native & 0xFFFF);
        EXPECT_EQ(errors[0]->Message.Str(), reinterpret_cast<char*>(message));
        EXPECT_EQ(errors[0]->Thread.Int(), xpp::ThreadID());
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        c->Destroy();
    }
}

TEST(Drivers, HeaderFieldsOfDiagnosticsAreReadWithRecordZero) {
    Loaded();
    for (const char* dsn : kSources) {
        SCOPED_TRACE(dsn);
        auto c = SQLConnection::New(dsn, "", "");
        ASSERT_NE(c->Handle, 0);
        SQLHDBC dbc = ToHandle(c->Handle);
        ExecuteOn(dbc, "CREATE TABLE diag_rows (id INTEGER)");
        for (const char* insert : {"INSERT INTO diag_rows VALUES (1)", "INSERT INTO diag_rows VALUES (2)",
                                   "INSERT INTO diag_rows VALUES (3)"})
            ExecuteOn(dbc, insert);
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
        std::string update = "UPDATE diag_rows SET id = id + 10";
        ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(update.data()), SQL_NTS)));
        // an 8-byte field of the header
        EXPECT_EQ(GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 0, SQL_DIAG_ROW_COUNT).Int(), 3);
        EXPECT_EQ(GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 0, SQL_DIAG_NUMBER).Int(), 0);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);

        stmt = rowxpp_test::FailedStatement(c->Handle, "SELECT * FROM no_such_table_here");
        ASSERT_NE(stmt, nullptr);
        int count = 0;
        ExpectedRecords(SQL_HANDLE_STMT, stmt, count);
        EXPECT_EQ(GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 0, SQL_DIAG_NUMBER).Int(), count);
        // a header field with a record number the driver manager refuses: NIL
        EXPECT_TRUE(GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 0, SQL_DIAG_SQLSTATE, true).IsNil());
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        ExecuteOn(dbc, "DROP TABLE diag_rows");
        c->Destroy();
    }
}

// The completed connection string of `request` as the driver manager gives
// it to a plain call with room enough.
std::string FullyCompleted(std::string request) {
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (SQLAllocHandle(SQL_HANDLE_DBC, ToHandle(SQLConnection::hEnv()), &dbc) != SQL_SUCCESS) return "";
    SQLCHAR out[4096] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(request.data()), SQL_NTS, out, sizeof out,
                                    &length, SQL_DRIVER_NOPROMPT);
    std::string completed = SQL_SUCCEEDED(rc) ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(length)) : "";
    if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    return completed;
}

TEST(Drivers, ACompletedConnectionStringLongerThanTheBufferArrivesCut) {
    Loaded();
    // The SQLite driver gives back every setting it has; two paths written
    // long with "/." make its string longer than the buffer.
    auto padded = [](std::string folder, const std::string& file) {
        while (folder.size() < 480) folder += "/.";
        return folder + "/" + file;
    };
    const std::string request = "DSN=SQLite;Database=" +
                                padded(TestDataSources::Get().SqliteFile().parent_path().string(), "sqlite.db") +
                                ";Tracefile=" + padded("/dev", "null");
    const std::string full = FullyCompleted(request);
    ASSERT_GT(full.size(), 1023u) << full;
    auto c = SQLConnection::New();
    ASSERT_TRUE(c->DriverConnect(xpp::Value(), request));
    // 1023 bytes offered: 1022 characters and the driver's terminator
    EXPECT_EQ(c->ConnectString.Str(), full.substr(0, 1022));
    EXPECT_EQ(c->DataSource.Str(), "SQLite");
    EXPECT_EQ(c->DbmsName.Str(), "SQLite");
    c->Destroy();
}

TEST(Drivers, InformationAndAttributesLongerThanTheBufferArriveCut) {
    Loaded();
    // The engine's driver answers its data folder as the database name and
    // the current catalog: a folder 255 characters long fills the buffer.
    std::filesystem::path base = TestDataSources::Get().EngineFolder();
    const size_t room = 255 - base.string().size() - 2;
    std::filesystem::path folder = base / std::string(room / 2, 'a') / std::string(room - room / 2, 'b');
    std::filesystem::create_directories(folder);
    ASSERT_EQ(folder.string().size(), 255u);
    auto c = SQLConnection::New();
    ASSERT_TRUE(c->DriverConnect(xpp::Value(), std::string("DRIVER={") + TestDataSources::kKivodbcDriver + "};DataDirectory=" + folder.string()));
    SQLHDBC dbc = ToHandle(c->Handle);
    SQLCHAR catalog[512] = {};
    SQLINTEGER length = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, catalog, sizeof catalog, &length)));
    ASSERT_GE(length, 254) << catalog;
    // 254 bytes offered: 253 characters and the driver's terminator
    EXPECT_EQ(c->GetAttribute(SQL_ATTR_CURRENT_CATALOG, true).Str(), std::string(reinterpret_cast<char*>(catalog), 253));
    const std::string name = InfoText(dbc, SQL_DATABASE_NAME);
    ASSERT_GE(name.size(), 254u) << name;
    EXPECT_EQ(c->GetInfo(SQL_DATABASE_NAME), name.substr(0, 253));
    EXPECT_EQ(c->DatabaseName.Str(), name.substr(0, 253));
    c->Destroy();
}

TEST(Drivers, ListedNamesLongerThanTheBufferArriveCut) {
    Loaded();
    {
        // The driver manager reads the data sources afresh at each listing.
        kivodbc::testing::OdbcConfig config("", "[" + std::string(300, 'N') + "]\nDriver=" + std::string(300, 'D') +
                                                    "\n\n[Short]\nDriver=Some driver\n");
        config.Activate();
        std::vector<std::pair<std::string, std::string>> listed;
        for (const xpp::Value& s : SQLConnection::GetDataSources().Items())
            listed.emplace_back(s.Arr().Get(1).Str(), s.Arr().Get(2).Str());
        ASSERT_GE(listed.size(), 2u);
        EXPECT_EQ(listed[0], std::make_pair(std::string(253, 'N'), std::string(253, 'D')));
        EXPECT_EQ(listed[1], std::make_pair(std::string("Short"), std::string("Some driver")));
    }
    TestDataSources::Get().Activate();
    EXPECT_EQ(SQLConnection::GetDataSources().Len(), 4u);
}

TEST(Drivers, DriverAttributesArePairsSeparatedByNul) {
    Loaded();
    xpp::Array drivers = SQLConnection::GetDrivers();
    ASSERT_EQ(drivers.Len(), 3u);
    EXPECT_EQ(drivers.Get(3).Arr().Get(1).Str(), TestDataSources::kKivodbcDriver);
    const std::string attributes = drivers.Get(3).Arr().Get(2).Str();
    std::vector<std::string> pairs;
    size_t start = 0;
    for (size_t nul; (nul = attributes.find('\0', start)) != std::string::npos; start = nul + 1)
        pairs.push_back(attributes.substr(start, nul - start));
    EXPECT_EQ(start, attributes.size()) << "the last pair ends with its NUL too";
    ASSERT_EQ(pairs.size(), 4u) << attributes;
    EXPECT_EQ(pairs[0], "Description=The engine's driver");
    EXPECT_EQ(pairs[1].rfind("Driver=/", 0), 0u);
    EXPECT_NE(pairs[1].find("KIVODBC"), std::string::npos);
    EXPECT_EQ(pairs[2], "FileUsage=0");
    EXPECT_EQ(pairs[3], "APILevel=1");
}

}  // namespace
