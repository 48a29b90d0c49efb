// NumPy .npy files: 2-D little-endian float64 or float32 arrays read as
// matrices of doubles, and 1-D structured arrays of records written.
//
// Nothing in a file is trusted before it is checked: the header is parsed as
// the Python dict literal it must be, and every size it gives is checked
// against the size of the file (or, through a pipe, storage grows only with
// the bytes that really arrive). No pickle is ever loaded: object arrays are
// refused like every other dtype.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "matvec.hpp"
#include "rows.hpp"

// The six bytes every .npy file starts with.
inline constexpr char npy_magic[6] = {'\x93', 'N', 'U', 'M', 'P', 'Y'};
// A longer header is refused before it is read; NumPy writes about 128 bytes.
inline constexpr int64_t npy_max_header = int64_t{1} << 20;

enum class npy_status {
  ok,
  not_npy,          // the file does not start with npy_magic
  bad_version,      // a format version other than 1.0, 2.0 or 3.0
  header_cut,       // the file ends before its header does
  header_too_long,  // the header length is above npy_max_header
  bad_header,       // the header is not a Python dict literal
  bad_keys,         // its keys are not exactly 'descr', 'fortran_order' and 'shape'
  bad_order,        // fortran_order is not True or False
  bad_dtype,        // descr is not '<f8' or '<f4'
  bad_shape,        // shape is not a tuple of whole numbers from 0 up
  not_2d,           // the shape has other than two numbers
  too_large,        // more than 2147483647 rows or columns
  too_many_bytes,   // rows * cols * item size overflows a file's size
  data_size,        // the data after the header is not the size the shape needs
  read_failed,      // the file could not be read or mapped
  changed,          // the file changed (cut short, rewritten) while it was read
  no_memory,        // storage for the matrix, or room to map it, could not be had
};

// What a header says.
struct npy_header {
  int32_t major;            // format version
  int32_t minor;
  int64_t data_offset;      // bytes before the data: magic, version, length, header
  char descr[48];           // descr's literal as written (cut short), for messages
  bool fortran_order;
  int32_t ndim;             // numbers in the shape
  int64_t rows;             // the shape, when it is 2-D and not too large
  int64_t cols;             //   (too_many_bytes: set too)
  int32_t item_size;        // 8 for '<f8', 4 for '<f4'
  int64_t data_bytes;       // rows * cols * item_size
};

// A matrix read from a .npy file into storage of its own, as the file holds
// it (float32 stays float32, Fortran order stays column-major: x's strides
// say which): once read, the file is never looked at again, so a file
// changed afterwards changes nothing. Release it with npy_free.
struct npy_file {
  row_source x;        // the rows, of the file's type and order, in `owned`
  npy_header h;
  int64_t data_found;  // data bytes the file holds after its header (for data_size)
  void* owned;         // the storage
};

// Reads the array in a regular file from the descriptor's current offset to
// the end of the file, which must be exactly the array: no byte short, no
// byte over. The data is copied once from a mapping of the file; a file cut
// short meanwhile (SIGBUS on a page it no longer has, caught), or whose size
// or modification time differs after the copy, gives `changed`. A mapping
// refused for want of room (ENOMEM) gives no_memory. The descriptor may be
// closed afterwards. On any status but ok, f holds no storage, and f->h and
// f->data_found say as much as was learnt. A C-order copy is shared by up
// to `threads` threads, one for each npy_copy_part_bytes (64 MiB).
npy_status npy_read_fd(npy_file* f, int fd, int32_t threads = 1);
// Reads and checks the header of the array in a regular file, from the
// descriptor's current offset to the end of the file, as npy_read_fd does,
// and reads no data: ok says that npy_read_rows may follow; f holds no storage.
npy_status npy_check_fd(npy_file* f, int fd);
// Rows [first, first + count) of that array (count rows of f->h.cols) as
// f->x, checked and copied as npy_read_fd reads the whole file; only the
// pages of those rows are read, into storage for those rows alone.
npy_status npy_read_rows(npy_file* f, int fd, int64_t first, int64_t count);
// Called, when set, by npy_read_fd and npy_read_rows between mapping the
// data and copying it: tests change the file there, as another process
// could at any time. Null otherwise.
extern void (*npy_before_copy)(int fd);
// The least a thread of npy_read_fd copies; tests lower it.
extern int64_t npy_copy_part_bytes;
// Reads an array from a stream (a pipe): `head` holds the first head_len
// bytes, already taken from fd, and fd the rest. Reads no byte from fd
// beyond the array's last; text after it is left unread. Storage grows with
// the data that arrives, so a header that promises more than comes costs no
// more than what came.
npy_status npy_read_stream(npy_file* f, int fd, const char* head, size_t head_len);
// Releases the storage; a second free does nothing.
void npy_free(npy_file* f);

// Parses the header text (the dict literal after the length field, padding
// included) into h's descr, fortran_order, ndim, rows, cols, item_size and
// data_bytes, checking each in the order of the statuses above.
npy_status npy_parse_header(const char* text, size_t len, npy_header* h);

// What any header says, for readers of arrays other than matrices of floats
// (3-D batches, 1-D integers, the members of .npz archives).
inline constexpr int32_t npy_dict_dims = 4;
struct npy_dict {
  char descr[48];   // descr's literal as written (cut short), for messages
  char type[8];     // descr's string when it is one of up to 7 characters ("<f8"), else ""
  bool fortran_order;
  int32_t ndim;     // numbers in the shape
  int64_t shape[npy_dict_dims];  // the first of them; -1 for one beyond 2^63 - 1
};

// Parses the header text as npy_parse_header does, up to the shape being a
// tuple of whole numbers (bad_header, bad_keys, bad_order, bad_shape); the
// dtype and the number of dimensions are the caller's to judge.
npy_status npy_parse_dict(const char* text, size_t len, npy_dict* d);

// ---- writing ----------------------------------------------------------------

enum class npy_type { i8, f8 };  // '<i8' and '<f8'

// One field of a structured record; fields are packed, in order.
struct npy_field {
  const char* name;
  npy_type type;
};

// Bytes of one record of these fields.
int64_t npy_record_size(const npy_field* fields, int32_t nfields);
// Writes to out the whole header (magic, version 1.0, length, dict) of a
// 1-D array of `count` records, byte for byte as np.save writes it: room
// for a 21-digit count, then blanks up to a multiple of 64 bytes, the last
// one a newline. Its length does not depend on count. Returns that length,
// or 0 when cap is too small or the header too long for version 1.0.
size_t npy_struct_header(char* out, size_t cap, const npy_field* fields, int32_t nfields,
                         int64_t count);
// The whole header (magic, version 1.0, length, dict) around a dict literal
// such as "{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2), }",
// padded with blanks as np.save pads it: up to a multiple of 64 bytes, the
// last one a newline.
std::string npy_header_around(std::string dict);
// v as 8 little-endian bytes at p.
void npy_put_i8(char* p, int64_t v);
void npy_put_f8(char* p, double v);
