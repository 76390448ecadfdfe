// The engine's SQL as a Python program sees it through unixODBC and the
// driver: refused values leave no row, computed numbers and dates keep
// their type, the scalar functions answer, syntax errors name the fault,
// and a table made on a dictionary connection is in the catalog.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
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

bool HavePyodbc() {
  return fs::exists("/usr/bin/python3") && RunProgram("/usr/bin/python3 -c 'import pyodbc'").first == 0;
}

// A private configuration with the driver, for a pyodbc program that gets
// the driver's name and the free folder, and prints "ok" at its end.
class PyodbcProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HavePyodbc()) GTEST_SKIP() << "python3-pyodbc is not installed";
    config_ = std::make_unique<kivodbc::testing::OdbcConfig>(
        "[" + std::string(kDriver) + "]\nDriver=" KIVODBC_DRIVER_PATH "\n", "");
  }
  void ExpectPasses(const std::string& name, const std::string& program) {
    const fs::path script = config_->Root() / (name + ".py");
    std::ofstream(script) << program;
    const auto [status, output] = RunProgram("/usr/bin/python3 " + script.string() + " '" + kDriver + "' " +
                                             config_->DataDirectory().string());
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("ok\n"), std::string::npos) << output;
  }
  std::unique_ptr<kivodbc::testing::OdbcConfig> config_;
};

