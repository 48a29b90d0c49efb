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

# The same four points in the other formats kcenter reads (z = 0 in PLY),
# and archives and PLY files with one fault each.
import zipfile  # noqa: E402

text_files = {
    "four.csv": "x,y\n0,0\n3,4\n1,1\n-2,1\n",
    "four.tsv": "x\ty\r\n0\t0\r\n3\t4\r\n1\t1\r\n-2\t1\r\n",
    "four_table.dat": "# x y\n0.000000000000000000e+00 0.0\n3 4\n1 1\n-2 1\n",
}
for name, text in text_files.items():
    with open(name, "w", newline="") as f:
        f.write(text)

PLY_HEAD = ("ply\nformat %s 1.0\ncomment four points\nelement vertex 4\nproperty float x\nproperty float y\n"
            "property float z\nproperty uchar red\nproperty list uchar int near\n"
            "element face 1\nproperty list uchar int vertex_indices\nend_header\n")


def ply(fmt, extra=b""):
    out = (PLY_HEAD % fmt).encode()
    if fmt == "ascii":
        for i, (x, y) in enumerate(FOUR):
            out += b"%r %r 0 %d 1 %d\n" % (x, y, 10 * i, (i + 1) % 4)
        return out + b"3 0 1 2\n" + extra
    e = "<" if fmt == "binary_little_endian" else ">"
    for i, (x, y) in enumerate(FOUR):
        out += struct.pack(e + "fffBBi", x, y, 0.0, 10 * i, 1, (i + 1) % 4)
    return out + struct.pack(e + "B3i", 3, 0, 1, 2) + extra


files = {
    "four_ascii.ply": ply("ascii"),
    "four_le.ply": ply("binary_little_endian"),
    "four_be.ply": ply("binary_big_endian"),
    "four_le_long.ply": ply("binary_little_endian", b"\0\0"),
}


def npz(name, members, compression=zipfile.ZIP_STORED, zip64=False):
    with zipfile.ZipFile(name, "w", compression=compression) as z:
        for member, data in members:
            with z.open(member, "w", force_zip64=zip64) as f:
                f.write(data)


four_npy = npy(good, f8(c_order))
npz("four.npz", [("points.npy", four_npy)])
# As np.savez_compressed writes: deflated, zip64 records forced; Fortran-order float32.
npz("four_deflated.npz", [("arr_0.npy", npy(head("'<f4'", "(4, 2)", "True"), struct.pack("<8f", *f_order)))],
    zipfile.ZIP_DEFLATED, zip64=True)
npz("two.npz", [("a.npy", npy(good, f8([9.0] * 8))), ("b.npy", four_npy)])
npz("empty.npz", [])
npz("int_member.npz", [("points.npy", npy(head("'<i8'", "(4, 2)"), struct.pack("<8q", *[int(x) for x in c_order])))])
stored = open("four.npz", "rb").read()
at = stored.index(four_npy) + len(four_npy) - 1
files["crc.npz"] = stored[:at] + bytes([stored[at] ^ 1]) + stored[at + 1:]
files["not_zip.npz"] = b"PK\x03\x04 but nothing after"
for name, data in files.items():
    with open(name, "wb") as f:
        f.write(data)
