#!/usr/bin/env python3
"""Writes the fuzz seed corpus into tests/fuzz/corpus, or with --large DIR
the seeds too big to keep in the repository (a 70 KiB names stream, bodies
across the 1 MiB copy block) into DIR."""
import os
import struct
import sys

WINDOWS, HOSTILE, IN_TARGET, CLOCK, PIECES, PARTIAL = 1, 2, 4, 8, 16, 32
# The injectable operations, numbered as kFailOps in restore_check.cpp.
FAIL_OPS = {op: i + 1 for i, op in enumerate(
    ["create_file", "make_dir", "open_dir", "inspect", "remove_file", "read", "copy_read", "write", "copy_block",
     "close", "set_times", "set_attr"])}
ALWAYS = 0xFF
TO_DIR, REPEAT = 0x40, 0x80


def record(depth, attr=0x20, size=0, ctime=0x01D5000000000000, wtime=0x01D5000000000001):
    return struct.pack("<IBBHQQQ", size & 0xFFFFFFFF, size >> 32, depth, attr, ctime, wtime, 0)


def fail(op, nth=0):
    return (FAIL_OPS[op], nth)


def seed(entries, mode=0, fail_a=(0, 0), fail_b=(0, 0), content=None, nodes_tail=b"", names_tail=b"",
         swap=(0, 0)):
    """entries: (depth, name bytes, body bytes or None for a directory)."""
    nodes, names, body = b"", b"", b""
    for depth, name, data in entries:
        if data is None:
            nodes += record(depth, 0x10)
        else:
            nodes += record(depth, 0x20, len(data))
            body += data
        names += name + b"\n"
    nodes += nodes_tail
    names += names_tail
    if content is not None:
        body = content
    return (bytes([mode, *fail_a, *fail_b, *swap]) + len(nodes).to_bytes(3, "little") +
            len(names).to_bytes(3, "little") + nodes + names + body)


