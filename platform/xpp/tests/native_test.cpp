// Native calls for real: unixODBC through "ODBC32.DLL", the engine through
// "QEL32.DLL", and the desktop window through "USER32.DLL".
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <dlfcn.h>

#include <cstdlib>

#include "qel32.h"
#include "test_support.h"
#include "xpp/xpp.h"

using namespace xpp;

namespace {

TEST(Native, OdbcDriverManagerListsTheDataSourcesOfAPrivateSystemIni) {
    xpptest::TempDir dir;
    xpptest::WriteFile(dir.File("odbcinst.ini"), "[XppTestDriver]\nDriver=/nonexistent/libdriver.so\n");
    xpptest::WriteFile(dir.File("odbc.ini"),
                       "[xpp_orders]\nDriver=XppTestDriver\n\n[xpp_customers]\nDriver=XppTestDriver\n");
    xpptest::WriteFile(dir.File("user.ini"), "");
    setenv("ODBCSYSINI", dir.Path().c_str(), 1);
    setenv("ODBCINI", dir.File("user.ini").c_str(), 1);

    int64_t h = DllLoad("odbc32.dll");  // the name map ignores case
    ASSERT_NE(h, 0);
    int64_t alloc = DllPrepareCall(h, DLL_SYSTEM, "SQLAllocHandle");
    int64_t setAttr = DllPrepareCall(h, DLL_SYSTEM, "SQLSetEnvAttr");
    int64_t sources = DllPrepareCall(h, DLL_SYSTEM, "SQLDataSources");
    int64_t freeHandle = DllPrepareCall(h, DLL_SYSTEM, "SQLFreeHandle");
    ASSERT_NE(alloc, 0);
    ASSERT_NE(setAttr, 0);
    ASSERT_NE(sources, 0);
    ASSERT_NE(freeHandle, 0);
    EXPECT_EQ(DllPrepareCall(h, DLL_SYSTEM, "SQLNoSuchFunction"), 0);

    // untyped road: the output handle through an 8-byte by-reference cell
    Ref env(Value(0));
    EXPECT_EQ(DllExecuteCall(alloc, {SQL_HANDLE_ENV, 0, env}).Int() & 0xFFFF, SQL_SUCCESS);
    ASSERT_NE(env.Get().Int(), 0);
    auto envHandle = reinterpret_cast<SQLHENV>(static_cast<intptr_t>(env.Get().Int()));

    // typed road, with the widths of sql.h
    auto setEnvAttr = reinterpret_cast<SQLRETURN (*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER)>(
        DllCallAddress(setAttr));
    EXPECT_EQ(setEnvAttr(envHandle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_SUCCESS);
    auto dataSources = reinterpret_cast<SQLRETURN (*)(SQLHENV, SQLUSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*,
                                                      SQLCHAR*, SQLSMALLINT, SQLSMALLINT*)>(DllCallAddress(sources));
    std::vector<std::string> names;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLCHAR name[256], description[256];
        SQLSMALLINT nameLen = 0, descLen = 0;
        SQLRETURN rc = dataSources(envHandle, direction, name, sizeof name, &nameLen, description,
                                   sizeof description, &descLen);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
        names.emplace_back(reinterpret_cast<char*>(name), static_cast<size_t>(nameLen));
        direction = SQL_FETCH_NEXT;
    }
    EXPECT_EQ(DllExecuteCall(freeHandle, {SQL_HANDLE_ENV, env.Get()}).Int() & 0xFFFF, SQL_SUCCESS);
    EXPECT_TRUE(DllUnload(h));
    EXPECT_EQ(DllCallAddress(alloc), nullptr);  // gone with the library
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"xpp_customers", "xpp_orders"}));
}

TEST(Native, EngineThroughDllExecuteCallFillsATextBufferByReference) {
    xpptest::TempDir dir;
    int64_t h = DllLoad("QEL32.DLL");
    ASSERT_NE(h, 0) << MappedLibrary("QEL32.DLL");
    auto call = [&](const char* name) {
        int64_t c = DllPrepareCall(h, DLL_CDECL, name);
        EXPECT_NE(c, 0) << name;
        return c;
    };
    auto ok = [](const Value& rc) { return static_cast<uint32_t>(rc.Int()) == KIV_OK; };

    Ref conn(Value(0));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivConnect"), {dir.Path(), conn})));
    EXPECT_NE(conn.Get().Int(), 0);
    Ref table(Value(0));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivCreateTable"),
                                  {conn.Get(), "people.dbf", Value(), KIV_TABLE_NTX, KIV_CHAR_ANSI,
                                   KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0, "NAME,C,20;AGE,N,3", table})));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivAppendRecord"), {table.Get()})));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivSetField"), {table.Get(), 1, "Harbour Supplies", 16})));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivWriteRecord"), {table.Get()})));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivGotoTop"), {table.Get()})));

    // a buffer pre-filled with SPACE(n) and its length, both by reference
    Ref buffer(Value(Space(40)));
    Ref length(Value(40));
    ASSERT_TRUE(ok(DllExecuteCall(call("KivGetField"), {table.Get(), 1, buffer, length, 1})));
    EXPECT_EQ(Left(buffer.Get().Str(), length.Get().Int()), "Harbour Supplies");
    EXPECT_EQ(buffer.Get().Str().size(), 40u);

    EXPECT_TRUE(ok(DllExecuteCall(call("KivCloseTable"), {table.Get()})));
    EXPECT_TRUE(ok(DllExecuteCall(call("KivDisconnect"), {conn.Get()})));
    EXPECT_TRUE(DllUnload(h));
}