TEST(EngineSqlThroughPyodbc, FreeFolderAndDictionary) {
  if (!HavePyodbc()) GTEST_SKIP() << "python3-pyodbc is not installed";
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

// CHAR values read with their trailing blanks, and compare without them:
// a key read back finds its row, in a scan and through the production
// index, in free tables of every type.
TEST_F(PyodbcProgram, CharKeysMatchWithOrWithoutTrailingBlanks) {
  KIVHANDLE conn = 0;
  ASSERT_EQ(KivConnect(config_->DataDirectory().c_str(), &conn), KIV_OK);
  const struct {
    const char* name;
    uint16_t type;
    const char* fields;
  } tables[] = {{"ck_ntx", KIV_TABLE_NTX, "CODE,C,6;QTY,N,6;NAME,C,8"},
                {"ck_cdx", KIV_TABLE_CDX, "CODE,C,6;QTY,N,6;NAME,C,8"},
                {"ck_kdt", KIV_TABLE_KDT, "CODE,CHAR,6;QTY,INTEGER;NAME,CICHARACTER,8"}};
  for (const auto& t : tables) {
    KIVHANDLE table = 0, index = 0;
    ASSERT_EQ(KivCreateTable(conn, t.name, nullptr, t.type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0,
                             t.fields, &table),
              KIV_OK);
    if (t.type != KIV_TABLE_NTX) {  // the production index, which the SQL seeks in
      ASSERT_EQ(KivCreateIndex(table, nullptr, "CODE", "CODE", nullptr, nullptr, 0, &index), KIV_OK);
    }
    ASSERT_EQ(KivCloseTable(table), KIV_OK);
  }
  ASSERT_EQ(KivDisconnect(conn), KIV_OK);
  ExpectPasses("char_keys", R"py(
import sys, pyodbc
driver, folder = sys.argv[1:3]
c = pyodbc.connect('DRIVER={%s};DataDirectory=%s' % (driver, folder), autocommit=True)
c.setencoding(encoding='cp1252')
c.setdecoding(pyodbc.SQL_CHAR, encoding='cp1252')
cur = c.cursor()
for table in ('ck_ntx', 'ck_cdx', 'ck_kdt'):
    cur.execute("INSERT INTO %s VALUES ('A1', 1, 'Émile')" % table)
    cur.execute("INSERT INTO %s VALUES ('A10', 2, 'zoë')" % table)
    code = cur.execute('SELECT code FROM %s WHERE qty = 1' % table).fetchone()[0]
    assert code == 'A1    ', (table, code)
    for key, qty in (('A1', 5), ('A1    ', 6), (code, 7), ('A1 ', 8)):
        n = cur.execute('SELECT COUNT(*) FROM %s WHERE code = ?' % table, key).fetchone()[0]
        assert n == 1, (table, key, n)
        assert cur.execute('UPDATE %s SET qty = ? WHERE code = ?' % table, qty, key).rowcount == 1, (table, key)
        assert [r[0] for r in cur.execute('SELECT qty FROM %s WHERE code = ?' % table, key)] == [qty], (table, key)
    assert cur.execute("SELECT COUNT(*) FROM %s WHERE code = 'A1  '" % table).fetchone()[0] == 1, table
    assert cur.execute("SELECT COUNT(*) FROM %s WHERE 'A1  ' = code" % table).fetchone()[0] == 1, table
    assert cur.execute("SELECT COUNT(*) FROM %s WHERE code = ' A1'" % table).fetchone()[0] == 0, table
    assert cur.execute("SELECT COUNT(*) FROM %s WHERE code = 'A10 '" % table).fetchone()[0] == 1, table
    assert cur.execute("SELECT qty FROM %s WHERE name = ?" % table, 'Émile  ').fetchone()[0] == 8, table
    assert [r[0] for r in cur.execute('SELECT code FROM %s ORDER BY code' % table)] == ['A1    ', 'A10   '], table
# A case-insensitive CHAR ignores case and trailing blanks both.
assert cur.execute("SELECT COUNT(*) FROM ck_kdt WHERE name = 'ZOë   '").fetchone()[0] == 1
assert cur.execute("SELECT COUNT(*) FROM ck_kdt WHERE name = 'ZO'").fetchone()[0] == 0
print('ok')
)py");
}

// An empty timestamp is no valid one: it reads as null, in the driver's own
// table reads and in the engine's SQL, in DBF and in the engine's tables.
TEST_F(PyodbcProgram, EmptyTimestampsReadAsNull) {
  ExpectPasses("null_stamps", R"py(
import datetime, sys, pyodbc
driver, folder = sys.argv[1:3]
for kind in ('FoxPro', 'Clipper', 'KDT'):
    c = pyodbc.connect('DRIVER={%s};DataDirectory=%s;DefaultType=%s' % (driver, folder, kind), autocommit=True)
    cur = c.cursor()
    table = 'tsn_' + kind
    cur.execute('CREATE TABLE %s (ID INTEGER, TS TIMESTAMP, N NUMERIC(6,2), C CHAR(4), L LOGICAL)' % table)
    cur.execute('INSERT INTO %s (ID) VALUES (1)' % table)
    cur.execute("INSERT INTO %s (ID, TS) VALUES (2, {ts '2026-03-04 05:06:07'})" % table)
    rows = [tuple(r) for r in cur.execute('SELECT * FROM %s' % table).fetchall()]
    stamp = datetime.datetime(2026, 3, 4, 5, 6, 7)
    if kind == 'KDT':
        assert rows == [(1, None, None, None, None), (2, stamp, None, None, None)], (kind, rows)
    else:  # numbers, text and logicals of DBF tables read as their zero
        assert [r[:2] for r in rows] == [(1, None), (2, stamp)], (kind, rows)
        assert rows[0][2:] == (0, '    ', False), (kind, rows)
    assert [tuple(r) for r in cur.execute('SELECT ID, TS FROM %s WHERE ID = 1' % table)] == [(1, None)], kind
    assert cur.execute('SELECT COUNT(*) FROM %s WHERE TS IS NULL' % table).fetchone()[0] == 1, kind
    assert cur.execute('SELECT ID FROM %s WHERE TS IS NOT NULL' % table).fetchone()[0] == 2, kind
    later = [r[0] for r in cur.execute('SELECT {fn TIMESTAMPADD(SQL_TSI_DAY, 1, TS)} FROM %s ORDER BY ID' % table)]
    assert later == [None, datetime.datetime(2026, 3, 5, 5, 6, 7)], (kind, later)
print('ok')
)py");
}

// SQL's COMMIT and ROLLBACK end the transaction the driver opened for a
// connection without autocommit; a change SQLite refuses reports its own
// message, not an earlier one.
TEST_F(PyodbcProgram, SqlCommitAndRollbackEndTheOpenTransaction) {
  ExpectPasses("sql_commit", R"py(
import sys, pyodbc
driver, folder = sys.argv[1:3]
where = 'DRIVER={%s};DataDirectory=%s;DefaultType=FoxPro' % (driver, folder)
plain = pyodbc.connect(where, autocommit=True)
plain.cursor().execute('CREATE TABLE tx (ID INTEGER, C CHAR(5))')
def ids():
    other = pyodbc.connect(where, autocommit=True)
    found = sorted(r[0] for r in other.cursor().execute('SELECT ID FROM tx'))
    other.close()
    return found
c = pyodbc.connect(where, autocommit=False)
cur = c.cursor()
for undo in ('ROLLBACK', 'rollback transaction', 'ROLLBACK;'):
    cur.execute("INSERT INTO tx VALUES (1, 'a')")
    cur.execute(undo)
    c.commit()
    assert ids() == [], (undo, ids())
for keep, id in (('COMMIT', 2), ('END', 3), ('commit transaction', 4)):
    cur.execute("INSERT INTO tx VALUES (?, 'b')", id)
    cur.execute(keep)
    c.rollback()
    assert ids()[-1] == id, (keep, ids())
# A change the engine refuses, then one SQLite refuses: each its own message.
pc = plain.cursor()
try:
    pc.execute("INSERT INTO tx VALUES (9, 'far too long')")
    raise SystemExit('accepted a long text')
except pyodbc.Error as e:
    first = str(e)
try:
    pc.execute('COMMIT')
    raise SystemExit('committed without a transaction')
except pyodbc.Error as e:
    assert 'no transaction is active' in str(e), (first, str(e))
assert ids() == [2, 3, 4], ids()
print('ok')
)py");
}

// A number stored into a NUMERIC column is rounded from its decimal text,
// half away from zero, whether it comes as a parameter, a literal or text;
// the engine's own tables take no more digits than the column's precision.
TEST_F(PyodbcProgram, NumericValuesRoundTheirDecimalText) {
  ExpectPasses("numeric_rounding", R"py(
import decimal, sys, pyodbc
driver, folder = sys.argv[1:3]
D = decimal.Decimal
for kind in ('FoxPro', 'KDT'):
    c = pyodbc.connect('DRIVER={%s};DataDirectory=%s;DefaultType=%s' % (driver, folder, kind), autocommit=True)
    c.setencoding(encoding='cp1252')
    cur = c.cursor()
    table = 'nm_' + kind
    cur.execute('CREATE TABLE %s (ID INTEGER, A NUMERIC(10,2))' % table)
    cases = [(D('1.005'), D('1.01')), (1.005, D('1.01')), ('1.005', D('1.01')), (D('2.675'), D('2.68')),
             (2.675, D('2.68')), (D('-1.005'), D('-1.01')), (D('0.004'), D('0.00')), (D('-0.004'), D('0.00')),
             (D('12345678.9'), D('12345678.90')), (1e-7, D('0.00')), (7, D('7.00')),
             # Rounded up past the precision: a DBF field takes what its width holds.
             (D('99999999.995'), D('100000000.00') if kind == 'FoxPro' else None)]
    for n, (given, stored) in enumerate(cases):
        try:
            cur.execute('INSERT INTO %s VALUES (?, ?)' % table, n, given)
            assert stored is not None, (kind, given, 'accepted')
        except pyodbc.Error:
            assert stored is None, (kind, given, stored)
        got = [r[0] for r in cur.execute('SELECT A FROM %s WHERE ID = ?' % table, n)]
        assert got == ([] if stored is None else [stored]), (kind, given, got)
    cur.execute('INSERT INTO %s VALUES (100, 1.005)' % table)
    cur.execute("INSERT INTO %s VALUES (101, '2.675')" % table)
    got = [r[0] for r in cur.execute('SELECT A FROM %s WHERE ID >= 100 ORDER BY ID' % table)]
    assert got == [D('1.01'), D('2.68')], (kind, got)
# A KDT NUMERIC(10,2) holds 8 digits before the point; nothing is stored beyond.
cur.execute('DELETE FROM nm_KDT')
try:
    cur.execute('INSERT INTO nm_KDT VALUES (1, 999999999.99)')
    raise SystemExit('accepted 11 digits into NUMERIC(10,2)')
except pyodbc.Error as e:
    assert '5071' in str(e), str(e)
cur.execute('INSERT INTO nm_KDT VALUES (2, -99999999.99)')
assert [tuple(r) for r in cur.execute('SELECT * FROM nm_KDT')] == [(2, D('-99999999.99'))]
print('ok')
)py");
}

// pyodbc reads every catalog and type-information row, of free tables and of
// a dictionary's, whatever the column types: the numbers of those results
// are signed.
TEST_F(PyodbcProgram, CatalogResultsReadWhole) {
  ASSERT_EQ(KivDDCreate((config_->Root() / "shop.kdd").c_str(), "user KIVSYS secret\n"), KIV_OK);
  ExpectPasses("catalogs", R"py(
import os, sys, pyodbc
driver, folder = sys.argv[1:3]
kdd = os.path.join(os.path.dirname(folder), 'shop.kdd')
for where in ('DataDirectory=%s;DefaultType=FoxPro' % folder, 'DataDirectory=%s;UID=KIVSYS;PWD=secret' % kdd):
    c = pyodbc.connect('DRIVER={%s};%s' % (driver, where), autocommit=True)
    cur = c.cursor()
    cur.execute('CREATE TABLE cat (ID INTEGER, F LOGICAL, M MEMO, V VARCHAR(30), B BLOB, D DATE, N NUMERIC(8,2))')
    columns = [(r[3].upper(), r[4]) for r in cur.columns(table='cat')]
    assert [name for name, _ in columns] == ['ID', 'F', 'M', 'V', 'B', 'D', 'N'], (where, columns)
    assert dict(columns)['F'] == -7 and dict(columns)['M'] == -1 and dict(columns)['B'] == -4, (where, columns)
    assert len(cur.statistics('cat').fetchall()) >= 1, where
    assert cur.primaryKeys('cat').fetchall() == [], where
    types = [(r[0], r[1]) for r in cur.getTypeInfo()]
    assert ('LOGICAL', -7) in types and ('MEMO', -1) in types and ('INTEGER', 4) in types, (where, types)
    assert len(cur.tables().fetchall()) >= 1, where
    cur.execute('DROP TABLE cat')
print('ok')
)py");
}

// A VARCHAR column is SQL_VARCHAR of its declared length wherever it is
// described: the driver's own select, the engine's SQL, the catalog and the
// type information.
TEST_F(PyodbcProgram, VarcharIsDescribedWithItsDeclaredLength) {
  ASSERT_EQ(KivDDCreate((config_->Root() / "shop.kdd").c_str(), "user KIVSYS secret\n"), KIV_OK);
  ExpectPasses("varchar", R"py(
import os, sys, pyodbc
driver, folder = sys.argv[1:3]
kdd = os.path.join(os.path.dirname(folder), 'shop.kdd')
for where in ('DataDirectory=%s;DefaultType=FoxPro' % folder, 'DataDirectory=%s;DefaultType=KDT' % folder,
              'DataDirectory=%s;UID=KIVSYS;PWD=secret' % kdd):
    c = pyodbc.connect('DRIVER={%s};%s' % (driver, where), autocommit=True)
    c.setencoding(encoding='cp1252')
    c.setdecoding(pyodbc.SQL_CHAR, encoding='cp1252')
    cur = c.cursor()
    cur.execute('CREATE TABLE vc (ID INTEGER, V VARCHAR(30), M MEMO)')
    cur.execute("INSERT INTO vc VALUES (1, 'caf\u00e9 cr\u00e8me', 'long')")
    cur.execute("INSERT INTO vc VALUES (2, '', '')")
    cur.execute('INSERT INTO vc (ID) VALUES (3)')
    for query in ('SELECT ID, V, M FROM vc', 'SELECT ID, V, M FROM vc WHERE ID > 0 ORDER BY ID DESC'):
        rows = cur.execute(query).fetchall()
        description = [(d[0].upper(), d[1], d[3]) for d in cur.description]
        assert description[1] == ('V', str, 30), (where, query, description)
        assert description[2][2] > 30000, (where, query, description)
        assert sorted(tuple(r)[:2] for r in rows)[0] == (1, 'caf\u00e9 cr\u00e8me'), (where, query, rows)
    columns = {r[3].upper(): (r[4], r[6], r[5]) for r in cur.columns(table='vc')}
    assert columns['V'] == (12, 30, 'VARCHAR'), (where, columns)
    assert columns['M'][0] == -1, (where, columns)
    assert cur.execute("SELECT ID FROM vc WHERE V = 'caf\u00e9 cr\u00e8me'").fetchall()[0][0] == 1, where
    types = [(r[0], r[1], r[2]) for r in cur.getTypeInfo()]
    assert [t for t in types if t[0] == 'VARCHAR'] == [('VARCHAR', 12, 64000)], (where, types)
    assert ('MEMO', -1, 2147483640) in types, (where, types)
    assert [r[0] for r in cur.getTypeInfo(pyodbc.SQL_VARCHAR)] == ['VARCHAR'], where
    assert [r[0] for r in cur.getTypeInfo(pyodbc.SQL_LONGVARCHAR)] == ['MEMO'], where
    cur.execute('DROP TABLE vc')
print('ok')
)py");
}

// ROUND rounds half away from zero, to tens and hundreds too; a SUM of a
// NUMERIC column is an exact decimal, MIN and MAX keep their column's type.
TEST_F(PyodbcProgram, RoundSumMinAndMaxKeepTheirColumnsMeaning) {
  ExpectPasses("aggregates", R"py(
import datetime, decimal, sys, pyodbc
driver, folder = sys.argv[1:3]
D = decimal.Decimal
c = pyodbc.connect('DRIVER={%s};DataDirectory=%s;DefaultType=FoxPro' % (driver, folder), autocommit=True)
cur = c.cursor()
cases = [('{fn ROUND(1234.5, -2)}', 1200), ('ROUND(1250, -2)', 1300), ('ROUND(-1250, -2)', -1300),
         ('{fn ROUND(1249, -2)}', 1200), ('ROUND(2.675, 2)', 2.68), ('ROUND(-2.5)', -3), ('ROUND(2.5, 0)', 3),
         ('ROUND(123, 1)', 123)]
for expression, expected in cases:
    got = cur.execute('SELECT ' + expression).fetchone()[0]
    assert got == expected, (expression, got)
cur.execute('CREATE TABLE nm (A NUMERIC(12,2), D DATE, N INTEGER)')
start = datetime.date(2026, 1, 1)
# one transaction: each autocommit statement would wait for its own sync
c.autocommit = False
cur.executemany('INSERT INTO nm VALUES (?, ?, ?)',
                [(D(i) / 100, start + datetime.timedelta(days=i % 40), i) for i in range(10000)])
c.commit()
c.autocommit = True
row = cur.execute('SELECT SUM(A), MIN(D), MAX(D), MIN(A), MAX(A), SUM(N) FROM nm').fetchone()
assert tuple(row) == (D('499950.00'), start, start + datetime.timedelta(days=39), D('0.00'), D('99.99'), 49995000), row
assert [d[1] for d in cur.description] == [D, datetime.date, datetime.date, D, D, int], cur.description
grouped = cur.execute('SELECT N - N % 5000 AS K, sum(A), max( D ) FROM nm GROUP BY N - N % 5000 ORDER BY 1').fetchall()
assert [tuple(r) for r in grouped] == [(0, D('124975.00'), start + datetime.timedelta(days=39)),
                                      (5000, D('374975.00'), start + datetime.timedelta(days=39))], grouped
print('ok')
)py");
}

// The driver alone in a folder finds the engine wherever the loader does
// (here through LD_LIBRARY_PATH); without it, the connect fails with what
// the loader said, and nothing reaches the program's output.
TEST_F(PyodbcProgram, DriverAloneFindsTheEngineThroughTheLoader) {
  const fs::path alone = config_->Root() / "alone";
  fs::create_directories(alone);
  fs::copy_file(KIVODBC_DRIVER_PATH, alone / "libKIVODBC.so");
  std::ofstream(alone / "odbcinst.ini") << "[Alone]\nDriver=" << (alone / "libKIVODBC.so").string() << "\n";
  std::ofstream(alone / "odbc.ini") << "";
  const fs::path script = config_->Root() / "alone.py";
  std::ofstream(script) << R"py(
import sys, pyodbc
folder, engine = sys.argv[1:3]
try:
    c = pyodbc.connect('DRIVER={Alone};DataDirectory=%s' % folder, autocommit=True)
    assert engine == 'found', 'connected without the engine'
    assert c.cursor().execute('SELECT 40 + 2').fetchone()[0] == 42
except pyodbc.Error as e:
    assert engine == 'missing', str(e)
    assert e.args[0] == '08001', e.args
    assert 'Unable to connect: Failed to load library libqel32.so. libqel32.so: cannot open shared object file' in str(e), str(e)
print('ok')
)py";
  const std::string engineFolder = fs::path(KIVODBC_DRIVER_PATH).parent_path().string();
  const std::string settings = "ODBCSYSINI=" + alone.string() + " ODBCINI=" + (alone / "odbc.ini").string();
  for (const auto& [environment, engine] : {std::pair{"LD_LIBRARY_PATH=" + engineFolder, "found"},
                                            std::pair{std::string("LD_LIBRARY_PATH="), "missing"}}) {
    const auto [status, output] = RunProgram(settings + " " + environment + " /usr/bin/python3 " + script.string() +
                                             " " + config_->DataDirectory().string() + " " + engine);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "ok\n") << engine;  // and nothing else on its streams
  }
}

