#!/usr/bin/python3
"""Writes the .npy files of kcenter's end-to-end cases into this folder.

Only the standard library: the files are built byte by byte, the bad ones
with exactly the fault each case is about. Run it again after a change.
"""
import struct

FOUR = [(0.0, 0.0), (3.0, 4.0), (1.0, 1.0), (-2.0, 1.0)]


def npy(header, data, major=1):
    """Preamble, header padded with blanks to 64 bytes and a newline, data."""
    pre = 10 if major == 1 else 12
    text = header.encode("latin1")
    text += b" " * (63 - (pre + len(text)) % 64) + b"\n"
    length = struct.pack("<H" if major == 1 else "<I", len(text))
    return b"\x93NUMPY" + bytes([major, 0]) + length + text + data


def head(descr, shape, fortran="False"):
    return "{'descr': %s, 'fortran_order': %s, 'shape': %s, }" % (descr, fortran, shape)


def f8(values):
    return struct.pack("<%dd" % len(values), *values)


c_order = [x for row in FOUR for x in row]
f_order = [row[j] for j in range(2) for row in FOUR]
good = head("'<f8'", "(4, 2)")
files = {
    "four_c8.npy": npy(good, f8(c_order)),
    "four_f4.npy": npy(head("'<f4'", "(4, 2)", "True"), struct.pack("<8f", *f_order)),
    "four_v2.npy": npy(good, f8(c_order), major=2),
    # The shape of FOUR, other numbers.
    "four_other.npy": npy(good, f8([x + 1.0 for x in c_order])),
    "zero_rows.npy": npy(head("'<f8'", "(0, 3)"), b""),
    "version_4.npy": npy(good, f8(c_order))[:6] + b"\x04\x00" + npy(good, f8(c_order))[8:],
    "header_cut.npy": npy(good, f8(c_order))[:40],
    "header_too_long.npy": b"\x93NUMPY\x02\x00" + struct.pack("<I", 1 << 24) + b"{",
    "bad_header.npy": npy("{'descr': '<f8', 'fortran_order': False, 'shape': (4, 2)", f8(c_order)),
    "missing_key.npy": npy("{'descr': '<f8', 'fortran_order': False}", f8(c_order)),
    "bad_order.npy": npy(head("'<f8'", "(4, 2)", "1"), f8(c_order)),
    "big_endian.npy": npy(head("'>f8'", "(4, 2)"), struct.pack(">8d", *c_order)),
    # A descr that continues its string on a second line, and one that
    # holds a terminal's escape sequence: printed escaped, on one line.
    "descr_newline.npy": npy(head("'<f\\\n8'", "(4, 2)"), f8(c_order)),
    "descr_escape.npy": npy(head("'\x1b[2J<f8'", "(4, 2)"), f8(c_order)),
    "int64.npy": npy(head("'<i8'", "(4, 2)"), struct.pack("<8q", *[int(x) for x in c_order])),
    "complex.npy": npy(head("'<c16'", "(4, 1)"), f8(c_order)),
    # An object array is a pickle after the header; it must never be loaded.
    "object.npy": npy(head("'|O'", "(2, 1)"), b"\x80\x04\x95\x00cos\nsystem\n"),
    "bad_shape.npy": npy(head("'<f8'", "[4, 2]"), f8(c_order)),
    "one_d.npy": npy(head("'<f8'", "(8,)"), f8(c_order)),
    "too_large.npy": npy(head("'<f8'", "(2147483648, 2)"), f8(c_order)),
    "short.npy": npy(good, f8(c_order))[:-3],
    "long.npy": npy(good, f8(c_order)) + b"\0",
    # Fewer than 2^31 rows and columns, but 3.2 * 10^19 bytes: more than a file can hold.
    "huge_shape.npy": npy(head("'<f8'", "(2000000000, 2000000000)"), f8(c_order)),
    # The header alone of 10^8 x 3 doubles (2.4 GB): the test grows a copy to
    # that size without writing its data (a sparse file).
    "sparse_header.npy": npy(head("'<f8'", "(100000000, 3)"), b""),
    # 10^8 rows promised, 64 bytes given.
    "lying.npy": npy(head("'<f8'", "(100000000, 2)"), f8(c_order)),
}
for name, data in files.items():
    with open(name, "wb") as f:
        f.write(data)
