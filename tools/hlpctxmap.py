#!/usr/bin/env python3
"""Fills the context-number map of a Windows Help file.

The help compiler we use names its topics (|CONTEXT, keyed by the hash of
each topic name) but leaves the map from context numbers to topics
(|CTXOMAP) empty, while a program's WinHelp(HELP_CONTEXT, n) looks n up
there.  This writes the map: each NUMBER=NAME makes context NUMBER open the
topic named NAME.

    hlpctxmap.py FILE.hlp NUMBER=NAME [NUMBER=NAME ...]
    hlpctxmap.py --show FILE.hlp          prints the map
"""
import struct
import sys

HLP_MAGIC = 0x00035F3F
BTREE_MAGIC = 0x293B
FILE_HEADER = 9     # reserved space, used space, flags
BTREE_HEADER = 38


class HelpFileError(Exception):
    pass


def topic_hash(name):
    """The help system's hash of a topic name."""
    value = 0
    for c in name:
        if "A" <= c <= "Z":
            x = ord(c) - ord("A") + 17
        elif "a" <= c <= "z":
            x = ord(c) - ord("a") + 17
        elif "1" <= c <= "9":
            x = ord(c) - ord("0")
        elif c == "0":
            x = 10
        elif c == ".":
            x = 12
        elif c == "_":
            x = 13
        else:
            continue
        value = (value * 43 + x) & 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def _leaf_entries(data, start, read_entry):
    """(entry, position) for each entry of the B+ tree at start, in order."""
    if struct.unpack_from("<H", data, start + FILE_HEADER)[0] != BTREE_MAGIC:
        raise HelpFileError("no B+ tree at %#x" % start)
    page_size, = struct.unpack_from("<H", data, start + FILE_HEADER + 4)
    page, = struct.unpack_from("<H", data, start + FILE_HEADER + 26)
    levels, = struct.unpack_from("<H", data, start + FILE_HEADER + 32)
    pages = start + FILE_HEADER + BTREE_HEADER
    for _ in range(levels - 1):
        page, = struct.unpack_from("<H", data, pages + page * page_size + 4)
    while page != 0xFFFF:
        at = pages + page * page_size
        count, = struct.unpack_from("<h", data, at + 2)
        position = at + 8
        for _ in range(count):
            entry, following = read_entry(data, position)
            yield entry, position
            position = following
        page, = struct.unpack_from("<H", data, at + 6)


def _directory_entry(data, position):
    end = data.index(b"\0", position)
    name = data[position:end].decode("latin-1")
    offset, = struct.unpack_from("<I", data, end + 1)
    return (name, offset, end + 1), end + 5


def _context_entry(data, position):
    return struct.unpack_from("<iI", data, position), position + 8


def internal_files(data):
    """Name -> (offset of the file, position of that offset in the directory)."""
    magic, directory = struct.unpack_from("<II", data, 0)
    if magic != HLP_MAGIC:
        raise HelpFileError("not a Windows Help file")
    return {name: (offset, where)
            for (name, offset, where), _ in _leaf_entries(data, directory, _directory_entry)}


def topic_offsets(data):
    """Topic name hash -> topic offset, from |CONTEXT."""
    files = internal_files(data)
    if "|CONTEXT" not in files:
        raise HelpFileError("the file names no topics")
    return {hash_: offset
            for (hash_, offset), _ in _leaf_entries(data, files["|CONTEXT"][0], _context_entry)}


def read_map(data):
    """Context number -> topic offset, from |CTXOMAP."""
    files = internal_files(data)
    if "|CTXOMAP" not in files:
        return {}
    start = files["|CTXOMAP"][0] + FILE_HEADER
    count, = struct.unpack_from("<H", data, start)
    return dict(struct.unpack_from("<iI", data, start + 2 + 8 * i) for i in range(count))


def write_map(data, numbers):
    """The file with |CTXOMAP holding numbers (context number -> topic
    name).  The new map is added at the end and the directory pointed at
    it; the old one stays as unused space."""
    files = internal_files(data)
    if "|CTXOMAP" not in files:
        raise HelpFileError("the file has no context map to fill")
    offsets = topic_offsets(data)
    records = b""
    for number, name in sorted(numbers.items()):
        hash_ = topic_hash(name)
        if hash_ not in offsets:
            raise HelpFileError("no topic named %r" % name)
        records += struct.pack("<iI", number, offsets[hash_])
    body = struct.pack("<H", len(numbers)) + records
    start = len(data)
    added = struct.pack("<IIB", FILE_HEADER + len(body), len(body), 0) + body
    result = bytearray(data) + added
    struct.pack_into("<I", result, files["|CTXOMAP"][1], start)
    struct.pack_into("<I", result, 12, len(result))
    return bytes(result)


def parse_numbers(arguments):
    numbers = {}
    for argument in arguments:
        number, separator, name = argument.partition("=")
        if not separator or not number.isdigit() or not name:
            raise HelpFileError("expected NUMBER=NAME, not %r" % argument)
        numbers[int(number)] = name
    return numbers


def main(arguments):
    try:
        if arguments[:1] == ["--show"] and len(arguments) == 2:
            with open(arguments[1], "rb") as source:
                for number, offset in sorted(read_map(source.read()).items()):
                    print("%d\t%#x" % (number, offset))
            return 0
        if len(arguments) < 2:
            print(__doc__.strip(), file=sys.stderr)
            return 2
        numbers = parse_numbers(arguments[1:])
        with open(arguments[0], "rb") as source:
            data = source.read()
        data = write_map(data, numbers)
        with open(arguments[0], "wb") as target:
            target.write(data)
        return 0
    except (HelpFileError, OSError, struct.error, ValueError) as error:
        print("hlpctxmap: %s" % error, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
