// The connection component against the real engine: connect paths and
// aliases, the connect arguments, the login, the events of connecting and
// disconnecting, and the statement cache.
#include <stdexcept>

#include "checker/kivcnnct.h"
#include "checker/kivtable.h"
#include "kivds/db.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

// A connection that keeps what it hands to the engine's connect.
class RecordingConnection : public TKivConnection {
 public:
  using TKivConnection::TKivConnection;
  std::vector<TKivConnectArguments> connects;

 protected:
  KIVRESULT EngineConnect(const TKivConnectArguments& args, KIVHANDLE* handle) override {
    connects.push_back(args);
    return TKivConnection::EngineConnect(args, handle);
  }
};

// Installs a login hook for one test and removes it again.
class LoginHook {
 public:
  explicit LoginHook(TLoginDialogProc hook) : saved_(LoginDialogExProc()) { LoginDialogExProc() = std::move(hook); }
  ~LoginHook() { LoginDialogExProc() = saved_; }

 private:
  TLoginDialogProc saved_;
};

class ConnectionTest : public EngineFixture {
 protected:
  // A dictionary "app.kdd" over a table PEOPLE, user KIVSYS with password "secret".
  std::string MakeDictionary() {
    MakePeople("people", KIV_TABLE_KDT, {"Ada", "Bea"});
    const std::string kdd = dir.path() + "/app.kdd";
    EXPECT_EQ(KIV_OK, KivDDCreate(kdd.c_str(), "user KIVSYS secret\ntable PEOPLE people.kdt\n"))
        << EngineErrorText();
    return kdd;
  }
};

// -- connect path and alias --------------------------------------------------

TEST(ConnectPath, DirectoryAndDictionaryFlagFollowThePath) {
  struct Case {
    const char* path;
    const char* directory;
    bool dictionary;
  };
  const Case cases[] = {
      {"c:\\data\\app.kdd", "c:\\data", true},
      {"c:\\data\\APP.KDD", "c:\\data", true},
      {"app.kdd", ".\\", true},
      {"//srv/share/app.kdd", "//srv/share", true},
      {"/srv/data/app.kdd", "/srv/data", true},
      {"c:\\data", "c:\\data", false},
      {"c:\\x.kdd\\data", "c:\\x.kdd\\data", true},  // "contains", not "ends with"
      {".kdd", ".kdd", true},                        // too short to hold a file name
  };
  TKivConnection cn(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    cn.SetConnectPath(c.path);
    EXPECT_EQ(cn.GetConnectDirectory(), c.directory);
    EXPECT_EQ(cn.IsDictionaryConnection(), c.dictionary);
  }
}

TEST_F(ConnectionTest, AliasesFromKivIniGiveThePathAndTableType) {
  WriteTextFile(dir.path() + "/kiv.ini",
                "[Other]\nNTX=/nowhere\n"
                "[Databases]\n"
                "NTX=" + dir.path() + ";N\n"
                "CDX=" + dir.path() + ";c\n"
                "KDT=" + dir.path() + ";K\n"
                "ODD=" + dir.path() + ";x\n"
                "PLAIN=" + dir.path() + "\n"
                "DICT=" + dir.path() + "/app.kdd;K\n"
                "NOPATH=;N\n");
  InFolder here(dir.path());
  struct Case {
    const char* alias;
    bool found;
    int type;
    bool dictionary;
  };
  const Case cases[] = {
      {"NTX", true, 2, false},  {"ntx", true, 2, false},   {"CDX", true, 1, false},
      {"KDT", true, 3, false},  {"ODD", true, 0, false},   {"PLAIN", true, 0, false},
      {"DICT", true, 3, true},  {"NOPATH", false, 0, false}, {"MISSING", false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alias);
    RecordingConnection cn(nullptr);
    cn.SetConnectPath("/somewhere/else");
    cn.SetAliasName(c.alias);
    EXPECT_EQ(cn.AliasName(), c.alias);
    EXPECT_EQ(cn.GetAliasTableType(), c.type);
    if (!c.found) {
      EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.Connect(); }), "TKivConnection.AliasName is not valid");
      EXPECT_FALSE(cn.IsConnected());
      EXPECT_TRUE(cn.connects.empty());
      continue;
    }
    EXPECT_EQ(cn.ConnectPath(), "");  // a found alias replaces the path
    EXPECT_EQ(cn.IsDictionaryConnection(), c.dictionary);
    if (c.dictionary) continue;
    cn.Connect();
    ASSERT_EQ(cn.connects.size(), 1u);
    EXPECT_EQ(cn.connects[0].path, dir.path());
    cn.Disconnect();
  }
}

