#!/usr/bin/env python3
"""Generates src/platform/code_pages.cpp: the byte tables that convert between
a Windows (ANSI) code page and its OEM partner, the ANSI case mappings, and
the Unicode character of every byte of the ANSI pages.

Characters the target page lacks get a best-fit replacement in the manner of
Windows: an accented letter becomes its base letter, typographic punctuation
its plain ASCII form, box drawing '+', '-' or '|', and anything else '?'.
Run it from the repository root; the output is committed, so the build does
not need Python.
"""
import sys
import unicodedata

PAIRS = [(1252, 437), (1252, 850), (1251, 866)]
ANSI_PAGES = [1252, 1251]

# Replacements tried, in order, before the decomposition rule.
MANUAL = {
    '\u2018': '`', '\u2019': "'", '\u201a': ',', '\u201b': "'",
    '\u201c': '"', '\u201d': '"', '\u201e': '"', '\u00ab': '<', '\u00bb': '>',
    '\u2039': '<', '\u203a': '>', '\u2013': '-', '\u2014': '-', '\u00ad': '-',
    '\u2022': '\u2219\u00b7.', '\u2219': '\u00b7.', '\u00b7': '\u2219.',
    '\u2026': '.', '\u2030': '%', '\u02c6': '^', '\u02dc': '~',
    '\u0152': 'O', '\u0153': 'o', '\u00c6': 'A', '\u00e6': 'a',
    '\u00d0': 'D', '\u00f0': 'd', '\u00d7': 'x', '\u00d8': 'O', '\u00f8': 'o',
    '\u00a6': '|', '\u00a8': '"', '\u00a9': 'c', '\u00ae': 'r', '\u00af': '-',
    '\u00b4': "'", '\u00b8': ',', '\u00ac': '-', '\u00b5': '\u03bcu',
    '\u00df': 's', '\u00a0': ' ', '\u0131': 'i', '\u2017': '_',
    # Greek letters of the DOS pages
    '\u0393': 'G', '\u0398': 'T', '\u03a3': 'S', '\u03a6': 'F', '\u03a9': 'O',
    '\u03b1': 'a', '\u03b4': 'd', '\u03b5': 'e', '\u03c0': 'p', '\u03c3': 's',
    '\u03c4': 't', '\u03c6': 'f', '\u03bc': '\u00b5u',
    # mathematical signs of the DOS pages
    '\u2320': '(', '\u2321': ')', '\u20a7': 'P', '\u00b1': '+', '\u2020': '+',
    '\u00a4': '\u263c',
    '\u221e': '8', '\u2229': 'n', '\u2261': '=', '\u2264': '<', '\u2265': '>',
    '\u2248': '~', '\u221a': 'v', '\u2310': '\u00ac-', '\u00b0': '\u00ba',
    # Cyrillic letters of 1251 missing from 866
    '\u0490': '\u0413', '\u0491': '\u0433', '\u0408': 'J', '\u0458': 'j',
    '\u0405': 'S', '\u0455': 's', '\u0406': 'I', '\u0456': 'i',
    '\u2116': 'N',
}


# The DOS pages show pictures at the control positions; Windows converts
# those characters to these positions when the page has no better place.
DOS_GLYPHS = ('\u263a\u263b\u2665\u2666\u2663\u2660\u2022\u25d8\u25cb\u25d9\u2642'
              '\u2640\u266a\u266b\u263c\u25ba\u25c4\u2195\u203c\u00b6\u00a7\u25ac'
              '\u21a8\u2191\u2193\u2192\u2190\u221f\u2194\u25b2\u25bc')
OEM_PAGES = {437, 850, 866}


def encode_one(ch, page):
    try:
        data = ch.encode('cp%d' % page)
    except UnicodeEncodeError:
        data = b''
    if len(data) == 1:
        return data[0]
    if page in OEM_PAGES and ch in DOS_GLYPHS:
        return DOS_GLYPHS.index(ch) + 1
    return None


def box_drawing(ch):
    name = unicodedata.name(ch, '')
    if not name.startswith('BOX DRAWINGS'):
        return None
    if ' AND ' in name or ('HORIZONTAL' in name and 'VERTICAL' in name):
        return '+'
    if 'HORIZONTAL' in name or name.endswith(' LEFT') or name.endswith(' RIGHT'):
        return '-'
    if 'VERTICAL' in name or name.endswith(' UP') or name.endswith(' DOWN'):
        return '|'
    return '+'


