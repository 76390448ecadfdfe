// The engine's SQL as a Python program sees it through unixODBC and the
// driver: refused values leave no row, computed numbers and dates keep
// their type, the scalar functions answer, syntax errors name the fault,
// and a table made on a dictionary connection is in the catalog.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "qel32.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const char* const kDriver = "Morvane Rivulet ODBC";

#ifndef KIVODBC_CHILD_ENVIRONMENT
#define KIVODBC_CHILD_ENVIRONMENT ""
#endif

// Runs a command; its output and errors together, and its status.
std::pair<int, std::string> RunProgram(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(("env " KIVODBC_CHILD_ENVIRONMENT " " + command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, output};
  std::array<char, 512> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) output += chunk.data();
  return {::pclose(pipe), output};
}

TEST(EngineSqlThroughPyodbc, FreeFolderAndDictionary) {
  if (!fs::exists("/usr/bin/python3") || RunProgram("/usr/bin/python3 -c 'import pyodbc'").first != 0)
    GTEST_SKIP() << "python3-pyodbc is not installed";
  kivodbc::testing::OdbcConfig config("[" + std::string(kDriver) + "]\nDriver=" KIVODBC_DRIVER_PATH "\n", "");
  const fs::path folder = config.DataDirectory();
  const std::string kdd = (config.Root() / "shop.kdd").string();
  ASSERT_EQ(KivDDCreate(kdd.c_str(), "user KIVSYS secret\n"), KIV_OK);
  const fs::path script = config.Root() / "engine_sql.py";
  std::ofstream(script) << R"py(
import datetime, decimal, sys, pyodbc
driver, folder, kdd = sys.argv[1:4]
c = pyodbc.connect('DRIVER={%s};DataDirectory=%s' % (driver, folder), autocommit=True)
cur = c.cursor()
cur.execute('CREATE TABLE t (id INTEGER, c CHAR(5), amt NUMERIC(10,2))')
for bad in ("INSERT INTO t VALUES (1, 'far too long', 1)", "INSERT INTO t VALUES (1, 'ok', 123456789012)"):
    try:
        cur.execute(bad)
        raise SystemExit('accepted: ' + bad)
    except pyodbc.Error:
        pass
    assert cur.execute('SELECT COUNT(*) FROM t').fetchone()[0] == 0, bad
cur.execute("INSERT INTO t VALUES (1, 'ok', 99999999.99)")
cur.execute("INSERT INTO t VALUES (2, 'ok', -99999999.99)")
assert [r[0] for r in cur.execute('SELECT amt FROM t ORDER BY id')] == [decimal.Decimal('99999999.99'),
                                                                       decimal.Decimal('-99999999.99')]
# A VARCHAR takes exactly its declared length.
cur.execute('CREATE TABLE v (s VARCHAR(50))')
cur.execute("INSERT INTO v VALUES ('abcdefghijklmnopqrstuvwxyz')")
try:
    cur.execute("INSERT INTO v VALUES ('%s')" % ('x' * 60))
    raise SystemExit('accepted 60 characters into VARCHAR(50)')
except pyodbc.Error:
    pass
assert [r[0] for r in cur.execute('SELECT s FROM v')] == ['abcdefghijklmnopqrstuvwxyz']
# An update that fails on its second row changes none.
try:
    cur.execute("UPDATE t SET c = CASE WHEN id = 2 THEN 'far too long' ELSE 'new' END")
    raise SystemExit('accepted the update')
except pyodbc.Error:
    pass
assert [r[0] for r in cur.execute('SELECT c FROM t ORDER BY id')] == ['ok   ', 'ok   ']
third = cur.execute('SELECT 1.0/3').fetchone()[0]
assert isinstance(third, float) and repr(third).startswith('0.333333333333333'), third
assert cur.description[0][1] is float, cur.description
assert cur.execute('SELECT {fn PI()}').fetchone()[0] == 3.141592653589793
assert cur.execute("SELECT CAST('2026-02-05' AS DATE)").fetchone()[0] == datetime.date(2026, 2, 5)
assert cur.execute("SELECT DATE '2026-02-05'").fetchone()[0] == datetime.date(2026, 2, 5)
row = cur.execute("SELECT {fn YEAR({d '2026-02-05'})}, {fn LEFT('abcdef', 2)}, {fn DAYOFWEEK({d '2026-02-05'})}").fetchone()
assert tuple(row) == (2026, 'ab', 5), row
try:
    cur.execute('SELEC * FROM t')
    raise SystemExit('accepted a syntax error')
except pyodbc.Error as e:
    assert 'near "SELEC": syntax error' in str(e), str(e)
try:
    cur.execute('SELECT * FROM t /* never closed')
    raise SystemExit('accepted an open comment')
except pyodbc.Error as e:
    assert 'Unterminated comment' in str(e), str(e)

d = pyodbc.connect('DRIVER={%s};DataDirectory=%s;UID=KIVSYS;PWD=secret' % (driver, kdd), autocommit=True)
dc = d.cursor()
dc.execute('CREATE TABLE stock (code CHAR(6), qty INTEGER)')
assert [r[2].upper() for r in dc.tables()] == ['STOCK'], [tuple(r) for r in dc.tables()]
assert [r[3].upper() for r in dc.columns(table='stock')] == ['CODE', 'QTY']
assert [r[0].upper() for r in dc.execute('SELECT name FROM system.tables')] == ['STOCK']
dc.execute('DROP TABLE stock')
assert list(dc.tables()) == []
print('engine sql ok')
)py";
  const auto [status, output] = RunProgram("/usr/bin/python3 " + script.string() + " '" + kDriver + "' " + folder.string() +
                                    " " + kdd);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("engine sql ok"), std::string::npos) << output;
}

}  // namespace
