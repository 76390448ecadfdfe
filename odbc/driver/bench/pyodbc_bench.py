#!/usr/bin/python3
"""pyodbc_bench: reads 200,000 rows of five columns (integer, char(20),
numeric(12,2), date, integer) the way most Python applications do, with
pyodbc's fetchall, once through this driver over an engine table and once
through the SQLite ODBC driver over the same rows in a SQLite database: a
plain select of the table and the same select with a WHERE that the engine's
SQL runs. Prints the rates and both ratios, first with text read the way the
README shows (single-byte text decoded as cp1252 by Python's codec), then with
text read as wide characters, which this driver converts from Windows-1252
itself and pyodbc decodes without calling a codec.

    pyodbc_bench.py DRIVER_LIBRARY [ROWS]

Run it through build/bin/pyodbc_bench, which names the built driver. Both
drivers are registered in a private configuration in a temporary folder; the
rows read through the two drivers must agree.
"""
import datetime
import decimal
import os
import shutil
import sqlite3
import sys
import tempfile
import time

SQLITE_DRIVERS = ["/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so",
                  "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so",
                  "/usr/lib/odbc/libsqlite3odbc.so"]
COLUMNS = "ID, NAME, AMOUNT, DAY, FLAG"
QUERIES = [("plain select", "SELECT %s FROM bench" % COLUMNS),
           ("select with WHERE", "SELECT %s FROM bench WHERE FLAG >= 0 AND ID > 0" % COLUMNS)]
REPEATS = 3


def row_of(i):
    day = datetime.date(2000, 1, 1) + datetime.timedelta(days=i % 9000)
    return (i, "name %07d" % (i * 7919 % 1000003), decimal.Decimal(i % 100000) / 100, day, i % 7)


def usage(status):
    print("usage: pyodbc_bench [ROWS]   (pyodbc_bench.py DRIVER_LIBRARY [ROWS]; ROWS default 200000)")
    print(__doc__.strip().split("\n\n")[0])
    sys.exit(status)


def main():
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        usage(0)
    if len(sys.argv) < 2 or len(sys.argv) > 3 or (len(sys.argv) == 3 and not sys.argv[2].isdigit()):
        usage(2)
    driver = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) == 3 else 200000
    sqlite_driver = next((p for p in SQLITE_DRIVERS if os.path.exists(p)), None)
    if sqlite_driver is None:
        sys.exit("the SQLite ODBC driver (Debian package libsqliteodbc) is not installed")
    folder = tempfile.mkdtemp(prefix="pyodbc_bench.")
    try:
        with open(os.path.join(folder, "odbcinst.ini"), "w") as f:
            f.write("[KivBench]\nDriver=%s\n\n[SqliteBench]\nDriver=%s\n" % (driver, sqlite_driver))
        open(os.path.join(folder, "odbc.ini"), "w").close()
        os.environ["ODBCSYSINI"] = folder
        os.environ["ODBCINI"] = os.path.join(folder, "odbc.ini")
        import pyodbc
        pyodbc.pooling = False

        print("writing %d rows to both stores..." % rows)
        data = [row_of(i) for i in range(1, rows + 1)]
        db = sqlite3.connect(os.path.join(folder, "bench.db"))
        db.execute("CREATE TABLE bench (ID INTEGER, NAME CHAR(20), AMOUNT NUMERIC(12,2), DAY DATE, FLAG INTEGER)")
        db.executemany("INSERT INTO bench VALUES (?, ?, ?, ?, ?)",
                       [(r[0], r[1], str(r[2]), r[3].isoformat(), r[4]) for r in data])
        db.commit()
        db.close()
        ours = pyodbc.connect("DRIVER={KivBench};DataDirectory=" + folder, autocommit=True)
        # This driver takes single-byte text.
        ours.setencoding(encoding="cp1252")
        ours.setdecoding(pyodbc.SQL_CHAR, encoding="cp1252")
        ours.setdecoding(pyodbc.SQL_WCHAR, encoding="cp1252")
        cursor = ours.cursor()
        cursor.execute("CREATE TABLE bench (ID INTEGER, NAME CHAR(20), AMOUNT NUMERIC(12,2), DAY DATE, FLAG INTEGER)")
        cursor.executemany("INSERT INTO bench (ID, NAME, AMOUNT, DAY, FLAG) VALUES (?, ?, ?, ?, ?)", data)
        cursor.close()
        theirs = pyodbc.connect("DRIVER={SqliteBench};Database=" + os.path.join(folder, "bench.db"),
                                autocommit=True)
        wide = pyodbc.connect("DRIVER={KivBench};DataDirectory=" + folder, autocommit=True)
        wide.setencoding(encoding="cp1252")
        wide.setdecoding(pyodbc.SQL_CHAR, encoding="utf-16le", ctype=pyodbc.SQL_WCHAR)
        wide.setdecoding(pyodbc.SQL_WCHAR, encoding="utf-16le", ctype=pyodbc.SQL_WCHAR)

        def read(connection, text):
            best = None
            result = None
            for _ in range(REPEATS):
                start = time.perf_counter()
                cursor = connection.cursor()
                cursor.execute(text)
                result = cursor.fetchall()
                cursor.close()
                took = time.perf_counter() - start
                best = took if best is None else min(best, took)
            return len(result) / best, result

        def normal(rows_read):
            return sorted((int(r[0]), str(r[1]).rstrip(), decimal.Decimal(str(r[2])).quantize(decimal.Decimal("0.01")),
                           r[3] if isinstance(r[3], datetime.date) else datetime.date.fromisoformat(r[3]), int(r[4]))
                          for r in rows_read)

        ratios = []
        for connection, how in ((ours, ""), (wide, ", wide text")):
            for label, text in QUERIES:
                our_rate, our_rows = read(connection, text)
                their_rate, their_rows = read(theirs, text)
                if len(our_rows) != rows or normal(our_rows) != normal(their_rows):
                    sys.exit("%s%s: the two drivers read different rows" % (label, how))
                ratios.append((label + how, our_rate, their_rate))
        ours.close()
        wide.close()
        theirs.close()
        for label, our_rate, their_rate in ratios:
            print("%-29s this driver %9.0f rows/s, SQLite ODBC driver %9.0f rows/s, ratio %.2f (goal: at least 1)"
                  % (label + ":", our_rate, their_rate, our_rate / their_rate))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