TEST_F(ConnectionTest, AnAliasThatAppearsLaterIsFoundAtTheNextConnect) {
  InFolder here(dir.path());
  TKivConnection cn(nullptr);
  cn.SetAliasName("LATE");
  WriteTextFile(dir.path() + "/kiv.ini", "[Databases]\nLATE=" + dir.path() + "\n");
  cn.Connect();
  EXPECT_TRUE(cn.IsConnected());
}

TEST_F(ConnectionTest, AFoundAliasSetsTheTableTypeOfTheOwnersDatasetsThatUseIt) {
  WriteTextFile(dir.path() + "/kiv.ini", "[Databases]\nA=" + dir.path() + ";N\n");
  InFolder here(dir.path());
  TComponent form(nullptr);
  auto* cn = new TKivConnection(&form);
  cn->SetName("cn");
  auto* linked = new TKivTable(&form);
  linked->SetKivConnection(cn);
  auto* namedOther = new TKivTable(&form);
  namedOther->SetKivConnection(cn);
  namedOther->SetDatabaseName("/elsewhere");
  auto* unlinked = new TKivTable(&form);
  cn->SetAliasName("A");
  EXPECT_EQ(linked->SourceTableType(), ttKivNTX);
  EXPECT_EQ(namedOther->SourceTableType(), ttKivKDT);
  EXPECT_EQ(unlinked->SourceTableType(), ttKivKDT);
}

// -- connect arguments -------------------------------------------------------

TEST_F(ConnectionTest, ServerTypesAndOptionsReachTheEngineAsBits) {
  struct Case {
    TKivServerTypes types;
    uint16_t engineTypes;
    const char* connectionType;
  };
  const Case types[] = {
      {{}, 0, "Local"},  // the engine's default
      {{stKIV_REMOTE}, 2, "Remote"},
      {{stKIV_LOCAL}, 1, "Local"},
      {{stKIV_KIS}, 4, "Internet"},
      {{stKIV_REMOTE, stKIV_LOCAL}, 3, "Local"},
      {{stKIV_REMOTE, stKIV_LOCAL, stKIV_KIS}, 7, "Local"},
  };
  for (const Case& c : types) {
    SCOPED_TRACE(c.engineTypes);
    RecordingConnection cn(nullptr);
    cn.SetConnectPath(dir.path());
    cn.SetKivServerTypes(c.types);
    cn.Connect();
    ASSERT_EQ(cn.connects.size(), 1u);
    EXPECT_EQ(cn.connects[0].serverTypes, c.engineTypes);
    EXPECT_EQ(cn.GetConnectionType(), c.connectionType);
  }

  struct OptionCase {
    bool middleTier, storedProcedures;
    TKivCompressionTypes compression;
    TKivCommunicationType communication;
    uint32_t options;
  };
  const OptionCase options[] = {
      {false, false, ccKivCompressionNotSet, ctKivDefault, 0},
      {true, false, ccKivCompressionNotSet, ctKivDefault, 1},
      {false, true, ccKivCompressionNotSet, ctKivDefault, 2},
      {false, false, ccKivCompressInternet, ctKivDefault, 0xC},
      {false, false, ccKivCompressAlways, ctKivDefault, 4},
      {false, false, ccKivCompressNever, ctKivDefault, 8},
      {false, false, ccKivCompressionNotSet, ctKivUDPIP, 0x20},
      {false, false, ccKivCompressionNotSet, ctKivIPX, 0x40},
      {false, false, ccKivCompressionNotSet, ctKivTCPIP, 0x80},
      {true, true, ccKivCompressNever, ctKivTCPIP, 0x8B},
  };
  for (const OptionCase& c : options) {
    SCOPED_TRACE(c.options);
    RecordingConnection cn(nullptr);
    cn.SetConnectPath(dir.path());
    cn.SetMiddleTierConnection(c.middleTier);
    cn.SetStoredProcedureConnection(c.storedProcedures);
    cn.SetCompression(c.compression);
    cn.SetCommunicationType(c.communication);
    cn.Connect();
    ASSERT_EQ(cn.connects.size(), 1u);
    EXPECT_EQ(cn.connects[0].options, c.options);
  }
}

