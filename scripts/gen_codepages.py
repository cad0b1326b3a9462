#!/usr/bin/env python3
"""Generates the tables of the double-byte ANSI code pages 932, 936, 949, 950.

Writes platform/cp<page>_table.cc for each page, from Python 3's own codec of
that name ('cp932', 'cp936', 'cp949', 'cp950'); platform/dbcs_tables.h
declares what the files define.

Usage:
    scripts/gen_codepages.py [output folder]

The folder defaults to platform/ next to this script's folder. The output is
deterministic: running the script again on the same Python gives the same
files.

What each file holds (the reader, platform/codepage.cc, unpacks it at first
use):
  * the lead byte ranges;
  * the character of each byte 0x80..0xFF that is not a lead byte, U+FFFD
    where that byte is no character;
  * the character of every lead/trail pair, as segments of pairs of one lead
    byte: either a run of consecutive code points or a stretch of values taken
    from one literal list (0 there: no character). The cut into segments is
    the cheapest one, counting three values per segment and one per literal;
  * the encoder's choices that the reader cannot work out itself. The reader
    writes a code point as the first byte sequence reading as it (single
    bytes first, then pairs in byte order); the list names every code point
    that the codec's encoder writes otherwise, or not at all (written as 0).

The script checks the codec against these assumptions (ASCII is ASCII, lead
bytes are no characters alone, every character is one BMP unit, ...) and
checks that unpacking the written data gives back exactly what the codec
does, and stops with a message when something does not hold.
"""
import os
import sys

# Code page -> (codec, lead byte ranges).
PAGES = {
    932: ("cp932", [(0x81, 0x9F), (0xE0, 0xFC)]),
    936: ("cp936", [(0x81, 0xFE)]),
    949: ("cp949", [(0x81, 0xFE)]),
    950: ("cp950", [(0x81, 0xFE)]),
}
REPLACEMENT = 0xFFFD
SEGMENT_COST = 3  # values one segment takes in the output
PER_LINE = 14  # hex values per output line
SEGMENTS_PER_LINE = 5


def fail(codec, message):
    raise SystemExit("%s: %s" % (codec, message))


def decode_or_none(codec, data):
    """The one character `data` decodes to, or None when the codec refuses it."""
    try:
        text = data.decode(codec)
    except UnicodeDecodeError:
        return None
    if len(text) != 1:
        return -1  # several characters: the caller decides whether that is fine
    return ord(text)


def encode_value(codec, cp):
    """The codec's encoding of `cp` as byte or (lead << 8) | trail, 0 if refused."""
    try:
        data = chr(cp).encode(codec)
    except UnicodeEncodeError:
        return 0
    if len(data) not in (1, 2) or data[0] == 0:
        fail(codec, "U+%04X encodes to %s" % (cp, data.hex()))
    return int.from_bytes(data, "big")


def lead_bytes(ranges):
    return [b for first, last in ranges for b in range(first, last + 1)]


def read_codec(codec, ranges):
    """Returns (high, rows): the 128 single characters and, per lead byte, the
    256 characters of its pairs by trail byte (0: no character)."""
    leads = set(lead_bytes(ranges))
    for b in range(0x80):
        if decode_or_none(codec, bytes([b])) != b:
            fail(codec, "byte %02X is not ASCII" % b)
    high = []
    for b in range(0x80, 0x100):
        cp = decode_or_none(codec, bytes([b]))
        if b in leads:
            if cp is not None:
                fail(codec, "lead byte %02X is a character on its own" % b)
            high.append(REPLACEMENT)
            continue
        if cp == -1 or cp == REPLACEMENT or (cp is not None and 0xD800 <= cp <= 0xDFFF):
            fail(codec, "byte %02X decodes to something other than one character" % b)
        high.append(REPLACEMENT if cp is None else cp)
        for trail in range(0x100):  # a byte that is no lead byte never pairs
            pair = decode_or_none(codec, bytes([b, trail]))
            if pair is not None and pair != -1:
                fail(codec, "%02X%02X is one character, but %02X is no lead byte" % (b, trail, b))
    rows = {}
    for lead in sorted(leads):
        row = []
        for trail in range(0x100):
            cp = decode_or_none(codec, bytes([lead, trail]))
            if cp is None:
                row.append(0)
                continue
            if cp in (-1, 0, REPLACEMENT) or 0xD800 <= cp <= 0xDFFF:
                fail(codec, "pair %02X%02X decodes to no single BMP character" % (lead, trail))
            row.append(cp)
        rows[lead] = row
    return high, rows


