#!/usr/bin/python3
"""qdbf end to end: every command run as a program.

Values are compared with python3-dbfread on tables written by qdbf itself
and by python3-dbf; check must pass on clean files and name each kind of
damage made here on purpose (header, descriptors, values, memo references
and chains, index trees and entries built byte by byte); pack must keep every
live record and memo value and refuse while another program holds the table;
hostile files never crash the program.

Usage: qdbf_test.py <qdbf> <table holder> <work directory>
Exits 77 (skipped) when python3-dbf or python3-dbfread is missing.
"""
import csv
import io
import json
import os
import pty
import random
import shutil
import struct
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

QDBF, HOLDER, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(*args, expect=None):
    result = subprocess.run([QDBF, *args], capture_output=True, cwd=WORK)
    out = result.stdout.decode("utf-8", "replace")
    err = result.stderr.decode("utf-8", "replace")
    check(result.returncode >= 0, "qdbf %s ended by signal %d" % (args, -result.returncode))
    check("Sanitizer" not in err and "runtime error" not in err, "qdbf %s: sanitizer report\n%s" % (args, err))
    if expect is not None:
        check(result.returncode == expect,
              "qdbf %s: exit %d, expected %d\n%s%s" % (args, result.returncode, expect, out, err))
    return result.returncode, out, err


def path(name):
    """A file of the work directory; its name in any letter case (the engine
    names memo files with upper-case extensions)."""
    if os.path.isdir(WORK):
        for entry in os.listdir(WORK):
            if entry.lower() == name.lower():
                return os.path.join(WORK, entry)
    return os.path.join(WORK, name)


def fresh():
    if os.path.isdir(WORK):
        shutil.rmtree(WORK)
    os.makedirs(WORK)


def json_rows(table, *extra):
    _, out, _ = run("dump", table, "--json", *extra, expect=0)
    return [json.loads(line) for line in out.splitlines()]


def normal(value):
    """A dbfread value in qdbf's JSON form."""
    if hasattr(value, "isoformat"):
        return value.isoformat()
    if isinstance(value, float) and value == int(value) and abs(value) < 2 ** 53:
        return value
    return value


def same_values(ours, theirs, what):
    check(len(ours) == len(theirs), "%s: %d records, dbfread %d" % (what, len(ours), len(theirs)))
    for a, b in zip(ours, theirs):
        for name, value in b.items():
            mine = a.get(name)
            if isinstance(value, str):
                value = value.rstrip("\x00")  # dbfread's reading of block padding
            if value is None and mine == "":
                continue  # an empty memo
            if isinstance(value, float) or isinstance(mine, float):
                check(mine is not None and value is not None and abs(float(mine) - float(value)) < 1e-9,
                      "%s: %s = %r, dbfread %r" % (what, name, mine, value))
            else:
                check(mine == normal(value), "%s: %s = %r, dbfread %r" % (what, name, mine, value))


def poke(name, offset, data):
    with open(path(name), "r+b") as f:
        f.seek(offset)
        f.write(data)


def header_of(name):
    with open(path(name), "rb") as f:
        head = f.read(32)
    return struct.unpack("<I", head[4:8])[0], struct.unpack("<H", head[8:10])[0], struct.unpack("<H", head[10:12])[0]


def field_offset(name, field):
    table = dbfread.DBF(path(name), load=False)
    at = 1
    for f in table.fields:
        if f.name == field:
            return at
        at += f.length
    raise KeyError(field)


def record_offset(name, number):
    _, header, length = header_of(name)
    return header + (number - 1) * length


# ------------------------------------------------------------------ usage ---

def usage_and_errors():
    fresh()
    code, _, err = run(expect=2)
    check("usage" in err, "no command shows the usage")
    code, _, err = run("frobnicate", "x", expect=2)
    code, _, err = run("dump", "x", "--xml", expect=2)
    check("qdbf dump TABLE" in err, "a wrong option shows the command's usage line")
    run("dump", "x", "--csv", "--json", expect=2)
    run("info", expect=2)
    run("info", "a", "b", expect=2)
    run("create", "t", "NAME:Q:3", expect=2)
    run("create", "t", "NAME:C", expect=2)
    run("create", "t", "1NAME:C:3", expect=2)
    run("create", "t", "NAME:C:3", "--version", "5", expect=2)
    run("dump", "t", "--codepage", "9999", expect=2)
    code, out, err = run("help", expect=0)
    check("qdbf pack TABLE" in out, "help lists the commands")
    code, _, err = run("info", "missing", expect=3)
    check("Error # 2" in err, "a missing table reports the engine's code 2: " + err)
    run("create", "t", "NAME:C:3", expect=0)
    code, _, err = run("create", "t", "NAME:C:3", expect=3)
    check("already exists" in err, "create never overwrites a table")
    run("dump", "t", "--fields", "NOPE", expect=2)
    run("dump", "t", "--for", "NAME", expect=2)
    code, _, err = run("dump", "t", "--for", "NAME = = 1", expect=3)
    check("Error #" in err, "a bad expression reports the compile error: " + err)
    # index commands on a table without a production index
    for args in (["reindex", "t"], ["find", "t", "BYNAME", "x"], ["dump", "t", "--order", "BYNAME"]):
        code, _, err = run(*args, expect=3)
        check("has no production index" in err, "%s without an index: %s" % (args, err))
    run("index", "t", "1TAG", "NAME", expect=2)
    run("index", "t", "BYNAME", "NAME = = 1", expect=3)
    run("index", "t", "BYNAME", "NAME", "--for", "NAME", expect=3)


