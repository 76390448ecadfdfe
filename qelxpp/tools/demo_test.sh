#!/bin/sh
# Runs the QELXPP demo with the SQLite ODBC driver registered in a private
# unixODBC configuration and checks its closing line.
set -eu
demo="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work/odbc"
driver=""
for dir in /usr/lib/x86_64-linux-gnu/odbc /usr/lib/aarch64-linux-gnu/odbc /usr/lib/odbc /usr/lib64; do
  if [ -f "$dir/libsqlite3odbc.so" ]; then driver="$dir/libsqlite3odbc.so"; break; fi
done
[ -n "$driver" ] || { echo "the SQLite ODBC driver (libsqliteodbc) is not installed" >&2; exit 1; }
printf '[SQLite3 ODBC Driver]\nDriver = %s\n' "$driver" > "$work/odbc/odbcinst.ini"
: > "$work/odbc/odbc.ini"
ODBCSYSINI="$work/odbc" ODBCINI="$work/odbc/odbc.ini" "$demo" "$work/data" > "$work/out.txt"
cat "$work/out.txt"
tail -n 1 "$work/out.txt" | grep -q '^QELXPP demo: 4 rows, engine table and replica match$'