TEST_F(ConnectionTest, CredentialsGoOnlyToDictionaries) {
  const std::string kdd = MakeDictionary();
  for (const std::string& path : {dir.path(), kdd}) {
    SCOPED_TRACE(path);
    RecordingConnection cn(nullptr);
    cn.SetConnectPath(path);
    cn.SetLoginPrompt(false);
    cn.SetUsername("KIVSYS");
    cn.SetPassword("secret");
    cn.Connect();
    ASSERT_EQ(cn.connects.size(), 1u);
    const bool dictionary = path == kdd;
    EXPECT_EQ(cn.connects[0].username, dictionary ? "KIVSYS" : "");
    EXPECT_EQ(cn.connects[0].password, dictionary ? "secret" : "");
    uint16_t handleType = 0;
    KIV_EXPECT_OK(KivGetHandleType(cn.ConnectionHandle(), &handleType));
    EXPECT_EQ(handleType, dictionary ? KIV_HT_DD_CONNECTION : KIV_HT_CONNECTION);
  }
}

TEST_F(ConnectionTest, OverLongPathsAndCredentialsAreRefusedNotCut) {
  const std::string kdd = MakeDictionary();
  RecordingConnection cn(nullptr);
  cn.SetLoginPrompt(false);
  cn.SetConnectPath(std::string(255, 'd'));
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.Connect(); }),
            "The connect path is longer than 254 characters.");
  cn.SetConnectPath(kdd);
  cn.SetUsername(std::string(261, 'u'));
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.Connect(); }), "The user name is longer than 260 characters.");
  cn.SetUsername("KIVSYS");
  cn.SetPassword(std::string(261, 'p'));
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.Connect(); }), "The password is longer than 260 characters.");
  EXPECT_TRUE(cn.connects.empty());
  EXPECT_FALSE(cn.IsConnected());

  // The longest accepted ones reach the engine whole.
  cn.SetConnectPath(dir.path() + "/" + std::string(254 - dir.path().size() - 1, 'd'));
  EXPECT_THROW(cn.Connect(), EKIVDatabaseError);  // no such folder
  ASSERT_EQ(cn.connects.size(), 1u);
  EXPECT_EQ(cn.connects[0].path.size(), 254u);
}

// -- login -------------------------------------------------------------------

