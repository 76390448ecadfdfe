#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "api.h"
#include "api/diagnostics.h"
#include "util/engine.h"
#include "kivwin/win.h"
#include "handles/messages.h"
#include "handles/records.h"

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
  // A role the engine table does not know is a missing function: said to
  // the caller, never shown.
  EXPECT_EQ(engine.Resolve(1), nullptr);
  EXPECT_EQ(engine.LastFailure(), "Failed to load library libqel32.so.");
  EXPECT_TRUE(boxes_.empty());
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

TEST_F(EngineBindingTest, MissingLibraryFailsTheCallWithTheLoadersReason) {
  EngineBinding::Instance().UseLibraryForTesting("/nonexistent/folder/libqel32.so");
  EXPECT_EQ(EngineBinding::Instance().Resolve(kOrdinalGetLastError), nullptr);
  const std::string failure = EngineBinding::Instance().LastFailure();
  EXPECT_EQ(failure.rfind("Failed to load library libqel32.so. /nonexistent/folder/libqel32.so: ", 0), 0u) << failure;

  SQLHENV env = nullptr;
  SQLHDBC conn = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DBC, env, &conn), SQL_SUCCESS);
  EXPECT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("Anything"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  SQLCHAR state[6] = {};
  SQLCHAR message[200] = {};
  EXPECT_EQ(GetDiagRec(SQL_HANDLE_DBC, conn, 1, state, nullptr, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "08001");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(message)),
            "[Kestrane][Morvane ODBC Driver]Unable to connect: " + failure);
  EXPECT_TRUE(boxes_.empty());  // nothing shown on the host's side

  // An engine code posted meanwhile still reads as a message.
  PostConnError(AsConn(conn), 5006);
  EXPECT_EQ(GetDiagRec(SQL_HANDLE_DBC, conn, 1, state, nullptr, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Kestrane][Morvane SQL][DAX] Failed to load library libqel32.so.");
  EXPECT_EQ(FreeEnv(env), SQL_SUCCESS);
}

}  // namespace
}  // namespace kivodbc