# --------------------------------------------------- create, import, dump ---

ROWS = [
    {"NAME": "Zoë Müller", "AMOUNT": "1234.5", "BORN": "2024-02-29", "OK": "T", "NOTES": "line1\nline2"},
    {"NAME": "plain", "AMOUNT": "-0.25", "BORN": "", "OK": "F", "NOTES": ""},
    {"NAME": 'a, "quoted"', "AMOUNT": "7", "BORN": "1999-12-31", "OK": "T", "NOTES": "x" * 1500},
    {"NAME": "  lead", "AMOUNT": "0.125", "BORN": "2000-01-01", "OK": "F", "NOTES": "é"},
]


def write_csv(name, rows, fields=("NAME", "AMOUNT", "BORN", "OK", "NOTES")):
    with open(path(name), "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f)
        writer.writerow([x.lower() for x in fields])
        for row in rows:
            writer.writerow([row[x] for x in fields])


def create_import_dump():
    for version, byte, memo_ext in (("3", 0x83, "dbt"), ("4", 0x8B, "dbt"), ("fox", 0xF5, "fpt")):
        fresh()
        run("create", "people", "NAME:C:20", "AMOUNT:N:10:2", "BORN:D", "OK:L", "NOTES:M",
            "--version", version, "--codepage", "1252", expect=0)
        with open(path("people.dbf"), "rb") as f:
            head = f.read(32)
        check(head[0] == byte and head[29] == 0x03, "create --version %s writes 0x%02X, driver 0x03" % (version, head[0]))
        code, _, err = run("import", "PEOPLE", "in.csv", expect=3)  # no CSV file yet
        write_csv("in.csv", ROWS)
        code, out, err = run("import", "People.DBF", "in.csv", expect=0)
        check(err == "", "no progress bar when standard error is no terminal: %r" % err)
        ours = json_rows("people")
        theirs = [dict(r) for r in dbfread.DBF(path("people.dbf"))]
        same_values(ours, theirs, "version %s import" % version)
        check([r["NAME"] for r in ours] == ["Zoë Müller", "plain", 'a, "quoted"', "  lead"],
              "character values keep leading blanks and lose trailing ones")
        check(ours[1]["BORN"] is None and ours[0]["OK"] is True and ours[0]["AMOUNT"] == 1234.5,
              "JSON types: %r" % ours[0])
        check(ours[2]["NOTES"] == "x" * 1500 and ours[0]["NOTES"] == "line1\nline2", "memo values as text")
        # CSV round trip
        _, out, _ = run("dump", "people", "--csv", expect=0)
        parsed = list(csv.reader(io.StringIO(out, newline="")))
        check(parsed[0] == ["NAME", "AMOUNT", "BORN", "OK", "NOTES"], "CSV header line")
        check(parsed[3][0] == 'a, "quoted"' and parsed[1][4] == "line1\nline2", "CSV quoting: %r" % parsed[3])
        check(out.endswith("\r\n"), "CSV lines end with CR LF")
        # aligned
        _, out, _ = run("dump", "people", expect=0)
        lines = out.splitlines()
        check(lines[0].split() == ["NAME", "AMOUNT", "BORN", "OK", "NOTES"] and set(lines[1]) <= {"-", " "},
              "aligned header and rule")
        check("1234.50" in lines[2] and "Zoë Müller" in lines[2], "aligned row: %r" % lines[2])
        # --fields, --for, --deleted
        rows = json_rows("people", "--fields", "ok,name", "--for", "AMOUNT > 0")
        check([list(r) for r in rows] == [["OK", "NAME"]] * 3 and len(rows) == 3, "--fields order and --for")
        poke("people.dbf", record_offset("people.dbf", 2), b"*")
        check(len(json_rows("people")) == 3, "deleted records are left out")
        rows = json_rows("people", "--deleted")
        check([r["_deleted"] for r in rows] == [False, True, False, False], "--deleted adds _deleted")
        # eval
        _, out, _ = run("eval", "people", "UPPER(NAME)+STR(AMOUNT,8,2)", "--for", "OK", expect=0)
        check(out.splitlines() == ["ZOË MÜLLER".ljust(20) + " 1234.50", 'A, "QUOTED"'.ljust(20) + "    7.00"],
              "eval on an ANSI table: %r" % out)
        _, out, _ = run("eval", "people", "AMOUNT * 2", expect=0)
        check(out.split() == ["2469.00", "14.00", "0.26"], "eval numbers (0.125 stored as 0.13): %r" % out)
        _, out, _ = run("eval", "people", "BORN + 1", expect=0)
        check(out.splitlines() == ["2024-03-01", "2000-01-01", "2000-01-02"], "eval dates: %r" % out)
        run("check", "people", expect=0)
        _, out, _ = run("info", "people", expect=0)
        check("0x%02X" % byte in out and "NOTES" in out and ("." + memo_ext.upper()) in out.upper(),
              "info names version, fields and memo file")
        check("1252 (ANSI)" in out, "info names the code page")

    # dBASE II and level 7 from the engine (no independent reader knows them)
    for version, byte in (("2", 0x02), ("7", 0x04)):
        fresh()
        run("create", "old", "NAME:C:10", "N:N:5:1", "OK:L", "--version", version, expect=0)
        with open(path("old.dbf"), "rb") as f:
            check(f.read(1)[0] == byte, "create --version %s" % version)
        write_csv("in.csv", [{"NAME": "a", "N": "1.5", "OK": "T"}, {"NAME": "b", "N": "-2", "OK": "F"}],
                  ("NAME", "N", "OK"))
        run("import", "old", "in.csv", expect=0)
        rows = json_rows("old")
        check(rows == [{"NAME": "a", "N": 1.5, "OK": True}, {"NAME": "b", "N": -2.0, "OK": False}],
              "version %s round trip: %r" % (version, rows))
        run("check", "old", expect=0)
    run("create", "d2", "D:D", "--version", "2", expect=3)

    # bad CSV values leave the table untouched
    fresh()
    run("create", "t", "NAME:C:3", "N:N:4:1", "D:D", expect=0)
    for bad in ("toolong,1,", "a,99999,", "a,x,", "a,1,2024-02-30", "€,1,"):
        with open(path("bad.csv"), "w", encoding="utf-8") as f:
            f.write("NAME,N,D\nok,1,\n" + bad + "\n")
        code, _, err = run("import", "t", "bad.csv", expect=3)
        check("row 2" in err, "a bad CSV value names its row: %s" % err)
    check(header_of("t.dbf")[0] == 0, "failed imports appended nothing")


# -------------------------------------------------------- other writers ---

def other_writers():
    fresh()
    for kind, ext, page in (("db3", "dbt", "cp1252"), ("vfp", "fpt", "cp850"), ("db3", "dbt", "cp437")):
        name = "other_%s_%s" % (kind, page)
        spec = "NAME C(20); QTY N(8,2); BORN D; OK L; NOTES M"
        table = dbf.Table(path(name + ".dbf"), spec, dbf_type=kind if kind != "vfp" else "fp", codepage=page)
        table.open(dbf.READ_WRITE)
        import datetime
        first = "Ærø ½" if page != "cp437" else "Straße ñ ½"
        for i, text in enumerate([first, "Straße", "plain", ""]):
            table.append((text, i * 1.25 - 1, datetime.date(2020, 1, i + 1) if i != 2 else None,
                          i % 2 == 0, "memo %d ñ" % i if i != 1 else ""))
        table.close()
        ours = json_rows(name)
        theirs = [dict(r) for r in dbfread.DBF(path(name + ".dbf"))]
        same_values(ours, theirs, name)
        run("check", name, expect=0)
        # --codepage overrides the table's own page
        wrong = "1252" if page != "cp1252" else "850"
        rows = json_rows(name, "--codepage", wrong)
        check(rows[0]["NAME"] != ours[0]["NAME"], "--codepage %s changes the text read" % wrong)


# ------------------------------------------------------------- check ---

def make_people(version="4"):
    fresh()
    run("create", "people", "NAME:C:10", "AMOUNT:N:8:2", "BORN:D", "OK:L", "NOTES:M", "--version", version,
        expect=0)
    rows = [{"NAME": n, "AMOUNT": a, "BORN": b, "OK": o, "NOTES": m} for n, a, b, o, m in (
        ("Smith", "1", "2001-01-01", "T", "first " * 100),
        ("Adams", "2", "", "F", "second"),
        ("Jones", "3", "2003-03-03", "T", "third " * 300),
    )]
    write_csv("in.csv", rows)
    run("import", "people", "in.csv", expect=0)


def problems(name="people"):
    code, out, err = run("check", name)
    check(code in (0, 1), "check exit %d: %s" % (code, err))
    return code, out


def expect_problem(what, text, name="people"):
    code, out = problems(name)
    check(code == 1 and text in out, "check finds %s (%r):\n%s" % (what, text, out))


def check_damage():
    cases = []

    def header_count(_):
        poke("people.dbf", 4, struct.pack("<I", 9))
    cases.append(("a record count beyond the file", header_count, "header: counts 9 records"))

    def extra_records(_):
        poke("people.dbf", 4, struct.pack("<I", 2))
    cases.append(("records the header does not count", extra_records, "the file holds 3"))

    def terminator(_):
        _, header, _ = header_of("people.dbf")
        poke("people.dbf", header - 1, b"\x00")
    cases.append(("a missing descriptor terminator", terminator, "no terminator"))

    def bad_name(_):
        poke("people.dbf", 32 + 32, b"A-B\x00")
    cases.append(("a field name with a hyphen", bad_name, "stored name"))

    def bad_number(_):
        poke("people.dbf", record_offset("people.dbf", 2) + field_offset("people.dbf", "AMOUNT"), b"  12x.00")
    cases.append(("a number that does not parse", bad_number, "'12x.00' is not a number"))

    def bad_date(_):
        poke("people.dbf", record_offset("people.dbf", 1) + field_offset("people.dbf", "BORN"), b"20011301")
    cases.append(("a date that does not parse", bad_date, "'20011301' is not a date"))

    def bad_logical(_):
        poke("people.dbf", record_offset("people.dbf", 3) + field_offset("people.dbf", "OK"), b"X")
    cases.append(("a bad logical", bad_logical, "is not a logical value"))

    def memo_outside(_):
        poke("people.dbf", record_offset("people.dbf", 2) + field_offset("people.dbf", "NOTES"), b"      9999")
    cases.append(("a memo reference outside the memo file", memo_outside, "lies outside the memo file"))

    def memo_shared(_):
        at = field_offset("people.dbf", "NOTES")
        with open(path("people.dbf"), "rb") as f:
            f.seek(record_offset("people.dbf", 1) + at)
            first = f.read(10)
        poke("people.dbf", record_offset("people.dbf", 2) + at, first)
    cases.append(("two records sharing memo blocks", memo_shared, "share memo blocks"))

    def memo_no_value(_):
        at = field_offset("people.dbf", "NOTES")
        with open(path("people.dbf"), "rb") as f:
            f.seek(record_offset("people.dbf", 1) + at)
            first = int(f.read(10))
        poke("people.dbf", record_offset("people.dbf", 1) + at, b"%10d" % (first + 1))
    cases.append(("a reference into the middle of a value", memo_no_value, "does not start a memo value"))

    def memo_too_long(_):
        at = field_offset("people.dbf", "NOTES")
        with open(path("people.dbf"), "rb") as f:
            f.seek(record_offset("people.dbf", 3) + at)
            block = int(f.read(10))
        poke("people.dbt", block * 512 + 4, struct.pack("<I", 10 ** 8))
    cases.append(("a value running past the memo file", memo_too_long, "run past the end"))

    def free_list(_):
        poke("people.dbt", 0, struct.pack("<I", 10 ** 6))
    cases.append(("a free list linking past the end", free_list, "the free list links"))

    def free_overlap(_):
        at = field_offset("people.dbf", "NOTES")
        with open(path("people.dbf"), "rb") as f:
            f.seek(record_offset("people.dbf", 3) + at)
            block = int(f.read(10)) + 1  # the value's second block
        size = os.path.getsize(path("people.dbt")) // 512
        poke("people.dbt", 0, struct.pack("<I", block))
        poke("people.dbt", block * 512, struct.pack("<II", size, 1))
    cases.append(("a free run over a live value", free_overlap, "overlaps the value of record 3"))

    for what, damage, text in cases:
        make_people("4")
        run("check", "people", expect=0)
        damage(None)
        expect_problem(what, text)

    # dBASE III: a value without its end mark
    make_people("3")
    run("check", "people", expect=0)
    size = os.path.getsize(path("people.dbt"))
    with open(path("people.dbt"), "r+b") as f:
        data = bytearray(f.read())
        for i in range(512, len(data)):
            if data[i] == 0x1A:
                data[i] = ord(" ")
        f.seek(0)
        f.write(data)
    expect_problem("a dBASE III value without end mark", "no end mark")
    check(os.path.getsize(path("people.dbt")) == size, "check writes nothing")

    # a table the engine cannot open at all
    make_people("4")
    poke("people.dbf", 0, b"\x77")
    expect_problem("an unknown version byte", "table: does not open")


# -------------------------------------------------------- index checks ---

def mdx_node(item_length, items, trailing=0):
    b = bytearray(1024)
    struct.pack_into("<H", b, 0, len(items))
    at = 8
    for pointer, key in items:
        struct.pack_into("<I", b, at, pointer)
        b[at + 4:at + 4 + len(key)] = key
        at += item_length
    struct.pack_into("<I", b, at, trailing)
    return b


def mdx_tag_header(root, key_length, key, for_text="", unique=False):
    item = (key_length + 4 + 3) // 4 * 4
    b = bytearray(1024)
    struct.pack_into("<I", b, 0, root)
    b[8] = 0x10 | (0x40 if unique else 0)
    b[9] = ord("C")
    struct.pack_into("<HHHH", b, 12, key_length, 1012 // item, 0, item)
    b[23] = 1 if unique else 0
    b[24:24 + len(key)] = key.encode()
    b[245] = 1 if for_text else 0
    b[246] = 1
    b[762:762 + len(for_text)] = for_text.encode()
    return b, item


class Mdx:
    def __init__(self, table):
        self.bytes = bytearray(2048)
        self.bytes[0:4] = bytes([2, 126, 1, 2])
        self.bytes[4:4 + len(table)] = table.encode()
        struct.pack_into("<HH", self.bytes, 20, 2, 1024)
        self.bytes[24:27] = bytes([1, 48, 32])

    def append(self, block):
        page = len(self.bytes) // 512
        self.bytes += block
        return page

    def leaf_tag(self, number, name, key, key_length, items, for_text="", unique=False):
        _, item = mdx_tag_header(0, key_length, key)
        root = self.append(mdx_node(item, items))
        header, _ = mdx_tag_header(root, key_length, key, for_text, unique)
        page = self.append(header)
        at = 512 + 32 * number
        struct.pack_into("<I", self.bytes, at, page)
        self.bytes[at + 4:at + 4 + len(name)] = name.encode()
        self.bytes[at + 19] = 2
        self.bytes[at + 20] = ord("C")
        self.bytes[28] = max(self.bytes[28], number)
        return root


def with_index(items, for_items=None, extra=None):
    """people (dBASE IV) with a production index: tag NAMES on NAME, and
    tag LIVE on NAME FOR .NOT. OK (records 2)."""
    make_people("4")
    names = {1: b"Smith     ", 2: b"Adams     ", 3: b"Jones     "}
    mdx = Mdx("people")
    root = mdx.leaf_tag(1, "NAMES", "NAME", 10, [(r, k if k is not None else names[r]) for r, k in items])
    mdx.leaf_tag(2, "LIVE", "NAME", 10, for_items if for_items is not None else [(2, names[2])], ".NOT. OK")
    if extra:
        extra(mdx, root)
    with open(path("people.mdx"), "wb") as f:
        f.write(mdx.bytes)
    poke("people.dbf", 28, b"\x01")


def index_checks():
    good = [(2, None), (3, None), (1, None)]
    with_index(good)
    code, out = problems()
    check(code == 0, "a sound index passes: %s" % out)
    check(sorted(x.lower() for x in os.listdir(WORK)) == ["in.csv", "people.dbf", "people.dbt", "people.mdx"],
          "check leaves no files behind: %s" % os.listdir(WORK))
    _, out, _ = run("info", "people", expect=0)
    check("Tag NAMES: key NAME" in out and "Tag LIVE: key NAME for .NOT. OK" in out, "info lists the tags: %s" % out)

    with_index([(3, None), (2, None), (1, None)])
    expect_problem("keys out of order", "index, tag NAMES:")
    with_index([(2, None), (1, None)])
    expect_problem("a record missing from a tag", "record 3 is missing from the tag")
    with_index([(2, None), (3, None), (3, None), (1, None)])
    expect_problem("a record present twice", "record 3 is in the tag 2 times")
    with_index([(2, None), (3, b"Jonas     "), (1, None)])
    expect_problem("a key that does not match its record", "record 3's key in the tag does not match")
    with_index(good + [(7, b"Zz        ")])
    expect_problem("an entry naming no record", "names record 7, which does not exist")
    with_index(good, for_items=[(2, b"Adams     "), (1, b"Smith     ")])
    expect_problem("an entry the FOR condition excludes", "record 1 is in the tag but its FOR condition excludes it")

    def outside(mdx, root):
        struct.pack_into("<I", mdx.bytes, 512 + 32, 4000)
    with_index(good, extra=outside)
    expect_problem("a tag header outside the file", "index")
    _, out, _ = run("info", "people", expect=0)
    check("does not open" in out, "info names an index that does not open: %s" % out)

    def cycle(mdx, root):
        # the root becomes a branch whose child is itself
        at = root * 512
        struct.pack_into("<HI", mdx.bytes, at, 1, 0)
        struct.pack_into("<I", mdx.bytes, at + 8, root)
        struct.pack_into("<I", mdx.bytes, at + 8 + 16, root)
    with_index(good, extra=cycle)
    # the engine refuses such a file at open: one problem line for the index
    expect_problem("a tree whose node is its own child", "people.mdx does not open: Error # 222")
    code, out = problems()
    check(out.count("\n") == 2, "an index that does not open is one problem: %s" % out)

    # pack stops at an index that does not open, before it writes anything
    before = {name: open(path(name), "rb").read() for name in ("people.dbf", "people.mdx")}
    code, _, err = run("pack", "people", expect=3)
    check("222" in err and all(open(path(n), "rb").read() == b for n, b in before.items())
          and len(os.listdir(WORK)) == 4, "pack refuses a damaged index and changes nothing: %s" % err)

    make_people("4")
    poke("people.dbf", 28, b"\x01")
    expect_problem("a production index that does not exist", "does not exist")


# ------------------------------------------------------ index commands ---

PERL_TAG_KEYS = r"""
use XBase::Index;
my $idx = XBase::Index->new($ARGV[0], tag => $ARGV[1]) or die XBase::Index->errstr;
$idx->prepare_select;
while (my ($key, $record) = $idx->fetch) { print unpack("H*", $key), "\t$record\n"; }
"""


def perl_tag(index_file, tag):
    """(key bytes, record) of a tag in order, read by Perl XBase; None when
    Perl XBase is not installed."""
    result = subprocess.run(["perl", "-e", PERL_TAG_KEYS, index_file, tag], capture_output=True)
    if result.returncode != 0 and b"XBase" in result.stderr and b"Can't locate" in result.stderr:
        return None
    check(result.returncode == 0, "Perl XBase reads tag %s: %s" % (tag, result.stderr[-300:]))
    rows = []
    for line in result.stdout.decode().splitlines():
        key, record = line.split("\t")
        rows.append((bytes.fromhex(key), int(record)))
    return rows


def live_records(name):
    """dbfread's live records with their record numbers (1-based)."""
    table = dbfread.DBF(path(name + ".dbf"), load=True)
    return [(n + 1, dict(r)) for n, r in enumerate(table.records)]


def expected_orders(name):
    """Each tag's records in order, computed from dbfread's values: the key,
    then the record number (the build's tie order)."""
    live = live_records(name)
    return {
        "BYNAME": [n for n, r in sorted(live, key=lambda x: (x[1]["NAME"].upper().ljust(20), x[0]))],
        "BYAMOUNT": [r["AMOUNT"] for n, r in sorted(live, key=lambda x: -x[1]["AMOUNT"])],
        "OKBORN": [n for n, r in sorted((x for x in live if x[1]["OK"]), key=lambda x: (x[1]["BORN"], x[0]))],
        "UNAME": sorted({r["NAME"].ljust(20) for _, r in live}),
    }


def ordered(name, tag):
    rows = json_rows(name, "--order", tag, "--fields", "NAME,AMOUNT,BORN,OK", "--deleted")
    return rows


def compare_orders(name, what, built=True):
    """dump --order against the expected orders. A freshly built tag keeps
    equal keys in record order; keys the engine added later may stand
    anywhere among their equals, so then only the keys' order and the set
    of records are compared."""
    live = dict(live_records(name))
    want = expected_orders(name)
    # the records of dump --order as record numbers: NAME and AMOUNT together
    # are unique in these tables
    number = {(r["NAME"], r["AMOUNT"]): n for n, r in live.items()}

    def same_order(got, expected, key, what_tag):
        if built:
            check(got == expected, "%s: dump --order %s (%d records) differs from the sorted values" %
                  (what, what_tag, len(got)))
        else:
            check([key(n) for n in got] == [key(n) for n in expected] and sorted(got) == sorted(expected),
                  "%s: dump --order %s differs from the sorted values" % (what, what_tag))
    got = [number.get((r["NAME"], r["AMOUNT"])) for r in json_rows(name, "--order", "BYNAME")]
    same_order(got, want["BYNAME"], lambda n: live[n]["NAME"].upper(), "BYNAME")
    got = [r["AMOUNT"] for r in json_rows(name, "--order", "byamount")]
    check(got == want["BYAMOUNT"], "%s: dump --order BYAMOUNT (descending)" % what)
    got = [number.get((r["NAME"], r["AMOUNT"])) for r in json_rows(name, "--order", "OKBORN")]
    same_order(got, want["OKBORN"], lambda n: live[n]["BORN"], "OKBORN (dates, FOR OK)")
    got = sorted(r["NAME"].ljust(20) for r in json_rows(name, "--order", "UNAME"))
    check(got == want["UNAME"], "%s: a unique tag holds each name once" % what)
    # the file qdbf wrote, as an independent reader walks it
    keys = perl_tag(path(name + ".mdx"), "BYNAME")
    if keys is not None:
        same_order([r for _, r in keys], want["BYNAME"], lambda n: live[n]["NAME"].upper(), "BYNAME, read by Perl XBase,")
        check(all(k.decode("cp1252") == live[r]["NAME"].upper().ljust(20) for k, r in keys),
              "%s: Perl XBase reads the keys of tag BYNAME" % what)
        amounts = perl_tag(path(name + ".mdx"), "BYAMOUNT")
        check(amounts is not None and len(amounts) == len(live), "%s: Perl XBase reads the numeric tag" % what)


def index_commands():
    fresh()
    run("create", "stock", "NAME:C:20", "AMOUNT:N:10:2", "BORN:D", "OK:L", "NOTES:M", "--codepage", "1252",
        expect=0)
    rng = random.Random(5)
    words = ["alpha", "Beta", "gamma", "DELTA", "epsilon", "zeta", "Eta", "theta", "iota", "kappa"]

    def rows(count, start):
        return [{"NAME": "%s %s" % (rng.choice(words), rng.choice(words)) if i % 9 else "Ærø %d" % (i % 4),
                 "AMOUNT": "%.2f" % ((start + i) * 1.25 - 90), "BORN": "20%02d-%02d-%02d" % (
                     rng.randrange(30), rng.randrange(1, 13), rng.randrange(1, 29)),
                 "OK": rng.choice("TF"), "NOTES": "note %d" % i} for i in range(count)]
    write_csv("a.csv", rows(300, 0))
    run("import", "stock", "a.csv", expect=0)
    for args in (["BYNAME", "UPPER(NAME)"], ["BYAMOUNT", "AMOUNT", "--descending"],
                 ["OKBORN", "BORN", "--for", "OK"], ["UNAME", "NAME", "--unique"]):
        _, out, err = run("index", "stock", *args, expect=0)
        check(err == "", "no progress bar without a terminal: %r" % err)
    run("index", "stock", "BYNAME", "UPPER(NAME)", expect=0)  # replaces the tag
    # a replacement that fails keeps the tag it would replace
    run("index", "stock", "BYNAME", "NAME = = 1", expect=3)
    run("index", "stock", "BYNAME", "NAME", "--for", "AMOUNT", expect=3)
    run("index", "stock", "BYNAME", "NOSUCHFIELD", expect=3)
    _, out, _ = run("info", "stock", expect=0)
    check(out.count("  Tag ") == 4 and "Tag OKBORN: key BORN for OK" in out and "descending" in out
          and "unique" in out, "info lists the built tags once each:\n" + out)
    run("check", "stock", expect=0)
    compare_orders("stock", "after index")

    # find: prefix and exact keys, numbers, dates, nothing found
    live = dict(live_records("stock"))
    order = expected_orders("stock")["BYNAME"]
    first = live[order[0]]["NAME"]
    _, out, _ = run("find", "stock", "byname", first[:3].upper(), expect=0)
    lines = out.splitlines()
    check(len(lines) == 3 and lines[2].startswith(first) and lines[0].startswith("NAME"),
          "find prints the first record with the key in the dump layout: %r" % out)
    run("find", "stock", "BYNAME", first[:3].upper(), "--exact", expect=1)
    run("find", "stock", "BYNAME", first.upper(), "--exact", expect=0)
    code, out, err = run("find", "stock", "BYNAME", "NO SUCH", expect=1)
    check(out == "" and "no key" in err, "find without a match: %r %r" % (out, err))
    amount = live[order[5]]["AMOUNT"]
    _, out, _ = run("find", "stock", "BYAMOUNT", "%.2f" % amount, expect=0)
    check(("%.2f" % amount) in out.splitlines()[2], "find on a numeric tag: %r" % out)
    run("find", "stock", "BYAMOUNT", "123456.5", expect=1)
    run("find", "stock", "BYAMOUNT", "abc", expect=2)
    ok_first = live[expected_orders("stock")["OKBORN"][0]]
    _, out, _ = run("find", "stock", "OKBORN", ok_first["BORN"].isoformat(), expect=0)
    check(ok_first["BORN"].isoformat() in out, "find on a date tag: %r" % out)
    run("find", "stock", "NOTAG", "x", expect=3)

    # import keeps the keys; pack rebuilds the index; reindex
    write_csv("b.csv", rows(120, 300))
    run("import", "stock", "b.csv", expect=0)
    run("check", "stock", expect=0)
    compare_orders("stock", "after import", built=False)
    for n in (1, 2, 50, 299, 301, 420):
        poke("stock.dbf", record_offset("stock.dbf", n), b"*")
    before = json_rows("stock")
    _, out, _ = run("pack", "stock", expect=0)
    check("414 records kept, 6 removed; 4 tags rebuilt" in out, "pack with an index: %s" % out)
    check(json_rows("stock") == before, "pack keeps every live record")
    check(sorted(x.lower() for x in os.listdir(WORK)) == ["a.csv", "b.csv", "stock.dbf", "stock.dbt", "stock.mdx"],
          "pack leaves no files behind: %s" % os.listdir(WORK))
    run("check", "stock", expect=0)
    compare_orders("stock", "after pack")
    with open(path("stock.mdx"), "rb") as f:
        check(f.read(20)[4:10] == b"STOCK\0", "the rebuilt index names its table")
    _, out, _ = run("reindex", "Stock.DBF", expect=0)
    check("Rebuilt 4 tags" in out, "reindex: %s" % out)
    run("check", "stock", expect=0)
    compare_orders("stock", "after reindex")

    # index and reindex need the table to themselves
    holder = subprocess.Popen([HOLDER, path("stock.dbf")], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    check(holder.stdout.readline().strip() == b"open", "the holder opened the table")
    for args in (["index", "stock", "X", "NAME"], ["reindex", "stock"], ["pack", "stock"]):
        code, _, err = run(*args, expect=3)
        check("open in another program" in err, "%s refused while the table is held: %s" % (args, err))
    holder.stdin.close()
    holder.wait()
    run("check", "stock", expect=0)


# ---------------------------------------------------------------- pack ---

def memo_suffix(version):
    return "fpt" if version == "fox" else "dbt"


def rewrite_memo(version, record, text):
    """Stores a new value for the NOTES field of a record at the end of the
    memo file, as a rewrite elsewhere does; the old value stays as dead space."""
    memo = path("people." + memo_suffix(version))
    with open(memo, "rb") as f:
        head = f.read(24)
    size = os.path.getsize(memo)
    data = text.encode("ascii")
    if version == "fox":
        block_size = struct.unpack(">H", head[6:8])[0] or 512
        value = struct.pack(">II", 1, len(data)) + data
    elif version == "4":
        block_size = struct.unpack("<H", head[20:22])[0] or 512
        value = struct.pack("<HHI", 0xFFFF, 8, len(data) + 8) + data
    else:
        block_size = 512
        value = data + b"\x1a\x1a"
    block = (size + block_size - 1) // block_size
    value += b"\0" * (-len(value) % block_size)
    with open(memo, "r+b") as f:
        f.seek(block * block_size)
        f.write(value)
        f.seek(0)
        f.write(struct.pack(">I" if version == "fox" else "<I", block + len(value) // block_size))
    poke("people.dbf", record_offset("people.dbf", record) + field_offset("people.dbf", "NOTES"),
         b"%10d" % block)


def raw_records(name):
    """Live records as python3-dbfread reads them, every byte kept (Latin-1)."""
    return [dict(r) for r in dbfread.DBF(path(name), encoding="latin-1")]


def pack():
    for version in ("3", "4", "fox"):
        make_people(version)
        write_csv("more.csv", [{"NAME": "n%d" % i, "AMOUNT": str(i), "BORN": "", "OK": "T",
                                "NOTES": "value %d " % i * (i % 7)} for i in range(40)])
        run("import", "people", "more.csv", expect=0)
        for n in (1, 5, 6, 20, 43):
            poke("people.dbf", record_offset("people.dbf", n), b"*")
        # live values rewritten several times: the memo file grows
        for round_ in range(3):
            for n in (2, 3, 10, 30):
                rewrite_memo(version, n, ("rewrite %d of %d " % (round_, n)) * (40 * (round_ + 1)))
        memo = "people." + memo_suffix(version)
        grown = os.path.getsize(path(memo))
        before = json_rows("people")
        raw_before = raw_records("people.dbf")
        memo_head = open(path(memo), "rb").read(24)
        _, out, err = run("pack", "people", expect=0)
        check(version != "4" or open(path(memo), "rb").read(24)[8:16] == memo_head[8:16],
              "the compacted dBASE IV memo file keeps the name in its header")
        check("38 records kept, 5 removed" in out and "memo file compacted" in out, "pack counts: %s" % out)
        check(err == "", "pack says nothing on standard error: %r" % err)
        # at least the two earlier rounds of rewrites are dead space (5 blocks a record)
        check(os.path.getsize(path(memo)) <= grown - 4 * 5 * 512,
              "pack compacts the memo file (version %s): %d -> %d" % (version, grown, os.path.getsize(path(memo))))
        after = json_rows("people")
        check(after == before, "pack keeps every live record and memo value (version %s)" % version)
        check(header_of("people.dbf")[0] == 38, "the packed header counts the live records")
        raw_after = raw_records("people.dbf")
        check(raw_after == raw_before and len(raw_after) == 38,
            "dbfread reads the same bytes after the pack (version %s)" % version)
        theirs = [dict(r) for r in dbfread.DBF(path("people.dbf"))]
        same_values(after, theirs, "packed table, version %s" % version)
        run("check", "people", expect=0)
        check(sorted(x.lower() for x in os.listdir(WORK)) == sorted(["people.dbf", memo, "in.csv", "more.csv"]),
              "pack leaves no files behind: %s" % os.listdir(WORK))

        # a live record naming no value: the pack stops and changes nothing
        poke("people.dbf", record_offset("people.dbf", 4) + field_offset("people.dbf", "NOTES"), b"%10d" % 99999)
        files = {name: open(os.path.join(WORK, name), "rb").read() for name in os.listdir(WORK)}
        code, _, err = run("pack", "people", expect=3)
        check("names no value" in err, "pack names the broken memo reference: %s" % err)
        check({name: open(os.path.join(WORK, name), "rb").read() for name in os.listdir(WORK)} == files,
              "a failed pack leaves the old files untouched (version %s)" % version)

    # refused while another program holds the table
    make_people("4")
    poke("people.dbf", record_offset("people.dbf", 1), b"*")
    holder = subprocess.Popen([HOLDER, path("people.dbf")], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    check(holder.stdout.readline().strip() == b"open", "the holder opened the table")
    size = os.path.getsize(path("people.dbf"))
    code, _, err = run("pack", "people", expect=3)
    check("open in another program" in err, "pack names the other program: %s" % err)
    holder.stdin.close()
    holder.wait()
    check(os.path.getsize(path("people.dbf")) == size and len(json_rows("people", "--deleted")) == 3,
          "a refused pack changed nothing")
    run("pack", "people", expect=0)
    check(len(json_rows("people", "--deleted")) == 2, "pack runs once the table is free")
    # records the header does not count are never dropped by a pack
    poke("people.dbf", 4, struct.pack("<I", 1))
    size = os.path.getsize(path("people.dbf"))
    code, _, err = run("pack", "people", expect=3)
    check("more records than its header counts" in err and os.path.getsize(path("people.dbf")) == size,
          "pack refuses a table with uncounted records: %s" % err)


# ---------------------------------------------------------- progress ---

def progress_on_terminal():
    fresh()
    run("create", "t", "N:N:5", expect=0)
    with open(path("big.csv"), "w") as f:
        f.write("N\n" + "".join("%d\n" % i for i in range(3000)))
    master, slave = pty.openpty()
    result = subprocess.run([QDBF, "import", "t", "big.csv"], stdout=subprocess.PIPE, stderr=slave, cwd=WORK)
    os.close(slave)
    shown = b""
    try:
        while True:
            chunk = os.read(master, 65536)
            if not chunk:
                break
            shown += chunk
    except OSError:
        pass
    os.close(master)
    check(result.returncode == 0, "import with a terminal")
    check(b"Importing" in shown and b"100%" in shown and b"\r" in shown, "progress bar on a terminal: %r" % shown[:200])
    for args, caption in ((["index", "t", "BYN", "N"], b"Indexing"), (["reindex", "t"], b"Reindexing")):
        master, slave = pty.openpty()
        result = subprocess.run([QDBF, *args], stdout=subprocess.PIPE, stderr=slave, cwd=WORK)
        os.close(slave)
        shown = b""
        try:
            while True:
                chunk = os.read(master, 65536)
                if not chunk:
                    break
                shown += chunk
        except OSError:
            pass
        os.close(master)
        check(result.returncode == 0 and caption in shown and b"100%" in shown,
              "%s shows a progress bar on a terminal: %r" % (args, shown[:200]))


# ------------------------------------------------------------ hostile ---

def hostile():
    make_people("4")
    with_index([(2, None), (3, None), (1, None)])
    originals = {name: open(path(name), "rb").read() for name in ("people.dbf", "people.dbt", "people.mdx")}
    rng = random.Random(23)
    for round_ in range(60):
        for name, data in originals.items():
            data = bytearray(data)
            victim = rng.choice(list(originals))
            if name == victim:
                for _ in range(rng.randint(1, 8)):
                    data[rng.randrange(len(data))] = rng.randrange(256)
                if rng.random() < 0.2:
                    data = data[:rng.randrange(len(data))]
            with open(path(name), "wb") as f:
                f.write(data)
        for args in (["check", "people"], ["dump", "people", "--json", "--deleted"], ["info", "people"],
                     ["dump", "people", "--order", "NAMES"], ["find", "people", "LIVE", "A"]):
            result = subprocess.run([QDBF, *args], capture_output=True, cwd=WORK, timeout=60)
            check(result.returncode in (0, 1, 3) and b"Sanitizer" not in result.stderr
                  and b"runtime error" not in result.stderr,
                  "%s on a damaged file (round %d): exit %d %s" % (args, round_, result.returncode,
                                                                    result.stderr[-600:]))


usage_and_errors()
create_import_dump()
other_writers()
check_damage()
index_checks()
index_commands()
pack()
progress_on_terminal()
hostile()
if failures:
    print("%d failures" % len(failures))
    sys.exit(1)
print("all qdbf end-to-end checks passed")
