#!/usr/bin/env bash
# The ROWXPP demo over a fresh sample and a SQLite data source, in a private
# unixODBC configuration, as scripts/main runs it:
#   demo_test.sh KIVDEMO ROWXPPDEMO KIVODBC_LIBRARY
# Fails when the demo fails or leaves the sample's rows changed.
set -euo pipefail
kivdemo=$1 rowxppdemo=$2 driver=$3
sqlite_driver=""
for dir in /usr/lib/x86_64-linux-gnu/odbc /usr/lib/aarch64-linux-gnu/odbc /usr/lib/odbc /usr/lib64; do
  if [ -f "$dir/libsqlite3odbc.so" ]; then sqlite_driver="$dir/libsqlite3odbc.so"; break; fi
done
[ -n "$sqlite_driver" ] || { echo "the SQLite ODBC driver is not installed" >&2; exit 1; }
root=$(mktemp -d /tmp/rowxppdemo-test.XXXXXX)
trap 'rm -rf "$root"' EXIT
"$kivdemo" "$root/sample" > /dev/null
cat > "$root/odbcinst.ini" <<INI
[Morvane ODBC Driver]
Driver = $driver

[SQLite3 ODBC Driver]
Driver = $sqlite_driver
INI
cat > "$root/odbc.ini" <<INI
[KivSample]
Driver = Morvane ODBC Driver
DataDirectory = $root/sample
DefaultType = CDX

[RowxppSqlite]
Driver = SQLite3 ODBC Driver
Database = $root/demo.db
INI
export ODBCSYSINI="$root" ODBCINI="$root/odbc.ini"
rows() {
  isql -b -x0x09 KivSample <<'SQL'
SELECT * FROM customer ORDER BY ID
SELECT * FROM orders ORDER BY ORDERNO
SQL
}
before=$(rows)
[ -n "$before" ] || { echo "isql read nothing from the sample" >&2; exit 1; }
"$rowxppdemo" KivSample RowxppSqlite
after=$(rows)
[ "$before" = "$after" ] || { echo "the demo left the sample changed" >&2; exit 1; }
echo "sample unchanged"