TEST_F(ConnectionTest, LoginOnADictionaryGoesThroughOnLoginOrTheHook) {
  const std::string kdd = MakeDictionary();
  {
    SCOPED_TRACE("OnLogin starts from empty texts");
    TKivConnection cn(nullptr);
    cn.SetName("cn");
    cn.SetConnectPath(kdd);
    cn.SetUsername("someone");
    cn.SetPassword("else");
    std::string seenUser = "?", seenPassword = "?";
    cn.OnLogin = [&](TKivConnection*, std::string& user, std::string& password) {
      seenUser = user;
      seenPassword = password;
      user = "KIVSYS";
      password = "secret";
    };
    cn.Connect();
    EXPECT_EQ(seenUser, "");
    EXPECT_EQ(seenPassword, "");
    EXPECT_EQ(cn.Username(), "KIVSYS");
    EXPECT_EQ(cn.Password(), "secret");
  }
  {
    SCOPED_TRACE("the hook gets the name, the user and an empty password");
    std::vector<std::string> asked;
    LoginHook hook([&](const std::string& name, std::string& user, std::string& password, bool readOnly) {
      asked = {name, user, password, readOnly ? "ro" : "rw"};
      password = "secret";
      return true;
    });
    TKivConnection cn(nullptr);
    cn.SetName("cn");
    cn.SetConnectPath(kdd);
    cn.SetUsername("KIVSYS");
    cn.SetPassword("stale");
    cn.Connect();
    EXPECT_EQ(asked, (std::vector<std::string>{"cn", "KIVSYS", "", "rw"}));
    EXPECT_EQ(cn.Password(), "secret");
  }
  {
    SCOPED_TRACE("a cancelled login");
    LoginHook hook([](const std::string&, std::string&, std::string&, bool) { return false; });
    RecordingConnection cn(nullptr);
    cn.SetName("cn");
    cn.SetConnectPath(kdd);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn.Connect(); }), "Cannot connect to database 'cn'");
    EXPECT_FALSE(cn.IsConnected());
    EXPECT_TRUE(cn.connects.empty());
  }
  {
    SCOPED_TRACE("no hook: the properties");
    LoginHook hook(nullptr);
    TKivConnection cn(nullptr);
    cn.SetConnectPath(kdd);
    cn.SetUsername("KIVSYS");
    cn.SetPassword("wrong");
    try {
      cn.Connect();
      ADD_FAILURE() << "connected with a wrong password";
    } catch (const EKIVDatabaseError& e) {
      EXPECT_EQ(e.EngineErrorCode, KIV_ERR_LOGIN);
    }
    EXPECT_FALSE(cn.IsConnected());
  }
  {
    SCOPED_TRACE("a folder never prompts");
    LoginHook hook([](const std::string&, std::string&, std::string&, bool) -> bool {
      ADD_FAILURE() << "prompted for a folder";
      return false;
    });
    TKivConnection cn(nullptr);
    cn.SetConnectPath(dir.path());
    cn.Connect();
    EXPECT_TRUE(cn.IsConnected());
  }
}

// -- events of connecting and disconnecting ---------------------------------

class EventOrder : public ConnectionTest {
 protected:
  void Watch(TKivConnection& cn) {
    auto note = [this](const char* what) { return [this, what](TComponent*) { events.push_back(what); }; };
    cn.BeforeConnect = note("BeforeConnect");
    cn.AfterConnect = note("AfterConnect");
    cn.OnConnect = note("OnConnect");
    cn.BeforeDisconnect = note("BeforeDisconnect");
    cn.AfterDisconnect = note("AfterDisconnect");
    cn.OnDisconnect = note("OnDisconnect");
  }
  std::vector<std::string> events;
};

TEST_F(EventOrder, ConnectAndDisconnectFireTheirEventsAroundTheWork) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  TKivConnection cn(nullptr);
  cn.SetConnectPath(dir.path());
  Watch(cn);
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.AfterClose = [&](TDataSet*) { events.push_back("table closed"); };
  cn.BeforeConnect = [&](TComponent*) { events.push_back(cn.IsConnected() ? "connected early" : "BeforeConnect"); };
  cn.AfterConnect = [&](TComponent*) { events.push_back(cn.IsConnected() ? "AfterConnect" : "not connected yet"); };

  cn.Connect();
  cn.Connect();  // already connected: nothing happens
  tb.Open();
  cn.Disconnect();
  cn.Disconnect();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "OnConnect", "BeforeDisconnect",
                                              "table closed", "AfterDisconnect", "OnDisconnect"}));
  EXPECT_FALSE(tb.Active());
  EXPECT_EQ(cn.ConnectionHandle(), 0u);
}