// SQLCancel from another thread stops a running query: the execution fails
// with HY008 and the cursor runs the next statement; on an idle statement
// it does nothing.
TEST_F(PyodbcProgram, CancelStopsARunningQuery) {
  ExpectPasses("cancel", R"py(
import sys, threading, time, pyodbc
driver, folder = sys.argv[1:3]
c = pyodbc.connect('DRIVER={%s};DataDirectory=%s;DefaultType=FoxPro' % (driver, folder), autocommit=True)
cur = c.cursor()
cur.execute('CREATE TABLE big (ID INTEGER)')
cur.executemany('INSERT INTO big VALUES (?)', [(i,) for i in range(300)])
cur.cancel()  # idle: nothing to stop
assert cur.execute('SELECT COUNT(*) FROM big').fetchone()[0] == 300
for query in ('SELECT COUNT(*) FROM big a, big b, big c WHERE a.ID + b.ID + c.ID > 0',
              'SELECT a.ID FROM big a, big b, big c WHERE a.ID + b.ID + c.ID < 0'):
    canceler = threading.Timer(0.5, cur.cancel)
    canceler.start()
    try:
        cur.execute(query).fetchall()
        raise SystemExit('the query was not canceled: ' + query)
    except pyodbc.Error as e:
        assert e.args[0] == 'HY008', e.args
    canceler.join()
    assert cur.execute('SELECT COUNT(*) FROM big WHERE ID < 10').fetchone()[0] == 10
print('ok')
)py");
}

