#!/usr/bin/python3
"""DBF interoperability with independent tools, used as black boxes.

1. A table the engine creates and fills is read back by python3-dbfread with
   its default settings (the code page taken from the table's language
   driver byte) with the same field list, text, values and deletion flags.
2. dBASE III tables written by python3-dbf, without and with a memo file,
   open in the engine with the same field list and record texts.
3. Memo values (0, 1, 511, 512, 513 and 100,000 bytes, text with line breaks,
   OEM text) the engine writes into dBASE III, dBASE IV and FoxPro memo files
   read back by python3-dbfread (all three) and python3-dbf (dBASE III and
   FoxPro); the same values written by python3-dbf read back by the engine,
   as stored and as a text reader sees them.

Usage: interop_test.py <interop_tool> <work directory>
Exits 77 (skipped) when python3-dbf or python3-dbfread is missing.
"""
import datetime
import os
import shutil
import subprocess
import sys
import warnings

warnings.simplefilter("ignore")
try:
    import dbf
    import dbfread
except ImportError:
    print("python3-dbf / python3-dbfread not installed: skipped")
    sys.exit(77)

TOOL, WORK = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run_tool(*args):
    result = subprocess.run([TOOL, *args], capture_output=True)
    check(result.returncode == 0, "interop_tool %s exit status %d" % (args, result.returncode))
    return result.stdout.decode("cp1252").splitlines()


def engine_writes_dbfread_reads():
    path = os.path.join(WORK, "ENGINE.DBF")
    run_tool("write", path)
    with open(path, "rb") as f:
        check(f.read(32)[29] == 0x01, "language driver byte of an OEM 437 table")
    table = dbfread.DBF(path, load=True)
    check(table.encoding == "cp437", "code page dbfread takes: %r" % table.encoding)
    check([(f.name, f.type, f.length, f.decimal_count) for f in table.fields] ==
          [("NAME", "C", 20, 0), ("AMOUNT", "N", 10, 2), ("COUNT", "N", 12, 0),
           ("BORN", "D", 8, 0), ("OK", "L", 1, 0)], "field list seen by dbfread")
    check(len(table.records) == 2 and len(table.deleted) == 1, "record and deletion counts")
    first, third = table.records
    check(first["NAME"] == "Zoë Müller", "OEM text read back: %r" % first["NAME"])
    check(first["AMOUNT"] == 1234.5 and first["COUNT"] == 42, "numbers of record 1")
    check(first["BORN"] == datetime.date(2024, 2, 29) and first["OK"] is True, "record 1")
    check(third["NAME"] == "x" * 20, "text cut at the field length")
    check(third["AMOUNT"] == 9999999.99, "N(10,2) at its widest")
    check(third["COUNT"] == 9999999999, "10-digit integer")
    check(third["BORN"] == datetime.date(1999, 12, 31), "two-digit year expanded")
    deleted = table.deleted[0]
    check(deleted["NAME"] == "plain" and deleted["AMOUNT"] == -0.25, "deleted record")
    check(deleted["COUNT"] == -7 and deleted["BORN"] is None and deleted["OK"] is False,
          "deleted record: empty date and false")
    with open(path, "rb") as f:
        data = f.read()
    check(data[-1] == 0x1A and int.from_bytes(data[4:8], "little") == 3,
          "end-of-file byte and header count")


def dbf_writes_engine_reads(with_memo):
    name = "MEMO.DBF" if with_memo else "PLAIN.DBF"
    path = os.path.join(WORK, name)
    specs = "name C(20); amount N(10,2); born D; ok L"
    if with_memo:
        specs += "; notes M"
    table = dbf.Table(path, specs, dbf_type="db3", codepage="cp437")
    table.open(dbf.READ_WRITE)
    rows = [("Zoë", 12.5, dbf.Date(2001, 2, 3), True),
            ("Bob Smith", -3, None, False),
            ("Ünïcode äöü", 0, dbf.Date(1999, 12, 31), True)]
    for i, row in enumerate(rows):
        table.append(row + (("memo text %d" % i,) if with_memo else ()))
    with table[1] as record:
        dbf.delete(record)
    table.close()

    lines = run_tool("dump", path)
    fields = ["NAME C 20 0", "AMOUNT N 10 2", "BORN D 8 0", "OK L 1 0"]
    if with_memo:
        fields.append("NOTES M 10 0")
    check(lines[:len(fields)] == fields, "%s field list: %r" % (name, lines[:len(fields)]))
    records = [line.split("|") for line in lines[len(fields):]]
    check(len(records) == 3, "%s record count" % name)
    expected = [[" ", "Zoë", "12.50", "20010203", "T"],
                ["*", "Bob Smith", "-3.00", "", "F"],
                [" ", "Ünïcode äöü", "0.00", "19991231", "T"]]
    for got, want in zip(records, expected):
        check(got[:5] == want, "%s record %r, expected %r" % (name, got, want))
        if with_memo:
            check(len(got) == 6 and int(got[5]) > 0, "%s memo block of %r" % (name, got))