TEST_F(EventOrder, AFailingDisconnectStillEndsTheConnectionAndThenRaises) {
  TKivConnection cn(nullptr);
  cn.SetConnectPath(dir.path());
  cn.Connect();
  const KIVHANDLE handle = cn.ConnectionHandle();
  Watch(cn);
  cn.AfterDisconnect = [&](TComponent*) {
    events.push_back(cn.IsConnected() ? "still connected" : "AfterDisconnect");
  };
  KivTestFailCall("KivDisconnect", KIV_ERR_IO, "the server went away", 1);
  try {
    cn.Disconnect();
    ADD_FAILURE() << "nothing raised";
  } catch (const KivError& e) {
    EXPECT_EQ(e.Message(), "the server went away");
    EXPECT_EQ(e.Code(), KIV_ERR_IO);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeDisconnect", "AfterDisconnect", "OnDisconnect"}));
  EXPECT_FALSE(cn.IsConnected());
  EXPECT_EQ(cn.ConnectionHandle(), 0u);
  KIV_EXPECT_OK(KivDisconnect(handle));  // the injected failure left it open
}

TEST_F(EventOrder, AFailedConnectLeavesTheComponentDisconnected) {
  TKivConnection cn(nullptr);
  Watch(cn);
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.Connect(); }),
            "Must specify connection string before getting a server connection.");
  cn.SetConnectPath(dir.path() + "/missing");
  try {
    cn.Connect();
    ADD_FAILURE() << "connected to a missing folder";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_FILE_NOT_FOUND);
  }
  EXPECT_FALSE(cn.IsConnected());
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "BeforeConnect"}));
}

TEST_F(ConnectionTest, PropertiesOfTheConnectionAreRefusedWhileConnected) {
  TKivConnection cn(nullptr);
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.ServerName(); }), "Must be connected to get Morvane server name.");
  EXPECT_EQ(cn.GetConnectionType(), "");
  cn.SetConnectPath(dir.path());
  cn.Connect();
  EXPECT_EQ(cn.ServerName(), "LOCAL");
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.SetConnectPath("/x"); }),
            "The TKivConnection.ConnectPath may not be changed when IsConnected is TRUE");
  EXPECT_EQ(MessageOf<KivConnectionError>([&] { cn.SetAliasName("x"); }),
            "The TKivConnection.AliasName may not be changed when IsConnected is TRUE");
  EXPECT_EQ(cn.ConnectPath(), dir.path());
}

TEST_F(ConnectionTest, AConnectionMarkedConnectedWhileLoadingConnectsOnceLoaded) {
  TComponent form(nullptr);
  auto* cn = new TKivConnection(&form);
  form.BeginLoading();
  cn->SetIsConnected(true);
  cn->SetConnectPath(dir.path());  // properties may come in any order
  EXPECT_FALSE(cn->IsConnected());
  form.EndLoading();
  EXPECT_TRUE(cn->IsConnected());
}

TEST_F(ConnectionTest, DestroyingAConnectedComponentNeverThrowsAndUnlinksItsDatasets) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  TKivTable tb(nullptr);
  KIVHANDLE handle = 0;
  {
    TKivConnection cn(nullptr);
    cn.SetConnectPath(dir.path());
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.Open();
    handle = cn.ConnectionHandle();
    KIV_ASSERT_OK(KivCreateSQLStatement(handle, &cn.FindCachedStatement("select 1").handle));
    cn.AfterDisconnect = [](TComponent*) { throw std::runtime_error("handler fails"); };
    KivTestFailCall("KivCloseSQLStatement", KIV_ERR_IO, "close fails", 0);
  }
  KivTestClearFaults();
  EXPECT_FALSE(tb.Active());
  EXPECT_EQ(tb.KivConnection(), nullptr);
  uint16_t alive = 1;
  KIV_EXPECT_OK(KivIsConnectionAlive(handle, &alive));
  EXPECT_EQ(alive, 0);
}

TEST_F(ConnectionTest, RenamingAConnectionCarriesTheNameIntoDatasets) {
  TComponent form(nullptr);
  form.SetName("frm");
  auto* cn = new TKivConnection(&form);
  cn->SetName("cn");
  TKivTable byName(nullptr), byFullName(nullptr), other(nullptr);
  byName.SetDatabaseName("cn");
  byFullName.SetDatabaseName("frm.cn");
  other.SetDatabaseName("/data");
  cn->SetName("db");
  EXPECT_EQ(byName.DatabaseName(), "db");
  EXPECT_EQ(byFullName.DatabaseName(), "frm.db");
  EXPECT_EQ(other.DatabaseName(), "/data");
}

