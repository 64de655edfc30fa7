#!/usr/bin/env python3
"""Writes the seeds of the index file fuzz target (fuzz/open_index_fuzzer.cpp)
into fuzz/corpus/open_index/: sound index files for the target's table (a
character, a numeric and a date tag, a two-level tree, a descending tag, a
FOR tag, nodes of three keys) and damaged ones (a cycle, a count above
capacity, a page past the end, a chain deeper than the engine follows, an
empty tag table); some with the option bit that replaces and appends
records.

Each seed is an option byte followed by the file, with every run of zero
bytes written as a zero and the run length less one (the target's input
form). Run it from the repository root; the seeds are committed.
"""
import os
import struct

OUT = os.path.join("fuzz", "corpus", "open_index")


def header(table=b"QDI"):
    h = bytearray(2048)
    h[0] = 2
    h[1:4] = bytes([126, 1, 2])
    h[4:4 + len(table)] = table
    struct.pack_into("<HHBBB", h, 20, 2, 1024, 1, 48, 32)
    return h


def node(item, entries, trailing=0):
    b = bytearray(1024)
    struct.pack_into("<h", b, 0, len(entries))
    at = 8
    for pointer, key in entries:
        struct.pack_into("<I", b, at, pointer)
        b[at + 4:at + 4 + len(key)] = key
        at += item
    struct.pack_into("<I", b, at, trailing)
    return b


def tag_header(root, kind, key_length, key, for_text=b"", descending=False):
    item = (key_length + 4 + 3) // 4 * 4
    b = bytearray(1024)
    struct.pack_into("<I", b, 0, root)
    b[8] = 0x10 | (0x08 if descending else 0)
    b[9] = ord(kind)
    struct.pack_into("<HHHH", b, 12, key_length, 1012 // item, 1 if kind == "D" else 0, item)
    b[24:24 + len(key)] = key
    if for_text:
        b[245] = 1
        b[246] = 1
        b[762:762 + len(for_text)] = for_text
    return b


class Image:
    def __init__(self):
        self.bytes = header()

    def append(self, block):
        page = len(self.bytes) // 512
        self.bytes += block
        return page

    def entry(self, number, page, name, kind):
        at = 512 + 32 * number
        struct.pack_into("<I", self.bytes, at, page)
        self.bytes[at + 4:at + 4 + len(name)] = name
        self.bytes[at + 19] = 2
        self.bytes[at + 20] = ord(kind)
        self.bytes[28] = max(self.bytes[28], number)

    def leaf_tag(self, number, name, kind, key_length, key, entries, **options):
        item = (key_length + 4 + 3) // 4 * 4
        root = self.append(node(item, entries))
        self.entry(number, self.append(tag_header(root, kind, key_length, key, **options)), name, kind)


def numeric(hexbytes):
    return bytes.fromhex(hexbytes)


def date(day_number):
    return struct.pack("<d", day_number)


def people():
    image = Image()
    image.leaf_tag(1, b"NAMES", "C", 10, b"NAME",
                   [(3, b"Adams     "), (2, b"Jones     "), (1, b"Smith     ")])
    image.leaf_tag(2, b"AMOUNTS", "N", 12, b"AMOUNT",
                   [(2, numeric("38a915000000000000000000")), (3, numeric("340100000000000000000000")),
                    (1, numeric("361112500000000000000000"))])
    image.leaf_tag(3, b"BORN", "D", 8, b"BORN", [(1, date(2451253.0)), (2, date(2451911.0)), (3, date(1e100))])
    image.leaf_tag(4, b"LIVE", "C", 10, b"upper( name )", [(1, b"SMITH     "), (2, b"JONES     ")],
                   for_text=b".NOT.DELETED()")
    return image


def two_levels(descending=False):
    image = Image()
    keys = [(3, b"Adams     "), (2, b"Jones     "), (1, b"Smith     ")]
    if descending:
        keys.reverse()
    image.append(node(16, keys[:2]))
    image.append(node(16, keys[2:]))
    root = image.append(node(16, [(4, keys[1][1])], 6))
    image.entry(1, image.append(tag_header(root, "C", 10, b"NAME", descending=descending)), b"NAMES", "C")
    return image


def cycle():
    image = two_levels()
    struct.pack_into("<I", image.bytes, 8 * 512 + 8 + 16, 8)
    return image


def over_capacity():
    image = people()
    struct.pack_into("<h", image.bytes, 4 * 512, 64)
    return image


def past_the_end():
    image = two_levels()
    struct.pack_into("<I", image.bytes, 8 * 512 + 8 + 16, 4000)
    return image


def deep_chain(levels=50):
    image = Image()
    for level in range(levels - 1):
        image.append(node(16, [], 4 + 2 * (level + 1)))
    image.append(node(16, [(1, b"Smith     ")]))
    image.entry(1, image.append(tag_header(4, "C", 10, b"NAME")), b"NAMES", "C")
    return image


def small_nodes():
    # Three keys a node: the appends and replaces of option bit 3 split
    # the leaves and the root.
    image = two_levels()
    struct.pack_into("<H", image.bytes, 10 * 512 + 14, 3)
    return image


def empty_table():
    image = Image()
    image.bytes += bytearray(1024)
    return image


def packed(options, data):
    out = bytearray([options])
    i = 0
    while i < len(data):
        if data[i] != 0:
            out.append(data[i])
            i += 1
            continue
        run = 1
        while run < 256 and i + run < len(data) and data[i + run] == 0:
            run += 1
        out += bytes([0, run - 1])
        i += run
    return bytes(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = [
        (0, people()), (1, people()), (2, people()), (4, people()),
        (0, two_levels()), (1, two_levels(True)), (0, cycle()), (0, over_capacity()),
        (2, past_the_end()), (0, deep_chain()), (0, empty_table()),
        (8, people()), (9, small_nodes()), (8, cycle()), (10, people()),
    ]
    for number, (options, image) in enumerate(seeds, 1):
        with open(os.path.join(OUT, "seed_%02d" % number), "wb") as f:
            f.write(packed(options, bytes(image.bytes)))


if __name__ == "__main__":
    main()
