// Helpers of the component tests: a temporary data folder with an engine
// connection, tables made through the engine, and a dataset that opens one
// engine table the way the table component will, with its
// protected steps reachable.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "checker/kivdata.h"
#include "qel32.h"
#include "qel32_test.h"

namespace checker::testing {

inline std::string EngineErrorText() {
  uint32_t code = 0;
  char buf[601] = {};
  uint32_t len = 600;
  KivGetLastError(&code, buf, &len);
  return std::to_string(code) + " " + buf;
}

#define KIV_ASSERT_OK(call) ASSERT_EQ(KIV_OK, (call)) << checker::testing::EngineErrorText()
#define KIV_EXPECT_OK(call) EXPECT_EQ(KIV_OK, (call)) << checker::testing::EngineErrorText()

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivchecker-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Makes a folder the current one while it lives ("kiv.ini" is looked for
// there).
class InFolder {
 public:
  explicit InFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InFolder() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
  }

 private:
  std::filesystem::path previous_;
};

// The message of the exception of type E that `f` raises, or
// "(nothing raised)".
template <class E = kivds::Exception, class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

// The engine calls recorded since the last clear, one name per entry.
inline std::vector<std::string> CallLog() {
  const uint32_t n = KivTestGetCallLog(nullptr, 0);
  std::string text(n + 1, '\0');
  KivTestGetCallLog(text.data(), n + 1);
  text.resize(n);
  std::vector<std::string> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) names.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

inline int CountOf(const std::vector<std::string>& log, const std::string& name) {
  int n = 0;
  for (const std::string& s : log) n += s == name;
  return n;
}

// Records the engine calls while it lives.
class CallRecorder {
 public:
  CallRecorder() {
    KivTestClearCallLog();
    KivTestRecordCalls(1);
  }
  ~CallRecorder() {
    KivTestRecordCalls(0);
    KivTestClearCallLog();
  }
  std::vector<std::string> Take() {
    std::vector<std::string> log = CallLog();
    KivTestClearCallLog();
    return log;
  }
};

// Points a connection at a dictionary, to log in as `user` without the
// login prompt.
inline void SetDictionaryLogin(TKivConnection& connection, const std::string& kdd,
                               const std::string& user = "KIVSYS") {
  connection.SetConnectPath(kdd);
  connection.SetLoginPrompt(false);
  connection.SetUsername(user);
}

// AGE of the stored record of NAME `name` in `table`, read through a handle
// of its own on `connection` (-1 when there is no such record).
inline int StoredAgeOf(KIVHANDLE connection, const char* table, const std::string& name) {
  KIVHANDLE t = 0;
  EXPECT_EQ(KIV_OK, KivOpenTable(connection, table, nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                                 KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t))
      << EngineErrorText();
  int age = -1;
  uint16_t eof = 0;
  for (KivGotoTop(t); KivAtEOF(t, &eof) == KIV_OK && eof == 0; KivSkip(t, 1)) {
    char buf[11] = {};
    uint32_t len = 10;
    KivGetField(t, "NAME", buf, &len, 1);
    int32_t value = 0;
    if (std::string(buf) == name && KivGetLong(t, "AGE", &value) == KIV_OK) age = value;
  }
  KivCloseTable(t);
  return age;
}

// A dataset over one engine table of a connection, opened like the table
// component opens it.
class TestTable : public TKivDataSet {
 public:
  TestTable(kivds::TComponent* owner, KIVHANDLE connection, std::string table)
      : TKivDataSet(owner), connection_(connection), table_(std::move(table)) {}

  uint32_t openOptions = 0;  // KivOpenTable options
  int cursorOpens = 0;       // calls of OpenEngineCursor

  int GetLastAutoIncValue() override { return LastAutoIncOf(BaseHandle()); }

  // The protected steps, for the tests.
  void OpenCursorAgain() { InternalOpen(); }
  kivds::TGetResult FetchInto(kivds::TRecordBuffer buffer, kivds::TGetMode mode) {
    return GetRecord(buffer, mode, true);
  }
  using TKivDataSet::BlobCacheOf;
  using TKivDataSet::GetFieldClass;
  using TKivDataSet::ReadFieldValue;
  using TKivDataSet::WriteFieldValue;
  kivds::TRecordBuffer NewBuffer() { return AllocRecordBuffer(); }
  void DisposeBuffer(kivds::TRecordBuffer& buffer) { FreeRecordBuffer(buffer); }
  kivds::TRecordBuffer Calc() { return CalcBuffer(); }

 protected:
  KIVHANDLE OpenEngineCursor() override {
    ++cursorOpens;
    const uint16_t charType = KivTableOptions().KivCharType() == TKivCharTypes::OEM ? KIV_CHAR_OEM : KIV_CHAR_ANSI;
    const uint16_t lockType = KivTableOptions().KivLockType() == TKivLockTypes::Proprietary ? 1 : 0;
    const uint16_t rights = KivTableOptions().KivRightsCheck() ? 1 : 2;
    KIVHANDLE handle = 0;
    CheckQELResult(this, KivOpenTable(connection_, table_.c_str(), nullptr, EngineOpenType(), charType, lockType,
                                      rights, openOptions, &handle));
    uint16_t type = 0;
    const KIVRESULT rc = KivGetTableType(handle, &type);
    if (rc != KIV_OK) KivCloseTable(handle);
    CheckQELResult(this, rc);
    SetEngineTableType(type);
    return handle;
  }

 private:
  KIVHANDLE connection_;
  std::string table_;
};

// A temporary folder with a connection, and tables made in it.
class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    KivShowDeleted(0);
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
  }
  void TearDown() override {
    KivTestClearFaults();
    KivTestRecordCalls(0);
    KivDisconnect(conn);
  }

  // Creates a table, lets `fill` write records through its handle, closes it.
  template <class Fill>
  void MakeTable(const char* name, uint16_t type, const char* defs, Fill fill) {
    KIVHANDLE t = 0;
    KIV_ASSERT_OK(KivCreateTable(conn, name, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, 0, defs, &t));
    fill(t);
    KIV_ASSERT_OK(KivCloseTable(t));
  }
  void MakeTable(const char* name, uint16_t type, const char* defs) {
    MakeTable(name, type, defs, [](KIVHANDLE) {});
  }

  // A table of people: NAME C(10), AGE N(3,0); the names given, ages 10, 20, ...
  void MakePeople(const char* name, uint16_t type, const std::vector<std::string>& names) {
    MakeTable(name, type, "NAME,C,10;AGE,N,3", [&](KIVHANDLE t) {
      int age = 10;
      for (const std::string& n : names) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(KivSetString(t, "NAME", n.c_str(), static_cast<uint32_t>(n.size())));
        KIV_ASSERT_OK(KivSetLong(t, "AGE", age));
        KIV_ASSERT_OK(KivWriteRecord(t));
        age += 10;
      }
    });
  }

  TempDir dir;
  KIVHANDLE conn = 0;
  kivds::TComponent owner{nullptr};
};

}  // namespace checker::testing