TEST(Native, MissingLibrariesAndFunctions) {
    EXPECT_EQ(DllLoad("NOSUCH.DLL"), 0);
    EXPECT_EQ(DllPrepareCall(12345, DLL_CDECL, "f"), 0);
    EXPECT_FALSE(DllUnload(12345));
    EXPECT_TRUE(DllCall("NOSUCH.DLL", DLL_STDCALL, "f").IsNil());
    EXPECT_TRUE(DllCall("USER32.DLL", DLL_STDCALL, "NoSuchFunction").IsNil());
    // an argument without a native form is refused before the call
    int64_t h = DllLoad("USER32.DLL");
    int64_t c = DllPrepareCall(h, DLL_STDCALL, "GetDesktopWindow");
    Block old = ErrorBlock(Block([](Args& a) -> Value { return a.Get(1).As<Error>()->genCode; }));
    EXPECT_EQ(DllExecuteCall(c, {Array()}).Int(), EG_ARG);
    ErrorBlock(old);
    DllUnload(h);
}

TEST(Native, DesktopWindowIsOneAddressForTheProcess) {
    Value first = DllCall("USER32.DLL", DLL_STDCALL, "GetDesktopWindow");
    Value second = DllCall("user32.dll", DLL_STDCALL, "GetDesktopWindow");
    ASSERT_TRUE(first.IsNum());
    EXPECT_NE(first.Int(), 0);
    EXPECT_EQ(first.Int(), second.Int());
    EXPECT_EQ(first.Int(), static_cast<int64_t>(reinterpret_cast<intptr_t>(GetDesktopWindow())));
    // by handle too
    int64_t h = DllLoad("USER32.DLL");
    EXPECT_EQ(DllCall(Value(h), DLL_STDCALL, "GetDesktopWindow").Int(), first.Int());
    DllUnload(h);
}

TEST(Native, MapLibraryAddsNames) {
    MapLibrary("Engine.Dll", MappedLibrary("QEL32.DLL"));
    int64_t h = DllLoad("ENGINE.DLL");
    ASSERT_NE(h, 0);
    EXPECT_NE(DllPrepareCall(h, DLL_CDECL, "KivConnect"), 0);
    // a second load of the same library keeps the first one's calls alive
    int64_t again = DllLoad("QEL32.DLL");
    int64_t c = DllPrepareCall(h, DLL_CDECL, "KivDisconnect");
    EXPECT_TRUE(DllUnload(again));
    EXPECT_NE(DllCallAddress(c), nullptr);
    EXPECT_TRUE(DllUnload(h));
    EXPECT_EQ(MappedLibrary("other.dll"), "other.dll");
}

}  // namespace

TEST(Native, GetModuleHandleFindsOnlyLoadedLibrariesAndNeverLoadsOne) {
    const std::string module = XPP_TEST_PROBE;  // loaded by this test only
    auto held = [&] {
        void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h) dlclose(h);
        return h != nullptr;
    };
    ASSERT_FALSE(held());
    // through the native function, as a program asks it
    EXPECT_EQ(DllCall("KERNEL32.DLL", DLL_STDCALL, "GetModuleHandleA", {module}).Int(), 0);
    EXPECT_EQ(ModuleHandle(module), 0);
    EXPECT_FALSE(held());  // asking did not load it

    int64_t h = DllLoad(module);
    ASSERT_NE(h, 0);
    int64_t found = DllCall("KERNEL32.DLL", DLL_STDCALL, "GetModuleHandleA", {module}).Int();
    EXPECT_EQ(found, h);
    EXPECT_TRUE(DllUnload(h));

    // the handle works in DllCall (the library stays mapped after DllUnload)
    EXPECT_EQ(DllCall(found, DLL_CDECL, "xpp_probe_answer").Int(), 42);
    // a library the program links is held too; "" is the program itself
    EXPECT_NE(ModuleHandle("libxpp.so"), 0);
    int64_t self = ModuleHandle("");
    ASSERT_NE(self, 0);
    EXPECT_NE(DllPrepareCall(self, DLL_CDECL, "GetDesktopWindow"), 0);
    EXPECT_EQ(DllCall("USER32.DLL", DLL_STDCALL, "GetDesktopWindow").Int(),
              static_cast<int64_t>(reinterpret_cast<intptr_t>(GetDesktopWindow())));
}
