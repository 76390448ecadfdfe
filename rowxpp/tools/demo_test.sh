#!/usr/bin/env bash
# The ROWXPP demo over a fresh sample and a SQLite data source, in a private
# unixODBC configuration, as scripts/main runs it:
#   demo_test.sh KIVDEMO ROWXPPDEMO KIVODBC_LIBRARY
# Fails when the demo fails, leaves the sample's rows changed, or does not
# print, on each data source, the customers in name order through a cursor
# and the orders of two customers through a child data set. The demo runs
# twice, as the main job may: the second run makes its SQLite tables again.
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
"$rowxppdemo" KivSample RowxppSqlite > /dev/null
output=$("$rowxppdemo" KivSample RowxppSqlite)
printf '%s\n' "$output"
expected='  SQLSelect, customers by name (RecCount 3):
    1  Harbour Supplies
    2  North Mill Ltd
    3  Ostend Traders
  SQLDataSet, customers by name (RecCount 3), their orders in a child data set:
    Harbour Supplies: 2 orders
      1001  2024-01-05  250.50
      1003  2024-02-12  75.25
    Ostend Traders: 1 order
      1002  2024-02-11  1200.00'
for dsn in KivSample RowxppSqlite; do
  # the section of one data source, from the cursor's reading to its end
  read=$(printf '%s\n' "$output" |
    awk -v head="== ROWXPP on the data source $dsn" '$0 == head {on = 1; next} /^== / {on = 0} on' |
    sed -n '/^  SQLSelect, customers by name/,$p')
  if [ "$read" != "$expected" ]; then
    echo "the demo read other rows on $dsn:" >&2
    diff <(echo "$expected") <(echo "$read") >&2 || true
    exit 1
  fi
done
after=$(rows)
[ "$before" = "$after" ] || { echo "the demo left the sample changed" >&2; exit 1; }
echo "sample unchanged"