// A select's rows come as they are fetched: the first ones long before the
// rest of a slow join, whose later fetch SQLCancel stops (HY008) with the
// statement usable; a result left half fetched does not hold up a change on
// the connection, nor see it; the rows read equal the ones counted whole.
TEST_F(PyodbcProgram, SelectRowsComeAsTheyAreFetched) {
  ExpectPasses("streamed", R"py(
import sys, threading, pyodbc
driver, folder = sys.argv[1:3]
c = pyodbc.connect('DRIVER={%s};DataDirectory=%s;DefaultType=FoxPro' % (driver, folder), autocommit=True)
c.setencoding(encoding='cp1252')
c.setdecoding(pyodbc.SQL_CHAR, encoding='cp1252')
cur = c.cursor()
cur.execute('CREATE TABLE big (ID INTEGER, NAME CHAR(12), BIG NUMERIC(18,0))')
c.autocommit = False
for i in range(300):
    cur.execute("INSERT INTO big VALUES (%d, '%s', %d)" % (i, 'Zo\u00eb %d' % i if i % 3 else '', 123456789012345678 - i))
c.commit()
c.autocommit = True
# 300 rows of a = 0, b = 0 come first; then the rest of the join holds none.
slow = 'SELECT c.ID FROM big a, big b, big c WHERE (a.ID = 0 AND b.ID = 0) OR a.ID + b.ID + c.ID < 0'
cur.execute(slow)
first = cur.fetchmany(100)
assert [r[0] for r in first] == list(range(100)), first[:5]
canceler = threading.Timer(0.5, cur.cancel)
canceler.start()
try:
    cur.fetchall()
    raise SystemExit('the fetch was not canceled')
except pyodbc.Error as e:
    assert e.args[0] == 'HY008', e.args
canceler.join()
assert cur.execute('SELECT COUNT(*) FROM big WHERE ID < 10').fetchone()[0] == 10
# Half fetched while the same connection changes the rows it reads.
reader = c.cursor()
reader.execute('SELECT a.ID, a.NAME, a.BIG FROM big a JOIN big b ON b.ID = a.ID ORDER BY a.ID')
head = reader.fetchmany(5)
cur.execute("UPDATE big SET NAME = 'changed', BIG = 0")
rows = head + reader.fetchall()
assert len(rows) == 300, len(rows)
for i, r in enumerate(rows):
    assert (r[0], r[1].rstrip(), int(r[2])) == (i, 'Zo\u00eb %d' % i if i % 3 else '', 123456789012345678 - i), r
assert cur.execute('SELECT COUNT(*) FROM big WHERE NAME = ?', 'changed').fetchone()[0] == 300
print('ok')
)py");
}

}  // namespace
