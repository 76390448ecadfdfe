// A connected statement over a data directory holding the test tables: a
// table of the product's own type with five records, an empty one, and a
// DBF table; spool files go to a private temporary folder.
#ifndef KIVODBC_TABLE_FIXTURE_H
#define KIVODBC_TABLE_FIXTURE_H

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "data/enginetable.h"

namespace kivodbc::testing {

constexpr const char* kItemFields =
    "NAME,CHAR,20;AMOUNT,NUMERIC,10,2;BORN,DATE;NOTE,MEMO;QTY,INTEGER;T,TIMESTAMP;FLAG,LOGICAL;"
    "RATE,DOUBLE;AT,TIME;PIC,BINARY";
constexpr const char* kDbfFields = "NAME,CHAR,20;AMOUNT,NUMERIC,10,2;BORN,DATE;NOTE,MEMO;FLAG,LOGICAL";

class TableTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    namespace fs = std::filesystem;
    fs::remove_all(DataDirectory());
    fs::create_directories(DataDirectory());
    spool_ = config_.Root() / "spool";
    fs::remove_all(spool_);
    fs::create_directories(spool_);
    const char* previous = std::getenv("TMPDIR");
    previousTmp_ = previous != nullptr ? previous : "";
    hadTmp_ = previous != nullptr;
    ::setenv("TMPDIR", spool_.c_str(), 1);

    KIVHANDLE engine = 0;
    ASSERT_EQ(KivConnect(DataDirectory().c_str(), &engine), 0u);
    KIVHANDLE table = 0;
    ASSERT_EQ(KivCreateTable(engine, "items", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             kItemFields, &table),
              0u);
    for (const char* name : {"one", "two", "three", "four", "five"}) {
      ASSERT_EQ(KivAppendRecord(table), 0u);
      ASSERT_EQ(KivSetString(table, "NAME", name, static_cast<uint32_t>(std::strlen(name))), 0u);
      ASSERT_EQ(KivWriteRecord(table), 0u);
    }
    ASSERT_EQ(KivCloseTable(table), 0u);
    ASSERT_EQ(KivCreateTable(engine, "empty", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             "NAME,CHAR,10", &table),
              0u);
    ASSERT_EQ(KivCloseTable(table), 0u);
    ASSERT_EQ(KivCreateTable(engine, "dbfitems", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             kDbfFields, &table),
              0u);
    ASSERT_EQ(KivCloseTable(table), 0u);
    ASSERT_EQ(KivDisconnect(engine), 0u);
    conn_ = ConnectedBy("DSN=KivData");
    stmt_ = NewStatement(conn_);
  }
  void TearDown() override {
    if (hadTmp_) ::setenv("TMPDIR", previousTmp_.c_str(), 1);
    else ::unsetenv("TMPDIR");
    DriverTest::TearDown();
    std::filesystem::remove_all(DataDirectory());
    std::filesystem::create_directories(DataDirectory());
    std::filesystem::remove_all(spool_);
  }

  StmtRecord* Stmt() const { return AsStmt(stmt_); }
  EngineSession* Session() const { return AsConn(conn_)->session; }

  // Opens a table of the data directory as the cursor layer sees it.
  EngineTable* Open(const char* name, uint16_t tableType = KIV_TABLE_KDT) {
    const int16_t saved = Session()->tableType;
    Session()->tableType = static_cast<int16_t>(tableType);
    EngineTable* table = nullptr;
    EXPECT_EQ(OpenEngineTable(Session(), "", name, 0, false, nullptr, &table), 0u) << name;
    if (table != nullptr) table->trim = true;
    Session()->tableType = saved;
    return table;
  }

  // The "LEM" spool files in the private temporary folder.
  std::vector<std::string> SpoolFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(spool_)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("LEM", 0) == 0) names.push_back(name);
    }
    return names;
  }

  // The names of the engine functions called while `body` runs.
  template <typename Body>
  std::string EngineCalls(Body body) {
    KivTestClearCallLog();
    KivTestRecordCalls(1);
    body();
    KivTestRecordCalls(0);
    std::string log(KivTestGetCallLog(nullptr, 0) + 1, '\0');
    KivTestGetCallLog(log.data(), static_cast<uint32_t>(log.size()));
    log.resize(log.find('\0'));
    return log;
  }
  static size_t Count(const std::string& log, const std::string& name) {
    size_t n = 0;
    for (size_t at = log.find(name + "\n"); at != std::string::npos; at = log.find(name + "\n", at + 1))
      if (at == 0 || log[at - 1] == '\n') ++n;
    return n;
  }

  SQLHDBC conn_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
  std::filesystem::path spool_;
  std::string previousTmp_;
  bool hadTmp_ = false;
};

}  // namespace kivodbc::testing

#endif
