// The driver-manager binding through unixODBC: the call table, the
// environment, the listings and a driver manager that does not load.
#include <gtest/gtest.h>

#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "test_support.h"
#include "xpp/native.h"

using namespace rowxpp;
using rowxpp_test::CapturedErrors;
using rowxpp_test::Loaded;
using rowxpp_test::RecordedCalls;

namespace {

TEST(DriverBinding, TheClassLoadsTheDriverManagerAndPreparesEveryCall) {
    Loaded();
    EXPECT_TRUE(ISINITIALIZED());
    EXPECT_TRUE(SQLConnection::isDriverLoaded());
    EXPECT_NE(SQLConnection::hDll(), 0);
    EXPECT_NE(SQLConnection::hEnv(), 0);
    const auto& names = OdbcCallNames();
    ASSERT_EQ(names.size(), 61u);
    EXPECT_EQ(names[0], "SQLAllocHandle");
    EXPECT_EQ(names[42], "SQLGetDiagField");
    EXPECT_EQ(names[57], "SQLEndTran");
    EXPECT_EQ(names[60], "SQLSetStmtOption");
    for (int i = 1; i <= kOdbcCallCount; ++i) EXPECT_NE(OdbcCallEntry(i), 0) << names[i - 1];
    EXPECT_EQ(SQLCONNECTION().Var("Version").Str(), "3.1.24");
    EXPECT_EQ(SQLCONNECTION().Var("LoginTimeout").Int(), 15);
}

TEST(DriverBinding, ResultsArriveAsUnsigned16BitCodes) {
    Loaded();
    // an environment handle the driver manager never gave out
    SQLHANDLE out = SQL_NULL_HANDLE;
    EXPECT_EQ(OdbcCall<1>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), SQLHANDLE{}, &out), 65534);
    // a wrong handle type on a real environment is SQL_ERROR
    EXPECT_EQ(OdbcCall<1>(static_cast<SQLSMALLINT>(99), ToHandle(SQLConnection::hEnv()), &out), 65535);
}

TEST(DriverBinding, DataSourcesAreListedInTheOrderOfTheConfiguration) {
    Loaded();
    xpp::Array sources = SQLConnection::GetDataSources();
    std::vector<std::string> names;
    for (const xpp::Value& s : sources.Items()) names.push_back(s.Arr().Get(1).Str());
    EXPECT_EQ(names, (std::vector<std::string>{"SQLite", "PostgreSQL", "KIVODBC", "DEFAULT"}));
    EXPECT_EQ(sources.Get(2).Arr().Get(2).Str(), "PostgreSQL ANSI");

    xpp::Array drivers = SQLConnection::GetDrivers();
    ASSERT_EQ(drivers.Len(), 3u);
    EXPECT_EQ(drivers.Get(1).Arr().Get(1).Str(), "SQLite3 ODBC Driver");
    const std::string attributes = drivers.Get(2).Arr().Get(2).Str();
    EXPECT_EQ(attributes.rfind("Driver=", 0), 0u) << attributes;
    EXPECT_NE(attributes.find("psqlodbca.so"), std::string::npos) << attributes;
    EXPECT_EQ(attributes.find(' '), std::string::npos) << "no blank filling: " << attributes;
}

TEST(DriverBinding, ListingsStopOnAnyResultThatCarriesNoData) {
    Loaded();
    // The driver manager cannot be made to answer 65534 for a loaded
    // environment, so the call table answers it here.
    for (int64_t code : {int64_t{65534}, int64_t{65535}, int64_t{100}}) {
        RecordedCalls calls([code](int) { return code; });
        EXPECT_EQ(SQLConnection::GetDataSources().Len(), 0u) << code;
        EXPECT_EQ(SQLConnection::GetDrivers().Len(), 0u) << code;
        EXPECT_EQ(calls.Indexes(), (std::vector<int>{5, 6})) << code;
    }
}

TEST(DriverBinding, ADriverManagerThatDoesNotLoadIsReportedAndTheLibraryRecovers) {
    Loaded();
    {
        CapturedErrors errors;
        SQLConnection::LoadDriver("nosuch.so");
        ASSERT_EQ(errors.Errors().size(), 1u);
        const auto& e = *errors.Errors()[0];
        EXPECT_EQ(e.description.Str(), "Unable to open nosuch.so");
        EXPECT_EQ(e.subSystem.Str(), "RowXpp 3.1.24");
        EXPECT_EQ(e.subCode.Int(), 0);
        EXPECT_EQ(e.severity.Int(), 2);
        EXPECT_EQ(e.operation.Str(), "SQLCONNECTION:LOADDRIVER");
    }
    EXPECT_FALSE(SQLConnection::isDriverLoaded());
    EXPECT_EQ(SQLConnection::hDll(), 0);
    for (int i = 1; i <= kOdbcCallCount; ++i) EXPECT_EQ(OdbcCallEntry(i), 0);
    SQLHANDLE out = SQL_NULL_HANDLE;
    EXPECT_EQ(OdbcCall<1>(static_cast<SQLSMALLINT>(SQL_HANDLE_ENV), SQLHANDLE{}, &out), 65534);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SQLConnection::GetDataSources().Len(), 0u);

    SQLConnection::LoadDriver();
    EXPECT_TRUE(SQLConnection::isDriverLoaded());
    EXPECT_NE(SQLConnection::hEnv(), 0);
    EXPECT_EQ(SQLConnection::GetDataSources().Len(), 4u);
}

TEST(DriverBinding, UnloadingTwiceCallsNothingTheSecondTime) {
    Loaded();
    EXPECT_TRUE(SQLConnection::UnloadDriver());
    EXPECT_FALSE(SQLConnection::isDriverLoaded());
    {
        RecordedCalls calls;
        EXPECT_TRUE(SQLConnection::Close());
        EXPECT_TRUE(calls.Indexes().empty());
    }
    SQLConnection::LoadDriver();
    EXPECT_TRUE(SQLConnection::isDriverLoaded());
}

TEST(DriverBinding, TheDesktopWindowIsAskedOnceAndIsTheRuntimesRecord) {
    int64_t first = GETDESKTOPHANDLE_();
    EXPECT_NE(first, 0);
    EXPECT_EQ(GETDESKTOPHANDLE_(), first);
    EXPECT_EQ(first, static_cast<int64_t>(reinterpret_cast<intptr_t>(GetDesktopWindow())));
}

TEST(DriverBinding, IsInitializedSetsWithAnyArgument) {
    Loaded();
    EXPECT_TRUE(ISINITIALIZED(false));
    EXPECT_TRUE(ISINITIALIZED());
}

}  // namespace
