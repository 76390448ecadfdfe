#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "api.h"
#include "diagnostics.h"
#include "engine.h"
#include "kivwin/win.h"
#include "messages.h"
#include "records.h"

namespace kivodbc {
namespace {

struct Box {
  std::string text, caption;
  unsigned flags;
};

// Collects message boxes instead of showing them.
class EngineBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = kivwin::SetMessageBoxSink([this](const std::string& text, const std::string& caption, unsigned flags) {
      boxes_.push_back({text, caption, flags});
      return kivwin::IDOK;
    });
  }
  void TearDown() override {
    kivwin::SetMessageBoxSink(previous_);
    EngineBinding::Instance().UseLibraryForTesting(KIVODBC_ENGINE_PATH);
  }
  std::vector<Box> boxes_;
  kivwin::MessageBoxSink previous_;
};

TEST_F(EngineBindingTest, ResolvesRolesThroughTheNameTable) {
  EngineBinding& engine = EngineBinding::Instance();
  engine.UseLibraryForTesting(KIVODBC_ENGINE_PATH);
  void* library = dlopen(KIVODBC_ENGINE_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(engine.Resolve(kOrdinalGetLastError), dlsym(library, "KivGetLastError"));
  EXPECT_EQ(engine.Resolve(16), dlsym(library, "KivCloseTable"));
  EXPECT_EQ(engine.Resolve(19), engine.Resolve(16));
  EXPECT_EQ(engine.ResolveByName("KivGetLibraryVersion"), dlsym(library, "KivGetLibraryVersion"));
  dlclose(library);
  EXPECT_TRUE(boxes_.empty());
  // A role the engine table does not know is a missing function.
  EXPECT_EQ(engine.Resolve(1), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Failed to load library libqel32.so.");
}

TEST_F(EngineBindingTest, ConcurrentFirstCallsBindOnce) {
  EngineBinding& engine = EngineBinding::Instance();
  engine.UseLibraryForTesting(KIVODBC_ENGINE_PATH);
  std::vector<void*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&, i] { seen[i] = engine.Resolve(kOrdinalConnect60); });
  for (auto& t : threads) t.join();
  for (void* f : seen) EXPECT_EQ(f, seen[0]);
  EXPECT_NE(seen[0], nullptr);
}

TEST_F(EngineBindingTest, MissingLibraryShowsTheMessageAndFailsTheCall) {
  EngineBinding::Instance().UseLibraryForTesting("/nonexistent/folder/libqel32.so");
  EXPECT_EQ(EngineBinding::Instance().Resolve(kOrdinalGetLastError), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Failed to load library libqel32.so.");
  EXPECT_EQ(boxes_[0].caption, "Error Loading DLL");
  EXPECT_EQ(boxes_[0].flags & kivwin::MB_ICONMASK, kivwin::MB_ICONERROR);

  SQLHENV env = nullptr;
  SQLHDBC conn = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DBC, env, &conn), SQL_SUCCESS);
  EXPECT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("Anything"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  SQLCHAR state[6] = {};
  SQLCHAR message[200] = {};
  EXPECT_EQ(GetDiagRec(SQL_HANDLE_DBC, conn, 1, state, nullptr, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "08001");
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Kestrane][Morvane ODBC Driver]Unable to connect");
  // The version check says it could not look, then the connect cannot bind.
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[1].text, "Unable to perform internal version check on library libqel32.so");
  EXPECT_EQ(boxes_[1].caption, "Morvane ODBC");
  EXPECT_EQ(boxes_[2].text, "Failed to load library libqel32.so.");

  // An engine code posted meanwhile still reads as a message.
  PostConnError(AsConn(conn), 5006);
  EXPECT_EQ(GetDiagRec(SQL_HANDLE_DBC, conn, 1, state, nullptr, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Kestrane][Morvane SQL][DAX] Failed to load library libqel32.so.");
  EXPECT_EQ(FreeEnv(env), SQL_SUCCESS);
}

}  // namespace
}  // namespace kivodbc