// -- statement cache ---------------------------------------------------------

TEST(StatementCache, HashesSampleTheTextAsDocumented) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"", 0u},
      {"a", 0u},  // the first character is not hashed
      {"ab", 3626u},
      {"select 1", 2578399362u},
      {"0123456789ABCDEF", 2380453207u},
      {"SELECT * FROM people WHERE x=1", 502180264u},
  };
  for (auto [text, hash] : cases) EXPECT_EQ(TKivConnection::StatementHash(text), hash) << text;
}

class StatementCacheTest : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    cn.SetConnectPath(dir.path());
    cn.Connect();
  }
  // Gives the cache entry of `text` a real engine statement.
  KIVHANDLE MadeStatement(TStmtInfo& entry) {
    EXPECT_EQ(KIV_OK, KivCreateSQLStatement(cn.ConnectionHandle(), &entry.handle)) << EngineErrorText();
    return entry.handle;
  }
  static bool Closed(KIVHANDLE statement) {
    uint16_t type = 0;
    return KivGetHandleType(statement, &type) == KIV_ERR_INVALID_HANDLE;
  }
  TKivConnection cn{nullptr};
};

TEST_F(StatementCacheTest, TextsMatchExactlyAndOnlyMadeStatementsAreClosed) {
  TStmtInfo& lower = cn.FindCachedStatement("select * from people");
  TStmtInfo& upper = cn.FindCachedStatement("SELECT * FROM PEOPLE");
  EXPECT_NE(&lower, &upper);  // another text runs another statement
  EXPECT_EQ(&cn.FindCachedStatement("select * from people"), &lower);
  const KIVHANDLE statement = MadeStatement(lower);
  cn.FindCachedStatement("never prepared");
  EXPECT_EQ(cn.CachedStatementCount(), 3);

  CallRecorder calls;
  cn.CloseCachedStatements();
  EXPECT_EQ(CountOf(calls.Take(), "KivCloseSQLStatement"), 1);
  EXPECT_EQ(cn.CachedStatementCount(), 0);
  EXPECT_TRUE(Closed(statement));
}

TEST_F(StatementCacheTest, AFailedEntryIsDroppedWithItsStatement) {
  TStmtInfo& entry = cn.FindCachedStatement("select bad");
  const KIVHANDLE statement = MadeStatement(entry);
  cn.RemoveCachedStatement(entry);
  EXPECT_EQ(cn.CachedStatementCount(), 0);
  EXPECT_TRUE(Closed(statement));
}

TEST_F(StatementCacheTest, AFailingCloseStillEmptiesTheCacheSoDisconnectCanFinish) {
  const KIVHANDLE one = MadeStatement(cn.FindCachedStatement("one"));
  const KIVHANDLE two = MadeStatement(cn.FindCachedStatement("two"));
  KivTestFailCall("KivCloseSQLStatement", KIV_ERR_IO, "close fails", 1);
  EXPECT_THROW(cn.Disconnect(), EKIVDatabaseError);
  EXPECT_FALSE(Closed(one));  // the injected failure left it open
  EXPECT_TRUE(Closed(two));   // the rest were closed
  EXPECT_EQ(cn.CachedStatementCount(), 0);
  EXPECT_TRUE(cn.IsConnected());
  cn.Disconnect();
  EXPECT_FALSE(cn.IsConnected());
  EXPECT_TRUE(Closed(one));  // the disconnect ended it
}

TEST(KivErrorTest, TakesTheEnginesLastErrorOrNamesTheCode) {
  KivSetLastError(5042, "in use elsewhere");
  EXPECT_EQ(KivError(5009).Message(), "in use elsewhere");
  EXPECT_EQ(KivError(5009).Code(), 5042u);
  KivClearLastError();
  const KivError bare(5009);
  EXPECT_EQ(bare.Code(), 5009u);
  EXPECT_NE(bare.Message().find("5009"), std::string::npos);
}

TEST(TrimBlanksTest, StripsBlanksAtBothEnds) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

}  // namespace
