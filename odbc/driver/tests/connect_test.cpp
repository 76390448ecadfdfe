// Connecting: connection strings, the data source's keys, the engine options
// they select, the prompt, the engine version check and engine failures.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "connect/connstring.h"
#include "driver_fixture.h"
#include "fake_prompt.h"
#include "handles/messages.h"
#include "connect/prompt.h"
#include "connect/session.h"
#include "handles/typetable.h"

namespace kivodbc {
namespace {

using testing::DiagOf;
using testing::DriverTest;
using testing::Text;

// ---- Connection strings

TEST(ConnectionString, ParsesPairsAsTheyAre) {
  struct Case {
    std::string text;
    uint32_t code;
    std::string dsn, directory, user, driver;
  } cases[] = {
      {"DSN=a;DataDirectory=/d;UID=u", 0, "a", "/d", "u", ""},
      {"dsn=a;DATADIRECTORY=/d;uid=u;", 0, "a", "/d", "u", ""},  // keys without case, a final ';'
      {"DSN=first;DSN=second", 0, "first", "", "", ""},          // the first occurrence wins
      {"UID=;UID=second", 0, "", "", "second", ""},              // ...the first non-empty one
      {"DataDirectory= /d ;Unknown=x", 0, "", " /d ", "", ""},   // no trimming, unknown keys ignored
      {"DRIVER={Morvane Rivulet ODBC};UID=a=b", 0, "", "", "a=b", "{Morvane Rivulet ODBC}"},  // no braces
      {"", 0, "", "", "", ""},
      {"=x", kInvalidConnectionString, "", "", "", ""},
      {"DSN", kInvalidConnectionString, "", "", "", ""},
      {"DSN=a;UID", kInvalidConnectionString, "", "", "", ""},
      {"DSN=a;;UID=b", 0, "a", "", "", ""},  // the next pair starts at the second ';'
      {"DSN=a;;", kInvalidConnectionString, "", "", "", ""},
  };
  for (const Case& c : cases) {
    ConnectBlock block = {};
    std::string dsn, badKey;
    EXPECT_EQ(ParseConnectionString(c.text, &block, &dsn, &badKey), c.code) << c.text;
    if (c.code != 0) continue;
    EXPECT_EQ(dsn, c.dsn) << c.text;
    EXPECT_STREQ(block.dataDirectory, c.directory.c_str()) << c.text;
    EXPECT_STREQ(block.user, c.user.c_str()) << c.text;
    EXPECT_STREQ(block.driver, c.driver.c_str()) << c.text;
  }
}

TEST(ConnectionString, RefusesValuesLongerThanTheirField) {
  struct Case {
    std::string key;
    size_t longest;  // characters the field holds
  } cases[] = {{"DSN", 32}, {"DRIVER", 31}, {"DataDirectory", 255}, {"UID", 63}, {"PWD", 63},
               {"RemotePort", 15}, {"CharSet", 20}, {"TableExtension", 4}};
  for (const Case& c : cases) {
    ConnectBlock block = {};
    std::string dsn, badKey;
    EXPECT_EQ(ParseConnectionString(c.key + "=" + std::string(c.longest, 'x'), &block, &dsn, &badKey), 0u) << c.key;
    block = {};
    dsn.clear();
    EXPECT_EQ(ParseConnectionString(c.key + "=" + std::string(c.longest + 1, 'x'), &block, &dsn, &badKey),
              kInvalidConnectionString)
        << c.key;
    EXPECT_EQ(badKey, c.key);
  }
}

TEST(ConnectionString, OutputStringOrder) {
  ConnectBlock block = {};
  for (const char* pair :
       {"DRIVER=drv", "DataDirectory=/d", "UID=u", "PWD=p", "RemoteHost=h", "RemotePort=9", "CharSet=OEM",
        "Language=x", "DefaultType=FoxPro", "MorvaneLocking=ON", "Locking=File", "MemoBlockSize=64",
        "MaxTableCloseCache=5", "RightsChecking=ON", "Rows=True", "TableExtension=.dbf", "ServerTypes=2",
        "UseAOF=Y", "UseReadAhead=Y", "ReadOnly=False", "Compression=Never", "CommType=UDP",
        "TrimTrailingSpaces=True"}) {
    std::string dsn, badKey;
    ASSERT_EQ(ParseConnectionString(pair, &block, &dsn, &badKey), 0u);
  }
  EXPECT_EQ(BuildOutConnectionString(block, "src"),
            "DSN=src;DataDirectory=/d;RemoteHost=h;RemotePort=9;UID=u;PWD=p;SERVER=NotTheServer;CharSet=OEM;"
            "Compression=Never;CommType=UDP;DefaultType=FoxPro;Rows=True;Language=x;MorvaneLocking=ON;"
            "Locking=File;MemoBlockSize=64;MaxTableCloseCache=5;ReadOnly=False;RightsChecking=ON;ServerTypes=2;"
            "TableExtension=.dbf;TrimTrailingSpaces=True;UseAOF=Y;UseReadAhead=Y");
  ConnectBlock bare = {};
  CopyField(bare.driver, sizeof bare.driver, "drv");
  EXPECT_EQ(BuildOutConnectionString(bare, ""), "DRIVER=drv;DataDirectory=;SERVER=NotTheServer");
}

// ---- SQLDriverConnect and SQLConnect

class Connecting : public DriverTest {};

TEST_F(Connecting, DriverConnectWritesTheOutputStringWithTheDataSourceKeys) {
  SQLHDBC conn = NewConnection();
  char out[600] = {};
  SQLSMALLINT length = 0;
  ASSERT_EQ(DriverConnect(conn, nullptr, Text("DSN=KivOptions;UID=given"), SQL_NTS, reinterpret_cast<SQLCHAR*>(out),
                          sizeof out, &length, SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_DBC, conn).message;
  const std::string expected = "DSN=KivOptions;DataDirectory=" + DataDirectory() +
                               ";RemoteHost=far;UID=given;PWD=secret;SERVER=NotTheServer;CharSet=OEM;"
                               "Compression=Internet;DefaultType=FoxPro;MorvaneLocking=OFF;Locking=Record;"
                               "MemoBlockSize=64;MaxTableCloseCache=7;ReadOnly=True;RightsChecking=OFF;"
                               "ServerTypes=0;TableExtension=ntx;TrimTrailingSpaces=True";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(expected.size()));
  EXPECT_STREQ(AsConn(conn)->dataSource, "KivOptions");
  EXPECT_STREQ(AsConn(conn)->session->userName, "given");
}

TEST_F(Connecting, DataSourceKeysBecomeEngineOptions) {
  SQLHDBC conn = ConnectedBy("DSN=KivOptions");
  const EngineSession* s = AsConn(conn)->session;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->charSet, 2);
  EXPECT_EQ(s->tableType, 2);
  EXPECT_EQ(s->compression, 12);
  EXPECT_EQ(s->serverTypes, 0);  // passed as it is
  EXPECT_EQ(s->memoBlockSize, 64);
  EXPECT_STREQ(s->tableExtension, ".ntx");
  EXPECT_EQ(s->rightsCheck, 2);
  EXPECT_EQ(s->readOnly, 1);
  EXPECT_EQ(s->trimTrailingSpaces, 1);
  EXPECT_EQ(s->lockingMode, 0);
  EXPECT_EQ(s->typeCount, 25);  // a DBF table type without a dictionary
}

TEST_F(Connecting, OptionMappingTable) {
  struct Case {
    std::string keys;
    int16_t tableType, compression, serverTypes, charSet, rightsCheck, lockingMode;
    const char* extension;
  } cases[] = {
      {"", 3, 0, 6, 1, 1, 1, ".kdt"},
      {"DefaultType=Clipper;Compression=Always;ServerTypes=3", 1, 4, 3, 1, 1, 1, ".dbf"},
      {"DefaultType=FoxPro;Compression=never;TableExtension=.ab", 2, 8, 6, 1, 1, 1, ".ab"},
      {"CharSet=oem;RightsChecking=OFF;MorvaneLocking=off;TableExtension=abcd", 3, 0, 6, 2, 2, 0, ".abc"},
  };
  for (const Case& c : cases) {
    SQLHDBC conn = ConnectedBy("DataDirectory=" + DataDirectory() + ";" + c.keys);
    const EngineSession* s = AsConn(conn)->session;
    ASSERT_NE(s, nullptr) << c.keys;
    EXPECT_EQ(s->tableType, c.tableType) << c.keys;
    EXPECT_EQ(s->compression, c.compression) << c.keys;
    EXPECT_EQ(s->serverTypes, c.serverTypes) << c.keys;
    EXPECT_EQ(s->charSet, c.charSet) << c.keys;
    EXPECT_EQ(s->rightsCheck, c.rightsCheck) << c.keys;
    EXPECT_EQ(s->lockingMode, c.lockingMode) << c.keys;
    EXPECT_STREQ(s->tableExtension, c.extension) << c.keys;
    EXPECT_EQ(Disconnect(conn), SQL_SUCCESS);
  }
}

TEST_F(Connecting, ReadsOnlyTheGivenLengthAndNeverWritesTheString) {
  const std::string full = "DataDirectory=" + DataDirectory() + ";UID=cut";
  // Not terminated where the length ends.
  std::string text = full;
  const auto length = static_cast<SQLSMALLINT>(full.find(";UID"));
  SQLHDBC conn = NewConnection();
  ASSERT_EQ(DriverConnect(conn, nullptr, Text(text), length, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT), SQL_SUCCESS);
  EXPECT_EQ(text, full);
  EXPECT_STREQ(AsConn(conn)->session->userName, "Anonymous");
}

TEST_F(Connecting, CutOutputStringWarnsWithTheFullLength) {
  SQLHDBC conn = NewConnection();
  char out[10] = {};
  SQLSMALLINT length = 0;
  const std::string text = "DataDirectory=" + DataDirectory();
  EXPECT_EQ(DriverConnect(conn, nullptr, Text(text), SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out, &length,
                          SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "01004");
  EXPECT_STREQ(out, "DRIVER=;D");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(("DRIVER=;" + text + ";SERVER=NotTheServer").size()));
  // Without a data source the connection is in use under a blank name.
  EXPECT_STREQ(AsConn(conn)->dataSource, " ");
  char name[10] = "x";
  EXPECT_EQ(GetInfo(conn, SQL_DATA_SOURCE_NAME, name, sizeof name, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(name, "");
}

TEST_F(Connecting, FailuresBeforeTheEngine) {
  struct Case {
    std::string text;
    SQLUSMALLINT completion;
    std::string state;
    SQLINTEGER native;
  } cases[] = {
      {"UID=x", SQL_DRIVER_NOPROMPT, "08001", 2140},
      {"UID=x", SQL_DRIVER_COMPLETE, "08001", 2140},  // no window: no prompt
      {"=x", SQL_DRIVER_NOPROMPT, "S0000", 2139},
      {"DataDirectory=" + std::string(300, 'd'), SQL_DRIVER_NOPROMPT, "S0000", 2139},
      {"DSN=KivMissing", SQL_DRIVER_NOPROMPT, "HY000", static_cast<SQLINTEGER>(KIV_ERR_FILE_NOT_FOUND)},
  };
  for (const Case& c : cases) {
    SQLHDBC conn = NewConnection();
    EXPECT_EQ(DriverConnect(conn, nullptr, Text(c.text), SQL_NTS, nullptr, 0, nullptr, c.completion), SQL_ERROR);
    const auto d = DiagOf(SQL_HANDLE_DBC, conn);
    EXPECT_EQ(d.state, c.state) << c.text;
    EXPECT_EQ(d.native, c.native) << c.text;
    EXPECT_STREQ(AsConn(conn)->dataSource, "") << c.text;
    EXPECT_EQ(AsConn(conn)->session, nullptr) << c.text;
  }
}

TEST_F(Connecting, SecondConnectOnAConnectedHandleIsRefused) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  EXPECT_EQ(DriverConnect(conn, nullptr, Text("DSN=KivData"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "08002");
  EXPECT_EQ(BrowseConnect(conn), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "IM001");
}

TEST_F(Connecting, ConnectTakesUserAndPasswordFromTheDataSource) {
  SQLHDBC conn = NewConnection();
  ASSERT_EQ(Connect(conn, Text("KivOptions"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_DBC, conn).message;
  EXPECT_STREQ(AsConn(conn)->session->userName, "kept");
  EXPECT_EQ(AsConn(conn)->session->tableType, 2);  // every option from odbc.ini
  EXPECT_EQ(Disconnect(conn), SQL_SUCCESS);
  ASSERT_EQ(Connect(conn, Text("KivOptions"), SQL_NTS, Text("other"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  EXPECT_STREQ(AsConn(conn)->session->userName, "other");
}

// An older engine is a warning of the connect, which goes on; no message
// box is shown (the host may have no one to show it to).
TEST_F(Connecting, OlderEngineLibraryIsReportedAndTheConnectGoesOn) {
  const std::string text =
      "The library libqel32.so is older than the ODBC Driver DLL.  Morvane DLLs must be of the same version.";
  for (const bool driverConnect : {true, false}) {
    KivTestFailCall("KivGetLibraryVersion", KIV_ERR_NOT_AVAILABLE, "no version", 1);
    SQLHDBC conn = NewConnection();
    const SQLRETURN rc = driverConnect ? DriverConnect(conn, nullptr, Text("DSN=KivData"), SQL_NTS, nullptr, 0,
                                                       nullptr, SQL_DRIVER_NOPROMPT)
                                       : Connect(conn, Text("KivData"), SQL_NTS, nullptr, 0, nullptr, 0);
    EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
    EXPECT_NE(AsConn(conn)->session, nullptr);
    const auto diag = DiagOf(SQL_HANDLE_DBC, conn);
    EXPECT_EQ(diag.state, "01000");
    EXPECT_EQ(diag.native, 2235);
    EXPECT_NE(diag.message.find(text), std::string::npos) << diag.message;
    EXPECT_TRUE(boxes_.empty());
  }
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Connecting, InvalidServerTypesAreReportedThroughTheEngine) {
  KivTestFailCall("KivSetServerType", KIV_ERR_INVALID_ARGUMENT, "bad types", 1);
  KivTestRecordCalls(1);
  KivTestClearCallLog();
  SQLHDBC conn = ConnectedBy("DataDirectory=" + DataDirectory() + ";ServerTypes=99");
  KivTestRecordCalls(0);
  char log[4096] = {};
  KivTestGetCallLog(log, sizeof log);
  EXPECT_NE(std::string(log).find("KivSetServerType\n"), std::string::npos);
  EXPECT_NE(AsConn(conn)->session, nullptr);
}

TEST_F(Connecting, FailureAfterTheEngineConnectDisconnectsAgain) {
  // A folder of its own: other tests may keep connections to the shared one.
  std::string folder = DataDirectory() + "/own-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  for (const char* function : {"KivGetTransactionsDisabled", "KivGetHandleType"}) {
    KivTestFailCall(function, KIV_ERR_IO, "query failed", 1);
    SQLHDBC conn = NewConnection();
    const std::string text = "DataDirectory=" + folder;
    EXPECT_EQ(DriverConnect(conn, nullptr, Text(text), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR) << function;
    const auto d = DiagOf(SQL_HANDLE_DBC, conn);
    EXPECT_EQ(d.native, static_cast<SQLINTEGER>(KIV_ERR_IO)) << function;
    EXPECT_EQ(d.message, "[Kestrane][Morvane SQL][DAX] query failed") << function;
    KIVHANDLE left = 0;
    ASSERT_EQ(KivFindConnection(folder.c_str(), &left), 0u);
    EXPECT_EQ(left, 0u) << function << ": the engine connection stayed open";
  }
}

TEST_F(Connecting, RightsListHoldsTheTablesOfTheConnection) {
  KIVHANDLE engine = 0, table = 0;
  ASSERT_EQ(KivConnect(DataDirectory().c_str(), &engine), 0u);
  for (const char* name : {"alpha", "beta"}) {
    ASSERT_EQ(KivCreateTable(engine, name, nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY, KIV_RIGHTS_NO_CHECK, 0, "A,C,5", &table), 0u);
    KivCloseTable(table);
  }
  KivDisconnect(engine);
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  int count = 0;
  for (auto* e = static_cast<RightsEntry*>(AsConn(conn)->session->accessibleTables); e != nullptr; e = e->next) {
    EXPECT_EQ(e->directory, DataDirectory());
    EXPECT_TRUE(std::string(e->file) == "alpha.kdt" || std::string(e->file) == "beta.kdt") << e->file;
    ++count;
  }
  EXPECT_EQ(count, 2);
  std::filesystem::remove(config_.DataDirectory() / "alpha.kdt");
  std::filesystem::remove(config_.DataDirectory() / "beta.kdt");
}

// A dictionary connection: its own table type list and the engine's login check.
TEST_F(Connecting, DictionaryConnection) {
  const std::string dictionary = DataDirectory() + "/dict.kdd";
  ASSERT_EQ(KivDDCreate(dictionary.c_str(), "user ADMIN opensesame\n"), 0u);
  SQLHDBC conn = ConnectedBy("DataDirectory=" + dictionary + ";DefaultType=FoxPro;UID=ADMIN;PWD=opensesame");
  ASSERT_NE(AsConn(conn)->session, nullptr);
  EXPECT_TRUE(AsConn(conn)->session->dictionary);
  EXPECT_EQ(AsConn(conn)->session->typeCount, 26);

  SQLHDBC refused = NewConnection();
  const std::string wrong = "DataDirectory=" + dictionary + ";UID=ADMIN;PWD=wrong";
  EXPECT_EQ(DriverConnect(refused, nullptr, Text(wrong), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_COMPLETE),
            SQL_ERROR);
  const auto d = DiagOf(SQL_HANDLE_DBC, refused);
  EXPECT_EQ(d.state, "HY000");
  EXPECT_EQ(d.native, static_cast<SQLINTEGER>(KIV_ERR_LOGIN));
  EXPECT_NE(d.message.find("not valid for the data dictionary"), std::string::npos) << d.message;
  std::filesystem::remove(dictionary);
}

// ---- The prompt, through a stand-in of the setup library

class Prompting : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    library_ = dlopen(KIVODBC_FAKE_PROMPT_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    state_ = reinterpret_cast<FakePromptStateProc>(dlsym(library_, "FakePromptStateOf"))();
    *state_ = FakePromptState{};
    UsePromptLibraryForTesting(KIVODBC_FAKE_PROMPT_PATH);
  }
  void TearDown() override {
    UsePromptLibraryForTesting("");
    if (library_ != nullptr) dlclose(library_);
    DriverTest::TearDown();
  }
  SQLRETURN PromptConnect(SQLHDBC conn, const std::string& text, SQLUSMALLINT completion) {
    return DriverConnect(conn, window_, Text(text), SQL_NTS, nullptr, 0, nullptr, completion);
  }
  void* library_ = nullptr;
  FakePromptState* state_ = nullptr;
  int windowObject_ = 0;
  SQLHWND window_ = &windowObject_;
};

TEST_F(Prompting, PromptFillsWhatIsMissing) {
  std::strcpy(state_->directory, DataDirectory().c_str());
  std::strcpy(state_->user, "prompted");
  std::strcpy(state_->defaultType, "Clipper");
  SQLHDBC conn = NewConnection();
  ASSERT_EQ(PromptConnect(conn, "UID=given", SQL_DRIVER_COMPLETE), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_DBC, conn).message;
  EXPECT_EQ(state_->calls, 1);
  EXPECT_STREQ(state_->seenDsn, "");
  EXPECT_STREQ(state_->seenUser, "given");
  EXPECT_STREQ(AsConn(conn)->session->userName, "prompted");
  EXPECT_EQ(AsConn(conn)->session->tableType, 1);
}

TEST_F(Prompting, WhenThePromptComes) {
  std::strcpy(state_->directory, DataDirectory().c_str());
  const std::string withDirectory = "DataDirectory=" + DataDirectory();
  struct Case {
    std::string text;
    SQLUSMALLINT completion;
    int calls;
  } cases[] = {
      {withDirectory, SQL_DRIVER_COMPLETE, 0},
      {withDirectory, SQL_DRIVER_PROMPT, 1},
      {"DSN=KivData", SQL_DRIVER_PROMPT, 1},
      {"UID=x", SQL_DRIVER_COMPLETE_REQUIRED, 1},
  };
  for (const Case& c : cases) {
    state_->calls = 0;
    SQLHDBC conn = NewConnection();
    EXPECT_EQ(PromptConnect(conn, c.text, c.completion), SQL_SUCCESS) << c.text;
    EXPECT_EQ(state_->calls, c.calls) << c.text << " " << c.completion;
  }
  // No data directory and no prompting: no prompt, 08001.
  state_->calls = 0;
  SQLHDBC conn = NewConnection();
  EXPECT_EQ(PromptConnect(conn, "UID=x", SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "08001");
  EXPECT_EQ(state_->calls, 0);
}

TEST_F(Prompting, CancelGivesNoDataWithoutADiagnostic) {
  state_->confirm = false;
  SQLHDBC conn = NewConnection();
  EXPECT_EQ(PromptConnect(conn, "UID=x", SQL_DRIVER_COMPLETE), SQL_NO_DATA);
  EXPECT_EQ(AsConn(conn)->code, 0);
  EXPECT_STREQ(AsConn(conn)->dataSource, "");
}

TEST_F(Prompting, RefusedLoginPromptsAgainWhenCompleting) {
  const std::string dictionary = DataDirectory() + "/login.kdd";
  ASSERT_EQ(KivDDCreate(dictionary.c_str(), "user ADMIN right\n"), 0u);
  std::strcpy(state_->directory, dictionary.c_str());
  std::strcpy(state_->user, "ADMIN");
  std::strcpy(state_->password, "right");
  SQLHDBC conn = NewConnection();
  EXPECT_EQ(PromptConnect(conn, "DataDirectory=" + dictionary + ";UID=ADMIN;PWD=wrong", SQL_DRIVER_COMPLETE),
            SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_DBC, conn).message;
  EXPECT_EQ(state_->calls, 1);
  // Without completing, the refusal is the answer.
  SQLHDBC plain = NewConnection();
  EXPECT_EQ(PromptConnect(plain, "DataDirectory=" + dictionary + ";UID=ADMIN;PWD=wrong", SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, plain).native, static_cast<SQLINTEGER>(KIV_ERR_LOGIN));
  std::filesystem::remove(dictionary);
}

TEST_F(Prompting, UnusableSetupLibraryIsReported) {
  struct Case {
    std::string library, message;
  } cases[] = {
      {"/nonexistent/libkivset.so", "Unable to load the Morvane ODBC Setup DLL (kivset.dll)."},
      {KIVODBC_ENGINE_PATH,
       "Unable to retrieve the configuration function handle from the Morvane ODBC Setup DLL (kivset.dll)."},
  };
  for (const Case& c : cases) {
    UsePromptLibraryForTesting(c.library);
    boxes_.clear();
    SQLHDBC conn = NewConnection();
    EXPECT_EQ(PromptConnect(conn, "UID=x", SQL_DRIVER_PROMPT), SQL_NO_DATA);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, c.message);
    EXPECT_EQ(boxes_[0].caption, "Morvane ODBC Driver");
  }
}

}  // namespace
}  // namespace kivodbc
