#!/usr/bin/python3
"""Writes the hostile .npy headers of fuzz_npy's seed corpus into npy/.

Each file is one way a .npy file can lie or break the reader: a preamble cut
or wrong, a header that is no dict literal or nests too deep, strings with
escapes and control bytes, every dtype that is refused, shapes at and past
every limit, data a byte short or over. The reader must refuse each with its
own status, or read it, and never crash; the fuzzer starts from them. Only
the standard library. Run it again after a change: it rewrites the files it
names and leaves the others (four_c8, short, ...) alone.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "npy")


def npy(header, data=b"", major=1, pad=True):
    """Preamble, the header (padded with blanks to 64 bytes and a newline), data."""
    pre = 10 if major == 1 else 12
    text = header if isinstance(header, bytes) else header.encode("latin1")
    if pad:
        text += b" " * (63 - (pre + len(text)) % 64) + b"\n"
    length = struct.pack("<H" if major == 1 else "<I", len(text) & (0xFFFF if major == 1 else 0xFFFFFFFF))
    return b"\x93NUMPY" + bytes([major, 0]) + length + text + data


def head(descr="'<f8'", order="False", shape="(2, 2)"):
    return "{'descr': %s, 'fortran_order': %s, 'shape': %s, }" % (descr, order, shape)


FOUR = struct.pack("<4d", 0.0, 3.0, 4.0, 1.0)
GOOD = npy(head(), FOUR)
files = {}

# The preamble: magic, version, length field.
for n in range(12):
    files["cut_at_%d" % n] = GOOD[:n]
files["magic_lowercase"] = b"\x93numpy" + GOOD[6:]
files["magic_no_x93"] = b"NUMPY\x01" + GOOD[6:]
for major, minor in [(0, 0), (1, 1), (2, 1), (4, 0), (255, 255)]:
    files["version_%d_%d" % (major, minor)] = GOOD[:6] + bytes([major, minor]) + GOOD[8:]
files["v3_utf8"] = npy(head("'<f8'").replace("'descr'", "'descr'  "), FOUR, major=3)
files["length_zero"] = GOOD[:8] + b"\x00\x00" + GOOD[10:]
files["length_one"] = GOOD[:8] + b"\x01\x00" + GOOD[10:]
files["length_past_end"] = GOOD[:8] + b"\xff\xff" + GOOD[10:]
files["v2_length_4gib"] = b"\x93NUMPY\x02\x00\xff\xff\xff\xff{"
files["v2_length_just_over_1mib"] = b"\x93NUMPY\x02\x00\x01\x00\x10\x00{"

# The dict literal.
syntax = {
    "empty_header": "",
    "blank_header": " " * 50,
    "list_not_dict": "['descr', 'fortran_order', 'shape']",
    "set_of_keys": "{'descr', 'fortran_order', 'shape'}",
    "no_closing_brace": "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 2)",
    "two_dicts": head() + head(),
    "trailing_text": head() + " x",
    "trailing_comment": head() + " # note",
    "missing_comma": "{'descr': '<f8' 'fortran_order': False, 'shape': (2, 2)}",
    "missing_colon": "{'descr' '<f8', 'fortran_order': False, 'shape': (2, 2)}",
    "bare_key": "{descr: '<f8', 'fortran_order': False, 'shape': (2, 2)}",
    "int_key": "{'descr': '<f8', 'fortran_order': False, 1: (2, 2)}",
    "tuple_key": "{('descr',): '<f8', 'fortran_order': False, 'shape': (2, 2)}",
    "none_key": "{None: '<f8', 'fortran_order': False, 'shape': (2, 2)}",
    "duplicate_shape": "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 2), 'shape': (2, 2)}",
    "extra_key": "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 2), 'x': 1}",
    "missing_shape": "{'descr': '<f8', 'fortran_order': False}",
    "double_quotes": '{"descr": "<f8", "fortran_order": False, "shape": (2, 2)}',
    "mixed_quotes": "{'descr\": '<f8', 'fortran_order': False, 'shape': (2, 2)}",
    "unterminated_string": "{'descr': '<f8, 'fortran_order': False, 'shape': (2, 2)}",
    "nested_31": "{'descr': " + "[" * 31 + "]" * 31 + ", 'fortran_order': False, 'shape': (2, 2)}",
    "nested_33": "{'descr': " + "[" * 33 + "]" * 33 + ", 'fortran_order': False, 'shape': (2, 2)}",
    "nested_5000": "{'descr': " + "(" * 5000 + ")" * 5000 + ", 'fortran_order': False, 'shape': (2, 2)}",
    "unclosed_5000": "{'descr': " + "[" * 5000,
    "tabs_and_breaks": "{'descr':\t'<f8',\n'fortran_order':\rFalse,\f'shape':\n(2,\n2)}",
}
for name, text in syntax.items():
    files["dict_" + name] = npy(text, FOUR)
files["dict_nul_inside"] = npy(b"{'descr': '<f8'\x00, 'fortran_order': False, 'shape': (2, 2)}", FOUR)
files["dict_nul_padding"] = npy(head().encode() + b"\x00" * 40 + b"\n", FOUR, pad=False)
files["dict_no_newline"] = npy(head().encode() + b" " * 54, FOUR, pad=False)
files["dict_latin1_bytes"] = npy(b"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 2), '\xe9\xff': 1}", FOUR)

# descr: the reproducers of escapes and control bytes, and every refused dtype.
descrs = {
    "backslash_newline": "'<f\\\n8'",
    "escape_bytes": "'\x1b[31m<f8\x1b[0m'",
    "bell_and_del": "'<f8\x07\x7f'",
    "c1_control": "'<f8\xc2\x9b'",
    "backslash_quote": "'<f8\\''",
    "long_descr": "'" + "f" * 1000 + "'",
    "empty_descr": "''",
    "big_endian": "'>f8'",
    "native": "'=f8'",
    "no_order": "'f8'",
    "pipe": "'|f8'",
    "half": "'<f2'",
    "quad": "'<f16'",
    "int64": "'<i8'",
    "complex": "'<c16'",
    "object": "'|O'",
    "bool": "'|b1'",
    "unicode": "'<U10'",
    "datetime": "'<M8[ns]'",
    "structured": "[('x', '<f8'), ('y', '<f8')]",
    "dict_descr": "{'names': ['x'], 'formats': ['<f8']}",
    "number": "8",
    "none": "None",
    "bytes_literal": "b'<f8'",
}
for name, descr in descrs.items():
    files["descr_" + name] = npy(head(descr), FOUR)

for name, order in {"one": "1", "zero": "0", "string": "'False'", "none": "None", "lower": "false"}.items():
    files["order_" + name] = npy(head(order=order), FOUR)

# shape: at and past every limit.
shapes = {
    "empty": "()",
    "one_d": "(4,)",
    "three_d": "(1, 2, 2)",
    "negative": "(-1, 2)",
    "minus_zero": "(-0, 4)",
    "float": "(2.0, 2)",
    "bool": "(True, 4)",
    "nested_parens": "((2), 2)",
    "list": "[2, 2]",
    "bare_int": "4",
    "double_comma": "(2,, 2)",
    "no_comma": "(2 2)",
    "leading_zero": "(02, 2)",
    "zeros": "(000, 2)",
    "rows_2_31": "(2147483648, 1)",
    "cols_2_31": "(1, 2147483648)",
    "max_by_max": "(2147483647, 2147483647)",
    "bytes_overflow": "(2000000000, 2000000000)",
    "beyond_64_bits": "(99999999999999999999999, 1)",
    "zero_rows": "(0, 2147483647)",
    "zero_cols": "(2147483647, 0)",
    "zero_by_zero": "(0, 0)",
    "hex": "(0x2, 2)",
    "underscore": "(1_0, 2)",
}
for name, shape in shapes.items():
    files["shape_" + name] = npy(head(shape=shape), FOUR)

# The data against the shape.
files["data_one_short"] = GOOD[:-1]
files["data_one_over"] = GOOD + b"\x00"
files["data_none_for_many"] = npy(head(shape="(100000000, 2)"), b"")
files["f4_odd_bytes"] = npy(head("'<f4'", shape="(2, 2)"), FOUR[:15])
files["fortran_f4"] = npy(head("'<f4'", "True", "(2, 2)"), struct.pack("<4f", 0, 3, 4, 1))
files["nan_inf"] = npy(head(shape="(2, 2)"), struct.pack("<4d", float("nan"), float("inf"), -float("inf"), 1e308))

os.makedirs(HERE, exist_ok=True)
for name, data in files.items():
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
print(len(files), "files in", HERE)