def small_seeds():
    tree = [(0, b"docs", None), (1, b"a.txt", b"0123456789"), (1, b"sub", None), (2, b"deep", b"x"),
            (0, b"b.txt", b"")]
    traversal = [(0, n, b"evil") for n in
                 [b"..", b".", b"", b"/etc", b"a/b", b"\xc0\xae\xc0\xae", b".\x80", b"\xc0\xafetc", b"..\x00x",
                  b"..\xc1\x9cx", b"c\xc0\xbax"]] + [(0, b"after", b"ok")]
    windows = [(0, n, b"w") for n in
               [b"CON", b"con.txt", b"COM1 .log", b"CONSOLE", b"LPT\xc2\xb9", b"a:b", b"name.",
                b"name ", b"A", b"a", b"\xc3\xa9", b"\xc3\x89"]] + [(0, b"Docs", None), (0, b"DOCS", None),
                                                                   (1, b"in", b"i")]
    hostile = [(0, b"dlink", None), (1, b"inner", b"through"), (0, b"flink", b"replaced"),
               (0, b"hlink", b"replaced"), (0, b"DLINK", b"x"), (0, b"sub", None), (1, b"keep", b"new"),
               (0, b"exist", b"new"), (0, b"outside", None), (1, b"secret", b"s")]
    own = [(0, b"$content", b"c"), (0, b"$errors", b"e"), (0, b"$FSNAMES", b"n"), (0, b"$fsnodes", None),
           (1, b"x", b"y")]
    jumps = [(0, b"a", None), (3, b"b", b"1"), (255, b"c", b"2"), (0, b"d", None), (1, b"e", None),
             (2, b"f", b"3"), (0, b"g", b"4")]
    existing = [(0, b"sub", None), (1, b"keep", b"k"), (0, b"exist", None), (1, b"x", b"x")]
    bodies = [(0, b"one", b"1" * 5000), (0, b"two", b"2" * 300), (0, b"d", None), (1, b"three", b"3" * 9000),
              (0, b"four", b"4")]
    long_names = [(0, b"n" * 300, b"1"), (0, b"\xe0\xb8\x81" * 90, None), (1, b"m" * 200, b"2"),
                  (0, b"\xed\xa0\xbd\xed\xb8\x80", b"3")]
    return {
        "tree": seed(tree),
        "tree_windows": seed(tree, WINDOWS | CLOCK),
        "traversal": seed(traversal),
        "traversal_windows": seed(traversal, WINDOWS),
        "windows_names": seed(windows, WINDOWS | HOSTILE),
        "hostile_posix": seed(hostile, HOSTILE),
        "hostile_windows": seed(hostile, HOSTILE | WINDOWS),
        "own_files": seed(own, IN_TARGET),
        "own_files_windows": seed(own, IN_TARGET | WINDOWS | HOSTILE),
        "depth_jumps": seed(jumps),
        "long_names": seed(long_names, CLOCK),
        "content_short": seed(tree, content=b"0123"),
        "nodes_stray": seed(tree, nodes_tail=b"\x01\x02\x03"),
        "names_short": _names_short(tree),
        "first_at_depth1": seed([(1, b"x", b"1"), (0, b"y", b"2")]),
        "file_then_rise": seed([(0, b"f", b"1"), (1, b"g", b"2"), (0, b"h", b"3")]),
        "block_exact": seed([(0, b"e", b"e" * 4096), (0, b"o", b"o" * 4097), (0, b"z", b"")]),
        "fail_create": seed(tree, fail_a=fail("create_file", 1), fail_b=fail("set_attr", 1)),
        "fail_open_dir": seed(existing, HOSTILE, fail_a=fail("open_dir", 1), fail_b=fail("set_times", 0)),
        "fail_make": seed(tree, fail_a=fail("make_dir"), fail_b=fail("read", 4)),
        "fail_make_always": seed(tree + [(0, b"c", None), (1, b"d", b"2")], fail_a=fail("make_dir", ALWAYS)),
        "fail_read": seed(tree, fail_a=fail("read", 2)),
        "fail_read_content": seed(tree, fail_a=fail("copy_read", 0), fail_b=fail("inspect", 0)),
        "fail_replace": seed(hostile, HOSTILE, fail_a=fail("inspect", 1), fail_b=fail("remove_file", 1)),
        "fail_write": seed(bodies, PARTIAL, fail_a=fail("copy_block", 1), fail_b=fail("close", 2)),
        "fail_write_always": seed(bodies, PIECES, fail_a=fail("copy_block", ALWAYS)),
        "fail_log": seed(traversal, fail_a=fail("write", 0)),
        "fail_log_close": seed(traversal, IN_TARGET, fail_a=fail("close", 30)),
        "pieces": seed(tree + long_names, PIECES | CLOCK),
        "swap_dir": seed(tree, swap=(14, TO_DIR)),
        "swap_every_call": seed(tree + jumps, HOSTILE, swap=(3, REPEAT | TO_DIR | 5)),
        "swap_file": seed(hostile, HOSTILE | WINDOWS, swap=(20, 2)),
        "swap_own_files": seed(own, IN_TARGET, swap=(5, REPEAT | 1)),
    }


def _names_short(entries):
    whole = seed(entries)
    nodes_len = int.from_bytes(whole[7:10], "little")
    names = b"".join(n + b"\n" for _, n, _ in entries[:3]) + b"tail-without-feed"
    body = b"".join(d for _, _, d in entries if d)
    return whole[:10] + len(names).to_bytes(3, "little") + whole[13:13 + nodes_len] + names + body


def large_seeds():
    entries = [(0, b"big", None), (1, b"over", b"O" * 1048577)]
    entries += [(1, (b"%c" % (97 + i % 26)) * 90 + b"%d" % i, b"abc") for i in range(700)]
    entries += [(0, b"L" * 70000, b"long")]
    exact = [(0, b"exact", b"E" * 1048576), (0, b"after", b"a")]
    return {"large_posix": seed(entries), "large_windows": seed(entries, WINDOWS | HOSTILE),
            "large_short": seed(entries, content=b"O" * 1000), "large_exact": seed(exact, CLOCK)}


def finding_seeds():
    """Reproducers of faults the fuzzer found, kept once fixed."""
    return {
        # A name decoding to a line feed splits its log line in two.
        "log_line_feed_in_name": seed([(0, b"a\xc0\x8ab", b"x")], WINDOWS),
        "log_line_feed_chdir": seed([(0, b"f\xc0\x8a", b""), (1, b"g", b"")]),
        # CreateFileW opens the console for these names in any directory.
        "console_name_file": seed([(0, b"CONOUT$", b"body")], WINDOWS),
        "console_name_dir": seed([(0, b"conin$", None)], WINDOWS),
    }


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--large":
        out, seeds = sys.argv[2], large_seeds()
    else:
        out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
        seeds = {**small_seeds(), **finding_seeds()}
    os.makedirs(out, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out, "seed_" + name), "wb") as f:
            f.write(data)


main()
