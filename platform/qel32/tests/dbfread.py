#!/usr/bin/env python3
"""A small DBF reader written from the public file formats, independent of the
engine, for the interoperability tests.

    dbfread.py TABLE.dbf

Prints one line per field of every record:

    <record number> <'.' live or '*' deleted> <field name> <type letter> <value as hex>

Character, numeric, date and logical values are the stored bytes; memo fields
give the memo's text, read from the .dbt (dBase IV, or dBase III for tables of
version 0x83) or .fpt (FoxPro) file beside the table; version 0x30 tables keep
binary block numbers. The first line is "records <count>". Damage (a record count
the file cannot hold, a memo block at or past the memo file's next free block,
a block that is not a memo) is reported on stderr with exit status 1.
"""
import os
import struct
import sys


class Damaged(Exception):
    pass


def find_beside(path, extension):
    stem = os.path.splitext(path)[0]
    for ext in (extension, extension.upper()):
        if os.path.exists(stem + ext):
            return stem + ext
    return None


class DbtMemo:
    """dBase IV: u32 LE next free block at 0, u16 LE block size at 20 (0 = 512);
    a block starts FF FF 08 00 and a u32 LE length that counts those 8 bytes."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.next_free = struct.unpack_from("<I", self.data, 0)[0]
        self.block_size = struct.unpack_from("<H", self.data, 20)[0] or 512

    def read(self, block):
        at = block * self.block_size
        if block < 1 or block >= self.next_free or at + 8 > len(self.data):
            raise Damaged("memo block %d outside the used blocks (next free %d)" % (block, self.next_free))
        if self.data[at:at + 4] != b"\xff\xff\x08\x00":
            raise Damaged("memo block %d has no dBase IV block mark" % block)
        length = struct.unpack_from("<I", self.data, at + 4)[0] - 8
        end_block = (at + 8 + length + self.block_size - 1) // self.block_size
        if length < 0 or end_block > self.next_free:
            raise Damaged("memo at block %d runs past the next free block" % block)
        return self.data[at + 8:at + 8 + length]


class Dbt3Memo:
    """dBase III (tables of version 0x83): u32 LE next free block at 0,
    512-byte blocks; a memo is its text, ended by two 0x1A bytes."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.next_free = struct.unpack_from("<I", self.data, 0)[0]

    def read(self, block):
        at = block * 512
        if block < 1 or block >= self.next_free or at >= len(self.data):
            raise Damaged("memo block %d outside the used blocks (next free %d)" % (block, self.next_free))
        end = self.data.find(b"\x1a\x1a", at)
        if end < 0:
            raise Damaged("memo at block %d has no end marks" % block)
        return self.data[at:end]


class FptMemo:
    """FoxPro: u32 BE next free block at 0, u16 BE block size at 6;
    a block starts with u32 BE type and u32 BE length of the data."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.next_free = struct.unpack_from(">I", self.data, 0)[0]
        self.block_size = struct.unpack_from(">H", self.data, 6)[0]
        if not self.block_size:
            raise Damaged("memo file has no block size")

    def read(self, block):
        at = block * self.block_size
        if at < 512 or block >= self.next_free or at + 8 > len(self.data):
            raise Damaged("memo block %d outside the used blocks (next free %d)" % (block, self.next_free))
        kind, length = struct.unpack_from(">II", self.data, at)
        if kind not in (0, 1, 2):
            raise Damaged("memo block %d has type %d" % (block, kind))
        end_block = (at + 8 + length + self.block_size - 1) // self.block_size
        if end_block > self.next_free:
            raise Damaged("memo at block %d runs past the next free block" % block)
        return self.data[at + 8:at + 8 + length]


def read_table(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 33:
        raise Damaged("file too short for a header")
    version = data[0]
    count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
    fields = []
    pos = 32
    while pos < header_length - 1 and data[pos] != 0x0D:
        name = data[pos:pos + 11].split(b"\0", 1)[0].decode("ascii")
        letter = chr(data[pos + 11])
        length = data[pos + 16]
        if letter == "C":
            length += 256 * data[pos + 17]  # long character fields keep the high byte there
        fields.append((name, letter, length))
        pos += 32
    if data[pos] != 0x0D:
        raise Damaged("field descriptors are not ended by 0x0D")
    if 1 + sum(f[2] for f in fields) != record_length:
        raise Damaged("record length %d does not match the fields" % record_length)
    if header_length + count * record_length > len(data):
        raise Damaged("record count %d exceeds the file" % count)

    memo = None
    if any(f[1] == "M" for f in fields):
        fpt = find_beside(path, ".fpt")
        dbt = find_beside(path, ".dbt")
        if version in (0xF5, 0x30) and fpt:
            memo = FptMemo(fpt)
        elif dbt and version == 0x83:
            memo = Dbt3Memo(dbt)
        elif dbt:
            memo = DbtMemo(dbt)
        elif fpt:
            memo = FptMemo(fpt)
        else:
            raise Damaged("memo file not found")

    records = []
    for r in range(count):
        at = header_length + r * record_length
        image = data[at:at + record_length]
        values = []
        pos = 1
        for name, letter, length in fields:
            raw = image[pos:pos + length]
            pos += length
            if letter == "M" and length == 4:  # version 0x30: a binary block number
                block = struct.unpack("<I", raw)[0]
                values.append(memo.read(block) if block else b"")
            elif letter == "M":
                text = raw.strip(b" \0")
                values.append(memo.read(int(text)) if text else b"")
            else:
                values.append(raw)
        records.append(("*" if image[0] == 0x2A else ".", values))
    return fields, records


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: dbfread.py TABLE.dbf\n")
        return 2
    try:
        fields, records = read_table(argv[1])
    except (Damaged, ValueError, struct.error) as e:
        sys.stderr.write("%s: %s\n" % (argv[1], e))
        return 1
    out = ["records %d" % len(records)]
    for number, (deleted, values) in enumerate(records, 1):
        for (name, letter, _), value in zip(fields, values):
            out.append("%d %s %s %s %s" % (number, deleted, name, letter, value.hex()))
    sys.stdout.write("\n".join(out) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