def memo_values():
    big = "".join("\r\n" if i % 80 == 40 else chr(ord("a") + i * 7 % 26) for i in range(100000))
    return [("empty", ""), ("1 byte", "a"), ("511 bytes", "b" * 511), ("512 bytes", "c" * 512),
            ("513 bytes", "d" * 513), ("100,000 bytes", big),
            ("line breaks", "line one\r\nline two\r\n\r\nlast line"),
            ("OEM text", "Zoë Müller ½ ñ")]


# Written through the engine's text file binding: Windows text, stored OEM.
TEXT_VALUE = "café au lait\r\nsecond line"


def engine_writes_memo(version):
    name = "ENG%02X" % version
    path = os.path.join(WORK, name + ".DBF")
    values_file = os.path.join(WORK, name + ".txt")
    with open(values_file, "w") as f:
        for _, value in memo_values():
            f.write("R" + value.encode("cp437").hex() + "\n")
        f.write("T" + TEXT_VALUE.encode("cp1252").hex() + "\n")
    run_tool("memo-write", path, "0x%02X" % version, values_file)
    expected = [value for _, value in memo_values()] + [TEXT_VALUE]
    labels = [label for label, _ in memo_values()] + ["text file"]

    table = dbfread.DBF(path, encoding="cp437", load=True)
    got = [record["NOTES"] for record in table.records]
    check(len(got) == len(expected), "%s: dbfread record count %d" % (name, len(got)))
    for label, want, value in zip(labels, expected, got):
        if want == "":
            ok = value in (None, "")
        elif version == 0x8B:
            # dbfread gives a dBASE IV value with the 8 bytes after it.
            ok = value is not None and value[:len(want)] == want and len(value) <= len(want) + 8
        else:
            ok = value == want
        check(ok, "%s %s read by dbfread: %r" % (name, label, (value or "")[:40]))

    if version != 0x8B:
        table = dbf.Table(path, codepage="cp437")
        table.open(dbf.READ_ONLY)
        got = [record.notes for record in table]
        table.close()
        for label, want, value in zip(labels, expected, got):
            check(value == want, "%s %s read by python3-dbf: %r" % (name, label, value[:40]))


def dbf_writes_memo(dbf_type):
    name = "PY" + dbf_type.upper()
    path = os.path.join(WORK, name + ".DBF")
    table = dbf.Table(path, "name C(10); notes M", dbf_type=dbf_type, codepage="cp437")
    table.open(dbf.READ_WRITE)
    for label, value in memo_values():
        table.append((label[:10], value))
    table.close()
    lines = run_tool("memo-dump", path)
    check(len(lines) == len(memo_values()), "%s: records dumped %d" % (name, len(lines)))
    for (label, want), line in zip(memo_values(), lines):
        stored, text = (bytes.fromhex(part) for part in line.split("|"))
        check(stored == want.encode("cp437"), "%s %s stored bytes: %r" % (name, label, stored[:40]))
        check(text.decode("cp1252") == want, "%s %s as text: %r" % (name, label, text[:40]))


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    engine_writes_dbfread_reads()
    dbf_writes_engine_reads(False)
    dbf_writes_engine_reads(True)
    for version in (0x83, 0x8B, 0xF5):
        engine_writes_memo(version)
    dbf_writes_memo("db3")
    dbf_writes_memo("fp")
    if failures:
        print("%d interoperability check(s) failed" % len(failures))
        return 1
    print("interoperability checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