def derived_encoding(high, rows):
    """Code point -> first byte sequence reading as it, the way the reader
    derives it: single bytes first, then pairs in byte order."""
    first = {}
    for b in range(0x80, 0x100):
        if b not in rows and high[b - 0x80] != REPLACEMENT:
            first.setdefault(high[b - 0x80], b)
    for lead in sorted(rows):
        for trail, cp in enumerate(rows[lead]):
            if cp:
                first.setdefault(cp, (lead << 8) | trail)
    return first


def encode_overrides(codec, high, rows):
    """(code point, encoding or 0) for every BMP code point from 0x80 whose
    encoding differs from the derived one."""
    first = derived_encoding(high, rows)
    overrides = []
    for cp in range(0x80, 0x10000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        value = encode_value(codec, cp)
        if value != first.get(cp, 0):
            overrides.append((cp, value))
    return overrides


def cut_row(row):
    """Cheapest cut of one row (256 values by trail byte) into segments:
    returns [(first trail, count, first code point or 0 for literals)]."""
    inf = float("inf")
    none, literal, run = 0, 1, 2
    # cost[s]: cheapest cost so far ending in state s; back[i][s]: (previous
    # state, True when position i opens a new segment).
    cost = [0, inf, inf]
    back = []
    for i, v in enumerate(row):
        best = min(cost)
        best_state = cost.index(best)
        if v == 0:
            new = [best, cost[literal] + 1, inf]
            choice = [(best_state, False), (literal, False), None]
        else:
            extend_lit = cost[literal] + 1
            open_lit = best + SEGMENT_COST + 1
            extends_run = i > 0 and row[i - 1] != 0 and v == row[i - 1] + 1
            extend_run = cost[run] if extends_run else inf
            open_run = best + SEGMENT_COST
            new = [inf, min(extend_lit, open_lit), min(extend_run, open_run)]
            choice = [
                None,
                (literal, False) if extend_lit <= open_lit else (best_state, True),
                (run, False) if extend_run <= open_run else (best_state, True),
            ]
        cost = new
        back.append(choice)
    # Walk back to the state of every position.
    state = cost.index(min(cost))
    states = [None] * len(row)
    opens = [False] * len(row)
    for i in range(len(row) - 1, -1, -1):
        states[i] = state
        state, opens[i] = back[i][state]
    segments = []
    for i, s in enumerate(states):
        if s == none:
            continue
        if opens[i] or i == 0 or states[i - 1] != s:
            segments.append([i, 0, row[i] if s == run else 0])
        segments[-1][1] += 1
    return [tuple(seg) for seg in segments]


def cut_pairs(rows):
    """All segments, keyed by byte pair, and the literal list."""
    segments, literals = [], []
    for lead in sorted(rows):
        row = rows[lead]
        for trail, count, first in cut_row(row):
            segments.append(((lead << 8) | trail, count, first))
            if first == 0:
                literals.extend(row[trail:trail + count])
    return segments, literals


def unpack(ranges, high, segments, literals, overrides):
    """Does what the reader does with the written data; returns (rows, encode)."""
    rows = {lead: [0] * 0x100 for lead in lead_bytes(ranges)}
    used = 0
    for start, count, first in segments:
        lead, trail = start >> 8, start & 0xFF
        if trail + count > 0x100:
            raise SystemExit("segment %04X crosses its lead byte" % start)
        if first:
            rows[lead][trail:trail + count] = range(first, first + count)
        else:
            rows[lead][trail:trail + count] = literals[used:used + count]
            used += count
    if used != len(literals):
        raise SystemExit("literals left over")
    encode = derived_encoding(high, rows)
    for cp, value in overrides:
        encode[cp] = value
    return rows, encode


def hex_or_zero(v, width=4):
    return "0x%0*X" % (width, v) if v else "0"


def emit_values(out, decl, values):
    out.append("%s = {" % decl)
    for i in range(0, len(values), PER_LINE):
        out.append("    " + ", ".join(hex_or_zero(v) for v in values[i:i + PER_LINE]) + ",")
    out.append("};")


def emit_structs(out, decl, items, per_line, fmt):
    out.append("%s = {" % decl)
    for i in range(0, len(items), per_line):
        out.append("    " + " ".join(fmt(item) + "," for item in items[i:i + per_line]))
    out.append("};")


def generate(page):
    codec, ranges = PAGES[page]
    high, rows = read_codec(codec, ranges)
    overrides = encode_overrides(codec, high, rows)
    segments, literals = cut_pairs(rows)
    back_rows, back_encode = unpack(ranges, high, segments, literals, overrides)
    if back_rows != rows:
        fail(codec, "the segments do not give back the pairs")
    for cp in range(0x80, 0x10000):
        if not 0xD800 <= cp <= 0xDFFF and back_encode.get(cp, 0) != encode_value(codec, cp):
            fail(codec, "the reader would write U+%04X differently" % cp)

    out = [
        "// Code page %d tables, generated by scripts/gen_codepages.py from Python's" % page,
        "// '%s' codec. Do not edit: change the script and run it again." % codec,
        "#include <iterator>",
        "",
        '#include "platform/dbcs_tables.h"',
        "",
        "namespace kx9::dbcs {",
        "namespace {",
        "",
        "const ByteRange kLeads[] = {%s};" % ", ".join("{0x%02X, 0x%02X}" % r for r in ranges),
        "",
        "// Character of bytes 0x80..0xFF that are no lead bytes; U+FFFD: none.",
    ]
    emit_values(out, "const char16_t kHigh[128]", high)
    out += [
        "",
        "// {first byte pair, count, first code point}; code point 0 takes the next",
        "// count values of kLiterals.",
    ]
    emit_structs(out, "const Segment kSegments[]", segments, SEGMENTS_PER_LINE,
                 lambda s: "{0x%04X, %d, %s}" % (s[0], s[1], hex_or_zero(s[2])))
    out += ["", "// Characters of the literal segments, in order; 0: no character."]
    emit_values(out, "const char16_t kLiterals[]", literals)
    if overrides:
        out += ["", "// Code points the encoder writes otherwise than derived; 0: not at all."]
        emit_structs(out, "const EncodeOverride kOverrides[]", overrides, SEGMENTS_PER_LINE,
                     lambda o: "{0x%04X, %s}" % (o[0], hex_or_zero(o[1])))
    out += [
        "",
        "}  // namespace",
        "",
        "const PageData kCp%d = {" % page,
        "    %d, kLeads, std::size(kLeads), kHigh, kSegments, std::size(kSegments), kLiterals," % page,
        "    std::size(kLiterals), %s," % (
            "kOverrides, std::size(kOverrides)" if overrides else "nullptr, 0"),
        "};",
        "",
        "}  // namespace kx9::dbcs",
        "",
    ]
    pairs = sum(1 for row in rows.values() for v in row if v)
    undecodable = [b for b in range(0x80, 0x100) if b not in rows and high[b - 0x80] == REPLACEMENT]
    summary = "%d pairs, %d segments, %d literals, %d overrides, undecodable single bytes: %s" % (
        pairs, len(segments), len(literals), len(overrides),
        " ".join("%02X" % b for b in undecodable) or "none")
    return "\n".join(out), summary


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "platform")
    for page in sorted(PAGES):
        text, summary = generate(page)
        path = os.path.join(folder, "cp%d_table.cc" % page)
        with open(path, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        print("wrote %s: %s" % (os.path.normpath(path), summary))


if __name__ == "__main__":
    main()
