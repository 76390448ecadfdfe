#!/usr/bin/python3
"""Other programs' view of DBF tables, for the interoperability tests: Debian's
python3-dbfread and python3-dbf (run with the system's python3, where Debian
installs them).

    dbfpeers.py check READER TABLE EXPECTED
        READER is "dbfread", "dbf" or "ogr" (GDAL's ogrinfo). Each reads
        text in the code page the table's header names. EXPECTED holds one value a line:
        "<recno> <field> <kind> <hex of the value's text>", kind one of
        C (text, trailing blanks ignored), M (memo text, exact), X (binary
        memo, the bytes exact), N (number), D (YYYY-MM-DD), L (T or F),
        T (YYYY-MM-DD HH:MM:SS). GDAL shows memos as block numbers, and
        binary integers, doubles, date-times and currency as raw bytes: the
        ogr reader checks values of kinds C, N, D and L of text fields only
        (the kind in lower case marks a binary field). Prints one line
        per difference and "records n"; exit status 1 when a value differs
        or the reader fails.

    dbfpeers.py write KIND TABLE
        Writes a table with python3-dbf: KIND "db3" (version 0x83, dBase III
        memos), "fp" (0xF5, FoxPro memos) or "vfp" (0x30: integer, double,
        date-time, currency, memo and a nullable field). The records are
        those of ROWS below, which the tests know too.

    dbfpeers.py write-text CODEPAGE TABLE HEX
        Writes a dBase III table with python3-dbf, marked with the code page
        (a Python codec name, "cp850"), of one field NAME C(10) and one
        record: the Windows-1252 text HEX (hex of its bytes).
"""
import datetime
import sys

ROWS = [
    ("first", 12.5, datetime.date(2024, 2, 29), True, "a memo\r\nof two lines"),
    ("second", -3.25, datetime.date(1999, 12, 31), False, "x" * 1500),
]


def text(value):
    if isinstance(value, bytes):
        return value.decode("cp1252")
    return str(value)


def normal(kind, value):
    """The value as the expected files write it."""
    if value is None:
        return b"" if kind == "X" else ""
    if kind == "C":
        return text(value).rstrip(" ")
    if kind == "M":
        return text(value)
    if kind == "X":
        return bytes(value)
    if kind == "N":
        return repr(float(value))
    if kind == "D":
        return value.isoformat()[:10] if hasattr(value, "isoformat") else text(value)
    if kind == "T":
        return value.strftime("%Y-%m-%d %H:%M:%S") if hasattr(value, "strftime") else text(value)
    if kind == "L":
        if isinstance(value, str):  # GDAL shows the stored letter
            return "T" if value.strip() in ("T", "t", "Y", "y") else "F"
        return "T" if bool(value) else "F"
    raise ValueError("unknown kind " + kind)


def read_with_dbfread(path):
    import dbfread
    table = dbfread.DBF(path, char_decode_errors="strict")
    return [{name.upper(): value for name, value in record.items()} for record in table]


def read_with_dbf(path):
    import dbf
    table = dbf.Table(path)
    table.open(dbf.READ_ONLY)
    try:
        names = table.field_names
        return [{name.upper(): record[name] for name in names} for record in table]
    finally:
        table.close()


def read_with_ogr(path):
    import subprocess
    out = subprocess.run(["ogrinfo", "-ro", "-al", "-q", path], check=True, capture_output=True).stdout
    rows = []
    for line in out.decode("utf-8").split("\n"):
        if line.startswith("OGRFeature("):
            rows.append({})
        elif line.startswith("  ") and " = " in line and rows:
            name, value = line[2:].split(" = ", 1)
            if value == "(null)":  # GDAL's blank field
                value = None
            elif name.endswith(" (Date)"):
                value = datetime.date(*map(int, value.split("/")))
            rows[-1][name.split(" (")[0].upper()] = value
    return rows


def check(reader, path, expected_path):
    rows = {"dbfread": read_with_dbfread, "dbf": read_with_dbf, "ogr": read_with_ogr}[reader](path)
    differences = 0
    with open(expected_path, encoding="ascii") as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            recno, field, kind = int(parts[0]), parts[1], parts[2]
            if reader == "ogr" and kind not in "CNDL":
                continue
            kind = kind.upper()
            raw = bytes.fromhex(parts[3] if len(parts) > 3 else "")
            want = raw if kind == "X" else raw.decode("cp1252")
            if recno > len(rows):
                print("record %d missing" % recno)
                differences += 1
                continue
            got = rows[recno - 1].get(field.upper(), "<no field>")
            same = normal(kind, got) == (want.rstrip(" ") if kind == "C" else want)
            if kind == "N" and not same and got is not None:
                same = abs(float(got) - float(want)) < 1e-9
            if not same:
                print("record %d field %s: %r, expected %r" % (recno, field, got, want))
                differences += 1
    print("records %d" % len(rows))
    return 1 if differences else 0


def write(kind, path):
    import dbf
    if kind.startswith("db3short"):
        # a dBase III table whose last memo holds only int(kind[8:]) characters
        table = dbf.Table(path, "NAME C(20); NOTES M", dbf_type="db3", codepage="cp1252")
        table.open(dbf.READ_WRITE)
        table.append(("a", "first memo"))
        table.append(("b", "x" * int(kind[8:])))
        table.close()
        return 0
    if kind == "vfp":
        spec = "NAME C(20); QTY I; PRICE B; STAMP T; COST Y; NOTES M; OPT C(5) NULL"
    else:
        spec = "NAME C(20); AMOUNT N(10,2); DAY D; FLAG L; NOTES M"
    table = dbf.Table(path, spec, dbf_type=kind, codepage="cp1252")
    table.open(dbf.READ_WRITE)
    for i, (name, amount, day, flag, notes) in enumerate(ROWS, 1):
        if kind == "vfp":
            stamp = datetime.datetime(day.year, day.month, day.day, 13, 14, 15)
            table.append((name, i * 7, amount, stamp, amount, notes, None if i == 1 else "opt"))
        else:
            table.append((name, amount, day, flag, notes))
    table.close()
    return 0


def write_text(codepage, path, hex_text):
    import dbf
    table = dbf.Table(path, "NAME C(10)", dbf_type="db3", codepage=codepage)
    table.open(dbf.READ_WRITE)
    table.append((bytes.fromhex(hex_text).decode("cp1252"),))
    table.close()
    return 0


def main(argv):
    try:
        if len(argv) == 5 and argv[1] == "write-text":
            return write_text(argv[2], argv[3], argv[4])
        if len(argv) == 5 and argv[1] == "check":
            return check(argv[2], argv[3], argv[4])
        if len(argv) == 4 and argv[1] == "write":
            return write(argv[2], argv[3])
    except Exception as e:  # the reader's own complaint is the test's message
        print("%s: %s" % (type(e).__name__, e))
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