def best_fit(ch, page):
    direct = encode_one(ch, page)
    if direct is not None:
        return direct
    for candidate in MANUAL.get(ch, ''):
        code = encode_one(candidate, page)
        if code is not None:
            return code
    box = box_drawing(ch)
    if box is not None:
        return ord(box)
    decomposed = ''.join(c for c in unicodedata.normalize('NFKD', ch)
                         if not unicodedata.combining(c))
    if decomposed and (len(decomposed) == 1 or decomposed.isascii()):
        code = encode_one(decomposed[0], page)
        if code is not None and decomposed[0].isalnum():
            return code
    return ord('?')


def decode_byte(b, page):
    try:
        return bytes([b]).decode('cp%d' % page)
    except UnicodeDecodeError:
        return None


def conversion(source, target):
    table = []
    for b in range(256):
        ch = decode_byte(b, source)
        if ch is None:  # unassigned in the source page: Windows keeps the control
            ch = chr(b)
        table.append(best_fit(ch, target))
    return table


def case_map(page, upper):
    table = []
    for b in range(256):
        ch = decode_byte(b, page)
        result = b
        if ch is not None:
            mapped = ch.upper() if upper else ch.lower()
            if len(mapped) == 1 and mapped != ch:
                code = encode_one(mapped, page)
                if code is not None:
                    result = code
        table.append(result)
    return table


def unicode_map(page):
    # Bytes unassigned in the page stay the control character of that number,
    # as Windows converts them.
    return [ord(decode_byte(b, page) or chr(b)) for b in range(256)]


def emit_unicode(name, table):
    lines = ['const std::uint16_t %s[256] = {' % name]
    for row in range(0, 256, 8):
        lines.append('    ' + ', '.join('0x%04X' % v for v in table[row:row + 8]) + ',')
    lines.append('};')
    return '\n'.join(lines)


def emit(name, table):
    lines = ['const std::uint8_t %s[256] = {' % name]
    for row in range(0, 256, 16):
        lines.append('    ' + ', '.join('0x%02X' % v for v in table[row:row + 16]) + ',')
    lines.append('};')
    return '\n'.join(lines)


def main():
    out = []
    out.append('// Generated by tools/gen_code_pages.py: conversion tables between Windows')
    out.append('// (ANSI) code pages and their OEM partners with best-fit replacements, and')
    out.append('// the ANSI pages\' case mappings and Unicode characters. Regenerate instead')
    out.append('// of editing.')
    out.append('#include "platform/code_pages.h"')
    out.append('')
    out.append('namespace qd::platform::code_pages {')
    out.append('')
    out.append('namespace {')
    for ansi, oem in PAIRS:
        out.append(emit('kAnsi%dToOem%d' % (ansi, oem), conversion(ansi, oem)))
        out.append(emit('kOem%dToAnsi%d' % (oem, ansi), conversion(oem, ansi)))
    for page in ANSI_PAGES:
        out.append(emit('kUpper%d' % page, case_map(page, True)))
        out.append(emit('kLower%d' % page, case_map(page, False)))
        out.append(emit_unicode('kUnicode%d' % page, unicode_map(page)))
    out.append('')
    out.append('const Conversion kConversions[] = {')
    for ansi, oem in PAIRS:
        out.append('    {%d, %d, kAnsi%dToOem%d, kOem%dToAnsi%d},' % (ansi, oem, ansi, oem, oem, ansi))
    out.append('};')
    out.append('const CaseMap kCaseMaps[] = {')
    for page in ANSI_PAGES:
        out.append('    {%d, kUpper%d, kLower%d},' % (page, page, page))
    out.append('};')
    out.append('const UnicodeMap kUnicodeMaps[] = {')
    for page in ANSI_PAGES:
        out.append('    {%d, kUnicode%d},' % (page, page))
    out.append('};')
    out.append('}  // namespace')
    out.append('')
    out.append('const Conversion* FindConversion(int ansi, int oem) {')
    out.append('  for (const Conversion& entry : kConversions) {')
    out.append('    if (entry.ansi == ansi && entry.oem == oem) return &entry;')
    out.append('  }')
    out.append('  return nullptr;')
    out.append('}')
    out.append('')
    out.append('const CaseMap* FindCaseMap(int ansi) {')
    out.append('  for (const CaseMap& entry : kCaseMaps) {')
    out.append('    if (entry.ansi == ansi) return &entry;')
    out.append('  }')
    out.append('  return nullptr;')
    out.append('}')
    out.append('')
    out.append('const UnicodeMap* FindUnicodeMap(int ansi) {')
    out.append('  for (const UnicodeMap& entry : kUnicodeMaps) {')
    out.append('    if (entry.ansi == ansi) return &entry;')
    out.append('  }')
    out.append('  return nullptr;')
    out.append('}')
    out.append('')
    out.append('}  // namespace qd::platform::code_pages')
    path = sys.argv[1] if len(sys.argv) > 1 else 'src/platform/code_pages.cpp'
    with open(path, 'w', newline='\n') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
